#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <functional>
#include <random>

#include "platform/mapi/restriction.h"
#include "platform/mapi/tests/store_test_util.h"

namespace quillory::testing {
namespace {

constexpr ULONG kNumber = PR_INTERNET_ARTICLE_NUMBER;
constexpr ULONG kIndex = PR_CONVERSATION_INDEX;

// Restrictions built from parts that stay alive with the builder.
class Builder {
public:
    SRestriction* Eq(ULONG tag, SPropValue v) { return Prop(RELOP_EQ, tag, v); }
    SRestriction* Prop(ULONG relop, ULONG tag, SPropValue v)
    {
        values_.push_back(std::make_unique<SPropValue>(v));
        auto* r = New();
        r->rt = RES_PROPERTY;
        r->res.resProperty = SPropertyRestriction{relop, tag, values_.back().get()};
        return r;
    }
    SRestriction* Exist(ULONG tag)
    {
        auto* r = New();
        r->rt = RES_EXIST;
        r->res.resExist = SExistRestriction{0, tag, 0};
        return r;
    }
    SRestriction* Not(SRestriction* inner)
    {
        auto* r = New();
        r->rt = RES_NOT;
        r->res.resNot = SNotRestriction{0, inner};
        return r;
    }
    SRestriction* Many(ULONG rt, std::vector<SRestriction*> parts)
    {
        arrays_.push_back(std::vector<SRestriction>());
        for (SRestriction* p : parts) arrays_.back().push_back(*p);
        auto* r = New();
        r->rt = rt;
        r->res.resAnd = SAndRestriction{static_cast<ULONG>(arrays_.back().size()), arrays_.back().data()};
        return r;
    }
    SRestriction* Bitmask(ULONG tag, ULONG rel, ULONG mask)
    {
        auto* r = New();
        r->rt = RES_BITMASK;
        r->res.resBitMask = SBitMaskRestriction{rel, tag, mask};
        return r;
    }
    SRestriction* Content(ULONG tag, ULONG fuzzy, SPropValue v)
    {
        values_.push_back(std::make_unique<SPropValue>(v));
        auto* r = New();
        r->rt = RES_CONTENT;
        r->res.resContent = SContentRestriction{fuzzy, tag, values_.back().get()};
        return r;
    }

private:
    SRestriction* New()
    {
        nodes_.push_back(std::make_unique<SRestriction>());
        return nodes_.back().get();
    }
    std::vector<std::unique_ptr<SRestriction>> nodes_;
    std::vector<std::unique_ptr<SPropValue>> values_;
    std::deque<std::vector<SRestriction>> arrays_;
};

class StoreTables : public ::testing::Test {
protected:
    void SetUp() override
    {
        store = OpenStore(StorePath(home));
        inbox = OpenInbox(store.Get());
        folder = CreateSubfolder(inbox.Get(), "table");
        // Values chosen to collide: case variants, long strings and binaries
        // sharing their first 64 bytes, missing values.
        const std::string longA = std::string(70, 'L') + "a";
        const std::string longB = std::string(70, 'L') + "b";
        const char* subjects[] = {"alpha", "Alpha", "ALPHA", "beta", "gamma", "", longA.c_str(), longB.c_str()};
        indexes = {{1, 2}, {1, 2, 0}, {2}, std::vector<BYTE>(70, 9), std::vector<BYTE>(71, 9)};
        std::mt19937 rng(2024);
        for (int i = 0; i < 300; ++i) {
            std::vector<SPropValue> v;
            if (rng() % 5) v.push_back(LongProp(kNumber, static_cast<LONG>(rng() % 40) - 10));
            if (rng() % 4) v.push_back(BinaryProp(kIndex, indexes[rng() % indexes.size()]));
            if (rng() % 3 == 0) v.push_back(StringProp(PR_NEWSGROUP_NAME, "alt.test"));
            auto m = AddMessage(folder.Get(), subjects[rng() % 8], v);
            ids.push_back(GetBinary(m.Get(), PR_ENTRYID));
        }
        // Some unread, some marked.
        for (std::size_t i = 0; i < ids.size(); i += 3) {
            SBinary bin;
            ENTRYLIST one = OneEntry(ids[i], bin);
            ASSERT_EQ(folder->SetReadFlags(&one, 0, nullptr, CLEAR_READ_FLAG), S_OK);
        }
        // A message elsewhere and an associated one must never show.
        AddMessage(inbox.Get(), "alpha");
        ComPtr<IMessage> fai;
        ASSERT_EQ(folder->CreateMessage(nullptr, MAPI_ASSOCIATED, &fai), S_OK);
        SPropValue s = StringProp(PR_SUBJECT, "alpha");
        ASSERT_EQ(fai->SetProps(1, &s, nullptr), S_OK);
        ASSERT_EQ(fai->SaveChanges(0), S_OK);
    }

