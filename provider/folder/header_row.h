// Building a remote-header row from an article's header fields: the 17
// columns, the normalised subject, and the sender and date as the news
// component ("inetcomm.dll") parses them.
#pragma once

#include <string>
#include <string_view>

#include "platform/mapi/mapitags.h"
#include "provider/folder/header_fields.h"
#include "provider/folder/mapi_folder.h"

namespace quillory::quarnex {

// The header row's columns, in order.
constexpr ULONG kHeaderRowColumns[kHeaderRowColumnCount] = {
    PR_ENTRYID,           PR_SENDER_NAME,       PR_SENDER_ADDRTYPE,       PR_SENDER_EMAIL_ADDRESS,
    PR_SENT_REPRESENTING_NAME, PR_DISPLAY_TO,   PR_CLIENT_SUBMIT_TIME,    PR_SUBJECT,
    PR_MESSAGE_CLASS,     PR_MESSAGE_FLAGS,     PR_SENSITIVITY,           PR_MESSAGE_DELIVERY_TIME,
    PR_MSG_STATUS,        PR_MESSAGE_DOWNLOAD_TIME_ERROR, PR_OBJECT_TYPE, PR_INSTANCE_KEY,
    PR_NORMALIZED_SUBJECT,
};

constexpr std::string_view kHeaderRowAddrType = "SMTP";
constexpr std::string_view kHeaderRowMessageClass = "IPM.Post";
// A header row starts marked for download and removal once the logon asked
// for a download.
constexpr ULONG kHeaderRowMarked = MSGSTATUS_REMOTE_DOWNLOAD | MSGSTATUS_REMOTE_DELETE;
// Sender name and address fields hold this many characters, NUL included.
constexpr std::size_t kSenderFieldSize = 500;
constexpr std::size_t kInstanceKeySize = 16;

constexpr const char* kInetcommLibrary = "inetcomm.dll";

// The subject without its leading "Re:", "Fw:" and "Fwd:" prefixes (any
// letter case, each followed by any spaces).
std::string_view NormalizedSubject(std::string_view subject);

// The fields that need the news component: the sender from the From text and
// the submit time from the Date text (now when absent or unparsable), both
// cut to their fields.
struct HeaderParse {
    HeaderSender sender;
    FILETIME submitTime{};
};
HeaderParse ParseHeaderFields(std::string_view from, std::string_view date, CHeaderFieldReader& reader);

}  // namespace quillory::quarnex
