// The downloader the logon uses unless another is installed: the NNTP
// downloader, given the logon's current account array and status object at
// every step (the array is replaced whenever the settings are reloaded).
#include <mutex>

#include "common/account_props.h"
#include "platform/base/time.h"
#include "platform/mapi/proputil.h"
#include "provider/downloader/nntp_downloader.h"
#include "provider/logon/downloader_port.h"
#include "provider/logon/xp_logon.h"
#include "provider/status/mapi_status.h"

namespace quillory {

namespace {

std::mutex g_factoryMutex;
DownloaderFactory g_factory;

class CNntpArticleDownloader final : public IArticleDownloader {
public:
    explicit CNntpArticleDownloader(CXPLogon& logon) : logon_(logon) {}

    HRESULT CreateTransport() override { return session_.CreateTransport(); }
    HRESULT Open() override { return session_.Open(Owner(), Account()); }
    HRESULT CheckNewGroups(const FILETIME& sinceUtc) override
    {
        SYSTEMTIME since{};
        if (!FileTimeToSystemTime(&sinceUtc, &since)) return E_INVALIDARG;
        return session_.CheckNewGroups(Owner(), Account(), since);
    }
    HRESULT RefreshHeaders(ULONG headerLimit) override
    {
        return session_.RefreshHeaders(Owner(), Account(), static_cast<LONG>(headerLimit));
    }
    HRESULT DownloadArticles(const SRowSet& rows, bool cacheOnly) override
    {
        // The session takes a row set of its own.
        quarnex::OwnedRowSet copy;
        LPSRowSet set = nullptr;
        if (FAILED(MAPIAllocateBuffer(CbNewSRowSet(rows.cRows ? rows.cRows : 1), reinterpret_cast<void**>(&set))))
            return E_OUTOFMEMORY;
        set->cRows = 0;
        copy.reset(set);
        for (ULONG i = 0; i < rows.cRows; ++i) {
            if (FAILED(CopyRow(rows.aRow[i], &set->aRow[i]))) return E_OUTOFMEMORY;
            set->cRows = i + 1;
        }
        return session_.DownloadArticles(Owner(), Account(), std::move(copy), cacheOnly);
    }
    HRESULT PostArticle(std::string_view articleText) override
    {
        return session_.PostArticle(Owner(), Account(), articleText);
    }
    void WaitWhileActive() override { session_.WaitWhileActive(); }
    bool IsFinished() override { return session_.IsFinished(); }
    void RequestCancel() override { session_.RequestCancel(); }
    HRESULT GetError(std::string& text) override
    {
        HRESULT code = S_OK;
        text.clear();
        return session_.GetError(code, &text) ? code : S_OK;
    }
    bool IsConnected() override { return session_.Connected(); }
    bool IsDisconnected() override { return session_.IsDisconnected(); }
    ULONG PendingCount() override { return static_cast<ULONG>(session_.PendingCount()); }
    ComPtr<IStream> TakeArticle() override { return session_.TakeArticle(); }
    void DiscardArticles() override
    {
        session_.RequestCancel();
        session_.ClearPending();
    }

private:
    std::span<SPropValue> Account() const
    {
        LPSPropValue values = logon_.AccountProps();
        return values ? std::span<SPropValue>(values, acct::kCount) : std::span<SPropValue>();
    }
    quarnex::CFolderOwner* Owner() const { return logon_.StatusObject(); }

    CXPLogon& logon_;
    quarnex::CNNTPDownloader session_;
};

}  // namespace

void SetDownloaderFactory(DownloaderFactory factory)
{
    std::lock_guard lock(g_factoryMutex);
    g_factory = std::move(factory);
}

std::unique_ptr<IArticleDownloader> NewArticleDownloader(CXPLogon& logon)
{
    DownloaderFactory factory;
    {
        std::lock_guard lock(g_factoryMutex);
        factory = g_factory;
    }
    if (factory) return factory(logon);
    return std::make_unique<CNntpArticleDownloader>(logon);
}

}  // namespace quillory
