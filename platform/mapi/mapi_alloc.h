// MAPI memory: a buffer from MAPIAllocateBuffer is the head of a chain; blocks
// from MAPIAllocateMore hang on a head and are freed with it by one
// MAPIFreeBuffer of the head.
#pragma once

#include <memory>

#include "platform/mapi/mapidefs.h"

SCODE MAPIAllocateBuffer(ULONG cbSize, void** lppBuffer);
SCODE MAPIAllocateMore(ULONG cbSize, void* lpObject, void** lppBuffer);
ULONG MAPIFreeBuffer(void* lpBuffer);
void FreeProws(LPSRowSet lpRows);
void FreePadrlist(LPADRLIST lpAdrlist);

namespace quillory {

// Frees a MAPI buffer when it goes out of scope.
template <class T>
class MapiBuffer {
public:
    MapiBuffer() = default;
    explicit MapiBuffer(T* p) : p_(p) {}
    ~MapiBuffer() { Reset(); }
    MapiBuffer(const MapiBuffer&) = delete;
    MapiBuffer& operator=(const MapiBuffer&) = delete;
    MapiBuffer(MapiBuffer&& o) noexcept : p_(o.Release()) {}
    MapiBuffer& operator=(MapiBuffer&& o) noexcept
    {
        if (this != std::addressof(o)) {
            Reset();
            p_ = o.Release();
        }
        return *this;
    }
    void Reset(T* p = nullptr)
    {
        if (p_) MAPIFreeBuffer(p_);
        p_ = p;
    }
    T* Release()
    {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    T** operator&()
    {
        Reset();
        return &p_;
    }
    void** AsVoidOut()
    {
        Reset();
        return reinterpret_cast<void**>(&p_);
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// A row set frees its rows' property arrays and itself.
class RowSetPtr {
public:
    RowSetPtr() = default;
    ~RowSetPtr() { FreeProws(p_); }
    RowSetPtr(const RowSetPtr&) = delete;
    RowSetPtr& operator=(const RowSetPtr&) = delete;
    LPSRowSet* operator&()
    {
        FreeProws(p_);
        p_ = nullptr;
        return &p_;
    }
    LPSRowSet Get() const { return p_; }
    LPSRowSet operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    LPSRowSet p_ = nullptr;
};

}  // namespace quillory
