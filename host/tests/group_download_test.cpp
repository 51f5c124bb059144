// The group-list download as a conversation with a scripted transport: the
// commands it sends in answer to each response, how it reads list lines, and
// what it reports when the server or the connection fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/group_download.h"

namespace {

using quillory::ComPtr;
using quillory::GroupRecord;
using quillory::NewComObject;
using quillory::host::CGroupListDownload;

// Records the commands; the test plays the server by calling the callback.
class ScriptedTransport final : public INNTPTransport {
public:
    std::vector<std::string> sent;
    INNTPCallback* callback = nullptr;
    SYSTEMTIME newGroupsSince{};
    HRESULT disconnectResult = S_OK;

    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetServerInfo(LPINETSERVER) override { return S_OK; }
    IXPTYPE GetIXPType() override { return IXP_NNTP; }
    HRESULT IsState(IXPISSTATE) override { return S_FALSE; }
    HRESULT Connect(LPINETSERVER server, BOOL, BOOL) override
    {
        sent.push_back(std::string("CONNECT ") + server->szServerName);
        return S_OK;
    }
    HRESULT HandsOffCallback() override { return S_OK; }
    HRESULT Disconnect() override
    {
        sent.push_back("DISCONNECT");
        return disconnectResult;
    }
    HRESULT DropConnection() override
    {
        sent.push_back("DROP");
        return S_OK;
    }
    HRESULT GetStatus(IXPSTATUS*) override { return S_OK; }
    HRESULT InitNew(LPSTR, INNTPCallback* cb) override
    {
        callback = cb;
        return S_OK;
    }
    HRESULT CommandGROUP(LPSTR) override { return E_NOTIMPL; }
    HRESULT CommandARTICLE(LPARTICLEID) override { return E_NOTIMPL; }
    HRESULT CommandPOST(LPNNTPMESSAGE) override { return E_NOTIMPL; }
    HRESULT CommandLIST(LPSTR args) override
    {
        sent.push_back(args && *args ? std::string("LIST ") + args : "LIST");
        return S_OK;
    }
    HRESULT CommandNEWGROUPS(SYSTEMTIME* since, LPSTR) override
    {
        newGroupsSince = *since;
        sent.push_back("NEWGROUPS");
        return S_OK;
    }
    HRESULT CommandQUIT() override { return E_NOTIMPL; }
    HRESULT GetHeaders(LPRANGE) override { return E_NOTIMPL; }
    HRESULT ReleaseResponse(LPNNTPRESPONSE) override { return S_OK; }
};

class GroupDownload : public ::testing::Test {
protected:
    void Begin(bool descriptions)
    {
        const SYSTEMTIME since{2026, 11, 0, 30, 12, 0, 0, 0};
        download_ = ComPtr<CGroupListDownload>::Attach(NewComObject<CGroupListDownload>(
            descriptions, since, [this](std::size_t n, bool last) { progress_.emplace_back(n, last); }));
        INETSERVER server{};
        std::snprintf(server.szServerName, sizeof server.szServerName, "news.test");
        ASSERT_EQ(download_->Start(&transport_, server, nullptr), S_OK);
        ASSERT_EQ(transport_.callback, download_.Get());
    }

    void Respond(NNTPSTATE state, bool done, std::vector<std::string> lines = {}, HRESULT hr = S_OK,
                 const char* serverLine = nullptr)
    {
        std::vector<char*> pointers;
        for (auto& l : lines) pointers.push_back(l.data());
        NNTPRESPONSE r{};
        r.state = state;
        r.fDone = done;
        r.rIxpResult.hrResult = hr;
        r.rIxpResult.pszResponse = const_cast<LPSTR>(serverLine);
        r.pTransport = &transport_;
        r.rList.cLines = static_cast<DWORD>(pointers.size());
        r.rList.rgszLines = pointers.data();
        EXPECT_EQ(transport_.callback->OnResponse(&r), S_OK);
    }

    void Disconnected() { transport_.callback->OnStatus(IXP_DISCONNECTED, &transport_); }

