// OVER of a large group from the local INN: the transport (I/O thread,
// parsing, parts delivered through the owner thread's message loop) against a
// plain blocking socket reader doing the same commands in the same run.
// Prints both times and their ratio (the goal is 1.5 or less).
//
// Needs the local news server (scripts/inn-setup.sh) and its benchmark group,
// seeded with scripts/inn-bench-seed.py (100,000 articles by default).
// Usage: nntp_over_bench [rounds]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/base/window.h"
#include "platform/inetcomm/nntp/nntp_transport.h"

namespace {

constexpr char kGroup[] = "quillory.bench.over";
constexpr unsigned short kPort = 119;

using Clock = std::chrono::steady_clock;

// ---- the plain reader -----------------------------------------------------------------

class CBlockingReader {
public:
    CBlockingReader()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(kPort);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            std::perror("connect");
            std::exit(1);
        }
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~CBlockingReader() { close(fd_); }

    std::string Line()
    {
        while (true) {
            const std::size_t nl = buffer_.find('\n', pos_);
            if (nl != std::string::npos) {
                std::string line = buffer_.substr(pos_, nl - pos_);
                pos_ = nl + 1;
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
            Fill();
        }
    }
    void Send(const std::string& text) { (void)!write(fd_, text.data(), text.size()); }

    // Reads a multi-line block, counting its lines.
    std::size_t Block()
    {
        std::size_t lines = 0;
        while (true) {
            const std::size_t nl = buffer_.find('\n', pos_);
            if (nl == std::string::npos) {
                Fill();
                continue;
            }
            const bool end = nl - pos_ >= 1 && buffer_[pos_] == '.' && (nl - pos_ == 1 || buffer_[pos_ + 1] == '\r');
            pos_ = nl + 1;
            if (end) return lines;
            ++lines;
        }
    }

private:
    void Fill()
    {
        if (pos_ > 0) {
            buffer_.erase(0, pos_);
            pos_ = 0;
        }
        char chunk[256 * 1024];
        const ssize_t n = read(fd_, chunk, sizeof chunk);
        if (n <= 0) {
            std::fprintf(stderr, "connection closed\n");
            std::exit(1);
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }

    int fd_;
    std::string buffer_;
    std::size_t pos_ = 0;
};

std::size_t PlainOver()
{
    CBlockingReader r;
    r.Line();
    r.Send("MODE READER\r\n");
    r.Line();
    r.Send(std::string("GROUP ") + kGroup + "\r\n");
    const std::string group = r.Line();
    unsigned long count = 0, first = 0, last = 0;
    if (std::sscanf(group.c_str(), "211 %lu %lu %lu", &count, &first, &last) != 3) {
        std::fprintf(stderr, "GROUP failed: %s\n", group.c_str());
        std::exit(1);
    }
    r.Send("OVER " + std::to_string(first) + "-" + std::to_string(last) + "\r\n");
    const std::string status = r.Line();
    const std::size_t lines = status.rfind("224", 0) == 0 ? r.Block() : 0;
    r.Send("QUIT\r\n");
    return lines;
}

// ---- the transport ----------------------------------------------------------------------

class CBenchCallback final : public INNTPCallback {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT OnTimeout(DWORD*, IInternetTransport*) override { return S_FALSE; }
    HRESULT OnLogonPrompt(LPINETSERVER, IInternetTransport*) override { return S_FALSE; }
    INT OnPrompt(HRESULT, LPCSTR, LPCSTR, UINT, IInternetTransport*) override { return 0; }
    HRESULT OnStatus(IXPSTATUS, IInternetTransport*) override { return S_OK; }
    HRESULT OnError(IXPSTATUS, LPIXPRESULT r, IInternetTransport*) override
    {
        std::fprintf(stderr, "error %08x %s\n", static_cast<unsigned>(r->hrResult),
                     r->pszProblem ? r->pszProblem : "");
        failed = true;
        return S_OK;
    }
    HRESULT OnCommand(CMDTYPE, LPSTR, HRESULT, IInternetTransport*) override { return S_OK; }
    HRESULT OnResponse(LPNNTPRESPONSE r) override
    {
        if (r->state == NS_GROUP && r->fDone) {
            first = r->rGroup.dwFirst;
            last = r->rGroup.dwLast;
            groupDone = true;
        } else if (r->state == NS_HEADERS) {
            headers += r->rHeaders.cHeaders;
            for (DWORD i = 0; i < r->rHeaders.cHeaders; ++i)
                benchmark::DoNotOptimize(r->rHeaders.rgHeaders[i].pszSubject[0]);
            if (r->fDone) headersDone = true;
        } else if (r->state == NS_CONNECT) {
            connected = true;
        }
        if (r->rIxpResult.hrResult != S_OK) failed = true;
        if (r->fMustRelease) r->pTransport->ReleaseResponse(r);
        return S_OK;
    }

    bool connected = false, groupDone = false, headersDone = false, failed = false;
    DWORD first = 0, last = 0;
    std::size_t headers = 0;
};

template <class F>
void Pump(F done)
{
    while (!done()) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT) == WAIT_OBJECT_0) {
            MSG msg;
            while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
        }
    }
}

std::size_t TransportOver()
{
    CBenchCallback cb;
    INNTPTransport* t = nullptr;
    CreateNNTPTransport(&t);
    t->InitNew(nullptr, &cb);
    INETSERVER server{};
    std::strcpy(server.szServerName, "127.0.0.1");
    server.dwPort = kPort;
    server.dwTimeout = 60;
    t->Connect(&server, TRUE, FALSE);
    Pump([&] { return cb.connected || cb.failed; });
    t->CommandGROUP(const_cast<char*>(kGroup));
    Pump([&] { return cb.groupDone || cb.failed; });
    RANGE range{RT_RANGE, cb.first, cb.last};
    t->GetHeaders(&range);
    Pump([&] { return cb.headersDone || cb.failed; });
    t->Disconnect();
    Pump([&] { return t->IsState(IXP_IS_CONNECTED) == S_FALSE; });
    t->Release();
    if (cb.failed) std::exit(1);
    return cb.headers;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    double bestPlain = 1e9, bestTransport = 1e9;
    std::size_t plainLines = 0, transportHeaders = 0;
    // Interleaved rounds, best of each, so both see the same server state.
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        plainLines = PlainOver();
        bestPlain = std::min(bestPlain, Seconds(Clock::now() - start));
        start = Clock::now();
        transportHeaders = TransportOver();
        bestTransport = std::min(bestTransport, Seconds(Clock::now() - start));
    }
    std::printf("plain blocking reader: %zu overview lines in %.3f s\n", plainLines, bestPlain);
    std::printf("transport:             %zu headers in %.3f s\n", transportHeaders, bestTransport);
    std::printf("ratio transport/plain: %.2f (goal: 1.5 or less)\n", bestTransport / bestPlain);
    return transportHeaders == plainLines ? 0 : 1;
}
