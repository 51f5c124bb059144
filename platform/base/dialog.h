// Dialogs from templates, as the home platform's dialog manager makes them:
// a module carries a dialog template as a resource (type RT_DIALOG, text
// form in dialog_template.h); CreateDialogParam turns it into a dialog
// window of class "#32770" with one child window per control (classes
// "Button", "Static", "Edit", "ComboBox", each with its control id), sends
// WM_INITDIALOG to the dialog procedure and, from then on, WM_COMMAND for
// what happens to the controls.
//
// The windows are the dialog: the procedure reads and changes them with the
// usual calls (GetDlgItem, SetDlgItemText, CheckDlgButton, ShowWindow,
// EnableWindow ...). Headless, that is all there is, and tests drive a
// dialog by sending it the messages a user's clicks would cause. A host
// with a screen installs a presenter that realises each dialog (a Qt one
// builds widgets that follow the windows through the window-change hook and
// turn clicks back into those messages); it also runs modal dialogs.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/base/resource.h"
#include "platform/base/window.h"

using INT_PTR = std::intptr_t;
using DLGPROC = INT_PTR (*)(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

constexpr WORD RT_DIALOG_ID = 5;
inline const LPCSTR RT_DIALOG = MAKEINTRESOURCE(RT_DIALOG_ID);

// Messages.
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BM_CLICK = 0x00F5;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr LRESULT CB_ERR = -1;

// Notification codes (high word of WM_COMMAND's wParam).
constexpr WORD BN_CLICKED = 0;
constexpr WORD EN_CHANGE = 0x0300;
constexpr WORD CBN_SELCHANGE = 1;

constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;

// Class names of the dialog and its controls.
inline constexpr char kDialogClass[] = "#32770";
inline constexpr char kButtonClass[] = "Button";
inline constexpr char kStaticClass[] = "Static";
inline constexpr char kEditClass[] = "Edit";
inline constexpr char kComboBoxClass[] = "ComboBox";

// Control styles (low bits per class), as the templates set them.
constexpr DWORD BS_PUSHBUTTON = 0x0;
constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
constexpr DWORD BS_AUTOCHECKBOX = 0x3;
constexpr DWORD BS_GROUPBOX = 0x7;
constexpr DWORD BS_AUTORADIOBUTTON = 0x9;
constexpr DWORD BS_TYPEMASK = 0xF;
constexpr DWORD SS_LEFT = 0x0;
constexpr DWORD SS_CENTER = 0x1;
constexpr DWORD SS_RIGHT = 0x2;
constexpr DWORD SS_ETCHEDHORZ = 0x10;
constexpr DWORD ES_MULTILINE = 0x4;
constexpr DWORD ES_PASSWORD = 0x20;
constexpr DWORD ES_READONLY = 0x800;
constexpr DWORD ES_NUMBER = 0x2000;
constexpr DWORD CBS_DROPDOWNLIST = 0x3;

constexpr WPARAM MAKEWPARAM(WORD low, WORD high) { return static_cast<WPARAM>(low) | (static_cast<WPARAM>(high) << 16); }

// A static control without an id of its own.
constexpr int IDC_STATIC = 0xFFFF;

// Creates the dialog of the template `name` in `instance`'s resources (a
// page, made as a child of `parent`, when its template says CHILD; else a
// top-level dialog owned by `parent`), then sends WM_INITDIALOG with `param`.
// Null when the template is missing or damaged (ERROR_RESOURCE_* or
// ERROR_INVALID_DATA).
HWND CreateDialogParam(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param);
// Creates the dialog, shows it and waits until EndDialog; answers EndDialog's
// result, -1 when it could not be created. With no presenter installed there
// is nobody to answer it: the dialog is created and initialised, the line is
// traced, and it ends at once with IDCANCEL, so a headless run never blocks.
INT_PTR DialogBoxParam(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param);
// Hides the dialog and records `result`; a modal dialog's loop then
// returns it and the dialog is destroyed. A modeless one stays (hidden)
// until its owner destroys it.
BOOL EndDialog(HWND dialog, INT_PTR result);

HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND control);
BOOL SetDlgItemText(HWND dialog, int id, LPCSTR text);
UINT GetDlgItemText(HWND dialog, int id, LPSTR buffer, int size);
UINT IsDlgButtonChecked(HWND dialog, int id);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
LRESULT SendDlgItemMessage(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
// The extra bytes of a dialog window: the procedure's (DWLP_DLGPROC) and the
// user's slot (DWLP_USER). A message sent to a dialog is answered with what
// its procedure returned, or the default handling's answer when it returned 0.
constexpr int DWLP_DLGPROC = static_cast<int>(sizeof(LRESULT));
constexpr int DWLP_USER = DWLP_DLGPROC + static_cast<int>(sizeof(DLGPROC));

namespace quillory {

struct DialogTemplate;

// Shows dialogs on a screen. Realize is called for every dialog made from a
// template, after its controls exist and before WM_INITDIALOG; RunModal
// shows a dialog modally and returns once EndDialog was called for it.
class IDialogPresenter {
public:
    virtual ~IDialogPresenter() = default;
    virtual void Realize(HWND dialog, const DialogTemplate& design) = 0;
    virtual void RunModal(HWND dialog) = 0;
};

// Installs the process's presenter (null removes it); returns the previous one.
std::shared_ptr<IDialogPresenter> SetDialogPresenter(std::shared_ptr<IDialogPresenter> presenter);

// The template a dialog was made from (valid while the dialog lives), and
// whether EndDialog has been called for it.
const DialogTemplate* DialogDesign(HWND dialog);
bool DialogEnded(HWND dialog);

// What a user does to a control, for presenters and tests: a click on an
// enabled button (its check changes as its kind says, then its dialog gets
// WM_COMMAND with BN_CLICKED; the same as BM_CLICK); typing into an edit
// (its text changes and the dialog gets EN_CHANGE); choosing a combo box
// entry (CBN_SELCHANGE).
void ClickDialogControl(HWND control);
void TypeIntoDialogControl(HWND edit, std::string_view text);
void ChooseDialogComboItem(HWND combo, int index);

// Scripted answers for modal dialogs in tests: each RunModal takes the next
// action queued and runs it on the dialog (it may click, type, end the
// dialog); a dialog the action left running ends with IDCANCEL, as one does
// when nobody answers. Realize records the dialogs made.
class CScriptedDialogPresenter : public IDialogPresenter {
public:
    using Action = std::function<void(HWND dialog)>;
    void QueueAction(Action action);
    std::vector<HWND> Realized() const;
    void Realize(HWND dialog, const DialogTemplate& design) override;
    void RunModal(HWND dialog) override;

private:
    mutable std::mutex lock_;
    std::deque<Action> actions_;
    std::vector<HWND> realized_;
};

}  // namespace quillory
