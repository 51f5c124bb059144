#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/base/time.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapiutil.h"

namespace quillory {
namespace {

TEST(MapiUtil, HexRoundTripAndBadInput)
{
    BYTE bytes[] = {0x00, 0x01, 0xAB, 0xFF, 0x7F, 0x80};
    char text[2 * sizeof bytes + 1];
    std::memset(text, 'x', sizeof text);
    HexFromBin(bytes, sizeof bytes, text);
    EXPECT_STREQ(text, "0001ABFF7F80");

    BYTE back[sizeof bytes] = {};
    ASSERT_TRUE(FBinFromHex(text, back));
    EXPECT_EQ(std::memcmp(back, bytes, sizeof bytes), 0);
    char lower[] = "0001abff7f80";
    std::memset(back, 0, sizeof back);
    ASSERT_TRUE(FBinFromHex(lower, back));
    EXPECT_EQ(std::memcmp(back, bytes, sizeof bytes), 0);

    // Bad text fails without touching the output.
    BYTE guard[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    char odd[] = "ABC";
    char notHex[] = "AB0G";
    char space[] = "AB 0";
    EXPECT_FALSE(FBinFromHex(odd, guard));
    EXPECT_FALSE(FBinFromHex(notHex, guard));
    EXPECT_FALSE(FBinFromHex(space, guard));
    EXPECT_EQ(guard[0], 0xEE);
    EXPECT_FALSE(FBinFromHex(nullptr, guard));

    HexFromBin(bytes, 0, text);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(BinToHex(bytes), "0001ABFF7F80");
    EXPECT_EQ(HexToBin("0001abFF7f80"), std::vector<BYTE>(bytes, bytes + sizeof bytes));
    EXPECT_FALSE(HexToBin("0"));
    EXPECT_FALSE(HexToBin("zz"));
}

struct Index {
    MapiBuffer<BYTE> bytes;
    ULONG cb = 0;
    std::vector<BYTE> Vec() const { return std::vector<BYTE>(bytes.Get(), bytes.Get() + cb); }
};

Index Make(const std::vector<BYTE>& parent = {})
{
    Index out;
    LPBYTE raw = nullptr;
    EXPECT_EQ(ScCreateConversationIndex(static_cast<ULONG>(parent.size()),
                                        parent.empty() ? nullptr : const_cast<BYTE*>(parent.data()), &out.cb, &raw),
              S_OK);
    out.bytes.Reset(raw);
    return out;
}

// A header whose time lies ticksAgo before now.
std::vector<BYTE> HeaderFrom(ULONGLONG ticksAgo)
{
    FILETIME ft{};
    GetSystemTimeAsFileTime(&ft);
    const ULONGLONG top = (FileTimeToUInt64(ft) - ticksAgo) >> 24;
    std::vector<BYTE> h(kConvIndexHeaderSize, 0x5A);
    h[0] = 0x01;
    for (int i = 0; i < 5; ++i) h[1 + i] = static_cast<BYTE>(top >> (8 * (4 - i)));
    return h;
}

ULONG DeltaField(const std::vector<BYTE>& index)
{
    const BYTE* c = index.data() + index.size() - kConvIndexChildSize;
    return ULONG{c[0]} << 24 | ULONG{c[1]} << 16 | ULONG{c[2]} << 8 | c[3];
}

TEST(MapiUtil, NewConversationIndexIsAHeaderWithTodaysTimeAndAFreshGuid)
{
    FILETIME before{};
    GetSystemTimeAsFileTime(&before);
    Index a = Make();
    Index b = Make();
    ASSERT_EQ(a.cb, kConvIndexHeaderSize);
    EXPECT_EQ(a.bytes.Get()[0], 0x01);
    ULONGLONG top = 0;
    for (int i = 1; i <= 5; ++i) top = top << 8 | a.bytes.Get()[i];
    const ULONGLONG start = FileTimeToUInt64(before) >> 24;
    EXPECT_GE(top, start);
    EXPECT_LE(top, start + 2);
    EXPECT_NE(std::memcmp(a.bytes.Get() + 6, b.bytes.Get() + 6, 16), 0);
}

TEST(MapiUtil, ChildKeepsItsParentAndSortsAfterEarlierSiblings)
{
    const Index root = Make();
    const std::vector<BYTE> parent = root.Vec();
    std::vector<BYTE> previous;
    for (int i = 0; i < 40; ++i) {  // far more than one delta unit can tell apart
        const Index child = Make(parent);
        ASSERT_EQ(child.cb, kConvIndexHeaderSize + kConvIndexChildSize);
        const std::vector<BYTE> v = child.Vec();
        EXPECT_TRUE(std::equal(parent.begin(), parent.end(), v.begin()));
        if (!previous.empty()) {
            EXPECT_GT(std::memcmp(v.data(), previous.data(), v.size()), 0) << i;
        }
        previous = v;
    }
    // A grandchild extends the child.
    const Index grandchild = Make(previous);
    ASSERT_EQ(grandchild.cb, kConvIndexHeaderSize + 2 * kConvIndexChildSize);
    EXPECT_EQ(std::memcmp(grandchild.bytes.Get(), previous.data(), previous.size()), 0);
}

TEST(MapiUtil, ChildDeltaUsesTheFineUnitThenTheCoarseOne)
{
    constexpr ULONGLONG kSecond = 10'000'000ULL;
    // Ten seconds: the header truncation adds up to 2^24 ticks.
    const ULONG fine = DeltaField(Make(HeaderFrom(10 * kSecond)).Vec());
    EXPECT_EQ(fine & 0x80000000u, 0u);
    EXPECT_GE(ULONGLONG{fine} << 18, 10 * kSecond - (1ULL << 18));
    EXPECT_LE(ULONGLONG{fine} << 18, 10 * kSecond + (1ULL << 24) + 2 * kSecond);

    // Three years is beyond 2^49 ticks.
    const ULONGLONG threeYears = 3ULL * 365 * 24 * 3600 * kSecond;
    const ULONG coarse = DeltaField(Make(HeaderFrom(threeYears)).Vec());
    EXPECT_EQ(coarse & 0x80000000u, 0x80000000u);
    const ULONGLONG decoded = ULONGLONG{coarse & 0x7FFFFFFFu} << 23;
    EXPECT_GE(decoded, threeYears - (1ULL << 23));
    EXPECT_LE(decoded, threeYears + (1ULL << 24) + 2 * kSecond);

    // A parent from the future counts as made now.
    EXPECT_EQ(DeltaField(Make(HeaderFrom(0ULL - 3600 * kSecond)).Vec()) & 0x80000000u, 0u);
}

TEST(MapiUtil, ConversationIndexRejectsBadParents)
{
    ULONG cb = 7;
    LPBYTE out = reinterpret_cast<LPBYTE>(&cb);
    BYTE shortParent[21] = {1};
    EXPECT_EQ(ScCreateConversationIndex(sizeof shortParent, shortParent, &cb, &out), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(cb, 0u);
    EXPECT_EQ(ScCreateConversationIndex(22, nullptr, &cb, &out), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(ScCreateConversationIndex(0, nullptr, nullptr, &out), MAPI_E_INVALID_PARAMETER);
}

}  // namespace
}  // namespace quillory
