#include "platform/mapi/converter/mime_writer.h"

#include <algorithm>
#include <array>
#include <memory>
#include <atomic>
#include <cstdio>
#include <random>

#include "platform/base/time.h"
#include "platform/mapi/converter/converter_internal.h"

#include <gmime/gmime.h>

namespace quillory::converter {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr std::size_t kQpLine = 76;

struct GFree {
    void operator()(char* p) const { g_free(p); }
};

std::string Random64Hex()
{
    static std::atomic<unsigned> counter{0};
    thread_local std::mt19937_64 rng{std::random_device{}()};
    char buf[40];
    std::snprintf(buf, sizeof(buf), "%016llx%04x", static_cast<unsigned long long>(rng()), counter++ & 0xFFFF);
    return buf;
}

bool HasSpecials(std::string_view s)
{
    for (char c : s)
        if (std::string_view("()<>[]:;@\\,.\"").find(c) != std::string_view::npos) return true;
    return false;
}

}  // namespace

std::string EncodeQuotedPrintable(std::string_view text)
{
    std::string out;
    std::string line;  // the encoded current line
    auto flushSoft = [&] {
        out += line;
        out += "=\r\n";
        line.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            // Blanks before a line end must be encoded, or transports strip them.
            if (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
                const char b = line.back();
                line.pop_back();
                std::string enc = {'=', kHex[static_cast<unsigned char>(b) >> 4], kHex[b & 0xF]};
                if (line.size() + enc.size() > kQpLine - 1) flushSoft();
                line += enc;
            }
            out += line;
            out += "\r\n";
            line.clear();
            ++i;
            continue;
        }
        std::string enc;
        if ((c >= 33 && c <= 126 && c != '=') || c == ' ' || c == '\t') {
            enc.push_back(static_cast<char>(c));
            // A line starting with "." is encoded: some transports treat it specially.
            if (line.empty() && c == '.') enc = "=2E";
        } else {
            enc = {'=', kHex[c >> 4], kHex[c & 0xF]};
        }
        if (line.size() + enc.size() > kQpLine - 1) flushSoft();
        line += enc;
    }
    if (!line.empty()) {
        if (line.back() == ' ' || line.back() == '\t') {
            const char b = line.back();
            line.pop_back();
            line += {'=', kHex[static_cast<unsigned char>(b) >> 4], kHex[b & 0xF]};
        }
        out += line;
    }
    return out;
}

std::string EncodeBase64(std::string_view bytes)
{
    std::unique_ptr<char, GFree> encoded(g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size()));
    const std::string_view all(encoded.get());
    std::string out;
    for (std::size_t pos = 0; pos < all.size(); pos += 76) {
        out += all.substr(pos, 76);
        out += "\r\n";
    }
    return out;
}

std::size_t LongestLine(std::string_view text)
{
    std::size_t longest = 0, current = 0;
    for (char c : text) {
        if (c == '\n') {
            longest = std::max(longest, current);
            current = 0;
        } else if (c != '\r') {
            ++current;
        }
    }
    return std::max(longest, current);
}

bool Is7BitSafe(std::string_view text)
{
    for (char c : text)
        if (c == '\0' || static_cast<unsigned char>(c) >= 0x80) return false;
    return LongestLine(text) <= 998;
}

std::string WrapText(std::string_view text, std::size_t width)
{
    if (width == 0) return std::string(text);
    std::string out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find("\r\n", pos);
        const bool last = end == std::string_view::npos;
        std::string_view line = text.substr(pos, last ? std::string_view::npos : end - pos);
        while (line.size() > width) {
            std::size_t cut = line.rfind(' ', width);
            if (cut == std::string_view::npos || cut == 0) {
                cut = line.find(' ', width);  // a long word stays whole
                if (cut == std::string_view::npos) break;
            }
            out.append(line.substr(0, cut));
            out += "\r\n";
            line.remove_prefix(cut + 1);
        }
        out.append(line);
        if (last) break;
        out += "\r\n";
        pos = end + 2;
    }
    return out;
}

std::string HeaderText(std::string_view text, std::string_view charset, bool eightBit)
{
    if (IsAscii(text)) return std::string(text);
    if (eightBit) return FromSystem(text, charset);
    const std::string utf8 = SystemToUtf8(text);
    const std::string cs(charset);
    std::unique_ptr<char, GFree> encoded(g_mime_utils_header_encode_text(nullptr, utf8.c_str(), cs.empty() ? nullptr : cs.c_str()));
    return encoded ? encoded.get() : std::string(text);
}

std::string HeaderPhrase(std::string_view name, std::string_view charset, bool eightBit)
{
    if (!IsAscii(name) && !eightBit) {
        const std::string utf8 = SystemToUtf8(name);
        const std::string cs(charset);
        std::unique_ptr<char, GFree> encoded(g_mime_utils_header_encode_phrase(nullptr, utf8.c_str(), cs.empty() ? nullptr : cs.c_str()));
        if (encoded) return encoded.get();
    }
    std::string value = eightBit ? FromSystem(name, charset) : std::string(name);
    if (!HasSpecials(value)) return value;
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\') quoted.push_back('\\');
        quoted.push_back(c);
    }
    return quoted + "\"";
}

std::string OneLine(std::string_view text)
{
    std::string out(text);
    for (auto& c : out)
        if (c == '\r' || c == '\n') c = ' ';
    return out;
}

std::string FoldedHeader(std::string_view name, std::string_view rawValue)
{
    const std::string line = OneLine(rawValue);
    const std::string_view value = line;
    std::string out(name);
    out += ":";
    std::size_t lineLength = out.size();
    std::size_t pos = 0;
    bool first = true;
    while (pos < value.size()) {
        std::size_t next = value.find(' ', pos);
        if (next == std::string_view::npos) next = value.size();
        const std::string_view word = value.substr(pos, next - pos);
        if (!first && lineLength + 1 + word.size() > 78) {
            out += "\r\n";
            lineLength = 0;
        }
        out += ' ';
        out += word;
        lineLength += 1 + word.size();
        first = false;
        pos = next + 1;
    }
    return out + "\r\n";
}

std::string FormatInternetDate(const FILETIME& utc)
{
    static constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    SYSTEMTIME st{};
    if (!FileTimeToSystemTime(&utc, &st)) GetSystemTime(&st);
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%s, %02u %s %04u %02u:%02u:%02u +0000", kDays[st.wDayOfWeek % 7], st.wDay,
                  kMonths[(st.wMonth + 11) % 12], st.wYear, st.wHour, st.wMinute, st.wSecond);
    return buf;
}

std::string NewBoundary() { return "----=_Quillory_" + Random64Hex(); }

std::string NewMessageId(std::string_view domain)
{
    return "<" + Random64Hex() + "@" + std::string(domain.empty() ? "quillory.invalid" : domain) + ">";
}

}  // namespace quillory::converter
