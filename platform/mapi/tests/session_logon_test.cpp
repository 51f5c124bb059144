// Logging on: choosing the profile, sharing the process's session with
// MAPI_ALLOW_OTHERS, logging off, the identity and the global section.
#include <gtest/gtest.h>

#include "platform/mapi/addrbook.h"
#include "platform/mapi/profile_section.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/tests/profile_test_util.h"

namespace {

using namespace quillory::testing;
using quillory::ComPtr;

LPSTR S(const char* s) { return const_cast<LPSTR>(s); }

std::string ProfileNameOf(IMAPISession* session)
{
    ComPtr<IProfSect> global;
    if (FAILED(session->OpenProfileSection(reinterpret_cast<LPMAPIUID>(const_cast<BYTE*>(pbGlobalProfileSectionGuid)),
                                           nullptr, 0, &global)))
        return "<no section>";
    LPSPropValue v = nullptr;
    if (FAILED(HrGetOneProp(global.Get(), PR_PROFILE_NAME, &v))) return "<no name>";
    std::string name = v->Value.lpszA;
    MAPIFreeBuffer(v);
    return name;
}

TEST(SessionLogon, ChoosesTheNamedOrTheDefaultProfile)
{
    MapiHome home;
    ComPtr<IMAPISession> session;
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT, &session), MAPI_E_LOGON_FAILED);  // no profiles
    auto admin = ProfAdmin();
    ASSERT_EQ(admin->CreateProfile(S("First"), nullptr, 0, 0), S_OK);
    ASSERT_EQ(admin->CreateProfile(S("Second"), nullptr, 0, 0), S_OK);

    EXPECT_EQ(MAPILogonEx(0, S("Third"), nullptr, 0, &session), MAPI_E_LOGON_FAILED);
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, 0, &session), MAPI_E_LOGON_FAILED);  // no name, no default asked
    EXPECT_EQ(MAPILogonEx(0, S("second"), nullptr, MAPI_UNICODE, &session), MAPI_E_BAD_CHARWIDTH);
    ASSERT_EQ(MAPILogonEx(0, S("second"), nullptr, MAPI_EXTENDED, &session), S_OK);
    EXPECT_EQ(ProfileNameOf(session.Get()), "Second");
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_USE_DEFAULT | MAPI_EXTENDED, &session), S_OK);
    EXPECT_EQ(ProfileNameOf(session.Get()), "First");
    ASSERT_EQ(admin->SetDefaultProfile(S("Second"), 0), S_OK);
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_LOGON_UI, &session), S_OK);
    EXPECT_EQ(ProfileNameOf(session.Get()), "Second");

    ComPtr<IProfSect> section;
    EXPECT_EQ(session->OpenProfileSection(nullptr, nullptr, 0, &section), MAPI_E_INVALID_PARAMETER);
}

TEST(SessionLogon, NeedsMapiInitialized)
{
    TempHome home;
    ComPtr<IMAPISession> session;
    EXPECT_EQ(MAPILogonEx(0, S("x"), nullptr, 0, &session), MAPI_E_NOT_INITIALIZED);
}

TEST(SessionLogon, AllowOthersSharesTheSessionUntilLogoff)
{
    MapiHome home;
    auto admin = ProfAdmin();
    ASSERT_EQ(admin->CreateProfile(S("A"), nullptr, 0, 0), S_OK);
    ASSERT_EQ(admin->CreateProfile(S("B"), nullptr, 0, 0), S_OK);

    ComPtr<IMAPISession> other;
    // Nothing is shared yet: a logon that only wants the shared session fails.
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_ALLOW_OTHERS, &other), MAPI_E_LOGON_FAILED);

    ComPtr<IMAPISession> first;
    ASSERT_EQ(MAPILogonEx(0, S("A"), nullptr, MAPI_ALLOW_OTHERS | MAPI_NEW_SESSION | MAPI_EXTENDED, &first), S_OK);
    ComPtr<IMAPISession> shared;
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_ALLOW_OTHERS, &shared), S_OK);
    EXPECT_EQ(shared.Get(), first.Get());
    // Without MAPI_NEW_SESSION even a named logon gets the shared session.
    ASSERT_EQ(MAPILogonEx(0, S("B"), nullptr, 0, &other), S_OK);
    EXPECT_EQ(other.Get(), first.Get());
    ASSERT_EQ(MAPILogonEx(0, S("B"), nullptr, MAPI_NEW_SESSION, &other), S_OK);
    EXPECT_NE(other.Get(), first.Get());
    EXPECT_EQ(ProfileNameOf(other.Get()), "B");

    // The shared session outlives its clients' references ...
    first = nullptr;
    shared = nullptr;
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_ALLOW_OTHERS, &shared), S_OK);
    EXPECT_EQ(ProfileNameOf(shared.Get()), "A");
    // ... until it is logged off, for every client at once.
    ComPtr<IMAPISession> client;
    ASSERT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_ALLOW_OTHERS, &client), S_OK);
    ASSERT_EQ(shared->Logoff(0, MAPI_LOGOFF_SHARED, 0), S_OK);
    ComPtr<IMAPITable> table;
    EXPECT_EQ(client->GetMsgStoresTable(0, &table), MAPI_E_END_OF_SESSION);
    EXPECT_EQ(client->Logoff(0, 0, 0), MAPI_E_END_OF_SESSION);
    EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_ALLOW_OTHERS, &client), MAPI_E_LOGON_FAILED);
    // The other, unshared session goes on.
    EXPECT_EQ(other->GetMsgStoresTable(0, &table), S_OK);
}

