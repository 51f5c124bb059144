// The address book object and one-off mail users.
#include "platform/mapi/addrbook.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/base/trace.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/propobj.h"
#include "platform/mapi/proputil.h"

namespace quillory {

namespace {

// The properties a one-off entry answers, with the storage they point into.
class OneOffValues {
public:
    explicit OneOffValues(const OneOffEntry& entry) : entry_(entry), entryId_(MakeOneOffEntryId(entry))
    {
        std::string key = entry.addressType + ":" + entry.address;
        for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        searchKey_.assign(key.begin(), key.end());
        searchKey_.push_back(0);
        Add(PR_DISPLAY_NAME).Value.lpszA = entry_.displayName.data();
        Add(PR_TRANSMITABLE_DISPLAY_NAME).Value.lpszA = entry_.displayName.data();
        Add(PR_ADDRTYPE).Value.lpszA = entry_.addressType.data();
        Add(PR_EMAIL_ADDRESS).Value.lpszA = entry_.address.data();
        for (ULONG tag : {PR_ENTRYID, PR_RECORD_KEY}) {
            auto& v = Add(tag);
            v.Value.bin.cb = static_cast<ULONG>(entryId_.size());
            v.Value.bin.lpb = entryId_.data();
        }
        auto& search = Add(PR_SEARCH_KEY);
        search.Value.bin.cb = static_cast<ULONG>(searchKey_.size());
        search.Value.bin.lpb = searchKey_.data();
        Add(PR_OBJECT_TYPE).Value.l = MAPI_MAILUSER;
        Add(PR_DISPLAY_TYPE).Value.l = DT_MAILUSER;
        Add(PR_SEND_RICH_INFO).Value.b = (entry_.flags & MAPI_ONE_OFF_NO_RICH_INFO) ? 0 : 1;
    }
    const std::vector<SPropValue>& Values() const { return values_; }
    bool Replaces(ULONG tag) const
    {
        return std::any_of(values_.begin(), values_.end(),
                           [&](const SPropValue& v) { return PROP_ID(v.ulPropTag) == PROP_ID(tag); });
    }

private:
    SPropValue& Add(ULONG tag)
    {
        SPropValue v{};
        v.ulPropTag = tag;
        values_.push_back(v);
        return values_.back();
    }
    OneOffEntry entry_;
    std::vector<BYTE> entryId_;
    std::vector<BYTE> searchKey_;
    std::vector<SPropValue> values_;
};

const SPropValue* FindString(const ADRENTRY& e, ULONG tag)
{
    const SPropValue* v = PpropFindProp(e.rgPropVals, e.cValues, tag);
    return v && v->Value.lpszA ? v : nullptr;
}

class CMailUser final : public CMAPIPropBase<IMailUser> {
public:
    explicit CMailUser(const OneOffEntry& entry)
    {
        const OneOffValues values(entry);
        for (const auto& v : values.Values()) {
            if (FAILED(Bag().Set(v))) status_ = MAPI_E_NOT_ENOUGH_MEMORY;
        }
        SetWritable(false);
    }
    HRESULT Status() const { return status_; }
    HRESULT SaveChanges(ULONG) override { return RecordError(MAPI_E_NO_ACCESS, "One-off entries cannot be changed"); }

private:
    bool SupportsInterface(REFIID riid) const override { return IsEqualIID(riid, IID_IMailUser); }
    const char* ComponentName() const override { return "Quillory address book"; }
    HRESULT status_ = S_OK;
};

class CAddrBook final : public CMAPIPropBase<IAddrBook> {
public:
    CAddrBook() { SetWritable(false); }

