#include "platform/mapi/propobj.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "platform/base/trace.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/proputil.h"

namespace quillory {

namespace {

// Copies a string into the chain of lpBase.
SCODE ChainString(std::string_view text, void* lpBase, LPSTR* out)
{
    void* p = nullptr;
    if (const SCODE sc = MAPIAllocateMore(static_cast<ULONG>(text.size() + 1), lpBase, &p); FAILED(sc)) return sc;
    std::memcpy(p, text.data(), text.size());
    static_cast<char*>(p)[text.size()] = '\0';
    *out = static_cast<LPSTR>(p);
    return S_OK;
}

std::string DescribeCode(HRESULT hr)
{
    switch (hr) {
    case S_OK: return "No error";
    case MAPI_E_NOT_FOUND: return "The property or object was not found";
    case MAPI_E_NO_SUPPORT: return "The object does not support this operation";
    case MAPI_E_NO_ACCESS: return "The object was opened read-only";
    case MAPI_E_COMPUTED: return "The property is computed and cannot be changed";
    case MAPI_E_INVALID_TYPE: return "The property type is not valid here";
    case MAPI_E_BAD_VALUE: return "The property value is not valid";
    case MAPI_E_INVALID_PARAMETER: return "A parameter is not valid";
    case MAPI_E_UNKNOWN_FLAGS: return "The call was given flags it does not know";
    case MAPI_E_BAD_CHARWIDTH: return "Only 8-bit strings are supported";
    case MAPI_E_NOT_ENOUGH_MEMORY: return "Not enough memory";
    case MAPI_E_INTERFACE_NOT_SUPPORTED: return "The destination does not support the interface";
    default: break;
    }
    char buf[48];
    std::snprintf(buf, sizeof buf, "MAPI error 0x%08X", static_cast<unsigned>(hr));
    return buf;
}

bool TagMatches(ULONG wanted, ULONG tag)
{
    return wanted == tag || (PROP_TYPE(wanted) == PT_UNSPECIFIED && PROP_ID(wanted) == PROP_ID(tag));
}

bool InTagArray(const SPropTagArray* tags, ULONG tag)
{
    if (!tags) return false;
    for (ULONG i = 0; i < tags->cValues; ++i) {
        if (TagMatches(tags->aulPropTag[i], tag)) return true;
    }
    return false;
}

}  // namespace

// ---- CPropertyBag ----------------------------------------------------------------

SCODE CPropertyBag::Set(const SPropValue& value)
{
    const ULONG type = PROP_TYPE(value.ulPropTag);
    if (type == PT_UNSPECIFIED || !IsKnownPropType(type)) return MAPI_E_INVALID_TYPE;
    LPSPropValue copy = nullptr;
    const SCODE sc = ScDupPropset(1, const_cast<LPSPropValue>(&value), MAPIAllocateBuffer, &copy);
    if (sc == MAPI_E_INVALID_PARAMETER) return MAPI_E_BAD_VALUE;  // data pointer missing
    if (FAILED(sc)) return sc;
    values_.insert_or_assign(value.ulPropTag, std::unique_ptr<SPropValue, FreeValue>(copy));
    return S_OK;
}

const SPropValue* CPropertyBag::Find(ULONG ulPropTag) const
{
    if (PROP_TYPE(ulPropTag) == PT_UNSPECIFIED) {
        auto it = values_.lower_bound(PROP_TAG(PT_UNSPECIFIED, PROP_ID(ulPropTag)));
        if (it != values_.end() && PROP_ID(it->first) == PROP_ID(ulPropTag)) return it->second.get();
        return nullptr;
    }
    auto it = values_.find(ulPropTag);
    return it == values_.end() ? nullptr : it->second.get();
}

ULONG CPropertyBag::Delete(ULONG ulPropTag)
{
    if (PROP_TYPE(ulPropTag) != PT_UNSPECIFIED) return static_cast<ULONG>(values_.erase(ulPropTag));
    ULONG removed = 0;
    auto it = values_.lower_bound(PROP_TAG(PT_UNSPECIFIED, PROP_ID(ulPropTag)));
    while (it != values_.end() && PROP_ID(it->first) == PROP_ID(ulPropTag)) {
        it = values_.erase(it);
        ++removed;
    }
    return removed;
}

std::vector<ULONG> CPropertyBag::Tags() const
{
    std::vector<ULONG> tags;
    tags.reserve(values_.size());
    for (const auto& entry : values_) tags.push_back(entry.first);
    return tags;
}

SCODE CPropertyBag::CopyAll(ULONG* lpcValues, LPSPropValue* lppProps) const
{
    if (!lpcValues || !lppProps) return MAPI_E_INVALID_PARAMETER;
    *lpcValues = 0;
    std::vector<SPropValue> flat;
    flat.reserve(values_.size());
    for (const auto& entry : values_) flat.push_back(*entry.second);
    const SCODE sc = ScDupPropset(static_cast<int>(flat.size()), flat.data(), MAPIAllocateBuffer, lppProps);
    if (SUCCEEDED(sc)) *lpcValues = static_cast<ULONG>(flat.size());
    return sc;
}

SCODE CPropertyBag::Clone(CPropertyBag& out) const
{
    CPropertyBag copy;
    for (const auto& entry : values_) {
        if (const SCODE sc = copy.Set(*entry.second); FAILED(sc)) return sc;
    }
    out = std::move(copy);
    return S_OK;
}

// ---- CMAPIPropCore: hooks ------------------------------------------------------------

HRESULT CMAPIPropCore::GetComputedProp(ULONG, void*, LPSPropValue) { return MAPI_E_NOT_FOUND; }
void CMAPIPropCore::ListComputedProps(std::vector<ULONG>&) const {}
bool CMAPIPropCore::IsComputedProp(ULONG) const { return false; }
HRESULT CMAPIPropCore::CheckModify() { return writable_ ? S_OK : MAPI_E_NO_ACCESS; }
HRESULT CMAPIPropCore::CopySubObjects(LPMAPIPROP, std::span<const IID>, ULONG) { return S_OK; }

HRESULT CMAPIPropCore::RecordError(HRESULT hr, std::string text)
{
    auto lock = Lock();
    Trace("%s: 0x%08X %s\n", ComponentName(), static_cast<unsigned>(hr), text.c_str());
    lastError_ = hr;
    lastErrorText_ = std::move(text);
    return hr;
}

HRESULT CMAPIPropCore::HandOutProblems(const std::vector<Problem>& problems, LPSPropProblemArray* lppProblems)
{
    if (!lppProblems) return S_OK;  // the caller did not ask for them
    *lppProblems = nullptr;
    if (problems.empty()) return S_OK;
    const auto n = static_cast<ULONG>(problems.size());
    void* block = nullptr;
    const ULONG cb = static_cast<ULONG>(offsetof(SPropProblemArray, aProblem) + n * sizeof(SPropProblem));
    if (const SCODE sc = MAPIAllocateBuffer(cb, &block); FAILED(sc)) return sc;
    auto* out = static_cast<LPSPropProblemArray>(block);
    out->cProblem = n;
    for (ULONG i = 0; i < n; ++i) out->aProblem[i] = SPropProblem{problems[i].index, problems[i].tag, problems[i].scode};
    *lppProblems = out;
    return S_OK;
}

// ---- CMAPIPropCore: reading ------------------------------------------------------------

HRESULT CMAPIPropCore::DoGetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
{
    if (!lppMAPIError) return MAPI_E_INVALID_PARAMETER;
    *lppMAPIError = nullptr;
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    if (ulFlags) return MAPI_E_UNKNOWN_FLAGS;
    std::string text;
    {
        auto lock = Lock();
        text = (hResult == lastError_ && !lastErrorText_.empty()) ? lastErrorText_ : DescribeCode(hResult);
    }
    MapiBuffer<MAPIERROR> err;
    if (const SCODE sc = MAPIAllocateBuffer(sizeof(MAPIERROR), err.AsVoidOut()); FAILED(sc)) return sc;
    err->ulVersion = MAPI_ERROR_VERSION;
    err->ulLowLevelError = 0;
    err->ulContext = 0;
    if (const SCODE sc = ChainString(text, err.Get(), &err->lpszError); FAILED(sc)) return sc;
    if (const SCODE sc = ChainString(ComponentName(), err.Get(), &err->lpszComponent); FAILED(sc)) return sc;
    *lppMAPIError = err.Release();
    return S_OK;
}

// One requested value: from the bag, else computed, else a PT_ERROR entry
// (MAPI_W_ERRORS_RETURNED). Fails only when memory runs out.
HRESULT CMAPIPropCore::FillOne(ULONG ulPropTag, void* lpBase, LPSPropValue lpOut)
{
    if (const SPropValue* v = bag_.Find(ulPropTag)) {
        return PropCopyMore(lpOut, const_cast<LPSPropValue>(v), MAPIAllocateMore, lpBase);
    }
    const HRESULT hr = GetComputedProp(ulPropTag, lpBase, lpOut);
    if (hr == MAPI_E_NOT_ENOUGH_MEMORY) return hr;
    if (SUCCEEDED(hr)) return S_OK;
    lpOut->ulPropTag = CHANGE_PROP_TYPE(ulPropTag, PT_ERROR);
    lpOut->Value.err = hr;
    return MAPI_W_ERRORS_RETURNED;
}

HRESULT CMAPIPropCore::DoGetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                                  LPSPropValue* lppPropArray)
{
    if (!lpcValues || !lppPropArray) return MAPI_E_INVALID_PARAMETER;
    *lpcValues = 0;
    *lppPropArray = nullptr;
    if (ulFlags & MAPI_UNICODE) return RecordError(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
    if (ulFlags) return MAPI_E_UNKNOWN_FLAGS;

    auto lock = Lock();
    std::vector<ULONG> tags;
    if (lpPropTagArray) {
        tags.assign(lpPropTagArray->aulPropTag, lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
    } else {
        tags = bag_.Tags();
        std::vector<ULONG> computed;
        ListComputedProps(computed);
        for (ULONG tag : computed) {
            if (!bag_.Find(tag)) tags.push_back(tag);
        }
    }
    MapiBuffer<SPropValue> out;
    const auto n = static_cast<ULONG>(tags.size());
    if (n > std::numeric_limits<ULONG>::max() / sizeof(SPropValue)) return MAPI_E_TOO_BIG;
    if (const SCODE sc = MAPIAllocateBuffer(n * sizeof(SPropValue), out.AsVoidOut()); FAILED(sc)) return sc;
    bool errors = false;
    for (ULONG i = 0; i < n; ++i) {
        const HRESULT hr = FillOne(tags[i], out.Get(), &out.Get()[i]);
        if (FAILED(hr)) return RecordError(hr, "Not enough memory for the property values");
        errors = errors || hr == MAPI_W_ERRORS_RETURNED;
    }
    *lpcValues = n;
    *lppPropArray = out.Release();
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT CMAPIPropCore::DoGetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray)
{
    if (!lppPropTagArray) return MAPI_E_INVALID_PARAMETER;
    *lppPropTagArray = nullptr;
    if (ulFlags & MAPI_UNICODE) return RecordError(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
    if (ulFlags) return MAPI_E_UNKNOWN_FLAGS;
    auto lock = Lock();
    std::vector<ULONG> tags = bag_.Tags();
    std::vector<ULONG> computed;
    ListComputedProps(computed);
    for (ULONG tag : computed) {
        if (!bag_.Find(tag)) tags.push_back(tag);
    }
    MapiBuffer<SPropTagArray> out;
    const auto n = static_cast<ULONG>(tags.size());
    if (const SCODE sc = MAPIAllocateBuffer(CbNewSPropTagArray(n), out.AsVoidOut()); FAILED(sc)) return sc;
    out->cValues = n;
    std::copy(tags.begin(), tags.end(), out->aulPropTag);
    *lppPropTagArray = out.Release();
    return S_OK;
}

// ---- CMAPIPropCore: changing -------------------------------------------------------------

HRESULT CMAPIPropCore::DoSetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems)
{
    if (lppProblems) *lppProblems = nullptr;
    if (cValues && !lpPropArray) return MAPI_E_INVALID_PARAMETER;
    auto lock = Lock();
    if (const HRESULT hr = CheckModify(); FAILED(hr)) return RecordError(hr, "The object cannot be changed");
    std::vector<Problem> problems;
    for (ULONG i = 0; i < cValues; ++i) {
        const SPropValue& v = lpPropArray[i];
        const ULONG type = PROP_TYPE(v.ulPropTag);
        SCODE sc = S_OK;
        // Errors, nulls and objects are answers, not values one can store.
        if (type == PT_ERROR || type == PT_NULL || type == PT_OBJECT || type == PT_UNSPECIFIED ||
            !IsKnownPropType(type)) {
            sc = MAPI_E_INVALID_TYPE;
        } else if (IsComputedProp(v.ulPropTag)) {
            sc = MAPI_E_COMPUTED;
        } else {
            sc = bag_.Set(v);
            if (sc == MAPI_E_NOT_ENOUGH_MEMORY) return RecordError(sc, "Not enough memory to store a property");
            if (SUCCEEDED(sc)) modified_ = true;
        }
        if (FAILED(sc)) problems.push_back({i, v.ulPropTag, sc});
    }
    if (!problems.empty()) {
        RecordError(problems.front().scode, "Some properties could not be set: " + DescribeCode(problems.front().scode));
    }
    return HandOutProblems(problems, lppProblems);
}

HRESULT CMAPIPropCore::DoDeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems)
{
    if (lppProblems) *lppProblems = nullptr;
    if (!lpPropTagArray) return MAPI_E_INVALID_PARAMETER;
    auto lock = Lock();
    if (const HRESULT hr = CheckModify(); FAILED(hr)) return RecordError(hr, "The object cannot be changed");
    std::vector<Problem> problems;
    for (ULONG i = 0; i < lpPropTagArray->cValues; ++i) {
        const ULONG tag = lpPropTagArray->aulPropTag[i];
        if (IsComputedProp(tag)) {
            problems.push_back({i, tag, MAPI_E_COMPUTED});
            continue;
        }
        // Deleting what is not there is no problem: the property is gone either way.
        if (bag_.Delete(tag) > 0) modified_ = true;
    }
    return HandOutProblems(problems, lppProblems);
}

// ---- CMAPIPropCore: copying -----------------------------------------------------------------

namespace {
constexpr ULONG kCopyFlags = MAPI_MOVE | MAPI_NOREPLACE | MAPI_DECLINE_OK | MAPI_DIALOG;
}

HRESULT CMAPIPropCore::CopyValues(std::vector<SPropValue> values, std::vector<ULONG> origin,
                                  std::vector<Problem> problems, LPCIID lpInterface, void* lpDestObj, ULONG ulFlags,
                                  LPSPropProblemArray* lppProblems, std::span<const IID> excluded,
                                  bool copySubObjects)
{
    // Every interface the destination may be given as starts with IUnknown.
    auto* unk = static_cast<IUnknown*>(lpDestObj);
    if (lpInterface) {
        ComPtr<IUnknown> check;
        if (FAILED(unk->QueryInterface(*lpInterface, check.AsVoidOut())))
            return RecordError(MAPI_E_INTERFACE_NOT_SUPPORTED, "The destination lacks the given interface");
    }
    ComPtr<IMAPIProp> dest;
    if (FAILED(unk->QueryInterface(IID_IMAPIProp, dest.AsVoidOut())))
        return RecordError(MAPI_E_INTERFACE_NOT_SUPPORTED, "The destination holds no properties");

    if (ulFlags & MAPI_NOREPLACE) {
        MapiBuffer<SPropTagArray> existing;
        if (const HRESULT hr = dest->GetPropList(0, &existing); FAILED(hr))
            return RecordError(hr, "The destination's property list could not be read");
        std::vector<SPropValue> kept;
        std::vector<ULONG> keptOrigin;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const ULONG tag = values[i].ulPropTag;
            const bool present = existing && std::find(existing->aulPropTag, existing->aulPropTag + existing->cValues,
                                                       tag) != existing->aulPropTag + existing->cValues;
            if (present) continue;
            kept.push_back(values[i]);
            keptOrigin.push_back(origin[i]);
        }
        values = std::move(kept);
        origin = std::move(keptOrigin);
    }

    MapiBuffer<SPropProblemArray> destProblems;
    if (!values.empty()) {
        const HRESULT hr = dest->SetProps(static_cast<ULONG>(values.size()), values.data(), &destProblems);
        if (FAILED(hr)) return RecordError(hr, "The destination refused the properties");
    }
    std::vector<bool> failed(values.size(), false);
    if (destProblems) {
        for (ULONG i = 0; i < destProblems->cProblem; ++i) {
            const SPropProblem& p = destProblems->aProblem[i];
            const bool known = p.ulIndex < origin.size();
            if (known) failed[p.ulIndex] = true;
            problems.push_back({known ? origin[p.ulIndex] : p.ulIndex, p.ulPropTag, p.scode});
        }
    }
    if (copySubObjects) {
        if (const HRESULT hr = CopySubObjects(dest.Get(), excluded, ulFlags); FAILED(hr))
            return RecordError(hr, "The object's contents could not be copied");
    }
    if (ulFlags & MAPI_MOVE) {
        auto lock = Lock();
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (!failed[i] && bag_.Delete(values[i].ulPropTag) > 0) modified_ = true;
        }
    }
    return HandOutProblems(problems, lppProblems);
}

