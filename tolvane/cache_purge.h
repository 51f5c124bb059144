// The purge of stale article cache files: the provider's "__XXXXXXXX.msg"
// files in the data directory that are about 36 hours old or older.
#pragma once

#include <filesystem>
#include <string_view>

#include "platform/base/wintypes.h"

namespace quillory::tolvane {

// A file goes when the high 32 bits of its age in 100-ns units exceed this
// (301 * 2^32 units is about 35.9 hours).
constexpr ULONGLONG kStaleAgeHighPart = 300;

// Whether a file name is exactly "__", eight hexadecimal digits and ".msg".
bool IsCacheFileName(std::string_view name);

// Deletes the stale cache files of the directory, comparing the current UTC
// time with each file's time (its last change: files of the cache are
// written once) in UTC. Nothing happens unless directory is an absolute
// path to a directory; only regular files with a cache file's name that
// can be opened for reading are considered. Answers the number deleted.
int PurgeStaleCacheFiles(const std::filesystem::path& directory);

// The same for the data directory the registry names ("DIR").
int PurgeStaleCacheFiles();

}  // namespace quillory::tolvane
