#include "common/baltree.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace quillory {
namespace {

using Shape = std::vector<std::string>;

// Checks links, subtree counts and (unless unlimited) the tolerance at every
// node; returns the in-order keys. A node whose counts match its children's
// sizes everywhere has correct counts by induction from the leaves.
std::vector<tWord> CheckedKeys(const tBalTree& tree, std::int32_t tolerance)
{
    std::vector<const tBalNode*> stack;
    if (tree.Root()) {
        EXPECT_EQ(tree.Root()->parent, nullptr);
        stack.push_back(tree.Root());
    }
    std::size_t visited = 0;
    while (!stack.empty()) {
        const tBalNode* n = stack.back();
        stack.pop_back();
        ++visited;
        EXPECT_EQ(n->leftCount, tBalTree::SubtreeSize(n->left)) << "key " << n->key;
        EXPECT_EQ(n->rightCount, tBalTree::SubtreeSize(n->right)) << "key " << n->key;
        if (tolerance != tBalTree::kUnlimitedTolerance) {
            EXPECT_LE(std::abs(n->leftCount - n->rightCount), tolerance) << "key " << n->key;
        }
        for (const tBalNode* c : {n->left, n->right}) {
            if (!c) continue;
            EXPECT_EQ(c->parent, n);
            stack.push_back(c);
        }
    }
    EXPECT_EQ(visited, static_cast<std::size_t>(tree.Size()));

    std::vector<tWord> keys;
    for (const tBalNode* n = tBalTree::NodeAt(tree.Root(), 0); n; n = tBalTree::Next(n)) keys.push_back(n->key);
    EXPECT_EQ(keys.size(), visited);
    for (std::size_t i = 1; i < keys.size(); ++i) EXPECT_LT(keys[i - 1], keys[i]);
    return keys;
}

// Pre-order description of the tree: every node with its children's keys.
Shape ShapeOf(const tBalTree& tree)
{
    Shape shape;
    std::vector<const tBalNode*> stack;
    if (tree.Root()) stack.push_back(tree.Root());
    while (!stack.empty()) {
        const tBalNode* n = stack.back();
        stack.pop_back();
        shape.push_back(std::to_string(n->key) + "=" + std::to_string(n->value) + " L" +
                        (n->left ? std::to_string(n->left->key) : "-") + " R" +
                        (n->right ? std::to_string(n->right->key) : "-"));
        for (const tBalNode* c : {n->left, n->right})
            if (c) stack.push_back(c);
    }
    return shape;
}

std::int32_t Depth(const tBalTree& tree)
{
    std::int32_t deepest = 0;
    for (const tBalNode* n = tBalTree::NodeAt(tree.Root(), 0); n; n = tBalTree::Next(n)) {
        std::int32_t d = 1;
        for (const tBalNode* p = n->parent; p; p = p->parent) ++d;
        deepest = std::max(deepest, d);
    }
    return deepest;
}

std::string Saved(tBalTree& tree, int* result = nullptr)
{
    std::ostringstream out;
    const int r = tree.Save(out);
    if (result) *result = r;
    return out.str();
}

std::string Bytes(std::initializer_list<tWord> words)
{
    std::string s;
    for (tWord w : words)
        for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((w >> (8 * i)) & 0xFF));
    return s;
}

TEST(BalTree, AscendingInsertsStayWithinToleranceAndOrdered)
{
    tULongToULong tree;
    for (tWord k = 1; k <= 100; ++k) {
        ASSERT_EQ(tree.Insert(k, k * 10), 1);
        const auto keys = CheckedKeys(tree, 15);
        ASSERT_EQ(keys.size(), k);
        ASSERT_EQ(keys.front(), 1u);
        ASSERT_EQ(keys.back(), k);
        if (HasFailure()) return;
    }
    EXPECT_LT(Depth(tree), 20);
    EXPECT_EQ(tree.Find(42)->value, 420u);
    EXPECT_EQ(tree.Find(0), nullptr);
    EXPECT_EQ(tree.Find(101), nullptr);
}

