// The registry: three hives of keys and typed values, kept in one SQLite
// database under the environment root. Every write is one transaction, so
// several processes may write at once without losing anything.
#pragma once

#include "platform/base/wintypes.h"
#include "platform/base/winerror.h"

// Predefined root keys, with their home values.
inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000));
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001));
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002));

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

// Access rights (kept for the signatures; every handle may read and write).
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Options and dispositions of RegCreateKeyEx.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Limits of names, as at home.
constexpr DWORD REG_MAX_KEY_NAME = 255;      // characters of one key name
constexpr DWORD REG_MAX_VALUE_NAME = 16383;  // characters of one value name

// Key paths use '\' between names; names compare case-insensitively (ASCII)
// and keep the case they were created with. A null or empty sub-key names the
// key itself. Value name null or "" is the key's default value.
LONG RegCreateKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD reserved, LPSTR lpClass, DWORD options,
                    REGSAM samDesired, void* lpSecurityAttributes, HKEY* phkResult,
                    DWORD* lpdwDisposition);
LONG RegCreateKey(HKEY hKey, LPCSTR lpSubKey, HKEY* phkResult);
LONG RegOpenKeyEx(HKEY hKey, LPCSTR lpSubKey, DWORD options, REGSAM samDesired, HKEY* phkResult);
LONG RegOpenKey(HKEY hKey, LPCSTR lpSubKey, HKEY* phkResult);
LONG RegCloseKey(HKEY hKey);

// lpData null: only the type and size are returned. A buffer too small gives
// ERROR_MORE_DATA with the needed size in *lpcbData. REG_SZ data includes
// its terminating NUL when it fits.
LONG RegQueryValueEx(HKEY hKey, LPCSTR lpValueName, DWORD* lpReserved, DWORD* lpType,
                     BYTE* lpData, DWORD* lpcbData);
LONG RegSetValueEx(HKEY hKey, LPCSTR lpValueName, DWORD reserved, DWORD dwType,
                   const BYTE* lpData, DWORD cbData);
LONG RegDeleteValue(HKEY hKey, LPCSTR lpValueName);
// Deletes a key without sub-keys (ERROR_ACCESS_DENIED otherwise), as at home.
LONG RegDeleteKey(HKEY hKey, LPCSTR lpSubKey);
// Deletes a key with everything below it.
LONG RegDeleteTree(HKEY hKey, LPCSTR lpSubKey);

// Enumeration in name order (case-insensitive). *lpcchName is in characters
// without the NUL on return; ERROR_MORE_DATA when the name does not fit;
// ERROR_NO_MORE_ITEMS past the end.
LONG RegEnumKeyEx(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD* lpcchName, DWORD* lpReserved,
                  LPSTR lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime);
LONG RegEnumValue(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, DWORD* lpcchValueName,
                  DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData);
LONG RegQueryInfoKey(HKEY hKey, LPSTR lpClass, DWORD* lpcchClass, DWORD* lpReserved,
                     DWORD* lpcSubKeys, DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                     DWORD* lpcValues, DWORD* lpcbMaxValueNameLen, DWORD* lpcbMaxValueLen,
                     DWORD* lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime);

#include <filesystem>

namespace quillory {
// The registry's database file under the current environment root, for
// messages that name it (ERROR_BADDB: damaged or not a registry).
std::filesystem::path RegistryFile();
}  // namespace quillory
