#include "provider/delivery/deliver_article.h"

#include <array>

#include "common/account_props.h"
#include "platform/base/time.h"
#include "platform/base/trace.h"
#include "platform/com/classfactory.h"
#include "platform/inetcomm/mime/mime_services.h"
#include "platform/mapi/converter/converter.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/proputil.h"
#include "provider/delivery/delivery_steps.h"
#include "provider/folder/header_entryid.h"

namespace quillory::quarnex {

namespace {

// Origin lines shorter than this cannot name an article.
constexpr ULONG kOriginMinBytes = 6;
constexpr LONG kContentFilterNone = -1;

HRESULT SeekToStart(IStream* stream)
{
    LARGE_INTEGER zero{};
    return stream->Seek(zero, STREAM_SEEK_SET, nullptr);
}

// Whether anything but the origin lines (and blank lines) is in the text.
bool HasArticleText(std::string_view head)
{
    std::size_t pos = 0;
    while (pos < head.size()) {
        std::size_t end = head.find("\r\n", pos);
        if (end == std::string_view::npos) end = head.size();
        const std::string_view line = head.substr(pos, end - pos);
        pos = end + 2;
        if (line.empty()) continue;
        if (line.starts_with(kOriginNewsgroupDefault) || line.starts_with(kOriginArticleDefault)) continue;
        return true;
    }
    return false;
}

HRESULT ReadOrigin(IStream* article, ArticleOrigin& origin)
{
    HRESULT hr = SeekToStart(article);
    if (FAILED(hr)) return hr;
    std::array<char, kOriginScanBytes> head{};
    ULONG got = 0;
    hr = article->Read(head.data(), static_cast<ULONG>(head.size()), &got);
    if (FAILED(hr)) return hr;
    if (got >= kOriginMinBytes) origin = ParseArticleOrigin(std::string_view(head.data(), got));
    if (origin.articleNumber != 0 && !HasArticleText(std::string_view(head.data(), got))) {
        // The origin lines alone would make an empty message of nothing.
        Trace("DeliverArticle -- no article after the origin lines\n");
        origin.articleNumber = 0;
    }
    return SeekToStart(article);
}

const char* AccountString(const SPropValue* props, int index)
{
    if (!props) return nullptr;
    const SPropValue& v = props[index];
    return acct::HasExpectedTag(index, v.ulPropTag) ? v.Value.lpszA : nullptr;
}

HRESULT OpenTargetFolder(const DeliveryTarget& target, const std::string& newsgroup, ComPtr<IMAPIFolder>& out)
{
    if (!target.baseStore || target.baseFolderEntryId.empty()) return E_FAIL;
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    HRESULT hr = target.baseStore->OpenEntry(
        static_cast<ULONG>(target.baseFolderEntryId.size()),
        reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(target.baseFolderEntryId.data())), nullptr, MAPI_MODIFY,
        &type, &unk);
    if (FAILED(hr)) return hr;
    if (type != MAPI_FOLDER) return MAPI_E_INVALID_ENTRYID;
    ComPtr<IMAPIFolder> parent(static_cast<IMAPIFolder*>(unk.Get()));
    if (!target.flatFolders) {
        const char* account = AccountString(target.accountProps, acct::kAccountName);
        if (!account) return E_FAIL;
        ComPtr<IMAPIFolder> accountFolder;
        hr = delivery::FindOrCreateFolder(parent.Get(), account, accountFolder);
        if (FAILED(hr)) return hr;
        parent = accountFolder;
    }
    return delivery::FindOrCreateFolder(parent.Get(), newsgroup, out);
}

HRESULT Convert(IStream* article, IMessage* message)
{
    ComPtr<IMimeMessage> mime;
    HRESULT hr = CoCreateInstance(CLSID_IMimeMessage, nullptr, CLSCTX_INPROC_SERVER, IID_IMimeMessage,
                                  reinterpret_cast<void**>(&mime));
    if (FAILED(hr)) return hr;
    if (FAILED(hr = mime->Load(article))) return hr;
    ComPtr<IConverterSession> converter;
    hr = CoCreateInstance(CLSID_IConverterSession, nullptr, CLSCTX_INPROC_SERVER, IID_IConverterSession,
                          reinterpret_cast<void**>(&converter));
    if (FAILED(hr)) return hr;
    if (FAILED(hr = SeekToStart(article))) return hr;
    return converter->MIMEToMAPI(article, message, nullptr, CCSF_SMTP);
}

HRESULT SetNewsProperties(IMessage* message, const ArticleOrigin& origin, const SBinary* rowEntryId)
{
    ULONG flags = 0;
    MapiBuffer<SPropValue> current;
    if (SUCCEEDED(HrGetOneProp(message, PR_MESSAGE_FLAGS, &current)) && current->ulPropTag == PR_MESSAGE_FLAGS)
        flags = current->Value.ul & ~(MSGFLAG_READ | MSGFLAG_UNSENT);

    // The same text the known-articles cache looks messages up by. Without
    // the row's entry ID it is made again from the origin and the article's
    // Message-ID, which is what the row was made of.
    std::vector<BYTE> rebuilt;
    SBinary eid{};
    if (rowEntryId && rowEntryId->cb > 0 && rowEntryId->lpb) {
        eid = *rowEntryId;
    } else if (SUCCEEDED(HrGetOneProp(message, PR_INTERNET_MESSAGE_ID, &current)) &&
               current->ulPropTag == PR_INTERNET_MESSAGE_ID && current->Value.lpszA[0] == '<') {
        rebuilt = MakeHeaderEntryId(origin.articleNumber, current->Value.lpszA, origin.newsgroup);
        eid = SBinary{static_cast<ULONG>(rebuilt.size()), rebuilt.data()};
    }
    std::string hex;
    if (eid.cb > 0) {
        hex.resize(2 * static_cast<std::size_t>(eid.cb) + 1);
        HexFromBin(eid.lpb, static_cast<int>(eid.cb), hex.data());
        hex.pop_back();
    }

    std::array<SPropValue, 7> props{};
    ULONG n = 0;
    auto text = [&](ULONG tag, const std::string& s) {
        props[n].ulPropTag = tag;
        props[n++].Value.lpszA = const_cast<LPSTR>(s.c_str());
    };
    auto number = [&](ULONG tag, LONG value) {
        props[n].ulPropTag = tag;
        props[n++].Value.l = value;
    };
    const std::string messageClass = kPostMessageClass;
    text(PR_NEWSGROUP_NAME, origin.newsgroup);
    number(PR_INTERNET_ARTICLE_NUMBER, static_cast<LONG>(origin.articleNumber));
    text(PR_MESSAGE_CLASS, messageClass);
    text(PR_DISPLAY_TO, origin.newsgroup);
    number(PR_MESSAGE_FLAGS, static_cast<LONG>(flags));
    number(PR_CONTENT_FILTER_SCL, kContentFilterNone);
    if (!hex.empty()) text(PR_CORVANE_HEADER_ENTRYID_HEX, hex);
    MapiBuffer<SPropProblemArray> problems;
    const HRESULT hr = message->SetProps(n, props.data(), &problems);
    if (FAILED(hr)) return hr;
    if (problems && problems->cProblem > 0) return problems->aProblem[0].scode;
    return S_OK;
}

// A message the converter left without a delivery time takes its creation
// time (or, lacking that, now).
void SetDeliveryTime(IMessage* message)
{
    MapiBuffer<SPropValue> v;
    if (SUCCEEDED(HrGetOneProp(message, PR_MESSAGE_DELIVERY_TIME, &v))) return;
    SPropValue when{};
    when.ulPropTag = PR_MESSAGE_DELIVERY_TIME;
    if (SUCCEEDED(HrGetOneProp(message, PR_CREATION_TIME, &v)) && v->ulPropTag == PR_CREATION_TIME)
        when.Value.ft = v->Value.ft;
    else
        GetSystemTimeAsFileTime(&when.Value.ft);
    if (FAILED(HrSetOneProp(message, &when))) Trace("DeliverArticle -- delivery time not set\n");
}

}  // namespace

