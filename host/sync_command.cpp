// `quillory status` and `quillory sync`: the profile's transports logged on
// through the spooler, their rows of the status table, and one send and
// receive with each transport's row and last result afterwards.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "host/commands.h"
#include "host/header_flow.h"
#include "host/mapi_host.h"
#include "host/send_receive.h"
#include "platform/mapi/spooler/spooler.h"

namespace quillory::host {
namespace {

constexpr const char* kUsage = R"(usage:
  quillory status --profile P
  quillory sync --profile P [--headers-only | --process]

  status  logs the profile's transports on and prints the status table
  sync    runs one send and receive through the profile's transports and
          prints each transport's status and the result of its last operation
          --headers-only  asks the newsgroup transports to refresh their
                          header tables, as a mail client does, and lists the
                          rows as `quillory headers` does, without
                          downloading any article
          --process       asks them to process their header tables: the rows
                          marked for download are delivered, those marked for
                          removal dropped. Marks live while a transport is
                          logged on; `quillory mark` marks and processes in
                          one run
)";

int Usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

struct Bit {
    ULONG bit;
    const char* name;
};
constexpr Bit kStatusBits[] = {
    {STATUS_AVAILABLE, "available"},
    {STATUS_OFFLINE, "offline"},
    {STATUS_FAILURE, "failure"},
    {STATUS_INBOUND_ENABLED, "inbound-enabled"},
    {STATUS_INBOUND_ACTIVE, "inbound-active"},
    {STATUS_INBOUND_FLUSH, "inbound-flush"},
    {STATUS_OUTBOUND_ENABLED, "outbound-enabled"},
    {STATUS_OUTBOUND_ACTIVE, "outbound-active"},
    {STATUS_OUTBOUND_FLUSH, "outbound-flush"},
    {STATUS_REMOTE_ACCESS, "remote-access"},
};

std::string StatusCodeText(ULONG code)
{
    std::string text;
    ULONG known = 0;
    for (const auto& b : kStatusBits) {
        known |= b.bit;
        if (!(code & b.bit)) continue;
        if (!text.empty()) text += ",";
        text += b.name;
    }
    if (code & ~known) {
        char extra[16];
        std::snprintf(extra, sizeof extra, "0x%08X", static_cast<unsigned>(code & ~known));
        text += (text.empty() ? "" : ",") + std::string(extra);
    }
    return text.empty() ? "none" : text;
}

struct Named {
    HRESULT hr;
    const char* name;
};
constexpr Named kResults[] = {
    {S_OK, "S_OK"},
    {E_FAIL, "E_FAIL"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
    {MAPI_E_BUSY, "MAPI_E_BUSY"},
    {MAPI_E_NETWORK_ERROR, "MAPI_E_NETWORK_ERROR"},
    {MAPI_E_NOT_FOUND, "MAPI_E_NOT_FOUND"},
    {MAPI_E_NO_SUPPORT, "MAPI_E_NO_SUPPORT"},
    {MAPI_E_LOGON_FAILED, "MAPI_E_LOGON_FAILED"},
    {MAPI_E_USER_CANCEL, "MAPI_E_USER_CANCEL"},
    {MAPI_E_WAIT, "MAPI_E_WAIT"},
    {MAPI_E_NOT_ME, "MAPI_E_NOT_ME"},
};

std::string ResultText(HRESULT hr)
{
    for (const auto& r : kResults)
        if (r.hr == hr) return r.name;
    return HexResult(hr) + (FAILED(hr) ? " (failed)" : "");
}

ULONG LongIn(const std::vector<SPropValue>& row, std::size_t i)
{
    return PROP_TYPE(row[i].ulPropTag) == PT_LONG ? row[i].Value.ul : 0;
}

// Every row of the status table: kind, display name, code and text.
int PrintStatusTable(IMAPISession* session)
{
    ComPtr<IMAPITable> table;
    if (const HRESULT hr = session->GetStatusTable(0, &table); FAILED(hr))
        return ReportFailure("status", session, hr, "reading the status table");
    RowSetPtr keep;
    for (const auto& row :
         TableRows(table.Get(), {PR_RESOURCE_TYPE, PR_DISPLAY_NAME, PR_STATUS_CODE, PR_STATUS_STRING}, keep)) {
        const ULONG type = LongIn(row, 0);
        const char* kind = type == MAPI_TRANSPORT_PROVIDER ? "transport"
                           : type == MAPI_STORE_PROVIDER   ? "store"
                                                           : "other";
        std::printf("%-9s %s\n          status: %s\n          %s\n", kind, TextOf(row[1]).c_str(),
                    StatusCodeText(LongIn(row, 2)).c_str(), TextOf(row[3]).c_str());
    }
    return 0;
}

const char* PhaseText(SpoolerProgress::Phase phase)
{
    switch (phase) {
    case SpoolerProgress::Phase::Begin: return "send and receive started";
    case SpoolerProgress::Phase::Upload: return "sending";
    case SpoolerProgress::Phase::Submitted: return "sent";
    case SpoolerProgress::Phase::Deferred: return "deferred";
    case SpoolerProgress::Phase::Undeliverable: return "undeliverable";
    case SpoolerProgress::Phase::Download: return "receiving";
    case SpoolerProgress::Phase::Received: return "received";
    case SpoolerProgress::Phase::InboundCapped: return "stopped receiving";
    case SpoolerProgress::Phase::End: return "send and receive finished";
    }
    return "";
}

// On a terminal the running count of received messages is one line that
// keeps being rewritten; elsewhere (a log, a pipe) every step is a line.
class CProgressPrinter {
public:
    CProgressPrinter() : terminal_(isatty(STDOUT_FILENO) != 0) {}

    void operator()(const SpoolerProgress& p)
    {
        const bool counting = terminal_ && p.phase == SpoolerProgress::Phase::Received && SUCCEEDED(p.result);
        if (counting) std::printf("\r\x1b[K");
        else if (open_) std::printf("\n");
        std::printf("  %s%s%s", p.transport.empty() ? "" : p.transport.c_str(), p.transport.empty() ? "" : ": ",
                    PhaseText(p.phase));
        if (!p.subject.empty()) std::printf(" \"%s\"", p.subject.c_str());
        if (p.phase == SpoolerProgress::Phase::Received || p.phase == SpoolerProgress::Phase::InboundCapped)
            std::printf(" %u", static_cast<unsigned>(p.count));
        if (FAILED(p.result)) std::printf(" (%s)", ResultText(p.result).c_str());
        open_ = counting;
        if (!open_) std::printf("\n");
        std::fflush(stdout);
    }
    // Ends a counting line still open.
    void Finish()
    {
        if (open_) std::printf("\n");
        open_ = false;
    }

private:
    bool terminal_;
    bool open_ = false;
};

// A transport's row (display name, code, text) and the result its status
// object collects: after a pass the transport has a finished operation whose
// result it hands out once.
void PrintTransport(CSpooler& spooler, std::size_t index)
{
    const SpoolerTransport& t = spooler.Transports()[index];
    ComPtr<IMAPIStatus> status;
    std::string display = t.display, text;
    ULONG code = 0;
    if (t.logon && SUCCEEDED(spooler.OpenStatus(index, status))) {
        auto tags = MakeTagArray({PR_DISPLAY_NAME, PR_STATUS_CODE, PR_STATUS_STRING});
        ULONG count = 0;
        MapiBuffer<SPropValue> v;
        if (SUCCEEDED(status->GetProps(tags.Get(), 0, &count, &v)) && count == 3) {
            if (!TextOf(v.Get()[0]).empty()) display = TextOf(v.Get()[0]);
            code = PROP_TYPE(v.Get()[1].ulPropTag) == PT_LONG ? v.Get()[1].Value.ul : 0;
            text = TextOf(v.Get()[2]);
        }
    }
    if (text.empty()) {
        code = t.support ? t.support->StatusCode() : 0;
        text = t.support ? t.support->StatusText() : t.logonError;
    }
    std::printf("%s\n  status: %s\n", display.c_str(), StatusCodeText(code).c_str());
    if (!text.empty()) std::printf("  %s\n", text.c_str());
    if (!t.logon) {
        std::printf("  last result: %s (the transport did not log on)\n", ResultText(t.logonResult).c_str());
    } else if (!status) {
        std::printf("  last result: unknown (the transport has no status object)\n");
    } else {
        const HRESULT last = status->ValidateState(0, PROCESS_XP_HEADER_CACHE);
        if (last == MAPI_E_BUSY)
            std::printf("  last result: none yet (an operation is still running)\n");
        else
            std::printf("  last result: %s\n", ResultText(last).c_str());
    }
}

enum class SyncMode { Full, HeadersOnly, Process };

// The remote-header request of --headers-only or --process, through the
// same flow as `quillory headers` and `mark`; 1 when something failed.
int RunHeaderMode(CSpooler& spooler, SyncMode mode)
{
    CHeaderFlow flow(spooler);
    if (flow.Empty()) {
        std::printf("No transport of the profile offers a header table.\n");
        return 0;
    }
    const bool refresh = mode == SyncMode::HeadersOnly;
    SpoolerPassResult pass;
    const int status = RunHeaderRequest(flow, "sync", refresh ? REFRESH_XP_HEADER_CACHE : PROCESS_XP_HEADER_CACHE, &pass);
    if (!refresh) std::printf("Received %u.\n", static_cast<unsigned>(pass.received));
    return PrintHeaderRows(flow, "sync") | status;
}

}  // namespace

int RunSendAndReceive(IMAPISession* session, const char* command)
{
    CSpooler spooler(session);
    std::string error;
    if (const HRESULT hr = spooler.Start(&error); FAILED(hr)) {
        std::fprintf(stderr, "quillory %s: the transports could not be started (%s)%s%s\n", command,
                     HexResult(hr).c_str(), error.empty() ? "" : ": ", error.c_str());
        return 1;
    }
    int status = 0;
    if (spooler.Transports().empty()) std::printf("The profile has no transports.\n");
    CProgressPrinter progress;
    spooler.SetProgressObserver([&progress](const SpoolerProgress& p) { progress(p); });
    SpoolerPassResult result;
    const HRESULT passResult = spooler.RunPass(&result);
    progress.Finish();
    if (FAILED(passResult)) {
        std::fprintf(stderr, "quillory %s: the pass failed (%s)\n", command, HexResult(passResult).c_str());
        status = 1;
    }
    for (const auto& problem : result.problems) std::printf("  problem: %s\n", problem.c_str());
    // A pass that could not do its work is no success.
    if (!result.problems.empty()) status = 1;
    std::printf("Sent %u, deferred %u, undeliverable %u, received %u.\n", static_cast<unsigned>(result.sent),
                static_cast<unsigned>(result.deferred), static_cast<unsigned>(result.undeliverable),
                static_cast<unsigned>(result.received));
    for (std::size_t i = 0; i < spooler.Transports().size(); ++i) PrintTransport(spooler, i);
    spooler.Stop();
    return status;
}

int RunStatusOrSync(const char* command, Args args)
{
    const bool sync = std::string_view(command) == "sync";
    SyncMode mode = SyncMode::Full;
    std::string profile;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--profile" && i + 1 < args.size() && profile.empty())
            profile = std::string(args[++i]);
        else if (sync && mode == SyncMode::Full && args[i] == "--headers-only")
            mode = SyncMode::HeadersOnly;
        else if (sync && mode == SyncMode::Full && args[i] == "--process")
            mode = SyncMode::Process;
        else
            return Usage();
    }
    if (profile.empty()) return Usage();
    MapiSession mapi;
    if (FAILED(mapi.Result())) return ReportFailure<IMAPISession>(command, nullptr, mapi.Result(), "starting MAPI");
    ComPtr<IMAPISession> session;
    if (const HRESULT hr =
            MAPILogonEx(0, profile.data(), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL, &session);
        FAILED(hr))
        return ReportFailure<IMAPISession>(command, nullptr, hr, "logging on to the profile '" + profile + "'");
    int status = 0;
    if (sync && mode == SyncMode::Full) {
        status = RunSendAndReceive(session.Get(), command);
    } else {
        CSpooler spooler(session.Get());
        std::string error;
        if (const HRESULT hr = spooler.Start(&error); FAILED(hr)) {
            session->Logoff(0, 0, 0);
            std::fprintf(stderr, "quillory %s: the transports could not be started (%s)%s%s\n", command,
                         HexResult(hr).c_str(), error.empty() ? "" : ": ", error.c_str());
            return 1;
        }
        status = sync ? RunHeaderMode(spooler, mode) : PrintStatusTable(session.Get());
        spooler.Stop();
    }
    session->Logoff(0, 0, 0);
    return status;
}

int RunStatusCommand(Args args) { return RunStatusOrSync("status", args); }
int RunSyncCommand(Args args) { return RunStatusOrSync("sync", args); }

}  // namespace quillory::host
