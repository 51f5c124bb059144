// Properties opened as streams (bodies, attachment data): the bytes are held
// by the stream and given back to the owning object on Commit, or on the
// last Release when written since.
#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/base/trace.h"
#include "platform/com/refcounted.h"
#include "platform/com/stream_common.h"
#include "platform/mapi/msgstore_impl.h"

namespace quillory::store {
namespace {

struct StreamState {
    std::string bytes;
    bool writable = false;
    bool dirty = false;
    std::function<HRESULT(std::string_view)> commit;
    std::mutex mutex;
};

class CPropertyStream final : public IStream, public CRefCounted {
public:
    CPropertyStream(std::shared_ptr<StreamState> state, ULONGLONG pos) : state_(std::move(state)), pos_(pos) {}

    ~CPropertyStream() override
    {
        // The last stream over the bytes hands written bytes back.
        if (state_.use_count() == 1 && state_->dirty) {
            if (FAILED(state_->commit(state_->bytes))) Trace("store: a property stream's bytes were not kept\n");
        }
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IStream, this}, {&IID_ISequentialStream, this}});
    }
    QUILLORY_IUNKNOWN_REFCOUNT

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        std::lock_guard lock(state_->mutex);
        ULONG n = 0;
        if (pos_ < state_->bytes.size()) n = static_cast<ULONG>(std::min<ULONGLONG>(cb, state_->bytes.size() - pos_));
        if (n) std::memcpy(pv, state_->bytes.data() + pos_, n);
        pos_ += n;
        if (pcbRead) *pcbRead = n;
        return S_OK;
    }

    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (pcbWritten) *pcbWritten = 0;
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        std::lock_guard lock(state_->mutex);
        if (!state_->writable) return STG_E_ACCESSDENIED;
        if (cb == 0) return S_OK;
        const ULONGLONG end = pos_ + cb;
        if (end > std::numeric_limits<ULONG>::max()) return STG_E_MEDIUMFULL;  // a property holds a ULONG count
        if (end > state_->bytes.size()) state_->bytes.resize(static_cast<std::size_t>(end));
        std::memcpy(state_->bytes.data() + pos_, pv, cb);
        pos_ = end;
        state_->dirty = true;
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }

    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPos) override
    {
        std::lock_guard lock(state_->mutex);
        return SeekPosition(pos_, state_->bytes.size(), move, origin, newPos);
    }

    HRESULT SetSize(ULARGE_INTEGER size) override
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->writable) return STG_E_ACCESSDENIED;
        if (size.QuadPart > std::numeric_limits<ULONG>::max()) return STG_E_MEDIUMFULL;
        state_->bytes.resize(static_cast<std::size_t>(size.QuadPart));
        state_->dirty = true;
        return S_OK;
    }

    HRESULT CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override
    {
        return CopyStream(this, target, cb, read, written);
    }

    HRESULT Commit(DWORD) override
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->dirty) return S_OK;
        if (const HRESULT hr = state_->commit(state_->bytes); FAILED(hr)) return hr;
        state_->dirty = false;
        return S_OK;
    }

    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

    HRESULT Stat(STATSTG* st, DWORD) override
    {
        if (!st) return STG_E_INVALIDPOINTER;
        std::lock_guard lock(state_->mutex);
        *st = STATSTG{};
        st->type = STGTY_STREAM;
        st->cbSize.QuadPart = state_->bytes.size();
        st->grfMode = state_->writable ? STGM_READWRITE : STGM_READ;
        return S_OK;
    }

    HRESULT Clone(IStream** out) override
    {
        if (!out) return STG_E_INVALIDPOINTER;
        std::lock_guard lock(state_->mutex);
        *out = NewComObject<CPropertyStream>(state_, pos_);
        return S_OK;
    }

private:
    std::shared_ptr<StreamState> state_;
    ULONGLONG pos_;
};

}  // namespace

HRESULT CreatePropertyStream(std::string initial, bool writable, std::function<HRESULT(std::string_view bytes)> commit,
                             IStream** out)
{
    if (!out) return MAPI_E_INVALID_PARAMETER;
    auto state = std::make_shared<StreamState>();
    state->bytes = std::move(initial);
    state->writable = writable;
    state->commit = std::move(commit);
    *out = NewComObject<CPropertyStream>(std::move(state), 0);
    return S_OK;
}

HRESULT OpenPropStream(ULONG ulPropTag, LPCIID lpiid, ULONG ulFlags, bool objectWritable,
                       const std::function<std::optional<std::string>()>& read,
                       std::function<HRESULT(std::string_view)> write, LPUNKNOWN* lppUnk)
{
    if (!lppUnk || !lpiid) return MAPI_E_INVALID_PARAMETER;
    *lppUnk = nullptr;
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    if (ulFlags & ~(MAPI_CREATE | MAPI_MODIFY | MAPI_DEFERRED_ERRORS | MAPI_BEST_ACCESS)) return MAPI_E_UNKNOWN_FLAGS;
    const ULONG type = PROP_TYPE(ulPropTag);
    if (type == PT_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    if (type != PT_BINARY && type != PT_STRING8) return MAPI_E_NO_SUPPORT;
    if (!IsEqualIID(*lpiid, IID_IStream) && !IsEqualIID(*lpiid, IID_ISequentialStream))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    const bool writing = (ulFlags & (MAPI_MODIFY | MAPI_CREATE)) != 0;
    if (writing && !objectWritable) return MAPI_E_NO_ACCESS;
    std::string initial;
    if (!(ulFlags & MAPI_CREATE)) {
        auto current = read();
        if (!current) return MAPI_E_NOT_FOUND;
        initial = std::move(*current);
    }
    ComPtr<IStream> stream;
    if (const HRESULT hr = CreatePropertyStream(std::move(initial), writing, std::move(write), &stream); FAILED(hr))
        return hr;
    if (ulFlags & MAPI_CREATE) {
        // A created property exists, empty, even when nothing is written.
        ULARGE_INTEGER zero{};
        stream->SetSize(zero);
    }
    *lppUnk = stream.Detach();
    return S_OK;
}

}  // namespace quillory::store
