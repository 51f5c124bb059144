#include "platform/mapi/tableview.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/base/trace.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/restriction.h"

namespace quillory {
namespace {

constexpr ULONG kMvInstance = 0x2000;  // per-value sorting of multi-valued columns
constexpr ULONG kViewFlags = TBL_ASYNC | TBL_BATCH;
constexpr char kComponent[] = "Quillory MAPI table";

SCODE CopyString(const std::string& s, LPALLOCATEMORE more, void* head, LPSTR* out)
{
    void* block = nullptr;
    if (const SCODE sc = more(static_cast<ULONG>(s.size() + 1), head, &block); FAILED(sc)) return sc;
    std::memcpy(block, s.c_str(), s.size() + 1);
    *out = static_cast<LPSTR>(block);
    return S_OK;
}

}  // namespace

SCODE ValidateSortOrder(const SSortOrderSet& sort)
{
    if (sort.cCategories || sort.cExpanded) return MAPI_E_TOO_COMPLEX;  // no categorised views
    if (sort.cSorts > kMaxSortKeys) return MAPI_E_TOO_COMPLEX;
    for (ULONG i = 0; i < sort.cSorts; ++i) {
        const SSortOrder& key = sort.aSort[i];
        if (key.ulOrder == TABLE_SORT_COMBINE) return MAPI_E_TOO_COMPLEX;
        if (key.ulOrder != TABLE_SORT_ASCEND && key.ulOrder != TABLE_SORT_DESCEND) return MAPI_E_INVALID_PARAMETER;
        if (PROP_TYPE(key.ulPropTag) & kMvInstance) return MAPI_E_TOO_COMPLEX;
    }
    return S_OK;
}

CTableView::CTableView(CTableData* data) : data_(data) {}

CTableView::~CTableView()
{
    if (registered_) {
        std::lock_guard lock(data_->Mutex());
        data_->DetachView(this);  // no change reaches the view from here on
    }
    if (release_) release_(callerData_, data_.Get(), this);
    // data_ lets go of the table data last.
}

HRESULT CTableView::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv, {{&IID_IMAPITable, static_cast<IMAPITable*>(this)}});
}

void CTableView::InitLocked(const SSortOrderSet* sort)
{
    columns_ = data_->DefaultColumns();
    if (sort) sort_.assign(sort->aSort, sort->aSort + sort->cSorts);
    const auto& rows = data_->Rows();
    sorted_.reserve(rows.size());
    for (const auto& r : rows) sorted_.push_back(r.get());
    if (!sort_.empty()) SortRows(sorted_);
    registered_ = true;
}

void CTableView::SetReleaseCallback(ReleaseFn fn, ULONG callerData)
{
    release_ = fn;
    callerData_ = callerData;
}

int CTableView::CompareKey(std::size_t key, const SPropValue* a, const SPropValue* b) const
{
    const int c = (a && b) ? CompareOrderedValues(*a, *b, true) : int{a != nullptr} - int{b != nullptr};
    return sort_[key].ulOrder == TABLE_SORT_DESCEND ? -c : c;
}

bool CTableView::Before(const TableRow* a, const TableRow* b) const
{
    for (std::size_t k = 0; k < sort_.size(); ++k) {
        const ULONG tag = sort_[k].ulPropTag;
        if (const int c = CompareKey(k, FindRowValue(*a, tag), FindRowValue(*b, tag)); c != 0) return c < 0;
    }
    return a->ordinal < b->ordinal;
}

// Before, with every row's keys looked up once instead of at each comparison.
void CTableView::SortRows(std::vector<TableRow*>& rows) const
{
    const std::size_t width = sort_.size();
    std::vector<const SPropValue*> keys(rows.size() * width);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        for (std::size_t k = 0; k < width; ++k) keys[i * width + k] = FindRowValue(*rows[i], sort_[k].ulPropTag);
    }
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        for (std::size_t k = 0; k < width; ++k) {
            if (const int c = CompareKey(k, keys[a * width + k], keys[b * width + k]); c != 0) return c < 0;
        }
        return rows[a]->ordinal < rows[b]->ordinal;
    });
    std::vector<TableRow*> sorted(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) sorted[i] = rows[order[i]];
    rows.swap(sorted);
}

