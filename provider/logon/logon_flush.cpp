// The download side of the logon: the downloader's life, the wait loop, and
// FlushQueues with the header refresh, the cache fill and the marked-rows
// pass.
#include <cstring>

#include "common/regstore.h"
#include "platform/base/time.h"
#include "platform/base/trace.h"
#include "platform/base/window.h"
#include "provider/logon/xp_logon.h"
#include "provider/settings/account_settings.h"
#include "provider/status/mapi_status.h"

namespace quillory {

namespace {

constexpr LONGLONG kSecondsPerMinute = 60;
// A week-long interval asks from one minute earlier still, so that groups
// created around the previous check are not missed.
constexpr LONGLONG kDefaultIntervalOverlapSeconds = 60;

bool HasListColumns(const SRow& row)
{
    bool entryId = false, displayTo = false, status = false;
    for (ULONG i = 0; i < row.cValues; ++i) {
        const ULONG tag = row.lpProps[i].ulPropTag;
        entryId |= tag == PR_ENTRYID;
        displayTo |= tag == PR_DISPLAY_TO;
        status |= tag == PR_MSG_STATUS;
    }
    return entryId && displayTo && status;
}

ULONG RowStatus(const SRow& row)
{
    for (ULONG i = 0; i < row.cValues; ++i)
        if (row.lpProps[i].ulPropTag == PR_MSG_STATUS) return row.lpProps[i].Value.ul;
    return 0;
}

// The rows of `all` that pass `keep`, sharing their values with `all`.
template <class Keep>
quarnex::ProviderBuffer<SRowSet> SelectRows(const SRowSet& all, Keep keep)
{
    quarnex::ProviderBuffer<SRowSet> out;
    if (FAILED(quarnex::AllocateBuffer(CbNewSRowSet(all.cRows ? all.cRows : 1), out.AsVoidOut()))) return out;
    out->cRows = 0;
    for (ULONG i = 0; i < all.cRows; ++i)
        if (keep(all.aRow[i])) out->aRow[out->cRows++] = all.aRow[i];
    return out;
}

// Now, UTC, in whole seconds.
FILETIME NowWholeSeconds()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG v = FileTimeToUInt64(now);
    return FileTimeFromUInt64(v - v % kFileTimeTicksPerSecond);
}

}  // namespace

