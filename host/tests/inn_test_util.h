// The local INN news server that scripts/inn-setup.sh prepares, for the host
// tests: whether it listens, newsgroups made for one run, articles offered to
// it. Without the server the tests skip, unless QUILLORY_INN=1 says it must
// be there (as in scripts/test.sh).
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

namespace quillory::testing {

inline constexpr unsigned short kInnPort = 119;
inline constexpr const char* kCtlinnd = "/usr/lib/news/bin/ctlinnd";

// A connected socket to the server's port, or -1.
inline int ConnectInn()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(kInnPort);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
    close(fd);
    return -1;
}

inline bool InnListening()
{
    const int fd = ConnectInn();
    if (fd >= 0) close(fd);
    return fd >= 0;
}

inline bool InnRequired()
{
    const char* v = std::getenv("QUILLORY_INN");
    return v && std::string(v) == "1";
}

#define QUILLORY_REQUIRE_INN()                                                                       \
    do {                                                                                             \
        if (!quillory::testing::InnListening()) {                                                    \
            if (quillory::testing::InnRequired()) FAIL() << "no news server on port 119 (QUILLORY_INN=1)"; \
            GTEST_SKIP() << "no news server on port 119; run scripts/inn-setup.sh";                  \
        }                                                                                            \
    } while (0)

inline std::string RandomSuffix()
{
    std::random_device rd;
    return std::to_string(std::mt19937_64(rd())() % 1000000000ull);
}

// ctlinnd, retried while the server is throttled right after a start.
inline bool Ctlinnd(const std::string& args)
{
    const std::string cmd = std::string(kCtlinnd) + " -s " + args + " >/dev/null 2>&1";
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (std::system(cmd.c_str()) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return false;
}

// One status line from the server (without its line end).
inline std::string ReadInnLine(int fd)
{
    std::string line;
    char c = 0;
    while (read(fd, &c, 1) == 1 && c != '\n') line += c;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// Offers an article (header lines and body with CR LF line ends, no final
// dot) under `messageId` with IHAVE; true when the server took it.
inline bool OfferArticle(const std::string& messageId, const std::string& article)
{
    const int fd = ConnectInn();
    if (fd < 0) return false;
    auto send = [fd](const std::string& text) { return write(fd, text.data(), text.size()) == ssize_t(text.size()); };
    bool ok = ReadInnLine(fd).starts_with("20") && send("IHAVE " + messageId + "\r\n") &&
              ReadInnLine(fd).starts_with("335") &&
              send("Path: test!not-for-mail\r\nMessage-ID: " + messageId + "\r\n" + article + "\r\n.\r\n") &&
              ReadInnLine(fd).starts_with("235");
    send("QUIT\r\n");
    close(fd);
    return ok;
}

// Posts an article (header lines and body with CR LF line ends, no final
// dot) through the reader port, as a newsreader does; true when the server
// took it.
inline bool PostArticle(const std::string& article)
{
    const int fd = ConnectInn();
    if (fd < 0) return false;
    auto send = [fd](const std::string& text) { return write(fd, text.data(), text.size()) == ssize_t(text.size()); };
    bool ok = ReadInnLine(fd).starts_with("20") && send("MODE READER\r\n") && ReadInnLine(fd).starts_with("20") &&
              send("POST\r\n") && ReadInnLine(fd).starts_with("340") && send(article + "\r\n.\r\n") &&
              ReadInnLine(fd).starts_with("240");
    send("QUIT\r\n");
    close(fd);
    return ok;
}

}  // namespace quillory::testing
