#include "provider/downloader/group_list_merge.h"
#include "provider/downloader/tests/downloader_fixture.h"

namespace quillory::quarnex::testing {
namespace {

using Commands = std::vector<std::string>;

class NewGroupsTest : public DownloaderTest {
protected:
    void Lines(std::vector<std::string> lines, bool done = true)
    {
        std::vector<LPSTR> pointers;
        for (std::string& l : lines) pointers.push_back(l.data());
        NNTPRESPONSE r = Response(NS_NEWGROUPS, S_OK, done);
        r.rNewgroups.cLines = static_cast<DWORD>(pointers.size());
        r.rNewgroups.rgszLines = pointers.data();
        Respond(r);
    }
    SYSTEMTIME since{2026, 11, 1, 30, 12, 0, 0, 0};
};

TEST_F(NewGroupsTest, NewGroupsAreMarkedOrAppendedAndTheListRewritten)
{
    WriteFile(kListFile, "!  alt.was.new\r\n * alt.test Tests\r\n   alt.test.more\r\n");
    ASSERT_EQ(downloader->CheckNewGroups(this, account.Span(), since), S_OK);
    Connected();
    EXPECT_EQ(fake->Take(), (Commands{"CONNECT news.example.org auth log", "NEWGROUPS "}));
    EXPECT_EQ(fake->newGroupsSince.wYear, 2026);
    EXPECT_EQ(fake->newGroupsSince.wDay, 30);
    Lines({"alt.test.more 0000000010 0000000001 y"}, false);
    Lines({"alt.fresh 10 1 y", "alt.test 10 1 y"});
    EXPECT_TRUE(downloader->IsFinished());
    HRESULT code = S_OK;
    EXPECT_FALSE(downloader->GetError(code, nullptr));
    EXPECT_EQ(ReadFile(kListFile), "   alt.was.new\r\n!* alt.test Tests\r\n!  alt.test.more\r\n!  alt.fresh\r\n");
}

TEST_F(NewGroupsTest, RefusedQueryLeavesTheListAsItWas)
{
    const std::string list = "!  alt.was.new\r\n";
    WriteFile(kListFile, list);
    ASSERT_EQ(downloader->CheckNewGroups(this, account.Span(), since), S_OK);
    Connected();
    Respond(Response(NS_NEWGROUPS, IXP_E_NNTP_NEWGROUPS_FAILED));
    HRESULT code = S_OK;
    ASSERT_TRUE(downloader->GetError(code, nullptr));
    EXPECT_EQ(code, IXP_E_NNTP_NEWGROUPS_FAILED);
    EXPECT_EQ(ReadFile(kListFile), list);
}

TEST_F(NewGroupsTest, UnreadableListFailsTheCheck)
{
    ASSERT_EQ(downloader->CheckNewGroups(this, account.Span(), since), S_OK);
    Connected();
    Lines({"alt.fresh 10 1 y"});
    HRESULT code = S_OK;
    ASSERT_TRUE(downloader->GetError(code, nullptr));
    EXPECT_EQ(code, E_FAIL);
    EXPECT_FALSE(std::filesystem::exists(DataFile(kListFile)));
}

TEST(GroupListMerge, MarksExistingLinesAndAppendsMissingGroups)
{
    CGroupListMerge merge;
    merge.Load("!* alt.old\r\n   alt.test\r\n * alt.test.more Mentions alt.other here\r\n");
    EXPECT_TRUE(merge.Modified());  // the old mark went
    merge.Add("alt.test 5 1 y");
    merge.Add("alt.tes");     // a prefix of a listed name is another group
    merge.Add("alt.other");   // named in a description only
    merge.Add("alt.other");   // answered twice: one line
    merge.Add("");
    EXPECT_EQ(merge.Text(),
              " * alt.old\r\n!  alt.test\r\n * alt.test.more Mentions alt.other here\r\n!  alt.tes\r\n!  alt.other\r\n");
}

TEST(GroupListMerge, SubscribedGroupKeepsItsMarkAndAListWithoutMarksStaysUnmodified)
{
    CGroupListMerge merge;
    merge.Load(" * alt.sub\r\n");
    EXPECT_FALSE(merge.Modified());
    merge.Add("alt.sub");
    EXPECT_EQ(merge.Text(), "!* alt.sub\r\n");
    EXPECT_TRUE(merge.Modified());

    merge.Load("!* alt.sub\r\n");
    merge.Add("alt.sub");  // new again: the mark comes back
    EXPECT_EQ(merge.Text(), "!* alt.sub\r\n");
}

TEST(GroupListMerge, LastLineWithoutLineEndIsNotJoinedToTheNewOne)
{
    CGroupListMerge merge;
    merge.Load("   alt.a");
    merge.Add(std::string(1200, 'g'));
    EXPECT_EQ(merge.Text(), "   alt.a\r\n!  " + std::string(kMaxNewGroupName, 'g') + "\r\n");
}

class PostTest : public DownloaderTest {};

TEST_F(PostTest, ArticleTextIsPostedAndTheAnswerEndsTheJob)
{
    const std::string article = "Newsgroups: alt.test\r\nSubject: hi\r\n\r\nbody\r\n";
    ASSERT_EQ(downloader->PostArticle(this, account.Span(), article), S_OK);
    Connected();
    EXPECT_EQ(fake->Take().back(), "POST " + std::to_string(article.size()));
    EXPECT_EQ(fake->postedText, article);
    EXPECT_FALSE(downloader->IsFinished());
    Respond(Response(NS_POST));
    EXPECT_TRUE(downloader->IsFinished());
    HRESULT code = S_OK;
    EXPECT_FALSE(downloader->GetError(code, nullptr));

    ASSERT_EQ(downloader->PostArticle(this, account.Span(), article), S_OK);  // on the open connection
    EXPECT_EQ(fake->Take(), Commands{"POST " + std::to_string(article.size())});
    NNTPRESPONSE r = Response(NS_POST, IXP_E_NNTP_POST_FAILED);
    char text[] = "441 435 Duplicate";
    r.rIxpResult.pszResponse = text;
    Respond(r);
    std::string message;
    ASSERT_TRUE(downloader->GetError(code, &message));
    EXPECT_EQ(code, IXP_E_NNTP_POST_FAILED);
    EXPECT_EQ(message, "441 435 Duplicate");
}

}  // namespace
}  // namespace quillory::quarnex::testing
