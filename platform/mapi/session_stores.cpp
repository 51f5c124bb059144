// The session's message stores: the stores table, opening stores, routing
// entry IDs to the store or address book they belong to, the default store
// and the status table.
#include <cstring>

#include "platform/base/trace.h"
#include "platform/mapi/addrbook.h"
#include "platform/mapi/entryid.h"
#include "platform/mapi/msgstore.h"
#include "platform/mapi/profile_tables.h"
#include "platform/mapi/session.h"
#include "platform/mapi/session_impl.h"

namespace quillory {

namespace {

// PR_STATUS_CODE of a store that is open for business.
constexpr ULONG kStatusAvailable = 0x00000001;
constexpr ULONG kStoreOpenFlags = MDB_NO_DIALOG | MDB_WRITE | MDB_NO_MAIL | MAPI_BEST_ACCESS;

bool IsInterface(LPCIID lpInterface, REFIID iid)
{
    return !lpInterface || IsEqualIID(*lpInterface, iid) || IsEqualIID(*lpInterface, IID_IMAPIProp) ||
           IsEqualIID(*lpInterface, IID_IUnknown);
}

}  // namespace

HRESULT CMAPISession::Stores(std::vector<SessionStore>& out, std::string* error)
{
    out.clear();
    return ctx_.db->Read([&]() -> HRESULT {
        if (!ctx_.db->FindProfile(ctx_.profile)) return MAPI_E_END_OF_SESSION;
        for (const auto& provider : ctx_.db->Providers(ctx_.profile)) {
            if (provider.resourceType != MAPI_STORE_PROVIDER) continue;
            auto service = ctx_.db->FindService(ctx_.profile, provider.service);
            // Only the embedded store can be opened here; other store kinds have no provider.
            if (!service || service->name != kStoreServiceName) continue;
            SectionValues section;
            section.Read(*ctx_.db, ctx_.profile, provider.uid);
            SessionStore store;
            store.uid = provider.uid;
            store.providerDisplay = section.String(PR_PROVIDER_DISPLAY);
            store.displayName = section.String(PR_DISPLAY_NAME);
            if (store.displayName.empty()) store.displayName = store.providerDisplay;
            store.resourceFlags = section.Long(PR_RESOURCE_FLAGS);
            const std::string path = section.String(PR_RESOURCE_PATH);
            store.file = StoreFilePath(*ctx_.db, path.empty() ? ProfileUidHex(provider.uid) + ".qst" : path);
            out.push_back(std::move(store));
        }
        return S_OK;
    }, error);
}

HRESULT CMAPISession::FindStore(const MAPIUID& uid, SessionStore* out)
{
    std::vector<SessionStore> stores;
    if (const HRESULT hr = Stores(stores, nullptr); FAILED(hr)) return hr;
    for (auto& s : stores) {
        if (ProfileUidEqual(s.uid, uid)) {
            *out = std::move(s);
            return S_OK;
        }
    }
    return MAPI_E_NOT_FOUND;
}

HRESULT CMAPISession::StoreObject(const MAPIUID& uid, ULONG ulFlags, ComPtr<IMsgStore>& out, std::string* error)
{
    std::lock_guard lock(mutex_);
    if (loggedOff_) return MAPI_E_END_OF_SESSION;
    auto& slot = openStores_[ProfileUidHex(uid)];
    if (!slot) {
        SessionStore store;
        HRESULT hr = FindStore(uid, &store);
        if (SUCCEEDED(hr))
            hr = OpenMessageStore(store.file, store.uid, store.displayName, ulFlags & kStoreOpenFlags, &slot, error);
        if (FAILED(hr)) {
            openStores_.erase(ProfileUidHex(uid));
            return hr;
        }
    }
    out = slot;
    return S_OK;
}

HRESULT CMAPISession::GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    if (!lppTable) return MAPI_E_INVALID_PARAMETER;
    *lppTable = nullptr;
    if (ulFlags & MAPI_UNICODE) return Fail(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
    if (LoggedOff()) return MAPI_E_END_OF_SESSION;
    std::vector<SessionStore> stores;
    std::string error;
    if (const HRESULT hr = Stores(stores, &error); FAILED(hr)) return Fail(hr, error);
    TableBuilder table{PR_DISPLAY_NAME,  PR_ENTRYID,       PR_DEFAULT_STORE, PR_MDB_PROVIDER,   PR_INSTANCE_KEY,
                       PR_RECORD_KEY,    PR_OBJECT_TYPE,   PR_RESOURCE_FLAGS, PR_PROVIDER_DISPLAY};
    for (const auto& store : stores) {
        const std::vector<BYTE> entryId = MakeStoreEntryId(store.uid, MAPI_STORE, 0);
        const SPropValue row[] = {
            StringValue(PR_DISPLAY_NAME, store.displayName),
            BinaryValue(PR_ENTRYID, entryId),
            BoolValue(PR_DEFAULT_STORE, (store.resourceFlags & STATUS_DEFAULT_STORE) != 0),
            UidValue(PR_MDB_PROVIDER, kQuilloryStoreProvider),
            UidValue(PR_INSTANCE_KEY, store.uid),
            UidValue(PR_RECORD_KEY, store.uid),
            LongValue(PR_OBJECT_TYPE, MAPI_STORE),
            LongValue(PR_RESOURCE_FLAGS, store.resourceFlags),
            StringValue(PR_PROVIDER_DISPLAY, store.providerDisplay),
        };
        if (const HRESULT hr = table.AddRow(row); FAILED(hr)) return Fail(hr, "The stores table could not be built");
    }
    return table.View(lppTable);
}

HRESULT CMAPISession::OpenMsgStore(ULONG_PTR ulUIParam, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                                   ULONG ulFlags, LPMDB* lppMDB)
{
    if (!lppMDB) return MAPI_E_INVALID_PARAMETER;
    *lppMDB = nullptr;
    if (LoggedOff()) return MAPI_E_END_OF_SESSION;
    MAPIUID uid{};
    if (!lpEntryID || !StoreUidOfEntryId(cbEntryID, lpEntryID, &uid))
        return Fail(MAPI_E_INVALID_ENTRYID, "The entry ID names no message store");
    if (!IsInterface(lpInterface, IID_IMsgStore))
        return Fail(MAPI_E_INTERFACE_NOT_SUPPORTED, "A message store answers IMsgStore");
    ComPtr<IMsgStore> store;
    std::string why;
    if (const HRESULT hr = StoreObject(uid, ulFlags, store, &why); FAILED(hr))
        return Fail(hr, hr == MAPI_E_NOT_FOUND ? "The profile has no such message store"
                                               : "The store could not be opened" + (why.empty() ? "" : ": " + why));
    *lppMDB = store.Detach();
    return S_OK;
}

HRESULT CMAPISession::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                                ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    if (!lppUnk || !lpulObjType) return MAPI_E_INVALID_PARAMETER;
    *lppUnk = nullptr;
    *lpulObjType = 0;
    if (LoggedOff()) return MAPI_E_END_OF_SESSION;
    if (!lpEntryID || cbEntryID == 0) return Fail(MAPI_E_INVALID_ENTRYID, "No entry ID was given");
    if (ParseOneOffEntryId(cbEntryID, lpEntryID)) {
        ComPtr<IAddrBook> book;
        if (const HRESULT hr = AddressBook(book); FAILED(hr)) return hr;
        return book->OpenEntry(cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType, lppUnk);
    }
    MAPIUID uid{};
    if (!StoreUidOfEntryId(cbEntryID, lpEntryID, &uid))
        return Fail(MAPI_E_UNKNOWN_ENTRYID, "No store or address book of the profile knows the entry ID");
    ComPtr<IMsgStore> store;
    std::string why;
    if (const HRESULT hr = StoreObject(uid, MAPI_BEST_ACCESS | MDB_NO_DIALOG, store, &why); FAILED(hr))
        return Fail(hr == MAPI_E_NOT_FOUND ? MAPI_E_UNKNOWN_ENTRYID : hr,
                    hr == MAPI_E_NOT_FOUND ? "The entry's store is not in the profile"
                                           : "The entry's store could not be opened: " + why);
    auto parsed = ParseStoreEntryId(cbEntryID, lpEntryID);
    if (parsed && parsed->kind == MAPI_STORE) {
        if (!IsInterface(lpInterface, IID_IMsgStore))
            return Fail(MAPI_E_INTERFACE_NOT_SUPPORTED, "A message store answers IMsgStore");
        *lpulObjType = MAPI_STORE;
        *lppUnk = store.Detach();
        return S_OK;
    }
    return store->OpenEntry(cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType, lppUnk);
}

