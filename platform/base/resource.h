// Resources embedded in our own shared objects and programs.
//
// A module carries one table, exported under the C name QuilloryResourceTable
// and generated at build time by quillory_embed_resources (cmake/Quillory.cmake)
// from data files and string lists. Each entry has a type and a name, either
// of which is an integer id (MAKEINTRESOURCE) or a string; string names compare
// case-insensitively and "#123" names the id 123, as at home. Strings for
// LoadString are RT_STRING entries named by the string's id.
#pragma once

#include <cstdint>

#include "platform/base/wintypes.h"

// A located resource; valid while its module stays loaded.
struct HRSRC__;
using HRSRC = HRSRC__*;
// Loaded resource data (the same alias as the movable memory of the COM layer).
struct HGLOBAL__;
using HGLOBAL = HGLOBAL__*;

inline LPSTR MAKEINTRESOURCE(WORD id) { return reinterpret_cast<LPSTR>(static_cast<std::uintptr_t>(id)); }
inline bool IS_INTRESOURCE(LPCSTR p) { return (reinterpret_cast<std::uintptr_t>(p) >> 16) == 0; }

// Resource types used here, with their home numbers.
constexpr WORD RT_STRING_ID = 6;
constexpr WORD RT_RCDATA_ID = 10;
inline const LPCSTR RT_STRING = MAKEINTRESOURCE(RT_STRING_ID);
inline const LPCSTR RT_RCDATA = MAKEINTRESOURCE(RT_RCDATA_ID);

// Finds a resource of the module (null: the main program). Fails with
// ERROR_RESOURCE_DATA_NOT_FOUND when the module carries no table,
// ERROR_RESOURCE_TYPE_NOT_FOUND / ERROR_RESOURCE_NAME_NOT_FOUND otherwise.
HRSRC FindResource(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
// The bytes of a loaded resource; they stay valid while the module is loaded.
void* LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
// Copies string id (at most size - 1 bytes) and a terminating NUL; answers
// the number of bytes copied, 0 when the string is missing (buffer then "").
int LoadString(HINSTANCE instance, UINT id, LPSTR buffer, int size);

namespace quillory {

// One entry of a module's table. A named type or name has typeName / name
// set; otherwise the id applies.
struct ResourceEntry {
    WORD typeId;
    const char* typeName;
    WORD nameId;
    const char* name;
    const unsigned char* data;
    DWORD size;
};

struct ResourceTable {
    DWORD layoutSize;  // sizeof(ResourceEntry) the table was generated with
    DWORD count;
    const ResourceEntry* entries;
};

inline constexpr char kResourceTableSymbol[] = "QuilloryResourceTable";

}  // namespace quillory
