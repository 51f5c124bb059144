#include "host/automation_server.h"

#include <string>
#include <utility>

#include "platform/base/module.h"
#include "platform/base/registry.h"
#include "platform/base/trace.h"
#include "platform/base/version_info.h"

// The file version the mail client reports: the generation of the office
// suite whose interfaces it offers (16), which also tells the INF merge that
// the service lists are the installer's to create.
QUILLORY_VERSION_INFO(16, 0, 0, 0, "Quillory mail client");

namespace quillory::host {
namespace {

constexpr DWORD kProgramPathSize = 4096;

LONG SetDefaultValue(const std::string& subKey, const std::string& value)
{
    HKEY key = nullptr;
    LONG rc = RegCreateKeyEx(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                             nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1));
        RegCloseKey(key);
    }
    if (rc != ERROR_SUCCESS)
        Trace("quillory: HKEY_CLASSES_ROOT\\%s cannot be written: %ld\n", subKey.c_str(), static_cast<long>(rc));
    return rc;
}

}  // namespace

LONG RegisterAutomationServer()
{
    char program[kProgramPathSize];
    const DWORD length = GetModuleFileName(nullptr, program, sizeof program);
    if (length == 0) return ERROR_FILE_NOT_FOUND;
    if (length >= sizeof program) return ERROR_INSUFFICIENT_BUFFER;

    const std::string progId = kHostProgId;
    const std::string classKey = std::string("CLSID\\") + kHostClsid;
    const std::pair<std::string, std::string> values[] = {
        {progId, kHostDescription},
        {progId + "\\CLSID", kHostClsid},
        {classKey, kHostDescription},
        {classKey + "\\ProgID", progId},
        {classKey + "\\LocalServer32", std::string(program, length)},
    };
    for (const auto& [key, value] : values)
        if (const LONG rc = SetDefaultValue(key, value); rc != ERROR_SUCCESS) return rc;
    return ERROR_SUCCESS;
}

}  // namespace quillory::host
