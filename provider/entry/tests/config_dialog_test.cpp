// The configuration dialogs through a GUI library: what is saved into the
// profile, what the add-in window is told, and the pause it imposes on the
// spooler.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/base/time.h"
#include "provider/entry/service_entry.h"
#include "provider/logon/tests/logon_test_support.h"
#include "provider/settings/addin_window.h"

namespace quillory::testing {
namespace {

std::vector<std::pair<ULONG_PTR, std::string>> g_copies;

LRESULT RecordCopies(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        g_copies.emplace_back(cds->dwData, std::string(static_cast<const char*>(cds->lpData), cds->cbData));
        return TRUE;
    }
    return DefWindowProc(hwnd, message, wParam, lParam);
}

class ConfigDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("QUILLORY_LIBPATH", BuildLibDir().c_str(), 1);
        WriteRegString(kMainKey, kValVismora, "fakeaccountgui.dll");
        ASSERT_EQ(home_.Services()->AdminProviders(const_cast<MAPIUID*>(&home_.ServiceUid()), 0, &admin_), S_OK);
        home_.SetAccount({{acct::kAccountName, "Old Name"}});
        WNDCLASS wc{};
        wc.lpfnWndProc = RecordCopies;
        wc.lpszClassName = "TARNEL_NNTP_P";
        RegisterClass(&wc);
        window_ = CreateWindowEx(0, "TARNEL_NNTP_P", "ann@example.org;Ann Reader;;", 0, 0, 0, 0, 0, nullptr, nullptr,
                                 nullptr, nullptr);
        g_copies.clear();
        quarnex::ResetModuleStateForTests();
        seen_ = std::filesystem::path(std::getenv("QUILLORY_HOME")) / "fake-gui-seen.txt";
        setenv("FAKE_GUI_SEEN", seen_.c_str(), 1);
    }
    void TearDown() override
    {
        DestroyWindow(window_);
        UnregisterClass("TARNEL_NNTP_P", nullptr);
        for (const char* v : {"QUILLORY_LIBPATH", "FAKE_GUI_NAME", "FAKE_GUI_CANCEL", "FAKE_GUI_SEEN"}) unsetenv(v);
        std::filesystem::remove(seen_);
        quarnex::ResetModuleStateForTests();
        ResetTickCountSource();
    }
    HRESULT Entry(ULONG context, ULONG flags)
    {
        return ServiceEntryImpl(nullptr, nullptr, nullptr, 0, flags, context, 0, nullptr, admin_.Get(), nullptr);
    }
    std::string Stored(ULONG tag)
    {
        quarnex::ProviderBuffer<SPropValue> v;
        if (FAILED(HrGetOneProp(home_.ServiceSection().Get(), tag, v.Out()))) return "<none>";
        return PROP_TYPE(tag) == PT_STRING8 ? std::string(v->Value.lpszA) : std::to_string(v->Value.l);
    }
    std::string Seen()
    {
        std::ifstream in(seen_);
        std::string text;
        std::getline(in, text);
        return text;
    }

    TransportHome home_;
    ComPtr<IProviderAdmin> admin_;
    HWND window_ = nullptr;
    std::filesystem::path seen_;
};

TEST_F(ConfigDialogTest, RenameInTheSettingsIsSavedAndAnnounced)
{
    DWORD now = 1000;
    SetTickCountSource([&] { return now; });
    setenv("FAKE_GUI_NAME", "New Name", 1);
    ASSERT_EQ(Entry(MSG_SERVICE_CONFIGURE, SERVICE_UI_ALLOWED), S_OK);
    EXPECT_EQ(Stored(PR_DISPLAY_NAME), "New Name");
    ASSERT_EQ(g_copies.size(), 1u);
    EXPECT_EQ(g_copies[0].first, kCopyDataAccountRenamed);
    EXPECT_EQ(g_copies[0].second, std::string("Old Name\0New Name\0", 18));
    // The spooler waits 20 seconds after the dialog.
    EXPECT_EQ(quarnex::SettingsClosedTick(), 1000u);
    EXPECT_TRUE(quarnex::WithinSettingsGrace());
    now += 20000;
    EXPECT_FALSE(quarnex::WithinSettingsGrace());
}

TEST_F(ConfigDialogTest, NoRenameNoticeWithFlatFoldersOrAnUnchangedName)
{
    WriteRegDword(ProfileKeyPath("P"), kValCreateSubfolders, 0);
    setenv("FAKE_GUI_NAME", "Other", 1);
    ASSERT_EQ(Entry(MSG_SERVICE_CONFIGURE, SERVICE_UI_ALWAYS), S_OK);
    EXPECT_EQ(Stored(PR_DISPLAY_NAME), "Other");
    WriteRegDword(ProfileKeyPath("P"), kValCreateSubfolders, 1);
    setenv("FAKE_GUI_NAME", "OTHER", 1);  // the same name in other letters
    ASSERT_EQ(Entry(MSG_SERVICE_CONFIGURE, SERVICE_UI_ALWAYS), S_OK);
    EXPECT_TRUE(g_copies.empty());
}

TEST_F(ConfigDialogTest, CancelledSettingsChangeNothing)
{
    setenv("FAKE_GUI_CANCEL", "1", 1);
    setenv("FAKE_GUI_NAME", "Never", 1);
    EXPECT_EQ(Entry(MSG_SERVICE_CONFIGURE, SERVICE_UI_ALLOWED), S_OK);
    EXPECT_EQ(Stored(PR_DISPLAY_NAME), "Old Name");
    EXPECT_NE(quarnex::SettingsClosedTick(), 0u);
}

TEST_F(ConfigDialogTest, NewAccountWizardIsPrefilledFromTheAddinAndAnnounced)
{
    setenv("FAKE_GUI_NAME", "Fresh", 1);
    ASSERT_EQ(Entry(MSG_SERVICE_CREATE, SERVICE_UI_ALLOWED), S_OK);
    EXPECT_EQ(Seen(), "Ann Reader|3");
    EXPECT_EQ(Stored(PR_DISPLAY_NAME), "Fresh");
    EXPECT_EQ(Stored(PR_ACCOUNT), "Ann Reader");
    EXPECT_EQ(Stored(PR_EMAIL_ADDRESS), "ann@example.org");
    EXPECT_EQ(Stored(acct::PR_NNTP_ACCOUNT_KIND), "3");
    ASSERT_EQ(g_copies.size(), 1u);
    EXPECT_EQ(g_copies[0].first, kCopyDataAccountCreated);
    EXPECT_EQ(g_copies[0].second, std::string("Fresh\0", 6));

    setenv("FAKE_GUI_CANCEL", "1", 1);
    EXPECT_EQ(Entry(MSG_SERVICE_CREATE, SERVICE_UI_ALLOWED), MAPI_E_USER_CANCEL);
}

}  // namespace
}  // namespace quillory::testing
