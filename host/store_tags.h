// Names of the property tags, property types and result codes that
// `quillory store` prints and accepts, so that people can write PR_SUBJECT
// where the store speaks 0x0037001E.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/mapi/mapidefs.h"

namespace quillory::host {

struct NamedTag {
    std::string_view name;
    ULONG tag;
};

// Every tag of platform/mapi/mapitags.h with its name.
std::span<const NamedTag> KnownTags();

// The name of the tag; a tag whose type differs from the named one (a
// PT_ERROR answer, say) is named by its property ID. Empty when unknown.
std::string_view TagName(ULONG tag);
// A tag written as a PR_ name (ASCII case ignored) or as "0x" with one to
// eight hex digits. Empty for anything else, and for a tag whose type this
// platform cannot hold.
std::optional<ULONG> ParseTag(std::string_view text);
// "0x0037001E".
std::string TagHex(ULONG tag);
// The name when known, else the hex form.
std::string TagLabel(ULONG tag);

// "PT_STRING8", "PT_MV_LONG"...; "0x0123" for a type without a name.
std::string PropTypeName(ULONG type);
// "MAPI_E_NOT_FOUND (0x8004010F)", or the bare hex for an unnamed code.
std::string ScodeText(SCODE sc);

}  // namespace quillory::host
