// `quillory groups --download` against the local INN news server that
// scripts/inn-setup.sh prepares, with newsgroups created for each run. Without
// the server the tests skip, unless QUILLORY_INN=1 says it must be there.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "host/tests/inn_test_util.h"
#include "host/tests/news_account_fixture.h"
#include "host/tests/run_program.h"

namespace {

using quillory::testing::Contains;
using quillory::testing::Ctlinnd;
using quillory::testing::RandomSuffix;
using quillory::testing::NewsAccountSetup;
using quillory::testing::NewsHome;

constexpr const char* kInnconfval = "/usr/lib/news/bin/innconfval";

// The server's newsgroups file, which LIST NEWSGROUPS reads on each request.
std::string NewsgroupsFile()
{
    std::string dir;
    if (FILE* p = popen((std::string(kInnconfval) + " pathdb 2>/dev/null").c_str(), "r")) {
        char buffer[512];
        if (std::fgets(buffer, sizeof buffer, p)) dir = buffer;
        pclose(p);
    }
    while (!dir.empty() && (dir.back() == '\n' || dir.back() == '\r')) dir.pop_back();
    return dir.empty() ? std::string() : dir + "/newsgroups";
}

// Two groups of this run, one described, removed again at the end.
class RunGroups {
public:
    RunGroups()
    {
        const std::string prefix = "quillory.test.l" + RandomSuffix();
        described = prefix + ".described";
        plain = prefix + ".plain";
        created_ = Ctlinnd("newgroup " + described + " y") && Ctlinnd("newgroup " + plain + " y");
        const std::string file = NewsgroupsFile();
        if (created_ && !file.empty()) std::ofstream(file, std::ios::app) << described << "\tDescribed for this run\n";
    }
    ~RunGroups()
    {
        Ctlinnd("rmgroup " + described);
        Ctlinnd("rmgroup " + plain);
    }
    bool Created() const { return created_; }

    std::string described, plain;

private:
    bool created_ = false;
};

#define REQUIRE_INN() QUILLORY_REQUIRE_INN()

std::string Read(const std::filesystem::path& p) { return quillory::testing::ReadWholeFile(p); }

TEST(GroupDownloadInn, TheServersListWithDescriptionsNewMarksAndKeptSubscriptions)
{
    REQUIRE_INN();
    RunGroups groups;
    ASSERT_TRUE(groups.Created()) << "ctlinnd newgroup failed (run as root?)";

    NewsHome home;
    NewsAccountSetup account;
    home.AddAccount(account);
    const auto list = home.ListFile(account);
    const std::string gone = "quillory.gone.g" + RandomSuffix();
    // Subscribed before the download: one group the server has (in other
    // case), one it does not have.
    std::string upper = groups.described;
    upper[0] = 'Q';
    std::ofstream(list, std::ios::binary) << " * " << upper << "\r\n * " << gone << "\r\n";

    auto o = quillory::testing::RunQuillory(home.Home(), {"groups", "--profile", "Default", "--account", "news",
                                                          "--download"});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_TRUE(Contains(o.out, "Downloading newsgroups: ")) << o.out;
    EXPECT_TRUE(Contains(o.out, " received...\n")) << o.out;

    const std::string text = Read(list);
    EXPECT_TRUE(Contains(text, "!* " + groups.described + " Described for this run\r\n")) << text;
    EXPECT_TRUE(Contains(text, "!  " + groups.plain + "\r\n")) << text;
    EXPECT_FALSE(Contains(text, gone)) << text;
    EXPECT_EQ(Read(home.DataDir() / "groups-0001a2b3-sub.txt"), "# Subscribed groups\r\n" + groups.described + "\r\n");

    // The listing shows the same.
    o = quillory::testing::RunQuillory(home.Home(), {"groups", "--profile", "Default", "--account", "news"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(Contains(o.out, "!* " + groups.described + " Described for this run\n")) << o.out;

    // Subscribing to a downloaded group works at once.
    o = quillory::testing::RunQuillory(
        home.Home(), {"subscribe", "--profile", "Default", "--account", "news", groups.plain});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(Contains(Read(list), "!* " + groups.plain + "\r\n"));
}

TEST(GroupDownloadInn, WithoutDescriptionsOnlyTheNamesArrive)
{
    REQUIRE_INN();
    RunGroups groups;
    ASSERT_TRUE(groups.Created()) << "ctlinnd newgroup failed (run as root?)";
    NewsHome home;
    NewsAccountSetup account;
    account.descriptions = false;
    home.AddAccount(account);

    auto o = quillory::testing::RunQuillory(home.Home(), {"groups", "--profile", "Default", "--account", "news",
                                                          "--download"});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    const std::string text = Read(home.ListFile(account));
    EXPECT_TRUE(Contains(text, "!  " + groups.described + "\r\n")) << text;
    EXPECT_EQ(Read(home.DataDir() / "groups-0001a2b3-sub.txt"), "# Subscribed groups\r\n");
}

TEST(GroupDownloadInn, ANewsServerThatIsNotThereIsReportedAndNothingIsWritten)
{
    NewsHome home;
    NewsAccountSetup account;
    account.port = 1;  // nothing listens there
    home.AddAccount(account);
    std::ofstream(home.ListFile(account), std::ios::binary) << " * alt.kept\r\n";

    auto o = quillory::testing::RunQuillory(home.Home(), {"groups", "--profile", "Default", "--account", "news",
                                                          "--download"});
    EXPECT_EQ(o.status, 1) << o.out;
    EXPECT_TRUE(Contains(o.err, "Unable to connect to the server.")) << o.err;
    EXPECT_EQ(Read(home.ListFile(account)), " * alt.kept\r\n");
}

}  // namespace
