// The character sets the MIME services know, and text conversion between them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/inetcomm/mime/mime_services.h"

namespace quillory::mime {

struct CharsetEntry {
    const char* name;       // MIME name
    CODEPAGEID codePage;    // Internet code page
    const char* iconvName;  // name iconv knows it by
    const char* aliases;    // '|'-separated other names
};

// By MIME name or alias, letter case ignored; null when unknown.
const CharsetEntry* FindCharsetByName(std::string_view name);
// By code page (CP_ACP: the system code page); null when unknown.
const CharsetEntry* FindCharsetByCodePage(CODEPAGEID codePage);
// The handle of an entry, and back (null for anything that is no handle).
HCHARSET HandleOf(const CharsetEntry* entry);
const CharsetEntry* EntryOf(HCHARSET handle);
const CharsetEntry& SystemCharset();

struct Converted {
    std::string text;
    bool replaced = false;  // some characters became '?' (or invalid input was skipped)
};
// Converts between two iconv names; characters the target lacks become '?',
// invalid input bytes are dropped. Empty when either set is unknown to iconv.
std::optional<Converted> ConvertText(std::string_view input, const char* fromIconv, const char* toIconv);

// Shorthands between UTF-8 and the system code page.
std::string Utf8ToSystem(std::string_view utf8);
std::string SystemToUtf8(std::string_view text);

}  // namespace quillory::mime
