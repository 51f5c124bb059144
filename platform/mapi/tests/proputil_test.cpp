#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/mapi/proputil.h"

namespace quillory {
namespace {

// A source array of every type, built in its own MAPI chain so that the test
// can free it before reading a copy (ASan then catches any sharing).
class SourceSet {
public:
    SourceSet()
    {
        EXPECT_EQ(MAPIAllocateBuffer(sizeof(SPropValue) * kCount, reinterpret_cast<void**>(&props_)), S_OK);
        int i = 0;
        auto next = [&](ULONG type) -> SPropValue& {
            props_[i].ulPropTag = PROP_TAG(type, 0x6700 + i);
            return props_[i++];
        };
        next(PT_NULL).Value.x = 0;
        next(PT_I2).Value.i = -7;
        next(PT_LONG).Value.l = -123456;
        next(PT_R4).Value.flt = 1.5f;
        next(PT_DOUBLE).Value.dbl = 2.25;
        next(PT_CURRENCY).Value.cur.int64 = 1234567890123LL;
        next(PT_APPTIME).Value.at = 45000.5;
        next(PT_ERROR).Value.err = MAPI_E_NOT_FOUND;
        next(PT_BOOLEAN).Value.b = 1;
        next(PT_I8).Value.li.QuadPart = -(1LL << 40);
        next(PT_SYSTIME).Value.ft = FILETIME{0x89ABCDEF, 0x01D9ABCD};
        next(PT_STRING8).Value.lpszA = Str("alt.test.quillory");
        SPropValue& clsid = next(PT_CLSID);
        clsid.Value.lpguid = static_cast<GUID*>(More(sizeof(GUID)));
        *clsid.Value.lpguid = GUID{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
        SPropValue& bin = next(PT_BINARY);
        bin.Value.bin.cb = 5;
        bin.Value.bin.lpb = static_cast<BYTE*>(More(5));
        std::memcpy(bin.Value.bin.lpb, "\x00\x01\xFE\xFF\x7F", 5);
        SPropValue& mvi = next(PT_MV_I2);
        mvi.Value.MVi.cValues = 3;
        mvi.Value.MVi.lpi = static_cast<short*>(More(3 * sizeof(short)));
        mvi.Value.MVi.lpi[0] = 1, mvi.Value.MVi.lpi[1] = -2, mvi.Value.MVi.lpi[2] = 3;
        SPropValue& mvl = next(PT_MV_LONG);
        mvl.Value.MVl.cValues = 2;
        mvl.Value.MVl.lpl = static_cast<LONG*>(More(2 * sizeof(LONG)));
        mvl.Value.MVl.lpl[0] = 0x7FFFFFFF, mvl.Value.MVl.lpl[1] = -1;
        SPropValue& mvs = next(PT_MV_STRING8);
        mvs.Value.MVszA.cValues = 3;
        mvs.Value.MVszA.lppszA = static_cast<LPSTR*>(More(3 * sizeof(LPSTR)));
        mvs.Value.MVszA.lppszA[0] = Str("comp.lang.c");
        mvs.Value.MVszA.lppszA[1] = Str("");
        mvs.Value.MVszA.lppszA[2] = Str("de.test");
        SPropValue& mvb = next(PT_MV_BINARY);
        mvb.Value.MVbin.cValues = 2;
        mvb.Value.MVbin.lpbin = static_cast<SBinary*>(More(2 * sizeof(SBinary)));
        mvb.Value.MVbin.lpbin[0] = SBinary{3, static_cast<BYTE*>(More(3))};
        std::memcpy(mvb.Value.MVbin.lpbin[0].lpb, "abc", 3);
        mvb.Value.MVbin.lpbin[1] = SBinary{0, static_cast<BYTE*>(More(1))};
        next(PT_OBJECT).Value.x = 0;
        EXPECT_EQ(i, kCount);
    }
    ~SourceSet() { Free(); }
    void Free()
    {
        MAPIFreeBuffer(props_);
        props_ = nullptr;
    }
    LPSPropValue Get() const { return props_; }

    static constexpr int kCount = 19;

private:
    void* More(ULONG cb)
    {
        void* p = nullptr;
        EXPECT_EQ(MAPIAllocateMore(cb, props_, &p), S_OK);
        return p;
    }
    char* Str(const char* s)
    {
        auto* p = static_cast<char*>(More(static_cast<ULONG>(std::strlen(s) + 1)));
        std::strcpy(p, s);
        return p;
    }
    LPSPropValue props_ = nullptr;
};

// Checks a copy of SourceSet's array against freshly built expectations.
void ExpectLikeSource(const SPropValue* copy)
{
    SourceSet expected;
    for (int i = 0; i < SourceSet::kCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(copy[i].ulPropTag, expected.Get()[i].ulPropTag);
        EXPECT_EQ(ComparePropValues(copy[i], expected.Get()[i]), 0);
    }
    // Spot checks that do not rely on the comparison.
    EXPECT_STREQ(copy[11].Value.lpszA, "alt.test.quillory");
    EXPECT_EQ(copy[12].Value.lpguid->Data1, 0x12345678u);
    EXPECT_EQ(std::memcmp(copy[13].Value.bin.lpb, "\x00\x01\xFE\xFF\x7F", 5), 0);
    EXPECT_STREQ(copy[16].Value.MVszA.lppszA[2], "de.test");
    EXPECT_EQ(copy[17].Value.MVbin.lpbin[0].cb, 3u);
    EXPECT_EQ(copy[9].Value.li.QuadPart, -(1LL << 40));
    EXPECT_EQ(copy[10].Value.ft.dwHighDateTime, 0x01D9ABCDu);
}

TEST(PropUtil, DupPropsetCopiesEveryTypeIntoOneIndependentBlock)
{
    SourceSet src;
    ULONG cb = 0;
    ASSERT_EQ(ScCountProps(SourceSet::kCount, src.Get(), &cb), S_OK);
    EXPECT_GT(cb, SourceSet::kCount * sizeof(SPropValue));
    LPSPropValue raw = nullptr;
    ASSERT_EQ(ScDupPropset(SourceSet::kCount, src.Get(), MAPIAllocateBuffer, &raw), S_OK);
    MapiBuffer<SPropValue> copy(raw);
    src.Free();
    ExpectLikeSource(copy.Get());
}

TEST(PropUtil, CopyPropsUsesExactlyTheCountedBytes)
{
    SourceSet src;
    ULONG cb = 0;
    ASSERT_EQ(ScCountProps(SourceSet::kCount, src.Get(), &cb), S_OK);
    // Exact-size heap block: ASan reports any write past the counted size.
    auto* block = std::malloc(cb);
    ASSERT_NE(block, nullptr);
    ULONG used = 0;
    ASSERT_EQ(ScCopyProps(SourceSet::kCount, src.Get(), block, &used), S_OK);
    EXPECT_EQ(used, cb);
    src.Free();
    ExpectLikeSource(static_cast<SPropValue*>(block));
    std::free(block);
}

TEST(PropUtil, PropCopyMoreChainsEachValueToTheTarget)
{
    SourceSet src;
    MapiBuffer<SPropValue> target;
    ASSERT_EQ(MAPIAllocateBuffer(sizeof(SPropValue) * SourceSet::kCount, target.AsVoidOut()), S_OK);
    for (int i = 0; i < SourceSet::kCount; ++i)
        ASSERT_EQ(PropCopyMore(&target.Get()[i], &src.Get()[i], MAPIAllocateMore, target.Get()), S_OK) << i;
    src.Free();
    ExpectLikeSource(target.Get());
    // Freeing the head frees every chained value (ASan checks for leaks).
}

TEST(PropUtil, CopiesRejectUnknownTypesAndMissingData)
{
    SPropValue v{};
    ULONG cb = 0;
    v.ulPropTag = PROP_TAG(PT_UNICODE, 0x3001);
    EXPECT_EQ(ScCountProps(1, &v, &cb), MAPI_E_INVALID_PARAMETER);
    v.ulPropTag = PROP_TAG(0x0099, 0x3001);
    EXPECT_EQ(ScCountProps(1, &v, &cb), MAPI_E_INVALID_PARAMETER);
    v.ulPropTag = PR_NULL | PT_STRING8;
    v.Value.lpszA = nullptr;
    EXPECT_EQ(ScCountProps(1, &v, &cb), MAPI_E_INVALID_PARAMETER);
    v.ulPropTag = PROP_TAG(PT_BINARY, 0x3002);
    v.Value.bin = SBinary{4, nullptr};
    LPSPropValue out = reinterpret_cast<LPSPropValue>(&cb);
    EXPECT_EQ(ScDupPropset(1, &v, MAPIAllocateBuffer, &out), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(out, nullptr);
    // An empty binary without data copies as empty.
    v.Value.bin = SBinary{0, nullptr};
    ASSERT_EQ(ScDupPropset(1, &v, MAPIAllocateBuffer, &out), S_OK);
    EXPECT_EQ(out->Value.bin.cb, 0u);
    MAPIFreeBuffer(out);
    EXPECT_EQ(ScCountProps(-1, &v, &cb), MAPI_E_INVALID_PARAMETER);
}

TEST(PropUtil, FindPropMatchesFullTagOrIdForUnspecified)
{
    SPropValue props[3]{};
    props[0].ulPropTag = 0x67910040;  // last check time
    props[1].ulPropTag = 0x6791000B;  // allow HTML: same ID, other type
    props[2].ulPropTag = PROP_TAG(PT_STRING8, 0x3001);
    EXPECT_EQ(PpropFindProp(props, 3, 0x6791000B), &props[1]);
    EXPECT_EQ(PpropFindProp(props, 3, 0x67910040), &props[0]);
    EXPECT_EQ(PpropFindProp(props, 3, 0x67910003), nullptr);
    EXPECT_EQ(PpropFindProp(props, 3, PROP_TAG(PT_UNSPECIFIED, 0x3001)), &props[2]);
    EXPECT_EQ(LpValFindProp(0x67910003, 3, props), &props[0]);
    EXPECT_EQ(LpValFindProp(0x30010003, 2, props), nullptr);
    EXPECT_EQ(PpropFindProp(nullptr, 3, 0x6791000B), nullptr);
}

TEST(PropUtil, CopyRowAndTagArray)
{
    SourceSet src;
    SRow row{7, SourceSet::kCount, src.Get()};
    SRow copy{};
    ASSERT_EQ(CopyRow(row, &copy), S_OK);
    MapiBuffer<SPropValue> owner(copy.lpProps);
    src.Free();
    EXPECT_EQ(copy.ulAdrEntryPad, 7u);
    EXPECT_EQ(copy.cValues, static_cast<ULONG>(SourceSet::kCount));
    ExpectLikeSource(copy.lpProps);

    auto tags = MakeTagArray({0x67910040, 0x6791000B, PR_NULL});
    ASSERT_TRUE(tags);
    EXPECT_EQ(tags->cValues, 3u);
    EXPECT_EQ(tags->aulPropTag[1], 0x6791000Bu);
    EXPECT_EQ(MakeTagArray({})->cValues, 0u);
}

SPropValue Str(const char* s)
{
    SPropValue v{};
    v.ulPropTag = PROP_TAG(PT_STRING8, 0x0037);
    v.Value.lpszA = const_cast<char*>(s);
    return v;
}

SPropValue Bin(const char* s, ULONG cb)
{
    SPropValue v{};
    v.ulPropTag = PROP_TAG(PT_BINARY, 0x0FFF);
    v.Value.bin = SBinary{cb, reinterpret_cast<BYTE*>(const_cast<char*>(s))};
    return v;
}

TEST(PropUtil, CompareOrdersEachKindOfValue)
{
    EXPECT_LT(ComparePropValues(Str("Apple"), Str("apple")), 0);
    EXPECT_EQ(ComparePropValues(Str("Apple"), Str("apple"), true), 0);
    EXPECT_LT(ComparePropValues(Str("abc"), Str("abcd")), 0);
    // Bytes compare unsigned: a high byte sorts after ASCII.
    EXPECT_GT(ComparePropValues(Str("\xE4"), Str("z")), 0);
    EXPECT_LT(ComparePropValues(Bin("ab", 2), Bin("ab\0", 3)), 0);
    EXPECT_GT(ComparePropValues(Bin("\xFF", 1), Bin("\x01\x02", 2)), 0);
    EXPECT_EQ(ComparePropValues(Bin(nullptr, 0), Bin("", 0)), 0);

    SPropValue a{}, b{};
    a.ulPropTag = b.ulPropTag = PROP_TAG(PT_LONG, 1);
    a.Value.l = -5, b.Value.l = 3;
    EXPECT_LT(ComparePropValues(a, b), 0);
    a.ulPropTag = b.ulPropTag = PROP_TAG(PT_SYSTIME, 1);
    a.Value.ft = FILETIME{0xFFFFFFFF, 1};
    b.Value.ft = FILETIME{0, 2};
    EXPECT_LT(ComparePropValues(a, b), 0);  // the high part decides
    a.ulPropTag = b.ulPropTag = PROP_TAG(PT_BOOLEAN, 1);
    a.Value.b = 0, b.Value.b = 7;
    EXPECT_LT(ComparePropValues(a, b), 0);
    a.Value.b = 1;
    EXPECT_EQ(ComparePropValues(a, b), 0);  // any non-zero is TRUE
    a.ulPropTag = b.ulPropTag = PROP_TAG(PT_I8, 1);
    a.Value.li.QuadPart = -1, b.Value.li.QuadPart = 1LL << 40;
    EXPECT_LT(ComparePropValues(a, b), 0);

    LONG la[] = {1, 2}, lb[] = {1, 2, 0};
    a.ulPropTag = b.ulPropTag = PT_MV_LONG;
    a.Value.MVl = SLongArray{2, la};
    b.Value.MVl = SLongArray{3, lb};
    EXPECT_LT(ComparePropValues(a, b), 0);
    lb[1] = 1;
    EXPECT_GT(ComparePropValues(a, b), 0);
}

}  // namespace
}  // namespace quillory
