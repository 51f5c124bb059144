// Merging one service list file in place: encodings, backups, and files that
// must stay as they are.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "sedgewynd/inf_merge.h"
#include "sedgewynd/tests/test_support.h"
#include "sedgewynd/text_codec.h"

namespace quillory::sedgewynd {
namespace {

using namespace testing;

const char kConfig[] =
    "[Sedgewynd]\r\nTargetFile=MAPISVC.INF\r\n"
    "[Services]\r\nCorvane=Tarnel NNTP Transport\r\n"
    "[QUARNEX_XPP]\r\nPR_PROVIDER_DISPLAY=Tarnel NNTP Transport\r\n";

std::string Utf16(const std::string& ansi) { return "\xFF\xFE" + *AnsiToUtf16(ansi); }

class MergeFile : public ::testing::Test {
protected:
    MergeFile() { EXPECT_EQ(config_.Parse(kConfig), InfStatus::Ok); }

    // Merges the file with these bytes; returns the result and leaves the
    // file's new bytes in after.
    bool Merge(const std::string& before, std::string& after, MergeMode mode = MergeMode::Install,
               bool backup = true)
    {
        WriteFile(file_, before);
        const int fd = open(file_.c_str(), O_RDWR);
        EXPECT_GE(fd, 0);
        const bool ok = MergeTargetFile(fd, file_.string(), backup ? backup_.string() : std::string(), config_,
                                        {mode, true});
        close(fd);
        after = ReadFile(file_);
        return ok;
    }

    quillory::testing::TempHome home_;
    fs::path file_ = home_.path() / "MAPISVC.INF";
    fs::path backup_ = home_.path() / "MAPISVC.INF.bak";
    CInfDocument config_{InfKind::Configuration};
};

TEST_F(MergeFile, AnsiListIsRewrittenAndShrinksWhenRemoving)
{
    const std::string before = "; lost\r\n[Services]\r\nMSEMS=Exchange\r\n\r\n[Only]\r\n;c\r\n";
    std::string after;
    ASSERT_TRUE(Merge(before, after));
    EXPECT_EQ(after,
              "[Services]\r\nMSEMS=Exchange\r\nCorvane=Tarnel NNTP Transport\r\n\r\n"
              "[QUARNEX_XPP]\r\nPR_PROVIDER_DISPLAY=Tarnel NNTP Transport\r\n\r\n");
    EXPECT_EQ(ReadFile(backup_), before);

    const std::string installed = after;
    ASSERT_TRUE(Merge(installed, after, MergeMode::Remove, false));
    EXPECT_EQ(after, "[Services]\r\nMSEMS=Exchange\r\n\r\n");  // cut to its new length
    EXPECT_EQ(ReadFile(backup_), before);                    // no backup asked for this time
}

TEST_F(MergeFile, UnicodeListStaysUnicodeWithAnIdenticalBackup)
{
    const std::string before = Utf16("[Services]\r\nMSEMS=Caf\xE9 \x80 Server\r\n\r\n");
    std::string after;
    ASSERT_TRUE(Merge(before, after));
    EXPECT_EQ(ReadFile(backup_), before);
    EXPECT_EQ(after, Utf16("[Services]\r\nMSEMS=Caf\xE9 \x80 Server\r\nCorvane=Tarnel NNTP Transport\r\n\r\n"
                           "[QUARNEX_XPP]\r\nPR_PROVIDER_DISPLAY=Tarnel NNTP Transport\r\n\r\n"));
}

TEST_F(MergeFile, FilesThatCannotBeMergedStayByteForByte)
{
    const std::string cases[] = {
        "[S]",                                                        // below four bytes
        "no section=here\r\n",                                        // nothing to merge into
        std::string("\xFF\xFE[\0S\0]", 7),                            // UTF-16 of odd length
        Utf16("[S]\r\nk=v\r\n") + std::string("\x00\xD8", 2),         // lone high surrogate at the end
        "\xFF\xFE" + std::string("\x00\xDC[\0S\0]\0", 8),             // lone low surrogate
        "\xFF\xFE" + std::string("[\0S\0]\0\r\0\n\0k\0=\0\x16\x04", 16),  // a letter outside the code page
        std::string("\xFF\xFE\0\0", 4),                                // nothing but a NUL
        "[S]\r\nk=" + std::string(1000, 'v') + "\r\n",                // a line too long
    };
    for (const std::string& bad : cases) {
        SCOPED_TRACE(bad);
        fs::remove(backup_);
        std::string after;
        EXPECT_FALSE(Merge(bad, after));
        EXPECT_EQ(after, bad);
        EXPECT_FALSE(fs::exists(backup_));
    }
}

TEST_F(MergeFile, RemovingEverythingLeavesTooLittleToWrite)
{
    std::string after;
    const std::string before = "[Services]\r\nCorvane=x\r\n";
    EXPECT_FALSE(Merge(before, after, MergeMode::Remove));
    EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace quillory::sedgewynd
