// The class framework of in-process servers: the module's lock count,
// objects that can be aggregated, and class factories over them.
//
// An aggregatable object has two IUnknowns: its own (non-delegating) one,
// which owns the reference count and answers the object's interfaces, and
// the controlling one every interface forwards to: the outer object's when
// the object is aggregated, else its own. An outer object may only ask for
// the inner object's IUnknown when creating it (CLASS_E_NOAGGREGATION
// otherwise), as COM requires.
#pragma once

#include <atomic>
#include <new>

#include "platform/com/classfactory.h"
#include "platform/com/refcounted.h"

namespace quillory {

// A server module's lock count: objects and class factories alive, and
// LockServer calls. DllCanUnloadNow answers S_OK only at zero.
class CComModule {
public:
    virtual ~CComModule() = default;
    virtual LONG Lock() { return ++locks_; }
    virtual LONG Unlock() { return --locks_; }
    virtual LONG GetLockCount() { return locks_.load(); }

private:
    std::atomic<LONG> locks_{0};
};

// Holds one lock on a module for as long as it lives.
class CModuleLock {
public:
    explicit CModuleLock(CComModule& module) : module_(module) { module_.Lock(); }
    ~CModuleLock() { module_.Unlock(); }
    CModuleLock(const CModuleLock&) = delete;
    CModuleLock& operator=(const CModuleLock&) = delete;

private:
    CComModule& module_;
};

class CAggregatable : public CRefCounted {
public:
    // The controlling unknown: every interface's IUnknown methods go here.
    IUnknown* Controlling() { return outer_ ? outer_ : &inner_; }
    // The object's own IUnknown (the one an outer object keeps).
    IUnknown* NonDelegating() { return &inner_; }
    bool Aggregated() const { return outer_ != nullptr; }

protected:
    explicit CAggregatable(IUnknown* outer) : inner_(*this), outer_(outer) {}
    // The object's interfaces other than IUnknown; adds the reference.
    virtual HRESULT InnerQueryInterface(REFIID riid, void** ppv) = 0;

private:
    class Inner final : public IUnknown {
    public:
        explicit Inner(CAggregatable& owner) : owner_(owner) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) override
        {
            if (!ppv) return E_POINTER;
            *ppv = nullptr;
            if (riid == IID_IUnknown) {
                AddRef();
                *ppv = this;
                return S_OK;
            }
            return owner_.InnerQueryInterface(riid, ppv);
        }
        ULONG AddRef() override { return owner_.AddRefImpl(); }
        ULONG Release() override { return owner_.ReleaseImpl(); }

    private:
        CAggregatable& owner_;
    };

    Inner inner_;
    IUnknown* outer_;
};

// Creates an aggregatable T (constructed with the outer unknown and args).
template <class T, class... Args>
HRESULT CreateAggregatable(IUnknown* outer, REFIID riid, void** ppv, Args&&... args)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    T* object = new (std::nothrow) T(outer, std::forward<Args>(args)...);
    if (!object) return E_OUTOFMEMORY;
    if (outer) {
        *ppv = object->NonDelegating();  // the creation reference goes to the outer object
        return S_OK;
    }
    const HRESULT hr = object->NonDelegating()->QueryInterface(riid, ppv);
    object->NonDelegating()->Release();
    return hr;
}

// A class factory: T::CreateInstance(module, outer, riid, ppv) makes the
// objects; the factory holds a module lock while it lives.
template <class T>
class CComClassFactory final : public IClassFactory, public CRefCounted {
public:
    explicit CComClassFactory(CComModule& module) : module_(module), lock_(module) {}
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IClassFactory, this}});
    }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        return T::CreateInstance(module_, outer, riid, ppv);
    }
    HRESULT LockServer(BOOL lock) override
    {
        if (lock)
            module_.Lock();
        else
            module_.Unlock();
        return S_OK;
    }

private:
    CComModule& module_;
    CModuleLock lock_;
};

template <class T>
HRESULT CreateClassFactory(CComModule& module, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    auto* factory = new (std::nothrow) CComClassFactory<T>(module);
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

}  // namespace quillory

// AddRef/Release/QueryInterface of an aggregatable object's interfaces.
#define QUILLORY_IUNKNOWN_AGGREGATABLE                                                                            \
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return this->Controlling()->QueryInterface(riid, ppv); } \
    ULONG AddRef() override { return this->Controlling()->AddRef(); }                                             \
    ULONG Release() override { return this->Controlling()->Release(); }
