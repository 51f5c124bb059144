#include "provider/entry/wizard_page.h"

#include "platform/base/msgbox.h"
#include "platform/base/resource.h"
#include "platform/base/trace.h"
#include "platform/com/com_ptr.h"
#include "provider/entry/gui_binding.h"
#include "provider/entry/module_state.h"
#include "provider/entry/service_entry.h"

namespace quillory {

namespace {

// Module-wide, as the host's wizard shows one page at a time.
ComPtr<IMAPIProp> g_propObject;
bool g_configured = false;
int g_pageIndex = 0;

std::string Text(UINT id)
{
    char buffer[512] = {};
    LoadString(quarnex::ModuleInstance(), id, buffer, sizeof buffer);
    return buffer;
}

}  // namespace

ULONG WizardEntryImpl(HINSTANCE instance, LPSTR* resourceName, WizardPageProc* procedure, LPMAPIPROP propObject,
                      LPVOID support)
{
    quarnex::RememberModuleInstance(instance);
    if (resourceName) *resourceName = const_cast<LPSTR>(kWizardPageResource);
    if (procedure) *procedure = &WizardPage;
    g_propObject = ComPtr<IMAPIProp>(propObject);
    return 0;
}

INT_PTR WizardPage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        CGuiExport localize(vismora::kLocalizeDlg);
        if (localize.Available()) localize.As<vismora::LocalizeDlgFn>()(hwnd, IDS_WIZARD_PAGE);
        return TRUE;
    }
    case WM_CLOSE:
        g_propObject.Reset();
        return TRUE;
    case WIZ_QUERYNUMPAGES: return 1;
    case WM_COMMAND: {
        const UINT id = static_cast<UINT>(wParam & 0xFFFF);
        if (id == IDC_SETUP_ACCOUNT) {
            const bool ok = g_propObject && SUCCEEDED(RunAccountWizard(g_propObject.Get(), false, true));
            if (!g_configured) g_configured = ok;
            return TRUE;
        }
        if (id == WIZ_NEXT && g_pageIndex == 1 && !g_configured) {
            MessageBox(hwnd, Text(IDS_NOT_CONFIGURED_TEXT).c_str(), Text(IDS_NOT_CONFIGURED_CAPTION).c_str(),
                       MB_ICONWARNING);
            return 0;
        }
        if (id == WIZ_NEXT || id == WIZ_PREV) {
            const bool show = g_pageIndex != 1;
            for (const UINT control : {IDC_SETUP_ACCOUNT, IDC_SETUP_TEXT}) {
                HWND item = GetDlgItem(hwnd, static_cast<int>(control));
                ShowWindow(item, show ? SW_SHOW : SW_HIDE);
                EnableWindow(item, show ? TRUE : FALSE);
            }
            g_pageIndex += id == WIZ_NEXT ? 1 : -1;
            return TRUE;
        }
        return FALSE;
    }
    default: return FALSE;
    }
}

bool WizardPageConfigured() { return g_configured; }
int WizardPageIndex() { return g_pageIndex; }

void ResetWizardPageForTests()
{
    g_propObject.Reset();
    g_configured = false;
    g_pageIndex = 0;
}

}  // namespace quillory
