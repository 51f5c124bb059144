// Pieces of an Internet message as the converter writes them: transfer
// encodings, header texts and folding, dates, line wrapping. Every line ends
// in CR LF.
#pragma once

#include <string>
#include <string_view>

#include "platform/base/wintypes.h"

namespace quillory::converter {

// Quoted-printable (RFC 2045 6.7) of a text whose lines end in CR LF; lines at most 76 characters.
std::string EncodeQuotedPrintable(std::string_view text);
// Base64 in lines of 76 characters.
std::string EncodeBase64(std::string_view bytes);
// Whether the text may go out as 7bit: ASCII without NUL, lines of at most 998 characters.
bool Is7BitSafe(std::string_view text);
// Longest line, CR LF not counted.
std::size_t LongestLine(std::string_view text);

// Wraps lines longer than width at their last blank before the limit;
// words longer than the width are left whole.
std::string WrapText(std::string_view text, std::size_t width);

// A header text in the system code page as it goes out: ASCII as it is;
// otherwise raw in charset when eightBit, else RFC 2047 words in charset.
std::string HeaderText(std::string_view text, std::string_view charset, bool eightBit);
// A display name: quoted when it holds specials, encoded like HeaderText.
std::string HeaderPhrase(std::string_view name, std::string_view charset, bool eightBit);
// The text with every CR and LF made a blank, so that it stays inside its field.
std::string OneLine(std::string_view text);
// "Name: value" (made one line first) folded at blanks to lines of about 78 characters, with CR LF.
std::string FoldedHeader(std::string_view name, std::string_view value);

// RFC 5322 date-time in UTC ("Tue, 01 Jul 2003 08:52:37 +0000").
std::string FormatInternetDate(const FILETIME& utc);
// A new multipart boundary / message-id right-hand side.
std::string NewBoundary();
std::string NewMessageId(std::string_view domain);

}  // namespace quillory::converter
