#include "common/crc32.h"

#include <gtest/gtest.h>

#include <string>

namespace quillory {
namespace {

TEST(Crc32, IsTheComplementOfTheCommonCrc)
{
    EXPECT_EQ(Crc32("abc"), 0xCADBBE3Du);
    // Common CRC-32 of "123456789" is 0xCBF43926.
    EXPECT_EQ(Crc32("123456789"), ~0xCBF43926u);
    EXPECT_EQ(Crc32(""), kCrc32Initial);
}

TEST(Crc32, HashesEveryByteIncludingHighAndNul)
{
    const std::string withNul("a\0b", 3);
    EXPECT_NE(Crc32(withNul), Crc32("ab"));
    EXPECT_NE(Crc32("\xe4"), Crc32("\xc4"));
}

TEST(Crc32, UpdateContinuesAcrossPieces)
{
    const std::string whole = "comp.lang.c++.moderated";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(whole.data());
    std::uint32_t crc = Crc32Update(kCrc32Initial, {bytes, 5});
    crc = Crc32Update(crc, {bytes + 5, whole.size() - 5});
    EXPECT_EQ(crc, Crc32(whole));
}

}  // namespace
}  // namespace quillory
