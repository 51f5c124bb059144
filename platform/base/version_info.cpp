#include "platform/base/version_info.h"

#include "platform/base/trace.h"
#include "platform/base/winerror.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

// The version record of this library.
QUILLORY_VERSION_INFO(QUILLORY_VERSION_MAJOR, QUILLORY_VERSION_MINOR, QUILLORY_VERSION_PATCH, 0,
                      "Quillory platform base services");

namespace quillory {
namespace {

constexpr std::size_t kScanChunk = 64 * 1024;
constexpr char kElfMagic[4] = {'\x7f', 'E', 'L', 'F'};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

DWORD OpenError(int err)
{
    switch (err) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG: return ERROR_PATH_NOT_FOUND;
    default: return ERROR_ACCESS_DENIED;
    }
}

bool IsValidRecord(const VersionRecord& r)
{
    return r.layoutSize == sizeof(VersionRecord) && r.description[sizeof r.description - 1] == '\0' &&
           r.check == VersionRecordCheck(r);
}

// What GetFileVersionInfo hands out and VerQueryValue reads.
struct VersionBlock {
    DWORD size;
    DWORD tag;
    VS_FIXEDFILEINFO fixed;
    DWORD translation;  // language in the low word, code page in the high word
    char fileVersion[24];
    char productVersion[24];
    char description[sizeof(VersionRecord::description)];
};
constexpr DWORD kBlockTag = 0x51564231;  // "QVB1"
constexpr DWORD kLanguageNeutral = 0x0000;
constexpr DWORD kCodePageUnicode = 0x04B0;

// The block begins with its size: read no further than a block that says it
// is one of ours.
bool ReadBlock(const void* data, VersionBlock& block)
{
    if (!data) return false;
    DWORD head[2];
    std::memcpy(&head[0], data, sizeof head[0]);
    if (head[0] != sizeof block) return false;
    std::memcpy(head, data, sizeof head);
    if (head[1] != kBlockTag) return false;
    std::memcpy(&block, data, sizeof block);
    return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
}

}  // namespace

long long FindVersionRecord(const char* filename, VersionRecord& record)
{
    if (!filename || !*filename) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    struct stat st {};
    if (::stat(filename, &st) != 0) {
        SetLastError(OpenError(errno));
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(filename, "rb"));
    if (!file) {
        SetLastError(OpenError(errno));
        return -1;
    }

    // Chunks overlap by one record less a byte, so a record that straddles two
    // reads is seen whole in the second.
    constexpr std::size_t kKeep = sizeof(VersionRecord) - 1;
    std::vector<char> buffer(kScanChunk + kKeep);
    std::size_t filled = 0;
    long long bufferStart = 0;  // file offset of buffer[0]
    bool elf = false;
    bool first = true;
    for (;;) {
        const std::size_t got = std::fread(buffer.data() + filled, 1, kScanChunk, file.get());
        if (got == 0) break;
        filled += got;
        if (first) {
            elf = filled >= sizeof kElfMagic && std::memcmp(buffer.data(), kElfMagic, sizeof kElfMagic) == 0;
            first = false;
        }
        const char* const begin = buffer.data();
        const char* at = begin;
        while (filled - static_cast<std::size_t>(at - begin) >= sizeof(VersionRecord)) {
            const void* hit = memmem(at, filled - static_cast<std::size_t>(at - begin) - kKeep,
                                     kVersionRecordMarker, sizeof kVersionRecordMarker);
            if (!hit) break;
            at = static_cast<const char*>(hit);
            VersionRecord candidate;
            std::memcpy(&candidate, at, sizeof candidate);
            if (IsValidRecord(candidate)) {
                record = candidate;
                return bufferStart + (at - begin);
            }
            ++at;
        }
        const std::size_t keep = std::min(filled, kKeep);
        std::memmove(buffer.data(), buffer.data() + filled - keep, keep);
        bufferStart += static_cast<long long>(filled - keep);
        filled = keep;
    }
    if (std::ferror(file.get())) {
        Trace("FindVersionRecord(%s): read error\n", filename);
        SetLastError(ERROR_ACCESS_DENIED);
        return -1;
    }
    SetLastError(elf ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_RESOURCE_DATA_NOT_FOUND);
    return -1;
}

}  // namespace quillory

