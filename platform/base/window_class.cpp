// Window classes: one process-wide, case-insensitive name space.
#include <algorithm>
#include <cstring>

#include "platform/base/message_queue.h"
#include "platform/base/trace.h"
#include "platform/base/winerror.h"

using namespace quillory::detail;

namespace {

// Longest class name accepted, as at home.
constexpr std::size_t kMaxClassName = 256;
// Extra bytes a class or window may ask for.
constexpr int kMaxExtraBytes = 40000;
constexpr ATOM kFirstAtom = 0xC000;

// The next free class atom; atoms wrap around within the class range.
ATOM AllocateAtom(State& s)
{
    for (unsigned tries = 0; tries < 0x4000; ++tries) {
        const ATOM atom = s.nextAtom;
        s.nextAtom = s.nextAtom == 0xFFFF ? kFirstAtom : static_cast<ATOM>(s.nextAtom + 1);
        bool used = false;
        for (auto& [key, cls] : s.classes) used = used || cls->atom == atom;
        if (!used) return atom;
    }
    return 0;
}

}  // namespace

ATOM RegisterClassEx(const WNDCLASSEX* wc)
{
    if (wc == nullptr || wc->cbSize != sizeof(WNDCLASSEX) || wc->lpfnWndProc == nullptr ||
        wc->lpszClassName == nullptr || IsAtom(wc->lpszClassName) || wc->cbClsExtra < 0 ||
        wc->cbClsExtra > kMaxExtraBytes || wc->cbWndExtra < 0 || wc->cbWndExtra > kMaxExtraBytes) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t length = std::strlen(wc->lpszClassName);
    if (length == 0 || length > kMaxClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    State& s = Global();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::string key = LowerAscii(wc->lpszClassName);
    if (s.classes.count(key) != 0) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    const ATOM atom = AllocateAtom(s);
    if (atom == 0) {
        quillory::Trace("RegisterClass: no class atom left for %s\n", wc->lpszClassName);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    auto cls = std::make_shared<WindowClass>();
    cls->name = wc->lpszClassName;
    cls->atom = atom;
    cls->style = wc->style;
    cls->proc = wc->lpfnWndProc;
    cls->wndExtra = wc->cbWndExtra;
    cls->instance = wc->hInstance;
    s.classes.emplace(std::move(key), std::move(cls));
    return atom;
}

ATOM RegisterClass(const WNDCLASS* wc)
{
    if (wc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const WNDCLASSEX ex{sizeof(WNDCLASSEX), wc->style,       wc->lpfnWndProc, wc->cbClsExtra,
                        wc->cbWndExtra,     wc->hInstance,   wc->hIcon,       wc->hCursor,
                        wc->hbrBackground,  wc->lpszMenuName, wc->lpszClassName, nullptr};
    return RegisterClassEx(&ex);
}

BOOL UnregisterClass(LPCSTR className, HINSTANCE)
{
    State& s = Global();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto cls = LookupClass(className);
    if (!cls) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (cls->windows != 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    s.classes.erase(LowerAscii(cls->name));
    return TRUE;
}

int GetClassName(HWND hwnd, LPSTR buffer, int maxCount)
{
    if (buffer == nullptr || maxCount <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> lock(Global().mutex);
    const Window* w = LookupWindow(hwnd);
    if (w == nullptr) {
        buffer[0] = '\0';
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    const std::size_t n = std::min(w->cls->name.size(), static_cast<std::size_t>(maxCount - 1));
    std::memcpy(buffer, w->cls->name.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}
