// The header table's row operations: status changes, deletion, read marks,
// the queries of the logon and the downloader, and the cache around them.
#include <utility>

#include "platform/base/trace.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/tabledata.h"
#include "provider/entry/module_state.h"
#include "provider/folder/header_entryid.h"
#include "provider/folder/mapi_folder.h"

namespace quillory::quarnex {

namespace {

// A row read from the table data (one buffer chain).
class CTableRow {
public:
    CTableRow() = default;
    ~CTableRow()
    {
        if (row_) ModuleAllocators().freeBuffer(row_);
    }
    CTableRow(const CTableRow&) = delete;
    CTableRow& operator=(const CTableRow&) = delete;
    LPSRow* operator&() { return &row_; }
    LPSRow Get() const { return row_; }
    LPSPropValue Find(ULONG tag) const { return row_ ? PpropFindProp(row_->lpProps, row_->cValues, tag) : nullptr; }

private:
    LPSRow row_ = nullptr;
};

SPropValue EntryIdValue(ULONG cb, LPENTRYID id)
{
    SPropValue v{};
    v.ulPropTag = PR_ENTRYID;
    v.Value.bin.cb = cb;
    v.Value.bin.lpb = reinterpret_cast<LPBYTE>(id);
    return v;
}

bool ParseEntryId(const SPropValue& value, HeaderEntryId& out)
{
    return ParseHeaderEntryId({value.Value.bin.lpb, value.Value.bin.cb}, out);
}

}  // namespace

HRESULT CMAPIFolder::NewView(IMAPITable** view)
{
    if (!table_) return E_FAIL;
    return table_->HrGetView(nullptr, nullptr, 0, view);
}

HRESULT CMAPIFolder::ReadRow(const SPropValue& entryId, LPSRow* row)
{
    if (!table_) return E_FAIL;
    SPropValue key = entryId;
    return table_->HrQueryRow(&key, row, nullptr);
}

HRESULT CMAPIFolder::GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    Trace("CMAPIFolder::GetContentsTable(%i,)\n", static_cast<int>(ulFlags));
    if (!lppTable) return MAPI_E_INVALID_PARAMETER;
    *lppTable = nullptr;
    if (ulFlags & MAPI_ASSOCIATED) return MAPI_E_NO_SUPPORT;
    return NewView(lppTable);
}

HRESULT CMAPIFolder::SetMessageStatus(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulNewStatus,
                                      ULONG ulNewStatusMask, ULONG* lpulOldStatus)
{
    Trace("CMAPIFolder::SetMessageStatus(%i,,%08x,%08x,)\n", static_cast<int>(cbEntryID),
          static_cast<unsigned>(ulNewStatus), static_cast<unsigned>(ulNewStatusMask));
    if (!table_) return E_FAIL;
    if (!lpEntryID) return MAPI_E_INVALID_PARAMETER;
    const SPropValue id = EntryIdValue(cbEntryID, lpEntryID);
    CTableRow row;
    if (const HRESULT hr = ReadRow(id, &row); FAILED(hr)) return hr;
    LPSPropValue status = row.Find(PR_MSG_STATUS);
    if (!status) return MAPI_E_NOT_FOUND;
    const ULONG old = status->Value.ul;
    if (lpulOldStatus) *lpulOldStatus = old;
    if ((ulNewStatus & ulNewStatusMask) == (old & ulNewStatusMask)) return S_OK;
    if (ulNewStatus & ulNewStatusMask) {
        status->Value.ul = (old & ~ulNewStatusMask) | (ulNewStatus & ulNewStatusMask);
        return table_->HrModifyRow(row.Get());
    }
    // Every masked bit cleared: the header leaves the table and the cache,
    // so that a later refresh may offer it again.
    SPropValue key = id;
    const HRESULT hr = table_->HrDeleteRow(&key);
    HeaderEntryId parsed;
    if (SUCCEEDED(hr) && ParseEntryId(id, parsed)) cache_.RemoveById(parsed.number, parsed.messageId);
    StampChangeTime();
    return hr;
}

HRESULT CMAPIFolder::DeleteRow(const SRow& row, bool recordInCache, bool confirmed)
{
    if (!table_) return E_FAIL;
    const LPSPropValue id = PpropFindProp(row.lpProps, row.cValues, PR_ENTRYID);
    if (!id) return MAPI_E_INVALID_PARAMETER;
    if (recordInCache) {
        CTableRow stored;
        HeaderEntryId parsed;
        if (SUCCEEDED(ReadRow(*id, &stored)) && ParseEntryId(*id, parsed)) {
            const LPSPropValue displayTo = stored.Find(PR_DISPLAY_TO);
            const std::string_view group = displayTo && displayTo->Value.lpszA ? displayTo->Value.lpszA : "";
            cache_.Record(parsed.number, parsed.messageId, group, confirmed);
        }
    }
    StampChangeTime();
    SPropValue key = *id;
    const HRESULT hr = table_->HrDeleteRow(&key);
    const ULONG left = RowCount();
    Trace("CMAPIFolder::DeleteRow - %i rows left\n", static_cast<int>(left));
    if (left % kSaveCacheEveryRows == 0) cache_.Save();
    return hr;
}