DWORD GetFileVersionInfoSize(LPCSTR filename, DWORD* handle)
{
    if (handle) *handle = 0;
    quillory::VersionRecord record;
    if (quillory::FindVersionRecord(filename, record) < 0) return 0;
    return sizeof(quillory::VersionBlock);
}

BOOL GetFileVersionInfo(LPCSTR filename, DWORD, DWORD length, void* data)
{
    using quillory::VersionBlock;
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    quillory::VersionRecord record;
    if (quillory::FindVersionRecord(filename, record) < 0) return FALSE;
    // A short buffer gets nothing rather than a block cut in the middle.
    if (length < sizeof(VersionBlock)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    VersionBlock block{};
    block.size = sizeof block;
    block.tag = quillory::kBlockTag;
    block.fixed.dwSignature = VS_FFI_SIGNATURE;
    block.fixed.dwStrucVersion = VS_FFI_STRUCVERSION;
    block.fixed.dwFileVersionMS = block.fixed.dwProductVersionMS = record.fileVersionMS;
    block.fixed.dwFileVersionLS = block.fixed.dwProductVersionLS = record.fileVersionLS;
    block.fixed.dwFileFlagsMask = VS_FFI_FILEFLAGSMASK;
    block.translation = quillory::kCodePageUnicode << 16 | quillory::kLanguageNeutral;
    std::snprintf(block.fileVersion, sizeof block.fileVersion, "%u.%u.%u.%u", HIWORD(record.fileVersionMS),
                  LOWORD(record.fileVersionMS), HIWORD(record.fileVersionLS), LOWORD(record.fileVersionLS));
    std::memcpy(block.productVersion, block.fileVersion, sizeof block.productVersion);
    std::memcpy(block.description, record.description, sizeof block.description);
    std::memcpy(data, &block, sizeof block);
    return TRUE;
}

BOOL VerQueryValue(const void* data, LPCSTR subBlock, void** buffer, UINT* length)
{
    using quillory::VersionBlock;
    quillory::VersionBlock block;
    if (!subBlock || !buffer || !quillory::ReadBlock(data, block)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Answers point into the caller's block, as at home.
    auto* base = static_cast<char*>(const_cast<void*>(data));
    auto answer = [&](std::size_t offset, std::size_t size) {
        *buffer = base + offset;
        if (length) *length = static_cast<UINT>(size);
        return TRUE;
    };
    auto text = [&](std::size_t offset, const char* value) { return answer(offset, std::strlen(value) + 1); };

    const std::string_view path(subBlock);
    if (path == "\\") return answer(offsetof(VersionBlock, fixed), sizeof(VS_FIXEDFILEINFO));
    if (quillory::EqualsNoCase(path, "\\VarFileInfo\\Translation"))
        return answer(offsetof(VersionBlock, translation), sizeof(DWORD));

    // "\StringFileInfo\<8 hex digits>\<name>": there is one string table, so
    // any language/code-page key reads it.
    constexpr std::string_view kStrings = "\\StringFileInfo\\";
    if (path.size() > kStrings.size() + 9 && quillory::EqualsNoCase(path.substr(0, kStrings.size()), kStrings) &&
        path[kStrings.size() + 8] == '\\' &&
        std::all_of(path.begin() + kStrings.size(), path.begin() + kStrings.size() + 8,
                    [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
        const std::string_view name = path.substr(kStrings.size() + 9);
        if (quillory::EqualsNoCase(name, "FileVersion")) return text(offsetof(VersionBlock, fileVersion), block.fileVersion);
        if (quillory::EqualsNoCase(name, "ProductVersion"))
            return text(offsetof(VersionBlock, productVersion), block.productVersion);
        if (quillory::EqualsNoCase(name, "FileDescription") && block.description[0])
            return text(offsetof(VersionBlock, description), block.description);
    }
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    if (length) *length = 0;
    return FALSE;
}
