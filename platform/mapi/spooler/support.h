// The support object (IMAPISupport) a provider receives: from the spooler at
// TransportLogon, and from profile administration when a service's entry is
// called to create or configure it.
//
// What a transport's support object does:
//  - GetMemAllocRoutines: MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer.
//  - OpenProfileSection: no UID opens the provider's own section; a UID opens
//    that section. MAPI_MODIFY opens it for writing (and creates it).
//  - ModifyStatusRow: the provider's row of the session's status table, keyed
//    by the provider UID (PR_INSTANCE_KEY). The spooler's own columns
//    (PR_INSTANCE_KEY, PR_OBJECT_TYPE, PR_RESOURCE_TYPE, PR_PROVIDER_DISPLAY,
//    PR_PROVIDER_DLL_NAME) always stay; no values leaves only them;
//    STATUSROW_UPDATE merges the values into the row, without it they replace
//    what the provider wrote before.
//  - SpoolerYield, SpoolerNotify: recorded for the spooler loop.
//  - OpenEntry: the session's stores by store entry ID, folders and messages
//    inside them, and one-off address entries.
//  - OpenAddressBook, CreateOneOff, NewUID, GetLastError.
//  - StatusRecips: writes a non-delivery report ("REPORT.IPM.Note.NDR") into
//    the default store's receive folder for the recipients whose delivery
//    failed (those without a PR_DELIVER_TIME). The caller keeps ownership of
//    the ADRLIST and frees it afterwards; StatusRecips only reads it.
//  - everything else: MAPI_E_NO_SUPPORT.
// A configuration support object has no session: OpenProfileSection without
// UID opens the service's section; OpenEntry, ModifyStatusRow, StatusRecips
// and the spooler calls answer MAPI_E_NO_SUPPORT.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/refcounted.h"
#include "platform/mapi/mapispi.h"
#include "platform/mapi/propobj.h"
#include "platform/mapi/service_admin_core.h"

namespace quillory {

// The spooler's columns of a transport's status row.
struct StatusRowIdentity {
    MAPIUID provider{};  // PR_INSTANCE_KEY
    std::string providerDisplay;
    std::string dllName;
};

class CMAPISupport final : public IMAPISupport, public CRefCounted {
public:
    // A transport's support object under the spooler of `session`. The status
    // row gets the identity columns at once.
    static HRESULT ForTransport(LPMAPISESSION session, const StatusRowIdentity& row, ComPtr<CMAPISupport>& out);
    // A service entry's support object during profile administration.
    static ComPtr<CMAPISupport> ForConfiguration(const ProfileContext& ctx, const MAPIUID& service);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    QUILLORY_IUNKNOWN_REFCOUNT

    // ---- What the spooler reads back ----
    // PR_STATUS_CODE of the provider's status row (0 when it has none).
    ULONG StatusCode();
    // PR_STATUS_STRING of the row (empty when it has none).
    std::string StatusText();
    // The SpoolerNotify flags since the last call, oldest first.
    std::vector<ULONG> TakeSpoolerNotifications();
    ULONG YieldCount() const;
    // Called on every SpoolerYield (the host's chance to keep its UI alive).
    void SetYieldHandler(std::function<void()> handler);
    // Sets the provider's row to the identity columns and the given values
    // (what the spooler shows for a transport that could not log on).
    HRESULT SetStatusRow(std::span<const SPropValue> values);

