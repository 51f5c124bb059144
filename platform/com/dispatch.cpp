#include "platform/com/dispatch.h"

#include <cstring>
#include <exception>
#include <new>
#include <strings.h>
#include <vector>

#include "platform/base/trace.h"
#include "platform/com/dispatch_member.h"

namespace quillory {

DispArgs::DispArgs(const DISPPARAMS* params, WORD flags) : params_(params)
{
    if (!params_) return;
    named_ = params_->rgdispidNamedArgs ? params_->cNamedArgs : 0;
    if (named_ > params_->cArgs) named_ = params_->cArgs;
    for (UINT i = 0; i < named_; ++i) {
        if (params_->rgdispidNamedArgs[i] == DISPID_PROPERTYPUT && (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
            put_ = &params_->rgvarg[i];
        else
            otherNamed_ = true;
    }
    positional_ = params_->rgvarg ? params_->cArgs - named_ : 0;
    // A put without the named value carries it as its last argument.
    if (!put_ && (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && positional_ > 0) {
        put_ = &params_->rgvarg[named_];
        --positional_;
        ++named_;
    }
}

const VARIANT* DispArgs::At(UINT i) const
{
    if (i >= positional_) return nullptr;
    return &params_->rgvarg[named_ + positional_ - 1 - i];
}

HRESULT disp_detail::ConvertArg(const VARIANT* v, VARTYPE vt, VARIANT& out)
{
    if (!v) return DISP_E_PARAMNOTOPTIONAL;
    const HRESULT hr = VariantChangeType(&out, v, 0, vt);
    if (hr == DISP_E_BADVARTYPE) return DISP_E_TYPEMISMATCH;
    return hr;
}

HRESULT DispTableGetIDsOfNames(DispTable table, LPOLESTR* names, UINT count, DISPID* ids)
{
    if (!names || !ids) return E_POINTER;
    if (count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (!names[0]) return DISP_E_UNKNOWNNAME;
    for (const DispMember& m : table) {
        if (strcasecmp(m.name, names[0]) == 0) {
            ids[0] = m.id;
            // Argument names are not described.
            return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

void FillExcepInfo(EXCEPINFO* excep, HRESULT scode, std::string_view source, std::string_view description)
{
    if (!excep) return;
    std::memset(excep, 0, sizeof *excep);
    excep->scode = scode;
    excep->bstrSource = SysAllocStringLen(source.data(), static_cast<UINT>(source.size()));
    excep->bstrDescription = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
}

HRESULT DispTableInvoke(DispTable table, IDispatch* self, DISPID id, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* excep, UINT* argErr)
{
    if (!params) return E_INVALIDARG;
    const DispMember* member = nullptr;
    for (const DispMember& m : table)
        if (m.id == id) member = &m;
    if (!member) return DISP_E_MEMBERNOTFOUND;
    const DispArgs args(params, flags);
    if (args.HasOtherNamedArgs()) return DISP_E_NONAMEDARGS;
    DispAdapter adapter = nullptr;
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
        adapter = member->put;
    else if (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))
        adapter = member->get;
    if (!adapter) return DISP_E_MEMBERNOTFOUND;
    if (result) VariantInit(result);
    try {
        return adapter(self, flags, args, result, argErr);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        Trace("Invoke -- %s: %s\n", member->name, e.what());
        FillExcepInfo(excep, E_FAIL, member->name, e.what());
        return DISP_E_EXCEPTION;
    } catch (...) {
        FillExcepInfo(excep, E_FAIL, member->name, "unexpected failure");
        return DISP_E_EXCEPTION;
    }
}

HRESULT DispTableTypeInfo(DispTable table, REFIID iid, std::string_view name, ITypeInfo** out)
{
    std::vector<TypeMember> members;
    members.reserve(table.size());
    for (const DispMember& m : table) {
        WORD kinds = m.get ? static_cast<WORD>(DISPATCH_METHOD | DISPATCH_PROPERTYGET) : WORD{0};
        if (m.put) kinds |= DISPATCH_PROPERTYPUT;
        members.push_back(TypeMember{m.name, m.id, kinds});
    }
    return CreateMemberTypeInfo(iid, name, std::move(members), out);
}

HRESULT DispIdOf(IDispatch* object, std::string_view name, DISPID* id)
{
    if (!object || !id) return E_POINTER;
    std::string copy(name);
    LPOLESTR names[] = {copy.data()};
    return object->GetIDsOfNames(GUID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
}

HRESULT DispInvoke(IDispatch* object, std::string_view name, WORD flags, std::span<const VARIANT> args,
                   VARIANT* result)
{
    DISPID id = DISPID_UNKNOWN;
    if (const HRESULT hr = DispIdOf(object, name, &id); FAILED(hr)) return hr;
    // The callee reads the arguments in reverse order and must not change them.
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID putId = DISPID_PROPERTYPUT;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    DISPPARAMS params{reversed.data(), put ? &putId : nullptr, static_cast<UINT>(reversed.size()),
                      put && !reversed.empty() ? 1u : 0u};
    EXCEPINFO excep{};
    UINT argErr = 0;
    const HRESULT hr = object->Invoke(id, GUID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &excep, &argErr);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    if (hr == DISP_E_EXCEPTION && FAILED(excep.scode)) return excep.scode;
    return hr;
}

HRESULT DispGet(IDispatch* object, std::string_view name, CComVariant& result)
{
    result.Clear();
    return DispInvoke(object, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, &result);
}

HRESULT DispPut(IDispatch* object, std::string_view name, const VARIANT& value)
{
    return DispInvoke(object, name, DISPATCH_PROPERTYPUT, std::span<const VARIANT>(&value, 1), nullptr);
}

HRESULT DispCall(IDispatch* object, std::string_view name, std::initializer_list<CComVariant> args,
                 CComVariant* result)
{
    std::vector<VARIANT> plain(args.begin(), args.end());  // borrowed copies of the caller's values
    if (result) result->Clear();
    return DispInvoke(object, name, DISPATCH_METHOD, plain, result);
}

HRESULT DispGetObject(IDispatch* object, std::string_view name, ComPtr<IDispatch>& out)
{
    out = nullptr;
    CComVariant value;
    if (const HRESULT hr = DispGet(object, name, value); FAILED(hr)) return hr;
    if ((value.vt != VT_DISPATCH && value.vt != VT_UNKNOWN) || !value.punkVal) return DISP_E_TYPEMISMATCH;
    return value.punkVal->QueryInterface(IID_IDispatch, out.AsVoidOut());
}

}  // namespace quillory
