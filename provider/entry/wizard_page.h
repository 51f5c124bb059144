// WizardEntry and its page in the host's profile wizard: one button that
// runs the account wizard on the property object the host gave.
#pragma once

#include "platform/base/window.h"
#include "platform/mapi/mapispi.h"

namespace quillory {

// Dialog messages the page handles (the platform has no dialog manager of
// its own; the host's wizard sends these).
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WIZ_QUERYNUMPAGES = WM_USER + 10;  // 1034
constexpr UINT WIZ_NEXT = WM_USER + 11;           // 1035
constexpr UINT WIZ_PREV = WM_USER + 12;           // 1036

// Controls of the page.
constexpr UINT IDC_SETUP_ACCOUNT = 408;
constexpr UINT IDC_SETUP_TEXT = 411;
constexpr UINT IDC_HIDDEN_STATIC = 412;

// String-table ids.
constexpr UINT IDS_WIZARD_PAGE = 6119;
constexpr UINT IDS_NOT_CONFIGURED_CAPTION = 6117;
constexpr UINT IDS_NOT_CONFIGURED_TEXT = 6118;

inline constexpr char kWizardPageResource[] = "RESDLG_NEW_WIZ_PAGES";

using WizardPageProc = LONG_PTR (*)(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Keeps the property object (one reference until the page closes) and hands
// out the page's resource name and procedure. Returns 0.
ULONG WizardEntryImpl(HINSTANCE instance, LPSTR* resourceName, WizardPageProc* procedure, LPMAPIPROP propObject,
                      LPVOID support);
LONG_PTR WizardPage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The page's state, for tests: whether an account was set up, and the index.
bool WizardPageConfigured();
int WizardPageIndex();
void ResetWizardPageForTests();

}  // namespace quillory
