#include "platform/mapi/propcodec.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/proputil.h"

namespace quillory {
namespace {

// ---- Writing ------------------------------------------------------------------

class Writer {
public:
    explicit Writer(std::vector<BYTE>& out) : out_(out) {}
    void U16(std::uint16_t v) { Le(v, 2); }
    void U32(std::uint32_t v) { Le(v, 4); }
    void U64(std::uint64_t v) { Le(v, 8); }
    void Bytes(const void* p, std::size_t n)
    {
        const auto* b = static_cast<const BYTE*>(p);
        out_.insert(out_.end(), b, b + n);
    }
    void Counted(const void* p, std::size_t n)
    {
        U32(static_cast<std::uint32_t>(n));
        Bytes(p, n);
    }

private:
    void Le(std::uint64_t v, int bytes)
    {
        for (int i = 0; i < bytes; ++i) out_.push_back(static_cast<BYTE>(v >> (8 * i)));
    }
    std::vector<BYTE>& out_;
};

template <class T>
std::uint64_t Bits(T v)
{
    if constexpr (sizeof(T) == 4) {
        std::uint32_t b;
        std::memcpy(&b, &v, 4);
        return b;
    } else {
        std::uint64_t b;
        std::memcpy(&b, &v, 8);
        return b;
    }
}

void WriteGuid(Writer& w, const GUID& g)
{
    w.U32(g.Data1);
    w.U16(g.Data2);
    w.U16(g.Data3);
    w.Bytes(g.Data4, sizeof g.Data4);
}

// Checks what a value's data pointers promise before anything is written.
SCODE CheckEncodable(const SPropValue& v)
{
    const ULONG type = PROP_TYPE(v.ulPropTag);
    if (type == PT_UNSPECIFIED || !IsKnownPropType(type)) return MAPI_E_INVALID_TYPE;
    const PV& x = v.Value;
    switch (type) {
    case PT_STRING8:
        return x.lpszA ? S_OK : MAPI_E_INVALID_PARAMETER;
    case PT_BINARY:
        return (x.bin.lpb || !x.bin.cb) ? S_OK : MAPI_E_INVALID_PARAMETER;
    case PT_CLSID:
        return x.lpguid ? S_OK : MAPI_E_INVALID_PARAMETER;
    case PT_MV_I2:
        return (x.MVi.lpi || !x.MVi.cValues) ? S_OK : MAPI_E_INVALID_PARAMETER;
    case PT_MV_LONG:
        return (x.MVl.lpl || !x.MVl.cValues) ? S_OK : MAPI_E_INVALID_PARAMETER;
    case PT_MV_STRING8:
        if (!x.MVszA.lppszA && x.MVszA.cValues) return MAPI_E_INVALID_PARAMETER;
        for (ULONG i = 0; i < x.MVszA.cValues; ++i) {
            if (!x.MVszA.lppszA[i]) return MAPI_E_INVALID_PARAMETER;
        }
        return S_OK;
    case PT_MV_BINARY:
        if (!x.MVbin.lpbin && x.MVbin.cValues) return MAPI_E_INVALID_PARAMETER;
        for (ULONG i = 0; i < x.MVbin.cValues; ++i) {
            if (!x.MVbin.lpbin[i].lpb && x.MVbin.lpbin[i].cb) return MAPI_E_INVALID_PARAMETER;
        }
        return S_OK;
    default:
        return S_OK;
    }
}

void WriteValue(Writer& w, const SPropValue& v)
{
    const PV& x = v.Value;
    w.U32(v.ulPropTag);
    switch (PROP_TYPE(v.ulPropTag)) {
    case PT_I2: w.U16(static_cast<std::uint16_t>(x.i)); break;
    case PT_BOOLEAN: w.U16(x.b); break;
    case PT_LONG:
    case PT_ERROR:
    case PT_NULL:
    case PT_OBJECT: w.U32(static_cast<std::uint32_t>(x.l)); break;
    case PT_R4: w.U32(static_cast<std::uint32_t>(Bits(x.flt))); break;
    case PT_DOUBLE:
    case PT_APPTIME: w.U64(Bits(x.dbl)); break;
    case PT_CURRENCY: w.U64(static_cast<std::uint64_t>(x.cur.int64)); break;
    case PT_I8: w.U64(static_cast<std::uint64_t>(x.li.QuadPart)); break;
    case PT_SYSTIME:
        w.U32(x.ft.dwLowDateTime);
        w.U32(x.ft.dwHighDateTime);
        break;
    case PT_CLSID: WriteGuid(w, *x.lpguid); break;
    case PT_STRING8: w.Counted(x.lpszA, std::strlen(x.lpszA)); break;
    case PT_BINARY: w.Counted(x.bin.lpb, x.bin.cb); break;
    case PT_MV_I2:
        w.U32(x.MVi.cValues);
        for (ULONG i = 0; i < x.MVi.cValues; ++i) w.U16(static_cast<std::uint16_t>(x.MVi.lpi[i]));
        break;
    case PT_MV_LONG:
        w.U32(x.MVl.cValues);
        for (ULONG i = 0; i < x.MVl.cValues; ++i) w.U32(static_cast<std::uint32_t>(x.MVl.lpl[i]));
        break;
    case PT_MV_STRING8:
        w.U32(x.MVszA.cValues);
        for (ULONG i = 0; i < x.MVszA.cValues; ++i) w.Counted(x.MVszA.lppszA[i], std::strlen(x.MVszA.lppszA[i]));
        break;
    case PT_MV_BINARY:
        w.U32(x.MVbin.cValues);
        for (ULONG i = 0; i < x.MVbin.cValues; ++i) w.Counted(x.MVbin.lpbin[i].lpb, x.MVbin.lpbin[i].cb);
        break;
    default: break;  // CheckEncodable admitted nothing else
    }
}

// ---- Reading ------------------------------------------------------------------

class Reader {
public:
    explicit Reader(std::span<const BYTE> data) : data_(data) {}
    std::size_t Remaining() const { return data_.size() - pos_; }
    std::size_t Used() const { return pos_; }
    bool U16(std::uint16_t& v) { return Le(v, 2); }
    bool U32(std::uint32_t& v) { return Le(v, 4); }
    bool U64(std::uint64_t& v) { return Le(v, 8); }
    bool Bytes(std::size_t n, const BYTE*& p)
    {
        if (n > Remaining()) return false;
        p = data_.data() + pos_;
        pos_ += n;
        return true;
    }

private:
    template <class T>
    bool Le(T& v, int bytes)
    {
        if (Remaining() < static_cast<std::size_t>(bytes)) return false;
        std::uint64_t r = 0;
        for (int i = 0; i < bytes; ++i) r |= std::uint64_t{data_[pos_ + i]} << (8 * i);
        pos_ += bytes;
        v = static_cast<T>(r);
        return true;
    }
    std::span<const BYTE> data_;
    std::size_t pos_ = 0;
};

// Decodes one value. Without lpBase only checks and measures (nothing is
// allocated and *out receives only the fixed part).
class Decoder {
public:
    Decoder(Reader& r, void* lpBase) : r_(r), base_(lpBase) {}

