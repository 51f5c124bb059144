// "WizardEntry": the host's profile wizard asks for the provider's page.
#include "provider/entry/wizard_page.h"

extern "C" __attribute__((visibility("default"))) ULONG WizardEntry(HINSTANCE hInstance, LPSTR* lppszResourceName,
                                                                    quillory::WizardPageProc* lppDlgProc,
                                                                    LPMAPIPROP lpMAPIProp, LPVOID lpMapiSupportObject)
{
    return quillory::WizardEntryImpl(hInstance, lppszResourceName, lppDlgProc, lpMAPIProp, lpMapiSupportObject);
}
