// The transport against the local INN news server that scripts/inn-setup.sh
// prepares: plain reader port 119, logon port 1119 (tester/secret) and the
// implicit-TLS port 1563 whose certificate comes from the test CA in
// QUILLORY_INN_DIR. Without the server the tests skip, unless QUILLORY_INN=1
// says it must be there (as in scripts/test.sh).
#include <asio.hpp>
#include <asio/ssl.hpp>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "platform/com/stream.h"
#include "platform/inetcomm/nntp/tests/nntp_test_callback.h"

namespace quillory::nntp::testing {
namespace {

constexpr DWORD kPlainPort = 119;
constexpr DWORD kLogonPort = 1119;
constexpr DWORD kTlsPort = 1563;

std::string InnDir()
{
    const char* dir = std::getenv("QUILLORY_INN_DIR");
    return dir && *dir ? dir : "/var/tmp/quillory-inn";
}

bool Listening(DWORD port)
{
    asio::io_context io;
    asio::ip::tcp::socket s(io);
    asio::error_code ec;
    s.connect({asio::ip::address_v4::loopback(), static_cast<unsigned short>(port)}, ec);
    return !ec;
}

bool Required()
{
    const char* v = std::getenv("QUILLORY_INN");
    return v && std::string(v) == "1";
}

#define REQUIRE_INN(port)                                                                      \
    do {                                                                                       \
        if (!Listening(port)) {                                                                \
            if (Required()) FAIL() << "no news server on port " << (port) << " (QUILLORY_INN=1)"; \
            GTEST_SKIP() << "no news server on port " << (port) << "; run scripts/inn-setup.sh"; \
        }                                                                                      \
    } while (0)

std::string RandomSuffix()
{
    std::random_device rd;
    std::mt19937_64 gen(rd());
    return std::to_string(gen() % 1000000000ull);
}

// A group of its own for each run, so runs never see each other's articles.
std::string CreateGroup()
{
    const std::string name = "quillory.test.g" + RandomSuffix();
    const std::string cmd = "/usr/lib/news/bin/ctlinnd -s newgroup " + name + " y >/dev/null 2>&1";
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (std::system(cmd.c_str()) == 0) return name;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return {};
}

class CSession {
public:
    CSession()
    {
        EXPECT_EQ(CreateNNTPTransport(&transport), S_OK);
        EXPECT_EQ(transport->InitNew(nullptr, &callback), S_OK);
    }
    ~CSession()
    {
        if (transport->IsState(IXP_IS_CONNECTED) == S_OK) {
            transport->Disconnect();
            PumpUntil([&] { return transport->IsState(IXP_IS_CONNECTED) == S_FALSE; });
        }
        transport->Release();
        EXPECT_FALSE(callback.wrongThread);
    }
    bool Connect(DWORD port, bool ssl, const char* user = "", const char* password = "",
                 const char* host = "127.0.0.1")
    {
        INETSERVER server = MakeServer(host, port, ssl);
        std::strcpy(server.szUserName, user);
        std::strcpy(server.szPassword, password);
        if (transport->Connect(&server, TRUE, TRUE) != S_OK) return false;
        return Idle() && callback.Final(NS_CONNECT) != nullptr;
    }
    bool Idle()
    {
        return PumpUntil([&] { return transport->IsState(IXP_IS_BUSY) == S_FALSE; });
    }
    // Runs one command and answers its final response (null when none came).
    const SeenResponse* Run(NNTPSTATE state, HRESULT issued)
    {
        callback.responses.clear();
        EXPECT_EQ(issued, S_OK);
        if (issued != S_OK || !Idle()) return nullptr;
        return callback.Final(state);
    }
    const SeenResponse* Post(const std::string& article)
    {
        IStream* stream = nullptr;
        EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
        ULONG written = 0;
        stream->Write(article.data(), static_cast<ULONG>(article.size()), &written);
        LARGE_INTEGER zero{};
        stream->Seek(zero, STREAM_SEEK_SET, nullptr);
        NNTPMESSAGE message{static_cast<ULONG>(article.size()), stream};
        const HRESULT hr = transport->CommandPOST(&message);
        stream->Release();  // the transport has read it already
        return Run(NS_POST, hr);
    }

