// The protocol engine driven by scripted server input, without sockets.
#include "platform/inetcomm/nntp/tests/nntp_engine_host.h"

namespace quillory::nntp {
namespace {

TEST_F(NntpEngine, ConnectsReportsStatusesAndRunsQueuedCommandsInOrder)
{
    Open(Server());
    // Commands issued while the logon is still running wait for it.
    engine_->Enqueue(MakeGroupCommand("misc.test"));
    engine_->Enqueue(MakeListCommand(""));
    EXPECT_EQ(host_.TakeSent(), "");
    engine_->Feed("201 no posting\r\n");
    // Both go at once once the logon is done; the answers follow in order.
    EXPECT_EQ(host_.TakeSent(), "GROUP misc.test\r\nLIST\r\n");

    // A lying count is passed on as the server gave it.
    engine_->Feed("211 999999 10 12 misc.test\r\n");
    EXPECT_EQ(host_.TakeSent(), "");
    engine_->Feed("215 list follows\r\nmisc.test 12 10 y\r\n..dotted 1 1 y\r\n.\r\n");

    auto events = host_.TakeEvents();
    std::vector<IXPSTATUS> statuses;
    for (auto& e : events)
        if (e.kind == EventKind::Status) statuses.push_back(e.status);
    EXPECT_EQ(statuses, (std::vector<IXPSTATUS>{IXP_CONNECTED, IXP_AUTHORIZED}));
    auto responses = Responses(events);
    ASSERT_EQ(responses.size(), 3u);
    EXPECT_EQ(responses[0].block->State(), NS_CONNECT);
    NNTPRESPONSE& group = responses[1].block->Response();
    EXPECT_EQ(group.state, NS_GROUP);
    EXPECT_EQ(group.rGroup.dwCount, 999999u);
    EXPECT_EQ(group.rGroup.dwFirst, 10u);
    EXPECT_EQ(group.rGroup.dwLast, 12u);
    EXPECT_STREQ(group.rGroup.pszGroup, "misc.test");
    NNTPRESPONSE& list = responses[2].block->Response();
    ASSERT_EQ(list.rList.cLines, 2u);
    EXPECT_STREQ(list.rList.rgszLines[1], ".dotted 1 1 y");
    EXPECT_TRUE(list.fDone);
}

TEST_F(NntpEngine, LogsOnWithUserAndNeverShowsThePassword)
{
    engine_ = std::make_unique<CNntpEngine>(host_, Server("tester", "s3cret"), true, true);
    engine_->OnTransportUp();
    engine_->Feed("200 ready\r\n200 reader\r\n");
    EXPECT_EQ(host_.TakeSent(), "MODE READER\r\nAUTHINFO USER tester\r\n");
    engine_->Feed("381 more\r\n");
    EXPECT_EQ(host_.TakeSent(), "AUTHINFO PASS s3cret\r\n");
    engine_->Feed("281 ok\r\n");
    EXPECT_EQ(host_.log.find("s3cret"), std::string::npos);
    bool connected = false;
    for (auto& e : host_.TakeEvents()) {
        EXPECT_EQ(e.line.find("s3cret"), std::string::npos);
        if (e.kind == EventKind::Response) connected = e.block->State() == NS_CONNECT;
    }
    EXPECT_TRUE(connected);
}

TEST_F(NntpEngine, RefusedLogonAsksAndRetriesWithTheEditedRecord)
{
    engine_ = std::make_unique<CNntpEngine>(host_, Server("tester", "wrong"), true, false);
    engine_->OnTransportUp();
    engine_->Feed("200 ready\r\n200 reader\r\n381 more\r\n");
    host_.TakeSent();
    engine_->Feed("481 rejected\r\n");
    auto events = host_.TakeEvents();
    ASSERT_FALSE(events.empty());
    ASSERT_EQ(events.back().kind, EventKind::LogonQuery);
    EXPECT_STREQ(events.back().server->szPassword, "wrong");
    EXPECT_FALSE(engine_->AwaitingData());  // the user may take their time

    INETSERVER edited = Server("tester", "secret");
    engine_->OnLogonAnswer(S_OK, edited);
    EXPECT_EQ(host_.TakeSent(), "AUTHINFO USER tester\r\n");
    engine_->Feed("381 more\r\n");
    EXPECT_EQ(host_.TakeSent(), "AUTHINFO PASS secret\r\n");
    engine_->Feed("281 ok\r\n");
    events = host_.TakeEvents();
    EXPECT_EQ(events.front().status, IXP_AUTHRETRY);
    EXPECT_EQ(Responses(events).at(0).block->State(), NS_CONNECT);
}

TEST_F(NntpEngine, CancelledLogonFailsTheConnectionWithTheServersAnswer)
{
    engine_ = std::make_unique<CNntpEngine>(host_, Server("tester", "wrong"), true, false);
    engine_->OnTransportUp();
    engine_->Feed("200 ready\r\n200 reader\r\n381 more\r\n481 no such user\r\n");
    host_.TakeEvents();
    engine_->OnLogonAnswer(S_FALSE, Server());
    auto events = host_.TakeEvents();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0].kind, EventKind::Error);
    EXPECT_EQ(events[0].hr, IXP_E_NNTP_INVALID_USERPASS);
    EXPECT_EQ(events[0].response, "481 no such user");
    EXPECT_EQ(events[0].status, IXP_AUTHORIZING);
    auto responses = Responses(events);
    ASSERT_EQ(responses.size(), 1u);
    EXPECT_EQ(responses[0].block->State(), NS_DISCONNECTED);
    EXPECT_EQ(responses[0].block->Response().rIxpResult.hrResult, IXP_E_NNTP_INVALID_USERPASS);
    EXPECT_TRUE(host_.closed);
}

