// MAPI message -> Internet message.
#include <strings.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/base/time.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/converter/converter_internal.h"
#include "platform/mapi/converter/mime_writer.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/proputil.h"

namespace quillory::converter {
namespace {

struct MessageData {
    std::optional<std::string> subject, body, senderName, senderEmail, repName, repEmail, messageId, inReplyTo, references;
    std::optional<std::string> html;
    std::optional<CODEPAGEID> htmlCodePage;
    std::optional<FILETIME> submitTime;
};

struct Recipient {
    std::string name, email;
    ULONG type;
};

struct AttachmentData {
    std::string name;
    std::string mimeTag;
    std::string data;
};

std::optional<std::string> StringOf(const SPropValue& v)
{
    if (PROP_TYPE(v.ulPropTag) == PT_STRING8 && v.Value.lpszA) return std::string(v.Value.lpszA);
    return std::nullopt;
}

HRESULT ReadMessage(IMessage* message, MessageData& d)
{
    auto tags = MakeTagArray({PR_SUBJECT, PR_BODY, PR_SENDER_NAME, PR_SENDER_EMAIL_ADDRESS, PR_SENT_REPRESENTING_NAME,
                              PR_SENT_REPRESENTING_EMAIL_ADDRESS, PR_INTERNET_MESSAGE_ID, PR_IN_REPLY_TO_ID,
                              PR_INTERNET_REFERENCES, PR_HTML, PR_INTERNET_CPID, PR_CLIENT_SUBMIT_TIME});
    if (!tags) return MAPI_E_NOT_ENOUGH_MEMORY;
    ULONG count = 0;
    MapiBuffer<SPropValue> values;
    const HRESULT hr = message->GetProps(tags.Get(), 0, &count, &values);
    if (FAILED(hr)) return hr;
    const SPropValue* v = values.Get();
    std::optional<std::string>* strings[] = {&d.subject, &d.body, &d.senderName, &d.senderEmail, &d.repName,
                                             &d.repEmail, &d.messageId, &d.inReplyTo, &d.references};
    for (std::size_t i = 0; i < std::size(strings); ++i) *strings[i] = StringOf(v[i]);
    if (v[9].ulPropTag == PR_HTML) d.html = std::string(reinterpret_cast<const char*>(v[9].Value.bin.lpb), v[9].Value.bin.cb);
    if (v[10].ulPropTag == PR_INTERNET_CPID) d.htmlCodePage = static_cast<CODEPAGEID>(v[10].Value.l);
    if (v[11].ulPropTag == PR_CLIENT_SUBMIT_TIME) d.submitTime = v[11].Value.ft;
    return S_OK;
}

// Rows of a table, all of them.
HRESULT ReadTable(IMAPITable* table, std::initializer_list<ULONG> columns, RowSetPtr& rows)
{
    auto tags = MakeTagArray(columns);
    if (!tags) return MAPI_E_NOT_ENOUGH_MEMORY;
    HRESULT hr = table->SetColumns(tags.Get(), 0);
    if (FAILED(hr)) return hr;
    return table->QueryRows(0x7FFFFFFF, 0, &rows);
}

HRESULT ReadRecipients(IMessage* message, std::vector<Recipient>& out)
{
    ComPtr<IMAPITable> table;
    HRESULT hr = message->GetRecipientTable(0, &table);
    if (FAILED(hr)) return hr;
    RowSetPtr rows;
    if (hr = ReadTable(table.Get(), {PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_ADDRTYPE, PR_RECIPIENT_TYPE}, rows); FAILED(hr))
        return hr;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue* v = rows->aRow[i].lpProps;
        const auto type = StringOf(v[2]);
        const auto email = StringOf(v[1]);
        // News recipients name newsgroups; they never become mail addresses.
        if (!email || email->empty() || (type && strcasecmp(type->c_str(), "NNTP") == 0)) continue;
        out.push_back({StringOf(v[0]).value_or(""), *email,
                       v[3].ulPropTag == PR_RECIPIENT_TYPE ? static_cast<ULONG>(v[3].Value.l) : MAPI_TO});
    }
    return S_OK;
}

HRESULT ReadAttachments(IMessage* message, std::vector<AttachmentData>& out)
{
    ComPtr<IMAPITable> table;
    HRESULT hr = message->GetAttachmentTable(0, &table);
    if (FAILED(hr)) return hr;
    RowSetPtr rows;
    if (hr = ReadTable(table.Get(), {PR_ATTACH_NUM}, rows); FAILED(hr)) return hr;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue& num = rows->aRow[i].lpProps[0];
        if (num.ulPropTag != PR_ATTACH_NUM) continue;
        ComPtr<IAttach> attach;
        if (hr = message->OpenAttach(static_cast<ULONG>(num.Value.l), nullptr, 0, &attach); FAILED(hr)) return hr;
        auto tags = MakeTagArray({PR_ATTACH_DATA_BIN, PR_ATTACH_LONG_FILENAME, PR_ATTACH_FILENAME, PR_DISPLAY_NAME,
                                  PR_ATTACH_MIME_TAG});
        ULONG count = 0;
        MapiBuffer<SPropValue> values;
        if (hr = attach->GetProps(tags.Get(), 0, &count, &values); FAILED(hr)) return hr;
        const SPropValue* v = values.Get();
        if (v[0].ulPropTag != PR_ATTACH_DATA_BIN) continue;  // only attachments carrying their bytes go out
        AttachmentData a;
        a.data.assign(reinterpret_cast<const char*>(v[0].Value.bin.lpb), v[0].Value.bin.cb);
        a.name = StringOf(v[1]).value_or(StringOf(v[2]).value_or(StringOf(v[3]).value_or("")));
        if (a.name.empty()) a.name = "attachment" + std::to_string(out.size() + 1) + ".dat";
        a.mimeTag = StringOf(v[4]).value_or("application/octet-stream");
        out.push_back(std::move(a));
    }
    return S_OK;
}

