#include "host/header_flow.h"

#include <algorithm>

#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/proputil.h"

namespace quillory::host {
namespace {

constexpr ULONG kBatchRows = 500;
constexpr std::size_t kArticleNumberBytes = 4;

// A header row's entry ID: article number (little-endian), message-id and
// NUL, newsgroup and NUL.
void DecodeEntryId(HeaderFlowRow& row)
{
    const auto& b = row.entryId;
    if (b.size() < kArticleNumberBytes + 1) return;
    row.article = static_cast<ULONG>(b[0]) | static_cast<ULONG>(b[1]) << 8 | static_cast<ULONG>(b[2]) << 16 |
                  static_cast<ULONG>(b[3]) << 24;
    const auto idEnd = std::find(b.begin() + kArticleNumberBytes, b.end(), BYTE{0});
    if (idEnd == b.end()) return;
    row.group.assign(idEnd + 1, std::find(idEnd + 1, b.end(), BYTE{0}));
}

}  // namespace

std::string HeaderMarks(ULONG status)
{
    std::string m;
    if (status & MSGSTATUS_REMOTE_DOWNLOAD) m = "download";
    if (status & MSGSTATUS_REMOTE_DELETE) m += m.empty() ? "delete" : "+delete";
    return m.empty() ? "-" : m;
}

CHeaderFlow::CHeaderFlow(CSpooler& spooler) : spooler_(spooler)
{
    const auto& transports = spooler.Transports();
    for (std::size_t i = 0; i < transports.size(); ++i) {
        if (!transports[i].logon) continue;
        ComPtr<IMAPIStatus> status;
        ComPtr<IMAPIFolder> folder;
        if (FAILED(spooler.OpenStatus(i, status)) || FAILED(status.As(IID_IMAPIFolder, folder))) continue;
        folders_.push_back({transports[i].display, status, folder});
    }
}

HRESULT CHeaderFlow::Run(ULONG request, SpoolerPassResult& pass, std::vector<HeaderFlowOutcome>& outcomes)
{
    outcomes.clear();
    // A transport that is not idle answers the first request with the outcome
    // of an earlier operation; that one is collected and the request made again.
    for (auto& f : folders_)
        if (f.status->ValidateState(0, request) != MAPI_E_BUSY) f.status->ValidateState(0, request);
    if (const HRESULT hr = spooler_.RunInboundPass(&pass); FAILED(hr)) return hr;
    for (auto& f : folders_) outcomes.push_back({f.transport, f.status->ValidateState(0, request)});
    return S_OK;
}

HRESULT CHeaderFlow::Rows(std::vector<HeaderFlowRow>& out) const
{
    out.clear();
    enum { kEntryId, kSubject, kSender, kStatus, kColumns };
    for (std::size_t i = 0; i < folders_.size(); ++i) {
        ComPtr<IMAPITable> table;
        HRESULT hr = folders_[i].folder->GetContentsTable(0, &table);
        auto columns = MakeTagArray({PR_ENTRYID, PR_SUBJECT, PR_SENDER_NAME, PR_MSG_STATUS});
        if (SUCCEEDED(hr)) hr = table->SetColumns(columns.Get(), 0);
        if (FAILED(hr)) return hr;
        for (;;) {
            RowSetPtr rows;
            if (hr = table->QueryRows(kBatchRows, 0, &rows); FAILED(hr)) return hr;
            if (!rows || rows->cRows == 0) break;
            for (ULONG r = 0; r < rows->cRows; ++r) {
                const SPropValue* v = rows->aRow[r].lpProps;
                if (rows->aRow[r].cValues < kColumns || v[kEntryId].ulPropTag != PR_ENTRYID) continue;
                HeaderFlowRow row;
                row.folder = i;
                row.entryId.assign(v[kEntryId].Value.bin.lpb, v[kEntryId].Value.bin.lpb + v[kEntryId].Value.bin.cb);
                DecodeEntryId(row);
                if (v[kSubject].ulPropTag == PR_SUBJECT) row.subject = v[kSubject].Value.lpszA;
                if (v[kSender].ulPropTag == PR_SENDER_NAME) row.sender = v[kSender].Value.lpszA;
                if (v[kStatus].ulPropTag == PR_MSG_STATUS) row.status = v[kStatus].Value.ul;
                out.push_back(std::move(row));
            }
        }
    }
    return S_OK;
}

HRESULT CHeaderFlow::Mark(const HeaderFlowRow& row, ULONG bits)
{
    if (row.folder >= folders_.size() || row.entryId.empty()) return E_INVALIDARG;
    std::vector<BYTE> id = row.entryId;
    ULONG old = 0;
    return folders_[row.folder].folder->SetMessageStatus(static_cast<ULONG>(id.size()),
                                                         reinterpret_cast<LPENTRYID>(id.data()), bits, bits, &old);
}

}  // namespace quillory::host
