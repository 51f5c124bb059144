// Group-list and subscribed-groups text from disk: parsing never fails, and
// whatever was read is written back and read again unchanged, also when the
// text is parsed in chunks.
#include "common/grouplist.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace quillory;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<GroupRecord> records = ParseGroupList(text);

    for (const GroupRecord& r : records) {
        if (r.name.empty() || r.name.find_first_of(std::string_view(" \t\r\n\0", 5)) != std::string::npos)
            std::abort();
        if (r.description.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) std::abort();
    }

    // Write and read back: every parsed record is representable.
    if (ParseGroupList(FormatGroupList(records)) != records) std::abort();

    // Chunked parsing gives the same records.
    const std::size_t chunk = size == 0 ? 1 : 1 + data[0] % 7;
    std::vector<GroupRecord> chunked;
    std::string_view tail = text;
    while (!tail.empty()) {
        const std::size_t used = ParseGroupListChunk(tail, chunk, chunked);
        if (used == 0 || used > tail.size()) std::abort();
        tail.remove_prefix(used);
    }
    if (chunked != records) std::abort();

    // The subscribed-groups file written from them lists exactly the subscribed names.
    std::vector<std::string> expected;
    for (const GroupRecord& r : records)
        if (r.subscribed && r.name.size() > 1) expected.push_back(r.name);
    if (ParseSubscribedGroups(FormatSubscribedGroups(records)) != expected) std::abort();
    (void)ParseSubscribedGroups(text);
    return 0;
}
