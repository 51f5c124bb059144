#include "provider/downloader/tests/downloader_fixture.h"

#include "common/crc32.h"
#include "platform/mapi/mapix.h"

namespace quillory::quarnex::testing {
namespace {

using Commands = std::vector<std::string>;

constexpr ULONG kDownload = MSGSTATUS_REMOTE_DOWNLOAD;
constexpr ULONG kDownloadDelete = MSGSTATUS_REMOTE_DOWNLOAD | MSGSTATUS_REMOTE_DELETE;

class ArticleJobTest : public DownloaderTest {
protected:
    std::string CachePath(const MarkedRow& row)
    {
        const std::vector<BYTE> id = MakeHeaderEntryId(row.number, row.messageId, row.group);
        return ArticleCachePath(ArticleCacheKey(id, "News"));
    }
    ULONG FlagsOf(const MarkedRow& row)
    {
        const RowCopy copy = TableRow(folder.Get(), MakeHeaderEntryId(row.number, row.messageId, row.group));
        const SPropValue* flags = copy.Find(PR_MESSAGE_FLAGS);
        return flags ? static_cast<ULONG>(flags->Value.l) : 0xFFFFFFFF;
    }
    ULONG StatusOf(const MarkedRow& row)
    {
        const RowCopy copy = TableRow(folder.Get(), MakeHeaderEntryId(row.number, row.messageId, row.group));
        const SPropValue* status = copy.Find(PR_MSG_STATUS);
        return status ? static_cast<ULONG>(status->Value.l) : 0xFFFFFFFF;
    }
    bool InTable(const MarkedRow& row)
    {
        return static_cast<bool>(TableRow(folder.Get(), MakeHeaderEntryId(row.number, row.messageId, row.group)));
    }
    void AddToTable(const std::vector<MarkedRow>& rows)
    {
        for (const MarkedRow& r : rows) ASSERT_EQ(folder->AddRow(r.group, r.number, r.messageId), S_OK);
    }
};

TEST_F(ArticleJobTest, GroupIsSentOnlyWhenTheNextRowChangesGroup)
{
    const std::vector<MarkedRow> rows = {{1, "<1@x>", "alt.a", kDownloadDelete},
                                         {2, "<2@x>", "alt.a", kDownload},
                                         {9, "<9@x>", "alt.b", 0},  // not marked
                                         {3, "<3@x>", "ALT.B", kDownload},
                                         {4, "<4@x>", "alt.a", kDownload}};
    AddToTable(rows);
    ASSERT_EQ(downloader->DownloadArticles(this, account.Span(), Rows(rows), false), S_OK);
    Connected();
    Group(10, 1, 10);
    Article("Subject: one\r\n\r\nfirst\r\n", false);
    Article("more\r\n");
    Article("second\r\n");
    Group(10, 1, 10);
    Article("third\r\n");
    Group(10, 1, 10);
    Article("fourth\r\n");
    const Commands expected = {"CONNECT news.example.org auth log", "GROUP alt.a", "ARTICLE 1", "ARTICLE 2",
                               "GROUP ALT.B", "ARTICLE 3", "GROUP alt.a", "ARTICLE 4"};
    EXPECT_EQ(fake->Take(), expected);
    EXPECT_TRUE(downloader->IsFinished());
    ASSERT_EQ(downloader->PendingCount(), 4u);
    EXPECT_EQ(ArticleText(downloader->TakeArticle()),
              "X-Corvane-Newsgroup: alt.a\r\nX-Corvane-Article: 1\r\nSubject: one\r\n\r\nfirst\r\nmore\r\n");
    EXPECT_EQ(ArticleText(downloader->TakeArticle()), "X-Corvane-Newsgroup: alt.a\r\nX-Corvane-Article: 2\r\nsecond\r\n");
    EXPECT_EQ(ArticleText(downloader->TakeArticle()), "X-Corvane-Newsgroup: ALT.B\r\nX-Corvane-Article: 3\r\nthird\r\n");

    // Delete-marked rows leave the table, recorded in the cache unconfirmed;
    // the others are marked read.
    EXPECT_FALSE(InTable(rows[0]));
    ASSERT_NE(folder->Cache().FindByGroup(1, "alt.a"), nullptr);
    EXPECT_FALSE(folder->Cache().FindByGroup(1, "alt.a")->confirmed);
    EXPECT_EQ(FlagsOf(rows[1]) & MSGFLAG_READ, MSGFLAG_READ);
    EXPECT_EQ(FlagsOf(rows[2]) & MSGFLAG_READ, 0u);
    // A row kept after its copy was fetched is not offered for download again.
    EXPECT_EQ(StatusOf(rows[1]) & MSGSTATUS_REMOTE_DOWNLOAD, 0u);
}

TEST_F(ArticleJobTest, FailedArticleIsSkippedAndTheJobGoesOn)
{
    const std::vector<MarkedRow> rows = {{1, "<1@x>", "alt.a", kDownload}, {2, "<2@x>", "alt.a", kDownload}};
    ASSERT_EQ(downloader->DownloadArticles(this, account.Span(), Rows(rows), false), S_OK);
    Connected();
    Group(10, 1, 10);
    Article("", true, IXP_E_NNTP_ARTICLE_FAILED);
    Article("kept\r\n");
    EXPECT_TRUE(downloader->IsFinished());
    HRESULT code = S_OK;
    EXPECT_FALSE(downloader->GetError(code, nullptr));
    // The failed row keeps its place as an empty item, so that the owner
    // knows which row each article belongs to.
    ASSERT_EQ(downloader->PendingCount(), 2u);
    EXPECT_FALSE(downloader->TakeArticle());
    EXPECT_EQ(ArticleText(downloader->TakeArticle()), "X-Corvane-Newsgroup: alt.a\r\nX-Corvane-Article: 2\r\nkept\r\n");
}

TEST_F(ArticleJobTest, ArticleOfARefusedGroupIsNotFetchedFromTheGroupBefore)
{
    const std::vector<MarkedRow> rows = {{1, "<1@x>", "alt.a", kDownload},
                                         {5, "<5@x>", "alt.gone", kDownload},
                                         {6, "<6@x>", "alt.a", kDownload}};
    ASSERT_EQ(downloader->DownloadArticles(this, account.Span(), Rows(rows), false), S_OK);
    Connected();
    // Everything goes out at once.
    EXPECT_EQ(fake->Take(), (Commands{"CONNECT news.example.org auth log", "GROUP alt.a", "ARTICLE 1",
                                      "GROUP alt.gone", "ARTICLE 5", "GROUP alt.a", "ARTICLE 6"}));
    Group(10, 1, 10);
    Article("one\r\n");
    // ARTICLE 5 ran in alt.a: its answer, and those behind it, no longer
    // count, and the rows after the failed one are asked for again.
    Group(0, 0, 0, IXP_E_NNTP_GROUP_NOTFOUND);
    EXPECT_EQ(fake->Take(), (Commands{"GROUP alt.a", "ARTICLE 6"}));
    Article("five, from alt.a\r\n");
    Group(10, 1, 10);
    Article("six, asked too early\r\n");
    EXPECT_FALSE(downloader->IsFinished());
    Group(10, 1, 10);
    Article("six\r\n");
    EXPECT_TRUE(downloader->IsFinished());
    ASSERT_EQ(downloader->PendingCount(), 3u);
    EXPECT_EQ(ArticleText(downloader->TakeArticle()), "X-Corvane-Newsgroup: alt.a\r\nX-Corvane-Article: 1\r\none\r\n");
    EXPECT_FALSE(downloader->TakeArticle());
    EXPECT_EQ(ArticleText(downloader->TakeArticle()), "X-Corvane-Newsgroup: alt.a\r\nX-Corvane-Article: 6\r\nsix\r\n");
}

TEST_F(ArticleJobTest, AWindowOfRequestsRunsAheadOfWhatIsTakenAndNoFurther)
{
    std::vector<MarkedRow> rows;
    for (ULONG n = 1; n <= kArticleWindow + 4; ++n)
        rows.push_back({n, "<" + std::to_string(n) + "@x>", "alt.a", kDownloadDelete});
    AddToTable(rows);
    ASSERT_EQ(downloader->DownloadArticles(this, account.Span(), Rows(rows), false), S_OK);
    Connected();
    Commands asked = fake->Take();
    ASSERT_EQ(asked.size(), 1 + kArticleWindow);  // CONNECT, GROUP and window - 1 articles
    EXPECT_EQ(asked.back(), "ARTICLE " + std::to_string(kArticleWindow - 1));
    Group(10, 1, 100);
    EXPECT_EQ(fake->Take(), Commands{"ARTICLE " + std::to_string(kArticleWindow)});
    // Fetched articles wait in the window until they are taken.
    for (ULONG n = 1; n <= kArticleWindow; ++n) Article("text " + std::to_string(n) + "\r\n");
    EXPECT_TRUE(fake->Take().empty());
    EXPECT_EQ(downloader->PendingCount(), kArticleWindow);
    EXPECT_FALSE(downloader->IsFinished());
    // A row leaves the table when its article is taken, not before.
    EXPECT_TRUE(InTable(rows[0]));
    EXPECT_EQ(ArticleText(downloader->TakeArticle()), "X-Corvane-Newsgroup: alt.a\r\nX-Corvane-Article: 1\r\ntext 1\r\n");
    EXPECT_FALSE(InTable(rows[0]));
    EXPECT_EQ(fake->Take(), Commands{"ARTICLE " + std::to_string(kArticleWindow + 1)});

    // A cancel lets the answer on its way complete, then asks for nothing
    // more; what is never taken leaves its row as it was, for the next pass.
    downloader->RequestCancel();
    Article("one more\r\n");
    EXPECT_TRUE(downloader->IsFinished());
    downloader->ClearPending();
    EXPECT_TRUE(InTable(rows[1]));
    EXPECT_EQ(FlagsOf(rows[1]) & MSGFLAG_READ, 0u);
    EXPECT_TRUE(fake->Take().empty());
}

TEST_F(ArticleJobTest, CacheModeFillsCacheFilesAndSkipsRowsAlreadyCached)
{
    const std::vector<MarkedRow> rows = {{1, "<1@x>", "alt.a", kMsgStatusPrefetch},
                                         {2, "<2@x>", "alt.a", kMsgStatusPrefetch | kDownload},
                                         {3, "<3@x>", "alt.a", kDownload}};  // not for the cache
    std::ofstream(CachePath(rows[0]), std::ios::binary) << "already here";
    ASSERT_EQ(downloader->DownloadArticles(this, account.Span(), Rows(rows), true), S_OK);
    Connected();
    Group(10, 1, 10);
    std::string body(70000, 'b');  // more than two copy pieces
    body[100] = '\0';
    Article(body);
    const Commands expected = {"CONNECT news.example.org auth log", "GROUP alt.a", "ARTICLE 2"};
    EXPECT_EQ(fake->Take(), expected);
    EXPECT_TRUE(downloader->IsFinished());
    EXPECT_EQ(downloader->PendingCount(), 0u);

    std::ifstream in(CachePath(rows[1]), std::ios::binary);
    const std::string cached(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(cached, "X-Corvane-Newsgroup: alt.a\r\nX-Corvane-Article: 2\r\n" + body);
    std::ifstream first(CachePath(rows[0]), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(first), {}), "already here");
    EXPECT_FALSE(std::filesystem::exists(CachePath(rows[2])));
}

TEST_F(ArticleJobTest, CachedArticleIsServedFromItsFileWhichIsThenDeleted)
{
    const std::vector<MarkedRow> rows = {{7, "<7@x>", "alt.a", kDownloadDelete}};
    AddToTable(rows);
    const std::string text = "X-Corvane-Newsgroup: alt.a\r\nX-Corvane-Article: 7\r\nfrom the cache\r\n";
    std::ofstream(CachePath(rows[0]), std::ios::binary) << text;

    ASSERT_EQ(downloader->Open(this, account.Span()), S_OK);
    Connected();
    fake->Take();
    ASSERT_EQ(downloader->DownloadArticles(this, account.Span(), Rows(rows), false), S_OK);
    EXPECT_TRUE(fake->Take().empty());  // no command at all
    EXPECT_TRUE(downloader->IsFinished());
    ASSERT_EQ(downloader->PendingCount(), 1u);
    EXPECT_TRUE(std::filesystem::exists(CachePath(rows[0])));  // until the article is taken
    EXPECT_EQ(ArticleText(downloader->TakeArticle()), text);
    EXPECT_FALSE(std::filesystem::exists(CachePath(rows[0])));
    EXPECT_FALSE(InTable(rows[0]));  // the row action ran
}

TEST_F(ArticleJobTest, CacheKeyCoversTheEntryIdAndTheAccountName)
{
    const std::vector<BYTE> id = MakeHeaderEntryId(7, "<7@x>", "alt.a");
    std::vector<BYTE> both = id;
    both.insert(both.end(), {'N', 'e', 'w', 's'});
    EXPECT_EQ(ArticleCacheKey(id, "News"), Crc32(both));
    EXPECT_NE(ArticleCacheKey(id, "News"), ArticleCacheKey(id, "Other"));
    EXPECT_EQ(ArticleCacheKey(std::vector<BYTE>(4, 1), "News"), 0u);
    EXPECT_NE(ArticleCacheKey(std::vector<BYTE>(1100, 1), "News"), 0u);
    EXPECT_EQ(ArticleCacheKey(std::vector<BYTE>(1101, 1), "News"), 0u);

    char name[32];
    std::snprintf(name, sizeof name, "__%08x.msg", ArticleCacheKey(id, "News"));
    EXPECT_EQ(ArticleCachePath(ArticleCacheKey(id, "News")), DataFile(name));
    EXPECT_EQ(ArticleCachePath(0), "");  // key 0 names no cache file
    EXPECT_FALSE(CacheFilePresent(DataFile("__00000000.msg")));
    WriteFile("empty.msg", "");
    EXPECT_FALSE(CacheFilePresent(DataFile("empty.msg")));
}

TEST_F(ArticleJobTest, OriginLinesCarryTheArticleNumberAsASignedValue)
{
    EXPECT_EQ(FormatOriginLines("alt.a", static_cast<LONG>(0x80000001u)),
              "X-Corvane-Newsgroup: alt.a\r\nX-Corvane-Article: -2147483647\r\n");
}

TEST_F(ArticleJobTest, DroppedConnectionMidArticleEndsTheJobWithTheComponentsError)
{
    const std::vector<MarkedRow> rows = {{1, "<1@x>", "alt.a", kDownload}};
    ASSERT_EQ(downloader->DownloadArticles(this, account.Span(), Rows(rows), false), S_OK);
    Connected();
    Group(10, 1, 10);
    Article("half of it\r\n", false);
    NNTPRESPONSE r = Response(NS_DISCONNECTED, IXP_E_CONNECTION_DROPPED);
    char problem[] = "connection reset by peer";
    r.rIxpResult.pszProblem = problem;
    Respond(r);
    EXPECT_TRUE(downloader->IsFinished());
    HRESULT code = S_OK;
    std::string text;
    ASSERT_TRUE(downloader->GetError(code, &text));
    EXPECT_EQ(code, IXP_E_CONNECTION_DROPPED);
    EXPECT_EQ(text, "connection reset by peer");
    EXPECT_EQ(downloader->PendingCount(), 0u);  // no half article handed on
}

TEST_F(ArticleJobTest, ForegroundJobCancelsABackgroundPrefetch)
{
    const std::vector<MarkedRow> prefetch = {{1, "<1@x>", "alt.a", kMsgStatusPrefetch},
                                             {2, "<2@x>", "alt.a", kMsgStatusPrefetch}};
    ASSERT_EQ(downloader->DownloadArticles(this, account.Span(), Rows(prefetch), true), S_OK);
    Connected();
    Group(10, 1, 10);
    fake->Take();
    // The foreground job waits for the component (idle here), then runs alone.
    const std::vector<MarkedRow> marked = {{2, "<2@x>", "alt.a", kDownload}};
    ASSERT_EQ(downloader->DownloadArticles(this, account.Span(), Rows(marked), false), S_OK);
    EXPECT_EQ(fake->Take(), (Commands{"GROUP alt.a", "ARTICLE 2"}));
}

}  // namespace
}  // namespace quillory::quarnex::testing