std::string Mailbox(const std::string& name, const std::string& email, std::string_view charset, bool eightBit)
{
    if (email.empty()) return HeaderText(name, charset, eightBit);
    if (name.empty() || name == email) return email;
    return HeaderPhrase(name, charset, eightBit) + " <" + email + ">";
}

struct Entity {
    std::string headers;  // Content-* lines, each ending in CR LF
    std::string body;
};

std::string Serialize(const Entity& e) { return e.headers + "\r\n" + e.body; }

std::string TransferEncoding(const std::string& text, const Options& options, std::string& encoded)
{
    const ENCODINGTYPE chosen = options.encoding.value_or(Is7BitSafe(text) ? IET_7BIT : IET_QP);
    switch (chosen) {
    case IET_BASE64:
        encoded = EncodeBase64(text);
        return "base64";
    case IET_8BIT:
        if (text.find('\0') == std::string::npos && LongestLine(text) <= 998) {
            encoded = text;
            return Is7BitSafe(text) ? "7bit" : "8bit";
        }
        break;
    case IET_7BIT:
        if (Is7BitSafe(text)) {
            encoded = text;
            return "7bit";
        }
        break;  // 8-bit text cannot go as 7bit: quoted-printable keeps it intact
    default:
        break;
    }
    encoded = EncodeQuotedPrintable(text);
    return "quoted-printable";
}

Entity TextEntity(const char* subtype, const std::string& text, const std::string& charset, const Options& options)
{
    Entity e;
    std::string encoded;
    const std::string cte = TransferEncoding(text, options, encoded);
    e.headers = "Content-Type: text/" + std::string(subtype) + "; charset=\"" + charset + "\"\r\n" +
                "Content-Transfer-Encoding: " + cte + "\r\n";
    e.body = std::move(encoded);
    if (!e.body.empty() && e.body.substr(e.body.size() - 1) != "\n") e.body += "\r\n";
    return e;
}

Entity AttachmentEntity(const AttachmentData& a, const std::string& charset)
{
    const std::string name = OneLine(HeaderText(a.name, charset, false));
    std::string quoted;
    for (char c : name) {
        if (c == '"' || c == '\\') quoted.push_back('\\');
        quoted.push_back(c);
    }
    Entity e;
    e.headers = "Content-Type: " + OneLine(a.mimeTag) + "; name=\"" + quoted + "\"\r\n" +
                "Content-Transfer-Encoding: base64\r\n" + "Content-Disposition: attachment; filename=\"" + quoted + "\"\r\n";
    e.body = EncodeBase64(a.data);
    return e;
}

Entity Multipart(const char* subtype, const std::vector<Entity>& parts)
{
    const std::string boundary = NewBoundary();
    Entity e;
    e.headers = "Content-Type: multipart/" + std::string(subtype) + ";\r\n\tboundary=\"" + boundary + "\"\r\n";
    e.body = "This is a multi-part message in MIME format.\r\n";
    for (const auto& part : parts) e.body += "\r\n--" + boundary + "\r\n" + Serialize(part);
    e.body += "\r\n--" + boundary + "--\r\n";
    return e;
}

std::string DomainOf(const std::optional<std::string>& email)
{
    if (!email) return {};
    const auto at = email->rfind('@');
    return at == std::string::npos ? std::string() : email->substr(at + 1);
}

}  // namespace

