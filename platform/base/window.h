// Windows and per-thread message queues, as the home platform's code expects
// them: window classes registered by name, windows owned by the thread that
// created them, SendMessage (a direct call on the owner thread, otherwise
// delivered on the owner thread while the sender waits), PostMessage, timers,
// and the GetMessage / PeekMessage / MsgWaitForMultipleObjects loops.
//
// There is no screen: windows have a class, a procedure, a text, user data
// and children, nothing is ever drawn. Each thread's queue is created on its
// first use; when a thread ends, its windows are destroyed (their procedures
// still see WM_DESTROY and WM_NCDESTROY on that thread) and its queue goes
// away, failing any message still waiting to be delivered there. Window
// handles come from a counter and are never reused, so a stale handle is
// simply invalid.
//
// Cross-thread WM_COPYDATA, WM_SETTEXT and WM_GETTEXT carry copies of their
// data: the receiver sees a private COPYDATASTRUCT, payload or text buffer
// that stays valid for the duration of its call (the send is synchronous) and
// must not be kept afterwards. A sender that gives up (time-out, receiver
// gone) is therefore never written to late.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/base/wintypes.h"

using UINT_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using HANDLE = void*;
struct HMENU__;
using HMENU = HMENU__*;

struct POINT {
    LONG x;
    LONG y;
};

using WNDPROC = LRESULT (*)(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
using TIMERPROC = void (*)(HWND hwnd, UINT message, UINT_PTR idEvent, DWORD tickCount);

struct WNDCLASS {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    void* hIcon;
    void* hCursor;
    void* hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};

struct WNDCLASSEX {
    UINT cbSize;  // sizeof(WNDCLASSEX)
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    void* hIcon;
    void* hCursor;
    void* hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    void* hIconSm;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;  // GetTickCount() when posted
    POINT pt;    // always 0,0: there is no pointer
};

// lParam of WM_NCCREATE and WM_CREATE.
struct CREATESTRUCT {
    void* lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
};

// lParam of WM_COPYDATA; wParam is the sending window (or 0).
struct COPYDATASTRUCT {
    ULONG_PTR dwData;
    DWORD cbData;
    void* lpData;
};

// Parent of a message-only window: FindWindow does not see it, FindWindowEx
// with HWND_MESSAGE as parent does.
inline const HWND HWND_MESSAGE = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-3));

// A class name given as the atom that RegisterClass returned.
inline LPCSTR MAKEINTATOM(ATOM atom)
{
    return reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(atom));
}

// Messages.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_COPYDATA = 0x004A;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

// Window styles (stored, not acted upon).
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_OVERLAPPEDWINDOW = 0x00CF0000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);

// PeekMessage flags; the high word may hold PM_QS_* (QS_* << 16) to choose kinds.
constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;
constexpr UINT PM_NOYIELD = 0x0002;

// Queue status bits for the wait functions.
constexpr DWORD QS_KEY = 0x0001;
constexpr DWORD QS_MOUSEMOVE = 0x0002;
constexpr DWORD QS_MOUSEBUTTON = 0x0004;
constexpr DWORD QS_POSTMESSAGE = 0x0008;
constexpr DWORD QS_TIMER = 0x0010;
constexpr DWORD QS_PAINT = 0x0020;
constexpr DWORD QS_SENDMESSAGE = 0x0040;
constexpr DWORD QS_HOTKEY = 0x0080;
constexpr DWORD QS_ALLPOSTMESSAGE = 0x0100;
constexpr DWORD QS_RAWINPUT = 0x0400;
constexpr DWORD QS_MOUSE = QS_MOUSEMOVE | QS_MOUSEBUTTON;
constexpr DWORD QS_INPUT = QS_MOUSE | QS_KEY | QS_RAWINPUT;
constexpr DWORD QS_ALLEVENTS = QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY;
constexpr DWORD QS_ALLINPUT = QS_ALLEVENTS | QS_SENDMESSAGE;
static_assert(QS_ALLINPUT == 0x04FF);

constexpr DWORD MWMO_WAITALL = 0x0001;
constexpr DWORD MWMO_ALERTABLE = 0x0002;
constexpr DWORD MWMO_INPUTAVAILABLE = 0x0004;

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Get/SetWindowLongPtr indexes; 0 and above address the cbWndExtra bytes.
constexpr int GWLP_WNDPROC = -4;
constexpr int GWLP_HINSTANCE = -6;
constexpr int GWLP_HWNDPARENT = -8;
constexpr int GWLP_ID = -12;
constexpr int GWLP_USERDATA = -21;

// SendMessageTimeout flags.
constexpr UINT SMTO_NORMAL = 0x0000;
constexpr UINT SMTO_BLOCK = 0x0001;
constexpr UINT SMTO_ABORTIFHUNG = 0x0002;

// Timer intervals are clamped into this range (milliseconds).
constexpr UINT USER_TIMER_MINIMUM = 0x0000000A;
constexpr UINT USER_TIMER_MAXIMUM = 0x7FFFFFFF;

// ---- classes ----
// Class names form one process-wide, case-insensitive name space; the
// instance handle is recorded but does not qualify the name.
ATOM RegisterClass(const WNDCLASS* wc);
ATOM RegisterClassEx(const WNDCLASSEX* wc);
BOOL UnregisterClass(LPCSTR className, HINSTANCE instance);