    HRESULT SaveChanges(ULONG) override { return RecordError(MAPI_E_NO_ACCESS, "The address book has nothing to save"); }

    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType,
                      LPUNKNOWN* lppUnk) override
    {
        if (!lppUnk || !lpulObjType) return MAPI_E_INVALID_PARAMETER;
        *lppUnk = nullptr;
        *lpulObjType = 0;
        if (cbEntryID == 0 || !lpEntryID)
            return RecordError(MAPI_E_NO_SUPPORT, "The address book has no containers, only one-off entries");
        auto entry = ParseOneOffEntryId(cbEntryID, lpEntryID);
        if (!entry) return RecordError(MAPI_E_UNKNOWN_ENTRYID, "The entry ID is not one this address book knows");
        if (lpInterface && !IsEqualIID(*lpInterface, IID_IMailUser) && !IsEqualIID(*lpInterface, IID_IMAPIProp) &&
            !IsEqualIID(*lpInterface, IID_IUnknown))
            return RecordError(MAPI_E_INTERFACE_NOT_SUPPORTED, "A one-off entry is a mail user");
        LPMAILUSER user = nullptr;
        if (const HRESULT hr = CreateOneOffMailUser(*entry, &user); FAILED(hr)) return hr;
        *lppUnk = user;
        *lpulObjType = MAPI_MAILUSER;
        return S_OK;
    }