    SCODE Value(SPropValue& out)
    {
        std::uint32_t tag = 0;
        if (!r_.U32(tag)) return MAPI_E_CORRUPT_DATA;
        const ULONG type = PROP_TYPE(tag);
        if (type == PT_UNSPECIFIED || !IsKnownPropType(type)) return MAPI_E_CORRUPT_DATA;
        out = SPropValue{};
        out.ulPropTag = tag;
        PV& x = out.Value;
        std::uint16_t u16 = 0;
        std::uint32_t u32 = 0;
        std::uint64_t u64 = 0;
        switch (type) {
        case PT_I2:
            if (!r_.U16(u16)) return MAPI_E_CORRUPT_DATA;
            x.i = static_cast<short>(u16);
            return S_OK;
        case PT_BOOLEAN:
            if (!r_.U16(u16)) return MAPI_E_CORRUPT_DATA;
            x.b = u16;
            return S_OK;
        case PT_LONG:
        case PT_ERROR:
        case PT_NULL:
        case PT_OBJECT:
            if (!r_.U32(u32)) return MAPI_E_CORRUPT_DATA;
            x.l = static_cast<LONG>(u32);
            return S_OK;
        case PT_R4:
            if (!r_.U32(u32)) return MAPI_E_CORRUPT_DATA;
            std::memcpy(&x.flt, &u32, 4);
            return S_OK;
        case PT_DOUBLE:
        case PT_APPTIME:
            if (!r_.U64(u64)) return MAPI_E_CORRUPT_DATA;
            std::memcpy(&x.dbl, &u64, 8);
            return S_OK;
        case PT_CURRENCY:
            if (!r_.U64(u64)) return MAPI_E_CORRUPT_DATA;
            x.cur.int64 = static_cast<LONGLONG>(u64);
            return S_OK;
        case PT_I8:
            if (!r_.U64(u64)) return MAPI_E_CORRUPT_DATA;
            x.li.QuadPart = static_cast<LONGLONG>(u64);
            return S_OK;
        case PT_SYSTIME:
            if (!r_.U32(u32)) return MAPI_E_CORRUPT_DATA;
            x.ft.dwLowDateTime = u32;
            if (!r_.U32(u32)) return MAPI_E_CORRUPT_DATA;
            x.ft.dwHighDateTime = u32;
            return S_OK;
        case PT_CLSID: return Guid(x.lpguid);
        case PT_STRING8: return String(x.lpszA);
        case PT_BINARY: return Binary(x.bin);
        case PT_MV_I2: return FixedArray(x.MVi.cValues, x.MVi.lpi, 2);
        case PT_MV_LONG: return FixedArray(x.MVl.cValues, x.MVl.lpl, 4);
        case PT_MV_STRING8: return StringArray(x.MVszA);
        case PT_MV_BINARY: return BinaryArray(x.MVbin);
        default: return MAPI_E_CORRUPT_DATA;
        }
    }

private:
    SCODE Allocate(std::size_t cb, void** p)
    {
        *p = nullptr;
        if (!base_) return S_OK;
        if (cb > std::numeric_limits<ULONG>::max()) return MAPI_E_NOT_ENOUGH_MEMORY;
        return MAPIAllocateMore(static_cast<ULONG>(cb == 0 ? 1 : cb), base_, p);
    }

