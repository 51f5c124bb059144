// A window's visibility and enabled state, its children, and the hook that
// lets a screen layer follow changes.
#include <mutex>

#include "platform/base/message_queue.h"
#include "platform/base/winerror.h"

using namespace quillory::detail;

namespace {

std::mutex g_hookLock;
quillory::WindowChangeHook g_hook;

// Sets or clears style bits; answers whether the bits were set before, or
// nothing for a window that does not exist.
std::optional<bool> ChangeStyle(HWND hwnd, DWORD bits, bool set)
{
    std::lock_guard<std::mutex> lock(Global().mutex);
    Window* w = LookupWindow(hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return std::nullopt;
    }
    const bool before = (w->style & bits) != 0;
    w->style = set ? (w->style | bits) : (w->style & ~bits);
    return before;
}

std::optional<DWORD> StyleOf(HWND hwnd)
{
    std::lock_guard<std::mutex> lock(Global().mutex);
    const Window* w = LookupWindow(hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return std::nullopt;
    }
    return w->style;
}

}  // namespace

namespace quillory {

WindowChangeHook SetWindowChangeHook(WindowChangeHook hook)
{
    std::lock_guard<std::mutex> g(g_hookLock);
    g_hook.swap(hook);
    return hook;
}

void NotifyWindowChange(HWND hwnd, WindowChange what)
{
    WindowChangeHook hook;
    {
        std::lock_guard<std::mutex> g(g_hookLock);
        hook = g_hook;
    }
    if (hook) hook(hwnd, what);
}

}  // namespace quillory

BOOL ShowWindow(HWND hwnd, int command)
{
    const bool show = command != SW_HIDE;
    const std::optional<bool> before = ChangeStyle(hwnd, WS_VISIBLE, show);
    if (!before) return FALSE;
    if (*before != show) quillory::NotifyWindowChange(hwnd, quillory::WindowChange::Visible);
    return *before ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd)
{
    // Visible only when it and every ancestor are.
    for (HWND h = hwnd; h != nullptr; h = GetParent(h)) {
        const std::optional<DWORD> style = StyleOf(h);
        if (!style || (*style & WS_VISIBLE) == 0) return FALSE;
    }
    return TRUE;
}

BOOL EnableWindow(HWND hwnd, BOOL enable)
{
    const std::optional<bool> wasDisabled = ChangeStyle(hwnd, WS_DISABLED, !enable);
    if (!wasDisabled) return FALSE;
    if (*wasDisabled == static_cast<bool>(enable)) quillory::NotifyWindowChange(hwnd, quillory::WindowChange::Enabled);
    return *wasDisabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hwnd)
{
    const std::optional<DWORD> style = StyleOf(hwnd);
    return style && (*style & WS_DISABLED) == 0 ? TRUE : FALSE;
}

LONG GetWindowStyle(HWND hwnd) { return static_cast<LONG>(StyleOf(hwnd).value_or(0)); }

HWND GetWindow(HWND hwnd, UINT command)
{
    State& s = Global();
    std::lock_guard<std::mutex> lock(s.mutex);
    const Window* w = LookupWindow(hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (command == GW_CHILD) {
        for (const auto& [key, c] : s.windows)
            if (c->parent == hwnd && !c->destroying) return c->handle;
        return nullptr;
    }
    if (command == GW_HWNDNEXT) {
        for (auto it = s.windows.upper_bound(reinterpret_cast<std::uintptr_t>(hwnd)); it != s.windows.end(); ++it)
            if (it->second->parent == w->parent && it->second->messageOnly == w->messageOnly && !it->second->destroying)
                return it->second->handle;
        return nullptr;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam)
{
    if (proc == nullptr) return FALSE;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!proc(child, lParam)) return FALSE;
        if (!EnumChildWindows(child, proc, lParam)) return FALSE;
    }
    return TRUE;
}
