#include "platform/mapi/msgstore_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <numeric>

#include "platform/com/refcounted.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/restriction.h"

namespace quillory::store {

// ---- Helpers ---------------------------------------------------------------------------

const SPropValue* FindValue(const SPropValue* props, ULONG count, ULONG tag)
{
    const bool byId = PROP_TYPE(tag) == PT_UNSPECIFIED;
    for (ULONG i = 0; i < count; ++i) {
        const ULONG t = props[i].ulPropTag;
        if (t == tag || (byId && PROP_ID(t) == PROP_ID(tag) && PROP_TYPE(t) != PT_ERROR)) return &props[i];
    }
    return nullptr;
}

HRESULT RowFromValues(const SPropValue* values, ULONG count, std::span<const ULONG> columns, SRow& row)
{
    row = SRow{};
    MapiBuffer<SPropValue> props;
    const auto n = static_cast<ULONG>(columns.size());
    if (const SCODE sc = MAPIAllocateBuffer(std::max<ULONG>(1, n) * sizeof(SPropValue), props.AsVoidOut()); FAILED(sc))
        return sc;
    for (ULONG i = 0; i < n; ++i) {
        SPropValue& out = props.Get()[i];
        if (const SPropValue* v = FindValue(values, count, columns[i])) {
            if (const SCODE sc = PropCopyMore(&out, const_cast<LPSPropValue>(v), MAPIAllocateMore, props.Get());
                FAILED(sc))
                return sc;
        } else {
            out = SPropValue{};
            out.ulPropTag = CHANGE_PROP_TYPE(columns[i], PT_ERROR);
            out.Value.err = MAPI_E_NOT_FOUND;
        }
    }
    row.cValues = n;
    row.lpProps = props.Release();
    return S_OK;
}

// ---- Rows in memory ---------------------------------------------------------------------

namespace {

bool SameProperty(ULONG wanted, ULONG tag)
{
    return wanted == tag || (PROP_ID(wanted) == PROP_ID(tag) &&
                             (PROP_TYPE(wanted) == PT_UNSPECIFIED || PROP_TYPE(tag) == PT_UNSPECIFIED));
}

// Whether the restriction looks at a property the predicate picks (any kind
// it does not know counts as looking at everything).
template <class Picks>
bool Mentions(const SRestriction& res, const Picks& picks)
{
    switch (res.rt) {
    case RES_AND:
    case RES_OR:
        for (ULONG i = 0; i < res.res.resAnd.cRes; ++i)
            if (Mentions(res.res.resAnd.lpRes[i], picks)) return true;
        return false;
    case RES_NOT: return res.res.resNot.lpRes && Mentions(*res.res.resNot.lpRes, picks);
    case RES_CONTENT: return picks(res.res.resContent.ulPropTag);
    case RES_PROPERTY: return picks(res.res.resProperty.ulPropTag);
    case RES_COMPAREPROPS: return picks(res.res.resCompareProps.ulPropTag1) || picks(res.res.resCompareProps.ulPropTag2);
    case RES_BITMASK: return picks(res.res.resBitMask.ulPropTag);
    case RES_SIZE: return picks(res.res.resSize.ulPropTag);
    case RES_EXIST: return picks(res.res.resExist.ulPropTag);
    default: return true;
    }
}

}  // namespace

HRESULT MemoryTableSource::Fresh()
{
    const std::uint64_t v = version_();
    if (loaded_ && v == loadedVersion_) return S_OK;
    Data data;
    if (const HRESULT hr = loader_(data); FAILED(hr)) return hr;
    data.completed.assign(data.rows.size(), data.late.empty());
    data_ = std::move(data);
    loaded_ = true;
    loadedVersion_ = v;
    return S_OK;
}

bool MemoryTableSource::IsLate(ULONG tag) const
{
    for (ULONG late : data_.late)
        if (SameProperty(tag, late)) return true;
    return false;
}

HRESULT MemoryTableSource::Complete(std::size_t row)
{
    if (data_.completed[row] || !data_.complete) return S_OK;
    if (const HRESULT hr = data_.complete(data_.keys[row], data_.rows[row]); FAILED(hr)) return hr;
    data_.completed[row] = true;
    return S_OK;
}

std::vector<ULONG> MemoryTableSource::DefaultColumns()
{
    if (FAILED(Fresh())) return {};
    return data_.columns;
}

HRESULT MemoryTableSource::Keys(const SRestriction* res, std::span<const SSortOrder> sort,
                                std::vector<std::int64_t>& keys)
{
    if (const HRESULT hr = Fresh(); FAILED(hr)) return hr;
    bool late = res && Mentions(*res, [this](ULONG tag) { return IsLate(tag); });
    for (const SSortOrder& s : sort) late = late || IsLate(s.ulPropTag);
    if (late) {
        for (std::size_t i = 0; i < data_.rows.size(); ++i)
            if (const HRESULT hr = Complete(i); FAILED(hr)) return hr;
    }
    std::vector<std::size_t> rows;
    for (std::size_t i = 0; i < data_.rows.size(); ++i) {
        const PropArray& r = data_.rows[i];
        if (!res || EvaluateRestriction(*res, r.props.Get(), r.count)) rows.push_back(i);
    }
    std::stable_sort(rows.begin(), rows.end(), [&](std::size_t x, std::size_t y) {
        for (const SSortOrder& s : sort) {
            const PropArray& a = data_.rows[x];
            const PropArray& b = data_.rows[y];
            int r = CompareSortValues(FindValue(a.props.Get(), a.count, s.ulPropTag),
                                      FindValue(b.props.Get(), b.count, s.ulPropTag));
            if (s.ulOrder == TABLE_SORT_DESCEND) r = -r;
            if (r) return r < 0;
        }
        return false;
    });
    keys.clear();
    for (std::size_t i : rows) keys.push_back(data_.keys[i]);
    return S_OK;
}

HRESULT MemoryTableSource::Row(std::int64_t key, std::span<const ULONG> columns, SRow& row)
{
    if (const HRESULT hr = Fresh(); FAILED(hr)) return hr;
    const auto it = std::find(data_.keys.begin(), data_.keys.end(), key);
    if (it == data_.keys.end()) return S_FALSE;
    const auto index = static_cast<std::size_t>(it - data_.keys.begin());
    for (ULONG tag : columns) {
        if (!IsLate(tag)) continue;
        if (const HRESULT hr = Complete(index); FAILED(hr)) return hr;
        break;
    }
    const PropArray& r = data_.rows[index];
    return RowFromValues(r.props.Get(), r.count, columns, row);
}

// ---- The table ------------------------------------------------------------------------------

namespace {

constexpr ULONG TBLSTAT_COMPLETE = 0;

class CStoreTable final : public IMAPITable, public CRefCounted {
public:
    explicit CStoreTable(std::unique_ptr<TableSource> source) : source_(std::move(source))
    {
        columns_ = source_->DefaultColumns();
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IMAPITable, this}});
    }
    QUILLORY_IUNKNOWN_REFCOUNT

    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override
    {
        if (!lppMAPIError) return MAPI_E_INVALID_PARAMETER;
        *lppMAPIError = nullptr;
        if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
        char text[48];
        std::snprintf(text, sizeof text, "MAPI error 0x%08X", static_cast<unsigned>(hResult));
        static constexpr char kComponent[] = "Quillory message store";
        MapiBuffer<MAPIERROR> err;
        if (const SCODE sc = MAPIAllocateBuffer(sizeof(MAPIERROR), err.AsVoidOut()); FAILED(sc)) return sc;
        *err.Get() = MAPIERROR{MAPI_ERROR_VERSION, nullptr, nullptr, 0, 0};
        void* p = nullptr;
        if (const SCODE sc = MAPIAllocateMore(sizeof text, err.Get(), &p); FAILED(sc)) return sc;
        std::memcpy(p, text, sizeof text);
        err->lpszError = static_cast<LPSTR>(p);
        if (const SCODE sc = MAPIAllocateMore(sizeof kComponent, err.Get(), &p); FAILED(sc)) return sc;
        std::memcpy(p, kComponent, sizeof kComponent);
        err->lpszComponent = static_cast<LPSTR>(p);
        *lppMAPIError = err.Release();
        return S_OK;
    }

    HRESULT Advise(ULONG, LPMAPIADVISESINK, ULONG* lpulConnection) override
    {
        if (lpulConnection) *lpulConnection = 0;
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT Unadvise(ULONG) override { return MAPI_E_NO_SUPPORT; }

    HRESULT GetStatus(ULONG* lpulTableStatus, ULONG* lpulTableType) override
    {
        if (!lpulTableStatus || !lpulTableType) return MAPI_E_INVALID_PARAMETER;
        *lpulTableStatus = TBLSTAT_COMPLETE;
        *lpulTableType = TBLTYPE_DYNAMIC;
        return S_OK;
    }

    HRESULT SetColumns(LPSPropTagArray lpPropTagArray, ULONG ulFlags) override
    {
        if (!lpPropTagArray) return MAPI_E_INVALID_PARAMETER;
        std::lock_guard lock(mutex_);
        columns_.assign(lpPropTagArray->aulPropTag, lpPropTagArray->aulPropTag + lpPropTagArray->cValues);
        return S_OK;
    }

    HRESULT QueryColumns(ULONG ulFlags, LPSPropTagArray* lpPropTagArray) override
    {
        if (!lpPropTagArray) return MAPI_E_INVALID_PARAMETER;
        *lpPropTagArray = nullptr;
        if (ulFlags & ~TBL_ALL_COLUMNS) return MAPI_E_UNKNOWN_FLAGS;
        std::lock_guard lock(mutex_);
        return Guard([&] {
            const std::vector<ULONG> cols = (ulFlags & TBL_ALL_COLUMNS) ? source_->AllColumns() : columns_;
            MapiBuffer<SPropTagArray> out;
            const auto n = static_cast<ULONG>(cols.size());
            if (const SCODE sc = MAPIAllocateBuffer(CbNewSPropTagArray(n), out.AsVoidOut()); FAILED(sc)) return sc;
            out->cValues = n;
            std::copy(cols.begin(), cols.end(), out->aulPropTag);
            *lpPropTagArray = out.Release();
            return S_OK;
        });
    }

    HRESULT GetRowCount(ULONG ulFlags, ULONG* lpulCount) override
    {
        if (!lpulCount) return MAPI_E_INVALID_PARAMETER;
        *lpulCount = 0;
        std::lock_guard lock(mutex_);
        return Guard([&] {
            if (const HRESULT hr = Ensure(); FAILED(hr)) return hr;
            *lpulCount = static_cast<ULONG>(keys_.size());
            return S_OK;
        });
    }

    HRESULT SeekRow(BOOKMARK bkOrigin, LONG lRowCount, LONG* lplRowsSought) override
    {
        if (lplRowsSought) *lplRowsSought = 0;
        std::lock_guard lock(mutex_);
        return Guard([&] {
            if (const HRESULT hr = Ensure(); FAILED(hr)) return hr;
            std::size_t start = 0;
            const HRESULT hr = Resolve(bkOrigin, start);
            if (FAILED(hr)) return hr;
            const auto target = std::clamp<std::int64_t>(static_cast<std::int64_t>(start) + lRowCount, 0,
                                                         static_cast<std::int64_t>(keys_.size()));
            if (lplRowsSought) *lplRowsSought = static_cast<LONG>(target - static_cast<std::int64_t>(start));
            pos_ = static_cast<std::size_t>(target);
            return hr;
        });
    }

    HRESULT SeekRowApprox(ULONG ulNumerator, ULONG ulDenominator) override
    {
        if (ulDenominator == 0 || ulNumerator > ulDenominator) return MAPI_E_INVALID_PARAMETER;
        std::lock_guard lock(mutex_);
        return Guard([&] {
            if (const HRESULT hr = Ensure(); FAILED(hr)) return hr;
            pos_ = static_cast<std::size_t>(std::uint64_t{keys_.size()} * ulNumerator / ulDenominator);
            return S_OK;
        });
    }

    HRESULT QueryPosition(ULONG* lpulRow, ULONG* lpulNumerator, ULONG* lpulDenominator) override
    {
        if (!lpulRow || !lpulNumerator || !lpulDenominator) return MAPI_E_INVALID_PARAMETER;
        std::lock_guard lock(mutex_);
        return Guard([&] {
            if (const HRESULT hr = Ensure(); FAILED(hr)) return hr;
            *lpulRow = static_cast<ULONG>(pos_);
            *lpulNumerator = static_cast<ULONG>(pos_);
            *lpulDenominator = static_cast<ULONG>(std::max<std::size_t>(1, keys_.size()));
            return S_OK;
        });
    }

    HRESULT FindRow(LPSRestriction lpRestriction, BOOKMARK bkOrigin, ULONG ulFlags) override
    {
        if (!lpRestriction) return MAPI_E_INVALID_PARAMETER;
        if (ulFlags & ~DIR_BACKWARD) return MAPI_E_UNKNOWN_FLAGS;
        if (const SCODE sc = ValidateRestriction(*lpRestriction); FAILED(sc)) return sc;
        std::lock_guard lock(mutex_);
        return Guard([&]() -> HRESULT {
            if (const HRESULT hr = Ensure(); FAILED(hr)) return hr;
            std::size_t start = 0;
            const HRESULT seek = Resolve(bkOrigin, start);
            if (FAILED(seek)) return seek;
            std::vector<ULONG> tags;
            RestrictionTags(*lpRestriction, tags);
            const bool back = (ulFlags & DIR_BACKWARD) != 0;
            for (std::size_t i = back ? start : start + 1; back ? i > 0 : i <= keys_.size(); back ? --i : ++i) {
                const std::size_t row = i - 1;
                SRow values{};
                const HRESULT hr = source_->Row(keys_[row], tags, values);
                if (FAILED(hr)) return hr;
                if (hr == S_FALSE) continue;
                const bool match = EvaluateRestriction(*lpRestriction, values.lpProps, values.cValues);
                MAPIFreeBuffer(values.lpProps);
                if (match) {
                    pos_ = row;
                    return seek;
                }
            }
            return MAPI_E_NOT_FOUND;
        });
    }

    HRESULT Restrict(LPSRestriction lpRestriction, ULONG ulFlags) override
    {
        MapiBuffer<SRestriction> copy;
        if (lpRestriction) {
            if (const SCODE sc = DupRestriction(*lpRestriction, &copy); FAILED(sc)) return sc;
        }
        std::lock_guard lock(mutex_);
        restriction_ = std::move(copy);
        Invalidate();
        return S_OK;
    }

    HRESULT CreateBookmark(BOOKMARK* lpbkPosition) override
    {
        if (!lpbkPosition) return MAPI_E_INVALID_PARAMETER;
        std::lock_guard lock(mutex_);
        return Guard([&] {
            if (const HRESULT hr = Ensure(); FAILED(hr)) return hr;
            const BOOKMARK bk = nextBookmark_++;
            bookmarks_[bk] = Mark{pos_ >= keys_.size(), pos_ < keys_.size() ? keys_[pos_] : 0, pos_};
            *lpbkPosition = bk;
            return S_OK;
        });
    }

    HRESULT FreeBookmark(BOOKMARK bkPosition) override
    {
        std::lock_guard lock(mutex_);
        if (bkPosition <= BOOKMARK_END) return S_OK;
        return bookmarks_.erase(bkPosition) ? S_OK : MAPI_E_INVALID_BOOKMARK;
    }

    HRESULT SortTable(LPSSortOrderSet lpSortCriteria, ULONG ulFlags) override
    {
        if (!lpSortCriteria) return MAPI_E_INVALID_PARAMETER;
        if (lpSortCriteria->cCategories > 0) return MAPI_E_TOO_COMPLEX;  // categorised views are not offered
        std::vector<SSortOrder> sort(lpSortCriteria->aSort, lpSortCriteria->aSort + lpSortCriteria->cSorts);
        for (const SSortOrder& s : sort) {
            if (s.ulOrder != TABLE_SORT_ASCEND && s.ulOrder != TABLE_SORT_DESCEND) return MAPI_E_TOO_COMPLEX;
            if (PROP_TYPE(s.ulPropTag) == PT_ERROR) return MAPI_E_INVALID_PARAMETER;
        }
        std::lock_guard lock(mutex_);
        sort_ = std::move(sort);
        Invalidate();
        return S_OK;
    }

    HRESULT QuerySortOrder(LPSSortOrderSet* lppSortCriteria) override
    {
        if (!lppSortCriteria) return MAPI_E_INVALID_PARAMETER;
        std::lock_guard lock(mutex_);
        const auto n = static_cast<ULONG>(sort_.size());
        MapiBuffer<SSortOrderSet> out;
        if (const SCODE sc = MAPIAllocateBuffer(CbNewSSortOrderSet(n), out.AsVoidOut()); FAILED(sc)) return sc;
        out->cSorts = n;
        out->cCategories = 0;
        out->cExpanded = 0;
        std::copy(sort_.begin(), sort_.end(), out->aSort);
        *lppSortCriteria = out.Release();
        return S_OK;
    }

    HRESULT QueryRows(LONG lRowCount, ULONG ulFlags, LPSRowSet* lppRows) override
    {
        if (!lppRows) return MAPI_E_INVALID_PARAMETER;
        *lppRows = nullptr;
        if (ulFlags & ~TBL_NOADVANCE) return MAPI_E_UNKNOWN_FLAGS;
        std::lock_guard lock(mutex_);
        return Guard([&]() -> HRESULT {
            if (const HRESULT hr = Ensure(); FAILED(hr)) return hr;
            std::size_t first = pos_;
            std::size_t last = pos_;
            if (lRowCount >= 0) {
                last = std::min(keys_.size(), pos_ + static_cast<std::size_t>(lRowCount));
            } else {
                const auto back = static_cast<std::size_t>(-static_cast<std::int64_t>(lRowCount));
                first = pos_ > back ? pos_ - back : 0;
            }
            const auto n = static_cast<ULONG>(last - first);
            LPSRowSet rows = nullptr;
            if (const SCODE sc = MAPIAllocateBuffer(CbNewSRowSet(std::max<ULONG>(1, n)), reinterpret_cast<void**>(&rows));
                FAILED(sc))
                return sc;
            rows->cRows = 0;
            for (std::size_t i = first; i < last; ++i) {
                SRow row{};
                const HRESULT hr = source_->Row(keys_[i], columns_, row);
                if (FAILED(hr)) {
                    FreeProws(rows);
                    return hr;
                }
                if (hr == S_FALSE) continue;  // gone since the keys were read
                rows->aRow[rows->cRows++] = row;
            }
            if (!(ulFlags & TBL_NOADVANCE)) pos_ = lRowCount >= 0 ? last : first;
            *lppRows = rows;
            return S_OK;
        });
    }

    HRESULT Abort() override { return S_OK; }

    HRESULT WaitForCompletion(ULONG ulFlags, ULONG ulTimeout, ULONG* lpulTableStatus) override
    {
        if (lpulTableStatus) *lpulTableStatus = TBLSTAT_COMPLETE;
        return S_OK;
    }

private:
    struct Mark {
        bool atEnd = false;
        std::int64_t key = 0;
        std::size_t pos = 0;
    };

    template <class F>
    HRESULT Guard(F&& f)
    {
        return GuardStore("table", std::function<HRESULT()>(std::forward<F>(f)));
    }

    void Invalidate()
    {
        valid_ = false;
        pos_ = 0;
    }

    // Works the keys out again when they are stale; the current row stays
    // current when it still exists.
    HRESULT Ensure()
    {
        const std::uint64_t version = source_->Version();
        if (valid_ && version == version_) return S_OK;
        const bool hadRow = valid_ && pos_ < keys_.size();
        const std::int64_t current = hadRow ? keys_[pos_] : 0;
        const bool wasAtEnd = valid_ && pos_ >= keys_.size() && !keys_.empty();
        std::vector<std::int64_t> keys;
        const HRESULT hr = source_->Keys(restriction_.Get(), sort_, keys);
        if (FAILED(hr)) return hr;
        keys_ = std::move(keys);
        version_ = version;
        if (valid_) {
            if (hadRow) {
                const auto it = std::find(keys_.begin(), keys_.end(), current);
                pos_ = it != keys_.end() ? static_cast<std::size_t>(it - keys_.begin()) : std::min(pos_, keys_.size());
            } else {
                pos_ = wasAtEnd ? keys_.size() : std::min(pos_, keys_.size());
            }
        }
        valid_ = true;
        return S_OK;
    }

    // The position a bookmark names; MAPI_W_POSITION_CHANGED when its row
    // has gone.
    HRESULT Resolve(BOOKMARK bk, std::size_t& out)
    {
        if (bk == BOOKMARK_BEGINNING) out = 0;
        else if (bk == BOOKMARK_CURRENT) out = pos_;
        else if (bk == BOOKMARK_END) out = keys_.size();
        else {
            const auto it = bookmarks_.find(bk);
            if (it == bookmarks_.end()) return MAPI_E_INVALID_BOOKMARK;
            if (it->second.atEnd) {
                out = keys_.size();
                return S_OK;
            }
            const auto k = std::find(keys_.begin(), keys_.end(), it->second.key);
            if (k != keys_.end()) {
                out = static_cast<std::size_t>(k - keys_.begin());
                return S_OK;
            }
            out = std::min(it->second.pos, keys_.size());
            return MAPI_W_POSITION_CHANGED;
        }
        return S_OK;
    }

    std::mutex mutex_;
    std::unique_ptr<TableSource> source_;
    std::vector<ULONG> columns_;
    MapiBuffer<SRestriction> restriction_;
    std::vector<SSortOrder> sort_;
    std::vector<std::int64_t> keys_;
    bool valid_ = false;
    std::uint64_t version_ = 0;
    std::size_t pos_ = 0;
    std::map<BOOKMARK, Mark> bookmarks_;
    BOOKMARK nextBookmark_ = BOOKMARK_END + 1;
};

}  // namespace

HRESULT CreateStoreTable(std::unique_ptr<TableSource> source, LPMAPITABLE* lppTable)
{
    if (!lppTable || !source) return MAPI_E_INVALID_PARAMETER;
    *lppTable = NewComObject<CStoreTable>(std::move(source));
    return S_OK;
}

}  // namespace quillory::store
