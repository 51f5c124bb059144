#include "platform/mapi/tabledata.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>
#include <unordered_set>

#include "platform/base/trace.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/tableview.h"

namespace quillory {
namespace {

// Room between neighbouring ordinals, so that most inserts in the middle
// need no renumbering.
constexpr ULONGLONG kOrdinalGap = ULONGLONG{1} << 16;
// Above this many rows a batch reports one TABLE_CHANGED instead of an event
// per row.
constexpr ULONG kMaxRowEvents = 8;

bool IsFloating(ULONG type) { return type == PT_R4 || type == PT_DOUBLE || type == PT_APPTIME; }

bool IsNaN(const SPropValue& v)
{
    return PROP_TYPE(v.ulPropTag) == PT_R4 ? std::isnan(v.Value.flt) : std::isnan(v.Value.dbl);
}

// Index columns hold one value of a type that has an order.
bool IsIndexType(ULONG type)
{
    return IsKnownPropType(type) && (type & MV_FLAG) == 0 && type != PT_NULL && type != PT_ERROR &&
           type != PT_OBJECT;
}

// Home's CALLERRELEASE names the function type, so HrGetView receives the
// function pointer; where it names a pointer type, the argument points to
// the function pointer.
template <class P>
CTableView::ReleaseFn ToReleaseFn(P p)
{
    if (!p) return nullptr;
    if constexpr (std::is_convertible_v<P, CTableView::ReleaseFn>) {
        return p;
    } else {
        return *p;
    }
}

}  // namespace

const SPropValue* FindRowValue(const TableRow& row, ULONG tag)
{
    const bool byId = PROP_TYPE(tag) == PT_UNSPECIFIED;
    const SPropValue* props = row.props.Get();
    for (ULONG i = 0; i < row.cValues; ++i) {
        const ULONG t = props[i].ulPropTag;
        if (t == tag) return &props[i];
        if (byId && PROP_ID(t) == PROP_ID(tag) && PROP_TYPE(t) != PT_ERROR) return &props[i];
    }
    return nullptr;
}

int CompareOrderedValues(const SPropValue& a, const SPropValue& b, bool ignoreCase)
{
    if (PROP_TYPE(a.ulPropTag) == PROP_TYPE(b.ulPropTag) && IsFloating(PROP_TYPE(a.ulPropTag))) {
        const bool na = IsNaN(a);
        const bool nb = IsNaN(b);
        if (na || nb) return na == nb ? 0 : (na ? 1 : -1);
    }
    return ComparePropValues(a, b, ignoreCase);
}

void DeliverNotifications(PendingList& pending)
{
    for (PendingNotification& p : pending) p.sink->OnNotify(1, p.notification.get());
    pending.clear();
}

CTableData::CTableData(LPALLOCATEBUFFER allocate, LPALLOCATEMORE allocateMore, LPFREEBUFFER freeBuffer,
                       ULONG tableType, ULONG indexTag, std::vector<ULONG> columns)
    : allocate_(allocate),
      allocateMore_(allocateMore),
      free_(freeBuffer),
      tableType_(tableType),
      indexTag_(indexTag),
      columns_(std::move(columns))
{
}

// Views hold references, so none is left by now.
CTableData::~CTableData() = default;

HRESULT CTableData::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv, {{&IID_IMAPITableData, static_cast<ITableData*>(this)}});
}

SCODE CTableData::MakeRow(const SRow& src, std::unique_ptr<TableRow>* out) const
{
    if (src.cValues && !src.lpProps) return MAPI_E_INVALID_PARAMETER;
    if (src.cValues > static_cast<ULONG>(std::numeric_limits<int>::max())) return MAPI_E_INVALID_PARAMETER;
    auto row = std::make_unique<TableRow>();
    LPSPropValue copy = nullptr;
    if (const SCODE sc = ScDupPropset(static_cast<int>(src.cValues), src.lpProps, MAPIAllocateBuffer, &copy);
        FAILED(sc)) {
        return sc;
    }
    row->props.Reset(copy);
    row->cValues = src.cValues;
    row->index = PpropFindProp(copy, src.cValues, indexTag_);
    if (!row->index) {
        Trace("CTableData -- row without the index column 0x%08x refused\n", static_cast<unsigned>(indexTag_));
        return MAPI_E_INVALID_PARAMETER;
    }
    *out = std::move(row);
    return S_OK;
}

