// The activation gate: whether the newsgroup features are active in the
// profile the mail client runs, from the registry ("IgnoreDisabled" of the
// product, "Enabled" of the profile) and, on a profile's first start, the
// GUI library's profile wizard.
#pragma once

#include <string>

#include "platform/com/unknwn.h"

namespace quillory::tolvane {

inline constexpr char kValIgnoreDisabled[] = "IgnoreDisabled";
inline constexpr char kValEnabled[] = "Enabled";
inline constexpr char kProfileGuiExport[] = "ProfileGUI";

// The GUI library's profile wizard: the profile name and the mail client's
// namespace; 1 when the wizard finished with a base folder stored.
using ProfileGuiEntry = int (*)(LPCSTR profileName, IUnknown* outlook);

// Decides for the profile. namespaceObject goes to the wizard when it runs.
// An empty profile name never activates (the profile's key could not be
// told from the product's). When the GUI library cannot be loaded or has
// no wizard, the user is told (string 7121, caption 7103, error icon) and
// the add-in stays inactive.
bool RunActivationGate(const std::string& profileName, IUnknown* namespaceObject);

}  // namespace quillory::tolvane
