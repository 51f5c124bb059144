#include "host/post_send.h"

#include <cstdio>

#include "platform/mapi/spooler/spooler.h"

namespace quillory::host {

namespace {

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
    SpoolerPassResult result;
    const HRESULT hr = spooler.RunPass(&result);
    spooler.Stop();
    for (const auto& problem : result.problems) std::printf("  problem: %s\n", problem.c_str());
    std::printf("Sent %u, deferred %u, undeliverable %u.\n", static_cast<unsigned>(result.sent),
                static_cast<unsigned>(result.deferred), static_cast<unsigned>(result.undeliverable));
    if (FAILED(hr)) {
        std::fprintf(stderr, "quillory post: the send failed (%s)\n", HexResult(hr).c_str());
        return 1;
    }
    return result.deferred == 0 && result.undeliverable == 0 ? 0 : 1;
}

}  // namespace quillory::host
