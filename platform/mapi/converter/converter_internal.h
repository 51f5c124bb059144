// What the converter's parts share: its options, the news component's
// character-set and date services, and small text helpers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/converter/converter.h"

namespace quillory::converter {

struct Options {
    std::optional<ENCODINGTYPE> encoding;  // SetEncoding; unset: chosen per text
    bool wrap = false;
    ULONG wrapWidth = 76;
    MIMESAVETYPE saveFormat = SAVE_RFC1521;
    std::string charset;  // SetCharset's set by MIME name; empty: chosen per text
};

// Character sets, through the news component ("inetcomm.dll", loaded once).
// Without the component the text is kept as it is (and a trace says so).
std::string ToSystem(std::string_view bytes, std::string_view charset);
std::string FromSystem(std::string_view text, std::string_view charset);
inline std::string Utf8ToSystem(std::string_view utf8) { return ToSystem(utf8, "utf-8"); }
inline std::string SystemToUtf8(std::string_view text) { return FromSystem(text, "utf-8"); }
// The MIME name of a handle of the component's IMimeInternational; empty when none.
std::string CharsetNameOf(HCHARSET handle);
// The Internet code page of a set; empty when unknown.
std::optional<CODEPAGEID> CodePageOf(std::string_view charset);
// The MIME name of a code page's set; empty when unknown.
std::string CharsetOfCodePage(CODEPAGEID codePage);
// The component's date parser.
std::optional<FILETIME> ParseInternetDate(const char* text);

// g_mime_init, once per process.
void EnsureGMime();

// Line ends: every lone LF or CR becomes CR LF / every CR LF becomes LF.
std::string ToCrLf(std::string_view text);
std::string ToLf(std::string_view text);
bool IsAscii(std::string_view text);
std::string Trim(std::string_view text);

// The last element of a path, so that a name from an article never leads
// outside the directory an attachment is saved in; empty for "", "." and "..".
std::string SafeFileName(std::string_view name);

// uuencoded blocks ("begin <mode> <name>" ... "end") inside a text.
struct UuFile {
    std::string name;
    std::vector<BYTE> data;
};
// Takes every complete block out of text (lines and all) and returns them.
std::vector<UuFile> ExtractUuencoded(std::string& text);
// One block, lines ending in CR LF, "begin 644 <name>" through "end".
std::string Uuencode(std::string_view name, const std::vector<BYTE>& data);

// The two directions.
HRESULT MimeToMapi(std::string_view article, IMessage* message);
HRESULT MapiToMime(IMessage* message, const Options& options, ULONG flags, std::string& out);

}  // namespace quillory::converter
