// Special folders named in the configuration as "%N%" (the shell's numbers:
// 37 system directory, 38 program files, 43 common files ...).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillory::sedgewynd {

// The folder's path without a final separator, or nothing when the number
// does not resolve. Asks the shell first (its function is looked up once and
// kept); without an answer there, 37 is the system directory and 38 / 43 come
// from the machine's "ProgramFilesDir" / "CommonFilesDir".
std::optional<std::string> SpecialFolder(int csidl);

// The element with its first "%N%" replaced by the folder's path; the element
// as written when it has no reference, N is 0, or the folder does not resolve.
std::string ExpandFolderReference(std::string_view element);

}  // namespace quillory::sedgewynd
