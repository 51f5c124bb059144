// Internet message -> MAPI message.
#include <array>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/trace.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/converter/converter_internal.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"

#include <gmime/gmime.h>

namespace quillory::converter {
namespace {

template <class T>
struct GUnref {
    void operator()(T* p) const { g_object_unref(p); }
};
template <class T>
using GPtr = std::unique_ptr<T, GUnref<T>>;

struct Person {
    std::string name;
    std::string email;
};

struct Attachment {
    std::string name;
    std::string mimeTag;
    std::vector<BYTE> data;
};

struct Content {
    std::optional<std::string> plain;    // system code page, CR LF
    std::optional<std::string> html;     // bytes as sent
    std::optional<CODEPAGEID> htmlCodePage;
    std::vector<Attachment> attachments;
};

std::string Lower(std::string s)
{
    for (auto& c : s) c = static_cast<char>(g_ascii_tolower(c));
    return s;
}

// A header's value as it stands, folding undone; empty when absent.
std::string RawHeader(GMimeObject* object, const char* name)
{
    GMimeHeader* h = g_mime_header_list_get_header(g_mime_object_get_header_list(object), name);
    if (!h) return {};
    std::string value;
    for (const char* p = g_mime_header_get_raw_value(h); p && *p; ++p) {
        if (*p == '\r') continue;
        if (*p == '\n') {
            value.push_back(' ');
            while (p[1] == ' ' || p[1] == '\t') ++p;
            continue;
        }
        value.push_back(*p);
    }
    return Trim(value);
}

std::optional<Person> FirstMailbox(InternetAddressList* list)
{
    if (!list) return std::nullopt;
    for (int i = 0; i < internet_address_list_length(list); ++i) {
        InternetAddress* a = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(a)) {
            if (auto p = FirstMailbox(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(a)))) return p;
            continue;
        }
        const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a));
        if (!addr || !*addr) continue;
        const char* name = internet_address_get_name(a);
        return Person{name ? Utf8ToSystem(name) : std::string(), addr};
    }
    return std::nullopt;
}

// From (or Sender) as a person; a field that holds no address keeps its text as the name.
std::optional<Person> PersonOf(GMimeMessage* message, GMimeAddressType type, const char* field)
{
    if (auto p = FirstMailbox(g_mime_message_get_addresses(message, type))) {
        if (p->name.empty()) p->name = p->email;  // a display name is never empty
        return p;
    }
    const std::string raw = RawHeader(GMIME_OBJECT(message), field);
    if (raw.empty()) return std::nullopt;
    gchar* decoded = g_mime_utils_header_decode_phrase(nullptr, raw.c_str());
    Person p{Utf8ToSystem(decoded ? decoded : raw.c_str()), {}};
    g_free(decoded);
    return p;
}

