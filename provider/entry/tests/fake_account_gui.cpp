// "SettingsGUI" and "WizardGUI" as a scripted user drives them. Steered by
// the environment: FAKE_GUI_NAME is the account name the user types (none:
// nothing is changed), FAKE_GUI_CANCEL makes the user cancel. The user name
// the dialog was opened with is written to FAKE_GUI_SEEN when that names a file.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <type_traits>

#include "common/account_props.h"
#include "common/vismora_api.h"

namespace {

using SaveFn = quillory::vismora::AccountSaveCallback;

int Run(LPSPropValue array, LPALLOCATEMORE more, SaveFn save, void* context, bool readBack)
{
    if (const char* seen = std::getenv("FAKE_GUI_SEEN")) {
        if (FILE* f = std::fopen(seen, "w")) {
            const SPropValue& user = array[quillory::acct::kUserName];
            const SPropValue& kind = array[quillory::acct::kAccountKind];
            std::fprintf(f, "%s|%ld", user.ulPropTag == PR_ACCOUNT ? user.Value.lpszA : "",
                         kind.ulPropTag == quillory::acct::PR_NNTP_ACCOUNT_KIND ? static_cast<long>(kind.Value.l) : -1L);
            std::fclose(f);
        }
    }
    if (std::getenv("FAKE_GUI_CANCEL")) return 0;
    if (const char* name = std::getenv("FAKE_GUI_NAME")) {
        void* p = nullptr;
        if (FAILED(more(static_cast<ULONG>(std::strlen(name) + 1), array, &p))) return 0;
        std::memcpy(p, name, std::strlen(name) + 1);
        array[quillory::acct::kAccountName].ulPropTag = PR_DISPLAY_NAME;
        array[quillory::acct::kAccountName].Value.lpszA = static_cast<LPSTR>(p);
        LPSPropValue fresh = nullptr;
        if (FAILED(save(array, readBack ? &fresh : nullptr, context))) return 0;
    }
    return 1;
}

}  // namespace

extern "C" {
__attribute__((visibility("default"))) int SettingsGUI(LPSPropValue array, LPALLOCATEMORE more, SaveFn save,
                                                       void* context)
{
    return Run(array, more, save, context, true);
}
__attribute__((visibility("default"))) int WizardGUI(LPSPropValue array, LPALLOCATEMORE more, SaveFn save,
                                                     void* context)
{
    return Run(array, more, save, context, false);
}
}
static_assert(std::is_same_v<decltype(&SettingsGUI), quillory::vismora::AccountDialogFn>);
static_assert(std::is_same_v<decltype(&WizardGUI), quillory::vismora::AccountDialogFn>);
