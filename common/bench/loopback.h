// Loopback sockets for the benchmarks that stand in for a news server or a
// client: a listener on a free port, a connection to a port, and a blocking
// reader of the lines that come back.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace quillory::bench {

// A listening socket on 127.0.0.1 and the free port it got; -1 on failure.
inline int ListenOnLoopback(unsigned short& port, int backlog = 16)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

// A connection to 127.0.0.1:port without Nagle's delay; -1 on failure.
inline int ConnectLoopback(unsigned short port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Lines read from a socket (each with its CR, without its LF), and whole
// texts sent to it.
class CSocketLines {
public:
    explicit CSocketLines(int fd) : fd_(fd) {}
    bool Next(std::string& line)
    {
        for (;;) {
            if (const auto nl = buffer_.find('\n', pos_); nl != std::string::npos) {
                line.assign(buffer_, pos_, nl - pos_);
                pos_ = nl + 1;
                if (pos_ > (1 << 20)) {
                    buffer_.erase(0, pos_);
                    pos_ = 0;
                }
                return true;
            }
            char chunk[65536];
            const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }
    void Send(const std::string& text) { (void)!::send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }

private:
    int fd_;
    std::string buffer_;
    std::size_t pos_ = 0;
};

// A news reader's start: the greeting, then MODE READER and its answer. INN
// hands the connection over at MODE READER and drops what came with it, so
// nothing may follow it in the same packet.
inline void StartNewsReading(CSocketLines& io)
{
    std::string line;
    io.Next(line);
    io.Send("MODE READER\r\n");
    io.Next(line);
}

}  // namespace quillory::bench
