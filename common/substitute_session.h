// The substitute MAPI session (`CMyMAPISession`): code that holds only the
// mail client's automation objects gets an IMAPISession by logging on
// with MAPI_ALLOW_OTHERS, which shares the session the host process already
// has. It keeps every store of that session open while it lives (the first
// 100), so that entries of any store open quickly, and otherwise forwards
// every call to the shared session unchanged.
//
// When there is no session to share, the object still exists but answers
// QueryInterface for IMAPISession with E_NOINTERFACE, and each forwarded
// call fails with MAPI_E_LOGON_FAILED without touching anything.
#pragma once

#include <array>
#include <atomic>

#include "platform/com/com_ptr.h"
#include "platform/mapi/mapix.h"

namespace quillory {

class CMyMAPISession final : public IMAPISession {
public:
    // Logs on and opens the stores; the caller holds the one reference.
    static CMyMAPISession* Create();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

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

    // Stores kept open at most.
    static constexpr ULONG kMaxStores = 100;
    ULONG OpenStoreCount() const { return storeCount_; }

private:
    CMyMAPISession();
    ~CMyMAPISession();

    std::atomic<ULONG> refs_{0};
    ComPtr<IMAPISession> shared_;
    std::array<IMsgStore*, kMaxStores> stores_{};
    ULONG storeCount_ = 0;
};

}  // namespace quillory