bool CTableView::Passes(const TableRow& row) const
{
    return !restriction_ || EvaluateRestriction(*restriction_.Get(), row.props.Get(), row.cValues);
}

std::size_t CTableView::Locate(const std::vector<TableRow*>& list, const TableRow* row, bool* found) const
{
    const auto it = std::lower_bound(list.begin(), list.end(), row,
                                     [this](const TableRow* x, const TableRow* y) { return Before(x, y); });
    *found = it != list.end() && *it == row;
    return static_cast<std::size_t>(it - list.begin());
}

bool CTableView::Insert(TableRow* row, std::size_t* pos)
{
    auto less = [this](const TableRow* x, const TableRow* y) { return Before(x, y); };
    const auto at = std::upper_bound(sorted_.begin(), sorted_.end(), row, less);
    std::size_t p = static_cast<std::size_t>(at - sorted_.begin());
    sorted_.insert(at, row);
    if (restriction_) {
        if (!Passes(*row)) return false;
        const auto vat = std::upper_bound(visible_.begin(), visible_.end(), row, less);
        p = static_cast<std::size_t>(vat - visible_.begin());
        visible_.insert(vat, row);
    }
    // A position on a row stays on it; one past the last row takes the new
    // row when it is appended there.
    const std::size_t oldSize = Visible().size() - 1;
    if (p < cursor_ || (p == cursor_ && cursor_ < oldSize)) ++cursor_;
    for (auto& [handle, bm] : bookmarks_) {
        if (p < bm.pos || (p == bm.pos && bm.row)) ++bm.pos;
    }
    *pos = p;
    return true;
}

bool CTableView::Remove(TableRow* row, std::size_t* pos)
{
    bool found = false;
    std::size_t p = Locate(sorted_, row, &found);
    if (!found) {
        const auto it = std::find(sorted_.begin(), sorted_.end(), row);
        if (it == sorted_.end()) {
            Trace("CTableView::Remove -- row not in the view\n");
            return false;
        }
        Trace("CTableView::Remove -- row out of order\n");
        p = static_cast<std::size_t>(it - sorted_.begin());
    }
    sorted_.erase(sorted_.begin() + static_cast<std::ptrdiff_t>(p));
    if (restriction_) {
        p = Locate(visible_, row, &found);
        if (!found) return false;
        visible_.erase(visible_.begin() + static_cast<std::ptrdiff_t>(p));
    }
    if (p < cursor_) --cursor_;
    for (auto& [handle, bm] : bookmarks_) {
        if (bm.row == row) {
            bm.row = nullptr;  // now between the neighbours of the vanished row
            bm.moved = true;
        } else if (p < bm.pos) {
            --bm.pos;
        }
    }
    *pos = p;
    return true;
}

void CTableView::RowAdded(TableRow* row, bool notify, PendingList& pending)
{
    std::size_t pos = 0;
    if (Insert(row, &pos) && notify) Notify(TABLE_ROW_ADDED, row, pos, pending);
}

void CTableView::RowRemoved(TableRow* row, bool notify, PendingList& pending)
{
    std::size_t pos = 0;
    if (Remove(row, &pos) && notify) Notify(TABLE_ROW_DELETED, row, pos, pending);
}