    HRESULT CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2, LPENTRYID lpEntryID2,
                            ULONG ulFlags, ULONG* lpulResult) override
    {
        if (!lpulResult || (cbEntryID1 && !lpEntryID1) || (cbEntryID2 && !lpEntryID2)) return MAPI_E_INVALID_PARAMETER;
        auto a = ParseOneOffEntryId(cbEntryID1, lpEntryID1);
        auto b = ParseOneOffEntryId(cbEntryID2, lpEntryID2);
        if (!a || !b) return RecordError(MAPI_E_UNKNOWN_ENTRYID, "The entry IDs are not one-off entries");
        // One-offs name the same recipient when type and address agree.
        auto same = [](const std::string& x, const std::string& y) {
            return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin(), [](char p, char q) {
                       return std::toupper(static_cast<unsigned char>(p)) == std::toupper(static_cast<unsigned char>(q));
                   });
        };
        *lpulResult = same(a->addressType, b->addressType) && same(a->address, b->address);
        return S_OK;
    }

    HRESULT CreateOneOff(LPSTR lpszName, LPSTR lpszAdrType, LPSTR lpszAddress, ULONG ulFlags, ULONG* lpcbEntryID,
                         LPENTRYID* lppEntryID) override
    {
        if (!lpcbEntryID || !lppEntryID) return MAPI_E_INVALID_PARAMETER;
        *lpcbEntryID = 0;
        *lppEntryID = nullptr;
        if (ulFlags & MAPI_UNICODE) return RecordError(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
        if (!lpszAdrType || !*lpszAdrType || !lpszAddress)
            return RecordError(MAPI_E_INVALID_PARAMETER, "A one-off entry needs an address type and an address");
        OneOffEntry entry{lpszName ? lpszName : lpszAddress, lpszAdrType, lpszAddress,
                          (ulFlags & MAPI_SEND_NO_RICH_INFO) ? MAPI_ONE_OFF_NO_RICH_INFO : 0};
        const std::vector<BYTE> id = MakeOneOffEntryId(entry);
        void* p = nullptr;
        if (const SCODE sc = MAPIAllocateBuffer(static_cast<ULONG>(id.size()), &p); FAILED(sc)) return sc;
        std::memcpy(p, id.data(), id.size());
        *lpcbEntryID = static_cast<ULONG>(id.size());
        *lppEntryID = static_cast<LPENTRYID>(p);
        return S_OK;
    }

    HRESULT ResolveName(ULONG_PTR ulUIParam, ULONG ulFlags, LPSTR lpszNewEntryTitle, LPADRLIST lpAdrList) override
    {
        if (!lpAdrList) return MAPI_E_INVALID_PARAMETER;
        if (ulFlags & MAPI_UNICODE) return RecordError(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
        bool ambiguous = false, unresolved = false;
        for (ULONG i = 0; i < lpAdrList->cEntries; ++i) {
            ADRENTRY& e = lpAdrList->aEntries[i];
            if (PpropFindProp(e.rgPropVals, e.cValues, PR_ENTRYID)) continue;  // resolved already
            OneOffEntry entry;
            HRESULT hr = MAPI_E_NOT_FOUND;
            const SPropValue* type = FindString(e, PR_ADDRTYPE);
            const SPropValue* address = FindString(e, PR_EMAIL_ADDRESS);
            const SPropValue* name = FindString(e, PR_DISPLAY_NAME);
            if (type && address && *type->Value.lpszA && *address->Value.lpszA) {
                entry = OneOffEntry{name && *name->Value.lpszA ? name->Value.lpszA : address->Value.lpszA,
                                    type->Value.lpszA, address->Value.lpszA, 0};
                hr = S_OK;
            } else if (name) {
                hr = ResolveOneOffName(name->Value.lpszA, &entry);
            }
            if (hr == MAPI_E_AMBIGUOUS_RECIP) ambiguous = true;
            if (FAILED(hr)) {
                unresolved = true;
                continue;
            }
            if (const SPropValue* rich = PpropFindProp(e.rgPropVals, e.cValues, PR_SEND_RICH_INFO); rich && !rich->Value.b)
                entry.flags |= MAPI_ONE_OFF_NO_RICH_INFO;
            if (hr = Replace(e, entry); FAILED(hr)) return RecordError(hr, "Not enough memory to resolve names");
        }
        if (ambiguous) return RecordError(MAPI_E_AMBIGUOUS_RECIP, "A name matches more than one recipient");
        if (unresolved) return RecordError(MAPI_E_NOT_FOUND, "A name could not be resolved to an address");
        return S_OK;
    }

private:
    // The entry's values become the one-off's, keeping the others it had
    // (the recipient type above all).
    static HRESULT Replace(ADRENTRY& e, const OneOffEntry& entry)
    {
        const OneOffValues resolved(entry);
        std::vector<SPropValue> values = resolved.Values();
        for (ULONG j = 0; j < e.cValues; ++j)
            if (!resolved.Replaces(e.rgPropVals[j].ulPropTag)) values.push_back(e.rgPropVals[j]);
        LPSPropValue copy = nullptr;
        if (const SCODE sc = ScDupPropset(static_cast<int>(values.size()), values.data(), MAPIAllocateBuffer, &copy);
            FAILED(sc))
            return sc;
        MAPIFreeBuffer(e.rgPropVals);
        e.rgPropVals = copy;
        e.cValues = static_cast<ULONG>(values.size());
        return S_OK;
    }

    HRESULT GetComputedProp(ULONG ulPropTag, void*, LPSPropValue lpOut) override
    {
        if (PROP_ID(ulPropTag) != PROP_ID(PR_OBJECT_TYPE)) return MAPI_E_NOT_FOUND;
        lpOut->ulPropTag = PR_OBJECT_TYPE;
        lpOut->Value.l = MAPI_ADDRBOOK;
        return S_OK;
    }
    void ListComputedProps(std::vector<ULONG>& tags) const override { tags.push_back(PR_OBJECT_TYPE); }
    bool IsComputedProp(ULONG ulPropTag) const override { return PROP_ID(ulPropTag) == PROP_ID(PR_OBJECT_TYPE); }
    bool SupportsInterface(REFIID riid) const override { return IsEqualIID(riid, IID_IAddrBook); }
    const char* ComponentName() const override { return "Quillory address book"; }
};

}  // namespace

HRESULT CreateAddressBook(LPADRBOOK* lppAdrBook)
{
    if (!lppAdrBook) return MAPI_E_INVALID_PARAMETER;
    *lppAdrBook = NewComObject<CAddrBook>();
    return S_OK;
}

HRESULT CreateOneOffMailUser(const OneOffEntry& entry, LPMAILUSER* lppMailUser)
{
    if (!lppMailUser) return MAPI_E_INVALID_PARAMETER;
    *lppMailUser = nullptr;
    auto user = ComPtr<CMailUser>::Attach(NewComObject<CMailUser>(entry));
    if (FAILED(user->Status())) return user->Status();
    *lppMailUser = user.Detach();
    return S_OK;
}

}  // namespace quillory
