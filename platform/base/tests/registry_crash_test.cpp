// The registry after a writer was killed at any moment (inside a write, a
// checkpoint, the making of the file), and with damaged files: it opens with
// every write that completed, or it is refused as it is.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/base/registry.h"
#include "platform/base/tests/kill_test_util.h"
#include "platform/base/tests/test_home.h"

namespace quillory::testing {
namespace {

// Step i writes value "v<i>" in one of ten keys; sizes up to 200 KB make the
// log grow fast, so that kills also land in checkpoints.
std::string KeyOf(std::int64_t i) { return "Software\\Crash\\K" + std::to_string(i % 10); }
std::vector<BYTE> DataOf(std::int64_t i)
{
    std::vector<BYTE> data(static_cast<std::size_t>((i * 7919) % 200000));
    for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<BYTE>(k * 31 + static_cast<std::size_t>(i));
    return data;
}

LONG WriteStep(std::int64_t i)
{
    HKEY key = nullptr;
    LONG rc = RegCreateKey(HKEY_CURRENT_USER, KeyOf(i).c_str(), &key);
    if (rc != ERROR_SUCCESS) return rc;
    const auto data = DataOf(i);
    rc = RegSetValueEx(key, ("v" + std::to_string(i)).c_str(), 0, REG_BINARY, data.data(),
                       static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return rc;
}

// Empty when every step up to `last` reads back whole.
std::string CheckSteps(std::int64_t last)
{
    for (std::int64_t i = 0; i <= last; ++i) {
        HKEY key = nullptr;
        if (const LONG rc = RegOpenKey(HKEY_CURRENT_USER, KeyOf(i).c_str(), &key); rc != ERROR_SUCCESS)
            return "step " + std::to_string(i) + ": key not opened (" + std::to_string(rc) + ")";
        std::vector<BYTE> got(200000);
        DWORD cb = static_cast<DWORD>(got.size()), type = 0;
        const LONG rc = RegQueryValueEx(key, ("v" + std::to_string(i)).c_str(), nullptr, &type, got.data(), &cb);
        RegCloseKey(key);
        got.resize(cb);
        if (rc != ERROR_SUCCESS) return "step " + std::to_string(i) + ": value not read (" + std::to_string(rc) + ")";
        if (type != REG_BINARY || got != DataOf(i)) return "step " + std::to_string(i) + ": value differs";
    }
    return {};
}

TEST(RegistryCrash, KilledAtRandomMomentsEveryCompletedWriteIsThere)
{
    TempHome home;
    const std::int64_t last = KillWritersAtRandom(
        2024, 8,
        [](std::int64_t first, const ReportCommitted& committed) {
            for (std::int64_t i = first;; ++i) {
                if (WriteStep(i) != ERROR_SUCCESS) _exit(1);
                committed(i);
            }
        },
        CheckSteps);
    EXPECT_GT(last, 20);
    // What writers killed while making the file left is gone once one made it.
    for (const auto& entry : std::filesystem::directory_iterator(home.path() / "registry"))
        EXPECT_EQ(entry.path().filename().string().find(".new-"), std::string::npos) << entry.path();
}

std::vector<char> ReadBytes(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& p, const std::vector<char>& bytes)
{
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(RegistryCrash, DamagedFilesAreRefusedWithoutAByteWritten)
{
    // A registry of some pages, whole on disk once its connection moved on.
    std::vector<char> good;
    {
        TempHome made;
        for (std::int64_t i = 0; i < 12; ++i) ASSERT_EQ(WriteStep(i), ERROR_SUCCESS);
        {
            TempHome other;  // the registry follows the root and lets the first file go
            HKEY key = nullptr;
            ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "Software", &key), ERROR_SUCCESS);
            RegCloseKey(key);
            good = ReadBytes(made.path() / "registry" / "registry.db");
        }
    }
    ASSERT_GT(good.size(), 64u * 1024);
    std::vector<char> foreign;
    {
        TempHome scratch;
        const auto p = scratch.path() / "other.db";
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(p.c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        foreign = ReadBytes(p);
    }
    auto cases = DamagedCopies(good);
    cases.push_back({"another database", foreign});
    for (const auto& c : cases) {
        TempHome home;
        const auto file = home.path() / "registry" / "registry.db";
        WriteBytes(file, c.bytes);
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKey(HKEY_CURRENT_USER, "Software\\New", &key), ERROR_BADDB) << c.what;
        DWORD cb = 0;
        EXPECT_EQ(RegQueryValueEx(HKEY_LOCAL_MACHINE, "x", nullptr, nullptr, nullptr, &cb), ERROR_BADDB) << c.what;
        EXPECT_EQ(ReadBytes(file), c.bytes) << c.what;
        EXPECT_FALSE(std::filesystem::exists(file.string() + "-wal")) << c.what;
        EXPECT_EQ(RegistryFile(), file);
    }
}

}  // namespace
}  // namespace quillory::testing
