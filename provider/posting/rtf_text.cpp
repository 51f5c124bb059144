#include "provider/posting/rtf_text.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace quillory::quarnex {

namespace {

constexpr std::size_t kHeaderSize = 16;
constexpr DWORD kCompressed = 0x75465A4C;    // "LZFu"
constexpr DWORD kUncompressed = 0x414C454D;  // "MELA"
constexpr std::size_t kDictionarySize = 4096;
// The dictionary starts out holding this text; writing continues after it.
constexpr std::string_view kPrebuffer =
    "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss \\fmodern \\fscript "
    "\\fdecor MS Sans SerifSymbolArialTimes New RomanCourier{\\colortbl\\red0\\green0\\blue0\r\n\\par "
    "\\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";

DWORD ReadLe32(std::span<const BYTE> b, std::size_t at)
{
    return static_cast<DWORD>(b[at]) | static_cast<DWORD>(b[at + 1]) << 8 | static_cast<DWORD>(b[at + 2]) << 16 |
           static_cast<DWORD>(b[at + 3]) << 24;
}

}  // namespace

std::optional<std::string> DecompressRtf(std::span<const BYTE> value, std::size_t maxBytes)
{
    if (value.size() < kHeaderSize) return std::nullopt;
    const DWORD compSize = ReadLe32(value, 0);
    const DWORD rawSize = ReadLe32(value, 4);
    const DWORD kind = ReadLe32(value, 8);
    // compSize counts the bytes after its own field; a larger claim is cut
    // to what is there.
    const std::size_t end = std::min<std::size_t>(value.size(), static_cast<std::size_t>(compSize) + 4);
    const std::size_t limit = std::min<std::size_t>(maxBytes, rawSize);
    std::string out;
    if (kind == kUncompressed) {
        const std::size_t n = std::min(limit, end > kHeaderSize ? end - kHeaderSize : 0);
        out.assign(reinterpret_cast<const char*>(value.data() + kHeaderSize), n);
        return out;
    }
    if (kind != kCompressed) return std::nullopt;

    std::array<char, kDictionarySize> dict{};
    std::copy(kPrebuffer.begin(), kPrebuffer.end(), dict.begin());
    std::size_t write = kPrebuffer.size();
    std::size_t in = kHeaderSize;
    while (in < end && out.size() < limit) {
        const BYTE control = value[in++];
        for (int bit = 0; bit < 8 && in < end && out.size() < limit; ++bit) {
            if ((control & (1u << bit)) == 0) {
                const char c = static_cast<char>(value[in++]);
                out.push_back(c);
                dict[write] = c;
                write = (write + 1) % kDictionarySize;
                continue;
            }
            if (in + 1 >= end) return std::nullopt;
            const unsigned ref = static_cast<unsigned>(value[in]) << 8 | value[in + 1];
            in += 2;
            std::size_t offset = ref >> 4;
            const std::size_t length = (ref & 0xF) + 2;
            // A reference to the write position ends the data.
            if (offset == write) return out;
            for (std::size_t i = 0; i < length && out.size() < limit; ++i) {
                const char c = dict[offset];
                offset = (offset + 1) % kDictionarySize;
                out.push_back(c);
                dict[write] = c;
                write = (write + 1) % kDictionarySize;
            }
        }
    }
    return out;
}

}  // namespace quillory::quarnex
