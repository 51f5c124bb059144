// VARIANT: initialisation, clearing, copying and conversion.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <strings.h>

#include "platform/com/oleauto.h"

namespace {

bool KnownType(VARTYPE vt)
{
    switch (vt & VT_TYPEMASK) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_DATE: case VT_BSTR:
    case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_VARIANT: case VT_UNKNOWN: case VT_I1: case VT_UI1:
    case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
        return (vt & ~(VT_TYPEMASK | VT_BYREF)) == 0 && (vt != VT_VARIANT);
    default:
        return false;
    }
}

// A source value reduced to one of a few kinds.
struct Value {
    enum class Kind { Empty, Integer, Real, Boolean, Text, Date, Object, Invalid } kind = Kind::Invalid;
    LONGLONG i = 0;
    double r = 0;
    std::string_view text;
    IUnknown* object = nullptr;
};

Value Number(Value::Kind kind, LONGLONG i)
{
    Value v;
    v.kind = kind;
    v.i = i;
    return v;
}

Value Reduce(const VARIANT& v)
{
    Value out;
    using K = Value::Kind;
    const bool ref = (v.vt & VT_BYREF) != 0;
    const VARTYPE t = v.vt & VT_TYPEMASK;
    if (ref && !v.byref) return out;
    switch (t) {
    case VT_EMPTY: out.kind = K::Empty; break;
    case VT_I1: out = Number(K::Integer, ref ? *static_cast<const char*>(v.byref) : v.cVal); break;
    case VT_UI1: out = Number(K::Integer, ref ? *static_cast<const BYTE*>(v.byref) : v.bVal); break;
    case VT_I2: out = Number(K::Integer, ref ? *v.piVal : v.iVal); break;
    case VT_UI2: out = Number(K::Integer, ref ? *static_cast<const USHORT*>(v.byref) : v.uiVal); break;
    case VT_I4: case VT_INT: out = Number(K::Integer, ref ? *v.plVal : v.lVal); break;
    case VT_UI4: case VT_UINT: out = Number(K::Integer, ref ? *static_cast<const ULONG*>(v.byref) : v.ulVal); break;
    case VT_I8: out = Number(K::Integer, ref ? *static_cast<const LONGLONG*>(v.byref) : v.llVal); break;
    case VT_UI8: {
        const ULONGLONG u = ref ? *static_cast<const ULONGLONG*>(v.byref) : v.ullVal;
        if (u > static_cast<ULONGLONG>(std::numeric_limits<LONGLONG>::max())) {
            out.kind = K::Real;
            out.r = static_cast<double>(u);
        } else {
            out = Number(K::Integer, static_cast<LONGLONG>(u));
        }
        break;
    }
    case VT_R4: out.kind = K::Real; out.r = ref ? *static_cast<const float*>(v.byref) : v.fltVal; break;
    case VT_R8: out.kind = K::Real; out.r = ref ? *static_cast<const double*>(v.byref) : v.dblVal; break;
    case VT_DATE: out.kind = K::Date; out.r = ref ? *static_cast<const double*>(v.byref) : v.date; break;
    case VT_BOOL: out = Number(K::Boolean, (ref ? *v.pboolVal : v.boolVal) ? -1 : 0); break;
    case VT_BSTR: {
        BSTR b = ref ? *v.pbstrVal : v.bstrVal;
        out.kind = K::Text;
        out.text = std::string_view(b ? b : "", SysStringLen(b));
        break;
    }
    case VT_UNKNOWN: case VT_DISPATCH:
        out.kind = K::Object;
        out.object = ref ? *v.ppunkVal : v.punkVal;
        break;
    default: break;
    }
    return out;
}

std::string Trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return std::string(s);
}

// Text as a number: an integer when it reads as one, else a real.
HRESULT ParseNumber(std::string_view text, Value& out)
{
    const std::string s = Trimmed(text);
    if (s.empty()) return DISP_E_TYPEMISMATCH;
    char* end = nullptr;
    errno = 0;
    const long long i = std::strtoll(s.c_str(), &end, 10);
    if (*end == '\0') {
        if (errno == ERANGE) return DISP_E_OVERFLOW;
        out.kind = Value::Kind::Integer;
        out.i = i;
        return S_OK;
    }
    errno = 0;
    const double r = std::strtod(s.c_str(), &end);
    if (*end != '\0' || !std::isfinite(r)) return DISP_E_TYPEMISMATCH;
    if (errno == ERANGE && std::fabs(r) > 1) return DISP_E_OVERFLOW;
    out.kind = Value::Kind::Real;
    out.r = r;
    return S_OK;
}

