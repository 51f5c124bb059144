// A loopback TCP proxy that adds a fixed delay to every byte in each
// direction, as a long network path would, without limiting throughput:
// bytes read at time t leave at t + delay, however many are on their way.
// One thread; the benchmarks put a news server "far away" with it.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

namespace quillory::bench {

class CLatencyProxy {
public:
    // Forwards connections to 127.0.0.1:targetPort; each direction is
    // delayed by oneWay (a round trip costs twice that).
    CLatencyProxy(unsigned short targetPort, std::chrono::milliseconds oneWay);
    ~CLatencyProxy();
    CLatencyProxy(const CLatencyProxy&) = delete;
    CLatencyProxy& operator=(const CLatencyProxy&) = delete;

    // The loopback port clients connect to; 0 when the proxy could not start.
    unsigned short Port() const { return port_; }

private:
    void Run();

    unsigned short targetPort_;
    std::chrono::milliseconds oneWay_;
    int listener_ = -1;
    unsigned short port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace quillory::bench
