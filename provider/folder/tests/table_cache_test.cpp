#include "provider/folder/table_cache.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "platform/base/tests/test_home.h"
#include "platform/base/time.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/tests/store_test_util.h"
#include "provider/folder/header_entryid.h"

namespace quillory::quarnex {
namespace {

using testing::TempHome;

std::vector<std::string> Lines(const CTableCache& cache)
{
    std::vector<std::string> out;
    cache.ForEachByGroup([&out](const KnownArticle& e) {
        out.push_back((e.confirmed ? "" : "? ") + std::string(e.group) + " " +
                      std::to_string(static_cast<LONG>(e.number)) + " " + std::string(e.messageId));
    });
    return out;
}


class TickOverride {
public:
    explicit TickOverride(DWORD tick) { SetTickCountSource([tick] { return tick; }); }
    ~TickOverride() { ResetTickCountSource(); }
};

TEST(TableCache, FileRoundTripKeepsConfirmedAndUnconfirmedEntriesInKeyOrder)
{
    TempHome home;
    CTableCache cache;
    cache.SetStoreProbeForTest([](const KnownArticle&) { return true; });
    ASSERT_TRUE(cache.Add(10, "<a@x>", "comp.lang.c", true));
    ASSERT_TRUE(cache.Add(11, "<b@x>", "comp.lang.c", false));
    ASSERT_TRUE(cache.Add(0x80000001u, "<c@x>", "alt.test", true));
    ASSERT_TRUE(cache.Add(7, "<d@x>", "", true));  // no group at all

    const std::string text = cache.SaveText();
    // One CR LF line per entry, in ascending number XOR CRC(group) order.
    std::vector<std::pair<tWord, std::string>> expected = {
        {10 ^ Crc32("comp.lang.c"), "comp.lang.c 10 <a@x>"},
        {11 ^ Crc32("comp.lang.c"), "? comp.lang.c 11 <b@x>"},
        {0x80000001u ^ Crc32("alt.test"), "alt.test -2147483647 <c@x>"},
        {7 ^ Crc32(""), " 7 <d@x>"},
    };
    std::sort(expected.begin(), expected.end());
    std::string want;
    for (const auto& [key, line] : expected) want += line + "\r\n";
    EXPECT_EQ(text, want);

    const std::string path = (home.path() / "groups-1-del.txt").string();
    ASSERT_EQ(cache.Save(path), 1);
    CTableCache again;
    again.SetStoreProbeForTest([](const KnownArticle&) { return true; });
    ASSERT_TRUE(again.Load(path));
    EXPECT_EQ(again.SaveText(), text);
    EXPECT_EQ(again.Path(), path);
    const KnownArticle* c = again.FindByGroup(0x80000001u, "alt.test");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->messageId, "<c@x>");
    EXPECT_FALSE(again.FindByGroup(11, "comp.lang.c")->confirmed);
    // Save without a path writes to the remembered one; with neither, nothing.
    again.Confirm(11, "comp.lang.c");
    ASSERT_EQ(again.Save(), 1);
    CTableCache third;
    third.Load(path);
    EXPECT_TRUE(third.FindByGroup(11, "comp.lang.c")->confirmed);
    EXPECT_EQ(CTableCache().Save(), 0);
}

TEST(TableCache, LoadSkipsPiecesWithoutAnEntryAndKeepsEverythingReadable)
{
    CTableCache cache;
    cache.SetStoreProbeForTest([](const KnownArticle&) { return true; });
    const std::string text = std::string("a 1 <")  // five characters: ignored
                             + "\r\n" + "grp 2 <ok2>\n"
                             + "\r\rno-spaces-here\r\n" + "grp 0 <zero>\r\n" + "grp 3\r\n" + "grp x <nan>\r\n"
                             + "? grp 4 <unconfirmed>\n" + "grp 5 <with space inside>\r\n"
                             + std::string("grp 6 <nul\0tail>\r\n", 18) + "grp 7 <trunc";
    cache.LoadText(text);
    EXPECT_EQ(cache.GroupKeyCount(), 5u);
    EXPECT_TRUE(cache.IsKnown(2, "grp"));
    EXPECT_FALSE(cache.FindByGroup(4, "grp")->confirmed);
    EXPECT_EQ(cache.FindByGroup(5, "grp")->messageId, "<with space inside>");
    EXPECT_EQ(cache.FindByGroup(6, "grp")->messageId, "<nul");  // a NUL ends the line's text
    EXPECT_EQ(cache.FindByGroup(7, "grp")->messageId, "<trunc");
    EXPECT_FALSE(cache.IsKnown(0, "grp"));
    EXPECT_FALSE(cache.IsKnown(1, "a"));
}

TEST(TableCache, LaterLineTakesTheSlotOfAnEqualKey)
{
    CTableCache cache;
    cache.LoadText("g 5 <first>\r\ng 5 <second>\r\n");
    EXPECT_EQ(cache.GroupKeyCount(), 1u);
    EXPECT_EQ(cache.FindByGroup(5, "g")->messageId, "<second>");
    // The first entry's bId slot stays, pointing at the entry it belongs to.
    EXPECT_EQ(cache.IdKeyCount(), 2u);
    EXPECT_EQ(cache.FindById(5, "<first>")->messageId, "<first>");
    EXPECT_EQ(cache.FindById(5, "<second>")->messageId, "<second>");
    // Removing through either tree takes the entry out of both.
    EXPECT_TRUE(cache.RemoveById(5, "<second>"));
    EXPECT_FALSE(cache.IsKnown(5, "g"));
    EXPECT_EQ(cache.IdKeyCount(), 1u);
}

TEST(TableCache, AddKeepsAKnownEntryAndRecordConfirmsIt)
{
    CTableCache cache;
    ASSERT_TRUE(cache.Add(1, "<a>", "g", false));
    EXPECT_FALSE(cache.Add(1, "<other>", "g", true));
    EXPECT_EQ(cache.FindByGroup(1, "g")->messageId, "<a>");
    EXPECT_FALSE(cache.FindByGroup(1, "g")->confirmed);
    cache.Record(1, "<a>", "g", false);
    EXPECT_FALSE(cache.FindByGroup(1, "g")->confirmed);
    cache.Record(1, "<a>", "g", true);
    EXPECT_TRUE(cache.FindByGroup(1, "g")->confirmed);
    cache.Record(2, "<b>", "g", true);
    EXPECT_TRUE(cache.FindByGroup(2, "g")->confirmed);
    cache.Confirm(99, "g");  // unknown: nothing happens
    EXPECT_EQ(cache.GroupKeyCount(), 2u);
    EXPECT_TRUE(cache.RemoveByGroup(2, "g"));
    EXPECT_EQ(cache.FindById(2, "<b>"), nullptr);
    EXPECT_FALSE(cache.RemoveByGroup(2, "g"));
}

TEST(TableCache, UnconfirmedEntriesStayOnlyWhenTheReceiveFolderHoldsTheirMessage)
{
    TempHome home;
    auto store = testing::OpenStore(testing::StorePath(home));
    ASSERT_TRUE(store);
    auto inbox = testing::OpenInbox(store.Get());
    ASSERT_TRUE(inbox);
    const std::string hex = BinToHex(MakeHeaderEntryId(42, "<held@x>", "comp.test"));
    testing::AddMessage(inbox.Get(), "delivered", {testing::StringProp(PR_CORVANE_HEADER_ENTRYID_HEX, hex.c_str())});

    const std::string path = (home.path() / "cache-del.txt").string();
    std::ofstream(path, std::ios::binary) << "? comp.test 42 <held@x>\r\n"
                                          << "? comp.test 43 <absent@x>\r\n"
                                          << "comp.test 44 <absent@x>\r\n";
    CTableCache cache;
    cache.SetMessageStore(store.Get());
    ASSERT_TRUE(cache.Load(path));
    EXPECT_TRUE(cache.IsKnown(42, "comp.test"));
    EXPECT_FALSE(cache.FindByGroup(42, "comp.test")->confirmed);
    EXPECT_FALSE(cache.IsKnown(43, "comp.test"));
    EXPECT_TRUE(cache.IsKnown(44, "comp.test"));

    // Without a store no unconfirmed entry can be checked.
    CTableCache storeless;
    storeless.Load(path);
    EXPECT_EQ(Lines(storeless), std::vector<std::string>{"comp.test 44 <absent@x>"});
    // A missing file leaves the cache empty.
    EXPECT_FALSE(storeless.Load((home.path() / "missing.txt").string()));
    EXPECT_EQ(storeless.GroupKeyCount(), 0u);
}

TEST(TableCache, NarrowRangeCutsKnownArticlesOffBothEnds)
{
    CTableCache cache;
    for (ULONG n = 100; n <= 150; ++n) cache.Add(n, "<" + std::to_string(n) + ">", "g", true);
    for (ULONG n = 190; n <= 200; ++n) cache.Add(n, "<" + std::to_string(n) + ">", "g", true);
    cache.Add(170, "<170>", "g", true);  // known in the middle stays in the range
    ULONG first = 100, last = 200;
    cache.NarrowRange(first, last, "g");
    EXPECT_EQ(first, 151u);
    EXPECT_EQ(last, 189u);
    // Another group's numbers are not this group's.
    first = 100, last = 200;
    cache.NarrowRange(first, last, "other");
    EXPECT_EQ(first, 100u);
    EXPECT_EQ(last, 200u);

    for (ULONG n = 151; n <= 189; ++n) cache.Add(n, "<" + std::to_string(n) + ">", "g", true);
    first = 100, last = 200;
    cache.NarrowRange(first, last, "g");
    EXPECT_GT(first, last);
    // At the very top of the number range the answer still says "nothing new".
    cache.Add(0xFFFFFFFFu, "<top>", "g", true);
    first = last = 0xFFFFFFFFu;
    cache.NarrowRange(first, last, "g");
    EXPECT_GT(first, last);
}

TEST(TableCache, PruneWalksDownFromBelowTheFirstArticleUntilFiftyMisses)
{
    TickOverride noScan(5 * 1024);  // (tick / 1024) % 10 == 5: no full scan
    CTableCache cache;
    for (ULONG n = 400; n <= 520; ++n) cache.Add(n, "<" + std::to_string(n) + ">", "g", true);
    cache.Add(340, "<340>", "g", true);   // beyond 50 misses below 400: stays
    cache.Add(360, "<360>", "g", true);   // within the walk: goes
    cache.Add(450, "<450o>", "other", true);
    cache.Prune("g", 1000);  // walk starts at 499
    EXPECT_TRUE(cache.IsKnown(500, "g"));
    EXPECT_FALSE(cache.IsKnown(499, "g"));
    EXPECT_FALSE(cache.IsKnown(400, "g"));
    EXPECT_FALSE(cache.IsKnown(360, "g"));
    EXPECT_TRUE(cache.IsKnown(340, "g"));
    EXPECT_TRUE(cache.IsKnown(450, "other"));

    cache.Prune("g", 501);  // below 502: nothing happens
    EXPECT_TRUE(cache.IsKnown(340, "g"));
}

TEST(TableCache, PruneScanRemovesOlderRunsOfTheGroupWhateverTheirLetterCase)
{
    TickOverride scan(1 * 1024);  // (tick / 1024) % 10 == 1: scan
    CTableCache cache;
    cache.Add(5000, "<keep>", "g.x", true);
    for (ULONG n = 100; n < 110; ++n) cache.Add(n, "<old" + std::to_string(n) + ">", "g.x", true);
    cache.Add(20, "<older>", "G.X", true);  // other spelling of the same group
    cache.Add(30, "<foreign>", "h.x", true);
    cache.Prune("g.x", 5000);
    EXPECT_TRUE(cache.IsKnown(5000, "g.x"));
    for (ULONG n = 100; n < 110; ++n) EXPECT_FALSE(cache.IsKnown(n, "g.x")) << n;
    EXPECT_FALSE(cache.IsKnown(20, "G.X"));
    EXPECT_TRUE(cache.IsKnown(30, "h.x"));
}

TEST(TableCache, ALargeFileLoadsWholeAndSavesBackTheSame)
{
    CTableCache source;
    for (ULONG n = 1; n <= 8000; ++n) source.Add(n, "<m" + std::to_string(n) + "@x>", "comp.big", true);
    CTableCache cache;
    cache.LoadText(source.SaveText());
    ASSERT_EQ(cache.GroupKeyCount(), 8000u);
    ASSERT_EQ(cache.IdKeyCount(), 8000u);
    EXPECT_EQ(cache.SaveText(), source.SaveText());
    for (ULONG n = 1; n <= 8000; n += 97) ASSERT_NE(cache.FindById(n, "<m" + std::to_string(n) + "@x>"), nullptr) << n;
}

TEST(TableCache, RunsOfConsecutiveArticlesStayReachableAndWalkInKeyOrder)
{
    // Keys of consecutive numbers in one group arrive nearly sorted.
    CTableCache cache;
    for (ULONG n = 1; n <= 8000; ++n) ASSERT_TRUE(cache.Add(n, "<r" + std::to_string(n) + ">", "comp.run", n % 3 == 0));
    for (ULONG n = 1; n <= 3000; ++n) ASSERT_TRUE(cache.Add(n, "<s" + std::to_string(n) + ">", "comp.other", false));
    EXPECT_EQ(cache.GroupKeyCount(), 11000u);
    EXPECT_EQ(cache.IdKeyCount(), 11000u);
    // Nothing was lost or mixed up on the way.
    for (ULONG n = 1; n <= 8000; ++n) {
        const KnownArticle* e = cache.FindByGroup(n, "comp.run");
        ASSERT_NE(e, nullptr) << n;
        EXPECT_EQ(e->messageId, "<r" + std::to_string(n) + ">");
        EXPECT_EQ(e->confirmed, n % 3 == 0);
        ASSERT_EQ(cache.FindById(n, e->messageId), e);
    }
    tWord previous = 0;
    std::size_t seen = 0;
    cache.ForEachByGroup([&](const KnownArticle& e) {
        const tWord key = e.number ^ Crc32(e.group);
        EXPECT_TRUE(seen == 0 || key > previous);
        previous = key;
        ++seen;
    });
    EXPECT_EQ(seen, 11000u);
}

}  // namespace
}  // namespace quillory::quarnex
