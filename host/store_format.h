// Renders property values as text for `quillory store`. Nothing a value
// holds reaches the terminal unescaped: control characters and bytes that
// are not UTF-8 come out as backslash escapes.
#pragma once

#include <string>
#include <string_view>

#include "platform/base/wintypes.h"
#include "platform/mapi/mapidefs.h"

namespace quillory::host {

// Binaries longer than this are cut, with their length shown.
constexpr std::size_t kBinaryShownBytes = 64;

enum class ValueStyle {
    Cell,    // one table cell: bare strings, numbers in decimal, a missing value empty
    Detail,  // one property of a listing: strings quoted, numbers also in hex, lengths
};

// Escapes backslash, control characters (C0, DEL and C1) and bytes that
// are not well-formed UTF-8; with quote, also '"'.
std::string EscapeText(std::string_view text, bool quote = false);
// UTC ISO 8601: 2024-05-01T09:30:00Z, with milliseconds when there are any.
std::string FormatFileTime(const FILETIME& ft);
std::string FormatValue(const SPropValue& v, ValueStyle style);

}  // namespace quillory::host
