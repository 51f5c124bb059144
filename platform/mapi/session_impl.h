// The MAPI session object behind MAPILogonEx.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/refcounted.h"
#include "platform/mapi/service_admin_core.h"

namespace quillory {

// A message store provider of the profile, as the session sees it.
struct SessionStore {
    MAPIUID uid{};  // the provider's UID, which is the store's UID
    std::string displayName;
    std::string providerDisplay;
    ULONG resourceFlags = 0;
    std::filesystem::path file;
};

class CMAPISession final : public IMAPISession, public CRefCounted {
public:
    explicit CMAPISession(ProfileContext ctx);
    ~CMAPISession() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    QUILLORY_IUNKNOWN_REFCOUNT

    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override;
    HRESULT GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    HRESULT OpenMsgStore(ULONG_PTR ulUIParam, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                         LPMDB* lppMDB) override;
    HRESULT OpenAddressBook(ULONG_PTR ulUIParam, LPCIID lpInterface, ULONG ulFlags, LPADRBOOK* lppAdrBook) override;
    HRESULT OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags, LPPROFSECT* lppProfSect) override;
    HRESULT GetStatusTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType,
                      LPUNKNOWN* lppUnk) override;
    HRESULT CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2, LPENTRYID lpEntryID2,
                            ULONG ulFlags, ULONG* lpulResult) override;
    HRESULT Advise(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink,
                   ULONG* lpulConnection) override;
    HRESULT Unadvise(ULONG ulConnection) override;
    HRESULT QueryIdentity(ULONG* lpcbEntryID, LPENTRYID* lppEntryID) override;
    HRESULT Logoff(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG ulReserved) override;
    HRESULT SetDefaultStore(ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID) override;
    HRESULT AdminServices(ULONG ulFlags, LPSERVICEADMIN* lppServiceAdmin) override;

    const ProfileContext& Context() const { return ctx_; }
    // The status table's data, for the spooler and transports to add rows to
    // (indexed by PR_INSTANCE_KEY). Null after Logoff.
    HRESULT StatusTableData(ITableData** lppTableData);

private:
    HRESULT Fail(HRESULT hr, std::string text);
    bool LoggedOff();
    // The message store providers of the profile, in the order they were added.
    HRESULT Stores(std::vector<SessionStore>& out, std::string* error);
    HRESULT FindStore(const MAPIUID& uid, SessionStore* out);
    // The open store with the UID, opened on first use and kept while the
    // session lives.
    HRESULT StoreObject(const MAPIUID& uid, ULONG ulFlags, ComPtr<IMsgStore>& out, std::string* error = nullptr);
    HRESULT AddressBook(ComPtr<IAddrBook>& out);

    const ProfileContext ctx_;
    std::mutex mutex_;
    bool loggedOff_ = false;
    std::map<std::string, ComPtr<IMsgStore>> openStores_;  // by store UID in hex
    ComPtr<IAddrBook> addressBook_;
    ComPtr<ITableData> statusTable_;
    HRESULT lastError_ = S_OK;
    std::string lastErrorText_;
};

// Lets go of the process's shared session (the last MAPIUninitialize).
void DropSharedSession();

}  // namespace quillory