void CTableView::RowReplaced(TableRow* old, TableRow* now, bool notify, PendingList& pending)
{
    // The cursor and bookmarks on the old row follow it to its new version.
    const bool cursorOnOld = cursor_ < Visible().size() && Visible()[cursor_] == old;
    std::vector<Bookmark*> marked;
    for (auto& [handle, bm] : bookmarks_) {
        if (bm.row == old) marked.push_back(&bm);
    }
    std::size_t oldPos = 0;
    std::size_t newPos = 0;
    const bool was = Remove(old, &oldPos);
    const bool is = Insert(now, &newPos);
    if (is) {
        if (cursorOnOld) cursor_ = newPos;
        for (Bookmark* bm : marked) *bm = Bookmark{newPos, now, false};
    }
    if (!notify) return;
    if (was && is) {
        Notify(TABLE_ROW_MODIFIED, now, newPos, pending);
    } else if (was) {
        Notify(TABLE_ROW_DELETED, old, oldPos, pending);
    } else if (is) {
        Notify(TABLE_ROW_ADDED, now, newPos, pending);
    }
}

void CTableView::Cleared(PendingList& pending)
{
    sorted_.clear();
    visible_.clear();
    cursor_ = 0;
    for (auto& [handle, bm] : bookmarks_) bm = Bookmark{0, nullptr, true};
    Notify(TABLE_RELOAD, nullptr, 0, pending);
}

void CTableView::Changed(PendingList& pending) { Notify(TABLE_CHANGED, nullptr, 0, pending); }

void CTableView::Resync()
{
    cursor_ = 0;
    const auto& vis = Visible();
    for (auto& [handle, bm] : bookmarks_) {
        if (bm.row) {
            bool found = false;
            bm.pos = Locate(vis, bm.row, &found);  // a hidden row: where it would be
            if (!found) bm = Bookmark{bm.pos, nullptr, true};
        } else {
            bm.pos = std::min(bm.pos, vis.size());
        }
    }
}

SCODE CTableView::BuildRow(const TableRow& row, LPALLOCATEMORE more, void* head, LPSPropValue out) const
{
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const ULONG tag = columns_[i];
        if (const SPropValue* v = FindRowValue(row, tag)) {
            if (const SCODE sc = PropCopyMore(&out[i], const_cast<LPSPropValue>(v), more, head); FAILED(sc)) {
                return sc;
            }
            continue;
        }
        // Missing: an error value, keeping the code of one stored under the ID.
        const ULONG errTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
        const SPropValue* stored = FindRowValue(row, errTag);
        out[i].ulPropTag = errTag;
        out[i].dwAlignPad = 0;
        out[i].Value.err = stored ? stored->Value.err : MAPI_E_NOT_FOUND;
    }
    return S_OK;
}

void CTableView::Notify(ULONG event, const TableRow* row, std::size_t pos, PendingList& pending) const
{
    if (sinks_.empty()) return;
    MapiBuffer<NOTIFICATION> n;
    SCODE sc = MAPIAllocateBuffer(sizeof(NOTIFICATION), n.AsVoidOut());
    if (SUCCEEDED(sc)) {
        *n.Get() = NOTIFICATION{};
        n->ulEventType = fnevTableModified;
        TABLE_NOTIFICATION& tab = n->info.tab;
        tab.ulTableEvent = event;
        tab.hResult = S_OK;
        tab.propIndex.ulPropTag = PR_NULL;
        tab.propPrior.ulPropTag = PR_NULL;
        if (row) sc = PropCopyMore(&tab.propIndex, const_cast<LPSPropValue>(row->index), MAPIAllocateMore, n.Get());
        if (SUCCEEDED(sc) && row && event != TABLE_ROW_DELETED) {
            // The row before it in this view, and the row in this view's columns.
            if (pos > 0) {
                sc = PropCopyMore(&tab.propPrior, const_cast<LPSPropValue>(Visible()[pos - 1]->index),
                                  MAPIAllocateMore, n.Get());
            }
            void* values = nullptr;
            if (SUCCEEDED(sc)) {
                sc = MAPIAllocateMore(static_cast<ULONG>(std::max<std::size_t>(columns_.size(), 1) * sizeof(SPropValue)),
                                      n.Get(), &values);
            }
            if (SUCCEEDED(sc)) sc = BuildRow(*row, MAPIAllocateMore, n.Get(), static_cast<LPSPropValue>(values));
            if (SUCCEEDED(sc)) {
                tab.row.cValues = static_cast<ULONG>(columns_.size());
                tab.row.lpProps = static_cast<LPSPropValue>(values);
            }
        }
    }
    if (FAILED(sc)) {
        Trace("CTableView::Notify -- event %u dropped (0x%08x)\n", static_cast<unsigned>(event),
              static_cast<unsigned>(sc));
        return;
    }
    std::shared_ptr<NOTIFICATION> shared(n.Release(), [](NOTIFICATION* p) { MAPIFreeBuffer(p); });
    for (const Sink& s : sinks_) pending.push_back({s.sink, shared});
}

