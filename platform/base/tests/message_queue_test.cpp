// Posting, the message loops, waits and timers.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/base/tests/window_test_util.h"
#include "platform/base/time.h"
#include "platform/base/window.h"
#include "platform/base/winerror.h"

namespace {

using namespace std::chrono_literals;
using quillory::testing::Handler;
using quillory::testing::MakeWindow;
using quillory::testing::TestClass;
using Clock = std::chrono::steady_clock;

const HWND kThreadOnly = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));

Handler g_passThrough = [](HWND, UINT, WPARAM, LPARAM) -> std::optional<LRESULT> { return std::nullopt; };

void Drain()
{
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

TEST(PostedMessages, OrderFiltersAndQuit)
{
    TestClass cls("Quill_Post");
    HWND w = MakeWindow(cls, &g_passThrough);
    quillory::SetTickCountSource([] { return DWORD{4242}; });
    const DWORD me = GetCurrentThreadId();
    ASSERT_TRUE(PostMessage(w, WM_USER + 1, 1, 0));
    ASSERT_TRUE(PostThreadMessage(me, WM_USER + 2, 2, 0));
    ASSERT_TRUE(PostMessage(w, WM_USER + 3, 3, 0));
    ASSERT_TRUE(PostMessage(w, WM_USER + 5, 5, 0));
    quillory::ResetTickCountSource();

    MSG msg{};
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_USER + 1);
    EXPECT_EQ(msg.hwnd, w);
    EXPECT_EQ(msg.time, 4242u);
    ASSERT_TRUE(PeekMessage(&msg, nullptr, WM_USER + 3, WM_USER + 5, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 3);
    ASSERT_TRUE(PeekMessage(&msg, kThreadOnly, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER + 2);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_FALSE(PeekMessage(&msg, kThreadOnly, 0, 0, PM_REMOVE));

    // WM_QUIT waits until nothing posted is left, then ends GetMessage.
    PostQuitMessage(7);
    ASSERT_EQ(GetMessage(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, WM_USER + 1);  // still there after PM_NOREMOVE
    ASSERT_EQ(GetMessage(&msg, w, 0, 0), 1);
    EXPECT_EQ(msg.message, WM_USER + 5);
    EXPECT_EQ(GetMessage(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.message, WM_QUIT);
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));

    // WM_QUIT passes any filter.
    PostQuitMessage(3);
    ASSERT_TRUE(PeekMessage(&msg, w, WM_USER, WM_USER, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_QUIT);

    // Messages for a destroyed window are dropped with it.
    PostMessage(w, WM_USER, 0, 0);
    DestroyWindow(w);
    EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(PostedMessages, ErrorsAndQuota)
{
    TestClass cls("Quill_PostErr");
    HWND w = MakeWindow(cls, &g_passThrough);
    HWND stale = MakeWindow(cls, &g_passThrough);
    DestroyWindow(stale);
    MSG msg{};

    EXPECT_FALSE(PostMessage(stale, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(PostThreadMessage(0xFFFFFFF0u, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
    EXPECT_EQ(GetMessage(&msg, stale, 0, 0), -1);
    EXPECT_EQ(GetMessage(nullptr, nullptr, 0, 0), -1);

    // Another thread may not filter on our window.
    BOOL peeked = TRUE;
    DWORD error = 0;
    std::thread([&] {
        MSG m;
        peeked = PeekMessage(&m, w, 0, 0, PM_REMOVE);
        error = GetLastError();
    }).join();
    EXPECT_FALSE(peeked);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

    // A queue that nobody empties stops growing.
    int posted = 0;
    while (PostMessage(w, WM_USER, 0, 0) && posted < 20000) ++posted;
    EXPECT_EQ(posted, 10000);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
    Drain();
    EXPECT_TRUE(PostMessage(w, WM_USER, 0, 0));
    DestroyWindow(w);
}

TEST(MessageWait, ReturnsOnInputAndOnTimeout)
{
    Drain();  // creates the queue
    const DWORD me = GetCurrentThreadId();

    auto start = Clock::now();
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, TRUE, 100, QS_ALLINPUT), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, 95ms);

    std::thread poster([me] {
        std::this_thread::sleep_for(50ms);
        PostThreadMessage(me, WM_APP, 1, 2);
    });
    start = Clock::now();
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, TRUE, 30000, QS_ALLINPUT), WAIT_OBJECT_0);
    EXPECT_LT(Clock::now() - start, 20s);
    poster.join();

    // Input already waiting counts, and the wait does not take it away.
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, 0), WAIT_OBJECT_0);
    // A mask without posted messages ignores them.
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 30, QS_TIMER), WAIT_TIMEOUT);
    MSG msg{};
    ASSERT_EQ(GetMessage(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, WM_APP);

    HANDLE handle = nullptr;
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &handle, FALSE, 0, QS_ALLINPUT), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// The provider's loop: wait with a time-out, then GetMessage and dispatch.
// Messages sent from another thread are served inside the wait, so the
// GetMessage after a wake-up never blocks on a queue that holds no posts.
TEST(MessageWait, WaitThenGetMessageLoopServesSendsAndPosts)
{
    TestClass cls("Quill_Loop");
    std::vector<UINT> handled;
    std::vector<DWORD> threads;
    Handler handler = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m < WM_USER) return std::nullopt;
        handled.push_back(m);
        threads.push_back(GetCurrentThreadId());
        return m - WM_USER;
    };
    HWND w = MakeWindow(cls, &handler);
    LRESULT first = 0, third = 0;
    std::thread peer([&] {
        first = SendMessage(w, WM_USER + 1, 0, 0);
        PostMessage(w, WM_USER + 2, 0, 0);
        third = SendMessage(w, WM_USER + 3, 0, 0);
    });
    const auto giveUp = Clock::now() + 20s;
    int timeouts = 0;
    while (handled.size() < 3 && Clock::now() < giveUp) {
        const DWORD r = MsgWaitForMultipleObjects(0, nullptr, TRUE, 750, QS_ALLINPUT);
        if (r == WAIT_TIMEOUT) {
            ++timeouts;
            continue;
        }
        ASSERT_EQ(r, WAIT_OBJECT_0);
        MSG msg;
        ASSERT_EQ(GetMessage(&msg, nullptr, 0, 0), 1);
        TranslateMessage(&msg);
        DispatchMessage(&msg);
    }
    peer.join();
    // Sent messages go before posted ones, so the last two may come either way.
    ASSERT_EQ(handled.size(), 3u);
    EXPECT_EQ(handled[0], WM_USER + 1);
    std::sort(handled.begin(), handled.end());
    EXPECT_EQ(handled, (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_USER + 3}));
    EXPECT_EQ(threads, std::vector<DWORD>(3, GetCurrentThreadId()));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(third, 3);
    DestroyWindow(w);
}

