// CNNTPDownloader: the NNTP session with the four jobs a logon hands it.
//
// 1. RefreshHeaders: the headers of the subscribed newsgroups become rows of
//    the remote-header table (newest `limit` per group, less known articles).
// 2. DownloadArticles: the marked header rows' articles become pending
//    article streams, or, in cache mode, "__%08x.msg" files in "DIR".
//    Up to kArticleWindow requests are on their way at once (the component
//    pipelines them), so a long path costs a round trip per window, not per
//    article; the answers are handled in row order as one command at a time
//    would have them. Outside cache mode every marked row gets one pending
//    item, in row order: its article, or an empty item when it failed. The
//    row action (read mark, or removal) waits until the item is taken, so an
//    article fetched ahead but never taken leaves its row as it was.
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

// Article requests (and rows served from the cache) an article job keeps
// ahead of what its owner has taken, and the bytes of fetched articles
// beyond which it asks for no more until some are taken.
constexpr std::size_t kArticleWindow = 64;
constexpr ULONGLONG kArticleWindowBytes = 32ull << 20;

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
    // owns the reference), else null. Taking an article runs its row's row
    // action and makes room for the next request.
    ComPtr<IStream> TakeArticle();
    void ClearPending();

    Mode CurrentMode() const { return mode_; }

    // Callback slots the downloader answers itself.
    HRESULT OnTimeout(DWORD* pdwTimeout, IInternetTransport* pTransport) override;
    HRESULT OnLogonPrompt(INETSERVER* pInetServer, IInternetTransport* pTransport) override;
    HRESULT OnStatus(IXPSTATUS ixpstatus, IInternetTransport* pTransport) override;
    HRESULT OnError(IXPSTATUS ixpstatus, LPIXPRESULT pResult, IInternetTransport* pTransport) override;
    HRESULT OnResponse(LPNNTPRESPONSE pResponse) override;

private:
    static constexpr ULONG kNoRow = 0xFFFFFFFF;
    struct PendingItem {
        explicit PendingItem(std::string groupName) : group(std::move(groupName)) {}
        PendingItem(ULONG rowIndex, ComPtr<IStream> text = {}, std::string cacheFile = {}, ULONGLONG size = 0)
            : article(std::move(text)), row(rowIndex), cachePath(std::move(cacheFile)), bytes(size)
        {
        }
        std::string group;        // a group of a header job, or
        ComPtr<IStream> article;  // a downloaded article, or neither: a row whose article failed
        ULONG row = kNoRow;       // the marked row of an article job's item
        std::string cachePath;    // the cache file it came from, deleted once it is taken
        ULONGLONG bytes = 0;
    };
    // What the article job has asked for and not yet handled, in row order:
    // commands on their way and, behind them, rows served without one.
    struct Issued {
        enum class Kind { Group, Article, Cached, Unfetchable };
        Issued(Kind k, ULONG rowIndex, ComPtr<IStream> text = {}, std::string cacheFile = {})
            : kind(k), row(rowIndex), article(std::move(text)), cachePath(std::move(cacheFile))
        {
        }
        Kind kind;
        ULONG row;
        bool voided = false;      // its answer comes but no longer counts
        ComPtr<IStream> article;  // Cached: the file's content
        std::string cachePath;
        bool InFlight() const { return kind == Kind::Group || kind == Kind::Article; }
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
    ULONG SelectionBit() const;
    bool RowSelected(ULONG row) const;
    ULONG NextSelectedRow(ULONG from) const;
    std::string RowCachePath(const SRow& row) const;
    void RowAction(const SRow& row);
    // A job that has neither finished nor failed.
    bool Live() const { return !done_ && errorCode_ == S_OK; }
    bool Room() const;
    // Asks for rows while the window has room, then hands on what is ready.
    void TopUp();
    void IssueRow(ULONG row);
    void Settle();
    // The answers still to come no longer count; rows not asked for yet
    // are forgotten.
    void VoidIssued();
    void AfterAnswer();
    void OnArticleGroup(const NNTPRESPONSE& response);
    void AppendArticlePart(ULONG row, const NNTPRESPONSE& response);
    void FinishArticle(ULONG row);
    void AddFailedRow(ULONG row);
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
    std::deque<Issued> issued_;
    ULONG nextRow_ = 0;        // the next row to consider asking for
    std::string issuedGroup_;  // the group the last GROUP asked for selects
    ULONGLONG pendingBytes_ = 0;
    // Header job: the GROUP of the next group went out with the overview
    // request of the current one.
    bool nextGroupSent_ = false;
    CGroupListMerge list_;
    SYSTEMTIME newGroupsSince_{};
    CSubjectDecoder subjects_;
};

}  // namespace quillory::quarnex
