#include "tolvane/gate.h"

#include <optional>

#include "common/regstore.h"
#include "platform/base/module.h"
#include "platform/base/msgbox.h"
#include "platform/base/trace.h"
#include "tolvane/texts.h"

namespace quillory::tolvane {

namespace {

constexpr DWORD kIgnoreDisabledOnce = 1;
constexpr DWORD kDefaultEnabled = 1;

// Runs the wizard of the GUI library named by "VISMORA"; nothing when the
// library or its export is missing.
std::optional<bool> RunProfileWizard(const std::string& profileName, IUnknown* namespaceObject)
{
    std::string library;
    ReadRegString(kMainKey, kValVismora, library, kVismoraBufferSize, kDefaultVismora);
    HMODULE module = LoadLibrary(library.c_str());
    if (!module) {
        Trace("RunActivationGate -- %s does not load: %s\n", library.c_str(), LastModuleError().c_str());
        return std::nullopt;
    }
    auto wizard = reinterpret_cast<ProfileGuiEntry>(GetProcAddress(module, kProfileGuiExport));
    std::optional<bool> result;
    if (wizard) result = wizard(profileName.c_str(), namespaceObject) != 0;
    FreeLibrary(module);
    return result;
}

}  // namespace

bool RunActivationGate(const std::string& profileName, IUnknown* namespaceObject)
{
    if (profileName.empty()) {
        Trace("RunActivationGate -- no profile name; staying inactive\n");
        return false;
    }
    DWORD ignoreDisabled = 0;
    ReadRegDword(kMainKey, kValIgnoreDisabled, ignoreDisabled, 0);
    // It acts once: the next start sees 0 again.
    WriteRegDword(kMainKey, kValIgnoreDisabled, 0);

    DWORD enabled = kDefaultEnabled;
    const bool enabledExists = ReadRegDword(ProfileKeyPath(profileName), kValEnabled, enabled, kDefaultEnabled);
    if (enabledExists && ignoreDisabled != kIgnoreDisabledOnce) return enabled != 0;
    if (enabledExists && enabled != 0) return true;

    // No choice recorded yet, or a disabled profile the user asked to see again.
    const std::optional<bool> wizard = RunProfileWizard(profileName, namespaceObject);
    if (!wizard) {
        const std::string text = AddinText(kStrNoGuiLibrary);
        const std::string caption = AddinText(kStrCaption);
        MessageBox(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
        return false;
    }
    return *wizard;
}

}  // namespace quillory::tolvane
