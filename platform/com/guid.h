// GUID text forms: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/com/unknwn.h"

// Writes the braced form (39 characters with the NUL); returns the characters
// written including the NUL, or 0 when cchMax is too small.
int StringFromGUID2(REFGUID rguid, char* lpsz, int cchMax);
// Parses the braced form; CO_E_CLASSSTRING for anything else.
HRESULT CLSIDFromString(const char* lpsz, CLSID* pclsid);
HRESULT IIDFromString(const char* lpsz, IID* lpiid);
// A new random (version 4) GUID.
HRESULT CoCreateGuid(GUID* pguid);

namespace quillory {

std::string GuidToString(REFGUID guid);
// Accepts the braced form and the bare 36-character form, any hex case.
std::optional<GUID> ParseGuid(std::string_view text);

}  // namespace quillory
