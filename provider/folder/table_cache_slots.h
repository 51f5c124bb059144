// The entry records that the two key indexes of CTableCache share. An
// index's value is the number of a slot; a slot lives while either index
// points at it.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
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
    std::deque<Slot> slots;  // grows without moving or doubling
    std::vector<tWord> freeList;

    // The text the entries' strings point into: the file as it was loaded,
    // and pieces for the entries added since. Kept until Clear.
    std::string loaded;
    std::vector<std::unique_ptr<char[]>> pieces;
    std::size_t pieceUsed = 0;
    std::size_t pieceSize = 0;
    std::string_view lastGroup;  // groups repeat: kept once while they do

    static constexpr std::size_t kPieceSize = 64 * 1024;

    std::string_view Keep(std::string_view text)
    {
        if (text.empty()) return {};
        if (pieceSize - pieceUsed < text.size()) {
            pieceSize = std::max(kPieceSize, text.size());
            pieces.push_back(std::make_unique<char[]>(pieceSize));
            pieceUsed = 0;
        }
        char* at = pieces.back().get() + pieceUsed;
        std::memcpy(at, text.data(), text.size());
        pieceUsed += text.size();
        return {at, text.size()};
    }
    std::string_view KeepGroup(std::string_view group)
    {
        if (group != lastGroup) lastGroup = Keep(group);
        return lastGroup;
    }

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
        loaded.clear();
        loaded.shrink_to_fit();
        pieces.clear();
        pieceUsed = pieceSize = 0;
        lastGroup = {};
    }
};

// The two keys of an entry.
tWord GroupKey(ULONG number, std::string_view group);
tWord IdKey(ULONG number, std::string_view messageId);

}  // namespace quillory::quarnex
