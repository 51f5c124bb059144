// The purge of stale cache files: UTC against UTC, only the cache's own
// files, only in an absolute data directory.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <fstream>

#include "common/regstore.h"
#include "platform/base/tests/test_home.h"
#include "tolvane/cache_purge.h"

namespace quillory::testing {
namespace {

using namespace std::chrono_literals;
using tolvane::PurgeStaleCacheFiles;

void MakeFile(const std::filesystem::path& p, std::chrono::hours age)
{
    std::ofstream(p) << "X-Corvane-Newsgroup: a.b\r\n";
    std::filesystem::last_write_time(p, std::filesystem::file_time_type::clock::now() - age);
}

// Local time far from UTC for the test's duration.
class FarTimeZone {
public:
    FarTimeZone()
    {
        if (const char* tz = std::getenv("TZ")) previous_ = tz;
        setenv("TZ", "FAR-14", 1);  // fourteen hours ahead of UTC
        tzset();
    }
    ~FarTimeZone()
    {
        if (previous_)
            setenv("TZ", previous_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> previous_;
};

TEST(CachePurge, DeletesThirtySixHourOldCacheFilesAndKeepsYoungerOnesWhateverTheTimeZone)
{
    TempHome home;
    FarTimeZone zone;
    const auto dir = home.path() / "data";
    std::filesystem::create_directories(dir);
    MakeFile(dir / "__0000abcd.msg", 36h);
    MakeFile(dir / "__DEADBEEF.msg", 100h);
    MakeFile(dir / "__00001234.msg", 35h);
    ASSERT_EQ(WriteRegString(kMainKey, kValDir, dir.string() + "/"), ERROR_SUCCESS);
    EXPECT_EQ(PurgeStaleCacheFiles(), 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "__0000abcd.msg"));
    EXPECT_FALSE(std::filesystem::exists(dir / "__DEADBEEF.msg"));
    EXPECT_TRUE(std::filesystem::exists(dir / "__00001234.msg"));
}

TEST(CachePurge, LeavesEverythingThatIsNotACacheFileOfAnAbsoluteDataDirectory)
{
    TempHome home;
    const auto dir = home.path() / "data";
    std::filesystem::create_directories(dir / "__00000000.msg");  // a directory of that name
    const char* others[] = {"__0000abcd.msgx", "x__0000abcd.msg", "__0000abcg.msg", "__000abcd.msg",
                            "__0000abcde.msg", "groups-0000abcd.txt", "__0000ABCD.MSG"};
    for (const char* name : others) MakeFile(dir / name, 100h);
    std::filesystem::create_symlink(dir / "groups-0000abcd.txt", dir / "__11111111.msg");
    EXPECT_EQ(PurgeStaleCacheFiles(dir), 0);
    for (const char* name : others) EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "__11111111.msg"));

    // An empty or relative "DIR" would name the current directory's files.
    MakeFile(home.path() / "__22222222.msg", 100h);
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(home.path());
    for (const char* value : {"", "./", "data/.."}) {
        ASSERT_EQ(WriteRegString(kMainKey, kValDir, value), ERROR_SUCCESS);
        EXPECT_EQ(PurgeStaleCacheFiles(), 0) << '"' << value << '"';
    }
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(std::filesystem::exists(home.path() / "__22222222.msg"));
    EXPECT_TRUE(tolvane::IsCacheFileName("__0123abCD.msg"));
}

}  // namespace
}  // namespace quillory::testing