HRESULT CTableView::Fail(HRESULT hr, const char* what)
{
    Trace("CTableView -- %s (0x%08x)\n", what, static_cast<unsigned>(hr));
    std::lock_guard lock(errorMutex_);
    lastError_ = hr;
    lastErrorText_ = what;
    return hr;
}

HRESULT CTableView::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
{
    if (!lppMAPIError) return MAPI_E_INVALID_PARAMETER;
    *lppMAPIError = nullptr;
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    if (ulFlags) return MAPI_E_UNKNOWN_FLAGS;
    std::string text;
    {
        std::lock_guard lock(errorMutex_);
        if (hResult != lastError_ || lastErrorText_.empty()) return S_OK;  // nothing to tell
        text = lastErrorText_;
    }
    void* head = nullptr;
    if (const SCODE sc = data_->Allocate()(sizeof(MAPIERROR), &head); FAILED(sc)) return sc;
    auto* err = static_cast<LPMAPIERROR>(head);
    *err = MAPIERROR{};
    SCODE sc = CopyString(text, data_->AllocateMore(), head, &err->lpszError);
    if (SUCCEEDED(sc)) sc = CopyString(kComponent, data_->AllocateMore(), head, &err->lpszComponent);
    if (FAILED(sc)) {
        data_->FreeBuffer()(head);
        return sc;
    }
    *lppMAPIError = err;
    return S_OK;
}

HRESULT CTableView::Advise(ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink, ULONG* lpulConnection)
{
    if (!lpAdviseSink || !lpulConnection || !(ulEventMask & fnevTableModified)) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard lock(data_->Mutex());
    *lpulConnection = nextConnection_++;
    sinks_.push_back({*lpulConnection, ComPtr<IMAPIAdviseSink>(lpAdviseSink)});
    return S_OK;
}

HRESULT CTableView::Unadvise(ULONG ulConnection)
{
    ComPtr<IMAPIAdviseSink> gone;  // released after the lock, in case the sink calls back
    std::lock_guard lock(data_->Mutex());
    const auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const Sink& s) { return s.connection == ulConnection; });
    if (it == sinks_.end()) return MAPI_E_NOT_FOUND;
    gone = std::move(it->sink);
    sinks_.erase(it);
    return S_OK;
}

HRESULT CTableView::GetStatus(ULONG* lpulTableStatus, ULONG* lpulTableType)
{
    if (!lpulTableStatus || !lpulTableType) return MAPI_E_INVALID_PARAMETER;
    *lpulTableStatus = TBL_STATUS_COMPLETE;  // every operation completes before returning
    *lpulTableType = data_->TableType();
    return S_OK;
}

HRESULT CTableView::SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags)
{
    if (!lpPropTagArray) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & ~kViewFlags) return MAPI_E_UNKNOWN_FLAGS;
    // Bounded so that a row's values always fit one allocation.
    if (lpPropTagArray->cValues > kMaxColumns) return Fail(MAPI_E_TOO_COMPLEX, "SetColumns: too many columns");
    std::lock_guard lock(data_->Mutex());
    columns_.assign(lpPropTagArray->aulPropTag, lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
    return S_OK;
}

