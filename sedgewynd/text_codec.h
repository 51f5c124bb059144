// Conversion between the UTF-16LE text of a Unicode service list and the
// 8-bit system code page (windows-1252) the merge works in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillory::sedgewynd {

// UTF-16LE bytes (without the byte-order mark) to the code page. Nothing for
// an odd byte count, an unpaired surrogate or a character the code page
// cannot represent.
std::optional<std::string> Utf16ToAnsi(std::string_view utf16le);
// Code-page text to UTF-16LE bytes; nothing for a byte the code page leaves
// undefined.
std::optional<std::string> AnsiToUtf16(std::string_view ansi);

}  // namespace quillory::sedgewynd
