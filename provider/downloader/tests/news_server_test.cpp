// The downloader on the real news component: against the local INN server
// (scripts/inn-setup.sh), with groups made for each run, and against a
// scripted server that hangs up in the middle of a job.
#include "provider/downloader/tests/downloader_fixture.h"

#include "platform/base/time.h"
#include "platform/base/window.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>

namespace quillory::quarnex::testing {
namespace {

constexpr DWORD kJobLimitMs = 30000;

bool Listening(int port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

// scripts/test.sh starts the server and sets QUILLORY_INN=1: then a missing
// server fails the tests instead of skipping them.
bool NewsServerRequired()
{
    const char* v = std::getenv("QUILLORY_INN");
    return v && std::string(v) == "1";
}

std::string NewGroupName(const char* what)
{
    return "local.quillory.proto." + std::string(what) + "." + std::to_string(::getpid()) + "." +
           std::to_string(GetTickCount());
}

bool CreateGroup(const std::string& name)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (std::system(("/usr/lib/news/bin/ctlinnd -s newgroup " + name + " y >/dev/null 2>&1").c_str()) == 0)
            return true;
        ::usleep(500 * 1000);  // a server that just started answers "throttled"
    }
    return false;
}

class NewsServerTest : public DownloaderTest {
protected:
    void SetUp() override
    {
        if (!Listening(119)) {
            if (NewsServerRequired()) FAIL() << "no news server on 127.0.0.1:119 (QUILLORY_INN=1)";
            GTEST_SKIP() << "no news server on 127.0.0.1:119; run scripts/inn-setup.sh";
        }
        DownloaderTest::SetUp();
        account.SetString(acct::kServer, "127.0.0.1");
        account.SetLong(acct::kPort, 119);
        account.SetLong(acct::kTimeout, 1);
        // The real component this time.
        downloader = std::make_unique<CNNTPDownloader>();
        ASSERT_EQ(downloader->CreateTransport(), S_OK);
    }
    // The logon's wait: pump messages until the job is finished.
    bool Wait()
    {
        const DWORD start = GetTickCount();
        while (!downloader->IsFinished()) {
            if (GetTickCount() - start > kJobLimitMs) return false;
            if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 750, QS_ALLINPUT) != WAIT_OBJECT_0) continue;
            MSG msg;
            if (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessage(&msg);
            }
        }
        return true;
    }
    void ExpectNoError()
    {
        HRESULT code = S_OK;
        std::string text;
        EXPECT_FALSE(downloader->GetError(code, &text)) << std::hex << code << " " << text;
    }
    void Post(const std::string& group, int n, const std::string& subject)
    {
        const std::string article = "From: Tester <tester@example.org>\r\nNewsgroups: " + group + "\r\nSubject: " +
                                    subject + "\r\nMessage-ID: <" + std::to_string(n) + "." + group +
                                    "@proto.test>\r\n\r\nBody " + std::to_string(n) + "\r\n";
        ASSERT_EQ(downloader->PostArticle(this, account.Span(), article), S_OK);
        ASSERT_TRUE(Wait());
        ExpectNoError();
    }
};

TEST_F(NewsServerTest, PostedArticlesComeBackAsRowsThenAsArticlesAndCacheFiles)
{
    const std::string group = NewGroupName("flow");
    ASSERT_TRUE(CreateGroup(group));
    for (int n = 1; n <= 5; ++n) Post(group, n, n == 5 ? "=?utf-8?q?Gr=C3=BC=C3=9Fe?=" : "Post " + std::to_string(n));

    WriteFile("groups-0001a2b3-sub.txt", "# Subscribed groups\r\n" + group + "\r\n");
    ASSERT_EQ(downloader->RefreshHeaders(this, account.Span(), 3), S_OK);
    ASSERT_TRUE(Wait());
    ExpectNoError();
    ASSERT_EQ(folder->RowCount(), 3u);  // the newest three
    const RowCopy newest = TableRow(folder.Get(), MakeHeaderEntryId(5, "<5." + group + "@proto.test>", group));
    ASSERT_TRUE(newest);
    EXPECT_STREQ(newest.Find(PR_SUBJECT)->Value.lpszA, "Gr\xFC\xDF" "e");
    EXPECT_STREQ(newest.Find(PR_SENDER_EMAIL_ADDRESS)->Value.lpszA, "tester@example.org");

    // A second refresh offers nothing new: every header is known.
    ASSERT_EQ(downloader->RefreshHeaders(this, account.Span(), 3), S_OK);
    ASSERT_TRUE(Wait());
    EXPECT_EQ(folder->RowCount(), 0u);  // the table is cleared, the known ones not offered again

    // The marked articles themselves.
    ASSERT_EQ(downloader->DownloadArticles(this, account.Span(),
                                           Rows({{3, "<3." + group + "@proto.test>", group, MSGSTATUS_REMOTE_DOWNLOAD},
                                                 {5, "<5." + group + "@proto.test>", group, MSGSTATUS_REMOTE_DOWNLOAD}}),
                                           false),
              S_OK);
    ASSERT_TRUE(Wait());
    ExpectNoError();
    ASSERT_EQ(downloader->PendingCount(), 2u);
    const std::string third = ArticleText(downloader->TakeArticle());
    EXPECT_EQ(third.rfind("X-Corvane-Newsgroup: " + group + "\r\nX-Corvane-Article: 3\r\n", 0), 0u) << third;
    EXPECT_NE(third.find("Subject: Post 3\r\n"), std::string::npos);
    EXPECT_NE(third.find("\r\n\r\nBody 3\r\n"), std::string::npos);

    // The prefetch stores bodies as files.
    const MarkedRow row{4, "<4." + group + "@proto.test>", group, kMsgStatusPrefetch};
    ASSERT_EQ(downloader->DownloadArticles(this, account.Span(), Rows({row}), true), S_OK);
    ASSERT_TRUE(Wait());
    ExpectNoError();
    const std::string path =
        ArticleCachePath(ArticleCacheKey(MakeHeaderEntryId(row.number, row.messageId, row.group), "News"));
    ASSERT_TRUE(CacheFilePresent(path));
    EXPECT_EQ(downloader->PendingCount(), 0u);
}

