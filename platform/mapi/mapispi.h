// The service provider interface: what the spooler hands a transport
// (IMAPISupport) and what a transport implements (IXPProvider, IXPLogon),
// with the flags and values of their home definitions. The spooler's
// implementation lives in platform/mapi/spooler/.
#pragma once

#include "platform/base/wintypes.h"
#include "platform/mapi/mapisvc_inf.h"  // PR_RESOURCE_TYPE values
#include "platform/mapi/mapix.h"

class IMalloc;
using LPMALLOC = IMalloc*;
using LPVOID = void*;
using LPGUID = GUID*;

// The key a provider subscribes to notifications under.
struct NOTIFKEY {
    ULONG cb;
    BYTE ab[1];
};
using LPNOTIFKEY = NOTIFKEY*;

// ---- Versions -------------------------------------------------------------------
constexpr ULONG CURRENT_SPI_VERSION = 0x00010010;

// ---- Interface identifiers -----------------------------------------------------------
constexpr IID IID_IMAPISup = {0x0002030F, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IXPProvider = {0x00020310, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IXPLogon = {0x00020311, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// ---- TransportLogon flags (in and out) ------------------------------------------------
constexpr ULONG LOGON_NO_DIALOG = 0x00000001;
constexpr ULONG LOGON_NO_CONNECT = 0x00000004;
constexpr ULONG LOGON_NO_INBOUND = 0x00000008;
constexpr ULONG LOGON_NO_OUTBOUND = 0x00000010;
constexpr ULONG LOGON_SP_IDLE = 0x00010000;
constexpr ULONG LOGON_SP_POLL = 0x00020000;
constexpr ULONG LOGON_SP_RESOLVE = 0x00040000;

// ---- IXPLogon::TransportNotify flags ---------------------------------------------------
constexpr ULONG NOTIFY_BEGIN_INBOUND = 0x00000001;
constexpr ULONG NOTIFY_BEGIN_OUTBOUND = 0x00000002;
constexpr ULONG NOTIFY_BEGIN_INBOUND_FLUSH = 0x00000004;
constexpr ULONG NOTIFY_BEGIN_OUTBOUND_FLUSH = 0x00000008;
constexpr ULONG NOTIFY_END_INBOUND = 0x00010000;
constexpr ULONG NOTIFY_END_OUTBOUND = 0x00020000;
constexpr ULONG NOTIFY_END_INBOUND_FLUSH = 0x00040000;
constexpr ULONG NOTIFY_END_OUTBOUND_FLUSH = 0x00080000;
constexpr ULONG NOTIFY_ABORT_DEFERRED = 0x40000000;
constexpr ULONG NOTIFY_CANCEL_MESSAGE = 0x80000000;

// ---- IMAPISupport::SpoolerNotify flags ---------------------------------------------------
constexpr ULONG NOTIFY_NEWMAIL = 0x00000001;
constexpr ULONG NOTIFY_READYTOSEND = 0x00000002;
constexpr ULONG NOTIFY_SENTDEFERRED = 0x00000004;
constexpr ULONG NOTIFY_CRITSEC = 0x00001000;
constexpr ULONG NOTIFY_NONCRIT = 0x00002000;
constexpr ULONG NOTIFY_CONFIG_CHANGE = 0x00004000;
constexpr ULONG NOTIFY_CRITICAL_ERROR = 0x00008000;

// ---- FlushQueues flags (IXPLogon and IMAPIStatus) --------------------------------------------
constexpr ULONG FLUSH_UPLOAD = 0x00000002;
constexpr ULONG FLUSH_DOWNLOAD = 0x00000004;
constexpr ULONG FLUSH_FORCE = 0x00000008;
constexpr ULONG FLUSH_NO_UI = 0x00000010;
constexpr ULONG FLUSH_ASYNC_OK = 0x00000020;

// ---- IMAPIStatus::ValidateState flags ------------------------------------------------------
constexpr ULONG SUPPRESS_UI = 0x00000001;
constexpr ULONG REFRESH_XP_HEADER_CACHE = 0x00010000;
constexpr ULONG PROCESS_XP_HEADER_CACHE = 0x00020000;
constexpr ULONG FORCE_XP_CONNECT = 0x00040000;
constexpr ULONG FORCE_XP_DISCONNECT = 0x00080000;
constexpr ULONG CONFIG_CHANGED = 0x00100000;
constexpr ULONG ABORT_XP_HEADER_OPERATION = 0x00200000;
constexpr ULONG SHOW_XP_SESSION_UI = 0x00400000;

// ---- PR_RESOURCE_METHODS bits ------------------------------------------------------------
constexpr ULONG STATUS_VALIDATE_STATE = 0x00000001;
constexpr ULONG STATUS_SETTINGS_DIALOG = 0x00000002;
constexpr ULONG STATUS_CHANGE_PASSWORD = 0x00000004;
constexpr ULONG STATUS_FLUSH_QUEUES = 0x00000008;

// ---- PR_STATUS_CODE bits ---------------------------------------------------------------
constexpr ULONG STATUS_AVAILABLE = 0x00000001;
constexpr ULONG STATUS_OFFLINE = 0x00000002;
constexpr ULONG STATUS_FAILURE = 0x00000004;
constexpr ULONG STATUS_INBOUND_ENABLED = 0x00010000;
constexpr ULONG STATUS_INBOUND_ACTIVE = 0x00020000;
constexpr ULONG STATUS_INBOUND_FLUSH = 0x00040000;
constexpr ULONG STATUS_OUTBOUND_ENABLED = 0x00100000;
constexpr ULONG STATUS_OUTBOUND_ACTIVE = 0x00200000;
constexpr ULONG STATUS_OUTBOUND_FLUSH = 0x00400000;
constexpr ULONG STATUS_REMOTE_ACCESS = 0x00800000;

// ---- ModifyStatusRow flags ------------------------------------------------------------
constexpr ULONG STATUSROW_UPDATE = 0x10000000;

// ---- SubmitMessage / StartMessage / EndMessage ------------------------------------------------
constexpr ULONG BEGIN_DEFERRED = 0x00000001;
constexpr ULONG END_RESEND_NOW = 0x00010000;
constexpr ULONG END_RESEND_LATER = 0x00020000;
constexpr ULONG END_DONT_RESEND = 0x00040000;

// Transport options the spooler asks RegisterOptions for (none are used here).
struct OPTIONDATA {
    ULONG ulFlags;
    LPGUID lpRecipGUID;
    LPSTR lpszAdrType;
    LPSTR lpszDLLName;
    ULONG ulOrdinal;
    ULONG cbOptionsData;
    LPBYTE lpbOptionsData;
    ULONG cOptionsProps;
    LPSPropValue lpOptionsProps;
};
using LPOPTIONDATA = OPTIONDATA*;

class IMAPISupport;
using LPMAPISUP = IMAPISupport*;

// What the spooler gives a transport at logon, in the home slot order; the
// methods a transport never calls here answer MAPI_E_NO_SUPPORT.
class IMAPISupport : public IUnknown {
public:
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT GetMemAllocRoutines(LPALLOCATEBUFFER* lpAllocateBuffer, LPALLOCATEMORE* lpAllocateMore,
                                        LPFREEBUFFER* lpFreeBuffer) = 0;
    virtual HRESULT Subscribe(LPNOTIFKEY lpKey, ULONG ulEventMask, ULONG ulFlags, LPMAPIADVISESINK lpAdviseSink,
                              ULONG* lpulConnection) = 0;
    virtual HRESULT Unsubscribe(ULONG ulConnection) = 0;
    virtual HRESULT Notify(LPNOTIFKEY lpKey, ULONG cNotification, LPNOTIFICATION lpNotifications,
                           ULONG* lpulFlags) = 0;
    virtual HRESULT ModifyStatusRow(ULONG cValues, LPSPropValue lpColumnVals, ULONG ulFlags) = 0;
    virtual HRESULT OpenProfileSection(LPMAPIUID lpUid, ULONG ulFlags, LPPROFSECT* lppProfileObj) = 0;
    virtual HRESULT RegisterPreprocessor(LPMAPIUID lpMuid, LPSTR lpszAdrType, LPSTR lpszDLLName,
                                         LPSTR lpszPreprocess, LPSTR lpszRemovePreprocessInfo, ULONG ulFlags) = 0;
    virtual HRESULT NewUID(LPMAPIUID lpMuid) = 0;
    virtual HRESULT MakeInvalid(ULONG ulFlags, LPVOID lpObject, ULONG ulRefCount, ULONG cMethods) = 0;
    virtual HRESULT SpoolerYield(ULONG ulFlags) = 0;
    virtual HRESULT SpoolerNotify(ULONG ulFlags, LPVOID lpvData) = 0;
    virtual HRESULT CreateOneOff(LPSTR lpszName, LPSTR lpszAdrType, LPSTR lpszAddress, ULONG ulFlags,
                                 ULONG* lpcbEntryID, LPENTRYID* lppEntryID) = 0;
    virtual HRESULT SetProviderUID(LPMAPIUID lpProviderID, ULONG ulFlags) = 0;
    virtual HRESULT CompareEntryIDs(ULONG cbEntry1, LPENTRYID lpEntry1, ULONG cbEntry2, LPENTRYID lpEntry2,
                                    ULONG ulCompareFlags, ULONG* lpulResult) = 0;
    virtual HRESULT OpenTemplateID(ULONG cbTemplateID, LPENTRYID lpTemplateID, ULONG ulTemplateFlags,
                                   LPMAPIPROP lpMAPIPropData, LPCIID lpInterface, LPMAPIPROP* lppMAPIPropNew,
                                   LPMAPIPROP lpMAPIPropSibling) = 0;
    virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulOpenFlags,
                              ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
    virtual HRESULT GetOneOffTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT Address(ULONG_PTR* lpulUIParam, LPVOID lpAdrParms, LPADRLIST* lppAdrList) = 0;
    virtual HRESULT Details(ULONG_PTR* lpulUIParam, LPVOID lpfnDismiss, LPVOID lpvDismissContext,
                            ULONG cbEntryID, LPENTRYID lpEntryID, LPVOID lpfButtonCallback,
                            LPVOID lpvButtonContext, LPSTR lpszButtonText, ULONG ulFlags) = 0;
    virtual HRESULT NewEntry(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG cbEIDContainer,
                             LPENTRYID lpEIDContainer, ULONG cbEIDNewEntryTpl, LPENTRYID lpEIDNewEntryTpl,
                             ULONG* lpcbEIDNewEntry, LPENTRYID* lppEIDNewEntry) = 0;
    virtual HRESULT DoConfigPropsheet(ULONG_PTR ulUIParam, ULONG ulFlags, LPSTR lpszTitle, LPVOID lpDisplayTable,
                                      LPVOID lpConfigData, ULONG ulTopPage) = 0;
    virtual HRESULT CopyMessages(LPCIID lpSrcInterface, LPVOID lpSrcFolder, LPENTRYLIST lpMsgList,
                                 LPCIID lpDestInterface, LPVOID lpDestFolder, ULONG_PTR ulUIParam,
                                 LPMAPIPROGRESS lpProgress, ULONG ulFlags) = 0;
    virtual HRESULT CopyFolder(LPCIID lpSrcInterface, LPVOID lpSrcFolder, ULONG cbEntryID, LPENTRYID lpEntryID,
                               LPCIID lpDestInterface, LPVOID lpDestFolder, LPSTR lpszNewFolderName,
                               ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress, ULONG ulFlags) = 0;
    virtual HRESULT DoCopyTo(LPCIID lpSrcInterface, LPVOID lpSrcObj, ULONG ciidExclude, LPCIID rgiidExclude,
                             LPSPropTagArray lpExcludeProps, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                             LPCIID lpDestInterface, LPVOID lpDestObj, ULONG ulFlags,
                             LPSPropProblemArray* lppProblems) = 0;
    virtual HRESULT DoCopyProps(LPCIID lpSrcInterface, LPVOID lpSrcObj, LPSPropTagArray lpIncludeProps,
                                ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress, LPCIID lpDestInterface,
                                LPVOID lpDestObj, ULONG ulFlags, LPSPropProblemArray* lppProblems) = 0;
    virtual HRESULT DoProgressDialog(ULONG_PTR ulUIParam, ULONG ulFlags, LPMAPIPROGRESS* lppProgress) = 0;
    virtual HRESULT ReadReceipt(ULONG ulFlags, LPMESSAGE lpReadMessage, LPMESSAGE* lppEmptyMessage) = 0;
    virtual HRESULT PrepareSubmit(LPMESSAGE lpMessage, ULONG* lpulFlags) = 0;
    virtual HRESULT ExpandRecips(LPMESSAGE lpMessage, ULONG* lpulFlags) = 0;
    virtual HRESULT UpdatePAB(ULONG ulFlags, LPMESSAGE lpMessage) = 0;
    virtual HRESULT DoSentMail(ULONG ulFlags, LPMESSAGE lpMessage) = 0;
    virtual HRESULT OpenAddressBook(LPCIID lpInterface, ULONG ulFlags, LPADRBOOK* lppAdrBook) = 0;
    virtual HRESULT Preprocess(ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID) = 0;
    virtual HRESULT CompleteMsg(ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID) = 0;
    virtual HRESULT StoreLogoffTransports(ULONG* lpulFlags) = 0;
    // Reads lpRecipList only: the caller keeps it and frees it afterwards.
    virtual HRESULT StatusRecips(LPMESSAGE lpMessage, LPADRLIST lpRecipList) = 0;
    virtual HRESULT WrapStoreEntryID(ULONG cbOrigEntry, LPENTRYID lpOrigEntry, ULONG* lpcbWrappedEntry,
                                     LPENTRYID* lppWrappedEntry) = 0;
    virtual HRESULT ModifyProfile(ULONG ulFlags) = 0;
    virtual HRESULT IStorageFromStream(LPUNKNOWN lpUnkIn, LPCIID lpInterface, ULONG ulFlags,
                                       LPVOID* lppStorageOut) = 0;
    virtual HRESULT GetSvcConfigSupportObj(ULONG ulFlags, LPMAPISUP* lppSvcSupport) = 0;
};

class IXPLogon;
using LPXPLOGON = IXPLogon*;

class IXPProvider : public IUnknown {
public:
    virtual HRESULT Shutdown(ULONG* lpulFlags) = 0;
    virtual HRESULT TransportLogon(LPMAPISUP lpMAPISup, ULONG_PTR ulUIParam, LPSTR lpszProfileName,
                                   ULONG* lpulFlags, LPMAPIERROR* lppMAPIError, LPXPLOGON* lppXPLogon) = 0;
};
using LPXPPROVIDER = IXPProvider*;

class IXPLogon : public IUnknown {
public:
    virtual HRESULT AddressTypes(ULONG* lpulFlags, ULONG* lpcAdrType, LPSTR** lpppszAdrTypeArray,
                                 ULONG* lpcMAPIUID, LPMAPIUID** lpppUIDArray) = 0;
    virtual HRESULT RegisterOptions(ULONG* lpulFlags, ULONG* lpcOptions, LPOPTIONDATA* lppOptions) = 0;
    virtual HRESULT TransportNotify(ULONG* lpulFlags, LPVOID* lppvData) = 0;
    virtual HRESULT Idle(ULONG ulFlags) = 0;
    virtual HRESULT TransportLogoff(ULONG ulFlags) = 0;
    virtual HRESULT SubmitMessage(ULONG ulFlags, LPMESSAGE lpMessage, ULONG_PTR* lpulMsgRef,
                                  ULONG_PTR* lpulReturnParm) = 0;
    virtual HRESULT EndMessage(ULONG_PTR ulMsgRef, ULONG* lpulFlags) = 0;
    virtual HRESULT Poll(ULONG* lpulIncoming) = 0;
    virtual HRESULT StartMessage(ULONG ulFlags, LPMESSAGE lpMessage, ULONG_PTR* lpulMsgRef) = 0;
    virtual HRESULT OpenStatusEntry(LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType,
                                    LPMAPISTATUS* lppEntry) = 0;
    virtual HRESULT ValidateState(ULONG_PTR ulUIParam, ULONG ulFlags) = 0;
    virtual HRESULT FlushQueues(ULONG_PTR ulUIParam, ULONG cbTargetTransport, LPENTRYID lpTargetTransport,
                                ULONG ulFlags) = 0;
};

// The entry a transport library exports as "XPProviderInit".
using XPPROVIDERINIT = HRESULT(HINSTANCE hInstance, LPMALLOC lpMalloc, LPALLOCATEBUFFER lpAllocateBuffer,
                               LPALLOCATEMORE lpAllocateMore, LPFREEBUFFER lpFreeBuffer, ULONG ulFlags,
                               ULONG ulMAPIVer, ULONG* lpulProviderVer, LPXPPROVIDER* lppXPProvider);
using LPXPPROVIDERINIT = XPPROVIDERINIT*;