SCODE CTableData::CheckIndexValue(const SPropValue* value) const
{
    if (!value || value->ulPropTag != indexTag_) return MAPI_E_INVALID_PARAMETER;
    ULONG cb = 0;
    return ScCountProps(1, const_cast<LPSPropValue>(value), &cb);
}

// The row in one buffer of the caller's allocator: the SRow with its values
// chained to it.
SCODE CTableData::CopyRowOut(const TableRow& row, LPSRow* out) const
{
    void* head = nullptr;
    if (const SCODE sc = allocate_(sizeof(SRow), &head); FAILED(sc)) return sc;
    auto* dst = static_cast<LPSRow>(head);
    *dst = SRow{};
    void* block = nullptr;
    SCODE sc = allocateMore_(static_cast<ULONG>(std::max<ULONG>(row.cValues, 1) * sizeof(SPropValue)), head, &block);
    auto* values = static_cast<LPSPropValue>(block);
    for (ULONG i = 0; SUCCEEDED(sc) && i < row.cValues; ++i) {
        sc = PropCopyMore(&values[i], &row.props.Get()[i], allocateMore_, head);
    }
    if (FAILED(sc)) {
        free_(head);
        return sc;
    }
    dst->cValues = row.cValues;
    dst->lpProps = values;
    *out = dst;
    return S_OK;
}

std::size_t CTableData::PositionOf(const TableRow& row) const
{
    const auto it = std::lower_bound(rows_.begin(), rows_.end(), row.ordinal,
                                     [](const std::unique_ptr<TableRow>& r, ULONGLONG o) { return r->ordinal < o; });
    return static_cast<std::size_t>(it - rows_.begin());
}

std::vector<ULONG> CTableData::AllColumns() const
{
    std::vector<ULONG> tags;
    std::unordered_set<ULONG> seen;
    for (ULONG tag : columns_) {
        if (seen.insert(tag).second) tags.push_back(tag);
    }
    for (const auto& row : rows_) {
        for (ULONG i = 0; i < row->cValues; ++i) {
            const ULONG tag = row->props.Get()[i].ulPropTag;
            if (PROP_TYPE(tag) != PT_ERROR && seen.insert(tag).second) tags.push_back(tag);
        }
    }
    return tags;
}

void CTableData::DetachView(CTableView* view) { std::erase(views_, view); }

void CTableData::Upsert(std::unique_ptr<TableRow> row, bool notify, PendingList& pending)
{
    const auto found = byIndex_.find(row->index);
    if (found == byIndex_.end()) {
        row->ordinal = (rows_.empty() ? 0 : rows_.back()->ordinal) + kOrdinalGap;
        TableRow* added = row.get();
        rows_.push_back(std::move(row));
        byIndex_.emplace(added->index, added);
        for (CTableView* v : views_) v->RowAdded(added, notify, pending);
        return;
    }
    // Replaced in place: the new row keeps the old one's position.
    TableRow* old = found->second;
    const std::size_t pos = PositionOf(*old);
    row->ordinal = old->ordinal;
    TableRow* now = row.get();
    byIndex_.erase(found);
    byIndex_.emplace(now->index, now);
    std::unique_ptr<TableRow> keep = std::exchange(rows_[pos], std::move(row));
    for (CTableView* v : views_) v->RowReplaced(old, now, notify, pending);
}

void CTableData::Renumber()
{
    ULONGLONG ordinal = 0;
    for (auto& r : rows_) r->ordinal = (ordinal += kOrdinalGap);
}

void CTableData::InsertAt(std::size_t pos, std::unique_ptr<TableRow> row, PendingList& pending)
{
    auto between = [&](ULONGLONG* lo, ULONGLONG* hi) {
        *lo = pos ? rows_[pos - 1]->ordinal : 0;
        *hi = pos < rows_.size() ? rows_[pos]->ordinal : *lo + 2 * kOrdinalGap;
    };
    ULONGLONG lo = 0;
    ULONGLONG hi = 0;
    between(&lo, &hi);
    if (hi - lo < 2) {
        Renumber();  // keeps the order, so views stay sorted
        between(&lo, &hi);
    }
    row->ordinal = lo + (hi - lo) / 2;
    TableRow* added = row.get();
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(row));
    byIndex_.emplace(added->index, added);
    for (CTableView* v : views_) v->RowAdded(added, true, pending);
}

