// Process-wide window state, per-thread queues and their end, and the
// delivery of messages sent from other threads.
#include "platform/base/message_queue.h"

#include <unistd.h>

#include <atomic>
#include <exception>
#include <new>

#include "platform/base/trace.h"
#include "platform/base/winerror.h"

namespace quillory::detail {

namespace {

// The state outlives every static destructor: threads still running at exit
// and modules torn down late may still call in.
template <class T>
class NoDestructor {
public:
    NoDestructor() { new (storage_) T(); }
    T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

std::atomic<DWORD> g_nextThreadId{0x100};
thread_local DWORD t_threadId = 0;
// Plain pointers so that they stay readable while thread_local objects are
// being destroyed at the thread's end.
thread_local Queue* t_queue = nullptr;
thread_local bool t_queueGone = false;
thread_local int t_inboundDepth = 0;

// Owns the thread's queue; its destruction at thread end tears the queue down.
struct ThreadQueueOwner {
    std::shared_ptr<Queue> queue;
    ThreadQueueOwner() = default;
    ThreadQueueOwner(const ThreadQueueOwner&) = delete;
    ThreadQueueOwner& operator=(const ThreadQueueOwner&) = delete;
    ~ThreadQueueOwner()
    {
        if (!queue) return;
        ThreadQueueEnding(*queue);
        t_queue = nullptr;
        t_queueGone = true;
    }
};
thread_local ThreadQueueOwner t_owner;

char LowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

State& Global()
{
    static NoDestructor<State> state;
    return state.get();
}

Queue* ExistingQueue() { return t_queue; }

Queue* CurrentQueue()
{
    if (t_queue != nullptr) return t_queue;
    if (t_queueGone) return nullptr;
    auto q = std::make_shared<Queue>(GetCurrentThreadId());
    {
        std::lock_guard<std::mutex> lock(Global().mutex);
        Global().queues[q->threadId] = q;
    }
    t_owner.queue = q;
    t_queue = q.get();
    return t_queue;
}

void Queue::Wake()
{
    std::lock_guard<std::mutex> guard(wakeMutex_);
    if (!wake_) return;
    try {
        wake_();
    } catch (const std::exception& e) {
        Trace("message queue %u: wake handler threw: %s\n", threadId, e.what());
    } catch (...) {
        Trace("message queue %u: wake handler threw\n", threadId);
    }
}

void Queue::SetWakeHandler(std::function<void()> handler)
{
    std::function<void()> old;
    {
        std::lock_guard<std::mutex> guard(wakeMutex_);
        old.swap(wake_);
        wake_ = std::move(handler);
    }
    // The old handler (and what it captured) goes away outside the mutex.
}

Window* LookupWindow(HWND hwnd)
{
    auto& windows = Global().windows;
    auto it = windows.find(reinterpret_cast<std::uintptr_t>(hwnd));
    return it == windows.end() ? nullptr : it->second.get();
}

bool IsAtom(LPCSTR nameOrAtom) { return reinterpret_cast<std::uintptr_t>(nameOrAtom) < 0x10000; }

std::string LowerAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out) c = LowerChar(c);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerChar(a[i]) != LowerChar(b[i])) return false;
    return true;
}

std::shared_ptr<WindowClass> LookupClass(LPCSTR nameOrAtom)
{
    auto& classes = Global().classes;
    if (nameOrAtom == nullptr) return nullptr;
    if (IsAtom(nameOrAtom)) {
        const auto atom = static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(nameOrAtom));
        for (auto& [key, cls] : classes)
            if (cls->atom == atom) return cls;
        return nullptr;
    }
    auto it = classes.find(LowerAscii(nameOrAtom));
    return it == classes.end() ? nullptr : it->second;
}

void FinishSent(SentMessage& sm, SentMessage::Status status, LRESULT result)
{
    sm.status = status;
    sm.result = result;
    if (sm.sender) sm.sender->cv.notify_all();
}

