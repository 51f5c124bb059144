// The article job: for each marked row, GROUP when its group changes, then
// ARTICLE by number; each article becomes a pending stream (or, in cache
// mode, a cache file), and rows whose article is in the cache already are
// served from there without a command.
//
// Requests are kept ahead in a window (kArticleWindow): the component sends
// them together and its answers come back in order, each matched to the
// front of `issued_`. A refused GROUP fails its row, and the commands behind
// it ran in the group selected before, so their answers are dropped and
// their rows asked for again: the outcome is the one a command at a time
// would give.
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

bool RowArticleNumber(const SRow& row, ULONG& number)
{
    const std::span<const BYTE> id = EntryIdOf(row);
    return id.size() > kEntryIdNumberOnly && ReadHeaderEntryIdNumber(id, number);
}

bool RowGroup(const SRow& row, std::string& group)
{
    const std::span<const BYTE> id = EntryIdOf(row);
    HeaderEntryId parsed;
    if (id.size() <= kEntryIdWithGroup || !ParseHeaderEntryId(id, parsed)) return false;
    group = std::move(parsed.group);
    return true;
}

ULONGLONG StreamSize(IStream* stream)
{
    STATSTG stat{};
    return stream && SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) ? stat.cbSize.QuadPart : 0;
}

}  // namespace

ULONG CNNTPDownloader::SelectionBit() const { return cacheMode_ ? kMsgStatusPrefetch : MSGSTATUS_REMOTE_DOWNLOAD; }

bool CNNTPDownloader::RowSelected(ULONG index) const
{
    const SRow& row = markedRows_->aRow[index];
    if (row.cValues < 3 || !row.lpProps) return false;
    const SPropValue* p = row.lpProps;
    return p[0].ulPropTag == PR_ENTRYID && p[1].ulPropTag == PR_DISPLAY_TO && p[2].ulPropTag == PR_MSG_STATUS &&
           (static_cast<ULONG>(p[2].Value.l) & SelectionBit()) != 0;
}

ULONG CNNTPDownloader::NextSelectedRow(ULONG from) const
{
    if (!markedRows_) return kNoRow;
    for (ULONG i = from; i < markedRows_->cRows; ++i)
        if (RowSelected(i)) return i;
    return kNoRow;
}

