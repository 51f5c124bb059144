// Properties that the add-in stamps on an outgoing post and the provider
// stamps on a delivered article; shared by the provider, the add-in and the
// host's post command.
#pragma once

#include "platform/base/wintypes.h"

namespace quillory {

// The account name (PR_DISPLAY_NAME of the account array) a post is meant
// for; the provider posts only the messages stamped with its own account.
constexpr ULONG PR_CORVANE_POST_ACCOUNT = 0x6523001E;
// The entry ID of the folder that receives the post once it was sent; the
// provider copies it to PR_SENTMAIL_ENTRYID after a successful post.
constexpr ULONG PR_CORVANE_SENTMAIL_ENTRYID = 0x65220102;

// The address type of a newsgroup recipient (its e-mail address is the
// newsgroup's name).
constexpr const char* kNewsAddressType = "NNTP";

}  // namespace quillory
