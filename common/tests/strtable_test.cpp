// String tables: the format's checks against damaged images, lookup, the
// code-page conversion at load, and the three shipped tables as the build
// generated them (this test program carries them as resources).
#include "common/strtable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>

#include "common/codepage.h"
#include "common/strtable_format.h"
#include "platform/base/module.h"
#include "platform/base/resource.h"

namespace quillory {
namespace {

using strtable::BuildStrTable;
using strtable::Entry;
using strtable::Image;
using strtable::ParseStrTable;
using strtable::PrintfSignature;

std::vector<std::byte> Sample()
{
    Image image;
    image.charset = strtable::ANSI_CHARSET;
    image.entries = {{16, "Logon"}, {2600, "Logon"}, {2602, "Please enter"}, {40253, "Valid\r\nswitches"}};
    return BuildStrTable(image);
}

void PutU32(std::vector<std::byte>& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::byte>((v >> (8 * i)) & 0xFF);
}

TEST(StrTableFormat, BuildsWhatItParses)
{
    const std::vector<std::byte> bytes = Sample();
    // Header, five index entries, then the strings.
    ASSERT_EQ(bytes.size(), 16u + 5 * 8 + 6 + 6 + 13 + 16);
    EXPECT_EQ(std::to_integer<int>(bytes[0]), 0x4C);
    EXPECT_EQ(std::to_integer<int>(bytes[3]), 0x01);
    const auto image = ParseStrTable(bytes);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->charset, 0u);
    EXPECT_EQ(image->reserved, 3u);
    ASSERT_EQ(image->entries.size(), 4u);
    EXPECT_EQ(image->entries[3], (Entry{40253, "Valid\r\nswitches"}));
}

// Each damage applied to a good image must be rejected.
struct Damage {
    const char* what;
    std::function<void(std::vector<std::byte>&)> apply;
};

class DamagedTable : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedTable, IsRejectedAndEmptiesTheTable)
{
    std::vector<std::byte> bytes = Sample();
    GetParam().apply(bytes);
    std::string why;
    EXPECT_FALSE(ParseStrTable(bytes, &why)) << GetParam().what;
    EXPECT_FALSE(why.empty());

    CStrTable table;
    ASSERT_TRUE(table.LoadImage(Sample()));
    ASSERT_EQ(table.Count(), 4u);
    EXPECT_FALSE(table.LoadImage(bytes));
    EXPECT_EQ(table.Count(), 0u);
    EXPECT_FALSE(table.Lookup(16));
}

constexpr std::size_t kSentinelAt = 16 + 4 * 8;

INSTANTIATE_TEST_SUITE_P(
    StrTableFormat, DamagedTable,
    ::testing::Values(
        Damage{"empty", [](auto& b) { b.clear(); }},
        Damage{"short header", [](auto& b) { b.resize(15); }},
        Damage{"bad magic", [](auto& b) { b[3] = std::byte{2}; }},
        Damage{"huge N", [](auto& b) { PutU32(b, 12, 0xFFFFFFFF); }},
        Damage{"N one too many", [](auto& b) { PutU32(b, 12, 5); }},
        Damage{"no sentinel id", [](auto& b) { PutU32(b, kSentinelAt, 0x7FFFFFFF); }},
        Damage{"sentinel offset past the end", [](auto& b) { PutU32(b, kSentinelAt + 4, 0x1000); }},
        Damage{"sentinel offset huge", [](auto& b) { PutU32(b, kSentinelAt + 4, 0xFFFFFFF0); }},
        Damage{"decreasing offsets", [](auto& b) { PutU32(b, 16 + 2 * 8 + 4, 1); }},
        Damage{"equal offsets", [](auto& b) { PutU32(b, 16 + 1 * 8 + 4, 0); }},
        Damage{"no terminating NUL", [](auto& b) { b.back() = std::byte{'x'}; }},
        Damage{"cut in the string area", [](auto& b) { b.resize(b.size() - 3); }}),
    [](const auto& test) {
        std::string name = test.param.what;
        for (char& c : name)
            if (c == ' ') c = '_';
        return name;
    });

TEST(StrTable, LooksUpByIdAndNeverFindsTheSentinel)
{
    CStrTable table;
    EXPECT_EQ(table.Charset(), 1u);  // before any load
    EXPECT_EQ(table.Reserved(), 3u);
    ASSERT_TRUE(table.LoadImage(Sample()));
    EXPECT_EQ(table.Lookup(2602), "Please enter");
    EXPECT_EQ(table.Lookup(40253), "Valid\r\nswitches");
    EXPECT_FALSE(table.Lookup(17));
    EXPECT_FALSE(table.Lookup(strtable::kSentinelId));
    EXPECT_EQ(table.Charset(), 0u);
}

TEST(StrTable, AnIndexOutOfOrderMissesTheIdsOutOfPlace)
{
    Image image;
    image.entries = {{10, "ten"}, {30, "thirty"}, {20, "twenty"}, {40, "forty"}, {50, "fifty"}};
    CStrTable table;
    ASSERT_TRUE(table.LoadImage(BuildStrTable(image)));
    EXPECT_EQ(table.Lookup(10), "ten");
    EXPECT_EQ(table.Lookup(50), "fifty");
    EXPECT_FALSE(table.Lookup(30));  // the search passes it by; the loader does not sort
}

