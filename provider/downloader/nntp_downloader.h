// CNNTPDownloader: the NNTP session with the four jobs a logon hands it.
//
// 1. RefreshHeaders: the headers of the subscribed newsgroups become rows of
//    the remote-header table (newest `limit` per group, less known articles).
// 2. DownloadArticles: the marked header rows' articles become pending
//    article streams, or, in cache mode, "__%08x.msg" files in "DIR".
// 3. PostArticle: one article text is posted.
// 4. CheckNewGroups: groups created since a time are merged into the
//    account's group-list file with '!' marks.
// Open connects and leaves the connection idle.
//
// A job call returns at once after sending its first command (or the
// connect); the job advances in OnResponse while the caller pumps messages,
// until it is done, records an error or loses the connection. The caller
// waits with its own message loop until IsFinished(), passing a cancel on
// through RequestCancel(), then reads GetError(), PendingCount() and
// TakeArticle(). One job runs at a time; the connection stays open between
// jobs, and the next job after a disconnection reconnects.
//
// The folder owner and the account array are borrowed and must stay valid
// until the job finishes. Everything runs on the creating thread.
#pragma once

#include "platform/base/time.h"
#include "platform/base/wintypes.h"
#include "platform/com/com_ptr.h"
#include "platform/com/stream.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapidefs.h"
#include "provider/downloader/article_cache.h"
#include "provider/downloader/folder_owner.h"
#include "provider/downloader/group_list_merge.h"
#include "provider/downloader/subject_decoder.h"
#include "provider/nntp/nntp_proto.h"

#include <deque>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace quillory::quarnex {

// Frees a row set and its rows.
struct RowSetDeleter {
    void operator()(SRowSet* rows) const { FreeProws(rows); }
};
using OwnedRowSet = std::unique_ptr<SRowSet, RowSetDeleter>;

class CNNTPDownloader : public CNNTPProto {
public:
    enum class Mode { None = 0, RefreshHeaders = 1, DownloadArticles = 2, Post = 3, NewGroups = 4 };

    CNNTPDownloader();
    ~CNNTPDownloader() override;

    // Connects and leaves the connection idle (waits until the component is).
    // E_FAIL while a job mode is set or already connected.
    HRESULT Open(CFolderOwner* folderOwner, std::span<SPropValue> accountProperties);

    // Header job over the subscribed groups; at most `lastMessagesLimit`
    // newest articles per group (0 or less: no limit). With no subscribed
    // group it is done at once, without connecting, and answers S_OK.
    HRESULT RefreshHeaders(CFolderOwner* folderOwner, std::span<SPropValue> accountProperties,
                           LONG lastMessagesLimit);

    // New-groups job: groups created since `sinceUtc` (UTC).
    HRESULT CheckNewGroups(CFolderOwner* folderOwner, std::span<SPropValue> accountProperties,
                           const SYSTEMTIME& sinceUtc);

    // Article job over the rows whose PR_MSG_STATUS carries the selection bit
    // (the prefetch bit 0x01000000 in cache mode, MSGSTATUS_REMOTE_DOWNLOAD
    // otherwise). Cache mode stores the articles as cache files for a later
    // download instead of handing them out.
    // The rows' first four columns are PR_ENTRYID, PR_DISPLAY_TO,
    // PR_MSG_STATUS and PR_INSTANCE_KEY. The downloader takes the row set in
    // every case, failures included; the caller keeps no part of it.
    HRESULT DownloadArticles(CFolderOwner* folderOwner, std::span<SPropValue> accountProperties,
                             OwnedRowSet markedRows, bool cacheMode);

    // Post job for one article (the text is copied). E_OUTOFMEMORY when its
    // memory cannot be had.
    HRESULT PostArticle(CFolderOwner* folderOwner, std::span<SPropValue> accountProperties,
                        std::string_view articleText);

    // Not connected, or done, or failed.
    bool IsFinished() const;
    bool IsDisconnected() const { return !connected_; }
    // When a job is running on a live connection: waits until the component
    // is idle.
    void WaitWhileActive();
    // Stops the job at its next step (the current command completes first).
    void RequestCancel() { cancelRequested_ = true; }

