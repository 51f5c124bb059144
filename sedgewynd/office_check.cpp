#include "sedgewynd/office_check.h"

#include <optional>
#include <string>
#include <vector>

#include "platform/base/registry.h"
#include "platform/base/trace.h"
#include "platform/base/version_info.h"

namespace quillory::sedgewynd {
namespace {

constexpr const char* kServers[] = {"Outlook.Application", "Word.Application", "Excel.Application"};
constexpr DWORD kServerPathSize = 520;
constexpr WORD kFirstNewGeneration = 12;

std::optional<std::string> DefaultValue(const std::string& subKey, DWORD maxBytes)
{
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
    std::vector<char> buffer(maxBytes + 1, '\0');
    DWORD size = maxBytes;
    DWORD type = 0;
    const LONG rc = RegQueryValueEx(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    return std::string(buffer.data());
}

// A CLSID string stands for itself; a ProgID names its class under "CLSID".
std::optional<std::string> ClassOf(const std::string& server)
{
    if (!server.empty() && server.front() == '{') return server;
    std::optional<std::string> clsid = DefaultValue(server + "\\CLSID", kServerPathSize);
    if (clsid && clsid->empty()) return std::nullopt;
    return clsid;
}

// The server's file: LocalServer32 when that key opens, else InprocServer32.
std::optional<std::string> ServerFile(const std::string& clsid)
{
    HKEY key = nullptr;
    const std::string local = "CLSID\\" + clsid + "\\LocalServer32";
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, local.c_str(), 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        return DefaultValue(local, kServerPathSize);
    }
    return DefaultValue("CLSID\\" + clsid + "\\InprocServer32", kServerPathSize);
}

bool VersionIsNew(const std::string& file)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSize(file.c_str(), &handle);
    if (size == 0) return false;
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfo(file.c_str(), handle, size, block.data())) return false;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValue(block.data(), "\\", &value, &length) || !value || length < sizeof(VS_FIXEDFILEINFO))
        return false;
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
    return HIWORD(info->dwFileVersionMS) >= kFirstNewGeneration;
}

}  // namespace

bool OfficeIs12OrLater()
{
    for (const char* server : kServers) {
        const std::optional<std::string> clsid = ClassOf(server);
        if (!clsid) continue;
        // The first registered class decides, whether or not its file can be read.
        const std::optional<std::string> file = ServerFile(*clsid);
        const bool isNew = file && VersionIsNew(*file);
        Trace("sedgewynd: %s -> %s: generation 12 or later: %d\n", server, file ? file->c_str() : "(no file)",
              isNew ? 1 : 0);
        return isNew;
    }
    return false;
}

}  // namespace quillory::sedgewynd
