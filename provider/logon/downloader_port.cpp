// The downloader the logon uses unless another is installed. Until the NNTP
// session is part of the library it only checks for the news component, and
// fails as a missing component does.
#include <mutex>

#include "platform/base/module.h"
#include "platform/base/trace.h"
#include "provider/logon/downloader_port.h"

namespace quillory {

namespace {

std::mutex g_factoryMutex;
DownloaderFactory g_factory;

class CUnavailableDownloader final : public IArticleDownloader {
public:
    HRESULT CreateTransport() override
    {
        // The news component publishes its transport under this name.
        HMODULE component = LoadLibrary("inetcomm.dll");
        if (component) FreeLibrary(component);
        Trace("CNNTPDownloader::CreateTransport -- %s\n",
              component ? "no NNTP session in this build" : "inetcomm.dll is missing");
        return E_FAIL;
    }
    HRESULT Open(CMAPIStatus*, LPSPropValue) override { return E_FAIL; }
    HRESULT CheckNewGroups(const FILETIME&) override { return E_FAIL; }
    HRESULT RefreshHeaders(ULONG) override { return E_FAIL; }
    HRESULT DownloadArticles(const SRowSet&, bool) override { return E_FAIL; }
    bool IsFinished() override { return true; }
    void RequestCancel() override {}
    HRESULT GetError(std::string& text) override
    {
        text.clear();
        return E_FAIL;
    }
    bool IsConnected() override { return false; }
    bool IsDisconnected() override { return true; }
    ULONG PendingCount() override { return 0; }
    ComPtr<IStream> TakeArticle() override { return nullptr; }
};

}  // namespace

void SetDownloaderFactory(DownloaderFactory factory)
{
    std::lock_guard lock(g_factoryMutex);
    g_factory = std::move(factory);
}

std::unique_ptr<IArticleDownloader> NewArticleDownloader()
{
    DownloaderFactory factory;
    {
        std::lock_guard lock(g_factoryMutex);
        factory = g_factory;
    }
    if (factory) return factory();
    return std::make_unique<CUnavailableDownloader>();
}

}  // namespace quillory