    ScriptedTransport transport_;
    ComPtr<CGroupListDownload> download_;
    std::vector<std::pair<std::size_t, bool>> progress_;
};

GroupRecord G(std::string name, std::string description = {}, bool isNew = false)
{
    return GroupRecord{std::move(name), std::move(description), isNew, false};
}

TEST_F(GroupDownload, DescriptionsThenTheFullListThenNewGroupsThenDisconnect)
{
    Begin(true);
    EXPECT_EQ(transport_.sent, std::vector<std::string>{"CONNECT news.test"});
    Respond(NS_CONNECT, true);
    EXPECT_EQ(transport_.sent.back(), "LIST NEWSGROUPS");

    // Descriptions arrive in two parts; a group without one (or with "?") is
    // left to the plain list, comments and repeats are skipped.
    Respond(NS_LIST, false, {"# server comment", "zeta.talk\tTalk about zeta", "alpha.one   First group "});
    Respond(NS_LIST, true, {"quiet.group", "unknown.desc\t?", "alpha.one\tAgain"});
    EXPECT_EQ(transport_.sent.back(), "LIST");
    EXPECT_FALSE(download_->Completed());

    Respond(NS_LIST, false, {"alpha.one 0000000012 0000000001 y", "Beta.two 0000000000 0000000001 m"});
    Respond(NS_LIST, true, {"quiet.group 0 1 y", "unknown.desc 0 1 n", "zeta.talk 5 1 y"});
    EXPECT_TRUE(download_->Completed());
    EXPECT_EQ(transport_.sent.back(), "NEWGROUPS");
    EXPECT_EQ(transport_.newGroupsSince.wYear, 2026);
    EXPECT_EQ(transport_.newGroupsSince.wDay, 30);

    // Only groups in the list can be new.
    Respond(NS_NEWGROUPS, true, {"quiet.group 0 1 y", "not.listed 0 1 y"});
    EXPECT_EQ(transport_.sent.back(), "DISCONNECT");
    EXPECT_FALSE(download_->Finished());
    Disconnected();
    EXPECT_TRUE(download_->Finished());
    EXPECT_TRUE(download_->ErrorText().empty()) << download_->ErrorText();

    EXPECT_EQ(download_->NewGroups(), std::vector<std::string>{"quiet.group"});
    EXPECT_EQ(download_->TakeGroups(),
              (std::vector<GroupRecord>{G("alpha.one", "First group"), G("Beta.two"), G("quiet.group", "", true),
                                        G("unknown.desc"), G("zeta.talk", "Talk about zeta")}));
    ASSERT_FALSE(progress_.empty());
    EXPECT_EQ(progress_.back(), std::make_pair(std::size_t{5}, true));
}

TEST_F(GroupDownload, NamesWithTheSameHashAreStillTwoGroups)
{
    Begin(false);
    Respond(NS_CONNECT, true);
    EXPECT_EQ(transport_.sent.back(), "LIST");
    // These two names share their CRC-32.
    Respond(NS_LIST, true, {"alt.q.4375869 1 1 y", "alt.q.20000404 1 1 y"});
    Respond(NS_NEWGROUPS, true);
    Disconnected();
    EXPECT_EQ(download_->TakeGroups().size(), 2u);
}

TEST_F(GroupDownload, AFailedDescriptionListFallsBackButAFailedListIsAnError)
{
    Begin(true);
    Respond(NS_CONNECT, true);
    Respond(NS_LIST, true, {}, IXP_E_NNTP_RESPONSE_ERROR, "503 program fault");
    EXPECT_EQ(transport_.sent.back(), "LIST");
    Respond(NS_LIST, false, {"one.group 1 1 y"});
    Respond(NS_LIST, true, {}, IXP_E_CONNECTION_DROPPED);
    EXPECT_FALSE(download_->Completed());
    EXPECT_EQ(transport_.sent.back(), "DISCONNECT");
    Disconnected();
    EXPECT_TRUE(download_->Finished());
    EXPECT_NE(download_->ErrorText().find("Error happen during downloading"), std::string::npos);
}

TEST_F(GroupDownload, AConnectionErrorIsReportedOnceWithTheServersAnswer)
{
    Begin(false);
    IXPRESULT result{};
    result.hrResult = IXP_E_NNTP_INVALID_USERPASS;
    result.pszResponse = const_cast<LPSTR>("481 Authentication failed");
    result.uiServerError = 481;
    transport_.callback->OnError(IXP_AUTHORIZING, &result, &transport_);
    IXPRESULT later{};
    later.hrResult = IXP_E_CONNECTION_DROPPED;
    transport_.callback->OnError(IXP_DISCONNECTING, &later, &transport_);
    Respond(NS_CONNECT, true, {}, IXP_E_NNTP_INVALID_USERPASS);
    EXPECT_EQ(transport_.sent.back(), "DISCONNECT");
    Disconnected();
    EXPECT_FALSE(download_->Completed());
    const std::string& text = download_->ErrorText();
    EXPECT_EQ(text.rfind("Authorization error.\n800cccae\n", 0), 0u) << text;
    EXPECT_NE(text.find("   Server response: 481 Authentication failed\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Server response code"), std::string::npos) << text;
}

TEST_F(GroupDownload, AConnectionThatEndsEarlyIsNotASuccess)
{
    Begin(false);
    Respond(NS_CONNECT, true);
    Respond(NS_LIST, false, {"one.group 1 1 y"});
    Disconnected();
    EXPECT_TRUE(download_->Finished());
    EXPECT_FALSE(download_->Completed());
    EXPECT_FALSE(download_->ErrorText().empty());
}

}  // namespace