HRESULT CTableView::QueryColumns(ULONG ulFlags, LPSPropTagArray* lpPropTagArray)
{
    if (!lpPropTagArray) return MAPI_E_INVALID_PARAMETER;
    *lpPropTagArray = nullptr;
    if (ulFlags & ~TBL_ALL_COLUMNS) return MAPI_E_UNKNOWN_FLAGS;
    std::vector<ULONG> tags;
    {
        std::lock_guard lock(data_->Mutex());
        tags = (ulFlags & TBL_ALL_COLUMNS) ? data_->AllColumns() : columns_;
    }
    void* block = nullptr;
    const auto n = static_cast<ULONG>(tags.size());
    if (const SCODE sc = data_->Allocate()(CbNewSPropTagArray(n), &block); FAILED(sc)) return sc;
    auto* out = static_cast<LPSPropTagArray>(block);
    out->cValues = n;
    std::copy(tags.begin(), tags.end(), out->aulPropTag);
    *lpPropTagArray = out;
    return S_OK;
}

HRESULT CTableView::GetRowCount(ULONG ulFlags, ULONG* lpulCount)
{
    if (ulFlags) return MAPI_E_UNKNOWN_FLAGS;
    if (!lpulCount) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard lock(data_->Mutex());
    *lpulCount = static_cast<ULONG>(Visible().size());
    return S_OK;
}

// The position an origin names; moved reports a bookmark whose row went
// away or out of view since it was last used (it is re-anchored here).
HRESULT CTableView::Origin(BOOKMARK bk, std::size_t* pos, bool* moved)
{
    const std::size_t n = Visible().size();
    *moved = false;
    switch (bk) {
    case BOOKMARK_BEGINNING:
        *pos = 0;
        return S_OK;
    case BOOKMARK_CURRENT:
        *pos = std::min(cursor_, n);
        return S_OK;
    case BOOKMARK_END:
        *pos = n;
        return S_OK;
    default:
        break;
    }
    const auto it = bookmarks_.find(bk);
    if (it == bookmarks_.end()) return MAPI_E_INVALID_BOOKMARK;
    Bookmark& bm = it->second;
    *pos = std::min(bm.pos, n);
    *moved = bm.moved;
    if (bm.moved) bm = Bookmark{*pos, *pos < n ? Visible()[*pos] : nullptr, false};
    return S_OK;
}

HRESULT CTableView::SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought)
{
    std::lock_guard lock(data_->Mutex());
    std::size_t base = 0;
    bool moved = false;
    if (const HRESULT hr = Origin(bkOrigin, &base, &moved); FAILED(hr)) return Fail(hr, "SeekRow: unknown bookmark");
    const auto n = static_cast<long long>(Visible().size());
    const long long target = std::clamp(static_cast<long long>(base) + lRowCount, 0LL, n);
    cursor_ = static_cast<std::size_t>(target);
    if (lplRowsSought) *lplRowsSought = static_cast<LONG>(target - static_cast<long long>(base));
    return moved ? MAPI_W_POSITION_CHANGED : S_OK;
}

HRESULT CTableView::SeekRowApprox(ULONG ulNumerator, ULONG ulDenominator)
{
    if (ulDenominator == 0) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard lock(data_->Mutex());
    const std::size_t n = Visible().size();
    cursor_ = ulNumerator >= ulDenominator
                  ? n
                  : static_cast<std::size_t>(ULONGLONG{n} * ulNumerator / ulDenominator);
    return S_OK;
}

HRESULT CTableView::QueryPosition(ULONG* lpulRow, ULONG* lpulNumerator, ULONG* lpulDenominator)
{
    if (!lpulRow || !lpulNumerator || !lpulDenominator) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard lock(data_->Mutex());
    const std::size_t n = Visible().size();
    const std::size_t at = std::min(cursor_, n);
    *lpulRow = static_cast<ULONG>(at);
    *lpulNumerator = static_cast<ULONG>(at);
    *lpulDenominator = static_cast<ULONG>(n ? n : 1);  // never a zero divisor
    return S_OK;
}

