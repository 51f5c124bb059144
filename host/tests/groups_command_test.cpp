// Subscribing and unsubscribing: the edits on a group array, and the
// `quillory subscribe|unsubscribe|groups` programs rewriting an account's two
// list files the way the subscription dialog does.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "host/group_subscription.h"
#include "host/tests/news_account_fixture.h"
#include "host/tests/run_program.h"

namespace {

using quillory::GroupRecord;
using namespace quillory::host;
using quillory::testing::Contains;
using quillory::testing::NewsAccountSetup;
using quillory::testing::NewsHome;
using quillory::testing::ProgramOutcome;

GroupRecord G(std::string name, bool subscribed = false, bool isNew = false, std::string description = {})
{
    return GroupRecord{std::move(name), std::move(description), isNew, subscribed};
}

TEST(GroupSubscription, AnUnknownNameChangesNothingAndNamesFoldCaseOnlyWhenUnambiguous)
{
    std::vector<GroupRecord> records = {G("alt.test"), G("Comp.Lang"), G("misc.a"), G("MISC.A")};
    const std::vector<GroupRecord> before = records;

    auto change = SetSubscribed(records, std::vector<std::string>{"alt.test", "no.such.group"}, true);
    EXPECT_EQ(change.unknown, std::vector<std::string>{"no.such.group"});
    EXPECT_EQ(records, before);

    // "misc.A" matches two records by case alone: neither is guessed.
    change = SetSubscribed(records, std::vector<std::string>{"misc.A"}, true);
    EXPECT_EQ(change.unknown, std::vector<std::string>{"misc.A"});
    EXPECT_EQ(records, before);

    change = SetSubscribed(records, std::vector<std::string>{"comp.lang", "MISC.A", "alt.test", "alt.test"}, true);
    EXPECT_TRUE(change.unknown.empty());
    EXPECT_EQ(change.changed, (std::vector<std::string>{"Comp.Lang", "MISC.A", "alt.test"}));
    EXPECT_TRUE(records[0].subscribed && records[1].subscribed && records[3].subscribed);
    EXPECT_FALSE(records[2].subscribed);

    change = SetSubscribed(records, std::vector<std::string>{"alt.test", "misc.a"}, false);
    EXPECT_EQ(change.changed, std::vector<std::string>{"alt.test"});
    EXPECT_EQ(change.unchanged, std::vector<std::string>{"misc.a"});
}

TEST(GroupSubscription, ADownloadKeepsSubscriptionsMarksNewGroupsAndSortsWithoutCase)
{
    const std::vector<GroupRecord> current = {G("Alt.Test", true), G("gone.away", true), G("comp.old", false, true)};
    std::vector<GroupRecord> downloaded = {G("comp.old"), G("alt.test", false, false, "Tests"), G("Beta.x"),
                                           G("alpha.new")};
    const auto merged = MergeDownloadedList(current, downloaded, std::vector<std::string>{"alpha.new"});
    // A subscribed group the server no longer has goes; an old new mark goes too.
    EXPECT_EQ(merged, (std::vector<GroupRecord>{G("alpha.new", false, true), G("alt.test", true, false, "Tests"),
                                                G("Beta.x"), G("comp.old")}));
}

TEST(GroupSubscription, ListingLinesShowMarksAndHideTheNoDescriptionMarker)
{
    EXPECT_EQ(FormatListingLine(G("alt.test", true, true, "Test group")), "!* alt.test Test group");
    EXPECT_EQ(FormatListingLine(G("alt.q", false, false, "?")), "   alt.q");
}

// ---- the programs over real list files --------------------------------------------

ProgramOutcome Quillory(const NewsHome& home, std::vector<std::string> args)
{
    return quillory::testing::RunQuillory(home.Home(), std::move(args));
}

std::string Read(const std::filesystem::path& p) { return quillory::testing::ReadWholeFile(p); }

void Write(const std::filesystem::path& p, std::string_view text) { std::ofstream(p, std::ios::binary) << text; }

constexpr std::string_view kList =
    "!  local.new Fresh group\r\n"
    " * alt.test Test group\r\n"
    "   comp.lang.c\r\n"
    "!* misc.both Both marks\r\n";

TEST(GroupsProgram, SubscribeAndUnsubscribeRewriteBothFilesKeepingMarksAndOrder)
{
    NewsHome home;
    NewsAccountSetup account;
    home.AddAccount(account);
    const auto list = home.ListFile(account);
    const auto sub = home.DataDir() / "groups-0001a2b3-sub.txt";
    Write(list, kList);

    auto o = Quillory(home, {"subscribe", "--profile", "Default", "--account", "news", "comp.lang.c", "local.new"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(Contains(o.out, "subscribed comp.lang.c\n")) << o.out;
    EXPECT_EQ(Read(list),
              "!* local.new Fresh group\r\n"
              " * alt.test Test group\r\n"
              " * comp.lang.c\r\n"
              "!* misc.both Both marks\r\n");
    EXPECT_EQ(Read(sub), "# Subscribed groups\r\nlocal.new\r\nalt.test\r\ncomp.lang.c\r\nmisc.both\r\n");

    o = Quillory(home, {"unsubscribe", "--profile", "Default", "--account", "news", "misc.both", "alt.test"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Read(list),
              "!* local.new Fresh group\r\n"
              "   alt.test Test group\r\n"
              " * comp.lang.c\r\n"
              "!  misc.both Both marks\r\n");
    EXPECT_EQ(Read(sub), "# Subscribed groups\r\nlocal.new\r\ncomp.lang.c\r\n");

    o = Quillory(home, {"groups", "--profile", "Default", "--account", "news"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "!* local.new Fresh group\n   alt.test Test group\n * comp.lang.c\n!  misc.both Both marks\n");
}

TEST(GroupsProgram, AnUnknownGroupOrAccountIsAClearErrorAndNothingIsWritten)
{
    NewsHome home;
    NewsAccountSetup account;
    home.AddAccount(account);
    const auto list = home.ListFile(account);
    const auto sub = home.DataDir() / "groups-0001a2b3-sub.txt";
    Write(list, kList);
    Write(sub, "# Subscribed groups\r\nalt.test\r\n");

    auto o = Quillory(home, {"subscribe", "--profile", "Default", "--account", "news", "comp.lang.c", "alt.nothere"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Contains(o.err, "alt.nothere")) << o.err;
    EXPECT_FALSE(Contains(o.err, "comp.lang.c")) << o.err;
    EXPECT_EQ(Read(list), kList);
    EXPECT_EQ(Read(sub), "# Subscribed groups\r\nalt.test\r\n");

    o = Quillory(home, {"subscribe", "--profile", "Default", "--account", "other", "comp.lang.c"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Contains(o.err, "no newsgroup account named 'other'")) << o.err;
    o = Quillory(home, {"subscribe", "--profile", "Nope", "--account", "news", "comp.lang.c"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(Read(list), kList);

    EXPECT_EQ(Quillory(home, {"subscribe", "--profile", "Default", "--account", "news"}).status, 2);  // no group
}

TEST(GroupsProgram, TheAccountIsChosenByItsNameAmongSeveralAndNeedsItsListFile)
{
    NewsHome home;
    NewsAccountSetup first;
    first.name = "First Server";
    first.listFile = "groups-00000001.txt";
    NewsAccountSetup second;
    second.name = "Second Server";
    second.listFile = "groups-00000002.txt";
    NewsAccountSetup broken;
    broken.name = "Broken";
    broken.listFile.clear();
    home.AddAccount(first);
    home.AddAccount(second);
    home.AddAccount(broken);
    Write(home.ListFile(first), "   one.group\r\n");
    Write(home.ListFile(second), "   two.group\r\n");

    auto o = Quillory(home, {"subscribe", "--profile", "Default", "--account", "second server", "two.group"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Read(home.ListFile(second)), " * two.group\r\n");
    EXPECT_EQ(Read(home.ListFile(first)), "   one.group\r\n");

    o = Quillory(home, {"groups", "--profile", "Default", "--account", "Broken"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Contains(o.err, "re-create the account")) << o.err;

    // Before any download the account simply has no groups.
    std::filesystem::remove(home.ListFile(first));
    o = Quillory(home, {"groups", "--profile", "Default", "--account", "First Server"});
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(Contains(o.out, "--download")) << o.out;
    o = Quillory(home, {"subscribe", "--profile", "Default", "--account", "First Server", "one.group"});
    EXPECT_EQ(o.status, 1);
    EXPECT_FALSE(std::filesystem::exists(home.ListFile(first)));
}

}  // namespace
