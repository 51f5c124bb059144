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

// The slot a tree's node points at.
tWord SlotOf(const tBalNode* node) { return node->value; }

}  // namespace

CTableCache::CTableCache() : slots_(std::make_unique<Slots>())
{
    Trace("CTableCache::CTableCache()\r\n");
    // Unlimited tolerance: the trees are never rebuilt (Load inserts in an
    // order that keeps them shallow).
    bNg_.SetTolerance(0);
    bId_.SetTolerance(0);
}

CTableCache::~CTableCache() { Trace("CTableCache::~CTableCache()\r\n"); }

void CTableCache::SetMessageStore(IMsgStore* store) { store_ = ComPtr<IMsgStore>(store); }

void CTableCache::Clear()
{
    bNg_.Clear();
    bId_.Clear();
    slots_->Clear();
}

std::size_t CTableCache::GroupKeyCount() const { return static_cast<std::size_t>(bNg_.Size()); }
std::size_t CTableCache::IdKeyCount() const { return static_cast<std::size_t>(bId_.Size()); }

bool CTableCache::IsKnown(ULONG number, std::string_view group) const
{
    return bNg_.Find(GroupKey(number, group)) != nullptr;
}

const KnownArticle* CTableCache::FindByGroup(ULONG number, std::string_view group) const
{
    const tBalNode* node = bNg_.Find(GroupKey(number, group));
    return node ? &slots_->slots[SlotOf(node)].entry : nullptr;
}

const KnownArticle* CTableCache::FindById(ULONG number, std::string_view messageId) const
{
    const tBalNode* node = bId_.Find(IdKey(number, messageId));
    return node ? &slots_->slots[SlotOf(node)].entry : nullptr;
}

bool CTableCache::Add(ULONG number, std::string_view messageId, std::string_view group, bool confirmed)
{
    const tWord ngKey = GroupKey(number, group);
    if (bNg_.Find(ngKey)) return false;
    const tWord idKey = IdKey(number, messageId);
    tWord slot = 0;
    try {
        slot = slots_->Alloc(KnownArticle{number, std::string(messageId), std::string(group), confirmed});
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!bNg_.Insert(ngKey, slot)) {
        slots_->ReleaseIfUnused(slot);
        return false;
    }
    slots_->slots[slot].inNg = true;
    // An equal bId key hands its slot over to the newer entry.
    if (tBalNode* old = bId_.Find(idKey)) {
        const tWord displaced = SlotOf(old);
        old->value = slot;
        slots_->slots[slot].inId = true;
        slots_->slots[displaced].inId = false;
        slots_->ReleaseIfUnused(displaced);
        return true;
    }
    if (!bId_.Insert(idKey, slot)) {
        // Out of memory: take the half-made entry out again.
        bNg_.Remove(bNg_.Find(ngKey));
        slots_->slots[slot].inNg = false;
        slots_->ReleaseIfUnused(slot);
        return false;
    }
    slots_->slots[slot].inId = true;
    return true;
}

void CTableCache::Record(ULONG number, std::string_view messageId, std::string_view group, bool confirmed)
{
    if (const tBalNode* node = bNg_.Find(GroupKey(number, group))) {
        if (confirmed) slots_->slots[SlotOf(node)].entry.confirmed = true;
        return;
    }
    Add(number, messageId, group, confirmed);
}

void CTableCache::Confirm(ULONG number, std::string_view group)
{
    if (const tBalNode* node = bNg_.Find(GroupKey(number, group))) slots_->slots[SlotOf(node)].entry.confirmed = true;
}

// Takes the slot out of whichever tree still points at it.
void CTableCache::RemoveSlot(tWord slot)
{
    Slots::Slot& s = slots_->slots[slot];
    if (s.inNg) {
        tBalNode* node = bNg_.Find(GroupKey(s.entry.number, s.entry.group));
        if (node && SlotOf(node) == slot) bNg_.Remove(node);
        s.inNg = false;
    }
    if (s.inId) {
        tBalNode* node = bId_.Find(IdKey(s.entry.number, s.entry.messageId));
        if (node && SlotOf(node) == slot) bId_.Remove(node);
        s.inId = false;
    }
    slots_->ReleaseIfUnused(slot);
}

bool CTableCache::RemoveById(ULONG number, std::string_view messageId)
{
    const tBalNode* node = bId_.Find(IdKey(number, messageId));
    if (!node) return false;
    RemoveSlot(SlotOf(node));
    return true;
}

bool CTableCache::RemoveByGroup(ULONG number, std::string_view group)
{
    const tBalNode* node = bNg_.Find(GroupKey(number, group));
    if (!node) return false;
    RemoveSlot(SlotOf(node));
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
        const tBalNode* node = bNg_.Root();
        while (node && node->left) node = node->left;
        for (; node; node = tBalTree::Next(node)) {
            const KnownArticle& e = slots_->slots[SlotOf(node)].entry;
            if (e.number < below && SameGroupIgnoringCase(e.group, group)) break;
        }
        if (!node) return;
        // Walk with the entry's own spelling of the group, so that the entry
        // itself always goes and every pass makes progress.
        const tWord startSlot = SlotOf(node);
        const std::string own = slots_->slots[startSlot].entry.group;
        ULONG n = slots_->slots[startSlot].entry.number;
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

void CTableCache::ForEachByGroup(const std::function<void(const KnownArticle&)>& f) const
{
    const tBalNode* node = bNg_.Root();
    while (node && node->left) node = node->left;
    for (; node; node = tBalTree::Next(node)) f(slots_->slots[SlotOf(node)].entry);
}

void CTableCache::ForEachById(const std::function<void(const KnownArticle&)>& f) const
{
    const tBalNode* node = bId_.Root();
    while (node && node->left) node = node->left;
    for (; node; node = tBalTree::Next(node)) f(slots_->slots[SlotOf(node)].entry);
}

}  // namespace quillory::quarnex
