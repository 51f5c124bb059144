// Pipelined commands: what goes out before the answers come back, and that
// the answers reach the owner exactly as one command at a time would give
// them, whatever the server says halfway through a window.
#include "platform/inetcomm/nntp/tests/nntp_engine_host.h"

namespace quillory::nntp {
namespace {

std::unique_ptr<CNntpCommand> Article(DWORD number)
{
    ARTICLEID id{};
    id.idType = AID_ARTICLENUM;
    id.dwArticleNum = number;
    return MakeArticleCommand(id);
}

std::string ArticleAnswer(DWORD number)
{
    return "220 " + std::to_string(number) + " <" + std::to_string(number) + "@x>\r\nSubject: " +
           std::to_string(number) + "\r\n\r\nbody\r\n.\r\n";
}

// State, result and (for articles) number of every response, in order.
std::vector<std::string> Summary(std::vector<NntpEvent>& events)
{
    std::vector<std::string> out;
    for (auto& e : Responses(events)) {
        const NNTPRESPONSE& r = e.block->Response();
        std::string s = std::to_string(r.state) + (SUCCEEDED(r.rIxpResult.hrResult) ? " ok" : " failed");
        if (r.state == NS_ARTICLE && SUCCEEDED(r.rIxpResult.hrResult)) s += " " + std::to_string(r.rArticle.dwArticleNum);
        if (r.state == NS_GROUP && SUCCEEDED(r.rIxpResult.hrResult)) s += std::string(" ") + r.rGroup.pszGroup;
        out.push_back(s);
    }
    return out;
}

TEST_F(NntpEngine, ArticlesGoOutTogetherUpToTheWindowAndAnswersKeepTheirOrder)
{
    Connect();
    engine_->Enqueue(MakeGroupCommand("misc.test"));
    for (DWORD n = 1; n <= kPipelineWindow + 5; ++n) engine_->Enqueue(Article(n));
    std::string expected = "GROUP misc.test\r\n";
    for (DWORD n = 1; n < kPipelineWindow; ++n) expected += "ARTICLE " + std::to_string(n) + "\r\n";
    EXPECT_EQ(host_.TakeSent(), expected);

    // Each answer read makes room for one more command. A refused article in
    // the middle is one failed answer among the others.
    engine_->Feed("211 3 1 40 misc.test\r\n" + ArticleAnswer(1) + "423 no such article\r\n");
    EXPECT_EQ(host_.TakeSent(), "ARTICLE " + std::to_string(kPipelineWindow) + "\r\nARTICLE " +
                                    std::to_string(kPipelineWindow + 1) + "\r\nARTICLE " +
                                    std::to_string(kPipelineWindow + 2) + "\r\n");
    std::string rest;
    for (DWORD n = 3; n <= kPipelineWindow + 5; ++n) rest += ArticleAnswer(n);
    engine_->Feed(rest);
    auto events = host_.TakeEvents();
    const auto summary = Summary(events);
    ASSERT_EQ(summary.size(), kPipelineWindow + 6);
    EXPECT_EQ(summary[0], "8 ok misc.test");
    EXPECT_EQ(summary[1], "12 ok 1");
    EXPECT_EQ(summary[2], "12 failed");
    EXPECT_EQ(summary.back(), "12 ok " + std::to_string(kPipelineWindow + 5));
    EXPECT_FALSE(engine_->AwaitingData());
}

TEST_F(NntpEngine, PostAndAnUntriedOverWaitForTheAnswersBeforeThem)
{
    Connect();
    engine_->Enqueue(MakeGroupCommand("a"));
    engine_->Enqueue(MakeHeadersCommand(RANGE{RT_RANGE, 1, 2}));
    engine_->Enqueue(MakeGroupCommand("b"));
    // OVER may still be answered with "unknown": nothing goes out with it.
    EXPECT_EQ(host_.TakeSent(), "GROUP a\r\n");
    engine_->Feed("211 2 1 2 a\r\n");
    EXPECT_EQ(host_.TakeSent(), "OVER 1-2\r\n");
    // Once the server has shown it knows OVER, the next command goes while
    // the overview is still arriving.
    engine_->Feed("224 overview\r\n1\ts\tf\td\t<1@x>\t\t1\t1\r\n");
    EXPECT_EQ(host_.TakeSent(), "GROUP b\r\n");
    engine_->Enqueue(MakeHeadersCommand(RANGE{RT_RANGE, 5, 6}));
    EXPECT_EQ(host_.TakeSent(), "OVER 5-6\r\n");
    engine_->Enqueue(MakePostCommand("Newsgroups: b\n\nhi\n"));
    engine_->Enqueue(MakeGroupCommand("c"));
    EXPECT_EQ(host_.TakeSent(), "");
    engine_->Feed(".\r\n211 0 5 6 b\r\n224 overview\r\n.\r\n");
    EXPECT_EQ(host_.TakeSent(), "POST\r\n");
    engine_->Feed("340 send\r\n");
    EXPECT_EQ(host_.TakeSent(), "Newsgroups: b\r\n\r\nhi\r\n.\r\n");
    engine_->Feed("240 posted\r\n");
    EXPECT_EQ(host_.TakeSent(), "GROUP c\r\n");
    engine_->Feed("211 0 1 0 c\r\n");
    auto events = host_.TakeEvents();
    EXPECT_EQ(Summary(events), (std::vector<std::string>{"8 ok a", "18 ok", "8 ok b", "18 ok", "3 ok", "8 ok c"}));
}

// A server that wants a logon only once commands are on their way: the
// answers behind the refused command are read and dropped, the logon runs,
// and the commands go again in their order, one at a time, with the group
// selected again that a dropped answer changed.
TEST_F(NntpEngine, LogonHalfwayThroughAWindowRepeatsTheWindowInOrder)
{
    Connect();
    engine_->Enqueue(MakeGroupCommand("a"));
    engine_->Enqueue(Article(1));
    engine_->Enqueue(MakeGroupCommand("b"));
    engine_->Enqueue(Article(7));
    EXPECT_EQ(host_.TakeSent(), "GROUP a\r\nARTICLE 1\r\nGROUP b\r\nARTICLE 7\r\n");
    // Groups are open to all; articles need a logon.
    engine_->Feed("211 1 1 1 a\r\n480 log on first\r\n211 1 7 7 b\r\n480 log on first\r\n");
    auto events = host_.TakeEvents();
    ASSERT_EQ(events.back().kind, EventKind::LogonQuery);
    EXPECT_EQ(Summary(events), (std::vector<std::string>{"8 ok a"}));
    engine_->OnLogonAnswer(S_OK, Server("tester", "secret"));
    engine_->Feed("381 more\r\n281 ok\r\n");
    // "b" was selected by a dropped answer; ARTICLE 1 belongs to "a".
    EXPECT_EQ(host_.TakeSent(), "AUTHINFO USER tester\r\nAUTHINFO PASS secret\r\nGROUP a\r\n");
    engine_->Feed("211 1 1 1 a\r\n");
    EXPECT_EQ(host_.TakeSent(), "ARTICLE 1\r\n");
    engine_->Feed(ArticleAnswer(1));
    EXPECT_EQ(host_.TakeSent(), "GROUP b\r\n");
    engine_->Feed("211 1 7 7 b\r\n");
    EXPECT_EQ(host_.TakeSent(), "ARTICLE 7\r\n");
    engine_->Feed(ArticleAnswer(7));
    events = host_.TakeEvents();
    EXPECT_EQ(Summary(events), (std::vector<std::string>{"12 ok 1", "8 ok b", "12 ok 7"}));
    EXPECT_FALSE(engine_->Pipelining());
    EXPECT_FALSE(host_.pipelineFailed);
}

TEST_F(NntpEngine, ADroppedAnswerWithABlockIsSkippedWhole)
{
    Connect();
    engine_->Enqueue(MakeGroupCommand("a"));
    engine_->Enqueue(Article(1));
    engine_->Enqueue(Article(2));
    host_.TakeSent();
    // The server refuses the group until logged on but still serves one article.
    engine_->Feed("480 log on\r\n" + ArticleAnswer(1) + "480 log on\r\n");
    engine_->OnLogonAnswer(S_OK, Server("tester", "secret"));
    engine_->Feed("281 ok\r\n");
    EXPECT_EQ(host_.TakeSent(), "AUTHINFO USER tester\r\nGROUP a\r\n");
    engine_->Feed("211 2 1 2 a\r\n" + ArticleAnswer(1) + ArticleAnswer(2));
    EXPECT_EQ(host_.TakeSent(), "ARTICLE 1\r\nARTICLE 2\r\n");
    auto events = host_.TakeEvents();
    EXPECT_EQ(Summary(events), (std::vector<std::string>{"8 ok a", "12 ok 1", "12 ok 2"}));
}

TEST_F(NntpEngine, ConnectionLostWithSeveralCommandsOnTheirWayIsReported)
{
    Connect();
    engine_->Enqueue(Article(1));
    engine_->Enqueue(Article(2));
    engine_->Enqueue(Article(3));
    engine_->Feed(ArticleAnswer(1));
    engine_->OnEndOfStream();
    EXPECT_TRUE(host_.pipelineFailed);
    auto events = host_.TakeEvents();
    EXPECT_EQ(Summary(events), (std::vector<std::string>{"12 ok 1", "0 failed"}));

    // Without pipelining each command waits for the answer before it.
    host_ = CRecordingHost{};
    Connect(false);
    engine_->Enqueue(Article(1));
    engine_->Enqueue(Article(2));
    EXPECT_EQ(host_.TakeSent(), "ARTICLE 1\r\n");
    engine_->Feed(ArticleAnswer(1));
    EXPECT_EQ(host_.TakeSent(), "ARTICLE 2\r\n");
    engine_->OnEndOfStream();
    EXPECT_FALSE(host_.pipelineFailed);
}

}  // namespace
}  // namespace quillory::nntp
