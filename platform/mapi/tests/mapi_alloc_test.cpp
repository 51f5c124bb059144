#include <gtest/gtest.h>

#include <cstring>

#include "platform/mapi/mapi_alloc.h"

namespace quillory {
namespace {

// ASan reports a leak or a double free if the chain is not freed exactly once.
TEST(MapiAlloc, FreeingTheHeadFreesEveryChainedBlock)
{
    void* head = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(sizeof(SPropValue) * 3, &head), S_OK);
    auto* props = static_cast<SPropValue*>(head);
    for (int i = 0; i < 3; ++i) {
        void* text = nullptr;
        ASSERT_EQ(MAPIAllocateMore(32, head, &text), S_OK);
        std::strcpy(static_cast<char*>(text), "alt.test");
        props[i].ulPropTag = PROP_TAG(PT_STRING8, 0x6600 + i);
        props[i].Value.lpszA = static_cast<char*>(text);
    }
    EXPECT_STREQ(props[2].Value.lpszA, "alt.test");
    EXPECT_EQ(MAPIFreeBuffer(head), 0u);
}

TEST(MapiAlloc, BlocksAreZeroFilledAndAligned)
{
    MapiBuffer<BYTE> buf;
    ASSERT_EQ(MAPIAllocateBuffer(64, buf.AsVoidOut()), S_OK);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(buf.Get()[i], 0);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buf.Get()) % 16, 0u);
}

TEST(MapiAlloc, RefusesChainingToSomethingThatIsNotAHead)
{
    void* head = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(8, &head), S_OK);
    void* more = nullptr;
    ASSERT_EQ(MAPIAllocateMore(8, head, &more), S_OK);
    void* bad = nullptr;
    EXPECT_EQ(MAPIAllocateMore(8, more, &bad), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(bad, nullptr);
    EXPECT_NE(MAPIFreeBuffer(more), 0u);  // a chained block goes with its head only
    EXPECT_EQ(MAPIFreeBuffer(head), 0u);
    EXPECT_EQ(MAPIFreeBuffer(nullptr), 0u);
}

TEST(MapiAlloc, PropertyMacrosKeepIdAndType)
{
    constexpr ULONG kHtmlAllowed = 0x6791000B;
    constexpr ULONG kLastCheck = 0x67910040;
    EXPECT_EQ(PROP_ID(kHtmlAllowed), PROP_ID(kLastCheck));
    EXPECT_NE(kHtmlAllowed, kLastCheck);
    EXPECT_EQ(CHANGE_PROP_TYPE(kHtmlAllowed, PT_ERROR), 0x6791000Au);
    EXPECT_EQ(PROP_TYPE(PT_MV_STRING8), 0x101Eu);
    EXPECT_EQ(PR_NULL, 0x00000001u);
}

}  // namespace
}  // namespace quillory
