// The registry calls over the SQLite store: handle table, argument checks and
// the buffer conventions of the home platform.
#include "platform/base/registry.h"

#include <cstring>
#include <mutex>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/base/registry_store.h"
#include "platform/base/trace.h"

using namespace quillory::registry_internal;

namespace {

struct OpenKey {
    KeyId id;
    std::uint64_t generation;  // of the database the key belongs to
};

// Handles are opaque numbers far from the predefined keys' values; they are
// never reused within a process, so a closed handle stays invalid.
constexpr std::uintptr_t kFirstHandle = 0x10000;
constexpr std::uintptr_t kHandleStep = 8;

class Registry {
public:
    // Runs one call under the lock with the database open; database failures
    // become their result codes.
    template <class Body>
    LONG Run(const char* what, Body&& body)
    {
        std::lock_guard lock(mutex_);
        try {
            store_.Ensure();
            return body(store_);
        } catch (const DbError& e) {
            quillory::Trace("%s: %s\n", what, e.what());
            return e.code();
        } catch (const std::bad_alloc&) {
            quillory::Trace("%s: out of memory\n", what);
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }

    // The key behind a handle, checked against the database (call inside a
    // transaction). ERROR_KEY_DELETED when the key is gone.
    LONG Resolve(HKEY hKey, KeyId* id)
    {
        const auto value = reinterpret_cast<std::uintptr_t>(hKey);
        if (hKey == HKEY_CLASSES_ROOT) {
            *id = kClassesRootId;
        } else if (hKey == HKEY_CURRENT_USER) {
            *id = kCurrentUserId;
        } else if (hKey == HKEY_LOCAL_MACHINE) {
            *id = kLocalMachineId;
        } else {
            auto it = handles_.find(value);
            if (it == handles_.end() || it->second.generation != store_.generation())
                return ERROR_INVALID_HANDLE;
            *id = it->second.id;
        }
        return store_.KeyExists(*id) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
    }

    // Only under the lock (inside Run).
    HKEY NewHandle(KeyId id)
    {
        const std::uintptr_t value = next_;
        next_ += kHandleStep;
        handles_[value] = OpenKey{id, store_.generation()};
        return reinterpret_cast<HKEY>(value);
    }

    LONG Close(HKEY hKey)
    {
        if (hKey == HKEY_CLASSES_ROOT || hKey == HKEY_CURRENT_USER || hKey == HKEY_LOCAL_MACHINE)
            return ERROR_SUCCESS;
        std::lock_guard lock(mutex_);
        return handles_.erase(reinterpret_cast<std::uintptr_t>(hKey)) ? ERROR_SUCCESS
                                                                      : ERROR_INVALID_HANDLE;
    }

private:
    std::mutex mutex_;
    Store store_;
    std::unordered_map<std::uintptr_t, OpenKey> handles_;
    std::uintptr_t next_ = kFirstHandle;
};

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

bool IsRoot(KeyId id)
{
    return id == kClassesRootId || id == kCurrentUserId || id == kLocalMachineId;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// Splits a sub-key path at '\'. Null or empty is the key itself; an empty
// component or a name over REG_MAX_KEY_NAME is invalid.
LONG SplitPath(LPCSTR subKey, std::vector<std::string_view>* parts)
{
    parts->clear();
    if (!subKey || !*subKey) return ERROR_SUCCESS;
    std::string_view rest(subKey);
    while (true) {
        const std::size_t sep = rest.find('\\');
        const std::string_view part = rest.substr(0, sep);
        if (part.empty() || part.size() > REG_MAX_KEY_NAME) return ERROR_INVALID_PARAMETER;
        parts->push_back(part);
        if (sep == std::string_view::npos) return ERROR_SUCCESS;
        rest.remove_prefix(sep + 1);
    }
}

LONG CheckValueName(LPCSTR name)
{
    return name && std::strlen(name) > REG_MAX_VALUE_NAME ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
}

std::string_view ValueName(LPCSTR name) { return name ? std::string_view(name) : std::string_view(); }

// Walks down from a key; ERROR_FILE_NOT_FOUND when a name is missing.
LONG Walk(Store& store, KeyId from, const std::vector<std::string_view>& parts, KeyId* out)
{
    KeyId id = from;
    for (std::string_view part : parts) {
        std::optional<KeyId> child = store.FindChild(id, part);
        if (!child) return ERROR_FILE_NOT_FOUND;
        id = *child;
    }
    *out = id;
    return ERROR_SUCCESS;
}

// Hands value data to the caller with the home conventions: the type always,
// the size alone when there is no buffer, ERROR_MORE_DATA with the needed
// size when the buffer is short. A string stored without its NUL gets one
// when the buffer has room for it; otherwise it comes back as stored.
LONG HandOut(const ValueRecord& value, DWORD* lpType, BYTE* lpData, DWORD* lpcbData)
{
    if (lpType) *lpType = value.type;
    const auto size = static_cast<DWORD>(value.data.size());
    if (!lpcbData) return ERROR_SUCCESS;
    if (!lpData) {
        *lpcbData = size;
        return ERROR_SUCCESS;
    }
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(lpData, value.data.data(), size);
    if (IsStringType(value.type) && (size == 0 || value.data.back() != 0) && *lpcbData > size)
        lpData[size] = 0;
    *lpcbData = size;
    return ERROR_SUCCESS;
}

// Copies a name into a caller's buffer of *cch characters (with the NUL).
LONG HandOutName(const std::string& name, LPSTR buffer, DWORD* cch)
{
    if (name.size() + 1 > *cch) return ERROR_MORE_DATA;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *cch = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

void ToFileTime(std::int64_t ticks, FILETIME* ft)
{
    if (!ft) return;
    const auto t = static_cast<std::uint64_t>(ticks);
    ft->dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFFu);
    ft->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

void NoClass(LPSTR lpClass, DWORD* lpcchClass)
{
    if (!lpcchClass) return;
    if (lpClass && *lpcchClass > 0) lpClass[0] = '\0';
    *lpcchClass = 0;
}

}  // namespace

LONG RegCreateKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM, void*, HKEY* phkResult,
                    DWORD* lpdwDisposition)
{
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::vector<std::string_view> parts;
    if (LONG rc = SplitPath(lpSubKey, &parts); rc != ERROR_SUCCESS) return rc;
    Registry& reg = TheRegistry();
    return reg.Run("RegCreateKeyEx", [&](Store& store) {
        Transaction txn(store, true);
        KeyId id = 0;
        if (LONG rc = reg.Resolve(hKey, &id); rc != ERROR_SUCCESS) return rc;
        bool created = false;
        for (std::string_view part : parts) {
            std::optional<KeyId> child = store.FindChild(id, part);
            created = !child;
            id = child ? *child : store.AddChild(id, part);
        }
        txn.Commit();
        *phkResult = reg.NewHandle(id);
        if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    });
}

// At home these two hand back hKey itself for an empty sub-key; here they
// always give a new handle, so that closing both handles is never wrong.
LONG RegCreateKey(HKEY hKey, LPCSTR lpSubKey, HKEY* phkResult)
{
    return RegCreateKeyEx(hKey, lpSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                          nullptr, phkResult, nullptr);
}

LONG RegOpenKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, HKEY* phkResult)
{
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::vector<std::string_view> parts;
    if (LONG rc = SplitPath(lpSubKey, &parts); rc != ERROR_SUCCESS) return rc;
    Registry& reg = TheRegistry();
    return reg.Run("RegOpenKeyEx", [&](Store& store) {
        Transaction txn(store, false);
        KeyId id = 0;
        if (LONG rc = reg.Resolve(hKey, &id); rc != ERROR_SUCCESS) return rc;
        if (LONG rc = Walk(store, id, parts, &id); rc != ERROR_SUCCESS) return rc;
        txn.Commit();
        *phkResult = reg.NewHandle(id);
        return ERROR_SUCCESS;
    });
}

LONG RegOpenKey(HKEY hKey, LPCSTR lpSubKey, HKEY* phkResult)
{
    return RegOpenKeyEx(hKey, lpSubKey, 0, KEY_ALL_ACCESS, phkResult);
}

LONG RegCloseKey(HKEY hKey) { return TheRegistry().Close(hKey); }

LONG RegQueryValueEx(HKEY hKey, LPCSTR lpValueName, DWORD*, DWORD* lpType, BYTE* lpData,
                     DWORD* lpcbData)
{
    if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
    if (LONG rc = CheckValueName(lpValueName); rc != ERROR_SUCCESS) return rc;
    Registry& reg = TheRegistry();
    return reg.Run("RegQueryValueEx", [&](Store& store) {
        Transaction txn(store, false);
        KeyId id = 0;
        if (LONG rc = reg.Resolve(hKey, &id); rc != ERROR_SUCCESS) return rc;
        std::optional<ValueRecord> value = store.GetValue(id, ValueName(lpValueName));
        txn.Commit();
        if (!value) return ERROR_FILE_NOT_FOUND;
        return HandOut(*value, lpType, lpData, lpcbData);
    });
}

LONG RegSetValueEx(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                   DWORD cbData)
{
    if (!lpData && cbData) return ERROR_INVALID_PARAMETER;
    if (LONG rc = CheckValueName(lpValueName); rc != ERROR_SUCCESS) return rc;
    Registry& reg = TheRegistry();
    return reg.Run("RegSetValueEx", [&](Store& store) {
        Transaction txn(store, true);
        KeyId id = 0;
        if (LONG rc = reg.Resolve(hKey, &id); rc != ERROR_SUCCESS) return rc;
        store.PutValue(id, ValueName(lpValueName), dwType,
                       std::span<const BYTE>(lpData, lpData ? cbData : 0));
        txn.Commit();
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValue(HKEY hKey, LPCSTR lpValueName)
{
    if (LONG rc = CheckValueName(lpValueName); rc != ERROR_SUCCESS) return rc;
    Registry& reg = TheRegistry();
    return reg.Run("RegDeleteValue", [&](Store& store) {
        Transaction txn(store, true);
        KeyId id = 0;
        if (LONG rc = reg.Resolve(hKey, &id); rc != ERROR_SUCCESS) return rc;
        if (!store.RemoveValue(id, ValueName(lpValueName))) return ERROR_FILE_NOT_FOUND;
        txn.Commit();
        return ERROR_SUCCESS;
    });
}

// An empty sub-key deletes the key of hKey itself, as at home.
LONG RegDeleteKey(HKEY hKey, LPCSTR lpSubKey)
{
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    std::vector<std::string_view> parts;
    if (LONG rc = SplitPath(lpSubKey, &parts); rc != ERROR_SUCCESS) return rc;
    Registry& reg = TheRegistry();
    return reg.Run("RegDeleteKey", [&](Store& store) {
        Transaction txn(store, true);
        KeyId id = 0;
        if (LONG rc = reg.Resolve(hKey, &id); rc != ERROR_SUCCESS) return rc;
        if (LONG rc = Walk(store, id, parts, &id); rc != ERROR_SUCCESS) return rc;
        if (IsRoot(id) || store.HasChildren(id)) return ERROR_ACCESS_DENIED;
        store.RemoveTree(id, true);
        txn.Commit();
        return ERROR_SUCCESS;
    });
}

// A null or empty sub-key empties the key of hKey but keeps it.
LONG RegDeleteTree(HKEY hKey, LPCSTR lpSubKey)
{
    std::vector<std::string_view> parts;
    if (LONG rc = SplitPath(lpSubKey, &parts); rc != ERROR_SUCCESS) return rc;
    Registry& reg = TheRegistry();
    return reg.Run("RegDeleteTree", [&](Store& store) {
        Transaction txn(store, true);
        KeyId id = 0;
        if (LONG rc = reg.Resolve(hKey, &id); rc != ERROR_SUCCESS) return rc;
        if (LONG rc = Walk(store, id, parts, &id); rc != ERROR_SUCCESS) return rc;
        store.RemoveTree(id, !parts.empty());
        txn.Commit();
        return ERROR_SUCCESS;
    });
}

LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD* lpcchName, DWORD*, LPSTR lpClass,
                  DWORD* lpcchClass, FILETIME* lpftLastWriteTime)
{
    if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
    Registry& reg = TheRegistry();
    return reg.Run("RegEnumKeyEx", [&](Store& store) {
        Transaction txn(store, false);
        KeyId id = 0;
        if (LONG rc = reg.Resolve(hKey, &id); rc != ERROR_SUCCESS) return rc;
        std::optional<SubKeyRecord> child = store.ChildAt(id, dwIndex);
        txn.Commit();
        if (!child) return ERROR_NO_MORE_ITEMS;
        if (LONG rc = HandOutName(child->name, lpName, lpcchName); rc != ERROR_SUCCESS) return rc;
        NoClass(lpClass, lpcchClass);
        ToFileTime(child->written, lpftLastWriteTime);
        return ERROR_SUCCESS;
    });
}

LONG RegEnumValue(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, DWORD* lpcchValueName, DWORD*,
                  DWORD* lpType, BYTE* lpData, DWORD* lpcbData)
{
    if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
    Registry& reg = TheRegistry();
    return reg.Run("RegEnumValue", [&](Store& store) {
        Transaction txn(store, false);
        KeyId id = 0;
        if (LONG rc = reg.Resolve(hKey, &id); rc != ERROR_SUCCESS) return rc;
        std::optional<ValueRecord> value = store.ValueAt(id, dwIndex);
        txn.Commit();
        if (!value) return ERROR_NO_MORE_ITEMS;
        if (LONG rc = HandOutName(value->name, lpValueName, lpcchValueName); rc != ERROR_SUCCESS)
            return rc;
        return HandOut(*value, lpType, lpData, lpcbData);
    });
}

LONG RegQueryInfoKey(HKEY hKey, LPSTR lpClass, DWORD* lpcchClass, DWORD*, DWORD* lpcSubKeys,
                     DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen, DWORD* lpcValues,
                     DWORD* lpcbMaxValueNameLen, DWORD* lpcbMaxValueLen,
                     DWORD* lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime)
{
    Registry& reg = TheRegistry();
    return reg.Run("RegQueryInfoKey", [&](Store& store) {
        Transaction txn(store, false);
        KeyId id = 0;
        if (LONG rc = reg.Resolve(hKey, &id); rc != ERROR_SUCCESS) return rc;
        const KeyInfo info = store.Info(id);
        txn.Commit();
        NoClass(lpClass, lpcchClass);
        if (lpcSubKeys) *lpcSubKeys = info.subKeys;
        if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = info.maxSubKeyLen;
        if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
        if (lpcValues) *lpcValues = info.values;
        if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = info.maxValueNameLen;
        if (lpcbMaxValueLen) *lpcbMaxValueLen = info.maxValueLen;
        if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
        ToFileTime(info.written, lpftLastWriteTime);
        return ERROR_SUCCESS;
    });
}
