// Recipients of a message: ModifyRecipients, the recipient table, and
// copying recipients and attachments to another message (CopyTo).
#include <algorithm>

#include "platform/mapi/message.h"
#include "platform/mapi/msgstore_table.h"
#include "platform/mapi/proputil.h"

namespace quillory::store {
namespace {

// The values a recipient keeps: not its row id (the store assigns it), nor
// error, null or object values (answers, not values).
HRESULT KeptValues(const ADRENTRY& entry, PropArray& out)
{
    std::vector<SPropValue> kept;
    for (ULONG i = 0; i < entry.cValues; ++i) {
        const SPropValue& v = entry.rgPropVals[i];
        const ULONG type = PROP_TYPE(v.ulPropTag);
        if (v.ulPropTag == PR_ROWID || v.ulPropTag == PR_INSTANCE_KEY || type == PT_ERROR || type == PT_NULL ||
            type == PT_OBJECT)
            continue;
        if (!IsKnownPropType(type) || type == PT_UNSPECIFIED) return MAPI_E_INVALID_TYPE;
        kept.push_back(v);
    }
    out = PropArray{};
    if (const SCODE sc = ScDupPropset(static_cast<int>(kept.size()), kept.data(), MAPIAllocateBuffer, &out.props);
        FAILED(sc))
        return sc == MAPI_E_INVALID_PARAMETER ? MAPI_E_BAD_VALUE : sc;
    out.count = static_cast<ULONG>(kept.size());
    return S_OK;
}

std::optional<ULONG> RowIdOf(const ADRENTRY& entry)
{
    for (ULONG i = 0; i < entry.cValues; ++i) {
        if (entry.rgPropVals[i].ulPropTag == PR_ROWID) return entry.rgPropVals[i].Value.ul;
    }
    return std::nullopt;
}

}  // namespace

HRESULT CMessage::ModifyRecipients(ULONG ulFlags, LPADRLIST lpMods)
{
    constexpr ULONG kModes = MODRECIP_ADD | MODRECIP_MODIFY | MODRECIP_REMOVE;
    if (ulFlags & ~kModes) return MAPI_E_UNKNOWN_FLAGS;
    const ULONG mode = ulFlags & kModes;
    if (mode != 0 && mode != MODRECIP_ADD && mode != MODRECIP_MODIFY && mode != MODRECIP_REMOVE)
        return MAPI_E_INVALID_PARAMETER;
    if (!lpMods) return MAPI_E_INVALID_PARAMETER;
    for (ULONG i = 0; i < lpMods->cEntries; ++i) {
        if (lpMods->aEntries[i].cValues && !lpMods->aEntries[i].rgPropVals) return MAPI_E_INVALID_PARAMETER;
    }
    auto lock = Lock();
    if (const HRESULT hr = CheckModify(); FAILED(hr)) return RecordError(hr, "The message was opened read-only");

    // Worked out on a copy, so a refused entry changes nothing.
    std::vector<Recipient> result;
    ULONG next = nextRowId_;
    if (mode != 0) {
        for (const Recipient& r : recipients_) {
            Recipient copy;
            copy.rowId = r.rowId;
            if (const SCODE sc = ScDupPropset(static_cast<int>(r.props.count), r.props.props.Get(), MAPIAllocateBuffer,
                                              &copy.props.props);
                FAILED(sc))
                return sc;
            copy.props.count = r.props.count;
            result.push_back(std::move(copy));
        }
    }
    for (ULONG i = 0; i < lpMods->cEntries; ++i) {
        const ADRENTRY& entry = lpMods->aEntries[i];
        if (mode == 0 || mode == MODRECIP_ADD) {
            Recipient r;
            if (const HRESULT hr = KeptValues(entry, r.props); FAILED(hr)) return RecordError(hr, "A recipient value is not valid");
            r.rowId = next++;
            result.push_back(std::move(r));
            continue;
        }
        const auto rowId = RowIdOf(entry);
        if (!rowId) return RecordError(MAPI_E_INVALID_PARAMETER, "A recipient to change lacks PR_ROWID");
        const auto it = std::find_if(result.begin(), result.end(), [&](const Recipient& r) { return r.rowId == *rowId; });
        if (it == result.end()) return RecordError(MAPI_E_NOT_FOUND, "No recipient has that PR_ROWID");
        if (mode == MODRECIP_REMOVE) {
            result.erase(it);
        } else if (const HRESULT hr = KeptValues(entry, it->props); FAILED(hr)) {
            return RecordError(hr, "A recipient value is not valid");
        }
    }
    recipients_ = std::move(result);
    nextRowId_ = next;
    recipientsDirty_ = true;
    ++recipientsVersion_;
    SetModified(true);
    return S_OK;
}

HRESULT CMessage::GetRecipientTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    if (!lppTable) return MAPI_E_INVALID_PARAMETER;
    *lppTable = nullptr;
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    ComPtr<CMessage> self(this);
    auto loader = [self](MemoryTableSource::Data& data) -> HRESULT {
        auto lock = self->Lock();
        data.columns = {PR_ROWID, PR_INSTANCE_KEY};
        for (const Recipient& r : self->recipients_) {
            std::vector<SPropValue> values(r.props.props.Get(), r.props.props.Get() + r.props.count);
            for (const SPropValue& v : values) {
                if (std::find(data.columns.begin(), data.columns.end(), v.ulPropTag) == data.columns.end())
                    data.columns.push_back(v.ulPropTag);
            }
            BYTE key[4] = {static_cast<BYTE>(r.rowId), static_cast<BYTE>(r.rowId >> 8), static_cast<BYTE>(r.rowId >> 16),
                           static_cast<BYTE>(r.rowId >> 24)};
            SPropValue rowId{};
            rowId.ulPropTag = PR_ROWID;
            rowId.Value.ul = r.rowId;
            SPropValue instance{};
            instance.ulPropTag = PR_INSTANCE_KEY;
            instance.Value.bin = SBinary{sizeof key, key};
            values.insert(values.begin(), {rowId, instance});
            PropArray row;
            if (const SCODE sc = ScDupPropset(static_cast<int>(values.size()), values.data(), MAPIAllocateBuffer, &row.props);
                FAILED(sc))
                return sc;
            row.count = static_cast<ULONG>(values.size());
            data.keys.push_back(r.rowId);
            data.rows.push_back(std::move(row));
        }
        return S_OK;
    };
    auto version = [self] { return self->recipientsVersion_.load(); };
    return CreateStoreTable(std::make_unique<MemoryTableSource>(loader, version), lppTable);
}