std::string CNNTPDownloader::RowCachePath(const SRow& row) const
{
    return ArticleCachePath(ArticleCacheKey(EntryIdOf(row), AccountString(accountProperties_, acct::kAccountName)));
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

ComPtr<IStream> CNNTPDownloader::TakeArticle()
{
    if (pending_.empty()) return {};
    PendingItem item = std::move(pending_.front());
    pending_.pop_front();
    pendingBytes_ -= std::min(pendingBytes_, item.bytes);
    if (item.article && item.row != kNoRow && markedRows_ && item.row < markedRows_->cRows) {
        RowAction(markedRows_->aRow[item.row]);
        if (!item.cachePath.empty()) ::unlink(item.cachePath.c_str());
    }
    if (mode_ == Mode::DownloadArticles) TopUp();
    return std::move(item.article);
}

void CNNTPDownloader::ClearPending()
{
    pending_.clear();
    pendingBytes_ = 0;
}

bool CNNTPDownloader::Room() const
{
    return issued_.size() + pending_.size() < kArticleWindow && pendingBytes_ < kArticleWindowBytes;
}

void CNNTPDownloader::TopUp()
{
    if (!Live() || !connected_) return;
    if (cancelRequested_) {
        VoidIssued();
        done_ = true;
        return;
    }
    while (Room()) {
        const ULONG row = NextSelectedRow(nextRow_);
        if (row == kNoRow) break;
        nextRow_ = row + 1;
        IssueRow(row);
        if (!Live()) return;
    }
    Settle();
}

void CNNTPDownloader::IssueRow(ULONG index)
{
    const SRow& row = markedRows_->aRow[index];
    const std::string path = RowCachePath(row);
    if (CacheFilePresent(path)) {
        if (cacheMode_) return;  // fetched before: nothing to do
        ComPtr<IStream> article;
        if (SUCCEEDED(ReadCacheFile(path, article))) {
            issued_.emplace_back(Issued::Kind::Cached, index, std::move(article), path);
            return;
        }
        // An unreadable cache file: the article comes from the server.
    }
    std::string group;
    ULONG number = 0;
    if (!RowGroup(row, group) || !RowArticleNumber(row, number)) {
        issued_.emplace_back(Issued::Kind::Unfetchable, index);  // no group to fetch it from
        return;
    }
    if (strcasecmp(group.c_str(), issuedGroup_.c_str()) != 0) {
        issuedGroup_ = group;
        if (const HRESULT hr = SendGroup(group); FAILED(hr)) {
            RecordFailure(hr);
            return;
        }
        issued_.emplace_back(Issued::Kind::Group, index);
    }
    if (const HRESULT hr = SendArticle(number); FAILED(hr)) {
        RecordFailure(hr);
        return;
    }
    issued_.emplace_back(Issued::Kind::Article, index);
}

void CNNTPDownloader::Settle()
{
    while (!issued_.empty() && !issued_.front().InFlight()) {
        Issued entry = std::move(issued_.front());
        issued_.pop_front();
        if (entry.kind == Issued::Kind::Unfetchable) {
            AddFailedRow(entry.row);
        } else {
            const ULONGLONG bytes = StreamSize(entry.article.Get());
            pendingBytes_ += bytes;
            pending_.emplace_back(entry.row, std::move(entry.article), std::move(entry.cachePath), bytes);
        }
    }
    if (issued_.empty() && NextSelectedRow(nextRow_) == kNoRow) done_ = true;
}

void CNNTPDownloader::VoidIssued()
{
    std::erase_if(issued_, [](const Issued& e) { return !e.InFlight(); });
    for (Issued& e : issued_) e.voided = true;
}

void CNNTPDownloader::AddFailedRow(ULONG row)
{
    if (!cacheMode_) pending_.emplace_back(row);
}

void CNNTPDownloader::AfterAnswer()
{
    if (Live()) TopUp();
}

void CNNTPDownloader::OnArticleGroup(const NNTPRESPONSE& response)
{
    if (issued_.empty() || issued_.front().kind != Issued::Kind::Group) return;
    const Issued entry = std::move(issued_.front());
    issued_.pop_front();
    if (!entry.voided && Live() && FAILED(response.rIxpResult.hrResult)) {
        // An article number means nothing outside its group: the row fails
        // instead of fetching that number from the group before, and so
        // would every request sent behind it.
        VoidIssued();
        AddFailedRow(entry.row);
        nextRow_ = entry.row + 1;
        issuedGroup_.clear();
    }
    AfterAnswer();
}

void CNNTPDownloader::AppendArticlePart(ULONG index, const NNTPRESPONSE& response)
{
    if (FAILED(response.rIxpResult.hrResult)) articleFailed_ = true;
    if (!articleFailed_ && !articleStream_) {
        if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &articleStream_))) {
            articleStream_.Reset();
            articleFailed_ = true;
        } else {
            const SRow& row = markedRows_->aRow[index];
            const SPropValue& to = row.lpProps[1];
            ULONG number = 0;
            RowArticleNumber(row, number);
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
}

void CNNTPDownloader::FinishArticle(ULONG index)
{
    ComPtr<IStream> article = std::move(articleStream_);
    const bool failed = articleFailed_ || !article;
    articleFailed_ = false;
    if (failed) {
        AddFailedRow(index);  // dropped with its partial text
    } else if (cacheMode_) {
        WriteCacheFile(RowCachePath(markedRows_->aRow[index]), article.Get());  // unwritten: fetched again when needed
    } else {
        LARGE_INTEGER start{};
        article->Seek(start, STREAM_SEEK_SET, nullptr);
        const ULONGLONG bytes = StreamSize(article.Get());
        pendingBytes_ += bytes;
        pending_.emplace_back(index, std::move(article), std::string(), bytes);
    }
}

void CNNTPDownloader::OnArticle(const NNTPRESPONSE& response)
{
    if (mode_ != Mode::DownloadArticles || issued_.empty() || issued_.front().kind != Issued::Kind::Article) return;
    const Issued& entry = issued_.front();
    const bool counts = !entry.voided && Live();
    if (counts) AppendArticlePart(entry.row, response);
    if (!response.fDone) return;
    const ULONG row = entry.row;
    issued_.pop_front();
    if (counts) FinishArticle(row);
    articleStream_.Reset();
    articleFailed_ = false;
    AfterAnswer();
}

}  // namespace quillory::quarnex
