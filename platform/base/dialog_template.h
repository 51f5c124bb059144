// Dialog templates: the design of a dialog as its module carries it (a
// resource of type RT_DIALOG), in a small text form, one statement a line:
//
//   # the transport's page in the profile wizard
//   DIALOG 0 0 200 150
//   STYLE CHILD
//   CAPTION "Outlook 2000 Profile Wizard"
//   FONT 8 "Tahoma"
//   LTEXT "Click this button ..." 411 7 48 185 26
//   PUSHBUTTON "&Setup account" 408 57 86 100 14
//   LTEXT "" 412 7 120 185 8 HIDDEN
//
// Positions and sizes are dialog units (a quarter of the font's average
// character width, an eighth of its height). A control is KIND "text" id x
// y cx cy [FLAG...], with KIND one of LTEXT CTEXT RTEXT ETCHED PUSHBUTTON
// DEFPUSHBUTTON CHECKBOX RADIOBUTTON GROUPBOX EDITTEXT COMBOBOX and FLAG one
// of HIDDEN DISABLED GROUP PASSWORD READONLY MULTILINE NUMBER; the id -1 is a
// static without an id of its own (0xFFFF). STYLE takes CHILD (a page, made
// inside its parent) and VISIBLE. Texts are UTF-8 in double quotes with the
// escapes \" \\ \r \n \t.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/wintypes.h"

namespace quillory {

struct DialogControl {
    std::string className;  // "Button", "Static", "Edit", "ComboBox"
    DWORD style = 0;        // WS_* with the class's own low bits
    int id = 0;
    std::string text;
    int x = 0, y = 0, cx = 0, cy = 0;
};

struct DialogTemplate {
    int x = 0, y = 0, cx = 0, cy = 0;
    bool child = false;
    bool visible = false;
    std::string caption;
    int fontPoints = 8;
    std::string fontFace;
    std::vector<DialogControl> controls;
};

// Limits a template is held to.
constexpr int kDialogMaxCoordinate = 32767;
constexpr std::size_t kDialogMaxControls = 1024;
constexpr std::size_t kDialogMaxText = 4096;

// Parses a template; nothing, with the line and the reason in `why`, when
// any line is not understood or a value is out of range.
std::optional<DialogTemplate> ParseDialogTemplate(std::string_view text, std::string* why = nullptr);

}  // namespace quillory
