#include "host/header_flow.h"

#include <cstring>

#include "host/store_threads.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/proputil.h"
#include "provider/folder/header_entryid.h"

namespace quillory::host {
namespace {

constexpr ULONG kBatchRows = 500;

const char* RequestName(ULONG request)
{
    return request == REFRESH_XP_HEADER_CACHE ? "the header refresh" : "processing the marked headers";
}

}  // namespace

std::string HeaderMarks(ULONG status)
{
    std::string m;
    if (status & MSGSTATUS_REMOTE_DOWNLOAD) m = "download";
    if (status & MSGSTATUS_REMOTE_DELETE) m += m.empty() ? "delete" : "+delete";
    return m.empty() ? "-" : m;
}

CHeaderFlow::CHeaderFlow(CSpooler& spooler, const std::optional<MAPIUID>& service) : spooler_(spooler)
{
    const auto& transports = spooler.Transports();
    for (std::size_t i = 0; i < transports.size(); ++i) {
        const SpoolerTransport& t = transports[i];
        if (service && std::memcmp(&t.service, &*service, sizeof(MAPIUID)) != 0) continue;
        if (!t.logon) {
            if (service) logonProblem_ = t.display + " did not log on: " + t.logonError;
            continue;
        }
        ComPtr<IMAPIStatus> status;
        ComPtr<IMAPIFolder> folder;
        if (FAILED(spooler.OpenStatus(i, status)) || FAILED(status.As(IID_IMAPIFolder, folder))) continue;
        folders_.push_back({t.display, status, folder});
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
    enum { kEntryId, kSubject, kSender, kSubmitted, kStatus, kColumns };
    for (std::size_t i = 0; i < folders_.size(); ++i) {
        ComPtr<IMAPITable> table;
        HRESULT hr = folders_[i].folder->GetContentsTable(0, &table);
        auto columns = MakeTagArray({PR_ENTRYID, PR_SUBJECT, PR_SENDER_NAME, PR_CLIENT_SUBMIT_TIME, PR_MSG_STATUS});
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
                if (quarnex::HeaderEntryId id; quarnex::ParseHeaderEntryId(row.entryId, id)) {
                    row.article = id.number;
                    row.group = std::move(id.group);
                }
                if (v[kSubject].ulPropTag == PR_SUBJECT) row.subject = v[kSubject].Value.lpszA;
                if (v[kSender].ulPropTag == PR_SENDER_NAME) row.sender = v[kSender].Value.lpszA;
                if (v[kSubmitted].ulPropTag == PR_CLIENT_SUBMIT_TIME) row.date = v[kSubmitted].Value.ft;
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

int RunHeaderRequest(CHeaderFlow& flow, const char* command, ULONG request, SpoolerPassResult* pass)
{
    SpoolerPassResult local;
    SpoolerPassResult& p = pass ? *pass : local;
    std::vector<HeaderFlowOutcome> outcomes;
    if (const HRESULT hr = flow.Run(request, p, outcomes); FAILED(hr)) {
        std::fprintf(stderr, "quillory %s: %s failed: the send and receive did not run (%s)\n", command,
                     RequestName(request), HexResult(hr).c_str());
        return 1;
    }
    for (const auto& problem : p.problems) std::fprintf(stderr, "quillory %s: %s\n", command, problem.c_str());
    int status = p.problems.empty() ? 0 : 1;
    for (const auto& o : outcomes) {
        // Busy after the pass: the transport goes on in the background
        // (article bodies are fetched ahead); the outcome comes later.
        if (SUCCEEDED(o.result) || o.result == MAPI_E_BUSY) continue;
        std::fprintf(stderr, "quillory %s: %s: %s failed (%s)\n", command, o.transport.c_str(), RequestName(request),
                     HexResult(o.result).c_str());
        status = 1;
    }
    return status;
}

int PrintHeaderRows(const CHeaderFlow& flow, const char* command)
{
    std::vector<HeaderFlowRow> rows;
    if (const HRESULT hr = flow.Rows(rows); FAILED(hr)) {
        std::fprintf(stderr, "quillory %s: the header tables cannot be read (%s)\n", command, HexResult(hr).c_str());
        return 1;
    }
    std::size_t number = 0;
    for (const auto& r : rows) {
        ThreadEntry shown;
        shown.subject = r.subject;
        shown.sender = r.sender;
        shown.date = r.date;
        std::printf("%zu\t%s:%lu\t%s\t%s\n", ++number, r.group.c_str(), static_cast<unsigned long>(r.article),
                    HeaderMarks(r.status).c_str(), FormatThreadLine(shown, 0).c_str());
    }
    std::printf("%zu header%s waiting.\n", rows.size(), rows.size() == 1 ? "" : "s");
    return 0;
}

const HeaderFlowRow* FindHeaderRow(const std::vector<HeaderFlowRow>& rows, std::string_view spec)
{
    const bool byName = spec.find(':') != std::string_view::npos;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const HeaderFlowRow& r = rows[i];
        if (byName ? spec == r.group + ":" + std::to_string(r.article) : spec == std::to_string(i + 1)) return &r;
    }
    return nullptr;
}

}  // namespace quillory::host
