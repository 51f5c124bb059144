// Profile administration: creating, listing, defaulting and deleting
// profiles, what a new profile holds, and that it all survives a reopen.
#include <gtest/gtest.h>

#include "platform/mapi/mapisvc_inf.h"
#include "platform/mapi/profile_section.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/tests/profile_test_util.h"

namespace {

using namespace quillory::testing;
using quillory::ComPtr;
using quillory::RowSetPtr;

LPSTR S(const char* s) { return const_cast<LPSTR>(s); }

// Names and default marks of the profile table, in table order.
std::vector<std::string> ProfileList(IProfAdmin* admin)
{
    ComPtr<IMAPITable> table;
    EXPECT_EQ(admin->GetProfileTable(0, &table), S_OK);
    RowSetPtr keep;
    std::vector<std::string> names;
    for (const auto& row : AllRows(table.Get(), {PR_DISPLAY_NAME, PR_DEFAULT_PROFILE, PR_INSTANCE_KEY}, keep)) {
        EXPECT_EQ(PROP_TYPE(row[2].ulPropTag), PT_BINARY);
        names.push_back(Str(row, PR_DISPLAY_NAME) + (row[1].Value.b ? "*" : ""));
    }
    return names;
}

TEST(ProfileAdmin, NeedsMapiInitialized)
{
    TempHome home;
    ComPtr<IProfAdmin> admin;
    EXPECT_EQ(MAPIAdminProfiles(0, &admin), MAPI_E_NOT_INITIALIZED);
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    MAPIUninitialize();
    EXPECT_EQ(MAPIAdminProfiles(0, &admin), S_OK);  // still counted once
    EXPECT_EQ(MAPIAdminProfiles(MAPI_UNICODE, &admin), MAPI_E_BAD_CHARWIDTH);
    MAPIUninitialize();
    MAPIINIT_0 bad{1, 0};
    EXPECT_EQ(MAPIInitialize(&bad), MAPI_E_VERSION);
}

TEST(ProfileAdmin, CreateDefaultAndDelete)
{
    MapiHome home;
    auto admin = ProfAdmin();
    ASSERT_EQ(admin->CreateProfile(S("Work"), nullptr, 0, 0), S_OK);
    ASSERT_EQ(admin->CreateProfile(S("home"), nullptr, 0, 0), S_OK);
    // The first profile becomes the default; the table is in name order.
    EXPECT_EQ(ProfileList(admin.Get()), (std::vector<std::string>{"home", "Work*"}));

    EXPECT_EQ(admin->CreateProfile(S("WORK"), nullptr, 0, 0), MAPI_E_NO_ACCESS);
    LPMAPIERROR err = nullptr;
    ASSERT_EQ(admin->GetLastError(MAPI_E_NO_ACCESS, 0, &err), S_OK);
    EXPECT_NE(std::string(err->lpszError).find("exists"), std::string::npos);
    MAPIFreeBuffer(err);
    EXPECT_EQ(admin->CreateProfile(S(""), nullptr, 0, 0), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(admin->CreateProfile(nullptr, nullptr, 0, 0), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(admin->CreateProfile(S(std::string(65, 'x').c_str()), nullptr, 0, 0), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(admin->CreateProfile(S(std::string(64, 'x').c_str()), nullptr, 0, 0), S_OK);

    ASSERT_EQ(admin->SetDefaultProfile(S("HOME"), 0), S_OK);
    EXPECT_EQ(ProfileList(admin.Get())[0], "home*");
    EXPECT_EQ(admin->SetDefaultProfile(S("nobody"), 0), MAPI_E_NOT_FOUND);
    ASSERT_EQ(admin->SetDefaultProfile(nullptr, 0), S_OK);
    EXPECT_EQ(ProfileList(admin.Get())[0], "home");

    EXPECT_EQ(admin->DeleteProfile(S("nobody"), 0), MAPI_E_NOT_FOUND);
    ASSERT_EQ(admin->DeleteProfile(S("work"), 0), S_OK);
    ASSERT_EQ(admin->DeleteProfile(S(std::string(64, 'x').c_str()), 0), S_OK);
    EXPECT_EQ(ProfileList(admin.Get()), std::vector<std::string>{"home"});
    ComPtr<IMsgServiceAdmin> services;
    EXPECT_EQ(admin->AdminServices(S("Work"), nullptr, 0, 0, &services), MAPI_E_NOT_FOUND);
    // The name is free again.
    EXPECT_EQ(admin->CreateProfile(S("Work"), nullptr, 0, 0), S_OK);
}

TEST(ProfileAdmin, NewProfileHasTheEmbeddedStoreAsDefaultStore)
{
    MapiHome home(/*withServiceList=*/false);  // the store needs no service list
    auto admin = ProfAdmin();
    ASSERT_EQ(admin->CreateProfile(S("P"), nullptr, 0, 0), S_OK);
    auto services = Services(admin.Get(), "P");

    ComPtr<IMAPITable> table;
    ASSERT_EQ(services->GetMsgServiceTable(0, &table), S_OK);
    RowSetPtr keep;
    auto rows = AllRows(table.Get(), {PR_SERVICE_NAME, PR_DISPLAY_NAME, PR_RESOURCE_FLAGS, PR_SERVICE_UID}, keep);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(Str(rows[0], PR_SERVICE_NAME), "QuilloryStore");
    EXPECT_EQ(Str(rows[0], PR_DISPLAY_NAME), "Personal Folders");
    EXPECT_TRUE(rows[0][2].Value.ul & SERVICE_DEFAULT_STORE);

    ComPtr<IMAPITable> providers;
    ASSERT_EQ(services->GetProviderTable(0, &providers), S_OK);
    RowSetPtr keepProviders;
    auto prow = AllRows(providers.Get(), {PR_RESOURCE_TYPE, PR_RESOURCE_FLAGS, PR_PROVIDER_UID}, keepProviders);
    ASSERT_EQ(prow.size(), 1u);
    EXPECT_EQ(prow[0][0].Value.ul, MAPI_STORE_PROVIDER);
    EXPECT_TRUE(prow[0][1].Value.ul & STATUS_DEFAULT_STORE);

    // The provider's section names the store file under the root.
    MAPIUID providerUid = UidOf(&prow[0][2]);
    ComPtr<IProfSect> section;
    ASSERT_EQ(services->OpenProfileSection(&providerUid, nullptr, 0, &section), S_OK);
    LPSPropValue path = nullptr;
    ASSERT_EQ(HrGetOneProp(section.Get(), PR_RESOURCE_PATH, &path), S_OK);
    EXPECT_EQ(std::string(path->Value.lpszA), quillory::ProfileUidHex(providerUid) + ".qst");
    MAPIFreeBuffer(path);
}

TEST(ProfileAdmin, DefaultServicesFromTheServiceList)
{
    MapiHome home;
    auto admin = ProfAdmin();
    ASSERT_EQ(admin->CreateProfile(S("P"), nullptr, 0, MAPI_DEFAULT_SERVICES), S_OK);
    auto services = Services(admin.Get(), "P");
    ComPtr<IMAPITable> table;
    ASSERT_EQ(services->GetMsgServiceTable(0, &table), S_OK);
    RowSetPtr keep;
    auto rows = AllRows(table.Get(), {PR_SERVICE_NAME}, keep);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(Str(rows[0], PR_SERVICE_NAME), "QuilloryStore");
    EXPECT_EQ(Str(rows[1], PR_SERVICE_NAME), "NoLib");
}

TEST(ProfileAdmin, EverythingSurvivesAReopen)
{
    MapiHome home;
    MAPIUID uid{};
    {
        auto admin = ProfAdmin();
        ASSERT_EQ(admin->CreateProfile(S("Kept"), nullptr, 0, 0), S_OK);
        auto services = Services(admin.Get(), "Kept");
        ASSERT_EQ(services->CreateMsgService(S("NoLib"), S("Mine"), 0, 0), S_OK);
        uid = ServiceUid(services.Get(), "NoLib");
        ComPtr<IProfSect> section;
        ASSERT_EQ(services->OpenProfileSection(&uid, nullptr, MAPI_MODIFY, &section), S_OK);
        SPropValue v[2]{};
        v[0].ulPropTag = 0x67910040;  // same ID, two types: kept apart
        v[0].Value.ft = {1, 2};
        v[1].ulPropTag = 0x6791000B;
        v[1].Value.b = 1;
        ASSERT_EQ(section->SetProps(2, v, nullptr), S_OK);
    }  // every object released: the database closes

    auto admin = ProfAdmin();
    EXPECT_EQ(ProfileList(admin.Get()), std::vector<std::string>{"Kept*"});
    auto services = Services(admin.Get(), "Kept");
    ComPtr<IMAPITable> table;
    ASSERT_EQ(services->GetMsgServiceTable(0, &table), S_OK);
    RowSetPtr keep;
    auto rows = AllRows(table.Get(), {PR_SERVICE_NAME, PR_DISPLAY_NAME}, keep);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(Str(rows[1], PR_DISPLAY_NAME), "Mine");  // no display name in the list: the caller's

    ComPtr<IProfSect> section;
    ASSERT_EQ(services->OpenProfileSection(&uid, nullptr, 0, &section), S_OK);
    SizedSPropTagArray<4> tags{4, {0x67910040, 0x6791000B, PR_PROFILE_NAME, PR_SERVICE_NAME}};
    ULONG n = 0;
    LPSPropValue values = nullptr;
    ASSERT_EQ(section->GetProps(tags.AsTagArray(), 0, &n, &values), S_OK);
    EXPECT_EQ(values[0].Value.ft.dwHighDateTime, 2u);
    EXPECT_EQ(values[1].Value.b, 1);
    EXPECT_STREQ(values[2].Value.lpszA, "Kept");
    EXPECT_STREQ(values[3].Value.lpszA, "NoLib");
    MAPIFreeBuffer(values);
}

}  // namespace
