// A scripted news server for the header benchmarks: a child process on a
// loopback port that answers GROUP and OVER of one group from an overview
// made beforehand in memory, so that what a benchmark measures is the
// client. The records vary the way real ones do: encoded and plain
// subjects, replies with references, display names quoted, in comments or
// absent, dates with and without a weekday, numeric and named zones.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/bench/loopback.h"

namespace quillory::bench {

// Overview record number n (1-based) of a benchmark group.
inline std::string OverviewRecord(unsigned n, const std::string& group)
{
    char text[640];
    std::string subject, from, date, references;
    if (n % 10 == 0)
        subject = "=?UTF-8?Q?Caf=C3=A9_num=C3=A9ro_" + std::to_string(n) + "?=";
    else if (n % 5 == 1)
        subject = "Re: Benchmark thread " + std::to_string(n / 5);
    else
        subject = "Benchmark subject number " + std::to_string(n);
    switch (n % 7) {
    case 0: from = "user" + std::to_string(n) + "@example.org"; break;
    case 1: from = "\"Doe, Jane\" <jane" + std::to_string(n % 50) + "@example.org>"; break;
    case 2: from = "jane" + std::to_string(n % 50) + "@example.org (Jane Doe)"; break;
    case 3:  // encoded names of a few hundred authors
        from = "=?ISO-8859-1?Q?J=F6rg_M=FCller_" + std::to_string(n % 300) + "?= <joerg" + std::to_string(n % 300) +
               "@example.de>";
        break;
    default: from = "Ann Writer " + std::to_string(n % 100) + " <ann" + std::to_string(n % 100) + "@example.org>";
    }
    const unsigned minute = n / 60 % 60, second = n % 60;
    switch (n % 9) {
    case 0: std::snprintf(text, sizeof text, "7 Dec 2026 10:%02u:%02u GMT", minute, second); break;
    case 1: std::snprintf(text, sizeof text, "Mon, 07 Dec 2026 10:%02u:%02u -0500 (EST)", minute, second); break;
    default: std::snprintf(text, sizeof text, "Mon, 7 Dec 2026 10:%02u:%02u +0000", minute, second);
    }
    date = text;
    if (n % 5 == 1 && n > 1) references = "<" + std::to_string(n - 1) + ".bench@quillory.test>";
    std::snprintf(text, sizeof text, "%u\t%s\t%s\t%s\t<%u.bench@quillory.test>\t%s\t%u\t%u\tXref: bench %s:%u\r\n", n,
                  subject.c_str(), from.c_str(), date.c_str(), n, references.c_str(), 1500 + n % 700, 20 + n % 30,
                  group.c_str(), n);
    return text;
}

class COverServer {
public:
    COverServer(std::string group, unsigned records) : group_(std::move(group)), records_(records)
    {
        listener_ = ListenOnLoopback(port_, 4);
        if (listener_ < 0) return;
        child_ = fork();
        if (child_ == 0) {
            // Made here, so that none of it counts in the benchmark's memory.
            for (unsigned n = 1; n <= records_; ++n) overview_ += OverviewRecord(n, group_);
            Serve();
            _exit(0);
        }
        close(listener_);
    }
    ~COverServer()
    {
        if (child_ > 0) {
            kill(child_, SIGTERM);
            waitpid(child_, nullptr, 0);
        }
    }
    COverServer(const COverServer&) = delete;
    COverServer& operator=(const COverServer&) = delete;

    unsigned short Port() const { return port_; }

private:
    void Serve()
    {
        for (;;) {
            const int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0) continue;
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            Talk(fd);
            close(fd);
        }
    }
    static void Send(int fd, const std::string& text)
    {
        std::size_t sent = 0;
        while (sent < text.size()) {
            const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<std::size_t>(n);
        }
    }
    void Talk(int fd)
    {
        Send(fd, "200 scripted benchmark server ready\r\n");
        std::string buffer;
        char chunk[4096];
        for (;;) {
            std::size_t nl;
            while ((nl = buffer.find('\n')) == std::string::npos) {
                const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0) return;
                buffer.append(chunk, static_cast<std::size_t>(n));
            }
            std::string line = buffer.substr(0, nl);
            buffer.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind("MODE READER", 0) == 0) {
                Send(fd, "200 reader ready\r\n");
            } else if (line.rfind("GROUP ", 0) == 0) {
                Send(fd, "211 " + std::to_string(records_) + " 1 " + std::to_string(records_) + " " + group_ + "\r\n");
            } else if (line.rfind("OVER ", 0) == 0 || line.rfind("XOVER ", 0) == 0) {
                // The whole group whatever the range: the benchmarks ask for all of it.
                Send(fd, "224 overview follows\r\n" + overview_ + ".\r\n");
            } else if (line.rfind("QUIT", 0) == 0) {
                Send(fd, "205 bye\r\n");
                return;
            } else {
                Send(fd, "500 unknown command\r\n");
            }
        }
    }

    std::string group_;
    unsigned records_;
    std::string overview_;
    int listener_ = -1;
    unsigned short port_ = 0;
    pid_t child_ = -1;
};

}  // namespace quillory::bench
