// The account settings array: 31 property values in a fixed order, stored in
// the message service's profile section and handed between the provider, the
// GUI library and the add-in by position. The order is part of the interface;
// an entry counts only when its tag equals the tag expected at its index (a
// property not set yet comes back with an error tag).
//
// The names live in quillory::acct; the five standard MAPI tags among them
// are the MAPI headers' own, brought in by name.
#pragma once

#include "platform/base/wintypes.h"
#include "platform/mapi/mapitags.h"

#include <array>

namespace quillory::acct {

// Tags with their exact values (type in the low word: 0x001E string,
// 0x000B boolean, 0x0003 long, 0x0040 time).
using ::PR_ACCOUNT;                                     // user's name (sender name)
using ::PR_COMPANY_NAME;                                // organization header
using ::PR_DISPLAY_NAME;                                // account name
using ::PR_EMAIL_ADDRESS;                               // user's e-mail address
using ::PR_REPLY_RECIPIENT_NAMES;                       // Reply-To address
constexpr ULONG PR_NNTP_SEND_RECEIVE = 0x6781000B;      // include in send/receive
constexpr ULONG PR_NNTP_SERVER = 0x6602001E;            // news server host name
constexpr ULONG PR_NNTP_LOGON_REQUIRED = 0x6782000B;
constexpr ULONG PR_NNTP_LOGON_USER = 0x6603001E;
constexpr ULONG PR_NNTP_LOGON_PASSWORD = 0x6784001E;
constexpr ULONG PR_NNTP_REMEMBER_PASSWORD = 0x6785000B;
constexpr ULONG PR_NNTP_USE_SPA = 0x6783000B;           // secure password authentication
constexpr ULONG PR_NNTP_GROUP_LIST_FILE = 0x6786001E;   // file name only, in "DIR"
constexpr ULONG PR_NNTP_LAST_NEWGROUPS_CHECK = 0x67910040;  // UTC, written by the provider
constexpr ULONG PR_NNTP_CONNECTION_TYPE = 0x678A0003;
constexpr ULONG PR_NNTP_DIALUP_NAME = 0x678B001E;
constexpr ULONG PR_NNTP_DIALUP_FLAGS = 0x678C0003;
constexpr ULONG PR_NNTP_PORT = 0x67870003;
constexpr ULONG PR_NNTP_SSL = 0x6788000B;
constexpr ULONG PR_NNTP_USE_DESCRIPTIONS = 0x6789000B;
constexpr ULONG PR_NNTP_TIMEOUT = 0x67900003;           // in units of 30 seconds
constexpr ULONG PR_NNTP_ALLOW_HTML = 0x6791000B;        // same property ID as the check time
constexpr ULONG PR_NNTP_HTML_ENCODING = 0x67920003;
constexpr ULONG PR_NNTP_HTML_8BIT_HEADERS = 0x6793000B;
constexpr ULONG PR_NNTP_HTML_SEND_PICTURES = 0x6794000B;
constexpr ULONG PR_NNTP_HTML_WRAP = 0x67950003;
constexpr ULONG PR_NNTP_PLAIN_ENCODING = 0x67960003;
constexpr ULONG PR_NNTP_PLAIN_8BIT_HEADERS = 0x6797000B;
constexpr ULONG PR_NNTP_PLAIN_MIME = 0x6798000B;        // TRUE MIME, FALSE uuencode
constexpr ULONG PR_NNTP_PLAIN_WRAP = 0x67990003;
constexpr ULONG PR_NNTP_ACCOUNT_KIND = 0x66050003;

// Positions in the array.
enum Index : int {
    kUserName = 0,
    kOrganization = 1,
    kAccountName = 2,
    kEmailAddress = 3,
    kReplyTo = 4,
    kSendReceive = 5,
    kServer = 6,
    kLogonRequired = 7,
    kLogonUser = 8,
    kLogonPassword = 9,
    kRememberPassword = 10,
    kUseSpa = 11,
    kGroupListFile = 12,
    kLastNewGroupsCheck = 13,
    kConnectionType = 14,
    kDialupName = 15,
    kDialupFlags = 16,
    kPort = 17,
    kSsl = 18,
    kUseDescriptions = 19,
    kTimeout = 20,
    kAllowHtml = 21,
    kHtmlEncoding = 22,
    kHtml8BitHeaders = 23,
    kHtmlSendPictures = 24,
    kHtmlWrap = 25,
    kPlainEncoding = 26,
    kPlain8BitHeaders = 27,
    kPlainMime = 28,
    kPlainWrap = 29,
    kAccountKind = 30,
};

constexpr int kCount = 31;

// The tag expected at every index, in array order (what GetProps asks for).
constexpr std::array<ULONG, kCount> kTags = {
    PR_ACCOUNT,                 PR_COMPANY_NAME,           PR_DISPLAY_NAME,
    PR_EMAIL_ADDRESS,           PR_REPLY_RECIPIENT_NAMES,  PR_NNTP_SEND_RECEIVE,
    PR_NNTP_SERVER,             PR_NNTP_LOGON_REQUIRED,    PR_NNTP_LOGON_USER,
    PR_NNTP_LOGON_PASSWORD,     PR_NNTP_REMEMBER_PASSWORD, PR_NNTP_USE_SPA,
    PR_NNTP_GROUP_LIST_FILE,    PR_NNTP_LAST_NEWGROUPS_CHECK, PR_NNTP_CONNECTION_TYPE,
    PR_NNTP_DIALUP_NAME,        PR_NNTP_DIALUP_FLAGS,      PR_NNTP_PORT,
    PR_NNTP_SSL,                PR_NNTP_USE_DESCRIPTIONS,  PR_NNTP_TIMEOUT,
    PR_NNTP_ALLOW_HTML,         PR_NNTP_HTML_ENCODING,     PR_NNTP_HTML_8BIT_HEADERS,
    PR_NNTP_HTML_SEND_PICTURES, PR_NNTP_HTML_WRAP,         PR_NNTP_PLAIN_ENCODING,
    PR_NNTP_PLAIN_8BIT_HEADERS, PR_NNTP_PLAIN_MIME,        PR_NNTP_PLAIN_WRAP,
    PR_NNTP_ACCOUNT_KIND,
};

static_assert(PR_ACCOUNT == 0x3A00001E && PR_COMPANY_NAME == 0x3A16001E &&
              PR_DISPLAY_NAME == 0x3001001E && PR_EMAIL_ADDRESS == 0x3003001E &&
              PR_REPLY_RECIPIENT_NAMES == 0x0050001E);
static_assert(kTags[kUserName] == PR_ACCOUNT && kTags[kGroupListFile] == PR_NNTP_GROUP_LIST_FILE &&
              kTags[kLastNewGroupsCheck] == PR_NNTP_LAST_NEWGROUPS_CHECK &&
              kTags[kAllowHtml] == PR_NNTP_ALLOW_HTML && kTags[kAccountKind] == PR_NNTP_ACCOUNT_KIND);

// Whether an entry read at `index` carries the tag expected there.
constexpr bool HasExpectedTag(int index, ULONG tag)
{
    return index >= 0 && index < kCount && kTags[static_cast<std::size_t>(index)] == tag;
}

// Values of the connection type (index 14).
constexpr LONG kConnectionLan = 0;
constexpr LONG kConnectionDialup = 1;

// Bits of the dial-up flags (index 16).
constexpr LONG kDialupUnattended = 0x1;   // dial without prompting
constexpr LONG kDialupHangUp = 0x2;       // hang up when done

// Values of the post encodings (indices 22 and 26).
constexpr LONG kEncodingNone = 0;
constexpr LONG kEncodingQuotedPrintable = 1;
constexpr LONG kEncodingBase64 = 2;

// Values a new account starts with.
constexpr LONG kDefaultPort = 119;
constexpr LONG kDefaultTimeoutUnits = 1;
constexpr LONG kTimeoutUnitSeconds = 30;
constexpr LONG kDefaultWrapColumn = 72;
constexpr LONG kAccountKindNntp = 3;

}  // namespace quillory::acct
