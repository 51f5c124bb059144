// The document model: reading, writing back, and merging configurations.
#include <gtest/gtest.h>

#include <string>

#include "sedgewynd/inf_document.h"
#include "sedgewynd/inf_merge.h"

namespace quillory::sedgewynd {
namespace {

CInfDocument Parsed(const std::string& text, InfKind kind = InfKind::Target)
{
    CInfDocument doc(kind);
    EXPECT_EQ(doc.Parse(text), InfStatus::Ok);
    return doc;
}

std::string Rewritten(const std::string& text) { return Parsed(text).Write(); }

TEST(InfDocument, RewriteKeepsInnerCommentsAndDropsTheRest)
{
    const std::string in =
        "; header comment, lost\r\n"
        "stray=before any section\r\n"
        "[Services]\r\n"
        "; inside, kept\r\n"
        "   MSEMS = Microsoft Exchange Server \t\r\n"
        "no equals sign\r\n"
        " =empty key\r\n"
        "[Only Comments]\r\n"
        ";one\r\n"
        "\r\n"
        "[Empty]\r\n"
        "[Last";  // no "]" and no final line end
    EXPECT_EQ(Rewritten(in),
              "[Services]\r\n"
              "; inside, kept\r\n"
              "MSEMS=Microsoft Exchange Server\r\n"
              "\r\n");
    EXPECT_EQ(Rewritten("[Last\r\nk=v"), "[Last]\r\nk=v\r\n\r\n");
}

TEST(InfDocument, DuplicateSectionsAndKeysMergeCaseInsensitively)
{
    const CInfDocument doc = Parsed(
        "[A]\r\nKey=1\r\nother=x\r\n[b]\r\ny=2\r\n[a]\r\nKEY=3\r\nnew=4\r\n");
    ASSERT_EQ(doc.Sections().size(), 2u);
    EXPECT_EQ(doc.Write(), "[A]\r\nKey=3\r\nother=x\r\nnew=4\r\n\r\n[b]\r\ny=2\r\n\r\n");
    // A comment never matches a key, even one spelled like it.
    const CInfDocument c = Parsed("[s]\r\n;k=1\r\n;k=1\r\nk=2\r\n");
    EXPECT_EQ(c.FindSection("S")->entries.size(), 3u);
    EXPECT_EQ(c.FindSection("s")->Find("k")->value, "2");
}

TEST(InfDocument, ValuesKeepInnerBlanksAndFirstEqualsSplits)
{
    const CInfDocument doc = Parsed("[s]\r\nkey\t = a = b  \r\n\tindented=1\r\n");
    EXPECT_EQ(doc.FindSection("s")->Find("key")->value, "a = b");
    // Only spaces are leading blanks; a tab stays part of the key.
    EXPECT_NE(doc.FindSection("s")->Find("\tindented"), nullptr);
}

TEST(InfDocument, BareLineFeedsEndLinesToo)
{
    EXPECT_EQ(Rewritten("[Services]\nA=1\n[B]\r\nb=2\n"), "[Services]\r\nA=1\r\n\r\n[B]\r\nb=2\r\n\r\n");
}

TEST(InfDocument, ConfigurationSkipsCommentLinesOnlyAtTheirStart)
{
    const CInfDocument doc = Parsed(";[Hidden]\r\n[S]\r\n;skipped\r\n  ;kept as a comment\r\nk=v\r\n",
                                    InfKind::Configuration);
    ASSERT_EQ(doc.Sections().size(), 1u);
    ASSERT_EQ(doc.Sections()[0].entries.size(), 2u);
    EXPECT_TRUE(doc.Sections()[0].entries[0].comment);
}

TEST(InfDocument, BoundsAreRefusedNotPassed)
{
    CInfDocument doc;
    EXPECT_EQ(doc.Parse("[s]\r\nk=" + std::string(kMaxLineLength - 2, 'v') + "\r\n"), InfStatus::Ok);
    EXPECT_EQ(doc.Parse("[s]\r\nk=" + std::string(kMaxLineLength - 1, 'v') + "\r\n"), InfStatus::LineTooLong);
    EXPECT_TRUE(doc.Sections().empty());
    // A header without "]" gains one when written, so it must fit with it.
    EXPECT_EQ(doc.Parse("[" + std::string(kMaxLineLength - 1, 'n')), InfStatus::LineTooLong);

    std::string entries = "[s]\r\n";
    for (std::size_t i = 0; i < kMaxSectionEntries; ++i) entries += "k" + std::to_string(i) + "=v\r\n";
    EXPECT_EQ(doc.Parse(entries), InfStatus::Ok);
    EXPECT_EQ(doc.Parse(entries + ";one more\r\n"), InfStatus::TooManyEntries);

    std::string sections;
    for (std::size_t i = 0; i < kMaxTargetSections; ++i) sections += "[s" + std::to_string(i) + "]\r\n";
    EXPECT_EQ(doc.Parse(sections), InfStatus::Ok);
    EXPECT_EQ(doc.Parse(sections + "[s0]\r\n"), InfStatus::Ok);  // an existing one is no new section
    EXPECT_EQ(doc.Parse(sections + "[extra]\r\n"), InfStatus::TooManySections);
    CInfDocument config(InfKind::Configuration);
    EXPECT_EQ(config.Parse(sections + "[extra]\r\n"), InfStatus::Ok);
}

TEST(InfDocument, LeadingNumberReadsLikeAtoi)
{
    EXPECT_EQ(LeadingNumber(" 12abc"), 12);
    EXPECT_EQ(LeadingNumber("-3"), -3);
    EXPECT_EQ(LeadingNumber("yes"), 0);
    EXPECT_EQ(LeadingNumber(""), 0);
    EXPECT_EQ(LeadingNumber("99999999999999999999"), 2147483647);
}

const char kConfig[] =
    "[Sedgewynd]\r\nTargetFile=MAPISVC.INF\r\n"
    "[Services]\r\nCorvane=Tarnel NNTP Transport\r\n"
    "[Corvane]\r\nPR_DISPLAY_NAME=Tarnel NNTP Transport\r\nProviders=QUARNEX_XPP\r\n"
    "[QUARNEX_XPP]\r\nPR_PROVIDER_DLL_NAME=quarnex.dll\r\n";

const char kServiceList[] =
    "[Services]\r\nMSEMS=Microsoft Exchange Server\r\n;note\r\n\r\n"
    "[MSEMS]\r\nPR_DISPLAY_NAME=Exchange\r\n\r\n";

TEST(InfMerge, InstallTwiceLeavesOneCopyAndRemovalTakesItAllOut)
{
    const CInfDocument config = Parsed(kConfig, InfKind::Configuration);
    CInfDocument target = Parsed(kServiceList);
    ASSERT_TRUE(MergeDocument(target, config, {MergeMode::Install, true}));
    const std::string once = target.Write();
    ASSERT_TRUE(MergeDocument(target, config, {MergeMode::Install, true}));
    EXPECT_EQ(target.Write(), once);
    EXPECT_EQ(once,
              "[Services]\r\nMSEMS=Microsoft Exchange Server\r\n;note\r\nCorvane=Tarnel NNTP Transport\r\n\r\n"
              "[MSEMS]\r\nPR_DISPLAY_NAME=Exchange\r\n\r\n"
              "[Corvane]\r\nPR_DISPLAY_NAME=Tarnel NNTP Transport\r\nProviders=QUARNEX_XPP\r\n\r\n"
              "[QUARNEX_XPP]\r\nPR_PROVIDER_DLL_NAME=quarnex.dll\r\n\r\n");

    // Keys are found whatever their case; the control section is never merged.
    CInfDocument upper = Parsed("[SERVICES]\r\nCORVANE=old\r\n");
    ASSERT_TRUE(MergeDocument(upper, config, {MergeMode::Install, true}));
    EXPECT_EQ(upper.FindSection("services")->entries.size(), 1u);
    EXPECT_EQ(upper.FindSection("services")->Find("corvane")->value, "Tarnel NNTP Transport");
    EXPECT_EQ(upper.FindSection("Sedgewynd"), nullptr);

    ASSERT_TRUE(MergeDocument(target, config, {MergeMode::Remove, true}));
    EXPECT_EQ(target.Write(), Rewritten(kServiceList));
}

TEST(InfMerge, WithoutOverwriteAnExistingKeyRefusesTheFile)
{
    const CInfDocument config = Parsed(kConfig, InfKind::Configuration);
    CInfDocument fresh = Parsed(kServiceList);
    EXPECT_TRUE(MergeDocument(fresh, config, {MergeMode::Install, false}));
    CInfDocument installed = Parsed("[Services]\r\ncorvane=x\r\n");
    EXPECT_FALSE(MergeDocument(installed, config, {MergeMode::Install, false}));
}

TEST(InfMerge, InstallStopsAtTheBounds)
{
    const CInfDocument config = Parsed(kConfig, InfKind::Configuration);
    std::string full;
    for (std::size_t i = 0; i < kMaxTargetSections; ++i) full += "[s" + std::to_string(i) + "]\r\nk=v\r\n";
    CInfDocument target = Parsed(full);
    EXPECT_FALSE(MergeDocument(target, config, {MergeMode::Install, true}));

    std::string crowded = "[Services]\r\n";
    for (std::size_t i = 0; i < kMaxSectionEntries; ++i) crowded += "k" + std::to_string(i) + "=v\r\n";
    CInfDocument services = Parsed(crowded);
    EXPECT_FALSE(MergeDocument(services, config, {MergeMode::Install, true}));
}

}  // namespace
}  // namespace quillory::sedgewynd
