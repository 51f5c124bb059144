#include "platform/inetcomm/mime/charsets.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quillory::mime {
namespace {

// The system code page comes first: CP_ACP and the default set resolve to it.
constexpr std::array kCharsets = {
    CharsetEntry{"windows-1252", 1252, "WINDOWS-1252", "cp1252|x-cp1252|ms-ansi"},
    CharsetEntry{"us-ascii", 20127, "ASCII", "ascii|ansi_x3.4-1968|iso646-us|us|iso-ir-6"},
    CharsetEntry{"utf-8", 65001, "UTF-8", "utf8|unicode-1-1-utf-8"},
    CharsetEntry{"utf-7", 65000, "UTF-7", "utf7|unicode-1-1-utf-7"},
    CharsetEntry{"iso-8859-1", 28591, "ISO-8859-1", "latin1|l1|iso_8859-1|iso8859-1|iso-ir-100|cp819"},
    CharsetEntry{"iso-8859-2", 28592, "ISO-8859-2", "latin2|l2|iso_8859-2|iso8859-2"},
    CharsetEntry{"iso-8859-3", 28593, "ISO-8859-3", "latin3|l3|iso_8859-3|iso8859-3"},
    CharsetEntry{"iso-8859-4", 28594, "ISO-8859-4", "latin4|l4|iso_8859-4|iso8859-4"},
    CharsetEntry{"iso-8859-5", 28595, "ISO-8859-5", "cyrillic|iso_8859-5|iso8859-5"},
    CharsetEntry{"iso-8859-6", 28596, "ISO-8859-6", "arabic|iso_8859-6|iso8859-6"},
    CharsetEntry{"iso-8859-7", 28597, "ISO-8859-7", "greek|iso_8859-7|iso8859-7"},
    CharsetEntry{"iso-8859-8", 28598, "ISO-8859-8", "hebrew|iso_8859-8|iso8859-8"},
    CharsetEntry{"iso-8859-9", 28599, "ISO-8859-9", "latin5|l5|iso_8859-9|iso8859-9"},
    CharsetEntry{"iso-8859-13", 28603, "ISO-8859-13", "iso_8859-13|iso8859-13"},
    CharsetEntry{"iso-8859-15", 28605, "ISO-8859-15", "latin-9|latin9|iso_8859-15|iso8859-15"},
    CharsetEntry{"windows-1250", 1250, "WINDOWS-1250", "cp1250|x-cp1250"},
    CharsetEntry{"windows-1251", 1251, "WINDOWS-1251", "cp1251|x-cp1251"},
    CharsetEntry{"windows-1253", 1253, "WINDOWS-1253", "cp1253|x-cp1253"},
    CharsetEntry{"windows-1254", 1254, "WINDOWS-1254", "cp1254|x-cp1254"},
    CharsetEntry{"windows-1255", 1255, "WINDOWS-1255", "cp1255|x-cp1255"},
    CharsetEntry{"windows-1256", 1256, "WINDOWS-1256", "cp1256|x-cp1256"},
    CharsetEntry{"windows-1257", 1257, "WINDOWS-1257", "cp1257|x-cp1257"},
    CharsetEntry{"windows-1258", 1258, "WINDOWS-1258", "cp1258|x-cp1258"},
    CharsetEntry{"koi8-r", 20866, "KOI8-R", "koi8|cskoi8r"},
    CharsetEntry{"koi8-u", 21866, "KOI8-U", "koi8-ru"},
    CharsetEntry{"ibm866", 866, "CP866", "cp866|866"},
    CharsetEntry{"ibm437", 437, "CP437", "cp437|437"},
    CharsetEntry{"shift_jis", 932, "CP932", "sjis|x-sjis|ms_kanji|csshiftjis|windows-31j"},
    CharsetEntry{"euc-jp", 51932, "EUC-JP", "x-euc-jp|cseucpkdfmtjapanese"},
    CharsetEntry{"iso-2022-jp", 50220, "ISO-2022-JP", "csiso2022jp"},
    CharsetEntry{"gb2312", 936, "GBK", "gbk|cp936|x-gbk|euc-cn|csgb2312"},
    CharsetEntry{"gb18030", 54936, "GB18030", ""},
    CharsetEntry{"big5", 950, "BIG5", "cp950|x-x-big5|csbig5"},
    CharsetEntry{"euc-kr", 949, "CP949", "ks_c_5601-1987|cp949|ks_c_5601|korean|cseuckr"},
};

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (std::tolower(ca) != std::tolower(cb)) return false;
    }
    return true;
}

