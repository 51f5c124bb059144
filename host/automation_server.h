// The host as the mail client's automation server: the class under which
// installers and the INF merge's office check find the mail client program.
#pragma once

#include "platform/base/wintypes.h"

namespace quillory::host {

inline constexpr char kHostProgId[] = "Outlook.Application";
inline constexpr char kHostClsid[] = "{B7837328-C0F3-4EF0-8A48-8527C3CEF75A}";
inline constexpr char kHostDescription[] = "Quillory mail client";

// Registers the running program in HKEY_CLASSES_ROOT: the ProgID's "CLSID"
// names the host's class, whose "LocalServer32" is the program's full path.
// Answers ERROR_SUCCESS or the first registry error.
LONG RegisterAutomationServer();

}  // namespace quillory::host
