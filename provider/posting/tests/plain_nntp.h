// A plain blocking NNTP client for tests that check what reached the local
// news server (127.0.0.1:119), and the server set-up those tests need.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillory::testing {

class PlainNntp {
public:
    PlainNntp()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(119);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            Close();
            return;
        }
        timeval tv{10, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        if (Line().rfind("20", 0) != 0 || Command("MODE READER").rfind("20", 0) != 0) Close();
    }
    ~PlainNntp()
    {
        if (fd_ >= 0) Send("QUIT\r\n");
        Close();
    }
    PlainNntp(const PlainNntp&) = delete;
    PlainNntp& operator=(const PlainNntp&) = delete;

    bool Connected() const { return fd_ >= 0; }

    // Sends one command and answers the status line.
    std::string Command(const std::string& command)
    {
        Send(command + "\r\n");
        return Line();
    }

    // The article `number` of `group` with dot-stuffing removed, or nullopt.
    std::optional<std::string> Article(const std::string& group, unsigned long number)
    {
        if (Command("GROUP " + group).rfind("211", 0) != 0) return std::nullopt;
        if (Command("ARTICLE " + std::to_string(number)).rfind("220", 0) != 0) return std::nullopt;
        return Body();
    }

    // The newest article of a group ("211 count first last"), or nullopt.
    std::optional<std::string> LastArticle(const std::string& group)
    {
        const std::string status = Command("GROUP " + group);
        unsigned long count = 0, first = 0, last = 0;
        if (std::sscanf(status.c_str(), "211 %lu %lu %lu", &count, &first, &last) != 3 || count == 0)
            return std::nullopt;
        return Article(group, last);
    }

    // The number of articles a group holds (-1 when GROUP fails).
    long Count(const std::string& group)
    {
        unsigned long count = 0;
        if (std::sscanf(Command("GROUP " + group).c_str(), "211 %lu", &count) != 1) return -1;
        return static_cast<long>(count);
    }

private:
    void Close()
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    void Send(const std::string& text)
    {
        if (fd_ >= 0) (void)::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
    }
    std::string Line()
    {
        std::string line;
        char c = 0;
        while (fd_ >= 0 && ::recv(fd_, &c, 1, 0) == 1) {
            line += c;
            if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
                line.resize(line.size() - 2);
                return line;
            }
        }
        return line;
    }
    std::string Body()
    {
        std::string text;
        for (;;) {
            std::string line = Line();
            if (line == "." || fd_ < 0) break;
            if (line.rfind("..", 0) == 0) line.erase(0, 1);
            text += line + "\r\n";
        }
        return text;
    }
    int fd_ = -1;
};

// An article's header block (up to its empty line) with folded lines joined.
inline std::string UnfoldedHeader(const std::string& article)
{
    std::string header = article.substr(0, article.find("\r\n\r\n") + 2);
    std::string out;
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (header.compare(i, 2, "\r\n") == 0 && i + 2 < header.size() &&
            (header[i + 2] == ' ' || header[i + 2] == '\t')) {
            ++i;
            continue;
        }
        out += header[i];
    }
    return out;
}

// Whether the tests must have the local server (QUILLORY_INN=1) instead of
// skipping without it.
inline bool NewsServerRequired()
{
    const char* v = std::getenv("QUILLORY_INN");
    return v && std::string(v) == "1";
}

// Creates a newsgroup on the local server (flag "y" open, "n" no posting);
// false when the server or its control program is not there.
inline bool CreateNewsgroup(const std::string& name, const char* flag = "y")
{
    const std::string command = "/usr/lib/news/bin/ctlinnd -s newgroup " + name + " " + flag + " >/dev/null 2>&1";
    // innd may be throttled for a moment after a start.
    for (int i = 0; i < 20; ++i) {
        if (std::system(command.c_str()) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return false;
}

// A group name no earlier run used.
inline std::string UniqueGroupName(const std::string& prefix)
{
    return prefix + "." + std::to_string(::getpid()) + "x" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007);
}

inline void RemoveNewsgroup(const std::string& name)
{
    const std::string command = "/usr/lib/news/bin/ctlinnd -s rmgroup " + name + " >/dev/null 2>&1";
    (void)std::system(command.c_str());
}

// Groups made for one test, removed again at its end.
class TestNewsgroups {
public:
    ~TestNewsgroups()
    {
        for (const auto& g : made_) RemoveNewsgroup(g);
    }
    // A new group named after `prefix`; empty when it cannot be made.
    std::string Make(const std::string& prefix, const char* flag = "y")
    {
        std::string name = UniqueGroupName(prefix);
        if (!CreateNewsgroup(name, flag)) return {};
        made_.push_back(name);
        return name;
    }

private:
    std::vector<std::string> made_;
};


}  // namespace quillory::testing
