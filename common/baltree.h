// A binary search tree whose nodes count the nodes of each subtree and which
// keeps itself balanced by rebuilding a whole subtree around its median when
// the two sides of a node differ by more than a tolerance. Keys and values are
// 32-bit words handled through virtual operations; tULongToULong supplies them
// for plain unsigned numbers. The tree writes itself to a binary stream and
// reads itself back in the same shape.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iosfwd>
#include <memory>
#include <span>

namespace quillory {

// The key and value word of a node.
using tWord = std::uint32_t;

// Allocated from the C heap and zero-filled; owned by its tree.
struct tBalNode {
    tWord key;
    tWord value;
    tBalNode* parent;  // null at the root
    tBalNode* left;
    std::int32_t leftCount;  // nodes in the left subtree
    tBalNode* right;
    std::int32_t rightCount;  // nodes in the right subtree
};

// An object that can write itself to a stream and read itself back.
class tSerializable {
public:
    virtual ~tSerializable() = default;
    // Both answer 1 (success) without doing anything.
    virtual int Save(std::ostream& out);
    virtual int Load(std::istream& in);
};

class tBalTree : public tSerializable {
public:
    static constexpr std::int32_t kDefaultTolerance = 15;
    static constexpr std::int32_t kUnlimitedTolerance = 2147483647;
    // Bytes of the stream header: total size, element count (both 32-bit LE).
    static constexpr std::size_t kHeaderSize = 8;
    // Upper bound on each load scratch buffer, whatever a header claims.
    static constexpr std::size_t kMaxLoadScratch = 64 * 1024;

    tBalTree();
    // Frees any node a derived class left behind (without FreeKey/FreeValue,
    // which are gone by now); derived classes Clear in their own destructor.
    ~tBalTree() override;
    tBalTree(const tBalTree&) = delete;
    tBalTree& operator=(const tBalTree&) = delete;

    // 1 when every element was written; 0 for a bad stream, a failed element
    // or an empty tree (whose 8-byte header is written all the same).
    int Save(std::ostream& out) override;
    // Replaces the content with the saved tree, in the saved shape. 0 when the
    // header cannot be read or an element fails; the elements read before the
    // failure stay in the tree.
    int Load(std::istream& in) override;

    // Per-element operations supplied by the concrete map.
    virtual void FreeKey(tBalNode* node) = 0;
    virtual void FreeValue(tWord* slot) = 0;
    virtual int SetKey(tBalNode* node, tWord key) = 0;
    virtual int SetValue(tWord* slot, tWord value) = 0;
    // -1, 0 or 1 as a is below, equal to or above b.
    virtual int Compare(tWord a, tWord b) const = 0;
    // Text form for traces; valid until the next call on the same thread.
    virtual const char* KeyText(tWord key) const;
    virtual int SaveElement(std::ostream& out, const tBalNode* node) const;
    virtual int LoadElement(std::istream& in);

    tBalNode* Find(tWord key) const;
    // 1 when the pair is in the tree (an equal key has its value replaced).
    int Insert(tWord key, tWord value);
    // Takes a node of this tree out and releases it; null is ignored.
    void Remove(tBalNode* node);
    void Clear();
    // 0 makes the tolerance unlimited, a positive value sets it, a negative
    // one changes nothing. Returns the previous tolerance, 0 for unlimited.
    std::int32_t SetTolerance(std::int32_t tolerance);

    // In-order successor, or null after the last node.
    static tBalNode* Next(const tBalNode* node);
    // The node with the 0-based in-order index inside the subtree, or null.
    static tBalNode* NodeAt(tBalNode* subtreeRoot, std::int32_t index);

    tBalNode* Root() const { return root_; }
    std::int32_t Size() const { return SubtreeSize(root_); }
    std::int32_t Tolerance() const { return tolerance_; }

    static std::int32_t SubtreeSize(const tBalNode* node)
    {
        return node ? node->leftCount + node->rightCount + 1 : 0;
    }

protected:
    // Stream form of one word: 4 bytes, little-endian whatever the host.
    static bool WriteWord(std::ostream& out, tWord word);
    static bool ReadWord(std::istream& in, tWord& word);
    // Scratch buffers a LoadElement may use while Load runs (empty otherwise).
    std::span<std::byte> LoadScratch(int which) const;

private:
    struct CFree {
        void operator()(void* p) const { std::free(p); }
    };
    struct Scratch {
        std::unique_ptr<std::byte, CFree> data;
        std::size_t size = 0;
    };

    void ReleaseNode(tBalNode* node);
    bool OutOfTolerance(const tBalNode* node) const;
    void ReplaceChild(tBalNode* parent, tBalNode* oldChild, tBalNode* newChild);
    void RotateUp(tBalNode* node);
    tBalNode* ReRootAtMedian(tBalNode* subtree);
    void Rebuild(tBalNode* subtree);
    void RebalanceUpward(tBalNode* from);
    void FreeAllNodes();

    std::int32_t elementCount_ = 0;  // written in the stream header
    Scratch scratch_[2];
    tBalNode* root_ = nullptr;
    std::int32_t tolerance_ = kDefaultTolerance;
};

// Unsigned 32-bit keys and values, compared as numbers.
class tULongToULong : public tBalTree {
public:
    tULongToULong() = default;
    ~tULongToULong() override;

    void FreeKey(tBalNode* node) override;
    void FreeValue(tWord* slot) override;
    int SetKey(tBalNode* node, tWord key) override;
    int SetValue(tWord* slot, tWord value) override;
    int Compare(tWord a, tWord b) const override;
    const char* KeyText(tWord key) const override;
    // Key, then value, 4 bytes each, little-endian.
    int SaveElement(std::ostream& out, const tBalNode* node) const override;
    int LoadElement(std::istream& in) override;
};

}  // namespace quillory
