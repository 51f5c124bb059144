// The controls of template dialogs: buttons (push, check box, radio button,
// group box), static texts, edits and drop-down lists. They keep their
// state in their windows and tell their dialog what a user did, as
// WM_COMMAND notifications.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/dialog.h"
#include "platform/base/winerror.h"

namespace quillory {
namespace {

// Byte offset of a button's check state in its extra bytes.
constexpr int kCheckSlot = 0;

void Notify(HWND control, WORD code)
{
    HWND dialog = GetParent(control);
    if (dialog)
        SendMessage(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(control)), code),
                    reinterpret_cast<LPARAM>(control));
}

DWORD Kind(HWND button) { return static_cast<DWORD>(GetWindowStyle(button)) & BS_TYPEMASK; }

bool IsRadioButton(HWND control)
{
    char name[16] = {};
    GetClassName(control, name, sizeof name);
    return std::string_view(name) == kButtonClass && Kind(control) == BS_AUTORADIOBUTTON;
}

void SetCheck(HWND button, LONG_PTR state)
{
    if (GetWindowLongPtr(button, kCheckSlot) == state) return;
    SetWindowLongPtr(button, kCheckSlot, state);
    NotifyWindowChange(button, WindowChange::State);
}

// Unchecks the other radio buttons of the button's group: the siblings from
// the last WS_GROUP control up to the next one.
void UncheckGroupSiblings(HWND radio)
{
    HWND dialog = GetParent(radio);
    std::vector<HWND> group;
    bool inGroup = false;
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        if (GetWindowStyle(c) & WS_GROUP) {
            if (inGroup) break;
            group.clear();
        }
        group.push_back(c);
        if (c == radio) inGroup = true;
    }
    for (HWND c : group)
        if (c != radio && IsRadioButton(c)) SetCheck(c, BST_UNCHECKED);
}

LRESULT ButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case BM_GETCHECK: return GetWindowLongPtr(hwnd, kCheckSlot);
    case BM_SETCHECK: SetCheck(hwnd, static_cast<LONG_PTR>(wParam)); return 0;
    case BM_CLICK:
        if (!IsWindowEnabled(hwnd)) return 0;
        if (Kind(hwnd) == BS_AUTOCHECKBOX) SetCheck(hwnd, GetWindowLongPtr(hwnd, kCheckSlot) ? BST_UNCHECKED : BST_CHECKED);
        if (Kind(hwnd) == BS_AUTORADIOBUTTON) {
            UncheckGroupSiblings(hwnd);
            SetCheck(hwnd, BST_CHECKED);
        }
        if (Kind(hwnd) != BS_GROUPBOX) Notify(hwnd, BN_CLICKED);
        return 0;
    default: return DefWindowProc(hwnd, message, wParam, lParam);
    }
}

LRESULT EditProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    const LRESULT r = DefWindowProc(hwnd, message, wParam, lParam);
    if (message == WM_SETTEXT && r) Notify(hwnd, EN_CHANGE);
    return r;
}

// The entries and the selection of every drop-down list.
struct ComboState {
    std::vector<std::string> items;
    int selection = -1;
};
std::mutex g_comboLock;
std::map<HWND, ComboState> g_combos;

LRESULT ComboProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::unique_lock lock(g_comboLock);
    ComboState& c = g_combos[hwnd];
    const auto index = static_cast<std::size_t>(wParam);
    switch (message) {
    case CB_ADDSTRING: {
        c.items.emplace_back(lParam ? reinterpret_cast<LPCSTR>(lParam) : "");
        const auto added = static_cast<LRESULT>(c.items.size() - 1);
        lock.unlock();
        NotifyWindowChange(hwnd, WindowChange::Items);
        return added;
    }
    case CB_RESETCONTENT:
        c = ComboState{};
        lock.unlock();
        DefWindowProc(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
        NotifyWindowChange(hwnd, WindowChange::Items);
        return 0;
    case CB_GETCOUNT: return static_cast<LRESULT>(c.items.size());
    case CB_GETCURSEL: return c.selection;
    case CB_SETCURSEL: {
        if (static_cast<WPARAM>(-1) != wParam && index >= c.items.size()) return CB_ERR;
        c.selection = static_cast<WPARAM>(-1) == wParam ? -1 : static_cast<int>(index);
        const int selected = c.selection;
        const std::string text = selected < 0 ? std::string() : c.items[index];
        lock.unlock();
        DefWindowProc(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        NotifyWindowChange(hwnd, WindowChange::State);
        return selected < 0 ? CB_ERR : static_cast<LRESULT>(selected);
    }
    case CB_GETLBTEXTLEN: return index < c.items.size() ? static_cast<LRESULT>(c.items[index].size()) : CB_ERR;
    case CB_GETLBTEXT:
        if (index >= c.items.size() || !lParam) return CB_ERR;
        std::memcpy(reinterpret_cast<char*>(lParam), c.items[index].c_str(), c.items[index].size() + 1);
        return static_cast<LRESULT>(c.items[index].size());
    case WM_NCDESTROY: g_combos.erase(hwnd); return 0;
    default: lock.unlock(); return DefWindowProc(hwnd, message, wParam, lParam);
    }
}

void Register(const char* name, WNDPROC proc, int extra)
{
    WNDCLASS wc{};
    wc.lpfnWndProc = proc;
    wc.cbWndExtra = extra;
    wc.lpszClassName = name;
    RegisterClass(&wc);
}

}  // namespace

namespace detail {

void RegisterDialogControlClasses()
{
    Register(kButtonClass, &ButtonProc, static_cast<int>(sizeof(LONG_PTR)));
    Register(kStaticClass, &DefWindowProc, 0);
    Register(kEditClass, &EditProc, 0);
    Register(kComboBoxClass, &ComboProc, 0);
}

}  // namespace detail

void ClickDialogControl(HWND control) { SendMessage(control, BM_CLICK, 0, 0); }

void TypeIntoDialogControl(HWND edit, std::string_view text)
{
    const std::string copy(text);
    SetWindowText(edit, copy.c_str());
}

void ChooseDialogComboItem(HWND combo, int index)
{
    if (SendMessage(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0) != CB_ERR) Notify(combo, CBN_SELCHANGE);
}

}  // namespace quillory
