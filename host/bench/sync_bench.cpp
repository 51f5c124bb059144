// One send and receive from a fresh environment root that fetches the newest
// ARTICLES articles (the default limit, 300) of the benchmark group through
// the `quillory` program: header refresh, download and filing into the
// store. Timed directly against the local news server and again through a
// loopback proxy that adds LATENCY milliseconds to every round trip, each
// next to a plain client that sends GROUP and all the ARTICLE commands at
// once (RFC 3977, 3.5) and reads the answers: the floor for the same bytes.
//
// Needs the local news server (scripts/inn-setup.sh) and the benchmark group
// (python3 scripts/inn-bench-seed.py). Build in Release, then:
//   build-rel/bin/sync_bench [ARTICLES] [LATENCY]
// Prints wall and CPU time (user + system of the quillory process) of the
// send and receive, what it received and the ratios to the plain client.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/bench/loopback.h"
#include "host/bench/latency_proxy.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kGroup[] = "quillory.bench.over";
constexpr unsigned short kInnPort = 119;
constexpr char kProfile[] = "Bench";
constexpr char kAccount[] = "Bench news";

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

struct RunResult {
    int status = -1;
    double wall = 0;
    double cpu = 0;
    std::string output;
};

// Runs the program with the arguments, its output captured.
RunResult Run(const fs::path& program, const std::vector<std::string>& args)
{
    char outPath[] = "/tmp/quillory-sync-bench-XXXXXX";
    const int out = mkstemp(outPath);
    RunResult r;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out, 1);
        dup2(out, 2);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    r.wall = Seconds(start);
    r.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(outPath);
    std::stringstream text;
    text << in.rdbuf();
    r.output = text.str();
    close(out);
    unlink(outPath);
    return r;
}

RunResult MustRun(const fs::path& program, const std::vector<std::string>& args)
{
    RunResult r = Run(program, args);
    if (r.status != 0) {
        std::fprintf(stderr, "quillory %s failed (%d):\n%s", args.empty() ? "" : args[0].c_str(), r.status,
                     r.output.c_str());
        std::exit(1);
    }
    return r;
}

// The group's last article number, or 0.
unsigned long GroupLast(unsigned short port)
{
    const int fd = quillory::bench::ConnectLoopback(port);
    if (fd < 0) return 0;
    quillory::bench::CSocketLines io(fd);
    quillory::bench::StartNewsReading(io);
    std::string line;
    io.Send(std::string("GROUP ") + kGroup + "\r\n");
    io.Next(line);
    unsigned long count = 0, first = 0, last = 0;
    if (std::sscanf(line.c_str(), "211 %lu %lu %lu", &count, &first, &last) != 3) last = 0;
    io.Send("QUIT\r\n");
    close(fd);
    return last;
}

// GROUP and the newest `articles` ARTICLE commands sent at once; the
// answers read through. The articles read, and the time.
unsigned PlainPipelined(unsigned short port, unsigned articles, unsigned long last, double& seconds)
{
    const int fd = quillory::bench::ConnectLoopback(port);
    quillory::bench::CSocketLines io(fd);
    quillory::bench::StartNewsReading(io);
    std::string line;
    const auto start = Clock::now();
    std::string commands = std::string("GROUP ") + kGroup + "\r\n";
    for (unsigned long n = last - articles + 1; n <= last; ++n) commands += "ARTICLE " + std::to_string(n) + "\r\n";
    io.Send(commands);
    io.Next(line);
    unsigned got = 0;
    for (unsigned i = 0; i < articles && io.Next(line); ++i) {
        if (line.rfind("220", 0) != 0) continue;
        while (io.Next(line) && line != ".\r" && line != ".") {
        }
        ++got;
    }
    seconds = Seconds(start);
    io.Send("QUIT\r\n");
    close(fd);
    return got;
}

