#include "tolvane/cache_purge.h"

#include <cctype>
#include <chrono>
#include <fstream>

#include "common/regstore.h"
#include "platform/base/time.h"
#include "platform/base/trace.h"

namespace quillory::tolvane {

namespace {

constexpr std::string_view kPrefix = "__";
constexpr std::string_view kSuffix = ".msg";
constexpr std::size_t kHexDigits = 8;

std::optional<ULONGLONG> FileTimeOf(const std::filesystem::path& file)
{
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(file, ec);
    if (ec) return std::nullopt;
    const auto utc = std::chrono::file_clock::to_sys(written);
    const auto ft = FileTimeFromTimePoint(std::chrono::time_point_cast<std::chrono::system_clock::duration>(utc));
    if (!ft) return std::nullopt;
    return FileTimeToUInt64(*ft);
}

}  // namespace

bool IsCacheFileName(std::string_view name)
{
    if (name.size() != kPrefix.size() + kHexDigits + kSuffix.size()) return false;
    if (name.substr(0, kPrefix.size()) != kPrefix || name.substr(kPrefix.size() + kHexDigits) != kSuffix) return false;
    for (char c : name.substr(kPrefix.size(), kHexDigits))
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

int PurgeStaleCacheFiles(const std::filesystem::path& directory)
{
    std::error_code ec;
    // An empty or relative "DIR" would name files of the current directory.
    if (!directory.is_absolute() || !std::filesystem::is_directory(directory, ec)) return 0;
    FILETIME nowFt{};
    GetSystemTimeAsFileTime(&nowFt);
    const ULONGLONG now = FileTimeToUInt64(nowFt);
    int deleted = 0;
    for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        const auto& entry = *it;
        std::error_code typeEc;
        if (!entry.is_regular_file(typeEc) || entry.is_symlink(typeEc) ||
            !IsCacheFileName(entry.path().filename().string()))
            continue;
        if (!std::ifstream(entry.path(), std::ios::binary)) continue;  // cannot be opened: skipped
        const auto created = FileTimeOf(entry.path());
        if (!created || *created >= now || ((now - *created) >> 32) <= kStaleAgeHighPart) continue;
        std::error_code removeEc;
        if (std::filesystem::remove(entry.path(), removeEc))
            ++deleted;
        else
            Trace("PurgeStaleCacheFiles -- %s: %s\n", entry.path().c_str(), removeEc.message().c_str());
    }
    return deleted;
}

int PurgeStaleCacheFiles()
{
    const std::string dir = ReadDataDirectory();
    if (dir.empty()) return 0;
    return PurgeStaleCacheFiles(std::filesystem::path(dir));
}

}  // namespace quillory::tolvane
