// The account settings array as the provider reads and writes it: one
// GetProps of the 31 tags from a profile section, one SetProps back, and
// typed access by index that ignores entries whose tag is not the expected
// one (an unset property comes back as an error value).
#pragma once

#include <optional>
#include <string_view>

#include "common/account_props.h"
#include "platform/mapi/mapix.h"
#include "provider/entry/module_state.h"

namespace quillory {

// GetProps of the 31 tags into a new array; warnings count as success.
HRESULT ReadAccountArray(LPMAPIPROP section, quarnex::ProviderBuffer<SPropValue>& out);
// SetProps of the 31 values (no problem array requested).
HRESULT WriteAccountArray(LPMAPIPROP section, LPSPropValue values);

// The entry at `index` when the array exists and the entry carries the
// expected tag; null otherwise.
const SPropValue* AccountValue(const SPropValue* values, int index);
// A string entry, or null when absent.
const char* AccountString(const SPropValue* values, int index);
// A string entry that is present and non-empty, or null.
const char* AccountNonEmptyString(const SPropValue* values, int index);
std::optional<LONG> AccountLong(const SPropValue* values, int index);
std::optional<bool> AccountBool(const SPropValue* values, int index);
std::optional<FILETIME> AccountTime(const SPropValue* values, int index);

}  // namespace quillory
