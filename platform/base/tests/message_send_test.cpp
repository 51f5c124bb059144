// SendMessage between threads, WM_COPYDATA, and what happens when the
// receiving window or thread goes away.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <future>
#include <latch>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/base/tests/window_test_util.h"
#include "platform/base/window.h"
#include "platform/base/winerror.h"

namespace {

using namespace std::chrono_literals;
using quillory::testing::Handler;
using quillory::testing::LoopThread;
using quillory::testing::MakeWindow;
using quillory::testing::TestClass;
using Clock = std::chrono::steady_clock;

// A hang shows as a failed test rather than a test that never ends.
constexpr auto kHangLimit = 20s;

template <class T>
void ExpectNoHang(std::future<T>& f)
{
    if (f.wait_for(kHangLimit) != std::future_status::ready) {
        std::fprintf(stderr, "hung: a message call did not return\n");
        std::abort();
    }
}

template <class F>
auto RunGuarded(F f)
{
    auto result = std::async(std::launch::async, std::move(f));
    ExpectNoHang(result);
    return result.get();
}

TEST(CrossThreadSend, RunsOnTheOwnerThreadWhileTheSenderWaits)
{
    TestClass cls("Quill_Send");
    std::atomic<bool> senderReturned{false};
    DWORD procThread = 0;
    bool senderReturnedDuringProc = true;
    BOOL inSend = FALSE;
    Handler handler = [&](HWND, UINT m, WPARAM wp, LPARAM) -> std::optional<LRESULT> {
        if (m != WM_USER) return std::nullopt;
        procThread = GetCurrentThreadId();
        inSend = InSendMessage();
        std::this_thread::sleep_for(30ms);
        senderReturnedDuringProc = senderReturned.load();
        return static_cast<LRESULT>(wp * 2);
    };
    LoopThread owner;
    HWND w = owner.Run([&] { return MakeWindow(cls, &handler, "owner's"); });
    ASSERT_NE(w, nullptr);

    EXPECT_EQ(FindWindow(cls.name(), nullptr), w);
    EXPECT_EQ(GetWindowThreadProcessId(w, nullptr), owner.id());
    const LRESULT r = SendMessage(w, WM_USER, 21, 0);
    senderReturned = true;
    EXPECT_EQ(r, 42);
    EXPECT_EQ(procThread, owner.id());
    EXPECT_NE(procThread, GetCurrentThreadId());
    EXPECT_FALSE(senderReturnedDuringProc);
    EXPECT_TRUE(inSend);

    DWORD_PTR answer = 0;
    EXPECT_EQ(SendMessageTimeout(w, WM_USER, 5, 0, SMTO_ABORTIFHUNG, 20000, &answer), 1);
    EXPECT_EQ(answer, 10u);
    owner.Run([&] { return DestroyWindow(w); });
}

TEST(CrossThreadSend, MutualSendsDoNotDeadlock)
{
    TestClass cls("Quill_Mutual");
    HWND wa = nullptr, wb = nullptr;
    std::latch bothSending(2);
    Handler handlerA = [&](HWND, UINT m, WPARAM wp, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_USER) return SendMessage(wb, WM_USER + 1, wp + 1, 0);  // B calls back into A
        if (m == WM_USER + 2) return static_cast<LRESULT>(1000 + wp);
        if (m == WM_USER + 10) return 1;
        return std::nullopt;
    };
    Handler handlerB = [&](HWND, UINT m, WPARAM wp, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_USER + 1) return SendMessage(wa, WM_USER + 2, wp + 1, 0);
        if (m == WM_USER + 10) return 2;
        return std::nullopt;
    };
    LoopThread a, b;
    wa = a.Run([&] { return MakeWindow(cls, &handlerA); });
    wb = b.Run([&] { return MakeWindow(cls, &handlerB); });

    // A nested chain: main -> A -> B -> A while A waits for B.
    EXPECT_EQ(RunGuarded([&] { return SendMessage(wa, WM_USER, 1, 0); }), 1003);

    // Both threads sending to each other at the same moment.
    auto sendFrom = [&](LoopThread& t, HWND target) {
        return std::async(std::launch::async, [&t, target, &bothSending] {
            return t.Run([target, &bothSending] {
                bothSending.arrive_and_wait();
                return SendMessage(target, WM_USER + 10, 0, 0);
            });
        });
    };
    auto fromA = sendFrom(a, wb);
    auto fromB = sendFrom(b, wa);
    ExpectNoHang(fromA);
    ExpectNoHang(fromB);
    EXPECT_EQ(fromA.get(), 2);
    EXPECT_EQ(fromB.get(), 1);
    a.Run([&] { return DestroyWindow(wa); });
    b.Run([&] { return DestroyWindow(wb); });
}

