// Timers. A timer lives in its thread's queue and produces WM_TIMER when the
// queue is looked at after it fell due and nothing more urgent is waiting;
// a timer that fell due several times still gives one WM_TIMER.
#include <algorithm>

#include "platform/base/message_queue.h"
#include "platform/base/winerror.h"

using namespace quillory::detail;

namespace {

Timer* FindTimer(Queue& q, HWND hwnd, UINT_PTR id)
{
    for (Timer& t : q.timers)
        if (t.hwnd == hwnd && t.id == id) return &t;
    return nullptr;
}

UINT_PTR NewThreadTimerId(State& s, Queue& q)
{
    for (;;) {
        const UINT_PTR id = s.nextThreadTimerId++;
        if (id != 0 && FindTimer(q, nullptr, id) == nullptr) return id;
    }
}

}  // namespace

namespace quillory::detail {

Deadline NextTimerDue(const Queue& q, HWND filter, UINT filterMin, UINT filterMax)
{
    Deadline next;
    if (!MatchesRange(WM_TIMER, filterMin, filterMax)) return next;
    for (const Timer& t : q.timers)
        if (MatchesWindow(t.hwnd, filter)) next.KeepEarliest(Deadline{true, t.due});
    return next;
}

bool TakeTimerMessage(Queue& q, HWND filter, bool remove, MSG* out)
{
    const auto now = Clock::now();
    Timer* best = nullptr;
    for (Timer& t : q.timers)
        if (t.due <= now && MatchesWindow(t.hwnd, filter) && (best == nullptr || t.due < best->due))
            best = &t;
    if (best == nullptr) return false;
    *out = MSG{best->hwnd, WM_TIMER, best->id, reinterpret_cast<LPARAM>(best->proc), 0, {0, 0}};
    if (remove) best->due = now + best->interval;
    return true;
}

bool HasTimer(const Queue& q, HWND hwnd, UINT_PTR id, TIMERPROC proc)
{
    return std::any_of(q.timers.begin(), q.timers.end(), [&](const Timer& t) {
        return t.hwnd == hwnd && t.id == id && t.proc == proc;
    });
}

void RemoveTimers(Queue& q, HWND hwnd)
{
    std::erase_if(q.timers, [hwnd](const Timer& t) { return t.hwnd == hwnd; });
}

}  // namespace quillory::detail

UINT_PTR SetTimer(HWND hwnd, UINT_PTR idEvent, UINT elapseMs, TIMERPROC proc)
{
    Queue* q = CurrentQueue();
    if (q == nullptr) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return 0;
    }
    const auto interval =
        std::chrono::milliseconds(std::clamp(elapseMs, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));
    UINT_PTR result = 0;
    {
        State& s = Global();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (hwnd != nullptr) {
            const Window* w = LookupWindow(hwnd);
            if (w == nullptr) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return 0;
            }
            if (w->queue.get() != q) {
                SetLastError(ERROR_ACCESS_DENIED);
                return 0;
            }
        }
        Timer* t = (hwnd != nullptr || idEvent != 0) ? FindTimer(*q, hwnd, idEvent) : nullptr;
        if (t == nullptr) {
            const UINT_PTR id = hwnd != nullptr ? idEvent : NewThreadTimerId(s, *q);
            q->timers.push_back(Timer{hwnd, id, {}, {}, nullptr});
            t = &q->timers.back();
        }
        t->interval = interval;
        t->due = Clock::now() + interval;
        t->proc = proc;
        // Home returns a nonzero value for a window timer, its id when it has one.
        result = hwnd != nullptr ? (t->id != 0 ? t->id : 1) : t->id;
        q->cv.notify_all();
    }
    q->Wake();
    return result;
}

BOOL KillTimer(HWND hwnd, UINT_PTR idEvent)
{
    Queue* q = ExistingQueue();
    std::lock_guard<std::mutex> lock(Global().mutex);
    if (hwnd != nullptr) {
        const Window* w = LookupWindow(hwnd);
        if (w == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (w->queue.get() != q) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    const auto before = q != nullptr ? q->timers.size() : 0;
    if (q != nullptr)
        std::erase_if(q->timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == idEvent; });
    if (q == nullptr || q->timers.size() == before) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

namespace quillory {

DWORD NextQueueTimerDelay()
{
    Queue* q = ExistingQueue();
    if (q == nullptr) return INFINITE;
    std::lock_guard<std::mutex> lock(Global().mutex);
    const Deadline due = NextTimerDue(*q, nullptr, 0, 0);
    if (!due.set) return INFINITE;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due.at - Clock::now()).count();
    return static_cast<DWORD>(std::clamp<long long>(left, 0, INFINITE - 1));
}

}  // namespace quillory
