#include "platform/base/dialog_template.h"

#include <array>
#include <charconv>

#include "platform/base/dialog.h"

namespace quillory {
namespace {

struct Kind {
    std::string_view word;
    const char* className;
    DWORD style;
};

constexpr std::array<Kind, 11> kKinds = {{
    {"LTEXT", kStaticClass, SS_LEFT},
    {"CTEXT", kStaticClass, SS_CENTER},
    {"RTEXT", kStaticClass, SS_RIGHT},
    {"ETCHED", kStaticClass, SS_ETCHEDHORZ},
    {"PUSHBUTTON", kButtonClass, BS_PUSHBUTTON | WS_TABSTOP},
    {"DEFPUSHBUTTON", kButtonClass, BS_DEFPUSHBUTTON | WS_TABSTOP},
    {"CHECKBOX", kButtonClass, BS_AUTOCHECKBOX | WS_TABSTOP},
    {"RADIOBUTTON", kButtonClass, BS_AUTORADIOBUTTON},
    {"GROUPBOX", kButtonClass, BS_GROUPBOX},
    {"EDITTEXT", kEditClass, WS_TABSTOP},
    {"COMBOBOX", kComboBoxClass, CBS_DROPDOWNLIST | WS_TABSTOP},
}};

struct Flag {
    std::string_view word;
    DWORD set;
    DWORD clear;
};

constexpr std::array<Flag, 7> kFlags = {{
    {"HIDDEN", 0, WS_VISIBLE},
    {"DISABLED", WS_DISABLED, 0},
    {"GROUP", WS_GROUP, 0},
    {"PASSWORD", ES_PASSWORD, 0},
    {"READONLY", ES_READONLY, 0},
    {"MULTILINE", ES_MULTILINE, 0},
    {"NUMBER", ES_NUMBER, 0},
}};

struct Token {
    std::string text;
    bool quoted = false;
};

// Splits a line into words and quoted texts; false on an unterminated quote
// or an unknown escape.
bool Tokenize(std::string_view line, std::vector<Token>& out)
{
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        Token t;
        if (line[i] != '"') {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') t.text += line[i++];
            out.push_back(std::move(t));
            continue;
        }
        t.quoted = true;
        for (++i;; ++i) {
            if (i >= line.size()) return false;
            if (line[i] == '"') break;
            if (line[i] != '\\') {
                t.text += line[i];
                continue;
            }
            if (++i >= line.size()) return false;
            switch (line[i]) {
            case '"': t.text += '"'; break;
            case '\\': t.text += '\\'; break;
            case 'r': t.text += '\r'; break;
            case 'n': t.text += '\n'; break;
            case 't': t.text += '\t'; break;
            default: return false;
            }
        }
        ++i;
        if (t.text.size() > kDialogMaxText) return false;
        out.push_back(std::move(t));
    }
    return true;
}

bool Number(const Token& t, int lowest, int highest, int& out)
{
    if (t.quoted) return false;
    const char* end = t.text.data() + t.text.size();
    const auto [p, ec] = std::from_chars(t.text.data(), end, out);
    return ec == std::errc() && p == end && out >= lowest && out <= highest;
}

// Reads "x y cx cy" from tokens[at..].
bool Rect(const std::vector<Token>& t, std::size_t at, int& x, int& y, int& cx, int& cy)
{
    return t.size() >= at + 4 && Number(t[at], 0, kDialogMaxCoordinate, x) &&
           Number(t[at + 1], 0, kDialogMaxCoordinate, y) && Number(t[at + 2], 0, kDialogMaxCoordinate, cx) &&
           Number(t[at + 3], 0, kDialogMaxCoordinate, cy);
}

// One statement; false when it is not understood.
bool Statement(const std::vector<Token>& t, DialogTemplate& d, bool& sawDialog)
{
    const std::string& word = t[0].text;
    if (t[0].quoted) return false;
    if (word == "DIALOG") {
        sawDialog = true;
        return t.size() == 5 && Rect(t, 1, d.x, d.y, d.cx, d.cy);
    }
    if (!sawDialog) return false;
    if (word == "CAPTION") {
        if (t.size() != 2 || !t[1].quoted) return false;
        d.caption = t[1].text;
        return true;
    }
    if (word == "FONT") {
        if (t.size() != 3 || !t[2].quoted || !Number(t[1], 1, 72, d.fontPoints)) return false;
        d.fontFace = t[2].text;
        return true;
    }
    if (word == "STYLE") {
        for (std::size_t i = 1; i < t.size(); ++i) {
            if (t[i].text == "CHILD" && !t[i].quoted)
                d.child = true;
            else if (t[i].text == "VISIBLE" && !t[i].quoted)
                d.visible = true;
            else
                return false;
        }
        return true;
    }
    for (const Kind& k : kKinds) {
        if (word != k.word) continue;
        if (t.size() < 7 || !t[1].quoted || d.controls.size() >= kDialogMaxControls) return false;
        DialogControl c;
        c.className = k.className;
        c.style = WS_CHILD | WS_VISIBLE | k.style;
        c.text = t[1].text;
        if (!Number(t[2], -1, 0xFFFF, c.id) || !Rect(t, 3, c.x, c.y, c.cx, c.cy)) return false;
        if (c.id == -1) c.id = IDC_STATIC;
        for (std::size_t i = 7; i < t.size(); ++i) {
            const Flag* f = nullptr;
            for (const Flag& candidate : kFlags)
                if (!t[i].quoted && t[i].text == candidate.word) f = &candidate;
            if (!f) return false;
            c.style = (c.style | f->set) & ~f->clear;
        }
        d.controls.push_back(std::move(c));
        return true;
    }
    return false;
}

}  // namespace

std::optional<DialogTemplate> ParseDialogTemplate(std::string_view text, std::string* why)
{
    DialogTemplate d;
    bool sawDialog = false;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t lf = text.find('\n');
        const std::string_view line = text.substr(0, lf);
        text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
        std::vector<Token> tokens;
        const bool split = Tokenize(line, tokens);
        if (split && (tokens.empty() || (!tokens[0].quoted && tokens[0].text.starts_with('#')))) continue;
        if (!split || !Statement(tokens, d, sawDialog)) {
            if (why) *why = "line " + std::to_string(number) + " is not understood";
            return std::nullopt;
        }
    }
    if (!sawDialog) {
        if (why) *why = "no DIALOG line";
        return std::nullopt;
    }
    return d;
}

}  // namespace quillory