TEST(CrossThreadSend, CopyDataAndTextArriveIntact)
{
    TestClass cls("Quill_CopyData");
    std::vector<unsigned char> received;
    ULONG_PTR code = 0;
    const void* seenPointer = nullptr;
    DWORD seenSize = 99;
    Handler handler = [&](HWND, UINT m, WPARAM, LPARAM lp) -> std::optional<LRESULT> {
        if (m != WM_COPYDATA) return std::nullopt;
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
        code = cds->dwData;
        seenPointer = cds->lpData;
        seenSize = cds->cbData;
        const auto* bytes = static_cast<const unsigned char*>(cds->lpData);
        received.assign(bytes, bytes + cds->cbData);
        return static_cast<LRESULT>(cds->cbData);
    };
    LoopThread owner;
    HWND w = owner.Run([&] { return MakeWindow(cls, &handler, "a@b.example;User;0A0B;0C0D"); });

    std::vector<unsigned char> payload(100000);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<unsigned char>(i * 31 + 7);
    COPYDATASTRUCT cds{667, static_cast<DWORD>(payload.size()), payload.data()};
    EXPECT_EQ(SendMessage(w, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), 100000);
    EXPECT_EQ(code, 667u);
    EXPECT_EQ(received, payload);

    // Two strings one after the other, as a rename notification carries them.
    static const char kNames[] = "old name\0new name";
    COPYDATASTRUCT rename{668, sizeof kNames, const_cast<char*>(kNames)};
    SendMessage(w, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&rename));
    EXPECT_EQ(code, 668u);
    ASSERT_EQ(received.size(), sizeof kNames);
    EXPECT_EQ(std::memcmp(received.data(), kNames, sizeof kNames), 0);

    // No data: the receiver never gets a pointer it could read from.
    COPYDATASTRUCT empty{669, 0, payload.data()};
    SendMessage(w, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&empty));
    EXPECT_EQ(seenPointer, nullptr);
    EXPECT_EQ(seenSize, 0u);

    // The window text, through WM_GETTEXT as the provider reads it.
    std::vector<char> text(5000, 'x');
    EXPECT_EQ(SendMessage(w, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())), 26);
    EXPECT_STREQ(text.data(), "a@b.example;User;0A0B;0C0D");
    char small[5];
    EXPECT_EQ(SendMessage(w, WM_GETTEXT, sizeof small, reinterpret_cast<LPARAM>(small)), 4);
    EXPECT_STREQ(small, "a@b.");
    EXPECT_EQ(SendMessage(w, WM_GETTEXTLENGTH, 0, 0), 26);
    ASSERT_TRUE(SetWindowText(w, "changed"));

    // GetWindowText of another thread's window does not need its owner:
    // it works while the owner is busy.
    std::promise<void> release, busyNow;
    auto busy = std::async(std::launch::async, [&] {
        owner.Run([&] {
            busyNow.set_value();
            release.get_future().wait();
        });
    });
    busyNow.get_future().wait();
    char stored[32];
    EXPECT_EQ(RunGuarded([&] { return GetWindowText(w, stored, sizeof stored); }), 7);
    EXPECT_STREQ(stored, "changed");
    EXPECT_EQ(GetWindowTextLength(w), 7);
    release.set_value();
    busy.get();
    owner.Run([&] { return DestroyWindow(w); });
}

