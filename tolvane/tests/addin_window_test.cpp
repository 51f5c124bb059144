// The add-in window's notices are read within their size, and its text
// reads back through the provider's own parser.
#include <gtest/gtest.h>

#include "platform/mapi/mapiutil.h"
#include "provider/settings/addin_window.h"
#include "tolvane/addin_window.h"

namespace quillory::testing {
namespace {

std::span<const char> Bytes(std::string_view s) { return {s.data(), s.size()}; }

TEST(AddinWindowNotices, AreReadWithinTheirSizeAndMalformedOnesAreDropped)
{
    using tolvane::ParseAccountCreated;
    using tolvane::ParseAccountRenamed;
    EXPECT_EQ(ParseAccountCreated(Bytes(std::string_view("news\0", 5))), "news");
    EXPECT_EQ(ParseAccountCreated(Bytes(std::string_view("news\0garbage", 12))), "news");
    // A missing NUL is not read past: the data ends where its size says.
    const char unterminated[] = {'n', 'e', 'w', 's', 'X', 'Y'};
    EXPECT_FALSE(ParseAccountCreated(std::span<const char>(unterminated, 4)));
    EXPECT_FALSE(ParseAccountCreated({}));
    const auto renamed = ParseAccountRenamed(Bytes(std::string_view("old\0new\0", 8)));
    ASSERT_TRUE(renamed);
    EXPECT_EQ(renamed->first, "old");
    EXPECT_EQ(renamed->second, "new");
    EXPECT_FALSE(ParseAccountRenamed(Bytes(std::string_view("old\0new", 7))));
    EXPECT_FALSE(ParseAccountRenamed(Bytes(std::string_view("old\0", 4))));
    EXPECT_FALSE(ParseAccountRenamed(Bytes(std::string_view("old", 3))));
}

TEST(AddinWindowText, ChoosesAnInternetAddressAndReadsBackThroughTheProvidersParser)
{
    using tolvane::ChooseIdentity;
    const std::vector<std::string> proxies = {"X400:c=US;a= ;p=Org", "smtp:ann@other.example", "SMTP:ann@example.org"};
    auto who = ChooseIdentity("ann@example.org", "Ann Smith", {});
    EXPECT_EQ(who.address, "ann@example.org");
    who = ChooseIdentity("/o=Org/ou=Site/cn=Recipients/cn=ann", "Ann Smith", proxies);
    EXPECT_EQ(who.address, "ann@example.org");  // the first "SMTP:" proxy with "@"
    who = ChooseIdentity("ann", "Ann Smith", {});
    EXPECT_TRUE(who.address.empty() && who.name.empty());  // both or neither
    who = ChooseIdentity("ann@example.org", "", {});
    EXPECT_TRUE(who.address.empty() && who.name.empty());

    const std::vector<BYTE> folder = {0x00, 0x01, 0xAB, 0xCD, 0xEF, 0x10, 0x20, 0x30, 0x40, 0x50, 0xFE, 0xFF};
    const std::vector<BYTE> store = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const std::string text =
        tolvane::ComposeWindowText(ChooseIdentity("ann@example.org", "Ann Smith", {}), BinToHex(folder), BinToHex(store));
    EXPECT_EQ(text, "ann@example.org;Ann Smith;0001ABCDEF1020304050FEFF;DEADBEEF001122334455");
    const AddinWindowText parsed = ParseAddinWindowText(text);
    EXPECT_EQ(parsed.email, "ann@example.org");
    EXPECT_EQ(parsed.userName, "Ann Smith");
    EXPECT_EQ(EntryIdFromHexField(parsed.folderHex), folder);
    EXPECT_EQ(EntryIdFromHexField(parsed.storeHex), store);
    EXPECT_EQ(tolvane::ComposeWindowText({}, "", ""), ";;;");
    // A name with the separator in it cannot shift the folder's field.
    const std::string odd = tolvane::ComposeWindowText(ChooseIdentity("ann@example.org", "Smith; Ann", {}),
                                                       BinToHex(folder), BinToHex(store));
    EXPECT_EQ(ParseAddinWindowText(odd).userName, "Smith, Ann");
    EXPECT_EQ(EntryIdFromHexField(ParseAddinWindowText(odd).folderHex), folder);
}

}  // namespace
}  // namespace quillory::testing
