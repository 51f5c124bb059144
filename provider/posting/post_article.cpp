#include "provider/posting/post_article.h"

#include <cstdio>
#include <memory>
#include <new>

#include "common/account_props.h"
#include "platform/base/module.h"
#include "platform/base/resource.h"
#include "platform/base/trace.h"
#include "platform/base/version_info.h"
#include "platform/com/classfactory.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/converter/converter.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/proputil.h"
#include "provider/entry/module_state.h"
#include "provider/posting/rtf_text.h"

namespace quillory::quarnex::posting {

namespace {

// Only the first block of the decompressed RTF is looked at.
constexpr std::size_t kRtfScanBytes = 65536;
constexpr int kHeaderTextBuffer = 256;
constexpr DWORD kModulePathBuffer = 4096;
constexpr std::string_view kXTransportDefault = "X-Transport";
constexpr std::string_view kBannerDefault = "Quillory v%s, https://www.tarnel.example/quillory";

struct TaskMemFree {
    void operator()(char* p) const { CoTaskMemFree(p); }
};
using TaskString = std::unique_ptr<char, TaskMemFree>;

const SPropValue* AccountValue(const SPropValue* props, int index)
{
    if (!props || !acct::HasExpectedTag(index, props[index].ulPropTag)) return nullptr;
    return &props[index];
}

std::string AccountText(const SPropValue* props, int index)
{
    const SPropValue* v = AccountValue(props, index);
    return v && v->Value.lpszA ? v->Value.lpszA : std::string();
}

bool AccountFlag(const SPropValue* props, int index)
{
    const SPropValue* v = AccountValue(props, index);
    return v && v->Value.b != 0;
}

LONG AccountLong(const SPropValue* props, int index, LONG def)
{
    const SPropValue* v = AccountValue(props, index);
    return v ? v->Value.l : def;
}

std::string LoadText(UINT id, std::string_view fallback)
{
    char buffer[kHeaderTextBuffer] = {};
    if (LoadString(ModuleInstance(), id, buffer, kHeaderTextBuffer) > 0) return buffer;
    return std::string(fallback);
}

// Applies one of the encodings of the account array: 0 wraps text at the
// column, 1 quoted-printable, 2 Base64.
void ApplyEncoding(IConverterSession* converter, LONG encoding, LONG wrapColumn)
{
    switch (encoding) {
    case acct::kEncodingNone: converter->SetTextWrapping(TRUE, static_cast<ULONG>(wrapColumn)); break;
    case acct::kEncodingQuotedPrintable: converter->SetEncoding(IET_QP); break;
    case acct::kEncodingBase64: converter->SetEncoding(IET_BASE64); break;
    default: break;
    }
}

ULONG ConfigureConverter(IConverterSession* converter, BodyKind kind, const SPropValue* account)
{
    ULONG flags = CCSF_NO_MSGID;
    if (kind == BodyKind::PlainText) {
        if (AccountFlag(account, acct::kPlainMime)) {
            ApplyEncoding(converter, AccountLong(account, acct::kPlainEncoding, acct::kEncodingNone),
                          AccountLong(account, acct::kPlainWrap, acct::kDefaultWrapColumn));
            if (AccountFlag(account, acct::kPlain8BitHeaders)) flags |= CCSF_8BITHEADERS;
        } else {
            converter->SetEncoding(IET_UUENCODE);
            converter->SetTextWrapping(TRUE,
                                       static_cast<ULONG>(AccountLong(account, acct::kPlainWrap, acct::kDefaultWrapColumn)));
        }
    } else {
        ApplyEncoding(converter, AccountLong(account, acct::kHtmlEncoding, acct::kEncodingNone),
                      AccountLong(account, acct::kHtmlWrap, acct::kDefaultWrapColumn));
        if (AccountFlag(account, acct::kHtml8BitHeaders)) flags |= CCSF_8BITHEADERS;
    }
    return flags;
}

HRESULT FindHeader(IMimeHeaderTable* header, const char* name, HHEADERROW& row)
{
    FINDHEADER find{name, 0};
    return header->FindFirst(&find, &row);
}

void DeleteFirst(IMimeHeaderTable* header, const char* name)
{
    HHEADERROW row = nullptr;
    if (SUCCEEDED(FindHeader(header, name, row))) header->DeleteRow(row);
}

bool RowValue(IMimeHeaderTable* header, HHEADERROW row, std::string& value)
{
    LPSTR data = nullptr;
    ULONG cch = 0;
    if (FAILED(header->GetRowData(row, 0, &data, &cch)) || !data) return false;
    TaskString owned(data);
    value.assign(data, cch);
    return true;
}

HRESULT Append(IMimeHeaderTable* header, const char* name, const std::string& value)
{
    return header->AppendRow(name, 0, value.c_str(), static_cast<ULONG>(value.size()), nullptr);
}

// "name <address>", or "<address>" without a name.
std::string Mailbox(const std::string& name, const std::string& address)
{
    return name.empty() ? "<" + address + ">" : name + " <" + address + ">";
}

}  // namespace

BodyKind MessageBodyKind(IMessage* message)
{
    ComPtr<IStream> rtf;
    if (SUCCEEDED(message->OpenProperty(PR_RTF_COMPRESSED, &IID_IStream, 0, 0,
                                        reinterpret_cast<LPUNKNOWN*>(&rtf)))) {
        std::string compressed;
        if (FAILED(ReadWholeStream(rtf.Get(), compressed))) return BodyKind::Rtf;
        const auto text = DecompressRtf(
            std::span<const BYTE>(reinterpret_cast<const BYTE*>(compressed.data()), compressed.size()), kRtfScanBytes);
        return text ? BodyKindOfRtf(*text) : BodyKind::Rtf;
    }
    // Without RTF the message says what it is by its bodies.
    return FPropExists(message, PR_HTML) ? BodyKind::Html : BodyKind::PlainText;
}

std::string TransportBanner()
{
    DWORD major = 0;
    DWORD minor = 0;
    char path[kModulePathBuffer] = {};
    VersionRecord record{};
    if (GetModuleFileName(reinterpret_cast<HMODULE>(ModuleInstance()), path, sizeof path) > 0 &&
        FindVersionRecord(path, record) >= 0) {
        major = record.fileVersionMS >> 16;
        minor = record.fileVersionMS & 0xFFFF;
    }
    char version[32];
    std::snprintf(version, sizeof version, "%i.%i", static_cast<int>(major), static_cast<int>(minor));
    const std::string format = LoadText(IDS_XTRANSPORT_BANNER, kBannerDefault);
    // The banner carries one %s; anything else in it is taken literally.
    const std::size_t at = format.find("%s");
    if (at == std::string::npos) return format;
    return format.substr(0, at) + version + format.substr(at + 2);
}

HRESULT EditPostHeader(IMimeHeaderTable* header, const SPropValue* account, const std::vector<std::string>& newsgroups)
{
    DeleteFirst(header, "To");

    const std::string userName = AccountText(account, acct::kUserName);
    const std::string email = AccountText(account, acct::kEmailAddress);
    HHEADERROW from = nullptr;
    std::string fromValue;
    const bool haveFrom = SUCCEEDED(FindHeader(header, "From", from)) && RowValue(header, from, fromValue);
    if (fromValue.find('@') == std::string::npos && email.find('@') != std::string::npos) {
        const std::string mailbox = Mailbox(userName, email);
        // A post without any From would only be refused by the server.
        const HRESULT hr = haveFrom ? header->SetRowData(from, 0, mailbox.c_str(), static_cast<ULONG>(mailbox.size()))
                                    : Append(header, "From", mailbox);
        if (FAILED(hr)) return hr;
    }

    HHEADERROW row = nullptr;
    std::string inReplyTo;
    if (FAILED(FindHeader(header, "References", row)) && SUCCEEDED(FindHeader(header, "In-Reply-To", row)) &&
        RowValue(header, row, inReplyTo)) {
        while (!inReplyTo.empty() && (inReplyTo.back() == '\r' || inReplyTo.back() == '\n')) inReplyTo.pop_back();
        if (inReplyTo.size() > 2) Append(header, "References", inReplyTo);
    }

    std::string groups;
    for (const std::string& g : newsgroups) groups += (groups.empty() ? "" : ", ") + g;
    if (HRESULT hr = Append(header, "Newsgroups", groups); FAILED(hr)) return hr;

    DeleteFirst(header, "Organization");
    const std::string organization = AccountText(account, acct::kOrganization);
    if (!organization.empty()) Append(header, "Organization", organization);

    DeleteFirst(header, "Reply-To");
    const std::string replyTo = AccountText(account, acct::kReplyTo);
    if (replyTo.find('@') != std::string::npos)
        Append(header, "Reply-To", replyTo.find('<') != std::string::npos ? replyTo : Mailbox(userName, replyTo));

    DeleteFirst(header, "X-Message-Flag");
    const std::string transport = LoadText(IDS_XTRANSPORT_HEADER, kXTransportDefault);
    return Append(header, transport.c_str(), TransportBanner());
}

HRESULT MakeArticle(IMessage* message, const SPropValue* account, const std::vector<std::string>& newsgroups,
                    std::string& article)
{
    article.clear();
    ULONG messageSize = 0;
    MapiBuffer<SPropValue> size;
    if (SUCCEEDED(HrGetOneProp(message, PR_MESSAGE_SIZE, &size)) && size->ulPropTag == PR_MESSAGE_SIZE)
        messageSize = size->Value.ul;
    try {
        article.reserve(PostBufferSize(messageSize));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }

    ComPtr<IConverterSession> converter;
    if (FAILED(CoCreateInstance(CLSID_IConverterSession, nullptr, CLSCTX_ALL, IID_IConverterSession,
                                reinterpret_cast<void**>(&converter))))
        return MAPI_E_WAIT;
    const BodyKind kind = MessageBodyKind(message);
    ComPtr<IMimeMessage> mime;
    HRESULT hr = CoCreateInstance(CLSID_IMimeMessage, nullptr, CLSCTX_ALL, IID_IMimeMessage,
                                  reinterpret_cast<void**>(&mime));
    if (FAILED(hr)) return hr;
    ComPtr<IStream> converted;
    if (FAILED(hr = CreateStreamOnHGlobal(nullptr, TRUE, &converted))) return hr;

    const ULONG flags = ConfigureConverter(converter.Get(), kind, account);
    if (FAILED(hr = converter->MAPIToMIMEStm(message, converted.Get(), flags))) return hr;
    LARGE_INTEGER zero{};
    if (FAILED(hr = converted->Seek(zero, STREAM_SEEK_SET, nullptr))) return hr;
    if (FAILED(hr = mime->Load(converted.Get()))) return hr;

    ComPtr<IMimeHeaderTable> header;
    if (FAILED(hr = mime->BindToObject(HBODY_ROOT, IID_IMimeHeaderTable, reinterpret_cast<void**>(&header))))
        return hr;
    if (FAILED(hr = EditPostHeader(header.Get(), account, newsgroups))) return hr;

    ComPtr<IStream> saved;
    if (FAILED(hr = CreateStreamOnHGlobal(nullptr, TRUE, &saved))) return hr;
    if (FAILED(hr = mime->Save(saved.Get(), TRUE))) return hr;
    return ReadWholeStream(saved.Get(), article);
}

}  // namespace quillory::quarnex::posting