HRESULT CMAPISession::CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2, LPENTRYID lpEntryID2,
                                      ULONG ulFlags, ULONG* lpulResult)
{
    if (!lpulResult || (cbEntryID1 && !lpEntryID1) || (cbEntryID2 && !lpEntryID2)) return MAPI_E_INVALID_PARAMETER;
    *lpulResult = 0;
    if (LoggedOff()) return MAPI_E_END_OF_SESSION;
    if (ParseOneOffEntryId(cbEntryID1, lpEntryID1) && ParseOneOffEntryId(cbEntryID2, lpEntryID2)) {
        ComPtr<IAddrBook> book;
        if (const HRESULT hr = AddressBook(book); FAILED(hr)) return hr;
        return book->CompareEntryIDs(cbEntryID1, lpEntryID1, cbEntryID2, lpEntryID2, ulFlags, lpulResult);
    }
    MAPIUID a{}, b{};
    if (StoreUidOfEntryId(cbEntryID1, lpEntryID1, &a) && StoreUidOfEntryId(cbEntryID2, lpEntryID2, &b)) {
        if (!ProfileUidEqual(a, b)) return S_OK;
        ComPtr<IMsgStore> store;
        if (SUCCEEDED(StoreObject(a, MAPI_BEST_ACCESS | MDB_NO_DIALOG, store)))
            return store->CompareEntryIDs(cbEntryID1, lpEntryID1, cbEntryID2, lpEntryID2, ulFlags, lpulResult);
    }
    *lpulResult = cbEntryID1 == cbEntryID2 && (cbEntryID1 == 0 || std::memcmp(lpEntryID1, lpEntryID2, cbEntryID1) == 0);
    return S_OK;
}