TEST(StrTable, ConvertsTheCodePageOfItsCharsetToUtf8)
{
    Image russian;
    russian.charset = strtable::RUSSIAN_CHARSET;
    russian.entries = {{1, "\xCE\xCA"}, {2, "\xC2\xF5\xEE\xE4"}};  // "ОК", "Вход" in windows-1251
    CStrTable table;
    ASSERT_TRUE(table.LoadImage(BuildStrTable(russian)));
    EXPECT_EQ(table.Lookup(2), "Вход");

    Image german;
    german.charset = strtable::DEFAULT_CHARSET;
    german.entries = {{1, "f\xFC" "r \x84" "Extras\x93"}, {2, "\x81"}};  // 0x81 is undefined in windows-1252
    ASSERT_TRUE(table.LoadImage(BuildStrTable(german)));
    EXPECT_EQ(table.Lookup(1), "für „Extras“");
    EXPECT_EQ(table.Lookup(2), "\xEF\xBF\xBD");  // U+FFFD, never '?'

    Image symbol;
    symbol.charset = 2;  // SYMBOL_CHARSET has no code page to read it with
    symbol.entries = {{1, "x"}};
    std::string why;
    EXPECT_FALSE(table.LoadImage(BuildStrTable(symbol), &why));
    EXPECT_EQ(table.Count(), 0u);
}

TEST(StrTable, AStringHandedOutOutlivesAReload)
{
    CStrTable table;
    ASSERT_TRUE(table.LoadImage(Sample()));
    const std::optional<std::string> text = table.Lookup(2602);
    table.Clear();
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, "Please enter");
}

TEST(PrintfSignatureTest, ComparesConversionsNotText)
{
    EXPECT_EQ(PrintfSignature("%s Properties"), PrintfSignature("Eigenschaften von %s"));
    EXPECT_EQ(PrintfSignature("Port: %i"), PrintfSignature("Port: %d"));
    EXPECT_EQ(PrintfSignature("100%% done"), "");
    EXPECT_EQ(PrintfSignature("%-5ld and %.*s"), "ld *s ");
    EXPECT_NE(PrintfSignature("%s: %i"), PrintfSignature("%i: %s"));
    EXPECT_NE(PrintfSignature("%d minutes"), PrintfSignature("%s minutes"));
    EXPECT_NE(PrintfSignature("%i received"), PrintfSignature("%i received %s"));
    EXPECT_EQ(PrintfSignature("ends with %"), "");
}

TEST(CodePage, CutsUtf8OnlyBetweenCharacters)
{
    EXPECT_EQ(Utf8Prefix("abc", 5), "abc");
    EXPECT_EQ(Utf8Prefix("aбв", 2), "a");  // б takes bytes 1 and 2
    EXPECT_EQ(Utf8Prefix("aбв", 3), "aб");
    EXPECT_EQ(Utf8ToCodePage("Привет", 1251), "\xCF\xF0\xE8\xE2\xE5\xF2");
    EXPECT_FALSE(Utf8ToCodePage("Привет", 1252));  // no Cyrillic in windows-1252
    EXPECT_FALSE(Utf8ToCodePage("\xC3", 1252));     // not UTF-8
    EXPECT_EQ(CodePageOfCharset(0), 1252u);
    EXPECT_EQ(CodePageOfCharset(204), 1251u);
    EXPECT_EQ(CodePageOfCharset(2), 0u);
}

// ---- The shipped tables ----------------------------------------------------------

std::optional<Image> ShippedImage(const char* name)
{
    HMODULE self = GetModuleHandle(nullptr);
    HRSRC found = FindResource(self, name, strtable::kResourceType);
    if (!found) return std::nullopt;
    const auto* data = static_cast<const std::byte*>(LockResource(LoadResource(self, found)));
    return ParseStrTable({data, SizeofResource(self, found)});
}

TEST(ShippedTables, HoldTheSameIdsWithTheSameConversions)
{
    const auto english = ShippedImage("ENGLISH");
    const auto german = ShippedImage("german");  // resource names ignore case
    const auto russian = ShippedImage("RUSSIAN");
    ASSERT_TRUE(english && german && russian);
    EXPECT_EQ(english->charset, 0u);
    EXPECT_EQ(german->charset, 1u);
    EXPECT_EQ(russian->charset, 204u);
    for (const Image* image : {&*english, &*german, &*russian}) {
        EXPECT_EQ(image->reserved, 3u);
        ASSERT_EQ(image->entries.size(), english->entries.size());
        for (std::size_t i = 0; i < image->entries.size(); ++i) {
            EXPECT_EQ(image->entries[i].id, english->entries[i].id);
            if (i) {
                EXPECT_LT(image->entries[i - 1].id, image->entries[i].id);
            }
        }
    }
    CStrTable en, de, ru;
    ASSERT_TRUE(LoadStrTableByName(en, GetModuleHandle(nullptr), "", "English"));
    ASSERT_TRUE(LoadStrTableByName(de, GetModuleHandle(nullptr), "", "German"));
    ASSERT_TRUE(LoadStrTableByName(ru, GetModuleHandle(nullptr), "", "Russian"));
    for (const Entry& e : english->entries) {
        const std::string reference = PrintfSignature(*en.Lookup(e.id));
        EXPECT_EQ(PrintfSignature(*de.Lookup(e.id)), reference) << e.id;
        EXPECT_EQ(PrintfSignature(*ru.Lookup(e.id)), reference) << e.id;
    }
    EXPECT_EQ(en.Lookup(2602), "Please enter your user name and password for the following server.");
    EXPECT_EQ(de.Lookup(2602), "Geben Sie Ihren Benutzernamen und Ihr Kennwort für den folgenden Server ein.");
    EXPECT_EQ(ru.Lookup(16), "Вход");
    EXPECT_EQ(en.Lookup(2250)->substr(en.Lookup(2250)->size() - 6), "Code: ");
    EXPECT_EQ(en.Lookup(7309), "corvane.chm");
    EXPECT_EQ(de.Lookup(7309), "corvaneg.chm");
    EXPECT_EQ(ru.Lookup(7309), "corvaner.chm");
}

}  // namespace
}  // namespace quillory
