#include "platform/inetcomm/nntp/nntp_connection.h"

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <ctime>

namespace quillory::nntp {

namespace {

constexpr std::size_t kReadBufferSize = 256 * 1024;

std::string_view View(const char* field, std::size_t size)
{
    return std::string_view(field, strnlen(field, size));
}

}  // namespace

// ---- command log --------------------------------------------------------------------

CCommandLog::CCommandLog(const std::string& path) : out_(path, std::ios::app | std::ios::binary) {}

void CCommandLog::Write(bool outgoing, std::string_view line)
{
    std::lock_guard lock(mutex_);
    if (!out_) return;
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
    out_ << stamp << (outgoing ? " NNTP> " : " NNTP< ") << line << '\n';
    out_.flush();
}

void CCommandLog::Note(std::string_view text)
{
    std::lock_guard lock(mutex_);
    if (!out_) return;
    out_ << "NNTP: " << text << '\n';
    out_.flush();
}

// ---- connection ----------------------------------------------------------------------

CNntpConnection::CNntpConnection(asio::io_context& io, const INETSERVER& server, bool authenticate,
                                 bool commandLogging, std::shared_ptr<CCommandLog> log, EventSink sink,
                                 BacklogCheck backlogged, bool pipelining, PipelineFailure pipelineFailed)
    : server_(server),
      ssl_(server.fSSL != FALSE),
      log_(std::move(log)),
      sink_(std::move(sink)),
      backlogged_(std::move(backlogged)),
      pipelineFailed_(std::move(pipelineFailed)),
      tls_(asio::ssl::context::tls_client),
      resolver_(io),
      stream_(io, tls_),
      timer_(io),
      engine_(*this, server, authenticate, commandLogging, pipelining),
      readBuffer_(std::make_unique<char[]>(kReadBufferSize)),
      timeoutSeconds_(server.dwTimeout != 0 ? server.dwTimeout : kDefaultTimeoutSeconds)
{
}

CNntpConnection::~CNntpConnection() = default;

void CNntpConnection::Emit(NntpEvent event) { sink_(std::move(event)); }

void CNntpConnection::Log(bool outgoing, std::string_view line)
{
    if (log_) log_->Write(outgoing, line);
}

void CNntpConnection::PipelineFailed()
{
    if (log_) log_->Note("the connection failed with several commands on their way; no more pipelining");
    if (pipelineFailed_) pipelineFailed_();
}

void CNntpConnection::Start()
{
    const std::string host(View(server_.szServerName, sizeof server_.szServerName));
    const DWORD port = server_.dwPort != 0 ? server_.dwPort : (ssl_ ? kDefaultSslPort : kDefaultPort);
    if (log_) log_->Note("connecting to " + host + ":" + std::to_string(port) + (ssl_ ? " (TLS)" : ""));
    engine_.SetStatus(IXP_FINDINGHOST);
    UpdateTimer(true);
    if (host.empty()) {
        engine_.Fail(IXP_E_CANT_FIND_HOST, "No server name was given");
        return;
    }
    auto self = shared_from_this();
    resolver_.async_resolve(host, std::to_string(port),
                            [self](const asio::error_code& ec, asio::ip::tcp::resolver::results_type r) {
                                self->OnResolved(ec, std::move(r));
                            });
}

void CNntpConnection::OnResolved(const asio::error_code& ec, asio::ip::tcp::resolver::results_type results)
{
    if (closed_) return;
    if (ec) {
        engine_.Fail(IXP_E_CANT_FIND_HOST, "Cannot find the server: " + ec.message(),
                     static_cast<DWORD>(ec.value()));
        return;
    }
    engine_.SetStatus(IXP_CONNECTING);
    auto self = shared_from_this();
    asio::async_connect(stream_.next_layer(), results,
                        [self](const asio::error_code& e, const asio::ip::tcp::endpoint&) { self->OnConnected(e); });
}

void CNntpConnection::OnConnected(const asio::error_code& ec)
{
    if (closed_) return;
    if (ec) {
        engine_.Fail(IXP_E_FAILED_TO_CONNECT, "Cannot connect to the server: " + ec.message(),
                     static_cast<DWORD>(ec.value()));
        return;
    }
    asio::error_code ignored;
    stream_.next_layer().set_option(asio::ip::tcp::no_delay(true), ignored);
    if (!ssl_) {
        OnHandshake({});
        return;
    }
    engine_.SetStatus(IXP_SECURING);
    const std::string host(View(server_.szServerName, sizeof server_.szServerName));
    asio::error_code e;
    tls_.set_default_verify_paths(e);  // honours SSL_CERT_FILE and SSL_CERT_DIR
    SSL* ssl = stream_.native_handle();
    SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    asio::error_code addrError;
    asio::ip::make_address(host, addrError);
    if (!addrError) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
        SSL_set_tlsext_host_name(ssl, host.c_str());
    }
    auto self = shared_from_this();
    stream_.async_handshake(asio::ssl::stream_base::client,
                            [self](const asio::error_code& err) { self->OnHandshake(err); });
}

std::string CNntpConnection::TlsFailureReason(const asio::error_code& ec)
{
    const long verify = SSL_get_verify_result(stream_.native_handle());
    if (verify != X509_V_OK)
        return std::string("The server's certificate was refused: ") + X509_verify_cert_error_string(verify);
    return "The secure connection failed: " + ec.message();
}

