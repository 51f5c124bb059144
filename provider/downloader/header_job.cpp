// The header job: GROUP for each subscribed group, then the overview of its
// new articles as header rows. The GROUP of the next group goes out with the
// overview request of the current one, so the two share a round trip; the
// answers still come one after the other, in the order of the groups.
#include "provider/downloader/nntp_downloader.h"

#include "common/grouplist.h"
#include "common/regstore.h"
#include "platform/base/time.h"
#include "provider/folder/mapi_folder.h"
#include "common/server_record.h"

#include <utility>

namespace quillory::quarnex {
namespace {

// The known-articles cache is saved when the tick count is a multiple of this
// as a group starts, about one group in three.
constexpr DWORD kSaveCacheEveryTicks = 3;

}  // namespace

void CNNTPDownloader::BuildGroupList()
{
    ClearPending();
    nextGroupSent_ = false;
    const std::string_view listName = AccountString(accountProperties_, acct::kGroupListFile);
    if (listName.empty()) return;
    for (std::string& name : ReadSubscribedGroupNames(DataFilePath(listName)))
        pending_.emplace_back(std::move(name));
}

void CNNTPDownloader::OnHeaderGroup(const NNTPRESPONSE& response)
{
    if (!Live()) return;  // a GROUP sent ahead of a job that has ended since
    if (FAILED(response.rIxpResult.hrResult)) {
        // A group the server refuses is skipped.
        if (cancelRequested_)
            done_ = true;
        else
            AdvanceGroup();
        return;
    }
    CMAPIFolder* folder = HeaderFolder();
    if (!folder) {
        RecordFailure(E_FAIL);
        return;
    }
    if (pending_.empty()) {
        done_ = true;
        return;
    }
    const std::string& group = pending_.front().group;
    ULONG first = response.rGroup.dwFirst;
    ULONG last = response.rGroup.dwLast;
    if (lastMessagesLimit_ > 0 && response.rGroup.dwCount > static_cast<DWORD>(lastMessagesLimit_)) {
        const ULONG limit = static_cast<ULONG>(lastMessagesLimit_);
        // Never below the group's first article, whatever the count claims.
        if (last >= limit && last - limit + 1 > first) first = last - limit + 1;
    }
    folder->NarrowRange(first, last, group);
    if (cancelRequested_) {
        done_ = true;
        return;
    }
    if (last == 0 || first > last) {
        AdvanceGroup();
        return;
    }
    RANGE range{RT_RANGE, first, last};
    HRESULT hr = transport_ ? transport_->GetHeaders(&range) : E_FAIL;
    if (SUCCEEDED(hr) && pending_.size() > 1) {
        hr = SendGroup(pending_[1].group);
        nextGroupSent_ = SUCCEEDED(hr);
    }
    if (FAILED(hr)) RecordFailure(hr);
}

void CNNTPDownloader::OnHeaders(const NNTPRESPONSE& response)
{
    if (mode_ != Mode::RefreshHeaders || !Live()) return;
    if (FAILED(response.rIxpResult.hrResult)) {
        RecordError(&response.rIxpResult, kErrorFromRecord);
        return;
    }
    CMAPIFolder* folder = HeaderFolder();
    if (!folder) {
        RecordFailure(E_FAIL);
        return;
    }
    const std::string group = pending_.empty() ? std::string() : pending_.front().group;
    const NNTPHEADERRESP& headers = response.rHeaders;
    for (DWORD i = 0; headers.rgHeaders && i < headers.cHeaders; ++i) {
        const NNTPHEADER& h = headers.rgHeaders[i];
        if (h.dwArticleNum == 0 || !h.pszMessageId || h.pszMessageId[0] != '<') continue;
        if (folder->IsKnown(h.dwArticleNum, group)) continue;
        const std::string subject = subjects_.Decode(h.pszSubject ? h.pszSubject : "");
        folder->AddRow(group, h.dwArticleNum, h.pszMessageId, subject, h.pszFrom ? h.pszFrom : "",
                       h.pszDate ? h.pszDate : "");
    }
    if (response.fDone) AdvanceGroup();
}

void CNNTPDownloader::AdvanceGroup()
{
    if (!pending_.empty()) pending_.pop_front();
    CMAPIFolder* folder = HeaderFolder();
    const bool sent = std::exchange(nextGroupSent_, false);
    if (cancelRequested_ || pending_.empty()) {
        if (folder) folder->SaveCache();
        done_ = true;
        return;
    }
    if (!sent) {
        const HRESULT hr = SendGroup(pending_.front().group);
        if (FAILED(hr)) RecordFailure(hr);
    }
    if (folder && GetTickCount() % kSaveCacheEveryTicks == 0) folder->SaveCache();
}

}  // namespace quillory::quarnex
