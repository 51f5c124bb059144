#include "platform/base/environment.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/base/tests/test_home.h"

namespace {

namespace fs = std::filesystem;
using quillory::testing::TempHome;

// Sets or clears an environment variable for one scope.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvVar()
    {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(EnvironmentRoot, ComesFromQuilloryHomeThenXdgThenHome)
{
    TempHome home;
    {
        EnvVar v("QUILLORY_HOME", (home.path() / "custom/").c_str());
        EXPECT_EQ(quillory::EnvironmentRoot(), home.path() / "custom");
        EXPECT_TRUE(fs::is_directory(home.path() / "custom"));
    }
    {
        EnvVar q("QUILLORY_HOME", "");
        EnvVar x("XDG_DATA_HOME", (home.path() / "xdg").c_str());
        EXPECT_EQ(quillory::EnvironmentRoot(), home.path() / "xdg" / "quillory");
    }
    {
        EnvVar q("QUILLORY_HOME", nullptr);
        EnvVar x("XDG_DATA_HOME", nullptr);
        EnvVar h("HOME", home.path().c_str());
        EXPECT_EQ(quillory::EnvironmentRoot(), home.path() / ".local/share/quillory");
        EXPECT_TRUE(fs::is_directory(home.path() / ".local/share/quillory"));
    }
    // The variable is read again on every call.
    EXPECT_EQ(quillory::EnvironmentRoot(), home.path());
}

TEST(SpecialFolders, AreDistinctDirectoriesUnderTheRootCreatedOnlyOnRequest)
{
    TempHome home;
    const int folders[] = {CSIDL_APPDATA, CSIDL_SYSTEM, CSIDL_PROGRAM_FILES,
                           CSIDL_PROGRAM_FILES_COMMON};
    std::vector<std::string> seen;
    for (int csidl : folders) {
        char buf[MAX_PATH];
        std::memset(buf, 'x', sizeof buf);
        ASSERT_TRUE(SHGetSpecialFolderPath(nullptr, buf, csidl, FALSE)) << csidl;
        std::string path(buf);
        EXPECT_EQ(path.rfind(home.path().string() + "/", 0), 0u) << path;
        EXPECT_NE(path.back(), '/');
        EXPECT_FALSE(fs::exists(path)) << path;
        for (const auto& other : seen) EXPECT_NE(path, other);
        seen.push_back(path);

        ASSERT_TRUE(SHGetSpecialFolderPath(nullptr, buf, csidl, TRUE));
        EXPECT_TRUE(fs::is_directory(buf));
    }
    char buf[MAX_PATH];
    EXPECT_FALSE(SHGetSpecialFolderPath(nullptr, buf, 0x05, TRUE));  // "My Documents": not here
    EXPECT_FALSE(SHGetSpecialFolderPath(nullptr, nullptr, CSIDL_SYSTEM, FALSE));
}

TEST(SpecialFolders, PathLongerThanMaxPathFails)
{
    TempHome home;
    const std::string deep = (home.path() / std::string(MAX_PATH - home.path().string().size(), 'd')).string();
    EnvVar v("QUILLORY_HOME", deep.c_str());
    char buf[MAX_PATH];
    EXPECT_FALSE(SHGetSpecialFolderPath(nullptr, buf, CSIDL_APPDATA, TRUE));
    EXPECT_EQ(GetSystemDirectory(buf, sizeof buf), deep.size() + std::strlen("/system") + 1);
}

TEST(SystemDirectory, ReportsLengthOrNeededSizeAndMatchesFolder37)
{
    TempHome home;
    char folder[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPath(nullptr, folder, CSIDL_SYSTEM, FALSE));
    const UINT len = static_cast<UINT>(std::strlen(folder));

    EXPECT_EQ(GetSystemDirectory(nullptr, 0), len + 1);
    char small[4] = {'s', 'e', 'n', 't'};
    EXPECT_EQ(GetSystemDirectory(small, sizeof small), len + 1);
    EXPECT_EQ(std::memcmp(small, "sent", 4), 0);  // untouched when too small

    std::string exact(len + 1, 'x');
    EXPECT_EQ(GetSystemDirectory(exact.data(), len + 1), len);
    EXPECT_STREQ(exact.c_str(), folder);
    EXPECT_TRUE(fs::is_directory(folder));  // the system directory always exists
}

TEST(SpecialFolders, AreExportedUnderTheirLookupNames)
{
    TempHome home;
    using ShellFn = BOOL (*)(HWND, LPSTR, int, BOOL);
    using SysFn = UINT (*)(LPSTR, UINT);
    auto shell = reinterpret_cast<ShellFn>(dlsym(RTLD_DEFAULT, "SHGetSpecialFolderPathA"));
    auto sys = reinterpret_cast<SysFn>(dlsym(RTLD_DEFAULT, "GetSystemDirectoryA"));
    ASSERT_NE(shell, nullptr);
    ASSERT_NE(sys, nullptr);
    char a[MAX_PATH], b[MAX_PATH];
    ASSERT_TRUE(shell(nullptr, a, CSIDL_SYSTEM, FALSE));
    ASSERT_GT(sys(b, sizeof b), 0u);
    EXPECT_STREQ(a, b);
}

}  // namespace