    // False when no error was recorded; else the code and, when `text` is
    // given, the error text (empty when none).
    bool GetError(HRESULT& code, std::string* text) const;

    // Downloaded articles (and, during a header job, the groups still to do).
    std::size_t PendingCount() const { return pending_.size(); }
    // Removes the front item; its stream when it is an article (the caller
    // owns the reference), else null.
    ComPtr<IStream> TakeArticle();
    void ClearPending() { pending_.clear(); }

    Mode CurrentMode() const { return mode_; }

    // Callback slots the downloader answers itself.
    HRESULT OnTimeout(DWORD* pdwTimeout, IInternetTransport* pTransport) override;
    HRESULT OnLogonPrompt(INETSERVER* pInetServer, IInternetTransport* pTransport) override;
    HRESULT OnStatus(IXPSTATUS ixpstatus, IInternetTransport* pTransport) override;
    HRESULT OnError(IXPSTATUS ixpstatus, LPIXPRESULT pResult, IInternetTransport* pTransport) override;
    HRESULT OnResponse(LPNNTPRESPONSE pResponse) override;

private:
    struct PendingItem {
        std::string group;        // a group of a header job, or
        ComPtr<IStream> article;  // a downloaded article
    };
    using ResponseHandler = void (CNNTPDownloader::*)(const NNTPRESPONSE&);
    struct ResponseRoute {
        NNTPSTATE state;
        ResponseHandler handler;
    };
    static const ResponseRoute kRoutes[];

    // Job start shared by the four jobs; `setup` may finish the job at once.
    template <class Setup>
    HRESULT StartJob(Mode mode, CFolderOwner* folderOwner, std::span<SPropValue> accountProperties, Setup setup);
    HRESULT Dispatch();
    CMAPIFolder* HeaderFolder() const;
    // Records a failed call's result as the job's error.
    void RecordFailure(HRESULT hr);
    // An unfinished job whose connection went: IXP_E_CONNECTION_DROPPED
    // unless an error is recorded already.
    void NoteLostJob();

    // Responses.
    void OnDisconnected(const NNTPRESPONSE& response);
    void OnConnect(const NNTPRESPONSE& response);
    void OnPost(const NNTPRESPONSE& response);
    void OnGroup(const NNTPRESPONSE& response);
    void OnHeaders(const NNTPRESPONSE& response);
    void OnArticle(const NNTPRESPONSE& response);
    void OnNewGroups(const NNTPRESPONSE& response);

    // Header job.
    void BuildGroupList();
    void OnHeaderGroup(const NNTPRESPONSE& response);
    void AdvanceGroup();
    HRESULT SendGroup(const std::string& group);

    // Article job.
    SRow* CurrentRow() const;
    ULONG SelectionBit() const;
    bool CurrentRowArticleNumber(ULONG& number) const;
    bool CurrentRowGroup(std::string& group) const;
    std::string CurrentCachePath() const;
    void ClearCurrentSelection();
    void ConsumeCachedArticles();
    // Serves cached rows and passes rows without a group; false when no row
    // is left to fetch (or the job is cancelled), else the row's group.
    bool SkipToFetchableRow(std::string& group);
    void RowAction(const SRow& row);
    void OnArticleGroup(const NNTPRESPONSE& response);
    void NextArticle();
    HRESULT SendArticle(ULONG number);

    CFolderOwner* folderOwner_ = nullptr;
    Mode mode_ = Mode::None;
    std::deque<PendingItem> pending_;
    LONG lastMessagesLimit_ = 0;
    OwnedRowSet markedRows_;
    bool cacheMode_ = false;
    ComPtr<IStream> postStream_;
    ULONG postSize_ = 0;
    ComPtr<IStream> articleStream_;
    bool articleFailed_ = false;
    std::string currentGroup_;
    CGroupListMerge list_;
    SYSTEMTIME newGroupsSince_{};
    CSubjectDecoder subjects_;
};

}  // namespace quillory::quarnex
