// The transport against a scripted server on loopback: the socket, thread
// and callback machinery, and what a misbehaving server does to it.
#include <asio.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/socket.h>

#include "platform/base/tests/test_home.h"
#include "platform/inetcomm/nntp/tests/nntp_test_callback.h"

namespace quillory::nntp::testing {
namespace {

using asio::ip::tcp;

// Accepts one connection and runs the script on it on its own thread.
class CFakeServer {
public:
    using Script = std::function<void(tcp::socket&)>;
    explicit CFakeServer(Script script)
        : acceptor_(io_, tcp::endpoint(asio::ip::address_v4::loopback(), 0)),
          port_(acceptor_.local_endpoint().port())
    {
        thread_ = std::thread([this, script = std::move(script)] {
            tcp::socket socket(io_);
            asio::error_code ec;
            acceptor_.accept(socket, ec);
            if (ec) return;
            fd_ = socket.native_handle();
            socket.set_option(tcp::no_delay(true), ec);
            try {
                script(socket);
            } catch (const std::exception&) {
                // The client went away mid-script; that is what some tests do.
            }
        });
    }
    // A script still waiting when the test ends (because it failed) is woken
    // by shutting the socket down under it.
    ~CFakeServer()
    {
        if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
    }
    DWORD Port() const { return port_; }

private:
    asio::io_context io_;
    tcp::acceptor acceptor_;
    DWORD port_;
    std::atomic<int> fd_{-1};
    std::thread thread_;
};

std::string ReadLine(tcp::socket& s)
{
    std::string line;
    char c;
    while (true) {
        asio::read(s, asio::buffer(&c, 1));
        if (c == '\n') break;
        if (c != '\r') line += c;
    }
    return line;
}

void Write(tcp::socket& s, std::string_view text) { asio::write(s, asio::buffer(text.data(), text.size())); }

// Waits until the client closes the connection.
void WaitForClose(tcp::socket& s)
{
    char buffer[512];
    asio::error_code ec;
    while (!ec) s.read_some(asio::buffer(buffer), ec);
}

// Greets, answers MODE READER, and checks the first command line.
void Greet(tcp::socket& s)
{
    Write(s, "200 fake news server\r\n");
    if (ReadLine(s) != "MODE READER") throw std::runtime_error("expected MODE READER");
    Write(s, "200 reader\r\n");
}

class NntpTransport : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CreateNNTPTransport(&transport_), S_OK);
        ASSERT_EQ(transport_->InitNew(nullptr, &callback_), S_OK);
    }
    void TearDown() override
    {
        if (transport_) transport_->Release();
        EXPECT_FALSE(callback_.wrongThread) << "a callback ran on another thread";
        EXPECT_EQ(callback_.refs, 1u) << "the transport kept a callback reference";
    }
    void ConnectTo(DWORD port, DWORD timeout = 10)
    {
        INETSERVER server = MakeServer("127.0.0.1", port, false, timeout);
        ASSERT_EQ(transport_->Connect(&server, TRUE, TRUE), S_OK);
    }
    bool WaitConnected()
    {
        return PumpUntil([&] { return callback_.Final(NS_CONNECT) || callback_.Disconnected(); }) &&
               callback_.Final(NS_CONNECT);
    }

    CTestCallback callback_;
    INNTPTransport* transport_ = nullptr;
};

