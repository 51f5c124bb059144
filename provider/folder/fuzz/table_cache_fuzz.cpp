// Known-articles cache files from disk: reading never fails or hangs, every
// entry read is well formed, what is written back reads back the same, and
// pruning and range narrowing over whatever was read terminate.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/base/time.h"
#include "provider/folder/table_cache.h"

using namespace quillory;
using namespace quillory::quarnex;

namespace {

bool SameEntry(const KnownArticle* a, const KnownArticle& b)
{
    return a && a->number == b.number && a->messageId == b.messageId && a->group == b.group &&
           a->confirmed == b.confirmed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Unconfirmed lines are kept when the first byte is odd, so both paths run.
    const bool keepUnconfirmed = size > 0 && (data[0] & 1);
    CTableCache cache;
    cache.SetStoreProbeForTest([keepUnconfirmed](const KnownArticle&) { return keepUnconfirmed; });
    cache.LoadText(text);

    std::size_t entries = 0;
    cache.ForEachByGroup([&entries](const KnownArticle& e) {
        ++entries;
        if (e.number == 0) std::abort();
        if (e.group.find_first_of(std::string_view(" \r\n\0", 4)) != std::string::npos) std::abort();
        if (e.messageId.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) std::abort();
    });
    if (entries != cache.GroupKeyCount()) std::abort();

    // Written and read again: every entry whose line is long enough to count
    // comes back as it was.
    const std::string saved = cache.SaveText();
    CTableCache again;
    again.SetStoreProbeForTest([](const KnownArticle&) { return true; });
    again.LoadText(saved);
    cache.ForEachByGroup([&again](const KnownArticle& e) {
        const std::size_t line = (e.confirmed ? 0 : 2) + e.group.size() + 1 +
                                 std::to_string(static_cast<std::int32_t>(e.number)).size() + 1 + e.messageId.size();
        if (line >= kCacheLineMinLength && !SameEntry(again.FindByGroup(e.number, e.group), e)) std::abort();
    });

    // Runs of consecutive articles added on top, steered by the input: every
    // entry stays reachable through both trees.
    if (size >= 4) {
        const ULONG start = static_cast<ULONG>(data[2]) << 8 | data[3];
        const std::size_t run = std::min<std::size_t>(size, 300) * 2;
        for (std::size_t i = 0; i < run; ++i) {
            const auto n = static_cast<ULONG>(start + (data[i % size] & 1 ? i : run - i) + 1);
            again.Add(n, "<" + std::to_string(n) + ">", "fuzz.run", (i & 1) != 0);
        }
        std::size_t seen = 0;
        again.ForEachByGroup([&](const KnownArticle& e) {
            ++seen;
            if (!SameEntry(again.FindByGroup(e.number, e.group), e)) std::abort();
        });
        if (seen != again.GroupKeyCount()) std::abort();
    }

    // Pruning (with the full scan) and narrowing over what was read.
    SetTickCountSource([] { return DWORD{0}; });
    std::string group;
    ULONG first = 1;
    cache.ForEachByGroup([&](const KnownArticle& e) {
        if (group.empty()) group = e.group, first = e.number;
    });
    ULONG last = first + (size > 1 ? data[1] : 0);
    cache.NarrowRange(first, last, group);
    cache.Prune(group, 0xFFFFFFFFu);
    ResetTickCountSource();
    return 0;
}
