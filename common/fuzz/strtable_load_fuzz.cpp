// STRTABLE images from files a translator may replace: the loader rejects or
// takes them, never reads outside them, and what it takes is written back
// and read again unchanged.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "common/strtable.h"
#include "common/strtable_format.h"

using namespace quillory;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    const auto image = strtable::ParseStrTable(bytes);

    CStrTable table;
    const bool loaded = table.LoadImage(bytes);
    if (!image) {
        if (loaded || table.Count() != 0) std::abort();
        return 0;
    }
    const auto again = strtable::ParseStrTable(strtable::BuildStrTable(*image));
    if (!again || again->entries != image->entries || again->charset != image->charset) std::abort();
    if (loaded) {
        if (table.Count() != image->entries.size()) std::abort();
        for (const strtable::Entry& e : image->entries) (void)table.Lookup(e.id);
        (void)table.Lookup(strtable::kSentinelId);
    }
    return 0;
}
