// A smart pointer for COM interfaces: holds one reference, released on reset.
#pragma once

#include <utility>

#include "platform/com/unknwn.h"

namespace quillory {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference on p.
    explicit ComPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }
    ComPtr(const ComPtr& o) : p_(o.p_) { if (p_) p_->AddRef(); }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(const ComPtr& o)
    {
        ComPtr(o).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& o) noexcept
    {
        ComPtr(std::move(o)).Swap(*this);
        return *this;
    }
    ComPtr& operator=(std::nullptr_t)
    {
        Reset();
        return *this;
    }

    // Adopts a reference the caller already owns (e.g. from a factory).
    static ComPtr Attach(T* p)
    {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    // Gives up the reference without releasing it.
    T* Detach() { return std::exchange(p_, nullptr); }

    void Reset()
    {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    // For out-parameters: releases what is held and hands out the slot.
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
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void Swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

    // QueryInterface into another smart pointer.
    template <class U>
    HRESULT As(REFIID iid, ComPtr<U>& out) const
    {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(iid, out.AsVoidOut());
    }

private:
    T* p_ = nullptr;
};

}  // namespace quillory
