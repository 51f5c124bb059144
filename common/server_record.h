// The component's server record from an account settings array, and the
// array's values as the session reads them: an entry counts only when it
// carries the tag expected at its position; anything else reads as empty or 0.
#pragma once

#include "common/account_props.h"
#include "platform/inetcomm/nntp/nntp_transport.h"
#include "platform/mapi/mapidefs.h"

#include <span>
#include <string_view>

namespace quillory {

// Time-out when the account's setting is 0 or absent.
constexpr DWORD kDefaultTimeoutSeconds = 10;

// The value at `index`, or null when the array is too short or the entry
// carries another tag.
const SPropValue* AccountValue(std::span<const SPropValue> props, acct::Index index);
std::string_view AccountString(std::span<const SPropValue> props, acct::Index index);
LONG AccountLong(std::span<const SPropValue> props, acct::Index index);
bool AccountBool(std::span<const SPropValue> props, acct::Index index);

// 30 seconds per unit of the account's time-out setting; 10 when it is 0 or
// absent. Applied as configured, without a range check.
DWORD ConfiguredTimeout(std::span<const SPropValue> props);

// Whether the account connects through a named dial-up connection.
bool WantsDialup(std::span<const SPropValue> props);

// Clears `server` and fills it from the account. User name and password only
// when the account requires a logon; the dial-up connection only when the
// account asks for one by name. Texts longer than a field are cut to fit.
void FillServerRecord(std::span<const SPropValue> props, INETSERVER& server);

}  // namespace quillory
