// What the logon asks of the article downloader. The logon drives one
// downloader at a time: each operation starts one NNTP command and returns;
// the logon then pumps messages in its wait loop until IsFinished holds and
// collects the outcome with GetError.
//
// The default is the NNTP downloader of provider/downloader/, working for
// the logon that made it (its account array and status object);
// SetDownloaderFactory installs a different one (tests use a scripted one).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/com/com_ptr.h"
#include "platform/com/stream.h"
#include "platform/mapi/mapidefs.h"

namespace quillory {

class CXPLogon;

class IArticleDownloader {
public:
    virtual ~IArticleDownloader() = default;

    // Loads the news component and prepares the session; E_FAIL when the
    // component or its entry is missing.
    virtual HRESULT CreateTransport() = 0;
    // Makes the session ready for the logon's account (connecting).
    virtual HRESULT Open() = 0;

    // Operations; a success means the operation started.
    virtual HRESULT CheckNewGroups(const FILETIME& sinceUtc) = 0;
    virtual HRESULT RefreshHeaders(ULONG headerLimit) = 0;  // 0: no limit
    virtual HRESULT DownloadArticles(const SRowSet& rows, bool cacheOnly) = 0;
    virtual HRESULT PostArticle(std::string_view articleText) = 0;
    // While a job runs on a live connection: returns when the component is
    // idle, pumping messages meanwhile.
    virtual void WaitWhileActive() = 0;

    // Not connected, or done, or failed.
    virtual bool IsFinished() = 0;
    virtual void RequestCancel() = 0;
    // Result of the latest operation and its error text.
    virtual HRESULT GetError(std::string& text) = 0;
    virtual bool IsConnected() = 0;
    virtual bool IsDisconnected() = 0;

    // Downloaded articles waiting to be taken, and the next one as a stream
    // (origin header lines first).
    // An article job gives one item per row it was given that asks for a
    // download, in the rows' order: the article, or null when the row failed;
    // the job may fetch ahead of what is taken.
    virtual ULONG PendingCount() = 0;
    virtual ComPtr<IStream> TakeArticle() = 0;
    // Stops an article job and drops what it fetched and nobody took; the
    // rows of those articles stay as they were.
    virtual void DiscardArticles() = 0;
};

using DownloaderFactory = std::function<std::unique_ptr<IArticleDownloader>(CXPLogon& logon)>;

// The factory the logon uses; an empty function restores the default one.
void SetDownloaderFactory(DownloaderFactory factory);
std::unique_ptr<IArticleDownloader> NewArticleDownloader(CXPLogon& logon);

}  // namespace quillory
