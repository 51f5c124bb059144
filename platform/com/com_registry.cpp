#include "platform/com/com_registry.h"

#include "platform/base/module.h"
#include "platform/base/resource.h"

namespace quillory::com_detail {

LONG SetRegText(HKEY root, const std::string& path, const char* name, std::string_view value)
{
    HKEY key = nullptr;
    LONG rc = RegCreateKeyEx(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                             nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    const std::string copy(value);
    rc = RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(copy.c_str()),
                       static_cast<DWORD>(copy.size() + 1));
    RegCloseKey(key);
    return rc;
}

bool ReadModuleResource(const std::string& modulePath, const char* name, const char* type, std::string& out)
{
    HMODULE module = GetModuleHandle(modulePath.c_str());
    HMODULE loaded = nullptr;
    if (!module) module = loaded = LoadLibrary(modulePath.c_str());
    if (!module) return false;
    bool found = false;
    if (HRSRC res = FindResource(module, name, type)) {
        if (HGLOBAL data = LoadResource(module, res)) {
            const auto* bytes = static_cast<const char*>(LockResource(data));
            out.assign(bytes, SizeofResource(module, res));
            found = true;
        }
    }
    if (loaded) FreeLibrary(loaded);
    return found;
}

}  // namespace quillory::com_detail
