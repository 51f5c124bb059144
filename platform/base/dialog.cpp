// Dialog windows made from templates, their procedures and modal runs.
#include "platform/base/dialog.h"

#include <map>
#include <mutex>

#include "platform/base/dialog_template.h"
#include "platform/base/msgbox.h"
#include "platform/base/trace.h"
#include "platform/base/winerror.h"

namespace quillory {
namespace detail {
void RegisterDialogControlClasses();
}

namespace {

struct DialogState {
    std::shared_ptr<const DialogTemplate> design;
    bool ended = false;
    INT_PTR result = 0;
};

std::mutex g_lock;
std::map<HWND, DialogState> g_dialogs;
std::shared_ptr<IDialogPresenter> g_presenter;

std::shared_ptr<IDialogPresenter> Presenter()
{
    std::lock_guard g(g_lock);
    return g_presenter;
}

DLGPROC ProcOf(HWND dialog) { return reinterpret_cast<DLGPROC>(GetWindowLongPtr(dialog, DWLP_DLGPROC)); }

LRESULT DialogWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCDESTROY) {
        std::lock_guard g(g_lock);
        g_dialogs.erase(hwnd);
    }
    if (DLGPROC proc = ProcOf(hwnd)) {
        if (const INT_PTR handled = proc(hwnd, message, wParam, lParam)) return handled;
    }
    // Closing a dialog is cancelling it.
    if (message == WM_CLOSE) return SendMessage(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return DefWindowProc(hwnd, message, wParam, lParam);
}

void RegisterDialogClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASS wc{};
        wc.lpfnWndProc = &DialogWindowProc;
        wc.cbWndExtra = DWLP_USER + static_cast<int>(sizeof(LONG_PTR));
        wc.lpszClassName = kDialogClass;
        RegisterClass(&wc);
        detail::RegisterDialogControlClasses();
    });
}

std::optional<DialogTemplate> LoadTemplate(HINSTANCE instance, LPCSTR name)
{
    HRSRC found = FindResource(instance, name, RT_DIALOG);
    if (!found) return std::nullopt;
    const auto* data = static_cast<const char*>(LockResource(LoadResource(instance, found)));
    std::string why;
    auto design = ParseDialogTemplate({data, SizeofResource(instance, found)}, &why);
    if (!design) {
        Trace("CreateDialogParam: template %s: %s\n", IS_INTRESOURCE(name) ? "(id)" : name, why.c_str());
        SetLastError(ERROR_INVALID_DATA);
    }
    return design;
}

HWND MakeDialog(HINSTANCE instance, const DialogTemplate& source, HWND parent, DLGPROC proc, LPARAM param)
{
    RegisterDialogClass();
    auto design = std::make_shared<const DialogTemplate>(source);
    const DWORD style = (design->child ? WS_CHILD : WS_POPUP | WS_CAPTION | WS_SYSMENU) |
                        (design->visible ? WS_VISIBLE : 0);
    HWND dialog = CreateWindowEx(0, kDialogClass, design->caption.c_str(), style & ~WS_VISIBLE, design->x, design->y,
                                 design->cx, design->cy, design->child ? parent : nullptr, nullptr, instance, nullptr);
    if (!dialog) return nullptr;
    {
        std::lock_guard g(g_lock);
        g_dialogs[dialog].design = design;
    }
    SetWindowLongPtr(dialog, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(proc));
    HWND first = nullptr;
    for (const DialogControl& c : design->controls) {
        HWND control = CreateWindowEx(0, c.className.c_str(), c.text.c_str(), c.style, c.x, c.y, c.cx, c.cy, dialog,
                                      reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(c.id)), instance, nullptr);
        if (!control) {
            DestroyWindow(dialog);
            return nullptr;
        }
        if (!first && (c.style & WS_TABSTOP)) first = control;
    }
    if (auto presenter = Presenter()) presenter->Realize(dialog, *design);
    SendMessage(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param);
    if (IsWindow(dialog) && design->visible) ShowWindow(dialog, SW_SHOW);
    return IsWindow(dialog) ? dialog : nullptr;
}

}  // namespace

std::shared_ptr<IDialogPresenter> SetDialogPresenter(std::shared_ptr<IDialogPresenter> presenter)
{
    std::lock_guard g(g_lock);
    g_presenter.swap(presenter);
    return presenter;
}