TEST_F(NewsServerTest, NewGroupsSinceAnHourAgoAreMarkedInTheList)
{
    const std::string group = NewGroupName("new");
    ASSERT_TRUE(CreateGroup(group));
    WriteFile(kListFile, "!* alt.old.mark\r\n");
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULONGLONG t = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime) - 3600ULL * 10000000ULL;
    const FILETIME hourAgo{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
    SYSTEMTIME since{};
    ASSERT_TRUE(FileTimeToSystemTime(&hourAgo, &since));
    ASSERT_EQ(downloader->CheckNewGroups(this, account.Span(), since), S_OK);
    ASSERT_TRUE(Wait());
    ExpectNoError();
    const std::string list = ReadFile(kListFile);
    EXPECT_EQ(list.rfind(" * alt.old.mark\r\n", 0), 0u) << list;
    EXPECT_NE(list.find("\r\n!  " + group + "\r\n"), std::string::npos) << list;
}

// A server that greets, accepts the reader mode and hangs up at the first GROUP.
class HangUpServer {
public:
    HangUpServer()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        ::listen(listener_, 1);
        thread_ = std::thread([this] { Serve(); });
    }
    ~HangUpServer()
    {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }
    int Port() const { return port_; }

private:
    void Serve()
    {
        const int c = ::accept(listener_, nullptr, nullptr);
        if (c < 0) return;
        auto say = [c](const std::string& s) { return ::send(c, s.data(), s.size(), MSG_NOSIGNAL); };
        say("200 scripted server ready\r\n");
        std::string pending;
        char buf[512];
        for (;;) {
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0) break;
            pending.append(buf, static_cast<std::size_t>(n));
            std::size_t eol;
            bool hangUp = false;
            while ((eol = pending.find("\r\n")) != std::string::npos) {
                const std::string line = pending.substr(0, eol);
                pending.erase(0, eol + 2);
                if (line.rfind("GROUP", 0) == 0) hangUp = true;
                else if (line.rfind("MODE READER", 0) == 0) say("200 reader\r\n");
                else if (line.rfind("QUIT", 0) == 0) say("205 bye\r\n");
                else say("500 what?\r\n");
            }
            if (hangUp) break;
        }
        ::close(c);
    }
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

TEST_F(DownloaderTest, ConnectionLostMidJobEndsWithAnErrorNotAHang)
{
    HangUpServer server;
    account.SetString(acct::kServer, "127.0.0.1");
    account.SetLong(acct::kPort, server.Port());
    account.SetLong(acct::kTimeout, 1);
    downloader = std::make_unique<CNNTPDownloader>();
    ASSERT_EQ(downloader->CreateTransport(), S_OK);
    WriteFile("groups-0001a2b3-sub.txt", "# Subscribed groups\r\nalt.one\r\n");
    ASSERT_EQ(downloader->RefreshHeaders(this, account.Span(), 300), S_OK);
    const DWORD start = GetTickCount();
    while (!downloader->IsFinished() && GetTickCount() - start < kJobLimitMs) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 750, QS_ALLINPUT) != WAIT_OBJECT_0) continue;
        MSG msg;
        if (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
    }
    ASSERT_TRUE(downloader->IsFinished());
    HRESULT code = S_OK;
    ASSERT_TRUE(downloader->GetError(code, nullptr));
    EXPECT_TRUE(FAILED(code)) << std::hex << code;
}

}  // namespace
}  // namespace quillory::quarnex::testing
