// File-version information of our own binaries, read from the file without
// loading it. A binary carries one version record, placed by
// QUILLORY_VERSION_INFO in a named section; the readers find it by its marker
// and validate it by its check value, so a stray copy of the marker elsewhere
// in a file is skipped.
#pragma once

#include "platform/base/wintypes.h"

#include <cstddef>

// The fixed part of a version block, with its home layout.
struct VS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

constexpr DWORD VS_FFI_SIGNATURE = 0xFEEF04BD;
constexpr DWORD VS_FFI_STRUCVERSION = 0x00010000;
constexpr DWORD VS_FFI_FILEFLAGSMASK = 0x0000003F;

// Size of the version block of a file (0 on failure; *handle is set to 0).
DWORD GetFileVersionInfoSize(LPCSTR filename, DWORD* handle);
// Copies the version block into data, which must hold the size above.
BOOL GetFileVersionInfo(LPCSTR filename, DWORD handle, DWORD length, void* data);
// "\\" gives the VS_FIXEDFILEINFO; "\\StringFileInfo\\<language>\\FileVersion",
// "...\\ProductVersion" and "...\\FileDescription" give text (length in
// characters with the terminator); "\\VarFileInfo\\Translation" gives the one
// language/code-page pair.
BOOL VerQueryValue(const void* block, LPCSTR subBlock, void** buffer, UINT* length);

namespace quillory {

// The record as it sits in a binary (host byte order; no padding).
struct VersionRecord {
    char marker[16];
    DWORD layoutSize;  // sizeof(VersionRecord) when written
    DWORD fileVersionMS;
    DWORD fileVersionLS;
    char description[128];
    DWORD check;  // VersionRecordCheck over everything before it
};
static_assert(sizeof(VersionRecord) == 16 + 3 * 4 + 128 + 4);

inline constexpr char kVersionRecordMarker[16] = {'\x7f', 'Q', 'U', 'I', 'L', 'L', 'O', 'R',
                                                  'Y', '-', 'V', 'E', 'R', 'S', '\x01', '\x00'};

// FNV-1a over the fields in order (words little-endian), so that the value
// does not depend on how the compiler lays the record out.
constexpr DWORD VersionRecordCheck(const VersionRecord& r)
{
    DWORD h = 2166136261u;
    auto byte = [&h](unsigned char b) { h = (h ^ b) * 16777619u; };
    auto word = [&byte](DWORD w) {
        for (int i = 0; i < 4; ++i) byte(static_cast<unsigned char>(w >> (8 * i)));
    };
    for (char c : r.marker) byte(static_cast<unsigned char>(c));
    word(r.layoutSize);
    word(r.fileVersionMS);
    word(r.fileVersionLS);
    for (char c : r.description) byte(static_cast<unsigned char>(c));
    return h;
}

template <std::size_t N>
constexpr VersionRecord MakeVersionRecord(unsigned major, unsigned minor, unsigned build, unsigned revision,
                                          const char (&description)[N])
{
    static_assert(N <= sizeof(VersionRecord::description), "version description too long");
    VersionRecord r{};
    for (std::size_t i = 0; i < sizeof r.marker; ++i) r.marker[i] = kVersionRecordMarker[i];
    r.layoutSize = sizeof(VersionRecord);
    r.fileVersionMS = (major & 0xFFFF) << 16 | (minor & 0xFFFF);
    r.fileVersionLS = (build & 0xFFFF) << 16 | (revision & 0xFFFF);
    for (std::size_t i = 0; i < N; ++i) r.description[i] = description[i];
    r.check = VersionRecordCheck(r);
    return r;
}

// Where the record of a file starts, or -1 when it carries none; reads the
// file in bounded chunks. Sets the last error on failure.
long long FindVersionRecord(const char* filename, VersionRecord& record);

}  // namespace quillory

// Embeds the version record of the binary being built; use once per binary,
// at namespace scope. The description is a string literal of up to 127 bytes.
// Used and retained, so neither the compiler nor a linker that collects
// unreferenced sections drops the record.
#define QUILLORY_VERSION_INFO(major, minor, build, revision, description)                        \
    __attribute__((used, retain, section("quillory_version"))) static constexpr                  \
        ::quillory::VersionRecord quillory_version_record_ =                                     \
            ::quillory::MakeVersionRecord(major, minor, build, revision, description)
