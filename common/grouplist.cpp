#include "common/grouplist.h"

#include "platform/base/trace.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillory {

namespace {

constexpr std::string_view kLineEnds = "\r\n";
constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kBlanksAndLineEnds = " \t\r\n";
// A name ends at the first of these; none of them may appear inside one.
constexpr std::string_view kNameStops{" \t\r\n\0", 5};
// A line's text ends at the first of these.
constexpr std::string_view kLineStops{"\r\n\0", 3};

std::string_view Trim(std::string_view s, std::string_view chars)
{
    const auto first = s.find_first_not_of(chars);
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(chars);
    return s.substr(first, last - first + 1);
}

// The text of a line stops at its first NUL.
std::string_view CutAtNul(std::string_view s)
{
    return s.substr(0, s.find('\0'));
}

// Walks text piece by piece, splitting at every CR and LF; empty pieces are
// skipped. `end` is the offset just past the piece returned.
struct LineCursor {
    std::string_view text;
    std::size_t pos = 0;

    bool Next(std::string_view& piece, std::size_t& end)
    {
        while (pos < text.size()) {
            std::size_t stop = text.find_first_of(kLineEnds, pos);
            if (stop == std::string_view::npos) stop = text.size();
            const std::size_t start = pos;
            pos = stop < text.size() ? stop + 1 : stop;
            if (stop > start) {
                piece = text.substr(start, stop - start);
                end = stop;
                return true;
            }
        }
        return false;
    }
};

bool IsWritableName(std::string_view name)
{
    return !name.empty() && name.find_first_of(kNameStops) == std::string_view::npos;
}

std::string CleanDescription(std::string_view description)
{
    std::string out(description);
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    return std::string(Trim(out, kBlanks));
}

}  // namespace

bool ParseGroupLine(std::string_view line, GroupRecord& out)
{
    line = line.substr(0, line.find_first_of(kLineStops));
    if (line.size() < kGroupLineMinLength) return false;

    const std::string_view text = line.substr(3);
    const auto cut = text.find_first_of(kBlanks);
    const std::string_view name = text.substr(0, cut);
    if (name.empty()) return false;

    out.isNew = line[0] == kGroupNewMark;
    out.subscribed = line[1] == kGroupSubscribedMark;
    out.name.assign(name);
    out.description.assign(cut == std::string_view::npos
                               ? std::string_view{}
                               : Trim(text.substr(cut + 1), kBlanksAndLineEnds));
    return true;
}

std::size_t ParseGroupListChunk(std::string_view text, std::size_t maxRecords,
                                std::vector<GroupRecord>& out)
{
    if (maxRecords == 0) return 0;
    LineCursor cursor{text};
    std::string_view line;
    std::size_t end = 0;
    std::size_t added = 0;
    GroupRecord record;
    while (cursor.Next(line, end)) {
        if (!ParseGroupLine(line, record)) continue;
        out.push_back(std::move(record));
        record = GroupRecord{};
        if (++added == maxRecords) return end;
    }
    return text.size();
}

std::vector<GroupRecord> ParseGroupList(std::string_view text)
{
    std::vector<GroupRecord> records;
    ParseGroupListChunk(text, static_cast<std::size_t>(-1), records);
    return records;
}

std::string FormatGroupList(std::span<const GroupRecord> records)
{
    std::string out;
    for (const GroupRecord& r : records) {
        if (!IsWritableName(r.name)) {
            Trace("FormatGroupList -- record with unwritable name of %zu bytes left out\n",
                  r.name.size());
            continue;
        }
        out += r.isNew ? kGroupNewMark : ' ';
        out += r.subscribed ? kGroupSubscribedMark : ' ';
        out += ' ';
        out += r.name;
        const std::string description = CleanDescription(r.description);
        if (!description.empty()) {
            out += ' ';
            out += description;
        }
        out += "\r\n";
    }
    return out;
}

std::string FormatSubscribedGroups(std::span<const GroupRecord> records)
{
    std::string out(kSubscribedFileHeader);
    out += "\r\n";
    for (const GroupRecord& r : records) {
        if (!r.subscribed || !IsWritableName(r.name)) continue;
        out += r.name;
        out += "\r\n";
    }
    return out;
}