HRESULT DeliverArticle(IStream* article, const SBinary* rowEntryId, const SBinary* /*rowInstanceKey*/,
                       const DeliveryTarget& target, ArticleOrigin* delivered)
{
    if (!article) return E_INVALIDARG;
    ArticleOrigin origin;
    HRESULT hr = ReadOrigin(article, origin);
    if (FAILED(hr)) return hr;
    if (origin.articleNumber == 0) {
        Trace("DeliverArticle -- no article number\n");
        return E_FAIL;
    }

    ComPtr<IMAPIFolder> folder;
    if (FAILED(hr = OpenTargetFolder(target, origin.newsgroup, folder))) {
        Trace("DeliverArticle -- no folder for %s: %08x\n", origin.newsgroup.c_str(), static_cast<unsigned>(hr));
        return hr;
    }
    ComPtr<IMessage> message;
    if (FAILED(hr = folder->CreateMessage(nullptr, 0, &message))) return hr;
    if (FAILED(hr = Convert(article, message.Get()))) {
        Trace("DeliverArticle -- conversion of %s %u failed: %08x\n", origin.newsgroup.c_str(),
              static_cast<unsigned>(origin.articleNumber), static_cast<unsigned>(hr));
        return hr;
    }
    if (FAILED(hr = SetNewsProperties(message.Get(), origin, rowEntryId))) return hr;

    // What follows only refines the message; its failures do not stop delivery.
    SetDeliveryTime(message.Get());
    delivery::ThreadMessage(folder.Get(), message.Get());
    delivery::RemoveOwnPostCopy(folder.Get(), message.Get(), target.accountProps);

    if (FAILED(hr = message->SaveChanges(0))) return hr;
    if (target.confirm) target.confirm(origin.articleNumber, origin.newsgroup);
    if (delivered) *delivered = origin;
    return S_OK;
}

}  // namespace quillory::quarnex
