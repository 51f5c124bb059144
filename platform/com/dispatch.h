// IDispatch from a table of members, and calls by name on any IDispatch.
//
// An object lists its members once (name, dispatch id, the kinds of call it
// answers, and the adapter that calls its C++ method); GetIDsOfNames finds a
// name without regard to ASCII case, Invoke checks the kind of call and the
// arguments and runs the adapter. Invoke never lets an exception out: a
// std::bad_alloc becomes E_OUTOFMEMORY, anything else DISP_E_EXCEPTION with
// the text in the EXCEPINFO.
//
// Adapters are made from member functions of dual interfaces (see
// dispatch_member.h): `HRESULT get_X(R*)`, `HRESULT put_X(T)` and
// `HRESULT M(A..., R*)`, where in-arguments are LONG, VARIANT_BOOL, BSTR,
// VARIANT (optional: a left-out argument arrives as VT_ERROR /
// DISP_E_PARAMNOTFOUND) or an interface pointer, and results are LONG,
// VARIANT_BOOL, BSTR, DATE, VARIANT or an interface pointer.
#pragma once

#include <initializer_list>
#include <span>
#include <string_view>

#include "platform/com/com_ptr.h"
#include "platform/com/oleauto.h"
#include "platform/com/typeinfo.h"

namespace quillory {

// The arguments of one Invoke, in the order the caller wrote them.
class DispArgs {
public:
    DispArgs(const DISPPARAMS* params, WORD flags);
    // Positional arguments (the value of a property put is not one of them).
    UINT Count() const { return positional_; }
    // The i-th positional argument (0 = the first); null past the end.
    const VARIANT* At(UINT i) const;
    // The value of a property put; null when there is none.
    const VARIANT* PutValue() const { return put_; }
    // The index into rgvarg of positional argument i, for puArgErr.
    UINT ArgErr(UINT i) const { return positional_ - 1 - i + named_; }
    // Named arguments other than the put value are not supported.
    bool HasOtherNamedArgs() const { return otherNamed_; }

private:
    const DISPPARAMS* params_;
    const VARIANT* put_ = nullptr;
    UINT named_ = 0;
    UINT positional_ = 0;
    bool otherNamed_ = false;
};

using DispAdapter = HRESULT (*)(IDispatch* self, WORD flags, const DispArgs& args, VARIANT* result, UINT* argErr);

// One member of a dispatch interface. A property answers DISPATCH_PROPERTYGET
// through `get` and DISPATCH_PROPERTYPUT through `put`; a method answers
// DISPATCH_METHOD through `get`. Getters also answer DISPATCH_METHOD, as
// scripting callers mix the two.
struct DispMember {
    const char* name;
    DISPID id;
    DispAdapter get;
    DispAdapter put = nullptr;
};
using DispTable = std::span<const DispMember>;

HRESULT DispTableGetIDsOfNames(DispTable table, LPOLESTR* names, UINT count, DISPID* ids);
HRESULT DispTableInvoke(DispTable table, IDispatch* self, DISPID id, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* argErr);
// Type information describing the table.
HRESULT DispTableTypeInfo(DispTable table, REFIID iid, std::string_view name, ITypeInfo** out);

// Implements IDispatch of interface Itf over a table: a class derives from
// CDispatchImpl<Itf> and defines Members() and InterfaceName().
template <class Itf>
class CDispatchImpl : public Itf {
public:
    HRESULT GetTypeInfoCount(UINT* pctinfo) override
    {
        if (!pctinfo) return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) override
    {
        if (!ppTInfo) return E_POINTER;
        *ppTInfo = nullptr;
        if (iTInfo != 0) return DISP_E_BADINDEX;
        return DispTableTypeInfo(Members(), Itf::kIid, InterfaceName(), ppTInfo);
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        return DispTableGetIDsOfNames(Members(), names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                   UINT* argErr) override
    {
        return DispTableInvoke(Members(), static_cast<Itf*>(this), id, flags, params, result, excep, argErr);
    }

protected:
    virtual DispTable Members() const = 0;
    virtual std::string_view InterfaceName() const = 0;
};

// ---- calls by name ----

// The dispatch id of a member name.
HRESULT DispIdOf(IDispatch* object, std::string_view name, DISPID* id);
// Invokes a member by name. Arguments are given first to last; a property
// put takes its value as the one argument. result may be null.
HRESULT DispInvoke(IDispatch* object, std::string_view name, WORD flags, std::span<const VARIANT> args,
                   VARIANT* result);
HRESULT DispGet(IDispatch* object, std::string_view name, CComVariant& result);
HRESULT DispPut(IDispatch* object, std::string_view name, const VARIANT& value);
HRESULT DispCall(IDispatch* object, std::string_view name, std::initializer_list<CComVariant> args,
                 CComVariant* result = nullptr);
// A property that must be an object: its IDispatch, or a failure
// (DISP_E_TYPEMISMATCH when the property is no object).
HRESULT DispGetObject(IDispatch* object, std::string_view name, ComPtr<IDispatch>& out);

// Fills an EXCEPINFO for a failure reported by text (source and description).
void FillExcepInfo(EXCEPINFO* excep, HRESULT scode, std::string_view source, std::string_view description);

}  // namespace quillory