int g_timerProcCalls = 0;
UINT_PTR g_timerProcId = 0;
void CountingTimerProc(HWND, UINT message, UINT_PTR id, DWORD)
{
    if (message == WM_TIMER) {
        ++g_timerProcCalls;
        g_timerProcId = id;
    }
}

MSG NextMessage()
{
    MSG msg{};
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 20000, QS_ALLINPUT), WAIT_OBJECT_0);
    EXPECT_EQ(GetMessage(&msg, nullptr, 0, 0), 1);
    return msg;
}

TEST(Timers, WindowAndCallbackTimers)
{
    TestClass cls("Quill_Timer");
    std::vector<WPARAM> ticks;
    Handler handler = [&](HWND, UINT m, WPARAM wp, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_TIMER) ticks.push_back(wp);
        return std::nullopt;
    };
    HWND w = MakeWindow(cls, &handler);
    EXPECT_EQ(quillory::NextQueueTimerDelay(), INFINITE);
    ASSERT_EQ(SetTimer(w, 7, 20, nullptr), 7u);
    EXPECT_LE(quillory::NextQueueTimerDelay(), 20u);
    MSG msg = NextMessage();
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_EQ(msg.hwnd, w);
    DispatchMessage(&msg);
    EXPECT_EQ(ticks, std::vector<WPARAM>{7});
    ASSERT_TRUE(KillTimer(w, 7));
    EXPECT_FALSE(KillTimer(w, 7));

    // A thread timer with a callback: DispatchMessage calls it.
    g_timerProcCalls = 0;
    const UINT_PTR id = SetTimer(nullptr, 0, 10, CountingTimerProc);
    ASSERT_NE(id, 0u);
    msg = NextMessage();
    EXPECT_EQ(msg.message, WM_TIMER);
    EXPECT_EQ(msg.hwnd, nullptr);
    DispatchMessage(&msg);
    EXPECT_EQ(g_timerProcCalls, 1);
    EXPECT_EQ(g_timerProcId, id);
    ASSERT_TRUE(KillTimer(nullptr, id));

    // Once killed, nothing more comes.
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT), WAIT_TIMEOUT);

    // A made-up WM_TIMER cannot make DispatchMessage call arbitrary code.
    const MSG forged{nullptr, WM_TIMER, id, reinterpret_cast<LPARAM>(&CountingTimerProc), 0, {0, 0}};
    DispatchMessage(&forged);
    EXPECT_EQ(g_timerProcCalls, 1);

    // Timers die with their window.
    SetTimer(w, 9, 10, nullptr);
    DestroyWindow(w);
    EXPECT_EQ(quillory::NextQueueTimerDelay(), INFINITE);
}

TEST(Timers, PostedMessagesAndQuitComeFirst)
{
    TestClass cls("Quill_TimerOrder");
    HWND w = MakeWindow(cls, &g_passThrough);
    // Long enough that it cannot fall due twice during the checks below.
    ASSERT_NE(SetTimer(w, 1, 300, nullptr), 0u);
    ASSERT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 20000, QS_TIMER), WAIT_OBJECT_0);
    PostMessage(w, WM_USER, 0, 0);
    PostQuitMessage(0);
    MSG msg{};
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_USER);
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_QUIT);
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, WM_TIMER);
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, WM_TIMER);
    // One WM_TIMER per fall due, however long it was overdue.
    EXPECT_FALSE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    DestroyWindow(w);
}

}  // namespace
