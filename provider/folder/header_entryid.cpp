#include "provider/folder/header_entryid.h"

#include <algorithm>
#include <cstring>

namespace quillory::quarnex {

std::vector<BYTE> MakeHeaderEntryId(ULONG number, std::string_view messageId, std::string_view group)
{
    std::vector<BYTE> out;
    out.reserve(4 + messageId.size() + 1 + group.size() + 1);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(number >> (8 * i)));
    out.insert(out.end(), messageId.begin(), messageId.end());
    out.push_back(0);
    out.insert(out.end(), group.begin(), group.end());
    out.push_back(0);
    return out;
}

bool ReadHeaderEntryIdNumber(std::span<const BYTE> bytes, ULONG& number)
{
    if (bytes.size() < 4) return false;
    number = static_cast<ULONG>(bytes[0]) | static_cast<ULONG>(bytes[1]) << 8 | static_cast<ULONG>(bytes[2]) << 16 |
             static_cast<ULONG>(bytes[3]) << 24;
    return true;
}

bool ParseHeaderEntryId(std::span<const BYTE> bytes, HeaderEntryId& out)
{
    if (bytes.size() < 5 || !ReadHeaderEntryIdNumber(bytes, out.number)) return false;
    const auto rest = bytes.subspan(4);
    const auto idEnd = std::find(rest.begin(), rest.end(), BYTE{0});
    if (idEnd == rest.end()) return false;
    out.messageId.assign(reinterpret_cast<const char*>(rest.data()), static_cast<std::size_t>(idEnd - rest.begin()));
    const auto groupBegin = idEnd + 1;
    const auto groupEnd = std::find(groupBegin, rest.end(), BYTE{0});
    out.group.assign(reinterpret_cast<const char*>(rest.data()) + (groupBegin - rest.begin()),
                     static_cast<std::size_t>(groupEnd - groupBegin));
    return true;
}

}  // namespace quillory::quarnex
