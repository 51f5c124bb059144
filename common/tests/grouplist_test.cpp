#include "common/grouplist.h"

#include "platform/base/tests/test_home.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace quillory {
namespace {

namespace fs = std::filesystem;

GroupRecord Rec(std::string name, std::string description, bool isNew, bool subscribed)
{
    return GroupRecord{std::move(name), std::move(description), isNew, subscribed};
}

std::string Slurp(const fs::path& p)
{
    std::string text;
    EXPECT_TRUE(ReadWholeFile(p.string(), text)) << p;
    return text;
}

TEST(GroupListParse, MarksNameAndDescriptionByColumn)
{
    const auto records = ParseGroupList(
        "!* alt.test Test group\r\n"
        " * comp.lang.c  \t The C language \t \r\n"
        "!  a\r\n"
        "   misc.test\r\n"
        "x? news.answers\tanswers\r\n");
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0], Rec("alt.test", "Test group", true, true));
    EXPECT_EQ(records[1], Rec("comp.lang.c", "The C language", false, true));
    EXPECT_EQ(records[2], Rec("a", "", true, false));
    EXPECT_EQ(records[3], Rec("misc.test", "", false, false));
    // Any other mark character means "not set"; a tab also ends the name.
    EXPECT_EQ(records[4], Rec("news.answers", "answers", false, false));
}

TEST(GroupListParse, SkipsShortEmptyAndNamelessLines)
{
    const auto records = ParseGroupList(
        "!* \r\n"          // three characters: no group
        "\r\n\n\r"         // empty lines vanish
        "!*  indented\r\n"  // text starts with a blank: empty name
        "!* \tx\r\n"        // same with a tab
        "ab\r\n"
        " * last");         // no line end at the end of the file
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], Rec("last", "", false, true));
}

TEST(GroupListParse, SplitsAtEveryCrAndLfAlone)
{
    const auto records = ParseGroupList("   one\r   two\n   three\r\n\r\n   four");
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[1].name, "two");
    EXPECT_EQ(records[3].name, "four");
}

TEST(GroupListParse, NulEndsOnlyItsOwnLine)
{
    using namespace std::string_literals;
    const auto records = ParseGroupList(
        "!* alt.one first\0hidden * alt.fake\r\n"
        " * \0alt.gone\r\n"
        "   alt.two\0\r\n"
        "   alt.three"s);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], Rec("alt.one", "first", true, true));
    EXPECT_EQ(records[1], Rec("alt.two", "", false, false));
    EXPECT_EQ(records[2], Rec("alt.three", "", false, false));
}

TEST(GroupListParse, LongLinesAndNoLineEnds)
{
    const std::string longName(1 << 20, 'n');
    const auto records = ParseGroupList(" * " + longName + " " + std::string(5000, 'd'));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].name.size(), longName.size());
    EXPECT_EQ(records[0].description.size(), 5000u);
    EXPECT_TRUE(ParseGroupList(std::string(100000, '!')).size() == 1);
}

TEST(GroupListParse, ChunksReproduceTheWholeParse)
{
    std::string text = "\r\n!* \r\n";
    for (int i = 0; i < 25; ++i) text += "!* group." + std::to_string(i) + " d\r\n\r\nxx\r\n";
    const auto whole = ParseGroupList(text);
    ASSERT_EQ(whole.size(), 25u);

    std::vector<GroupRecord> chunked;
    std::string_view tail = text;
    int calls = 0;
    while (!tail.empty()) {
        const std::size_t before = chunked.size();
        tail.remove_prefix(ParseGroupListChunk(tail, 4, chunked));
        EXPECT_LE(chunked.size() - before, 4u);
        ASSERT_LT(++calls, 20);
    }
    EXPECT_EQ(chunked, whole);
    EXPECT_EQ(calls, 7);  // six full chunks, then the last record and the trailing junk

    std::vector<GroupRecord> none;
    EXPECT_EQ(ParseGroupListChunk(text, 0, none), 0u);
    EXPECT_EQ(ParseGroupListChunk("xx\r\n!*\r\n", 5, none), 8u);  // only junk: all used up
    EXPECT_TRUE(none.empty());
}

TEST(GroupListFormat, WritesMarkColumnsAndOptionalDescription)
{
    const std::vector<GroupRecord> records = {
        Rec("alt.test", "Test group", true, true),
        Rec("comp.lang.c", "", false, true),
        Rec("misc.test", "  padded\t", true, false),
    };
    EXPECT_EQ(FormatGroupList(records),
              "!* alt.test Test group\r\n"
              " * comp.lang.c\r\n"
              "!  misc.test padded\r\n");
    EXPECT_EQ(FormatSubscribedGroups(records),
              "# Subscribed groups\r\nalt.test\r\ncomp.lang.c\r\n");
    EXPECT_EQ(FormatSubscribedGroups({}), "# Subscribed groups\r\n");
}

TEST(GroupListFormat, NoRecordCanBreakTheLines)
{
    const std::vector<GroupRecord> records = {
        Rec("", "nameless", false, true),
        Rec("two words", "", false, true),
        Rec("alt.evil\r\n!*", "", false, true),
        Rec("alt.ok", "line one\r\n!* alt.injected fake", false, false),
    };
    const std::string text = FormatGroupList(records);
    const auto back = ParseGroupList(text);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0], Rec("alt.ok", "line one  !* alt.injected fake", false, false));
    EXPECT_EQ(FormatSubscribedGroups(records), "# Subscribed groups\r\n");
}

