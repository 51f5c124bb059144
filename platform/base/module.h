// Modules: LoadLibrary / GetProcAddress / FreeLibrary over the dynamic loader.
//
// A Windows-style name maps to a shared object: the base name lower-cased,
// ".dll" dropped, "lib" prefixed and ".so" appended ("VISMORA.DLL" ->
// libvismora.so); a name that already names a shared object is kept; a path
// keeps its directory. The home system modules (kernel32, user32, advapi32,
// shell32, version) are this platform library itself; mapi32 is the
// platform's MAPI library (libqmapi.so) beside it, and wininet and rasapi32
// (the dialling services) are the news component (libinetcomm.so) beside it.
//
// A bare name is searched in the directory of the module that calls
// LoadLibrary, then in each directory of QUILLORY_LIBPATH (':'-separated),
// then in the install library directory; the first file found is the one
// loaded. A name with a directory part is used as given (a relative one from
// the current directory).
//
// Failures set the last error (ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND,
// ERROR_INVALID_HANDLE ...) and send the loader's own message to the trace
// sink; LastModuleError() keeps it for the calling thread.
#pragma once

#include "platform/base/wintypes.h"

#include <string>
#include <string_view>
#include <vector>

namespace quillory {
// LoadLibrary on behalf of the module containing caller.
HMODULE LoadLibraryFor(LPCSTR name, const void* caller);
namespace detail {
// One per module (hidden): its address tells LoadLibrary which module calls.
__attribute__((visibility("hidden"))) inline char moduleAnchor = 0;
}  // namespace detail
}  // namespace quillory

// Inline and hidden, so that each module passes its own anchor. A return
// address would not do: an optimised `return LoadLibrary(name);` becomes a
// tail jump, and the address seen is then that of the caller's caller.
__attribute__((visibility("hidden"))) inline HMODULE LoadLibrary(LPCSTR name)
{
    return quillory::LoadLibraryFor(name, &quillory::detail::moduleAnchor);
}

// Exports are looked up by name. An ordinal (a "name" below 0x10000) is
// found through the module's ordinal table (below), else not at all.
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
// Undoes one LoadLibrary; the module goes when the last one is undone.
BOOL FreeLibrary(HMODULE module);
// The handle of a loaded module, without loading it or counting a reference;
// null names the main program.
HMODULE GetModuleHandle(LPCSTR name);
// Copies the module's path (null: the main program) and answers its length.
// A path that does not fit is cut to size - 1 characters and a terminator,
// the answer is size and the last error ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileName(HMODULE module, LPSTR buffer, DWORD size);

namespace quillory {

// The shared-object file name (with any directory part) a module name maps to.
std::string SharedObjectName(std::string_view name);
// Whether the name is one of the home system modules served by this library.
bool IsSystemModuleName(std::string_view name);

// Absolute path of the loaded module containing address; empty when none does.
std::string ModulePathOf(const void* address);
// Handle of the loaded module containing address (not counted), or null.
HMODULE ModuleHandleOf(const void* address);
// Path of this platform library.
std::string PlatformLibraryPath();

// The directories searched for a bare name requested by the module that
// contains caller, in order.
std::vector<std::string> ModuleSearchPath(const void* caller);

// The loader's message for this thread's last failed module call.
std::string LastModuleError();

// A module whose callers bind exports by ordinal exports this table under
// the C name QuilloryOrdinalTable: each ordinal with the name of the export
// it stands for.
struct OrdinalEntry {
    WORD ordinal;
    const char* name;
};
struct OrdinalTable {
    DWORD count;
    const OrdinalEntry* entries;
};
inline constexpr char kOrdinalTableSymbol[] = "QuilloryOrdinalTable";

}  // namespace quillory
