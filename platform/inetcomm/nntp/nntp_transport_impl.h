// CNNTPTransport: the COM object behind INNTPTransport. Its public methods
// run on the owner thread (the one that called InitNew); they hand work to
// the I/O thread, whose connection reports back through an event queue that
// the owner thread drains one event per window message.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

#include "platform/base/window.h"
#include "platform/com/refcounted.h"
#include "platform/inetcomm/nntp/nntp_connection.h"
#include "platform/inetcomm/nntp/nntp_transport.h"

namespace quillory::nntp {

// The private message that tells the owner thread an event is waiting.
constexpr UINT WM_NNTP_EVENT = WM_APP + 0x0E51;

// Reading pauses while more events than this wait for the owner thread and
// resumes when it has caught up to the lower mark.
constexpr std::size_t kEventHighWater = 64;
constexpr std::size_t kEventLowWater = 16;

class CNNTPTransport final : public INNTPTransport, public CRefCounted {
public:
    CNNTPTransport();
    ~CNNTPTransport() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    QUILLORY_IUNKNOWN_REFCOUNT

    // IInternetTransport
    HRESULT GetServerInfo(LPINETSERVER pInetServer) override;
    IXPTYPE GetIXPType() override { return IXP_NNTP; }
    HRESULT IsState(IXPISSTATE isstate) override;
    HRESULT Connect(LPINETSERVER pInetServer, BOOL fAuthenticate, BOOL fCommandLogging) override;
    HRESULT HandsOffCallback() override;
    HRESULT Disconnect() override;
    HRESULT DropConnection() override;
    HRESULT GetStatus(IXPSTATUS* pCurrentStatus) override;

    // INNTPTransport
    HRESULT InitNew(LPSTR pszLogFilePath, INNTPCallback* pCallback) override;
    HRESULT CommandGROUP(LPSTR pszGroup) override;
    HRESULT CommandARTICLE(LPARTICLEID pArticleId) override;
    HRESULT CommandPOST(LPNNTPMESSAGE pMessage) override;
    HRESULT CommandLIST(LPSTR pszArgs) override;
    HRESULT CommandNEWGROUPS(SYSTEMTIME* pstLast, LPSTR pszDist) override;
    HRESULT CommandQUIT() override;
    HRESULT GetHeaders(LPRANGE pRange) override;
    HRESULT ReleaseResponse(LPNNTPRESPONSE pResponse) override;

    // Window procedure side: deliver the next waiting event.
    void DeliverNext();

private:
    HRESULT Issue(std::unique_ptr<CNntpCommand> command);
    void Dispatch(NntpEvent& event);
    void DispatchResponse(NntpEvent& event);
    void Push(NntpEvent event);            // I/O thread
    bool Backlogged();                     // I/O thread
    template <class F>
    void OnIoThread(F&& work);

    // Owner thread.
    HWND window_ = nullptr;
    INNTPCallback* callback_ = nullptr;
    bool connected_ = false;
    bool authenticated_ = false;
    bool loggingOn_ = false;  // a logon was started on this connection
    int pending_ = 0;  // Connect, commands and QUIT not yet answered in full
    IXPSTATUS status_ = IXP_DISCONNECTED;
    INETSERVER server_{};
    std::uint64_t serial_ = 0;
    std::unordered_map<NNTPRESPONSE*, std::unique_ptr<CResponseBlock>> outstanding_;

    // Shared between the threads.
    std::mutex eventsMutex_;
    std::deque<NntpEvent> events_;
    std::atomic<std::size_t> eventCount_{0};
    std::atomic<bool> readPaused_{false};
    std::shared_ptr<CCommandLog> log_;

    // I/O thread.
    asio::io_context io_;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
    std::thread ioThread_;
    std::shared_ptr<CNntpConnection> connection_;
    std::uint64_t connectionSerial_ = 0;
    // A connection of this transport failed with several commands on their
    // way: later ones send one command at a time.
    bool pipelineBroken_ = false;
};

}  // namespace quillory::nntp
