// Dialogs from templates: the template text, the windows a dialog is made
// of, what a user's clicks and typing tell the dialog procedure, and modal
// runs with and without someone to answer them.
#include "platform/base/dialog.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/base/dialog_template.h"
#include "platform/base/module.h"
#include "platform/base/msgbox.h"
#include "platform/base/winerror.h"

namespace quillory {
namespace {

TEST(DialogTemplateText, ReadsEveryStatement)
{
    std::string why;
    const auto d = ParseDialogTemplate(
        "# a page\nDIALOG 1 2 200 150\r\nSTYLE CHILD VISIBLE\nCAPTION \"A \\\"page\\\"\\r\\n\"\nFONT 8 \"Tahoma\"\n\n"
        "  LTEXT \"Click:\" 411 7 48 185 26\nPUSHBUTTON \"&Setup\" 408 57 86 100 14 DISABLED\n"
        "LTEXT \"\" -1 0 0 1 1 HIDDEN\nEDITTEXT \"\" 5 0 0 9 9 PASSWORD NUMBER\n",
        &why);
    ASSERT_TRUE(d) << why;
    EXPECT_EQ(d->cx, 200);
    EXPECT_TRUE(d->child && d->visible);
    EXPECT_EQ(d->caption, "A \"page\"\r\n");
    EXPECT_EQ(d->fontFace, "Tahoma");
    ASSERT_EQ(d->controls.size(), 4u);
    EXPECT_EQ(d->controls[0].className, kStaticClass);
    EXPECT_EQ(d->controls[1].id, 408);
    EXPECT_EQ(d->controls[1].style & (WS_DISABLED | WS_VISIBLE | BS_TYPEMASK), WS_DISABLED | WS_VISIBLE | BS_PUSHBUTTON);
    EXPECT_EQ(d->controls[2].id, IDC_STATIC);
    EXPECT_EQ(d->controls[2].style & WS_VISIBLE, 0u);
    EXPECT_EQ(d->controls[3].style & (ES_PASSWORD | ES_NUMBER), ES_PASSWORD | ES_NUMBER);
}

class BadTemplate : public ::testing::TestWithParam<const char*> {};

TEST_P(BadTemplate, IsRefusedWithItsLine)
{
    std::string why;
    EXPECT_FALSE(ParseDialogTemplate(GetParam(), &why));
    EXPECT_FALSE(why.empty());
}

INSTANTIATE_TEST_SUITE_P(DialogTemplateText, BadTemplate,
                         ::testing::Values("", "LTEXT \"x\" 1 0 0 1 1\nDIALOG 0 0 1 1",
                                           "DIALOG 0 0 1", "DIALOG 0 0 1 99999", "DIALOG 0 0 1 1\nSLIDER \"\" 1 0 0 1 1",
                                           "DIALOG 0 0 1 1\nLTEXT \"open 1 0 0 1 1", "DIALOG 0 0 1 1\nLTEXT x 1 0 0 1 1",
                                           "DIALOG 0 0 1 1\nLTEXT \"\" 70000 0 0 1 1",
                                           "DIALOG 0 0 1 1\nLTEXT \"\" 1 0 0 1 1 BLINKING",
                                           "DIALOG 0 0 1 1\nCAPTION \"\\q\"", "DIALOG 0 0 1 1\nSTYLE POPUP",
                                           "DIALOG 0 0 1 1\nFONT 0 \"x\"", "DIALOG 0 0 1 1\nLTEXT \"\" 1 -5 0 1 1"));

// What the test dialog's procedure saw.
struct Seen {
    LPARAM initParam = 0;
    std::vector<std::pair<int, WORD>> commands;  // id, notification
};

INT_PTR TestProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* seen = reinterpret_cast<Seen*>(GetWindowLongPtr(dialog, DWLP_USER));
    if (message == WM_INITDIALOG) {
        SetWindowLongPtr(dialog, DWLP_USER, lParam);
        reinterpret_cast<Seen*>(lParam)->initParam = lParam;
        SendDlgItemMessage(dialog, 105, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("LAN"));
        SendDlgItemMessage(dialog, 105, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Dial-up"));
        return TRUE;
    }
    if (message == WM_COMMAND && seen) {
        seen->commands.emplace_back(LOWORD(wParam), HIWORD(wParam));
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

class Dialogs : public ::testing::Test {
protected:
    HINSTANCE self = GetModuleHandle(nullptr);
    Seen seen;
};

TEST_F(Dialogs, AreMadeOfTheirTemplatesWindows)
{
    HWND d = CreateDialogParam(self, "TESTDIALOG", nullptr, &TestProc, reinterpret_cast<LPARAM>(&seen));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(seen.initParam, reinterpret_cast<LPARAM>(&seen));
    char text[64] = {};
    GetWindowText(d, text, sizeof text);
    EXPECT_STREQ(text, "Test \"dialog\"");
    GetClassName(GetDlgItem(d, 101), text, sizeof text);
    EXPECT_STREQ(text, "Button");
    EXPECT_EQ(GetDlgCtrlID(GetWindow(d, GW_CHILD)), IDC_STATIC);
    EXPECT_FALSE(IsWindowVisible(d));  // not VISIBLE in its template
    ShowWindow(d, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(d, 101)));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(d, 106)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, 107)));
    EXPECT_EQ(GetDlgItem(d, 999), nullptr);
    ASSERT_NE(DialogDesign(d), nullptr);
    EXPECT_EQ(DialogDesign(d)->controls.size(), 11u);
    EXPECT_TRUE(DestroyWindow(d));
    EXPECT_EQ(DialogDesign(d), nullptr);
    SetLastError(0);
    EXPECT_EQ(CreateDialogParam(self, "NOSUCHDIALOG", nullptr, &TestProc, 0), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
}

TEST_F(Dialogs, UsersClicksAndTypingReachTheProcedure)
{
    std::vector<std::pair<HWND, WindowChange>> changes;
    SetWindowChangeHook([&changes](HWND h, WindowChange what) { changes.emplace_back(h, what); });
    HWND d = CreateDialogParam(self, "TESTDIALOG", nullptr, &TestProc, reinterpret_cast<LPARAM>(&seen));
    ASSERT_NE(d, nullptr);

    ClickDialogControl(GetDlgItem(d, 101));
    EXPECT_EQ(IsDlgButtonChecked(d, 101), BST_CHECKED);
    ClickDialogControl(GetDlgItem(d, 101));
    EXPECT_EQ(IsDlgButtonChecked(d, 101), BST_UNCHECKED);

    // Radio buttons uncheck the others of their group only.
    ClickDialogControl(GetDlgItem(d, 104));
    ClickDialogControl(GetDlgItem(d, 102));
    ClickDialogControl(GetDlgItem(d, 103));
    EXPECT_EQ(IsDlgButtonChecked(d, 102), BST_UNCHECKED);
    EXPECT_EQ(IsDlgButtonChecked(d, 103), BST_CHECKED);
    EXPECT_EQ(IsDlgButtonChecked(d, 104), BST_CHECKED);

    ClickDialogControl(GetDlgItem(d, 107));  // disabled: nothing happens
    TypeIntoDialogControl(GetDlgItem(d, 100), "Jürgen");
    char text[32] = {};
    EXPECT_EQ(GetDlgItemText(d, 100, text, sizeof text), 7u);
    EXPECT_STREQ(text, "Jürgen");
    ChooseDialogComboItem(GetDlgItem(d, 105), 1);
    EXPECT_EQ(SendDlgItemMessage(d, 105, CB_GETCURSEL, 0, 0), 1);
    GetDlgItemText(d, 105, text, sizeof text);
    EXPECT_STREQ(text, "Dial-up");
    EXPECT_EQ(SendDlgItemMessage(d, 105, CB_SETCURSEL, 5, 0), CB_ERR);

    const std::vector<std::pair<int, WORD>> expected = {
        {101, BN_CLICKED}, {101, BN_CLICKED}, {104, BN_CLICKED}, {102, BN_CLICKED},
        {103, BN_CLICKED}, {100, EN_CHANGE},  {105, CBN_SELCHANGE}};
    EXPECT_EQ(seen.commands, expected);
    EXPECT_NE(std::find(changes.begin(), changes.end(), std::make_pair(GetDlgItem(d, 101), WindowChange::State)),
              changes.end());
    EXPECT_NE(std::find(changes.begin(), changes.end(), std::make_pair(GetDlgItem(d, 100), WindowChange::Text)),
              changes.end());
    SetWindowChangeHook(nullptr);
    DestroyWindow(d);
}

TEST_F(Dialogs, AModalDialogNobodyCanAnswerEndsAsCancelled)
{
    SetDialogPresenter(nullptr);
    EXPECT_EQ(DialogBoxParam(self, "TESTDIALOG", nullptr, &TestProc, reinterpret_cast<LPARAM>(&seen)), IDCANCEL);
    EXPECT_EQ(seen.initParam, reinterpret_cast<LPARAM>(&seen));
    EXPECT_EQ(FindWindow(kDialogClass, nullptr), nullptr);  // destroyed
    EXPECT_EQ(DialogBoxParam(self, "NOSUCHDIALOG", nullptr, &TestProc, 0), -1);
}

TEST_F(Dialogs, AScriptedUserAnswersModalDialogs)
{
    auto script = std::make_shared<CScriptedDialogPresenter>();
    script->QueueAction([](HWND d) {
        EXPECT_TRUE(IsWindowVisible(d));
        TypeIntoDialogControl(GetDlgItem(d, 100), "typed");
        ClickDialogControl(GetDlgItem(d, IDOK));
    });
    script->QueueAction([](HWND) {});  // walks away: the dialog is cancelled
    SetDialogPresenter(script);
    EXPECT_EQ(DialogBoxParam(self, "TESTDIALOG", nullptr, &TestProc, reinterpret_cast<LPARAM>(&seen)), IDOK);
    EXPECT_EQ(seen.commands.back(), std::make_pair(int{IDOK}, BN_CLICKED));
    EXPECT_EQ(DialogBoxParam(self, "TESTDIALOG", nullptr, &TestProc, reinterpret_cast<LPARAM>(&seen)), IDCANCEL);
    EXPECT_EQ(script->Realized().size(), 2u);
    SetDialogPresenter(nullptr);
}

TEST_F(Dialogs, ClosingADialogCancelsIt)
{
    HWND d = CreateDialogParam(self, "TESTDIALOG", nullptr, &TestProc, reinterpret_cast<LPARAM>(&seen));
    ASSERT_NE(d, nullptr);
    SendMessage(d, WM_CLOSE, 0, 0);
    EXPECT_EQ(seen.commands.back(), std::make_pair(int{IDCANCEL}, BN_CLICKED));
    EXPECT_TRUE(DialogEnded(d));
    DestroyWindow(d);
}

}  // namespace
}  // namespace quillory
