// Where the logon finds the base folder: the add-in window's text first,
// the registry second; malformed window texts and half-written registry
// values fall through instead of opening garbage.
#include <gtest/gtest.h>

#include "platform/mapi/mapiutil.h"
#include "provider/logon/tests/logon_test_support.h"
#include "provider/settings/account_settings.h"
#include "provider/settings/addin_window.h"

namespace quillory::testing {
namespace {

std::string Hex(const std::vector<BYTE>& bytes)
{
    std::string out(bytes.size() * 2 + 1, '\0');
    HexFromBin(const_cast<LPBYTE>(bytes.data()), static_cast<int>(bytes.size()), out.data());
    out.resize(bytes.size() * 2);
    return out;
}

// The add-in's hidden window of profile "P", carrying a text; it goes with
// the object.
class AddinWindow {
public:
    explicit AddinWindow(const std::string& text)
    {
        WNDCLASS wc{};
        wc.lpfnWndProc = DefWindowProc;
        wc.lpszClassName = "TARNEL_NNTP_P";
        RegisterClass(&wc);
        hwnd_ = CreateWindowEx(0, "TARNEL_NNTP_P", text.c_str(), 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        EXPECT_NE(hwnd_, nullptr);
    }
    ~AddinWindow()
    {
        DestroyWindow(hwnd_);
        UnregisterClass("TARNEL_NNTP_P", nullptr);
    }

private:
    HWND hwnd_ = nullptr;
};

using BaseFolderTest = LogonFixture;

TEST_F(BaseFolderTest, WindowTextGivesTheFolderAndStore)
{
    const auto [store, folder] = home_.DefaultStoreAndFolder();
    AddinWindow window("ann@example.org;Ann;" + Hex(folder) + ";" + Hex(store));
    ASSERT_EQ(Logon(), S_OK);
    ASSERT_NE(logon_->BaseStore(), nullptr);
    EXPECT_TRUE(std::ranges::equal(logon_->BaseFolderEntryId(), folder));
    EXPECT_TRUE(std::ranges::equal(logon_->BaseStoreEntryId(), store));
}

TEST_F(BaseFolderTest, RegistryServesWhenTheWindowTextIsUnusable)
{
    const auto [store, folder] = home_.DefaultStoreAndFolder();
    ASSERT_EQ(WriteBaseFolder("P", "Top", folder, store), ERROR_SUCCESS);
    for (const std::string& text : {std::string("ann@example.org;Ann;") + Hex(folder),  // three fields
                                    "a;b;" + Hex(folder) + "0;" + Hex(store),          // odd digit count
                                    "a;b;" + Hex(folder) + ";XY" + Hex(store),         // not hex
                                    std::string("a;b;0102;0304")}) {                   // too short
        AddinWindow window(text);
        ASSERT_EQ(Logon(), S_OK);
        ASSERT_NE(logon_->BaseStore(), nullptr) << text;
        EXPECT_TRUE(std::ranges::equal(logon_->BaseFolderEntryId(), folder)) << text;
        logon_.Reset();
    }
}

TEST_F(BaseFolderTest, RegistryLengthsWithoutBytesGiveNoBaseFolder)
{
    WriteRegDword(ProfileKeyPath("P"), kValBaseFolderCB, 32);
    WriteRegDword(ProfileKeyPath("P"), kValBaseFolderStoreCB, 32);
    ASSERT_EQ(Logon(), S_OK);
    EXPECT_EQ(logon_->BaseStore(), nullptr);
    EXPECT_EQ(logon_->RefreshProfileValues(), E_FAIL);
    // The next ValidateState tries again and still reports success to the spooler.
    EXPECT_EQ(logon_->ValidateState(0, 0), S_OK);
}

TEST_F(BaseFolderTest, AnEntryIdThatIsNoStoreIsRefused)
{
    const auto [store, folder] = home_.DefaultStoreAndFolder();
    std::vector<BYTE> notStore(store.size(), 0xAB);
    ASSERT_EQ(WriteBaseFolder("P", "Top", folder, notStore), ERROR_SUCCESS);
    ASSERT_EQ(Logon(), S_OK);
    EXPECT_EQ(logon_->BaseStore(), nullptr);
    EXPECT_TRUE(FAILED(logon_->RefreshProfileValues()));
}

TEST_F(BaseFolderTest, ProfileValuesComeFromThePerProfileKey)
{
    WriteRegDword(ProfileKeyPath("P"), kValLastMessages, 1);
    WriteRegDword(ProfileKeyPath("P"), kValLastMessagesCount, 0);
    WriteRegDword(ProfileKeyPath("P"), kValCreateSubfolders, 0);
    WriteRegDword(ProfileKeyPath("P"), kValPostUnsubscribed, 1);
    ASSERT_EQ(Logon(), S_OK);
    EXPECT_EQ(logon_->HeaderLimit(), 300u);
    EXPECT_TRUE(logon_->FlatFolders());
    EXPECT_EQ(logon_->PostUnsubscribed(), 1u);
    WriteRegDword(ProfileKeyPath("P"), kValLastMessages, 0);
    logon_->RefreshProfileValues();
    EXPECT_EQ(logon_->HeaderLimit(), 0u);
}

TEST(AddinWindowText, FieldsAndHexConversion)
{
    const AddinWindowText t = ParseAddinWindowText("a@b;Ann Reader;0A0B;0C");
    EXPECT_EQ(t.fields, 4);
    EXPECT_EQ(t.email, "a@b");
    EXPECT_EQ(t.userName, "Ann Reader");
    EXPECT_EQ(t.storeHex, "0C");
    const AddinWindowText two = ParseAddinWindowText("a@b;Ann");
    EXPECT_EQ(two.fields, 2);
    EXPECT_TRUE(two.folderHex.empty());
    EXPECT_EQ(ParseAddinWindowText("").fields, 0);
    EXPECT_EQ(ParseAddinWindowText("x;y;z;w;extra").storeHex, "w");

    EXPECT_FALSE(EntryIdFromHexField("01020304"));  // nine digits or fewer
    EXPECT_EQ(EntryIdFromHexField("0102030405AB"), (std::vector<BYTE>{1, 2, 3, 4, 5, 0xAB}));
    EXPECT_FALSE(EntryIdFromHexField("0102030405A"));
    EXPECT_FALSE(EntryIdFromHexField("01020304050G"));
}

TEST(AccountArray, EntriesOfTheWrongTagCountAsAbsent)
{
    SPropValue values[acct::kCount] = {};
    for (int i = 0; i < acct::kCount; ++i)
        values[i].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(acct::kTags[static_cast<std::size_t>(i)]));
    values[acct::kAccountName].ulPropTag = PR_EMAIL_ADDRESS;  // a string, but not the expected tag
    values[acct::kAccountName].Value.lpszA = S("wrong");
    values[acct::kLastNewGroupsCheck].ulPropTag = acct::PR_NNTP_ALLOW_HTML;  // same ID, other type
    values[acct::kAllowHtml].ulPropTag = acct::PR_NNTP_ALLOW_HTML;
    values[acct::kAllowHtml].Value.b = 1;
    EXPECT_EQ(AccountString(values, acct::kAccountName), nullptr);
    EXPECT_FALSE(AccountTime(values, acct::kLastNewGroupsCheck));
    EXPECT_EQ(AccountBool(values, acct::kAllowHtml), true);
    EXPECT_EQ(AccountString(nullptr, acct::kAccountName), nullptr);
    EXPECT_EQ(AccountValue(values, acct::kCount), nullptr);
}

}  // namespace
}  // namespace quillory::testing
