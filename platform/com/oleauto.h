// Automation: BSTR, VARIANT, DISPPARAMS and IDispatch, with the helpers
// that create, copy, convert and free them.
//
// Text is UTF-8 here like every 8-bit string of the system, so an OLECHAR is
// a char and a BSTR is a counted UTF-8 string: a 4-byte byte count stands
// before the characters, which are followed by a NUL that the count leaves
// out. A BSTR may hold NULs; a null BSTR is the empty string.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/unknwn.h"

using OLECHAR = char;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;
using VARTYPE = WORD;
using VARIANT_BOOL = std::int16_t;
using DATE = double;  // days since 1899-12-30, the fraction the time of day
using DISPID = LONG;
using MEMBERID = DISPID;
using LCID = DWORD;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

class IDispatch;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        ULONGLONG ullVal;
        LONG lVal;
        ULONG ulVal;
        BYTE bVal;
        SHORT iVal;
        USHORT uiVal;
        char cVal;
        INT intVal;
        UINT uintVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        // By reference (VT_BYREF | the type).
        LONG* plVal;
        SHORT* piVal;
        VARIANT_BOOL* pboolVal;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        VARIANT* pvarVal;
        void* byref;
    };
};
using VARIANTARG = VARIANT;
using LPVARIANT = VARIANT*;

struct DISPPARAMS {
    VARIANTARG* rgvarg;           // the arguments in reverse order: rgvarg[cArgs - 1] is the first
    DISPID* rgdispidNamedArgs;    // the ids of the first cNamedArgs entries of rgvarg
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

// Invoke flags.
constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

// Reserved dispatch ids.
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_NEWENUM = -4;

// Dispatch errors.
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = static_cast<HRESULT>(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = static_cast<HRESULT>(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = static_cast<HRESULT>(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000B);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = static_cast<HRESULT>(0x8002000F);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = static_cast<HRESULT>(0x8002802B);
constexpr HRESULT TYPE_E_CANTLOADLIBRARY = static_cast<HRESULT>(0x80029C4A);
constexpr HRESULT TYPE_E_INVALIDSTATE = static_cast<HRESULT>(0x80028029);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = static_cast<HRESULT>(0x8002801D);
constexpr HRESULT TYPE_E_REGISTRYACCESS = static_cast<HRESULT>(0x8002801C);

constexpr IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_ITypeInfo = {0x00020401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID IID_ITypeLib = {0x00020402, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class ITypeInfo;

class IDispatch : public IUnknown {
public:
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
};
using LPDISPATCH = IDispatch*;

// ---- BSTR ----
// Null on exhaustion (and for a null psz); the count is taken up to the NUL.
BSTR SysAllocString(const OLECHAR* psz);
// len bytes of psz (which may be null: len NULs then).
BSTR SysAllocStringLen(const OLECHAR* psz, UINT len);
BSTR SysAllocStringByteLen(const char* psz, UINT len);
// Replaces *pbstr; FALSE on exhaustion (then *pbstr is unchanged).
int SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
void SysFreeString(BSTR bstr);
// Bytes, without the NUL; 0 for null.
UINT SysStringLen(BSTR bstr);
UINT SysStringByteLen(BSTR bstr);

// ---- VARIANT ----
void VariantInit(VARIANTARG* pvarg);
// Frees what the variant owns (a BSTR, an interface reference) and empties it;
// by-reference variants own nothing. DISP_E_BADVARTYPE for a type not known.
HRESULT VariantClear(VARIANTARG* pvarg);
// A deep copy: the BSTR duplicated, the interface add-referenced.
HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
// VariantCopy of the referenced value when pvargSrc is by reference.
HRESULT VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
// Converts between the empty, numeric, boolean, date and string types (and
// to VT_UNKNOWN / VT_DISPATCH from an interface). Numbers print and parse in
// the invariant form; a value out of range gives DISP_E_OVERFLOW, text that
// is no number DISP_E_TYPEMISMATCH. pvargDest may equal pvarSrc.
constexpr USHORT VARIANT_NOVALUEPROP = 0x1;
constexpr USHORT VARIANT_ALPHABOOL = 0x2;
HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt);

namespace quillory {

// ---- owning helpers ----

// Holds one BSTR, freed at the end of the scope.
class CComBSTR {
public:
    CComBSTR() = default;
    explicit CComBSTR(std::string_view text);
    CComBSTR(const CComBSTR& o);
    CComBSTR(CComBSTR&& o) noexcept;
    CComBSTR& operator=(CComBSTR o) noexcept;
    ~CComBSTR();

    BSTR Get() const { return bstr_; }
    // For out-parameters: frees what is held and hands out the slot.
    BSTR* operator&();
    BSTR Detach();
    void Attach(BSTR b);
    UINT Length() const { return SysStringLen(bstr_); }
    std::string_view View() const { return {bstr_ ? bstr_ : "", Length()}; }
    std::string Str() const { return std::string(View()); }
    // False when text was given but no string could be made.
    bool Ok() const { return !failed_; }

private:
    BSTR bstr_ = nullptr;
    bool failed_ = false;
};

// A VARIANT cleared at the end of the scope.
class CComVariant : public VARIANT {
public:
    CComVariant() { VariantInit(this); }
    CComVariant(const CComVariant& o);
    CComVariant(const VARIANT& o);
    CComVariant& operator=(const CComVariant& o);
    ~CComVariant() { VariantClear(this); }

    // Constructors for the values automation passes. A string that cannot be
    // allocated leaves the variant VT_ERROR with E_OUTOFMEMORY.
    static CComVariant Long(LONG v);
    static CComVariant Bool(bool v);
    static CComVariant Text(std::string_view v);
    static CComVariant Double(double v);
    static CComVariant Date(DATE v);
    // Adds a reference to the interface.
    static CComVariant Dispatch(IDispatch* v);
    static CComVariant Unknown(IUnknown* v);
    // An optional argument left out: VT_ERROR with DISP_E_PARAMNOTFOUND.
    static CComVariant Missing();
    static CComVariant Error(SCODE sc);

    void Clear() { VariantClear(this); }
    // Moves the value out into *out (which must be empty or initialised).
    void Detach(VARIANT* out);
};

// Whether a variant stands for an optional argument left out.
bool IsMissing(const VARIANT& v);

// Text of a string variant (by reference too); empty for any other type.
std::string_view VariantText(const VARIANT& v);

// DATE and the system's times. A DATE holds days since 1899-12-30 00:00 with
// the time of day as the fraction (negative days count back, the fraction
// still forward); the range is the years 100 to 9999.
}  // namespace quillory

int SystemTimeToVariantTime(const SYSTEMTIME* lpSystemTime, DATE* pvtime);
int VariantTimeToSystemTime(DATE vtime, SYSTEMTIME* lpSystemTime);

namespace quillory {

std::optional<DATE> DateFromFileTime(const FILETIME& ft);
std::optional<FILETIME> FileTimeFromDate(DATE d);

}  // namespace quillory
