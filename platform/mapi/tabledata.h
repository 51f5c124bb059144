// Table data: rows kept by the value of an index column, in insertion
// order, with any number of views (tableview.h) that follow every change.
// CreateTable (mapix.h) makes one.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/refcounted.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapix.h"

// HrDeleteRows: delete every row (views get one TABLE_RELOAD).
constexpr ULONG TAD_ALL_ROWS = 0x00000001;

namespace quillory {

class CTableView;

// One stored row: a private deep copy that never changes once stored (a
// modification replaces the whole row).
struct TableRow {
    MapiBuffer<SPropValue> props;
    ULONG cValues = 0;
    const SPropValue* index = nullptr;  // the index column's value inside props
    ULONGLONG ordinal = 0;              // the table's own order; gaps leave room for inserts
};

// The value with the tag in a row; a tag of type PT_UNSPECIFIED takes any
// value with its ID except an error value.
const SPropValue* FindRowValue(const TableRow& row, ULONG tag);

// ComparePropValues made a strict weak order: NaN sorts after every number,
// so sorting and the index map stay well defined.
int CompareOrderedValues(const SPropValue& a, const SPropValue& b, bool ignoreCase);

// A notification gathered under the table's lock, delivered after it is
// released so that a sink may call back into the table.
struct PendingNotification {
    ComPtr<IMAPIAdviseSink> sink;
    std::shared_ptr<NOTIFICATION> notification;
};
using PendingList = std::vector<PendingNotification>;
void DeliverNotifications(PendingList& pending);

class CTableData final : public ITableData, public CRefCounted {
public:
    CTableData(LPALLOCATEBUFFER allocate, LPALLOCATEMORE allocateMore, LPFREEBUFFER freeBuffer, ULONG tableType,
               ULONG indexTag, std::vector<ULONG> columns);
    ~CTableData() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    QUILLORY_IUNKNOWN_REFCOUNT

    HRESULT HrGetView(LPSSortOrderSet lpSSortOrderSet, CALLERRELEASE* lpfCallerRelease, ULONG ulCallerData,
                      LPMAPITABLE* lppMAPITable) override;
    HRESULT HrModifyRow(LPSRow lpSRow) override;
    HRESULT HrDeleteRow(LPSPropValue lpSPropValue) override;
    HRESULT HrQueryRow(LPSPropValue lpsPropValue, LPSRow* lppSRow, ULONG* lpuliRow) override;
    HRESULT HrEnumRow(ULONG ulRowNumber, LPSRow* lppSRow) override;
    HRESULT HrInsertRow(ULONG uliRow, LPSRow lpSRow) override;
    HRESULT HrModifyRows(ULONG ulFlags, LPSRowSet lpSRowSet) override;
    HRESULT HrDeleteRows(ULONG ulFlags, LPSRowSet lprowsetToDelete, ULONG* cRowsDeleted) override;

    // For views. Everything below except the accessors of fixed settings
    // needs Mutex() held.
    std::mutex& Mutex() const { return mutex_; }
    const std::vector<std::unique_ptr<TableRow>>& Rows() const { return rows_; }
    std::vector<ULONG> AllColumns() const;
    void DetachView(CTableView* view);
    ULONG TableType() const { return tableType_; }
    const std::vector<ULONG>& DefaultColumns() const { return columns_; }
    LPALLOCATEBUFFER Allocate() const { return allocate_; }
    LPALLOCATEMORE AllocateMore() const { return allocateMore_; }
    LPFREEBUFFER FreeBuffer() const { return free_; }

private:
    struct IndexLess {
        bool operator()(const SPropValue* a, const SPropValue* b) const
        {
            return CompareOrderedValues(*a, *b, false) < 0;
        }
    };

    SCODE MakeRow(const SRow& src, std::unique_ptr<TableRow>* out) const;
    SCODE CheckIndexValue(const SPropValue* value) const;
    SCODE CopyRowOut(const TableRow& row, LPSRow* out) const;
    std::size_t PositionOf(const TableRow& row) const;
    // The modifications, with the lock held; views learn of each.
    void Upsert(std::unique_ptr<TableRow> row, bool notify, PendingList& pending);
    void InsertAt(std::size_t pos, std::unique_ptr<TableRow> row, PendingList& pending);
    void RemoveAt(std::size_t pos, bool notify, PendingList& pending);
    void Renumber();

    const LPALLOCATEBUFFER allocate_;
    const LPALLOCATEMORE allocateMore_;
    const LPFREEBUFFER free_;
    const ULONG tableType_;
    const ULONG indexTag_;
    const std::vector<ULONG> columns_;

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<TableRow>> rows_;  // ascending ordinal
    std::map<const SPropValue*, TableRow*, IndexLess> byIndex_;
    std::vector<CTableView*> views_;  // each holds a reference to this object
};

}  // namespace quillory
