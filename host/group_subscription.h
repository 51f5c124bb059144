// Edits of an account's group array as the subscription dialog makes them:
// subscribing and unsubscribing by name, and taking in a freshly downloaded
// list without losing the subscriptions.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/grouplist.h"

namespace quillory::host {

// The record named `name`: the exact name first, else the only record whose
// name differs in case alone; null when there is none (or several).
GroupRecord* FindGroup(std::vector<GroupRecord>& records, std::string_view name);

struct SubscriptionChange {
    std::vector<std::string> changed;    // names whose mark was switched
    std::vector<std::string> unchanged;  // already as asked
    std::vector<std::string> unknown;    // not in the list
};

// Sets or clears the subscribed mark of every named group. Marks only change
// when every name is known: with any unknown name the records stay as they
// were, so a typing mistake never writes half a request.
SubscriptionChange SetSubscribed(std::vector<GroupRecord>& records, std::span<const std::string> names,
                                 bool subscribe);

// The downloaded list as the account's new group array: every group that was
// subscribed in `current` stays subscribed where the download has a group of
// that name (compared without case), the groups named in `newGroups` are
// marked new, and the result is sorted by name without case.
std::vector<GroupRecord> MergeDownloadedList(std::span<const GroupRecord> current,
                                             std::vector<GroupRecord> downloaded,
                                             std::span<const std::string> newGroups);

// Orders records by name without case (ties by the exact bytes, so the order
// never depends on the input's).
void SortGroupsByName(std::vector<GroupRecord>& records);

// One line of a listing: the two mark columns, the name and the description
// ("?", which only records that none was sent, shows as empty).
std::string FormatListingLine(const GroupRecord& record);

}  // namespace quillory::host
