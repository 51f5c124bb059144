// Reference counting for the platform's COM objects. An object derives from
// its interfaces and from CRefCounted, and answers QueryInterface through
// QueryInterfaceTable with the IIDs it implements.
#pragma once

#include <atomic>
#include <initializer_list>
#include <utility>

#include "platform/com/unknwn.h"

namespace quillory {

class CRefCounted {
public:
    ULONG AddRefImpl() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    // Deletes the most-derived object through its virtual destructor at zero.
    ULONG ReleaseImpl()
    {
        const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) Destroy();
        return left;
    }
    ULONG RefCount() const { return refs_.load(); }

protected:
    CRefCounted() = default;
    virtual ~CRefCounted() = default;
    CRefCounted(const CRefCounted&) = delete;
    CRefCounted& operator=(const CRefCounted&) = delete;

private:
    // Out of line: GCC, seeing the inlined virtual delete through a base at a
    // non-zero offset, would otherwise report a free of a non-heap pointer.
    void Destroy();

    std::atomic<ULONG> refs_{1};  // the creator holds the first reference
};

struct InterfaceEntry {
    const IID* iid;
    IUnknown* itf;
};

// Answers QueryInterface from a list of (IID, interface pointer); IID_IUnknown
// gives the first entry's interface.
inline HRESULT QueryInterfaceTable(REFIID riid, void** ppv, std::initializer_list<InterfaceEntry> entries)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (const auto& e : entries) {
        if (IsEqualIID(riid, *e.iid) || IsEqualIID(riid, IID_IUnknown)) {
            e.itf->AddRef();
            *ppv = e.itf;
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}

// Creates a COM object whose first reference belongs to the caller.
template <class T, class... Args>
T* NewComObject(Args&&... args)
{
    return new T(std::forward<Args>(args)...);  // owned through Release from here on
}

}  // namespace quillory

// Declares AddRef/Release of an object deriving from CRefCounted.
#define QUILLORY_IUNKNOWN_REFCOUNT                                  \
    ULONG AddRef() override { return this->AddRefImpl(); }          \
    ULONG Release() override { return this->ReleaseImpl(); }
