// The known-articles cache's hash index against a plain map: inserts, finds
// and removals in any mix (removals shift the rest of a probe run back), and
// the key-ordered listing.
#include "provider/folder/key_index.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace quillory::quarnex {
namespace {

TEST(KeyIndex, RandomOperationsMatchAMap)
{
    CKeyIndex index;
    std::map<tWord, tWord> model;
    std::mt19937 random(7);
    for (int step = 0; step < 200000; ++step) {
        // Few distinct keys, so that probe runs collide and removals shift.
        const tWord key = random() % 3000 * 0x10001u;
        const int what = static_cast<int>(random() % 3);
        if (what == 0) {
            bool added = false;
            tWord& slot = index.Insert(key, static_cast<tWord>(step), added);
            ASSERT_EQ(added, model.count(key) == 0);
            if (added) model[key] = static_cast<tWord>(step);
            ASSERT_EQ(slot, model[key]);
        } else if (what == 1) {
            ASSERT_EQ(index.Erase(key), model.erase(key) == 1);
        } else {
            const tWord* found = index.Find(key);
            ASSERT_EQ(found != nullptr, model.count(key) == 1);
            if (found) {
                ASSERT_EQ(*found, model[key]);
            }
        }
        ASSERT_EQ(index.Size(), model.size());
    }
    const auto sorted = index.Sorted();
    ASSERT_EQ(sorted.size(), model.size());
    auto it = model.begin();
    for (const auto& [key, slot] : sorted) {
        EXPECT_EQ(key, it->first);
        EXPECT_EQ(slot, it->second);
        ++it;
    }
}

TEST(KeyIndex, StableSortKeepsTheOrderOfEqualKeys)
{
    std::vector<std::pair<tWord, tWord>> pairs = {{5, 0}, {0xFFFFFFFF, 1}, {5, 2}, {0, 3}, {0x100, 4}, {5, 5}};
    StableSortByKey(pairs);
    const std::vector<std::pair<tWord, tWord>> want = {{0, 3}, {5, 0}, {5, 2}, {5, 5}, {0x100, 4}, {0xFFFFFFFF, 1}};
    EXPECT_EQ(pairs, want);
}

}  // namespace
}  // namespace quillory::quarnex
