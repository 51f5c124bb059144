#include "sedgewynd/inf_merge.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "platform/base/trace.h"
#include "sedgewynd/text_codec.h"

namespace quillory::sedgewynd {
namespace {

constexpr off_t kMinFileSize = 4;
constexpr std::size_t kMinTextLength = 10;  // a written list this short is not one
constexpr char kByteOrderMark[] = "\xFF\xFE";

bool Install(CInfDocument& target, const InfSection& section, bool overwrite)
{
    InfSection* existing = target.FindSection(section.name);
    if (!existing) return target.AppendSection(section) == InfStatus::Ok;
    for (const InfEntry& entry : section.entries) {
        if (InfEntry* have = entry.comment ? nullptr : existing->Find(entry.key)) {
            if (!overwrite) return false;
            have->value = entry.value;
        } else if (CInfDocument::AppendEntry(*existing, entry) != InfStatus::Ok) {
            return false;
        }
    }
    return true;
}

void Remove(CInfDocument& target, const InfSection& section)
{
    InfSection* existing = target.FindSection(section.name);
    if (!existing) return;
    for (const InfEntry& entry : section.entries) {
        if (entry.comment) continue;
        for (auto it = existing->entries.begin(); it != existing->entries.end(); ++it) {
            if (!it->comment && EqualNoCase(it->key, entry.key)) {
                existing->entries.erase(it);
                break;
            }
        }
    }
}

std::optional<std::string> ReadWhole(int fd, const std::string& path)
{
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < kMinFileSize) {
        Trace("sedgewynd: %s: too small or size unknown\n", path.c_str());
        return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Trace("sedgewynd: %s: read failed: %s\n", path.c_str(), n < 0 ? std::strerror(errno) : "short file");
            return std::nullopt;
        }
        done += static_cast<std::size_t>(n);
    }
    return bytes;
}

bool WriteFromStart(int fd, std::string_view bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void WriteBackup(const std::string& backupPath, std::string_view bytes)
{
    const int fd = open(backupPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        Trace("sedgewynd: backup %s not written: %s\n", backupPath.c_str(), std::strerror(errno));
        return;
    }
    if (!WriteFromStart(fd, bytes)) Trace("sedgewynd: backup %s incomplete: %s\n", backupPath.c_str(), std::strerror(errno));
    close(fd);
}

// Puts the new bytes in place of the old. The file is overwritten and then
// cut to length (never emptied first); should writing fail, the old bytes go
// back.
bool ReplaceContent(int fd, const std::string& path, const std::string& old, const std::string& bytes)
{
    if (WriteFromStart(fd, bytes) &&
        (bytes.size() >= old.size() || ftruncate(fd, static_cast<off_t>(bytes.size())) == 0) && fdatasync(fd) == 0)
        return true;
    Trace("sedgewynd: %s: write failed: %s\n", path.c_str(), std::strerror(errno));
    if (!WriteFromStart(fd, old) || ftruncate(fd, static_cast<off_t>(old.size())) != 0)
        Trace("sedgewynd: %s: could not restore its content: %s\n", path.c_str(), std::strerror(errno));
    return false;
}

}  // namespace

bool MergeDocument(CInfDocument& target, const CInfDocument& config, const MergeOptions& options)
{
    for (const InfSection& section : config.Sections()) {
        if (EqualNoCase(section.name, kControlSection)) continue;
        if (options.mode == MergeMode::Remove)
            Remove(target, section);
        else if (!Install(target, section, options.overwrite))
            return false;
    }
    return true;
}

bool MergeTargetFile(int fd, const std::string& path, const std::string& backupPath, const CInfDocument& config,
                     const MergeOptions& options)
{
    const std::optional<std::string> old = ReadWhole(fd, path);
    if (!old) return false;

    const bool unicode = old->compare(0, 2, kByteOrderMark) == 0;
    std::string text;
    if (unicode) {
        std::optional<std::string> ansi = Utf16ToAnsi(std::string_view(*old).substr(2));
        if (!ansi || ansi->empty()) {
            Trace("sedgewynd: %s: not valid UTF-16 text for the code page\n", path.c_str());
            return false;
        }
        text = std::move(*ansi);
    } else {
        text = *old;
    }

    CInfDocument doc(InfKind::Target);
    if (const InfStatus s = doc.Parse(text); s != InfStatus::Ok || doc.Sections().empty()) {
        Trace("sedgewynd: %s: not a usable service list (%d)\n", path.c_str(), static_cast<int>(s));
        return false;
    }
    if (!MergeDocument(doc, config, options)) {
        Trace("sedgewynd: %s: merge refused (existing key without Overwrite, or too large)\n", path.c_str());
        return false;
    }
    const std::string written = doc.Write();
    if (written.size() <= kMinTextLength) {
        Trace("sedgewynd: %s: nothing left to write\n", path.c_str());
        return false;
    }

    std::string bytes;
    if (unicode) {
        std::optional<std::string> utf16 = AnsiToUtf16(written);
        if (!utf16 || utf16->size() / 2 < kMinTextLength) {
            Trace("sedgewynd: %s: text not convertible to UTF-16\n", path.c_str());
            return false;
        }
        bytes.assign(kByteOrderMark, 2);
        bytes += *utf16;
    } else {
        bytes = written;
    }

    if (!backupPath.empty()) WriteBackup(backupPath, *old);
    return ReplaceContent(fd, path, *old, bytes);
}

}  // namespace quillory::sedgewynd