HRESULT ParseDateText(std::string_view text, double& out)
{
    const std::string s = Trimmed(text);
    SYSTEMTIME st{};
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, used = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) == 3) {
        const char* rest = s.c_str() + used;
        int more = 0;
        if (*rest && std::sscanf(rest, " %2d:%2d%n", &h, &mi, &more) == 2) {
            rest += more;
            if (*rest == ':' && std::sscanf(rest, ":%2d%n", &sec, &more) == 1) rest += more;
        }
        if (*rest) return DISP_E_TYPEMISMATCH;
        st = SYSTEMTIME{static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(d),
                        static_cast<WORD>(h), static_cast<WORD>(mi), static_cast<WORD>(sec), 0};
        return SystemTimeToVariantTime(&st, &out) ? S_OK : DISP_E_TYPEMISMATCH;
    }
    Value n;
    if (const HRESULT hr = ParseNumber(s, n); FAILED(hr)) return hr;
    out = n.kind == Value::Kind::Integer ? static_cast<double>(n.i) : n.r;
    return S_OK;
}

std::string DateText(double d)
{
    SYSTEMTIME st{};
    if (!VariantTimeToSystemTime(d, &st)) return {};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond);
    return buf;
}

std::string RealText(double r)
{
    char buf[40];
    for (int precision = 15; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, r);
        if (std::strtod(buf, nullptr) == r) break;
    }
    return buf;
}

// Rounds half to even, as automation does.
HRESULT RealToInteger(double r, LONGLONG& out)
{
    if (!std::isfinite(r)) return DISP_E_OVERFLOW;
    const double rounded = std::nearbyint(r);
    if (rounded < -9.2233720368547758e18 || rounded >= 9.2233720368547758e18) return DISP_E_OVERFLOW;
    out = static_cast<LONGLONG>(rounded);
    return S_OK;
}

template <class T>
HRESULT Fit(LONGLONG v, T& out)
{
    if (v < static_cast<LONGLONG>(std::numeric_limits<T>::min()) ||
        (v > 0 && static_cast<ULONGLONG>(v) > static_cast<ULONGLONG>(std::numeric_limits<T>::max())))
        return DISP_E_OVERFLOW;
    out = static_cast<T>(v);
    return S_OK;
}