// CopyTo's part beyond values: the recipients, then each attachment through
// the destination's attachment interface.
HRESULT CMessage::CopySubObjects(LPMAPIPROP lpDest, std::span<const IID> excluded, ULONG ulFlags)
{
    ComPtr<IMessage> dest;
    if (FAILED(lpDest->QueryInterface(IID_IMessage, dest.AsVoidOut()))) return S_OK;  // not a message: values only
    bool skipAttachments = false;
    for (const IID& iid : excluded) {
        if (IsEqualIID(iid, IID_IMessage)) return S_OK;
        if (IsEqualIID(iid, IID_IAttachment)) skipAttachments = true;
    }
    std::vector<PropArray> recipients;
    std::vector<ULONG> nums;
    {
        auto lock = Lock();
        for (const Recipient& r : recipients_) {
            PropArray copy;
            if (const SCODE sc = ScDupPropset(static_cast<int>(r.props.count), r.props.props.Get(), MAPIAllocateBuffer,
                                              &copy.props);
                FAILED(sc))
                return sc;
            copy.count = r.props.count;
            recipients.push_back(std::move(copy));
        }
        if (!skipAttachments) nums = AttachmentNums();
    }
    if (!recipients.empty()) {
        const auto n = static_cast<ULONG>(recipients.size());
        MapiBuffer<ADRLIST> list;
        if (const SCODE sc = MAPIAllocateBuffer(CbNewADRLIST(n), list.AsVoidOut()); FAILED(sc)) return sc;
        list->cEntries = n;
        for (ULONG i = 0; i < n; ++i)
            list->aEntries[i] = ADRENTRY{0, recipients[i].count, recipients[i].props.Get()};
        const HRESULT hr = dest->ModifyRecipients(0, list.Get());
        if (FAILED(hr)) return hr;
    }
    for (ULONG num : nums) {
        CPropertyBag values;
        if (const HRESULT hr = AttachmentValues(num, values); FAILED(hr)) return hr;
        values.Delete(PR_ATTACH_NUM);
        ULONG count = 0;
        MapiBuffer<SPropValue> flat;
        if (const SCODE sc = values.CopyAll(&count, &flat); FAILED(sc)) return sc;
        ComPtr<IAttach> attach;
        ULONG newNum = 0;
        if (const HRESULT hr = dest->CreateAttach(nullptr, 0, &newNum, &attach); FAILED(hr)) return hr;
        if (const HRESULT hr = attach->SetProps(count, flat.Get(), nullptr); FAILED(hr)) return hr;
        if (const HRESULT hr = attach->SaveChanges(0); FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace quillory::store
