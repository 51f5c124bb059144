// One small class per NNTP command the transport offers: Start gives the
// command line, OnStatus handles the status line that answers it, and the
// block handlers receive the lines of a multi-line answer (already
// dot-unstuffed). Answers leave through the context as response parts.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/inetcomm/nntp/nntp_parse.h"
#include "platform/inetcomm/nntp/nntp_response.h"

namespace quillory::nntp {

// Response parts are cut at these sizes so that the callback sees progress
// and memory stays bounded however long the answer is.
constexpr DWORD kHeadersPerPart = 500;
constexpr std::size_t kArticleBytesPerPart = 64 * 1024;
constexpr std::size_t kListLinesPerPart = 1000;

class ICommandContext {
public:
    // Finalizes and hands out one response part.
    virtual void EmitPart(std::unique_ptr<CResponseBlock> block) = 0;
    // Bytes for the server that are not a command line (an article to post).
    virtual void SendRaw(std::string bytes) = 0;
    // Whether the server answered OVER with "unknown command" before.
    virtual bool OverUnknown() const = 0;
    virtual void SetOverUnknown() = 0;
    // Whether the server has answered OVER as a command it knows.
    virtual bool OverKnown() const = 0;
    virtual void SetOverKnown() = 0;

protected:
    ~ICommandContext() = default;
};

enum class CommandStep {
    Done,         // the command is finished (its final part was emitted)
    ReadBlock,    // a multi-line block follows
    AwaitStatus,  // another status line follows (POST after sending the article)
    Resend,       // send Start's line again (a fallback was chosen)
};

class CNntpCommand {
public:
    explicit CNntpCommand(NNTPSTATE state) : state_(state) {}
    virtual ~CNntpCommand() = default;

    NNTPSTATE State() const { return state_; }
    virtual std::string Start(ICommandContext& ctx) = 0;
    virtual CommandStep OnStatus(const StatusLine& st, std::string_view line, ICommandContext& ctx) = 0;
    virtual void OnBlockLine(std::string_view line, ICommandContext& ctx) {}
    virtual void OnBlockEnd(ICommandContext& ctx) {}
    // The code a refusal of this command is reported with.
    virtual HRESULT FailureCode(UINT serverCode) const = 0;

    // For pipelining: a barrier command is never on its way together with
    // another one, because its answer may make the engine send something
    // else first (the article of POST, XOVER instead of an unknown OVER).
    virtual bool Barrier(const ICommandContext& ctx) const { return false; }
    // Whether the answer with this status code goes on with a block of
    // lines, so that an answer the engine skips is skipped whole.
    virtual bool BlockFollows(UINT serverCode) const { return false; }
    // The group that the server selected when it answered with this code;
    // empty when the answer selected none.
    virtual std::string_view GroupSelectedBy(UINT serverCode) const { return {}; }

    // Emits the final part carrying a failure.
    void EmitFailure(ICommandContext& ctx, HRESULT hr, std::string_view line, UINT code,
                     std::string_view problem = {});

protected:
    // A refusal the command cannot get past: one final failing part.
    CommandStep Refuse(const StatusLine& st, std::string_view line, ICommandContext& ctx);

private:
    NNTPSTATE state_;
};

std::unique_ptr<CNntpCommand> MakeGroupCommand(std::string_view group);
std::unique_ptr<CNntpCommand> MakeHeadersCommand(const RANGE& range);
std::unique_ptr<CNntpCommand> MakeArticleCommand(const ARTICLEID& id);
// `article` as the caller gave it; stuffing happens here.
std::unique_ptr<CNntpCommand> MakePostCommand(std::string article);
// args empty for LIST ACTIVE.
std::unique_ptr<CNntpCommand> MakeListCommand(std::string_view args);
std::unique_ptr<CNntpCommand> MakeNewgroupsCommand(std::string_view when, std::string_view distribution);

}  // namespace quillory::nntp
