#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/refcounted.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/tabledata.h"
#include "platform/mapi/tableview.h"

namespace quillory {
namespace {

constexpr ULONG kId = PROP_TAG(PT_LONG, 0x6800);
constexpr ULONG kName = PROP_TAG(PT_STRING8, 0x6801);
constexpr ULONG kSize = PROP_TAG(PT_LONG, 0x6802);
constexpr ULONG kGroup = PROP_TAG(PT_STRING8, 0x6803);
constexpr ULONG kExtra = PROP_TAG(PT_BINARY, 0x6804);
constexpr ULONG kMissing = PROP_TAG(PT_LONG, 0x6805);
constexpr LONG kLongMax = std::numeric_limits<LONG>::max();
constexpr LONG kLongMin = std::numeric_limits<LONG>::min();

SPropValue Long(ULONG tag, LONG v)
{
    SPropValue p{};
    p.ulPropTag = tag;
    p.Value.l = v;
    return p;
}
SPropValue Text(ULONG tag, const char* s)
{
    SPropValue p{};
    p.ulPropTag = tag;
    p.Value.lpszA = const_cast<char*>(s);
    return p;
}

// A row: its id, and optionally a name, a size and a group.
std::vector<SPropValue> Props(LONG id, const char* name = nullptr, std::optional<LONG> size = {},
                              const char* group = nullptr)
{
    std::vector<SPropValue> v{Long(kId, id)};
    if (name) v.push_back(Text(kName, name));
    if (size) v.push_back(Long(kSize, *size));
    if (group) v.push_back(Text(kGroup, group));
    return v;
}

HRESULT Modify(ITableData* t, std::vector<SPropValue> props)
{
    SRow row{0, static_cast<ULONG>(props.size()), props.data()};
    return t->HrModifyRow(&row);
}

HRESULT Delete(ITableData* t, LONG id)
{
    SPropValue key = Long(kId, id);
    return t->HrDeleteRow(&key);
}

// The ids of the rows QueryRows returns (the first column is the id).
std::vector<LONG> Read(IMAPITable* v, LONG count, ULONG flags = 0)
{
    RowSetPtr rows;
    EXPECT_EQ(v->QueryRows(count, flags, &rows), S_OK);
    std::vector<LONG> ids;
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
        EXPECT_EQ(rows->aRow[i].lpProps[0].ulPropTag, kId);
        ids.push_back(rows->aRow[i].lpProps[0].Value.l);
    }
    return ids;
}

std::vector<LONG> All(IMAPITable* v)
{
    EXPECT_EQ(v->SeekRow(BOOKMARK_BEGINNING, 0, nullptr), S_OK);
    return Read(v, kLongMax);
}

ULONG Position(IMAPITable* v)
{
    ULONG row = 0, num = 0, den = 0;
    EXPECT_EQ(v->QueryPosition(&row, &num, &den), S_OK);
    return row;
}

ULONG Count(IMAPITable* v)
{
    ULONG n = 0;
    EXPECT_EQ(v->GetRowCount(0, &n), S_OK);
    return n;
}

std::vector<LONG> Ids(std::initializer_list<LONG> ids) { return ids; }

// A row set on the heap holding the given rows (their values stay the caller's).
MapiBuffer<SRowSet> RowSet(const std::vector<SRow>& rows)
{
    MapiBuffer<SRowSet> set;
    EXPECT_EQ(MAPIAllocateBuffer(CbNewSRowSet(static_cast<ULONG>(rows.size())), set.AsVoidOut()), S_OK);
    set->cRows = static_cast<ULONG>(rows.size());
    std::copy(rows.begin(), rows.end(), set->aRow);
    return set;
}

template <ULONG N>
struct SortSet {
    ULONG cSorts = N;
    ULONG cCategories = 0;
    ULONG cExpanded = 0;
    SSortOrder aSort[N];
    LPSSortOrderSet Get() { return reinterpret_cast<LPSSortOrderSet>(this); }
};

class TableTest : public ::testing::Test {
protected:
    TableTest()
    {
        auto cols = MakeTagArray({kId, kName, kSize});
        EXPECT_EQ(CreateTable(&IID_IMAPITableData, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, nullptr,
                              TBLTYPE_DYNAMIC, kId, cols.Get(), &data_),
                  S_OK);
    }
    ComPtr<IMAPITable> View(LPSSortOrderSet sort = nullptr)
    {
        ComPtr<IMAPITable> v;
        EXPECT_EQ(data_->HrGetView(sort, nullptr, 0, &v), S_OK);
        return v;
    }
    void AddRange(LONG from, LONG to)
    {
        for (LONG i = from; i < to; ++i) ASSERT_EQ(Modify(data_.Get(), Props(i, "row", i * 10)), S_OK);
    }

