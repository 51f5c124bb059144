// Value rendering of `quillory store`.
#include "host/store_format.h"

#include <cinttypes>
#include <cstdio>

#include "host/store_tags.h"
#include "platform/base/time.h"
#include "platform/com/guid.h"
#include "platform/mapi/mapiutil.h"

namespace quillory::host {
namespace {

// Length of the well-formed UTF-8 sequence at the start of s (0: none).
std::size_t Utf8Sequence(std::string_view s, char32_t* cp)
{
    const auto b0 = static_cast<unsigned char>(s[0]);
    std::size_t n = 0;
    char32_t v = 0, min = 0;
    if (b0 < 0x80) {
        *cp = b0;
        return 1;
    }
    if ((b0 & 0xE0) == 0xC0) {
        n = 2, v = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3, v = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4, v = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80) return 0;
        v = (v << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not text.
    if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return n;
}

void AppendByteEscape(std::string& out, unsigned char b)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", b);
    out += buf;
}

std::string BinaryText(const SBinary& bin, ValueStyle style)
{
    const std::size_t shown = std::min<std::size_t>(bin.cb, kBinaryShownBytes);
    std::string text = quillory::BinToHex({bin.lpb, shown});
    const bool cut = shown < bin.cb;
    if (cut) text += "...";
    if (style == ValueStyle::Detail || cut) text += (text.empty() ? "(" : " (") + std::to_string(bin.cb) + " bytes)";
    return text;
}

std::string StringText(const char* s, ValueStyle style)
{
    if (!s) return "(null)";
    return style == ValueStyle::Detail ? "\"" + EscapeText(s, true) + "\"" : EscapeText(s);
}

std::string LongText(LONG l, ValueStyle style)
{
    std::string text = std::to_string(l);
    if (style == ValueStyle::Detail) {
        char buf[16];
        std::snprintf(buf, sizeof buf, " (0x%08X)", static_cast<unsigned>(l));
        text += buf;
    }
    return text;
}

std::string DoubleText(double d)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", d);
    return buf;
}

template <class Element, class Render>
std::string ListText(ULONG count, const Element* items, Render render)
{
    std::string text = "[";
    for (ULONG i = 0; i < count; ++i) {
        if (i) text += ", ";
        text += render(items[i]);
    }
    return text + "]";
}

}  // namespace

std::string EscapeText(std::string_view text, bool quote)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        char32_t cp = 0;
        const std::size_t n = Utf8Sequence(text, &cp);
        if (n == 0) {
            AppendByteEscape(out, static_cast<unsigned char>(text[0]));
            text.remove_prefix(1);
            continue;
        }
        switch (cp) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '"': out += quote ? "\\\"" : "\""; break;
        default:
            if (cp < 0x20 || cp == 0x7F) {
                AppendByteEscape(out, static_cast<unsigned char>(cp));
            } else if (cp >= 0x80 && cp <= 0x9F) {
                char buf[12];
                std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(cp));
                out += buf;
            } else {
                out.append(text.substr(0, n));
            }
        }
        text.remove_prefix(n);
    }
    return out;
}

std::string FormatFileTime(const FILETIME& ft)
{
    SYSTEMTIME st{};
    if (!FileTimeToSystemTime(&ft, &st)) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "(time out of range: 0x%08X%08X)", static_cast<unsigned>(ft.dwHighDateTime),
                      static_cast<unsigned>(ft.dwLowDateTime));
        return buf;
    }
    char buf[64];  // room for any WORD values, so that nothing is cut
    if (st.wMilliseconds)
        std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", st.wYear, st.wMonth, st.wDay, st.wHour,
                      st.wMinute, st.wSecond, st.wMilliseconds);
    else
        std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02uZ", st.wYear, st.wMonth, st.wDay, st.wHour,
                      st.wMinute, st.wSecond);
    return buf;
}

std::string FormatValue(const SPropValue& v, ValueStyle style)
{
    const PV& x = v.Value;
    switch (PROP_TYPE(v.ulPropTag)) {
    case PT_NULL: return "null";
    case PT_I2: return std::to_string(x.i);
    case PT_LONG: return LongText(x.l, style);
    case PT_R4: return DoubleText(x.flt);
    case PT_DOUBLE:
    case PT_APPTIME: return DoubleText(x.dbl);
    case PT_CURRENCY: {
        // Fixed point with four decimals.
        const std::int64_t units = x.cur.int64;
        const std::uint64_t mag = units < 0 ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
        char buf[40];
        std::snprintf(buf, sizeof buf, "%s%" PRIu64 ".%04" PRIu64, units < 0 ? "-" : "", mag / 10000, mag % 10000);
        return buf;
    }
    case PT_ERROR:
        if (style == ValueStyle::Cell && x.err == MAPI_E_NOT_FOUND) return "";
        return "error " + ScodeText(x.err);
    case PT_BOOLEAN: return x.b ? "true" : "false";
    case PT_OBJECT: return "(object)";
    case PT_I8: return std::to_string(x.li.QuadPart);
    case PT_STRING8: return StringText(x.lpszA, style);
    case PT_SYSTIME: return FormatFileTime(x.ft);
    case PT_CLSID: return x.lpguid ? quillory::GuidToString(*x.lpguid) : "(null)";
    case PT_BINARY: return BinaryText(x.bin, style);
    case PT_MV_I2: return ListText(x.MVi.cValues, x.MVi.lpi, [](short i) { return std::to_string(i); });
    case PT_MV_LONG: return ListText(x.MVl.cValues, x.MVl.lpl, [style](LONG l) { return LongText(l, style); });
    case PT_MV_STRING8:
        return ListText(x.MVszA.cValues, x.MVszA.lppszA,
                        [](const char* s) { return StringText(s, ValueStyle::Detail); });
    case PT_MV_BINARY:
        return ListText(x.MVbin.cValues, x.MVbin.lpbin, [style](const SBinary& b) { return BinaryText(b, style); });
    default: return "(a value of type " + PropTypeName(PROP_TYPE(v.ulPropTag)) + ")";
    }
}

}  // namespace quillory::host
