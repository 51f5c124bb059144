// Steps of inbound delivery shared between its files.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/com_ptr.h"
#include "platform/mapi/mapix.h"

namespace quillory::quarnex::delivery {

// The subfolder of `parent` whose PR_DISPLAY_NAME equals `name`, opened for
// modification; created when there is none or the lookup fails.
HRESULT FindOrCreateFolder(IMAPIFolder* parent, const std::string& name, ComPtr<IMAPIFolder>& out);

// Topic and index under the parent named by In-Reply-To or the last
// References entry; otherwise the subject as topic and a new index.
void ThreadMessage(IMAPIFolder* folder, IMessage* message);

// When the message is the user's own post, deletes the copy that was filed
// in `folder` at posting time.
void RemoveOwnPostCopy(IMAPIFolder* folder, IMessage* message, const SPropValue* accountProps);

// The parent message ID: In-Reply-To when not empty, else the text from the
// last '<' of References to its end; empty when neither gives one.
std::string ParentMessageId(std::string_view inReplyTo, std::string_view references);

// Whether (name, e-mail) is the account's identity (letter case ignored).
bool IsOwnIdentity(std::string_view name, std::string_view email, std::string_view userName,
                   std::string_view userEmail);

}  // namespace quillory::quarnex::delivery