    // Every message's values, in creation order.
    std::vector<MapiBuffer<SPropValue>> AllValues(std::vector<ULONG>& counts)
    {
        std::vector<MapiBuffer<SPropValue>> out;
        for (auto& id : ids) {
            auto m = OpenEntryAs<IMessage>(store.Get(), id, 0);
            ULONG n = 0;
            MapiBuffer<SPropValue> v;
            EXPECT_TRUE(SUCCEEDED(m->GetProps(nullptr, 0, &n, &v)));
            counts.push_back(n);
            out.push_back(std::move(v));
        }
        return out;
    }

    // The entry IDs the table gives, read a few rows at a time.
    std::vector<std::vector<BYTE>> TableIds(const SRestriction* r, std::vector<SSortOrder> sort)
    {
        ComPtr<IMAPITable> table;
        EXPECT_EQ(folder->GetContentsTable(0, &table), S_OK);
        auto cols = MakeTagArray({PR_ENTRYID, PR_SUBJECT});
        EXPECT_EQ(table->SetColumns(cols.Get(), 0), S_OK);
        if (r) {
            EXPECT_EQ(table->Restrict(const_cast<LPSRestriction>(r), 0), S_OK);
        }
        if (!sort.empty()) {
            MapiBuffer<SSortOrderSet> set;
            EXPECT_EQ(MAPIAllocateBuffer(CbNewSSortOrderSet(static_cast<ULONG>(sort.size())), set.AsVoidOut()), S_OK);
            set->cSorts = static_cast<ULONG>(sort.size());
            set->cCategories = set->cExpanded = 0;
            std::copy(sort.begin(), sort.end(), set->aSort);
            EXPECT_EQ(table->SortTable(set.Get(), 0), S_OK);
        }
        std::vector<std::vector<BYTE>> out;
        for (;;) {
            RowSetPtr rows;
            EXPECT_EQ(table->QueryRows(7, 0, &rows), S_OK);
            if (!rows || rows->cRows == 0) break;
            for (ULONG i = 0; i < rows->cRows; ++i) {
                const SBinary& b = rows->aRow[i].lpProps[0].Value.bin;
                out.emplace_back(b.lpb, b.lpb + b.cb);
            }
        }
        EXPECT_EQ(RowCount(table.Get()), out.size());
        return out;
    }

