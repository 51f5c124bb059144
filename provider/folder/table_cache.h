// CTableCache: the known-articles cache of an account. A persistent set of
// (article number, newsgroup, message-id) entries that keeps a header from
// being offered twice and rebuilds the header table after a restart.
//
// Two keys index the entries: bNg by number XOR CRC(group) and bId by number
// XOR CRC(message-id) (CRC: common/crc32.h). Membership is decided on the
// 32-bit key alone; two entries with equal keys share a slot and the later
// one takes it. Each key has a hash index (key_index.h), so that a header
// download adds its rows at a constant cost each; the walks in key order
// (the file, the rows brought back at attach, pruning) sort the keys when
// they run, in linear time.
//
// Cache file, one CR LF line per entry in ascending bNg key order:
//   ["? "]<group> <number> <message-id>
// where "? " marks an entry not confirmed yet (its article not delivered).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "provider/folder/key_index.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapix.h"

namespace quillory::quarnex {

// Lines this short or shorter carry no entry.
constexpr std::size_t kCacheLineMinLength = 6;
constexpr std::string_view kUnconfirmedPrefix = "? ";

// Below this first article number there is nothing to prune.
constexpr ULONG kPruneThreshold = 502;
// Distance below the group's first article where pruning starts.
constexpr ULONG kPruneDistance = 501;
// Misses that end the walk below the first article, and the scan's walks.
constexpr int kPruneWalkMisses = 50;
constexpr int kPruneScanMisses = 300;

// The texts are kept by the cache (the loaded file and what was added
// since) and stay valid until it is cleared or loaded again.
struct KnownArticle {
    ULONG number = 0;
    std::string_view messageId;
    std::string_view group;
    bool confirmed = false;
};

class CTableCache {
public:
    CTableCache();
    ~CTableCache();
    CTableCache(const CTableCache&) = delete;
    CTableCache& operator=(const CTableCache&) = delete;

    // The store that Load checks unconfirmed entries against (one reference is
    // kept; null: unconfirmed entries are dropped at load).
    void SetMessageStore(IMsgStore* store);

    // Forgets every entry, remembers the path and reads the file. A missing
    // or unreadable file leaves the cache empty (false).
    bool Load(std::string_view path);
    // Forgets every entry and reads cache text as Load does after reading.
    void LoadText(std::string_view text);

    // Writes the cache file to `path`, or to the remembered path when empty.
    // 1 when written; 0 with no path or when the file cannot be written.
    int Save(std::string_view path = {});
    // The file's content.
    std::string SaveText() const;

    // Whether bNg holds number XOR CRC(group).
    bool IsKnown(ULONG number, std::string_view group) const;
    // The entry in the bNg / bId slot of the pair, or null.
    const KnownArticle* FindByGroup(ULONG number, std::string_view group) const;
    const KnownArticle* FindById(ULONG number, std::string_view messageId) const;

    // Adds the entry unless bNg already holds (number, group). True when
    // added; false when known or out of memory (nothing is then added).
    bool Add(ULONG number, std::string_view messageId, std::string_view group, bool confirmed);
    // Adds the entry when bNg lacks it; otherwise confirms it when `confirmed`.
    void Record(ULONG number, std::string_view messageId, std::string_view group, bool confirmed);
    // Marks the entry of (number, group) confirmed when present.
    void Confirm(ULONG number, std::string_view group);
    // Removes the entry in the bId slot of (number, messageId) / the bNg slot
    // of (number, group) from both trees. True when one was removed.
    bool RemoveById(ULONG number, std::string_view messageId);
    bool RemoveByGroup(ULONG number, std::string_view group);

    // Removes a group's entries below its first article on the server.
    void Prune(std::string_view group, ULONG first);
    // Prunes, then cuts known articles off both ends of [first, last]; first >
    // last afterwards means nothing new.
    void NarrowRange(ULONG& first, ULONG& last, std::string_view group);

    // Visits entries in ascending bNg / bId key order. The callback must not
    // change the cache.
    void ForEachByGroup(const std::function<void(const KnownArticle&)>& f) const;
    void ForEachById(const std::function<void(const KnownArticle&)>& f) const;

    std::size_t GroupKeyCount() const;
    std::size_t IdKeyCount() const;
    const std::string& Path() const { return path_; }

    // Hook for tests: answers whether the store holds a message for an
    // unconfirmed entry (the default asks the store's receive folder).
    using StoreProbe = std::function<bool(const KnownArticle&)>;
    void SetStoreProbeForTest(StoreProbe probe) { probe_ = std::move(probe); }

private:
    struct Slots;

    bool HeldInStore(const KnownArticle& entry) const;
    void Clear();
    // Reads the entries of the text the slots hold as loaded.
    void ParseLoaded();
    // Hands the file's text to the sink in pieces; false when it refused one.
    bool WriteText(const std::function<bool(std::string_view)>& sink) const;
    void RemoveSlot(tWord slot);
    void PruneScan(std::string_view group, ULONG below);
    // Visits the slots of an index in ascending key order.
    void ForEachInOrder(const CKeyIndex& index, const std::function<void(const KnownArticle&)>& f) const;

    ComPtr<IMsgStore> store_;
    std::string path_;
    CKeyIndex bNg_;
    CKeyIndex bId_;
    std::unique_ptr<Slots> slots_;
    StoreProbe probe_;
};

}  // namespace quillory::quarnex
