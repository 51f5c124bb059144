// Pieces that every stream implementation shares.
#pragma once

#include "platform/com/stream.h"

namespace quillory {

// Moves `pos` as IStream::Seek does; a position before the start is refused.
HRESULT SeekPosition(ULONGLONG& pos, ULONGLONG size, LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos);

// IStream::CopyTo in pieces through a bounce buffer.
HRESULT CopyStream(IStream* from, IStream* to, ULARGE_INTEGER cb, ULARGE_INTEGER* read, ULARGE_INTEGER* written);

}  // namespace quillory
