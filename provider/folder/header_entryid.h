// The entry ID of a remote-header row: article number (32-bit little-endian),
// the message-id as received (angle brackets included) and a NUL, then the
// newsgroup name and a NUL (an absent group leaves only the NUL). It is the
// index column of the header table, and its hexadecimal text is stamped on
// the message an article becomes.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/mapidefs.h"

// The hexadecimal text (HexFromBin) of a header row's entry ID, stamped on
// each message made from an article.
constexpr ULONG PR_CORVANE_HEADER_ENTRYID_HEX = 0x65A0001E;

namespace quillory::quarnex {

struct HeaderEntryId {
    ULONG number = 0;
    std::string messageId;
    std::string group;
};

// 4 + messageId.size() + 1 + group.size() + 1 bytes.
std::vector<BYTE> MakeHeaderEntryId(ULONG number, std::string_view messageId, std::string_view group);

// The article number alone, from the first four bytes; false when there are fewer.
bool ReadHeaderEntryIdNumber(std::span<const BYTE> bytes, ULONG& number);

// Reads an entry ID back. False when it is shorter than 5 bytes or its
// message-id has no terminating NUL; a group without its NUL runs to the end.
bool ParseHeaderEntryId(std::span<const BYTE> bytes, HeaderEntryId& out);

}  // namespace quillory::quarnex