void FailPendingSends(Queue& q, HWND hwnd)
{
    for (auto it = q.sent.begin(); it != q.sent.end();) {
        if (hwnd == nullptr || (*it)->hwnd == hwnd) {
            FinishSent(**it, SentMessage::Status::Failed, 0);
            it = q.sent.erase(it);
        } else {
            ++it;
        }
    }
}

bool DeliverOneSent(Queue& q, Lock& lock)
{
    if (q.sent.empty()) return false;
    std::shared_ptr<SentMessage> sm = std::move(q.sent.front());
    q.sent.pop_front();
    q.lastCheck = Clock::now();
    Window* w = LookupWindow(sm->hwnd);
    if (w == nullptr || w->queue.get() != &q) {
        FinishSent(*sm, SentMessage::Status::Failed, 0);
        return true;
    }
    const WNDPROC proc = w->proc;
    sm->status = SentMessage::Status::Running;
    lock.unlock();
    LRESULT result = 0;
    ++t_inboundDepth;
    try {
        result = proc(sm->hwnd, sm->message, sm->wParam, sm->lParam);
    } catch (...) {
        // The sender must not wait for ever; the exception goes on to the
        // receiver's message loop.
        --t_inboundDepth;
        lock.lock();
        FinishSent(*sm, SentMessage::Status::Failed, 0);
        throw;
    }
    --t_inboundDepth;
    lock.lock();
    FinishSent(*sm, SentMessage::Status::Done, result);
    return true;
}

void DeliverAllSent(Queue& q, Lock& lock)
{
    while (DeliverOneSent(q, lock)) {
    }
}

LRESULT CallCurrentProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC proc = nullptr;
    {
        std::lock_guard<std::mutex> lock(Global().mutex);
        if (Window* w = LookupWindow(hwnd)) proc = w->proc;
    }
    return proc ? proc(hwnd, message, wParam, lParam) : 0;
}

void ThreadQueueEnding(Queue& q)
{
    State& s = Global();
    // Destroy the thread's windows, top-level ones first (children go with
    // their parents), while the thread can still run their procedures.
    for (;;) {
        HWND next = nullptr;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            for (auto& [key, w] : s.windows) {
                if (w->queue.get() == &q && !w->destroying &&
                    (w->parent == nullptr || LookupWindow(w->parent) == nullptr)) {
                    next = w->handle;
                    break;
                }
            }
        }
        if (next == nullptr) break;
        try {
            DestroyWindow(next);
        } catch (const std::exception& e) {
            Trace("thread %u ending: window procedure threw: %s\n", q.threadId, e.what());
        } catch (...) {
            Trace("thread %u ending: window procedure threw\n", q.threadId);
        }
    }
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        for (auto it = s.windows.begin(); it != s.windows.end();) {
            if (it->second->queue.get() == &q) {
                Trace("thread %u ending: dropping window %p\n", q.threadId,
                      static_cast<void*>(it->second->handle));
                --it->second->cls->windows;
                it = s.windows.erase(it);
            } else {
                ++it;
            }
        }
        q.alive = false;
        auto it = s.queues.find(q.threadId);
        if (it != s.queues.end() && it->second.get() == &q) s.queues.erase(it);
        FailPendingSends(q, nullptr);
        q.posted.clear();
        q.timers.clear();
        q.quitPending = false;
    }
    q.SetWakeHandler(nullptr);
}

}  // namespace quillory::detail

using namespace quillory::detail;

DWORD GetCurrentThreadId()
{
    if (t_threadId == 0) t_threadId = g_nextThreadId.fetch_add(1);
    return t_threadId;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

BOOL InSendMessage() { return t_inboundDepth > 0 ? TRUE : FALSE; }

namespace quillory {

void SetQueueWakeHandler(std::function<void()> handler)
{
    Queue* q = CurrentQueue();
    if (q == nullptr) {
        Trace("SetQueueWakeHandler: the thread's queue is gone\n");
        return;
    }
    q->SetWakeHandler(std::move(handler));
}

}  // namespace quillory
