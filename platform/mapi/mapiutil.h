// Small MAPI utilities: hexadecimal text of binary values and conversation
// indexes for threading messages.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/mapidefs.h"

// Writes the upper-case hexadecimal text of cb bytes and a NUL; sz must hold
// 2 * cb + 1 characters.
void HexFromBin(LPBYTE pb, int cb, LPSTR sz);
// Reads hexadecimal text (either case) into pb, which must hold half its
// length. FALSE, with pb untouched, for an odd length or a non-hex character.
BOOL FBinFromHex(LPSTR sz, LPBYTE pb);

// Conversation index layout: a 22-byte header (0x01, the upper 5 bytes of
// the creation FILETIME big-endian, a new GUID) followed by one 5-byte block
// per reply generation.
constexpr ULONG kConvIndexHeaderSize = 22;
constexpr ULONG kConvIndexChildSize = 5;

// With no parent (cbParent 0): a new header. With a parent (at least a
// header): the parent followed by a child block. The child block holds, big-
// endian, one bit for the delta's unit (0: 2^18 FILETIME ticks, used while
// the delta is below 2^49 ticks; 1: 2^23 ticks), 31 bits of the time since
// the header's time in that unit, then a random nibble and a sequence nibble.
// Children of one parent made later in this process sort after earlier ones
// by memcmp: when the clock has not advanced by a unit, the delta is the
// previous child's plus one. The result comes from MAPIAllocateBuffer.
SCODE ScCreateConversationIndex(ULONG cbParent, LPBYTE lpbParent, ULONG* lpcbConvIndex, LPBYTE* lppbConvIndex);

namespace quillory {

std::string BinToHex(std::span<const BYTE> bytes);
// Empty for an odd length or a non-hex character.
std::optional<std::vector<BYTE>> HexToBin(std::string_view text);

}  // namespace quillory