HRESULT CTableView::FindRow(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags)
{
    if (ulFlags & ~DIR_BACKWARD) return MAPI_E_UNKNOWN_FLAGS;
    if (!lpRestriction) return MAPI_E_INVALID_PARAMETER;
    if (const SCODE sc = ValidateRestriction(*lpRestriction); FAILED(sc)) return Fail(sc, "FindRow: restriction refused");
    std::lock_guard lock(data_->Mutex());
    std::size_t base = 0;
    bool moved = false;
    if (const HRESULT hr = Origin(bkOrigin, &base, &moved); FAILED(hr)) return Fail(hr, "FindRow: unknown bookmark");
    const auto& vis = Visible();
    auto matches = [&](std::size_t i) { return EvaluateRestriction(*lpRestriction, vis[i]->props.Get(), vis[i]->cValues); };
    // Forward from the origin's row; backward from the row before it.
    if (ulFlags & DIR_BACKWARD) {
        for (std::size_t i = base; i-- > 0;) {
            if (matches(i)) {
                cursor_ = i;
                return moved ? MAPI_W_POSITION_CHANGED : S_OK;
            }
        }
    } else {
        for (std::size_t i = base; i < vis.size(); ++i) {
            if (matches(i)) {
                cursor_ = i;
                return moved ? MAPI_W_POSITION_CHANGED : S_OK;
            }
        }
    }
    return Fail(MAPI_E_NOT_FOUND, "FindRow: no matching row");
}

HRESULT CTableView::Restrict(LPSRestriction lpRestriction, ULONG ulFlags)
{
    if (ulFlags & ~kViewFlags) return MAPI_E_UNKNOWN_FLAGS;
    MapiBuffer<SRestriction> copy;
    if (lpRestriction) {
        if (const SCODE sc = DupRestriction(*lpRestriction, &copy); FAILED(sc)) {
            return Fail(sc, "Restrict: restriction refused");
        }
    }
    std::lock_guard lock(data_->Mutex());
    restriction_ = std::move(copy);
    visible_.clear();
    if (restriction_) {
        for (TableRow* r : sorted_) {
            if (Passes(*r)) visible_.push_back(r);
        }
    }
    Resync();
    return S_OK;
}

HRESULT CTableView::CreateBookmark(BOOKMARK* lpbkPosition)
{
    if (!lpbkPosition) return MAPI_E_INVALID_PARAMETER;
    std::lock_guard lock(data_->Mutex());
    if (bookmarks_.size() >= kMaxBookmarks) return Fail(MAPI_E_UNABLE_TO_COMPLETE, "CreateBookmark: too many bookmarks");
    const auto& vis = Visible();
    const std::size_t at = std::min(cursor_, vis.size());
    const BOOKMARK handle = nextBookmark_++;
    bookmarks_.emplace(handle, Bookmark{at, at < vis.size() ? vis[at] : nullptr, false});
    *lpbkPosition = handle;
    return S_OK;
}

HRESULT CTableView::FreeBookmark(BOOKMARK bkPosition)
{
    if (bkPosition <= BOOKMARK_END) return S_OK;  // the fixed positions need no freeing
    std::lock_guard lock(data_->Mutex());
    return bookmarks_.erase(bkPosition) ? S_OK : MAPI_E_INVALID_BOOKMARK;
}

HRESULT CTableView::SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags)
{
    if (ulFlags & ~kViewFlags) return MAPI_E_UNKNOWN_FLAGS;
    if (!lpSortCriteria) return MAPI_E_INVALID_PARAMETER;
    if (const SCODE sc = ValidateSortOrder(*lpSortCriteria); FAILED(sc)) return Fail(sc, "SortTable: order refused");
    std::lock_guard lock(data_->Mutex());
    sort_.assign(lpSortCriteria->aSort, lpSortCriteria->aSort + lpSortCriteria->cSorts);
    SortRows(sorted_);
    SortRows(visible_);
    Resync();
    return S_OK;
}

