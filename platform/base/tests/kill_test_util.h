// Writers killed at chosen moments, and damaged copies of a file, for the
// tests of the SQLite files. A child process commits one step after another
// and reports each step once it is committed; the parent kills it (SIGKILL,
// nothing is flushed or closed) and then knows which steps must have
// survived. The check after the kill runs in a fresh process, which opens
// the files anew as a restarted program does.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace quillory::testing {

// Tells the parent that a step is committed.
using ReportCommitted = std::function<void(std::int64_t step)>;

class KilledWriter {
public:
    // Forks; the child runs body, which must not return (it is _exit(1) if it does).
    explicit KilledWriter(const std::function<void(const ReportCommitted&)>& body)
    {
        int fds[2];
        if (pipe(fds) != 0) return;
        child_ = fork();
        if (child_ == 0) {
            close(fds[0]);
            const int out = fds[1];
            body([out](std::int64_t step) {
                if (write(out, &step, sizeof step) != sizeof step) _exit(3);
            });
            _exit(1);
        }
        close(fds[1]);
        fd_ = fds[0];
        fcntl(fd_, F_SETFL, O_NONBLOCK);
    }
    ~KilledWriter()
    {
        if (child_ > 0) Kill();
        if (fd_ >= 0) close(fd_);
    }
    KilledWriter(const KilledWriter&) = delete;
    KilledWriter& operator=(const KilledWriter&) = delete;

    bool Started() const { return child_ > 0 && fd_ >= 0; }

    // Waits until `steps` steps are reported (at most `timeoutMs`), then
    // `delayMs` more, then kills the child. The highest step reported
    // committed, or -1; every earlier step is committed too.
    std::int64_t KillAfter(int steps, int delayMs, int timeoutMs = 60000)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (reported_ < steps && std::chrono::steady_clock::now() < until && Drain(50)) {
        }
        const auto at = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs);
        while (std::chrono::steady_clock::now() < at && Drain(1)) {
        }
        Kill();
        while (Drain(1000)) {
        }
        return last_;
    }

    // How the child ended: 128 + the signal that ended it, or its exit status.
    int Status() const { return status_; }

private:
    // Reads reports for up to `ms`; false once the child has gone and the pipe is empty.
    bool Drain(int ms)
    {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, ms) < 0) return false;
        std::int64_t step = 0;
        for (;;) {
            const ssize_t n = read(fd_, &step, sizeof step);
            if (n == sizeof step) {
                ++reported_;
                if (step > last_) last_ = step;
                continue;
            }
            return n < 0;  // 0: end of the pipe, the child is gone
        }
    }

    void Kill()
    {
        kill(child_, SIGKILL);
        int status = 0;
        waitpid(child_, &status, 0);
        status_ = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
        child_ = -1;
    }

    pid_t child_ = -1;
    int fd_ = -1;
    int reported_ = 0;
    std::int64_t last_ = -1;
    int status_ = -1;
};

// Runs check in a fresh child process; what it returns is the finding
// (empty: all is well).
inline std::string CheckInFreshProcess(const std::function<std::string()>& check)
{
    int fds[2];
    if (pipe(fds) != 0) return "no pipe";
    const pid_t child = fork();
    if (child < 0) return "no fork";
    if (child == 0) {
        close(fds[0]);
        const std::string finding = check();
        const char* p = finding.data();
        std::size_t left = finding.size();
        while (left > 0) {
            const ssize_t n = write(fds[1], p, left);
            if (n <= 0) _exit(3);
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string finding;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) finding.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        finding += " (the checking process ended with status " + std::to_string(status) + ")";
    return finding;
}

// Rounds of writers killed at random moments. Each writer runs
// write(first, committed) from the step after the last one known committed;
// the first two die within 15 ms (some while the file is being made), the
// others up to 400 ms after their first commit. After each kill, check(last)
// runs in a fresh process and must find nothing. The last step known
// committed.
// Damaged copies of a sound database file, as a disk or a person leaves them:
// empty, cut in half, three pages zeroed in the middle, not a database.
struct DamagedFile {
    const char* what;
    std::vector<char> bytes;
};
inline std::vector<DamagedFile> DamagedCopies(const std::vector<char>& good)
{
    const auto half = good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2);
    auto zeroed = good;
    std::fill_n(zeroed.begin() + static_cast<std::ptrdiff_t>(good.size() / 2), 3 * 4096, 0);
    return {{"empty", {}},
            {"cut in half", std::vector<char>(good.begin(), half)},
            {"zero-filled in the middle", zeroed},
            {"text", std::vector<char>(5000, 'Z')}};
}

inline std::int64_t KillWritersAtRandom(unsigned seed, int rounds,
                                        const std::function<void(std::int64_t, const ReportCommitted&)>& write,
                                        const std::function<std::string(std::int64_t)>& check)
{
    std::mt19937 rng(seed);
    std::int64_t last = -1;
    for (int round = 0; round < rounds; ++round) {
        const std::int64_t first = last + 1;
        KilledWriter writer([&](const ReportCommitted& committed) { write(first, committed); });
        EXPECT_TRUE(writer.Started());
        const bool early = round < 2;
        const int delay = static_cast<int>(rng() % (early ? 15 : 400));
        const std::int64_t reached = writer.KillAfter(early ? 0 : 1, delay);
        EXPECT_EQ(writer.Status(), 128 + SIGKILL) << "round " << round;
        if (reached > last) last = reached;
        EXPECT_EQ(CheckInFreshProcess([&] { return check(last); }), "") << "round " << round;
    }
    return last;
}

}  // namespace quillory::testing
