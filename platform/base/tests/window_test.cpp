// Classes and windows on one thread: creation and destruction, text, finding,
// per-window data.
#include "platform/base/window.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/tests/window_test_util.h"
#include "platform/base/winerror.h"

namespace {

using quillory::testing::Handler;
using quillory::testing::MakeWindow;
using quillory::testing::TestClass;

// Records the messages a window gets.
struct Recorder {
    std::vector<UINT> messages;
    Handler handler = [this](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        messages.push_back(m);
        return std::nullopt;
    };
};

TEST(WindowClass, RegistrationRules)
{
    TestClass cls("Quill_Class");
    ASSERT_GE(cls.atom(), 0xC000);

    const std::string upper = [&] {
        std::string s = cls.name();
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }();
    WNDCLASS wc{};
    wc.lpfnWndProc = DefWindowProc;
    wc.lpszClassName = upper.c_str();
    SetLastError(0);
    EXPECT_EQ(RegisterClass(&wc), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));

    WNDCLASSEX wrongSize{};
    wrongSize.cbSize = sizeof(WNDCLASS);
    wrongSize.lpfnWndProc = DefWindowProc;
    wrongSize.lpszClassName = "Quill_Other";
    EXPECT_EQ(RegisterClassEx(&wrongSize), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // A class with windows cannot go; the atom works as a name.
    HWND hwnd = CreateWindowEx(0, MAKEINTATOM(cls.atom()), "t", 0, 0, 0, 0, 0, nullptr, nullptr,
                               nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    char name[64];
    EXPECT_EQ(GetClassName(hwnd, name, sizeof name), static_cast<int>(std::strlen(cls.name())));
    EXPECT_STREQ(name, cls.name());
    EXPECT_FALSE(UnregisterClass(upper.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_TRUE(UnregisterClass(upper.c_str(), nullptr));
    EXPECT_FALSE(UnregisterClass(cls.name(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));

    SetLastError(0);
    EXPECT_EQ(CreateWindow(cls.name(), "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
}

TEST(WindowLifecycle, CreationAndDestructionMessages)
{
    TestClass cls("Quill_Life");
    std::vector<UINT> seen;
    CREATESTRUCT atCreate{};
    BOOL aliveInNcDestroy = FALSE;
    Handler handler = [&](HWND h, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
        seen.push_back(m);
        if (m == WM_CREATE) atCreate = *reinterpret_cast<const CREATESTRUCT*>(l);
        if (m == WM_NCDESTROY) aliveInNcDestroy = IsWindow(h);
        return std::nullopt;
    };
    // lpCreateParams must arrive unchanged: the handler relies on it.
    HWND hwnd = CreateWindowEx(0x8, cls.name(), "Title", WS_OVERLAPPEDWINDOW, 1, 2, 3, 4, nullptr,
                               nullptr, nullptr, &handler);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(seen, (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
    EXPECT_EQ(atCreate.lpCreateParams, &handler);
    EXPECT_STREQ(atCreate.lpszName, "Title");
    EXPECT_STREQ(atCreate.lpszClass, cls.name());
    EXPECT_EQ(atCreate.style, static_cast<LONG>(WS_OVERLAPPEDWINDOW));
    EXPECT_EQ(atCreate.dwExStyle, 0x8u);
    EXPECT_EQ(atCreate.x + atCreate.y + atCreate.cx + atCreate.cy, 10);

    char text[16];
    EXPECT_EQ(GetWindowText(hwnd, text, sizeof text), 5);
    EXPECT_STREQ(text, "Title");

    seen.clear();
    ASSERT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ(seen, (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
    EXPECT_TRUE(aliveInNcDestroy);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(DestroyWindow(hwnd));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(SendMessage(hwnd, WM_USER, 0, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

    // The stale handle stays invalid: a new window gets a new one.
    Recorder other;
    HWND next = MakeWindow(cls, &other.handler);
    ASSERT_NE(next, nullptr);
    EXPECT_NE(next, hwnd);
    EXPECT_FALSE(IsWindow(hwnd));
    DestroyWindow(next);
}

TEST(WindowLifecycle, ProcedureCanRefuseCreation)
{
    TestClass cls("Quill_Refuse");
    std::vector<UINT> seen;
    LRESULT ncCreateAnswer = FALSE;
    LRESULT createAnswer = 0;
    Handler handler = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        seen.push_back(m);
        if (m == WM_NCCREATE) return ncCreateAnswer;
        if (m == WM_CREATE) return createAnswer;
        return std::nullopt;
    };
    EXPECT_EQ(MakeWindow(cls, &handler), nullptr);
    EXPECT_EQ(seen, (std::vector<UINT>{WM_NCCREATE, WM_NCDESTROY}));

    seen.clear();
    ncCreateAnswer = TRUE;
    createAnswer = -1;
    EXPECT_EQ(MakeWindow(cls, &handler), nullptr);
    EXPECT_EQ(seen, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));

    // Nothing of the refused windows is left holding the class.
    EXPECT_EQ(FindWindow(cls.name(), nullptr), nullptr);
    EXPECT_TRUE(UnregisterClass(cls.name(), nullptr));
}

TEST(WindowLifecycle, ChildrenGoWithTheirParent)
{
    TestClass cls("Quill_Family");
    std::vector<std::string> order;
    Handler parentHandler = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_DESTROY) order.push_back("parent destroy");
        if (m == WM_NCDESTROY) order.push_back("parent ncdestroy");
        return std::nullopt;
    };
    Handler childHandler = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_DESTROY) order.push_back("child destroy");
        if (m == WM_NCDESTROY) order.push_back("child ncdestroy");
        return std::nullopt;
    };
    HWND parent = MakeWindow(cls, &parentHandler, "p");
    HWND child = MakeWindow(cls, &childHandler, "c", parent);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(GetParent(child), parent);
    EXPECT_EQ(FindWindowEx(parent, nullptr, nullptr, nullptr), child);
    EXPECT_EQ(FindWindow(nullptr, "c"), nullptr);  // not top-level

    // WM_CLOSE reaches DefWindowProc, which destroys the window.
    SendMessage(parent, WM_CLOSE, 0, 0);
    EXPECT_EQ(order, (std::vector<std::string>{"parent destroy", "child destroy", "child ncdestroy",
                                               "parent ncdestroy"}));
    EXPECT_FALSE(IsWindow(parent));
    EXPECT_FALSE(IsWindow(child));
}

TEST(WindowText, SetGetAndTruncate)
{
    TestClass cls("Quill_Text");
    Recorder rec;
    HWND hwnd = MakeWindow(cls, &rec.handler);
    ASSERT_TRUE(SetWindowText(hwnd, "Hello;World"));
    EXPECT_EQ(GetWindowTextLength(hwnd), 11);
    char small[4];
    EXPECT_EQ(GetWindowText(hwnd, small, sizeof small), 3);
    EXPECT_STREQ(small, "Hel");
    char buffer[5000];
    EXPECT_EQ(SendMessage(hwnd, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer)), 11);
    EXPECT_STREQ(buffer, "Hello;World");
    EXPECT_TRUE(SetWindowText(hwnd, nullptr));
    EXPECT_EQ(GetWindowTextLength(hwnd), 0);

    // On the owner thread the text goes through the procedure.
    Handler custom = [](HWND, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
        if (m != WM_GETTEXT) return std::nullopt;
        std::snprintf(reinterpret_cast<char*>(l), w, "%s", "from proc");
        return 9;
    };
    SetWindowLongPtr(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&custom));
    EXPECT_EQ(GetWindowText(hwnd, buffer, sizeof buffer), 9);
    EXPECT_STREQ(buffer, "from proc");
    DestroyWindow(hwnd);

    EXPECT_EQ(GetWindowText(hwnd, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(FindWindow, ByClassTextAndKind)
{
    TestClass cls("Quill_Find");
    TestClass otherCls("Quill_Find_Other");
    Recorder rec;
    HWND a = MakeWindow(cls, &rec.handler, "me@example.org;Me;;");
    HWND b = MakeWindow(cls, &rec.handler, "second");
    HWND c = MakeWindow(otherCls, &rec.handler, "second");
    HWND hidden = CreateWindowEx(0, cls.name(), "hidden", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 nullptr, &rec.handler);
    ASSERT_TRUE(a && b && c && hidden);

    std::string lower = cls.name();
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(FindWindow(lower.c_str(), nullptr), a);
    EXPECT_EQ(FindWindow(cls.name(), "SECOND"), b);
    EXPECT_EQ(FindWindow(otherCls.name(), "second"), c);
    EXPECT_EQ(FindWindow(MAKEINTATOM(otherCls.atom()), nullptr), c);
    EXPECT_EQ(FindWindow(cls.name(), "nothing"), nullptr);
    EXPECT_EQ(FindWindow("Quill_No_Such_Class", nullptr), nullptr);

    // Message-only windows are found only when asked for.
    EXPECT_EQ(FindWindow(nullptr, "hidden"), nullptr);
    EXPECT_EQ(FindWindowEx(HWND_MESSAGE, nullptr, nullptr, "hidden"), hidden);

    // Iterating the class's top-level windows.
    std::vector<HWND> found;
    for (HWND h = FindWindowEx(nullptr, nullptr, cls.name(), nullptr); h != nullptr;
         h = FindWindowEx(nullptr, h, cls.name(), nullptr))
        found.push_back(h);
    EXPECT_EQ(found, (std::vector<HWND>{a, b}));

    for (HWND h : {a, b, c, hidden}) DestroyWindow(h);
    EXPECT_EQ(FindWindow(cls.name(), nullptr), nullptr);
}

TEST(WindowData, LongPtrIndexes)
{
    TestClass cls("Quill_Data", quillory::testing::HandlerProc, 16);
    Recorder rec;
    HWND hwnd = MakeWindow(cls, &rec.handler);
    ASSERT_NE(hwnd, nullptr);

    EXPECT_EQ(GetWindowLongPtr(hwnd, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&rec.handler));
    EXPECT_EQ(SetWindowLongPtr(hwnd, 0, 1234), 0);
    EXPECT_EQ(SetWindowLongPtr(hwnd, 8, -5), 0);
    EXPECT_EQ(GetWindowLongPtr(hwnd, 0), 1234);
    EXPECT_EQ(GetWindowLongPtr(hwnd, 8), -5);
    SetLastError(0);
    EXPECT_EQ(GetWindowLongPtr(hwnd, 9), 0);  // would read past the extra bytes
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));
    EXPECT_EQ(SetWindowLongPtr(hwnd, -100, 1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_INDEX));

    // Replacing the procedure redirects later messages.
    static int calls;
    calls = 0;
    WNDPROC replacement = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        if (m == WM_USER) return ++calls + 100;
        return DefWindowProc(h, m, w, l);
    };
    const LONG_PTR old = SetWindowLongPtr(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(replacement));
    EXPECT_EQ(old, reinterpret_cast<LONG_PTR>(&quillory::testing::HandlerProc));
    EXPECT_EQ(SendMessage(hwnd, WM_USER, 0, 0), 101);
    EXPECT_EQ(SetWindowLongPtr(hwnd, GWLP_WNDPROC, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CallWindowProc(reinterpret_cast<WNDPROC>(old), hwnd, WM_GETTEXTLENGTH, 0, 0), 0);

    DWORD pid = 0;
    EXPECT_EQ(GetWindowThreadProcessId(hwnd, &pid), GetCurrentThreadId());
    EXPECT_EQ(pid, GetCurrentProcessId());
    DestroyWindow(hwnd);
    EXPECT_EQ(GetWindowThreadProcessId(hwnd, &pid), 0u);
    EXPECT_EQ(GetWindowLongPtr(hwnd, GWLP_USERDATA), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(WindowOwnership, OnlyTheOwnerThreadDestroys)
{
    TestClass cls("Quill_Owner");
    Recorder rec;
    HWND hwnd = MakeWindow(cls, &rec.handler);
    DWORD otherThread = 0;
    BOOL destroyed = TRUE;
    DWORD error = 0;
    UINT_PTR timer = 1;
    std::thread([&] {
        otherThread = GetCurrentThreadId();
        destroyed = DestroyWindow(hwnd);
        error = GetLastError();
        timer = SetTimer(hwnd, 1, 10, nullptr);
    }).join();
    EXPECT_NE(otherThread, GetCurrentThreadId());
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(timer, 0u);
    EXPECT_TRUE(IsWindow(hwnd));
    EXPECT_TRUE(DestroyWindow(hwnd));
}

}  // namespace