HRESULT CMAPISession::SetDefaultStore(ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID)
{
    if (LoggedOff()) return MAPI_E_END_OF_SESSION;
    if (ulFlags != MAPI_DEFAULT_STORE) return Fail(MAPI_E_NO_SUPPORT, "Only the default store can be chosen");
    MAPIUID uid{};
    if (!lpEntryID || !StoreUidOfEntryId(cbEntryID, lpEntryID, &uid))
        return Fail(MAPI_E_INVALID_ENTRYID, "The entry ID names no message store");
    std::vector<SessionStore> stores;
    std::string error;
    if (const HRESULT hr = Stores(stores, &error); FAILED(hr)) return Fail(hr, error);
    bool found = false;
    for (const auto& s : stores) found = found || ProfileUidEqual(s.uid, uid);
    if (!found) return Fail(MAPI_E_NOT_FOUND, "The profile has no such message store");
    const HRESULT hr = ctx_.db->Write([&]() -> HRESULT {
        for (const auto& s : stores) {
            SectionValues section;
            section.Read(*ctx_.db, ctx_.profile, s.uid);
            ULONG flags = section.Long(PR_RESOURCE_FLAGS) & ~STATUS_DEFAULT_STORE;
            if (ProfileUidEqual(s.uid, uid)) flags |= STATUS_DEFAULT_STORE;
            const SPropValue v = LongValue(PR_RESOURCE_FLAGS, flags);
            if (const HRESULT put = ctx_.db->PutProps(ctx_.profile, s.uid, std::span(&v, 1)); FAILED(put)) return put;
        }
        return S_OK;
    }, &error);
    return FAILED(hr) ? Fail(hr, error) : S_OK;
}

HRESULT CMAPISession::StatusTableData(ITableData** lppTableData)
{
    *lppTableData = nullptr;
    std::vector<SessionStore> stores;
    {
        std::lock_guard lock(mutex_);
        if (loggedOff_) return MAPI_E_END_OF_SESSION;
        if (statusTable_) {
            *lppTableData = ComPtr<ITableData>(statusTable_).Detach();
            return S_OK;
        }
    }
    std::string error;
    if (const HRESULT hr = Stores(stores, &error); FAILED(hr)) return Fail(hr, error);
    TableBuilder table{PR_INSTANCE_KEY,       PR_OBJECT_TYPE,        PR_RESOURCE_TYPE,       PR_DISPLAY_NAME,
                       PR_PROVIDER_DISPLAY,   PR_PROVIDER_DLL_NAME,  PR_RESOURCE_METHODS,    PR_RESOURCE_FLAGS,
                       PR_STATUS_CODE,        PR_STATUS_STRING,      PR_IDENTITY_DISPLAY,    PR_IDENTITY_ENTRYID,
                       PR_IDENTITY_SEARCH_KEY, PR_ENTRYID,            PR_REMOTE_VALIDATE_OK,  PR_RESOURCE_PATH};
    for (const auto& store : stores) {
        const std::string status = "Available";
        const SPropValue row[] = {
            UidValue(PR_INSTANCE_KEY, store.uid),
            LongValue(PR_OBJECT_TYPE, MAPI_STATUS),
            LongValue(PR_RESOURCE_TYPE, MAPI_STORE_PROVIDER),
            StringValue(PR_DISPLAY_NAME, store.displayName),
            StringValue(PR_PROVIDER_DISPLAY, store.providerDisplay),
            LongValue(PR_RESOURCE_METHODS, 0),
            LongValue(PR_RESOURCE_FLAGS, store.resourceFlags),
            LongValue(PR_STATUS_CODE, kStatusAvailable),
            StringValue(PR_STATUS_STRING, status),
        };
        if (const HRESULT hr = table.AddRow(row); FAILED(hr)) return Fail(hr, "The status table could not be built");
    }
    std::lock_guard lock(mutex_);
    if (loggedOff_) return MAPI_E_END_OF_SESSION;
    if (!statusTable_) statusTable_ = ComPtr<ITableData>(table.Data());  // a racing caller may have won
    *lppTableData = ComPtr<ITableData>(statusTable_).Detach();
    return S_OK;
}

HRESULT CMAPISession::GetStatusTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    if (!lppTable) return MAPI_E_INVALID_PARAMETER;
    *lppTable = nullptr;
    if (ulFlags & MAPI_UNICODE) return Fail(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
    ComPtr<ITableData> data;
    if (const HRESULT hr = StatusTableData(&data); FAILED(hr)) return hr;
    return data->HrGetView(nullptr, nullptr, 0, lppTable);
}

}  // namespace quillory