std::string DecodedBytes(GMimePart* part)
{
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return {};
    GPtr<GMimeStream> out(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, out.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

std::string MimeTagOf(GMimeObject* object)
{
    gchar* type = g_mime_content_type_get_mime_type(g_mime_object_get_content_type(object));
    std::string tag = Lower(type ? type : "application/octet-stream");
    g_free(type);
    return tag;
}

std::string DefaultName(const std::string& mimeTag, std::size_t index)
{
    const char* ext = mimeTag == "text/plain" ? ".txt" : mimeTag == "text/html" ? ".htm"
                      : mimeTag == "message/rfc822" ? ".eml" : ".dat";
    return "attachment" + std::to_string(index) + ext;
}

void Walk(GMimeObject* object, Content& content)
{
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
            Walk(g_mime_multipart_get_part(multipart, i), content);
        return;
    }
    if (GMIME_IS_MESSAGE_PART(object)) {
        GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        Attachment a;
        a.mimeTag = "message/rfc822";
        if (inner) {
            GPtr<GMimeStream> out(g_mime_stream_mem_new());
            g_mime_object_write_to_stream(GMIME_OBJECT(inner), nullptr, out.get());
            GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
            a.data.assign(bytes->data, bytes->data + bytes->len);
            const char* subject = g_mime_message_get_subject(inner);
            if (subject && *subject) a.name = SafeFileName(Utf8ToSystem(subject) + ".eml");
        }
        content.attachments.push_back(std::move(a));
        return;
    }
    if (!GMIME_IS_PART(object)) return;
    GMimePart* part = GMIME_PART(object);
    GMimeContentType* type = g_mime_object_get_content_type(object);
    const bool inlineText = !g_mime_part_is_attachment(part);
    const char* charset = g_mime_object_get_content_type_parameter(object, "charset");
    if (inlineText && !content.plain && g_mime_content_type_is_type(type, "text", "plain")) {
        content.plain = ToSystem(DecodedBytes(part), charset ? charset : "");
        return;
    }
    if (inlineText && !content.html && g_mime_content_type_is_type(type, "text", "html")) {
        content.html = DecodedBytes(part);
        if (charset) content.htmlCodePage = CodePageOf(charset);
        return;
    }
    Attachment a;
    a.mimeTag = MimeTagOf(object);
    if (const char* name = g_mime_part_get_filename(part)) a.name = SafeFileName(Utf8ToSystem(name));
    const std::string bytes = DecodedBytes(part);
    a.data.assign(bytes.begin(), bytes.end());
    content.attachments.push_back(std::move(a));
}

// Values for SetProps whose strings and bytes live as long as the builder.
class PropBuilder {
public:
    void String(ULONG tag, std::string value)
    {
        strings_.push_back(std::move(value));
        SPropValue v{};
        v.ulPropTag = tag;
        v.Value.lpszA = strings_.back().data();
        values_.push_back(v);
    }
    void Binary(ULONG tag, std::vector<BYTE> value)
    {
        binaries_.push_back(std::move(value));
        SPropValue v{};
        v.ulPropTag = tag;
        v.Value.bin = SBinary{static_cast<ULONG>(binaries_.back().size()), binaries_.back().data()};
        values_.push_back(v);
    }
    void Long(ULONG tag, LONG value)
    {
        SPropValue v{};
        v.ulPropTag = tag;
        v.Value.l = value;
        values_.push_back(v);
    }
    void Time(ULONG tag, FILETIME value)
    {
        SPropValue v{};
        v.ulPropTag = tag;
        v.Value.ft = value;
        values_.push_back(v);
    }
    HRESULT SetOn(IMAPIProp* object)
    {
        if (values_.empty()) return S_OK;
        LPSPropProblemArray problems = nullptr;
        const HRESULT hr = object->SetProps(static_cast<ULONG>(values_.size()), values_.data(), &problems);
        if (problems) {
            Trace("MIME converter -- %u properties not set\n", static_cast<unsigned>(problems->cProblem));
            MAPIFreeBuffer(problems);
        }
        return hr;
    }

private:
    std::deque<std::string> strings_;
    std::deque<std::vector<BYTE>> binaries_;
    std::vector<SPropValue> values_;
};

HRESULT AddAttachment(IMessage* message, const Attachment& a, std::size_t index)
{
    ComPtr<IAttach> attach;
    ULONG number = 0;
    HRESULT hr = message->CreateAttach(nullptr, 0, &number, &attach);
    if (FAILED(hr)) return hr;
    const std::string name = a.name.empty() ? DefaultName(a.mimeTag, index) : a.name;
    PropBuilder props;
    props.Long(PR_ATTACH_METHOD, static_cast<LONG>(ATTACH_BY_VALUE));
    props.String(PR_ATTACH_LONG_FILENAME, name);
    props.String(PR_ATTACH_FILENAME, name);
    props.String(PR_DISPLAY_NAME, name);
    props.String(PR_ATTACH_MIME_TAG, a.mimeTag);
    props.Binary(PR_ATTACH_DATA_BIN, a.data);
    hr = props.SetOn(attach.Get());
    if (FAILED(hr)) return hr;
    return attach->SaveChanges(0);
}

// To and Cc become recipients of address type "SMTP".
HRESULT AddRecipients(GMimeMessage* message, IMessage* target)
{
    struct Row {
        std::string name, email;
        ULONG type;
    };
    std::vector<Row> rows;
    const std::pair<GMimeAddressType, ULONG> kinds[] = {{GMIME_ADDRESS_TYPE_TO, MAPI_TO}, {GMIME_ADDRESS_TYPE_CC, MAPI_CC}};
    for (const auto& [kind, type] : kinds) {
        InternetAddressList* list = g_mime_message_get_addresses(message, kind);
        std::vector<InternetAddressList*> pending{list};
        while (!pending.empty()) {
            InternetAddressList* l = pending.back();
            pending.pop_back();
            for (int i = l ? internet_address_list_length(l) - 1 : -1; i >= 0; --i) {
                InternetAddress* a = internet_address_list_get_address(l, i);
                if (INTERNET_ADDRESS_IS_GROUP(a)) {
                    pending.push_back(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(a)));
                    continue;
                }
                const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(a));
                if (!addr || !*addr) continue;
                const char* name = internet_address_get_name(a);
                rows.push_back({name && *name ? Utf8ToSystem(name) : addr, addr, type});
            }
        }
    }
    if (rows.empty()) return S_OK;
    std::vector<BYTE> block(CbNewADRLIST(static_cast<ULONG>(rows.size())));
    auto* list = reinterpret_cast<ADRLIST*>(block.data());
    list->cEntries = static_cast<ULONG>(rows.size());
    std::vector<std::array<SPropValue, 4>> values(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        auto& v = values[i];
        v[0].ulPropTag = PR_DISPLAY_NAME;
        v[0].Value.lpszA = rows[i].name.data();
        v[1].ulPropTag = PR_EMAIL_ADDRESS;
        v[1].Value.lpszA = rows[i].email.data();
        v[2].ulPropTag = PR_ADDRTYPE;
        v[2].Value.lpszA = const_cast<LPSTR>("SMTP");
        v[3].ulPropTag = PR_RECIPIENT_TYPE;
        v[3].Value.l = static_cast<LONG>(rows[i].type);
        list->aEntries[i].cValues = 4;
        list->aEntries[i].rgPropVals = v.data();
    }
    return target->ModifyRecipients(MODRECIP_ADD, list);
}