    // ---- IMAPISupport ----
    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override;
    HRESULT GetMemAllocRoutines(LPALLOCATEBUFFER* lpAllocateBuffer, LPALLOCATEMORE* lpAllocateMore,
                                LPFREEBUFFER* lpFreeBuffer) override;
    HRESULT Subscribe(LPNOTIFKEY, ULONG, ULONG, LPMAPIADVISESINK, ULONG*) override;
    HRESULT Unsubscribe(ULONG) override;
    HRESULT Notify(LPNOTIFKEY, ULONG, LPNOTIFICATION, ULONG*) override;
    HRESULT ModifyStatusRow(ULONG cValues, LPSPropValue lpColumnVals, ULONG ulFlags) override;
    HRESULT OpenProfileSection(LPMAPIUID lpUid, ULONG ulFlags, LPPROFSECT* lppProfileObj) override;
    HRESULT RegisterPreprocessor(LPMAPIUID, LPSTR, LPSTR, LPSTR, LPSTR, ULONG) override;
    HRESULT NewUID(LPMAPIUID lpMuid) override;
    HRESULT MakeInvalid(ULONG, LPVOID, ULONG, ULONG) override;
    HRESULT SpoolerYield(ULONG ulFlags) override;
    HRESULT SpoolerNotify(ULONG ulFlags, LPVOID lpvData) override;
    HRESULT CreateOneOff(LPSTR lpszName, LPSTR lpszAdrType, LPSTR lpszAddress, ULONG ulFlags, ULONG* lpcbEntryID,
                         LPENTRYID* lppEntryID) override;
    HRESULT SetProviderUID(LPMAPIUID, ULONG) override;
    HRESULT CompareEntryIDs(ULONG cbEntry1, LPENTRYID lpEntry1, ULONG cbEntry2, LPENTRYID lpEntry2,
                            ULONG ulCompareFlags, ULONG* lpulResult) override;
    HRESULT OpenTemplateID(ULONG, LPENTRYID, ULONG, LPMAPIPROP, LPCIID, LPMAPIPROP*, LPMAPIPROP) override;
    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulOpenFlags,
                      ULONG* lpulObjType, LPUNKNOWN* lppUnk) override;
    HRESULT GetOneOffTable(ULONG, LPMAPITABLE*) override;
    HRESULT Address(ULONG_PTR*, LPVOID, LPADRLIST*) override;
    HRESULT Details(ULONG_PTR*, LPVOID, LPVOID, ULONG, LPENTRYID, LPVOID, LPVOID, LPSTR, ULONG) override;
    HRESULT NewEntry(ULONG_PTR, ULONG, ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG*, LPENTRYID*) override;
    HRESULT DoConfigPropsheet(ULONG_PTR, ULONG, LPSTR, LPVOID, LPVOID, ULONG) override;
    HRESULT CopyMessages(LPCIID, LPVOID, LPENTRYLIST, LPCIID, LPVOID, ULONG_PTR, LPMAPIPROGRESS, ULONG) override;
    HRESULT CopyFolder(LPCIID, LPVOID, ULONG, LPENTRYID, LPCIID, LPVOID, LPSTR, ULONG_PTR, LPMAPIPROGRESS,
                       ULONG) override;
    HRESULT DoCopyTo(LPCIID, LPVOID, ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID,
                     ULONG, LPSPropProblemArray*) override;
    HRESULT DoCopyProps(LPCIID, LPVOID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                        LPSPropProblemArray*) override;
    HRESULT DoProgressDialog(ULONG_PTR, ULONG, LPMAPIPROGRESS*) override;
    HRESULT ReadReceipt(ULONG, LPMESSAGE, LPMESSAGE*) override;
    HRESULT PrepareSubmit(LPMESSAGE, ULONG*) override;
    HRESULT ExpandRecips(LPMESSAGE, ULONG*) override;
    HRESULT UpdatePAB(ULONG, LPMESSAGE) override;
    HRESULT DoSentMail(ULONG, LPMESSAGE) override;
    HRESULT OpenAddressBook(LPCIID lpInterface, ULONG ulFlags, LPADRBOOK* lppAdrBook) override;
    HRESULT Preprocess(ULONG, ULONG, LPENTRYID) override;
    HRESULT CompleteMsg(ULONG, ULONG, LPENTRYID) override;
    HRESULT StoreLogoffTransports(ULONG*) override;
    HRESULT StatusRecips(LPMESSAGE lpMessage, LPADRLIST lpRecipList) override;
    HRESULT WrapStoreEntryID(ULONG, LPENTRYID, ULONG*, LPENTRYID*) override;
    HRESULT ModifyProfile(ULONG) override;
    HRESULT IStorageFromStream(LPUNKNOWN, LPCIID, ULONG, LPVOID*) override;
    HRESULT GetSvcConfigSupportObj(ULONG, LPMAPISUP*) override;

    // Use the factories.
    CMAPISupport(ProfileContext ctx, const MAPIUID& ownSection, ComPtr<IMAPISession> session,
                 ComPtr<ITableData> statusTable, StatusRowIdentity row);

private:
    HRESULT Fail(HRESULT hr, std::string text);
    HRESULT NoSupport(const char* method);
    HRESULT WriteRow(const CPropertyBag& providerValues);

    const ProfileContext ctx_;
    const MAPIUID ownSection_;
    const ComPtr<IMAPISession> session_;  // null for configuration
    const ComPtr<ITableData> statusTable_;
    const StatusRowIdentity row_;

    mutable std::mutex mutex_;
    CPropertyBag providerColumns_;  // what the provider put in its row
    std::vector<ULONG> notifications_;
    ULONG yields_ = 0;
    std::function<void()> yieldHandler_;
    HRESULT lastError_ = S_OK;
    std::string lastErrorText_;
};

// Writes a non-delivery report for `original` into the receive folder of
// `store` that takes "REPORT.IPM.Note.NDR": the subject "Undeliverable: "
// and the original one, PR_ORIGINAL_SUBJECT, a body listing the recipients
// with their report texts, and those recipients with PR_REPORT_TEXT,
// PR_NDR_REASON_CODE and PR_NDR_DIAG_CODE (defaults for missing codes).
HRESULT WriteNonDeliveryReport(IMsgStore* store, IMessage* original, std::span<const SRow> recipients,
                               std::string* error = nullptr);

// The session's default message store.
HRESULT OpenDefaultStore(LPMAPISESSION session, ComPtr<IMsgStore>& out);
// The session's explanation of a failure ("" when it has none), to follow a
// problem's sentence.
std::string SessionErrorText(LPMAPISESSION session, HRESULT hr);

}  // namespace quillory
