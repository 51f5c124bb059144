// brackle against real profiles: what it lists, what it asks, what it removes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "brackle/brackle.h"
#include "common/regstore.h"
#include "platform/base/msgbox.h"
#include "platform/base/registry.h"
#include "platform/base/trace.h"
#include "platform/mapi/tests/profile_test_util.h"

namespace {

using namespace quillory::testing;
using quillory::CScriptedPresenter;
using quillory::ComPtr;
using quillory::RowSetPtr;

LPSTR S(const std::string& s) { return const_cast<LPSTR>(s.c_str()); }

std::string ProfileKey(const std::string& profile) { return std::string(quillory::kMainKey) + "\\Profiles\\" + profile; }

// The newsgroup service, whose library refuses to delete accounts named
// "refuse...", and another service that must be left alone.
constexpr std::string_view kServiceList =
    "[Services]\r\n"
    "Corvane=Tarnel NNTP Transport\r\n"
    "Other=Other Service\r\n"
    "\r\n"
    "[Corvane]\r\n"
    "PR_SERVICE_DLL_NAME=bracklesvc.dll\r\n"
    "PR_SERVICE_ENTRY_NAME=ServiceEntry\r\n"
    "Providers=BRACKLE_XP\r\n"
    "\r\n"
    "[BRACKLE_XP]\r\n"
    "PR_PROVIDER_DLL_NAME=bracklesvc.dll\r\n"
    "PR_RESOURCE_TYPE=MAPI_TRANSPORT_PROVIDER\r\n"
    "PR_PROVIDER_DISPLAY=Tarnel NNTP Transport\r\n"
    "\r\n"
    "[Other]\r\n"
    "Providers=OTHER_AB\r\n"
    "\r\n"
    "[OTHER_AB]\r\n"
    "PR_RESOURCE_TYPE=MAPI_AB_PROVIDER\r\n";

constexpr char kCaption[] = "Removing Tarnel NNTP accounts";
constexpr char kIntro[] = "You have following installed NNTP accounts:\r\n\r\n";

class Brackle : public ::testing::Test {
protected:
    Brackle() : mapi_(false), boxes_(std::make_shared<CScriptedPresenter>())
    {
        WriteServiceList(kServiceList);
        quillory::SetMessageBoxPresenter(boxes_);
    }
    ~Brackle() override { quillory::SetMessageBoxPresenter(nullptr); }

    // Adds accounts (and the profile with its registry key, when new).
    void AddAccounts(const std::string& profile, const std::vector<std::string>& accounts,
                     const char* service = "Corvane")
    {
        ComPtr<IProfAdmin> admin = ProfAdmin();
        ComPtr<IMsgServiceAdmin> services;
        if (FAILED(admin->AdminServices(S(profile), nullptr, 0, 0, &services))) {
            ASSERT_EQ(admin->CreateProfile(S(profile), nullptr, 0, 0), S_OK);
            ASSERT_EQ(admin->AdminServices(S(profile), nullptr, 0, 0, &services), S_OK);
            HKEY key = nullptr;
            ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, ProfileKey(profile).c_str(), &key), ERROR_SUCCESS);
            const DWORD on = 1;
            RegSetValueEx(key, "Enabled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
            RegCloseKey(key);
        }
        for (const auto& account : accounts)
            ASSERT_EQ(services->CreateMsgService(const_cast<LPSTR>(service), S(account), 0, 0), S_OK) << account;
    }

    // "Service:Display" of every service of the profile except the store.
    std::vector<std::string> Services(const std::string& profile)
    {
        ComPtr<IMsgServiceAdmin> services;
        EXPECT_EQ(ProfAdmin()->AdminServices(S(profile), nullptr, 0, 0, &services), S_OK);
        ComPtr<IMAPITable> table;
        EXPECT_EQ(services->GetMsgServiceTable(0, &table), S_OK);
        RowSetPtr keep;
        std::vector<std::string> out;
        for (const auto& row : AllRows(table.Get(), {PR_SERVICE_NAME, PR_DISPLAY_NAME}, keep))
            if (Str(row, PR_SERVICE_NAME) != "QuilloryStore")
                out.push_back(Str(row, PR_SERVICE_NAME) + ":" + Str(row, PR_DISPLAY_NAME));
        return out;
    }

    static bool ProfileKeyExists(const std::string& profile)
    {
        HKEY key = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, ProfileKey(profile).c_str(), 0, KEY_READ, &key) !=
            ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    // The one box shown, or a failure.
    std::string Question()
    {
        const auto boxes = boxes_->Boxes();
        if (boxes.size() != 1) {
            ADD_FAILURE() << boxes.size() << " boxes shown";
            return {};
        }
        EXPECT_EQ(boxes[0].caption, kCaption);
        EXPECT_EQ(boxes[0].style, MB_ICONQUESTION | MB_YESNO);
        return boxes[0].text;
    }

    MapiHome mapi_;
    std::shared_ptr<CScriptedPresenter> boxes_;
};

TEST_F(Brackle, WithoutAccountsShowsNothing)
{
    EXPECT_EQ(quillory::brackle::RunBrackle(), 0);  // no profile at all
    AddAccounts("Outlook", {"Directory"}, "Other");
    AddAccounts("Spare", {});
    EXPECT_EQ(quillory::brackle::RunBrackle(), 0);
    EXPECT_TRUE(boxes_->Boxes().empty());
    EXPECT_EQ(Services("Outlook"), std::vector<std::string>{"Other:Directory"});
}