void CNntpConnection::OnHandshake(const asio::error_code& ec)
{
    if (closed_) return;
    if (ec) {
        engine_.Fail(IXP_E_SECURE_CONNECT_FAILED, TlsFailureReason(ec));
        return;
    }
    transportUp_ = true;
    engine_.OnTransportUp();
    UpdateTimer(true);
    ReadMore();
    WriteMore();
}

void CNntpConnection::ReadMore()
{
    if (closed_ || reading_) return;
    if (backlogged_ && backlogged_()) {
        // The owner thread is behind: wait for ResumeReading, and do not count
        // the pause against the server.
        readPaused_ = true;
        UpdateTimer(false);
        return;
    }
    readPaused_ = false;
    reading_ = true;
    auto self = shared_from_this();
    auto handler = [self](const asio::error_code& ec, std::size_t n) { self->OnRead(ec, n); };
    if (ssl_)
        stream_.async_read_some(asio::buffer(readBuffer_.get(), kReadBufferSize), handler);
    else
        stream_.next_layer().async_read_some(asio::buffer(readBuffer_.get(), kReadBufferSize), handler);
}

void CNntpConnection::ResumeReading()
{
    if (closed_ || !readPaused_) return;
    readPaused_ = false;
    UpdateTimer(true);
    ReadMore();
}

void CNntpConnection::OnRead(const asio::error_code& ec, std::size_t n)
{
    reading_ = false;
    if (closed_) return;
    if (n > 0) {
        timeoutAsked_ = false;  // the server spoke: any pending question is moot
        engine_.Feed(std::string_view(readBuffer_.get(), n));
        if (closed_) return;
        UpdateTimer(true);
    }
    if (ec) {
        if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated)
            engine_.OnEndOfStream();
        else
            engine_.Fail(IXP_E_SOCKET_READ_ERROR, "Reading from the server failed: " + ec.message(),
                         static_cast<DWORD>(ec.value()));
        return;
    }
    ReadMore();
}

void CNntpConnection::Send(std::string bytes)
{
    outbox_ += bytes;
    if (transportUp_) WriteMore();
}

void CNntpConnection::WriteMore()
{
    if (closed_ || writeActive_ || outbox_.empty()) return;
    writing_.swap(outbox_);
    outbox_.clear();
    writeActive_ = true;
    auto self = shared_from_this();
    auto handler = [self](const asio::error_code& ec, std::size_t) {
        self->writeActive_ = false;
        self->writing_.clear();
        if (self->closed_) return;
        if (ec) {
            self->engine_.Fail(IXP_E_SOCKET_WRITE_ERROR, "Writing to the server failed: " + ec.message(),
                               static_cast<DWORD>(ec.value()));
            return;
        }
        self->WriteMore();
    };
    if (ssl_)
        asio::async_write(stream_, asio::buffer(writing_), handler);
    else
        asio::async_write(stream_.next_layer(), asio::buffer(writing_), handler);
}

void CNntpConnection::Enqueue(std::unique_ptr<CNntpCommand> command)
{
    if (closed_) return;
    engine_.Enqueue(std::move(command));
    UpdateTimer(false);
}

void CNntpConnection::Quit()
{
    if (closed_) return;
    engine_.Quit();
    UpdateTimer(false);
}

void CNntpConnection::OnLogonAnswer(HRESULT hr, const INETSERVER& edited)
{
    if (closed_) return;
    engine_.OnLogonAnswer(hr, edited);
    UpdateTimer(true);
}

void CNntpConnection::Close()
{
    if (closed_) return;
    closed_ = true;
    asio::error_code ignored;
    resolver_.cancel();
    timer_.cancel();
    stream_.next_layer().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    stream_.next_layer().close(ignored);
    if (log_) log_->Note("connection closed");
}

void CNntpConnection::Drop() { Close(); }

// ---- time-out ------------------------------------------------------------------------

void CNntpConnection::UpdateTimer(bool restart)
{
    if (closed_) return;
    const bool wanted = engine_.AwaitingData() && !readPaused_;
    if (!wanted) {
        if (timerArmed_) {
            timerArmed_ = false;
            ++timerGeneration_;
            timer_.cancel();
        }
        return;
    }
    if (timerArmed_ && !restart) return;
    if (timeoutAsked_) return;  // the owner is deciding; its answer re-arms
    timerArmed_ = true;
    const std::uint64_t generation = ++timerGeneration_;
    timer_.expires_after(std::chrono::seconds(timeoutSeconds_));
    auto self = shared_from_this();
    timer_.async_wait([self, generation](const asio::error_code& ec) { self->OnTimer(ec, generation); });
}

void CNntpConnection::OnTimer(const asio::error_code& ec, std::uint64_t generation)
{
    if (ec || closed_ || generation != timerGeneration_) return;
    timerArmed_ = false;
    if (!engine_.AwaitingData() || readPaused_) return;
    timeoutAsked_ = true;
    NntpEvent e;
    e.kind = EventKind::TimeoutQuery;
    e.timeoutSeconds = timeoutSeconds_;
    Emit(std::move(e));
}

void CNntpConnection::OnTimeoutAnswer(HRESULT hr, DWORD seconds)
{
    if (closed_) return;
    if (!timeoutAsked_) {
        // The server answered while the owner was deciding.
        UpdateTimer(false);
        return;
    }
    timeoutAsked_ = false;
    if (hr == S_OK) {
        if (seconds != 0) timeoutSeconds_ = seconds;
        UpdateTimer(true);
        return;
    }
    engine_.Fail(IXP_E_TIMEOUT, "The server did not answer within " + std::to_string(timeoutSeconds_) +
                                    " seconds");
}

}  // namespace quillory::nntp