HRESULT MapiToMime(IMessage* message, const Options& options, ULONG flags, std::string& out)
{
    EnsureGMime();
    MessageData d;
    std::vector<Recipient> recipients;
    std::vector<AttachmentData> attachments;
    HRESULT hr = ReadMessage(message, d);
    if (SUCCEEDED(hr)) hr = ReadRecipients(message, recipients);
    if (SUCCEEDED(hr)) hr = ReadAttachments(message, attachments);
    if (FAILED(hr)) return hr;

    const bool mime = options.saveFormat == SAVE_RFC1521 && options.encoding != IET_UUENCODE;
    const bool eightBit = (flags & CCSF_8BITHEADERS) != 0;
    std::string text = ToCrLf(d.body.value_or(""));
    if (options.wrap) text = WrapText(text, options.wrapWidth);
    const std::string charset = !options.charset.empty() ? options.charset
                                : IsAscii(text)             ? "us-ascii"
                                                            : kSystemCodePageCharset;
    // Header words need a set that can hold them even when the body is ASCII.
    const std::string headerCharset = charset == "us-ascii" ? kSystemCodePageCharset : charset;

    std::string headers;
    if (!(flags & CCSF_NOHEADERS)) {
        const std::string fromName = d.repName ? *d.repName : d.senderName.value_or("");
        const std::string fromEmail = d.repName || d.repEmail ? d.repEmail.value_or("") : d.senderEmail.value_or("");
        if (!fromName.empty() || !fromEmail.empty())
            headers += FoldedHeader("From", Mailbox(fromName, fromEmail, headerCharset, eightBit));
        for (ULONG kind : {MAPI_TO, MAPI_CC, MAPI_BCC}) {
            if (kind == MAPI_BCC && !(flags & CCSF_INCLUDE_BCC)) continue;
            std::string list;
            for (const auto& r : recipients) {
                if (r.type != kind) continue;
                if (!list.empty()) list += ", ";
                list += Mailbox(r.name, r.email, headerCharset, eightBit);
            }
            if (!list.empty()) headers += FoldedHeader(kind == MAPI_TO ? "To" : kind == MAPI_CC ? "Cc" : "Bcc", list);
        }
        if (d.subject) headers += FoldedHeader("Subject", HeaderText(*d.subject, headerCharset, eightBit));
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        headers += FoldedHeader("Date", FormatInternetDate(d.submitTime.value_or(now)));
        if (!(flags & CCSF_NO_MSGID))
            headers += FoldedHeader("Message-ID", d.messageId && !d.messageId->empty() ? *d.messageId
                                                                                       : NewMessageId(DomainOf(d.senderEmail)));
        if (d.inReplyTo && !d.inReplyTo->empty()) headers += FoldedHeader("In-Reply-To", *d.inReplyTo);
        if (d.references && !d.references->empty()) headers += FoldedHeader("References", *d.references);
        if (mime) headers += "MIME-Version: 1.0\r\n";
    }

    if (!mime) {
        // Plain text as written, each attachment uuencoded after it.
        std::string body = FromSystem(text, options.charset);
        if (!body.empty() && body.substr(body.size() - 1) != "\n") body += "\r\n";
        for (const auto& a : attachments)
            body += "\r\n" + Uuencode(a.name, std::vector<BYTE>(a.data.begin(), a.data.end()));
        out = (flags & CCSF_NOHEADERS) ? body : headers + "\r\n" + body;
        return S_OK;
    }

    std::vector<Entity> alternatives;
    const bool withHtml = d.html && !(flags & CCSF_PLAIN_TEXT_ONLY);
    if (d.body || !withHtml) alternatives.push_back(TextEntity("plain", FromSystem(text, charset), charset, options));
    if (withHtml) {
        std::string htmlCharset = d.htmlCodePage ? CharsetOfCodePage(*d.htmlCodePage) : std::string();
        if (htmlCharset.empty()) htmlCharset = IsAscii(*d.html) ? "us-ascii" : kSystemCodePageCharset;
        Options htmlOptions = options;
        if (htmlOptions.encoding != IET_BASE64) htmlOptions.encoding = std::nullopt;
        alternatives.push_back(TextEntity("html", ToCrLf(*d.html), htmlCharset, htmlOptions));
    }
    Entity body = alternatives.size() == 1 ? alternatives.front() : Multipart("alternative", alternatives);
    if (!attachments.empty()) {
        std::vector<Entity> parts{body};
        for (const auto& a : attachments) parts.push_back(AttachmentEntity(a, headerCharset));
        body = Multipart("mixed", parts);
    }
    out = headers + Serialize(body);
    return S_OK;
}

}  // namespace quillory::converter