void CTableData::RemoveAt(std::size_t pos, bool notify, PendingList& pending)
{
    TableRow* row = rows_[pos].get();
    for (CTableView* v : views_) v->RowRemoved(row, notify, pending);
    byIndex_.erase(row->index);
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(pos));
}

HRESULT CTableData::HrGetView(LPSSortOrderSet lpSSortOrderSet, CALLERRELEASE* lpfCallerRelease, ULONG ulCallerData,
                              LPMAPITABLE* lppMAPITable)
{
    if (!lppMAPITable) return MAPI_E_INVALID_PARAMETER;
    *lppMAPITable = nullptr;
    if (lpSSortOrderSet) {
        if (const SCODE sc = ValidateSortOrder(*lpSSortOrderSet); FAILED(sc)) return sc;
    }
    const CTableView::ReleaseFn release = ToReleaseFn(lpfCallerRelease);
    auto view = ComPtr<CTableView>::Attach(NewComObject<CTableView>(this));
    {
        std::lock_guard lock(mutex_);
        view->InitLocked(lpSSortOrderSet);
        views_.push_back(view.Get());
    }
    view->SetReleaseCallback(release, ulCallerData);
    *lppMAPITable = view.Detach();
    return S_OK;
}

HRESULT CTableData::HrModifyRow(LPSRow lpSRow)
{
    if (!lpSRow) return MAPI_E_INVALID_PARAMETER;
    std::unique_ptr<TableRow> row;
    if (const SCODE sc = MakeRow(*lpSRow, &row); FAILED(sc)) return sc;
    PendingList pending;
    {
        std::lock_guard lock(mutex_);
        Upsert(std::move(row), true, pending);
    }
    DeliverNotifications(pending);
    return S_OK;
}

HRESULT CTableData::HrModifyRows(ULONG ulFlags, LPSRowSet lpSRowSet)
{
    if (ulFlags) return MAPI_E_UNKNOWN_FLAGS;
    if (!lpSRowSet) return MAPI_E_INVALID_PARAMETER;
    // Every row is copied first, so a bad one changes nothing.
    std::vector<std::unique_ptr<TableRow>> rows(lpSRowSet->cRows);
    for (ULONG i = 0; i < lpSRowSet->cRows; ++i) {
        if (const SCODE sc = MakeRow(lpSRowSet->aRow[i], &rows[i]); FAILED(sc)) return sc;
    }
    const bool perRow = lpSRowSet->cRows <= kMaxRowEvents;
    PendingList pending;
    {
        std::lock_guard lock(mutex_);
        for (auto& row : rows) Upsert(std::move(row), perRow, pending);
        if (!perRow) {
            for (CTableView* v : views_) v->Changed(pending);
        }
    }
    DeliverNotifications(pending);
    return S_OK;
}

HRESULT CTableData::HrDeleteRow(LPSPropValue lpSPropValue)
{
    if (const SCODE sc = CheckIndexValue(lpSPropValue); FAILED(sc)) return sc;
    PendingList pending;
    {
        std::lock_guard lock(mutex_);
        const auto found = byIndex_.find(lpSPropValue);
        if (found == byIndex_.end()) return MAPI_E_NOT_FOUND;
        RemoveAt(PositionOf(*found->second), true, pending);
    }
    DeliverNotifications(pending);
    return S_OK;
}

HRESULT CTableData::HrDeleteRows(ULONG ulFlags, LPSRowSet lprowsetToDelete, ULONG* cRowsDeleted)
{
    if (ulFlags & ~TAD_ALL_ROWS) return MAPI_E_UNKNOWN_FLAGS;
    if (cRowsDeleted) *cRowsDeleted = 0;
    PendingList pending;
    ULONG deleted = 0;
    if (ulFlags & TAD_ALL_ROWS) {
        std::lock_guard lock(mutex_);
        deleted = static_cast<ULONG>(rows_.size());
        for (CTableView* v : views_) v->Cleared(pending);
        byIndex_.clear();
        rows_.clear();
    } else {
        if (!lprowsetToDelete) return MAPI_E_INVALID_PARAMETER;
        std::vector<const SPropValue*> keys;
        for (ULONG i = 0; i < lprowsetToDelete->cRows; ++i) {
            const SRow& r = lprowsetToDelete->aRow[i];
            const SPropValue* key = r.lpProps ? PpropFindProp(r.lpProps, r.cValues, indexTag_) : nullptr;
            if (FAILED(CheckIndexValue(key))) return MAPI_E_INVALID_PARAMETER;
            keys.push_back(key);
        }
        const bool perRow = keys.size() <= kMaxRowEvents;
        std::lock_guard lock(mutex_);
        for (const SPropValue* key : keys) {
            const auto found = byIndex_.find(key);
            if (found == byIndex_.end()) continue;  // absent rows are no error here
            RemoveAt(PositionOf(*found->second), perRow, pending);
            ++deleted;
        }
        if (!perRow && deleted) {
            for (CTableView* v : views_) v->Changed(pending);
        }
    }
    if (cRowsDeleted) *cRowsDeleted = deleted;
    DeliverNotifications(pending);
    return S_OK;
}