HRESULT AsInteger(const Value& v, LONGLONG& out)
{
    using K = Value::Kind;
    switch (v.kind) {
    case K::Empty: out = 0; return S_OK;
    case K::Integer: case K::Boolean: out = v.i; return S_OK;
    case K::Real: case K::Date: return RealToInteger(v.r, out);
    case K::Text: {
        Value n;
        if (const HRESULT hr = ParseNumber(v.text, n); FAILED(hr)) return hr;
        return AsInteger(n, out);
    }
    default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT AsReal(const Value& v, double& out)
{
    using K = Value::Kind;
    switch (v.kind) {
    case K::Empty: out = 0; return S_OK;
    case K::Integer: case K::Boolean: out = static_cast<double>(v.i); return S_OK;
    case K::Real: case K::Date: out = v.r; return S_OK;
    case K::Text: {
        Value n;
        if (const HRESULT hr = ParseNumber(v.text, n); FAILED(hr)) return hr;
        return AsReal(n, out);
    }
    default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT AsBool(const Value& v, bool& out)
{
    if (v.kind == Value::Kind::Text) {
        const std::string s = Trimmed(v.text);
        if (strcasecmp(s.c_str(), "true") == 0) return out = true, S_OK;
        if (strcasecmp(s.c_str(), "false") == 0) return out = false, S_OK;
    }
    double r = 0;
    if (const HRESULT hr = AsReal(v, r); FAILED(hr)) return hr;
    out = r != 0;
    return S_OK;
}

HRESULT AsText(const Value& v, USHORT flags, std::string& out)
{
    using K = Value::Kind;
    switch (v.kind) {
    case K::Empty: out.clear(); return S_OK;
    case K::Integer: out = std::to_string(v.i); return S_OK;
    case K::Boolean:
        out = (flags & VARIANT_ALPHABOOL) ? (v.i ? "True" : "False") : (v.i ? "-1" : "0");
        return S_OK;
    case K::Real: out = RealText(v.r); return S_OK;
    case K::Date: out = DateText(v.r); return out.empty() ? DISP_E_OVERFLOW : S_OK;
    case K::Text: out = std::string(v.text); return S_OK;
    default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT Convert(const Value& v, USHORT flags, VARTYPE vt, VARIANT& out)
{
    VariantInit(&out);
    LONGLONG i = 0;
    HRESULT hr = S_OK;
    switch (vt) {
    case VT_EMPTY:
        return S_OK;
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_INT: case VT_UI4: case VT_UINT:
    case VT_I8: case VT_UI8:
        if (FAILED(hr = AsInteger(v, i))) return hr;
        switch (vt) {
        case VT_I1: hr = Fit(i, out.cVal); break;
        case VT_UI1: hr = Fit(i, out.bVal); break;
        case VT_I2: hr = Fit(i, out.iVal); break;
        case VT_UI2: hr = Fit(i, out.uiVal); break;
        case VT_I4: case VT_INT: hr = Fit(i, out.lVal); break;
        case VT_UI4: case VT_UINT: hr = Fit(i, out.ulVal); break;
        case VT_I8: out.llVal = i; break;
        default: hr = i < 0 ? DISP_E_OVERFLOW : S_OK; out.ullVal = static_cast<ULONGLONG>(i); break;
        }
        break;
    case VT_R4: {
        double r = 0;
        if (FAILED(hr = AsReal(v, r))) return hr;
        if (std::fabs(r) > std::numeric_limits<float>::max()) return DISP_E_OVERFLOW;
        out.fltVal = static_cast<float>(r);
        break;
    }
    case VT_R8:
        hr = AsReal(v, out.dblVal);
        break;
    case VT_DATE:
        if (v.kind == Value::Kind::Text) {
            hr = ParseDateText(v.text, out.date);
        } else {
            hr = AsReal(v, out.date);
        }
        if (SUCCEEDED(hr)) {
            SYSTEMTIME st{};
            if (!VariantTimeToSystemTime(out.date, &st)) hr = DISP_E_OVERFLOW;
        }
        break;
    case VT_BOOL: {
        bool b = false;
        hr = AsBool(v, b);
        out.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    }
    case VT_BSTR: {
        std::string text;
        if (FAILED(hr = AsText(v, flags, text))) return hr;
        out.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!out.bstrVal) return E_OUTOFMEMORY;
        break;
    }
    case VT_UNKNOWN: case VT_DISPATCH: {
        if (v.kind != Value::Kind::Object || !v.object) return DISP_E_TYPEMISMATCH;
        void* p = nullptr;
        hr = v.object->QueryInterface(vt == VT_UNKNOWN ? IID_IUnknown : IID_IDispatch, &p);
        if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
        out.punkVal = static_cast<IUnknown*>(p);
        break;
    }
    default:
        return DISP_E_BADVARTYPE;
    }
    if (FAILED(hr)) return hr;
    out.vt = vt;
    return S_OK;
}

}  // namespace

void VariantInit(VARIANTARG* pvarg)
{
    if (!pvarg) return;
    std::memset(static_cast<void*>(pvarg), 0, sizeof(VARIANT));
    pvarg->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* pvarg)
{
    if (!pvarg) return E_INVALIDARG;
    if (!(pvarg->vt & VT_BYREF)) {
        switch (pvarg->vt) {
        case VT_BSTR: SysFreeString(pvarg->bstrVal); break;
        case VT_UNKNOWN: case VT_DISPATCH:
            if (pvarg->punkVal) pvarg->punkVal->Release();
            break;
        default:
            if (!KnownType(pvarg->vt)) return DISP_E_BADVARTYPE;
            break;
        }
    } else if (!KnownType(pvarg->vt) && pvarg->vt != (VT_BYREF | VT_VARIANT)) {
        return DISP_E_BADVARTYPE;
    }
    VariantInit(pvarg);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc)
{
    if (!pvargDest || !pvargSrc) return E_INVALIDARG;
    if (pvargDest == pvargSrc) return S_OK;
    if (!KnownType(pvargSrc->vt) && pvargSrc->vt != (VT_BYREF | VT_VARIANT)) return DISP_E_BADVARTYPE;
    VARIANT copy = *pvargSrc;
    if (copy.vt == VT_BSTR && pvargSrc->bstrVal) {
        copy.bstrVal = SysAllocStringLen(pvargSrc->bstrVal, SysStringLen(pvargSrc->bstrVal));
        if (!copy.bstrVal) return E_OUTOFMEMORY;
    } else if ((copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) && copy.punkVal) {
        copy.punkVal->AddRef();
    }
    if (const HRESULT hr = VariantClear(pvargDest); FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *pvargDest = copy;
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc)
{
    if (!pvarDest || !pvargSrc) return E_INVALIDARG;
    if (!(pvargSrc->vt & VT_BYREF)) return VariantCopy(pvarDest, pvargSrc);
    if (!pvargSrc->byref) return E_INVALIDARG;
    if (pvargSrc->vt == (VT_BYREF | VT_VARIANT)) return VariantCopyInd(pvarDest, pvargSrc->pvarVal);
    VARIANT value;
    VariantInit(&value);
    value.vt = pvargSrc->vt & VT_TYPEMASK;
    switch (value.vt) {
    case VT_I1: case VT_UI1: value.bVal = *static_cast<const BYTE*>(pvargSrc->byref); break;
    case VT_I2: case VT_UI2: case VT_BOOL: value.iVal = *pvargSrc->piVal; break;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: case VT_R4:
        std::memcpy(&value.lVal, pvargSrc->byref, 4);
        break;
    case VT_I8: case VT_UI8: case VT_R8: case VT_DATE: std::memcpy(&value.llVal, pvargSrc->byref, 8); break;
    case VT_BSTR: value.bstrVal = *pvargSrc->pbstrVal; break;
    case VT_UNKNOWN: case VT_DISPATCH: value.punkVal = *pvargSrc->ppunkVal; break;
    default: return DISP_E_BADVARTYPE;
    }
    // The referenced value is borrowed; VariantCopy takes its own.
    VARIANT out;
    VariantInit(&out);
    if (const HRESULT hr = VariantCopy(&out, &value); FAILED(hr)) return hr;
    VariantClear(pvarDest);
    *pvarDest = out;
    return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt)
{
    if (!pvargDest || !pvarSrc) return E_INVALIDARG;
    const VARIANT* src = pvarSrc;
    if (src->vt == (VT_BYREF | VT_VARIANT)) {
        if (!src->pvarVal) return E_INVALIDARG;
        src = src->pvarVal;
    }
    if (src->vt == vt && !(vt & VT_BYREF)) return VariantCopy(pvargDest, src);
    const Value value = Reduce(*src);
    if (value.kind == Value::Kind::Invalid) return (src->vt == VT_NULL || src->vt == VT_ERROR) ? DISP_E_TYPEMISMATCH
                                                                                                : DISP_E_BADVARTYPE;
    VARIANT out;
    if (const HRESULT hr = Convert(value, wFlags, vt, out); FAILED(hr)) return hr;
    if (const HRESULT hr = VariantClear(pvargDest); FAILED(hr)) {
        VariantClear(&out);
        return hr;
    }
    *pvargDest = out;
    return S_OK;
}

namespace quillory {

CComVariant::CComVariant(const CComVariant& o) : CComVariant() { VariantCopy(this, &o); }

CComVariant::CComVariant(const VARIANT& o) : CComVariant() { VariantCopy(this, &o); }

CComVariant& CComVariant::operator=(const CComVariant& o)
{
    if (this != &o) VariantCopy(this, &o);
    return *this;
}

CComVariant CComVariant::Long(LONG v)
{
    CComVariant c;
    c.vt = VT_I4;
    c.lVal = v;
    return c;
}

CComVariant CComVariant::Bool(bool v)
{
    CComVariant c;
    c.vt = VT_BOOL;
    c.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
    return c;
}

CComVariant CComVariant::Text(std::string_view v)
{
    CComVariant c;
    BSTR b = v.size() <= std::numeric_limits<UINT>::max() ? SysAllocStringLen(v.data(), static_cast<UINT>(v.size()))
                                                          : nullptr;
    if (!b) return Error(E_OUTOFMEMORY);
    c.vt = VT_BSTR;
    c.bstrVal = b;
    return c;
}

CComVariant CComVariant::Double(double v)
{
    CComVariant c;
    c.vt = VT_R8;
    c.dblVal = v;
    return c;
}

CComVariant CComVariant::Date(DATE v)
{
    CComVariant c;
    c.vt = VT_DATE;
    c.date = v;
    return c;
}

CComVariant CComVariant::Dispatch(IDispatch* v)
{
    CComVariant c;
    c.vt = VT_DISPATCH;
    c.pdispVal = v;
    if (v) v->AddRef();
    return c;
}

CComVariant CComVariant::Unknown(IUnknown* v)
{
    CComVariant c;
    c.vt = VT_UNKNOWN;
    c.punkVal = v;
    if (v) v->AddRef();
    return c;
}

CComVariant CComVariant::Missing() { return Error(DISP_E_PARAMNOTFOUND); }

CComVariant CComVariant::Error(SCODE sc)
{
    CComVariant c;
    c.vt = VT_ERROR;
    c.scode = sc;
    return c;
}

void CComVariant::Detach(VARIANT* out)
{
    VariantClear(out);
    *out = *this;
    VariantInit(this);
}

bool IsMissing(const VARIANT& v) { return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND; }

std::string_view VariantText(const VARIANT& v)
{
    if (v.vt == VT_BSTR) return {v.bstrVal ? v.bstrVal : "", SysStringLen(v.bstrVal)};
    if (v.vt == (VT_BYREF | VT_BSTR) && v.pbstrVal)
        return {*v.pbstrVal ? *v.pbstrVal : "", SysStringLen(*v.pbstrVal)};
    if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal) return VariantText(*v.pvarVal);
    return {};
}

}  // namespace quillory
