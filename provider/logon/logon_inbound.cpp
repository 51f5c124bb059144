// The inbound step: StartMessage downloads one marked article per call and
// hands it to delivery. The first call of a pass starts one article job over
// the marked rows, which fetches ahead in a window; each call then takes the
// outcome of its own row from that job, so the articles arrive, and are
// filed, exactly as one job per row would have them. Rows whose articles
// were fetched but never taken (the pass ended first) stay marked.
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

// Whether the article job makes an item of the row: the downloader's own
// test for a row it is to download.
bool AsksForDownload(const SRow& row)
{
    return row.cValues >= 3 && row.lpProps && row.lpProps[0].ulPropTag == PR_ENTRYID &&
           row.lpProps[1].ulPropTag == PR_DISPLAY_TO && row.lpProps[2].ulPropTag == PR_MSG_STATUS &&
           (row.lpProps[2].Value.ul & MSGSTATUS_REMOTE_DOWNLOAD) != 0;
}

bool SameEntryId(const SRow& a, const SRow& b)
{
    const SPropValue* x = FindColumn(a, PR_ENTRYID);
    const SPropValue* y = FindColumn(b, PR_ENTRYID);
    return x && y && x->Value.bin.cb == y->Value.bin.cb &&
           (x->Value.bin.cb == 0 || std::memcmp(x->Value.bin.lpb, y->Value.bin.lpb, x->Value.bin.cb) == 0);
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
    DiscardArticleJob();
    statusCode_ &= ~kInboundBusyBits;
    if (state_ != HeaderState::Idle) state_ = HeaderState::Finished;
    UpdateStatusRow(true, true);
}

HRESULT CXPLogon::StartArticleJob(IHeaderFolder& folder, const SRowSet& first)
{
    DiscardArticleJob();
    LPSRowSet rows = nullptr;
    if (FAILED(folder.MarkedRows(&rows, kArticleJobRows)) || !rows || rows->cRows == 0 ||
        !AsksForDownload(rows->aRow[0]) || !SameEntryId(rows->aRow[0], first.aRow[0])) {
        // The first marked row alone, as the folder gave it.
        if (rows) FreeProws(rows);
        rows = nullptr;
    }
    const SRowSet& job = rows ? *rows : first;
    const HRESULT hr = downloader_->DownloadArticles(job, false);
    if (SUCCEEDED(hr)) {
        for (ULONG i = 0; i < job.cRows; ++i) {
            const SRow& row = job.aRow[i];
            if (!AsksForDownload(row)) continue;
            const SBinary& id = row.lpProps[0].Value.bin;
            articleJobRows_.emplace_back(id.lpb, id.lpb + id.cb);
        }
    }
    if (rows) FreeProws(rows);
    return hr;
}

void CXPLogon::DiscardArticleJob()
{
    if (articleJobRows_.empty()) return;
    articleJobRows_.clear();
    if (downloader_) downloader_->DiscardArticles();
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

    // The running job serves this row when it is the next one it hands out;
    // otherwise (the first call of a pass, or rows changed meanwhile) a new
    // job starts here.
    if (articleJobRows_.empty() || articleJobRows_.front() != entryId) {
        if (const HRESULT hr = StartArticleJob(*folder, *marked); FAILED(hr)) {
            lastResult_ = hr;
            lastErrorText_.clear();
            return hr;
        }
    }
    WaitForDownloader([this] { return downloader_->PendingCount() != 0; });
    if (!downloader_) return E_FAIL;
    HRESULT hr = S_OK;
    if (downloader_->PendingCount() != 0 && !articleJobRows_.empty()) {
        // This row's outcome, whatever happened to the job after it.
        articleJobRows_.pop_front();
        article = downloader_->TakeArticle();
        lastErrorText_.clear();
    } else {
        // The job ended before it reached this row.
        articleJobRows_.clear();
        hr = downloader_->GetError(lastErrorText_);
    }
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
