// The add-in window's notices come from other windows: any bytes either
// read as a notice, within their size, or are dropped.
#include <cstddef>
#include <cstdint>
#include <span>

#include "tolvane/addin_window.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const char> bytes(reinterpret_cast<const char*>(data), size);
    if (const auto name = quillory::tolvane::ParseAccountCreated(bytes); name && name->size() >= size) __builtin_trap();
    if (const auto names = quillory::tolvane::ParseAccountRenamed(bytes);
        names && names->first.size() + names->second.size() + 2 > size)
        __builtin_trap();
    return 0;
}
