// A header refresh of one large group through the provider: the downloader's
// header job (GROUP, OVER through the news component, a header row per
// overview line into the remote-header table, the known-articles cache)
// against a plain blocking socket doing GROUP and OVER of the same range.
// Prints rows per second, the client's CPU time per row, the ratio of the two
// times (target: 2.0 or less) and the peak memory of the process.
//
// By default the server is a scripted one (over_server.h) that answers from
// 100,000 overview records made in memory, so that the client's own cost is
// what shows; with --inn it is the local news server and its benchmark group
// (scripts/inn-setup.sh, then scripts/inn-bench-seed.py once), whose own
// time hides much of the client's. Build in Release (see README,
// Benchmarks), then:
//   build-rel/bin/header_refresh_bench [rounds] [--inn]
// nntp_over_bench gives the news component's own OVER time for the same
// range, the other ratio worth reading next to this one.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <fstream>
#include <string>
#include <vector>

#include "common/account_props.h"
#include "common/regstore.h"
#include "platform/base/window.h"
#include "platform/com/refcounted.h"
#include "common/bench/loopback.h"
#include "provider/downloader/bench/over_server.h"
#include "provider/downloader/folder_owner.h"
#include "provider/downloader/nntp_downloader.h"
#include "provider/folder/mapi_folder.h"

namespace {

using namespace quillory;
using namespace quillory::quarnex;
using Clock = std::chrono::steady_clock;

constexpr char kGroup[] = "quillory.bench.over";
constexpr char kListFile[] = "groups-bench.txt";
constexpr unsigned short kInnPort = 119;
constexpr unsigned kScriptedRecords = 100000;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// User and system time of the whole process so far.
double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

double PeakMegabytes()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024.0;
}

// GROUP and OVER of the whole group on a plain socket; the overview lines read.
std::size_t PlainOver(unsigned short port, double& seconds)
{
    const int fd = quillory::bench::ConnectLoopback(port);
    if (fd < 0) {
        std::perror("connect");
        std::exit(1);
    }
    quillory::bench::CSocketLines io(fd);
    quillory::bench::StartNewsReading(io);
    std::string line;
    const auto start = Clock::now();
    io.Send(std::string("GROUP ") + kGroup + "\r\n");
    io.Next(line);
    unsigned long count = 0, first = 0, last = 0;
    std::sscanf(line.c_str(), "211 %lu %lu %lu", &count, &first, &last);
    io.Send("OVER " + std::to_string(first) + "-" + std::to_string(last) + "\r\n");
    io.Next(line);
    std::size_t lines = 0;
    while (io.Next(line) && line != ".\r" && line != ".") ++lines;
    seconds = Seconds(start);
    io.Send("QUIT\r\n");
    close(fd);
    return lines;
}

class CBenchLogon final : public IFolderLogon {
public:
    explicit CBenchLogon(std::string path) : path_(std::move(path)) {}
    IMsgStore* FolderMessageStore() override { return nullptr; }
    bool DownloadRequested() override { return false; }
    std::string KnownArticlesPath() override { return path_; }

private:
    std::string path_;
};

class COwner final : public CFolderOwner {
public:
    explicit COwner(CMAPIFolder* folder) : folder_(folder) {}
    CMAPIFolder* HeaderFolder() override { return folder_; }

private:
    CMAPIFolder* folder_;
};

