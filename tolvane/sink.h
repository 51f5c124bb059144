// Dispatch event sinks of the add-in's objects. Each sink is an object of
// its own (its own identity for the connection point) that answers the
// event interface it listens to, and hands an event to its owner through
// the owner's table of (event interface, DISPID) -> handler. Any other
// event is answered S_OK and ignored, as is every event once the owner has
// let go of the sink: a source that still holds a sink after its owner is
// gone can then call it without harm. Handlers' failures never reach the
// source.
#pragma once

#include <span>

#include "platform/base/trace.h"
#include "platform/com/com_ptr.h"
#include "platform/com/connpt.h"
#include "platform/com/refcounted.h"

namespace quillory::tolvane {

// A row of an owner's sink table: which of its sinks (by number), the
// event interface and event, and the handler.
template <class Owner>
struct SinkEntry {
    int sink;
    const IID* source;
    DISPID id;
    void (Owner::*handler)(DISPPARAMS* params);
};

template <class Owner>
class CSink final : public IDispatch, public CRefCounted {
public:
    CSink(Owner* owner, int number, const IID& source, std::span<const SinkEntry<Owner>> table)
        : owner_(owner), number_(number), source_(source), table_(table)
    {
    }
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&source_, this}, {&IID_IDispatch, this}});
    }
    HRESULT GetTypeInfoCount(UINT* count) override
    {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (!owner_) return S_OK;
        for (const auto& e : table_) {
            if (e.sink != number_ || *e.source != source_ || e.id != id) continue;
            try {
                (owner_->*e.handler)(params);
            } catch (...) {
                Trace("CSink::Invoke -- a handler failed (%ld)\n", static_cast<long>(id));
            }
            break;
        }
        return S_OK;
    }

    // The owner is going: later events find nobody.
    void Detach() { owner_ = nullptr; }
    const IID& Source() const { return source_; }

private:
    Owner* owner_;
    int number_;
    IID source_;
    std::span<const SinkEntry<Owner>> table_;
};

// The object an event passes as its first argument (by value or by
// reference); null when it passes none.
inline IDispatch* EventObject(DISPPARAMS* params)
{
    if (!params || params->cArgs < 1 || !params->rgvarg) return nullptr;
    const VARIANT& v = params->rgvarg[params->cArgs - 1];
    if (v.vt == VT_DISPATCH) return v.pdispVal;
    if (v.vt == (VT_BYREF | VT_DISPATCH) && v.ppdispVal) return *v.ppdispVal;
    return nullptr;
}

// One sink of an owner and its cookie (kNotAdvised when not advised).
template <class Owner>
class SinkSlot {
public:
    SinkSlot(Owner* owner, int number, const IID& source, std::span<const SinkEntry<Owner>> table)
        : sink_(ComPtr<CSink<Owner>>::Attach(NewComObject<CSink<Owner>>(owner, number, source, table)))
    {
    }
    ~SinkSlot() { sink_->Detach(); }
    SinkSlot(const SinkSlot&) = delete;
    SinkSlot& operator=(const SinkSlot&) = delete;

    // Advising a sink that is advised already is a programming error.
    HRESULT Advise(IUnknown* source)
    {
        if (cookie_ != kNotAdvised) return E_FAIL;
        return AdviseSink(source, sink_->Source(), sink_.Get(), &cookie_);
    }
    // Unadvises from the source it was advised on; the cookie goes back to kNotAdvised.
    HRESULT Unadvise(IUnknown* source) { return UnadviseSink(source, sink_->Source(), &cookie_); }
    bool Advised() const { return cookie_ != kNotAdvised; }
    DWORD Cookie() const { return cookie_; }

private:
    ComPtr<CSink<Owner>> sink_;
    DWORD cookie_ = kNotAdvised;
};

}  // namespace quillory::tolvane
