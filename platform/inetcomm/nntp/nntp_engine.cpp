#include "platform/inetcomm/nntp/nntp_engine.h"

#include <strings.h>

#include <cstring>

#include "platform/base/trace.h"

namespace quillory::nntp {

namespace {

constexpr UINT kPostingAllowed = 200;
constexpr UINT kNoPosting = 201;
constexpr UINT kClosingConnection = 205;
constexpr UINT kGroupSelected = 211;
constexpr UINT kAuthAccepted = 281;
constexpr UINT kPasswordRequired = 381;
constexpr UINT kAuthRequired = 480;
constexpr UINT kAuthRejected = 481;
constexpr UINT kAuthOutOfSequence = 482;

std::string_view View(const char* field, std::size_t size)
{
    return std::string_view(field, strnlen(field, size));
}

}  // namespace

CNntpEngine::CNntpEngine(IEngineHost& host, const INETSERVER& server, bool authenticate, bool commandLogging,
                         bool pipelining)
    : host_(host),
      server_(server),
      authenticate_(authenticate),
      commandLogging_(commandLogging),
      pipelining_(pipelining)
{
}

void CNntpEngine::SetStatus(IXPSTATUS status)
{
    status_ = status;
    host_.Emit(NntpEvent::MakeStatus(status));
}

// Which handler reads the next line from the server, by phase.
CNntpEngine::LineHandler CNntpEngine::Handler(Phase phase)
{
    static constexpr LineHandler kHandlers[] = {
        &CNntpEngine::OnGreeting,       // Greeting
        &CNntpEngine::OnModeReader,     // ModeReader
        &CNntpEngine::OnAuthUser,       // AuthUser
        &CNntpEngine::OnAuthPass,       // AuthPass
        &CNntpEngine::OnUnexpected,     // AwaitLogon
        &CNntpEngine::OnUnexpected,     // Ready
        &CNntpEngine::OnCommandStatus,  // CommandStatus
        &CNntpEngine::OnBlockLine,      // CommandBlock
        &CNntpEngine::OnSkipStatus,     // SkipStatus
        &CNntpEngine::OnSkipBlock,      // SkipBlock
        &CNntpEngine::OnReselect,       // Reselect
        &CNntpEngine::OnQuit,           // Quitting
        &CNntpEngine::OnUnexpected,     // Closed
    };
    static_assert(std::size(kHandlers) == static_cast<std::size_t>(Phase::Count_));
    return kHandlers[static_cast<std::size_t>(phase)];
}

void CNntpEngine::OnTransportUp() { phase_ = Phase::Greeting; }

void CNntpEngine::Feed(std::string_view bytes)
{
    if (phase_ == Phase::Closed) return;
    lines_.Append(bytes);
    while (phase_ != Phase::Closed) {
        const auto line = lines_.Next();
        if (!line) break;
        (this->*Handler(phase_))(*line);
    }
    if (phase_ != Phase::Closed && lines_.Overflowed())
        Fail(IXP_E_NNTP_RESPONSE_ERROR, "The server sent a line longer than 1 MB");
}

void CNntpEngine::Enqueue(std::unique_ptr<CNntpCommand> command)
{
    if (phase_ == Phase::Closed) return;
    queue_.push_back(std::move(command));
    StartNext();
}

void CNntpEngine::Quit()
{
    if (phase_ == Phase::Closed || quitRequested_) return;
    quitRequested_ = true;
    if (phase_ == Phase::Ready) StartNext();
}

bool CNntpEngine::AwaitingData() const
{
    return phase_ != Phase::Ready && phase_ != Phase::AwaitLogon && phase_ != Phase::Closed;
}

std::optional<StatusLine> CNntpEngine::ReadStatus(std::string_view line)
{
    host_.Log(false, line);
    const auto st = ParseStatusLine(line);
    if (!st) {
        FailWith(IXP_E_NNTP_RESPONSE_ERROR, line, 0, "The server sent a malformed status line", 0);
        return std::nullopt;
    }
    if (commandLogging_) {
        NntpEvent e;
        e.kind = EventKind::Command;
        e.cmdType = CMD_RESP;
        e.line = std::string(line);
        e.hr = st->code >= 400 ? IXP_E_NNTP_RESPONSE_ERROR : S_OK;
        host_.Emit(std::move(e));
    }
    return st;
}

void CNntpEngine::SendLine(std::string_view line, std::string_view shown)
{
    const std::string_view visible = shown.empty() ? line : shown;
    host_.Log(true, visible);
    if (commandLogging_) {
        NntpEvent e;
        e.kind = EventKind::Command;
        e.cmdType = CMD_SEND;
        e.line = std::string(visible);
        host_.Emit(std::move(e));
    }
    std::string bytes(line);
    bytes += "\r\n";
    host_.Send(std::move(bytes));
}

void CNntpEngine::SendRaw(std::string bytes) { host_.Send(std::move(bytes)); }

void CNntpEngine::EmitPart(std::unique_ptr<CResponseBlock> block)
{
    block->Finalize();
    NntpEvent e;
    e.kind = EventKind::Response;
    e.block = std::move(block);
    host_.Emit(std::move(e));
}

// ---- logon ---------------------------------------------------------------------

void CNntpEngine::OnGreeting(std::string_view line)
{
    const auto st = ReadStatus(line);
    if (!st) return;
    if (st->code != kPostingAllowed && st->code != kNoPosting) {
        FailWith(IXP_E_FAILED_TO_CONNECT, line, st->code, "The server refused the connection", 0);
        return;
    }
    SetStatus(IXP_CONNECTED);
    phase_ = Phase::ModeReader;
    SendLine("MODE READER");
}

void CNntpEngine::OnModeReader(std::string_view line)
{
    const auto st = ReadStatus(line);
    if (!st) return;
    if (st->code == kAuthRequired && !authenticated_) {
        BeginLogon(AfterLogon::ModeReader);
        return;
    }
    // Any other answer (a server without MODE READER says 500) leaves the
    // connection usable as it is.
    if (authenticate_ && server_.szUserName[0] != '\0' && !authenticated_)
        BeginLogon(AfterLogon::Connected);
    else
        ConnectDone();
}

void CNntpEngine::BeginLogon(AfterLogon after)
{
    afterLogon_ = after;
    if (!authenticate_) {
        LogonRefused({}, 0);
        return;
    }
    if (status_ != IXP_AUTHORIZING) SetStatus(IXP_AUTHORIZING);
    if (server_.szUserName[0] == '\0') {
        AskLogon();
        return;
    }
    phase_ = Phase::AuthUser;
    const std::string user(View(server_.szUserName, sizeof server_.szUserName));
    SendLine("AUTHINFO USER " + user);
}

void CNntpEngine::OnAuthUser(std::string_view line)
{
    const auto st = ReadStatus(line);
    if (!st) return;
    if (st->code == kAuthAccepted) {
        LogonSucceeded();
    } else if (st->code == kPasswordRequired) {
        phase_ = Phase::AuthPass;
        const std::string password(View(server_.szPassword, sizeof server_.szPassword));
        SendLine("AUTHINFO PASS " + password, "AUTHINFO PASS ********");
    } else {
        LogonRefused(line, st->code);
    }
}

void CNntpEngine::OnAuthPass(std::string_view line)
{
    const auto st = ReadStatus(line);
    if (!st) return;
    if (st->code == kAuthAccepted)
        LogonSucceeded();
    else
        LogonRefused(line, st->code);
}

void CNntpEngine::LogonRefused(std::string_view line, UINT code)
{
    lastRefusal_ = std::string(line);
    lastRefusalCode_ = code;
    // 481 and 482 mean the credentials were wrong; other codes (502: logon not
    // available here) cannot be fixed by asking the user.
    const bool retryable = authenticate_ && (code == kAuthRejected || code == kAuthOutOfSequence);
    if (retryable && logonAttempts_ < kMaxLogonAttempts)
        AskLogon();
    else
        GiveUpLogon();
}

void CNntpEngine::GiveUpLogon()
{
    constexpr std::string_view kProblem = "The server refused the logon";
    const HRESULT hr = IXP_E_NNTP_INVALID_USERPASS;
    if (afterLogon_ == AfterLogon::Command && !sent_.empty()) {
        // The connection stays; only the command that needed the logon fails.
        auto command = std::move(sent_.front());
        sent_.pop_front();
        command->EmitFailure(*this, hr, lastRefusal_, lastRefusalCode_, kProblem);
        phase_ = Phase::Ready;
        SetStatus(IXP_AUTHORIZED);
        StartNext();
        return;
    }
    FailWith(hr, lastRefusal_, lastRefusalCode_, kProblem, 0);
}

void CNntpEngine::AskLogon()
{
    ++logonAttempts_;
    phase_ = Phase::AwaitLogon;
    NntpEvent e;
    e.kind = EventKind::LogonQuery;
    e.server = std::make_unique<INETSERVER>(server_);
    host_.Emit(std::move(e));
}

void CNntpEngine::OnLogonAnswer(HRESULT hr, const INETSERVER& edited)
{
    if (phase_ != Phase::AwaitLogon) return;
    if (hr != S_OK || edited.szUserName[0] == '\0') {
        GiveUpLogon();
        return;
    }
    server_ = edited;
    server_.szUserName[sizeof server_.szUserName - 1] = '\0';
    server_.szPassword[sizeof server_.szPassword - 1] = '\0';
    SetStatus(IXP_AUTHRETRY);
    phase_ = Phase::AuthUser;
    const std::string user(View(server_.szUserName, sizeof server_.szUserName));
    SendLine("AUTHINFO USER " + user);
}

void CNntpEngine::LogonSucceeded()
{
    authenticated_ = true;
    switch (afterLogon_) {
    case AfterLogon::ModeReader:
        phase_ = Phase::ModeReader;
        SendLine("MODE READER");
        break;
    case AfterLogon::Connected:
        ConnectDone();
        break;
    case AfterLogon::Command:
        SetStatus(IXP_AUTHORIZED);
        SendFirstAgain();
        break;
    }
}

void CNntpEngine::ConnectDone()
{
    SetStatus(IXP_AUTHORIZED);
    phase_ = Phase::Ready;
    if (!connected_) {
        connected_ = true;
        auto block = std::make_unique<CResponseBlock>(NS_CONNECT);
        EmitPart(std::move(block));
    }
    StartNext();
}

// ---- commands -------------------------------------------------------------------

void CNntpEngine::StartNext()
{
    if (phase_ != Phase::Ready && phase_ != Phase::CommandStatus && phase_ != Phase::CommandBlock) return;
    while (!queue_.empty() && MaySend(*queue_.front())) {
        sent_.push_back(std::move(queue_.front()));
        queue_.pop_front();
        SendLine(sent_.back()->Start(*this));
    }
    if (!sent_.empty()) {
        if (phase_ == Phase::Ready) phase_ = Phase::CommandStatus;
        return;
    }
    if (quitRequested_) {
        SetStatus(IXP_DISCONNECTING);
        phase_ = Phase::Quitting;
        SendLine("QUIT");
    }
}

bool CNntpEngine::MaySend(const CNntpCommand& next) const
{
    if (sent_.empty()) return true;
    return pipelining_ && sent_.size() < kPipelineWindow && !sent_.back()->Barrier(*this) && !next.Barrier(*this);
}

void CNntpEngine::OnCommandStatus(std::string_view line)
{
    const auto st = ReadStatus(line);
    if (!st) return;
    if (st->code == kAuthRequired && !authenticated_ && authenticate_) {
        logonAttempts_ = 0;
        RepeatFirst(AfterSkip::Logon);
        return;
    }
    CNntpCommand& first = *sent_.front();
    const CommandStep step = first.OnStatus(*st, line, *this);
    if (step != CommandStep::Resend) {
        if (const std::string_view group = first.GroupSelectedBy(st->code); !group.empty())
            selectedGroup_ = std::string(group);
    }
    switch (step) {
    case CommandStep::Done:
        CommandFinished();
        break;
    case CommandStep::ReadBlock:
        phase_ = Phase::CommandBlock;
        StartNext();  // a barrier whose answer has begun no longer holds the rest back
        break;
    case CommandStep::AwaitStatus:
        break;
    case CommandStep::Resend:
        RepeatFirst(AfterSkip::Resend);
        break;
    }
}

void CNntpEngine::OnBlockLine(std::string_view line)
{
    if (UnstuffLine(line)) {
        sent_.front()->OnBlockEnd(*this);
        CommandFinished();
        return;
    }
    sent_.front()->OnBlockLine(line, *this);
}

void CNntpEngine::CommandFinished()
{
    sent_.pop_front();
    phase_ = sent_.empty() ? Phase::Ready : Phase::CommandStatus;
    StartNext();
}

// ---- repeating the first command of a window ----------------------------------------

void CNntpEngine::RepeatFirst(AfterSkip then)
{
    afterSkip_ = then;
    serverGroup_ = selectedGroup_;
    if (sent_.size() > 1) {
        // A server that wants a logon halfway through a window is answered
        // one command at a time from now on.
        Trace("CNntpEngine -- %zu answers behind the first are skipped and asked again\n", sent_.size() - 1);
        pipelining_ = false;
        skipping_ = 1;
        phase_ = Phase::SkipStatus;
        return;
    }
    SkipDone();
}

void CNntpEngine::OnSkipStatus(std::string_view line)
{
    const auto st = ReadStatus(line);
    if (!st) return;
    const CNntpCommand& skipped = *sent_[skipping_];
    if (const std::string_view group = skipped.GroupSelectedBy(st->code); !group.empty())
        serverGroup_ = std::string(group);
    if (skipped.BlockFollows(st->code)) {
        phase_ = Phase::SkipBlock;
        return;
    }
    SkipNext();
}

void CNntpEngine::OnSkipBlock(std::string_view line)
{
    if (UnstuffLine(line)) SkipNext();
}

void CNntpEngine::SkipNext()
{
    if (++skipping_ < sent_.size()) {
        phase_ = Phase::SkipStatus;
        return;
    }
    SkipDone();
}

void CNntpEngine::SkipDone()
{
    // The skipped commands go again after the first, in their order.
    while (sent_.size() > 1) {
        queue_.push_front(std::move(sent_.back()));
        sent_.pop_back();
    }
    if (afterSkip_ == AfterSkip::Logon)
        BeginLogon(AfterLogon::Command);
    else
        SendFirstAgain();
}

void CNntpEngine::SendFirstAgain()
{
    if (strcasecmp(serverGroup_.c_str(), selectedGroup_.c_str()) != 0 && !selectedGroup_.empty()) {
        // A skipped answer selected another group; the first command was
        // meant for this one.
        serverGroup_ = selectedGroup_;
        phase_ = Phase::Reselect;
        SendLine("GROUP " + selectedGroup_);
        return;
    }
    phase_ = Phase::CommandStatus;
    SendLine(sent_.front()->Start(*this));
}

void CNntpEngine::OnReselect(std::string_view line)
{
    const auto st = ReadStatus(line);
    if (!st) return;
    if (st->code != kGroupSelected) {
        // The group went away meanwhile: the first command fails rather than
        // run in another group.
        CNntpCommand& first = *sent_.front();
        first.EmitFailure(*this, first.FailureCode(st->code), line, st->code);
        CommandFinished();
        return;
    }
    SendFirstAgain();
}

void CNntpEngine::OnQuit(std::string_view line)
{
    const auto st = ReadStatus(line);
    if (!st) return;
    Finish(S_OK, st->code == kClosingConnection ? std::string_view{} : line, 0, {}, 0);
}

void CNntpEngine::OnUnexpected(std::string_view line)
{
    // Nothing is awaited: a stray line from the server is logged and ignored.
    host_.Log(false, line);
}

// ---- the end ------------------------------------------------------------------------

void CNntpEngine::OnEndOfStream()
{
    if (phase_ == Phase::Closed) return;
    if (phase_ == Phase::Quitting) {
        Finish(S_OK, {}, 0, {}, 0);
        return;
    }
    Fail(IXP_E_CONNECTION_DROPPED, "The server closed the connection");
}

void CNntpEngine::Fail(HRESULT hr, std::string_view problem, DWORD socketError)
{
    FailWith(hr, {}, 0, problem, socketError);
}

void CNntpEngine::FailWith(HRESULT hr, std::string_view line, UINT code, std::string_view problem,
                           DWORD socketError)
{
    if (phase_ == Phase::Closed) return;
    Trace("CNntpEngine::FailWith -- %08x %.*s\n", static_cast<unsigned>(hr), static_cast<int>(problem.size()),
          problem.data());
    NntpEvent e;
    e.kind = EventKind::Error;
    e.status = status_;
    e.hr = hr;
    e.response = std::string(line);
    e.serverError = code;
    e.problem = std::string(problem);
    e.socketError = socketError;
    host_.Emit(std::move(e));
    if (sent_.size() > 1 && pipelining_) host_.PipelineFailed();
    Finish(hr, line, code, problem, socketError);
}

void CNntpEngine::Finish(HRESULT hr, std::string_view line, UINT code, std::string_view problem,
                         DWORD socketError)
{
    if (phase_ == Phase::Closed) return;
    phase_ = Phase::Closed;
    sent_.clear();
    queue_.clear();
    lines_.Clear();
    host_.Close();
    SetStatus(IXP_DISCONNECTED);
    auto block = std::make_unique<CResponseBlock>(NS_DISCONNECTED);
    block->SetResult(hr, line, code, problem, socketError);
    EmitPart(std::move(block));
}

}  // namespace quillory::nntp
