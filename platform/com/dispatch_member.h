// Dispatch adapters made from member functions of dual interfaces:
//   DispProp<&Itf::get_X>("X", id)                 a read-only property
//   DispProp<&Itf::get_X, &Itf::put_X>("X", id)    a property that can be set
//   DispMethod<&Itf::M>("M", id)                   a method
// An interface pointer type used as an argument or result names its IID
// through a static member kIid (IUnknown and IDispatch need none).
#pragma once

#include <tuple>
#include <type_traits>
#include <utility>

#include "platform/com/dispatch.h"

namespace quillory::disp_detail {

template <class I>
constexpr const IID& IidOf()
{
    if constexpr (std::is_same_v<I, IUnknown>)
        return IID_IUnknown;
    else if constexpr (std::is_same_v<I, IDispatch>)
        return IID_IDispatch;
    else
        return I::kIid;
}

// ---- in-arguments ----
template <class T>
struct In;

HRESULT ConvertArg(const VARIANT* v, VARTYPE vt, VARIANT& out);

template <>
struct In<LONG> {
    using Holder = LONG;
    static HRESULT From(const VARIANT* v, Holder& h)
    {
        CComVariant c;
        if (const HRESULT hr = ConvertArg(v, VT_I4, c); FAILED(hr)) return hr;
        h = c.lVal;
        return S_OK;
    }
    static LONG Pass(Holder& h) { return h; }
};

template <>
struct In<VARIANT_BOOL> {
    using Holder = VARIANT_BOOL;
    static HRESULT From(const VARIANT* v, Holder& h)
    {
        CComVariant c;
        if (const HRESULT hr = ConvertArg(v, VT_BOOL, c); FAILED(hr)) return hr;
        h = c.boolVal;
        return S_OK;
    }
    static VARIANT_BOOL Pass(Holder& h) { return h; }
};

template <>
struct In<BSTR> {
    using Holder = CComVariant;
    static HRESULT From(const VARIANT* v, Holder& h) { return ConvertArg(v, VT_BSTR, h); }
    static BSTR Pass(Holder& h) { return h.bstrVal; }
};

// A VARIANT argument is optional: a left-out one is VT_ERROR / DISP_E_PARAMNOTFOUND.
template <>
struct In<VARIANT> {
    using Holder = CComVariant;
    static HRESULT From(const VARIANT* v, Holder& h)
    {
        if (!v) {
            h = CComVariant::Missing();
            return S_OK;
        }
        return VariantCopyInd(&h, v);
    }
    static VARIANT Pass(Holder& h) { return h; }  // borrowed for the call
};

template <class I>
    requires std::is_base_of_v<IUnknown, I>
struct In<I*> {
    using Holder = ComPtr<I>;
    static HRESULT From(const VARIANT* v, Holder& h)
    {
        if (!v) return DISP_E_PARAMNOTOPTIONAL;
        CComVariant value;
        if (const HRESULT hr = VariantCopyInd(&value, v); FAILED(hr)) return hr;
        if (value.vt == VT_EMPTY || value.vt == VT_NULL) return S_OK;  // Nothing
        if (value.vt != VT_DISPATCH && value.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
        if (!value.punkVal) return S_OK;
        return FAILED(value.punkVal->QueryInterface(IidOf<I>(), h.AsVoidOut())) ? DISP_E_TYPEMISMATCH : S_OK;
    }
    static I* Pass(Holder& h) { return h.Get(); }
};

// ---- results ----
template <class T>
struct Out {
    static constexpr bool is = false;
};

template <>
struct Out<LONG*> {
    static constexpr bool is = true;
    using Value = LONG;
    static void Store(Value& v, VARIANT* r)
    {
        r->vt = VT_I4;
        r->lVal = v;
    }
    static void Drop(Value&) {}
};

template <>
struct Out<VARIANT_BOOL*> {
    static constexpr bool is = true;
    using Value = VARIANT_BOOL;
    static void Store(Value& v, VARIANT* r)
    {
        r->vt = VT_BOOL;
        r->boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
    }
    static void Drop(Value&) {}
};

template <>
struct Out<BSTR*> {
    static constexpr bool is = true;
    using Value = BSTR;
    static void Store(Value& v, VARIANT* r)
    {
        r->vt = VT_BSTR;
        r->bstrVal = std::exchange(v, nullptr);
    }
    static void Drop(Value& v) { SysFreeString(std::exchange(v, nullptr)); }
};

// A double result is a DATE: the object model has no other real-valued member.
template <>
struct Out<DATE*> {
    static constexpr bool is = true;
    using Value = DATE;
    static void Store(Value& v, VARIANT* r)
    {
        r->vt = VT_DATE;
        r->date = v;
    }
    static void Drop(Value&) {}
};

template <>
struct Out<VARIANT*> {
    static constexpr bool is = true;
    using Value = VARIANT;
    static void Store(Value& v, VARIANT* r)
    {
        *r = v;
        VariantInit(&v);
    }
    static void Drop(Value& v) { VariantClear(&v); }
};

template <class I>
    requires std::is_base_of_v<IUnknown, I>
struct Out<I**> {
    static constexpr bool is = true;
    using Value = I*;
    static void Store(Value& v, VARIANT* r)
    {
        r->vt = std::is_base_of_v<IDispatch, I> ? VT_DISPATCH : VT_UNKNOWN;
        r->punkVal = std::exchange(v, nullptr);
    }
    static void Drop(Value& v)
    {
        if (I* p = std::exchange(v, nullptr)) p->Release();
    }
};

template <class T>
void InitValue(T& v)
{
    if constexpr (std::is_same_v<T, VARIANT>)
        VariantInit(&v);
    else
        v = T{};
}

// Hands a result to the caller, or frees it when the caller wants none.
template <class O>
void Deliver(typename O::Value& value, VARIANT* result)
{
    if (result) {
        VariantClear(result);
        O::Store(value, result);
    } else {
        O::Drop(value);
    }
}

// Whether the last of a method's arguments is its result.
template <class Args, std::size_t N>
struct LastIsOut {
    static constexpr bool value = Out<std::tuple_element_t<N - 1, Args>>::is;
};
template <class Args>
struct LastIsOut<Args, 0> {
    static constexpr bool value = false;
};

// ---- member function pointers ----
template <auto M>
struct Member;

template <class C, class... A, HRESULT (C::*M)(A...)>
struct Member<M> {
    using Args = std::tuple<A...>;
    static constexpr std::size_t kCount = sizeof...(A);
    static constexpr bool kHasOut = LastIsOut<Args, kCount>::value;
    static constexpr std::size_t kIn = kHasOut ? kCount - 1 : kCount;

