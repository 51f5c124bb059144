// Reading news end to end through the `quillory` program against the local
// INN (scripts/inn-setup.sh): newsgroups made for the run and filled through
// the reader port, a profile with an account subscribed to them, and a send
// and receive that must file every article in its group's folder, threaded,
// with decoded subjects, attachments and HTML; again with nothing new. The
// remote-header flow as a mail client drives it, and a post that cannot reach
// the server. Without the server the tests skip, unless QUILLORY_INN=1.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/header_flow.h"
#include "host/tests/inn_test_util.h"
#include "host/tests/run_program.h"
#include "platform/base/time.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/session.h"

namespace quillory::testing {
namespace {

constexpr unsigned short kClosedPort = 9;  // discard: nothing listens on loopback

// A plain NNTP reader on the news port: one command, its answer.
class NntpClient {
public:
    NntpClient()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(kInnPort);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval tv{10, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
        connected_ = Line().starts_with("20") && Command("MODE READER").starts_with("20");
    }
    ~NntpClient()
    {
        if (fd_ >= 0) close(fd_);
    }
    NntpClient(const NntpClient&) = delete;
    NntpClient& operator=(const NntpClient&) = delete;

    bool Connected() const { return connected_; }

    std::string Command(const std::string& line)
    {
        Send(line + "\r\n");
        return Line();
    }

    // POST of headers and body (LF line ends); the server's final answer.
    std::string Post(const std::string& article)
    {
        if (!Command("POST").starts_with("340")) return "no POST";
        std::string wire;
        std::istringstream in(article);
        for (std::string line; std::getline(in, line);) wire += (line.starts_with(".") ? "." : "") + line + "\r\n";
        Send(wire + ".\r\n");
        return Line();
    }

    // The whole article with this message-id, CR LF line ends, or none.
    std::optional<std::string> Article(const std::string& messageId)
    {
        if (!Command("ARTICLE " + messageId).starts_with("220")) return std::nullopt;
        std::string text;
        for (std::string line = Line(); line != "."; line = Line()) text += line + "\r\n";
        return text;
    }

private:
    void Send(const std::string& s) { (void)!::send(fd_, s.data(), s.size(), MSG_NOSIGNAL); }
    std::string Line()
    {
        for (;;) {
            if (const auto nl = buffer_.find("\r\n"); nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 2);
                return line;
            }
            char chunk[4096];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) return {};
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