HRESULT CTableData::HrQueryRow(LPSPropValue lpsPropValue, LPSRow* lppSRow, ULONG* lpuliRow)
{
    if (!lppSRow) return MAPI_E_INVALID_PARAMETER;
    *lppSRow = nullptr;
    if (const SCODE sc = CheckIndexValue(lpsPropValue); FAILED(sc)) return sc;
    std::lock_guard lock(mutex_);
    const auto found = byIndex_.find(lpsPropValue);
    if (found == byIndex_.end()) return MAPI_E_NOT_FOUND;
    if (const SCODE sc = CopyRowOut(*found->second, lppSRow); FAILED(sc)) return sc;
    if (lpuliRow) *lpuliRow = static_cast<ULONG>(PositionOf(*found->second));
    return S_OK;
}

HRESULT CTableData::HrEnumRow(ULONG ulRowNumber, LPSRow* lppSRow)
{
    if (!lppSRow) return MAPI_E_INVALID_PARAMETER;
    *lppSRow = nullptr;
    std::lock_guard lock(mutex_);
    if (ulRowNumber >= rows_.size()) return S_OK;  // past the end: no row, no error
    return CopyRowOut(*rows_[ulRowNumber], lppSRow);
}

HRESULT CTableData::HrInsertRow(ULONG uliRow, LPSRow lpSRow)
{
    if (!lpSRow) return MAPI_E_INVALID_PARAMETER;
    std::unique_ptr<TableRow> row;
    if (const SCODE sc = MakeRow(*lpSRow, &row); FAILED(sc)) return sc;
    PendingList pending;
    {
        std::lock_guard lock(mutex_);
        if (uliRow > rows_.size()) return MAPI_E_INVALID_PARAMETER;
        if (byIndex_.contains(row->index)) return MAPI_E_INVALID_PARAMETER;
        InsertAt(uliRow, std::move(row), pending);
    }
    DeliverNotifications(pending);
    return S_OK;
}

}  // namespace quillory

SCODE CreateTable(LPCIID lpInterface, LPALLOCATEBUFFER lpAllocateBuffer, LPALLOCATEMORE lpAllocateMore,
                  LPFREEBUFFER lpFreeBuffer, void* lpvReserved, ULONG ulTableType, ULONG ulPropTagIndexColumn,
                  LPSPropTagArray lpSPropTagArrayColumns, LPTABLEDATA* lppTableData)
{
    if (!lppTableData) return MAPI_E_INVALID_PARAMETER;
    *lppTableData = nullptr;
    if (lpInterface && !IsEqualIID(*lpInterface, IID_IMAPITableData) && !IsEqualIID(*lpInterface, IID_IUnknown)) {
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    }
    if (!lpAllocateBuffer || !lpAllocateMore || !lpFreeBuffer || !lpSPropTagArrayColumns) {
        return MAPI_E_INVALID_PARAMETER;
    }
    if (ulTableType > TBLTYPE_DYNAMIC || !quillory::IsIndexType(PROP_TYPE(ulPropTagIndexColumn)) ||
        lpSPropTagArrayColumns->cValues > quillory::kMaxColumns) {
        return MAPI_E_INVALID_PARAMETER;
    }
    std::vector<ULONG> columns(lpSPropTagArrayColumns->aulPropTag,
                               lpSPropTagArrayColumns->aulPropTag + lpSPropTagArrayColumns->cValues);
    *lppTableData = quillory::NewComObject<quillory::CTableData>(lpAllocateBuffer, lpAllocateMore, lpFreeBuffer,
                                                                 ulTableType, ulPropTagIndexColumn,
                                                                 std::move(columns));
    return S_OK;
}
