#include "platform/inetcomm/nntp/nntp_transport_impl.h"

#include <mutex>

#include "platform/base/trace.h"

namespace quillory::nntp {

namespace {

constexpr char kWindowClass[] = "QuilloryNntpTransportWindow";

LRESULT TransportWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NNTP_EVENT) {
        if (auto* transport = reinterpret_cast<CNNTPTransport*>(GetWindowLongPtr(hwnd, GWLP_USERDATA)))
            transport->DeliverNext();
        return 0;
    }
    return DefWindowProc(hwnd, message, wParam, lParam);
}

bool RegisterWindowClass()
{
    static const bool registered = [] {
        WNDCLASS wc{};
        wc.lpfnWndProc = TransportWindowProc;
        wc.lpszClassName = kWindowClass;
        return RegisterClass(&wc) != 0;
    }();
    return registered;
}

}  // namespace

CNNTPTransport::CNNTPTransport() = default;

CNNTPTransport::~CNNTPTransport()
{
    if (ioThread_.joinable()) {
        OnIoThread([this] {
            if (connection_) connection_->Drop();
            connection_.reset();
        });
        work_.reset();
        ioThread_.join();
    }
    if (window_) {
        SetWindowLongPtr(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
    if (callback_) callback_->Release();
}

template <class F>
void CNNTPTransport::OnIoThread(F&& work)
{
    asio::post(io_, std::forward<F>(work));
}

HRESULT CNNTPTransport::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv,
                               {{&IID_INNTPTransport, static_cast<INNTPTransport*>(this)},
                                {&IID_IInternetTransport, static_cast<IInternetTransport*>(this)}});
}

// ---- set-up ------------------------------------------------------------------------------