TEST(SessionLogon, ASessionOfADeletedProfileEndsAndNeverReachesALaterOne)
{
    MapiHome home;
    auto admin = ProfAdmin();
    ASSERT_EQ(admin->CreateProfile(S("Gone"), nullptr, 0, 0), S_OK);
    ComPtr<IMAPISession> session;
    ASSERT_EQ(MAPILogonEx(0, S("Gone"), nullptr, 0, &session), S_OK);
    ASSERT_EQ(admin->DeleteProfile(S("Gone"), 0), S_OK);
    ASSERT_EQ(admin->CreateProfile(S("Later"), nullptr, 0, 0), S_OK);

    ComPtr<IMAPITable> table;
    EXPECT_EQ(session->GetMsgStoresTable(0, &table), MAPI_E_END_OF_SESSION);
    ComPtr<IMsgServiceAdmin> services;
    ASSERT_EQ(session->AdminServices(0, &services), S_OK);
    EXPECT_EQ(services->GetMsgServiceTable(0, &table), MAPI_E_NOT_FOUND);
    EXPECT_EQ(services->CreateMsgService(S("NoLib"), nullptr, 0, 0), MAPI_E_NOT_FOUND);
    EXPECT_EQ(ProfileNameOf(session.Get()), "<no section>");
    // The later profile kept only what it was made with.
    auto later = Services(admin.Get(), "Later");
    ASSERT_EQ(later->GetMsgServiceTable(0, &table), S_OK);
    ULONG count = 0;
    ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 1u);
}

TEST(SessionLogon, IdentityComesFromTheGlobalSection)
{
    MapiHome home;
    auto admin = ProfAdmin();
    ASSERT_EQ(admin->CreateProfile(S("Me"), nullptr, 0, 0), S_OK);
    ComPtr<IMAPISession> session;
    ASSERT_EQ(MAPILogonEx(0, S("Me"), nullptr, 0, &session), S_OK);

    ULONG cb = 0;
    LPENTRYID eid = nullptr;
    ASSERT_EQ(session->QueryIdentity(&cb, &eid), MAPI_W_NO_SERVICE);
    auto none = quillory::ParseOneOffEntryId(cb, eid);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->displayName, "Me");
    EXPECT_EQ(none->address, "");
    MAPIFreeBuffer(eid);

    ComPtr<IProfSect> global;
    ASSERT_EQ(session->OpenProfileSection(reinterpret_cast<LPMAPIUID>(const_cast<BYTE*>(pbGlobalProfileSectionGuid)),
                                          nullptr, MAPI_MODIFY, &global),
              S_OK);
    SPropValue v[2]{};
    v[0].ulPropTag = PR_IDENTITY_DISPLAY;
    v[0].Value.lpszA = S("Mary Example");
    v[1].ulPropTag = PR_EMAIL_ADDRESS;
    v[1].Value.lpszA = S("mary@example.org");
    ASSERT_EQ(global->SetProps(2, v, nullptr), S_OK);

    ASSERT_EQ(session->QueryIdentity(&cb, &eid), S_OK);
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    ASSERT_EQ(session->OpenEntry(cb, eid, nullptr, 0, &type, &unk), S_OK);
    MAPIFreeBuffer(eid);
    EXPECT_EQ(type, MAPI_MAILUSER);
    ComPtr<IMailUser> user;
    ASSERT_EQ(unk.As(IID_IMailUser, user), S_OK);
    LPSPropValue got = nullptr;
    ASSERT_EQ(HrGetOneProp(user.Get(), PR_EMAIL_ADDRESS, &got), S_OK);
    EXPECT_STREQ(got->Value.lpszA, "mary@example.org");
    MAPIFreeBuffer(got);
    ASSERT_EQ(HrGetOneProp(user.Get(), PR_DISPLAY_NAME, &got), S_OK);
    EXPECT_STREQ(got->Value.lpszA, "Mary Example");
    MAPIFreeBuffer(got);

    // The session's service administration is the profile's.
    ComPtr<IMsgServiceAdmin> services;
    ASSERT_EQ(session->AdminServices(0, &services), S_OK);
    ASSERT_EQ(services->CreateMsgService(S("TestSvc"), nullptr, 0, 0), S_OK);
    EXPECT_EQ(home.ServiceCalls().size(), 1u);
}

}  // namespace
