// Contents tables over the database: index keys of values, computed message
// values, rows, restrictions answered from the index, sorting.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "platform/mapi/entryid.h"
#include "platform/mapi/propcodec.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/restriction.h"
#include "platform/mapi/store_db_ops.h"

namespace quillory::store {
namespace {

void PutBe(std::vector<BYTE>& key, std::uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i) key.push_back(static_cast<BYTE>(v >> (8 * i)));
}

// Signed integers sort as unsigned once the sign bit is flipped.
void PutSigned(std::vector<BYTE>& key, std::int64_t v, int bytes)
{
    const std::uint64_t bias = std::uint64_t{1} << (8 * bytes - 1);
    PutBe(key, static_cast<std::uint64_t>(v) ^ bias, bytes);
}

// IEEE doubles sort as unsigned once negatives are inverted and positives
// get the sign bit; -0 is made +0 since they compare equal.
void PutDouble(std::vector<BYTE>& key, double d)
{
    if (d == 0) d = 0;
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    bits = (bits >> 63) ? ~bits : bits | (std::uint64_t{1} << 63);
    PutBe(key, bits, 8);
}

void PutBytes(std::vector<BYTE>& key, const BYTE* p, std::size_t n, bool fold)
{
    n = std::min(n, kMaxKeyBytes);
    for (std::size_t i = 0; i < n; ++i) {
        BYTE c = p[i];
        if (fold && c >= 'A' && c <= 'Z') c = static_cast<BYTE>(c - 'A' + 'a');
        key.push_back(c);
    }
}

bool MatchesTag(ULONG wanted, ULONG tag)
{
    return wanted == tag || (PROP_TYPE(wanted) == PT_UNSPECIFIED && PROP_ID(wanted) == PROP_ID(tag));
}

bool IsStringKey(ULONG type) { return type == PT_STRING8; }

// Whether a key equal to another's proves the values equal (as a property
// test compares them): strings fold case and long values are cut.
bool KeyIsExact(ULONG type, std::size_t keySize) { return !IsStringKey(type) && keySize < kMaxKeyBytes; }

std::vector<RowId> SortedUnique(std::vector<RowId> v)
{
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
    return v;
}

std::vector<RowId> Intersect(const std::vector<RowId>& a, const std::vector<RowId>& b)
{
    std::vector<RowId> out;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

// The values of some tags for one message (stored values and computed ones),
// chained to one buffer.
class ValueLoader {
public:
    ValueLoader(StoreDb& db, const MAPIUID& store, std::vector<ULONG> tags) : db_(db), store_(store)
    {
        std::sort(tags.begin(), tags.end());
        tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
        for (ULONG t : tags) {
            if (IsComputedMessageTag(t, true)) computed_.push_back(t);
            else stored_.push_back(t);
        }
    }

    // Fills values; false when the message is gone.
    bool Load(RowId id, std::vector<SPropValue>& values, MapiBuffer<SPropValue>& arena)
    {
        values.clear();
        arena.Reset();
        if (FAILED(MAPIAllocateBuffer(sizeof(SPropValue), arena.AsVoidOut())))
            throw DbError(MAPI_E_NOT_ENOUGH_MEMORY, "row values");
        StoredValues stored;
        MessageRecord m;
        if (!stored.Load(db_, id, &m)) return false;
        for (ULONG t : computed_) {
            SPropValue v{};
            if (SUCCEEDED(ComputedMessageProp(store_, m, t, true, arena.Get(), &v))) values.push_back(v);
        }
        for (ULONG t : stored_) stored.Find(t, arena.Get(), values, false);
        return true;
    }

private:
    StoreDb& db_;
    const MAPIUID& store_;
    std::vector<ULONG> computed_;
    std::vector<ULONG> stored_;
};

// ---- Answering restrictions from the index ---------------------------------------------

struct Plan {
    bool all = true;     // no narrowing: every message of the table
    bool exact = false;  // ids are exactly the matches
    std::vector<RowId> ids;
};

struct Leaf {
    enum Kind { kEqual, kExists, kEntryId } kind = kEqual;
    ULONG tag = 0;
    std::vector<BYTE> key;
    RowId id = 0;
    bool exact = false;
};

class Planner {
public:
    Planner(StoreDb& db, const MAPIUID& store, RowId folder, bool associated)
        : db_(db), store_(store), folder_(folder), assoc_(associated ? 1 : 0) {}

    const std::vector<RowId>& Universe()
    {
        if (!universe_) universe_ = FolderMessages(db_, folder_, assoc_ != 0);
        return *universe_;
    }

    Plan Run(const SRestriction& r, int depth)
    {
        if (depth > static_cast<int>(kMaxRestrictionDepth)) return {};
        if (auto leaf = AsLeaf(r)) return Plan{false, leaf->exact, Fetch(*leaf)};
        switch (r.rt) {
        case RES_AND: return And(r.res.resAnd, depth);
        case RES_OR: {
            Plan out{false, true, {}};
            for (ULONG i = 0; i < r.res.resOr.cRes; ++i) {
                Plan p = Run(r.res.resOr.lpRes[i], depth + 1);
                if (p.all) return {};
                out.exact = out.exact && p.exact;
                out.ids.insert(out.ids.end(), p.ids.begin(), p.ids.end());
            }
            out.ids = SortedUnique(std::move(out.ids));
            return out;
        }
        case RES_NOT: {
            if (!r.res.resNot.lpRes) return {};
            Plan p = Run(*r.res.resNot.lpRes, depth + 1);
            if (p.all || !p.exact) return {};
            Plan out{false, true, {}};
            std::set_difference(Universe().begin(), Universe().end(), p.ids.begin(), p.ids.end(),
                                std::back_inserter(out.ids));
            return out;
        }
        default: return {};
        }
    }

private:
    std::optional<Leaf> AsLeaf(const SRestriction& r)
    {
        Leaf leaf;
        if (r.rt == RES_EXIST) {
            leaf.kind = Leaf::kExists;
            leaf.tag = r.res.resExist.ulPropTag;
            if (IsComputedMessageTag(leaf.tag, true) || !IsIndexableTag(leaf.tag)) return std::nullopt;
            EnsureIndexed(db_, folder_, leaf.tag);
            leaf.exact = true;
            return leaf;
        }
        if (r.rt != RES_PROPERTY || r.res.resProperty.relop != RELOP_EQ || !r.res.resProperty.lpProp)
            return std::nullopt;
        const SPropValue& value = *r.res.resProperty.lpProp;
        leaf.tag = r.res.resProperty.ulPropTag;
        if (PROP_TYPE(leaf.tag) != PROP_TYPE(value.ulPropTag)) return std::nullopt;
        if (leaf.tag == PR_ENTRYID) {
            leaf.kind = Leaf::kEntryId;
            leaf.exact = true;
            const auto e = ParseStoreEntryId(std::span<const BYTE>(value.Value.bin.lpb, value.Value.bin.cb));
            leaf.id = (e && e->kind == MAPI_MESSAGE && SameUid(e->store, store_)) ? e->id : 0;
            return leaf;
        }
        if (IsComputedMessageTag(leaf.tag, true) || !IsIndexableTag(leaf.tag) || !ValueKey(value, leaf.key))
            return std::nullopt;
        EnsureIndexed(db_, folder_, leaf.tag);
        leaf.exact = KeyIsExact(PROP_TYPE(leaf.tag), leaf.key.size());
        return leaf;
    }

    std::size_t Estimate(const Leaf& leaf, std::size_t limit)
    {
        if (leaf.kind == Leaf::kEntryId) return 1;
        Stmt s(db_, leaf.kind == Leaf::kEqual
                        ? "SELECT count(*) FROM (SELECT 1 FROM prop_index WHERE folder=?1 AND tag=?2 AND ikey=?3 "
                          "LIMIT ?4)"
                        : "SELECT count(*) FROM (SELECT 1 FROM prop_index WHERE folder=?1 AND tag=?2 LIMIT ?4)");
        s.Bind(1, folder_).Bind(2, std::int64_t{leaf.tag}).Bind(4, static_cast<std::int64_t>(limit));
        if (leaf.kind == Leaf::kEqual) s.Bind(3, std::span<const BYTE>(leaf.key));
        return s.Step() ? static_cast<std::size_t>(s.Int(0)) : 0;
    }

    std::vector<RowId> Fetch(const Leaf& leaf)
    {
        std::vector<RowId> out;
        if (leaf.kind == Leaf::kEntryId) {
            if (leaf.id && Member(leaf, leaf.id)) out.push_back(leaf.id);
            return out;
        }
        Stmt s(db_, leaf.kind == Leaf::kEqual
                        ? "SELECT p.message FROM prop_index p JOIN messages m ON m.id=p.message "
                          "WHERE p.folder=?1 AND p.tag=?2 AND p.ikey=?3 AND m.assoc=?4"
                        : "SELECT p.message FROM prop_index p JOIN messages m ON m.id=p.message "
                          "WHERE p.folder=?1 AND p.tag=?2 AND m.assoc=?4");
        s.Bind(1, folder_).Bind(2, std::int64_t{leaf.tag}).Bind(4, assoc_);
        if (leaf.kind == Leaf::kEqual) s.Bind(3, std::span<const BYTE>(leaf.key));
        while (s.Step()) out.push_back(s.Int(0));
        return SortedUnique(std::move(out));
    }

    bool Member(const Leaf& leaf, RowId id)
    {
        if (leaf.kind == Leaf::kEntryId) {
            if (id != leaf.id) return false;
            Stmt s(db_, "SELECT 1 FROM messages WHERE id=?1 AND folder=?2 AND assoc=?3");
            s.Bind(1, id).Bind(2, folder_).Bind(3, assoc_);
            return s.Step();
        }
        if (leaf.kind == Leaf::kEqual) {
            Stmt s(db_, "SELECT 1 FROM prop_index WHERE folder=?1 AND tag=?2 AND ikey=?3 AND message=?4");
            s.Bind(1, folder_).Bind(2, std::int64_t{leaf.tag}).Bind(3, std::span<const BYTE>(leaf.key)).Bind(4, id);
            return s.Step();
        }
        StoredValues stored;
        if (!stored.Load(db_, id)) return false;
        MapiBuffer<SPropValue> arena;
        if (FAILED(MAPIAllocateBuffer(sizeof(SPropValue), arena.AsVoidOut())))
            throw DbError(MAPI_E_NOT_ENOUGH_MEMORY, "values");
        std::vector<SPropValue> found;
        stored.Find(leaf.tag, arena.Get(), found, true);
        return !found.empty();
    }

    // The most selective indexed test is fetched; the other indexed tests,
    // and negated ones, then filter its few candidates by key lookups. What
    // is left over is decided on the candidates' values.
    Plan And(const SAndRestriction& a, int depth)
    {
        std::vector<std::pair<std::size_t, Leaf>> leaves;
        std::vector<Leaf> negated;
        std::vector<const SRestriction*> rest;
        bool exact = true;
        for (ULONG i = 0; i < a.cRes; ++i) {
            const SRestriction& r = a.lpRes[i];
            if (auto leaf = AsLeaf(r)) {
                exact = exact && leaf->exact;
                leaves.emplace_back(0, std::move(*leaf));
            } else if (r.rt == RES_NOT && r.res.resNot.lpRes && (leaf = AsLeaf(*r.res.resNot.lpRes))) {
                exact = exact && leaf->exact;
                negated.push_back(std::move(*leaf));
            } else {
                rest.push_back(&r);
            }
        }
        if (leaves.empty()) return AndOfSets(a, depth);
        // Counting stops early: the order of small sets is all that matters.
        constexpr std::size_t kLimit = 1000;
        for (auto& [estimate, leaf] : leaves) estimate = Estimate(leaf, kLimit);
        std::sort(leaves.begin(), leaves.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
        Plan out{false, exact && rest.empty(), Fetch(leaves.front().second)};
        auto filter = [&](const Leaf& leaf, bool keepMembers) {
            std::vector<RowId> kept;
            for (RowId id : out.ids) {
                if (Member(leaf, id) == keepMembers) kept.push_back(id);
            }
            out.ids = std::move(kept);
        };
        for (std::size_t i = 1; i < leaves.size() && !out.ids.empty(); ++i) filter(leaves[i].second, true);
        for (const Leaf& leaf : negated) {
            if (!out.ids.empty()) filter(leaf, false);
        }
        return out;
    }

    // An AND without a positive indexed test: its parts as sets.
    Plan AndOfSets(const SAndRestriction& a, int depth)
    {
        std::vector<Plan> parts;
        bool exact = true;
        for (ULONG i = 0; i < a.cRes; ++i) {
            Plan p = Run(a.lpRes[i], depth + 1);
            exact = exact && p.exact;
            if (!p.all) parts.push_back(std::move(p));
        }
        if (parts.empty()) return Plan{true, false, {}};
        std::sort(parts.begin(), parts.end(), [](const Plan& x, const Plan& y) { return x.ids.size() < y.ids.size(); });
        Plan out{false, exact, std::move(parts.front().ids)};
        for (std::size_t i = 1; i < parts.size(); ++i) out.ids = Intersect(out.ids, parts[i].ids);
        return out;
    }

    StoreDb& db_;
    const MAPIUID& store_;
    RowId folder_;
    std::int64_t assoc_;
    std::optional<std::vector<RowId>> universe_;
};

// ---- Sorting ------------------------------------------------------------------------

struct SortDatum {
    bool present = false;
    bool byValue = false;  // the key cannot decide: compare whole values
    std::vector<BYTE> key;
};

class Sorter {
public:
    Sorter(StoreDb& db, const MAPIUID& store, RowId folder, std::span<const SSortOrder> sort)
        : db_(db), store_(store), folder_(folder), sort_(sort.begin(), sort.end()) {}

    void Sort(std::vector<RowId>& ids, bool bulk)
    {
        if (sort_.empty() || ids.size() < 2) return;
        ids_ = &ids;
        data_.assign(sort_.size(), std::vector<SortDatum>(ids.size()));
        for (std::size_t c = 0; c < sort_.size(); ++c) Gather(c, ids, bulk);
        std::vector<std::size_t> order(ids.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return Less(x, y); });
        std::vector<RowId> sorted;
        sorted.reserve(ids.size());
        for (std::size_t i : order) sorted.push_back(ids[i]);
        ids = std::move(sorted);
    }

private:
    void Gather(std::size_t c, const std::vector<RowId>& ids, bool bulk)
    {
        const ULONG tag = sort_[c].ulPropTag;
        auto& col = data_[c];
        if (IsComputedMessageTag(tag, true) || !IsIndexableTag(tag)) {
            // Computed values and keyless types: from the values themselves.
            for (std::size_t i = 0; i < ids.size(); ++i) {
                PropArray& v = Value(c, i);
                if (v.count == 0) continue;
                col[i].present = true;
                col[i].byValue = !ValueKey(v.props.Get()[0], col[i].key) ||
                                 col[i].key.size() >= kMaxKeyBytes;
            }
            return;
        }
        EnsureIndexed(db_, folder_, tag);
        auto put = [&](std::size_t i, std::span<const BYTE> key) {
            col[i].present = true;
            col[i].key.assign(key.begin(), key.end());
            col[i].byValue = key.size() >= kMaxKeyBytes;
        };
        if (bulk) {
            std::unordered_map<RowId, std::size_t> index;
            index.reserve(ids.size());
            for (std::size_t i = 0; i < ids.size(); ++i) index.emplace(ids[i], i);
            Stmt s(db_, "SELECT message, ikey FROM prop_index WHERE folder=?1 AND tag=?2");
            s.Bind(1, folder_).Bind(2, std::int64_t{tag});
            while (s.Step()) {
                if (auto it = index.find(s.Int(0)); it != index.end()) put(it->second, s.Blob(1));
            }
        } else {
            std::vector<BYTE> key;
            for (std::size_t i = 0; i < ids.size(); ++i) {
                const PropArray& v = Value(c, i);
                if (v.count && ValueKey(v.props.Get()[0], key)) put(i, key);
            }
        }
    }

    PropArray& Value(std::size_t c, std::size_t i)
    {
        auto& slot = values_[{c, i}];
        if (slot.props) return slot;
        if (FAILED(MAPIAllocateBuffer(sizeof(SPropValue), slot.props.AsVoidOut())))
            throw DbError(MAPI_E_NOT_ENOUGH_MEMORY, "sort values");
        std::vector<SPropValue> got;
        const ULONG tag = sort_[c].ulPropTag;
        StoredValues stored;
        MessageRecord m;
        if (stored.Load(db_, (*ids_)[i], &m)) {
            SPropValue v{};
            if (IsComputedMessageTag(tag, true)) {
                if (SUCCEEDED(ComputedMessageProp(store_, m, tag, true, slot.props.Get(), &v))) got.push_back(v);
            } else {
                stored.Find(tag, slot.props.Get(), got, true);
            }
        }
        if (!got.empty()) {
            // The first slot of the head block holds the value itself.
            slot.props.Get()[0] = got[0];
            slot.count = 1;
        }
        return slot;
    }

    bool Less(std::size_t x, std::size_t y)
    {
        for (std::size_t c = 0; c < sort_.size(); ++c) {
            const SortDatum& a = data_[c][x];
            const SortDatum& b = data_[c][y];
            int r = 0;
            if (a.present != b.present) {
                r = a.present ? 1 : -1;
            } else if (a.present) {
                const std::size_t n = std::min(a.key.size(), b.key.size());
                r = n ? std::memcmp(a.key.data(), b.key.data(), n) : 0;
                if (r == 0 && a.key.size() != b.key.size() && !a.byValue && !b.byValue)
                    r = a.key.size() < b.key.size() ? -1 : 1;
                if (r == 0 && (a.byValue || b.byValue)) {
                    const PropArray& va = Value(c, x);
                    const PropArray& vb = Value(c, y);
                    r = CompareSortValues(va.count ? va.props.Get() : nullptr, vb.count ? vb.props.Get() : nullptr);
                }
            }
            if (sort_[c].ulOrder == TABLE_SORT_DESCEND) r = -r;
            if (r != 0) return r < 0;
        }
        return false;
    }

    StoreDb& db_;
    const MAPIUID& store_;
    RowId folder_;
    std::vector<SSortOrder> sort_;
    const std::vector<RowId>* ids_ = nullptr;
    std::vector<std::vector<SortDatum>> data_;
    std::map<std::pair<std::size_t, std::size_t>, PropArray> values_;
};

}  // namespace

// ---- The value index ------------------------------------------------------------------

namespace {
// Tags every folder is indexed on: the message ID, which delivery looks up
// for each article it threads. Others are indexed on first use.
constexpr ULONG kDefaultIndexed[] = {PR_INTERNET_MESSAGE_ID};
}  // namespace

bool IsIndexableTag(ULONG tag)
{
    switch (PROP_TYPE(tag)) {
    case PT_I2:
    case PT_LONG:
    case PT_I8:
    case PT_CURRENCY:
    case PT_BOOLEAN:
    case PT_R4:
    case PT_DOUBLE:
    case PT_APPTIME:
    case PT_SYSTIME:
    case PT_CLSID:
    case PT_STRING8:
    case PT_BINARY: return true;
    default: return false;
    }
}

std::vector<ULONG> IndexedTags(StoreDb& db, RowId folder)
{
    std::vector<ULONG> tags(std::begin(kDefaultIndexed), std::end(kDefaultIndexed));
    Stmt s(db, "SELECT tag FROM indexed WHERE folder=?1");
    s.Bind(1, folder);
    while (s.Step()) tags.push_back(static_cast<ULONG>(s.Int(0)));
    return tags;
}

bool IsIndexed(StoreDb& db, RowId folder, ULONG tag)
{
    if (std::find(std::begin(kDefaultIndexed), std::end(kDefaultIndexed), tag) != std::end(kDefaultIndexed)) return true;
    Stmt s(db, "SELECT 1 FROM indexed WHERE folder=?1 AND tag=?2");
    s.Bind(1, folder).Bind(2, std::int64_t{tag});
    return s.Step();
}

void EnsureIndexed(StoreDb& db, RowId folder, ULONG tag)
{
    if (!IsIndexableTag(tag) || IsIndexed(db, folder, tag)) return;
    Tx tx(db, true);
    if (IsIndexed(db, folder, tag)) return;  // another process was first
    std::vector<RowId> ids = FolderMessages(db, folder, false);
    const std::vector<RowId> assoc = FolderMessages(db, folder, true);
    ids.insert(ids.end(), assoc.begin(), assoc.end());
    std::vector<SPropValue> values;
    std::vector<BYTE> key;
    for (RowId id : ids) {
        StoredValues stored;
        if (!stored.Load(db, id)) continue;
        MapiBuffer<SPropValue> arena;
        if (FAILED(MAPIAllocateBuffer(sizeof(SPropValue), arena.AsVoidOut())))
            throw DbError(MAPI_E_NOT_ENOUGH_MEMORY, "index");
        values.clear();
        stored.Find(tag, arena.Get(), values, true);
        if (values.empty() || !ValueKey(values[0], key)) continue;
        Stmt(db, "INSERT OR IGNORE INTO prop_index(folder, tag, ikey, message) VALUES(?1, ?2, ?3, ?4)")
            .Bind(1, folder)
            .Bind(2, std::int64_t{tag})
            .Bind(3, std::span<const BYTE>(key))
            .Bind(4, id)
            .Run();
    }
    Stmt(db, "INSERT INTO indexed(folder, tag) VALUES(?1, ?2)").Bind(1, folder).Bind(2, std::int64_t{tag}).Run();
    tx.Commit();
}

void UnindexMessage(StoreDb& db, RowId id, RowId folder)
{
    StoredValues stored;
    if (!stored.Load(db, id)) return;
    MapiBuffer<SPropValue> arena;
    if (FAILED(MAPIAllocateBuffer(sizeof(SPropValue), arena.AsVoidOut()))) throw DbError(MAPI_E_NOT_ENOUGH_MEMORY, "values");
    std::vector<SPropValue> values;
    std::vector<BYTE> key;
    for (ULONG tag : IndexedTags(db, folder)) {
        values.clear();
        stored.Find(tag, arena.Get(), values, true);
        if (values.empty() || !ValueKey(values[0], key)) continue;
        Stmt(db, "DELETE FROM prop_index WHERE folder=?1 AND tag=?2 AND ikey=?3 AND message=?4")
            .Bind(1, folder)
            .Bind(2, std::int64_t{tag})
            .Bind(3, std::span<const BYTE>(key))
            .Bind(4, id)
            .Run();
    }
}

void IndexMessage(StoreDb& db, RowId id, RowId folder, std::span<const SPropValue> values)
{
    const std::vector<ULONG> tags = IndexedTags(db, folder);
    std::vector<BYTE> key;
    for (const SPropValue& v : values) {
        if (std::find(tags.begin(), tags.end(), v.ulPropTag) == tags.end() || !ValueKey(v, key)) continue;
        Stmt(db, "INSERT OR IGNORE INTO prop_index(folder, tag, ikey, message) VALUES(?1, ?2, ?3, ?4)")
            .Bind(1, folder)
            .Bind(2, std::int64_t{v.ulPropTag})
            .Bind(3, std::span<const BYTE>(key))
            .Bind(4, id)
            .Run();
    }
}

// ---- Keys ------------------------------------------------------------------------------

bool ValueKey(const SPropValue& v, std::vector<BYTE>& key)
{
    key.clear();
    const PV& x = v.Value;
    switch (PROP_TYPE(v.ulPropTag)) {
    case PT_I2: PutSigned(key, x.i, 2); return true;
    case PT_LONG: PutSigned(key, x.l, 4); return true;
    case PT_I8: PutSigned(key, x.li.QuadPart, 8); return true;
    case PT_CURRENCY: PutSigned(key, x.cur.int64, 8); return true;
    case PT_BOOLEAN: key.push_back(x.b ? 1 : 0); return true;
    case PT_R4: PutDouble(key, x.flt); return true;
    case PT_DOUBLE:
    case PT_APPTIME: PutDouble(key, x.dbl); return true;
    case PT_SYSTIME: PutBe(key, std::uint64_t{x.ft.dwHighDateTime} << 32 | x.ft.dwLowDateTime, 8); return true;
    case PT_CLSID:
        if (!x.lpguid) return false;
        PutBytes(key, reinterpret_cast<const BYTE*>(x.lpguid), sizeof(GUID), false);
        return true;
    case PT_STRING8:
        if (!x.lpszA) return false;
        PutBytes(key, reinterpret_cast<const BYTE*>(x.lpszA), std::strlen(x.lpszA), true);
        return true;
    case PT_BINARY:
        if (!x.bin.lpb && x.bin.cb) return false;
        PutBytes(key, x.bin.lpb, x.bin.cb, false);
        return true;
    default: return false;
    }
}

int CompareSortValues(const SPropValue* a, const SPropValue* b)
{
    const bool pa = a && PROP_TYPE(a->ulPropTag) != PT_ERROR;
    const bool pb = b && PROP_TYPE(b->ulPropTag) != PT_ERROR;
    if (pa != pb) return pa ? 1 : -1;
    if (!pa) return 0;
    return ComparePropValues(*a, *b, true);
}

// Collects the tags a restriction reads.
void RestrictionTags(const SRestriction& r, std::vector<ULONG>& tags, int depth)
{
    if (depth > static_cast<int>(kMaxRestrictionDepth)) return;
    switch (r.rt) {
    case RES_AND:
    case RES_OR:
        for (ULONG i = 0; i < r.res.resAnd.cRes; ++i) RestrictionTags(r.res.resAnd.lpRes[i], tags, depth + 1);
        break;
    case RES_NOT:
        if (r.res.resNot.lpRes) RestrictionTags(*r.res.resNot.lpRes, tags, depth + 1);
        break;
    case RES_CONTENT: tags.push_back(r.res.resContent.ulPropTag); break;
    case RES_PROPERTY: tags.push_back(r.res.resProperty.ulPropTag); break;
    case RES_COMPAREPROPS:
        tags.push_back(r.res.resCompareProps.ulPropTag1);
        tags.push_back(r.res.resCompareProps.ulPropTag2);
        break;
    case RES_BITMASK: tags.push_back(r.res.resBitMask.ulPropTag); break;
    case RES_SIZE: tags.push_back(r.res.resSize.ulPropTag); break;
    case RES_EXIST: tags.push_back(r.res.resExist.ulPropTag); break;
    default: break;
    }
}

// ---- Computed values ----------------------------------------------------------------------

SCODE ChainBinary(std::span<const BYTE> bytes, void* lpBase, SBinary& out)
{
    void* p = nullptr;
    if (const SCODE sc = MAPIAllocateMore(static_cast<ULONG>(std::max<std::size_t>(1, bytes.size())), lpBase, &p);
        FAILED(sc))
        return sc;
    if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
    out.cb = static_cast<ULONG>(bytes.size());
    out.lpb = static_cast<LPBYTE>(p);
    return S_OK;
}

namespace {
constexpr ULONG kComputedAlways[] = {PR_ENTRYID,         PR_RECORD_KEY,        PR_PARENT_ENTRYID, PR_STORE_ENTRYID,
                                     PR_STORE_RECORD_KEY, PR_OBJECT_TYPE,      PR_MSG_STATUS,     PR_MESSAGE_SIZE,
                                     PR_HASATTACH,        PR_CREATION_TIME,    PR_LAST_MODIFICATION_TIME,
                                     PR_ACCESS,           PR_ACCESS_LEVEL};
constexpr ULONG kComputedInTables[] = {PR_MESSAGE_FLAGS, PR_INSTANCE_KEY};
}  // namespace

bool IsComputedMessageTag(ULONG tag, bool inTable)
{
    for (ULONG t : kComputedAlways) {
        if (MatchesTag(tag, t)) return true;
    }
    if (inTable) {
        for (ULONG t : kComputedInTables) {
            if (MatchesTag(tag, t)) return true;
        }
    }
    return false;
}

std::vector<ULONG> ComputedMessageTags(bool inTable)
{
    std::vector<ULONG> out(std::begin(kComputedAlways), std::end(kComputedAlways));
    if (inTable) out.insert(out.end(), std::begin(kComputedInTables), std::end(kComputedInTables));
    return out;
}

HRESULT ComputedMessageProp(const MAPIUID& store, const MessageRecord& m, ULONG tag, bool inTable, void* lpBase,
                            SPropValue* out)
{
    ULONG canonical = 0;
    for (ULONG t : kComputedAlways) {
        if (MatchesTag(tag, t)) canonical = t;
    }
    if (inTable) {
        for (ULONG t : kComputedInTables) {
            if (MatchesTag(tag, t)) canonical = t;
        }
    }
    if (!canonical) return MAPI_E_NOT_FOUND;
    out->ulPropTag = canonical;
    auto entryId = [&](ULONG kind, RowId id) {
        const auto bytes = MakeStoreEntryId(store, kind, id);
        return ChainBinary(bytes, lpBase, out->Value.bin);
    };
    switch (canonical) {
    case PR_ENTRYID:
    case PR_RECORD_KEY: return entryId(MAPI_MESSAGE, m.id);
    case PR_PARENT_ENTRYID: return entryId(MAPI_FOLDER, m.folder);
    case PR_STORE_ENTRYID: return entryId(MAPI_STORE, 0);
    case PR_STORE_RECORD_KEY: return ChainBinary(std::span<const BYTE>(store.ab, sizeof store.ab), lpBase, out->Value.bin);
    case PR_INSTANCE_KEY: {
        BYTE key[8];
        for (int i = 0; i < 8; ++i) key[i] = static_cast<BYTE>(static_cast<std::uint64_t>(m.id) >> (8 * i));
        return ChainBinary(key, lpBase, out->Value.bin);
    }
    case PR_OBJECT_TYPE: out->Value.l = MAPI_MESSAGE; return S_OK;
    case PR_MESSAGE_FLAGS: out->Value.l = static_cast<LONG>(m.flags); return S_OK;
    case PR_MSG_STATUS: out->Value.l = static_cast<LONG>(m.status); return S_OK;
    case PR_MESSAGE_SIZE: out->Value.l = static_cast<LONG>(m.size); return S_OK;
    case PR_HASATTACH: out->Value.b = (m.flags & MSGFLAG_HASATTACH) ? 1 : 0; return S_OK;
    case PR_CREATION_TIME: out->Value.ft = TicksToFileTime(m.created); return S_OK;
    case PR_LAST_MODIFICATION_TIME: out->Value.ft = TicksToFileTime(m.modified); return S_OK;
    case PR_ACCESS: out->Value.l = MAPI_ACCESS_READ | MAPI_ACCESS_MODIFY | MAPI_ACCESS_DELETE; return S_OK;
    case PR_ACCESS_LEVEL: out->Value.l = MAPI_MODIFY; return S_OK;
    default: return MAPI_E_NOT_FOUND;
    }
}

// ---- Rows and keys ------------------------------------------------------------------------

bool MessageRow(StoreDb& db, const MAPIUID& store, RowId id, std::span<const ULONG> columns, SRow& out)
{
    out = SRow{};
    StoredValues stored;
    MessageRecord m;
    if (!stored.Load(db, id, &m)) return false;
    MapiBuffer<SPropValue> props;
    const auto n = static_cast<ULONG>(columns.size());
    if (FAILED(MAPIAllocateBuffer(std::max<ULONG>(1, n) * sizeof(SPropValue), props.AsVoidOut())))
        throw DbError(MAPI_E_NOT_ENOUGH_MEMORY, "row");
    std::vector<SPropValue> got;
    for (ULONG i = 0; i < n; ++i) {
        SPropValue& v = props.Get()[i];
        const ULONG tag = columns[i];
        v = SPropValue{};
        HRESULT hr = ComputedMessageProp(store, m, tag, true, props.Get(), &v);
        if (hr == MAPI_E_NOT_FOUND) {
            got.clear();
            stored.Find(tag, props.Get(), got, true);
            if (!got.empty()) {
                v = got[0];
                hr = S_OK;
            }
        }
        if (FAILED(hr)) {
            if (hr == MAPI_E_NOT_ENOUGH_MEMORY) throw DbError(hr, "row");
            v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
            v.Value.err = MAPI_E_NOT_FOUND;
        }
    }
    out.cValues = n;
    out.lpProps = props.Release();
    return true;
}

std::vector<RowId> ContentsKeys(StoreDb& db, const MAPIUID& store, const ContentsQuery& q)
{
    Planner planner(db, store, q.folder, q.associated);
    std::vector<RowId> ids;
    if (!q.restriction) {
        ids = planner.Universe();
    } else {
        Plan plan = planner.Run(*q.restriction, 0);
        if (plan.all) {
            ids = planner.Universe();
        } else {
            ids = std::move(plan.ids);
        }
        if (!plan.exact) {
            // Whatever the index could not decide is decided on the values.
            std::vector<ULONG> tags;
            RestrictionTags(*q.restriction, tags);
            ValueLoader loader(db, store, tags);
            std::vector<SPropValue> values;
            MapiBuffer<SPropValue> arena;
            std::vector<RowId> kept;
            for (RowId id : ids) {
                if (loader.Load(id, values, arena) &&
                    EvaluateRestriction(*q.restriction, values.data(), static_cast<ULONG>(values.size())))
                    kept.push_back(id);
            }
            ids = std::move(kept);
        }
    }
    // Many rows take their keys from one pass over the folder's index; a few
    // take them by lookups.
    constexpr std::size_t kBulkRows = 2000;
    Sorter(db, store, q.folder, q.sort).Sort(ids, ids.size() > kBulkRows);
    return ids;
}

}  // namespace quillory::store