TEST(SubscribedFile, SkipsHeaderAndOneCharacterPieces)
{
    EXPECT_EQ(ParseSubscribedGroups("# Subscribed groups\r\nalt.test\r\nx\r\n\r\ncomp.lang.c"),
              (std::vector<std::string>{"alt.test", "comp.lang.c"}));
    EXPECT_TRUE(ParseSubscribedGroups("# Subscribed groups\r\n").empty());
    EXPECT_TRUE(ParseSubscribedGroups("").empty());
    // The first piece is the header whatever it says.
    EXPECT_EQ(ParseSubscribedGroups("\r\n\nalt.a\nalt.b\r"), (std::vector<std::string>{"alt.b"}));
    using namespace std::string_literals;
    EXPECT_EQ(ParseSubscribedGroups("#\r\nalt.a\0junk\r\n\0alt.b\r\n"s),
              (std::vector<std::string>{"alt.a"}));
}

TEST(GroupFilePaths, DeriveCompanionFilesFromTheListPath)
{
    EXPECT_EQ(SubscribedFilePath("/d/groups-0001a2b3.txt"), "/d/groups-0001a2b3-sub.txt");
    EXPECT_EQ(KnownArticlesFilePath("/d/groups-0001a2b3.txt"), "/d/groups-0001a2b3-del.txt");
    EXPECT_EQ(SubscribedFilePath(".txt"), "-sub.txt");
    EXPECT_EQ(KnownArticlesFilePath("abcd"), "-delabcd");
    for (const char* shortPath : {"", "a", "abc"}) {
        EXPECT_EQ(SubscribedFilePath(shortPath), "");
        EXPECT_EQ(KnownArticlesFilePath(shortPath), "");
    }
}

class GroupFiles : public ::testing::Test {
protected:
    testing::TempHome home;
    fs::path dir = home.path();
    std::string listPath = (home.path() / "groups-0001a2b3.txt").string();
    std::string subPath = (home.path() / "groups-0001a2b3-sub.txt").string();
};

TEST_F(GroupFiles, SaveWritesBothFilesAndReadsBack)
{
    const std::vector<GroupRecord> records = {
        Rec("alt.test", "Test group", true, true),
        Rec("comp.lang.c", "", false, false),
        Rec("de.test", "Tests \xe4\xf6\xfc", false, true),
    };
    ASSERT_TRUE(SaveGroupFiles(listPath, records));
    EXPECT_EQ(Slurp(subPath), "# Subscribed groups\r\nalt.test\r\nde.test\r\n");

    std::vector<GroupRecord> back;
    ASSERT_TRUE(ReadGroupListFile(listPath, back));
    EXPECT_EQ(back, records);
    EXPECT_EQ(ReadSubscribedGroupNames(listPath), (std::vector<std::string>{"alt.test", "de.test"}));

    // Rewriting replaces the whole content and leaves no temporary files.
    ASSERT_TRUE(SaveGroupFiles(listPath, std::vector<GroupRecord>{Rec("x.y", "", false, false)}));
    EXPECT_EQ(Slurp(listPath), "   x.y\r\n");
    EXPECT_TRUE(ReadSubscribedGroupNames(listPath).empty());  // header only: nothing subscribed
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

TEST_F(GroupFiles, SubscribedNamesFallBackToTheListMarks)
{
    ASSERT_TRUE(WriteGroupListFile(listPath, std::vector<GroupRecord>{
                                                 Rec("alt.a", "", false, true),
                                                 Rec("alt.b", "", true, false),
                                                 Rec("alt.c", "d", false, true),
                                             }));
    const std::vector<std::string> fromMarks = {"alt.a", "alt.c"};
    EXPECT_EQ(ReadSubscribedGroupNames(listPath), fromMarks);  // no subscribed file
    std::ofstream(subPath).flush();                            // empty subscribed file
    EXPECT_EQ(ReadSubscribedGroupNames(listPath), fromMarks);
    EXPECT_TRUE(ReadSubscribedGroupNames((dir / "missing.txt").string()).empty());
}

TEST_F(GroupFiles, MissingFilesAndFailedWrites)
{
    std::vector<GroupRecord> records = {Rec("stale", "", false, false)};
    EXPECT_FALSE(ReadGroupListFile(listPath, records));
    EXPECT_TRUE(records.empty());

    const std::string inMissingDir = (dir / "nodir" / "groups-1.txt").string();
    EXPECT_FALSE(SaveGroupFiles(inMissingDir, std::vector<GroupRecord>{Rec("a.b", "", false, true)}));
    EXPECT_FALSE(fs::exists(dir / "nodir"));
    EXPECT_FALSE(ReplaceFileContent("", "x"));
}

TEST_F(GroupFiles, ReplaceKeepsThePermissionsOfTheOldFile)
{
    ASSERT_TRUE(ReplaceFileContent(listPath, "one"));
    ASSERT_EQ(::chmod(listPath.c_str(), 0640), 0);
    ASSERT_TRUE(ReplaceFileContent(listPath, "two"));
    EXPECT_EQ(Slurp(listPath), "two");
    EXPECT_EQ(fs::status(listPath).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

}  // namespace
}  // namespace quillory
