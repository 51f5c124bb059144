// What the registration code of the COM layer shares (internal): string
// values written under a root key, and a module's resource read by path.
#pragma once

#include <string>
#include <string_view>

#include "platform/base/registry.h"

namespace quillory::com_detail {

// Creates root\path and sets the string value (null name: the default value).
LONG SetRegText(HKEY root, const std::string& path, const char* name, std::string_view value);

// Copies resource (name, type) of the module at path: the loaded module when
// it is loaded, else it is loaded for the copy and freed again. False when
// the module or the resource is missing.
bool ReadModuleResource(const std::string& modulePath, const char* name, const char* type, std::string& out);

}  // namespace quillory::com_detail