TEST_F(NntpTransport, CallsBackOnTheOwnerThreadOnlyWhilePumping)
{
    quillory::testing::TempHome home;
    const std::string logPath = (home.path() / "nntp.log").string();
    ASSERT_EQ(transport_->InitNew(const_cast<char*>(logPath.c_str()), &callback_), S_OK);
    CFakeServer server([](tcp::socket& s) {
        Greet(s);
        if (ReadLine(s) != "GROUP misc.test") return;
        Write(s, "211 5 1 5 misc.test\r\n");
        if (ReadLine(s) != "QUIT") return;
        Write(s, "205 bye\r\n");
    });
    ConnectTo(server.Port());
    EXPECT_EQ(transport_->IsState(IXP_IS_CONNECTED), S_OK);
    EXPECT_EQ(transport_->IsState(IXP_IS_BUSY), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(callback_.statuses.empty()) << "called back without a message loop";

    ASSERT_TRUE(WaitConnected());
    EXPECT_EQ(transport_->IsState(IXP_IS_BUSY), S_FALSE);
    EXPECT_EQ(transport_->IsState(IXP_IS_READY), S_OK);
    EXPECT_EQ(transport_->IsState(IXP_IS_AUTHENTICATED), S_FALSE);  // no logon asked for
    ASSERT_EQ(transport_->CommandGROUP(const_cast<char*>("misc.test")), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return callback_.Final(NS_GROUP) != nullptr; }));
    EXPECT_EQ(callback_.Final(NS_GROUP)->group.dwLast, 5u);
    ASSERT_EQ(transport_->Disconnect(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return transport_->IsState(IXP_IS_CONNECTED) == S_FALSE; }));

    EXPECT_EQ(callback_.statuses,
              (std::vector<IXPSTATUS>{IXP_FINDINGHOST, IXP_CONNECTING, IXP_CONNECTED, IXP_AUTHORIZED,
                                      IXP_DISCONNECTING, IXP_DISCONNECTED}));
    EXPECT_TRUE(callback_.errors.empty());
    EXPECT_EQ(callback_.Final(NS_DISCONNECTED)->hr, S_OK);
    EXPECT_EQ(transport_->IsState(IXP_IS_BUSY), S_FALSE);
    EXPECT_NE(std::find(callback_.commands.begin(), callback_.commands.end(), "> GROUP misc.test"),
              callback_.commands.end());

    std::ifstream log(logPath);
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find("NNTP> GROUP misc.test"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("NNTP< 211 5 1 5 misc.test"), std::string::npos);
}

TEST_F(NntpTransport, UnderstandsAnAnswerArrivingByteByByte)
{
    CFakeServer server([](tcp::socket& s) {
        auto trickle = [&](std::string_view text) {
            for (char c : text) {
                Write(s, std::string_view(&c, 1));
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        };
        trickle("200 slow server\r\n");
        ReadLine(s);
        trickle("200 reader\r\n");
        ReadLine(s);
        trickle("220 3 <a@b> article\r\nSubject: slow\r\n\r\n..dot\nend\r\n.\r\n");
        WaitForClose(s);
    });
    ConnectTo(server.Port());
    ASSERT_TRUE(WaitConnected());
    ARTICLEID id{};
    id.idType = AID_ARTICLENUM;
    id.dwArticleNum = 3;
    ASSERT_EQ(transport_->CommandARTICLE(&id), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return callback_.Final(NS_ARTICLE) != nullptr; }));
    EXPECT_EQ(callback_.Final(NS_ARTICLE)->hr, S_OK);
    EXPECT_EQ(callback_.Article(), "Subject: slow\r\n\r\n.dot\r\nend\r\n");
}

TEST_F(NntpTransport, ConnectionDroppedMidArticleIsReportedAndEndsTheConnection)
{
    CFakeServer server([](tcp::socket& s) {
        Greet(s);
        ReadLine(s);
        Write(s, "220 1 <a@b>\r\nSubject: cut\r\n\r\nfirst half of the bo");
        s.close();
    });
    ConnectTo(server.Port());
    ASSERT_TRUE(WaitConnected());
    ARTICLEID id{};
    id.idType = AID_ARTICLENUM;
    id.dwArticleNum = 1;
    ASSERT_EQ(transport_->CommandARTICLE(&id), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return callback_.Disconnected(); }));
    ASSERT_EQ(callback_.errors.size(), 1u);
    EXPECT_EQ(callback_.errors[0], IXP_E_CONNECTION_DROPPED);
    EXPECT_EQ(callback_.Final(NS_DISCONNECTED)->hr, IXP_E_CONNECTION_DROPPED);
    EXPECT_EQ(callback_.Final(NS_ARTICLE), nullptr) << "an incomplete article must not look finished";
    EXPECT_EQ(transport_->IsState(IXP_IS_CONNECTED), S_FALSE);
    EXPECT_EQ(transport_->IsState(IXP_IS_BUSY), S_FALSE);
    EXPECT_EQ(transport_->CommandGROUP(const_cast<char*>("x")), IXP_E_NOT_CONNECTED);
}