// ---- windows ----
// A parent must be HWND_MESSAGE or a window of the calling thread.
HWND CreateWindowEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                    int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
inline HWND CreateWindow(LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                         int height, HWND parent, HMENU menu, HINSTANCE instance, void* param)
{
    return CreateWindowEx(0, className, windowName, style, x, y, width, height, parent, menu,
                          instance, param);
}
// Only the owner thread may destroy a window (ERROR_ACCESS_DENIED otherwise).
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);
// Class and title compare without regard to ASCII letter case; either may be null.
HWND FindWindow(LPCSTR className, LPCSTR windowName);
// parent null: top-level windows; HWND_MESSAGE: message-only windows;
// otherwise that window's children. The search starts after childAfter.
HWND FindWindowEx(HWND parent, HWND childAfter, LPCSTR className, LPCSTR windowName);
HWND GetParent(HWND hwnd);

// For the caller's own windows these go through WM_GETTEXT/WM_GETTEXTLENGTH;
// for another thread's window they read the stored text without sending, so
// a busy owner cannot block the caller.
int GetWindowText(HWND hwnd, LPSTR buffer, int maxCount);
int GetWindowTextLength(HWND hwnd);
BOOL SetWindowText(HWND hwnd, LPCSTR text);
int GetClassName(HWND hwnd, LPSTR buffer, int maxCount);

LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProc(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LONG_PTR GetWindowLongPtr(HWND hwnd, int index);
LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value);

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId);
DWORD GetCurrentThreadId();
DWORD GetCurrentProcessId();

// ---- visibility, state and children ----
// These keep the WS_VISIBLE and WS_DISABLED bits of the window's style and
// tell the window-change hook; there is no screen to redraw.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;
// Whether the window was visible before.
BOOL ShowWindow(HWND hwnd, int command);
BOOL IsWindowVisible(HWND hwnd);
// Whether the window was disabled before.
BOOL EnableWindow(HWND hwnd, BOOL enable);
BOOL IsWindowEnabled(HWND hwnd);
constexpr int GWL_STYLE = -16;
LONG GetWindowStyle(HWND hwnd);

// Children in creation order (which is their z-order here).
constexpr UINT GW_HWNDNEXT = 2;
constexpr UINT GW_CHILD = 5;
HWND GetWindow(HWND hwnd, UINT command);
using WNDENUMPROC = BOOL (*)(HWND hwnd, LPARAM lParam);
// Calls proc for every child and grandchild in creation order until it answers FALSE.
BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam);

// ---- messages ----
LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// Returns nonzero on success with the procedure's answer in *result; 0 on
// failure, with ERROR_TIMEOUT when the time-out passed (or the owner is
// hung and SMTO_ABORTIFHUNG was given).
LRESULT SendMessageTimeout(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                           UINT timeoutMs, DWORD_PTR* result);
// Whether the message being handled was sent from another thread.
BOOL InSendMessage();

// A queue holds at most 10000 posted messages (ERROR_NOT_ENOUGH_QUOTA past
// that); messages still queued for a window are dropped when it is destroyed.
BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// 1 for a message, 0 for WM_QUIT, -1 on error (also when the filter window
// is destroyed while waiting). Messages sent from other threads are
// delivered while waiting.
BOOL GetMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
BOOL PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessage(const MSG* msg);

// There are no kernel handles: count must be 0. Messages sent from other
// threads are delivered during the wait; it returns WAIT_OBJECT_0 as soon as
// input of the mask's kinds is in the queue (whether or not it was there
// before the call), so a following GetMessage does not block.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs,
                                DWORD wakeMask);
DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD timeoutMs,
                                  DWORD wakeMask, DWORD flags);
BOOL WaitMessage();

// ---- timers ----
// hwnd must be a window of the calling thread, or null for a thread timer
// (whose id is then chosen here unless idEvent names an existing one).
UINT_PTR SetTimer(HWND hwnd, UINT_PTR idEvent, UINT elapseMs, TIMERPROC proc);
BOOL KillTimer(HWND hwnd, UINT_PTR idEvent);

namespace quillory {

// For a host with its own event loop: the handler is called (from any
// thread, possibly the owner's own) whenever a message is posted or sent to
// the calling thread, a quit is posted or a timer is set, so the host can
// wake up and pump with PeekMessage. It must be quick and must not call the
// functions of this header. Once this returns, the previous handler is not
// running and will not run again. Pass nullptr to remove it.
void SetQueueWakeHandler(std::function<void()> handler);

// What changed on a window, for whoever shows it on a screen.
enum class WindowChange { Text, Visible, Enabled, State, Items };

// A hook called after a window's text, visibility, enabled state, or (for
// controls) check state or items changed, on the thread that changed it,
// without any lock held. One hook per process (a host's screen layer);
// nullptr removes it. Returns the previous one.
using WindowChangeHook = std::function<void(HWND hwnd, WindowChange what)>;
WindowChangeHook SetWindowChangeHook(WindowChangeHook hook);
// Tells the hook (controls call this when their own state changes).
void NotifyWindowChange(HWND hwnd, WindowChange what);

// Milliseconds until the calling thread's next timer is due (0 if one is due,
// INFINITE if there is none): how long a host may sleep before pumping.
DWORD NextQueueTimerDelay();

}  // namespace quillory