    CTestCallback callback;
    INNTPTransport* transport = nullptr;
};

std::string Article(const std::string& group, const std::string& id, const std::string& subject)
{
    return "From: Quillory Test <test@example.com>\r\n"
           "Newsgroups: " + group + "\r\n"
           "Subject: " + subject + "\r\n"
           "Message-ID: " + id + "\r\n"
           "\r\n"
           "first line\r\n"
           ".leading dot survives\r\n"
           "last line\r\n";
}

// The reader's whole road on one connection: post, select, overview,
// article, new groups, and both list forms.
void ReaderRoad(DWORD port, bool ssl)
{
    const std::string group = CreateGroup();
    ASSERT_FALSE(group.empty()) << "ctlinnd newgroup failed (run as root?)";
    CSession session;
    ASSERT_TRUE(session.Connect(port, ssl)) << (session.callback.errorProblems.empty()
                                                    ? std::string()
                                                    : session.callback.errorProblems[0]);

    const std::string tag = RandomSuffix();
    std::vector<std::string> ids;
    for (int i = 0; i < 3; ++i) {
        ids.push_back("<quillory." + tag + "." + std::to_string(i) + "@example.com>");
        const SeenResponse* posted = session.Post(Article(group, ids.back(), "test " + std::to_string(i)));
        ASSERT_NE(posted, nullptr);
        ASSERT_EQ(posted->hr, S_OK) << posted->response;
    }
    // A repeated message-id is refused, and the refusal says so.
    const SeenResponse* dup = session.Post(Article(group, ids[0], "again"));
    ASSERT_NE(dup, nullptr);
    EXPECT_EQ(dup->hr, IXP_E_NNTP_POST_FAILED);
    EXPECT_FALSE(dup->response.empty());

    const SeenResponse* selected = nullptr;
    for (int attempt = 0; attempt < 20; ++attempt) {
        selected = session.Run(NS_GROUP, session.transport->CommandGROUP(const_cast<char*>(group.c_str())));
        ASSERT_NE(selected, nullptr);
        ASSERT_EQ(selected->hr, S_OK) << selected->response;
        if (selected->group.dwCount >= 3) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(selected->group.dwCount, 3u);
    const NNTPGROUP g = selected->group;

    RANGE range{RT_RANGE, g.dwFirst, g.dwLast};
    ASSERT_NE(session.Run(NS_HEADERS, session.transport->GetHeaders(&range)), nullptr);
    std::vector<std::string> seenIds, subjects;
    for (const auto& r : session.callback.responses) {
        if (r.state != NS_HEADERS) continue;
        EXPECT_EQ(r.hr, S_OK);
        seenIds.insert(seenIds.end(), r.headerIds.begin(), r.headerIds.end());
        subjects.insert(subjects.end(), r.headerSubjects.begin(), r.headerSubjects.end());
    }
    EXPECT_EQ(seenIds, ids);
    EXPECT_EQ(subjects, (std::vector<std::string>{"test 0", "test 1", "test 2"}));

    ARTICLEID aid{};
    aid.idType = AID_ARTICLENUM;
    aid.dwArticleNum = g.dwFirst;
    const SeenResponse* article = session.Run(NS_ARTICLE, session.transport->CommandARTICLE(&aid));
    ASSERT_NE(article, nullptr);
    ASSERT_EQ(article->hr, S_OK);
    const std::string text = session.callback.Article();
    EXPECT_NE(text.find("Message-ID: " + ids[0] + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n\r\nfirst line\r\n.leading dot survives\r\nlast line\r\n"), std::string::npos)
        << text;

    SYSTEMTIME since;
    GetSystemTime(&since);
    since.wYear -= 1;
    const SeenResponse* fresh =
        session.Run(NS_NEWGROUPS, session.transport->CommandNEWGROUPS(&since, const_cast<char*>("")));
    ASSERT_NE(fresh, nullptr);
    ASSERT_EQ(fresh->hr, S_OK) << fresh->response;
    bool listedNew = false;
    for (const auto& r : session.callback.responses)
        for (const auto& line : r.lines) listedNew = listedNew || line.rfind(group + " ", 0) == 0;
    EXPECT_TRUE(listedNew);

    const SeenResponse* active = session.Run(NS_LIST, session.transport->CommandLIST(nullptr));
    ASSERT_NE(active, nullptr);
    ASSERT_EQ(active->hr, S_OK);
    bool listed = false;
    for (const auto& r : session.callback.responses)
        for (const auto& line : r.lines) listed = listed || line.rfind(group + " ", 0) == 0;
    EXPECT_TRUE(listed);

    const SeenResponse* descriptions =
        session.Run(NS_LIST, session.transport->CommandLIST(const_cast<char*>("NEWSGROUPS")));
    ASSERT_NE(descriptions, nullptr);
    ASSERT_EQ(descriptions->hr, S_OK) << descriptions->response;
    std::size_t lines = 0;
    for (const auto& r : session.callback.responses) lines += r.lines.size();
    EXPECT_GT(lines, 0u);
    EXPECT_TRUE(session.callback.errors.empty());
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(NntpInn, ReaderRoadOverPlainTcp)
{
    REQUIRE_INN(kPlainPort);
    ReaderRoad(kPlainPort, false);
}

TEST(NntpInn, ReaderRoadOverTls)
{
    REQUIRE_INN(kTlsPort);
    ScopedEnv ca("SSL_CERT_FILE", (InnDir() + "/ca.pem").c_str());
    ReaderRoad(kTlsPort, true);
}

TEST(NntpInn, UntrustedCertificateIsRefused)
{
    REQUIRE_INN(kTlsPort);
    ScopedEnv ca("SSL_CERT_FILE", nullptr);
    CSession session;
    EXPECT_FALSE(session.Connect(kTlsPort, true));
    ASSERT_EQ(session.callback.errors.size(), 1u);
    EXPECT_EQ(session.callback.errors[0], IXP_E_SECURE_CONNECT_FAILED);
    EXPECT_EQ(session.callback.errorStatuses[0], IXP_SECURING);
    EXPECT_NE(session.callback.errorProblems[0].find("certificate"), std::string::npos)
        << session.callback.errorProblems[0];
    EXPECT_EQ(session.transport->IsState(IXP_IS_CONNECTED), S_FALSE);
}

TEST(NntpInn, CertificateForAnotherNameIsRefused)
{
    const std::string cert = InnDir() + "/wrong-name.pem";
    if (!std::filesystem::exists(cert)) {
        if (Required()) FAIL() << cert << " is missing; run scripts/inn-test-setup.sh";
        GTEST_SKIP() << cert << " is missing; run scripts/inn-test-setup.sh";
    }
    ScopedEnv ca("SSL_CERT_FILE", (InnDir() + "/ca.pem").c_str());
    // A server with a certificate the test CA signed, but for another name.
    asio::io_context io;
    asio::ssl::context tls(asio::ssl::context::tls_server);
    tls.use_certificate_chain_file(cert);
    tls.use_private_key_file(InnDir() + "/wrong-name.key", asio::ssl::context::pem);
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::address_v4::loopback(), 0});
    const DWORD port = acceptor.local_endpoint().port();
    std::thread server([&] {
        asio::ssl::stream<asio::ip::tcp::socket> stream(io, tls);
        asio::error_code ec;
        acceptor.accept(stream.next_layer(), ec);
        if (!ec) stream.handshake(asio::ssl::stream_base::server, ec);
    });
    CSession session;
    EXPECT_FALSE(session.Connect(port, true));
    server.join();
    ASSERT_EQ(session.callback.errors.size(), 1u);
    EXPECT_EQ(session.callback.errors[0], IXP_E_SECURE_CONNECT_FAILED);
    EXPECT_NE(session.callback.errorProblems[0].find("mismatch"), std::string::npos)
        << session.callback.errorProblems[0];
}

TEST(NntpInn, LogonWithGoodAndBadPasswords)
{
    REQUIRE_INN(kLogonPort);
    const std::string group = CreateGroup();
    ASSERT_FALSE(group.empty());
    {
        CSession good;
        ASSERT_TRUE(good.Connect(kLogonPort, false, "tester", "secret"));
        EXPECT_EQ(good.transport->IsState(IXP_IS_AUTHENTICATED), S_OK);
        const SeenResponse* r = good.Run(NS_GROUP, good.transport->CommandGROUP(const_cast<char*>(group.c_str())));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->hr, S_OK) << r->response;
        EXPECT_EQ(good.callback.logonPrompts, 0);
        for (const auto& line : good.callback.commands) EXPECT_EQ(line.find("secret"), std::string::npos);
    }
    {
        // A wrong password: the prompt is asked, and cancelling it fails the logon.
        CSession bad;
        EXPECT_FALSE(bad.Connect(kLogonPort, false, "tester", "wrong"));
        EXPECT_EQ(bad.callback.logonPrompts, 1);
        ASSERT_EQ(bad.callback.errors.size(), 1u);
        EXPECT_EQ(bad.callback.errors[0], IXP_E_NNTP_INVALID_USERPASS);
        EXPECT_EQ(bad.callback.errorResponses[0].substr(0, 3), "481");
        EXPECT_EQ(bad.callback.Final(NS_DISCONNECTED)->hr, IXP_E_NNTP_INVALID_USERPASS);
    }
    {
        // No user at first: the server's 480 brings the prompt, whose answer logs on.
        CSession prompted;
        prompted.callback.onLogon = [](LPINETSERVER server) {
            std::strcpy(server->szUserName, "tester");
            std::strcpy(server->szPassword, "secret");
            return S_OK;
        };
        ASSERT_TRUE(prompted.Connect(kLogonPort, false));
        const SeenResponse* r =
            prompted.Run(NS_GROUP, prompted.transport->CommandGROUP(const_cast<char*>(group.c_str())));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->hr, S_OK) << r->response;
        EXPECT_EQ(prompted.callback.logonPrompts, 1);
        INETSERVER info{};
        prompted.transport->GetServerInfo(&info);
        EXPECT_STREQ(info.szUserName, "tester");
    }
}

}  // namespace
}  // namespace quillory::nntp::testing
