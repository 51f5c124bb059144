#include "common/baltree.h"

#include "platform/base/trace.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <istream>
#include <limits>
#include <ostream>
#include <vector>

namespace quillory {

int tSerializable::Save(std::ostream&) { return 1; }
int tSerializable::Load(std::istream&) { return 1; }

tBalTree::tBalTree() = default;

tBalTree::~tBalTree() { FreeAllNodes(); }

// ---------------------------------------------------------------------------
// Element operations with a meaning for every tree.

const char* tBalTree::KeyText(tWord key) const
{
    thread_local char text[2 * sizeof(void*) + 8];
    std::snprintf(text, sizeof text, "%p", reinterpret_cast<void*>(static_cast<std::uintptr_t>(key)));
    return text;
}

int tBalTree::SaveElement(std::ostream&, const tBalNode*) const { return 0; }
int tBalTree::LoadElement(std::istream&) { return 0; }

bool tBalTree::WriteWord(std::ostream& out, tWord word)
{
    const char bytes[4] = {static_cast<char>(word & 0xFF), static_cast<char>((word >> 8) & 0xFF),
                           static_cast<char>((word >> 16) & 0xFF), static_cast<char>((word >> 24) & 0xFF)};
    out.write(bytes, sizeof bytes);
    return static_cast<bool>(out);
}

bool tBalTree::ReadWord(std::istream& in, tWord& word)
{
    unsigned char bytes[4];
    in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
    if (in.gcount() != static_cast<std::streamsize>(sizeof bytes)) return false;
    word = static_cast<tWord>(bytes[0]) | static_cast<tWord>(bytes[1]) << 8 |
           static_cast<tWord>(bytes[2]) << 16 | static_cast<tWord>(bytes[3]) << 24;
    return true;
}

std::span<std::byte> tBalTree::LoadScratch(int which) const
{
    if (which < 0 || which > 1 || !scratch_[which].data) return {};
    return {scratch_[which].data.get(), scratch_[which].size};
}

// ---------------------------------------------------------------------------
// Lookup and walking.

tBalNode* tBalTree::Find(tWord key) const
{
    tBalNode* node = root_;
    while (node) {
        const int c = Compare(key, node->key);
        if (c == 0) return node;
        node = c < 0 ? node->left : node->right;
    }
    return nullptr;
}

tBalNode* tBalTree::Next(const tBalNode* node)
{
    if (!node) return nullptr;
    if (node->right) {
        tBalNode* n = node->right;
        while (n->left) n = n->left;
        return n;
    }
    while (node->parent && node->parent->right == node) node = node->parent;
    return node->parent;
}

tBalNode* tBalTree::NodeAt(tBalNode* subtreeRoot, std::int32_t index)
{
    tBalNode* node = subtreeRoot;
    if (index < 0) return nullptr;
    while (node) {
        if (index < node->leftCount) {
            node = node->left;
        } else if (index == node->leftCount) {
            return node;
        } else {
            index -= node->leftCount + 1;
            node = node->right;
        }
    }
    return nullptr;
}

std::int32_t tBalTree::SetTolerance(std::int32_t tolerance)
{
    const std::int32_t previous = tolerance_ == kUnlimitedTolerance ? 0 : tolerance_;
    if (tolerance == 0)
        tolerance_ = kUnlimitedTolerance;
    else if (tolerance > 0)
        tolerance_ = tolerance;
    return previous;
}

// ---------------------------------------------------------------------------
// Structure.

void tBalTree::ReleaseNode(tBalNode* node)
{
    if (node->key) FreeKey(node);
    if (node->value) FreeValue(&node->value);
    std::free(node);
}

bool tBalTree::OutOfTolerance(const tBalNode* node) const
{
    const std::int64_t diff = std::int64_t{node->leftCount} - node->rightCount;
    return diff > tolerance_ || diff < -std::int64_t{tolerance_};
}

void tBalTree::ReplaceChild(tBalNode* parent, tBalNode* oldChild, tBalNode* newChild)
{
    if (!parent)
        root_ = newChild;
    else if (parent->left == oldChild)
        parent->left = newChild;
    else
        parent->right = newChild;
}

// Moves node one level up over its parent, keeping the in-order sequence.
void tBalTree::RotateUp(tBalNode* node)
{
    tBalNode* parent = node->parent;
    tBalNode* grand = parent->parent;
    if (parent->left == node) {
        parent->left = node->right;
        parent->leftCount = node->rightCount;
        if (parent->left) parent->left->parent = parent;
        node->right = parent;
        node->rightCount = SubtreeSize(parent);
    } else {
        parent->right = node->left;
        parent->rightCount = node->leftCount;
        if (parent->right) parent->right->parent = parent;
        node->left = parent;
        node->leftCount = SubtreeSize(parent);
    }
    node->parent = grand;
    parent->parent = node;
    ReplaceChild(grand, parent, node);
}

tBalNode* tBalTree::ReRootAtMedian(tBalNode* subtree)
{
    tBalNode* const above = subtree->parent;
    tBalNode* median = NodeAt(subtree, SubtreeSize(subtree) / 2);
    while (median->parent != above) RotateUp(median);
    return median;
}

void tBalTree::Rebuild(tBalNode* subtree)
{
    if (SubtreeSize(subtree) <= 2) return;
    // Each re-rooting at least halves the child subtrees, so a LIFO list of
    // pending subtrees never holds more than about 33 entries.
    std::array<tBalNode*, 64> pending;
    std::size_t count = 0;
    pending[count++] = subtree;
    while (count > 0) {
        tBalNode* top = ReRootAtMedian(pending[--count]);
        for (tBalNode* child : {top->left, top->right}) {
            if (SubtreeSize(child) > 2 && count < pending.size()) pending[count++] = child;
        }
    }
}

void tBalTree::RebalanceUpward(tBalNode* from)
{
    tBalNode* highest = nullptr;
    for (tBalNode* node = from; node; node = node->parent) {
        if (OutOfTolerance(node)) highest = node;
        if (tBalNode* parent = node->parent) {
            if (parent->left == node)
                parent->leftCount = SubtreeSize(node);
            else
                parent->rightCount = SubtreeSize(node);
        }
    }
    if (highest) Rebuild(highest);
}

int tBalTree::Insert(tWord key, tWord value)
{
    tBalNode* parent = root_;
    int side = 0;
    while (parent) {
        side = Compare(key, parent->key);
        if (side == 0) {
            if (parent->value) FreeValue(&parent->value);
            parent->value = 0;  // never release the old value twice
            return SetValue(&parent->value, value) ? 1 : 0;
        }
        tBalNode* next = side < 0 ? parent->left : parent->right;
        if (!next) break;
        parent = next;
    }

    auto* node = static_cast<tBalNode*>(std::calloc(1, sizeof(tBalNode)));
    if (!node) {
        Trace("tBalTree::Insert - out of memory\n");
        return 0;
    }
    if (!SetKey(node, key) || !SetValue(&node->value, value)) {
        ReleaseNode(node);
        return 0;
    }
    if (!parent) {
        root_ = node;
        return 1;
    }
    node->parent = parent;
    if (side < 0) {
        parent->left = node;
        parent->leftCount = 1;
    } else {
        parent->right = node;
        parent->rightCount = 1;
    }
    RebalanceUpward(parent);
    return 1;
}

void tBalTree::Remove(tBalNode* node)
{
    if (!node) return;
    tBalNode* const parent = node->parent;
    tBalNode* replacement = nullptr;
    tBalNode* other = nullptr;
    bool rightReplaces = false;
    if (node->right && node->rightCount >= node->leftCount) {
        replacement = node->right;
        other = node->left;
        rightReplaces = true;
    } else if (node->left) {
        replacement = node->left;
        other = node->right;
    }

    // The lighter side goes below the heavier child at its inner edge, which
    // keeps the in-order sequence.
    tBalNode* remembered = nullptr;
    if (other) {
        const std::int32_t added = SubtreeSize(other);
        tBalNode* spine = replacement;
        for (;;) {
            if (rightReplaces)
                spine->leftCount += added;
            else
                spine->rightCount += added;
            if (!remembered && OutOfTolerance(spine)) remembered = spine;
            tBalNode*& edge = rightReplaces ? spine->left : spine->right;
            if (!edge) {
                edge = other;
                other->parent = spine;
                break;
            }
            spine = edge;
        }
    }

    if (replacement) replacement->parent = parent;
    if (parent) {
        if (parent->left == node)
            parent->leftCount = SubtreeSize(replacement);
        else
            parent->rightCount = SubtreeSize(replacement);
    }
    ReplaceChild(parent, node, replacement);
    ReleaseNode(node);
    RebalanceUpward(remembered ? remembered : parent);
}

// Frees every node bottom-up through the parent links, without recursion.
template <typename Release>
static void DismantleTree(tBalNode* root, Release release)
{
    tBalNode* node = root;
    while (node) {
        if (node->left) {
            node = node->left;
        } else if (node->right) {
            node = node->right;
        } else {
            tBalNode* parent = node->parent;
            if (parent) {
                if (parent->left == node)
                    parent->left = nullptr;
                else
                    parent->right = nullptr;
            }
            release(node);
            node = parent;
        }
    }
}

void tBalTree::Clear()
{
    tBalNode* root = root_;
    root_ = nullptr;
    DismantleTree(root, [this](tBalNode* n) { ReleaseNode(n); });
}

void tBalTree::FreeAllNodes()
{
    tBalNode* root = root_;
    root_ = nullptr;
    DismantleTree(root, [](tBalNode* n) { std::free(n); });
}

// ---------------------------------------------------------------------------
// Stream form: header {total size, element count}, then the elements, each
// node before its children and the right subtree before the left, so that
// inserting them in order into an unbalanced tree rebuilds the same shape.

int tBalTree::Save(std::ostream& out)
{
    if (!out.good()) return 0;
    elementCount_ = 0;
    const std::ostream::pos_type start = out.tellp();
    if (start == std::ostream::pos_type(-1)) {
        Trace("tBalTree::Save - stream position unknown\n");
        return 0;
    }
    if (!WriteWord(out, 0) || !WriteWord(out, 0)) return 0;

    int result = 0;
    // Grows with the depth, so an unbalanced tree of any depth is written.
    std::vector<const tBalNode*> stack;
    if (root_) stack.push_back(root_);
    while (!stack.empty()) {
        const tBalNode* node = stack.back();
        stack.pop_back();
        result = SaveElement(out, node);
        if (!result) {
            Trace("tBalTree::Save - element %s not written\n", KeyText(node->key));
            break;
        }
        if (node->left) stack.push_back(node->left);
        if (node->right) stack.push_back(node->right);
    }

    const std::ostream::pos_type end = out.tellp();
    if (end == std::ostream::pos_type(-1)) return 0;
    const std::streamoff total = end - start;
    if (total > std::numeric_limits<tWord>::max()) {
        Trace("tBalTree::Save - tree too large for its header\n");
        result = 0;
    }
    out.seekp(start);
    WriteWord(out, static_cast<tWord>(total));
    WriteWord(out, static_cast<tWord>(elementCount_));
    out.seekp(end);
    return out ? result : 0;
}

int tBalTree::Load(std::istream& in)
{
    Clear();
    // Unlimited while reading, so the saved order rebuilds the saved shape.
    struct Restore {
        tBalTree& tree;
        std::int32_t tolerance;
        ~Restore()
        {
            tree.tolerance_ = tolerance;
            for (Scratch& s : tree.scratch_) {
                s.data.reset();
                s.size = 0;
            }
        }
    } restore{*this, tolerance_};
    tolerance_ = kUnlimitedTolerance;

    const std::istream::pos_type start = in.tellg();
    tWord total = 0;
    tWord count = 0;
    if (start == std::istream::pos_type(-1) || !ReadWord(in, total) || !ReadWord(in, count)) {
        Trace("tBalTree::Load - no header\n");
        return 0;
    }
    // The header's count sizes the scratch buffers, but a header is only a
    // claim: never allocate more than a bounded amount for it.
    const auto claimed = static_cast<std::int32_t>(count);
    if (claimed > 0) {
        const std::size_t size = std::min<std::size_t>(static_cast<std::size_t>(claimed), kMaxLoadScratch);
        for (Scratch& s : scratch_) {
            s.data.reset(static_cast<std::byte*>(std::calloc(size, 1)));
            if (!s.data) {
                Trace("tBalTree::Load - out of memory\n");
                return 0;
            }
            s.size = size;
        }
    }

    while (!in.eof()) {
        const std::istream::pos_type pos = in.tellg();
        if (pos == std::istream::pos_type(-1)) {
            Trace("tBalTree::Load - stream position lost\n");
            return 0;
        }
        // Measured from the header, so a tree stored inside a larger stream reads too.
        if (pos - start >= static_cast<std::streamoff>(total)) break;
        if (!LoadElement(in)) {
            Trace("tBalTree::Load - element %d unreadable\n", Size());
            return 0;
        }
    }
    return 1;
}

}  // namespace quillory
