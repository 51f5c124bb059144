// The inbound pass over one article job that fetches ahead: each StartMessage
// files its own row's article, and a refusal or a lost connection partway
// ends the pass exactly where one job per row would have ended it, with the
// rows not reached still marked.
#include "provider/logon/tests/logon_test_support.h"

#include <deque>

#include "platform/inetcomm/nntp/nntp_transport.h"
#include "provider/logon/inbound_delivery.h"

namespace quillory::testing {
namespace {

// What the job makes of each row it is given, in order; rows past the end
// of the script are never reached (the connection was lost).
enum class Outcome { Article, Refused };

struct JobScript {
    std::vector<Outcome> outcomes;
    HRESULT lostWith = IXP_E_CONNECTION_DROPPED;  // the job's error when rows are left over
    // Record.
    std::vector<std::vector<ULONG>> jobs;  // the article numbers of each job's rows
    int discards = 0;
};

ULONG ArticleOf(const SRow& row) { return row.lpProps[0].Value.bin.lpb[0]; }

// A downloader whose article job has everything fetched at once; taking an
// article removes its row's mark as the real one's row action does.
class CAheadDownloader final : public IArticleDownloader {
public:
    CAheadDownloader(JobScript& s, std::vector<FakeRow>& rows) : s_(s), rows_(rows) {}
    HRESULT CreateTransport() override { return S_OK; }
    HRESULT Open() override { return S_OK; }
    HRESULT CheckNewGroups(const FILETIME&) override { return S_OK; }
    HRESULT RefreshHeaders(ULONG) override { return S_OK; }
    HRESULT DownloadArticles(const SRowSet& rows, bool) override
    {
        items_.clear();
        error_ = S_OK;
        std::vector<ULONG> numbers;
        for (ULONG i = 0; i < rows.cRows; ++i) {
            const ULONG article = ArticleOf(rows.aRow[i]);
            numbers.push_back(article);
            if (i >= s_.outcomes.size()) {
                error_ = s_.lostWith;
                continue;
            }
            items_.push_back({article, s_.outcomes[i] == Outcome::Article});
        }
        s_.jobs.push_back(numbers);
        return S_OK;
    }
    HRESULT PostArticle(std::string_view) override { return S_OK; }
    void WaitWhileActive() override {}
    bool IsFinished() override { return true; }
    void RequestCancel() override {}
    HRESULT GetError(std::string& text) override
    {
        text = FAILED(error_) ? "lost" : "";
        return error_;
    }
    bool IsConnected() override { return true; }
    bool IsDisconnected() override { return false; }
    ULONG PendingCount() override { return static_cast<ULONG>(items_.size()); }
    ComPtr<IStream> TakeArticle() override
    {
        const Item item = items_.front();
        items_.pop_front();
        if (!item.fetched) return nullptr;
        for (FakeRow& r : rows_)
            if (r.entryId[0] == item.article) r.status &= ~MSGSTATUS_REMOTE_DOWNLOAD;
        ComPtr<IStream> stream;
        CreateStreamOnHGlobal(nullptr, TRUE, &stream);
        const BYTE number = static_cast<BYTE>(item.article);
        ULONG written = 0;
        stream->Write(&number, 1, &written);
        return stream;
    }
    void DiscardArticles() override
    {
        ++s_.discards;
        items_.clear();
    }

private:
    struct Item {
        ULONG article;
        bool fetched;
    };
    JobScript& s_;
    std::vector<FakeRow>& rows_;
    std::deque<Item> items_;
    HRESULT error_ = S_OK;
};

class LogonArticleJobTest : public LogonFixture {
protected:
    void SetUp() override
    {
        LogonFixture::SetUp();
        SetDownloaderFactory([this](CXPLogon&) { return std::make_unique<CAheadDownloader>(job_, rows_); });
        SetArticleDeliverer([this](CXPLogon&, IStream* article, const SBinary&, const SBinary&) {
            BYTE number = 0;
            ULONG read = 0;
            LARGE_INTEGER start{};
            article->Seek(start, STREAM_SEEK_SET, nullptr);
            article->Read(&number, 1, &read);
            filed_.push_back(number);
            return S_OK;
        });
        UseRegistryBaseFolder();
        ASSERT_EQ(Logon(), S_OK);
    }
    // StartMessage until the logon ends inbound; the references it set.
    std::vector<ULONG_PTR> Pass()
    {
        std::vector<ULONG_PTR> refs;
        EXPECT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
        while ((logon_->StatusCode() & STATUS_INBOUND_ACTIVE) && refs.size() < 20) {
            ULONG_PTR ref = 0;
            EXPECT_EQ(logon_->StartMessage(0, nullptr, &ref), S_OK);
            refs.push_back(ref);
        }
        return refs;
    }
    std::vector<ULONG> Marked() const
    {
        std::vector<ULONG> out;
        for (const FakeRow& r : rows_)
            if (r.status & MSGSTATUS_REMOTE_DOWNLOAD) out.push_back(r.entryId[0]);
        return out;
    }

