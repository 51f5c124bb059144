// The "STRTABLE" format of the localised string tables, little-endian:
//
//   0   magic 0x01474E4C (the bytes 4C 4E 47 01)
//   4   charset of the dialog fonts (LOGFONT lfCharSet): 0, 1, 204 ...
//   8   reserved (3 in every shipped table; kept, not interpreted)
//   12  N, the number of strings
//   16  index: N + 1 entries of (uint32 id, uint32 offset into the string
//       area), sorted by id; entry N is the sentinel (id 0xFFFFFFFF, offset =
//       size of the string area)
//   ..  string area: NUL-terminated strings in the code page of the charset
//
// Tables come from files a translator may replace, so nothing in them is
// trusted: ParseStrTable rejects any image whose sizes, offsets or strings do
// not hold together. The same module writes the format at build time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillory::strtable {

constexpr std::uint32_t kMagic = 0x01474E4C;
constexpr std::uint32_t kSentinelId = 0xFFFFFFFF;
constexpr std::uint32_t kReservedValue = 3;
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kIndexEntrySize = 8;
// The resource type under which modules carry their tables.
inline constexpr char kResourceType[] = "STRTABLE";

// LOGFONT character sets of the shipped tables.
constexpr std::uint32_t ANSI_CHARSET = 0;
constexpr std::uint32_t DEFAULT_CHARSET = 1;
constexpr std::uint32_t RUSSIAN_CHARSET = 204;

struct Entry {
    std::uint32_t id = 0;
    std::string text;  // without its NUL; in the table's code page as stored

    bool operator==(const Entry&) const = default;
};

struct Image {
    std::uint32_t charset = DEFAULT_CHARSET;
    std::uint32_t reserved = kReservedValue;
    std::vector<Entry> entries;  // in index order, sentinel left out
};

// Parses and checks an image: the header is there, the magic matches, the
// index (computed without overflow) fits, the sentinel carries id 0xFFFFFFFF
// and an offset that keeps the string area inside the image, offsets rise
// strictly, and the last byte of every string is its NUL. A string ends at
// its first NUL. Nothing is sorted: the index order is kept as stored. On
// failure `why` (when given) says what is wrong.
std::optional<Image> ParseStrTable(std::span<const std::byte> bytes, std::string* why = nullptr);

// Writes an image; entries are written in the order given.
std::vector<std::byte> BuildStrTable(const Image& image);

// The printf conversions of a format, in order, as one text: each
// conversion's length modifier and letter ("%-5ld" gives "ld"), '*' widths
// and precisions as '*'. "%%" is no conversion. A translation may be used as
// a format only when its signature equals the original's, since the
// arguments are the caller's.
std::string PrintfSignature(std::string_view format);

}  // namespace quillory::strtable
