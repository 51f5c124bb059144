// Home system modules that other platform libraries serve.
#include "platform/base/module.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/base/winerror.h"

namespace quillory {
namespace {

TEST(SystemModules, MapiIsThePlatformMapiLibraryBesideThisOne)
{
    EXPECT_TRUE(IsSystemModuleName("MAPI32.DLL"));
    EXPECT_TRUE(IsSystemModuleName("mapi32"));
    EXPECT_FALSE(IsSystemModuleName("mapi.dll"));
    EXPECT_EQ(SharedObjectName("Mapi32.dll"), "libqmapi.so");

    const std::filesystem::path expected = std::filesystem::path(PlatformLibraryPath()).parent_path() / "libqmapi.so";
    HMODULE mapi = LoadLibrary("mapi32.dll");
    if (!std::filesystem::exists(expected)) {
        // Only the platform base is built: the miss names the place looked at.
        EXPECT_EQ(mapi, nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
        EXPECT_NE(LastModuleError().find(expected.parent_path().string()), std::string::npos) << LastModuleError();
        return;
    }
    ASSERT_NE(mapi, nullptr) << LastModuleError();
    char path[4096];
    ASSERT_GT(GetModuleFileName(mapi, path, sizeof path), 0u);
    EXPECT_EQ(path, expected.string());
    EXPECT_EQ(GetModuleHandle("MAPI32.DLL"), mapi);
    EXPECT_NE(GetProcAddress(mapi, "MAPIInitialize"), nullptr) << LastModuleError();
    EXPECT_TRUE(FreeLibrary(mapi));
}

}  // namespace
}  // namespace quillory