TEST(BalTree, EqualKeyReplacesValueInPlace)
{
    tULongToULong tree;
    for (tWord k : {5u, 3u, 9u}) tree.Insert(k, 1);
    const tBalNode* before = tree.Find(3);
    EXPECT_EQ(tree.Insert(3, 77), 1);
    EXPECT_EQ(tree.Size(), 3);
    EXPECT_EQ(tree.Find(3), before);
    EXPECT_EQ(before->value, 77u);
}

TEST(BalTree, UnlimitedToleranceNeverRebuilds)
{
    tULongToULong tree;
    EXPECT_EQ(tree.SetTolerance(0), 15);
    for (tWord k = 1; k <= 10; ++k) tree.Insert(k, 0);
    EXPECT_EQ(Depth(tree), 10);
    CheckedKeys(tree, tBalTree::kUnlimitedTolerance);
    // A finite tolerance takes effect at the next insert on the path.
    tree.SetTolerance(2);
    tree.Insert(11, 0);
    CheckedKeys(tree, 2);
    EXPECT_LE(Depth(tree), 5);
}

TEST(BalTree, SetToleranceAnswersThePreviousValue)
{
    tULongToULong tree;
    EXPECT_EQ(tree.Tolerance(), 15);
    EXPECT_EQ(tree.SetTolerance(0), 15);
    EXPECT_EQ(tree.Tolerance(), tBalTree::kUnlimitedTolerance);
    EXPECT_EQ(tree.SetTolerance(0), 0);
    EXPECT_EQ(tree.SetTolerance(-3), 0);
    EXPECT_EQ(tree.Tolerance(), tBalTree::kUnlimitedTolerance);
    EXPECT_EQ(tree.SetTolerance(7), 0);
    EXPECT_EQ(tree.SetTolerance(-1), 7);
    EXPECT_EQ(tree.Tolerance(), 7);
}

TEST(BalTree, NodeAtFollowsTheCounts)
{
    tULongToULong tree;
    for (tWord k = 0; k < 50; ++k) tree.Insert(k * 2, 0);
    for (std::int32_t i = 0; i < 50; ++i) ASSERT_EQ(tBalTree::NodeAt(tree.Root(), i)->key, tWord(i * 2));
    EXPECT_EQ(tBalTree::NodeAt(tree.Root(), 50), nullptr);
    EXPECT_EQ(tBalTree::NodeAt(tree.Root(), -1), nullptr);
    EXPECT_EQ(tBalTree::NodeAt(nullptr, 0), nullptr);
    // Indexes are relative to the subtree given.
    tBalNode* right = tree.Root()->right;
    EXPECT_EQ(tBalTree::NodeAt(right, 0), tBalTree::Next(tree.Root()));
}

TEST(BalTree, RemoveLetsTheHeavierSideTakeThePlace)
{
    tULongToULong tree;
    tree.SetTolerance(0);
    for (tWord k : {50u, 30u, 70u, 20u, 40u}) tree.Insert(k, k);
    // Left side (3) outweighs the right (1): 30 takes the root, 70 goes
    // below 40 as the rightmost node of the left side.
    tree.Remove(tree.Root());
    EXPECT_EQ(ShapeOf(tree), (Shape{"30=30 L20 R40", "40=40 L- R70", "70=70 L- R-", "20=20 L- R-"}));
    CheckedKeys(tree, tBalTree::kUnlimitedTolerance);

    // Equal sides: the right child replaces.
    tULongToULong even;
    even.SetTolerance(0);
    for (tWord k : {2u, 1u, 3u}) even.Insert(k, k);
    even.Remove(even.Root());
    EXPECT_EQ(ShapeOf(even), (Shape{"3=3 L1 R-", "1=1 L- R-"}));

    // A leaf and a node with one child.
    even.Remove(even.Find(1));
    even.Remove(even.Find(3));
    EXPECT_EQ(even.Root(), nullptr);
    even.Remove(nullptr);
}