TEST_F(Brackle, OneAccountIsAskedForInTheSingularAndNoKeepsIt)
{
    AddAccounts("Outlook", {"news.example.org"});
    AddAccounts("Outlook", {"Directory"}, "Other");
    EXPECT_EQ(quillory::brackle::RunBrackle(), 0);  // the scripted box answers No
    EXPECT_EQ(Question(), std::string(kIntro) +
                              "   in the profile 'Outlook':\r\n"
                              "      news.example.org\r\n"
                              "\r\n"
                              "Would you like to delete this account?");
    EXPECT_EQ(Services("Outlook"), (std::vector<std::string>{"Corvane:news.example.org", "Other:Directory"}));
    EXPECT_TRUE(ProfileKeyExists("Outlook"));
}

TEST_F(Brackle, AllAccountsOfTheFirstProfileAreListed)
{
    std::vector<std::string> accounts;
    for (int i = 0; i < 20; ++i) accounts.push_back("server" + std::to_string(100 + i));
    AddAccounts("Outlook", accounts);
    quillory::brackle::RunBrackle();
    std::string expected = std::string(kIntro) + "   in the profile 'Outlook':\r\n";
    for (const auto& a : accounts) expected += "      " + a + "\r\n";
    expected += "\r\nWould you like to delete this accounts?";
    EXPECT_EQ(Question(), expected);
}

TEST_F(Brackle, ProfilesBeyondTheListAreCounted)
{
    for (int p = 0; p < 10; ++p) AddAccounts("Profile " + std::to_string(p), {"a" + std::to_string(p), "b" + std::to_string(p)});
    quillory::brackle::RunBrackle();
    std::string expected = kIntro;
    // 6 profiles and 12 accounts make 18 before the seventh profile.
    for (int p = 0; p < 6; ++p) {
        const std::string n = std::to_string(p);
        expected += "   in the profile 'Profile " + n + "':\r\n      a" + n + "\r\n      b" + n + "\r\n\r\n";
    }
    expected += "...and other 8 accounts in 4 profiles.\r\n\r\nWould you like to delete this accounts?";
    EXPECT_EQ(Question(), expected);
}

TEST_F(Brackle, OneProfileBeyondTheListIsCountedInTheSingular)
{
    for (int p = 0; p < 6; ++p) AddAccounts("P" + std::to_string(p), {"a", "b"});
    AddAccounts("P6", {"last"});
    AddAccounts("P7", {}); // no accounts: neither listed nor counted
    quillory::brackle::RunBrackle();
    const std::string text = Question();
    EXPECT_NE(text.find("\r\n...and other 1 account in 1 profile.\r\n\r\nWould"), std::string::npos) << text;
    EXPECT_EQ(text.find("last"), std::string::npos);
}

TEST_F(Brackle, YesRemovesEveryAccountAndTheProfileKeys)
{
    for (int p = 0; p < 8; ++p) AddAccounts("Profile " + std::to_string(p), {"x", "y"});
    AddAccounts("Profile 3", {"Directory"}, "Other");
    AddAccounts("Quiet", {});  // no accounts: its key is not touched
    boxes_->QueueAnswer(IDYES);
    EXPECT_EQ(quillory::brackle::RunBrackle(), 0);
    for (int p = 0; p < 8; ++p) {
        const std::string profile = "Profile " + std::to_string(p);
        EXPECT_EQ(Services(profile), p == 3 ? std::vector<std::string>{"Other:Directory"} : std::vector<std::string>{})
            << profile;
        EXPECT_FALSE(ProfileKeyExists(profile)) << profile;  // also those only counted, not listed
    }
    EXPECT_TRUE(ProfileKeyExists("Quiet"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Tarnel Ltd\\Corvane\\Profiles", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);

    EXPECT_EQ(quillory::brackle::RunBrackle(), 0);  // nothing left to ask about
    EXPECT_EQ(boxes_->Boxes().size(), 1u);
}

TEST_F(Brackle, AProfileWithAFailedDeletionKeepsItsKey)
{
    const auto traceFile = mapi_.path() / "trace.log";
    setenv("QUILLORY_TRACE", traceFile.c_str(), 1);
    quillory::ReopenTraceSink();

    AddAccounts("Home", {"ok", "refuse me"});
    AddAccounts("Work", {"w1", "w2"});
    boxes_->QueueAnswer(IDYES);
    EXPECT_EQ(quillory::brackle::RunBrackle(), 0);

    unsetenv("QUILLORY_TRACE");
    quillory::ReopenTraceSink();
    EXPECT_EQ(Services("Home"), std::vector<std::string>{"Corvane:refuse me"});
    EXPECT_TRUE(ProfileKeyExists("Home"));
    EXPECT_EQ(Services("Work"), std::vector<std::string>{});
    EXPECT_FALSE(ProfileKeyExists("Work"));
    std::ifstream in(traceFile);
    std::stringstream trace;
    trace << in.rdbuf();
    EXPECT_NE(trace.str().find("Deleted 3, unable to delete 1, latest error is 0x80070005\n"), std::string::npos)
        << trace.str();
}

}  // namespace
