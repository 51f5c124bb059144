// WizardEntry and its page in the host's profile wizard: one button that
// runs the account wizard on the property object the host gave.
#pragma once

#include "platform/base/dialog.h"
#include "platform/mapi/mapispi.h"

namespace quillory {

// The page is made from its template (the resource "RESDLG_NEW_WIZ_PAGES",
// entry/wizard_page.dlg) by the platform's dialog manager; the host's wizard
// sends it these besides WM_INITDIALOG, WM_COMMAND and WM_CLOSE.
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

using WizardPageProc = DLGPROC;

// Keeps the property object (one reference until the page closes) and hands
// out the page's resource name and procedure. Returns 0.
ULONG WizardEntryImpl(HINSTANCE instance, LPSTR* resourceName, WizardPageProc* procedure, LPMAPIPROP propObject,
                      LPVOID support);
INT_PTR WizardPage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The page's state, for tests: whether an account was set up, and the index.
bool WizardPageConfigured();
int WizardPageIndex();
void ResetWizardPageForTests();

}  // namespace quillory