    SCODE Guid(GUID*& out)
    {
        const BYTE* p = nullptr;
        if (!r_.Bytes(16, p)) return MAPI_E_CORRUPT_DATA;
        void* mem = nullptr;
        if (const SCODE sc = Allocate(sizeof(GUID), &mem); FAILED(sc)) return sc;
        if (!mem) return S_OK;
        auto* g = static_cast<GUID*>(mem);
        g->Data1 = static_cast<DWORD>(p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24);
        g->Data2 = static_cast<WORD>(p[4] | p[5] << 8);
        g->Data3 = static_cast<WORD>(p[6] | p[7] << 8);
        std::memcpy(g->Data4, p + 8, 8);
        out = g;
        return S_OK;
    }

    SCODE String(LPSTR& out)
    {
        std::uint32_t n = 0;
        const BYTE* p = nullptr;
        if (!r_.U32(n) || !r_.Bytes(n, p)) return MAPI_E_CORRUPT_DATA;
        if (n && std::memchr(p, 0, n)) return MAPI_E_CORRUPT_DATA;  // the string would end early
        void* mem = nullptr;
        if (const SCODE sc = Allocate(std::size_t{n} + 1, &mem); FAILED(sc)) return sc;
        if (!mem) return S_OK;
        if (n) std::memcpy(mem, p, n);
        static_cast<char*>(mem)[n] = '\0';
        out = static_cast<LPSTR>(mem);
        return S_OK;
    }

    SCODE Binary(SBinary& out)
    {
        std::uint32_t n = 0;
        const BYTE* p = nullptr;
        if (!r_.U32(n) || !r_.Bytes(n, p)) return MAPI_E_CORRUPT_DATA;
        void* mem = nullptr;
        if (const SCODE sc = Allocate(n, &mem); FAILED(sc)) return sc;
        out.cb = n;
        if (!mem) return S_OK;
        if (n) std::memcpy(mem, p, n);
        out.lpb = static_cast<LPBYTE>(mem);
        return S_OK;
    }

    // The count must be possible in the bytes left, so a corrupt count
    // cannot ask for a huge allocation.
    bool Count(std::uint32_t& n, std::size_t minElementSize)
    {
        return r_.U32(n) && std::uint64_t{n} * minElementSize <= r_.Remaining();
    }

    template <class T>
    SCODE FixedArray(ULONG& count, T*& out, int elementSize)
    {
        std::uint32_t n = 0;
        if (!Count(n, static_cast<std::size_t>(elementSize))) return MAPI_E_CORRUPT_DATA;
        void* mem = nullptr;
        if (const SCODE sc = Allocate(std::size_t{n} * sizeof(T), &mem); FAILED(sc)) return sc;
        auto* items = static_cast<T*>(mem);
        for (std::uint32_t i = 0; i < n; ++i) {
            std::uint32_t v = 0;
            bool ok = false;
            if (elementSize == 2) {
                std::uint16_t v16 = 0;
                ok = r_.U16(v16);
                v = v16;
            } else {
                ok = r_.U32(v);
            }
            if (!ok) return MAPI_E_CORRUPT_DATA;
            if (items) items[i] = static_cast<T>(v);
        }
        count = n;
        out = items;
        return S_OK;
    }

