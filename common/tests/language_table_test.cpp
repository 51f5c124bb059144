// The language of the tables: the choice at start-up and per call, files
// beside the module that replace its tables, the English fallback, and
// formats whose translation takes other arguments.
#include "common/language_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "common/regstore.h"
#include "platform/base/locale_info.h"
#include "platform/base/module.h"
#include "platform/base/tests/test_home.h"

namespace quillory {
namespace {

// A fresh registry, an empty directory beside the "module" (this test
// program, which carries the three shipped tables) and a chosen locale.
class Languages : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = home.path() / "lib";
        std::filesystem::create_directories(dir);
        if (const char* v = std::getenv("LANG")) savedLang = v;
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        setenv("LANG", "C.UTF-8", 1);
    }
    void TearDown() override { setenv("LANG", savedLang.c_str(), 1); }

    void WriteTable(const std::string& name, std::uint32_t charset, std::vector<strtable::Entry> entries)
    {
        strtable::Image image;
        image.charset = charset;
        image.entries = std::move(entries);
        const std::vector<std::byte> bytes = strtable::BuildStrTable(image);
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                          static_cast<std::streamsize>(bytes.size()));
    }
    static std::size_t Row(std::string_view display)
    {
        for (std::size_t i = 0; i < kLanguageCount; ++i)
            if (kLanguageTable[i].displayName == display) return i;
        return kLanguageCount;
    }
    std::string LangName()
    {
        std::string v;
        ReadRegString(kMainKey, kValLangName, v, 300, "");
        return v;
    }

    testing::TempHome home;
    std::filesystem::path dir;
    std::string savedLang = "C.UTF-8";
    HMODULE self = GetModuleHandle(nullptr);
};

TEST_F(Languages, TheTableHasItsFortyEightRowsWithSharedKeys)
{
    EXPECT_EQ(kLanguageTable.front().displayName, "Afrikaans");
    EXPECT_EQ(kLanguageTable.front().key, 4301);
    EXPECT_EQ(kLanguageTable[Row("English")].key, kLanguageTable[Row("English (United Kingdom)")].key);
    EXPECT_EQ(kLanguageTable[Row("French")].key, kLanguageTable[Row("French (Canadian)")].key);
    EXPECT_EQ(kLanguageTable[Row("Portuguese (Brazilian)")].ResourceName(), "Brazilian");
    for (std::size_t i = 1; i < kLanguageCount; ++i) EXPECT_GE(kLanguageTable[i].key, kLanguageTable[i - 1].key);
}

TEST_F(Languages, StartUpFollowsLangNameThenTheLocaleThenEnglish)
{
    {
        CLanguages l(self, dir.string());
        ASSERT_TRUE(l.Initialize());
        EXPECT_EQ(l.FallbackName(), "English");
        EXPECT_EQ(l.Text(16), "Logon");
        EXPECT_EQ(l.AvailableRows(), (std::vector<std::size_t>{Row("English"), Row("German"), Row("Russian")}));
        EXPECT_EQ(l.Charset(), 0u);
    }
    setenv("LANG", "ru_RU.UTF-8", 1);
    {
        CLanguages l(self, dir.string());
        ASSERT_TRUE(l.Initialize());
        EXPECT_EQ(l.Text(16), "Вход");
        EXPECT_EQ(l.CurrentRow(), Row("Russian"));
        EXPECT_EQ(l.Charset(), 204u);
    }
    ASSERT_EQ(WriteRegString(kMainKey, kValLangName, "GERMAN"), ERROR_SUCCESS);
    {
        CLanguages l(self, dir.string());
        ASSERT_TRUE(l.Initialize());
        EXPECT_EQ(l.Text(2), "Abbrechen");
    }
    // A language nobody ships: the fallback.
    ASSERT_EQ(WriteRegString(kMainKey, kValLangName, "Klingon"), ERROR_SUCCESS);
    CLanguages l(self, dir.string());
    ASSERT_TRUE(l.Initialize());
    EXPECT_EQ(l.Text(2), "Cancel");
}

TEST_F(Languages, PerCallCheckSwitchesByDisplayNameAndRemembersIt)
{
    CLanguages l(self, dir.string());
    ASSERT_TRUE(l.Initialize());
    ASSERT_EQ(WriteRegString(kMainKey, kValLangName, "german"), ERROR_SUCCESS);
    l.CheckPerCall();
    EXPECT_EQ(l.Text(2602), "Geben Sie Ihren Benutzernamen und Ihr Kennwort für den folgenden Server ein.");
    EXPECT_EQ(LangName(), "German");
    EXPECT_EQ(l.Charset(), 1u);

    // Another module's switch (the options page) takes effect at the next call.
    ASSERT_TRUE(l.Select(Row("Russian")));
    EXPECT_EQ(LangName(), "Russian");
    EXPECT_FALSE(l.Select(Row("Thai")));  // not available
    EXPECT_EQ(l.Text(2), "Отмена");
}

