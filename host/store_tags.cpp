// The name tables of `quillory store`.
#include "host/store_tags.h"

#include <charconv>
#include <cstdio>

#include "platform/mapi/mapitags.h"
#include "platform/mapi/proputil.h"

namespace quillory::host {
namespace {

// Names and values come from one spelling, so they cannot drift apart.
#define Q(name) NamedTag{#name, name}
#define C(name) NamedCode{#name, name}

constexpr NamedTag kTags[] = {
    Q(PR_ENTRYID),
    Q(PR_OBJECT_TYPE),
    Q(PR_STORE_ENTRYID),
    Q(PR_STORE_RECORD_KEY),
    Q(PR_RECORD_KEY),
    Q(PR_ACCESS_LEVEL),
    Q(PR_INSTANCE_KEY),
    Q(PR_ACCESS),
    Q(PR_PARENT_ENTRYID),
    Q(PR_SEARCH_KEY),
    Q(PR_ROWID),
    Q(PR_DISPLAY_NAME),
    Q(PR_ADDRTYPE),
    Q(PR_EMAIL_ADDRESS),
    Q(PR_COMMENT),
    Q(PR_DEPTH),
    Q(PR_CREATION_TIME),
    Q(PR_LAST_MODIFICATION_TIME),
    Q(PR_DISPLAY_TYPE),
    Q(PR_IMPORTANCE),
    Q(PR_MESSAGE_CLASS),
    Q(PR_PRIORITY),
    Q(PR_REPORT_TIME),
    Q(PR_SENSITIVITY),
    Q(PR_SUBJECT),
    Q(PR_CLIENT_SUBMIT_TIME),
    Q(PR_ORIGINAL_SUBJECT),
    Q(PR_ORIGINAL_SUBMIT_TIME),
    Q(PR_SENT_REPRESENTING_SEARCH_KEY),
    Q(PR_SENT_REPRESENTING_ENTRYID),
    Q(PR_SENT_REPRESENTING_NAME),
    Q(PR_REPLY_RECIPIENT_NAMES),
    Q(PR_SENT_REPRESENTING_ADDRTYPE),
    Q(PR_SENT_REPRESENTING_EMAIL_ADDRESS),
    Q(PR_CONVERSATION_TOPIC),
    Q(PR_CONVERSATION_INDEX),
    Q(PR_TRANSPORT_MESSAGE_HEADERS),
    Q(PR_DELIVER_TIME),
    Q(PR_SENDER_ENTRYID),
    Q(PR_SENDER_NAME),
    Q(PR_SENDER_SEARCH_KEY),
    Q(PR_SENDER_ADDRTYPE),
    Q(PR_SENDER_EMAIL_ADDRESS),
    Q(PR_RECIPIENT_TYPE),
    Q(PR_NDR_REASON_CODE),
    Q(PR_NDR_DIAG_CODE),
    Q(PR_CURRENT_VERSION),
    Q(PR_DELETE_AFTER_SUBMIT),
    Q(PR_DISPLAY_BCC),
    Q(PR_DISPLAY_CC),
    Q(PR_DISPLAY_TO),
    Q(PR_MESSAGE_DELIVERY_TIME),
    Q(PR_MESSAGE_FLAGS),
    Q(PR_MESSAGE_SIZE),
    Q(PR_SENTMAIL_ENTRYID),
    Q(PR_RESPONSIBILITY),
    Q(PR_SUBMIT_FLAGS),
    Q(PR_MSG_STATUS),
    Q(PR_MESSAGE_DOWNLOAD_TIME),
    Q(PR_CREATION_VERSION),
    Q(PR_HASATTACH),
    Q(PR_NORMALIZED_SUBJECT),
    Q(PR_RTF_IN_SYNC),
    Q(PR_ATTACH_SIZE),
    Q(PR_ATTACH_NUM),
    Q(PR_INTERNET_ARTICLE_NUMBER),
    Q(PR_NEWSGROUP_NAME),
    Q(PR_BODY),
    Q(PR_REPORT_TEXT),
    Q(PR_RTF_COMPRESSED),
    Q(PR_HTML),
    Q(PR_INTERNET_MESSAGE_ID),
    Q(PR_INTERNET_CPID),
    Q(PR_INTERNET_REFERENCES),
    Q(PR_IN_REPLY_TO_ID),
    Q(PR_CONTENT_FILTER_SCL),
    Q(PR_ATTACH_DATA_BIN),
    Q(PR_ATTACH_FILENAME),
    Q(PR_ATTACH_METHOD),
    Q(PR_ATTACH_LONG_FILENAME),
    Q(PR_RENDERING_POSITION),
    Q(PR_ATTACH_MIME_TAG),
    Q(PR_FOLDER_TYPE),
    Q(PR_CONTENT_COUNT),
    Q(PR_CONTENT_UNREAD),
    Q(PR_SUBFOLDERS),
    Q(PR_CONTAINER_CLASS),
    Q(PR_ASSOC_CONTENT_COUNT),
    Q(PR_DEFAULT_STORE),
    Q(PR_STORE_SUPPORT_MASK),
    Q(PR_MDB_PROVIDER),
    Q(PR_VALID_FOLDER_MASK),
    Q(PR_IPM_SUBTREE_ENTRYID),
    Q(PR_IPM_OUTBOX_ENTRYID),
    Q(PR_IPM_WASTEBASKET_ENTRYID),
    Q(PR_IPM_SENTMAIL_ENTRYID),
    Q(PR_RESOURCE_FLAGS),
    Q(PR_PROVIDER_DLL_NAME),
    Q(PR_PROVIDER_UID),
    Q(PR_PROVIDER_DISPLAY),
    Q(PR_SERVICE_NAME),
    Q(PR_SERVICE_DLL_NAME),
    Q(PR_SERVICE_ENTRY_NAME),
    Q(PR_SERVICE_UID),
    Q(PR_SERVICE_SUPPORT_FILES),
    Q(PR_SERVICE_DELETE_FILES),
    Q(PR_PROFILE_NAME),
    Q(PR_SERVICE_INSTALL_ID),
    Q(PR_DEFAULT_PROFILE),
    Q(PR_SERVICE_EXTRA_UIDS),
    Q(PR_PROVIDER_ORDINAL),
    Q(PR_IDENTITY_DISPLAY),
    Q(PR_IDENTITY_ENTRYID),
    Q(PR_RESOURCE_METHODS),
    Q(PR_RESOURCE_TYPE),
    Q(PR_STATUS_CODE),
    Q(PR_IDENTITY_SEARCH_KEY),
    Q(PR_OWN_STORE_ENTRYID),
    Q(PR_RESOURCE_PATH),
    Q(PR_STATUS_STRING),
    Q(PR_HEADER_FOLDER_ENTRYID),
    Q(PR_REMOTE_VALIDATE_OK),
    Q(PR_ACCOUNT),
    Q(PR_COMPANY_NAME),
    Q(PR_SEND_RICH_INFO),
    Q(PR_TRANSMITABLE_DISPLAY_NAME),
};

struct NamedCode {
    std::string_view name;
    SCODE code;
};

constexpr NamedCode kCodes[] = {
    C(MAPI_E_CALL_FAILED),
    C(MAPI_E_NOT_ENOUGH_MEMORY),
    C(MAPI_E_INVALID_PARAMETER),
    C(MAPI_E_INTERFACE_NOT_SUPPORTED),
    C(MAPI_E_NO_ACCESS),
    C(MAPI_E_NO_SUPPORT),
    C(MAPI_E_BAD_CHARWIDTH),
    C(MAPI_E_STRING_TOO_LONG),
    C(MAPI_E_UNKNOWN_FLAGS),
    C(MAPI_E_INVALID_ENTRYID),
    C(MAPI_E_INVALID_OBJECT),
    C(MAPI_E_OBJECT_CHANGED),
    C(MAPI_E_OBJECT_DELETED),
    C(MAPI_E_BUSY),
    C(MAPI_E_NOT_ENOUGH_DISK),
    C(MAPI_E_NOT_ENOUGH_RESOURCES),
    C(MAPI_E_NOT_FOUND),
    C(MAPI_E_VERSION),
    C(MAPI_E_LOGON_FAILED),
    C(MAPI_E_SESSION_LIMIT),
    C(MAPI_E_USER_CANCEL),
    C(MAPI_E_UNABLE_TO_ABORT),
    C(MAPI_E_NETWORK_ERROR),
    C(MAPI_E_DISK_ERROR),
    C(MAPI_E_TOO_COMPLEX),
    C(MAPI_E_BAD_COLUMN),
    C(MAPI_E_EXTENDED_ERROR),
    C(MAPI_E_COMPUTED),
    C(MAPI_E_CORRUPT_DATA),
    C(MAPI_E_UNCONFIGURED),
    C(MAPI_E_FAILONEPROVIDER),
    C(MAPI_E_END_OF_SESSION),
    C(MAPI_E_UNKNOWN_ENTRYID),
    C(MAPI_E_MISSING_REQUIRED_COLUMN),
    C(MAPI_W_NO_SERVICE),
    C(MAPI_E_BAD_VALUE),
    C(MAPI_E_INVALID_TYPE),
    C(MAPI_E_TYPE_NO_SUPPORT),
    C(MAPI_E_UNEXPECTED_TYPE),
    C(MAPI_E_TOO_BIG),
    C(MAPI_E_DECLINE_COPY),
    C(MAPI_E_UNEXPECTED_ID),
    C(MAPI_W_ERRORS_RETURNED),
    C(MAPI_E_UNABLE_TO_COMPLETE),
    C(MAPI_E_TIMEOUT),
    C(MAPI_E_TABLE_EMPTY),
    C(MAPI_E_TABLE_TOO_BIG),
    C(MAPI_E_INVALID_BOOKMARK),
    C(MAPI_W_POSITION_CHANGED),
    C(MAPI_W_APPROX_COUNT),
    C(MAPI_E_WAIT),
    C(MAPI_E_CANCEL),
    C(MAPI_E_NOT_ME),
    C(MAPI_W_CANCEL_MESSAGE),
    C(MAPI_E_CORRUPT_STORE),
    C(MAPI_E_NOT_IN_QUEUE),
    C(MAPI_E_NO_SUPPRESS),
    C(MAPI_E_COLLISION),
    C(MAPI_E_NOT_INITIALIZED),
    C(MAPI_E_NON_STANDARD),
    C(MAPI_E_NO_RECIPIENTS),
    C(MAPI_E_SUBMITTED),
    C(MAPI_E_HAS_FOLDERS),
    C(MAPI_E_HAS_MESSAGES),
    C(MAPI_E_FOLDER_CYCLE),
    C(MAPI_W_PARTIAL_COMPLETION),
    C(MAPI_E_AMBIGUOUS_RECIP),
    C(E_NOTIMPL),
    C(E_POINTER),
    C(E_UNEXPECTED),
    C(S_FALSE),
};

#undef Q
#undef C

struct NamedType {
    std::string_view name;
    ULONG type;
};

constexpr NamedType kTypes[] = {
    {"PT_UNSPECIFIED", PT_UNSPECIFIED}, {"PT_NULL", PT_NULL},         {"PT_I2", PT_I2},
    {"PT_LONG", PT_LONG},               {"PT_R4", PT_R4},             {"PT_DOUBLE", PT_DOUBLE},
    {"PT_CURRENCY", PT_CURRENCY},       {"PT_APPTIME", PT_APPTIME},   {"PT_ERROR", PT_ERROR},
    {"PT_BOOLEAN", PT_BOOLEAN},         {"PT_OBJECT", PT_OBJECT},     {"PT_I8", PT_I8},
    {"PT_STRING8", PT_STRING8},         {"PT_UNICODE", PT_UNICODE},   {"PT_SYSTIME", PT_SYSTIME},
    {"PT_CLSID", PT_CLSID},             {"PT_BINARY", PT_BINARY},
};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string Hex(unsigned value, int digits)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, value);
    return buf;
}

}  // namespace

