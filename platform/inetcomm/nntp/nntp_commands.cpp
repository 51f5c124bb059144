#include "platform/inetcomm/nntp/nntp_commands.h"

#include <cstdio>

namespace quillory::nntp {

namespace {

// Status codes of RFC 3977 / RFC 977 that the commands look at.
constexpr UINT kGroupSelected = 211;
constexpr UINT kArticleFollows = 220;
constexpr UINT kOverviewFollows = 224;
constexpr UINT kListFollows = 215;
constexpr UINT kNewgroupsFollow = 231;
constexpr UINT kPostReceived = 240;
constexpr UINT kSendArticle = 340;
constexpr UINT kNoSuchGroup = 411;
constexpr UINT kNoArticlesInRange = 423;
constexpr UINT kNoCurrentArticle = 420;
constexpr UINT kUnknownCommand = 500;
constexpr UINT kSyntaxError = 501;

std::string_view FirstWord(std::string_view& text)
{
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    const std::size_t end = text.find(' ');
    const std::string_view word = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end);
    return word;
}

// Strips characters that would end or split the command line, so a caller's
// text cannot smuggle a second command to the server.
std::string CommandArgument(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\r' && c != '\n' && c != '\0') out += c;
    return out;
}

class CGroupCommand final : public CNntpCommand {
public:
    explicit CGroupCommand(std::string_view group) : CNntpCommand(NS_GROUP), group_(CommandArgument(group)) {}
    std::string Start(ICommandContext&) override { return "GROUP " + group_; }
    HRESULT FailureCode(UINT code) const override
    {
        return code == kNoSuchGroup ? IXP_E_NNTP_GROUP_NOTFOUND : IXP_E_NNTP_GROUP_FAILED;
    }
    std::string_view GroupSelectedBy(UINT code) const override
    {
        return code == kGroupSelected ? std::string_view(group_) : std::string_view();
    }
    CommandStep OnStatus(const StatusLine& st, std::string_view line, ICommandContext& ctx) override
    {
        if (st.code != kGroupSelected) return Refuse(st, line, ctx);
        // "211 count first last name"; a server may lie about the count, which
        // is passed on as it is.
        std::string_view rest = st.text;
        const auto count = ParseNumber(FirstWord(rest));
        const auto first = ParseNumber(FirstWord(rest));
        const auto last = ParseNumber(FirstWord(rest));
        std::string_view name = FirstWord(rest);
        if (!count || !first || !last) {
            EmitFailure(ctx, IXP_E_NNTP_RESPONSE_ERROR, line, st.code, "Malformed GROUP answer");
            return CommandStep::Done;
        }
        auto block = std::make_unique<CResponseBlock>(NS_GROUP);
        block->SetResult(S_OK, line, st.code);
        block->SetGroup(*count, *first, *last, name.empty() ? std::string_view(group_) : name);
        ctx.EmitPart(std::move(block));
        return CommandStep::Done;
    }

private:
    std::string group_;
};

class CHeadersCommand final : public CNntpCommand {
public:
    explicit CHeadersCommand(const RANGE& range) : CNntpCommand(NS_HEADERS), range_(range) {}
    std::string Start(ICommandContext& ctx) override
    {
        char text[64];
        switch (range_.idType) {
        case RT_SINGLE:
            std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(range_.dwFirst));
            break;
        case RT_OPEN:
            std::snprintf(text, sizeof text, "%lu-", static_cast<unsigned long>(range_.dwFirst));
            break;
        case RT_RANGE:
        default:
            std::snprintf(text, sizeof text, "%lu-%lu", static_cast<unsigned long>(range_.dwFirst),
                          static_cast<unsigned long>(range_.dwLast));
            break;
        }
        usedOver_ = !ctx.OverUnknown();
        return std::string(usedOver_ ? "OVER " : "XOVER ") + text;
    }
    HRESULT FailureCode(UINT) const override { return IXP_E_NNTP_HEADERS_FAILED; }
    // Until the server has shown that it knows OVER, the answer may call for
    // XOVER instead.
    bool Barrier(const ICommandContext& ctx) const override { return !ctx.OverKnown() && !ctx.OverUnknown(); }
    bool BlockFollows(UINT code) const override { return code == kOverviewFollows; }
    CommandStep OnStatus(const StatusLine& st, std::string_view line, ICommandContext& ctx) override
    {
        if (usedOver_ && (st.code == kOverviewFollows || st.code == kNoArticlesInRange ||
                          st.code == kNoCurrentArticle))
            ctx.SetOverKnown();
        if (st.code == kOverviewFollows) {
            line_ = std::string(line);
            part_ = NewPart();
            return CommandStep::ReadBlock;
        }
        if (usedOver_ && (st.code == kUnknownCommand || st.code == kSyntaxError)) {
            // An older server that only knows the XOVER extension (RFC 2980).
            ctx.SetOverUnknown();
            return CommandStep::Resend;
        }
        if (st.code == kNoArticlesInRange || st.code == kNoCurrentArticle) {
            // Articles expire or get cancelled between GROUP and OVER: an
            // empty range is an empty answer, not a failure.
            auto block = std::make_unique<CResponseBlock>(NS_HEADERS);
            block->SetResult(S_OK, line, st.code);
            ctx.EmitPart(std::move(block));
            return CommandStep::Done;
        }
        return Refuse(st, line, ctx);
    }
    void OnBlockLine(std::string_view line, ICommandContext& ctx) override
    {
        const auto rec = ParseOverviewLine(line);
        if (!rec) return;  // a damaged record is skipped, the rest is still good
        part_->AddHeader(*rec);
        if (part_->HeaderCount() >= kHeadersPerPart) {
            part_->SetDone(false);
            ctx.EmitPart(std::move(part_));
            part_ = NewPart();
        }
    }
    void OnBlockEnd(ICommandContext& ctx) override
    {
        part_->SetDone(true);
        ctx.EmitPart(std::move(part_));
    }

private:
    std::unique_ptr<CResponseBlock> NewPart()
    {
        auto block = std::make_unique<CResponseBlock>(NS_HEADERS);
        block->SetResult(S_OK, line_, kOverviewFollows);
        return block;
    }

