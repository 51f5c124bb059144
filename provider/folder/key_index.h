// A hash table from a 32-bit key to a 32-bit slot, for the known-articles
// cache: open addressing with linear probing in one flat array, so that a
// lookup or an insert touches one or two cache lines however large the
// cache grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "common/baltree.h"

namespace quillory::quarnex {

class CKeyIndex {
public:
    static constexpr tWord kEmpty = 0xFFFFFFFFu;  // never a slot index

    std::size_t Size() const { return size_; }

    // The slot of the key, or null.
    tWord* Find(tWord key)
    {
        if (cells_.empty()) return nullptr;
        for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
            Cell& c = cells_[i];
            if (c.slot == kEmpty) return nullptr;
            if (c.key == key) return &c.slot;
        }
    }
    const tWord* Find(tWord key) const { return const_cast<CKeyIndex*>(this)->Find(key); }

    // The key's slot, inserting `slot` when the key is new (`added` tells).
    // May throw std::bad_alloc when the table grows.
    tWord& Insert(tWord key, tWord slot, bool& added)
    {
        if ((size_ + 1) * 2 > cells_.size()) Grow();
        for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
            Cell& c = cells_[i];
            if (c.slot == kEmpty) {
                c = Cell{key, slot};
                ++size_;
                added = true;
                return c.slot;
            }
            if (c.key == key) {
                added = false;
                return c.slot;
            }
        }
    }

    bool Erase(tWord key)
    {
        if (cells_.empty()) return false;
        std::size_t i = Home(key);
        for (;; i = (i + 1) & mask_) {
            if (cells_[i].slot == kEmpty) return false;
            if (cells_[i].key == key) break;
        }
        // Backward shift: later cells of the run move into the hole when
        // their home lies at or before it, so that no lookup stops early.
        for (std::size_t j = (i + 1) & mask_;; j = (j + 1) & mask_) {
            if (cells_[j].slot == kEmpty) break;
            const std::size_t home = Home(cells_[j].key);
            if (((j - home) & mask_) >= ((j - i) & mask_)) {
                cells_[i] = cells_[j];
                i = j;
            }
        }
        cells_[i].slot = kEmpty;
        --size_;
        return true;
    }

    void Clear()
    {
        cells_.clear();
        cells_.shrink_to_fit();
        size_ = 0;
        mask_ = 0;
    }
    // Room for n keys without growing.
    void Reserve(std::size_t n)
    {
        while (n * 2 > cells_.size()) Grow();
    }

    // Every (key, slot) pair, in ascending key order.
    std::vector<std::pair<tWord, tWord>> Sorted() const;

private:
    struct Cell {
        tWord key;
        tWord slot = kEmpty;
    };
    std::size_t Home(tWord key) const
    {
        return static_cast<std::size_t>((static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ull) >> 32) & mask_;
    }
    void Grow()
    {
        std::vector<Cell> old = std::move(cells_);
        cells_.assign(old.empty() ? 16 : old.size() * 2, Cell{});
        mask_ = cells_.size() - 1;
        size_ = 0;
        bool added = false;
        for (const Cell& c : old)
            if (c.slot != kEmpty) Insert(c.key, c.slot, added);
    }

    std::vector<Cell> cells_;
    std::size_t size_ = 0;
    std::size_t mask_ = 0;
};

// Sorts pairs by key keeping the order of equal keys: four passes of a byte
// each, least significant first, linear however many pairs there are.
void StableSortByKey(std::vector<std::pair<tWord, tWord>>& pairs);

}  // namespace quillory::quarnex
