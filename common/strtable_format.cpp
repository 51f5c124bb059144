#include "common/strtable_format.h"

#include <cstring>

namespace quillory::strtable {
namespace {

std::uint32_t ReadU32(std::span<const std::byte> bytes, std::size_t at)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
    return v;
}

void WriteU32(std::vector<std::byte>& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::byte>((v >> (8 * i)) & 0xFF));
}

std::optional<Image> Reject(std::string* why, const char* text)
{
    if (why) *why = text;
    return std::nullopt;
}

}  // namespace

std::optional<Image> ParseStrTable(std::span<const std::byte> bytes, std::string* why)
{
    if (bytes.size() < kHeaderSize) return Reject(why, "shorter than the header");
    if (ReadU32(bytes, 0) != kMagic) return Reject(why, "bad magic");
    Image image;
    image.charset = ReadU32(bytes, 4);
    image.reserved = ReadU32(bytes, 8);
    const std::uint64_t count = ReadU32(bytes, 12);
    // 64-bit arithmetic: (N + 1) * 8 cannot wrap for any 32-bit N.
    const std::uint64_t areaStart = kHeaderSize + (count + 1) * kIndexEntrySize;
    if (areaStart > bytes.size()) return Reject(why, "index runs past the end");

    auto idAt = [&](std::uint64_t i) { return ReadU32(bytes, static_cast<std::size_t>(kHeaderSize + i * kIndexEntrySize)); };
    auto offsetAt = [&](std::uint64_t i) { return ReadU32(bytes, static_cast<std::size_t>(kHeaderSize + i * kIndexEntrySize + 4)); };
    if (idAt(count) != kSentinelId) return Reject(why, "no sentinel after the index");
    const std::uint64_t areaSize = offsetAt(count);
    if (areaSize > bytes.size() - areaStart) return Reject(why, "sentinel offset past the end");

    const auto* area = reinterpret_cast<const char*>(bytes.data() + areaStart);
    image.entries.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint32_t begin = offsetAt(i), end = offsetAt(i + 1);
        // Each string holds at least its NUL, so offsets rise strictly.
        if (end <= begin || end > areaSize) return Reject(why, "offsets out of order or outside the area");
        if (area[end - 1] != '\0') return Reject(why, "a string without its NUL");
        Entry e;
        e.id = idAt(i);
        e.text.assign(area + begin, std::strlen(area + begin));
        image.entries.push_back(std::move(e));
    }
    return image;
}

std::vector<std::byte> BuildStrTable(const Image& image)
{
    std::vector<std::byte> out;
    WriteU32(out, kMagic);
    WriteU32(out, image.charset);
    WriteU32(out, image.reserved);
    WriteU32(out, static_cast<std::uint32_t>(image.entries.size()));
    std::uint32_t offset = 0;
    for (const Entry& e : image.entries) {
        WriteU32(out, e.id);
        WriteU32(out, offset);
        offset += static_cast<std::uint32_t>(e.text.size() + 1);
    }
    WriteU32(out, kSentinelId);
    WriteU32(out, offset);
    for (const Entry& e : image.entries) {
        for (char c : e.text) out.push_back(static_cast<std::byte>(c));
        out.push_back(std::byte{0});
    }
    return out;
}

std::string PrintfSignature(std::string_view format)
{
    std::string signature;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (++i >= format.size()) break;
        if (format[i] == '%') continue;
        while (i < format.size() && std::string_view("-+ #0").find(format[i]) != std::string_view::npos) ++i;
        auto number = [&] {
            if (i < format.size() && format[i] == '*') {
                signature += '*';
                ++i;
                return;
            }
            while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
        };
        number();
        if (i < format.size() && format[i] == '.') {
            ++i;
            number();
        }
        while (i < format.size() && std::string_view("hlLqjzt").find(format[i]) != std::string_view::npos) signature += format[i++];
        // %i and %d read the same argument.
        if (i < format.size()) signature += format[i] == 'i' ? 'd' : format[i];
        signature += ' ';
    }
    return signature;
}

}  // namespace quillory::strtable
