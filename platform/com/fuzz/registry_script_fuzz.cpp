// Registry scripts: any text either reads as a script or is refused, and a
// replacement value never changes what the script reads as.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/com/registrar.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    // The input is tried as a script and as a replacement value in a fixed script.
    const quillory::Replacements r = {{"MODULE", text}, {"APPID", "{1AA5E393-BCF2-4526-AB2D-A93F54A81BC8}"}};
    std::string error;
    quillory::ParseRegistryScript(text, r, &error);
    const char* fixed = "HKCR { NoRemove CLSID { ForceRemove {4A9C87D8-D7B2-4102-85E1-73A0B3420C31} "
                        "{ InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Apartment' } } } }";
    if (!quillory::ParseRegistryScript(fixed, r, &error)) __builtin_trap();
    return 0;
}