// Random inserts and removes against std::map, checking every invariant
// after each step, for a strict, the usual and an unlimited tolerance.
TEST(BalTree, RandomOperationsMatchStdMap)
{
    for (std::int32_t tolerance : {1, 15, 0}) {
        SCOPED_TRACE(tolerance);
        tULongToULong tree;
        tree.SetTolerance(tolerance);
        const std::int32_t effective = tolerance ? tolerance : tBalTree::kUnlimitedTolerance;
        std::map<tWord, tWord> model;
        std::mt19937 rng(1234 + tolerance);
        for (int step = 0; step < 3000; ++step) {
            const tWord key = rng() % 400;
            if (rng() % 3 == 0) {
                tree.Remove(tree.Find(key));
                model.erase(key);
            } else {
                ASSERT_EQ(tree.Insert(key, step), 1);
                model[key] = step;
            }
            const auto keys = CheckedKeys(tree, effective);
            ASSERT_EQ(keys.size(), model.size());
            auto it = model.begin();
            for (const tBalNode* n = tBalTree::NodeAt(tree.Root(), 0); n; n = tBalTree::Next(n), ++it) {
                ASSERT_EQ(n->key, it->first);
                ASSERT_EQ(n->value, it->second);
            }
            if (HasFailure()) return;
        }
        // Emptying through the root exercises every removal shape.
        while (tree.Root()) {
            tree.Remove(tree.Root());
            CheckedKeys(tree, effective);
            if (HasFailure()) return;
        }
    }
}

TEST(BalTreeStream, SaveLoadReproducesKeysValuesAndShape)
{
    for (std::int32_t tolerance : {15, 0}) {
        SCOPED_TRACE(tolerance);
        tULongToULong tree;
        tree.SetTolerance(tolerance);
        std::mt19937 rng(7);
        for (int i = 0; i < 500; ++i) tree.Insert(rng(), rng());
        int result = 0;
        const std::string bytes = Saved(tree, &result);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(bytes.size(), 8 + 8u * tree.Size());

        tULongToULong copy;  // tolerance 15, kept across the load
        copy.Insert(1, 1);   // replaced, not merged
        std::istringstream in(bytes);
        EXPECT_EQ(copy.Load(in), 1);
        EXPECT_EQ(ShapeOf(copy), ShapeOf(tree));
        EXPECT_EQ(copy.Tolerance(), 15);
    }
}

TEST(BalTreeStream, ExactBytesLittleEndianRightSubtreeFirst)
{
    tULongToULong tree;
    tree.SetTolerance(0);
    tree.Insert(5, 0x01020304);
    tree.Insert(3, 3);
    tree.Insert(8, 8);
    tree.Insert(7, 0xA0B0C0D0);
    EXPECT_EQ(Saved(tree), Bytes({40, 0, 5, 0x01020304, 8, 8, 7, 0xA0B0C0D0, 3, 3}));
}

TEST(BalTreeStream, EmptyTreeWritesTheHeaderAndAnswersZero)
{
    tULongToULong tree;
    int result = 1;
    EXPECT_EQ(Saved(tree, &result), Bytes({8, 0}));
    EXPECT_EQ(result, 0);
    std::istringstream in(Bytes({8, 0}));
    EXPECT_EQ(tree.Load(in), 1);
    EXPECT_EQ(tree.Size(), 0);
}

TEST(BalTreeStream, TreeInsideALargerStream)
{
    tULongToULong tree;
    for (tWord k : {4u, 2u, 6u}) tree.Insert(k, k);
    std::ostringstream out;
    out << "prefix";
    EXPECT_EQ(tree.Save(out), 1);
    out << "suffix";
    const std::string all = out.str();
    EXPECT_EQ(all.substr(6, 8), Bytes({32, 0}));

    std::istringstream in(all);
    in.seekg(6);
    tULongToULong copy;
    EXPECT_EQ(copy.Load(in), 1);
    EXPECT_EQ(ShapeOf(copy), ShapeOf(tree));
    std::string rest;
    in >> rest;
    EXPECT_EQ(rest, "suffix");
}