std::string HeaderBlock(std::string_view article)
{
    std::size_t pos = 0;
    while (pos < article.size()) {
        const std::size_t nl = article.find('\n', pos);
        if (nl == std::string_view::npos) return std::string(article);
        std::string_view line = article.substr(pos, nl - pos);
        if (line.empty() || line == "\r") return std::string(article.substr(0, pos));
        pos = nl + 1;
    }
    return std::string(article);
}

}  // namespace

HRESULT MimeToMapi(std::string_view article, IMessage* target)
{
    EnsureGMime();
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(article.data(), article.size()));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!message) return MIME_E_INVALID_MESSAGE;
    GMimeObject* root = GMIME_OBJECT(message.get());
    if (g_mime_header_list_get_count(g_mime_object_get_header_list(root)) == 0) return MIME_E_INVALID_MESSAGE;

    PropBuilder props;
    props.String(PR_MESSAGE_CLASS, "IPM.Note");
    if (const char* subject = g_mime_message_get_subject(message.get())) props.String(PR_SUBJECT, Utf8ToSystem(subject));

    const auto from = PersonOf(message.get(), GMIME_ADDRESS_TYPE_FROM, "From");
    auto sender = PersonOf(message.get(), GMIME_ADDRESS_TYPE_SENDER, "Sender");
    if (!sender) sender = from;
    if (sender) {
        props.String(PR_SENDER_NAME, sender->name);
        props.String(PR_SENDER_ADDRTYPE, "SMTP");
        if (!sender->email.empty()) props.String(PR_SENDER_EMAIL_ADDRESS, sender->email);
    }
    if (from) {
        props.String(PR_SENT_REPRESENTING_NAME, from->name);
        props.String(PR_SENT_REPRESENTING_ADDRTYPE, "SMTP");
        if (!from->email.empty()) props.String(PR_SENT_REPRESENTING_EMAIL_ADDRESS, from->email);
    }

    const std::string date = RawHeader(root, "Date");
    if (!date.empty()) {
        if (auto ft = ParseInternetDate(date.c_str())) props.Time(PR_CLIENT_SUBMIT_TIME, *ft);
    }
    if (auto id = RawHeader(root, "Message-ID"); !id.empty()) props.String(PR_INTERNET_MESSAGE_ID, id);
    if (auto id = RawHeader(root, "In-Reply-To"); !id.empty()) props.String(PR_IN_REPLY_TO_ID, id);
    if (auto refs = RawHeader(root, "References"); !refs.empty()) props.String(PR_INTERNET_REFERENCES, refs);
    props.String(PR_TRANSPORT_MESSAGE_HEADERS, ToCrLf(HeaderBlock(article)));

    Content content;
    if (GMimeObject* body = g_mime_message_get_mime_part(message.get())) Walk(body, content);
    if (content.plain) {
        for (auto& file : ExtractUuencoded(*content.plain))
            content.attachments.push_back({std::move(file.name), "application/octet-stream", std::move(file.data)});
        props.String(PR_BODY, ToCrLf(*content.plain));
    }
    if (content.html) {
        props.Binary(PR_HTML, std::vector<BYTE>(content.html->begin(), content.html->end()));
        if (content.htmlCodePage) props.Long(PR_INTERNET_CPID, static_cast<LONG>(*content.htmlCodePage));
    }
    props.Long(PR_MESSAGE_FLAGS, content.attachments.empty() ? 0 : static_cast<LONG>(MSGFLAG_HASATTACH));

    HRESULT hr = props.SetOn(target);
    if (FAILED(hr)) return hr;
    if (hr = AddRecipients(message.get(), target); FAILED(hr)) return hr;
    for (std::size_t i = 0; i < content.attachments.size(); ++i) {
        if (hr = AddAttachment(target, content.attachments[i], i + 1); FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace quillory::converter
