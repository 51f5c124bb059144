#include "platform/inetcomm/nntp/nntp_parse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillory::nntp {
namespace {

std::vector<std::string> SplitAll(CLineSplitter& s)
{
    std::vector<std::string> out;
    while (auto line = s.Next()) out.emplace_back(*line);
    return out;
}

TEST(NntpLineSplitter, HandlesCrLfBareLfNulAndPiecemealInput)
{
    CLineSplitter s;
    const std::string input = std::string("200 hello\r\nbare\nwith\0nul\r\npartial", 33);
    // Byte by byte must give the same lines as all at once.
    std::vector<std::string> lines;
    for (char c : input) {
        s.Append(std::string_view(&c, 1));
        for (auto& l : SplitAll(s)) lines.push_back(l);
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "200 hello");
    EXPECT_EQ(lines[1], "bare");
    EXPECT_EQ(lines[2], std::string("with\0nul", 8));
    EXPECT_EQ(s.Buffered(), 7u);  // "partial" waits for its line end
    s.Append("\r\n");
    EXPECT_EQ(SplitAll(s), std::vector<std::string>{"partial"});
}

TEST(NntpLineSplitter, ReportsOverflowOnlyForAnUnendedLongLine)
{
    CLineSplitter s;
    const std::string chunk(64 * 1024, 'x');
    for (int i = 0; i < 15; ++i) s.Append(chunk);
    EXPECT_FALSE(s.Overflowed());
    for (int i = 0; i < 2; ++i) s.Append(chunk);
    EXPECT_TRUE(s.Overflowed());

    // Many short lines that add up to more than the cap are fine.
    CLineSplitter t;
    const std::string lines = std::string(1000, 'y') + "\n";
    for (int i = 0; i < 2000; ++i) {
        t.Append(lines);
        while (t.Next()) {
        }
        ASSERT_FALSE(t.Overflowed());
    }
}

TEST(NntpStatusLine, AcceptsCodesAndRejectsMalformedLines)
{
    auto st = ParseStatusLine("211 3 1 3 misc.test");
    ASSERT_TRUE(st);
    EXPECT_EQ(st->code, 211u);
    EXPECT_EQ(st->text, "3 1 3 misc.test");
    st = ParseStatusLine("205");
    ASSERT_TRUE(st);
    EXPECT_EQ(st->code, 205u);
    EXPECT_TRUE(st->text.empty());

    for (const char* bad : {"", "20", "2x0 text", "099 low", "600 high", "2000 four digits", "hello",
                            " 200 leading blank"})
        EXPECT_FALSE(ParseStatusLine(bad)) << bad;
}

TEST(NntpDotUnstuffing, EndsOnLoneDotAndStripsOneLeadingDot)
{
    std::string_view line = ".";
    EXPECT_TRUE(UnstuffLine(line));
    line = "..";
    EXPECT_FALSE(UnstuffLine(line));
    EXPECT_EQ(line, ".");
    line = "..text";
    EXPECT_FALSE(UnstuffLine(line));
    EXPECT_EQ(line, ".text");
    line = "plain";
    EXPECT_FALSE(UnstuffLine(line));
    EXPECT_EQ(line, "plain");
}

TEST(NntpOverview, ParsesFieldsAndPicksOutXref)
{
    const auto rec = ParseOverviewLine(
        "3000000000\tRe: hi\tA <a@b>\tMon, 1 Jan 2024 00:00:00 +0000\t<m@b>\t<r1@b> <r2@b>\t1234\t17\t"
        "Xref: host misc.test:3");
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->number, 3000000000u);
    EXPECT_EQ(rec->subject, "Re: hi");
    EXPECT_EQ(rec->from, "A <a@b>");
    EXPECT_EQ(rec->messageId, "<m@b>");
    EXPECT_EQ(rec->references, "<r1@b> <r2@b>");
    EXPECT_EQ(rec->bytes, 1234u);
    EXPECT_EQ(rec->lines, 17u);
    EXPECT_TRUE(rec->hasXref);
    EXPECT_EQ(rec->xref, "host misc.test:3");

    // Exactly eight fields, empty references, junk counts read as 0.
    const auto bare = ParseOverviewLine("5\ts\tf\td\t<m>\t\tabc\t");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->references, "");
    EXPECT_EQ(bare->bytes, 0u);
    EXPECT_EQ(bare->lines, 0u);
    EXPECT_FALSE(bare->hasXref);
}

TEST(NntpOverview, RejectsMissingFieldsAndBadArticleNumbers)
{
    EXPECT_FALSE(ParseOverviewLine("5\ts\tf\td\t<m>\tr\t1"));       // seven fields
    EXPECT_FALSE(ParseOverviewLine("x5\ts\tf\td\t<m>\tr\t1\t2"));   // not a number
    EXPECT_FALSE(ParseOverviewLine("\ts\tf\td\t<m>\tr\t1\t2"));     // empty number
    EXPECT_FALSE(ParseOverviewLine("4294967296\ts\tf\td\t<m>\tr\t1\t2"));  // past 32 bits
    EXPECT_FALSE(ParseOverviewLine(""));
}

TEST(NntpPost, DotStuffsAndNormalisesLineEnds)
{
    EXPECT_EQ(DotStuffArticle("Subject: x\r\n\r\n.hidden\n..two\rlast"),
              "Subject: x\r\n\r\n..hidden\r\n...two\r\nlast\r\n.\r\n");
    EXPECT_EQ(DotStuffArticle("body\r\n"), "body\r\n.\r\n");
    EXPECT_EQ(DotStuffArticle(""), ".\r\n");
    EXPECT_EQ(DotStuffArticle("."), "..\r\n.\r\n");
}

TEST(NntpNewgroups, FormatsUtcAndRefusesImpossibleDates)
{
    SYSTEMTIME st{2024, 2, 0, 29, 23, 5, 9, 0};
    EXPECT_EQ(FormatNewgroupsTime(st).value_or(""), "20240229 230509");
    st.wMonth = 13;
    EXPECT_FALSE(FormatNewgroupsTime(st));
}

}  // namespace
}  // namespace quillory::nntp