HRESULT CTableView::QuerySortOrder(LPSSortOrderSet* lppSortCriteria)
{
    if (!lppSortCriteria) return MAPI_E_INVALID_PARAMETER;
    *lppSortCriteria = nullptr;
    std::vector<SSortOrder> keys;
    {
        std::lock_guard lock(data_->Mutex());
        keys = sort_;
    }
    void* block = nullptr;
    const auto n = static_cast<ULONG>(keys.size());
    if (const SCODE sc = data_->Allocate()(CbNewSSortOrderSet(n), &block); FAILED(sc)) return sc;
    auto* out = static_cast<LPSSortOrderSet>(block);
    out->cSorts = n;
    out->cCategories = 0;
    out->cExpanded = 0;
    std::copy(keys.begin(), keys.end(), out->aSort);
    *lppSortCriteria = out;
    return S_OK;
}

HRESULT CTableView::QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows)
{
    if (!lppRows) return MAPI_E_INVALID_PARAMETER;
    *lppRows = nullptr;
    if (lRowCount == 0) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & ~TBL_NOADVANCE) return MAPI_E_UNKNOWN_FLAGS;
    const LPALLOCATEBUFFER allocate = data_->Allocate();
    const LPALLOCATEMORE more = data_->AllocateMore();
    const LPFREEBUFFER freeBuffer = data_->FreeBuffer();

    std::lock_guard lock(data_->Mutex());
    const auto& vis = Visible();
    const std::size_t at = std::min(cursor_, vis.size());
    // A negative count first moves back that many rows, then reads forward.
    std::size_t first = at;
    std::size_t last = at;
    if (lRowCount > 0) {
        last = at + std::min<std::size_t>(static_cast<std::size_t>(lRowCount), vis.size() - at);
    } else {
        first = at - std::min<std::size_t>(static_cast<std::size_t>(-static_cast<long long>(lRowCount)), at);
    }
    const std::size_t count = last - first;
    if (count > (std::numeric_limits<ULONG>::max() - sizeof(SRowSet)) / sizeof(SRow)) {
        return Fail(MAPI_E_TABLE_TOO_BIG, "QueryRows: too many rows");
    }
    void* setBlock = nullptr;
    if (const SCODE sc = allocate(CbNewSRowSet(static_cast<ULONG>(count)), &setBlock); FAILED(sc)) {
        return Fail(sc, "QueryRows: out of memory");
    }
    auto* set = static_cast<LPSRowSet>(setBlock);
    set->cRows = 0;
    const auto columns = static_cast<ULONG>(columns_.size());
    const ULONG cbValues = static_cast<ULONG>(std::max<ULONG>(columns, 1) * sizeof(SPropValue));
    SCODE sc = S_OK;
    for (std::size_t i = 0; i < count && SUCCEEDED(sc); ++i) {
        void* head = nullptr;
        sc = allocate(cbValues, &head);
        if (FAILED(sc)) break;
        sc = BuildRow(*vis[first + i], more, head, static_cast<LPSPropValue>(head));
        if (FAILED(sc)) {
            freeBuffer(head);
            break;
        }
        set->aRow[set->cRows++] = SRow{0, columns, static_cast<LPSPropValue>(head)};
    }
    if (FAILED(sc)) {
        for (ULONG i = 0; i < set->cRows; ++i) freeBuffer(set->aRow[i].lpProps);
        freeBuffer(set);
        return Fail(sc, "QueryRows: out of memory");
    }
    if (!(ulFlags & TBL_NOADVANCE)) cursor_ = lRowCount > 0 ? last : first;
    *lppRows = set;
    return S_OK;
}

HRESULT CTableView::Abort() { return S_OK; }  // nothing runs in the background

HRESULT CTableView::WaitForCompletion(ULONG ulFlags, ULONG ulTimeout, ULONG* lpulTableStatus)
{
    if (lpulTableStatus) *lpulTableStatus = TBL_STATUS_COMPLETE;
    return S_OK;
}

}  // namespace quillory
