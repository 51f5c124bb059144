// The NNTP protocol engine of one connection, apart from any socket: it is
// fed the bytes the server sends, writes what it wants sent through its host,
// and reports progress and answers as events. The connection logon (greeting,
// MODE READER, AUTHINFO USER/PASS with the logon prompt on refusal) runs here,
// then the queued commands in order.
//
// Once the logon is done, queued commands are pipelined (RFC 3977, 3.5): up
// to kPipelineWindow are on their way before the first is answered, so a
// long path costs one round trip per window instead of one per command.
// Nothing is pipelined across the logon, POST, or an OVER whose answer may
// still ask for XOVER. When the first command of a window needs something
// sent before it can be repeated (a logon on 480, XOVER), the answers to the
// commands behind it are read and dropped, and those commands are sent again
// after it, one at a time, with their group selected again when a dropped
// answer changed it: the answers reach the owner exactly as they would one
// command at a time.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/inetcomm/nntp/nntp_commands.h"
#include "platform/inetcomm/nntp/nntp_events.h"
#include "platform/inetcomm/nntp/nntp_parse.h"

namespace quillory::nntp {

class IEngineHost {
public:
    virtual void Send(std::string bytes) = 0;
    virtual void Emit(NntpEvent event) = 0;
    // The engine is finished with the connection: close it.
    virtual void Close() = 0;
    // For the command log file: a line sent (outgoing) or a status line received.
    virtual void Log(bool outgoing, std::string_view line) = 0;
    // The connection failed while several commands were on their way: the
    // server may not cope with pipelining, so later connections do without.
    virtual void PipelineFailed() {}

protected:
    ~IEngineHost() = default;
};

// How many times the logon prompt may be answered with "retry" before the
// logon gives up, so a callback that always retries cannot loop forever.
constexpr int kMaxLogonAttempts = 10;
// Commands on their way to the server before the first is answered.
constexpr std::size_t kPipelineWindow = 64;

class CNntpEngine final : private ICommandContext {
public:
    // Without `pipelining` every command waits for the answer to the one before.
    CNntpEngine(IEngineHost& host, const INETSERVER& server, bool authenticate, bool commandLogging,
                bool pipelining = true);

    // The socket (and TLS) is up: the server's greeting is next.
    void OnTransportUp();
    void Feed(std::string_view bytes);
    void Enqueue(std::unique_ptr<CNntpCommand> command);
    // QUIT once the queued commands are done.
    void Quit();
    // The owner's answer to a LogonQuery.
    void OnLogonAnswer(HRESULT hr, const INETSERVER& edited);
    // The connection failed underneath (socket error, time-out, TLS): reports
    // the error and the disconnection.
    void Fail(HRESULT hr, std::string_view problem, DWORD socketError = 0);
    // The peer closed the connection.
    void OnEndOfStream();

    // Whether an answer from the server is awaited (time-outs apply).
    bool AwaitingData() const;
    bool Closed() const { return phase_ == Phase::Closed; }
    IXPSTATUS Status() const { return status_; }
    void SetStatus(IXPSTATUS status);
    bool Pipelining() const { return pipelining_; }

private:
    enum class Phase {
        Greeting,
        ModeReader,
        AuthUser,
        AuthPass,
        AwaitLogon,
        Ready,
        CommandStatus,
        CommandBlock,
        SkipStatus,
        SkipBlock,
        Reselect,
        Quitting,
        Closed,
        Count_,
    };
    // Where a successful logon continues.
    enum class AfterLogon { ModeReader, Connected, Command };
    // What follows once the answers behind the first command were skipped.
    enum class AfterSkip { Logon, Resend };
    using LineHandler = void (CNntpEngine::*)(std::string_view line);
    static LineHandler Handler(Phase phase);

    // ICommandContext
    void EmitPart(std::unique_ptr<CResponseBlock> block) override;
    void SendRaw(std::string bytes) override;
    bool OverUnknown() const override { return overUnknown_; }
    void SetOverUnknown() override { overUnknown_ = true; }
    bool OverKnown() const override { return overKnown_; }
    void SetOverKnown() override { overKnown_ = true; }

    void OnGreeting(std::string_view line);
    void OnModeReader(std::string_view line);
    void OnAuthUser(std::string_view line);
    void OnAuthPass(std::string_view line);
    void OnCommandStatus(std::string_view line);
    void OnBlockLine(std::string_view line);
    void OnSkipStatus(std::string_view line);
    void OnSkipBlock(std::string_view line);
    void OnReselect(std::string_view line);
    void OnQuit(std::string_view line);
    void OnUnexpected(std::string_view line);

    std::optional<StatusLine> ReadStatus(std::string_view line);
    void SendLine(std::string_view line, std::string_view shown = {});
    void BeginLogon(AfterLogon after);
    void LogonRefused(std::string_view line, UINT code);
    void AskLogon();
    void GiveUpLogon();
    void LogonSucceeded();
    void ConnectDone();
    void StartNext();
    bool MaySend(const CNntpCommand& next) const;
    void CommandFinished();
    // The first command must be sent again after `then`: skip the answers
    // to the commands behind it first.
    void RepeatFirst(AfterSkip then);
    void SkipNext();
    void SkipDone();
    // Sends the first command again, selecting its group first when needed.
    void SendFirstAgain();
    // Reports the error, then the disconnection.
    void FailWith(HRESULT hr, std::string_view line, UINT code, std::string_view problem, DWORD socketError);
    void Finish(HRESULT hr, std::string_view line, UINT code, std::string_view problem, DWORD socketError);

    IEngineHost& host_;
    INETSERVER server_;
    bool authenticate_;
    bool commandLogging_;
    Phase phase_ = Phase::Greeting;
    IXPSTATUS status_ = IXP_CONNECTING;
    CLineSplitter lines_;

    AfterLogon afterLogon_ = AfterLogon::Connected;
    bool connected_ = false;  // the CONNECT answer went out
    bool authenticated_ = false;
    int logonAttempts_ = 0;
    std::string lastRefusal_;
    UINT lastRefusalCode_ = 0;

    // Sent and awaiting their answers, oldest first; the first is answered now.
    std::deque<std::unique_ptr<CNntpCommand>> sent_;
    std::deque<std::unique_ptr<CNntpCommand>> queue_;
    bool quitRequested_ = false;
    bool overUnknown_ = false;
    bool overKnown_ = false;
    bool pipelining_;

    // Skipping answers behind the first command.
    AfterSkip afterSkip_ = AfterSkip::Resend;
    std::size_t skipping_ = 0;  // index in sent_ of the answer being skipped
    // The group the answers read so far selected, and the one the server
    // holds after the skipped answers too.
    std::string selectedGroup_;
    std::string serverGroup_;
};

}  // namespace quillory::nntp
