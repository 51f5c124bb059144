// One connection to a news server on the transport's I/O thread: name
// lookup, TCP, implicit TLS with certificate and host-name checks, reading
// and writing, the silence time-out, and the command log. The protocol itself
// is the engine's; every method here runs on the I/O thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <asio.hpp>
#include <asio/ssl.hpp>

#include "platform/inetcomm/nntp/nntp_engine.h"

namespace quillory::nntp {

// The command log file: one line per command sent and status line received,
// with the time. Shared by the transport's connections, one after another.
class CCommandLog {
public:
    explicit CCommandLog(const std::string& path);
    bool IsOpen() const { return out_.is_open(); }
    void Write(bool outgoing, std::string_view line);
    void Note(std::string_view text);

private:
    std::mutex mutex_;
    std::ofstream out_;
};

// Default time-out when the server record gives none (seconds).
constexpr DWORD kDefaultTimeoutSeconds = 60;
constexpr DWORD kDefaultPort = 119;
constexpr DWORD kDefaultSslPort = 563;

class CNntpConnection final : public std::enable_shared_from_this<CNntpConnection>, private IEngineHost {
public:
    using EventSink = std::function<void(NntpEvent)>;
    // Whether the owner thread has so many undelivered events that reading
    // should pause until it catches up.
    using BacklogCheck = std::function<bool()>;
    // Told when the connection failed with several commands on their way.
    using PipelineFailure = std::function<void()>;

    CNntpConnection(asio::io_context& io, const INETSERVER& server, bool authenticate, bool commandLogging,
                    std::shared_ptr<CCommandLog> log, EventSink sink, BacklogCheck backlogged,
                    bool pipelining = true, PipelineFailure pipelineFailed = {});
    ~CNntpConnection();

    void Start();
    void Enqueue(std::unique_ptr<CNntpCommand> command);
    void Quit();
    // Closes without reporting anything further.
    void Drop();
    void OnTimeoutAnswer(HRESULT hr, DWORD seconds);
    void OnLogonAnswer(HRESULT hr, const INETSERVER& edited);
    void ResumeReading();

private:
    // IEngineHost
    void Send(std::string bytes) override;
    void Emit(NntpEvent event) override;
    void Close() override;
    void Log(bool outgoing, std::string_view line) override;
    void PipelineFailed() override;

    void OnResolved(const asio::error_code& ec, asio::ip::tcp::resolver::results_type results);
    void OnConnected(const asio::error_code& ec);
    void OnHandshake(const asio::error_code& ec);
    void ReadMore();
    void OnRead(const asio::error_code& ec, std::size_t n);
    void WriteMore();
    void UpdateTimer(bool restart);
    void OnTimer(const asio::error_code& ec, std::uint64_t generation);
    std::string TlsFailureReason(const asio::error_code& ec);

    INETSERVER server_;
    bool ssl_;
    std::shared_ptr<CCommandLog> log_;
    EventSink sink_;
    BacklogCheck backlogged_;
    PipelineFailure pipelineFailed_;

    asio::ssl::context tls_;
    asio::ip::tcp::resolver resolver_;
    asio::ssl::stream<asio::ip::tcp::socket> stream_;
    asio::steady_timer timer_;
    CNntpEngine engine_;

    std::unique_ptr<char[]> readBuffer_;
    bool reading_ = false;
    bool readPaused_ = false;
    bool transportUp_ = false;
    std::string outbox_;
    std::string writing_;
    bool writeActive_ = false;
    bool closed_ = false;

    DWORD timeoutSeconds_;
    bool timerArmed_ = false;
    bool timeoutAsked_ = false;
    std::uint64_t timerGeneration_ = 0;
};

}  // namespace quillory::nntp
