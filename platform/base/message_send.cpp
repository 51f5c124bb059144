// SendMessage: a direct call on the owner thread; from another thread the
// message is queued for the owner, which runs it the next time it looks at
// its queue, while the sender waits and meanwhile runs what others send it.
#include <algorithm>
#include <cstring>

#include "platform/base/message_queue.h"
#include "platform/base/trace.h"
#include "platform/base/winerror.h"

using namespace quillory::detail;

namespace {

// The largest WM_GETTEXT buffer copied for another thread's window.
constexpr std::size_t kMaxMarshalledText = 1 << 20;

enum class SendOutcome { Ok, Failed, TimedOut };

// Gives the receiver private copies of what lParam points to, so it never
// touches the sender's memory and a sender that stopped waiting is safe.
void Marshal(SentMessage& sm)
{
    if (sm.lParam == 0) return;
    switch (sm.message) {
    case WM_COPYDATA: {
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(sm.lParam);
        sm.copyData.dwData = cds->dwData;
        if (cds->lpData != nullptr && cds->cbData != 0) {
            const auto* data = static_cast<const char*>(cds->lpData);
            sm.payload.assign(data, data + cds->cbData);
            sm.copyData.cbData = cds->cbData;
            sm.copyData.lpData = sm.payload.data();
        } else {
            sm.copyData.cbData = 0;
            sm.copyData.lpData = nullptr;
        }
        sm.lParam = reinterpret_cast<LPARAM>(&sm.copyData);
        break;
    }
    case WM_SETTEXT: {
        const auto* text = reinterpret_cast<const char*>(sm.lParam);
        sm.payload.assign(text, text + std::strlen(text) + 1);
        sm.lParam = reinterpret_cast<LPARAM>(sm.payload.data());
        break;
    }
    case WM_GETTEXT:
        if (sm.wParam == 0) break;
        sm.payload.assign(std::min<std::size_t>(sm.wParam, kMaxMarshalledText), '\0');
        sm.wParam = sm.payload.size();
        sm.lParam = reinterpret_cast<LPARAM>(sm.payload.data());
        break;
    default:
        break;
    }
}

// Hands a WM_GETTEXT answer back into the sender's buffer.
LRESULT CopyTextBack(const SentMessage& sm, WPARAM size, LPARAM buffer, LRESULT result)
{
    if (sm.message != WM_GETTEXT || buffer == 0 || size == 0 || sm.payload.empty()) return result;
    const std::size_t room = std::min<std::size_t>(size, sm.payload.size()) - 1;
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max<LRESULT>(result, 0)), room);
    char* out = reinterpret_cast<char*>(buffer);
    std::memcpy(out, sm.payload.data(), n);
    out[n] = '\0';
    return static_cast<LRESULT>(n);
}

SendOutcome Send(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                 const Deadline& deadline, LRESULT* result)
{
    *result = 0;
    Queue* self = CurrentQueue();
    Lock lock(Global().mutex);
    Window* w = LookupWindow(hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return SendOutcome::Failed;
    }
    if (self != nullptr && w->queue.get() == self) {
        const WNDPROC proc = w->proc;
        lock.unlock();
        *result = proc(hwnd, message, wParam, lParam);
        return SendOutcome::Ok;
    }
    if (self == nullptr) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return SendOutcome::Failed;
    }
    const std::shared_ptr<Queue> target = w->queue;
    if (!target->alive) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return SendOutcome::Failed;
    }
    if ((flags & SMTO_ABORTIFHUNG) != 0 && !target->waiting &&
        Clock::now() - target->lastCheck > kHungAfter) {
        SetLastError(ERROR_TIMEOUT);
        return SendOutcome::TimedOut;
    }

    auto sm = std::make_shared<SentMessage>();
    sm->hwnd = hwnd;
    sm->message = message;
    sm->wParam = wParam;
    sm->lParam = lParam;
    sm->sender = self->shared_from_this();
    Marshal(*sm);
    target->sent.push_back(sm);
    target->cv.notify_all();
    lock.unlock();
    target->Wake();
    lock.lock();

    const bool block = (flags & SMTO_BLOCK) != 0;
    while (sm->status == SentMessage::Status::Pending || sm->status == SentMessage::Status::Running) {
        // Answering what is sent to us meanwhile keeps two threads that
        // send to each other from waiting for ever.
        if (!block && DeliverOneSent(*self, lock)) continue;
        if (deadline.Passed()) {
            if (sm->status == SentMessage::Status::Pending)
                std::erase(target->sent, sm);
            SetLastError(ERROR_TIMEOUT);
            return SendOutcome::TimedOut;
        }
        WaitingScope waiting(*self);
        if (block) self->waiting = false;
        WaitForQueue(*self, lock, deadline);
    }
    if (sm->status == SentMessage::Status::Failed) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return SendOutcome::Failed;
    }
    *result = CopyTextBack(*sm, wParam, lParam, sm->result);
    return SendOutcome::Ok;
}

}  // namespace

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    Send(hwnd, message, wParam, lParam, SMTO_NORMAL, Deadline{}, &result);
    return result;
}

LRESULT SendMessageTimeout(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                           UINT timeoutMs, DWORD_PTR* result)
{
    LRESULT answer = 0;
    // The time-out counts from the call, as at home.
    const Deadline deadline =
        timeoutMs == INFINITE ? Deadline{} : Deadline::In(std::chrono::milliseconds(timeoutMs));
    const SendOutcome outcome = Send(hwnd, message, wParam, lParam, flags, deadline, &answer);
    if (result != nullptr) *result = outcome == SendOutcome::Ok ? static_cast<DWORD_PTR>(answer) : 0;
    if (outcome == SendOutcome::TimedOut)
        quillory::Trace("SendMessageTimeout: message 0x%x to %p timed out\n", message,
                        static_cast<void*>(hwnd));
    return outcome == SendOutcome::Ok ? 1 : 0;
}
