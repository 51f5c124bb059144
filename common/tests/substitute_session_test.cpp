#include <gtest/gtest.h>

#include "common/substitute_session.h"
#include "platform/mapi/profile_section.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/tests/profile_test_util.h"

namespace quillory::testing {
namespace {

TEST(SubstituteSession, SharesTheProcessSessionAndKeepsItsStoresOpen)
{
    MapiHome home;
    ComPtr<IProfAdmin> admin = ProfAdmin();
    ASSERT_EQ(admin->CreateProfile(const_cast<LPSTR>("P"), nullptr, 0, 0), S_OK);
    ComPtr<IMAPISession> host;
    ASSERT_EQ(MAPILogonEx(0, const_cast<LPSTR>("P"), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_ALLOW_OTHERS, &host),
              S_OK);

    auto* sub = CMyMAPISession::Create();
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->OpenStoreCount(), 1u);
    ComPtr<IMAPISession> asSession;
    ASSERT_EQ(sub->QueryInterface(IID_IMAPISession, asSession.AsVoidOut()), S_OK);
    // Calls go to the shared session: the profile's name comes back.
    ComPtr<IProfSect> section;
    MAPIUID global = GlobalSectionUid();
    ASSERT_EQ(asSession->OpenProfileSection(&global, nullptr, 0, &section), S_OK);
    LPSPropValue name = nullptr;
    ASSERT_EQ(HrGetOneProp(section.Get(), PR_PROFILE_NAME, &name), S_OK);
    EXPECT_STREQ(name->Value.lpszA, "P");
    MAPIFreeBuffer(name);
    void* other = nullptr;
    EXPECT_EQ(sub->QueryInterface(IID_IMAPITable, &other), E_NOINTERFACE);
    asSession = nullptr;
    section = nullptr;
    EXPECT_EQ(sub->Release(), 0u);
    host->Logoff(0, 0, 0);
}

TEST(SubstituteSession, WithoutASessionToShareItIsThereButUnusable)
{
    MapiHome home;
    auto* sub = CMyMAPISession::Create();
    ASSERT_NE(sub, nullptr);
    void* p = nullptr;
    EXPECT_EQ(sub->QueryInterface(IID_IMAPISession, &p), E_NOINTERFACE);
    ComPtr<IMAPITable> table;
    EXPECT_EQ(sub->GetMsgStoresTable(0, &table), MAPI_E_LOGON_FAILED);
    EXPECT_EQ(sub->Release(), 0u);
}

}  // namespace
}  // namespace quillory::testing