    SCODE StringArray(SLPSTRArray& out)
    {
        std::uint32_t n = 0;
        if (!Count(n, 4)) return MAPI_E_CORRUPT_DATA;
        void* mem = nullptr;
        if (const SCODE sc = Allocate(std::size_t{n} * sizeof(LPSTR), &mem); FAILED(sc)) return sc;
        auto* items = static_cast<LPSTR*>(mem);
        for (std::uint32_t i = 0; i < n; ++i) {
            LPSTR s = nullptr;
            if (const SCODE sc = String(s); FAILED(sc)) return sc;
            if (items) items[i] = s;
        }
        out.cValues = n;
        out.lppszA = items;
        return S_OK;
    }

    SCODE BinaryArray(SBinaryArray& out)
    {
        std::uint32_t n = 0;
        if (!Count(n, 4)) return MAPI_E_CORRUPT_DATA;
        void* mem = nullptr;
        if (const SCODE sc = Allocate(std::size_t{n} * sizeof(SBinary), &mem); FAILED(sc)) return sc;
        auto* items = static_cast<SBinary*>(mem);
        for (std::uint32_t i = 0; i < n; ++i) {
            SBinary b{};
            if (const SCODE sc = Binary(b); FAILED(sc)) return sc;
            if (items) items[i] = b;
        }
        out.cValues = n;
        out.lpbin = items;
        return S_OK;
    }

    Reader& r_;
    void* base_;
};

}  // namespace

SCODE EncodePropValue(const SPropValue& value, std::vector<BYTE>& out)
{
    if (const SCODE sc = CheckEncodable(value); FAILED(sc)) return sc;
    Writer w(out);
    WriteValue(w, value);
    return S_OK;
}

SCODE EncodePropArray(std::span<const SPropValue> values, std::vector<BYTE>& out)
{
    if (values.size() > std::numeric_limits<std::uint32_t>::max()) return MAPI_E_INVALID_PARAMETER;
    for (const SPropValue& v : values) {
        if (const SCODE sc = CheckEncodable(v); FAILED(sc)) return sc;
    }
    Writer w(out);
    w.U32(static_cast<std::uint32_t>(values.size()));
    for (const SPropValue& v : values) WriteValue(w, v);
    return S_OK;
}

SCODE DecodePropValue(std::span<const BYTE> data, void* lpBase, SPropValue* out, std::size_t* consumed)
{
    if (!lpBase || !out) return MAPI_E_INVALID_PARAMETER;
    Reader r(data);
    SPropValue v{};
    if (const SCODE sc = Decoder(r, lpBase).Value(v); FAILED(sc)) return sc;
    *out = v;
    if (consumed) *consumed = r.Used();
    return S_OK;
}

SCODE DecodePropValue(std::span<const BYTE> data, LPSPropValue* out)
{
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    MapiBuffer<SPropValue> head;
    if (const SCODE sc = MAPIAllocateBuffer(sizeof(SPropValue), head.AsVoidOut()); FAILED(sc)) return sc;
    std::size_t used = 0;
    if (const SCODE sc = DecodePropValue(data, head.Get(), head.Get(), &used); FAILED(sc)) return sc;
    if (used != data.size()) return MAPI_E_CORRUPT_DATA;
    *out = head.Release();
    return S_OK;
}

SCODE DecodePropArray(std::span<const BYTE> data, ULONG* count, LPSPropValue* out)
{
    if (!count || !out) return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *out = nullptr;
    Reader r(data);
    std::uint32_t n = 0;
    // Every value takes at least six bytes (tag and the smallest datum).
    if (!r.U32(n) || std::uint64_t{n} * 6 > r.Remaining()) return MAPI_E_CORRUPT_DATA;
    const std::uint64_t cb = std::max<std::uint64_t>(1, std::uint64_t{n} * sizeof(SPropValue));
    if (cb > std::numeric_limits<ULONG>::max()) return MAPI_E_NOT_ENOUGH_MEMORY;
    MapiBuffer<SPropValue> head;
    if (const SCODE sc = MAPIAllocateBuffer(static_cast<ULONG>(cb), head.AsVoidOut()); FAILED(sc)) return sc;
    for (std::uint32_t i = 0; i < n; ++i) {
        if (const SCODE sc = Decoder(r, head.Get()).Value(head.Get()[i]); FAILED(sc)) return sc;
    }
    if (r.Remaining() != 0) return MAPI_E_CORRUPT_DATA;
    *count = n;
    *out = head.Release();
    return S_OK;
}

SCODE PeekPropValue(std::span<const BYTE> data, ULONG* tag, std::size_t* size)
{
    Reader r(data);
    SPropValue v{};
    if (const SCODE sc = Decoder(r, nullptr).Value(v); FAILED(sc)) return sc;
    if (tag) *tag = v.ulPropTag;
    if (size) *size = r.Used();
    return S_OK;
}

}  // namespace quillory