HRESULT CNNTPTransport::InitNew(LPSTR pszLogFilePath, INNTPCallback* pCallback)
{
    if (!pCallback) return E_INVALIDARG;
    if (connected_) return IXP_E_ALREADY_CONNECTED;
    if (!window_) {
        if (!RegisterWindowClass()) return E_FAIL;
        window_ = CreateWindowEx(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        if (!window_) return E_FAIL;
        SetWindowLongPtr(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    if (!ioThread_.joinable()) {
        work_.emplace(asio::make_work_guard(io_));
        ioThread_ = std::thread([this] { io_.run(); });
    }
    pCallback->AddRef();
    if (callback_) callback_->Release();
    callback_ = pCallback;
    if (pszLogFilePath && *pszLogFilePath) {
        auto log = std::make_shared<CCommandLog>(pszLogFilePath);
        if (!log->IsOpen()) Trace("CNNTPTransport::InitNew -- cannot open log file %s\n", pszLogFilePath);
        log_ = log->IsOpen() ? std::move(log) : nullptr;
    } else {
        log_.reset();
    }
    return S_OK;
}

HRESULT CNNTPTransport::Connect(LPINETSERVER pInetServer, BOOL fAuthenticate, BOOL fCommandLogging)
{
    if (!pInetServer) return E_INVALIDARG;
    if (!window_) return IXP_E_NOT_INIT;
    if (connected_) return IXP_E_ALREADY_CONNECTED;
    server_ = *pInetServer;
    server_.szServerName[sizeof server_.szServerName - 1] = '\0';
    server_.szUserName[sizeof server_.szUserName - 1] = '\0';
    server_.szPassword[sizeof server_.szPassword - 1] = '\0';
    connected_ = true;
    authenticated_ = false;
    loggingOn_ = false;
    pending_ = 1;
    status_ = IXP_FINDINGHOST;
    const std::uint64_t serial = ++serial_;
    const INETSERVER server = server_;
    const bool authenticate = fAuthenticate != FALSE;
    const bool logging = fCommandLogging != FALSE;
    OnIoThread([this, serial, server, authenticate, logging, log = log_] {
        if (connection_) connection_->Drop();
        connectionSerial_ = serial;
        connection_ = std::make_shared<CNntpConnection>(
            io_, server, authenticate, logging, log,
            [this, serial](NntpEvent e) {
                e.serial = serial;
                Push(std::move(e));
            },
            [this] { return Backlogged(); }, !pipelineBroken_,
            [this] {
                Trace("CNNTPTransport -- a connection failed while pipelining; later ones send one command at a time\n");
                pipelineBroken_ = true;
            });
        connection_->Start();
    });
    return S_OK;
}

HRESULT CNNTPTransport::HandsOffCallback()
{
    if (callback_) {
        INNTPCallback* old = callback_;
        callback_ = nullptr;
        old->Release();
    }
    return S_OK;
}

HRESULT CNNTPTransport::Disconnect()
{
    if (!connected_) return IXP_E_NOT_CONNECTED;
    ++pending_;
    const std::uint64_t serial = serial_;
    OnIoThread([this, serial] {
        if (connection_ && connectionSerial_ == serial) connection_->Quit();
    });
    return S_OK;
}

HRESULT CNNTPTransport::CommandQUIT() { return Disconnect(); }

HRESULT CNNTPTransport::DropConnection()
{
    if (!connected_) return S_OK;
    ++serial_;  // whatever the old connection still reports is stale now
    connected_ = false;
    authenticated_ = false;
    pending_ = 0;
    status_ = IXP_DISCONNECTED;
    OnIoThread([this] {
        if (connection_) connection_->Drop();
        connection_.reset();
    });
    return S_OK;
}

HRESULT CNNTPTransport::IsState(IXPISSTATE isstate)
{
    bool yes = false;
    switch (isstate) {
    case IXP_IS_CONNECTED:
        yes = connected_;
        break;
    case IXP_IS_BUSY:
        yes = pending_ > 0;
        break;
    case IXP_IS_READY:
        yes = connected_ && pending_ == 0 && status_ == IXP_AUTHORIZED;
        break;
    case IXP_IS_AUTHENTICATED:
        yes = authenticated_;
        break;
    default:
        return E_INVALIDARG;
    }
    return yes ? S_OK : S_FALSE;
}

HRESULT CNNTPTransport::GetServerInfo(LPINETSERVER pInetServer)
{
    if (!pInetServer) return E_INVALIDARG;
    *pInetServer = server_;
    return S_OK;
}

HRESULT CNNTPTransport::GetStatus(IXPSTATUS* pCurrentStatus)
{
    if (!pCurrentStatus) return E_INVALIDARG;
    *pCurrentStatus = status_;
    return S_OK;
}

// ---- commands --------------------------------------------------------------------------

HRESULT CNNTPTransport::Issue(std::unique_ptr<CNntpCommand> command)
{
    if (!window_) return IXP_E_NOT_INIT;
    if (!connected_) return IXP_E_NOT_CONNECTED;
    ++pending_;
    const std::uint64_t serial = serial_;
    auto shared = std::make_shared<std::unique_ptr<CNntpCommand>>(std::move(command));
    OnIoThread([this, serial, shared] {
        if (connection_ && connectionSerial_ == serial) connection_->Enqueue(std::move(*shared));
    });
    return S_OK;
}

HRESULT CNNTPTransport::CommandGROUP(LPSTR pszGroup)
{
    if (!pszGroup || !*pszGroup) return E_INVALIDARG;
    return Issue(MakeGroupCommand(pszGroup));
}

HRESULT CNNTPTransport::GetHeaders(LPRANGE pRange)
{
    if (!pRange) return E_INVALIDARG;
    if (pRange->idType == RT_RANGE && pRange->dwLast < pRange->dwFirst) return E_INVALIDARG;
    return Issue(MakeHeadersCommand(*pRange));
}

HRESULT CNNTPTransport::CommandARTICLE(LPARTICLEID pArticleId)
{
    if (!pArticleId) return E_INVALIDARG;
    if (pArticleId->idType == AID_MSGID && (!pArticleId->pszMessageId || !*pArticleId->pszMessageId))
        return E_INVALIDARG;
    return Issue(MakeArticleCommand(*pArticleId));
}

HRESULT CNNTPTransport::CommandPOST(LPNNTPMESSAGE pMessage)
{
    if (!pMessage || !pMessage->pstmMsg) return E_INVALIDARG;
    // The stream belongs to this thread's objects: read it here, not on the
    // I/O thread.
    std::string article;
    article.resize(pMessage->cbSize);
    ULONG got = 0;
    while (got < pMessage->cbSize) {
        ULONG n = 0;
        const HRESULT hr = pMessage->pstmMsg->Read(article.data() + got, pMessage->cbSize - got, &n);
        if (FAILED(hr)) return hr;
        if (n == 0) break;
        got += n;
    }
    article.resize(got);
    return Issue(MakePostCommand(std::move(article)));
}

HRESULT CNNTPTransport::CommandLIST(LPSTR pszArgs) { return Issue(MakeListCommand(pszArgs ? pszArgs : "")); }

HRESULT CNNTPTransport::CommandNEWGROUPS(SYSTEMTIME* pstLast, LPSTR pszDist)
{
    if (!pstLast) return E_INVALIDARG;
    const auto when = FormatNewgroupsTime(*pstLast);
    if (!when) return E_INVALIDARG;
    return Issue(MakeNewgroupsCommand(*when, pszDist ? pszDist : ""));
}

HRESULT CNNTPTransport::ReleaseResponse(LPNNTPRESPONSE pResponse)
{
    return outstanding_.erase(pResponse) != 0 ? S_OK : E_INVALIDARG;
}

// ---- events ------------------------------------------------------------------------------

void CNNTPTransport::Push(NntpEvent event)
{
    bool wasEmpty;
    {
        std::lock_guard lock(eventsMutex_);
        wasEmpty = events_.empty();
        events_.push_back(std::move(event));
        eventCount_.fetch_add(1);
    }
    if (wasEmpty) PostMessage(window_, WM_NNTP_EVENT, 0, 0);
}

bool CNNTPTransport::Backlogged()
{
    if (eventCount_.load() <= kEventHighWater) return false;
    readPaused_.store(true);
    // The owner may have drained the queue meanwhile; then it saw no pause.
    if (eventCount_.load() <= kEventLowWater) {
        readPaused_.store(false);
        return false;
    }
    return true;
}

void CNNTPTransport::DeliverNext()
{
    NntpEvent event;
    bool more;
    {
        std::lock_guard lock(eventsMutex_);
        if (events_.empty()) return;
        event = std::move(events_.front());
        events_.pop_front();
        more = !events_.empty();
        eventCount_.fetch_sub(1);
    }
    if (eventCount_.load() <= kEventLowWater && readPaused_.exchange(false)) {
        OnIoThread([this] {
            if (connection_) connection_->ResumeReading();
        });
    }
    // Posted before the callback runs, so a callback that pumps messages
    // itself keeps the events flowing.
    if (more) PostMessage(window_, WM_NNTP_EVENT, 0, 0);
    AddRef();  // a callback may release the last outside reference
    Dispatch(event);
    Release();
}

void CNNTPTransport::Dispatch(NntpEvent& event)
{
    if (event.serial != serial_) return;  // from a connection dropped since
    switch (event.kind) {
    case EventKind::Status:
        status_ = event.status;
        // Authenticated means a logon took place, not merely that the
        // connection is ready.
        if (event.status == IXP_AUTHORIZING) loggingOn_ = true;
        if (event.status == IXP_AUTHORIZED && loggingOn_) authenticated_ = true;
        if (callback_) callback_->OnStatus(event.status, this);
        break;
    case EventKind::Error: {
        IXPRESULT result{};
        result.hrResult = event.hr;
        result.pszResponse = event.response.empty() ? nullptr : event.response.data();
        result.uiServerError = event.serverError;
        result.hrServerError = event.serverError != 0 ? event.hr : S_OK;
        result.dwSocketError = event.socketError;
        result.pszProblem = event.problem.empty() ? nullptr : event.problem.data();
        if (callback_) callback_->OnError(event.status, &result, this);
        break;
    }
    case EventKind::Command:
        if (callback_) callback_->OnCommand(event.cmdType, event.line.data(), event.hr, this);
        break;
    case EventKind::Response:
        DispatchResponse(event);
        break;
    case EventKind::TimeoutQuery: {
        DWORD seconds = event.timeoutSeconds;
        const HRESULT hr = callback_ ? callback_->OnTimeout(&seconds, this) : S_FALSE;
        const std::uint64_t serial = event.serial;
        OnIoThread([this, serial, hr, seconds] {
            if (connection_ && connectionSerial_ == serial) connection_->OnTimeoutAnswer(hr, seconds);
        });
        break;
    }
    case EventKind::LogonQuery: {
        INETSERVER edited = *event.server;
        const HRESULT hr = callback_ ? callback_->OnLogonPrompt(&edited, this) : S_FALSE;
        if (hr == S_OK) server_ = edited;
        const std::uint64_t serial = event.serial;
        OnIoThread([this, serial, hr, edited] {
            if (connection_ && connectionSerial_ == serial) connection_->OnLogonAnswer(hr, edited);
        });
        break;
    }
    }
}

void CNNTPTransport::DispatchResponse(NntpEvent& event)
{
    NNTPRESPONSE& response = event.block->Response();
    response.pTransport = this;
    if (response.state == NS_DISCONNECTED) {
        connected_ = false;
        authenticated_ = false;
        pending_ = 0;
    } else if (response.fDone && pending_ > 0) {
        --pending_;
    }
    if (!callback_) return;
    response.fMustRelease = TRUE;
    outstanding_.emplace(&response, std::move(event.block));
    callback_->OnResponse(&response);
}

}  // namespace quillory::nntp

extern "C" HRESULT CreateNNTPTransport(INNTPTransport** ppTransport)
{
    if (!ppTransport) return E_INVALIDARG;
    *ppTransport = quillory::NewComObject<quillory::nntp::CNNTPTransport>();
    return S_OK;
}
