// Posting, and the loops that take messages from a thread's queue. A queue
// is searched in the home platform's order: messages sent from other threads
// (always delivered first), posted messages in order, WM_QUIT once nothing
// posted is left, and last WM_TIMER for timers that are due.
#include "platform/base/message_queue.h"
#include "platform/base/time.h"
#include "platform/base/trace.h"
#include "platform/base/winerror.h"

using namespace quillory::detail;

namespace {

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));

BOOL Fail(DWORD err)
{
    SetLastError(err);
    return FALSE;
}

bool PushLocked(Queue& q, const MSG& msg)
{
    if (!q.alive) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return false;
    }
    if (q.posted.size() >= kMaxPostedMessages) {
        quillory::Trace("PostMessage: queue of thread %u is full, message 0x%x dropped\n", q.threadId,
                        msg.message);
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return false;
    }
    q.posted.push_back(msg);
    q.cv.notify_all();
    return true;
}

// A filter window must be one of the calling thread's own.
bool FilterValid(HWND filter, const Queue& q)
{
    if (filter == nullptr || filter == kThreadMessagesOnly) return true;
    const Window* w = LookupWindow(filter);
    return w != nullptr && w->queue.get() == &q;
}

// Takes (or, without PM_REMOVE, copies) the next message the filter
// accepts. synthesized tells that the message's time is still to be set.
bool TakeMessage(Queue& q, HWND filter, UINT filterMin, UINT filterMax, UINT flags, MSG* out,
                 bool* synthesized)
{
    const DWORD kinds = flags >> 16;  // PM_QS_* narrow the search
    const bool posted = kinds == 0 || (kinds & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) != 0;
    const bool timers = kinds == 0 || (kinds & QS_TIMER) != 0;
    const bool remove = (flags & PM_REMOVE) != 0;
    *synthesized = false;
    if (posted) {
        for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
            if (MatchesWindow(it->hwnd, filter) && MatchesRange(it->message, filterMin, filterMax)) {
                *out = *it;
                if (remove) q.posted.erase(it);
                return true;
            }
        }
        // WM_QUIT passes every filter.
        if (q.quitPending) {
            *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q.quitCode), 0, 0, {0, 0}};
            if (remove) q.quitPending = false;
            *synthesized = true;
            return true;
        }
    }
    if (timers && MatchesRange(WM_TIMER, filterMin, filterMax) && TakeTimerMessage(q, filter, remove, out)) {
        *synthesized = true;
        return true;
    }
    return false;
}

}  // namespace

namespace quillory::detail {

bool MatchesWindow(HWND msgHwnd, HWND filter)
{
    if (filter == nullptr) return true;
    if (filter == kThreadMessagesOnly) return msgHwnd == nullptr;
    for (HWND h = msgHwnd; h != nullptr;) {
        if (h == filter) return true;
        const Window* w = LookupWindow(h);
        if (w == nullptr) return false;
        h = w->parent;
    }
    return false;
}

bool MatchesRange(UINT message, UINT filterMin, UINT filterMax)
{
    return (filterMin == 0 && filterMax == 0) || (message >= filterMin && message <= filterMax);
}

}  // namespace quillory::detail

BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam)
{
    const MSG msg{nullptr, message, wParam, lParam, GetTickCount(), {0, 0}};
    std::shared_ptr<Queue> target;
    {
        State& s = Global();
        std::lock_guard<std::mutex> lock(s.mutex);
        auto it = s.queues.find(threadId);
        if (it == s.queues.end()) return Fail(ERROR_INVALID_THREAD_ID);
        target = it->second;
        if (!PushLocked(*target, msg)) return FALSE;
    }
    target->Wake();
    return TRUE;
}

BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (hwnd == nullptr) {
        if (CurrentQueue() == nullptr) return Fail(ERROR_INVALID_THREAD_ID);
        return PostThreadMessage(GetCurrentThreadId(), message, wParam, lParam);
    }
    const MSG msg{hwnd, message, wParam, lParam, GetTickCount(), {0, 0}};
    std::shared_ptr<Queue> target;
    {
        std::lock_guard<std::mutex> lock(Global().mutex);
        const Window* w = LookupWindow(hwnd);
        if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
        target = w->queue;
        if (!PushLocked(*target, msg)) return FALSE;
    }
    target->Wake();
    return TRUE;
}

void PostQuitMessage(int exitCode)
{
    Queue* q = CurrentQueue();
    if (q == nullptr) {
        quillory::Trace("PostQuitMessage: the thread's queue is gone\n");
        return;
    }
    {
        std::lock_guard<std::mutex> lock(Global().mutex);
        q->quitPending = true;
        q->quitCode = exitCode;
        q->cv.notify_all();
    }
    q->Wake();
}

