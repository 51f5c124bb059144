// Feeds arbitrary bytes to the tree's stream reader, then checks that what was
// read is a well-formed ordered tree and that it survives a save and reload.
#include "common/baltree.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

using quillory::tBalNode;
using quillory::tBalTree;
using quillory::tULongToULong;

void Require(bool ok)
{
    if (!ok) __builtin_trap();
}

void CheckWellFormed(const tBalTree& tree)
{
    std::int32_t walked = 0;
    const tBalNode* previous = nullptr;
    for (const tBalNode* n = tBalTree::NodeAt(tree.Root(), 0); n; n = tBalTree::Next(n)) {
        Require(n->leftCount == tBalTree::SubtreeSize(n->left));
        Require(n->rightCount == tBalTree::SubtreeSize(n->right));
        Require(!n->left || n->left->parent == n);
        Require(!n->right || n->right->parent == n);
        Require(!previous || previous->key < n->key);
        previous = n;
        ++walked;
    }
    Require(walked == tree.Size());
}

// Pre-order keys and values: equal sequences mean equal shapes.
std::vector<std::uint64_t> PreOrder(const tBalTree& tree)
{
    std::vector<std::uint64_t> out;
    std::vector<const tBalNode*> stack;
    if (tree.Root()) stack.push_back(tree.Root());
    while (!stack.empty()) {
        const tBalNode* n = stack.back();
        stack.pop_back();
        out.push_back(std::uint64_t{n->key} << 32 | n->value);
        if (n->left) stack.push_back(n->left);
        if (n->right) stack.push_back(n->right);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    tULongToULong tree;
    tree.SetTolerance(0);
    tree.Load(in);
    CheckWellFormed(tree);

    std::ostringstream out;
    const int saved = tree.Save(out);
    Require(saved == (tree.Size() > 0 ? 1 : 0));
    Require(out.str().size() == 8 + 8 * static_cast<std::size_t>(tree.Size()));

    std::istringstream again(out.str());
    tULongToULong copy;
    Require(copy.Load(again) == 1);
    Require(PreOrder(copy) == PreOrder(tree));

    // Balancing what was read must keep it ordered.
    tULongToULong balanced;
    std::istringstream third(out.str());
    balanced.Load(third);
    balanced.SetTolerance(1);
    balanced.Insert(0x80000000u, 0);
    CheckWellFormed(balanced);
    return 0;
}