// A fresh root with a profile whose account reads the benchmark group from
// the port; the send and receive timed.
RunResult SendAndReceive(const fs::path& quillory, unsigned short port, unsigned articles)
{
    const fs::path root = fs::temp_directory_path() / ("quillory-sync-bench-" + std::to_string(getpid()) + "-" +
                                                      std::to_string(port));
    fs::remove_all(root);
    fs::create_directories(root / "data");
    setenv("QUILLORY_HOME", root.c_str(), 1);
    const std::string mainKey = "HKCU\\Software\\Tarnel Ltd\\Corvane";
    MustRun(quillory, {"setup", "install"});
    MustRun(quillory, {"reg", "add", mainKey, "/v", "DIR", "/t", "REG_SZ", "/d", (root / "data").string() + "/", "/f"});
    MustRun(quillory, {"reg", "add", mainKey + "\\Profiles\\" + kProfile, "/v", "LastMessagesCount", "/t",
                       "REG_DWORD", "/d", std::to_string(articles), "/f"});
    MustRun(quillory, {"profile", "create", kProfile});
    MustRun(quillory, {"account", "add", "--profile", kProfile, "--server", "127.0.0.1", "--port",
                       std::to_string(port), "--name", "Bench", "--email", "bench@news.test", "--account", kAccount});
    // The account's group list: only the benchmark group, subscribed.
    for (const auto& entry : fs::directory_iterator(root / "data")) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("groups-", 0) == 0 && name.size() > 4 && name.find("-sub") == std::string::npos &&
            name.find("-del") == std::string::npos)
            std::ofstream(entry.path(), std::ios::binary) << "   " << kGroup << " benchmark\r\n";
    }
    MustRun(quillory, {"subscribe", "--profile", kProfile, "--account", kAccount, kGroup});
    RunResult r = MustRun(quillory, {"sync", "--profile", kProfile});
    fs::remove_all(root);
    return r;
}

std::string ReceivedLine(const std::string& output)
{
    const auto at = output.find("Sent ");
    if (at == std::string::npos) return "(no summary)";
    return output.substr(at, output.find('\n', at) - at);
}

}  // namespace

int main(int argc, char** argv)
{
    const unsigned articles = argc > 1 ? static_cast<unsigned>(std::max(1, std::atoi(argv[1]))) : 300;
    const int latencyMs = argc > 2 ? std::max(0, std::atoi(argv[2])) : 20;
    const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
    const fs::path quillory = bin / "quillory";
    if (!std::getenv("QUILLORY_LIBPATH")) setenv("QUILLORY_LIBPATH", (bin.parent_path() / "lib").c_str(), 1);

    const unsigned long last = GroupLast(kInnPort);
    if (last < articles) {
        std::fprintf(stderr, "the news server has no benchmark group %s of %u articles: run scripts/inn-setup.sh "
                             "and python3 scripts/inn-bench-seed.py\n", kGroup, articles);
        return 1;
    }
    quillory::bench::CLatencyProxy proxy(kInnPort, std::chrono::milliseconds(latencyMs / 2));
    if (proxy.Port() == 0) {
        std::fprintf(stderr, "the latency proxy did not start\n");
        return 1;
    }
    struct Variant {
        const char* name;
        unsigned short port;
    };
    const std::string far = "through " + std::to_string(latencyMs) + " ms round trips";
    const Variant variants[] = {{"local news server", kInnPort}, {far.c_str(), proxy.Port()}};
    for (const Variant& v : variants) {
        double plain = 0;
        const unsigned got = PlainPipelined(v.port, articles, last, plain);
        const RunResult sync = SendAndReceive(quillory, v.port, articles);
        std::printf("%s: send and receive of %u articles %.3f s wall, %.3f s CPU; %s\n"
                    "  plain pipelined client: %u articles in %.3f s; ratio %.1f (wall), %.1f (CPU)\n",
                    v.name, articles, sync.wall, sync.cpu, ReceivedLine(sync.output).c_str(), got, plain,
                    sync.wall / plain, sync.cpu / plain);
    }
    std::printf("target: the send and receive of 300 articles from the local news server in 0.5 s or less\n");
    return 0;
}
