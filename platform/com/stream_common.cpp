#include "platform/com/stream_common.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/com/com_ptr.h"

namespace quillory {

HRESULT SeekPosition(ULONGLONG& pos, ULONGLONG size, LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos)
{
    LONGLONG base = 0;
    switch (origin) {
    case STREAM_SEEK_SET: base = 0; break;
    case STREAM_SEEK_CUR: base = static_cast<LONGLONG>(pos); break;
    case STREAM_SEEK_END: base = static_cast<LONGLONG>(size); break;
    default: return STG_E_INVALIDFUNCTION;
    }
    LONGLONG target = 0;
    if (__builtin_add_overflow(base, move.QuadPart, &target) || target < 0) return STG_E_INVALIDFUNCTION;
    pos = static_cast<ULONGLONG>(target);
    if (newPos) newPos->QuadPart = pos;
    return S_OK;
}

HRESULT CopyStream(IStream* from, IStream* to, ULARGE_INTEGER cb, ULARGE_INTEGER* read, ULARGE_INTEGER* written)
{
    if (!to) return STG_E_INVALIDPOINTER;
    constexpr ULONG kPiece = 32768;
    std::vector<BYTE> buf(kPiece);
    ULONGLONG left = cb.QuadPart, totalRead = 0, totalWritten = 0;
    HRESULT hr = S_OK;
    while (left > 0) {
        ULONG got = 0;
        hr = from->Read(buf.data(), static_cast<ULONG>(std::min<ULONGLONG>(left, kPiece)), &got);
        if (FAILED(hr) || got == 0) break;
        totalRead += got;
        ULONG put = 0;
        hr = to->Write(buf.data(), got, &put);
        totalWritten += put;
        if (FAILED(hr)) break;
        if (put < got) {
            hr = STG_E_MEDIUMFULL;
            break;
        }
        left -= got;
    }
    if (read) read->QuadPart = totalRead;
    if (written) written->QuadPart = totalWritten;
    return FAILED(hr) ? hr : S_OK;
}

HRESULT ReadWholeStream(IStream* stream, std::string& out)
{
    if (!stream) return E_POINTER;
    out.clear();
    LARGE_INTEGER zero{};
    HRESULT hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr;
    char buf[32768];
    for (;;) {
        ULONG got = 0;
        hr = stream->Read(buf, sizeof buf, &got);
        if (FAILED(hr)) return hr;
        if (got == 0) return S_OK;
        out.append(buf, got);
    }
}

}  // namespace quillory
