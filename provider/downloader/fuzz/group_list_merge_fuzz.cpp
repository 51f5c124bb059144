// A group-list text (up to the first 0x01 byte) merged with the lines of a
// new-groups answer (the rest, one per LF). The merge only ever changes the
// first column of existing lines and appends whole "!  name" lines, and
// merging an answer twice gives what merging it once gives.
#include "provider/downloader/group_list_merge.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Require(bool ok)
{
    if (!ok) __builtin_trap();
}

std::string Merge(const std::string& list, const std::vector<std::string_view>& lines, int times)
{
    quillory::quarnex::CGroupListMerge merge;
    merge.Load(list);
    for (int t = 0; t < times; ++t)
        for (std::string_view l : lines) merge.Add(l);
    return merge.Text();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\x01');
    const std::string list(input.substr(0, cut));
    std::vector<std::string_view> lines;
    if (cut != std::string_view::npos) {
        std::string_view rest = input.substr(cut + 1);
        while (!rest.empty()) {
            const std::size_t eol = rest.find('\n');
            lines.push_back(rest.substr(0, eol));
            rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
        }
    }

    const std::string once = Merge(list, lines, 1);
    Require(once == Merge(list, lines, 2));
    Require(once.size() >= list.size());
    for (std::size_t i = 0; i < list.size(); ++i)
        Require(once[i] == list[i] || ((once[i] == '!' || once[i] == ' ') && (list[i] == '!' || list[i] == ' ')));

    std::string_view tail = std::string_view(once).substr(list.size());
    if (tail.substr(0, 2) == "\r\n") tail.remove_prefix(2);
    while (!tail.empty()) {
        Require(tail.substr(0, 3) == "!  ");
        const std::size_t eol = tail.find("\r\n");
        Require(eol != std::string_view::npos && eol > 3);
        Require(tail.substr(3, eol - 3).find_first_of(" \r\n") == std::string_view::npos);
        tail.remove_prefix(eol + 2);
    }
    return 0;
}