std::vector<std::string> ParseSubscribedGroups(std::string_view text)
{
    std::vector<std::string> names;
    LineCursor cursor{text};
    std::string_view piece;
    std::size_t end = 0;
    bool first = true;
    while (cursor.Next(piece, end)) {
        if (first) {
            first = false;
            continue;
        }
        piece = CutAtNul(piece);
        if (piece.size() > 1) names.emplace_back(piece);
    }
    return names;
}

std::string SubscribedFilePath(std::string_view listPath)
{
    if (listPath.size() < 4) return {};
    std::string path(listPath.substr(0, listPath.size() - 4));
    path += kSubscribedFileSuffix;
    return path;
}

std::string KnownArticlesFilePath(std::string_view listPath)
{
    if (listPath.size() < 4) return {};
    std::string path(listPath.substr(0, listPath.size() - 4));
    path += kKnownArticlesInsert;
    path += listPath.substr(listPath.size() - 4);
    return path;
}

bool ReadWholeFile(const std::string& path, std::string& out)
{
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Trace("ReadWholeFile -- cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    // Read straight into the string, sized from the file (which may still
    // grow or shrink while it is read).
    struct stat st{};
    std::size_t capacity = ::fstat(fd, &st) == 0 && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 65536;
    bool ok = true;
    for (;;) {
        if (out.size() == capacity) capacity *= 2;
        const std::size_t have = out.size();
        out.resize(capacity);
        const ssize_t n = ::read(fd, out.data() + have, capacity - have);
        out.resize(have + (n > 0 ? static_cast<std::size_t>(n) : 0));
        if (n > 0) {
            continue;
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            Trace("ReadWholeFile -- cannot read %s: %s\n", path.c_str(), std::strerror(errno));
            ok = false;
            break;
        }
    }
    ::close(fd);
    if (!ok) out.clear();
    return ok;
}

bool ReadGroupListFile(const std::string& path, std::vector<GroupRecord>& out)
{
    out.clear();
    std::string text;
    if (!ReadWholeFile(path, text)) return false;
    out = ParseGroupList(text);
    return true;
}

std::vector<std::string> ReadSubscribedGroupNames(const std::string& listPath)
{
    std::string text;
    const std::string subPath = SubscribedFilePath(listPath);
    if (!subPath.empty() && ReadWholeFile(subPath, text) && !text.empty())
        return ParseSubscribedGroups(text);

    std::vector<std::string> names;
    std::vector<GroupRecord> records;
    if (ReadGroupListFile(listPath, records)) {
        for (GroupRecord& r : records)
            if (r.subscribed) names.push_back(std::move(r.name));
    }
    return names;
}

namespace {

bool WriteAll(int fd, std::string_view content)
{
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void SyncDirectoryOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0)
        Trace("ReplaceFileContent -- cannot sync directory %s: %s\n", dir.c_str(), std::strerror(errno));
    if (fd >= 0) ::close(fd);
}

}  // namespace

bool ReplaceFileContent(const std::string& path, std::string_view content)
{
    if (path.empty()) return false;
    static std::atomic<unsigned> counter{0};

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        Trace("ReplaceFileContent -- cannot create %s: %s\n", temp.c_str(), std::strerror(errno));
        return false;
    }

    // Keep the permissions of the file being replaced.
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) (void)::fchmod(fd, old.st_mode & 07777);

    const bool written = WriteAll(fd, content) && ::fsync(fd) == 0;
    const int savedErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) {
        Trace("ReplaceFileContent -- cannot write %s: %s\n", path.c_str(),
              std::strerror(written && closed ? errno : savedErrno));
        ::unlink(temp.c_str());
        return false;
    }
    SyncDirectoryOf(path);
    return true;
}

bool WriteGroupListFile(const std::string& path, std::span<const GroupRecord> records)
{
    return ReplaceFileContent(path, FormatGroupList(records));
}

bool WriteSubscribedFile(const std::string& path, std::span<const GroupRecord> records)
{
    return ReplaceFileContent(path, FormatSubscribedGroups(records));
}

bool SaveGroupFiles(const std::string& listPath, std::span<const GroupRecord> records)
{
    if (!WriteGroupListFile(listPath, records)) return false;
    const std::string subPath = SubscribedFilePath(listPath);
    if (subPath.empty()) return true;
    if (!WriteSubscribedFile(subPath, records)) {
        if (::unlink(subPath.c_str()) != 0 && errno != ENOENT)
            Trace("SaveGroupFiles -- cannot delete %s: %s\n", subPath.c_str(), std::strerror(errno));
    }
    return true;
}

}  // namespace quillory
