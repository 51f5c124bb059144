#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/base/tests/test_home.h"
#include "provider/posting/rtf_text.h"
#include "provider/posting/submit_post.h"

namespace quillory::quarnex {
namespace {

using testing::TempHome;

class GroupFiles : public ::testing::Test {
protected:
    void Write(const std::string& name, const std::string& text)
    {
        std::ofstream(home.path() / name, std::ios::binary) << text;
    }
    bool Available(std::string_view group, DWORD postUnsubscribed)
    {
        return NewsgroupAvailable((home.path() / "groups-0001a2b3.txt").string(), group, postUnsubscribed);
    }
    TempHome home;
    const std::string list = " * alt.test Test group\r\n   comp.lang.c\r\n!  alt.test.new\r\n";
};

TEST_F(GroupFiles, SubscriptionFileDecidesWhenItNamesTheGroup)
{
    Write("groups-0001a2b3.txt", list);
    Write("groups-0001a2b3-sub.txt", "# Subscribed groups\r\nalt.test\r\n");
    EXPECT_TRUE(Available("alt.test", 0));
    // Exact and case-sensitive; a prefix of a listed name is not the name.
    EXPECT_FALSE(Available("ALT.TEST", 0));
    EXPECT_FALSE(Available("alt.tes", 0));
    // Listed but unsubscribed: only with PostUnsubscribed.
    EXPECT_FALSE(Available("comp.lang.c", 0));
    EXPECT_TRUE(Available("comp.lang.c", 1));
    // Not on the server's list at all.
    EXPECT_FALSE(Available("misc.unknown", 1));
}

TEST_F(GroupFiles, EmptySubscriptionFileAllowsOnlyListedGroupsWithPostUnsubscribed)
{
    Write("groups-0001a2b3.txt", list);
    Write("groups-0001a2b3-sub.txt", "");
    EXPECT_FALSE(Available("alt.test", 0));
    EXPECT_TRUE(Available("alt.test", 1));
    EXPECT_TRUE(Available("comp.lang.c", 1));
}

TEST_F(GroupFiles, WithoutSubscriptionFileTheListMarksDecide)
{
    Write("groups-0001a2b3.txt", list);
    EXPECT_TRUE(Available("alt.test", 0));
    EXPECT_TRUE(Available("Alt.Test", 0));  // the list is compared in upper case
    EXPECT_FALSE(Available("comp.lang.c", 0));
    EXPECT_TRUE(Available("comp.lang.c", 1));
    // "alt.test" first occurs inside "alt.test.new"'s line only after its own
    // line; the later, longer name must not count for a shorter one.
    EXPECT_FALSE(Available("alt.test.ne", 1));
    EXPECT_TRUE(Available("alt.test.new", 1));
    // A group named only inside another group's description is not listed.
    Write("groups-0001a2b3.txt", " * alt.other mirrors comp.secret\r\n");
    EXPECT_FALSE(Available("comp.secret", 1));
}

TEST_F(GroupFiles, NoFilesNoPosting)
{
    EXPECT_FALSE(Available("alt.test", 1));
    EXPECT_FALSE(NewsgroupAvailable("", "alt.test", 1));
}

TEST(PostBuffer, GrowsOnlyForMessagesOverOneAndAHalfMillionBytes)
{
    EXPECT_EQ(PostBufferSize(0), kPostBufferSize);
    EXPECT_EQ(PostBufferSize(1'500'000), kPostBufferSize);
    EXPECT_EQ(PostBufferSize(1'500'002), 2'250'003u);
    EXPECT_EQ(PostBufferSize(0xFFFFFFFF), 0xFFFFFFFFu);  // no wrap-around
}

TEST(BodyKind, FirstFromControlWordDecides)
{
    EXPECT_EQ(BodyKindOfRtf("{\\rtf1\\ansi\\fromtext \\fbidis text}"), BodyKind::PlainText);
    EXPECT_EQ(BodyKindOfRtf("{\\rtf1\\ansi\\fromhtml1 <html>\\fromtext}"), BodyKind::Html);
    EXPECT_EQ(BodyKindOfRtf("{\\rtf1\\ansi\\fromother}"), BodyKind::Rtf);
    EXPECT_EQ(BodyKindOfRtf("{\\rtf1\\ansi plain rtf}"), BodyKind::Rtf);
}

std::vector<BYTE> Bytes(std::initializer_list<int> values)
{
    std::vector<BYTE> out;
    for (int v : values) out.push_back(static_cast<BYTE>(v));
    return out;
}

TEST(CompressedRtf, DecompressesLiteralsAndDictionaryReferences)
{
    // "{\rtf1\ansi\ansicpg1252\pard hello world}\r\n" compressed: references
    // into the preset dictionary and into text written earlier.
    const auto value = Bytes({0x2d, 0x00, 0x00, 0x00, 0x2b, 0x00, 0x00, 0x00, 0x4c, 0x5a, 0x46, 0x75, 0xf1, 0xc5,
                              0xc7, 0xa7, 0x03, 0x00, 0x0a, 0x00, 0x72, 0x63, 0x70, 0x67, 0x31, 0x32, 0x35, 0x42,
                              0x32, 0x0a, 0xf3, 0x20, 0x68, 0x65, 0x6c, 0x09, 0x00, 0x20, 0x62, 0x77, 0x05, 0xb0,
                              0x6c, 0x64, 0x7d, 0x0a, 0x80, 0x0f, 0xa0});
    const auto text = DecompressRtf(value, 65536);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n");
    EXPECT_EQ(DecompressRtf(value, 10).value(), "{\\rtf1\\ans");
}

TEST(CompressedRtf, UncompressedFormAndDamage)
{
    auto value = Bytes({0x16, 0, 0, 0, 0x0a, 0, 0, 0, 0x4d, 0x45, 0x4c, 0x41, 0, 0, 0, 0});
    for (char c : std::string("{\\rtf1 x}\r")) value.push_back(static_cast<BYTE>(c));
    EXPECT_EQ(DecompressRtf(value, 65536).value(), "{\\rtf1 x}\r");
    EXPECT_FALSE(DecompressRtf(Bytes({1, 2, 3}), 100));
    auto unknown = value;
    unknown[8] = 'X';
    EXPECT_FALSE(DecompressRtf(unknown, 100));
    // A reference cut off at the end of the data.
    EXPECT_FALSE(DecompressRtf(Bytes({0x0e, 0, 0, 0, 0x20, 0, 0, 0, 0x4c, 0x5a, 0x46, 0x75, 0, 0, 0, 0, 0x01, 0x03}), 100));
}

}  // namespace
}  // namespace quillory::quarnex
