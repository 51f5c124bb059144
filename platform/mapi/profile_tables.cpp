#include "platform/mapi/profile_tables.h"

#include <cstring>

#include "platform/base/trace.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/propcodec.h"

namespace quillory {

TableBuilder::TableBuilder(std::initializer_list<ULONG> columns)
{
    std::vector<BYTE> storage(CbNewSPropTagArray(static_cast<ULONG>(columns.size())));
    auto* tags = reinterpret_cast<SPropTagArray*>(storage.data());
    tags->cValues = static_cast<ULONG>(columns.size());
    std::copy(columns.begin(), columns.end(), tags->aulPropTag);
    status_ = CreateTable(&IID_IMAPITableData, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, nullptr,
                          TBLTYPE_DYNAMIC, PR_INSTANCE_KEY, tags, &data_);
}

HRESULT TableBuilder::AddRow(std::span<const SPropValue> values)
{
    if (FAILED(status_)) return status_;
    SRow row{};
    row.cValues = static_cast<ULONG>(values.size());
    row.lpProps = const_cast<LPSPropValue>(values.data());
    return data_->HrModifyRow(&row);
}

HRESULT TableBuilder::View(LPMAPITABLE* lppTable)
{
    if (!lppTable) return MAPI_E_INVALID_PARAMETER;
    *lppTable = nullptr;
    if (FAILED(status_)) return status_;
    return data_->HrGetView(nullptr, nullptr, 0, lppTable);
}

void SectionValues::Read(ProfileDb& db, ProfileId profile, const MAPIUID& uid)
{
    values_.clear();
    for (const auto& [tag, bytes] : db.SectionProps(profile, uid)) {
        MapiBuffer<SPropValue> value;
        if (FAILED(DecodePropValue(bytes, &value))) {
            Trace("profiles: section %s: value 0x%08X is damaged; skipped\n", ProfileUidHex(uid).c_str(), tag);
            continue;
        }
        values_.push_back(std::move(value));
    }
}

const SPropValue* SectionValues::Find(ULONG tag) const
{
    for (const auto& v : values_) {
        const ULONG t = v->ulPropTag;
        if (t == tag || (PROP_TYPE(tag) == PT_UNSPECIFIED && PROP_ID(t) == PROP_ID(tag))) return v.Get();
    }
    return nullptr;
}

std::string SectionValues::String(ULONG tag) const
{
    const SPropValue* v = Find(tag);
    return v && v->Value.lpszA ? std::string(v->Value.lpszA) : std::string();
}

ULONG SectionValues::Long(ULONG tag, ULONG fallback) const
{
    const SPropValue* v = Find(tag);
    return v ? v->Value.ul : fallback;
}

SPropValue StringValue(ULONG tag, const std::string& text)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = const_cast<char*>(text.c_str());
    return v;
}

SPropValue LongValue(ULONG tag, ULONG value)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.ul = value;
    return v;
}

SPropValue BoolValue(ULONG tag, bool value)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.b = value ? 1 : 0;
    return v;
}

SPropValue BinaryValue(ULONG tag, std::span<const BYTE> bytes)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.bin.cb = static_cast<ULONG>(bytes.size());
    v.Value.bin.lpb = const_cast<BYTE*>(bytes.data());
    return v;
}

SPropValue UidValue(ULONG tag, const MAPIUID& uid) { return BinaryValue(tag, uid.ab); }

HRESULT MakeMapiError(std::string_view text, std::string_view component, LPMAPIERROR* lppMAPIError)
{
    if (!lppMAPIError) return MAPI_E_INVALID_PARAMETER;
    *lppMAPIError = nullptr;
    MapiBuffer<MAPIERROR> err;
    if (const SCODE sc = MAPIAllocateBuffer(sizeof(MAPIERROR), err.AsVoidOut()); FAILED(sc)) return sc;
    std::memset(err.Get(), 0, sizeof(MAPIERROR));
    auto chain = [&](std::string_view s, LPSTR* out) -> SCODE {
        void* p = nullptr;
        if (const SCODE sc = MAPIAllocateMore(static_cast<ULONG>(s.size() + 1), err.Get(), &p); FAILED(sc))
            return sc;
        std::memcpy(p, s.data(), s.size());
        static_cast<char*>(p)[s.size()] = '\0';
        *out = static_cast<LPSTR>(p);
        return S_OK;
    };
    if (const SCODE sc = chain(text, &err->lpszError); FAILED(sc)) return sc;
    if (const SCODE sc = chain(component, &err->lpszComponent); FAILED(sc)) return sc;
    *lppMAPIError = err.Release();
    return S_OK;
}

}  // namespace quillory
