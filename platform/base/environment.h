// The environment root: the one directory under which everything lives that
// the home platform keeps in system places (registry, profiles, message
// stores, the service list, the special folders of the shell).
#pragma once

#include <filesystem>
#include <optional>

#include "platform/base/wintypes.h"

// Special folders of the shell, with their home numbers.
constexpr int CSIDL_APPDATA = 0x1A;               // 26
constexpr int CSIDL_SYSTEM = 0x25;                // 37
constexpr int CSIDL_PROGRAM_FILES = 0x26;         // 38
constexpr int CSIDL_PROGRAM_FILES_COMMON = 0x2B;  // 43

constexpr DWORD MAX_PATH = 260;

namespace quillory {

// QUILLORY_HOME when set and not empty, else ${XDG_DATA_HOME:-$HOME/.local/share}/quillory.
// The variables are read on every call (tests change them); the directory is
// created when missing. The result is absolute and has no trailing '/'.
std::filesystem::path EnvironmentRoot();

// The directory of a special folder under the root, or nothing for a number
// this platform does not know. Nothing is created.
std::optional<std::filesystem::path> SpecialFolderPath(int csidl);

}  // namespace quillory

// Copies the special folder's path (at most MAX_PATH bytes with the NUL) into
// lpszPath. FALSE for an unknown number, a path that does not fit, or a folder
// that could not be created when fCreate asks for it.
BOOL SHGetSpecialFolderPath(HWND hwnd, LPSTR lpszPath, int csidl, BOOL fCreate);

// The system directory (created when missing, since it always exists at
// home). Returns the length copied without the NUL, or the size needed
// including the NUL when uSize is too small; 0 on failure.
UINT GetSystemDirectory(LPSTR lpBuffer, UINT uSize);

// The same two under their exported names, for callers that look them up by
// name through the module loader.
extern "C" {
__attribute__((visibility("default"))) BOOL SHGetSpecialFolderPathA(HWND hwnd, LPSTR lpszPath,
                                                                    int csidl, BOOL fCreate);
__attribute__((visibility("default"))) UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);
}