HRESULT CMAPIPropCore::DoCopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps,
                                LPCIID lpInterface, void* lpDestObj, ULONG ulFlags, LPSPropProblemArray* lppProblems)
{
    if (lppProblems) *lppProblems = nullptr;
    if (!lpDestObj || (ciidExclude && !rgiidExclude)) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & ~kCopyFlags) return MAPI_E_UNKNOWN_FLAGS;
    const std::span<const IID> excluded(rgiidExclude, rgiidExclude ? ciidExclude : 0);
    for (const IID& iid : excluded) {
        // Excluding the property interface itself leaves nothing to copy.
        if (IsEqualIID(iid, IID_IMAPIProp) || (lpInterface && IsEqualIID(iid, *lpInterface))) return S_OK;
    }

    // Copy from a snapshot so that the lock is not held while the
    // destination (possibly this very object) runs.
    MapiBuffer<SPropValue> snapshot;
    ULONG count = 0;
    {
        auto lock = Lock();
        if (ulFlags & MAPI_MOVE) {
            if (const HRESULT hr = CheckModify(); FAILED(hr)) return RecordError(hr, "The source cannot be changed");
        }
        if (const SCODE sc = bag_.CopyAll(&count, &snapshot); FAILED(sc)) return RecordError(sc, "Not enough memory");
    }
    std::vector<SPropValue> values;
    std::vector<ULONG> origin;
    for (ULONG i = 0; i < count; ++i) {
        if (InTagArray(lpExcludeProps, snapshot.Get()[i].ulPropTag)) continue;
        values.push_back(snapshot.Get()[i]);
        origin.push_back(static_cast<ULONG>(values.size() - 1));
    }
    return CopyValues(std::move(values), std::move(origin), {}, lpInterface, lpDestObj, ulFlags, lppProblems,
                      excluded, true);
}

