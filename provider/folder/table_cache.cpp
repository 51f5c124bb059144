#include "provider/folder/table_cache.h"

#include <limits>
#include <new>
#include <strings.h>

#include "common/crc32.h"
#include "platform/base/time.h"
#include "platform/base/trace.h"
#include "provider/folder/table_cache_slots.h"

namespace quillory::quarnex {

tWord GroupKey(ULONG number, std::string_view group) { return number ^ Crc32(group); }
tWord IdKey(ULONG number, std::string_view messageId) { return number ^ Crc32(messageId); }

namespace {

bool SameGroupIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

void StableSortByKey(std::vector<std::pair<tWord, tWord>>& pairs)
{
    std::vector<std::pair<tWord, tWord>> other(pairs.size());
    for (int shift = 0; shift < 32; shift += 8) {
        std::size_t counts[257] = {};
        for (const auto& p : pairs) ++counts[((p.first >> shift) & 0xFF) + 1];
        for (int b = 0; b < 256; ++b) counts[b + 1] += counts[b];
        for (const auto& p : pairs) other[counts[(p.first >> shift) & 0xFF]++] = p;
        pairs.swap(other);
    }
}

std::vector<std::pair<tWord, tWord>> CKeyIndex::Sorted() const
{
    std::vector<std::pair<tWord, tWord>> pairs;
    pairs.reserve(size_);
    for (const Cell& c : cells_)
        if (c.slot != kEmpty) pairs.emplace_back(c.key, c.slot);
    StableSortByKey(pairs);
    return pairs;
}

CTableCache::CTableCache() : slots_(std::make_unique<Slots>())
{
    Trace("CTableCache::CTableCache()\r\n");
}

CTableCache::~CTableCache() { Trace("CTableCache::~CTableCache()\r\n"); }

void CTableCache::SetMessageStore(IMsgStore* store) { store_ = ComPtr<IMsgStore>(store); }

void CTableCache::Clear()
{
    bNg_.Clear();
    bId_.Clear();
    slots_->Clear();
}

std::size_t CTableCache::GroupKeyCount() const { return bNg_.Size(); }
std::size_t CTableCache::IdKeyCount() const { return bId_.Size(); }

bool CTableCache::IsKnown(ULONG number, std::string_view group) const
{
    return bNg_.Find(GroupKey(number, group)) != nullptr;
}

const KnownArticle* CTableCache::FindByGroup(ULONG number, std::string_view group) const
{
    const tWord* slot = bNg_.Find(GroupKey(number, group));
    return slot ? &slots_->slots[*slot].entry : nullptr;
}

const KnownArticle* CTableCache::FindById(ULONG number, std::string_view messageId) const
{
    const tWord* slot = bId_.Find(IdKey(number, messageId));
    return slot ? &slots_->slots[*slot].entry : nullptr;
}

bool CTableCache::Add(ULONG number, std::string_view messageId, std::string_view group, bool confirmed)
{
    const tWord ngKey = GroupKey(number, group);
    if (bNg_.Find(ngKey)) return false;
    const tWord idKey = IdKey(number, messageId);
    try {
        const tWord slot =
            slots_->Alloc(KnownArticle{number, slots_->Keep(messageId), slots_->KeepGroup(group), confirmed});
        bool added = false;
        bNg_.Insert(ngKey, slot, added);
        slots_->slots[slot].inNg = true;
        try {
            tWord& idSlot = bId_.Insert(idKey, slot, added);
            if (!added) {
                // An equal id key hands its slot over to the newer entry.
                const tWord displaced = idSlot;
                idSlot = slot;
                slots_->slots[displaced].inId = false;
                slots_->ReleaseIfUnused(displaced);
            }
        } catch (const std::bad_alloc&) {
            // Take the half-made entry out again.
            bNg_.Erase(ngKey);
            slots_->slots[slot].inNg = false;
            slots_->ReleaseIfUnused(slot);
            return false;
        }
        slots_->slots[slot].inId = true;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void CTableCache::Record(ULONG number, std::string_view messageId, std::string_view group, bool confirmed)
{
    if (const tWord* slot = bNg_.Find(GroupKey(number, group))) {
        if (confirmed) slots_->slots[*slot].entry.confirmed = true;
        return;
    }
    Add(number, messageId, group, confirmed);
}

void CTableCache::Confirm(ULONG number, std::string_view group)
{
    if (const tWord* slot = bNg_.Find(GroupKey(number, group))) slots_->slots[*slot].entry.confirmed = true;
}

// Takes the slot out of whichever index still points at it.
void CTableCache::RemoveSlot(tWord slot)
{
    Slots::Slot& s = slots_->slots[slot];
    if (s.inNg) {
        const tWord key = GroupKey(s.entry.number, s.entry.group);
        if (const tWord* at = bNg_.Find(key); at && *at == slot) bNg_.Erase(key);
        s.inNg = false;
    }
    if (s.inId) {
        const tWord key = IdKey(s.entry.number, s.entry.messageId);
        if (const tWord* at = bId_.Find(key); at && *at == slot) bId_.Erase(key);
        s.inId = false;
    }
    slots_->ReleaseIfUnused(slot);
}

bool CTableCache::RemoveById(ULONG number, std::string_view messageId)
{
    const tWord* slot = bId_.Find(IdKey(number, messageId));
    if (!slot) return false;
    RemoveSlot(*slot);
    return true;
}

bool CTableCache::RemoveByGroup(ULONG number, std::string_view group)
{
    const tWord* slot = bNg_.Find(GroupKey(number, group));
    if (!slot) return false;
    RemoveSlot(*slot);
    return true;
}

void CTableCache::Prune(std::string_view group, ULONG first)
{
    if (first < kPruneThreshold) return;
    ULONG n = first - kPruneDistance;
    int misses = 0;
    for (;;) {
        if (!RemoveByGroup(n, group) && ++misses >= kPruneWalkMisses) break;
        if (n == 1) return;  // walked down to the first article: nothing older is left
        --n;
    }
    // Now and then, look for older runs of the group that the walk did not reach.
    if ((GetTickCount() / 1024) % 10 < 2) PruneScan(group, n - 1);
}

void CTableCache::PruneScan(std::string_view group, ULONG below)
{
    for (;;) {
        // The first entry in key order of the group below the walk's stop.
        const KnownArticle* start = nullptr;
        for (const auto& [key, slot] : bNg_.Sorted()) {
            const KnownArticle& e = slots_->slots[slot].entry;
            if (e.number < below && SameGroupIgnoringCase(e.group, group)) {
                start = &e;
                break;
            }
        }
        if (!start) return;
        // Walk with the entry's own spelling of the group, so that the entry
        // itself always goes and every pass makes progress.
        const std::string own(start->group);
        ULONG n = start->number;
        int misses = 0;
        for (;;) {
            if (!RemoveByGroup(n, own) && ++misses >= kPruneScanMisses) break;
            if (n <= 1) break;
            --n;
        }
    }
}

void CTableCache::NarrowRange(ULONG& first, ULONG& last, std::string_view group)
{
    Prune(group, first);
    while (first <= last && IsKnown(first, group)) {
        if (first == std::numeric_limits<ULONG>::max()) {
            // Everything up to the top is known; report an empty range
            // without wrapping round.
            last = first - 1;
            return;
        }
        ++first;
    }
    if (first > last) return;
    while (last > first && IsKnown(last, group)) --last;
}

void CTableCache::ForEachInOrder(const CKeyIndex& index, const std::function<void(const KnownArticle&)>& f) const
{
    for (const auto& [key, slot] : index.Sorted()) f(slots_->slots[slot].entry);
}

void CTableCache::ForEachByGroup(const std::function<void(const KnownArticle&)>& f) const { ForEachInOrder(bNg_, f); }

void CTableCache::ForEachById(const std::function<void(const KnownArticle&)>& f) const { ForEachInOrder(bId_, f); }

}  // namespace quillory::quarnex