    RANGE range_;
    bool usedOver_ = true;
    std::string line_;
    std::unique_ptr<CResponseBlock> part_;
};

class CArticleCommand final : public CNntpCommand {
public:
    explicit CArticleCommand(const ARTICLEID& id) : CNntpCommand(NS_ARTICLE)
    {
        if (id.idType == AID_MSGID) {
            target_ = CommandArgument(id.pszMessageId ? id.pszMessageId : "");
        } else {
            target_ = std::to_string(id.dwArticleNum);
            number_ = id.dwArticleNum;
        }
    }
    std::string Start(ICommandContext&) override { return "ARTICLE " + target_; }
    HRESULT FailureCode(UINT) const override { return IXP_E_NNTP_ARTICLE_FAILED; }
    bool BlockFollows(UINT code) const override { return code == kArticleFollows; }
    CommandStep OnStatus(const StatusLine& st, std::string_view line, ICommandContext& ctx) override
    {
        if (st.code != kArticleFollows) return Refuse(st, line, ctx);
        std::string_view rest = st.text;
        if (const auto n = ParseNumber(FirstWord(rest))) number_ = *n;
        line_ = std::string(line);
        part_ = NewPart();
        return CommandStep::ReadBlock;
    }
    void OnBlockLine(std::string_view line, ICommandContext& ctx) override
    {
        part_->AppendArticleLine(line);
        if (part_->ArticleBytes() >= kArticleBytesPerPart) {
            part_->SetDone(false);
            ctx.EmitPart(std::move(part_));
            part_ = NewPart();
        }
    }
    void OnBlockEnd(ICommandContext& ctx) override
    {
        part_->SetDone(true);
        ctx.EmitPart(std::move(part_));
    }

private:
    std::unique_ptr<CResponseBlock> NewPart()
    {
        auto block = std::make_unique<CResponseBlock>(NS_ARTICLE);
        block->SetResult(S_OK, line_, kArticleFollows);
        block->SetArticleNumber(number_);
        return block;
    }

    std::string target_;
    DWORD number_ = 0;
    std::string line_;
    std::unique_ptr<CResponseBlock> part_;
};

