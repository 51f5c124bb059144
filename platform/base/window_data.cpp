// What a window carries: its text, user data and procedure, and finding
// windows by class and text.
#include <algorithm>
#include <cstring>

#include "platform/base/message_queue.h"
#include "platform/base/winerror.h"

using namespace quillory::detail;

namespace {

// Copies text into a caller's buffer of maxCount characters (terminator
// included); returns the characters copied.
int CopyText(const std::string& text, LPSTR buffer, std::size_t maxCount)
{
    if (buffer == nullptr || maxCount == 0) return 0;
    const std::size_t n = std::min(text.size(), maxCount - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

BOOL StoreText(HWND hwnd, LPCSTR text)
{
    std::lock_guard<std::mutex> lock(Global().mutex);
    Window* w = LookupWindow(hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    w->text = text != nullptr ? text : "";
    return TRUE;
}

bool ParentMatches(const Window& w, HWND parent)
{
    if (parent == nullptr) return w.parent == nullptr && !w.messageOnly;
    if (parent == HWND_MESSAGE) return w.parent == nullptr && w.messageOnly;
    return w.parent == parent;
}

bool ClassMatches(const Window& w, LPCSTR className)
{
    if (className == nullptr) return true;
    if (IsAtom(className))
        return w.cls->atom == static_cast<ATOM>(reinterpret_cast<std::uintptr_t>(className));
    return EqualsNoCase(w.cls->name, className);
}

// Whether the calling thread owns the window; nullopt if there is no such window.
std::optional<bool> OwnedByCaller(HWND hwnd)
{
    Queue* q = ExistingQueue();
    std::lock_guard<std::mutex> lock(Global().mutex);
    const Window* w = LookupWindow(hwnd);
    if (w == nullptr) return std::nullopt;
    return q != nullptr && w->queue.get() == q;
}

}  // namespace

HWND FindWindowEx(HWND parent, HWND childAfter, LPCSTR className, LPCSTR windowName)
{
    State& s = Global();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (parent != nullptr && parent != HWND_MESSAGE && LookupWindow(parent) == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    auto it = childAfter != nullptr ? s.windows.upper_bound(reinterpret_cast<std::uintptr_t>(childAfter))
                                    : s.windows.begin();
    for (; it != s.windows.end(); ++it) {
        const Window& w = *it->second;
        if (ParentMatches(w, parent) && ClassMatches(w, className) &&
            (windowName == nullptr || EqualsNoCase(w.text, windowName)))
            return w.handle;
    }
    return nullptr;
}

HWND FindWindow(LPCSTR className, LPCSTR windowName)
{
    return FindWindowEx(nullptr, nullptr, className, windowName);
}

int GetWindowText(HWND hwnd, LPSTR buffer, int maxCount)
{
    if (buffer == nullptr || maxCount <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    buffer[0] = '\0';
    const auto own = OwnedByCaller(hwnd);
    if (!own) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (*own)
        return static_cast<int>(SendMessage(hwnd, WM_GETTEXT, static_cast<WPARAM>(maxCount),
                                            reinterpret_cast<LPARAM>(buffer)));
    std::lock_guard<std::mutex> lock(Global().mutex);
    const Window* w = LookupWindow(hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return CopyText(w->text, buffer, static_cast<std::size_t>(maxCount));
}

int GetWindowTextLength(HWND hwnd)
{
    const auto own = OwnedByCaller(hwnd);
    if (!own) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (*own) return static_cast<int>(SendMessage(hwnd, WM_GETTEXTLENGTH, 0, 0));
    std::lock_guard<std::mutex> lock(Global().mutex);
    const Window* w = LookupWindow(hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return static_cast<int>(w->text.size());
}

BOOL SetWindowText(HWND hwnd, LPCSTR text)
{
    return SendMessage(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0 ? TRUE : FALSE;
}

LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_NCCREATE: {
        const auto* cs = reinterpret_cast<const CREATESTRUCT*>(lParam);
        if (cs != nullptr && cs->lpszName != nullptr) StoreText(hwnd, cs->lpszName);
        return TRUE;
    }
    case WM_SETTEXT: {
        const BOOL stored = StoreText(hwnd, reinterpret_cast<LPCSTR>(lParam));
        if (stored) quillory::NotifyWindowChange(hwnd, quillory::WindowChange::Text);
        return stored;
    }
    case WM_GETTEXT: {
        std::lock_guard<std::mutex> lock(Global().mutex);
        const Window* w = LookupWindow(hwnd);
        if (w == nullptr) return 0;
        return CopyText(w->text, reinterpret_cast<LPSTR>(lParam), wParam);
    }
    case WM_GETTEXTLENGTH: {
        std::lock_guard<std::mutex> lock(Global().mutex);
        const Window* w = LookupWindow(hwnd);
        return w == nullptr ? 0 : static_cast<LRESULT>(w->text.size());
    }
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    default:
        return 0;
    }
}

LRESULT CallWindowProc(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    return proc != nullptr ? proc(hwnd, message, wParam, lParam) : 0;
}

LONG_PTR GetWindowLongPtr(HWND hwnd, int index)
{
    std::lock_guard<std::mutex> lock(Global().mutex);
    const Window* w = LookupWindow(hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (index) {
    case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE: return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_HWNDPARENT: return reinterpret_cast<LONG_PTR>(w->parent);
    case GWLP_ID: return w->id;
    case GWLP_USERDATA: return w->userData;
    default: break;
    }
    if (index < 0 || static_cast<std::size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    LONG_PTR value = 0;
    std::memcpy(&value, w->extra.data() + index, sizeof value);
    return value;
}

LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value)
{
    std::lock_guard<std::mutex> lock(Global().mutex);
    Window* w = LookupWindow(hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LONG_PTR old = 0;
    switch (index) {
    case GWLP_WNDPROC:
        // A window without a procedure could not answer anything.
        if (value == 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        old = reinterpret_cast<LONG_PTR>(w->proc);
        w->proc = reinterpret_cast<WNDPROC>(value);
        return old;
    case GWLP_HINSTANCE:
        old = reinterpret_cast<LONG_PTR>(w->instance);
        w->instance = reinterpret_cast<HINSTANCE>(value);
        return old;
    case GWLP_ID:
        old = w->id;
        w->id = value;
        return old;
    case GWLP_USERDATA:
        old = w->userData;
        w->userData = value;
        return old;
    default: break;
    }
    if (index < 0 || static_cast<std::size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    std::memcpy(&old, w->extra.data() + index, sizeof old);
    std::memcpy(w->extra.data() + index, &value, sizeof value);
    return old;
}
