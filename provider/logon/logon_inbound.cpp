// The inbound step: StartMessage downloads one marked article per call and
// hands it to delivery.
#include <cstring>
#include <mutex>
#include <string>

#include "platform/base/trace.h"
#include "provider/delivery/logon_delivery.h"
#include "provider/folder/header_entryid.h"
#include "provider/logon/inbound_delivery.h"
#include "provider/logon/xp_logon.h"
#include "provider/status/mapi_status.h"

namespace quillory {

namespace {

std::mutex g_delivererMutex;
ArticleDeliverer g_deliverer;

const SPropValue* FindColumn(const SRow& row, ULONG tag)
{
    for (ULONG i = 0; i < row.cValues; ++i)
        if (row.lpProps[i].ulPropTag == tag) return &row.lpProps[i];
    return nullptr;
}

}  // namespace

void SetArticleDeliverer(ArticleDeliverer deliverer)
{
    std::lock_guard lock(g_delivererMutex);
    g_deliverer = std::move(deliverer);
}

HRESULT DeliverToBaseFolder(CXPLogon& logon, IStream* article, const SBinary& rowEntryId,
                            const SBinary& rowInstanceKey)
{
    ArticleDeliverer deliverer;
    {
        std::lock_guard lock(g_delivererMutex);
        deliverer = g_deliverer;
    }
    if (deliverer) return deliverer(logon, article, rowEntryId, rowInstanceKey);
    return quarnex::DeliverLogonArticle(logon, article, rowEntryId, rowInstanceKey);
}

void CXPLogon::DropFirstMarkedRow()
{
    IHeaderFolder* folder = Headers();
    if (!folder) return;
    LPSRowSet marked = nullptr;
    // Not recorded in the cache: the article is offered again next time.
    if (SUCCEEDED(folder->FirstMarkedRow(&marked)) && marked && marked->cRows > 0)
        folder->DeleteRows(*marked, false, false);
    if (marked) FreeProws(marked);
}

void CXPLogon::FinishInbound()
{
    statusCode_ &= ~kInboundBusyBits;
    if (state_ != HeaderState::Idle) state_ = HeaderState::Finished;
    UpdateStatusRow(true, true);
}

HRESULT CXPLogon::DownloadOneArticle(ComPtr<IStream>& article, std::vector<BYTE>& entryId,
                                     std::vector<BYTE>& instanceKey)
{
    IHeaderFolder* folder = Headers();
    LPSRowSet marked = nullptr;
    if (!folder || FAILED(folder->FirstMarkedRow(&marked)) || !marked) return E_FAIL;
    struct Free {
        LPSRowSet rows;
        ~Free() { FreeProws(rows); }
    } freeRows{marked};
    if (marked->cRows == 0) return E_FAIL;
    const SRow& row = marked->aRow[0];
    const SPropValue* id = FindColumn(row, PR_ENTRYID);
    const SPropValue* status = FindColumn(row, PR_MSG_STATUS);
    const SPropValue* key = FindColumn(row, PR_INSTANCE_KEY);
    if (!id || !FindColumn(row, PR_DISPLAY_TO) || !status || !key || !(status->Value.ul & MSGSTATUS_REMOTE_DOWNLOAD))
        return E_FAIL;
    entryId.assign(id->Value.bin.lpb, id->Value.bin.lpb + id->Value.bin.cb);
    instanceKey.assign(key->Value.bin.lpb, key->Value.bin.lpb + key->Value.bin.cb);

    HRESULT hr = downloader_->DownloadArticles(*marked, false);
    if (FAILED(hr)) {
        lastResult_ = hr;
        lastErrorText_.clear();
        return hr;
    }
    WaitForDownloader();
    if (!downloader_) return E_FAIL;
    if (downloader_->PendingCount() != 0) article = downloader_->TakeArticle();
    hr = downloader_->GetError(lastErrorText_);
    lastResult_ = hr;
    if (SUCCEEDED(hr) && !article) hr = E_FAIL;
    return hr;
}

HRESULT CXPLogon::StartMessage(ULONG ulFlags, LPMESSAGE lpMessage, ULONG_PTR* lpulMsgRef)
{
    if (const HRESULT hr = RefreshProfileValues(); FAILED(hr)) {
        // Nothing can be filed without the base folder: end the pass so that
        // the client collects the failure instead of waiting on a pass that
        // cannot finish.
        lastResult_ = hr;
        FinishInbound();
        return E_FAIL;
    }
    IHeaderFolder* folder = Headers();
    LPSRowSet marked = nullptr;
    const bool anyMarked = folder && SUCCEEDED(folder->FirstMarkedRow(&marked)) && marked && marked->cRows > 0;
    if (marked) FreeProws(marked);
    if (anyMarked) {
        if (!downloader_) {
            lastResult_ = E_FAIL;
            DropFirstMarkedRow();
        } else {
            ComPtr<IStream> article;
            std::vector<BYTE> entryId, instanceKey;
            DownloadOneArticle(article, entryId, instanceKey);
            if (article) {
                if (lpulMsgRef) *lpulMsgRef = 1;
                const SBinary id{static_cast<ULONG>(entryId.size()), entryId.data()};
                const SBinary key{static_cast<ULONG>(instanceKey.size()), instanceKey.data()};
                const HRESULT hr = DeliverToBaseFolder(*this, article.Get(), id, key);
                if (SUCCEEDED(hr)) {
                    if (quarnex::HeaderEntryId row; quarnex::ParseHeaderEntryId(entryId, row))
                        folder->Confirm(row.number, row.group);
                    ++deliveredCount_;
                } else {
                    DropFirstMarkedRow();
                    lastResult_ = hr;
                    state_ = HeaderState::Finished;
                    UpdateStatusRow(true, true);
                }
                return S_OK;
            }
            DropFirstMarkedRow();
        }
    }
    FinishInbound();
    return S_OK;
}

}  // namespace quillory
