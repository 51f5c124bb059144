#include "host/post_send.h"

#include <cstdio>

#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/spooler/spooler.h"

namespace quillory::host {

namespace {

constexpr const char* kReportClass = "REPORT.IPM.Note.NDR";

// Non-delivery reports in the default store's receive folder; a transport
// that took a post the server refused leaves one there.
ULONG CountReports(IMAPISession* session)
{
    ComPtr<IMAPITable> stores;
    RowSetPtr rows;
    auto cols = MakeTagArray({PR_ENTRYID, PR_DEFAULT_STORE});
    if (FAILED(session->GetMsgStoresTable(0, &stores)) || FAILED(stores->SetColumns(cols.Get(), 0)) ||
        FAILED(stores->QueryRows(0x7FFFFFFF, 0, &rows)) || !rows)
        return 0;
    ComPtr<IMsgStore> store;
    for (ULONG i = 0; i < rows->cRows && !store; ++i) {
        const SPropValue* p = rows->aRow[i].lpProps;
        if (p[1].ulPropTag == PR_DEFAULT_STORE && p[1].Value.b && p[0].ulPropTag == PR_ENTRYID)
            session->OpenMsgStore(0, p[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(p[0].Value.bin.lpb), nullptr,
                                  MAPI_BEST_ACCESS, &store);
    }
    ULONG cb = 0;
    MapiBuffer<ENTRYID> eid;
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    if (!store || FAILED(store->GetReceiveFolder(nullptr, 0, &cb, &eid, nullptr)) ||
        FAILED(store->OpenEntry(cb, eid.Get(), nullptr, 0, &type, &unk)) || type != MAPI_FOLDER)
        return 0;
    ComPtr<IMAPITable> contents;
    SPropValue reportClass{};
    reportClass.ulPropTag = PR_MESSAGE_CLASS;
    reportClass.Value.lpszA = const_cast<LPSTR>(kReportClass);
    SRestriction r{};
    r.rt = RES_PROPERTY;
    r.res.resProperty = SPropertyRestriction{RELOP_EQ, PR_MESSAGE_CLASS, &reportClass};
    ULONG count = 0;
    if (FAILED(static_cast<IMAPIFolder*>(unk.Get())->GetContentsTable(0, &contents)) ||
        FAILED(contents->Restrict(&r, 0)) || FAILED(contents->GetRowCount(0, &count)))
        return 0;
    return count;
}

void PrintOutbound(const SpoolerProgress& p)
{
    const char* what = nullptr;
    switch (p.phase) {
    case SpoolerProgress::Phase::Submitted: what = "sent"; break;
    case SpoolerProgress::Phase::Deferred: what = "deferred"; break;
    case SpoolerProgress::Phase::Undeliverable: what = "not delivered (see the report in the Inbox)"; break;
    default: return;
    }
    std::printf("  \"%s\": %s", p.subject.c_str(), what);
    if (FAILED(p.result)) std::printf(" (%s)", HexResult(p.result).c_str());
    std::printf("\n");
}

}  // namespace

int SendQueuedPosts(IMAPISession* session)
{
    CSpooler spooler(session);
    std::string error;
    if (const HRESULT hr = spooler.Start(&error); FAILED(hr)) {
        std::fprintf(stderr, "quillory post: the transports could not be started (%s)%s%s\n", HexResult(hr).c_str(),
                     error.empty() ? "" : ": ", error.c_str());
        return 1;
    }
    for (const auto& t : spooler.Transports())
        if (!t.logon)
            std::fprintf(stderr, "quillory post: %s did not log on (%s)%s%s\n", t.display.c_str(),
                         HexResult(t.logonResult).c_str(), t.logonError.empty() ? "" : ": ", t.logonError.c_str());
    spooler.SetProgressObserver(PrintOutbound);
    const ULONG reportsBefore = CountReports(session);
    SpoolerPassResult result;
    const HRESULT hr = spooler.RunPass(&result);
    spooler.Stop();
    const ULONG reports = CountReports(session);
    const ULONG newReports = reports > reportsBefore ? reports - reportsBefore : 0;
    for (const auto& problem : result.problems) std::printf("  problem: %s\n", problem.c_str());
    std::printf("Sent %u, deferred %u, undeliverable %u.\n", static_cast<unsigned>(result.sent),
                static_cast<unsigned>(result.deferred), static_cast<unsigned>(result.undeliverable));
    if (newReports > 0)
        std::printf("%u non-delivery report(s) in the Inbox say why a post was refused.\n",
                    static_cast<unsigned>(newReports));
    if (FAILED(hr)) {
        std::fprintf(stderr, "quillory post: the send failed (%s)\n", HexResult(hr).c_str());
        return 1;
    }
    return result.deferred == 0 && result.undeliverable == 0 && newReports == 0 ? 0 : 1;
}

}  // namespace quillory::host
