// The address book: one-off entries (an address type and an address with a
// display name, carried entirely in the entry ID), CreateOneOff, ResolveName
// for SMTP and explicit "[TYPE:address]" names, and mail-user objects that
// answer the entries' properties.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/mapitags.h"
#include "platform/mapi/mapix.h"

class IMailUser : public IMAPIProp {};
using LPMAILUSER = IMailUser*;

// The UID that marks one-off entry IDs.
inline constexpr BYTE MAPI_ONE_OFF_UID[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                              0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};
// Flags word of a one-off entry ID (MAPI_ONE_OFF_NO_RICH_INFO is in mapix.h).
constexpr ULONG MAPI_ONE_OFF_UNICODE = 0x8000;
// PR_DISPLAY_TYPE of a mail user.
constexpr ULONG DT_MAILUSER = 0x00000000;

namespace quillory {

struct OneOffEntry {
    std::string displayName;
    std::string addressType;
    std::string address;
    ULONG flags = 0;  // MAPI_ONE_OFF_NO_RICH_INFO ...
};

// The entry ID: four zero flag bytes, MAPI_ONE_OFF_UID, a zero version word,
// the flags word (little-endian), then display name, address type and
// address, each ending in NUL (8-bit strings).
std::vector<BYTE> MakeOneOffEntryId(const OneOffEntry& entry);
// Nothing for bytes that are not a well-formed one-off entry ID; entries
// written with MAPI_ONE_OFF_UNICODE are read too (characters beyond the
// 8-bit range become '?').
std::optional<OneOffEntry> ParseOneOffEntryId(std::span<const BYTE> bytes);
std::optional<OneOffEntry> ParseOneOffEntryId(ULONG cb, const ENTRYID* lpEntryID);

// How a typed name resolves without a directory: "Name <user@host>",
// "user@host", "SMTP:user@host" and "[TYPE:address]". MAPI_E_NOT_FOUND when it
// names no address, MAPI_E_AMBIGUOUS_RECIP when it names several.
HRESULT ResolveOneOffName(std::string_view text, OneOffEntry* out);
// Whether the text is one plain SMTP address (local@domain).
bool IsSmtpAddress(std::string_view text);

// A new address book object.
HRESULT CreateAddressBook(LPADRBOOK* lppAdrBook);
// A read-only mail user answering the entry's properties.
HRESULT CreateOneOffMailUser(const OneOffEntry& entry, LPMAILUSER* lppMailUser);

}  // namespace quillory