    int fd_ = -1;
    bool connected_ = false;
    std::string buffer_;
};

bool MakeGroup(const std::string& name) { return Ctlinnd("newgroup " + name + " y"); }

// The run's two groups and their articles, posted once for all tests.
struct Seed {
    std::string run = std::to_string(::getpid()) + "x" + std::to_string(GetTickCount());
    std::string talk = "local.quillory.e2e.talk" + run;
    std::string files = "local.quillory.e2e.files" + run;
    std::string Id(const std::string& what) const { return "<" + what + "." + run + "@e2e.quillory.test>"; }
    bool ok = false;
    std::string problem;
};

Seed& RunSeed()
{
    static Seed seed = [] {
        Seed s;
        NntpClient nntp;
        if (!nntp.Connected()) return s;
        if (!MakeGroup(s.talk) || !MakeGroup(s.files)) {
            s.problem = "ctlinnd newgroup failed";
            return s;
        }
        const std::string root = s.Id("root"), answer = s.Id("answer");
        const std::vector<std::string> articles = {
            "From: Ann Root <ann@e2e.test>\nNewsgroups: " + s.talk + "\nSubject: Thread start\nMessage-ID: " + root +
                "\n\nThe first article.\n",
            "From: Bob Answer <bob@e2e.test>\nNewsgroups: " + s.talk +
                "\nSubject: Re: Thread start\nMessage-ID: " + answer + "\nReferences: " + root +
                "\nIn-Reply-To: " + root + "\n\n> The first article.\nAn answer.\n",
            // Threaded by the last References entry alone.
            "From: Cy Deep <cy@e2e.test>\nNewsgroups: " + s.talk + "\nSubject: Re: Thread start\nMessage-ID: " +
                s.Id("deep") + "\nReferences: " + root + " " + answer + "\n\nThird level.\n",
            "From: =?UTF-8?Q?J=C3=BCrgen?= <j@e2e.test>\nNewsgroups: " + s.talk +
                "\nSubject: =?UTF-8?Q?Caf=C3=A9_cr=C3=A8me?=\nMessage-ID: " + s.Id("utf8") +
                "\nMIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\n"
                "Content-Transfer-Encoding: 8bit\n\nCaf\xC3\xA9.\n",
            "From: Latin <latin@e2e.test>\nNewsgroups: " + s.talk + "\nSubject: =?ISO-8859-1?B?R3L832U=?=\nMessage-ID: " +
                s.Id("latin") + "\n\nGruesse.\n",
            "From: Files <files@e2e.test>\nNewsgroups: " + s.files + "\nSubject: With a file\nMessage-ID: " +
                s.Id("attach") +
                "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b1\"\n\n--b1\n"
                "Content-Type: text/plain; charset=us-ascii\n\nSee the file.\n--b1\n"
                "Content-Type: application/octet-stream; name=\"data.bin\"\n"
                "Content-Disposition: attachment; filename=\"data.bin\"\nContent-Transfer-Encoding: base64\n\n"
                "AAECAwQFBgcICQ==\n--b1--\n",
            "From: Html <html@e2e.test>\nNewsgroups: " + s.files + "\nSubject: In HTML\nMessage-ID: " + s.Id("html") +
                "\nMIME-Version: 1.0\nContent-Type: text/html; charset=us-ascii\n\n"
                "<html><body><p>Marked <b>up</b></p></body></html>\n",
        };
        for (const auto& a : articles) {
            const std::string answerLine = nntp.Post(a);
            if (!answerLine.starts_with("240")) {
                s.problem = "POST refused: " + answerLine;
                return s;
            }
        }
        s.ok = true;
        return s;
    }();
    return seed;
}

// One row of `quillory store messages`.
using Row = std::map<std::string, std::string>;

class NewsRoundTrip : public ::testing::Test {
protected:
    void SetUp() override
    {
        QUILLORY_REQUIRE_INN();
        ASSERT_TRUE(seed.ok) << seed.problem;
        Run({"setup", "install"});
        Run({"profile", "create", "P"});
        Run({"account", "add", "--profile", "P", "--server", "127.0.0.1", "--name", "Ann Smith", "--email",
             "ann@example.org", "--account", "news"});
        Run({"groups", "--profile", "P", "--account", "news", "--download"});
        Run({"subscribe", "--profile", "P", "--account", "news", seed.talk, seed.files});
    }

    ProgramOutcome Run(std::vector<std::string> args, int expected = 0, std::optional<std::string> input = {})
    {
        ProgramOutcome o = RunQuillory(home, args, std::move(input));
        EXPECT_EQ(o.status, expected) << args[0] << "\n" << o.out << o.err;
        return o;
    }

    std::string Folder(const std::string& group) { return "Inbox/Newsgroups/news/" + group; }

    // The folder's messages with the given columns (PR_ names), by subject order of the store.
    std::vector<Row> Messages(const std::string& folder, const std::vector<std::string>& columns)
    {
        std::string list;
        for (const auto& c : columns) list += (list.empty() ? "" : ",") + c;
        const ProgramOutcome o = RunQuillory(home, {"store", "messages", folder, "--profile", "P", "--columns", list});
        std::vector<Row> rows;
        if (o.status != 0) return rows;
        std::istringstream in(o.out);
        std::string line;
        std::getline(in, line);  // the heading
        while (std::getline(in, line)) {
            Row row;
            std::istringstream cells(line);
            std::string cell;
            for (const auto& c : columns) {
                std::getline(cells, cell, '\t');
                row[c] = cell;
            }
            rows.push_back(row);
        }
        return rows;
    }

