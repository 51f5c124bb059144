// Helpers for window and message tests: a window procedure that forwards to
// a std::function, classes with unique names, and a thread running its own
// message loop on which test code can be run.
#pragma once

#include <atomic>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>

#include "platform/base/window.h"

namespace quillory::testing {

// Returns an answer to take a message, or nullopt to leave it to DefWindowProc.
using Handler = std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;

// The handler comes as lpCreateParams and is kept in GWLP_USERDATA.
inline LRESULT HandlerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCT*>(lParam);
        SetWindowLongPtr(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    if (auto* handler = reinterpret_cast<Handler*>(GetWindowLongPtr(hwnd, GWLP_USERDATA))) {
        if (auto answer = (*handler)(hwnd, message, wParam, lParam)) return *answer;
    }
    return DefWindowProc(hwnd, message, wParam, lParam);
}

inline std::string UniqueName(std::string_view base)
{
    static std::atomic<int> counter{0};
    return std::string(base) + "_" + std::to_string(counter.fetch_add(1));
}

class TestClass {
public:
    explicit TestClass(std::string_view base, WNDPROC proc = HandlerProc, int wndExtra = 0)
        : name_(UniqueName(base))
    {
        WNDCLASS wc{};
        wc.lpfnWndProc = proc;
        wc.cbWndExtra = wndExtra;
        wc.lpszClassName = name_.c_str();
        atom_ = RegisterClass(&wc);
    }
    ~TestClass() { UnregisterClass(name_.c_str(), nullptr); }
    TestClass(const TestClass&) = delete;
    TestClass& operator=(const TestClass&) = delete;

    const char* name() const { return name_.c_str(); }
    ATOM atom() const { return atom_; }

private:
    std::string name_;
    ATOM atom_ = 0;
};

inline HWND MakeWindow(const TestClass& cls, Handler* handler, const char* title = "",
                       HWND parent = nullptr)
{
    return CreateWindowEx(0, cls.name(), title, WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, parent, nullptr,
                          nullptr, handler);
}

// A thread that pumps its queue until WM_QUIT. Run() executes code on it (as
// a posted thread message) and waits for the result.
class LoopThread {
public:
    static constexpr UINT kRunMessage = WM_APP + 100;

    LoopThread()
    {
        std::promise<DWORD> started;
        auto ready = started.get_future();
        thread_ = std::thread([this, &started] {
            MSG msg;
            PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE);  // creates the queue
            started.set_value(GetCurrentThreadId());
            while (GetMessage(&msg, nullptr, 0, 0) > 0) {
                if (msg.hwnd == nullptr && msg.message == kRunMessage) {
                    (*reinterpret_cast<std::function<void()>*>(msg.lParam))();
                    continue;
                }
                try {
                    TranslateMessage(&msg);
                    DispatchMessage(&msg);
                } catch (...) {
                    ++exceptions_;
                }
            }
        });
        id_ = ready.get();
    }
    ~LoopThread() { Stop(); }
    LoopThread(const LoopThread&) = delete;
    LoopThread& operator=(const LoopThread&) = delete;

    DWORD id() const { return id_; }
    int exceptions() const { return exceptions_; }

    void Stop()
    {
        if (!thread_.joinable()) return;
        PostThreadMessage(id_, WM_QUIT, 0, 0);
        thread_.join();
    }

    template <class F>
    auto Run(F f) -> std::invoke_result_t<F>
    {
        using R = std::invoke_result_t<F>;
        std::packaged_task<R()> task(std::move(f));
        auto result = task.get_future();
        std::function<void()> call = [&task] { task(); };
        PostThreadMessage(id_, kRunMessage, 0, reinterpret_cast<LPARAM>(&call));
        return result.get();
    }

private:
    std::thread thread_;
    DWORD id_ = 0;
    std::atomic<int> exceptions_{0};
};

}  // namespace quillory::testing