    TempHome home;
    ComPtr<IMsgStore> store;
    ComPtr<IMAPIFolder> inbox, folder;
    std::vector<std::vector<BYTE>> indexes;
    std::vector<std::vector<BYTE>> ids;
};

const SPropValue* Find(const SPropValue* v, ULONG n, ULONG tag)
{
    for (ULONG i = 0; i < n; ++i) {
        if (v[i].ulPropTag == tag) return &v[i];
    }
    return nullptr;
}

TEST_F(StoreTables, RestrictionsAndSortsAgreeWithBruteForce)
{
    std::vector<ULONG> counts;
    auto values = AllValues(counts);
    Builder b;
    const std::string longA = std::string(70, 'L') + "a";
    std::vector<BYTE> shortIndex{1, 2}, longIndex(71, 9);
    std::vector<BYTE> ownId = ids[17], otherStore(ids[17]);
    otherStore[5] ^= 0xFF;
    std::vector<SRestriction*> cases = {
        b.Eq(PR_SUBJECT, StringProp(PR_SUBJECT, "alpha")),
        b.Eq(PR_SUBJECT, StringProp(PR_SUBJECT, "ALPHA")),
        b.Eq(PR_SUBJECT, StringProp(PR_SUBJECT, longA.c_str())),
        b.Eq(PR_SUBJECT, StringProp(PR_SUBJECT, "")),
        b.Eq(kNumber, LongProp(kNumber, 3)),
        b.Eq(kNumber, StringProp(PR_SUBJECT, "3")),  // a value of another type never matches
        b.Eq(kIndex, BinaryProp(kIndex, shortIndex)),
        b.Eq(kIndex, BinaryProp(kIndex, longIndex)),
        b.Eq(PR_ENTRYID, BinaryProp(PR_ENTRYID, ownId)),
        b.Eq(PR_ENTRYID, BinaryProp(PR_ENTRYID, otherStore)),
        b.Exist(PR_NEWSGROUP_NAME),
        b.Not(b.Exist(PR_NEWSGROUP_NAME)),
        b.Not(b.Eq(PR_SUBJECT, StringProp(PR_SUBJECT, "alpha"))),
        b.Many(RES_AND, {b.Eq(PR_SUBJECT, StringProp(PR_SUBJECT, "beta")), b.Eq(kNumber, LongProp(kNumber, 5))}),
        b.Many(RES_AND, {b.Eq(PR_SUBJECT, StringProp(PR_SUBJECT, "gamma")), b.Exist(kIndex),
                         b.Not(b.Exist(PR_NEWSGROUP_NAME))}),
        b.Many(RES_OR, {b.Eq(PR_SUBJECT, StringProp(PR_SUBJECT, "beta")), b.Eq(kNumber, LongProp(kNumber, -10))}),
        b.Many(RES_OR, {b.Eq(PR_SUBJECT, StringProp(PR_SUBJECT, "beta")), b.Prop(RELOP_GT, kNumber, LongProp(kNumber, 25))}),
        b.Prop(RELOP_LE, kNumber, LongProp(kNumber, 0)),
        b.Bitmask(PR_MESSAGE_FLAGS, BMR_EQZ, MSGFLAG_READ),
        b.Many(RES_AND, {b.Bitmask(PR_MESSAGE_FLAGS, BMR_NEZ, MSGFLAG_READ),
                         b.Eq(PR_SUBJECT, StringProp(PR_SUBJECT, "Alpha"))}),
        b.Content(PR_SUBJECT, FL_SUBSTRING | FL_IGNORECASE, StringProp(PR_SUBJECT, "LPH")),
        b.Many(RES_AND, {}),
    };
    std::vector<std::vector<SSortOrder>> sorts = {
        {},
        {{PR_SUBJECT, TABLE_SORT_ASCEND}},
        {{kNumber, TABLE_SORT_DESCEND}, {PR_SUBJECT, TABLE_SORT_ASCEND}},
        {{kIndex, TABLE_SORT_ASCEND}},
        {{PR_MESSAGE_FLAGS, TABLE_SORT_ASCEND}, {kNumber, TABLE_SORT_ASCEND}},
    };
    int checked = 0;
    std::size_t matchedNone = 0, matchedAll = 0;
    for (std::size_t c = 0; c < cases.size(); ++c) {
        for (const auto& sort : sorts) {
            std::vector<std::size_t> expected;
            for (std::size_t i = 0; i < ids.size(); ++i) {
                if (EvaluateRestriction(*cases[c], values[i].Get(), counts[i])) expected.push_back(i);
            }
            std::stable_sort(expected.begin(), expected.end(), [&](std::size_t x, std::size_t y) {
                for (const SSortOrder& s : sort) {
                    const SPropValue* a = Find(values[x].Get(), counts[x], s.ulPropTag);
                    const SPropValue* z = Find(values[y].Get(), counts[y], s.ulPropTag);
                    int r = (a != nullptr) - (z != nullptr);  // missing values first
                    if (a && z) r = ComparePropValues(*a, *z, true);
                    if (s.ulOrder == TABLE_SORT_DESCEND) r = -r;
                    if (r) return r < 0;
                }
                return false;
            });
            std::vector<std::vector<BYTE>> want;
            for (std::size_t i : expected) want.push_back(ids[i]);
            if (sort.empty()) {
                matchedNone += expected.empty();
                matchedAll += expected.size() == ids.size();
            }
            EXPECT_EQ(TableIds(cases[c], sort), want) << "restriction " << c << " with " << sort.size() << " sorts";
            ++checked;
        }
    }
    EXPECT_EQ(checked, 110);
    // The cases select something, and not everything (two are meant to: the
    // value of another type, and the foreign entry ID; one takes all).
    EXPECT_EQ(matchedNone, 2u);
    EXPECT_EQ(matchedAll, 1u);
}

// The entry IDs a restriction gives in a folder, by the table and by
// evaluating every message of the folder.
std::pair<std::vector<std::vector<BYTE>>, std::vector<std::vector<BYTE>>> Both(IMsgStore* store, IMAPIFolder* f,
                                                                             SRestriction* r)
{
    ComPtr<IMAPITable> table;
    EXPECT_EQ(f->GetContentsTable(0, &table), S_OK);
    auto cols = MakeTagArray({PR_ENTRYID});
    EXPECT_EQ(table->SetColumns(cols.Get(), 0), S_OK);
    RowSetPtr all;
    EXPECT_EQ(table->QueryRows(100000, 0, &all), S_OK);
    std::vector<std::vector<BYTE>> brute;
    for (ULONG i = 0; i < all->cRows; ++i) {
        const SBinary& b = all->aRow[i].lpProps[0].Value.bin;
        std::vector<BYTE> id(b.lpb, b.lpb + b.cb);
        auto m = OpenEntryAs<IMessage>(store, id, 0);
        ULONG n = 0;
        MapiBuffer<SPropValue> v;
        EXPECT_TRUE(SUCCEEDED(m->GetProps(nullptr, 0, &n, &v)));
        if (EvaluateRestriction(*r, v.Get(), n)) brute.push_back(id);
    }
    EXPECT_EQ(table->Restrict(r, 0), S_OK);
    EXPECT_EQ(table->SeekRow(BOOKMARK_BEGINNING, 0, nullptr), S_OK);
    RowSetPtr rows;
    EXPECT_EQ(table->QueryRows(100000, 0, &rows), S_OK);
    std::vector<std::vector<BYTE>> indexed;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SBinary& b = rows->aRow[i].lpProps[0].Value.bin;
        indexed.emplace_back(b.lpb, b.lpb + b.cb);
    }
    return {indexed, brute};
}

TEST_F(StoreTables, IndexesMadeForAQueryFollowLaterChanges)
{
    Builder b;
    SRestriction* seven = b.Eq(kNumber, LongProp(kNumber, 7));
    auto [first, expected] = Both(store.Get(), folder.Get(), seven);  // indexes the number here
    ASSERT_EQ(first, expected);
    ASSERT_FALSE(first.empty());

    auto other = CreateSubfolder(inbox.Get(), "other");
    std::vector<std::vector<BYTE>> outside;
    for (int i = 0; i < 3; ++i) outside.push_back(GetBinary(AddMessage(other.Get(), "o", {LongProp(kNumber, 7)}).Get(), PR_ENTRYID));
    AddMessage(folder.Get(), "new", {LongProp(kNumber, 7)});
    // A message changed to the value, and one changed away from it.
    auto becomes = OpenEntryAs<IMessage>(store.Get(), ids[0]);
    SPropValue v = LongProp(kNumber, 7);
    ASSERT_EQ(becomes->SetProps(1, &v, nullptr), S_OK);
    ASSERT_EQ(becomes->SaveChanges(0), S_OK);
    auto leaves = OpenEntryAs<IMessage>(store.Get(), first[0]);
    v = LongProp(kNumber, 8);
    ASSERT_EQ(leaves->SetProps(1, &v, nullptr), S_OK);
    ASSERT_EQ(leaves->SaveChanges(0), S_OK);
    // Moved in, copied in, moved out, deleted.
    SBinary bin;
    ENTRYLIST one = OneEntry(outside[0], bin);
    ASSERT_EQ(other->CopyMessages(&one, nullptr, folder.Get(), 0, nullptr, MESSAGE_MOVE), S_OK);
    one = OneEntry(outside[1], bin);
    ASSERT_EQ(other->CopyMessages(&one, nullptr, folder.Get(), 0, nullptr, 0), S_OK);
    auto gone = first.back();
    one = OneEntry(gone, bin);
    ASSERT_EQ(folder->CopyMessages(&one, nullptr, other.Get(), 0, nullptr, MESSAGE_MOVE), S_OK);
    if (first.size() > 2) {
        auto deleted = first[1];
        one = OneEntry(deleted, bin);
        ASSERT_EQ(folder->DeleteMessages(&one, 0, nullptr, 0), S_OK);
    }
    // A copy of the whole folder is indexed as its source.
    auto copyEid = GetBinary(folder.Get(), PR_ENTRYID);
    ASSERT_EQ(inbox->CopyFolder(static_cast<ULONG>(copyEid.size()), reinterpret_cast<LPENTRYID>(copyEid.data()), nullptr,
                                other.Get(), nullptr, 0, nullptr, 0),
              S_OK);

    store = nullptr;
    inbox = folder = other = nullptr;
    becomes = leaves = nullptr;
    store = OpenStore(StorePath(home));  // the index is kept in the file
    folder = OpenEntryAs<IMAPIFolder>(store.Get(), copyEid);
    auto [after, brute] = Both(store.Get(), folder.Get(), seven);
    EXPECT_EQ(after, brute);
    EXPECT_NE(after, first);
    EXPECT_NE(std::find(after.begin(), after.end(), outside[0]), after.end());  // moved in, same entry ID
    EXPECT_EQ(std::find(after.begin(), after.end(), gone), after.end());
    ComPtr<IMAPIFolder> copy;
    ASSERT_EQ(OpenEntryAs<IMAPIFolder>(store.Get(), GetBinary(OpenInbox(store.Get()).Get(), PR_ENTRYID))
                  ->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>("other"), nullptr, nullptr, OPEN_IF_EXISTS, &copy),
              S_OK);
    auto [inOther, bruteOther] = Both(store.Get(), copy.Get(), seven);
    EXPECT_EQ(inOther, bruteOther);
}

