// CMAPIFolder: the provider's remote-header folder. A read-only MAPI folder
// whose contents table lists the article headers waiting on the news server;
// the mail client marks rows for download or deletion with SetMessageStatus,
// the logon and the downloader add, mark, query and delete rows. The
// known-articles cache (CTableCache) travels with it.
//
// The status object creates the folder once per logon, calls Attach and keeps
// one reference. Rows exist only in memory; after a restart they come back
// from the cache's unconfirmed entries. Destruction saves the cache. Used on
// the provider's thread only.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/com/com_ptr.h"
#include "platform/com/refcounted.h"
#include "platform/mapi/mapix.h"
#include "provider/entry/module_state.h"
#include "provider/folder/header_fields.h"
#include "provider/folder/table_cache.h"

namespace quillory::quarnex {

// Folder property values.
constexpr UINT IDS_HEADER_FOLDER_NAME = 6101;
constexpr std::string_view kHeaderFolderNameDefault = "Corvane Remote Transport - Messages In The server";
constexpr std::size_t kHeaderFolderNameMax = 256;
constexpr ULONG kHeaderFolderSupportMask = 0x29E9;
constexpr ULONGLONG kHeaderFolderVersion = 0x0000000100000001ULL;
constexpr ULONG kHeaderFolderAccess = 2;
constexpr ULONG DT_FOLDER = 0x01000000;
// PR_ENTRYID of the folder (also the status object's PR_HEADER_FOLDER_ENTRYID).
constexpr BYTE kHeaderFolderEntryId[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// Columns of a header row, in order (17 values).
constexpr ULONG kHeaderRowColumnCount = 17;
constexpr ULONG PR_MESSAGE_DOWNLOAD_TIME_ERROR = 0x0E18000A;
// The status bit that the cache prefetch selects rows with.
constexpr ULONG kMsgStatusPrefetch = 0x01000000;
// Rows left after a DeleteRow at which the cache is saved (any multiple).
constexpr ULONG kSaveCacheEveryRows = 500;
// Row limits of the status and all-rows queries.
constexpr LONG kStatusRowsLimit = 100000;
constexpr LONG kAllRowsLimit = 1000;

// What the folder needs of the logon session that attaches it.
class IFolderLogon {
public:
    // The logon's message store (borrowed; the cache takes its own reference).
    // Unconfirmed cache entries are checked against its receive folder.
    virtual IMsgStore* FolderMessageStore() = 0;
    // Set by the first download flush; new rows then arrive marked for
    // download and removal.
    virtual bool DownloadRequested() = 0;
    // The known-articles cache file: "DIR" + the account's group-list file
    // name with "-del" before its extension (common/grouplist.h
    // KnownArticlesFilePath over common/regstore.h DataFilePath).
    virtual std::string KnownArticlesPath() = 0;

protected:
    ~IFolderLogon() = default;
};

class CMAPIFolder final : public IMAPIFolder, public CRefCounted {
public:
    // Creates the folder with its table (a missing table makes every table
    // operation fail with E_FAIL). The caller holds the first reference.
    CMAPIFolder();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    QUILLORY_IUNKNOWN_REFCOUNT

    // ---- IMAPIProp ----
    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override;
    HRESULT SaveChanges(ULONG ulFlags) override;
    HRESULT GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                     LPSPropValue* lppPropArray) override;
    HRESULT GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) override;
    HRESULT OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                         LPUNKNOWN* lppUnk) override;
    HRESULT SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems) override;
    HRESULT DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems) override;
    HRESULT CopyTo(ULONG ciidExclude, LPCIID rgiidExclude, LPSPropTagArray lpExcludeProps, ULONG_PTR ulUIParam,
                   LPMAPIPROGRESS lpProgress, LPCIID lpInterface, void* lpDestObj, ULONG ulFlags,
                   LPSPropProblemArray* lppProblems) override;
    HRESULT CopyProps(LPSPropTagArray lpIncludeProps, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                      LPCIID lpInterface, void* lpDestObj, ULONG ulFlags,
                      LPSPropProblemArray* lppProblems) override;
    HRESULT GetNamesFromIDs(LPSPropTagArray* lppPropTags, GUID* lpPropSetGuid, ULONG ulFlags,
                            ULONG* lpcPropNames, LPMAPINAMEID** lpppPropNames) override;
    HRESULT GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames, ULONG ulFlags,
                            LPSPropTagArray* lppPropTags) override;

    // ---- IMAPIContainer ----
    // A new view of the header table; MAPI_ASSOCIATED is refused.
    HRESULT GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    HRESULT GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                      ULONG* lpulObjType, LPUNKNOWN* lppUnk) override;
    HRESULT SetSearchCriteria(LPSRestriction lpRestriction, LPENTRYLIST lpContainerList,
                              ULONG ulSearchFlags) override;
    HRESULT GetSearchCriteria(ULONG ulFlags, LPSRestriction* lppRestriction, LPENTRYLIST* lppContainerList,
                              ULONG* lpulSearchState) override;

    // ---- IMAPIFolder ----
    HRESULT CreateMessage(LPCIID lpInterface, ULONG ulFlags, LPMESSAGE* lppMessage) override;
    HRESULT CopyMessages(LPENTRYLIST lpMsgList, LPCIID lpInterface, void* lpDestFolder, ULONG_PTR ulUIParam,
                         LPMAPIPROGRESS lpProgress, ULONG ulFlags) override;
    HRESULT DeleteMessages(LPENTRYLIST lpMsgList, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                           ULONG ulFlags) override;
    HRESULT CreateFolder(ULONG ulFolderType, LPSTR lpszFolderName, LPSTR lpszFolderComment, LPCIID lpInterface,
                         ULONG ulFlags, LPMAPIFOLDER* lppFolder) override;
    HRESULT CopyFolder(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, void* lpDestFolder,
                       LPSTR lpszNewFolderName, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                       ULONG ulFlags) override;
    HRESULT DeleteFolder(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                         ULONG ulFlags) override;
    HRESULT SetReadFlags(LPENTRYLIST lpMsgList, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                         ULONG ulFlags) override;
    HRESULT GetMessageStatus(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulFlags,
                             ULONG* lpulMessageStatus) override;
    // Sets the masked status bits of a row; clearing every masked bit removes
    // the row and its known-articles entry instead.
    HRESULT SetMessageStatus(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulNewStatus, ULONG ulNewStatusMask,
                             ULONG* lpulOldStatus) override;
    HRESULT SaveContentsSort(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) override;
    HRESULT EmptyFolder(ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress, ULONG ulFlags) override;

    // ---- Provider-internal operations ----
    // Keeps both (borrowed), gives the logon's store to the cache, loads the
    // cache file and adds a bare row for every unconfirmed entry.
    HRESULT Attach(IMAPIStatus* folderOwner, IFolderLogon* logon);

    // One header row from an article's header fields (empty text = none); a
    // row with an equal entry ID is replaced. Records the article in the
    // cache, unconfirmed, unless (number, group) is known. Returns the result
    // of the table write.
    HRESULT AddRow(std::string_view group, ULONG articleNumber, std::string_view messageId,
                   std::string_view subject = {}, std::string_view from = {}, std::string_view date = {});

    // Deletes the table row whose PR_ENTRYID `row` carries. With
    // recordInCache, the article is recorded in the cache first (confirmed
    // when `confirmed`). Saves the cache when the rows left are a multiple of
    // 500. Returns the result of the deletion.
    HRESULT DeleteRow(const SRow& row, bool recordInCache, bool confirmed);
    // Deletes every row.
    HRESULT ClearRows();
    // Sets MSGFLAG_READ on the table row whose PR_ENTRYID `row` carries.
    HRESULT MarkRead(const SRow& row);
    // Clears MSGSTATUS_REMOTE_DOWNLOAD on that row: a row kept after its
    // article was fetched must not be offered for download again, or the
    // marked-rows pass would fetch the same article without end.
    HRESULT ClearDownloadMark(const SRow& row);

    // Rows in the table; 0 on any failure.
    ULONG RowCount();
    // Row sets come from MAPIAllocateBuffer (free with FreeProws); null when
    // empty or on failure.
    // The first row with MSGSTATUS_REMOTE_DOWNLOAD: PR_ENTRYID, PR_DISPLAY_TO,
    // PR_MSG_STATUS, PR_INSTANCE_KEY.
    LPSRowSet QueryNextMarked();
    // Up to maxRows rows marked for download, in table order, with the
    // columns of QueryNextMarked.
    LPSRowSet QueryMarked(LONG maxRows);
    // Rows with PR_MSG_STATUS >= 0x1000 (up to 100000): PR_ENTRYID,
    // PR_DISPLAY_TO, PR_MSG_STATUS.
    LPSRowSet QueryStatusRows();
    // Every row (up to 1000): PR_ENTRYID, PR_DISPLAY_TO, PR_MSG_STATUS,
    // PR_INSTANCE_KEY.
    LPSRowSet QueryAllRows();

    // Cache operations (see CTableCache).
    void NarrowRange(ULONG& first, ULONG& last, std::string_view group);
    bool IsKnown(ULONG number, std::string_view group) const;
    // Called after an article was delivered.
    void Confirm(ULONG number, std::string_view group);
    int SaveCache();

    // For tests and the status object.
    CTableCache& Cache() { return cache_; }
    FILETIME ChangeTime() const { return changeTime_; }
    bool HasTable() const { return static_cast<bool>(table_); }

private:
    ~CMAPIFolder() override;

    void StampChangeTime();
    HRESULT NewView(IMAPITable** view);
    LPSRowSet Query(const SRestriction* restriction, std::initializer_list<ULONG> columns, LONG maxRows);
    HRESULT ReadRow(const SPropValue& entryId, LPSRow* row);
    HRESULT FillProp(ULONG tag, void* base, SPropValue& out);

    FILETIME changeTime_{};
    ComPtr<ITableData> table_;
    IMAPIStatus* owner_ = nullptr;    // borrowed: the status object owns us
    IFolderLogon* logon_ = nullptr;   // borrowed
    CTableCache cache_;
    CHeaderFieldReader fieldReader_;  // From and Date texts of new rows
    CModuleLock moduleLock_;
};

}  // namespace quillory::quarnex
