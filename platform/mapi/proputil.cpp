#include "platform/mapi/proputil.h"

#include <algorithm>
#include <cstring>
#include <limits>


namespace {

constexpr ULONGLONG Align8(ULONGLONG n) { return (n + 7) & ~ULONGLONG{7}; }

// Hands out consecutive 8-byte aligned pieces of a block already sized by
// CountData.
class Bump {
public:
    explicit Bump(void* base) : p_(static_cast<BYTE*>(base)) {}
    void* Take(ULONGLONG cb)
    {
        void* r = p_;
        p_ += Align8(cb);
        return r;
    }
    BYTE* Pos() const { return p_; }

private:
    BYTE* p_;
};

// Whether the value's data lives behind a pointer.
bool HasData(ULONG type)
{
    return type == PT_STRING8 || type == PT_BINARY || type == PT_CLSID || (type & MV_FLAG) != 0;
}

// Bytes (8-byte aligned pieces) of the data behind one value.
SCODE CountData(const SPropValue& v, ULONGLONG& cb)
{
    const ULONG type = PROP_TYPE(v.ulPropTag);
    if (!quillory::IsKnownPropType(type)) return MAPI_E_INVALID_PARAMETER;
    switch (type) {
    case PT_STRING8:
        if (!v.Value.lpszA) return MAPI_E_INVALID_PARAMETER;
        cb += Align8(std::strlen(v.Value.lpszA) + 1);
        break;
    case PT_BINARY:
        if (!v.Value.bin.lpb && v.Value.bin.cb) return MAPI_E_INVALID_PARAMETER;
        cb += Align8(v.Value.bin.cb);
        break;
    case PT_CLSID:
        if (!v.Value.lpguid) return MAPI_E_INVALID_PARAMETER;
        cb += Align8(sizeof(GUID));
        break;
    case PT_MV_I2:
        if (!v.Value.MVi.lpi && v.Value.MVi.cValues) return MAPI_E_INVALID_PARAMETER;
        cb += Align8(ULONGLONG{v.Value.MVi.cValues} * sizeof(short));
        break;
    case PT_MV_LONG:
        if (!v.Value.MVl.lpl && v.Value.MVl.cValues) return MAPI_E_INVALID_PARAMETER;
        cb += Align8(ULONGLONG{v.Value.MVl.cValues} * sizeof(LONG));
        break;
    case PT_MV_STRING8: {
        const SLPSTRArray& a = v.Value.MVszA;
        if (!a.lppszA && a.cValues) return MAPI_E_INVALID_PARAMETER;
        cb += Align8(ULONGLONG{a.cValues} * sizeof(LPSTR));
        for (ULONG i = 0; i < a.cValues; ++i) {
            if (!a.lppszA[i]) return MAPI_E_INVALID_PARAMETER;
            cb += Align8(std::strlen(a.lppszA[i]) + 1);
        }
        break;
    }
    case PT_MV_BINARY: {
        const SBinaryArray& a = v.Value.MVbin;
        if (!a.lpbin && a.cValues) return MAPI_E_INVALID_PARAMETER;
        cb += Align8(ULONGLONG{a.cValues} * sizeof(SBinary));
        for (ULONG i = 0; i < a.cValues; ++i) {
            if (!a.lpbin[i].lpb && a.lpbin[i].cb) return MAPI_E_INVALID_PARAMETER;
            cb += Align8(a.lpbin[i].cb);
        }
        break;
    }
    default:
        break;  // the value is held in place
    }
    // A copy must fit one allocation, whose size is a ULONG.
    if (cb > std::numeric_limits<ULONG>::max()) return MAPI_E_NOT_ENOUGH_MEMORY;
    return S_OK;
}

// Copies src into dst, taking the data from the bump block. src has passed
// CountData. dst may be src's own slot only when it is a separate copy.
void CopyData(const SPropValue& src, SPropValue& dst, Bump& mem)
{
    const SPropValue s = src;
    dst = s;
    switch (PROP_TYPE(s.ulPropTag)) {
    case PT_STRING8: {
        const std::size_t n = std::strlen(s.Value.lpszA) + 1;
        dst.Value.lpszA = static_cast<char*>(mem.Take(n));
        std::memcpy(dst.Value.lpszA, s.Value.lpszA, n);
        break;
    }
    case PT_BINARY:
        if (s.Value.bin.lpb) {
            dst.Value.bin.lpb = static_cast<BYTE*>(mem.Take(s.Value.bin.cb));
            if (s.Value.bin.cb) std::memcpy(dst.Value.bin.lpb, s.Value.bin.lpb, s.Value.bin.cb);
        }
        break;
    case PT_CLSID:
        dst.Value.lpguid = static_cast<GUID*>(mem.Take(sizeof(GUID)));
        std::memcpy(dst.Value.lpguid, s.Value.lpguid, sizeof(GUID));
        break;
    case PT_MV_I2:
        if (s.Value.MVi.lpi) {
            const std::size_t n = std::size_t{s.Value.MVi.cValues} * sizeof(short);
            dst.Value.MVi.lpi = static_cast<short*>(mem.Take(n));
            if (n) std::memcpy(dst.Value.MVi.lpi, s.Value.MVi.lpi, n);
        }
        break;
    case PT_MV_LONG:
        if (s.Value.MVl.lpl) {
            const std::size_t n = std::size_t{s.Value.MVl.cValues} * sizeof(LONG);
            dst.Value.MVl.lpl = static_cast<LONG*>(mem.Take(n));
            if (n) std::memcpy(dst.Value.MVl.lpl, s.Value.MVl.lpl, n);
        }
        break;
    case PT_MV_STRING8:
        if (s.Value.MVszA.lppszA) {
            const ULONG c = s.Value.MVszA.cValues;
            auto* arr = static_cast<LPSTR*>(mem.Take(std::size_t{c} * sizeof(LPSTR)));
            for (ULONG i = 0; i < c; ++i) {
                const std::size_t n = std::strlen(s.Value.MVszA.lppszA[i]) + 1;
                arr[i] = static_cast<char*>(mem.Take(n));
                std::memcpy(arr[i], s.Value.MVszA.lppszA[i], n);
            }
            dst.Value.MVszA.lppszA = arr;
        }
        break;
    case PT_MV_BINARY:
        if (s.Value.MVbin.lpbin) {
            const ULONG c = s.Value.MVbin.cValues;
            auto* arr = static_cast<SBinary*>(mem.Take(std::size_t{c} * sizeof(SBinary)));
            for (ULONG i = 0; i < c; ++i) {
                const SBinary& b = s.Value.MVbin.lpbin[i];
                arr[i].cb = b.cb;
                arr[i].lpb = nullptr;
                if (b.lpb) {
                    arr[i].lpb = static_cast<BYTE*>(mem.Take(b.cb));
                    if (b.cb) std::memcpy(arr[i].lpb, b.lpb, b.cb);
                }
            }
            dst.Value.MVbin.lpbin = arr;
        }
        break;
    default:
        break;
    }
}

SCODE CountAll(int cValues, const SPropValue* props, ULONGLONG& cb)
{
    if (cValues < 0 || (cValues > 0 && !props)) return MAPI_E_INVALID_PARAMETER;
    cb = Align8(ULONGLONG(cValues) * sizeof(SPropValue));
    for (int i = 0; i < cValues; ++i) {
        if (const SCODE sc = CountData(props[i], cb); FAILED(sc)) return sc;
    }
    return S_OK;
}

template <class Less>
int Order(const Less& a, const Less& b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareBytes(const BYTE* a, ULONG ca, const BYTE* b, ULONG cb)
{
    const ULONG n = std::min(ca, cb);
    if (n) {
        if (const int r = std::memcmp(a, b, n); r != 0) return r < 0 ? -1 : 1;
    }
    return Order(ca, cb);
}

unsigned char Fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

int CompareStrings(const char* a, const char* b, bool ignoreCase)
{
    const auto* pa = reinterpret_cast<const unsigned char*>(a ? a : "");
    const auto* pb = reinterpret_cast<const unsigned char*>(b ? b : "");
    for (;; ++pa, ++pb) {
        const unsigned char ca = ignoreCase ? Fold(*pa) : *pa;
        const unsigned char cb = ignoreCase ? Fold(*pb) : *pb;
        if (ca != cb) return ca < cb ? -1 : 1;
        if (!ca) return 0;
    }
}

ULONGLONG Ticks(const FILETIME& ft) { return (ULONGLONG{ft.dwHighDateTime} << 32) | ft.dwLowDateTime; }

// Partial order of floating values; NaN ties with everything.
int CompareDouble(double a, double b) { return a < b ? -1 : (a > b ? 1 : 0); }

}  // namespace

SCODE ScCountProps(int cValues, LPSPropValue lpPropArray, ULONG* lpcb)
{
    ULONGLONG cb = 0;
    if (const SCODE sc = CountAll(cValues, lpPropArray, cb); FAILED(sc)) return sc;
    if (lpcb) *lpcb = static_cast<ULONG>(cb);
    return S_OK;
}

SCODE ScCopyProps(int cValues, LPSPropValue lpPropArray, void* lpvDst, ULONG* lpcb)
{
    ULONGLONG cb = 0;
    if (const SCODE sc = CountAll(cValues, lpPropArray, cb); FAILED(sc)) return sc;
    if (!lpvDst) return MAPI_E_INVALID_PARAMETER;
    auto* dst = static_cast<SPropValue*>(lpvDst);
    Bump mem(lpvDst);
    mem.Take(ULONGLONG(cValues) * sizeof(SPropValue));
    for (int i = 0; i < cValues; ++i) CopyData(lpPropArray[i], dst[i], mem);
    if (lpcb) *lpcb = static_cast<ULONG>(mem.Pos() - static_cast<BYTE*>(lpvDst));
    return S_OK;
}

SCODE ScDupPropset(int cValues, LPSPropValue lpPropArray, LPALLOCATEBUFFER lpAllocateBuffer,
                   LPSPropValue* lppPropArray)
{
    if (!lppPropArray || !lpAllocateBuffer) return MAPI_E_INVALID_PARAMETER;
    *lppPropArray = nullptr;
    ULONG cb = 0;
    if (const SCODE sc = ScCountProps(cValues, lpPropArray, &cb); FAILED(sc)) return sc;
    void* block = nullptr;
    if (const SCODE sc = lpAllocateBuffer(cb, &block); FAILED(sc)) return sc;
    if (!block) return MAPI_E_NOT_ENOUGH_MEMORY;
    ScCopyProps(cValues, lpPropArray, block, nullptr);  // cannot fail after a good count
    *lppPropArray = static_cast<LPSPropValue>(block);
    return S_OK;
}

SCODE PropCopyMore(LPSPropValue lpDest, LPSPropValue lpSrc, LPALLOCATEMORE lpfAllocMore, void* lpvObject)
{
    if (!lpDest || !lpSrc || !lpfAllocMore) return MAPI_E_INVALID_PARAMETER;
    ULONGLONG cb = 0;
    if (const SCODE sc = CountData(*lpSrc, cb); FAILED(sc)) return sc;
    if (!HasData(PROP_TYPE(lpSrc->ulPropTag))) {
        *lpDest = *lpSrc;
        return S_OK;
    }
    // One chained block carries all of the value's data.
    void* block = nullptr;
    if (const SCODE sc = lpfAllocMore(static_cast<ULONG>(cb), lpvObject, &block); FAILED(sc)) return sc;
    if (!block) return MAPI_E_NOT_ENOUGH_MEMORY;
    Bump mem(block);
    CopyData(*lpSrc, *lpDest, mem);
    return S_OK;
}

LPSPropValue PpropFindProp(LPSPropValue lpPropArray, ULONG cValues, ULONG ulPropTag)
{
    if (!lpPropArray) return nullptr;
    const bool byId = PROP_TYPE(ulPropTag) == PT_UNSPECIFIED;
    for (ULONG i = 0; i < cValues; ++i) {
        const ULONG tag = lpPropArray[i].ulPropTag;
        if (tag == ulPropTag || (byId && PROP_ID(tag) == PROP_ID(ulPropTag))) return &lpPropArray[i];
    }
    return nullptr;
}

LPSPropValue LpValFindProp(ULONG ulPropTag, ULONG cValues, LPSPropValue lpPropArray)
{
    if (!lpPropArray) return nullptr;
    for (ULONG i = 0; i < cValues; ++i) {
        if (PROP_ID(lpPropArray[i].ulPropTag) == PROP_ID(ulPropTag)) return &lpPropArray[i];
    }
    return nullptr;
}

HRESULT HrGetOneProp(LPMAPIPROP lpMapiProp, ULONG ulPropTag, LPSPropValue* lppProp)
{
    if (!lpMapiProp || !lppProp) return MAPI_E_INVALID_PARAMETER;
    *lppProp = nullptr;
    SizedSPropTagArray<1> tags{1, {ulPropTag}};
    ULONG count = 0;
    quillory::MapiBuffer<SPropValue> values;
    const HRESULT hr = lpMapiProp->GetProps(tags.AsTagArray(), 0, &count, &values);
    if (FAILED(hr)) return hr;
    if (!values || count < 1) return MAPI_E_NOT_FOUND;
    if (PROP_TYPE(values->ulPropTag) == PT_ERROR) {
        return FAILED(values->Value.err) ? values->Value.err : MAPI_E_NOT_FOUND;
    }
    *lppProp = values.Release();
    return S_OK;
}

HRESULT HrSetOneProp(LPMAPIPROP lpMapiProp, LPSPropValue lpProp)
{
    if (!lpMapiProp || !lpProp) return MAPI_E_INVALID_PARAMETER;
    quillory::MapiBuffer<SPropProblemArray> problems;
    const HRESULT hr = lpMapiProp->SetProps(1, lpProp, &problems);
    if (FAILED(hr)) return hr;
    if (problems && problems->cProblem > 0) return problems->aProblem[0].scode;
    return S_OK;
}

BOOL FPropExists(LPMAPIPROP lpMapiProp, ULONG ulPropTag)
{
    if (!lpMapiProp) return FALSE;
    quillory::MapiBuffer<SPropTagArray> tags;
    if (FAILED(lpMapiProp->GetPropList(0, &tags)) || !tags) return FALSE;
    const bool byId = PROP_TYPE(ulPropTag) == PT_UNSPECIFIED;
    for (ULONG i = 0; i < tags->cValues; ++i) {
        const ULONG tag = tags->aulPropTag[i];
        if (tag == ulPropTag || (byId && PROP_ID(tag) == PROP_ID(ulPropTag))) return TRUE;
    }
    return FALSE;
}

namespace quillory {

bool IsKnownPropType(ULONG ulPropType)
{
    switch (ulPropType) {
    case PT_NULL:
    case PT_I2:
    case PT_LONG:
    case PT_R4:
    case PT_DOUBLE:
    case PT_CURRENCY:
    case PT_APPTIME:
    case PT_ERROR:
    case PT_BOOLEAN:
    case PT_OBJECT:
    case PT_I8:
    case PT_STRING8:
    case PT_SYSTIME:
    case PT_CLSID:
    case PT_BINARY:
    case PT_MV_I2:
    case PT_MV_LONG:
    case PT_MV_STRING8:
    case PT_MV_BINARY:
        return true;
    default:
        return false;  // PT_UNICODE and the other multi-value types have no member here
    }
}

SCODE CopyRow(const SRow& src, SRow* out)
{
    if (!out) return MAPI_E_INVALID_PARAMETER;
    out->ulAdrEntryPad = src.ulAdrEntryPad;
    out->cValues = 0;
    out->lpProps = nullptr;
    if (src.cValues > static_cast<ULONG>(std::numeric_limits<int>::max())) return MAPI_E_INVALID_PARAMETER;
    LPSPropValue copy = nullptr;
    const SCODE sc = ScDupPropset(static_cast<int>(src.cValues), src.lpProps, MAPIAllocateBuffer, &copy);
    if (FAILED(sc)) return sc;
    out->cValues = src.cValues;
    out->lpProps = copy;
    return S_OK;
}

MapiBuffer<SPropTagArray> MakeTagArray(std::initializer_list<ULONG> tags)
{
    MapiBuffer<SPropTagArray> out;
    const auto n = static_cast<ULONG>(tags.size());
    if (FAILED(MAPIAllocateBuffer(CbNewSPropTagArray(n), out.AsVoidOut()))) return {};
    out->cValues = n;
    ULONG i = 0;
    for (ULONG tag : tags) out->aulPropTag[i++] = tag;
    return out;
}

int ComparePropValues(const SPropValue& a, const SPropValue& b, bool ignoreCase)
{
    const ULONG ta = PROP_TYPE(a.ulPropTag);
    const ULONG tb = PROP_TYPE(b.ulPropTag);
    if (ta != tb) return Order(ta, tb);
    const PV& x = a.Value;
    const PV& y = b.Value;
    switch (ta) {
    case PT_I2:
        return Order(x.i, y.i);
    case PT_LONG:
        return Order(x.l, y.l);
    case PT_R4:
        return CompareDouble(x.flt, y.flt);
    case PT_DOUBLE:
    case PT_APPTIME:
        return CompareDouble(x.dbl, y.dbl);
    case PT_CURRENCY:
        return Order(x.cur.int64, y.cur.int64);
    case PT_I8:
        return Order(x.li.QuadPart, y.li.QuadPart);
    case PT_SYSTIME:
        return Order(Ticks(x.ft), Ticks(y.ft));
    case PT_BOOLEAN:
        return Order(x.b != 0, y.b != 0);
    case PT_ERROR:
        return Order(static_cast<ULONG>(x.err), static_cast<ULONG>(y.err));
    case PT_STRING8:
        return CompareStrings(x.lpszA, y.lpszA, ignoreCase);
    case PT_BINARY:
        return CompareBytes(x.bin.lpb, x.bin.cb, y.bin.lpb, y.bin.cb);
    case PT_CLSID:
        if (!x.lpguid || !y.lpguid) return Order(x.lpguid != nullptr, y.lpguid != nullptr);
        return CompareBytes(reinterpret_cast<const BYTE*>(x.lpguid), sizeof(GUID),
                            reinterpret_cast<const BYTE*>(y.lpguid), sizeof(GUID));
    case PT_MV_I2:
    case PT_MV_LONG:
    case PT_MV_STRING8:
    case PT_MV_BINARY: {
        // All four arrays start with their count.
        const ULONG ca = x.MVl.cValues;
        const ULONG cb = y.MVl.cValues;
        for (ULONG i = 0; i < std::min(ca, cb); ++i) {
            int r = 0;
            if (ta == PT_MV_I2) r = Order(x.MVi.lpi[i], y.MVi.lpi[i]);
            else if (ta == PT_MV_LONG) r = Order(x.MVl.lpl[i], y.MVl.lpl[i]);
            else if (ta == PT_MV_STRING8) r = CompareStrings(x.MVszA.lppszA[i], y.MVszA.lppszA[i], ignoreCase);
            else r = CompareBytes(x.MVbin.lpbin[i].lpb, x.MVbin.lpbin[i].cb, y.MVbin.lpbin[i].lpb, y.MVbin.lpbin[i].cb);
            if (r) return r;
        }
        return Order(ca, cb);
    }
    default:
        return 0;  // PT_NULL, PT_OBJECT: no value to order
    }
}

}  // namespace quillory
