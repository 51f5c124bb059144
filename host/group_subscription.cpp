#include "host/group_subscription.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <unordered_set>

namespace quillory::host {
namespace {

std::string Folded(std::string_view name)
{
    std::string out(name);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

GroupRecord* FindGroup(std::vector<GroupRecord>& records, std::string_view name)
{
    GroupRecord* folded = nullptr;
    int foldedCount = 0;
    for (auto& r : records) {
        if (r.name == name) return &r;
        if (EqualNoCase(r.name, name)) {
            folded = &r;
            ++foldedCount;
        }
    }
    return foldedCount == 1 ? folded : nullptr;
}

SubscriptionChange SetSubscribed(std::vector<GroupRecord>& records, std::span<const std::string> names,
                                 bool subscribe)
{
    SubscriptionChange change;
    std::vector<GroupRecord*> targets;
    for (const auto& name : names) {
        GroupRecord* r = FindGroup(records, name);
        if (!r)
            change.unknown.push_back(name);
        else if (std::find(targets.begin(), targets.end(), r) == targets.end())
            targets.push_back(r);
    }
    if (!change.unknown.empty()) return change;
    for (GroupRecord* r : targets) {
        if (r->subscribed == subscribe) {
            change.unchanged.push_back(r->name);
            continue;
        }
        r->subscribed = subscribe;
        change.changed.push_back(r->name);
    }
    return change;
}

void SortGroupsByName(std::vector<GroupRecord>& records)
{
    std::sort(records.begin(), records.end(), [](const GroupRecord& a, const GroupRecord& b) {
        const int c = strcasecmp(a.name.c_str(), b.name.c_str());
        return c != 0 ? c < 0 : a.name < b.name;
    });
}

std::vector<GroupRecord> MergeDownloadedList(std::span<const GroupRecord> current,
                                             std::vector<GroupRecord> downloaded,
                                             std::span<const std::string> newGroups)
{
    std::unordered_set<std::string> subscribed;
    for (const auto& r : current)
        if (r.subscribed) subscribed.insert(Folded(r.name));
    std::unordered_set<std::string> fresh(newGroups.begin(), newGroups.end());
    for (auto& r : downloaded) {
        r.subscribed = subscribed.contains(Folded(r.name));
        r.isNew = fresh.contains(r.name);
    }
    SortGroupsByName(downloaded);
    return downloaded;
}

std::string FormatListingLine(const GroupRecord& record)
{
    std::string line;
    line += record.isNew ? kGroupNewMark : ' ';
    line += record.subscribed ? kGroupSubscribedMark : ' ';
    line += ' ';
    line += record.name;
    if (!record.description.empty() && record.description != "?") {
        line += ' ';
        line += record.description;
    }
    return line;
}

}  // namespace quillory::host