HRESULT CMAPIFolder::ClearRows()
{
    StampChangeTime();
    if (!table_) return E_FAIL;
    ULONG deleted = 0;
    return table_->HrDeleteRows(TAD_ALL_ROWS, nullptr, &deleted);
}

HRESULT CMAPIFolder::MarkRead(const SRow& row)
{
    if (!table_) return E_FAIL;
    const LPSPropValue id = PpropFindProp(row.lpProps, row.cValues, PR_ENTRYID);
    if (!id) return MAPI_E_INVALID_PARAMETER;
    CTableRow stored;
    if (const HRESULT hr = ReadRow(*id, &stored); FAILED(hr)) return hr;
    HRESULT hr = S_OK;
    LPSPropValue flags = stored.Find(PR_MESSAGE_FLAGS);
    if (flags && !(flags->Value.ul & MSGFLAG_READ)) {
        flags->Value.ul |= MSGFLAG_READ;
        hr = table_->HrModifyRow(stored.Get());
    }
    StampChangeTime();
    return hr;
}

HRESULT CMAPIFolder::ClearDownloadMark(const SRow& row)
{
    if (!table_) return E_FAIL;
    const LPSPropValue id = PpropFindProp(row.lpProps, row.cValues, PR_ENTRYID);
    if (!id) return MAPI_E_INVALID_PARAMETER;
    CTableRow stored;
    if (const HRESULT hr = ReadRow(*id, &stored); FAILED(hr)) return hr;
    LPSPropValue status = stored.Find(PR_MSG_STATUS);
    if (!status || !(status->Value.ul & MSGSTATUS_REMOTE_DOWNLOAD)) return S_OK;
    status->Value.ul &= ~MSGSTATUS_REMOTE_DOWNLOAD;
    StampChangeTime();
    return table_->HrModifyRow(stored.Get());
}

ULONG CMAPIFolder::RowCount()
{
    ComPtr<IMAPITable> view;
    ULONG count = 0;
    if (FAILED(NewView(&view)) || FAILED(view->GetRowCount(0, &count))) return 0;
    return count;
}

LPSRowSet CMAPIFolder::Query(const SRestriction* restriction, std::initializer_list<ULONG> columns, LONG maxRows)
{
    ComPtr<IMAPITable> view;
    if (FAILED(NewView(&view))) return nullptr;
    MapiBuffer<SPropTagArray> tags = MakeTagArray(columns);
    if (!tags || FAILED(view->SetColumns(tags.Get(), 0))) return nullptr;
    if (restriction && FAILED(view->Restrict(const_cast<LPSRestriction>(restriction), 0))) return nullptr;
    LPSRowSet rows = nullptr;
    if (FAILED(view->QueryRows(maxRows, 0, &rows))) return nullptr;
    if (rows && rows->cRows == 0) {
        FreeProws(rows);
        rows = nullptr;
    }
    return rows;
}

LPSRowSet CMAPIFolder::QueryNextMarked() { return QueryMarked(1); }

LPSRowSet CMAPIFolder::QueryMarked(LONG maxRows)
{
    SRestriction marked{};
    marked.rt = RES_BITMASK;
    marked.res.resBitMask = SBitMaskRestriction{BMR_NEZ, PR_MSG_STATUS, MSGSTATUS_REMOTE_DOWNLOAD};
    return Query(&marked, {PR_ENTRYID, PR_DISPLAY_TO, PR_MSG_STATUS, PR_INSTANCE_KEY}, maxRows);
}

LPSRowSet CMAPIFolder::QueryStatusRows()
{
    SPropValue threshold{};
    threshold.ulPropTag = PR_MSG_STATUS;
    threshold.Value.ul = MSGSTATUS_REMOTE_DOWNLOAD;
    SRestriction atLeast{};
    atLeast.rt = RES_PROPERTY;
    atLeast.res.resProperty = SPropertyRestriction{RELOP_GE, PR_MSG_STATUS, &threshold};
    return Query(&atLeast, {PR_ENTRYID, PR_DISPLAY_TO, PR_MSG_STATUS}, kStatusRowsLimit);
}

LPSRowSet CMAPIFolder::QueryAllRows()
{
    return Query(nullptr, {PR_ENTRYID, PR_DISPLAY_TO, PR_MSG_STATUS, PR_INSTANCE_KEY}, kAllRowsLimit);
}

void CMAPIFolder::NarrowRange(ULONG& first, ULONG& last, std::string_view group)
{
    cache_.NarrowRange(first, last, group);
}

bool CMAPIFolder::IsKnown(ULONG number, std::string_view group) const { return cache_.IsKnown(number, group); }

void CMAPIFolder::Confirm(ULONG number, std::string_view group) { cache_.Confirm(number, group); }

int CMAPIFolder::SaveCache() { return cache_.Save(); }

}  // namespace quillory::quarnex
