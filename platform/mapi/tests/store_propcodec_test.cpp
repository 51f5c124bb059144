#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/mapi/propcodec.h"
#include "platform/mapi/proputil.h"

namespace quillory {
namespace {

// Values of every type the platform holds, with edge contents (empty
// strings and arrays, negative numbers, a NaN bit pattern, high bytes).
struct Sample {
    std::vector<SPropValue> values;
    // Backing storage for the pointers in values.
    std::string text = "alt.test \xE9\xFF";
    std::string empty;
    GUID guid{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 0xFF}};
    std::vector<BYTE> bytes{0, 1, 0xFE, 0xFF, 0};
    std::vector<short> shorts{-1, 0, 32767, -32768};
    std::vector<LONG> longs{-2147483647 - 1, 0, 2147483647};
    std::string s1 = "one", s2 = "", s3 = "three";
    std::vector<LPSTR> strings{s1.data(), s2.data(), s3.data()};
    std::vector<SBinary> bins{{0, nullptr}, {5, bytes.data()}};

    Sample()
    {
        ULONG id = 0x6700;
        auto add = [&](ULONG type) -> PV& {
            SPropValue v{};
            v.ulPropTag = PROP_TAG(type, id++);
            values.push_back(v);
            return values.back().Value;
        };
        add(PT_NULL).l = 0;
        add(PT_OBJECT).l = 0x1234;
        add(PT_I2).i = -7;
        add(PT_BOOLEAN).b = 1;
        add(PT_LONG).l = -123456;
        add(PT_ERROR).err = MAPI_E_NOT_FOUND;
        add(PT_R4).flt = -1.5f;
        add(PT_DOUBLE).dbl = 1e300;
        std::uint64_t nan = 0x7FF8000000000123ull;
        std::memcpy(&add(PT_APPTIME).dbl, &nan, 8);
        add(PT_CURRENCY).cur.int64 = -1234567890123LL;
        add(PT_I8).li.QuadPart = -(1LL << 62);
        add(PT_SYSTIME).ft = FILETIME{0x89ABCDEF, 0xF1D9ABCD};
        add(PT_CLSID).lpguid = &guid;
        add(PT_STRING8).lpszA = text.data();
        add(PT_STRING8).lpszA = empty.data();
        add(PT_BINARY).bin = SBinary{static_cast<ULONG>(bytes.size()), bytes.data()};
        add(PT_BINARY).bin = SBinary{0, nullptr};
        add(PT_MV_I2).MVi = SShortArray{static_cast<ULONG>(shorts.size()), shorts.data()};
        add(PT_MV_LONG).MVl = SLongArray{static_cast<ULONG>(longs.size()), longs.data()};
        add(PT_MV_LONG).MVl = SLongArray{0, nullptr};
        add(PT_MV_STRING8).MVszA = SLPSTRArray{static_cast<ULONG>(strings.size()), strings.data()};
        add(PT_MV_BINARY).MVbin = SBinaryArray{static_cast<ULONG>(bins.size()), bins.data()};
    }
};

// Equal values, floating point by bit pattern (NaN included).
void ExpectSame(const SPropValue& a, const SPropValue& b)
{
    ASSERT_EQ(a.ulPropTag, b.ulPropTag);
    switch (PROP_TYPE(a.ulPropTag)) {
    case PT_NULL:
    case PT_OBJECT: EXPECT_EQ(a.Value.l, b.Value.l); break;
    case PT_R4: EXPECT_EQ(0, std::memcmp(&a.Value.flt, &b.Value.flt, 4)); break;
    case PT_DOUBLE:
    case PT_APPTIME: EXPECT_EQ(0, std::memcmp(&a.Value.dbl, &b.Value.dbl, 8)); break;
    default: EXPECT_EQ(0, ComparePropValues(a, b)) << std::hex << a.ulPropTag;
    }
}

TEST(StorePropCodec, EveryTypeRoundTripsAloneAndInAnArray)
{
    Sample s;
    for (const SPropValue& v : s.values) {
        std::vector<BYTE> bytes;
        ASSERT_EQ(EncodePropValue(v, bytes), S_OK) << std::hex << v.ulPropTag;
        ULONG tag = 0;
        std::size_t size = 0;
        ASSERT_EQ(PeekPropValue(bytes, &tag, &size), S_OK);
        EXPECT_EQ(tag, v.ulPropTag);
        EXPECT_EQ(size, bytes.size());
        MapiBuffer<SPropValue> back;
        ASSERT_EQ(DecodePropValue(bytes, &back), S_OK) << std::hex << v.ulPropTag;
        ExpectSame(v, *back.Get());
    }
    std::vector<BYTE> all;
    ASSERT_EQ(EncodePropArray(s.values, all), S_OK);
    ULONG count = 0;
    MapiBuffer<SPropValue> back;
    ASSERT_EQ(DecodePropArray(all, &count, &back), S_OK);
    ASSERT_EQ(count, s.values.size());
    for (ULONG i = 0; i < count; ++i) ExpectSame(s.values[i], back.Get()[i]);

    // Values decode into a caller's chain and the chain owns their data.
    MapiBuffer<SPropValue> head;
    ASSERT_EQ(MAPIAllocateBuffer(sizeof(SPropValue), head.AsVoidOut()), S_OK);
    std::vector<BYTE> one;
    ASSERT_EQ(EncodePropValue(s.values[13], one), S_OK);  // the string
    std::size_t used = 0;
    one.push_back(0xAA);  // a following value's first byte is not consumed
    ASSERT_EQ(DecodePropValue(one, head.Get(), head.Get(), &used), S_OK);
    EXPECT_EQ(used, one.size() - 1);
    EXPECT_STREQ(head->Value.lpszA, s.text.c_str());
}

TEST(StorePropCodec, LittleEndianLayoutIsFixed)
{
    // The stored form is shared between processes and versions: pin it.
    SPropValue v{};
    v.ulPropTag = PROP_TAG(PT_LONG, 0x0003);
    v.Value.l = 0x01020304;
    std::vector<BYTE> bytes;
    ASSERT_EQ(EncodePropValue(v, bytes), S_OK);
    EXPECT_EQ(bytes, (std::vector<BYTE>{0x03, 0x00, 0x03, 0x00, 0x04, 0x03, 0x02, 0x01}));
    std::string text = "ab";
    v.ulPropTag = PROP_TAG(PT_STRING8, 0x3001);
    v.Value.lpszA = text.data();
    bytes.clear();
    ASSERT_EQ(EncodePropValue(v, bytes), S_OK);
    EXPECT_EQ(bytes, (std::vector<BYTE>{0x1E, 0x00, 0x01, 0x30, 2, 0, 0, 0, 'a', 'b'}));
}

TEST(StorePropCodec, RefusesWhatItCannotHold)
{
    std::vector<BYTE> bytes{9};
    SPropValue v{};
    v.ulPropTag = PROP_TAG(PT_UNICODE, 0x3001);
    EXPECT_EQ(EncodePropValue(v, bytes), MAPI_E_INVALID_TYPE);
    v.ulPropTag = PROP_TAG(PT_UNSPECIFIED, 0x3001);
    EXPECT_EQ(EncodePropValue(v, bytes), MAPI_E_INVALID_TYPE);
    v.ulPropTag = PROP_TAG(PT_STRING8, 0x3001);
    v.Value.lpszA = nullptr;
    EXPECT_EQ(EncodePropValue(v, bytes), MAPI_E_INVALID_PARAMETER);
    v.ulPropTag = PROP_TAG(PT_MV_BINARY, 0x3001);
    v.Value.MVbin = SBinaryArray{2, nullptr};
    EXPECT_EQ(EncodePropValue(v, bytes), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(bytes, std::vector<BYTE>{9});  // untouched on failure
}

TEST(StorePropCodec, CorruptInputIsRefusedWithoutReadingOutOfBounds)
{
    Sample s;
    std::vector<BYTE> all;
    ASSERT_EQ(EncodePropArray(s.values, all), S_OK);
    // Every truncation of the array is corrupt. Each prefix is copied to its
    // own exact-size heap block, so ASan sees any read past the end.
    for (std::size_t n = 0; n < all.size(); ++n) {
        std::vector<BYTE> cut(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
        ULONG count = 0;
        MapiBuffer<SPropValue> out;
        EXPECT_EQ(DecodePropArray(cut, &count, &out), MAPI_E_CORRUPT_DATA) << n;
        EXPECT_FALSE(out);
    }
    // Trailing bytes are corrupt too.
    std::vector<BYTE> longer = all;
    longer.push_back(0);
    ULONG count = 0;
    MapiBuffer<SPropValue> out;
    EXPECT_EQ(DecodePropArray(longer, &count, &out), MAPI_E_CORRUPT_DATA);

    // Hand-made lies: huge counts and lengths, unknown types, a NUL inside
    // a string.
    const std::vector<std::vector<BYTE>> bad = {
        {0x02, 0x01, 0x03, 0x67, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2},              // binary length past the end
        {0x1E, 0x10, 0x03, 0x67, 0xFF, 0xFF, 0xFF, 0xFF},                    // MV string count too large
        {0x03, 0x10, 0x03, 0x67, 0x00, 0x00, 0x00, 0x40, 1, 2, 3, 4},        // MV long count too large
        {0x1F, 0x00, 0x03, 0x67, 0, 0, 0, 0},                                // PT_UNICODE
        {0x00, 0x00, 0x03, 0x67, 0, 0, 0, 0},                                // PT_UNSPECIFIED
        {0x99, 0x00, 0x03, 0x67, 0, 0, 0, 0},                                // unknown type
        {0x1E, 0x00, 0x03, 0x67, 3, 0, 0, 0, 'a', 0, 'b'},                   // NUL inside
    };
    for (const auto& b : bad) {
        MapiBuffer<SPropValue> v;
        EXPECT_EQ(DecodePropValue(b, &v), MAPI_E_CORRUPT_DATA);
        EXPECT_EQ(PeekPropValue(b, nullptr, nullptr), MAPI_E_CORRUPT_DATA);
    }
    std::vector<BYTE> hugeArray{0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x00};
    EXPECT_EQ(DecodePropArray(hugeArray, &count, &out), MAPI_E_CORRUPT_DATA);
}

TEST(StorePropCodec, RandomDamageNeverCrashes)
{
    Sample s;
    std::vector<BYTE> all;
    ASSERT_EQ(EncodePropArray(s.values, all), S_OK);
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        std::vector<BYTE> damaged = all;
        const int flips = 1 + static_cast<int>(rng() % 4);
        for (int i = 0; i < flips; ++i) damaged[rng() % damaged.size()] = static_cast<BYTE>(rng());
        if (rng() % 2) damaged.resize(rng() % damaged.size());
        ULONG count = 0;
        MapiBuffer<SPropValue> out;
        const SCODE sc = DecodePropArray(damaged, &count, &out);
        ASSERT_TRUE(sc == S_OK || sc == MAPI_E_CORRUPT_DATA) << std::hex << sc;
        if (sc == S_OK) {
            // Whatever decodes is a well-formed value set that encodes back to
            // the same bytes.
            std::vector<BYTE> again;
            EXPECT_EQ(EncodePropArray(std::span<const SPropValue>(out.Get(), count), again), S_OK);
            EXPECT_EQ(again, damaged);
        }
    }
}

}  // namespace
}  // namespace quillory
