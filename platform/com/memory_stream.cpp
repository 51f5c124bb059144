// IStream over a movable global block. The block grows geometrically, so many
// small writes cost amortised constant time; the stream's size is kept apart
// from the block's capacity.
#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/com/refcounted.h"
#include "platform/com/stream.h"
#include "platform/com/stream_common.h"

namespace quillory {
namespace {

// The block and its size, shared between a stream and its clones.
struct HGlobalBacking {
    HGLOBAL block = nullptr;
    bool freeOnRelease = false;
    ULONGLONG size = 0;
    ~HGlobalBacking()
    {
        if (freeOnRelease && block) GlobalFree(block);
    }
};

class CHGlobalStream final : public IStream, public CRefCounted {
public:
    explicit CHGlobalStream(std::shared_ptr<HGlobalBacking> backing, ULONGLONG pos = 0)
        : backing_(std::move(backing)), pos_(pos) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IStream, this}, {&IID_ISequentialStream, this}});
    }
    QUILLORY_IUNKNOWN_REFCOUNT

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        ULONG n = 0;
        if (pos_ < backing_->size) n = static_cast<ULONG>(std::min<ULONGLONG>(cb, backing_->size - pos_));
        if (n) {
            const BYTE* p = static_cast<const BYTE*>(GlobalLock(backing_->block));
            if (!p) return STG_E_READFAULT;
            std::memcpy(pv, p + pos_, n);
            GlobalUnlock(backing_->block);
        }
        pos_ += n;
        if (pcbRead) *pcbRead = n;
        return S_OK;
    }

    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (pcbWritten) *pcbWritten = 0;
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        if (cb == 0) return S_OK;
        const ULONGLONG end = pos_ + cb;
        if (end > GlobalSize(backing_->block)) {
            const ULONGLONG grown = std::max<ULONGLONG>(end, GlobalSize(backing_->block) * 2);
            if (!GlobalReAlloc(backing_->block, static_cast<std::size_t>(grown), GMEM_MOVEABLE))
                return STG_E_MEDIUMFULL;
        }
        BYTE* p = static_cast<BYTE*>(GlobalLock(backing_->block));
        if (!p) return STG_E_WRITEFAULT;
        if (pos_ > backing_->size) std::memset(p + backing_->size, 0, static_cast<std::size_t>(pos_ - backing_->size));
        std::memcpy(p + pos_, pv, cb);
        GlobalUnlock(backing_->block);
        pos_ = end;
        backing_->size = std::max(backing_->size, end);
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }

    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override
    {
        return SeekPosition(pos_, backing_->size, move, origin, newPos);
    }

    HRESULT SetSize(ULARGE_INTEGER newSize) override
    {
        const ULONGLONG want = newSize.QuadPart;
        if (want > GlobalSize(backing_->block)) {
            if (!GlobalReAlloc(backing_->block, static_cast<std::size_t>(want), GMEM_MOVEABLE)) return STG_E_MEDIUMFULL;
        }
        if (want > backing_->size) {
            BYTE* p = static_cast<BYTE*>(GlobalLock(backing_->block));
            if (!p) return STG_E_WRITEFAULT;
            std::memset(p + backing_->size, 0, static_cast<std::size_t>(want - backing_->size));
            GlobalUnlock(backing_->block);
        }
        backing_->size = want;
        return S_OK;
    }

    HRESULT CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override
    {
        return CopyStream(this, target, cb, read, written);
    }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

    HRESULT Stat(STATSTG* st, DWORD) override
    {
        if (!st) return STG_E_INVALIDPOINTER;
        *st = STATSTG{};
        st->type = STGTY_STREAM;
        st->cbSize.QuadPart = backing_->size;
        st->grfMode = STGM_READWRITE;
        return S_OK;
    }

    HRESULT Clone(IStream** out) override
    {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = NewComObject<CHGlobalStream>(backing_, pos_);
        return S_OK;
    }

    HGLOBAL Block() const { return backing_->block; }

private:
    std::shared_ptr<HGlobalBacking> backing_;
    ULONGLONG pos_;
};

}  // namespace
}  // namespace quillory

HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, IStream** ppstm)
{
    if (!ppstm) return E_INVALIDARG;
    *ppstm = nullptr;
    auto backing = std::make_shared<quillory::HGlobalBacking>();
    if (hGlobal) {
        backing->block = hGlobal;
        SetLastError(ERROR_SUCCESS);
        backing->size = GlobalSize(hGlobal);
        if (backing->size == 0 && GetLastError() == ERROR_INVALID_HANDLE) return E_INVALIDARG;
    } else {
        backing->block = GlobalAlloc(GMEM_MOVEABLE, 0);
        if (!backing->block) return E_OUTOFMEMORY;
    }
    backing->freeOnRelease = fDeleteOnRelease != FALSE;
    *ppstm = quillory::NewComObject<quillory::CHGlobalStream>(std::move(backing));
    return S_OK;
}

HRESULT GetHGlobalFromStream(IStream* pstm, HGLOBAL* phglobal)
{
    if (!pstm || !phglobal) return E_INVALIDARG;
    auto* s = dynamic_cast<quillory::CHGlobalStream*>(pstm);
    if (!s) return E_INVALIDARG;
    *phglobal = s->Block();
    return S_OK;
}
