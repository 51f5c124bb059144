// The entry records that the two key trees of CTableCache share. A tree's
// value is the index of a slot; a slot lives while either tree points at it.
#pragma once

#include <functional>
#include <utility>
#include <vector>

#include "provider/folder/table_cache.h"

namespace quillory::quarnex {

struct CTableCache::Slots {
    struct Slot {
        KnownArticle entry;
        bool inNg = false;
        bool inId = false;
    };
    std::vector<Slot> slots;
    std::vector<tWord> freeList;

    tWord Alloc(KnownArticle&& entry)
    {
        if (!freeList.empty()) {
            const tWord index = freeList.back();
            freeList.pop_back();
            slots[index] = Slot{std::move(entry), false, false};
            return index;
        }
        slots.push_back(Slot{std::move(entry), false, false});
        return static_cast<tWord>(slots.size() - 1);
    }
    // Frees the slot once neither tree points at it.
    void ReleaseIfUnused(tWord index)
    {
        Slot& s = slots[index];
        if (s.inNg || s.inId) return;
        s.entry = KnownArticle{};
        freeList.push_back(index);
    }
    void Clear()
    {
        slots.clear();
        freeList.clear();
    }
};

// Called with the slot of a pair that could not be inserted (out of memory).
using InsertFailed = std::function<void(tWord slot)>;

// Inserts (key, slot) pairs sorted by key median first, so that a tree that
// is never rebuilt by itself still comes out shallow.
void InsertBalanced(tULongToULong& tree, const std::vector<std::pair<tWord, tWord>>& sorted,
                    const InsertFailed& failed);

// Inserts one pair. Articles arrive in runs of consecutive numbers, whose
// keys would grow a chain in a tree that is never rebuilt; when the new node
// lies deeper than a balanced tree of this size allows, the smallest
// ancestor subtree that is clearly lopsided (its "scapegoat") is taken out
// and inserted again median first. False when the pair is not in the tree.
bool InsertShallow(tULongToULong& tree, tWord key, tWord slot, const InsertFailed& failed);

// Keys of the two trees.
tWord GroupKey(ULONG number, std::string_view group);
tWord IdKey(ULONG number, std::string_view messageId);

}  // namespace quillory::quarnex
