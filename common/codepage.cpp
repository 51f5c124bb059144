#include "common/codepage.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <utility>

namespace quillory {
namespace {

struct CharsetCodePage {
    std::uint32_t charset;
    unsigned codePage;
};

// LOGFONT lfCharSet values and the ANSI code page of each.
constexpr std::array<CharsetCodePage, 16> kCharsets = {{
    {0, 1252},    // ANSI_CHARSET
    {1, 1252},    // DEFAULT_CHARSET, as the shipped German table uses it
    {128, 932},   // SHIFTJIS_CHARSET
    {129, 949},   // HANGUL_CHARSET
    {130, 1361},  // JOHAB_CHARSET
    {134, 936},   // GB2312_CHARSET
    {136, 950},   // CHINESEBIG5_CHARSET
    {161, 1253},  // GREEK_CHARSET
    {162, 1254},  // TURKISH_CHARSET
    {163, 1258},  // VIETNAMESE_CHARSET
    {177, 1255},  // HEBREW_CHARSET
    {178, 1256},  // ARABIC_CHARSET
    {186, 1257},  // BALTIC_CHARSET
    {204, 1251},  // RUSSIAN_CHARSET
    {222, 874},   // THAI_CHARSET
    {238, 1250},  // EASTEUROPE_CHARSET
}};

std::string IconvName(unsigned codePage) { return "CP" + std::to_string(codePage); }

// One iconv descriptor for the length of a conversion.
class Converter {
public:
    Converter(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
    ~Converter()
    {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as it can; stops at the first byte it cannot take
    // (EILSEQ/EINVAL), leaving `in` there. False only for other failures.
    bool Run(std::string_view& in, std::string& out)
    {
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        std::array<char, 512> buffer{};
        while (srcLeft > 0) {
            char* dst = buffer.data();
            std::size_t dstLeft = buffer.size();
            const std::size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buffer.data(), buffer.size() - dstLeft);
            if (r != static_cast<std::size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            in = std::string_view(src, srcLeft);
            return errno == EILSEQ || errno == EINVAL;
        }
        in = {};
        return true;
    }

private:
    iconv_t cd_;
};

}  // namespace

unsigned CodePageOfCharset(std::uint32_t charset)
{
    for (const CharsetCodePage& c : kCharsets)
        if (c.charset == charset) return c.codePage;
    return 0;
}

std::optional<std::string> CodePageToUtf8(std::string_view text, unsigned codePage)
{
    if (codePage == 0) return std::nullopt;
    Converter conv("UTF-8", IconvName(codePage));
    if (!conv.ok()) return std::nullopt;
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        if (!conv.Run(text, out)) return std::nullopt;
        if (text.empty()) break;
        out += "\xEF\xBF\xBD";  // U+FFFD for the byte the code page leaves undefined
        text.remove_prefix(1);
    }
    return out;
}

std::optional<std::string> Utf8ToCodePage(std::string_view text, unsigned codePage)
{
    if (codePage == 0) return std::nullopt;
    Converter conv(IconvName(codePage), "UTF-8");
    if (!conv.ok()) return std::nullopt;
    std::string out;
    if (!conv.Run(text, out) || !text.empty()) return std::nullopt;
    return out;
}

std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes) return text;
    std::size_t n = maxBytes;
    // Step back over continuation bytes to the start of the cut character.
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return text.substr(0, n);
}

}  // namespace quillory
