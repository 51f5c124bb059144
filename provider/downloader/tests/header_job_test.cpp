#include "provider/downloader/tests/downloader_fixture.h"

namespace quillory::quarnex::testing {
namespace {

using Commands = std::vector<std::string>;

class HeaderJobTest : public DownloaderTest {
protected:
    NNTPHEADER Header(DWORD number, const char* messageId, const char* subject = "Hello",
                      const char* from = "Ann <ann@example.org>", const char* date = "Mon, 7 Dec 2026 10:00:00 +0000")
    {
        return NNTPHEADER{number, const_cast<LPSTR>(subject), const_cast<LPSTR>(from), const_cast<LPSTR>(date),
                          const_cast<LPSTR>(messageId), nullptr, 0, 0, nullptr};
    }
    void Headers(std::vector<NNTPHEADER> headers, bool done = true)
    {
        NNTPRESPONSE r = Response(NS_HEADERS, S_OK, done);
        r.rHeaders.cHeaders = static_cast<DWORD>(headers.size());
        r.rHeaders.rgHeaders = headers.data();
        Respond(r);
    }
    std::string SubjectOf(ULONG number, const char* messageId, const char* group)
    {
        const RowCopy row = TableRow(folder.Get(), MakeHeaderEntryId(number, messageId, group));
        const SPropValue* subject = row.Find(PR_SUBJECT);
        return subject ? subject->Value.lpszA : "(no row)";
    }
};

TEST_F(HeaderJobTest, SubscriptionFileWithOnlyItsHeaderFinishesWithoutConnecting)
{
    WriteFile(kListFile, " * alt.test\r\n");  // ignored: the subscription file rules
    WriteFile("groups-0001a2b3-sub.txt", "# Subscribed groups\r\n");
    EXPECT_EQ(downloader->RefreshHeaders(this, account.Span(), 300), S_OK);
    EXPECT_TRUE(downloader->IsFinished());
    EXPECT_TRUE(fake->Take().empty());
    HRESULT code = S_OK;
    EXPECT_FALSE(downloader->GetError(code, nullptr));
}

TEST_F(HeaderJobTest, NewestArticlesOfEachGroupLessTheKnownEndsBecomeRows)
{
    WriteFile("groups-0001a2b3-sub.txt", "# Subscribed groups\r\nalt.one\r\nx\r\nalt.two\r\n");
    folder->Cache().Add(6000, "<known-last@x>", "alt.one", true);
    folder->Cache().Add(5701, "<known-first@x>", "alt.one", true);

    ASSERT_EQ(downloader->RefreshHeaders(this, account.Span(), 300), S_OK);
    EXPECT_FALSE(downloader->IsFinished());
    EXPECT_EQ(fake->Take(), Commands{"CONNECT news.example.org auth log"});
    Connected();
    EXPECT_EQ(fake->Take(), Commands{"GROUP alt.one"});
    Group(1000, 5001, 6000);
    // The next group's GROUP goes out with the overview request.
    EXPECT_EQ(fake->Take(), (Commands{"HEADERS 5702-5999", "GROUP alt.two"}));

    Headers({Header(5702, "<a@x>", "=?utf-8?q?caf=C3=A9?="), Header(0, "<zero@x>"), Header(5703, "no-brackets"),
             Header(5704, nullptr)},
            false);
    Headers({Header(5705, "<b@x>", "Plain"), Header(6000, "<known-last@x>")});
    EXPECT_EQ(folder->RowCount(), 2u);
    EXPECT_EQ(SubjectOf(5702, "<a@x>", "alt.one"), "caf\xE9");  // system code page
    EXPECT_EQ(SubjectOf(5705, "<b@x>", "alt.one"), "Plain");
    EXPECT_TRUE(folder->IsKnown(5702, "alt.one"));

    // The piece "x" is too short to name a group; the next group follows.
    EXPECT_TRUE(fake->Take().empty());
    EXPECT_EQ(downloader->PendingCount(), 1u);
    Group(0, 1, 0);  // empty group
    EXPECT_TRUE(fake->Take().empty());
    EXPECT_TRUE(downloader->IsFinished());
    HRESULT code = S_OK;
    EXPECT_FALSE(downloader->GetError(code, nullptr));
    EXPECT_TRUE(std::filesystem::exists(logon.path));  // the cache is saved at the end
    EXPECT_EQ(fake->released, 5);  // every response handed back
}

TEST_F(HeaderJobTest, GroupListMarksChooseTheGroupsWhenThereIsNoSubscriptionFile)
{
    WriteFile(kListFile, "!* alt.new Brand new\r\n   alt.unsubscribed\r\n * alt.old\r\n *\r\n");
    ASSERT_EQ(downloader->RefreshHeaders(this, account.Span(), 0), S_OK);
    Connected();
    EXPECT_EQ(fake->Take(), (Commands{"CONNECT news.example.org auth log", "GROUP alt.new"}));
    // Without a limit the whole range is asked for; a refused group is skipped.
    Group(5000, 1, 5000, IXP_E_NNTP_GROUP_NOTFOUND);
    EXPECT_EQ(fake->Take(), Commands{"GROUP alt.old"});
    Group(5000, 1, 5000);
    EXPECT_EQ(fake->Take(), Commands{"HEADERS 1-5000"});
}

TEST_F(HeaderJobTest, RefusedOverviewEndsTheJobWithTheServersAnswer)
{
    WriteFile("groups-0001a2b3-sub.txt", "# Subscribed groups\r\nalt.one\r\nalt.two\r\n");
    ASSERT_EQ(downloader->RefreshHeaders(this, account.Span(), 300), S_OK);
    Connected();
    Group(3, 1, 3);
    NNTPRESPONSE r = Response(NS_HEADERS, IXP_E_NNTP_HEADERS_FAILED);
    char text[] = "503 overview not available";
    r.rIxpResult.pszResponse = text;
    Respond(r);
    EXPECT_TRUE(downloader->IsFinished());
    HRESULT code = S_OK;
    std::string message;
    ASSERT_TRUE(downloader->GetError(code, &message));
    EXPECT_EQ(code, IXP_E_NNTP_HEADERS_FAILED);
    EXPECT_EQ(message, "503 overview not available");
    // The GROUP of alt.two went out with the overview request; its answer
    // changes nothing now.
    fake->Take();
    Group(5, 1, 5);
    EXPECT_TRUE(fake->Take().empty());
    ASSERT_TRUE(downloader->GetError(code, nullptr));
    EXPECT_EQ(code, IXP_E_NNTP_HEADERS_FAILED);
    EXPECT_EQ(folder->RowCount(), 0u);
}

TEST_F(HeaderJobTest, CancelDuringAnOverviewLeavesTheGroupSentAheadUnused)
{
    WriteFile("groups-0001a2b3-sub.txt", "# Subscribed groups\r\nalt.one\r\nalt.two\r\n");
    ASSERT_EQ(downloader->RefreshHeaders(this, account.Span(), 300), S_OK);
    Connected();
    Group(2, 1, 2);
    EXPECT_EQ(fake->Take(), (Commands{"CONNECT news.example.org auth log", "GROUP alt.one", "HEADERS 1-2",
                                      "GROUP alt.two"}));
    downloader->RequestCancel();
    Headers({Header(1, "<1@x>")});
    EXPECT_TRUE(downloader->IsFinished());
    Group(7, 1, 7);
    EXPECT_TRUE(fake->Take().empty());
    EXPECT_EQ(folder->RowCount(), 1u);
}

TEST_F(HeaderJobTest, MissingHeaderFolderFailsTheJob)
{
    WriteFile("groups-0001a2b3-sub.txt", "# Subscribed groups\r\nalt.one\r\n");
    folderGone = true;
    ASSERT_EQ(downloader->RefreshHeaders(this, account.Span(), 300), S_OK);
    Connected();
    EXPECT_TRUE(downloader->IsFinished());
    HRESULT code = S_OK;
    ASSERT_TRUE(downloader->GetError(code, nullptr));
    EXPECT_EQ(code, E_FAIL);
}

TEST_F(HeaderJobTest, CancelTakesEffectAtTheNextAnswer)
{
    WriteFile("groups-0001a2b3-sub.txt", "# Subscribed groups\r\nalt.one\r\nalt.two\r\n");
    ASSERT_EQ(downloader->RefreshHeaders(this, account.Span(), 300), S_OK);
    Connected();
    fake->Take();
    downloader->RequestCancel();
    EXPECT_FALSE(downloader->IsFinished());  // the GROUP still completes
    Group(10, 1, 10);
    EXPECT_TRUE(downloader->IsFinished());
    EXPECT_TRUE(fake->Take().empty());
}

TEST_F(HeaderJobTest, DroppedConnectionEndsTheJobWithAnError)
{
    WriteFile("groups-0001a2b3-sub.txt", "# Subscribed groups\r\nalt.one\r\n");
    ASSERT_EQ(downloader->RefreshHeaders(this, account.Span(), 300), S_OK);
    Connected();
    Group(10, 1, 10);
    // The server closes the connection without a word.
    Respond(Response(NS_DISCONNECTED, S_OK));
    EXPECT_TRUE(downloader->IsFinished());
    EXPECT_TRUE(downloader->IsDisconnected());
    HRESULT code = S_OK;
    ASSERT_TRUE(downloader->GetError(code, nullptr));
    EXPECT_EQ(code, IXP_E_CONNECTION_DROPPED);

    // The next job reconnects.
    fake->Take();
    ASSERT_EQ(downloader->RefreshHeaders(this, account.Span(), 300), S_OK);
    EXPECT_EQ(fake->Take(), Commands{"CONNECT news.example.org auth log"});
    EXPECT_FALSE(downloader->GetError(code, nullptr));
}

TEST_F(HeaderJobTest, JobOnAnOpenConnectionStartsWithItsFirstCommand)
{
    WriteFile("groups-0001a2b3-sub.txt", "# Subscribed groups\r\nalt.one\r\n");
    ASSERT_EQ(downloader->Open(this, account.Span()), S_OK);
    Connected();
    fake->Take();
    ASSERT_EQ(downloader->RefreshHeaders(this, account.Span(), 300), S_OK);
    EXPECT_EQ(fake->Take(), Commands{"GROUP alt.one"});
    EXPECT_EQ(downloader->Open(this, account.Span()), E_FAIL);  // a job mode is set
}

TEST_F(HeaderJobTest, RefusedConnectIsReportedAndLeavesTheDownloaderDisconnected)
{
    WriteFile("groups-0001a2b3-sub.txt", "# Subscribed groups\r\nalt.one\r\n");
    fake->connectResult = IXP_E_CANT_FIND_HOST;
    EXPECT_EQ(downloader->RefreshHeaders(this, account.Span(), 300), IXP_E_CANT_FIND_HOST);
    EXPECT_TRUE(downloader->IsDisconnected());
    EXPECT_TRUE(downloader->IsFinished());
    HRESULT code = S_OK;
    ASSERT_TRUE(downloader->GetError(code, nullptr));
    EXPECT_EQ(code, IXP_E_CANT_FIND_HOST);
}

TEST_F(HeaderJobTest, ConnectAnsweredWithAFailureEndsTheJob)
{
    WriteFile("groups-0001a2b3-sub.txt", "# Subscribed groups\r\nalt.one\r\n");
    ASSERT_EQ(downloader->RefreshHeaders(this, account.Span(), 300), S_OK);
    fake->Take();
    NNTPRESPONSE r = Response(NS_CONNECT, IXP_E_NNTP_INVALID_USERPASS);
    char text[] = "481 Authentication failed";
    r.rIxpResult.pszResponse = text;
    Respond(r);
    EXPECT_TRUE(fake->Take().empty());  // no GROUP on a connection that failed
    HRESULT code = S_OK;
    std::string message;
    ASSERT_TRUE(downloader->GetError(code, &message));
    EXPECT_EQ(code, IXP_E_NNTP_INVALID_USERPASS);
    EXPECT_EQ(message, "481 Authentication failed");
}

}  // namespace
}  // namespace quillory::quarnex::testing
