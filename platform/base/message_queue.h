// Internal state behind window.h: one process-wide table of classes, windows
// and thread queues guarded by one mutex. Each queue has its own condition
// variable, waited on only by its owner thread (for its own messages and for
// the answers to the messages it sent). Window procedures are always called
// with the mutex released, and nothing found under the mutex is used after a
// procedure ran without being looked up again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/base/window.h"

namespace quillory::detail {

using Clock = std::chrono::steady_clock;
using Lock = std::unique_lock<std::mutex>;

// Posted messages one queue holds at most, as at home.
constexpr std::size_t kMaxPostedMessages = 10000;
// A thread that has not looked at its queue for this long, and is not
// waiting in it, counts as hung for SMTO_ABORTIFHUNG.
constexpr auto kHungAfter = std::chrono::seconds(5);

struct Queue;

// A moment to wait until, or none. (A plain flag rather than std::optional:
// some compilers warn wrongly about optional time points.)
struct Deadline {
    bool set = false;
    Clock::time_point at{};

    static Deadline In(Clock::duration d)
    {
        return Deadline{true, Clock::now() + d};
    }
    void KeepEarliest(const Deadline& other)
    {
        if (other.set && (!set || other.at < at)) *this = other;
    }
    bool Passed() const { return set && Clock::now() >= at; }
};

struct WindowClass {
    std::string name;
    ATOM atom = 0;
    UINT style = 0;
    WNDPROC proc = nullptr;
    int wndExtra = 0;
    HINSTANCE instance = nullptr;
    std::size_t windows = 0;
};

struct Window {
    HWND handle = nullptr;
    DWORD threadId = 0;
    std::shared_ptr<Queue> queue;
    std::shared_ptr<WindowClass> cls;
    WNDPROC proc = nullptr;
    std::string text;
    LONG_PTR userData = 0;
    HINSTANCE instance = nullptr;
    HWND parent = nullptr;
    bool messageOnly = false;
    LONG_PTR id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::vector<BYTE> extra;
    bool destroying = false;
};

struct Timer {
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    Clock::duration interval{};
    Clock::time_point due{};
    TIMERPROC proc = nullptr;
};

struct SentMessage {
    enum class Status { Pending, Running, Done, Failed };

    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::shared_ptr<Queue> sender;
    Status status = Status::Pending;
    LRESULT result = 0;
    // The receiver's copies of what lParam points to (see window.h).
    std::vector<char> payload;
    COPYDATASTRUCT copyData{};
};

struct Queue : std::enable_shared_from_this<Queue> {
    explicit Queue(DWORD tid) : threadId(tid), lastCheck(Clock::now()) {}

    const DWORD threadId;
    std::condition_variable cv;
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::vector<Timer> timers;
    bool quitPending = false;
    int quitCode = 0;
    bool alive = true;
    // For SMTO_ABORTIFHUNG.
    bool waiting = false;
    Clock::time_point lastCheck;

    // Calls the wake handler; never with the state mutex held.
    void Wake();
    void SetWakeHandler(std::function<void()> handler);

private:
    std::mutex wakeMutex_;
    std::function<void()> wake_;
};

struct State {
    std::mutex mutex;
    std::unordered_map<DWORD, std::shared_ptr<Queue>> queues;
    std::map<std::uintptr_t, std::unique_ptr<Window>> windows;  // in creation order
    std::map<std::string, std::shared_ptr<WindowClass>> classes;  // by lower-case name
    std::uintptr_t nextHandle = 0x10010;
    ATOM nextAtom = 0xC000;
    UINT_PTR nextThreadTimerId = 0x7FF0;
};

State& Global();

// The calling thread's queue, created on first use; null once the thread's
// queue was torn down at its end. Call without the mutex held.
Queue* CurrentQueue();
// The calling thread's queue if it already has one (mutex may be held).
Queue* ExistingQueue();

// ---- with the mutex held ----
Window* LookupWindow(HWND hwnd);
std::shared_ptr<WindowClass> LookupClass(LPCSTR nameOrAtom);
bool IsAtom(LPCSTR nameOrAtom);
std::string LowerAscii(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
// Marks a sent message finished and wakes its sender.
void FinishSent(SentMessage& sm, SentMessage::Status status, LRESULT result);
// Fails every message waiting in the queue for hwnd (all of them when null).
void FailPendingSends(Queue& q, HWND hwnd);
// Runs one message sent to this thread by another; false when none waits.
// Unlocks around the window procedure.
bool DeliverOneSent(Queue& q, Lock& lock);
void DeliverAllSent(Queue& q, Lock& lock);

// Message filters of GetMessage/PeekMessage: hwnd null = any, (HWND)-1 =
// thread messages only, otherwise that window and its children; a range of
// 0..0 = any message.
bool MatchesWindow(HWND msgHwnd, HWND filter);
bool MatchesRange(UINT message, UINT filterMin, UINT filterMax);
// Removes everything still addressed to a window that is going away.
void ForgetWindow(Queue& q, HWND hwnd);

// Timers (timer.cpp).
// Earliest due time among the timers a filter accepts.
Deadline NextTimerDue(const Queue& q, HWND filter, UINT filterMin, UINT filterMax);
// A WM_TIMER for the most overdue timer the filter accepts; a removed one
// starts its next interval now.
bool TakeTimerMessage(Queue& q, HWND filter, bool remove, MSG* out);
bool HasTimer(const Queue& q, HWND hwnd, UINT_PTR id, TIMERPROC proc);
void RemoveTimers(Queue& q, HWND hwnd);

// ---- without the mutex ----
// Calls the window's current procedure; 0 when the window is gone.
LRESULT CallCurrentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void ThreadQueueEnding(Queue& q);

// Blocks the owner thread until its queue is notified or the deadline passes.
inline void WaitForQueue(Queue& q, Lock& lock, const Deadline& until)
{
    if (until.set)
        q.cv.wait_until(lock, until.at);
    else
        q.cv.wait(lock);
}

// Marks the queue's owner as blocked in a wait until the scope ends.
class WaitingScope {
public:
    explicit WaitingScope(Queue& q) : q_(q) { q_.waiting = true; }
    ~WaitingScope()
    {
        q_.waiting = false;
        q_.lastCheck = Clock::now();
    }
    WaitingScope(const WaitingScope&) = delete;
    WaitingScope& operator=(const WaitingScope&) = delete;

private:
    Queue& q_;
};

}  // namespace quillory::detail
