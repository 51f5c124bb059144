#include "platform/base/environment.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "platform/base/trace.h"
#include "platform/base/winerror.h"

namespace quillory {
namespace {

std::string GetEnv(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::filesystem::path HomeDirectory()
{
    if (std::string home = GetEnv("HOME"); !home.empty()) return home;
    // No HOME (daemons, some test runners): ask the password database.
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd pw{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_dir)
        return result->pw_dir;
    return "/tmp";
}

// Absolute, normalised, without a trailing '/'.
std::filesystem::path Clean(std::filesystem::path p)
{
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(p, ec);
    if (!ec) p = abs;
    p = p.lexically_normal();
    std::string s = p.string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

}  // namespace

std::filesystem::path EnvironmentRoot()
{
    // Asked on every registry call: while the variables that choose the
    // root stay the same and the directory is there, the answer is too.
    struct Known {
        std::string home, xdg, homeDir;
        std::filesystem::path root;
    };
    static std::mutex mutex;
    static Known known;
    const std::string home = GetEnv("QUILLORY_HOME"), xdg = GetEnv("XDG_DATA_HOME"), homeDir = GetEnv("HOME");
    {
        std::lock_guard lock(mutex);
        struct stat st {};
        if (!known.root.empty() && known.home == home && known.xdg == xdg && known.homeDir == homeDir &&
            stat(known.root.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return known.root;
    }
    std::filesystem::path root;
    if (!home.empty()) {
        root = home;
    } else {
        root = (xdg.empty() ? HomeDirectory() / ".local" / "share" : std::filesystem::path(xdg)) /
               "quillory";
    }
    // A relative setting depends on the working directory: not remembered.
    const bool absolute = root.is_absolute();
    root = Clean(root);
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    if (ec) Trace("EnvironmentRoot: cannot create %s: %s\n", root.c_str(), ec.message().c_str());
    if (absolute && !ec) {
        std::lock_guard lock(mutex);
        known = Known{home, xdg, homeDir, root};
    }
    return root;
}

// The folders under the root:
//   26 application data  -> "Application Data"
//   37 system directory  -> "system" (the service list MAPISVC.INF lives here)
//   38 program files     -> "Program Files"
//   43 common files      -> "Program Files/Common Files"
std::optional<std::filesystem::path> SpecialFolderPath(int csidl)
{
    const char* sub = nullptr;
    switch (csidl) {
    case CSIDL_APPDATA: sub = "Application Data"; break;
    case CSIDL_SYSTEM: sub = "system"; break;
    case CSIDL_PROGRAM_FILES: sub = "Program Files"; break;
    case CSIDL_PROGRAM_FILES_COMMON: sub = "Program Files/Common Files"; break;
    default: return std::nullopt;
    }
    return EnvironmentRoot() / sub;
}

}  // namespace quillory

BOOL SHGetSpecialFolderPath(HWND, LPSTR lpszPath, int csidl, BOOL fCreate)
{
    if (!lpszPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::optional<std::filesystem::path> folder = quillory::SpecialFolderPath(csidl);
    if (!folder) {
        quillory::Trace("SHGetSpecialFolderPath: unknown folder %d\n", csidl);
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string s = folder->string();
    if (s.size() + 1 > MAX_PATH) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (fCreate) {
        std::error_code ec;
        std::filesystem::create_directories(*folder, ec);
        if (ec) {
            quillory::Trace("SHGetSpecialFolderPath: cannot create %s: %s\n", s.c_str(),
                            ec.message().c_str());
            SetLastError(ERROR_PATH_NOT_FOUND);
            return FALSE;
        }
    }
    std::memcpy(lpszPath, s.c_str(), s.size() + 1);
    return TRUE;
}

UINT GetSystemDirectory(LPSTR lpBuffer, UINT uSize)
{
    const std::filesystem::path dir = *quillory::SpecialFolderPath(CSIDL_SYSTEM);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        quillory::Trace("GetSystemDirectory: cannot create %s: %s\n", dir.c_str(),
                        ec.message().c_str());
    const std::string s = dir.string();
    const UINT needed = static_cast<UINT>(s.size() + 1);
    if (!lpBuffer || uSize < needed) return needed;
    std::memcpy(lpBuffer, s.c_str(), needed);
    return needed - 1;
}

extern "C" BOOL SHGetSpecialFolderPathA(HWND hwnd, LPSTR lpszPath, int csidl, BOOL fCreate)
{
    return SHGetSpecialFolderPath(hwnd, lpszPath, csidl, fCreate);
}

extern "C" UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    return GetSystemDirectory(lpBuffer, uSize);
}