TEST_F(StoreTables, PositionsBookmarksFindRowAndLiveChanges)
{
    ComPtr<IMAPITable> table;
    ASSERT_EQ(folder->GetContentsTable(0, &table), S_OK);
    auto cols = MakeTagArray({PR_ENTRYID});
    ASSERT_EQ(table->SetColumns(cols.Get(), 0), S_OK);
    EXPECT_EQ(RowCount(table.Get()), 300u);
    LONG sought = 0;
    ASSERT_EQ(table->SeekRow(BOOKMARK_BEGINNING, 250, &sought), S_OK);
    EXPECT_EQ(sought, 250);
    BOOKMARK mark = 0;
    ASSERT_EQ(table->CreateBookmark(&mark), S_OK);
    ASSERT_EQ(table->SeekRow(BOOKMARK_CURRENT, 100, &sought), S_OK);
    EXPECT_EQ(sought, 50);  // stops at the end
    RowSetPtr rows;
    ASSERT_EQ(table->QueryRows(10, 0, &rows), S_OK);
    EXPECT_EQ(rows->cRows, 0u);
    ASSERT_EQ(table->SeekRow(mark, 0, &sought), S_OK);
    ASSERT_EQ(table->QueryRows(1, TBL_NOADVANCE, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    EXPECT_EQ(rows->aRow[0].lpProps[0].Value.bin.cb, ids[250].size());
    EXPECT_TRUE(std::equal(ids[250].begin(), ids[250].end(), rows->aRow[0].lpProps[0].Value.bin.lpb));
    ULONG row = 0, num = 0, den = 0;
    ASSERT_EQ(table->QueryPosition(&row, &num, &den), S_OK);
    EXPECT_EQ(row, 250u);
    ASSERT_EQ(table->SeekRowApprox(1, 2), S_OK);
    ASSERT_EQ(table->QueryPosition(&row, &num, &den), S_OK);
    EXPECT_EQ(row, 150u);
    ASSERT_EQ(table->QueryRows(-5, 0, &rows), S_OK);
    EXPECT_EQ(rows->cRows, 5u);
    ASSERT_EQ(table->QueryPosition(&row, &num, &den), S_OK);
    EXPECT_EQ(row, 145u);

    Builder b;
    ASSERT_EQ(table->FindRow(b.Eq(PR_ENTRYID, BinaryProp(PR_ENTRYID, ids[10])), BOOKMARK_BEGINNING, 0), S_OK);
    ASSERT_EQ(table->QueryPosition(&row, &num, &den), S_OK);
    EXPECT_EQ(row, 10u);
    EXPECT_EQ(table->FindRow(b.Eq(PR_ENTRYID, BinaryProp(PR_ENTRYID, ids[5])), BOOKMARK_CURRENT, 0), MAPI_E_NOT_FOUND);
    MapiBuffer<MAPIERROR> err;
    ASSERT_EQ(table->GetLastError(MAPI_E_NOT_FOUND, 0, &err), S_OK);
    ASSERT_TRUE(err && err->lpszError);
    EXPECT_STREQ(err->lpszError, "MAPI error 0x8004010F");
    ASSERT_EQ(table->FindRow(b.Eq(PR_ENTRYID, BinaryProp(PR_ENTRYID, ids[5])), BOOKMARK_CURRENT, DIR_BACKWARD), S_OK);
    ASSERT_EQ(table->QueryPosition(&row, &num, &den), S_OK);
    EXPECT_EQ(row, 5u);

    // The open table follows changes: a new message, a deleted bookmarked row.
    auto m = AddMessage(folder.Get(), "late");
    EXPECT_EQ(RowCount(table.Get()), 301u);
    SBinary bin;
    ENTRYLIST gone = OneEntry(ids[250], bin);
    ASSERT_EQ(folder->DeleteMessages(&gone, 0, nullptr, 0), S_OK);
    EXPECT_EQ(RowCount(table.Get()), 300u);
    EXPECT_EQ(table->SeekRow(mark, 0, &sought), MAPI_W_POSITION_CHANGED);
    ASSERT_EQ(table->FreeBookmark(mark), S_OK);
    EXPECT_EQ(table->SeekRow(mark, 0, &sought), MAPI_E_INVALID_BOOKMARK);

    // A restricted table sees a new matching message.
    ComPtr<IMAPITable> news;
    ASSERT_EQ(folder->GetContentsTable(0, &news), S_OK);
    ASSERT_EQ(news->Restrict(b.Eq(PR_SUBJECT, StringProp(PR_SUBJECT, "unique")), 0), S_OK);
    EXPECT_EQ(RowCount(news.Get()), 0u);
    AddMessage(folder.Get(), "unique");
    EXPECT_EQ(RowCount(news.Get()), 1u);
    // Categories are not offered; a missing column reads as not found.
    MapiBuffer<SSortOrderSet> cat;
    ASSERT_EQ(MAPIAllocateBuffer(CbNewSSortOrderSet(1), cat.AsVoidOut()), S_OK);
    *cat.Get() = SSortOrderSet{1, 1, 1, {{PR_SUBJECT, TABLE_SORT_ASCEND}}};
    EXPECT_EQ(news->SortTable(cat.Get(), 0), MAPI_E_TOO_COMPLEX);
    auto missing = MakeTagArray({PR_REPORT_TEXT});
    ASSERT_EQ(news->SetColumns(missing.Get(), 0), S_OK);
    ASSERT_EQ(news->QueryRows(1, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    EXPECT_EQ(rows->aRow[0].lpProps[0].ulPropTag, CHANGE_PROP_TYPE(PR_REPORT_TEXT, PT_ERROR));
    EXPECT_EQ(rows->aRow[0].lpProps[0].Value.err, MAPI_E_NOT_FOUND);
}

}  // namespace
}  // namespace quillory::testing
