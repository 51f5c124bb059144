// Conversation data of items (internal): the topic a subject belongs to and
// the values a saved item must carry to thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/mapi/mapix.h"

namespace quillory::outlook {

// The subject without reply and forward prefixes ("Re:", "RE: Fw:", "Fwd:").
std::string NormalizedSubject(std::string_view subject);

// Gives a message without them a conversation topic (its normalized
// subject) and a new conversation index.
HRESULT CompleteConversation(IMessage* message);

// The session's user: display name and e-mail address (empty when unknown).
struct Identity {
    std::string name;
    std::string address;
    std::string addressType;
};
Identity SessionIdentity(IMAPISession* session);

}  // namespace quillory::outlook
