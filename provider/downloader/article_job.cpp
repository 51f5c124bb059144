// The article job: for each marked row, GROUP when its group changes, then
// ARTICLE by number; each article becomes a pending stream (or, in cache
// mode, a cache file), and rows whose article is in the cache already are
// served from there without a command.
#include "provider/downloader/nntp_downloader.h"

#include "platform/base/trace.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/mapix.h"
#include "provider/downloader/article_cache.h"
#include "provider/folder/header_entryid.h"
#include "provider/folder/mapi_folder.h"
#include "common/server_record.h"

#include <strings.h>
#include <unistd.h>

#include <cstring>

namespace quillory::quarnex {
namespace {

// Entry IDs longer than this carry an article number, longer than the second
// one a newsgroup too.
constexpr ULONG kEntryIdNumberOnly = 4;
constexpr ULONG kEntryIdWithGroup = 6;

std::span<const BYTE> EntryIdOf(const SRow& row)
{
    const SBinary& bin = row.lpProps[0].Value.bin;
    return {bin.lpb, bin.lpb ? bin.cb : 0};
}

}  // namespace

ULONG CNNTPDownloader::SelectionBit() const { return cacheMode_ ? kMsgStatusPrefetch : MSGSTATUS_REMOTE_DOWNLOAD; }

SRow* CNNTPDownloader::CurrentRow() const
{
    if (!markedRows_) return nullptr;
    const ULONG bit = SelectionBit();
    for (ULONG i = 0; i < markedRows_->cRows; ++i) {
        SRow& row = markedRows_->aRow[i];
        if (row.cValues < 3 || !row.lpProps) continue;
        const SPropValue* p = row.lpProps;
        if (p[0].ulPropTag == PR_ENTRYID && p[1].ulPropTag == PR_DISPLAY_TO && p[2].ulPropTag == PR_MSG_STATUS &&
            (static_cast<ULONG>(p[2].Value.l) & bit) != 0)
            return &row;
    }
    return nullptr;
}

bool CNNTPDownloader::CurrentRowArticleNumber(ULONG& number) const
{
    const SRow* row = CurrentRow();
    if (!row) return false;
    const std::span<const BYTE> id = EntryIdOf(*row);
    return id.size() > kEntryIdNumberOnly && ReadHeaderEntryIdNumber(id, number);
}

bool CNNTPDownloader::CurrentRowGroup(std::string& group) const
{
    const SRow* row = CurrentRow();
    if (!row) return false;
    const std::span<const BYTE> id = EntryIdOf(*row);
    HeaderEntryId parsed;
    if (id.size() <= kEntryIdWithGroup || !ParseHeaderEntryId(id, parsed)) return false;
    group = std::move(parsed.group);
    return true;
}

std::string CNNTPDownloader::CurrentCachePath() const
{
    const SRow* row = CurrentRow();
    if (!row) return {};
    return ArticleCachePath(ArticleCacheKey(EntryIdOf(*row), AccountString(accountProperties_, acct::kAccountName)));
}

void CNNTPDownloader::ClearCurrentSelection()
{
    if (SRow* row = CurrentRow()) row->lpProps[2].Value.l = 0;
}

void CNNTPDownloader::ConsumeCachedArticles()
{
    for (std::string path = CurrentCachePath(); CacheFilePresent(path); path = CurrentCachePath()) {
        if (!cacheMode_) {
            ComPtr<IStream> article;
            if (FAILED(ReadCacheFile(path, article))) break;
            pending_.push_back(PendingItem{{}, std::move(article)});
            RowAction(*CurrentRow());
            ::unlink(path.c_str());
        }
        ClearCurrentSelection();
    }
}

void CNNTPDownloader::RowAction(const SRow& row)
{
    CMAPIFolder* folder = HeaderFolder();
    if (!folder) return;
    const ULONG status = static_cast<ULONG>(row.lpProps[2].Value.l);
    if (status & MSGSTATUS_REMOTE_DELETE) {
        folder->DeleteRow(row, true, (status & MSGSTATUS_REMOTE_DOWNLOAD) == 0);
    } else {
        // A copy was fetched and the row stays; the logon's pass takes the
        // first row marked for download, so the mark has to go with it.
        folder->MarkRead(row);
        folder->ClearDownloadMark(row);
    }
}

HRESULT CNNTPDownloader::SendArticle(ULONG number)
{
    if (!transport_) return E_FAIL;
    ARTICLEID id{};
    id.idType = AID_ARTICLENUM;
    id.dwArticleNum = number;
    return transport_->CommandARTICLE(&id);
}

void CNNTPDownloader::OnArticleGroup(const NNTPRESPONSE& response)
{
    // An article number means nothing outside its group: a refused group
    // fails its row instead of fetching that number from the group before.
    if (FAILED(response.rIxpResult.hrResult)) {
        currentGroup_.clear();
        ClearCurrentSelection();
        NextArticle();
        return;
    }
    ULONG number = 0;
    if (!CurrentRowArticleNumber(number)) {
        done_ = true;
        return;
    }
    const HRESULT hr = SendArticle(number);
    if (FAILED(hr)) RecordFailure(hr);
}

void CNNTPDownloader::OnArticle(const NNTPRESPONSE& response)
{
    if (mode_ != Mode::DownloadArticles) return;
    if (FAILED(response.rIxpResult.hrResult)) articleFailed_ = true;

    if (!articleFailed_ && !articleStream_) {
        if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &articleStream_))) {
            articleStream_.Reset();
            articleFailed_ = true;
        } else if (const SRow* row = CurrentRow()) {
            const SPropValue& to = row->lpProps[1];
            ULONG number = 0;
            CurrentRowArticleNumber(number);
            const std::string origin =
                FormatOriginLines(to.Value.lpszA ? to.Value.lpszA : "", static_cast<LONG>(number));
            ULONG written = 0;
            if (FAILED(articleStream_->Write(origin.data(), static_cast<ULONG>(origin.size()), &written)) ||
                written != origin.size()) {
                articleStream_.Reset();
                articleFailed_ = true;
            }
        }
    }
    if (!articleFailed_ && response.rArticle.pszLines && response.rArticle.cbLines > 0) {
        ULONG written = 0;
        if (FAILED(articleStream_->Write(response.rArticle.pszLines, response.rArticle.cbLines, &written)) ||
            written != response.rArticle.cbLines) {
            articleStream_.Reset();
            articleFailed_ = true;
        }
    }
    if (!response.fDone) return;

    if (articleStream_) {
        ComPtr<IStream> article = std::move(articleStream_);
        if (articleFailed_) {
            // dropped with its partial text
        } else if (cacheMode_) {
            WriteCacheFile(CurrentCachePath(), article.Get());  // unwritten: downloaded again when needed
        } else {
            LARGE_INTEGER start{};
            article->Seek(start, STREAM_SEEK_SET, nullptr);
            pending_.push_back(PendingItem{{}, std::move(article)});
            if (const SRow* row = CurrentRow()) RowAction(*row);
        }
    }
    articleFailed_ = false;
    ClearCurrentSelection();
    NextArticle();
}

bool CNNTPDownloader::SkipToFetchableRow(std::string& group)
{
    for (;;) {
        ConsumeCachedArticles();
        if (cancelRequested_ || !CurrentRow()) return false;
        if (CurrentRowGroup(group)) return true;
        ClearCurrentSelection();  // no group to fetch it from
    }
}

void CNNTPDownloader::NextArticle()
{
    std::string group;
    if (!SkipToFetchableRow(group)) {
        done_ = true;
        return;
    }
    HRESULT hr = S_OK;
    if (strcasecmp(group.c_str(), currentGroup_.c_str()) == 0) {
        ULONG number = 0;
        hr = CurrentRowArticleNumber(number) ? SendArticle(number) : E_FAIL;
    } else {
        currentGroup_ = group;
        hr = SendGroup(currentGroup_);
    }
    if (FAILED(hr)) RecordFailure(hr);
}

}  // namespace quillory::quarnex
