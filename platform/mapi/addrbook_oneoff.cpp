// One-off entry IDs and the resolution of typed names to one-off entries.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/mapi/addrbook.h"

namespace quillory {

namespace {

constexpr std::size_t kHeaderSize = 4 + sizeof(MAPI_ONE_OFF_UID) + 2 + 2;
constexpr std::string_view kSmtp = "SMTP";

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

// Reads a NUL-terminated string of 8-bit or 16-bit units from bytes at pos.
std::optional<std::string> ReadString(std::span<const BYTE> bytes, std::size_t& pos, bool wide)
{
    std::string out;
    const std::size_t unit = wide ? 2 : 1;
    while (pos + unit <= bytes.size()) {
        const unsigned c = wide ? (bytes[pos] | (bytes[pos + 1] << 8)) : bytes[pos];
        pos += unit;
        if (c == 0) return out;
        out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    }
    return std::nullopt;  // no terminator before the end
}

bool HasSpaceOrControl(std::string_view s)
{
    return std::any_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7F;
    });
}

}  // namespace

std::vector<BYTE> MakeOneOffEntryId(const OneOffEntry& entry)
{
    std::vector<BYTE> id(4, 0);
    id.insert(id.end(), std::begin(MAPI_ONE_OFF_UID), std::end(MAPI_ONE_OFF_UID));
    const ULONG flags = entry.flags & ~MAPI_ONE_OFF_UNICODE;  // the strings written are 8-bit
    // Version word 0, then the flags word (byte by byte: GCC 12 misjudges an
    // initializer-list insert here as out of bounds).
    id.push_back(0);
    id.push_back(0);
    id.push_back(static_cast<BYTE>(flags & 0xFF));
    id.push_back(static_cast<BYTE>((flags >> 8) & 0xFF));
    for (const std::string* s : {&entry.displayName, &entry.addressType, &entry.address}) {
        id.insert(id.end(), s->begin(), s->end());
        id.push_back(0);
    }
    return id;
}

std::optional<OneOffEntry> ParseOneOffEntryId(std::span<const BYTE> bytes)
{
    if (bytes.size() < kHeaderSize + 3) return std::nullopt;
    if (bytes[0] || bytes[1] || bytes[2] || bytes[3]) return std::nullopt;
    if (std::memcmp(bytes.data() + 4, MAPI_ONE_OFF_UID, sizeof MAPI_ONE_OFF_UID) != 0) return std::nullopt;
    if (bytes[20] || bytes[21]) return std::nullopt;  // version 0 only
    OneOffEntry entry;
    entry.flags = bytes[22] | (bytes[23] << 8);
    const bool wide = (entry.flags & MAPI_ONE_OFF_UNICODE) != 0;
    std::size_t pos = kHeaderSize;
    auto name = ReadString(bytes, pos, wide);
    auto type = name ? ReadString(bytes, pos, wide) : std::nullopt;
    auto address = type ? ReadString(bytes, pos, wide) : std::nullopt;
    if (!address || type->empty()) return std::nullopt;
    // Padding after the address may only be zeros.
    if (std::any_of(bytes.begin() + static_cast<std::ptrdiff_t>(pos), bytes.end(), [](BYTE b) { return b != 0; }))
        return std::nullopt;
    entry.displayName = std::move(*name);
    entry.addressType = std::move(*type);
    entry.address = std::move(*address);
    return entry;
}

std::optional<OneOffEntry> ParseOneOffEntryId(ULONG cb, const ENTRYID* lpEntryID)
{
    if (!lpEntryID) return std::nullopt;
    return ParseOneOffEntryId(std::span<const BYTE>(reinterpret_cast<const BYTE*>(lpEntryID), cb));
}

bool IsSmtpAddress(std::string_view text)
{
    const std::size_t at = text.find('@');
    if (at == std::string_view::npos || at == 0 || at + 1 >= text.size()) return false;
    if (text.find('@', at + 1) != std::string_view::npos) return false;
    if (HasSpaceOrControl(text) || text.find_first_of("<>,;\"()[]\\") != std::string_view::npos) return false;
    const std::string_view domain = text.substr(at + 1);
    return domain.front() != '.' && domain.back() != '.' && domain.find("..") == std::string_view::npos &&
           domain.find(':') == std::string_view::npos;
}

HRESULT ResolveOneOffName(std::string_view text, OneOffEntry* out)
{
    text = Trim(text);
    if (text.empty()) return MAPI_E_NOT_FOUND;

    // "[TYPE:address]" names the address type itself.
    if (text.front() == '[' && text.back() == ']') {
        const std::string_view inner = Trim(text.substr(1, text.size() - 2));
        const std::size_t colon = inner.find(':');
        if (colon == std::string_view::npos || colon == 0) return MAPI_E_NOT_FOUND;
        const std::string_view type = Trim(inner.substr(0, colon));
        const std::string_view address = Trim(inner.substr(colon + 1));
        if (address.empty() || HasSpaceOrControl(type)) return MAPI_E_NOT_FOUND;
        if (EqualNoCase(type, kSmtp) && !IsSmtpAddress(address)) return MAPI_E_NOT_FOUND;
        *out = OneOffEntry{std::string(address), std::string(type), std::string(address), 0};
        return S_OK;
    }

    // Several addresses in one name cannot become one recipient.
    const std::size_t ats = static_cast<std::size_t>(std::count(text.begin(), text.end(), '@'));
    if (ats > 1 && text.find_first_of(",;") != std::string_view::npos) return MAPI_E_AMBIGUOUS_RECIP;

    std::string name;
    std::string_view address = text;
    if (text.back() == '>') {
        const std::size_t open = text.rfind('<');
        if (open == std::string_view::npos) return MAPI_E_NOT_FOUND;
        address = Trim(text.substr(open + 1, text.size() - open - 2));
        std::string_view shown = Trim(text.substr(0, open));
        if (shown.size() >= 2 && shown.front() == '"' && shown.back() == '"') shown = shown.substr(1, shown.size() - 2);
        name = std::string(Trim(shown));
    }
    if (address.size() > kSmtp.size() && EqualNoCase(address.substr(0, kSmtp.size()), kSmtp) &&
        address[kSmtp.size()] == ':')
        address = Trim(address.substr(kSmtp.size() + 1));
    if (!IsSmtpAddress(address)) return ats > 1 ? MAPI_E_AMBIGUOUS_RECIP : MAPI_E_NOT_FOUND;
    if (name.empty()) name = address;
    *out = OneOffEntry{std::move(name), std::string(kSmtp), std::string(address), 0};
    return S_OK;
}

}  // namespace quillory
