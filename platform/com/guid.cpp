#include "platform/com/guid.h"

#include <cstdio>
#include <random>

namespace quillory {
namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads `digits` hex digits at text[pos].
std::optional<std::uint64_t> ReadHex(std::string_view text, std::size_t pos, int digits)
{
    std::uint64_t v = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = HexDigit(text[pos + static_cast<std::size_t>(i)]);
        if (d < 0) return std::nullopt;
        v = (v << 4) | static_cast<std::uint64_t>(d);
    }
    return v;
}

}  // namespace

std::string GuidToString(REFGUID g)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::optional<GUID> ParseGuid(std::string_view text)
{
    if (text.size() == 38) {
        if (text.front() != '{' || text.back() != '}') return std::nullopt;
        text = text.substr(1, 36);
    }
    if (text.size() != 36) return std::nullopt;
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return std::nullopt;
    GUID g{};
    auto d1 = ReadHex(text, 0, 8), d2 = ReadHex(text, 9, 4), d3 = ReadHex(text, 14, 4);
    if (!d1 || !d2 || !d3) return std::nullopt;
    g.Data1 = static_cast<DWORD>(*d1);
    g.Data2 = static_cast<WORD>(*d2);
    g.Data3 = static_cast<WORD>(*d3);
    static constexpr std::size_t kBytePos[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (int i = 0; i < 8; ++i) {
        auto b = ReadHex(text, kBytePos[i], 2);
        if (!b) return std::nullopt;
        g.Data4[i] = static_cast<BYTE>(*b);
    }
    return g;
}

}  // namespace quillory

int StringFromGUID2(REFGUID rguid, char* lpsz, int cchMax)
{
    const std::string s = quillory::GuidToString(rguid);
    if (!lpsz || cchMax < static_cast<int>(s.size()) + 1) return 0;
    std::memcpy(lpsz, s.c_str(), s.size() + 1);
    return static_cast<int>(s.size()) + 1;
}

HRESULT CLSIDFromString(const char* lpsz, CLSID* pclsid)
{
    if (!pclsid) return E_INVALIDARG;
    if (!lpsz) {
        *pclsid = GUID_NULL;
        return S_OK;
    }
    std::string_view text(lpsz);
    if (text.size() != 38) return CO_E_CLASSSTRING;
    auto g = quillory::ParseGuid(text);
    if (!g) return CO_E_CLASSSTRING;
    *pclsid = *g;
    return S_OK;
}

HRESULT IIDFromString(const char* lpsz, IID* lpiid) { return CLSIDFromString(lpsz, lpiid); }

HRESULT CoCreateGuid(GUID* pguid)
{
    if (!pguid) return E_INVALIDARG;
    static thread_local std::random_device device;
    BYTE bytes[16];
    for (int i = 0; i < 16; i += 4) {
        const unsigned v = device();
        std::memcpy(bytes + i, &v, 4);
    }
    bytes[7] = static_cast<BYTE>((bytes[7] & 0x0F) | 0x40);  // version 4 (Data3's high nibble)
    bytes[8] = static_cast<BYTE>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    std::memcpy(pguid, bytes, sizeof(GUID));
    return S_OK;
}
