// The MAPI object interfaces, with the methods and flags of their home
// definitions. Implementations live beside this header.
#pragma once

#include "platform/mapi/mapidefs.h"

using ULONG_PTR = std::uintptr_t;
using LPCIID = const IID*;
using BOOKMARK = ULONG_PTR;

// ---- Interface identifiers ---------------------------------------------------
constexpr IID IID_IMAPISession = {0x00020300, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IMAPITable = {0x00020301, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IMAPIAdviseSink = {0x00020302, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IMAPIProp = {0x00020303, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IProfSect = {0x00020304, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IMAPIStatus = {0x00020305, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IMsgStore = {0x00020306, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IMessage = {0x00020307, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IAttachment = {0x00020308, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IAddrBook = {0x00020309, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IMailUser = {0x0002030A, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IMAPIContainer = {0x0002030B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IMAPIFolder = {0x0002030C, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IMAPITableData = {0x00020316, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IProfAdmin = {0x0002031C, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IMsgServiceAdmin = {0x0002031D, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IMAPIProgress = {0x0002031F, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID IID_IProviderAdmin = {0x00020325, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// ---- Object types (PR_OBJECT_TYPE and OpenEntry) -----------------------------------
constexpr ULONG MAPI_STORE = 0x00000001;
constexpr ULONG MAPI_ADDRBOOK = 0x00000002;
constexpr ULONG MAPI_FOLDER = 0x00000003;
constexpr ULONG MAPI_ABCONT = 0x00000004;
constexpr ULONG MAPI_MESSAGE = 0x00000005;
constexpr ULONG MAPI_MAILUSER = 0x00000006;
constexpr ULONG MAPI_ATTACH = 0x00000007;
constexpr ULONG MAPI_DISTLIST = 0x00000008;
constexpr ULONG MAPI_PROFSECT = 0x00000009;
constexpr ULONG MAPI_STATUS = 0x0000000A;
constexpr ULONG MAPI_SESSION = 0x0000000B;

// ---- Common flags -------------------------------------------------------------
constexpr ULONG MAPI_MODIFY = 0x00000001;
constexpr ULONG MAPI_CREATE = 0x00000002;
constexpr ULONG MAPI_DEFERRED_ERRORS = 0x00000008;
constexpr ULONG MAPI_BEST_ACCESS = 0x00000010;
constexpr ULONG MAPI_ASSOCIATED = 0x00000040;
constexpr ULONG MAPI_UNICODE = 0x80000000;
constexpr ULONG KEEP_OPEN_READONLY = 0x00000001;
constexpr ULONG KEEP_OPEN_READWRITE = 0x00000002;
constexpr ULONG FORCE_SAVE = 0x00000004;
constexpr ULONG MAPI_NO_STRINGS = 0x00000001;
constexpr ULONG MAPI_NO_IDS = 0x00000002;
constexpr ULONG MAPI_NOREPLACE = 0x00000002;
constexpr ULONG MAPI_MOVE = 0x00000001;
constexpr ULONG MAPI_DIALOG = 0x00000008;
constexpr ULONG MAPI_DECLINE_OK = 0x00000004;
constexpr ULONG MAPI_ERROR_VERSION = 0x00000000;

// Folders.
constexpr ULONG FOLDER_ROOT = 0x00000000;
constexpr ULONG FOLDER_GENERIC = 0x00000001;
constexpr ULONG FOLDER_SEARCH = 0x00000002;
constexpr ULONG OPEN_IF_EXISTS = 0x00000001;
constexpr ULONG FOLDER_MOVE = 0x00000001;
constexpr ULONG DEL_MESSAGES = 0x00000008;
constexpr ULONG DEL_FOLDERS = 0x00000004;
constexpr ULONG DEL_ASSOCIATED = 0x00000008;
constexpr ULONG MESSAGE_MOVE = 0x00000001;
constexpr ULONG MESSAGE_DIALOG = 0x00000002;
constexpr ULONG FOLDER_DIALOG = 0x00000002;
constexpr ULONG COPY_SUBFOLDERS = 0x00000010;
constexpr ULONG CONVENIENT_DEPTH = 0x00000001;

// Message stores: opening, submitting, locking, logging off.
constexpr ULONG MDB_NO_DIALOG = 0x00000001;
constexpr ULONG MDB_WRITE = 0x00000004;
constexpr ULONG MDB_TEMPORARY = 0x00000020;
constexpr ULONG MDB_NO_MAIL = 0x00000080;
constexpr ULONG FORCE_SUBMIT = 0x00000001;
constexpr ULONG MSG_UNLOCKED = 0x00000000;
constexpr ULONG MSG_LOCKED = 0x00000001;
constexpr ULONG LOGOFF_NO_WAIT = 0x00000001;
constexpr ULONG LOGOFF_ORDERLY = 0x00000002;
constexpr ULONG LOGOFF_PURGE = 0x00000004;
constexpr ULONG LOGOFF_ABORT = 0x00000008;
constexpr ULONG LOGOFF_QUIET = 0x00000010;
constexpr ULONG LOGOFF_COMPLETE = 0x00010000;
constexpr ULONG LOGOFF_INBOUND = 0x00020000;
constexpr ULONG LOGOFF_OUTBOUND = 0x00040000;
constexpr ULONG LOGOFF_OUTBOUND_QUEUE = 0x00080000;

// PR_STORE_SUPPORT_MASK bits.
constexpr ULONG STORE_ENTRYID_UNIQUE = 0x00000001;
constexpr ULONG STORE_READONLY = 0x00000002;
constexpr ULONG STORE_SEARCH_OK = 0x00000004;
constexpr ULONG STORE_MODIFY_OK = 0x00000008;
constexpr ULONG STORE_CREATE_OK = 0x00000010;
constexpr ULONG STORE_ATTACH_OK = 0x00000020;
constexpr ULONG STORE_OLE_OK = 0x00000040;
constexpr ULONG STORE_SUBMIT_OK = 0x00000080;
constexpr ULONG STORE_NOTIFY_OK = 0x00000100;
constexpr ULONG STORE_MV_PROPS_OK = 0x00000200;
constexpr ULONG STORE_CATEGORIZE_OK = 0x00000400;
constexpr ULONG STORE_RTF_OK = 0x00000800;
constexpr ULONG STORE_RESTRICTION_OK = 0x00001000;
constexpr ULONG STORE_SORT_OK = 0x00002000;
constexpr ULONG STORE_HTML_OK = 0x00010000;

// PR_VALID_FOLDER_MASK bits.
constexpr ULONG FOLDER_IPM_SUBTREE_VALID = 0x00000001;
constexpr ULONG FOLDER_IPM_INBOX_VALID = 0x00000002;
constexpr ULONG FOLDER_IPM_OUTBOX_VALID = 0x00000004;
constexpr ULONG FOLDER_IPM_WASTEBASKET_VALID = 0x00000008;
constexpr ULONG FOLDER_IPM_SENTMAIL_VALID = 0x00000010;

// PR_ACCESS bits.
constexpr ULONG MAPI_ACCESS_MODIFY = 0x00000001;
constexpr ULONG MAPI_ACCESS_READ = 0x00000002;
constexpr ULONG MAPI_ACCESS_DELETE = 0x00000004;
constexpr ULONG MAPI_ACCESS_CREATE_HIERARCHY = 0x00000008;
constexpr ULONG MAPI_ACCESS_CREATE_CONTENTS = 0x00000010;
constexpr ULONG MAPI_ACCESS_CREATE_ASSOCIATED = 0x00000020;

// Recipients.
constexpr ULONG MAPI_ORIG = 0;
constexpr ULONG MAPI_TO = 1;
constexpr ULONG MAPI_CC = 2;
constexpr ULONG MAPI_BCC = 3;
constexpr ULONG MODRECIP_ADD = 0x00000002;
constexpr ULONG MODRECIP_MODIFY = 0x00000004;
constexpr ULONG MODRECIP_REMOVE = 0x00000008;

// PR_NDR_REASON_CODE and PR_NDR_DIAG_CODE values.
constexpr ULONG MAPI_REASON_TRANSFER_FAILED = 0;
constexpr ULONG MAPI_REASON_TRANSFER_IMPOSSIBLE = 1;
constexpr ULONG MAPI_DIAG_NO_DIAGNOSTIC = 0xFFFFFFFF;
constexpr ULONG MAPI_DIAG_OR_NAME_UNRECOGNIZED = 0;

// Message flags (PR_MESSAGE_FLAGS) and read flags.
constexpr ULONG MSGFLAG_READ = 0x00000001;
constexpr ULONG MSGFLAG_UNMODIFIED = 0x00000002;
constexpr ULONG MSGFLAG_SUBMIT = 0x00000004;
constexpr ULONG MSGFLAG_UNSENT = 0x00000008;
constexpr ULONG MSGFLAG_HASATTACH = 0x00000010;
constexpr ULONG MSGFLAG_FROMME = 0x00000020;
constexpr ULONG MSGFLAG_ASSOCIATED = 0x00000040;
constexpr ULONG MSGFLAG_RESEND = 0x00000080;
constexpr ULONG MSGFLAG_RN_PENDING = 0x00000100;
constexpr ULONG MSGFLAG_NRN_PENDING = 0x00000200;
constexpr ULONG SUPPRESS_RECEIPT = 0x00000001;
constexpr ULONG CLEAR_READ_FLAG = 0x00000004;

// Message status (PR_MSG_STATUS).
constexpr ULONG MSGSTATUS_HIGHLIGHTED = 0x00000001;
constexpr ULONG MSGSTATUS_TAGGED = 0x00000002;
constexpr ULONG MSGSTATUS_HIDDEN = 0x00000004;
constexpr ULONG MSGSTATUS_DELMARKED = 0x00000008;
constexpr ULONG MSGSTATUS_REMOTE_DOWNLOAD = 0x00001000;
constexpr ULONG MSGSTATUS_REMOTE_DELETE = 0x00002000;

// Attachments.
constexpr ULONG NO_ATTACHMENT = 0x00000000;
constexpr ULONG ATTACH_BY_VALUE = 0x00000001;

// Tables.
constexpr ULONG TBL_ALL_COLUMNS = 0x00000001;
constexpr ULONG TBL_ASYNC = 0x00000001;
constexpr ULONG TBL_BATCH = 0x00000002;
constexpr ULONG TBL_NOADVANCE = 0x00000001;
constexpr ULONG TBL_STATUS_COMPLETE = 0x00000000;
constexpr ULONG TBLTYPE_SNAPSHOT = 0x00000000;
constexpr ULONG TBLTYPE_KEYSET = 0x00000001;
constexpr ULONG TBLTYPE_DYNAMIC = 0x00000002;
constexpr BOOKMARK BOOKMARK_BEGINNING = 0;
constexpr BOOKMARK BOOKMARK_CURRENT = 1;
constexpr BOOKMARK BOOKMARK_END = 2;
constexpr ULONG DIR_BACKWARD = 0x00000001;

// Sessions and logon.
constexpr ULONG MAPI_LOGON_UI = 0x00000001;
constexpr ULONG MAPI_NEW_SESSION = 0x00000002;
constexpr ULONG MAPI_ALLOW_OTHERS = 0x00000008;
constexpr ULONG MAPI_EXPLICIT_PROFILE = 0x00000010;
constexpr ULONG MAPI_EXTENDED = 0x00000020;
constexpr ULONG MAPI_USE_DEFAULT = 0x00000040;
constexpr ULONG MAPI_NO_MAIL = 0x00008000;
constexpr ULONG MAPI_NT_SERVICE = 0x00010000;
constexpr ULONG MAPI_PASSWORD_UI = 0x00020000;
constexpr ULONG MAPI_LOGOFF_SHARED = 0x00000001;
constexpr ULONG MAPI_LOGOFF_UI = 0x00000002;

// Message services.
constexpr ULONG SERVICE_UI_ALWAYS = 0x00000002;
constexpr ULONG SERVICE_UI_ALLOWED = 0x00000010;
constexpr ULONG MSG_SERVICE_INSTALL = 0x00000001;
constexpr ULONG MSG_SERVICE_CREATE = 0x00000002;
constexpr ULONG MSG_SERVICE_CONFIGURE = 0x00000003;
constexpr ULONG MSG_SERVICE_DELETE = 0x00000004;
constexpr ULONG MSG_SERVICE_UNINSTALL = 0x00000005;
constexpr ULONG MSG_SERVICE_PROVIDER_CREATE = 0x00000006;
constexpr ULONG MSG_SERVICE_PROVIDER_DELETE = 0x00000007;

// Address book.
constexpr ULONG MAPI_SEND_NO_RICH_INFO = 0x00010000;
constexpr ULONG MAPI_ONE_OFF_NO_RICH_INFO = 0x00000001;
constexpr ULONG MAPI_AB_NOMODIFY = 0x00000400;

// Notifications.
constexpr ULONG fnevCriticalError = 0x00000001;
constexpr ULONG fnevNewMail = 0x00000002;
constexpr ULONG fnevObjectCreated = 0x00000004;
constexpr ULONG fnevObjectDeleted = 0x00000008;
constexpr ULONG fnevObjectModified = 0x00000010;
constexpr ULONG fnevObjectMoved = 0x00000020;
constexpr ULONG fnevObjectCopied = 0x00000040;
constexpr ULONG fnevSearchComplete = 0x00000080;
constexpr ULONG fnevTableModified = 0x00000100;
constexpr ULONG fnevStatusObjectModified = 0x00000200;

struct ENTRYLIST {
    ULONG cValues;
    SBinary* lpbin;
};
using LPENTRYLIST = ENTRYLIST*;

struct NEWMAIL_NOTIFICATION {
    ULONG cbEntryID;
    LPENTRYID lpEntryID;
    ULONG cbParentID;
    LPENTRYID lpParentID;
    ULONG ulFlags;
    LPSTR lpszMessageClass;
    ULONG ulMessageFlags;
};
struct OBJECT_NOTIFICATION {
    ULONG cbEntryID;
    LPENTRYID lpEntryID;
    ULONG ulObjType;
    ULONG cbParentID;
    LPENTRYID lpParentID;
    ULONG cbOldID;
    LPENTRYID lpOldID;
    ULONG cbOldParentID;
    LPENTRYID lpOldParentID;
    LPSPropTagArray lpPropTagArray;
};
struct TABLE_NOTIFICATION {
    ULONG ulTableEvent;
    HRESULT hResult;
    SPropValue propIndex;
    SPropValue propPrior;
    SRow row;
    ULONG ulPad;
};
struct NOTIFICATION {
    ULONG ulEventType;
    ULONG ulAlignPad;
    union {
        NEWMAIL_NOTIFICATION newmail;
        OBJECT_NOTIFICATION obj;
        TABLE_NOTIFICATION tab;
    } info;
};
using LPNOTIFICATION = NOTIFICATION*;

class IMAPIAdviseSink : public IUnknown {
public:
    virtual ULONG OnNotify(ULONG cNotif, LPNOTIFICATION lpNotifications) = 0;
};
using LPMAPIADVISESINK = IMAPIAdviseSink*;

class IMAPIProgress : public IUnknown {
public:
    virtual HRESULT Progress(ULONG ulValue, ULONG ulCount, ULONG ulTotal) = 0;
    virtual HRESULT GetFlags(ULONG* lpulFlags) = 0;
    virtual HRESULT GetMax(ULONG* lpulMax) = 0;
    virtual HRESULT GetMin(ULONG* lpulMin) = 0;
    virtual HRESULT SetLimits(ULONG* lpulMin, ULONG* lpulMax, ULONG* lpulFlags) = 0;
};
using LPMAPIPROGRESS = IMAPIProgress*;

struct MAPINAMEID {
    GUID* lpguid;
    ULONG ulKind;
    union {
        LONG lID;
        LPSTR lpwstrName;
    } Kind;
};
using LPMAPINAMEID = MAPINAMEID*;

// ---- Tables -------------------------------------------------------------------
class IMAPITable : public IUnknown {
public:
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT Advise(ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink, ULONG* lpulConnection) = 0;
    virtual HRESULT Unadvise(ULONG ulConnection) = 0;
    virtual HRESULT GetStatus(ULONG* lpulTableStatus, ULONG* lpulTableType) = 0;
    virtual HRESULT SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) = 0;
    virtual HRESULT QueryColumns(ULONG ulFlags, LPSPropTagArray* lpPropTagArray) = 0;
    virtual HRESULT GetRowCount(ULONG ulFlags, ULONG* lpulCount) = 0;
    virtual HRESULT SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) = 0;
    virtual HRESULT SeekRowApprox(ULONG ulNumerator, ULONG ulDenominator) = 0;
    virtual HRESULT QueryPosition(ULONG* lpulRow, ULONG* lpulNumerator, ULONG* lpulDenominator) = 0;
    virtual HRESULT FindRow(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags) = 0;
    virtual HRESULT Restrict(LPSRestriction lpRestriction, ULONG ulFlags) = 0;
    virtual HRESULT CreateBookmark(BOOKMARK* lpbkPosition) = 0;
    virtual HRESULT FreeBookmark(BOOKMARK bkPosition) = 0;
    virtual HRESULT SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) = 0;
    virtual HRESULT QuerySortOrder(LPSSortOrderSet* lppSortCriteria) = 0;
    virtual HRESULT QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) = 0;
    virtual HRESULT Abort() = 0;
    virtual HRESULT WaitForCompletion(ULONG ulFlags, ULONG ulTimeout, ULONG* lpulTableStatus) = 0;
};
using LPMAPITABLE = IMAPITable*;

// ---- Properties -----------------------------------------------------------------
class IMAPIProp : public IUnknown {
public:
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT SaveChanges(ULONG ulFlags) = 0;
    virtual HRESULT GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                             LPSPropValue* lppPropArray) = 0;
    virtual HRESULT GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) = 0;
    virtual HRESULT OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                                 LPUNKNOWN* lppUnk) = 0;
    virtual HRESULT SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems) = 0;
    virtual HRESULT DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems) = 0;
    virtual HRESULT CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps,
                           ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress, LPCIID lpInterface, void* lpDestObj,
                           ULONG ulFlags, LPSPropProblemArray* lppProblems) = 0;
    virtual HRESULT CopyProps(LPSPropTagArray lpIncludeProps, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                              LPCIID lpInterface, void* lpDestObj, ULONG ulFlags,
                              LPSPropProblemArray* lppProblems) = 0;
    virtual HRESULT GetNamesFromIDs(LPSPropTagArray* lppPropTags, GUID* lpPropSetGuid, ULONG ulFlags,
                                    ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames) = 0;
    virtual HRESULT GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                                    LPSPropTagArray* lppPropTags) = 0;
};
using LPMAPIPROP = IMAPIProp*;

class IProfSect : public IMAPIProp {};
using LPPROFSECT = IProfSect*;

class IAttach : public IMAPIProp {};
using LPATTACH = IAttach*;

class IMAPIContainer : public IMAPIProp {
public:
    virtual HRESULT GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                              ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
    virtual HRESULT SetSearchCriteria(LPSRestriction lpRestriction, LPENTRYLIST lpContainerList,
                                      ULONG ulSearchFlags) = 0;
    virtual HRESULT GetSearchCriteria(ULONG ulFlags, LPSRestriction* lppRestriction,
                                      LPENTRYLIST* lppContainerList, ULONG* lpulSearchState) = 0;
};
using LPMAPICONTAINER = IMAPIContainer*;

class IMessage;
using LPMESSAGE = IMessage*;
class IMAPIFolder;
using LPMAPIFOLDER = IMAPIFolder*;

class IMAPIFolder : public IMAPIContainer {
public:
    virtual HRESULT CreateMessage(LPCIID lpInterface, ULONG ulFlags, LPMESSAGE* lppMessage) = 0;
    virtual HRESULT CopyMessages(LPENTRYLIST lpMsgList, LPCIID lpInterface, void* lpDestFolder, ULONG_PTR ulUIParam,
                                 LPMAPIPROGRESS lpProgress, ULONG ulFlags) = 0;
    virtual HRESULT DeleteMessages(LPENTRYLIST lpMsgList, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                                   ULONG ulFlags) = 0;
    virtual HRESULT CreateFolder(ULONG ulFolderType, LPSTR lpszFolderName, LPSTR lpszFolderComment,
                                 LPCIID lpInterface, ULONG ulFlags, LPMAPIFOLDER* lppFolder) = 0;
    virtual HRESULT CopyFolder(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, void* lpDestFolder,
                               LPSTR lpszNewFolderName, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                               ULONG ulFlags) = 0;
    virtual HRESULT DeleteFolder(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG_PTR ulUIParam,
                                 LPMAPIPROGRESS lpProgress, ULONG ulFlags) = 0;
    virtual HRESULT SetReadFlags(LPENTRYLIST lpMsgList, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                                 ULONG ulFlags) = 0;
    virtual HRESULT GetMessageStatus(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulFlags,
                                     ULONG* lpulMessageStatus) = 0;
    virtual HRESULT SetMessageStatus(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulNewStatus,
                                     ULONG ulNewStatusMask, ULONG* lpulOldStatus) = 0;
    virtual HRESULT SaveContentsSort(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) = 0;
    virtual HRESULT EmptyFolder(ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress, ULONG ulFlags) = 0;
};

class IMessage : public IMAPIProp {
public:
    virtual HRESULT GetAttachmentTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT OpenAttach(ULONG ulAttachmentNum, LPCIID lpInterface, ULONG ulFlags, LPATTACH* lppAttach) = 0;
    virtual HRESULT CreateAttach(LPCIID lpInterface, ULONG ulFlags, ULONG* lpulAttachmentNum,
                                 LPATTACH* lppAttach) = 0;
    virtual HRESULT DeleteAttach(ULONG ulAttachmentNum, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                                 ULONG ulFlags) = 0;
    virtual HRESULT GetRecipientTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT ModifyRecipients(ULONG ulFlags, LPADRLIST lpMods) = 0;
    virtual HRESULT SubmitMessage(ULONG ulFlags) = 0;
    virtual HRESULT SetReadFlag(ULONG ulFlags) = 0;
};

class IMsgStore : public IMAPIProp {
public:
    virtual HRESULT Advise(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask,
                           LPMAPIADVISESINK lpAdviseSink, ULONG* lpulConnection) = 0;
    virtual HRESULT Unadvise(ULONG ulConnection) = 0;
    virtual HRESULT CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2,
                                    LPENTRYID lpEntryID2, ULONG ulFlags, ULONG* lpulResult) = 0;
    virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                              ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
    virtual HRESULT SetReceiveFolder(LPSTR lpszMessageClass, ULONG ulFlags, ULONG cbEntryID,
                                     LPENTRYID lpEntryID) = 0;
    virtual HRESULT GetReceiveFolder(LPSTR lpszMessageClass, ULONG ulFlags, ULONG* lpcbEntryID,
                                     LPENTRYID* lppEntryID, LPSTR* lppszExplicitClass) = 0;
    virtual HRESULT GetReceiveFolderTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT StoreLogoff(ULONG* lpulFlags) = 0;
    virtual HRESULT AbortSubmit(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulFlags) = 0;
    virtual HRESULT GetOutgoingQueue(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT SetLockState(LPMESSAGE lpMessage, ULONG ulLockState) = 0;
    virtual HRESULT FinishedMsg(ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID) = 0;
    virtual HRESULT NotifyNewMail(LPNOTIFICATION lpNotification) = 0;
};
using LPMDB = IMsgStore*;

class IAddrBook : public IMAPIProp {
public:
    virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                              ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
    virtual HRESULT CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2,
                                    LPENTRYID lpEntryID2, ULONG ulFlags, ULONG* lpulResult) = 0;
    virtual HRESULT CreateOneOff(LPSTR lpszName, LPSTR lpszAdrType, LPSTR lpszAddress, ULONG ulFlags,
                                 ULONG* lpcbEntryID, LPENTRYID* lppEntryID) = 0;
    virtual HRESULT ResolveName(ULONG_PTR ulUIParam, ULONG ulFlags, LPSTR lpszNewEntryTitle,
                                LPADRLIST lpAdrList) = 0;
};
using LPADRBOOK = IAddrBook*;

class IMAPIStatus : public IMAPIProp {
public:
    virtual HRESULT ValidateState(ULONG_PTR ulUIParam, ULONG ulFlags) = 0;
    virtual HRESULT SettingsDialog(ULONG_PTR ulUIParam, ULONG ulFlags) = 0;
    virtual HRESULT ChangePassword(LPSTR lpOldPass, LPSTR lpNewPass, ULONG ulFlags) = 0;
    virtual HRESULT FlushQueues(ULONG_PTR ulUIParam, ULONG cbTargetTransport, LPENTRYID lpTargetTransport,
                                ULONG ulFlags) = 0;
};
using LPMAPISTATUS = IMAPIStatus*;

class IProviderAdmin : public IUnknown {
public:
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT GetProviderTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT CreateProvider(LPSTR lpszProvider, ULONG cValues, LPSPropValue lpProps, ULONG_PTR ulUIParam,
                                   ULONG ulFlags, MAPIUID* lpUID) = 0;
    virtual HRESULT DeleteProvider(LPMAPIUID lpUID) = 0;
    virtual HRESULT OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags,
                                       LPPROFSECT* lppProfSect) = 0;
};
using LPPROVIDERADMIN = IProviderAdmin*;

class IMsgServiceAdmin : public IUnknown {
public:
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT GetMsgServiceTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT CreateMsgService(LPSTR lpszService, LPSTR lpszDisplayName, ULONG_PTR ulUIParam,
                                     ULONG ulFlags) = 0;
    virtual HRESULT DeleteMsgService(LPMAPIUID lpUID) = 0;
    virtual HRESULT ConfigureMsgService(LPMAPIUID lpUID, ULONG_PTR ulUIParam, ULONG ulFlags, ULONG cValues,
                                        LPSPropValue lpProps) = 0;
    virtual HRESULT OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags,
                                       LPPROFSECT* lppProfSect) = 0;
    virtual HRESULT AdminProviders(LPMAPIUID lpUID, ULONG ulFlags, LPPROVIDERADMIN* lppProviderAdmin) = 0;
    virtual HRESULT GetProviderTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
};
using LPSERVICEADMIN = IMsgServiceAdmin*;

class IProfAdmin : public IUnknown {
public:
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT GetProfileTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT CreateProfile(LPSTR lpszProfileName, LPSTR lpszPassword, ULONG_PTR ulUIParam,
                                  ULONG ulFlags) = 0;
    virtual HRESULT DeleteProfile(LPSTR lpszProfileName, ULONG ulFlags) = 0;
    virtual HRESULT SetDefaultProfile(LPSTR lpszProfileName, ULONG ulFlags) = 0;
    virtual HRESULT AdminServices(LPSTR lpszProfileName, LPSTR lpszPassword, ULONG_PTR ulUIParam, ULONG ulFlags,
                                  LPSERVICEADMIN* lppServiceAdmin) = 0;
};
using LPPROFADMIN = IProfAdmin*;

class IMAPISession : public IUnknown {
public:
    virtual HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT OpenMsgStore(ULONG_PTR ulUIParam, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                                 ULONG ulFlags, LPMDB* lppMDB) = 0;
    virtual HRESULT OpenAddressBook(ULONG_PTR ulUIParam, LPCIID lpInterface, ULONG ulFlags,
                                    LPADRBOOK* lppAdrBook) = 0;
    virtual HRESULT OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags,
                                       LPPROFSECT* lppProfSect) = 0;
    virtual HRESULT GetStatusTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                              ULONG* lpulObjType, LPUNKNOWN* lppUnk) = 0;
    virtual HRESULT CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2,
                                    LPENTRYID lpEntryID2, ULONG ulFlags, ULONG* lpulResult) = 0;
    virtual HRESULT Advise(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask,
                           LPMAPIADVISESINK lpAdviseSink, ULONG* lpulConnection) = 0;
    virtual HRESULT Unadvise(ULONG ulConnection) = 0;
    virtual HRESULT QueryIdentity(ULONG* lpcbEntryID, LPENTRYID* lppEntryID) = 0;
    virtual HRESULT Logoff(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG ulReserved) = 0;
    virtual HRESULT SetDefaultStore(ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID) = 0;
    virtual HRESULT AdminServices(ULONG ulFlags, LPSERVICEADMIN* lppServiceAdmin) = 0;
};
using LPMAPISESSION = IMAPISession*;

// ---- Table data ---------------------------------------------------------------
class ITableData : public IUnknown {
public:
    // The function type: HrGetView takes a pointer to one, as at home.
    using CALLERRELEASE = void(ULONG ulCallerData, ITableData* lpTblData, LPMAPITABLE lpVue);
    virtual HRESULT HrGetView(LPSSortOrderSet lpSSortOrderSet, CALLERRELEASE* lpfCallerRelease,
                              ULONG ulCallerData, LPMAPITABLE* lppMAPITable) = 0;
    virtual HRESULT HrModifyRow(LPSRow lpSRow) = 0;
    virtual HRESULT HrDeleteRow(LPSPropValue lpSPropValue) = 0;
    virtual HRESULT HrQueryRow(LPSPropValue lpsPropValue, LPSRow* lppSRow, ULONG* lpuliRow) = 0;
    virtual HRESULT HrEnumRow(ULONG ulRowNumber, LPSRow* lppSRow) = 0;
    virtual HRESULT HrInsertRow(ULONG uliRow, LPSRow lpSRow) = 0;
    virtual HRESULT HrModifyRows(ULONG ulFlags, LPSRowSet lpSRowSet) = 0;
    virtual HRESULT HrDeleteRows(ULONG ulFlags, LPSRowSet lprowsetToDelete, ULONG* cRowsDeleted) = 0;
};
using LPTABLEDATA = ITableData*;

SCODE CreateTable(LPCIID lpInterface, LPALLOCATEBUFFER lpAllocateBuffer, LPALLOCATEMORE lpAllocateMore,
                  LPFREEBUFFER lpFreeBuffer, void* lpvReserved, ULONG ulTableType, ULONG ulPropTagIndexColumn,
                  LPSPropTagArray lpSPropTagArrayColumns, LPTABLEDATA* lppTableData);
