// ServiceEntry: how profile administration creates, configures and deletes
// a newsgroup account (a "Corvane" message service).
//
// For callers without a user interface (the host's `quillory account add`):
// MSG_SERVICE_CONFIGURE with property values and neither SERVICE_UI_ALWAYS
// nor SERVICE_UI_ALLOWED stores the given values into the service's profile
// section with one SetProps and returns its result; with no values it fails
// (E_FAIL). MSG_SERVICE_CREATE needs one of the UI flags and runs the account
// wizard of the GUI library; without the flags, or while the GUI library is
// not installed, it returns E_FAIL, so a headless caller adds the service's
// records without the create call and then configures it with values.
// Profile administration calls the entry without a support object; the
// platform's own MAPI allocation routines then serve.
#pragma once

#include "platform/mapi/mapispi.h"
#include "platform/mapi/service_admin_core.h"

namespace quillory {

// The two booleans the wizard-entry save clears on the property object.
constexpr ULONG PR_WIZARD_FLAG_A = 0x6700000B;
constexpr ULONG PR_WIZARD_FLAG_B = 0x6701000B;

HRESULT ServiceEntryImpl(HINSTANCE hInstance, LPMALLOC lpMalloc, LPMAPISUP lpMAPISup, ULONG_PTR ulUIParam,
                         ULONG ulFlags, ULONG ulContext, ULONG cValues, LPSPropValue lpProps,
                         LPPROVIDERADMIN lpProviderAdmin, LPMAPIERROR* lppMapiError);

// The account wizard and the settings dialog on a profile section (or, for
// the wizard page, the kept property object); exposed for the wizard page.
HRESULT RunAccountWizard(LPMAPIPROP target, bool prefill, bool wizardEntrySave);
HRESULT RunSettingsDialog(LPMAPIPROP section);

}  // namespace quillory