HRESULT CMAPIPropCore::DoCopyProps(LPSPropTagArray lpIncludeProps, LPCIID lpInterface, void* lpDestObj, ULONG ulFlags,
                                   LPSPropProblemArray* lppProblems)
{
    if (lppProblems) *lppProblems = nullptr;
    if (!lpIncludeProps || !lpDestObj) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & ~kCopyFlags) return MAPI_E_UNKNOWN_FLAGS;
    if (ulFlags & MAPI_MOVE) {
        auto lock = Lock();
        if (const HRESULT hr = CheckModify(); FAILED(hr)) return RecordError(hr, "The source cannot be changed");
    }
    // The included values as GetProps answers them; what the object lacks
    // becomes a problem entry at its index in the include list.
    MapiBuffer<SPropValue> fetched;
    ULONG count = 0;
    const HRESULT hr = DoGetProps(lpIncludeProps, 0, &count, &fetched);
    if (FAILED(hr)) return hr;
    std::vector<SPropValue> values;
    std::vector<ULONG> origin;
    std::vector<Problem> problems;
    for (ULONG i = 0; i < count; ++i) {
        const SPropValue& v = fetched.Get()[i];
        if (PROP_TYPE(v.ulPropTag) == PT_ERROR) {
            problems.push_back({i, lpIncludeProps->aulPropTag[i], v.Value.err});
            continue;
        }
        values.push_back(v);
        origin.push_back(i);
    }
    return CopyValues(std::move(values), std::move(origin), std::move(problems), lpInterface, lpDestObj, ulFlags,
                      lppProblems, {}, false);
}

}  // namespace quillory