std::span<const NamedTag> KnownTags() { return kTags; }

std::string_view TagName(ULONG tag)
{
    for (const auto& t : kTags)
        if (t.tag == tag) return t.name;
    for (const auto& t : kTags)
        if (PROP_ID(t.tag) == PROP_ID(tag)) return t.name;
    return {};
}

std::optional<ULONG> ParseTag(std::string_view text)
{
    if (text.size() > 2 && text[0] == '0' && Lower(text[1]) == 'x') {
        const std::string_view digits = text.substr(2);
        ULONG tag = 0;
        if (digits.size() > 8) return std::nullopt;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), tag, 16);
        if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
        if (!quillory::IsKnownPropType(PROP_TYPE(tag)) || PROP_TYPE(tag) == PT_UNSPECIFIED) return std::nullopt;
        return tag;
    }
    for (const auto& t : kTags)
        if (EqualNoCase(t.name, text)) return t.tag;
    return std::nullopt;
}

std::string TagHex(ULONG tag) { return Hex(tag, 8); }

std::string TagLabel(ULONG tag)
{
    for (const auto& t : kTags)
        if (t.tag == tag) return std::string(t.name);
    return TagHex(tag);
}

std::string PropTypeName(ULONG type)
{
    const ULONG base = type & ~MV_FLAG;
    for (const auto& t : kTypes) {
        if (t.type != base) continue;
        if (!(type & MV_FLAG)) return std::string(t.name);
        return "PT_MV_" + std::string(t.name.substr(3));
    }
    return Hex(type, 4);
}

std::string ScodeText(SCODE sc)
{
    const std::string hex = Hex(static_cast<unsigned>(sc), 8);
    for (const auto& c : kCodes)
        if (c.code == sc) return std::string(c.name) + " (" + hex + ")";
    return hex;
}

}  // namespace quillory::host