bool HasAlias(std::string_view aliases, std::string_view name)
{
    while (!aliases.empty()) {
        const auto bar = aliases.find('|');
        if (EqualNoCase(aliases.substr(0, bar), name)) return true;
        if (bar == std::string_view::npos) break;
        aliases.remove_prefix(bar + 1);
    }
    return false;
}

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (ok()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// Decodes into code points; bytes that do not decode are skipped.
bool ToCodePoints(std::string_view input, const char* from, std::vector<char32_t>& out, bool& replaced)
{
    Iconv cd("UTF-32LE", from);
    if (!cd.ok()) return false;
    std::vector<char> buffer(input.size() * 4 + 16);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    for (;;) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t rc = iconv(cd.get(), inLeft ? &in : nullptr, &inLeft, &outPtr, &outLeft);
        const std::size_t produced = buffer.size() - outLeft;
        for (std::size_t i = 0; i + 4 <= produced; i += 4) {
            const auto* b = reinterpret_cast<const unsigned char*>(buffer.data() + i);
            out.push_back(static_cast<char32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24)));
        }
        if (rc != static_cast<std::size_t>(-1)) {
            if (inLeft == 0) break;
            continue;
        }
        if (errno == E2BIG) continue;
        // EILSEQ or a truncated sequence at the end: drop one byte and go on.
        replaced = true;
        if (inLeft == 0) break;
        ++in;
        --inLeft;
        if (inLeft == 0) break;
    }
    return true;
}

}  // namespace

const CharsetEntry* FindCharsetByName(std::string_view name)
{
    while (!name.empty() && (name.front() == ' ' || name.front() == '"')) name.remove_prefix(1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '"')) name.remove_suffix(1);
    if (name.empty()) return nullptr;
    for (const auto& e : kCharsets)
        if (EqualNoCase(e.name, name) || HasAlias(e.aliases, name)) return &e;
    return nullptr;
}

const CharsetEntry* FindCharsetByCodePage(CODEPAGEID codePage)
{
    if (codePage == CP_ACP) return &SystemCharset();
    for (const auto& e : kCharsets)
        if (e.codePage == codePage) return &e;
    return nullptr;
}

HCHARSET HandleOf(const CharsetEntry* entry)
{
    return reinterpret_cast<HCHARSET>(const_cast<CharsetEntry*>(entry));
}

const CharsetEntry* EntryOf(HCHARSET handle)
{
    for (const auto& e : kCharsets)
        if (HandleOf(&e) == handle) return &e;
    return nullptr;
}

const CharsetEntry& SystemCharset() { return kCharsets.front(); }

// The whole text in one go; empty when any character fails to convert.
static std::optional<std::string> ConvertExactly(std::string_view input, const char* fromIconv, const char* toIconv)
{
    Iconv cd(toIconv, fromIconv);
    if (!cd.ok()) return std::nullopt;
    std::string out(input.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    if (iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0)
        return std::nullopt;
    if (iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

std::optional<Converted> ConvertText(std::string_view input, const char* fromIconv, const char* toIconv)
{
    Converted result;
    if (auto exact = ConvertExactly(input, fromIconv, toIconv)) {
        result.text = std::move(*exact);
        return result;
    }
    std::vector<char32_t> points;
    if (!ToCodePoints(input, fromIconv, points, result.replaced)) return std::nullopt;
    Iconv cd(toIconv, "UTF-32LE");
    if (!cd.ok()) return std::nullopt;
    result.text.reserve(points.size());
    char out[32];
    for (char32_t cp : points) {
        unsigned char in[4] = {static_cast<unsigned char>(cp), static_cast<unsigned char>(cp >> 8),
                               static_cast<unsigned char>(cp >> 16), static_cast<unsigned char>(cp >> 24)};
        char* inPtr = reinterpret_cast<char*>(in);
        std::size_t inLeft = 4;
        char* outPtr = out;
        std::size_t outLeft = sizeof(out);
        if (iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
            result.replaced = true;
            result.text.push_back('?');
            iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);  // reset any shift state
            continue;
        }
        result.text.append(out, static_cast<std::size_t>(outPtr - out));
    }
    // Stateful targets (ISO-2022-JP) end in their initial state.
    char* outPtr = out;
    std::size_t outLeft = sizeof(out);
    if (iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1))
        result.text.append(out, static_cast<std::size_t>(outPtr - out));
    return result;
}

std::string Utf8ToSystem(std::string_view utf8)
{
    auto r = ConvertText(utf8, "UTF-8", SystemCharset().iconvName);
    return r ? std::move(r->text) : std::string(utf8);
}

std::string SystemToUtf8(std::string_view text)
{
    auto r = ConvertText(text, SystemCharset().iconvName, "UTF-8");
    return r ? std::move(r->text) : std::string(text);
}

}  // namespace quillory::mime
