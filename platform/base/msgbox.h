// Message boxes. The box itself is drawn by a presenter that the host installs
// (a Qt one in the GUI host, a scripted one in tests). With none installed a
// box answers its negative default and logs one line, so a headless run never
// blocks on a question nobody can see.
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/wintypes.h"

// Button sets.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_RETRYCANCEL = 0x00000005;
constexpr UINT MB_CANCELTRYCONTINUE = 0x00000006;
// Icons.
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
// Default button and modality.
constexpr UINT MB_DEFBUTTON1 = 0x00000000;
constexpr UINT MB_DEFBUTTON2 = 0x00000100;
constexpr UINT MB_DEFBUTTON3 = 0x00000200;
constexpr UINT MB_APPLMODAL = 0x00000000;
constexpr UINT MB_SYSTEMMODAL = 0x00001000;
constexpr UINT MB_TASKMODAL = 0x00002000;
constexpr UINT MB_SETFOREGROUND = 0x00010000;
constexpr UINT MB_TOPMOST = 0x00040000;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONMASK = 0x000000F0;
constexpr UINT MB_DEFMASK = 0x00000F00;

// Answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int IDTRYAGAIN = 10;
constexpr int IDCONTINUE = 11;

int MessageBox(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
// Plays the sound of a box's icon (uType: MB_OK or an MB_ICON* value): the
// presenter plays it; with none it is a trace line.
BOOL MessageBeep(UINT uType);

namespace quillory {

class IMessageBoxPresenter {
public:
    virtual ~IMessageBoxPresenter() = default;
    // Shows the box and returns the button chosen (IDOK ...).
    virtual int Present(HWND owner, std::string_view text, std::string_view caption, UINT style) = 0;
    // Plays a message beep; silent unless a presenter can sound.
    virtual void Beep(UINT type) {}
};

// Installs the process's presenter (null removes it); returns the previous one.
std::shared_ptr<IMessageBoxPresenter> SetMessageBoxPresenter(std::shared_ptr<IMessageBoxPresenter> presenter);

// The answer a box gives when nobody can answer it: cancel where there is a
// cancel, otherwise no, abort, or OK for a box that only informs.
int NegativeDefaultAnswer(UINT style);

// A presenter for tests: answers from a queue (the negative default once the
// queue is empty) and records every box shown.
class CScriptedPresenter : public IMessageBoxPresenter {
public:
    struct Shown {
        std::string text;
        std::string caption;
        UINT style;
        int answer;
    };

    void QueueAnswer(int answer);
    std::vector<Shown> Boxes() const;
    int Present(HWND owner, std::string_view text, std::string_view caption, UINT style) override;
    void Beep(UINT type) override;
    std::vector<UINT> Beeps() const;

private:
    mutable std::mutex lock_;
    std::deque<int> answers_;
    std::vector<Shown> shown_;
    std::vector<UINT> beeps_;
};

}  // namespace quillory