TEST_F(NntpTransport, MalformedStatusLineAndEndlessLineAreErrors)
{
    struct Case {
        const char* name;
        std::string reply;
    };
    const Case cases[] = {
        {"malformed", "OK fine\r\n"},
        {"endless", std::string(2 * 1024 * 1024, 'x')},
    };
    for (const Case& c : cases) {
        CTestCallback callback;
        INNTPTransport* transport = nullptr;
        ASSERT_EQ(CreateNNTPTransport(&transport), S_OK);
        ASSERT_EQ(transport->InitNew(nullptr, &callback), S_OK);
        CFakeServer server([&c](tcp::socket& s) {
            Greet(s);
            ReadLine(s);
            Write(s, c.reply);
            WaitForClose(s);
        });
        INETSERVER record = MakeServer("127.0.0.1", server.Port());
        ASSERT_EQ(transport->Connect(&record, TRUE, FALSE), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return callback.Final(NS_CONNECT) != nullptr; })) << c.name;
        ASSERT_EQ(transport->CommandGROUP(const_cast<char*>("misc.test")), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return callback.Disconnected(); })) << c.name;
        ASSERT_EQ(callback.errors.size(), 1u) << c.name;
        EXPECT_EQ(callback.errors[0], IXP_E_NNTP_RESPONSE_ERROR) << c.name;
        EXPECT_EQ(callback.errorStatuses[0], IXP_AUTHORIZED) << c.name;
        EXPECT_FALSE(callback.errorProblems[0].empty()) << c.name;
        EXPECT_EQ(callback.Final(NS_GROUP), nullptr) << c.name;
        transport->Release();
    }
}

TEST_F(NntpTransport, SilentServerAsksOnTimeoutAndGivesUpWhenTold)
{
    CFakeServer server([](tcp::socket& s) {
        Greet(s);
        ReadLine(s);  // the GROUP command, never answered
        WaitForClose(s);
    });
    callback_.onTimeout = [&](DWORD* seconds) {
        if (callback_.timeouts.size() == 1) {
            *seconds = 2;  // wait on, longer
            return S_OK;
        }
        return S_FALSE;
    };
    ConnectTo(server.Port(), 1);
    ASSERT_TRUE(WaitConnected());
    ASSERT_EQ(transport_->CommandGROUP(const_cast<char*>("misc.test")), S_OK);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil([&] { return callback_.Disconnected(); }));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(callback_.timeouts, (std::vector<DWORD>{1, 2}));
    EXPECT_GE(waited, std::chrono::milliseconds(2900));
    ASSERT_EQ(callback_.errors.size(), 1u);
    EXPECT_EQ(callback_.errors[0], IXP_E_TIMEOUT);
    EXPECT_EQ(callback_.Final(NS_DISCONNECTED)->hr, IXP_E_TIMEOUT);
}

