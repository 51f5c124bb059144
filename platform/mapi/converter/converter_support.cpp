#include <mutex>

#include "platform/base/module.h"
#include "platform/base/trace.h"
#include "platform/com/classfactory.h"
#include "platform/mapi/converter/converter_internal.h"

#include <gmime/gmime.h>

namespace quillory::converter {
namespace {

// The news component, loaded on first use and kept for the process.
struct NewsComponent {
    IMimeInternational* international = nullptr;
    PFNMIMEOLEINETDATETOFILETIME inetDate = nullptr;
};

const NewsComponent& Component()
{
    static NewsComponent component;
    static std::once_flag once;
    std::call_once(once, [] {
        HMODULE module = LoadLibrary("inetcomm.dll");
        if (!module) {
            Trace("MIME converter -- inetcomm.dll: %s\n", LastModuleError().c_str());
            return;
        }
        auto getInternat = reinterpret_cast<PFNMIMEOLEGETINTERNAT>(GetProcAddress(module, "MimeOleGetInternat"));
        component.inetDate =
            reinterpret_cast<PFNMIMEOLEINETDATETOFILETIME>(GetProcAddress(module, "MimeOleInetDateToFileTime"));
        if (!getInternat || FAILED(getInternat(&component.international))) component.international = nullptr;
    });
    return component;
}

// Converts between two code pages found by charset name; the text itself when
// either is unknown or the component is missing.
std::string Convert(std::string_view bytes, std::string_view fromCharset, std::string_view toCharset)
{
    IMimeInternational* intl = Component().international;
    if (!intl || bytes.empty()) return std::string(bytes);
    auto codePageOf = [intl](std::string_view name) -> std::optional<CODEPAGEID> {
        if (name.empty()) return CP_ACP;
        HCHARSET h = nullptr;
        INETCSETINFO info{};
        if (FAILED(intl->FindCharset(std::string(name).c_str(), &h)) || FAILED(intl->GetCharsetInfo(h, &info)))
            return std::nullopt;
        return info.cpiInternet;
    };
    const auto from = codePageOf(fromCharset);
    const auto to = codePageOf(toCharset);
    if (!from || !to) {
        Trace("MIME converter -- unknown character set, text kept as it is\n");
        return std::string(bytes);
    }
    if (*from == *to) return std::string(bytes);
    BLOB in{static_cast<ULONG>(bytes.size()), reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
    BLOB out{};
    if (FAILED(intl->ConvertBuffer(*from, *to, &in, &out, nullptr))) return std::string(bytes);
    std::string result(reinterpret_cast<const char*>(out.pBlobData), out.cbSize);
    CoTaskMemFree(out.pBlobData);
    return result;
}

}  // namespace

// An empty name stands for the system code page in Convert.
std::string ToSystem(std::string_view bytes, std::string_view charset)
{
    if (charset.empty()) return std::string(bytes);
    return Convert(bytes, charset, {});
}

std::string FromSystem(std::string_view text, std::string_view charset)
{
    if (charset.empty()) return std::string(text);
    return Convert(text, {}, charset);
}

std::string CharsetNameOf(HCHARSET handle)
{
    IMimeInternational* intl = Component().international;
    INETCSETINFO info{};
    if (!intl || !handle || FAILED(intl->GetCharsetInfo(handle, &info))) return {};
    return info.szName;
}

std::optional<CODEPAGEID> CodePageOf(std::string_view charset)
{
    IMimeInternational* intl = Component().international;
    HCHARSET h = nullptr;
    INETCSETINFO info{};
    if (!intl || FAILED(intl->FindCharset(std::string(charset).c_str(), &h)) || FAILED(intl->GetCharsetInfo(h, &info)))
        return std::nullopt;
    return info.cpiInternet;
}

std::string CharsetOfCodePage(CODEPAGEID codePage)
{
    IMimeInternational* intl = Component().international;
    HCHARSET h = nullptr;
    if (!intl || FAILED(intl->GetCodePageCharset(codePage, CHARSET_BODY, &h))) return {};
    return CharsetNameOf(h);
}

std::optional<FILETIME> ParseInternetDate(const char* text)
{
    FILETIME ft{};
    const auto parse = Component().inetDate;
    if (!parse || !text || FAILED(parse(text, &ft))) return std::nullopt;
    return ft;
}

// GMime is set up by the news component, so that one once-guard in the
// process calls g_mime_init (which two threads must not enter together):
// encoding an empty text makes the component set it up. Only without the
// component does the converter set it up itself.
void EnsureGMime()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (IMimeInternational* intl = Component().international) {
            LPSTR encoded = nullptr;
            if (SUCCEEDED(intl->Rfc1522Encode("", nullptr, &encoded))) {
                CoTaskMemFree(encoded);
                return;
            }
        }
        g_mime_init();
    });
}

std::string ToCrLf(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string ToLf(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out.push_back(text[i]);
    }
    return out;
}

bool IsAscii(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

std::string Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace quillory::converter