    JobScript job_;
    std::vector<ULONG> filed_;
};

TEST_F(LogonArticleJobTest, OneJobServesEveryCallOfThePassInRowOrder)
{
    for (ULONG n = 1; n <= 4; ++n) AddRow(n, MSGSTATUS_REMOTE_DOWNLOAD, n);
    job_.outcomes.assign(4, Outcome::Article);
    EXPECT_EQ(Pass(), (std::vector<ULONG_PTR>{1, 1, 1, 1, 0}));
    EXPECT_EQ(filed_, (std::vector<ULONG>{1, 2, 3, 4}));
    EXPECT_EQ(job_.jobs, (std::vector<std::vector<ULONG>>{{1, 2, 3, 4}}));
    EXPECT_EQ(folder_->confirmed.size(), 4u);
    EXPECT_EQ(logon_->LastResult(), S_OK);
}

TEST_F(LogonArticleJobTest, ALostConnectionEndsThePassAtTheFirstRowNotFetched)
{
    for (ULONG n = 1; n <= 4; ++n) AddRow(n, MSGSTATUS_REMOTE_DOWNLOAD, n);
    job_.outcomes = {Outcome::Article, Outcome::Article};
    EXPECT_EQ(Pass(), (std::vector<ULONG_PTR>{1, 1, 0}));
    // Fetched before the loss: filed; the row it was lost at is dropped (it
    // is offered again by the next header refresh); the row after it waits.
    EXPECT_EQ(filed_, (std::vector<ULONG>{1, 2}));
    EXPECT_EQ(Marked(), (std::vector<ULONG>{4}));
    EXPECT_EQ(logon_->LastResult(), IXP_E_CONNECTION_DROPPED);
    EXPECT_EQ(logon_->State(), HeaderState::Finished);
}

TEST_F(LogonArticleJobTest, ARefusedArticleEndsThePassAndTheNextPassStartsAfterIt)
{
    for (ULONG n = 1; n <= 4; ++n) AddRow(n, MSGSTATUS_REMOTE_DOWNLOAD, n);
    job_.outcomes = {Outcome::Article, Outcome::Refused, Outcome::Article, Outcome::Article};
    EXPECT_EQ(Pass(), (std::vector<ULONG_PTR>{1, 0}));
    EXPECT_EQ(filed_, (std::vector<ULONG>{1}));
    // Articles 3 and 4 were fetched ahead, never taken: dropped with the job,
    // their rows still marked.
    EXPECT_EQ(job_.discards, 1);
    EXPECT_EQ(Marked(), (std::vector<ULONG>{3, 4}));

    job_.outcomes.assign(2, Outcome::Article);
    ASSERT_EQ(Status()->ValidateState(0, PROCESS_XP_HEADER_CACHE), S_OK);  // collects the result
    EXPECT_EQ(Pass(), (std::vector<ULONG_PTR>{1, 1, 0}));
    EXPECT_EQ(filed_, (std::vector<ULONG>{1, 3, 4}));
    EXPECT_EQ(job_.jobs.back(), (std::vector<ULONG>{3, 4}));
}

TEST_F(LogonArticleJobTest, RowsChangedDuringThePassStartANewJobAtTheFirstMarkedRow)
{
    for (ULONG n = 1; n <= 3; ++n) AddRow(n, MSGSTATUS_REMOTE_DOWNLOAD, n);
    job_.outcomes.assign(3, Outcome::Article);
    ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
    ULONG_PTR ref = 0;
    ASSERT_EQ(logon_->StartMessage(0, nullptr, &ref), S_OK);
    // The user unmarks row 2 while the pass runs.
    rows_[1].status = 0;
    ASSERT_EQ(logon_->StartMessage(0, nullptr, &ref), S_OK);
    EXPECT_EQ(filed_, (std::vector<ULONG>{1, 3}));
    EXPECT_EQ(job_.jobs, (std::vector<std::vector<ULONG>>{{1, 2, 3}, {3}}));
}

}  // namespace
}  // namespace quillory::testing