class CPostCommand final : public CNntpCommand {
public:
    explicit CPostCommand(std::string article) : CNntpCommand(NS_POST), article_(std::move(article)) {}
    std::string Start(ICommandContext&) override { return "POST"; }
    HRESULT FailureCode(UINT) const override { return IXP_E_NNTP_POST_FAILED; }
    bool Barrier(const ICommandContext&) const override { return true; }
    CommandStep OnStatus(const StatusLine& st, std::string_view line, ICommandContext& ctx) override
    {
        if (!sent_ && st.code == kSendArticle) {
            sent_ = true;
            ctx.SendRaw(DotStuffArticle(article_));
            article_.clear();
            return CommandStep::AwaitStatus;
        }
        if (sent_ && st.code == kPostReceived) {
            auto block = std::make_unique<CResponseBlock>(NS_POST);
            block->SetResult(S_OK, line, st.code);
            ctx.EmitPart(std::move(block));
            return CommandStep::Done;
        }
        // 440 (posting not permitted), 441 (posting failed) and anything odd.
        return Refuse(st, line, ctx);
    }

private:
    std::string article_;
    bool sent_ = false;
};

// LIST variants and NEWGROUPS: a status line and a block of text lines.
class CListingCommand final : public CNntpCommand {
public:
    CListingCommand(NNTPSTATE state, std::string commandLine, UINT okCode, HRESULT failure)
        : CNntpCommand(state), commandLine_(std::move(commandLine)), okCode_(okCode), failure_(failure)
    {
    }
    std::string Start(ICommandContext&) override { return commandLine_; }
    HRESULT FailureCode(UINT) const override { return failure_; }
    bool BlockFollows(UINT code) const override { return code == okCode_; }
    CommandStep OnStatus(const StatusLine& st, std::string_view line, ICommandContext& ctx) override
    {
        if (st.code != okCode_) return Refuse(st, line, ctx);
        line_ = std::string(line);
        part_ = NewPart();
        return CommandStep::ReadBlock;
    }
    void OnBlockLine(std::string_view line, ICommandContext& ctx) override
    {
        part_->AddListLine(line);
        if (part_->ListLineCount() >= kListLinesPerPart) {
            part_->SetDone(false);
            ctx.EmitPart(std::move(part_));
            part_ = NewPart();
        }
    }
    void OnBlockEnd(ICommandContext& ctx) override
    {
        part_->SetDone(true);
        ctx.EmitPart(std::move(part_));
    }

private:
    std::unique_ptr<CResponseBlock> NewPart()
    {
        auto block = std::make_unique<CResponseBlock>(State());
        block->SetResult(S_OK, line_, okCode_);
        return block;
    }

    std::string commandLine_;
    UINT okCode_;
    HRESULT failure_;
    std::string line_;
    std::unique_ptr<CResponseBlock> part_;
};

}  // namespace

void CNntpCommand::EmitFailure(ICommandContext& ctx, HRESULT hr, std::string_view line, UINT code,
                               std::string_view problem)
{
    auto block = std::make_unique<CResponseBlock>(state_);
    block->SetResult(hr, line, code, problem);
    ctx.EmitPart(std::move(block));
}

CommandStep CNntpCommand::Refuse(const StatusLine& st, std::string_view line, ICommandContext& ctx)
{
    EmitFailure(ctx, FailureCode(st.code), line, st.code);
    return CommandStep::Done;
}

std::unique_ptr<CNntpCommand> MakeGroupCommand(std::string_view group)
{
    return std::make_unique<CGroupCommand>(group);
}

std::unique_ptr<CNntpCommand> MakeHeadersCommand(const RANGE& range)
{
    return std::make_unique<CHeadersCommand>(range);
}

std::unique_ptr<CNntpCommand> MakeArticleCommand(const ARTICLEID& id)
{
    return std::make_unique<CArticleCommand>(id);
}

std::unique_ptr<CNntpCommand> MakePostCommand(std::string article)
{
    return std::make_unique<CPostCommand>(std::move(article));
}

std::unique_ptr<CNntpCommand> MakeListCommand(std::string_view args)
{
    const std::string a = CommandArgument(args);
    return std::make_unique<CListingCommand>(NS_LIST, a.empty() ? "LIST" : "LIST " + a, kListFollows,
                                             IXP_E_NNTP_LIST_FAILED);
}

std::unique_ptr<CNntpCommand> MakeNewgroupsCommand(std::string_view when, std::string_view distribution)
{
    std::string line = "NEWGROUPS " + CommandArgument(when) + " GMT";
    const std::string dist = CommandArgument(distribution);
    if (!dist.empty()) line += dist.front() == '<' ? " " + dist : " <" + dist + ">";
    return std::make_unique<CListingCommand>(NS_NEWGROUPS, std::move(line), kNewgroupsFollow,
                                             IXP_E_NNTP_NEWGROUPS_FAILED);
}

}  // namespace quillory::nntp