TEST(CrossThreadSend, TimeoutsLeaveNoLateWrites)
{
    TestClass cls("Quill_Timeout");
    std::atomic<int> userMessages{0};
    std::promise<void> releaseGetText;
    std::shared_future<void> released = releaseGetText.get_future().share();
    std::promise<void> getTextStarted;
    Handler handler = [&](HWND, UINT m, WPARAM wp, LPARAM lp) -> std::optional<LRESULT> {
        if (m == WM_USER) ++userMessages;
        if (m == WM_GETTEXT) {
            getTextStarted.set_value();
            released.wait();
            std::snprintf(reinterpret_cast<char*>(lp), wp, "%s", "written late");
            return 12;
        }
        return std::nullopt;
    };
    LoopThread owner;
    HWND w = owner.Run([&] { return MakeWindow(cls, &handler); });

    // The owner is busy: the message times out and is withdrawn.
    std::promise<void> unblock, busyNow;
    auto busy = std::async(std::launch::async, [&] {
        owner.Run([&] {
            busyNow.set_value();
            unblock.get_future().wait();
        });
    });
    busyNow.get_future().wait();
    DWORD_PTR answer = 77;
    const auto start = Clock::now();
    SetLastError(0);
    EXPECT_EQ(SendMessageTimeout(w, WM_USER, 0, 0, SMTO_NORMAL, 100, &answer), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_GE(Clock::now() - start, 95ms);
    EXPECT_EQ(answer, 0u);
    unblock.set_value();
    busy.get();
    owner.Run([] { return 0; });  // the owner has looked at its queue again
    EXPECT_EQ(userMessages.load(), 0);

    // The receiver is already running when the sender gives up: it writes
    // into its own copy, never into the sender's (by then freed) buffer.
    // (The time-out leaves the idle owner ample time to start.)
    auto buffer = std::make_unique<char[]>(64);
    std::strcpy(buffer.get(), "untouched");
    EXPECT_EQ(SendMessageTimeout(w, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(buffer.get()), SMTO_NORMAL,
                                 500, &answer),
              0);
    EXPECT_STREQ(buffer.get(), "untouched");
    buffer.reset();
    auto started = getTextStarted.get_future();
    ExpectNoHang(started);
    releaseGetText.set_value();
    owner.Run([] { return 0; });
    owner.Run([&] { return DestroyWindow(w); });
}

// A thread that owns a window but does not pump until told to act.
struct IdleOwner {
    std::promise<HWND> created;
    std::promise<void> messageArrived;
    std::atomic<bool> signalled{false};
    std::promise<void> act;
    std::vector<UINT> seen;
    std::vector<DWORD> seenOn;
    DWORD threadId = 0;
    Handler handler = [this](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        seen.push_back(m);
        seenOn.push_back(GetCurrentThreadId());
        return std::nullopt;
    };
};

TEST(CrossThreadSend, PendingSendFailsWhenTheWindowIsDestroyed)
{
    TestClass cls("Quill_DestroyPending");
    IdleOwner o;
    std::thread owner([&] {
        o.threadId = GetCurrentThreadId();
        quillory::SetQueueWakeHandler([&] {
            if (!o.signalled.exchange(true)) o.messageArrived.set_value();
        });
        o.created.set_value(MakeWindow(cls, &o.handler));
        o.messageArrived.get_future().wait();
        DestroyWindow(FindWindow(cls.name(), nullptr));  // without pumping first
    });
    HWND w = o.created.get_future().get();
    SetLastError(0);
    EXPECT_EQ(RunGuarded([&] {
                  const LRESULT r = SendMessage(w, WM_USER, 0, 0);
                  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
                  return r;
              }),
              0);
    owner.join();
    EXPECT_EQ(o.seen, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(w));
}

TEST(CrossThreadSend, WindowsOfAnEndedThreadAreGone)
{
    TestClass cls("Quill_Ended");
    IdleOwner o;
    std::thread owner([&] {
        o.threadId = GetCurrentThreadId();
        HWND w = MakeWindow(cls, &o.handler, "ending");
        SetTimer(w, 1, 10, nullptr);
        PostMessage(w, WM_USER + 1, 0, 0);
        quillory::SetQueueWakeHandler([&] {
            if (!o.signalled.exchange(true)) o.messageArrived.set_value();
        });
        o.created.set_value(w);
        o.messageArrived.get_future().wait();
        // Ends without pumping or destroying anything.
    });
    HWND w = o.created.get_future().get();
    EXPECT_EQ(RunGuarded([&] { return SendMessage(w, WM_USER, 0, 0); }), 0);
    owner.join();

    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(FindWindow(cls.name(), nullptr), nullptr);
    EXPECT_EQ(FindWindow(nullptr, "ending"), nullptr);
    EXPECT_FALSE(PostThreadMessage(o.threadId, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
    EXPECT_FALSE(PostMessage(w, WM_USER, 0, 0));
    // The procedure saw the end on its own thread; the pending and posted
    // messages never ran.
    EXPECT_EQ(o.seen, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_EQ(o.seenOn, std::vector<DWORD>(4, o.threadId));
    EXPECT_TRUE(UnregisterClass(cls.name(), nullptr));
}

TEST(CrossThreadSend, ReceiverExceptionDoesNotStrandTheSender)
{
    TestClass cls("Quill_Throw");
    std::promise<HWND> created;
    bool caught = false;
    Handler handler = [](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_USER) throw std::runtime_error("procedure failed");
        return std::nullopt;
    };
    std::thread owner([&] {
        created.set_value(MakeWindow(cls, &handler));
        try {
            MSG msg;
            while (GetMessage(&msg, nullptr, 0, 0) > 0) DispatchMessage(&msg);
        } catch (const std::runtime_error&) {
            caught = true;
        }
    });
    HWND w = created.get_future().get();
    EXPECT_EQ(RunGuarded([&] { return SendMessage(w, WM_USER, 0, 0); }), 0);
    owner.join();
    EXPECT_TRUE(caught);
    EXPECT_FALSE(IsWindow(w));
}

TEST(WakeHandler, CalledForPostsAndSendsUntilRemoved)
{
    TestClass cls("Quill_Wake");
    std::atomic<int> wakes{0};
    Handler passThrough = [](HWND, UINT, WPARAM, LPARAM) -> std::optional<LRESULT> { return std::nullopt; };
    LoopThread owner;
    HWND w = owner.Run([&] {
        quillory::SetQueueWakeHandler([&wakes] { ++wakes; });
        return MakeWindow(cls, &passThrough);
    });

    int before = wakes.load();
    ASSERT_TRUE(PostThreadMessage(owner.id(), WM_NULL, 0, 0));
    EXPECT_EQ(wakes.load(), before + 1);  // called inside the post, on this thread
    before = wakes.load();
    ASSERT_TRUE(PostMessage(w, WM_USER, 0, 0));
    EXPECT_EQ(wakes.load(), before + 1);
    before = wakes.load();
    SendMessage(w, WM_USER, 0, 0);
    EXPECT_EQ(wakes.load(), before + 1);

    owner.Run([] { quillory::SetQueueWakeHandler(nullptr); });
    before = wakes.load();
    PostMessage(w, WM_USER, 0, 0);
    SendMessage(w, WM_USER, 0, 0);
    EXPECT_EQ(wakes.load(), before);
    owner.Run([&] { return DestroyWindow(w); });
}

}  // namespace
