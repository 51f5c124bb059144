#include "sedgewynd/shell_folders.h"

#include "platform/base/environment.h"
#include "platform/base/module.h"
#include "platform/base/registry.h"
#include "platform/base/trace.h"
#include "sedgewynd/inf_document.h"

namespace quillory::sedgewynd {
namespace {

using ShellFolderFn = BOOL (*)(HWND, LPSTR, int, BOOL);

constexpr DWORD kPathBufferSize = 300;
constexpr char kWindowsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

ShellFolderFn ShellFunction()
{
    static const ShellFolderFn fn = [] {
        HMODULE shell = LoadLibrary("shell32.dll");
        FARPROC proc = shell ? GetProcAddress(shell, "SHGetSpecialFolderPathA") : nullptr;
        if (!proc) Trace("sedgewynd: no SHGetSpecialFolderPathA; using the fallbacks\n");
        return reinterpret_cast<ShellFolderFn>(proc);
    }();
    return fn;
}

std::optional<std::string> MachineValue(const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, kWindowsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
    char buffer[kPathBufferSize] = {};
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    const LONG rc = RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    return std::string(buffer);
}

}  // namespace

std::optional<std::string> SpecialFolder(int csidl)
{
    std::optional<std::string> path;
    char buffer[kPathBufferSize] = {};
    if (ShellFolderFn fn = ShellFunction(); fn && fn(nullptr, buffer, csidl, FALSE)) {
        path = buffer;
    } else if (csidl == CSIDL_SYSTEM) {
        const UINT n = GetSystemDirectory(buffer, kPathBufferSize);
        if (n > 0 && n < kPathBufferSize) path = buffer;
    } else if (csidl == CSIDL_PROGRAM_FILES) {
        path = MachineValue("ProgramFilesDir");
    } else if (csidl == CSIDL_PROGRAM_FILES_COMMON) {
        path = MachineValue("CommonFilesDir");
    }
    if (!path || path->empty()) return std::nullopt;
    if (path->size() > 1 && (path->back() == '\\' || path->back() == '/')) path->pop_back();
    return path;
}

std::string ExpandFolderReference(std::string_view element)
{
    const std::size_t open = element.find('%');
    if (open == std::string_view::npos) return std::string(element);
    const std::size_t close = element.find('%', open + 1);
    const int csidl = LeadingNumber(element.substr(open + 1));
    if (close == std::string_view::npos || csidl == 0) return std::string(element);
    const std::optional<std::string> folder = SpecialFolder(csidl);
    if (!folder) {
        Trace("sedgewynd: special folder %d does not resolve\n", csidl);
        return std::string(element);
    }
    std::string out(element.substr(0, open));
    out += *folder;
    out += element.substr(close + 1);
    return out;
}

}  // namespace quillory::sedgewynd