    ComPtr<ITableData> data_;
};

// ---- Table data -----------------------------------------------------------------

TEST_F(TableTest, ModifyWithAnEqualIndexReplacesTheWholeRowInPlace)
{
    AddRange(1, 4);
    ASSERT_EQ(Modify(data_.Get(), Props(2, "renamed")), S_OK);  // no size any more

    SPropValue key = Long(kId, 2);
    LPSRow row = nullptr;
    ULONG pos = 99;
    ASSERT_EQ(data_->HrQueryRow(&key, &row, &pos), S_OK);
    EXPECT_EQ(pos, 1u);
    ASSERT_EQ(row->cValues, 2u);
    EXPECT_STREQ(PpropFindProp(row->lpProps, row->cValues, kName)->Value.lpszA, "renamed");
    EXPECT_EQ(PpropFindProp(row->lpProps, row->cValues, kSize), nullptr);
    MAPIFreeBuffer(row);

    // The returned copy is independent: it outlives the table's row.
    ASSERT_EQ(data_->HrEnumRow(2, &row), S_OK);
    ASSERT_NE(row, nullptr);
    ASSERT_EQ(Delete(data_.Get(), 3), S_OK);
    EXPECT_STREQ(PpropFindProp(row->lpProps, row->cValues, kName)->Value.lpszA, "row");
    MAPIFreeBuffer(row);

    // Past the end: success and no row.
    row = reinterpret_cast<LPSRow>(1);
    EXPECT_EQ(data_->HrEnumRow(2, &row), S_OK);
    EXPECT_EQ(row, nullptr);
    ASSERT_EQ(data_->HrEnumRow(1, &row), S_OK);
    EXPECT_EQ(row->lpProps[0].Value.l, 2);
    MAPIFreeBuffer(row);
}

TEST_F(TableTest, BadRowsAndArgumentsChangeNothing)
{
    AddRange(1, 3);
    std::vector<SPropValue> noIndex{Text(kName, "orphan")};
    SRow orphan{0, 1, noIndex.data()};
    EXPECT_EQ(data_->HrModifyRow(&orphan), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(data_->HrInsertRow(0, &orphan), MAPI_E_INVALID_PARAMETER);
    std::vector<SPropValue> nullText = Props(7);
    nullText.push_back(Text(kName, nullptr));
    SRow broken{0, 2, nullText.data()};
    EXPECT_EQ(data_->HrModifyRow(&broken), MAPI_E_INVALID_PARAMETER);

    // A batch with one bad row adds none of its rows.
    std::vector<SPropValue> good = Props(5, "five");
    auto batch = RowSet({SRow{0, static_cast<ULONG>(good.size()), good.data()}, orphan});
    EXPECT_EQ(data_->HrModifyRows(0, batch.Get()), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(data_->HrModifyRows(1, batch.Get()), MAPI_E_UNKNOWN_FLAGS);

    // Inserting: an existing index or a position past the end is refused.
    std::vector<SPropValue> dup = Props(2, "dup");
    SRow dupRow{0, static_cast<ULONG>(dup.size()), dup.data()};
    EXPECT_EQ(data_->HrInsertRow(0, &dupRow), MAPI_E_INVALID_PARAMETER);
    std::vector<SPropValue> far = Props(9);
    SRow farRow{0, 1, far.data()};
    EXPECT_EQ(data_->HrInsertRow(3, &farRow), MAPI_E_INVALID_PARAMETER);

    // Deleting by a value of another tag, or by a missing index.
    SPropValue wrongTag = Long(kSize, 1);
    EXPECT_EQ(data_->HrDeleteRow(&wrongTag), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(Delete(data_.Get(), 42), MAPI_E_NOT_FOUND);
    LPSRow row = nullptr;
    EXPECT_EQ(data_->HrQueryRow(&wrongTag, &row, nullptr), MAPI_E_INVALID_PARAMETER);
    SPropValue absent = Long(kId, 42);
    EXPECT_EQ(data_->HrQueryRow(&absent, &row, nullptr), MAPI_E_NOT_FOUND);
    EXPECT_EQ(row, nullptr);

    EXPECT_EQ(All(View().Get()), Ids({1, 2}));

    // Creation: an index column must hold one ordered value.
    auto cols = MakeTagArray({kId});
    LPTABLEDATA t = nullptr;
    EXPECT_EQ(CreateTable(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, nullptr, TBLTYPE_DYNAMIC,
                          PROP_TAG(PT_MV_LONG, 0x6800), cols.Get(), &t),
              MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(t, nullptr);
}

TEST_F(TableTest, DeletingSingleRowsBatchesAndEverything)
{
    AddRange(0, 12);
    auto view = View();
    EXPECT_EQ(Delete(data_.Get(), 4), S_OK);
    EXPECT_EQ(Delete(data_.Get(), 4), MAPI_E_NOT_FOUND);

    std::vector<std::vector<SPropValue>> keys{{Long(kId, 0)}, {Long(kId, 99)}, {Long(kId, 11)}};
    auto set = RowSet({SRow{0, 1, keys[0].data()}, SRow{0, 1, keys[1].data()}, SRow{0, 1, keys[2].data()}});
    ULONG deleted = 0;
    EXPECT_EQ(data_->HrDeleteRows(0, set.Get(), &deleted), S_OK);
    EXPECT_EQ(deleted, 2u);  // the absent row is no error
    EXPECT_EQ(All(view.Get()), Ids({1, 2, 3, 5, 6, 7, 8, 9, 10}));

    EXPECT_EQ(data_->HrDeleteRows(TAD_ALL_ROWS, nullptr, &deleted), S_OK);
    EXPECT_EQ(deleted, 9u);
    EXPECT_EQ(Count(view.Get()), 0u);
    LPSRow row = nullptr;
    EXPECT_EQ(data_->HrEnumRow(0, &row), S_OK);
    EXPECT_EQ(row, nullptr);
    // The index is empty too: the same ids come back as new rows.
    AddRange(0, 2);
    EXPECT_EQ(All(view.Get()), Ids({0, 1}));
}

TEST_F(TableTest, InsertedRowsTakeTheirPositionEvenWhenGapsRunOut)
{
    AddRange(0, 2);
    auto view = View();
    std::vector<LONG> model{0, 1};
    // 40 rows squeezed in after the first one exhaust the room between
    // neighbouring positions several times over.
    for (LONG id = 100; id < 140; ++id) {
        std::vector<SPropValue> p = Props(id);
        SRow r{0, 1, p.data()};
        ASSERT_EQ(data_->HrInsertRow(1, &r), S_OK);
        model.insert(model.begin() + 1, id);
    }
    std::vector<SPropValue> first = Props(-1);
    SRow r{0, 1, first.data()};
    ASSERT_EQ(data_->HrInsertRow(0, &r), S_OK);
    model.insert(model.begin(), -1);

    std::vector<LONG> enumerated;
    LPSRow row = nullptr;
    for (ULONG i = 0; data_->HrEnumRow(i, &row) == S_OK && row; ++i) {
        enumerated.push_back(row->lpProps[0].Value.l);
        MAPIFreeBuffer(row);
    }
    EXPECT_EQ(enumerated, model);
    EXPECT_EQ(All(view.Get()), model);
    EXPECT_EQ(All(View().Get()), model);
    SPropValue key = Long(kId, 100);
    ULONG pos = 0;
    ASSERT_EQ(data_->HrQueryRow(&key, &row, &pos), S_OK);
    MAPIFreeBuffer(row);
    EXPECT_EQ(pos, 41u);
}

TEST_F(TableTest, BinaryIndexColumnsMatchByContent)
{
    constexpr ULONG kEntryId = PROP_TAG(PT_BINARY, 0x0FFF);
    auto cols = MakeTagArray({kEntryId, kName});
    ComPtr<ITableData> t;
    ASSERT_EQ(CreateTable(nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, nullptr, TBLTYPE_DYNAMIC,
                          kEntryId, cols.Get(), &t),
              S_OK);
    // {1,2,3}, {1,2,3,0}, then {1,2,3} again from another buffer.
    BYTE bytes[3][4] = {{1, 2, 3}, {1, 2, 3, 0}, {1, 2, 3}};
    const ULONG sizes[3] = {3, 4, 3};
    for (int i = 0; i < 3; ++i) {
        std::vector<SPropValue> p{SPropValue{kEntryId, 0, {}}, Long(kSize, i)};
        p[0].Value.bin = {sizes[i], bytes[i]};
        SRow r{0, 2, p.data()};
        ASSERT_EQ(t->HrModifyRow(&r), S_OK);
    }
    LPSRow row = nullptr;
    EXPECT_EQ(t->HrEnumRow(2, &row), S_OK);
    EXPECT_EQ(row, nullptr);
    ASSERT_EQ(t->HrEnumRow(0, &row), S_OK);
    EXPECT_EQ(row->lpProps[1].Value.l, 2);
    MAPIFreeBuffer(row);
}

// ---- Views: columns, cursor, seeking ------------------------------------------------

TEST_F(TableTest, ColumnsAValueLacksAnswerAsErrors)
{
    std::vector<SPropValue> p = Props(1, "one", std::nullopt, "grp");
    SPropValue stored{};
    stored.ulPropTag = CHANGE_PROP_TYPE(kMissing, PT_ERROR);
    stored.Value.err = MAPI_E_NO_ACCESS;
    p.push_back(stored);
    ASSERT_EQ(Modify(data_.Get(), p), S_OK);
    auto view = View();

    auto cols = MakeTagArray({kName, kSize, PROP_TAG(PT_UNSPECIFIED, PROP_ID(kGroup)), kMissing, kId});
    ASSERT_EQ(view->SetColumns(cols.Get(), 0), S_OK);
    RowSetPtr rows;
    ASSERT_EQ(view->QueryRows(1, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    const SRow& r = rows->aRow[0];
    ASSERT_EQ(r.cValues, 5u);
    EXPECT_EQ(r.lpProps[0].ulPropTag, kName);
    EXPECT_STREQ(r.lpProps[0].Value.lpszA, "one");
    EXPECT_EQ(r.lpProps[1].ulPropTag, CHANGE_PROP_TYPE(kSize, PT_ERROR));
    EXPECT_EQ(r.lpProps[1].Value.err, MAPI_E_NOT_FOUND);
    EXPECT_EQ(r.lpProps[2].ulPropTag, kGroup);  // found by ID, answered with its type
    EXPECT_EQ(r.lpProps[3].ulPropTag, CHANGE_PROP_TYPE(kMissing, PT_ERROR));
    EXPECT_EQ(r.lpProps[3].Value.err, MAPI_E_NO_ACCESS);
    EXPECT_EQ(r.lpProps[4].Value.l, 1);

    MapiBuffer<SPropTagArray> got;
    ASSERT_EQ(view->QueryColumns(0, &got), S_OK);
    EXPECT_EQ(std::vector<ULONG>(got->aulPropTag, got->aulPropTag + got->cValues),
              std::vector<ULONG>(cols->aulPropTag, cols->aulPropTag + cols->cValues));
    // All columns: the table's, then every other tag a row holds (errors aside).
    BYTE extra[] = {7};
    std::vector<SPropValue> q = Props(2);
    SPropValue ex{};
    ex.ulPropTag = kExtra;
    ex.Value.bin = {1, extra};
    q.push_back(ex);
    ASSERT_EQ(Modify(data_.Get(), q), S_OK);
    ASSERT_EQ(view->QueryColumns(TBL_ALL_COLUMNS, &got), S_OK);
    EXPECT_EQ(std::vector<ULONG>(got->aulPropTag, got->aulPropTag + got->cValues),
              (std::vector<ULONG>{kId, kName, kSize, kGroup, kExtra}));
    EXPECT_EQ(view->QueryColumns(4, &got), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(view->SetColumns(nullptr, 0), MAPI_E_INVALID_PARAMETER);
    // A column count whose row would not fit one allocation is refused
    // (only the count is read).
    SPropTagArray huge{0x10000001, {kId}};
    EXPECT_EQ(view->SetColumns(&huge, 0), MAPI_E_TOO_COMPLEX);
    ASSERT_EQ(view->QueryColumns(0, &got), S_OK);
    EXPECT_EQ(got->cValues, cols->cValues);
}

TEST_F(TableTest, QueryRowsMovesTheCursorBothWays)
{
    AddRange(0, 10);
    auto view = View();
    EXPECT_EQ(Read(view.Get(), 3), Ids({0, 1, 2}));
    EXPECT_EQ(Position(view.Get()), 3u);
    EXPECT_EQ(Read(view.Get(), 3, TBL_NOADVANCE), Ids({3, 4, 5}));
    EXPECT_EQ(Position(view.Get()), 3u);
    // Negative: back that many rows, read forward, the cursor stays back.
    EXPECT_EQ(Read(view.Get(), -2), Ids({1, 2}));
    EXPECT_EQ(Position(view.Get()), 1u);
    EXPECT_EQ(Read(view.Get(), -5), Ids({0}));
    EXPECT_EQ(Position(view.Get()), 0u);
    EXPECT_EQ(Read(view.Get(), -1), Ids({}));
    EXPECT_EQ(Read(view.Get(), 2, TBL_NOADVANCE), Ids({0, 1}));
    ASSERT_EQ(view->SeekRow(BOOKMARK_END, 0, nullptr), S_OK);
    EXPECT_EQ(Read(view.Get(), -2, TBL_NOADVANCE), Ids({8, 9}));
    EXPECT_EQ(Position(view.Get()), 10u);
    EXPECT_EQ(Read(view.Get(), 5), Ids({}));
    EXPECT_EQ(Read(view.Get(), kLongMin).size(), 10u);
    EXPECT_EQ(Read(view.Get(), kLongMax).size(), 10u);

    LPSRowSet rows = nullptr;
    EXPECT_EQ(view->QueryRows(0, 0, &rows), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(view->QueryRows(1, 0x10, &rows), MAPI_E_UNKNOWN_FLAGS);
    // Each row is its own buffer: freeing one leaves the others intact.
    ASSERT_EQ(view->SeekRow(BOOKMARK_BEGINNING, 0, nullptr), S_OK);
    ASSERT_EQ(view->QueryRows(2, 0, &rows), S_OK);
    MAPIFreeBuffer(rows->aRow[0].lpProps);
    rows->aRow[0].lpProps = nullptr;
    EXPECT_STREQ(rows->aRow[1].lpProps[1].Value.lpszA, "row");
    FreeProws(rows);
}

TEST_F(TableTest, SeekRowClampsAndReportsTheRowsSought)
{
    AddRange(0, 10);
    auto view = View();
    LONG sought = 99;
    EXPECT_EQ(view->SeekRow(BOOKMARK_BEGINNING, -3, &sought), S_OK);
    EXPECT_EQ(sought, 0);
    EXPECT_EQ(view->SeekRow(BOOKMARK_CURRENT, 4, &sought), S_OK);
    EXPECT_EQ(sought, 4);
    EXPECT_EQ(view->SeekRow(BOOKMARK_END, -2, &sought), S_OK);
    EXPECT_EQ(sought, -2);
    EXPECT_EQ(Position(view.Get()), 8u);
    EXPECT_EQ(view->SeekRow(BOOKMARK_CURRENT, 100, &sought), S_OK);
    EXPECT_EQ(sought, 2);
    EXPECT_EQ(view->SeekRow(BOOKMARK_CURRENT, kLongMin, &sought), S_OK);
    EXPECT_EQ(sought, -10);
    EXPECT_EQ(view->SeekRow(BOOKMARK_BEGINNING, kLongMax, nullptr), S_OK);
    EXPECT_EQ(Position(view.Get()), 10u);
    EXPECT_EQ(view->SeekRow(12345, 0, &sought), MAPI_E_INVALID_BOOKMARK);

    EXPECT_EQ(view->SeekRowApprox(1, 2), S_OK);
    EXPECT_EQ(Position(view.Get()), 5u);
    EXPECT_EQ(view->SeekRowApprox(7, 3), S_OK);
    EXPECT_EQ(Position(view.Get()), 10u);
    EXPECT_EQ(view->SeekRowApprox(1, 0), MAPI_E_INVALID_PARAMETER);
    ULONG row = 0, num = 0, den = 0;
    ASSERT_EQ(view->SeekRowApprox(3, 10), S_OK);
    ASSERT_EQ(view->QueryPosition(&row, &num, &den), S_OK);
    EXPECT_EQ(row, 3u);
    EXPECT_EQ(num, 3u);
    EXPECT_EQ(den, 10u);
    // An empty view never answers a zero denominator.
    ASSERT_EQ(data_->HrDeleteRows(TAD_ALL_ROWS, nullptr, nullptr), S_OK);
    ASSERT_EQ(view->QueryPosition(&row, &num, &den), S_OK);
    EXPECT_EQ(row, 0u);
    EXPECT_EQ(den, 1u);
}

TEST_F(TableTest, TheCursorStaysOnItsRowWhileRowsChange)
{
    AddRange(0, 8);
    auto view = View();
    ASSERT_EQ(view->SeekRow(BOOKMARK_BEGINNING, 5, nullptr), S_OK);
    ASSERT_EQ(Delete(data_.Get(), 2), S_OK);
    std::vector<SPropValue> p = Props(-1);
    SRow r{0, 1, p.data()};
    ASSERT_EQ(data_->HrInsertRow(0, &r), S_OK);
    ASSERT_EQ(Modify(data_.Get(), Props(5, "changed")), S_OK);
    EXPECT_EQ(Read(view.Get(), 1, TBL_NOADVANCE), Ids({5}));
    // The row under the cursor goes: the cursor moves on to the next one.
    ASSERT_EQ(Delete(data_.Get(), 5), S_OK);
    EXPECT_EQ(Read(view.Get(), 1, TBL_NOADVANCE), Ids({6}));
    // At the end, a row appended is the next one read.
    ASSERT_EQ(view->SeekRow(BOOKMARK_END, 0, nullptr), S_OK);
    ASSERT_EQ(Modify(data_.Get(), Props(50)), S_OK);
    EXPECT_EQ(Read(view.Get(), 5), Ids({50}));
}

TEST_F(TableTest, InASortedViewTheCursorKeepsItsRowAsOthersMoveAroundIt)
{
    AddRange(0, 6);  // sizes 0, 10 ... 50
    SortSet<1> bySize;
    bySize.aSort[0] = {kSize, TABLE_SORT_ASCEND};
    auto view = View(bySize.Get());
    ASSERT_EQ(view->SeekRow(BOOKMARK_BEGINNING, 3, nullptr), S_OK);  // on row 3 (30)
    // A new row sorting just before the cursor's row lands at its index.
    ASSERT_EQ(Modify(data_.Get(), Props(7, "new", 25)), S_OK);
    EXPECT_EQ(Read(view.Get(), 1, TBL_NOADVANCE), Ids({3}));
    // The cursor's row itself moves: the cursor goes with it.
    ASSERT_EQ(Modify(data_.Get(), Props(3, "moved", 5)), S_OK);
    EXPECT_EQ(Read(view.Get(), 2), Ids({3, 1}));
    // Another row moves from after the cursor to before it.
    ASSERT_EQ(Modify(data_.Get(), Props(5, "moved", -1)), S_OK);
    EXPECT_EQ(Read(view.Get(), 1), Ids({2}));
    EXPECT_EQ(All(view.Get()), Ids({5, 0, 3, 1, 2, 7, 4}));
}

// ---- Views: sorting, restricting, finding -------------------------------------------

TEST_F(TableTest, SortsOnSeveralKeysBothWaysAndStably)
{
    // id, name, size, group
    ASSERT_EQ(Modify(data_.Get(), Props(1, "b", 5, "Beta")), S_OK);
    ASSERT_EQ(Modify(data_.Get(), Props(2, "a", 7, "alpha")), S_OK);
    ASSERT_EQ(Modify(data_.Get(), Props(3, "c", 5, "ALPHA")), S_OK);
    ASSERT_EQ(Modify(data_.Get(), Props(4, "d", std::nullopt, "beta")), S_OK);
    ASSERT_EQ(Modify(data_.Get(), Props(5, "e", 7, "alpha")), S_OK);
    ASSERT_EQ(Modify(data_.Get(), Props(6, "f", 9)), S_OK);  // no group

    SortSet<2> order;
    order.aSort[0] = {kGroup, TABLE_SORT_ASCEND};
    order.aSort[1] = {kSize, TABLE_SORT_DESCEND};
    auto view = View(order.Get());
    // Group ignoring case, missing first; size descending, missing last;
    // equal keys in table order (2 before 5).
    EXPECT_EQ(All(view.Get()), Ids({6, 2, 5, 3, 1, 4}));

    MapiBuffer<SSortOrderSet> got;
    ASSERT_EQ(view->QuerySortOrder(&got), S_OK);
    ASSERT_EQ(got->cSorts, 2u);
    EXPECT_EQ(got->aSort[1].ulPropTag, kSize);
    EXPECT_EQ(got->aSort[1].ulOrder, TABLE_SORT_DESCEND);

    // Changes land in sorted position.
    ASSERT_EQ(Modify(data_.Get(), Props(7, "g", 6, "alpha")), S_OK);
    ASSERT_EQ(Modify(data_.Get(), Props(1, "b", 5, "Aardvark")), S_OK);
    EXPECT_EQ(All(view.Get()), Ids({6, 1, 2, 5, 7, 3, 4}));

    SortSet<1> byName;
    byName.aSort[0] = {kName, TABLE_SORT_DESCEND};
    ASSERT_EQ(view->SortTable(byName.Get(), 0), S_OK);
    EXPECT_EQ(All(view.Get()), Ids({7, 6, 5, 4, 3, 1, 2}));
    SortSet<1> none;
    none.cSorts = 0;
    ASSERT_EQ(view->SortTable(none.Get(), 0), S_OK);
    EXPECT_EQ(All(view.Get()), Ids({1, 2, 3, 4, 5, 6, 7}));

    byName.cCategories = 1;
    EXPECT_EQ(view->SortTable(byName.Get(), 0), MAPI_E_TOO_COMPLEX);
    byName.cCategories = 0;
    byName.aSort[0].ulOrder = 7;
    EXPECT_EQ(view->SortTable(byName.Get(), 0), MAPI_E_INVALID_PARAMETER);
    ComPtr<IMAPITable> bad;
    EXPECT_EQ(data_->HrGetView(byName.Get(), nullptr, 0, &bad), MAPI_E_INVALID_PARAMETER);
    EXPECT_FALSE(bad);
}

TEST_F(TableTest, RestrictionsFollowChangesAndCanBeRemoved)
{
    AddRange(0, 10);  // sizes 0..90
    auto view = View();
    SPropValue limit = Long(kSize, 50);
    SRestriction big{};
    big.rt = RES_PROPERTY;
    big.res.resProperty = {RELOP_GE, kSize, &limit};
    ASSERT_EQ(view->Restrict(&big, 0), S_OK);
    limit.Value.l = 0;  // the view keeps its own copy
    EXPECT_EQ(All(view.Get()), Ids({5, 6, 7, 8, 9}));

    ASSERT_EQ(Modify(data_.Get(), Props(2, "grown", 500)), S_OK);
    ASSERT_EQ(Modify(data_.Get(), Props(7, "shrunk", 1)), S_OK);
    ASSERT_EQ(Modify(data_.Get(), Props(20, "new", 60)), S_OK);
    ASSERT_EQ(Modify(data_.Get(), Props(21, "small", 6)), S_OK);
    EXPECT_EQ(All(view.Get()), Ids({2, 5, 6, 8, 9, 20}));
    EXPECT_EQ(Count(view.Get()), 6u);

    // A refused restriction leaves the current one in place.
    SRestriction bad{};
    bad.rt = RES_PROPERTY;
    bad.res.resProperty = {RELOP_RE, kName, nullptr};
    EXPECT_EQ(view->Restrict(&bad, 0), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(Count(view.Get()), 6u);
    MapiBuffer<MAPIERROR> err;
    ASSERT_EQ(view->GetLastError(MAPI_E_INVALID_PARAMETER, 0, &err), S_OK);
    ASSERT_TRUE(err);
    EXPECT_NE(std::string(err->lpszError).find("Restrict"), std::string::npos);
    EXPECT_EQ(view->GetLastError(MAPI_E_INVALID_PARAMETER, MAPI_UNICODE, &err), MAPI_E_BAD_CHARWIDTH);

    ASSERT_EQ(view->Restrict(nullptr, 0), S_OK);
    EXPECT_EQ(Count(view.Get()), 12u);
    // Restricting a sorted view keeps its order.
    SortSet<1> bySize;
    bySize.aSort[0] = {kSize, TABLE_SORT_DESCEND};
    ASSERT_EQ(view->SortTable(bySize.Get(), 0), S_OK);
    limit.Value.l = 60;
    ASSERT_EQ(view->Restrict(&big, 0), S_OK);
    EXPECT_EQ(All(view.Get()), Ids({2, 9, 8, 6, 20}));
}

TEST_F(TableTest, FindRowSearchesFromItsOriginInEitherDirection)
{
    AddRange(0, 10);
    auto view = View();
    SPropValue v = Long(kSize, 40);
    SRestriction atLeast{};
    atLeast.rt = RES_PROPERTY;
    atLeast.res.resProperty = {RELOP_GE, kSize, &v};

    ASSERT_EQ(view->FindRow(&atLeast, BOOKMARK_BEGINNING, 0), S_OK);
    EXPECT_EQ(Position(view.Get()), 4u);
    // From the current row, which itself is examined.
    ASSERT_EQ(view->FindRow(&atLeast, BOOKMARK_CURRENT, 0), S_OK);
    EXPECT_EQ(Position(view.Get()), 4u);
    // Backward starts at the row before the origin.
    v.Value.l = 30;
    atLeast.res.resProperty.relop = RELOP_LE;
    ASSERT_EQ(view->FindRow(&atLeast, BOOKMARK_CURRENT, DIR_BACKWARD), S_OK);
    EXPECT_EQ(Position(view.Get()), 3u);
    ASSERT_EQ(view->FindRow(&atLeast, BOOKMARK_END, DIR_BACKWARD), S_OK);
    EXPECT_EQ(Position(view.Get()), 3u);
    v.Value.l = -1;
    EXPECT_EQ(view->FindRow(&atLeast, BOOKMARK_END, DIR_BACKWARD), MAPI_E_NOT_FOUND);
    EXPECT_EQ(Position(view.Get()), 3u);  // unchanged by a failed search
    EXPECT_EQ(view->FindRow(&atLeast, BOOKMARK_BEGINNING, 4), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(view->FindRow(nullptr, BOOKMARK_BEGINNING, 0), MAPI_E_INVALID_PARAMETER);

    // From a bookmark whose row has gone: found, with the warning once.
    BOOKMARK bm = 0;
    ASSERT_EQ(view->SeekRow(BOOKMARK_BEGINNING, 6, nullptr), S_OK);
    ASSERT_EQ(view->CreateBookmark(&bm), S_OK);
    ASSERT_EQ(Delete(data_.Get(), 6), S_OK);
    v.Value.l = 0;
    atLeast.res.resProperty.relop = RELOP_GE;
    EXPECT_EQ(view->FindRow(&atLeast, bm, 0), MAPI_W_POSITION_CHANGED);
    EXPECT_EQ(Read(view.Get(), 1), Ids({7}));
    EXPECT_EQ(view->FindRow(&atLeast, bm, 0), S_OK);
}

TEST_F(TableTest, BookmarksFollowTheirRow)
{
    AddRange(0, 6);
    auto view = View();
    BOOKMARK bm = 0, end = 0;
    ASSERT_EQ(view->SeekRow(BOOKMARK_BEGINNING, 3, nullptr), S_OK);
    ASSERT_EQ(view->CreateBookmark(&bm), S_OK);
    EXPECT_GT(bm, BOOKMARK_END);
    ASSERT_EQ(view->SeekRow(BOOKMARK_END, 0, nullptr), S_OK);
    ASSERT_EQ(view->CreateBookmark(&end), S_OK);

    // Rows before it come and go; its row is modified in place.
    std::vector<SPropValue> p = Props(-1);
    SRow r{0, 1, p.data()};
    ASSERT_EQ(data_->HrInsertRow(0, &r), S_OK);
    ASSERT_EQ(Delete(data_.Get(), 1), S_OK);
    ASSERT_EQ(Modify(data_.Get(), Props(3, "touched")), S_OK);
    LONG sought = 0;
    ASSERT_EQ(view->SeekRow(bm, 0, &sought), S_OK);
    EXPECT_EQ(Read(view.Get(), 1), Ids({3}));
    ASSERT_EQ(view->SeekRow(bm, -1, &sought), S_OK);
    EXPECT_EQ(sought, -1);
    EXPECT_EQ(Read(view.Get(), 1), Ids({2}));

    // A re-sort moves the row; the bookmark goes with it.
    SortSet<1> desc;
    desc.aSort[0] = {kId, TABLE_SORT_DESCEND};
    ASSERT_EQ(view->SortTable(desc.Get(), 0), S_OK);
    ASSERT_EQ(view->SeekRow(bm, 0, nullptr), S_OK);
    EXPECT_EQ(Read(view.Get(), 1), Ids({3}));

    // Its row deleted: the bookmark reports the move once, at the next row.
    ASSERT_EQ(Delete(data_.Get(), 3), S_OK);
    EXPECT_EQ(view->SeekRow(bm, 0, nullptr), MAPI_W_POSITION_CHANGED);
    EXPECT_EQ(Read(view.Get(), 1), Ids({2}));
    EXPECT_EQ(view->SeekRow(bm, 0, nullptr), S_OK);

    EXPECT_EQ(view->SeekRow(end, 0, nullptr), S_OK);
    EXPECT_EQ(view->FreeBookmark(bm), S_OK);
    EXPECT_EQ(view->FreeBookmark(bm), MAPI_E_INVALID_BOOKMARK);
    EXPECT_EQ(view->SeekRow(bm, 0, nullptr), MAPI_E_INVALID_BOOKMARK);
    EXPECT_EQ(view->FreeBookmark(BOOKMARK_CURRENT), S_OK);
    EXPECT_EQ(view->CreateBookmark(nullptr), MAPI_E_INVALID_PARAMETER);
}

// ---- Views: notifications and lifetime -----------------------------------------------

struct Event {
    ULONG type;
    LONG index;  // -1: none
    LONG prior;  // -1: none
    ULONG columns;
    bool operator==(const Event&) const = default;
};

class RecordingSink final : public IMAPIAdviseSink, public CRefCounted {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IMAPIAdviseSink, static_cast<IMAPIAdviseSink*>(this)}});
    }
    QUILLORY_IUNKNOWN_REFCOUNT
    ULONG OnNotify(ULONG cNotif, LPNOTIFICATION n) override
    {
        for (ULONG i = 0; i < cNotif; ++i) {
            EXPECT_EQ(n[i].ulEventType, fnevTableModified);
            const TABLE_NOTIFICATION& t = n[i].info.tab;
            events.push_back({t.ulTableEvent, t.propIndex.ulPropTag == kId ? t.propIndex.Value.l : -1,
                              t.propPrior.ulPropTag == kId ? t.propPrior.Value.l : -1, t.row.cValues});
            // Calling back into the view from a notification must work.
            if (view) {
                ULONG n2 = 0;
                EXPECT_EQ(view->GetRowCount(0, &n2), S_OK);
            }
        }
        return 0;
    }
    std::vector<Event> events;
    IMAPITable* view = nullptr;
};

TEST_F(TableTest, SinksHearOfEveryChangeTheirViewSees)
{
    AddRange(0, 3);
    auto view = View();
    auto sink = ComPtr<RecordingSink>::Attach(NewComObject<RecordingSink>());
    sink->view = view.Get();
    ULONG conn = 0;
    ASSERT_EQ(view->Advise(fnevTableModified, sink.Get(), &conn), S_OK);
    EXPECT_EQ(view->Advise(fnevNewMail, sink.Get(), &conn), MAPI_E_INVALID_PARAMETER);

    // A second view restricted to sizes below 15.
    auto small = View();
    SPropValue limit = Long(kSize, 15);
    SRestriction res{};
    res.rt = RES_PROPERTY;
    res.res.resProperty = {RELOP_LT, kSize, &limit};
    ASSERT_EQ(small->Restrict(&res, 0), S_OK);
    auto smallSink = ComPtr<RecordingSink>::Attach(NewComObject<RecordingSink>());
    ULONG smallConn = 0;
    ASSERT_EQ(small->Advise(fnevTableModified, smallSink.Get(), &smallConn), S_OK);

    ASSERT_EQ(Modify(data_.Get(), Props(3, "x", 30)), S_OK);  // added
    ASSERT_EQ(Modify(data_.Get(), Props(0, "y", 5)), S_OK);   // modified, stays small
    ASSERT_EQ(Modify(data_.Get(), Props(2, "z", 1)), S_OK);   // modified, becomes small
    ASSERT_EQ(Modify(data_.Get(), Props(0, "w", 50)), S_OK);  // modified, no longer small
    ASSERT_EQ(Delete(data_.Get(), 2), S_OK);                  // deleted
    EXPECT_EQ(sink->events, (std::vector<Event>{{TABLE_ROW_ADDED, 3, 2, 3},
                                                {TABLE_ROW_MODIFIED, 0, -1, 3},
                                                {TABLE_ROW_MODIFIED, 2, 1, 3},
                                                {TABLE_ROW_MODIFIED, 0, -1, 3},
                                                {TABLE_ROW_DELETED, 2, -1, 0}}));
    EXPECT_EQ(smallSink->events, (std::vector<Event>{{TABLE_ROW_MODIFIED, 0, -1, 3},
                                                     {TABLE_ROW_ADDED, 2, 1, 3},
                                                     {TABLE_ROW_DELETED, 0, -1, 0},
                                                     {TABLE_ROW_DELETED, 2, -1, 0}}));

    // A batch of more than eight rows, and clearing, are reported whole.
    sink->events.clear();
    std::vector<std::vector<SPropValue>> rows;
    for (LONG i = 10; i < 19; ++i) rows.push_back(Props(i));
    std::vector<SRow> srows;
    for (auto& r : rows) srows.push_back(SRow{0, 1, r.data()});
    ASSERT_EQ(data_->HrModifyRows(0, RowSet(srows).Get()), S_OK);
    ASSERT_EQ(data_->HrDeleteRows(TAD_ALL_ROWS, nullptr, nullptr), S_OK);
    EXPECT_EQ(sink->events, (std::vector<Event>{{TABLE_CHANGED, -1, -1, 0}, {TABLE_RELOAD, -1, -1, 0}}));

    ASSERT_EQ(view->Unadvise(conn), S_OK);
    EXPECT_EQ(view->Unadvise(conn), MAPI_E_NOT_FOUND);
    ASSERT_EQ(Modify(data_.Get(), Props(1)), S_OK);
    EXPECT_EQ(sink->events.size(), 2u);
}

ULONG g_releasedData = 0;
ITableData* g_releasedTable = nullptr;
void OnViewReleased(ULONG data, ITableData* table, LPMAPITABLE)
{
    g_releasedData = data;
    g_releasedTable = table;
}

TEST_F(TableTest, ViewsOutliveTheirCreatorAndReportTheirRelease)
{
    AddRange(0, 3);
    LPMAPITABLE raw = nullptr;
    ASSERT_EQ(data_->HrGetView(nullptr, &OnViewReleased, 77, &raw), S_OK);
    ITableData* table = data_.Get();
    data_ = nullptr;  // the view keeps the rows alive
    EXPECT_EQ(All(raw), Ids({0, 1, 2}));
    EXPECT_EQ(g_releasedTable, nullptr);
    raw->Release();
    EXPECT_EQ(g_releasedData, 77u);
    EXPECT_EQ(g_releasedTable, table);
}

// ---- Scale and threads ------------------------------------------------------------------

TEST_F(TableTest, LargeTablesSortRestrictAndPageQuickly)
{
    constexpr LONG kRows = 100'000;
    std::vector<std::vector<SPropValue>> rows;
    std::vector<std::string> names;
    names.reserve(kRows);
    for (LONG i = 0; i < kRows; ++i) names.push_back("subject " + std::to_string((i * 7919) % kRows));
    for (LONG i = 0; i < kRows; ++i) rows.push_back(Props(i, names[i].c_str(), (i * 31) % 1000));
    std::vector<SRow> srows;
    for (auto& r : rows) srows.push_back(SRow{0, static_cast<ULONG>(r.size()), r.data()});
    ASSERT_EQ(data_->HrModifyRows(0, RowSet(srows).Get()), S_OK);

    SortSet<2> order;
    order.aSort[0] = {kSize, TABLE_SORT_DESCEND};
    order.aSort[1] = {kName, TABLE_SORT_ASCEND};
    auto view = View(order.Get());
    SPropValue limit = Long(kSize, 900);
    SRestriction res{};
    res.rt = RES_PROPERTY;
    res.res.resProperty = {RELOP_GE, kSize, &limit};
    ASSERT_EQ(view->Restrict(&res, 0), S_OK);
    EXPECT_EQ(Count(view.Get()), 10'000u);
    // Paging through in order while rows that sort first, behind the
    // cursor, keep arriving: each original row is read exactly once.
    LONG lastSize = kLongMax;
    ULONG seen = 0;
    for (;;) {
        RowSetPtr page;
        ASSERT_EQ(view->QueryRows(500, 0, &page), S_OK);
        if (page->cRows == 0) break;
        for (ULONG i = 0; i < page->cRows; ++i) {
            const LONG size = page->aRow[i].lpProps[2].Value.l;
            EXPECT_LE(size, lastSize);
            lastSize = size;
        }
        seen += page->cRows;
        ASSERT_EQ(Modify(data_.Get(), Props(kRows + static_cast<LONG>(seen), "late", 999)), S_OK);
    }
    EXPECT_EQ(seen, 10'000u);
    EXPECT_EQ(Count(view.Get()), 10'020u);
}

TEST_F(TableTest, ConcurrentWritersAndReadersStayConsistent)
{
    auto view = View();
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (LONG i = 0; i < 2000; ++i) {
            EXPECT_EQ(Modify(data_.Get(), Props(i % 300, "w", i)), S_OK);
            if (i % 7 == 0) Delete(data_.Get(), (i * 13) % 300);
        }
        done = true;
    });
    while (!done) {
        RowSetPtr rows;
        ASSERT_EQ(view->SeekRow(BOOKMARK_BEGINNING, 0, nullptr), S_OK);
        ASSERT_EQ(view->QueryRows(50, 0, &rows), S_OK);
        ASSERT_LE(rows->cRows, 50u);
    }
    writer.join();
    std::vector<LONG> ids = All(view.Get());
    EXPECT_EQ(ids.size(), Count(view.Get()));
    EXPECT_EQ(std::set<LONG>(ids.begin(), ids.end()).size(), ids.size());
}

}  // namespace
}  // namespace quillory
