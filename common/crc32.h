// The string hash shared by the caches and the group-list download: CRC-32 of
// the reflected polynomial 0xEDB88320, register started at 0xFFFFFFFF and not
// inverted at the end (so the complement of the common CRC-32).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace quillory {

constexpr std::uint32_t kCrc32Polynomial = 0xEDB88320u;
constexpr std::uint32_t kCrc32Initial = 0xFFFFFFFFu;

// Continues a hash over more bytes; start with kCrc32Initial.
std::uint32_t Crc32Update(std::uint32_t crc, std::span<const std::uint8_t> bytes);

inline std::uint32_t Crc32(std::span<const std::uint8_t> bytes)
{
    return Crc32Update(kCrc32Initial, bytes);
}

inline std::uint32_t Crc32(std::string_view text)
{
    return Crc32({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

}  // namespace quillory