TEST_F(NntpEngine, AuthRequiredMidSessionPromptsThenRepeatsTheCommand)
{
    Connect();
    engine_->Enqueue(MakeGroupCommand("private.group"));
    EXPECT_EQ(host_.TakeSent(), "GROUP private.group\r\n");
    engine_->Feed("480 authentication required\r\n");
    auto events = host_.TakeEvents();
    ASSERT_EQ(events.back().kind, EventKind::LogonQuery);  // no user name yet: ask
    engine_->OnLogonAnswer(S_OK, Server("tester", "secret"));
    engine_->Feed("381 more\r\n281 ok\r\n");
    EXPECT_EQ(host_.TakeSent(), "AUTHINFO USER tester\r\nAUTHINFO PASS secret\r\nGROUP private.group\r\n");
    engine_->Feed("211 1 1 1 private.group\r\n");
    events = host_.TakeEvents();
    auto responses = Responses(events);
    ASSERT_EQ(responses.size(), 1u);
    EXPECT_EQ(responses[0].block->Response().rIxpResult.hrResult, S_OK);
}

TEST_F(NntpEngine, OverFallsBackToXoverAndDeliversRecordsInParts)
{
    Connect();
    RANGE range{RT_RANGE, 1, 1200};
    engine_->Enqueue(MakeHeadersCommand(range));
    EXPECT_EQ(host_.TakeSent(), "OVER 1-1200\r\n");
    engine_->Feed("500 what?\r\n");
    EXPECT_EQ(host_.TakeSent(), "XOVER 1-1200\r\n");
    std::string block = "224 overview follows\r\n";
    for (int i = 1; i <= 1200; ++i) {
        if (i == 7) block += "bad\trecord\r\n";
        block += std::to_string(i) + "\tsubj " + std::to_string(i) + "\tfrom\tdate\t<" + std::to_string(i) +
                 "@x>\t\t100\t3\r\n";
    }
    block += ".\r\n";
    engine_->Feed(block);

    auto events = host_.TakeEvents();
    auto parts = Responses(events);
    ASSERT_EQ(parts.size(), 3u);
    DWORD total = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        NNTPRESPONSE& r = parts[i].block->Response();
        EXPECT_EQ(r.state, NS_HEADERS);
        EXPECT_EQ(r.fDone != FALSE, i + 1 == parts.size());
        total += r.rHeaders.cHeaders;
    }
    EXPECT_EQ(total, 1200u);
    NNTPRESPONSE& last = parts[2].block->Response();
    EXPECT_EQ(last.rHeaders.rgHeaders[last.rHeaders.cHeaders - 1].dwArticleNum, 1200u);
    EXPECT_STREQ(last.rHeaders.rgHeaders[0].pszMessageId, "<1001@x>");

    // The fallback is remembered for the next request.
    engine_->Enqueue(MakeHeadersCommand(RANGE{RT_OPEN, 5, 0}));
    EXPECT_EQ(host_.TakeSent(), "XOVER 5-\r\n");
    // No articles in range: an empty, successful answer.
    engine_->Feed("423 none\r\n");
    events = host_.TakeEvents();
    auto empty = Responses(events);
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0].block->Response().rIxpResult.hrResult, S_OK);
    EXPECT_EQ(empty[0].block->Response().rHeaders.cHeaders, 0u);
}

