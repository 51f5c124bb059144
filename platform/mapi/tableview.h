// A view of table data (IMAPITable): its own columns, restriction, sort
// order, cursor and bookmarks over the shared rows, kept up to date as the
// rows change.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/mapi/tabledata.h"

// Table events of fnevTableModified notifications.
constexpr ULONG TABLE_CHANGED = 1;
constexpr ULONG TABLE_ERROR = 2;
constexpr ULONG TABLE_ROW_ADDED = 3;
constexpr ULONG TABLE_ROW_DELETED = 4;
constexpr ULONG TABLE_ROW_MODIFIED = 5;
constexpr ULONG TABLE_SORT_DONE = 6;
constexpr ULONG TABLE_RESTRICT_DONE = 7;
constexpr ULONG TABLE_SETCOL_DONE = 8;
constexpr ULONG TABLE_RELOAD = 9;

namespace quillory {

// More sort keys, columns or bookmarks than this are refused.
constexpr ULONG kMaxSortKeys = 32;
constexpr ULONG kMaxColumns = 0x10000;
constexpr std::size_t kMaxBookmarks = 4096;

// S_OK for a sort order a view can apply; MAPI_E_TOO_COMPLEX for categories,
// TABLE_SORT_COMBINE, per-instance multi-value sorting or too many keys;
// MAPI_E_INVALID_PARAMETER for an unknown direction.
SCODE ValidateSortOrder(const SSortOrderSet& sort);

class CTableView final : public IMAPITable, public CRefCounted {
public:
    using ReleaseFn = void (*)(ULONG ulCallerData, ITableData* lpTblData, LPMAPITABLE lpVue);

    explicit CTableView(CTableData* data);
    ~CTableView() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    QUILLORY_IUNKNOWN_REFCOUNT

    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override;
    HRESULT Advise(ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink, ULONG* lpulConnection) override;
    HRESULT Unadvise(ULONG ulConnection) override;
    HRESULT GetStatus(ULONG* lpulTableStatus, ULONG* lpulTableType) override;
    HRESULT SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) override;
    HRESULT QueryColumns(ULONG ulFlags, LPSPropTagArray* lpPropTagArray) override;
    HRESULT GetRowCount(ULONG ulFlags, ULONG* lpulCount) override;
    HRESULT SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) override;
    HRESULT SeekRowApprox(ULONG ulNumerator, ULONG ulDenominator) override;
    HRESULT QueryPosition(ULONG* lpulRow, ULONG* lpulNumerator, ULONG* lpulDenominator) override;
    HRESULT FindRow(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags) override;
    HRESULT Restrict(LPSRestriction lpRestriction, ULONG ulFlags) override;
    HRESULT CreateBookmark(BOOKMARK* lpbkPosition) override;
    HRESULT FreeBookmark(BOOKMARK bkPosition) override;
    HRESULT SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) override;
    HRESULT QuerySortOrder(LPSSortOrderSet* lppSortCriteria) override;
    HRESULT QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) override;
    HRESULT Abort() override;
    HRESULT WaitForCompletion(ULONG ulFlags, ULONG ulTimeout, ULONG* lpulTableStatus) override;

    // Set-up by the table data, with its lock held: the rows in the given
    // order (validated by the caller), then registration.
    void InitLocked(const SSortOrderSet* sort);
    // The callback run when the view goes away (set once set-up succeeded).
    void SetReleaseCallback(ReleaseFn fn, ULONG callerData);

    // Changes of the rows, reported by the table data with its lock held.
    // Without notify the view updates silently (a batch reports TABLE_CHANGED).
    void RowAdded(TableRow* row, bool notify, PendingList& pending);
    void RowRemoved(TableRow* row, bool notify, PendingList& pending);
    void RowReplaced(TableRow* old, TableRow* now, bool notify, PendingList& pending);
    void Cleared(PendingList& pending);
    void Changed(PendingList& pending);

private:
    struct Bookmark {
        std::size_t pos;  // the row's index, or where the cursor stood between rows
        TableRow* row;    // the row marked; null at the end or once the row went away
        bool moved;
    };
    struct Sink {
        ULONG connection;
        ComPtr<IMAPIAdviseSink> sink;
    };

    std::vector<TableRow*>& Visible() { return restriction_ ? visible_ : sorted_; }
    const std::vector<TableRow*>& Visible() const { return restriction_ ? visible_ : sorted_; }
    // View order: the sort keys (a missing value before any present one, the
    // direction reversing both), then the table's own order, which makes every
    // position unique and the sort stable.
    int CompareKey(std::size_t key, const SPropValue* a, const SPropValue* b) const;
    bool Before(const TableRow* a, const TableRow* b) const;
    void SortRows(std::vector<TableRow*>& rows) const;
    bool Passes(const TableRow& row) const;
    // Index of row in list (which must hold it), by binary search.
    std::size_t Locate(const std::vector<TableRow*>& list, const TableRow* row, bool* found) const;
    // Inserts into / removes from the view's lists; the position in
    // Visible(), or false when the row is not visible.
    bool Insert(TableRow* row, std::size_t* pos);
    bool Remove(TableRow* row, std::size_t* pos);
    void Resync();  // after a new sort or restriction: cursor home, bookmarks re-found
    HRESULT Origin(BOOKMARK bk, std::size_t* pos, bool* moved);
    SCODE BuildRow(const TableRow& row, LPALLOCATEMORE more, void* head, LPSPropValue out) const;
    void Notify(ULONG event, const TableRow* row, std::size_t pos, PendingList& pending) const;
    HRESULT Fail(HRESULT hr, const char* what);

    ComPtr<CTableData> data_;
    ReleaseFn release_ = nullptr;
    ULONG callerData_ = 0;
    bool registered_ = false;

    // Guarded by the table data's lock.
    std::vector<ULONG> columns_;
    MapiBuffer<SRestriction> restriction_;
    std::vector<SSortOrder> sort_;
    std::vector<TableRow*> sorted_;   // every row, in view order
    std::vector<TableRow*> visible_;  // the rows passing the restriction, in view order
    std::size_t cursor_ = 0;          // index in Visible() of the next row read
    std::map<BOOKMARK, Bookmark> bookmarks_;
    BOOKMARK nextBookmark_ = BOOKMARK_END + 1;
    std::vector<Sink> sinks_;
    ULONG nextConnection_ = 1;

    std::mutex errorMutex_;  // the last failure, for GetLastError
    HRESULT lastError_ = S_OK;
    std::string lastErrorText_;
};

}  // namespace quillory