const DialogTemplate* DialogDesign(HWND dialog)
{
    std::lock_guard g(g_lock);
    const auto it = g_dialogs.find(dialog);
    return it == g_dialogs.end() ? nullptr : it->second.design.get();
}

bool DialogEnded(HWND dialog)
{
    std::lock_guard g(g_lock);
    const auto it = g_dialogs.find(dialog);
    return it != g_dialogs.end() && it->second.ended;
}

void CScriptedDialogPresenter::QueueAction(Action action)
{
    std::lock_guard g(lock_);
    actions_.push_back(std::move(action));
}

std::vector<HWND> CScriptedDialogPresenter::Realized() const
{
    std::lock_guard g(lock_);
    return realized_;
}

void CScriptedDialogPresenter::Realize(HWND dialog, const DialogTemplate&)
{
    std::lock_guard g(lock_);
    realized_.push_back(dialog);
}

void CScriptedDialogPresenter::RunModal(HWND dialog)
{
    Action action;
    {
        std::lock_guard g(lock_);
        if (!actions_.empty()) {
            action = std::move(actions_.front());
            actions_.pop_front();
        }
    }
    if (action) action(dialog);
    if (IsWindow(dialog) && !DialogEnded(dialog)) EndDialog(dialog, IDCANCEL);
}

}  // namespace quillory

using namespace quillory;

HWND CreateDialogParam(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param)
{
    const std::optional<DialogTemplate> design = LoadTemplate(instance, name);
    return design ? MakeDialog(instance, *design, parent, proc, param) : nullptr;
}

INT_PTR DialogBoxParam(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc, LPARAM param)
{
    const std::optional<DialogTemplate> design = LoadTemplate(instance, name);
    HWND dialog = design ? MakeDialog(instance, *design, parent, proc, param) : nullptr;
    if (!dialog) return -1;
    if (!DialogEnded(dialog)) {
        if (auto presenter = Presenter()) {
            const bool ownerWasEnabled = parent && IsWindowEnabled(parent);
            if (ownerWasEnabled) EnableWindow(parent, FALSE);
            ShowWindow(dialog, SW_SHOW);
            presenter->RunModal(dialog);
            if (ownerWasEnabled) EnableWindow(parent, TRUE);
        } else {
            Trace("DialogBoxParam: no presenter to show \"%s\"; it answers IDCANCEL\n", design->caption.c_str());
            EndDialog(dialog, IDCANCEL);
        }
    }
    INT_PTR result = IDCANCEL;
    {
        std::lock_guard g(g_lock);
        const auto it = g_dialogs.find(dialog);
        if (it != g_dialogs.end() && it->second.ended) result = it->second.result;
    }
    if (IsWindow(dialog)) DestroyWindow(dialog);
    return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result)
{
    {
        std::lock_guard g(g_lock);
        const auto it = g_dialogs.find(dialog);
        if (it == g_dialogs.end()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        it->second.ended = true;
        it->second.result = result;
    }
    ShowWindow(dialog, SW_HIDE);
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id)
{
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        if (GetWindowLongPtr(child, GWLP_ID) == id) return child;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

int GetDlgCtrlID(HWND control) { return static_cast<int>(GetWindowLongPtr(control, GWLP_ID)); }

BOOL SetDlgItemText(HWND dialog, int id, LPCSTR text)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? SetWindowText(item, text) : FALSE;
}

UINT GetDlgItemText(HWND dialog, int id, LPSTR buffer, int size)
{
    if (buffer && size > 0) buffer[0] = '\0';
    HWND item = GetDlgItem(dialog, id);
    return item ? static_cast<UINT>(GetWindowText(item, buffer, size)) : 0;
}

UINT IsDlgButtonChecked(HWND dialog, int id)
{
    return static_cast<UINT>(SendDlgItemMessage(dialog, id, BM_GETCHECK, 0, 0));
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check)
{
    HWND item = GetDlgItem(dialog, id);
    if (!item) return FALSE;
    SendMessage(item, BM_SETCHECK, check, 0);
    return TRUE;
}

LRESULT SendDlgItemMessage(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND item = GetDlgItem(dialog, id);
    return item ? SendMessage(item, message, wParam, lParam) : 0;
}
