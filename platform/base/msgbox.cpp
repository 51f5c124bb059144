#include "platform/base/msgbox.h"

#include <cstdio>

#include "platform/base/trace.h"

namespace quillory {
namespace {

std::mutex g_presenterLock;
std::shared_ptr<IMessageBoxPresenter> g_presenter;

}  // namespace

std::shared_ptr<IMessageBoxPresenter> SetMessageBoxPresenter(std::shared_ptr<IMessageBoxPresenter> presenter)
{
    std::lock_guard g(g_presenterLock);
    g_presenter.swap(presenter);
    return presenter;
}

int NegativeDefaultAnswer(UINT style)
{
    switch (style & MB_TYPEMASK) {
    case MB_OK: return IDOK;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_YESNO: return IDNO;
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL:
    case MB_CANCELTRYCONTINUE:
    default: return IDCANCEL;
    }
}

void CScriptedPresenter::QueueAnswer(int answer)
{
    std::lock_guard g(lock_);
    answers_.push_back(answer);
}

std::vector<CScriptedPresenter::Shown> CScriptedPresenter::Boxes() const
{
    std::lock_guard g(lock_);
    return shown_;
}

int CScriptedPresenter::Present(HWND, std::string_view text, std::string_view caption, UINT style)
{
    std::lock_guard g(lock_);
    int answer = NegativeDefaultAnswer(style);
    if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
    }
    shown_.push_back({std::string(text), std::string(caption), style, answer});
    return answer;
}

void CScriptedPresenter::Beep(UINT type)
{
    std::lock_guard g(lock_);
    beeps_.push_back(type);
}

std::vector<UINT> CScriptedPresenter::Beeps() const
{
    std::lock_guard g(lock_);
    return beeps_;
}

}  // namespace quillory

BOOL MessageBeep(UINT uType)
{
    std::shared_ptr<quillory::IMessageBoxPresenter> presenter;
    {
        std::lock_guard g(quillory::g_presenterLock);
        presenter = quillory::g_presenter;
    }
    if (presenter)
        presenter->Beep(uType);
    else
        quillory::Trace("MessageBeep: 0x%x\n", uType);
    return TRUE;
}

int MessageBox(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    std::string_view text = lpText ? lpText : "";
    std::string_view caption = lpCaption ? lpCaption : "Error";
    std::shared_ptr<quillory::IMessageBoxPresenter> presenter;
    {
        std::lock_guard g(quillory::g_presenterLock);
        presenter = quillory::g_presenter;
    }
    if (presenter) return presenter->Present(hWnd, text, caption, uType);

    const int answer = quillory::NegativeDefaultAnswer(uType);
    std::fprintf(stderr, "quillory: message box [%.*s] %.*s (answered %d)\n", static_cast<int>(caption.size()),
                 caption.data(), static_cast<int>(text.size()), text.data(), answer);
    quillory::Trace("MessageBox: [%.*s] %.*s -> %d\n", static_cast<int>(caption.size()), caption.data(),
                    static_cast<int>(text.size()), text.data(), answer);
    return answer;
}
