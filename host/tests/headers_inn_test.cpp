// `quillory headers` and `quillory mark` with the real transport provider
// against the local news server: an account set up as a user would, the
// headers of a newsgroup made for the run offered in the header table, and
// rows marked by number and by name.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "host/tests/inn_test_util.h"
#include "host/tests/run_program.h"

namespace {

using quillory::testing::Contains;
using quillory::testing::ProgramOutcome;
using quillory::testing::TempHome;

// The server refuses articles older than its cut-off, so dates are taken
// from now: the Date header text and the date as a listing shows it.
std::pair<std::string, std::string> MinutesAgo(int minutes)
{
    const std::time_t t = std::time(nullptr) - minutes * 60;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char header[64], shown[64];
    std::strftime(header, sizeof header, "%a, %d %b %Y %H:%M:%S +0000", &tm);
    std::strftime(shown, sizeof shown, "%Y-%m-%d %H:%M UTC", &tm);
    return {header, shown};
}

// The numbered row lines of a listing.
std::vector<std::string> RowLines(const std::string& out)
{
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < out.size()) {
        const std::size_t end = out.find('\n', at);
        const std::string line = out.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!line.empty() && line[0] >= '0' && line[0] <= '9' && line.find('\t') != std::string::npos)
            lines.push_back(line);
        at = end == std::string::npos ? out.size() : end + 1;
    }
    return lines;
}

ProgramOutcome Q(const TempHome& home, std::vector<std::string> args)
{
    return quillory::testing::RunQuillory(home, std::move(args));
}

TEST(HeadersInn, TheHeaderTableIsRefreshedListedAndMarked)
{
    QUILLORY_REQUIRE_INN();
    const std::string group = "quillory.test.h" + quillory::testing::RandomSuffix();
    ASSERT_TRUE(quillory::testing::Ctlinnd("newgroup " + group + " y")) << "ctlinnd failed (run as root?)";
    const std::string root = "<root." + group + "@test>";
    const auto [rootDate, rootShown] = MinutesAgo(60);
    const auto [replyDate, replyShown] = MinutesAgo(55);
    ASSERT_TRUE(quillory::testing::OfferArticle(
        root, "From: Ann <ann@example.test>\r\nNewsgroups: " + group +
                  "\r\nSubject: First post\r\nDate: " + rootDate + "\r\n\r\nHello."));
    ASSERT_TRUE(quillory::testing::OfferArticle(
        "<reply." + group + "@test>", "From: Bob <bob@example.test>\r\nNewsgroups: " + group +
                                          "\r\nSubject: Re: First post\r\nDate: " + replyDate +
                                          "\r\nReferences: " + root + "\r\n\r\nHi."));

    TempHome home;
    ASSERT_EQ(Q(home, {"setup", "install"}).status, 0);
    ASSERT_EQ(Q(home, {"profile", "create", "Default"}).status, 0);
    auto o = Q(home, {"account", "add", "--profile", "Default", "--server", "127.0.0.1", "--port", "119", "--name",
                      "Tester", "--email", "tester@example.test", "--account", "news"});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    ASSERT_EQ(Q(home, {"groups", "--profile", "Default", "--account", "news", "--download"}).status, 0);
    ASSERT_EQ(Q(home, {"subscribe", "--profile", "Default", "--account", "news", group}).status, 0);

    o = Q(home, {"headers", "--profile", "Default", "--account", "news"});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_TRUE(Contains(o.out, "1\t" + group + ":1\t-\tFirst post  (Ann, " + rootShown + ")\n")) << o.out;
    EXPECT_TRUE(Contains(o.out, "2\t" + group + ":2\t-\tRe: First post  (Bob, " + replyShown + ")\n")) << o.out;
    // A send and receive asked for headers only goes through the same flow: the same rows.
    const auto sync = Q(home, {"sync", "--profile", "Default", "--headers-only"});
    ASSERT_EQ(sync.status, 0) << sync.out << sync.err;
    EXPECT_EQ(RowLines(sync.out), RowLines(o.out));
    EXPECT_EQ(RowLines(o.out).size(), 2u) << o.out;

    // A row that is not there marks nothing.
    o = Q(home, {"mark", "--profile", "Default", "1", group + ":7"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Contains(o.err, "no header row " + group + ":7 (nothing was marked)")) << o.err;

    // A row removed from the table stays away; the other is still offered.
    o = Q(home, {"mark", "--profile", "Default", "--delete", group + ":2"});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_TRUE(Contains(o.out, "marked " + group + ":2 for removal\n")) << o.out;
    o = Q(home, {"headers", "--profile", "Default"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(Contains(o.out, group + ":1\t")) << o.out;
    EXPECT_FALSE(Contains(o.out, group + ":2\t")) << o.out;

    // Marked for download by number: the transport downloads it in the same run.
    o = Q(home, {"mark", "--profile", "Default", "1"});
    EXPECT_TRUE(Contains(o.out, "marked " + group + ":1 for download\n")) << o.out << o.err;

    quillory::testing::Ctlinnd("rmgroup " + group);
}

}  // namespace
