#include "provider/folder/table_cache.h"

#include <cmath>
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

// A subtree is lopsided when one side holds more than this share of it.
constexpr double kScapegoatAlpha = 0.75;

int DepthOf(const tBalNode* node)
{
    int depth = 0;
    for (; node->parent; node = node->parent) ++depth;
    return depth;
}

// The deepest node a tree of `size` nodes may hold before a rebuild:
// log base 1/alpha of the size.
int DepthLimit(std::int32_t size)
{
    return static_cast<int>(std::log(static_cast<double>(size) + 1) / std::log(1 / kScapegoatAlpha)) + 1;
}

}  // namespace

void InsertBalanced(tULongToULong& tree, const std::vector<std::pair<tWord, tWord>>& sorted,
                    const InsertFailed& failed)
{
    std::vector<std::pair<std::size_t, std::size_t>> pending;
    if (!sorted.empty()) pending.emplace_back(0, sorted.size());
    while (!pending.empty()) {
        const auto [lo, hi] = pending.back();
        pending.pop_back();
        const std::size_t mid = lo + (hi - lo) / 2;
        if (!tree.Insert(sorted[mid].first, sorted[mid].second)) failed(sorted[mid].second);
        if (mid + 1 < hi) pending.emplace_back(mid + 1, hi);
        if (lo < mid) pending.emplace_back(lo, mid);
    }
}

bool InsertShallow(tULongToULong& tree, tWord key, tWord slot, const InsertFailed& failed)
{
    if (!tree.Insert(key, slot)) return false;
    const tBalNode* node = tree.Find(key);
    if (DepthOf(node) <= DepthLimit(tree.Size())) return true;
    const tBalNode* child = node;
    const tBalNode* scapegoat = node->parent;
    while (scapegoat &&
           tBalTree::SubtreeSize(child) <= kScapegoatAlpha * tBalTree::SubtreeSize(scapegoat)) {
        child = scapegoat;
        scapegoat = scapegoat->parent;
    }
    if (!scapegoat) return true;
    std::vector<std::pair<tWord, tWord>> pairs;
    const std::int32_t count = tBalTree::SubtreeSize(scapegoat);
    pairs.reserve(static_cast<std::size_t>(count));
    const tBalNode* n = scapegoat;
    while (n->left) n = n->left;
    for (std::int32_t i = 0; i < count; ++i, n = tBalTree::Next(n)) pairs.emplace_back(n->key, n->value);
    for (const auto& [k, v] : pairs) tree.Remove(tree.Find(k));
    bool kept = true;
    InsertBalanced(tree, pairs, [&](tWord lost) {
        if (lost == slot) kept = false;
        failed(lost);
    });
    return kept;
}

CTableCache::CTableCache() : slots_(std::make_unique<Slots>())
{
    Trace("CTableCache::CTableCache()\r\n");
    // Unlimited tolerance: the trees never rebuild themselves. The cache keeps
    // them shallow instead: Load inserts median first, and Add rebuilds a
    // lopsided subtree when a new node lies too deep (InsertShallow).
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
    // A rebuild that runs out of memory may drop other entries' nodes too;
    // their slots then go with them.
    const auto lostNg = [this, slot](tWord lost) {
        if (lost == slot) return;
        slots_->slots[lost].inNg = false;
        slots_->ReleaseIfUnused(lost);
    };
    const auto lostId = [this, slot](tWord lost) {
        if (lost == slot) return;
        slots_->slots[lost].inId = false;
        slots_->ReleaseIfUnused(lost);
    };
    if (!InsertShallow(bNg_, ngKey, slot, lostNg)) {
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
    if (!InsertShallow(bId_, idKey, slot, lostId)) {
        // Out of memory: take the half-made entry out again.
        if (tBalNode* node = bNg_.Find(ngKey); node && SlotOf(node) == slot) bNg_.Remove(node);
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
