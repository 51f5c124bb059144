// Creating and destroying windows.
#include <unistd.h>

#include <algorithm>

#include "platform/base/message_queue.h"
#include "platform/base/trace.h"
#include "platform/base/winerror.h"

using namespace quillory::detail;

namespace {

// Handles advance by this step and are never reused.
constexpr std::uintptr_t kHandleStep = 2;

void RemoveWindow(HWND hwnd)
{
    State& s = Global();
    std::lock_guard<std::mutex> lock(s.mutex);
    Window* w = LookupWindow(hwnd);
    if (w == nullptr) return;
    ForgetWindow(*w->queue, hwnd);
    --w->cls->windows;
    s.windows.erase(reinterpret_cast<std::uintptr_t>(hwnd));
}

// Takes the window out of the table when the scope ends, also when a window
// procedure throws, so that no half-destroyed window stays behind.
class RemoveAtScopeEnd {
public:
    explicit RemoveAtScopeEnd(HWND hwnd) : hwnd_(hwnd) {}
    ~RemoveAtScopeEnd() { RemoveWindow(hwnd_); }
    RemoveAtScopeEnd(const RemoveAtScopeEnd&) = delete;
    RemoveAtScopeEnd& operator=(const RemoveAtScopeEnd&) = delete;

private:
    HWND hwnd_;
};

HWND FirstLiveChild(HWND parent)
{
    std::lock_guard<std::mutex> lock(Global().mutex);
    for (auto& [key, w] : Global().windows)
        if (w->parent == parent && !w->destroying) return w->handle;
    return nullptr;
}

BOOL Fail(DWORD err)
{
    SetLastError(err);
    return FALSE;
}

}  // namespace

namespace quillory::detail {

void ForgetWindow(Queue& q, HWND hwnd)
{
    FailPendingSends(q, hwnd);
    std::erase_if(q.posted, [hwnd](const MSG& m) { return m.hwnd == hwnd; });
    RemoveTimers(q, hwnd);
}

}  // namespace quillory::detail

HWND CreateWindowEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                    int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param)
{
    Queue* q = CurrentQueue();
    if (q == nullptr) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return nullptr;
    }
    State& s = Global();
    HWND hwnd = nullptr;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        auto cls = LookupClass(className);
        if (!cls) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        const bool messageOnly = parent == HWND_MESSAGE;
        if (parent != nullptr && !messageOnly) {
            const Window* p = LookupWindow(parent);
            if (p == nullptr) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
            // Children live on their parent's thread here.
            if (p->queue.get() != q) {
                SetLastError(ERROR_ACCESS_DENIED);
                return nullptr;
            }
        }
        auto w = std::make_unique<Window>();
        hwnd = reinterpret_cast<HWND>(s.nextHandle);
        s.nextHandle += kHandleStep;
        w->handle = hwnd;
        w->threadId = q->threadId;
        w->queue = q->shared_from_this();
        w->cls = cls;
        w->proc = cls->proc;
        w->instance = instance;
        w->parent = messageOnly ? nullptr : parent;
        w->messageOnly = messageOnly;
        w->id = (style & WS_CHILD) != 0 ? reinterpret_cast<LONG_PTR>(menu) : 0;
        w->style = style;
        w->exStyle = exStyle;
        w->extra.assign(static_cast<std::size_t>(cls->wndExtra), 0);
        ++cls->windows;
        s.windows.emplace(reinterpret_cast<std::uintptr_t>(hwnd), std::move(w));
    }

    CREATESTRUCT cs{param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style),
                    windowName, className, exStyle};
    const auto csParam = reinterpret_cast<LPARAM>(&cs);
    LRESULT result = 0;
    try {
        result = CallCurrentProc(hwnd, WM_NCCREATE, 0, csParam);
    } catch (...) {
        RemoveWindow(hwnd);
        throw;
    }
    if (result == 0) {
        quillory::Trace("CreateWindowEx: WM_NCCREATE refused the window\n");
        RemoveAtScopeEnd remove(hwnd);
        CallCurrentProc(hwnd, WM_NCDESTROY, 0, 0);
        return nullptr;
    }
    try {
        result = CallCurrentProc(hwnd, WM_CREATE, 0, csParam);
    } catch (...) {
        RemoveWindow(hwnd);
        throw;
    }
    if (result == -1) {
        quillory::Trace("CreateWindowEx: WM_CREATE refused the window\n");
        DestroyWindow(hwnd);
        return nullptr;
    }
    // The procedure may have destroyed the window itself.
    return IsWindow(hwnd) ? hwnd : nullptr;
}

BOOL DestroyWindow(HWND hwnd)
{
    Queue* q = ExistingQueue();
    {
        std::lock_guard<std::mutex> lock(Global().mutex);
        Window* w = LookupWindow(hwnd);
        if (w == nullptr) return Fail(ERROR_INVALID_WINDOW_HANDLE);
        if (w->queue.get() != q) return Fail(ERROR_ACCESS_DENIED);
        if (w->destroying) return TRUE;  // already on its way, further up this thread's stack
        w->destroying = true;
        RemoveTimers(*w->queue, hwnd);
    }
    RemoveAtScopeEnd remove(hwnd);
    CallCurrentProc(hwnd, WM_DESTROY, 0, 0);
    while (HWND child = FirstLiveChild(hwnd)) DestroyWindow(child);
    CallCurrentProc(hwnd, WM_NCDESTROY, 0, 0);
    return TRUE;
}

BOOL IsWindow(HWND hwnd)
{
    std::lock_guard<std::mutex> lock(Global().mutex);
    return LookupWindow(hwnd) != nullptr ? TRUE : FALSE;
}

HWND GetParent(HWND hwnd)
{
    std::lock_guard<std::mutex> lock(Global().mutex);
    const Window* w = LookupWindow(hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return w->parent;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId)
{
    std::lock_guard<std::mutex> lock(Global().mutex);
    const Window* w = LookupWindow(hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (processId != nullptr) *processId = static_cast<DWORD>(getpid());
    return w->threadId;
}
