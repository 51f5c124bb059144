// Text in the 8-bit Windows code pages that fixed-format files still carry
// (the string areas of STRTABLE blobs), converted to and from UTF-8, the
// system's own 8-bit text. Conversion goes through iconv, so every code page
// the C library knows is served; nothing is ever turned into '?'.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillory {

// The Windows code page a LOGFONT character set stands for (ANSI 0 and
// DEFAULT 1 both mean windows-1252, RUSSIAN 204 windows-1251, ...); 0 for a
// character set without one (SYMBOL, OEM, unknown).
unsigned CodePageOfCharset(std::uint32_t charset);

// Code-page bytes to UTF-8. A byte the code page leaves undefined becomes
// U+FFFD; nothing when the code page is unknown.
std::optional<std::string> CodePageToUtf8(std::string_view text, unsigned codePage);

// UTF-8 to the code page. Nothing when the text is not valid UTF-8 or holds
// a character the code page cannot represent.
std::optional<std::string> Utf8ToCodePage(std::string_view text, unsigned codePage);

// The longest prefix of `text` of at most `maxBytes` bytes that does not end
// inside a UTF-8 sequence, so that cutting a name to a field never leaves
// half a character behind.
std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes);

}  // namespace quillory
