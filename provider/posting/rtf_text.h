// Decompression of PR_RTF_COMPRESSED (the "LZFu" compressed RTF format of
// MAPI messages, and its uncompressed "MELA" form), enough to look at the
// start of a message's RTF.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "platform/base/wintypes.h"

namespace quillory::quarnex {

// The RTF text of a compressed-RTF value, at most maxBytes of it; nullopt
// when the value is damaged (short header, unknown kind, a reference outside
// the data).
std::optional<std::string> DecompressRtf(std::span<const BYTE> value, std::size_t maxBytes);

}  // namespace quillory::quarnex
