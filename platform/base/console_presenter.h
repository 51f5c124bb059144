// Message boxes at a terminal: the caption, the text and the buttons are
// printed, and the answer is read from a line of input. For command-line
// programs run by a person (a program installs it when its input is a
// terminal; without one the boxes keep answering their negative default).
#pragma once

#include <cstdio>
#include <mutex>

#include "platform/base/msgbox.h"

namespace quillory {

class CConsolePresenter : public IMessageBoxPresenter {
public:
    // Reads answers from in and prints boxes to out; both stay the caller's.
    explicit CConsolePresenter(FILE* in = stdin, FILE* out = stdout);

    // An answer is a button's number, its name or a prefix of it naming one
    // button only (case-insensitive); an empty line takes the default button.
    // Anything else asks again. End of input gives the negative default.
    int Present(HWND owner, std::string_view text, std::string_view caption, UINT style) override;

private:
    std::mutex lock_;
    FILE* in_;
    FILE* out_;
};

}  // namespace quillory