    template <std::size_t I>
    using InType = std::tuple_element_t<I, Args>;

    template <std::size_t... I>
    static HRESULT Run(C* self, const DispArgs& args, VARIANT* result, UINT* argErr, std::index_sequence<I...>)
    {
        if (args.Count() > kIn) return DISP_E_BADPARAMCOUNT;
        std::tuple<typename In<InType<I>>::Holder...> held{};
        HRESULT hr = S_OK;
        // Converts in order and stops at the first argument that does not fit.
        auto convert = [&](auto index, auto& holder) {
            if (FAILED(hr)) return;
            constexpr std::size_t i = decltype(index)::value;
            const VARIANT* v = args.At(static_cast<UINT>(i));
            if (v && IsMissing(*v) && !std::is_same_v<InType<i>, VARIANT>) v = nullptr;
            if (!v && !std::is_same_v<InType<i>, VARIANT>) {
                hr = DISP_E_PARAMNOTOPTIONAL;
            } else {
                hr = In<InType<i>>::From(v, holder);
            }
            if (FAILED(hr) && argErr) *argErr = args.ArgErr(static_cast<UINT>(i));
        };
        (convert(std::integral_constant<std::size_t, I>{}, std::get<I>(held)), ...);
        (void)convert;  // a method without in-arguments converts nothing
        if (FAILED(hr)) return hr;
        if constexpr (kHasOut) {
            using O = Out<std::tuple_element_t<kCount - 1, Args>>;
            typename O::Value value;
            InitValue(value);
            hr = (self->*M)(In<InType<I>>::Pass(std::get<I>(held))..., &value);
            if (SUCCEEDED(hr))
                Deliver<O>(value, result);
            else
                O::Drop(value);
            return hr;
        } else {
            return (self->*M)(In<InType<I>>::Pass(std::get<I>(held))...);
        }
    }

    static HRESULT Call(IDispatch* self, WORD, const DispArgs& args, VARIANT* result, UINT* argErr)
    {
        return Run(static_cast<C*>(self), args, result, argErr, std::make_index_sequence<kIn>{});
    }

    // A property put: the one in-argument is the put value.
    static HRESULT Put(IDispatch* self, WORD, const DispArgs& args, VARIANT*, UINT* argErr)
    {
        static_assert(kCount == 1 && !kHasOut, "a put takes exactly one value");
        const VARIANT* v = args.PutValue();
        if (!v) return DISP_E_PARAMNOTOPTIONAL;
        if (args.Count() != 0) return DISP_E_BADPARAMCOUNT;
        typename In<InType<0>>::Holder held{};
        if (const HRESULT hr = In<InType<0>>::From(v, held); FAILED(hr)) {
            if (argErr) *argErr = 0;
            return hr;
        }
        return (static_cast<C*>(self)->*M)(In<InType<0>>::Pass(held));
    }
};

}  // namespace quillory::disp_detail

namespace quillory {

template <auto Get>
constexpr DispMember DispProp(const char* name, DISPID id)
{
    return DispMember{name, id, &disp_detail::Member<Get>::Call, nullptr};
}

template <auto Get, auto Put>
constexpr DispMember DispProp(const char* name, DISPID id)
{
    return DispMember{name, id, &disp_detail::Member<Get>::Call, &disp_detail::Member<Put>::Put};
}

template <auto M>
constexpr DispMember DispMethod(const char* name, DISPID id)
{
    return DispMember{name, id, &disp_detail::Member<M>::Call, nullptr};
}

}  // namespace quillory