BOOL PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags)
{
    if (msg == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    Queue* q = CurrentQueue();
    if (q == nullptr) return Fail(ERROR_INVALID_THREAD_ID);
    bool synthesized = false;
    {
        Lock lock(Global().mutex);
        if (!FilterValid(hwnd, *q)) return Fail(ERROR_INVALID_WINDOW_HANDLE);
        q->lastCheck = Clock::now();
        DeliverAllSent(*q, lock);
        if (!TakeMessage(*q, hwnd, filterMin, filterMax, removeFlags, msg, &synthesized)) return FALSE;
    }
    if (synthesized) msg->time = GetTickCount();
    return TRUE;
}

BOOL GetMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax)
{
    if (msg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    Queue* q = CurrentQueue();
    if (q == nullptr) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return -1;
    }
    bool synthesized = false;
    {
        Lock lock(Global().mutex);
        for (;;) {
            // Checked on every round: a filter window destroyed meanwhile
            // would otherwise leave the caller waiting for ever.
            if (!FilterValid(hwnd, *q)) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return -1;
            }
            q->lastCheck = Clock::now();
            DeliverAllSent(*q, lock);
            if (TakeMessage(*q, hwnd, filterMin, filterMax, PM_REMOVE, msg, &synthesized)) break;
            const Deadline due = NextTimerDue(*q, hwnd, filterMin, filterMax);
            WaitingScope waiting(*q);
            WaitForQueue(*q, lock, due);
        }
    }
    if (synthesized) msg->time = GetTickCount();
    return msg->message == WM_QUIT ? 0 : 1;
}

BOOL TranslateMessage(const MSG*)
{
    // There is no keyboard, so there are no key messages to translate.
    return FALSE;
}

LRESULT DispatchMessage(const MSG* msg)
{
    if (msg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (msg->message == WM_TIMER && msg->lParam != 0) {
        // Only the procedure of a live timer is called, never whatever a
        // posted message carries in lParam.
        const auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
        bool known = false;
        {
            std::lock_guard<std::mutex> lock(Global().mutex);
            Queue* q = ExistingQueue();
            known = q != nullptr && HasTimer(*q, msg->hwnd, msg->wParam, proc);
        }
        if (!known) {
            quillory::Trace("DispatchMessage: WM_TIMER for no live timer ignored\n");
            return 0;
        }
        proc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
        return 0;
    }
    if (msg->hwnd == nullptr) return 0;
    WNDPROC proc = nullptr;
    {
        std::lock_guard<std::mutex> lock(Global().mutex);
        const Window* w = LookupWindow(msg->hwnd);
        Queue* q = ExistingQueue();
        if (w == nullptr || q == nullptr || w->queue.get() != q) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        proc = w->proc;
    }
    return proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE*, DWORD timeoutMs, DWORD wakeMask, DWORD)
{
    if (count != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    Queue* q = CurrentQueue();
    if (q == nullptr) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return WAIT_FAILED;
    }
    const bool wantPosted = (wakeMask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) != 0;
    const bool wantTimers = (wakeMask & QS_TIMER) != 0;
    // Sent messages are delivered here in any case; they end the wait only
    // when nothing else was asked for.
    const bool sentEndsWait = (wakeMask & QS_SENDMESSAGE) != 0 && !wantPosted && !wantTimers;
    const Deadline deadline =
        timeoutMs == INFINITE ? Deadline{} : Deadline::In(std::chrono::milliseconds(timeoutMs));

    Lock lock(Global().mutex);
    for (;;) {
        q->lastCheck = Clock::now();
        bool delivered = false;
        while (DeliverOneSent(*q, lock)) delivered = true;
        if (wantPosted && (!q->posted.empty() || q->quitPending)) return WAIT_OBJECT_0;
        Deadline wake = deadline;
        if (wantTimers) {
            const Deadline due = NextTimerDue(*q, nullptr, 0, 0);
            if (due.Passed()) return WAIT_OBJECT_0;
            wake.KeepEarliest(due);
        }
        if (sentEndsWait && delivered) return WAIT_OBJECT_0;
        if (deadline.Passed()) return WAIT_TIMEOUT;
        WaitingScope waiting(*q);
        WaitForQueue(*q, lock, wake);
    }
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs,
                                DWORD wakeMask)
{
    return MsgWaitForMultipleObjectsEx(count, handles, timeoutMs, wakeMask, waitAll ? MWMO_WAITALL : 0);
}

BOOL WaitMessage()
{
    return MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, QS_ALLINPUT, 0) == WAIT_OBJECT_0 ? TRUE
                                                                                           : FALSE;
}