TEST(BalTreeStream, BadStreamsAreRefused)
{
    tULongToULong tree;
    tree.Insert(1, 1);
    std::ostringstream bad;
    bad.setstate(std::ios::badbit);
    EXPECT_EQ(tree.Save(bad), 0);
    EXPECT_TRUE(bad.str().empty());

    std::istringstream shortHeader(std::string("\x08\x00\x00", 3));
    EXPECT_EQ(tree.Load(shortHeader), 0);
    EXPECT_EQ(tree.Size(), 0);
}

// A lying or cut stream ends in 0 or a tree read as far as it is valid.
TEST(BalTreeStream, LyingAndTruncatedStreams)
{
    const std::string two = Bytes({1, 10, 2, 20});
    struct Case {
        const char* name;
        std::string bytes;
        int result;
        std::int32_t size;
    } cases[] = {
        {"truncated element", Bytes({24, 0}) + two.substr(0, 12), 0, 1},
        {"size beyond the end", Bytes({1000, 0}) + two, 0, 2},
        {"size short of the data", Bytes({16, 0}) + two, 1, 1},
        {"size inside the header", Bytes({0, 0}) + two, 1, 0},
        {"huge count", Bytes({24, 0x7FFFFFFF}) + two, 1, 2},
        {"negative count", Bytes({24, 0xFFFFFFFF}) + two, 1, 2},
        {"size 4 GiB", Bytes({0xFFFFFFFF, 0}) + two, 0, 2},
    };
    // Records the scratch sizes a load hands to the elements.
    struct Probe : tULongToULong {
        using tULongToULong::LoadScratch;
        std::size_t largest = 0;
        int LoadElement(std::istream& in) override
        {
            largest = std::max({largest, LoadScratch(0).size(), LoadScratch(1).size()});
            return tULongToULong::LoadElement(in);
        }
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Probe tree;
        std::istringstream in(c.bytes);
        EXPECT_EQ(tree.Load(in), c.result);
        EXPECT_EQ(tree.Size(), c.size);
        EXPECT_LE(tree.largest, tBalTree::kMaxLoadScratch);
        EXPECT_TRUE(tree.LoadScratch(0).empty());
        CheckedKeys(tree, tBalTree::kUnlimitedTolerance);
        EXPECT_EQ(tree.Tolerance(), 15);
    }
}

// Runs fn on a thread with a small stack: a walk that recursed once per
// level of a deep tree would overflow it.
void OnSmallStack(const std::function<void()>& fn)
{
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 256 * 1024), 0);
    pthread_t thread;
    auto run = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&fn)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

TEST(BalTreeStream, DeepUnbalancedTreesNeedNoRecursion)
{
    constexpr tWord kDepth = 10000;
    Shape original;
    Shape reloaded;
    std::int32_t depth = 0;
    OnSmallStack([&] {
        tULongToULong chain;
        chain.SetTolerance(0);
        for (tWord k = 1; k <= kDepth; ++k) chain.Insert(k, k);
        depth = Depth(chain);
        std::istringstream in(Saved(chain));
        tULongToULong copy;
        copy.SetTolerance(0);
        copy.Load(in);
        reloaded = ShapeOf(copy);
        original = ShapeOf(chain);
        copy.Clear();
    });
    EXPECT_EQ(depth, std::int32_t(kDepth));
    EXPECT_EQ(reloaded, original);
}

TEST(BalTreeStream, SaveStackGrowsBeyondThirtyTwoPending)
{
    // A right spine with a left leaf at every level: the pre-order walk keeps
    // one pending left leaf per level.
    tULongToULong tree;
    tree.SetTolerance(0);
    for (tWord k = 1; k <= 100; ++k) {
        tree.Insert(2 * k, k);
        tree.Insert(2 * k - 1, k);
    }
    int result = 0;
    std::istringstream in(Saved(tree, &result));
    EXPECT_EQ(result, 1);
    tULongToULong copy;
    EXPECT_EQ(copy.Load(in), 1);
    EXPECT_EQ(ShapeOf(copy), ShapeOf(tree));
}

}  // namespace
}  // namespace quillory
