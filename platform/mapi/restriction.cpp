#include "platform/mapi/restriction.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>

#include "platform/base/trace.h"
#include "platform/mapi/proputil.h"

namespace quillory {
namespace {

constexpr ULONG kFuzzyMatchMask = 0x0000FFFF;
constexpr ULONG kFuzzyModifiers = FL_IGNORECASE | FL_IGNORENONSPACE | FL_LOOSE;

// A value's data is usable when a deep copy of it could be counted.
SCODE CheckValue(const SPropValue& v)
{
    ULONG cb = 0;
    return ScCountProps(1, const_cast<LPSPropValue>(&v), &cb);
}

SCODE CheckRelop(ULONG relop)
{
    if (relop == RELOP_RE) return MAPI_E_TOO_COMPLEX;
    return relop <= RELOP_NE ? S_OK : MAPI_E_INVALID_PARAMETER;
}

bool IsContentType(ULONG type) { return type == PT_STRING8 || type == PT_BINARY; }

SCODE Validate(const SRestriction& r, ULONG depth)
{
    if (depth > kMaxRestrictionDepth) return MAPI_E_TOO_COMPLEX;
    switch (r.rt) {
    case RES_AND:
    case RES_OR: {
        const SAndRestriction& a = r.res.resAnd;
        if (a.cRes && !a.lpRes) return MAPI_E_INVALID_PARAMETER;
        for (ULONG i = 0; i < a.cRes; ++i) {
            if (const SCODE sc = Validate(a.lpRes[i], depth + 1); FAILED(sc)) return sc;
        }
        return S_OK;
    }
    case RES_NOT:
        if (!r.res.resNot.lpRes) return MAPI_E_INVALID_PARAMETER;
        return Validate(*r.res.resNot.lpRes, depth + 1);
    case RES_CONTENT: {
        const SContentRestriction& c = r.res.resContent;
        if (!c.lpProp) return MAPI_E_INVALID_PARAMETER;
        if ((c.ulFuzzyLevel & kFuzzyMatchMask) > FL_PREFIX) return MAPI_E_INVALID_PARAMETER;
        if ((c.ulFuzzyLevel & ~kFuzzyMatchMask & ~kFuzzyModifiers) != 0) return MAPI_E_INVALID_PARAMETER;
        if (!IsContentType(PROP_TYPE(c.ulPropTag) & ~MV_FLAG)) return MAPI_E_TOO_COMPLEX;
        if (!IsContentType(PROP_TYPE(c.lpProp->ulPropTag))) return MAPI_E_TOO_COMPLEX;
        return CheckValue(*c.lpProp);
    }
    case RES_PROPERTY: {
        const SPropertyRestriction& p = r.res.resProperty;
        if (!p.lpProp) return MAPI_E_INVALID_PARAMETER;
        if (const SCODE sc = CheckRelop(p.relop); FAILED(sc)) return sc;
        return CheckValue(*p.lpProp);
    }
    case RES_COMPAREPROPS:
        return CheckRelop(r.res.resCompareProps.relop);
    case RES_BITMASK: {
        const SBitMaskRestriction& b = r.res.resBitMask;
        if (b.relBMR != BMR_EQZ && b.relBMR != BMR_NEZ) return MAPI_E_INVALID_PARAMETER;
        const ULONG type = PROP_TYPE(b.ulPropTag);
        return (type == PT_LONG || type == PT_I2) ? S_OK : MAPI_E_TOO_COMPLEX;
    }
    case RES_SIZE:
        return CheckRelop(r.res.resSize.relop);
    case RES_EXIST:
        return S_OK;
    case RES_SUBRESTRICTION:
        return MAPI_E_TOO_COMPLEX;  // rows carry no sub-objects here
    default:
        return MAPI_E_INVALID_PARAMETER;
    }
}

// The value with the tag; a tag of type PT_UNSPECIFIED takes any value with
// its ID except an error value (which stands for a missing property).
const SPropValue* Find(const SPropValue* props, ULONG count, ULONG tag)
{
    const bool byId = PROP_TYPE(tag) == PT_UNSPECIFIED;
    for (ULONG i = 0; i < count; ++i) {
        const ULONG t = props[i].ulPropTag;
        if (t == tag) return &props[i];
        if (byId && PROP_ID(t) == PROP_ID(tag) && PROP_TYPE(t) != PT_ERROR) return &props[i];
    }
    return nullptr;
}

bool RelopHolds(ULONG relop, int cmp)
{
    switch (relop) {
    case RELOP_LT:
        return cmp < 0;
    case RELOP_LE:
        return cmp <= 0;
    case RELOP_GT:
        return cmp > 0;
    case RELOP_GE:
        return cmp >= 0;
    case RELOP_EQ:
        return cmp == 0;
    case RELOP_NE:
        return cmp != 0;
    default:
        return false;
    }
}

unsigned char Fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

struct Bytes {
    const unsigned char* p;
    std::size_t n;
};

Bytes StringBytes(const char* s)
{
    if (!s) return {nullptr, 0};
    return {reinterpret_cast<const unsigned char*>(s), std::strlen(s)};
}

Bytes BinaryBytes(const SBinary& b) { return {b.lpb, b.lpb ? b.cb : 0}; }

bool SameBytes(const unsigned char* a, const unsigned char* b, std::size_t n, bool fold)
{
    if (!fold) return n == 0 || std::memcmp(a, b, n) == 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (Fold(a[i]) != Fold(b[i])) return false;
    }
    return true;
}

struct FoldHash {
    std::size_t operator()(unsigned char c) const { return Fold(c); }
};
struct FoldEqual {
    bool operator()(unsigned char a, unsigned char b) const { return Fold(a) == Fold(b); }
};

bool Contains(Bytes hay, Bytes pat, bool fold)
{
    if (pat.n == 0) return true;
    if (hay.n < pat.n) return false;
    const unsigned char* end = hay.p + hay.n;
    if (fold) {
        const std::boyer_moore_horspool_searcher search(pat.p, pat.p + pat.n, FoldHash{}, FoldEqual{});
        return std::search(hay.p, end, search) != end;
    }
    const std::boyer_moore_horspool_searcher search(pat.p, pat.p + pat.n);
    return std::search(hay.p, end, search) != end;
}

bool MatchContent(Bytes hay, Bytes pat, ULONG fuzzy)
{
    const bool fold = (fuzzy & (FL_IGNORECASE | FL_LOOSE)) != 0;
    switch (fuzzy & kFuzzyMatchMask) {
    case FL_FULLSTRING:
        return hay.n == pat.n && SameBytes(hay.p, pat.p, pat.n, fold);
    case FL_PREFIX:
        return hay.n >= pat.n && SameBytes(hay.p, pat.p, pat.n, fold);
    case FL_SUBSTRING:
        return Contains(hay, pat, fold);
    default:
        return false;
    }
}

bool EvaluateContent(const SContentRestriction& c, const SPropValue* props, ULONG count)
{
    if (!c.lpProp) return false;
    const SPropValue* v = Find(props, count, c.ulPropTag);
    if (!v) return false;
    const ULONG patType = PROP_TYPE(c.lpProp->ulPropTag);
    const ULONG type = PROP_TYPE(v->ulPropTag);
    if ((type & ~MV_FLAG) != patType) return false;
    const Bytes pat = patType == PT_STRING8 ? StringBytes(c.lpProp->Value.lpszA) : BinaryBytes(c.lpProp->Value.bin);
    switch (type) {
    case PT_STRING8:
        return MatchContent(StringBytes(v->Value.lpszA), pat, c.ulFuzzyLevel);
    case PT_BINARY:
        return MatchContent(BinaryBytes(v->Value.bin), pat, c.ulFuzzyLevel);
    case PT_MV_STRING8:
        for (ULONG i = 0; v->Value.MVszA.lppszA && i < v->Value.MVszA.cValues; ++i) {
            if (MatchContent(StringBytes(v->Value.MVszA.lppszA[i]), pat, c.ulFuzzyLevel)) return true;
        }
        return false;
    case PT_MV_BINARY:
        for (ULONG i = 0; v->Value.MVbin.lpbin && i < v->Value.MVbin.cValues; ++i) {
            if (MatchContent(BinaryBytes(v->Value.MVbin.lpbin[i]), pat, c.ulFuzzyLevel)) return true;
        }
        return false;
    default:
        return false;
    }
}

// Bytes a value occupies, as the size restriction measures it (strings with
// their terminator).
ULONGLONG ValueSize(const SPropValue& v)
{
    const PV& x = v.Value;
    switch (PROP_TYPE(v.ulPropTag)) {
    case PT_I2:
    case PT_BOOLEAN:
        return 2;
    case PT_LONG:
    case PT_R4:
    case PT_ERROR:
        return 4;
    case PT_DOUBLE:
    case PT_CURRENCY:
    case PT_APPTIME:
    case PT_I8:
    case PT_SYSTIME:
        return 8;
    case PT_CLSID:
        return sizeof(GUID);
    case PT_STRING8:
        return x.lpszA ? std::strlen(x.lpszA) + 1 : 0;
    case PT_BINARY:
        return x.bin.cb;
    case PT_MV_I2:
        return ULONGLONG{x.MVi.cValues} * sizeof(short);
    case PT_MV_LONG:
        return ULONGLONG{x.MVl.cValues} * sizeof(LONG);
    case PT_MV_STRING8: {
        ULONGLONG n = 0;
        for (ULONG i = 0; x.MVszA.lppszA && i < x.MVszA.cValues; ++i) {
            n += x.MVszA.lppszA[i] ? std::strlen(x.MVszA.lppszA[i]) + 1 : 0;
        }
        return n;
    }
    case PT_MV_BINARY: {
        ULONGLONG n = 0;
        for (ULONG i = 0; x.MVbin.lpbin && i < x.MVbin.cValues; ++i) n += x.MVbin.lpbin[i].cb;
        return n;
    }
    default:
        return 0;
    }
}

bool Evaluate(const SRestriction& r, const SPropValue* props, ULONG count, ULONG depth)
{
    if (depth > kMaxRestrictionDepth) return false;
    switch (r.rt) {
    case RES_AND:
        for (ULONG i = 0; i < r.res.resAnd.cRes; ++i) {
            if (!r.res.resAnd.lpRes || !Evaluate(r.res.resAnd.lpRes[i], props, count, depth + 1)) return false;
        }
        return true;
    case RES_OR:
        for (ULONG i = 0; r.res.resOr.lpRes && i < r.res.resOr.cRes; ++i) {
            if (Evaluate(r.res.resOr.lpRes[i], props, count, depth + 1)) return true;
        }
        return false;
    case RES_NOT:
        return r.res.resNot.lpRes && !Evaluate(*r.res.resNot.lpRes, props, count, depth + 1);
    case RES_CONTENT:
        return EvaluateContent(r.res.resContent, props, count);
    case RES_PROPERTY: {
        const SPropertyRestriction& p = r.res.resProperty;
        if (!p.lpProp) return false;
        const SPropValue* v = Find(props, count, p.ulPropTag);
        if (!v || PROP_TYPE(v->ulPropTag) != PROP_TYPE(p.lpProp->ulPropTag)) return false;
        return RelopHolds(p.relop, ComparePropValues(*v, *p.lpProp));
    }
    case RES_COMPAREPROPS: {
        const SComparePropsRestriction& c = r.res.resCompareProps;
        const SPropValue* a = Find(props, count, c.ulPropTag1);
        const SPropValue* b = Find(props, count, c.ulPropTag2);
        if (!a || !b || PROP_TYPE(a->ulPropTag) != PROP_TYPE(b->ulPropTag)) return false;
        return RelopHolds(c.relop, ComparePropValues(*a, *b));
    }
    case RES_BITMASK: {
        const SBitMaskRestriction& b = r.res.resBitMask;
        const SPropValue* v = Find(props, count, b.ulPropTag);
        if (!v) return false;
        ULONG bits = 0;
        if (PROP_TYPE(v->ulPropTag) == PT_LONG) {
            bits = v->Value.ul;
        } else if (PROP_TYPE(v->ulPropTag) == PT_I2) {
            bits = static_cast<unsigned short>(v->Value.i);
        } else {
            return false;
        }
        const bool zero = (bits & b.ulMask) == 0;
        return b.relBMR == BMR_EQZ ? zero : (b.relBMR == BMR_NEZ && !zero);
    }
    case RES_SIZE: {
        const SSizeRestriction& s = r.res.resSize;
        const SPropValue* v = Find(props, count, s.ulPropTag);
        if (!v) return false;
        const ULONGLONG size = ValueSize(*v);
        return RelopHolds(s.relop, size < s.cb ? -1 : (size > s.cb ? 1 : 0));
    }
    case RES_EXIST:
        return Find(props, count, r.res.resExist.ulPropTag) != nullptr;
    default:
        return false;
    }
}

// Copies src into dst (already holding src's fields), chaining every piece
// to head. src has passed validation, so the recursion is bounded.
SCODE CopyInto(const SRestriction& src, SRestriction& dst, void* head)
{
    dst = src;
    switch (src.rt) {
    case RES_AND:
    case RES_OR: {
        const ULONG n = src.res.resAnd.cRes;
        dst.res.resAnd.lpRes = nullptr;
        if (n == 0) return S_OK;
        const ULONGLONG cb = ULONGLONG{n} * sizeof(SRestriction);
        if (cb > std::numeric_limits<ULONG>::max()) return MAPI_E_NOT_ENOUGH_MEMORY;
        void* block = nullptr;
        if (const SCODE sc = MAPIAllocateMore(static_cast<ULONG>(cb), head, &block); FAILED(sc)) return sc;
        auto* children = static_cast<LPSRestriction>(block);
        dst.res.resAnd.lpRes = children;
        for (ULONG i = 0; i < n; ++i) {
            if (const SCODE sc = CopyInto(src.res.resAnd.lpRes[i], children[i], head); FAILED(sc)) return sc;
        }
        return S_OK;
    }
    case RES_NOT: {
        void* block = nullptr;
        if (const SCODE sc = MAPIAllocateMore(sizeof(SRestriction), head, &block); FAILED(sc)) return sc;
        dst.res.resNot.lpRes = static_cast<LPSRestriction>(block);
        return CopyInto(*src.res.resNot.lpRes, *dst.res.resNot.lpRes, head);
    }
    case RES_CONTENT:
    case RES_PROPERTY: {
        // Both kinds keep their value pointer in the same place.
        const LPSPropValue from =
            src.rt == RES_CONTENT ? src.res.resContent.lpProp : src.res.resProperty.lpProp;
        void* block = nullptr;
        if (const SCODE sc = MAPIAllocateMore(sizeof(SPropValue), head, &block); FAILED(sc)) return sc;
        auto* value = static_cast<LPSPropValue>(block);
        if (const SCODE sc = PropCopyMore(value, from, MAPIAllocateMore, head); FAILED(sc)) return sc;
        if (src.rt == RES_CONTENT) {
            dst.res.resContent.lpProp = value;
        } else {
            dst.res.resProperty.lpProp = value;
        }
        return S_OK;
    }
    default:
        return S_OK;
    }
}

}  // namespace

SCODE ValidateRestriction(const SRestriction& res)
{
    const SCODE sc = Validate(res, 1);
    if (FAILED(sc)) Trace("ValidateRestriction -- refused (0x%08x)\n", static_cast<unsigned>(sc));
    return sc;
}

bool EvaluateRestriction(const SRestriction& res, const SPropValue* props, ULONG count)
{
    if (count && !props) return false;
    return Evaluate(res, props, count, 1);
}

SCODE DupRestriction(const SRestriction& res, LPSRestriction* out)
{
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (const SCODE sc = ValidateRestriction(res); FAILED(sc)) return sc;
    MapiBuffer<SRestriction> head;
    if (const SCODE sc = MAPIAllocateBuffer(sizeof(SRestriction), head.AsVoidOut()); FAILED(sc)) return sc;
    if (const SCODE sc = CopyInto(res, *head.Get(), head.Get()); FAILED(sc)) return sc;
    *out = head.Release();
    return S_OK;
}

}  // namespace quillory