TEST_F(NntpTransport, OverUnknownFallsBackToXover)
{
    CFakeServer server([](tcp::socket& s) {
        Greet(s);
        if (ReadLine(s) != "OVER 1-4") return;
        Write(s, "500 unknown command\r\n");
        if (ReadLine(s) != "XOVER 1-4") return;
        Write(s,
              "224 overview\r\n"
              "1\tone\ta@b\td\t<1@b>\t\t10\t1\r\n"
              "two\tbad number\ta@b\td\t<2@b>\t\t10\t1\r\n"
              "3\tthree\ta@b\td\t<3@b>\r\n"
              "4\tfour\ta@b\td\t<4@b>\t<1@b>\t10\t1\tXref: h g:4\r\n"
              ".\r\n");
        WaitForClose(s);
    });
    ConnectTo(server.Port());
    ASSERT_TRUE(WaitConnected());
    RANGE range{RT_RANGE, 1, 4};
    ASSERT_EQ(transport_->GetHeaders(&range), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return callback_.Final(NS_HEADERS) != nullptr; }));
    const SeenResponse* r = callback_.Final(NS_HEADERS);
    EXPECT_EQ(r->hr, S_OK);
    EXPECT_EQ(r->headerIds, (std::vector<std::string>{"<1@b>", "<4@b>"}));
}

TEST_F(NntpTransport, StopsReadingWhileTheOwnerThreadIsNotListening)
{
    // 40 MB of group list; while nobody pumps, the transport may hold only a
    // bounded backlog, so the server's writes stall long before the end.
    constexpr std::size_t kChunks = 400;
    constexpr std::size_t kLinesPerChunk = 1000;
    std::string line = "some.group.name 1000 1 y ";
    line.resize(98, 'd');
    line += "\r\n";
    std::string chunk;
    for (std::size_t i = 0; i < kLinesPerChunk; ++i) chunk += line;
    const std::size_t total = kChunks * chunk.size();
    std::atomic<std::size_t> written{0};
    CFakeServer server([&](tcp::socket& s) {
        Greet(s);
        ReadLine(s);
        Write(s, "215 list follows\r\n");
        for (std::size_t i = 0; i < kChunks; ++i) {
            Write(s, chunk);
            written += chunk.size();
        }
        Write(s, ".\r\n");
        WaitForClose(s);
    });
    ConnectTo(server.Port());
    ASSERT_TRUE(WaitConnected());
    ASSERT_EQ(transport_->CommandLIST(nullptr), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_LT(written.load(), total / 2) << "the transport kept reading with nobody to deliver to";

    std::size_t lines = 0;
    callback_.onResponse = [&](const SeenResponse& r) { lines += r.lines.size(); };
    ASSERT_TRUE(PumpUntil([&] {
        if (callback_.responses.size() > 4) callback_.responses.erase(callback_.responses.begin());
        return callback_.Final(NS_LIST) != nullptr;
    }));
    EXPECT_EQ(lines, kChunks * kLinesPerChunk);
}

TEST_F(NntpTransport, UnreachableServerFailsTheConnect)
{
    DWORD port;
    {
        asio::io_context io;
        tcp::acceptor probe(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
        port = probe.local_endpoint().port();
    }
    ConnectTo(port);
    ASSERT_TRUE(PumpUntil([&] { return callback_.Disconnected(); }));
    ASSERT_EQ(callback_.errors.size(), 1u);
    EXPECT_EQ(callback_.errors[0], IXP_E_FAILED_TO_CONNECT);
    EXPECT_EQ(callback_.errorStatuses[0], IXP_CONNECTING);
    EXPECT_EQ(callback_.Final(NS_CONNECT), nullptr);
    EXPECT_EQ(transport_->IsState(IXP_IS_CONNECTED), S_FALSE);
}

TEST_F(NntpTransport, ReleasingWhileConnectedAndUndeliveredIsSafe)
{
    std::atomic<bool> sawQuitOrClose{false};
    {
        CFakeServer server([&](tcp::socket& s) {
            Greet(s);
            WaitForClose(s);
            sawQuitOrClose = true;
        });
        ConnectTo(server.Port());
        ASSERT_TRUE(WaitConnected());
        ASSERT_EQ(transport_->CommandLIST(nullptr), S_OK);
        transport_->HandsOffCallback();
        transport_->DropConnection();
        transport_->Release();
        transport_ = nullptr;
    }
    EXPECT_TRUE(sawQuitOrClose);
}

}  // namespace
}  // namespace quillory::nntp::testing
