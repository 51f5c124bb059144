#include "provider/settings/account_settings.h"

#include "platform/base/trace.h"

namespace quillory {

namespace {

struct AccountTagArray {
    ULONG cValues = acct::kCount;
    ULONG tags[acct::kCount];
};

AccountTagArray MakeAccountTags()
{
    AccountTagArray a;
    for (int i = 0; i < acct::kCount; ++i) a.tags[i] = acct::kTags[static_cast<std::size_t>(i)];
    return a;
}

}  // namespace

HRESULT ReadAccountArray(LPMAPIPROP section, quarnex::ProviderBuffer<SPropValue>& out)
{
    out.Reset();
    if (!section) return E_INVALIDARG;
    AccountTagArray tags = MakeAccountTags();
    ULONG count = 0;
    LPSPropValue values = nullptr;
    const HRESULT hr = section->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &values);
    if (FAILED(hr)) return hr;
    out.Reset(values);
    if (count != acct::kCount) {
        Trace("ReadAccountArray -- %lu values instead of %d\n", static_cast<unsigned long>(count),
                       acct::kCount);
        out.Reset();
        return E_FAIL;
    }
    return S_OK;
}

HRESULT WriteAccountArray(LPMAPIPROP section, LPSPropValue values)
{
    if (!section || !values) return E_INVALIDARG;
    return section->SetProps(acct::kCount, values, nullptr);
}

const SPropValue* AccountValue(const SPropValue* values, int index)
{
    if (!values || index < 0 || index >= acct::kCount) return nullptr;
    const SPropValue& v = values[index];
    return acct::HasExpectedTag(index, v.ulPropTag) ? &v : nullptr;
}

const char* AccountString(const SPropValue* values, int index)
{
    const SPropValue* v = AccountValue(values, index);
    if (!v || PROP_TYPE(v->ulPropTag) != PT_STRING8) return nullptr;
    return v->Value.lpszA;
}

const char* AccountNonEmptyString(const SPropValue* values, int index)
{
    const char* s = AccountString(values, index);
    return s && *s ? s : nullptr;
}

std::optional<LONG> AccountLong(const SPropValue* values, int index)
{
    const SPropValue* v = AccountValue(values, index);
    if (!v || PROP_TYPE(v->ulPropTag) != PT_LONG) return std::nullopt;
    return v->Value.l;
}

std::optional<bool> AccountBool(const SPropValue* values, int index)
{
    const SPropValue* v = AccountValue(values, index);
    if (!v || PROP_TYPE(v->ulPropTag) != PT_BOOLEAN) return std::nullopt;
    return v->Value.b != 0;
}

std::optional<FILETIME> AccountTime(const SPropValue* values, int index)
{
    const SPropValue* v = AccountValue(values, index);
    if (!v || PROP_TYPE(v->ulPropTag) != PT_SYSTIME) return std::nullopt;
    return v->Value.ft;
}

}  // namespace quillory