HRESULT CXPLogon::EnsureDownloader()
{
    if (downloader_) return S_OK;
    lastErrorText_.clear();
    std::unique_ptr<IArticleDownloader> downloader;
    try {
        downloader = NewArticleDownloader(*this);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (!downloader) return E_OUTOFMEMORY;
    HRESULT hr = downloader->CreateTransport();
    if (SUCCEEDED(hr)) {
        // The downloader reaches the header folder through the status object.
        if (!status_) {
            ComPtr<IMAPIStatus> status;
            OpenStatusEntry(nullptr, 0, nullptr, &status);
        }
        hr = downloader->Open();
    }
    if (FAILED(hr)) {
        Trace("CXPLogon::EnsureDownloader -- 0x%08X\n", static_cast<unsigned>(hr));
        return hr;
    }
    downloader_ = std::move(downloader);
    return S_OK;
}

void CXPLogon::CloseDownloader()
{
    if (!downloader_) return;
    // A session that connected may have changed the settings (the last-check time).
    if (downloader_->IsConnected()) {
        if (const HRESULT hr = LoadAccountSettings(true); FAILED(hr))
            Trace("CXPLogon::CloseDownloader -- write-back: 0x%08X\n", static_cast<unsigned>(hr));
    }
    DiscardArticleJob();
    downloader_.reset();
}

void CXPLogon::WaitForDownloader(const std::function<bool()>& ready)
{
    try {
        while (downloader_ && !downloader_->IsFinished() && !(ready && ready())) {
            const DWORD r = MsgWaitForMultipleObjects(0, nullptr, TRUE, kWaitSliceMs, QS_ALLINPUT);
            if (r == WAIT_TIMEOUT || r == WAIT_FAILED) {
                if (support_) support_->SpoolerYield(0);
            } else {
                MSG msg{};
                const BOOL got = GetMessage(&msg, nullptr, 0, 0);
                if (got == 0) {
                    // Leave the quit request for the thread's own loop.
                    PostQuitMessage(static_cast<int>(msg.wParam));
                    break;
                }
                if (got > 0) {
                    TranslateMessage(&msg);
                    DispatchMessage(&msg);
                }
            }
            if (abortRequested_ && downloader_) downloader_->RequestCancel();
        }
    } catch (...) {
        Trace("CXPLogon::WaitForDownloader -- ended by an exception\n");
    }
}

void CXPLogon::RunNewGroupsCheck()
{
    const FILETIME now = NowWholeSeconds();
    const auto last = AccountTime(account_.Get(), acct::kLastNewGroupsCheck);
    if (!last) {
        // First request on this account: remember the time, check next time.
        if (account_) {
            SPropValue& v = account_.Get()[acct::kLastNewGroupsCheck];
            v.ulPropTag = acct::PR_NNTP_LAST_NEWGROUPS_CHECK;
            v.Value.ft = now;
            LoadAccountSettings(true);
        }
        return;
    }
    DWORD minutes = kDefaultNewNewsgroupsMinutes;
    ReadRegDword(kMainKey, kValNewNewsgroupsTime, minutes, kDefaultNewNewsgroupsMinutes);
    const ULONGLONG span = static_cast<ULONGLONG>(minutes) * kSecondsPerMinute * kFileTimeTicksPerSecond;
    const ULONGLONG nowTicks = FileTimeToUInt64(now);
    const bool thresholdFormed = span <= nowTicks;
    const FILETIME threshold = FileTimeFromUInt64(thresholdFormed ? nowTicks - span : 0);
    if (thresholdFormed && CompareFileTime(&*last, &threshold) >= 0) return;

    // An interval reaching before 1601 asks since the last check instead.
    ULONGLONG since = thresholdFormed ? FileTimeToUInt64(threshold) : FileTimeToUInt64(*last);
    if (minutes == kDefaultNewNewsgroupsMinutes) {
        const ULONGLONG overlap = kDefaultIntervalOverlapSeconds * kFileTimeTicksPerSecond;
        since = since > overlap ? since - overlap : 0;
    }
    DiscardArticleJob();
    HRESULT hr = downloader_->CheckNewGroups(FileTimeFromUInt64(since));
    if (SUCCEEDED(hr)) {
        WaitForDownloader();
        if (!downloader_) return;
        hr = downloader_->GetError(lastErrorText_);
    }
    lastResult_ = hr;
    if (SUCCEEDED(hr) && account_) {
        SPropValue& v = account_.Get()[acct::kLastNewGroupsCheck];
        v.ulPropTag = acct::PR_NNTP_LAST_NEWGROUPS_CHECK;
        v.Value.ft = NowWholeSeconds();
        LoadAccountSettings(true);
    }
}

void CXPLogon::RunHeaderDownload()
{
    IHeaderFolder* folder = Headers();
    if (FAILED(lastResult_) || (folder && folder->RowCount() != 0)) return;
    support_->SpoolerNotify(NOTIFY_SENTDEFERRED, nullptr);
    DiscardArticleJob();
    HRESULT hr = downloader_->RefreshHeaders(headerLimit_);
    if (SUCCEEDED(hr)) {
        WaitForDownloader();
        if (!downloader_) return;
        hr = downloader_->GetError(lastErrorText_);
    }
    lastResult_ = hr;
}

void CXPLogon::StartCacheFill()
{
    IHeaderFolder* folder = Headers();
    if (!folder || !downloader_) return;
    LPSRowSet all = nullptr;
    if (FAILED(folder->AllRows(&all)) || !all) return;
    if (all->cRows >= kCacheFillMinRows) {
        auto rows = SelectRows(*all, HasListColumns);
        if (rows && rows->cRows) {
            folder->MarkRows(*rows.Get(), kCacheFillStatusBit);
            DiscardArticleJob();
            if (const HRESULT hr = downloader_->DownloadArticles(*rows.Get(), true); FAILED(hr))
                Trace("CXPLogon::StartCacheFill -- 0x%08X\n", static_cast<unsigned>(hr));
        }
    }
    FreeProws(all);
}

HRESULT CXPLogon::FlushQueues(ULONG_PTR ulUIParam, ULONG cbTargetTransport, LPENTRYID lpTargetTransport,
                              ULONG ulFlags)
{
    Trace("CXPLogon::FlushQueues -- start\n");
    if (!status_) {
        ComPtr<IMAPIStatus> status;
        OpenStatusEntry(nullptr, 0, nullptr, &status);
    }
    if (ulFlags & FLUSH_UPLOAD) {
        statusCode_ |= STATUS_OUTBOUND_FLUSH;
        UpdateStatusRow(false);
        if (state_ != HeaderState::Idle) {
            state_ = HeaderState::Idle;
            support_->SpoolerNotify(NOTIFY_SENTDEFERRED, nullptr);
        }
    }
    if (!(ulFlags & FLUSH_DOWNLOAD)) return S_OK;

    if (state_ == HeaderState::Idle) {
        downloadRequested_ = true;
        state_ = HeaderState::ProcessRequested;
    }
    if (downloadRequested_ || state_ == HeaderState::RefreshRequested) {
        lastResult_ = EnsureDownloader();
        if (downloader_) {
            RunNewGroupsCheck();
            if (downloader_) RunHeaderDownload();
        }
        if (!downloadRequested_) {
            DWORD disableCache = 0;
            ReadRegDword(kMainKey, kValDisableCache, disableCache, 0);
            if (disableCache != kDisableValueOn) StartCacheFill();
            state_ = HeaderState::Finished;
            statusCode_ &= ~STATUS_INBOUND_FLUSH;
            UpdateStatusRow(true, true);
            return S_OK;
        }
    } else if (state_ != HeaderState::ProcessRequested) {
        return S_OK;
    }

    // Marked-rows pass.
    totalRows_ = 0;
    deliveredCount_ = 0;
    IHeaderFolder* folder = Headers();
    if (SUCCEEDED(EnsureDownloader()) && folder) {
        LPSRowSet all = nullptr;
        if (SUCCEEDED(folder->AllRows(&all)) && all) {
            auto doomed = SelectRows(*all, [](const SRow& row) {
                const ULONG status = RowStatus(row);
                return HasListColumns(row) && !(status & MSGSTATUS_REMOTE_DOWNLOAD) &&
                       (status & (MSGSTATUS_REMOTE_DELETE | MSGSTATUS_DELMARKED));
            });
            if (doomed && doomed->cRows) folder->DeleteRows(*doomed.Get(), true, true);  // the user discarded them
            FreeProws(all);
        }
    }
    LPSRowSet marked = nullptr;
    const bool anyMarked = folder && SUCCEEDED(folder->FirstMarkedRow(&marked)) && marked && marked->cRows > 0;
    if (marked) FreeProws(marked);
    if (FAILED(lastResult_) || !anyMarked) {
        state_ = HeaderState::Finished;
        statusCode_ &= ~kInboundBusyBits;
        UpdateStatusRow(true, true);
    } else {
        totalRows_ = folder->RowCount();
        statusCode_ |= kInboundBusyBits;
        UpdateStatusRow(false);
    }
    Trace("CXPLogon::FlushQueues -- exit\n");
    return S_OK;
}

}  // namespace quillory
