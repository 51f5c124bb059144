#include "platform/base/module.h"
#include "platform/base/resource.h"

#include "platform/base/tests/test_home.h"
#include "platform/base/trace.h"
#include "platform/base/version_info.h"
#include "platform/base/winerror.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace quillory {
namespace {

namespace fs = std::filesystem;
using testing::BuildLibDir;
using testing::TempHome;

using IntFn = int (*)();
using LoadFn = HMODULE (*)(const char*);

// Sets an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name)
    {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
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

class ScopedCwd {
public:
    explicit ScopedCwd(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }
    ~ScopedCwd() { fs::current_path(old_); }

private:
    fs::path old_;
};

std::string FileName(HMODULE module)
{
    char buffer[4096];
    const DWORD n = GetModuleFileName(module, buffer, sizeof buffer);
    return std::string(buffer, n);
}

template <typename Fn>
Fn Proc(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(GetProcAddress(module, name));
}

std::string TestModPath() { return (BuildLibDir() / "libqtestmod.so").string(); }

TEST(ModuleNames, MapToSharedObjects)
{
    const std::pair<const char*, const char*> cases[] = {
        {"VISMORA.DLL", "libvismora.so"},
        {"inetcomm.dll", "libinetcomm.so"},
        {"quarnex32.dll", "libquarnex32.so"},
        {"Vismora", "libvismora.so"},
        {"libqtestmod.so", "libqtestmod.so"},
        {"libssl.so.3", "libssl.so.3"},
        {"/opt/Tarnel/QUARNEX32.DLL", "/opt/Tarnel/libquarnex32.so"},
        {"Sub.Dir/VisMora.dll", "Sub.Dir/libvismora.so"},
        {"KERNEL32.DLL", "libqbase.so"},
        {"shell32", "libqbase.so"},
        {"version.dll", "libqbase.so"},
        {"advapi32.dll", "libqbase.so"},
        {"user32.dll", "libqbase.so"},
        {"kernel33.dll", "libkernel33.so"},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(SharedObjectName(name), expected) << name;
    EXPECT_TRUE(IsSystemModuleName("/x/Kernel32.Dll"));
    EXPECT_FALSE(IsSystemModuleName("kernel32.so"));
}

TEST(ModuleSearch, CallerDirectoryThenLibPathThenInstallDirectory)
{
    ScopedEnv env("QUILLORY_LIBPATH", "/one/:relative::/two");
    const auto dirs = ModuleSearchPath(reinterpret_cast<const void*>(&FileName));
    const std::vector<std::string> expected = {fs::path(FileName(nullptr)).parent_path().string(), "/one",
                                               (fs::current_path() / "relative").string(), "/two", QTEST_INSTALL_LIBDIR};
    EXPECT_EQ(dirs, expected);
}

TEST(ModuleSearch, BareNameNeedsTheLibPathFromHere)
{
    // The test program lives in bin/, the test module in lib/.
    {
        ScopedEnv env("QUILLORY_LIBPATH", "");
        SetLastError(0);
        EXPECT_EQ(LoadLibrary("QTESTMOD.DLL"), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
        EXPECT_NE(LastModuleError().find("libqtestmod.so not found"), std::string::npos) << LastModuleError();
    }
    ScopedEnv env("QUILLORY_LIBPATH", "/nonexistent::" + BuildLibDir().string());
    HMODULE module = LoadLibrary("QTESTMOD.DLL");
    ASSERT_NE(module, nullptr) << LastModuleError();
    EXPECT_EQ(FileName(module), TestModPath());
    EXPECT_EQ(Proc<IntFn>(module, "QTestModAnswer")(), 42);
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(ModuleSearch, CallerDirectoryComesBeforeLibPath)
{
    TempHome home;
    const fs::path alt = home.path() / "alt";
    fs::create_directories(alt);
    fs::copy_file(TestModPath(), alt / "libqtestmod.so");
    ScopedEnv env("QUILLORY_LIBPATH", alt.string());

    HMODULE fromHere = LoadLibrary("qtestmod.dll");
    ASSERT_NE(fromHere, nullptr) << LastModuleError();
    EXPECT_EQ(FileName(fromHere), (alt / "libqtestmod.so").string());

    HMODULE caller = LoadLibrary((BuildLibDir() / "libqtestcaller.so").c_str());
    ASSERT_NE(caller, nullptr) << LastModuleError();
    HMODULE fromCaller = Proc<LoadFn>(caller, "QTestCallerLoad")("qtestmod.dll");
    ASSERT_NE(fromCaller, nullptr) << LastModuleError();
    EXPECT_EQ(FileName(fromCaller), TestModPath());
    EXPECT_NE(fromCaller, fromHere);

    EXPECT_TRUE(FreeLibrary(fromCaller));
    EXPECT_TRUE(FreeLibrary(caller));
    EXPECT_TRUE(FreeLibrary(fromHere));
}

TEST(ModuleSearch, PathsAreTakenAsGiven)
{
    TempHome home;
    fs::create_directories(home.path() / "alt");
    fs::copy_file(TestModPath(), home.path() / "alt" / "libqtestmod.so");
    ScopedEnv env("QUILLORY_LIBPATH", BuildLibDir().string());

    HMODULE absolute = LoadLibrary((home.path() / "alt" / "QTestMod.DLL").c_str());
    ASSERT_NE(absolute, nullptr) << LastModuleError();
    EXPECT_EQ(FileName(absolute), (home.path() / "alt" / "libqtestmod.so").string());
    {
        ScopedCwd cwd(home.path());
        HMODULE relative = LoadLibrary("alt/qtestmod.dll");
        EXPECT_EQ(relative, absolute);
        EXPECT_TRUE(FreeLibrary(relative));
        // A directory part is never searched for elsewhere.
        SetLastError(0);
        EXPECT_EQ(LoadLibrary("missing/qtestmod.dll"), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    }
    EXPECT_TRUE(FreeLibrary(absolute));
}

TEST(ModuleLoad, BrokenFileReportsTheLoaderMessage)
{
    TempHome home;
    std::ofstream(home.path() / "libbroken.so") << "not a shared object\n";
    ScopedEnv env("QUILLORY_LIBPATH", home.path().string());
    const fs::path traceFile = home.path() / "trace.log";
    {
        ScopedEnv trace("QUILLORY_TRACE", traceFile.string());
        ReopenTraceSink();
        SetLastError(0);
        EXPECT_EQ(LoadLibrary("broken.dll"), nullptr);
    }
    ReopenTraceSink();
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    EXPECT_NE(LastModuleError().find("libbroken.so"), std::string::npos) << LastModuleError();
    std::ifstream log(traceFile);
    const std::string traced((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(traced.find("LoadLibrary(broken.dll): " + LastModuleError()), std::string::npos) << traced;
    SetLastError(0);
    EXPECT_EQ(LoadLibrary(""), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST(ModuleLoad, GetProcAddressFindsOnlyTheModulesOwnExports)
{
    HMODULE module = LoadLibrary(TestModPath().c_str());
    ASSERT_NE(module, nullptr) << LastModuleError();
    for (const char* name : {"QTestModMissing", "QTestModHidden", "malloc"}) {
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(module, name), nullptr) << name;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND)) << name;
        EXPECT_FALSE(LastModuleError().empty());
    }
    // By ordinal, through the module's ordinal table.
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCE(14)), GetProcAddress(module, "QTestModAnswer"));
    for (WORD ordinal : {1, 15}) {
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCE(ordinal)), nullptr) << ordinal;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    }
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(nullptr, "QTestModAnswer"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    int notAModule = 0;
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(&notAModule), "QTestModAnswer"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(ModuleLoad, FreeLibraryCountsReferences)
{
    ScopedEnv env("QUILLORY_LIBPATH", BuildLibDir().string());
    HMODULE first = LoadLibrary("qtestmod.dll");
    HMODULE second = LoadLibrary("QTESTMOD.DLL");
    ASSERT_NE(first, nullptr) << LastModuleError();
    EXPECT_EQ(second, first);
    EXPECT_EQ(GetModuleHandle("qtestmod.dll"), first);
    EXPECT_EQ(Proc<IntFn>(first, "QTestModBump")(), 1);
    EXPECT_EQ(Proc<IntFn>(first, "QTestModBump")(), 2);

    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(GetModuleHandle("qtestmod.dll"), first);  // a handle counts no reference
    EXPECT_EQ(Proc<IntFn>(first, "QTestModBump")(), 3);
    EXPECT_TRUE(FreeLibrary(second));
    SetLastError(0);
    EXPECT_EQ(GetModuleHandle("qtestmod.dll"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(second));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetModuleFileName(second, nullptr, 0), 0u);

    HMODULE again = LoadLibrary("qtestmod.dll");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Proc<IntFn>(again, "QTestModBump")(), 1);  // loaded afresh
    EXPECT_TRUE(FreeLibrary(again));
}

TEST(ModuleLoad, SystemModulesAreThePlatformLibrary)
{
    HMODULE kernel = LoadLibrary("KERNEL32.DLL");
    ASSERT_NE(kernel, nullptr) << LastModuleError();
    EXPECT_EQ(FileName(kernel), PlatformLibraryPath());
    EXPECT_EQ(fs::path(PlatformLibraryPath()).filename(), "libqbase.so");
    EXPECT_EQ(GetModuleHandle("shell32.dll"), kernel);
    EXPECT_EQ(ModuleHandleOf(reinterpret_cast<const void*>(&PlatformLibraryPath)), kernel);
    EXPECT_TRUE(FreeLibrary(kernel));
    EXPECT_EQ(GetModuleHandle("user32.dll"), kernel);  // still linked in
}

TEST(ModuleFileName, MainProgramAndTruncation)
{
    const std::string exe = FileName(nullptr);
    EXPECT_EQ(fs::path(exe).filename(), "qbase_tests");
    EXPECT_EQ(ModulePathOf(reinterpret_cast<const void*>(&FileName)), exe);
    HMODULE main = GetModuleHandle(nullptr);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(FileName(main), exe);
    EXPECT_EQ(ModuleHandleOf(reinterpret_cast<const void*>(&FileName)), main);
    EXPECT_EQ(GetModuleHandle(exe.c_str()), main);

    const DWORD length = static_cast<DWORD>(exe.size());
    std::vector<char> buffer(exe.size() + 8, 'x');
    SetLastError(0);
    EXPECT_EQ(GetModuleFileName(nullptr, buffer.data(), length + 1), length);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(std::string(buffer.data()), exe);

    EXPECT_EQ(GetModuleFileName(nullptr, buffer.data(), length), length);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::string(buffer.data()), exe.substr(0, length - 1));

    SetLastError(0);
    EXPECT_EQ(GetModuleFileName(nullptr, buffer.data(), 0), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));

    int notAModule = 0;
    SetLastError(0);
    EXPECT_EQ(GetModuleFileName(reinterpret_cast<HMODULE>(&notAModule), buffer.data(), length), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
}

TEST(ModuleFileName, AddressOfAnExport)
{
    HMODULE module = LoadLibrary(TestModPath().c_str());
    ASSERT_NE(module, nullptr);
    const auto answer = reinterpret_cast<const void*>(GetProcAddress(module, "QTestModAnswer"));
    EXPECT_EQ(ModulePathOf(answer), TestModPath());
    EXPECT_EQ(ModuleHandleOf(answer), module);
    EXPECT_EQ(ModulePathOf(nullptr), "");
    EXPECT_TRUE(FreeLibrary(module));
}

// The fixed part of a file's version block, read into block.
const VS_FIXEDFILEINFO* FixedInfo(const std::string& file, std::vector<char>& block)
{
    DWORD handle = 99;
    const DWORD size = GetFileVersionInfoSize(file.c_str(), &handle);
    EXPECT_EQ(handle, 0u);
    if (size == 0) return nullptr;
    block.assign(size, '\0');
    if (!GetFileVersionInfo(file.c_str(), 0, size, block.data())) return nullptr;
    void* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValue(block.data(), "\\", &fixed, &length)) return nullptr;
    EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    return static_cast<const VS_FIXEDFILEINFO*>(fixed);
}

std::string Text(const std::vector<char>& block, const char* subBlock)
{
    void* text = nullptr;
    UINT length = 0;
    if (!VerQueryValue(block.data(), subBlock, &text, &length)) return "<none>";
    EXPECT_EQ(length, std::strlen(static_cast<const char*>(text)) + 1) << subBlock;
    return static_cast<const char*>(text);
}

TEST(VersionInfo, ReadFromTheFileWithoutLoadingIt)
{
    std::vector<char> block;
    const VS_FIXEDFILEINFO* fixed = FixedInfo(TestModPath(), block);
    ASSERT_NE(fixed, nullptr) << GetLastError();
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x0003000Eu);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x000F005Cu);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x0003000Eu);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x000F005Cu);
    EXPECT_EQ(GetModuleHandle("qtestmod.dll"), nullptr);

    EXPECT_EQ(Text(block, "\\StringFileInfo\\000004B0\\FileVersion"), "3.14.15.92");
    EXPECT_EQ(Text(block, "\\StringFileInfo\\040904b0\\ProductVersion"), "3.14.15.92");
    EXPECT_EQ(Text(block, "\\StringFileInfo\\040904E4\\FileDescription"), "Module loader test library");
    EXPECT_EQ(Text(block, "\\StringFileInfo\\000004B0\\CompanyName"), "<none>");
    EXPECT_EQ(Text(block, "\\StringFileInfo\\0000\\FileVersion"), "<none>");
    void* translation = nullptr;
    ASSERT_TRUE(VerQueryValue(block.data(), "\\VarFileInfo\\Translation", &translation, nullptr));
    EXPECT_EQ(*static_cast<DWORD*>(translation), 0x04B00000u);

    // A short buffer gets nothing rather than half a block.
    std::vector<char> small(block.size() - 1);
    SetLastError(0);
    EXPECT_FALSE(GetFileVersionInfo(TestModPath().c_str(), 0, static_cast<DWORD>(small.size()), small.data()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    void* out = nullptr;
    EXPECT_FALSE(VerQueryValue(small.data(), "\\", &out, nullptr));
}

TEST(VersionInfo, PlatformLibraryCarriesTheProjectVersion)
{
    std::vector<char> block;
    const VS_FIXEDFILEINFO* fixed = FixedInfo(PlatformLibraryPath(), block);
    ASSERT_NE(fixed, nullptr) << GetLastError();
    EXPECT_EQ(fixed->dwFileVersionMS, DWORD(QTEST_PLATFORM_VERSION_MAJOR << 16 | QTEST_PLATFORM_VERSION_MINOR));
    EXPECT_EQ(fixed->dwFileVersionLS, DWORD(QTEST_PLATFORM_VERSION_PATCH << 16));
}

TEST(VersionInfo, FilesWithoutARecord)
{
    TempHome home;
    std::ofstream(home.path() / "notes.txt") << "no version here\n";
    std::ofstream(home.path() / "empty");
    const std::pair<std::string, LONG> cases[] = {
        {(BuildLibDir() / "libqtestcaller.so").string(), ERROR_RESOURCE_TYPE_NOT_FOUND},
        {(home.path() / "notes.txt").string(), ERROR_RESOURCE_DATA_NOT_FOUND},
        {(home.path() / "empty").string(), ERROR_RESOURCE_DATA_NOT_FOUND},
        {(home.path() / "missing").string(), ERROR_FILE_NOT_FOUND},
        {home.path().string(), ERROR_ACCESS_DENIED},
    };
    for (const auto& [file, error] : cases) {
        SetLastError(0);
        DWORD handle = 0;
        EXPECT_EQ(GetFileVersionInfoSize(file.c_str(), &handle), 0u) << file;
        EXPECT_EQ(GetLastError(), DWORD(error)) << file;
        char block[512];
        EXPECT_FALSE(GetFileVersionInfo(file.c_str(), 0, sizeof block, block));
    }
}

// Records anywhere in a file, across the scanner's read chunks, behind a copy
// of the marker that does not begin a valid record; a record cut off by the
// end of the file is no record.
TEST(VersionInfo, ScannerValidatesAndCrossesChunks)
{
    TempHome home;
    constexpr VersionRecord record = MakeVersionRecord(1, 2, 3, 4, "scanned");
    VersionRecord damaged = record;
    damaged.fileVersionLS ^= 1;
    for (const std::size_t at : {std::size_t{0}, std::size_t{65536 - 20}, std::size_t{2 * 65536 + 3}}) {
        std::string bytes(at + sizeof record + 50, 'z');
        if (at >= sizeof damaged) std::memcpy(bytes.data() + at / 2, &damaged, sizeof damaged);
        std::memcpy(bytes.data() + at, &record, sizeof record);
        const fs::path file = home.path() / ("rec" + std::to_string(at));
        std::ofstream(file, std::ios::binary) << bytes;
        VersionRecord found{};
        EXPECT_EQ(FindVersionRecord(file.c_str(), found), static_cast<long long>(at));
        EXPECT_EQ(found.fileVersionMS, 0x00010002u);
        EXPECT_EQ(found.fileVersionLS, 0x00030004u);
        EXPECT_STREQ(found.description, "scanned");

        bytes.resize(at + sizeof record - 1);
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
        SetLastError(0);
        EXPECT_EQ(FindVersionRecord(file.c_str(), found), -1);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_DATA_NOT_FOUND));
    }
}

}  // namespace
}  // namespace quillory