TEST_F(Languages, AnOverrideNameIsTakenAtStartUpButNeverMatchesPerCall)
{
    WriteTable("English_United_States", 0, {{2, "Cancel (US)"}});
    ASSERT_EQ(WriteRegString(kMainKey, kValLangName, "English_United_States"), ERROR_SUCCESS);
    CLanguages l(self, dir.string());
    ASSERT_TRUE(l.Initialize());
    EXPECT_EQ(l.Text(2), "Cancel (US)");
    EXPECT_EQ(l.CurrentRow(), Row("English (United States)"));
    l.CheckPerCall();  // no display name equals the override: nothing changes
    EXPECT_EQ(l.Text(2), "Cancel (US)");
    EXPECT_EQ(l.Text(16), "Logon");  // missing there: the English fallback
}

TEST_F(Languages, AFileBesideTheModuleWinsAndADamagedOneIsIgnored)
{
    WriteTable("GERMAN", 1, {{2, "Abbrechen (Datei)"}, {16, "Anmelden (Datei)"}});
    ASSERT_EQ(WriteRegString(kMainKey, kValLangName, "German"), ERROR_SUCCESS);
    {
        CLanguages l(self, dir.string());
        ASSERT_TRUE(l.Initialize());
        EXPECT_EQ(l.Text(2), "Abbrechen (Datei)");
        EXPECT_EQ(l.Text(1010), "&Remember Password");  // an id the file lacks: English
    }
    std::ofstream(dir / "GERMAN", std::ios::binary | std::ios::trunc) << "LNG\x01 not a table";
    CLanguages l(self, dir.string());
    ASSERT_TRUE(l.Initialize());
    EXPECT_EQ(l.Text(2), "Abbrechen");  // the built-in German
}

TEST_F(Languages, AFileMakesALanguageAvailable)
{
    WriteTable("Polish", 238, {{2, "Anuluj"}, {16, "Zaloguj"}});  // windows-1250
    ASSERT_EQ(WriteRegString(kMainKey, kValLangName, "Polish"), ERROR_SUCCESS);
    CLanguages l(self, dir.string());
    ASSERT_TRUE(l.Initialize());
    EXPECT_TRUE(l.IsAvailable(Row("Polish")));
    EXPECT_EQ(l.Text(16), "Zaloguj");
}

TEST_F(Languages, AFormatWithOtherConversionsIsNotUsed)
{
    WriteTable("GERMAN", 1, {{40295, "Eigenschaften von %d"}, {33, "%i empfangen"}, {41, "Von %s"}});
    ASSERT_EQ(WriteRegString(kMainKey, kValLangName, "German"), ERROR_SUCCESS);
    CLanguages l(self, dir.string());
    ASSERT_TRUE(l.Initialize());
    EXPECT_EQ(l.Format(40295), "%s Properties");
    EXPECT_EQ(l.Format(33), "%i empfangen");
    EXPECT_EQ(l.Format(41), "Von %s");
    EXPECT_EQ(l.Format(2250), l.Fallback().Lookup(2250));  // missing in German
}

TEST_F(Languages, WithoutAnyTableNothingIsFound)
{
    CLanguages none(GetModuleHandle("libqbase.so"), dir.string());
    EXPECT_FALSE(none.Initialize());
    EXPECT_FALSE(none.String(2));
    EXPECT_TRUE(none.AvailableRows().empty());
}

TEST_F(Languages, FirstLineCutsAtTheLineBreak)
{
    CLanguages l(self, dir.string());
    ASSERT_TRUE(l.Initialize());
    EXPECT_EQ(l.FirstLine(40253), "Valid command line switches:");
    EXPECT_FALSE(l.FirstLine(99999));
}

TEST_F(Languages, TheLocaleNamesItsLanguageInEnglish)
{
    char name[64] = {};
    setenv("LANG", "de_AT.UTF-8", 1);
    EXPECT_EQ(GetLocaleInfo(LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE, name, sizeof name), 7);
    EXPECT_STREQ(name, "German");
    setenv("LC_ALL", "pt_BR", 1);
    EXPECT_GT(GetLocaleInfo(LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE, name, sizeof name), 0);
    EXPECT_STREQ(name, "Portuguese");
    unsetenv("LC_ALL");
    EXPECT_EQ(GetLocaleInfo(LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE, name, 3), 0);
    EXPECT_EQ(GetLocaleInfo(LOCALE_USER_DEFAULT, 0x2, name, sizeof name), 0);
}

}  // namespace
}  // namespace quillory
