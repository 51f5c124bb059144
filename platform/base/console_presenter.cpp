#include "platform/base/console_presenter.h"

#include <string>
#include <vector>

namespace quillory {
namespace {

struct Button {
    int id;
    std::string_view label;
};

std::vector<Button> ButtonsOf(UINT style)
{
    switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL: return {{IDOK, "OK"}, {IDCANCEL, "Cancel"}};
    case MB_ABORTRETRYIGNORE: return {{IDABORT, "Abort"}, {IDRETRY, "Retry"}, {IDIGNORE, "Ignore"}};
    case MB_YESNOCANCEL: return {{IDYES, "Yes"}, {IDNO, "No"}, {IDCANCEL, "Cancel"}};
    case MB_YESNO: return {{IDYES, "Yes"}, {IDNO, "No"}};
    case MB_RETRYCANCEL: return {{IDRETRY, "Retry"}, {IDCANCEL, "Cancel"}};
    case MB_CANCELTRYCONTINUE: return {{IDCANCEL, "Cancel"}, {IDTRYAGAIN, "Try Again"}, {IDCONTINUE, "Continue"}};
    case MB_OK:
    default: return {{IDOK, "OK"}};
    }
}

std::size_t DefaultIndex(UINT style, std::size_t buttons)
{
    const std::size_t index = (style & MB_DEFMASK) == MB_DEFBUTTON3 ? 2 : (style & MB_DEFMASK) == MB_DEFBUTTON2 ? 1 : 0;
    return index < buttons ? index : 0;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

bool IsPrefixOf(std::string_view answer, std::string_view label)
{
    if (answer.size() > label.size()) return false;
    for (std::size_t i = 0; i < answer.size(); ++i)
        if (Lower(answer[i]) != Lower(label[i])) return false;
    return true;
}

// The button an answer names, or -1 when it names none or several.
int Choose(std::string_view answer, const std::vector<Button>& buttons, std::size_t defaultIndex)
{
    if (answer.empty()) return buttons[defaultIndex].id;
    if (answer.size() == 1 && answer[0] >= '1' && answer[0] <= '9') {
        const std::size_t n = static_cast<std::size_t>(answer[0] - '1');
        return n < buttons.size() ? buttons[n].id : -1;
    }
    int found = -1;
    for (const Button& b : buttons) {
        if (!IsPrefixOf(answer, b.label)) continue;
        if (answer.size() == b.label.size()) return b.id;  // a whole name is never ambiguous
        if (found != -1) return -1;
        found = b.id;
    }
    return found;
}

// A line of input without its end; false at end of input.
bool ReadLine(FILE* in, std::string& line)
{
    line.clear();
    for (int c; (c = std::fgetc(in)) != EOF;) {
        if (c == '\n') return true;
        line += static_cast<char>(c);
    }
    return !line.empty();
}

}  // namespace

CConsolePresenter::CConsolePresenter(FILE* in, FILE* out) : in_(in), out_(out) {}

int CConsolePresenter::Present(HWND, std::string_view text, std::string_view caption, UINT style)
{
    std::lock_guard g(lock_);
    const std::vector<Button> buttons = ButtonsOf(style);
    const std::size_t defaultIndex = DefaultIndex(style, buttons.size());

    // Texts end their lines with CR LF at home; a terminal wants LF alone.
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) shown += text[i];
    std::fprintf(out_, "\n%.*s\n\n%s\n\n", static_cast<int>(caption.size()), caption.data(), shown.c_str());

    std::string prompt;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (i) prompt += "  ";
        prompt += std::to_string(i + 1) + ") " + std::string(buttons[i].label);
        if (i == defaultIndex) prompt += " [default]";
    }
    for (std::string line;;) {
        std::fprintf(out_, "%s? ", prompt.c_str());
        std::fflush(out_);
        if (!ReadLine(in_, line)) {
            std::fprintf(out_, "\n");
            return NegativeDefaultAnswer(style);
        }
        const int chosen = Choose(Trim(line), buttons, defaultIndex);
        if (chosen != -1) return chosen;
        std::fprintf(out_, "Please answer with a number or a name from the list.\n");
    }
}

}  // namespace quillory