TEST_F(NntpEngine, ArticleIsUnstuffedWithCrLfAndChunked)
{
    Connect();
    ARTICLEID id{};
    id.idType = AID_ARTICLENUM;
    id.dwArticleNum = 42;
    engine_->Enqueue(MakeArticleCommand(id));
    EXPECT_EQ(host_.TakeSent(), "ARTICLE 42\r\n");
    std::string big(1000, 'b');
    std::string text = "220 42 <m@x>\r\nSubject: t\n\n..leading dot\r\n";
    for (int i = 0; i < 100; ++i) text += big + "\r\n";
    text += ".\r\n";
    engine_->Feed(text);
    auto events = host_.TakeEvents();
    auto parts = Responses(events);
    ASSERT_EQ(parts.size(), 2u);  // 100 KB in 64 KB pieces
    std::string article;
    for (auto& p : parts) {
        NNTPRESPONSE& r = p.block->Response();
        EXPECT_EQ(r.rArticle.dwArticleNum, 42u);
        article.append(r.rArticle.pszLines, r.rArticle.cbLines);
    }
    EXPECT_TRUE(parts.back().block->Response().fDone);
    EXPECT_EQ(article.substr(0, 32), "Subject: t\r\n\r\n.leading dot\r\nbbbb");
    EXPECT_EQ(article.size(), 28u + 100u * 1002u);
}

TEST_F(NntpEngine, PostSendsTheStuffedArticleAndReportsRefusal)
{
    Connect();
    engine_->Enqueue(MakePostCommand("Newsgroups: a\n\n.x\n"));
    EXPECT_EQ(host_.TakeSent(), "POST\r\n");
    engine_->Feed("340 send it\r\n");
    EXPECT_EQ(host_.TakeSent(), "Newsgroups: a\r\n\r\n..x\r\n.\r\n");
    engine_->Feed("240 thanks\r\n");
    engine_->Enqueue(MakePostCommand("x"));
    engine_->Feed("440 posting not allowed\r\n");
    auto events = host_.TakeEvents();
    auto r = Responses(events);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].block->Response().rIxpResult.hrResult, S_OK);
    EXPECT_EQ(r[1].block->Response().rIxpResult.hrResult, IXP_E_NNTP_POST_FAILED);
    EXPECT_STREQ(r[1].block->Response().rIxpResult.pszResponse, "440 posting not allowed");
    EXPECT_EQ(r[1].block->Response().rIxpResult.uiServerError, 440u);
}

TEST_F(NntpEngine, ProtocolViolationsEndTheConnectionWithAnError)
{
    struct Case {
        const char* name;
        std::string input;
    };
    const Case cases[] = {
        {"malformed status", "hello there\r\n"},
        {"endless line", std::string(kMaxLineLength + 10, 'z')},
    };
    for (const Case& c : cases) {
        host_ = CRecordingHost{};
        Connect();
        engine_->Enqueue(MakeGroupCommand("misc.test"));
        engine_->Feed(c.input);
        auto events = host_.TakeEvents();
        ASSERT_GE(events.size(), 3u) << c.name;
        EXPECT_EQ(events[0].kind, EventKind::Error) << c.name;
        EXPECT_EQ(events[0].hr, IXP_E_NNTP_RESPONSE_ERROR) << c.name;
        EXPECT_EQ(events[0].status, IXP_AUTHORIZED) << c.name;
        EXPECT_EQ(events.back().block->State(), NS_DISCONNECTED) << c.name;
        EXPECT_TRUE(host_.closed) << c.name;
        EXPECT_TRUE(engine_->Closed()) << c.name;
    }
}

TEST_F(NntpEngine, QuitAfterQueuedCommandsEndsCleanly)
{
    Connect();
    engine_->Enqueue(MakeGroupCommand("a"));
    engine_->Quit();
    EXPECT_EQ(host_.TakeSent(), "GROUP a\r\n");
    engine_->Feed("411 no such group\r\n");
    EXPECT_EQ(host_.TakeSent(), "QUIT\r\n");
    engine_->Feed("205 bye\r\n");
    auto events = host_.TakeEvents();
    auto r = Responses(events);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].block->Response().rIxpResult.hrResult, IXP_E_NNTP_GROUP_NOTFOUND);
    EXPECT_EQ(r[1].block->State(), NS_DISCONNECTED);
    EXPECT_EQ(r[1].block->Response().rIxpResult.hrResult, S_OK);
    bool sawError = false;
    for (auto& e : events) sawError = sawError || e.kind == EventKind::Error;
    EXPECT_FALSE(sawError);
}

TEST_F(NntpEngine, DroppedConnectionMidArticleReportsConnectionDropped)
{
    Connect();
    ARTICLEID id{};
    id.idType = AID_ARTICLENUM;
    id.dwArticleNum = 1;
    engine_->Enqueue(MakeArticleCommand(id));
    engine_->Feed("220 1 <m@x>\r\nSubject: half");
    engine_->OnEndOfStream();
    auto events = host_.TakeEvents();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0].hr, IXP_E_CONNECTION_DROPPED);
    EXPECT_EQ(events.back().block->State(), NS_DISCONNECTED);
    EXPECT_EQ(events.back().block->Response().rIxpResult.hrResult, IXP_E_CONNECTION_DROPPED);
}

}  // namespace
}  // namespace quillory::nntp