    const Seed& seed = RunSeed();
    TempHome home;
};

const Row* BySubject(const std::vector<Row>& rows, const std::string& subject)
{
    for (const auto& r : rows)
        if (r.at("PR_SUBJECT") == subject) return &r;
    ADD_FAILURE() << "no message \"" << subject << "\"";
    return nullptr;
}

std::string Unquoted(std::string s)
{
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
    return s;
}

TEST_F(NewsRoundTrip, SyncFilesEveryArticleThreadedAndASecondSyncAddsNothing)
{
    Run({"sync", "--profile", "P"});

    const std::vector<std::string> cols = {"PR_SUBJECT", "PR_CONVERSATION_TOPIC", "PR_CONVERSATION_INDEX",
                                           "PR_INTERNET_MESSAGE_ID", "PR_HASATTACH", "PR_MESSAGE_CLASS"};
    const auto talk = Messages(Folder(seed.talk), cols);
    ASSERT_EQ(talk.size(), 5u) << Run({"store", "folders", "--profile", "P"}).out;
    // Subjects decoded (into the system code page) from UTF-8 and Latin-1 words.
    const ProgramOutcome threads = Run({"store", "threads", Folder(seed.talk), "--profile", "P"});
    EXPECT_TRUE(Contains(threads.out, "Caf")) << threads.out;
    EXPECT_TRUE(Contains(threads.out, "Gr")) << threads.out;
    EXPECT_FALSE(Contains(threads.out, "=?")) << threads.out;

    // The answer's index extends the root's by one five-byte block, the third
    // level's extends the answer's; all share the topic without "Re: ".
    std::map<std::string, std::string> index;
    for (const auto& r : talk) {
        index[Unquoted(r.at("PR_INTERNET_MESSAGE_ID"))] = r.at("PR_CONVERSATION_INDEX");
        EXPECT_EQ(r.at("PR_MESSAGE_CLASS"), "IPM.Post") << r.at("PR_SUBJECT");
    }
    const std::string root = index[seed.Id("root")], answer = index[seed.Id("answer")], deep = index[seed.Id("deep")];
    ASSERT_FALSE(root.empty());
    EXPECT_EQ(answer.size(), root.size() + 10) << root << " / " << answer;
    EXPECT_EQ(answer.substr(0, root.size()), root);
    EXPECT_EQ(deep.size(), answer.size() + 10) << deep;
    EXPECT_EQ(deep.substr(0, answer.size()), answer);
    for (const auto& r : talk) {
        if (Contains(r.at("PR_SUBJECT"), "Thread start")) {
            EXPECT_EQ(Unquoted(r.at("PR_CONVERSATION_TOPIC")), "Thread start");
        }
    }

    // The attachment and the HTML article of the other group.
    const auto files = Messages(Folder(seed.files), {"PR_SUBJECT", "PR_HASATTACH", "PR_ENTRYID"});
    ASSERT_EQ(files.size(), 2u);
    const Row* attached = BySubject(files, "With a file");
    const Row* html = BySubject(files, "In HTML");
    ASSERT_TRUE(attached && html) << files[0].at("PR_SUBJECT");
    EXPECT_EQ(attached->at("PR_HASATTACH"), "true");
    const ProgramOutcome shown = Run({"store", "show", attached->at("PR_ENTRYID"), "--profile", "P"});
    EXPECT_TRUE(Contains(shown.out, "data.bin")) << shown.out;
    const ProgramOutcome htmlShown = Run({"store", "show", html->at("PR_ENTRYID"), "--profile", "P"});
    EXPECT_TRUE(Contains(htmlShown.out, "3C623E75703C2F623E")) << htmlShown.out;  // PR_HTML holds "<b>up</b>"

    // Nothing twice: the known-articles cache keeps what was delivered, also
    // across a restart of the program.
    Run({"sync", "--profile", "P"});
    EXPECT_EQ(Messages(Folder(seed.talk), {"PR_SUBJECT"}).size(), 5u);
    EXPECT_EQ(Messages(Folder(seed.files), {"PR_SUBJECT"}).size(), 2u);
}

TEST_F(NewsRoundTrip, RefreshedRowsWaitUnmarkedAndProcessingDeliversOnlyTheMarkedOnes)
{
    // From the command line: a refresh lists every article and delivers none.
    const ProgramOutcome listed = Run({"sync", "--profile", "P", "--headers-only"});
    EXPECT_TRUE(Contains(listed.out, "7 headers waiting.")) << listed.out;
    EXPECT_TRUE(Contains(listed.out, seed.talk + ":1\t-\t")) << listed.out;
    EXPECT_TRUE(Messages(Folder(seed.files), {"PR_SUBJECT"}).empty());

    // In one session, as a mail client keeps it: refresh, mark two, process.
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    {
        ComPtr<IMAPISession> session;
        std::string profile = "P";
        ASSERT_EQ(MAPILogonEx(0, profile.data(), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL, &session),
                  S_OK);
        {
            CSpooler spooler(session.Get());
            ASSERT_EQ(spooler.Start(), S_OK);
            // The flow lets go of the status objects before the spooler unloads their library.
            auto flow = std::make_unique<host::CHeaderFlow>(spooler);
            ASSERT_FALSE(flow->Empty());
            SpoolerPassResult pass;
            std::vector<host::HeaderFlowOutcome> outcomes;
            ASSERT_EQ(flow->Run(REFRESH_XP_HEADER_CACHE, pass, outcomes), S_OK);
            ASSERT_EQ(outcomes.size(), 1u);
            EXPECT_EQ(outcomes[0].result, S_OK);
            std::vector<host::HeaderFlowRow> rows;
            ASSERT_EQ(flow->Rows(rows), S_OK);
            ASSERT_EQ(rows.size(), 7u);
            std::vector<const host::HeaderFlowRow*> chosen;
            for (const auto& r : rows) {
                EXPECT_EQ(r.status & (MSGSTATUS_REMOTE_DOWNLOAD | MSGSTATUS_REMOTE_DELETE), 0u) << r.subject;
                if (r.group == seed.files) chosen.push_back(&r);
            }
            ASSERT_EQ(chosen.size(), 2u);
            // One marked to retrieve, one to fetch a copy of (its row stays).
            ASSERT_EQ(flow->Mark(*chosen[0], MSGSTATUS_REMOTE_DOWNLOAD | MSGSTATUS_REMOTE_DELETE), S_OK);
            ASSERT_EQ(flow->Mark(*chosen[1], MSGSTATUS_REMOTE_DOWNLOAD), S_OK);
            const ULONG copied = chosen[1]->article;

            ASSERT_EQ(flow->Run(PROCESS_XP_HEADER_CACHE, pass, outcomes), S_OK);
            EXPECT_EQ(outcomes[0].result, S_OK);
            ASSERT_EQ(flow->Rows(rows), S_OK);
            ASSERT_EQ(rows.size(), 6u);  // the retrieved row left the table, the copied one stays
            for (const auto& r : rows) {
                EXPECT_EQ(r.status & MSGSTATUS_REMOTE_DOWNLOAD, 0u) << r.group << ":" << r.article;
                if (r.group == seed.files) {
                    EXPECT_EQ(r.article, copied);
                }
            }
            flow.reset();
            spooler.Stop();
        }
        session->Logoff(0, 0, 0);
    }
    MAPIUninitialize();
    EXPECT_EQ(Messages(Folder(seed.files), {"PR_SUBJECT"}).size(), 2u);
    EXPECT_TRUE(Messages(Folder(seed.talk), {"PR_SUBJECT"}).empty());

    // A later full sync brings the rest, and the two only once.
    Run({"sync", "--profile", "P"});
    EXPECT_EQ(Messages(Folder(seed.talk), {"PR_SUBJECT"}).size(), 5u);
    EXPECT_EQ(Messages(Folder(seed.files), {"PR_SUBJECT"}).size(), 2u);
}

TEST_F(NewsRoundTrip, APostWhileTheServerIsDownStaysInTheOutbox)
{
    // A profile of its own, so that only the unreachable account can take it.
    Run({"profile", "create", "Q"});
    Run({"account", "add", "--profile", "Q", "--server", "127.0.0.1", "--port", std::to_string(kClosedPort),
         "--name", "Ann Smith", "--email", "ann@example.org", "--account", "down"});
    Run({"groups", "--profile", "Q", "--account", "down", "--download"}, 1);  // nothing answers
    Run({"subscribe", "--profile", "Q", "--account", "down", seed.talk}, 1);  // not in the empty list
    const std::string ids = seed.run;
    const ProgramOutcome o = RunQuillory(home, {"post", "--profile", "Q", "--account", "down", "--group", seed.talk,
                                                "--subject", "Never sent " + ids},
                                         std::string("Body\n"));
    EXPECT_NE(o.status, 0) << o.out << o.err;
    EXPECT_FALSE(Contains(o.out, "Sent 1")) << o.out;
    const ProgramOutcome queued =
        RunQuillory(home, {"store", "messages", "Outbox", "--profile", "Q", "--columns", "PR_SUBJECT"});
    EXPECT_TRUE(Contains(queued.out, "Never sent " + ids)) << queued.out << queued.err;
    const ProgramOutcome sent =
        RunQuillory(home, {"store", "messages", "Sent Items", "--profile", "Q", "--columns", "PR_SUBJECT"});
    EXPECT_FALSE(Contains(sent.out, "Never sent")) << sent.out;
    // Trying again later still does not report it as sent.
    const ProgramOutcome retry = RunQuillory(home, {"sync", "--profile", "Q"});
    EXPECT_TRUE(Contains(retry.out, "Sent 0")) << retry.out;
    EXPECT_TRUE(Contains(RunQuillory(home, {"store", "messages", "Outbox", "--profile", "Q", "--columns", "PR_SUBJECT"})
                             .out,
                         "Never sent " + ids));
}

}  // namespace
}  // namespace quillory::testing