// One refresh into a new header folder with an empty cache; the rows made.
ULONG ProviderRefresh(const std::filesystem::path& dataDir, std::vector<SPropValue>& account, double& seconds)
{
    const std::string cachePath = (dataDir / "groups-bench-del.txt").string();
    std::filesystem::remove(cachePath);
    CBenchLogon logon(cachePath);
    ComPtr<CMAPIFolder> folder = ComPtr<CMAPIFolder>::Attach(NewComObject<CMAPIFolder>());
    if (FAILED(folder->Attach(nullptr, &logon))) std::exit(1);
    COwner owner(folder.Get());
    CNNTPDownloader downloader;
    if (FAILED(downloader.CreateTransport())) {
        std::fprintf(stderr, "the news component did not load (QUILLORY_LIBPATH?)\n");
        std::exit(1);
    }
    const auto start = Clock::now();
    if (FAILED(downloader.RefreshHeaders(&owner, account, 0))) std::exit(1);
    while (!downloader.IsFinished()) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 750, QS_ALLINPUT) != WAIT_OBJECT_0) continue;
        MSG msg;
        while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessage(&msg);
        }
    }
    seconds = Seconds(start);
    HRESULT code = S_OK;
    std::string text;
    if (downloader.GetError(code, &text)) std::fprintf(stderr, "refresh failed: %08x %s\n", unsigned(code), text.c_str());
    return folder->RowCount();
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = 3;
    bool inn = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--inn")
            inn = true;
        else
            rounds = std::max(1, std::atoi(argv[i]));
    }
    const auto root = std::filesystem::temp_directory_path() / ("quillory-refresh-bench-" + std::to_string(getpid()));
    const auto dataDir = root / "data";
    std::filesystem::create_directories(dataDir);
    setenv("QUILLORY_HOME", root.c_str(), 1);
    if (!std::getenv("QUILLORY_LIBPATH")) {
        const auto lib = std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "lib";
        setenv("QUILLORY_LIBPATH", lib.c_str(), 1);
    }
    std::unique_ptr<quillory::bench::COverServer> scripted;
    unsigned short port = kInnPort;
    if (!inn) {
        scripted = std::make_unique<quillory::bench::COverServer>(kGroup, kScriptedRecords);
        port = scripted->Port();
        if (port == 0) {
            std::fprintf(stderr, "the scripted server did not start\n");
            return 1;
        }
    }
    const std::string portText = std::to_string(port);
    WriteRegString(kMainKey, kValDir, dataDir.string() + "/");
    std::ofstream(dataDir / "groups-bench-sub.txt") << "# Subscribed groups\r\n" << kGroup << "\r\n";

    std::vector<SPropValue> account(acct::kCount);
    for (int i = 0; i < acct::kCount; ++i) {
        account[i].ulPropTag = CHANGE_PROP_TYPE(acct::kTags[i], PT_ERROR);
        account[i].Value.err = MAPI_E_NOT_FOUND;
    }
    auto text = [&](acct::Index i, const char* s) {
        account[i].ulPropTag = acct::kTags[i];
        account[i].Value.lpszA = const_cast<LPSTR>(s);
    };
    text(acct::kAccountName, "Bench");
    text(acct::kServer, "127.0.0.1");
    text(acct::kGroupListFile, kListFile);
    account[acct::kPort].ulPropTag = acct::kTags[acct::kPort];
    account[acct::kPort].Value.l = port;
    account[acct::kTimeout].ulPropTag = acct::kTags[acct::kTimeout];
    account[acct::kTimeout].Value.l = 60;

    std::printf("server: %s\n", inn ? "the local news server" : "scripted, answering from memory");
    double bestPlain = 1e9, bestRefresh = 1e9, bestCpu = 1e9;
    std::size_t lines = 0;
    ULONG rows = 0;
    for (int r = 0; r < rounds; ++r) {
        double plain = 0, refresh = 0;
        lines = PlainOver(port, plain);
        const double cpuBefore = CpuSeconds();
        rows = ProviderRefresh(dataDir, account, refresh);
        const double cpu = CpuSeconds() - cpuBefore;
        std::printf("round %d: plain OVER %zu lines in %.3f s; provider refresh %lu rows in %.3f s, %.3f s CPU "
                    "(%.1f us a row)\n",
                    r + 1, lines, plain, static_cast<unsigned long>(rows), refresh, cpu, rows ? cpu / rows * 1e6 : 0.0);
        bestPlain = std::min(bestPlain, plain);
        bestRefresh = std::min(bestRefresh, refresh);
        bestCpu = std::min(bestCpu, cpu);
    }
    std::printf("best: plain OVER %.3f s (%.0f lines/s), provider refresh %.3f s (%.0f rows/s), ratio %.2f "
                "(target 2.0 or less)\n"
                "client CPU %.1f us a row (target 5 or less); peak memory %.0f MB (target 80 or less)\n",
                bestPlain, lines / bestPlain, bestRefresh, rows / bestRefresh, bestRefresh / bestPlain,
                rows ? bestCpu / rows * 1e6 : 0.0, PeakMegabytes());
    std::filesystem::remove_all(root);
    return rows == lines ? 0 : 1;
}
