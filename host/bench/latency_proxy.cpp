#include "host/bench/latency_proxy.h"

#include "common/bench/loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <list>
#include <string>
#include <vector>

namespace quillory::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kStopCheckMs = 100;
constexpr std::size_t kReadChunk = 64 * 1024;

void NonBlocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // the accepted side
}

// Bytes on their way from one socket to the other.
struct Direction {
    int from = -1;
    int to = -1;
    struct Piece {
        Clock::time_point due;
        std::string bytes;
        std::size_t sent = 0;
    };
    std::deque<Piece> queue;
    bool readEnded = false;
    bool shutDown = false;

    bool Due(Clock::time_point now) const { return !queue.empty() && queue.front().due <= now; }
    bool Finished() const { return shutDown; }
};

struct Pair {
    Direction up;    // client to server
    Direction down;  // server to client
    bool broken = false;
};

void ReadInto(Direction& d, Pair& p, Clock::time_point due)
{
    char chunk[kReadChunk];
    const ssize_t n = read(d.from, chunk, sizeof chunk);
    if (n > 0) {
        d.queue.push_back({due, std::string(chunk, static_cast<std::size_t>(n)), 0});
    } else if (n == 0) {
        d.readEnded = true;
    } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
        p.broken = true;
    }
}

void WriteDue(Direction& d, Pair& p, Clock::time_point now)
{
    while (d.Due(now)) {
        auto& piece = d.queue.front();
        const ssize_t n = write(d.to, piece.bytes.data() + piece.sent, piece.bytes.size() - piece.sent);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) p.broken = true;
            return;
        }
        piece.sent += static_cast<std::size_t>(n);
        if (piece.sent < piece.bytes.size()) return;
        d.queue.pop_front();
    }
    if (d.readEnded && d.queue.empty() && !d.shutDown) {
        shutdown(d.to, SHUT_WR);
        d.shutDown = true;
    }
}

}  // namespace

CLatencyProxy::CLatencyProxy(unsigned short targetPort, std::chrono::milliseconds oneWay)
    : targetPort_(targetPort), oneWay_(oneWay)
{
    listener_ = ListenOnLoopback(port_);
    if (listener_ < 0) return;
    thread_ = std::thread([this] { Run(); });
}

CLatencyProxy::~CLatencyProxy()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) close(listener_);
}

void CLatencyProxy::Run()
{
    std::list<Pair> pairs;
    while (!stop_) {
        const auto now = Clock::now();
        int timeout = kStopCheckMs;
        std::vector<pollfd> fds{{listener_, POLLIN, 0}};
        std::vector<std::pair<Pair*, Direction*>> owners{{nullptr, nullptr}};
        for (Pair& p : pairs) {
            for (Direction* d : {&p.up, &p.down}) {
                short events = d->readEnded ? 0 : POLLIN;
                if (d->Due(now)) events |= POLLOUT;
                if (!d->queue.empty()) {
                    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(d->queue.front().due - now);
                    timeout = std::clamp(static_cast<int>(wait.count()) + 1, 0, timeout);
                }
                // POLLOUT is asked on the destination socket, POLLIN on the source.
                fds.push_back({d->from, static_cast<short>(events & POLLIN), 0});
                owners.emplace_back(&p, d);
                fds.push_back({d->to, static_cast<short>(events & POLLOUT), 0});
                owners.emplace_back(&p, d);
            }
        }
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
        const auto after = Clock::now();
        if (fds[0].revents & POLLIN) {
            const int client = accept(listener_, nullptr, nullptr);
            const int server = client >= 0 ? ConnectLoopback(targetPort_) : -1;
            if (server < 0) {
                if (client >= 0) close(client);
            } else {
                NonBlocking(client);
                NonBlocking(server);
                Pair& p = pairs.emplace_back();
                p.up.from = p.down.to = client;
                p.up.to = p.down.from = server;
            }
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            auto [p, d] = owners[i];
            if (fds[i].fd == d->from && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                ReadInto(*d, *p, after + oneWay_);
        }
        for (Pair& p : pairs)
            for (Direction* d : {&p.up, &p.down}) WriteDue(*d, p, after);
        pairs.remove_if([](Pair& p) {
            if (!p.broken && !(p.up.Finished() && p.down.Finished())) return false;
            close(p.up.from);
            close(p.up.to);
            return true;
        });
    }
    for (Pair& p : pairs) {
        close(p.up.from);
        close(p.up.to);
    }
}

}  // namespace quillory::bench
