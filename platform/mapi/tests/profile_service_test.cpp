// Message services: created from the service list with their library's
// entry, configured, deleted; providers; profile sections.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/mapi/mapisvc_inf.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/tests/profile_test_util.h"

namespace {

using namespace quillory::testing;
using quillory::ComPtr;
using quillory::RowSetPtr;

LPSTR S(const char* s) { return const_cast<LPSTR>(s); }
constexpr ULONG kLastContextTag = 0x67000003;  // written by the test service's entry

class ProfileServices : public ::testing::Test {
protected:
    void SetUp() override
    {
        admin_ = ProfAdmin();
        ASSERT_EQ(admin_->CreateProfile(S("P"), nullptr, 0, 0), S_OK);
        services_ = Services(admin_.Get(), "P");
    }
    void TearDown() override { unsetenv("QTESTSVC_REFUSE"); }

    std::vector<std::string> ServiceNames()
    {
        ComPtr<IMAPITable> table;
        EXPECT_EQ(services_->GetMsgServiceTable(0, &table), S_OK);
        RowSetPtr keep;
        std::vector<std::string> names;
        for (const auto& row : AllRows(table.Get(), {PR_SERVICE_NAME}, keep)) names.push_back(Str(row, PR_SERVICE_NAME));
        return names;
    }

    LONG SectionLong(const MAPIUID& uid, ULONG tag)
    {
        ComPtr<IProfSect> section;
        EXPECT_EQ(services_->OpenProfileSection(const_cast<MAPIUID*>(&uid), nullptr, 0, &section), S_OK);
        LPSPropValue v = nullptr;
        if (!section || FAILED(HrGetOneProp(section.Get(), tag, &v))) return -1;
        const LONG value = v->Value.l;
        MAPIFreeBuffer(v);
        return value;
    }

    MapiHome home_;
    ComPtr<IProfAdmin> admin_;
    ComPtr<IMsgServiceAdmin> services_;
};

TEST_F(ProfileServices, CreatedFromTheServiceListThroughItsEntry)
{
    ASSERT_EQ(services_->CreateMsgService(S("testsvc"), S("ignored"), 7, SERVICE_UI_ALLOWED), S_OK);
    EXPECT_EQ(home_.ServiceCalls(), std::vector<std::string>{"2 16 0 7"});  // create, UI allowed, no values
    EXPECT_EQ(ServiceNames(), (std::vector<std::string>{"QuilloryStore", "TestSvc"}));
    const MAPIUID uid = ServiceUid(services_.Get(), "TestSvc");
    EXPECT_EQ(SectionLong(uid, kLastContextTag), static_cast<LONG>(MSG_SERVICE_CREATE));
    EXPECT_EQ(SectionLong(uid, PR_RESOURCE_FLAGS), static_cast<LONG>(SERVICE_NO_PRIMARY_IDENTITY));

    ComPtr<IMAPITable> table;
    ASSERT_EQ(services_->GetMsgServiceTable(0, &table), S_OK);
    RowSetPtr keep;
    auto rows = AllRows(table.Get(), {PR_DISPLAY_NAME, PR_SERVICE_DLL_NAME, PR_SERVICE_ENTRY_NAME}, keep);
    EXPECT_EQ(Str(rows[1], PR_DISPLAY_NAME), "Test Service");  // the list's name wins
    EXPECT_EQ(Str(rows[1], PR_SERVICE_DLL_NAME), "qtestsvc.dll");
    EXPECT_EQ(Str(rows[1], PR_SERVICE_ENTRY_NAME), "ServiceEntry");

    // Its provider, from the list's provider section.
    ComPtr<IProviderAdmin> providers;
    ASSERT_EQ(services_->AdminProviders(const_cast<MAPIUID*>(&uid), 0, &providers), S_OK);
    ComPtr<IMAPITable> ptable;
    ASSERT_EQ(providers->GetProviderTable(0, &ptable), S_OK);
    RowSetPtr pkeep;
    auto prows = AllRows(ptable.Get(), {PR_PROVIDER_DISPLAY, PR_RESOURCE_TYPE, PR_SERVICE_UID}, pkeep);
    ASSERT_EQ(prows.size(), 1u);
    EXPECT_EQ(Str(prows[0], PR_PROVIDER_DISPLAY), "Test Transport");
    EXPECT_EQ(prows[0][1].Value.ul, MAPI_TRANSPORT_PROVIDER);
    EXPECT_TRUE(quillory::ProfileUidEqual(UidOf(&prows[0][2]), uid));
}

TEST_F(ProfileServices, UnknownRefusedAndLibrarylessServices)
{
    EXPECT_EQ(services_->CreateMsgService(S("Nothing"), nullptr, 0, 0), MAPI_E_NOT_FOUND);
    LPMAPIERROR err = nullptr;
    ASSERT_EQ(services_->GetLastError(MAPI_E_NOT_FOUND, 0, &err), S_OK);
    EXPECT_NE(std::string(err->lpszError).find("Nothing"), std::string::npos);
    MAPIFreeBuffer(err);

    // A library that cannot be loaded and an entry that refuses leave nothing behind.
    EXPECT_EQ(services_->CreateMsgService(S("Missing"), nullptr, 0, 0), MAPI_E_NOT_FOUND);
    setenv("QTESTSVC_REFUSE", "2", 1);
    EXPECT_EQ(services_->CreateMsgService(S("TestSvc"), nullptr, 0, 0), MAPI_E_USER_CANCEL);
    EXPECT_EQ(ServiceNames(), std::vector<std::string>{"QuilloryStore"});
    ComPtr<IMAPITable> providers;
    ASSERT_EQ(services_->GetProviderTable(0, &providers), S_OK);
    ULONG count = 0;
    ASSERT_EQ(providers->GetRowCount(0, &count), S_OK);
    EXPECT_EQ(count, 1u);  // the store's only

    // A service without a library takes configuration values as they are.
    ASSERT_EQ(services_->CreateMsgService(S("NoLib"), nullptr, 0, 0), S_OK);
    const MAPIUID uid = ServiceUid(services_.Get(), "NoLib");
    SPropValue v{};
    v.ulPropTag = 0x66000003;
    v.Value.l = 42;
    ASSERT_EQ(services_->ConfigureMsgService(const_cast<MAPIUID*>(&uid), 0, 0, 1, &v), S_OK);
    EXPECT_EQ(SectionLong(uid, 0x66000003), 42);
}

TEST_F(ProfileServices, ConfigureHandsTheValuesToTheEntry)
{
    ASSERT_EQ(services_->CreateMsgService(S("TestSvc"), nullptr, 0, 0), S_OK);
    MAPIUID uid = ServiceUid(services_.Get(), "TestSvc");
    SPropValue v[2]{};
    v[0].ulPropTag = PR_EMAIL_ADDRESS;
    v[0].Value.lpszA = S("user@example.org");
    v[1].ulPropTag = 0x67870003;
    v[1].Value.l = 563;
    ASSERT_EQ(services_->ConfigureMsgService(&uid, 0, 0, 2, v), S_OK);
    EXPECT_EQ(home_.ServiceCalls().back(), "3 0 2 0");
    EXPECT_EQ(SectionLong(uid, 0x67870003), 563);
    EXPECT_EQ(SectionLong(uid, kLastContextTag), static_cast<LONG>(MSG_SERVICE_CONFIGURE));

    setenv("QTESTSVC_REFUSE", "3", 1);
    EXPECT_EQ(services_->ConfigureMsgService(&uid, 0, SERVICE_UI_ALWAYS, 0, nullptr), MAPI_E_USER_CANCEL);
    MAPIUID nobody{};
    EXPECT_EQ(services_->ConfigureMsgService(&nobody, 0, 0, 0, nullptr), MAPI_E_NOT_FOUND);
}

TEST_F(ProfileServices, DeleteTellsTheEntryAndRemovesTheSections)
{
    ASSERT_EQ(services_->CreateMsgService(S("TestSvc"), nullptr, 0, 0), S_OK);
    MAPIUID uid = ServiceUid(services_.Get(), "TestSvc");
    ComPtr<IProviderAdmin> providers;
    ASSERT_EQ(services_->AdminProviders(&uid, 0, &providers), S_OK);
    ComPtr<IMAPITable> ptable;
    ASSERT_EQ(providers->GetProviderTable(0, &ptable), S_OK);
    RowSetPtr keep;
    MAPIUID providerUid = UidOf(&AllRows(ptable.Get(), {PR_PROVIDER_UID}, keep).at(0)[0]);

    setenv("QTESTSVC_REFUSE", "4", 1);
    EXPECT_EQ(services_->DeleteMsgService(&uid), MAPI_E_USER_CANCEL);  // the entry says no: kept
    EXPECT_EQ(ServiceNames().size(), 2u);
    unsetenv("QTESTSVC_REFUSE");

    ASSERT_EQ(services_->DeleteMsgService(&uid), S_OK);
    EXPECT_EQ(home_.ServiceCalls().back(), "4 0 0 0");
    EXPECT_EQ(ServiceNames(), std::vector<std::string>{"QuilloryStore"});
    ComPtr<IProfSect> gone;
    EXPECT_EQ(services_->OpenProfileSection(&uid, nullptr, 0, &gone), MAPI_E_NOT_FOUND);
    EXPECT_EQ(services_->OpenProfileSection(&providerUid, nullptr, 0, &gone), MAPI_E_NOT_FOUND);
    EXPECT_EQ(services_->DeleteMsgService(&uid), MAPI_E_NOT_FOUND);
    // A section still open on the deleted service cannot bring it back.
    SPropValue v{};
    v.ulPropTag = 0x66000003;
    ComPtr<IProfSect> stale;
    ASSERT_EQ(services_->CreateMsgService(S("TestSvc"), nullptr, 0, 0), S_OK);
    uid = ServiceUid(services_.Get(), "TestSvc");
    ASSERT_EQ(services_->OpenProfileSection(&uid, nullptr, MAPI_MODIFY, &stale), S_OK);
    ASSERT_EQ(services_->DeleteMsgService(&uid), S_OK);
    EXPECT_EQ(stale->SetProps(1, &v, nullptr), MAPI_E_OBJECT_DELETED);
    EXPECT_EQ(services_->OpenProfileSection(&uid, nullptr, 0, &gone), MAPI_E_NOT_FOUND);
}

TEST_F(ProfileServices, AServiceWhoseLibraryWentAwayCanStillBeDeleted)
{
    ASSERT_EQ(services_->CreateMsgService(S("TestSvc"), nullptr, 0, 0), S_OK);
    MAPIUID uid = ServiceUid(services_.Get(), "TestSvc");
    ComPtr<IProfSect> section;
    ASSERT_EQ(services_->OpenProfileSection(&uid, nullptr, MAPI_MODIFY, &section), S_OK);
    SPropValue dll{};
    dll.ulPropTag = PR_SERVICE_DLL_NAME;
    dll.Value.lpszA = S("uninstalled.dll");
    ASSERT_EQ(section->SetProps(1, &dll, nullptr), S_OK);
    EXPECT_EQ(services_->ConfigureMsgService(&uid, 0, 0, 0, nullptr), MAPI_E_NOT_FOUND);
    EXPECT_EQ(services_->DeleteMsgService(&uid), S_OK);
    EXPECT_EQ(ServiceNames(), std::vector<std::string>{"QuilloryStore"});
}

TEST_F(ProfileServices, ProviderAdministration)
{
    ASSERT_EQ(services_->CreateMsgService(S("TestSvc"), nullptr, 0, 0), S_OK);
    MAPIUID uid = ServiceUid(services_.Get(), "TestSvc");
    ComPtr<IProviderAdmin> providers;
    ASSERT_EQ(services_->AdminProviders(&uid, 0, &providers), S_OK);

    // No UID: the service's own section.
    ComPtr<IProfSect> own;
    ASSERT_EQ(providers->OpenProfileSection(nullptr, nullptr, MAPI_MODIFY, &own), S_OK);
    LPSPropValue v = nullptr;
    ASSERT_EQ(HrGetOneProp(own.Get(), PR_SERVICE_UID, &v), S_OK);
    EXPECT_TRUE(quillory::ProfileUidEqual(UidOf(v), uid));
    MAPIFreeBuffer(v);

    SPropValue extra{};
    extra.ulPropTag = PR_DISPLAY_NAME;
    extra.Value.lpszA = S("Second transport");
    MAPIUID added{};
    ASSERT_EQ(providers->CreateProvider(S("TEST_XP"), 1, &extra, 0, 0, &added), S_OK);
    EXPECT_EQ(providers->CreateProvider(S("NO_SUCH_SECTION"), 0, nullptr, 0, 0, &added), MAPI_E_NOT_FOUND);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(providers->GetProviderTable(0, &table), S_OK);
    RowSetPtr keep;
    auto rows = AllRows(table.Get(), {PR_PROVIDER_UID, PR_DISPLAY_NAME, PR_PROVIDER_ORDINAL}, keep);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(quillory::ProfileUidEqual(UidOf(&rows[1][0]), added));
    EXPECT_EQ(Str(rows[1], PR_DISPLAY_NAME), "Second transport");
    EXPECT_EQ(rows[1][2].Value.ul, 1u);

    // Providers of another service are not this one's to delete.
    MAPIUID store = ServiceUid(services_.Get(), "QuilloryStore");
    ComPtr<IProviderAdmin> storeProviders;
    ASSERT_EQ(services_->AdminProviders(&store, 0, &storeProviders), S_OK);
    EXPECT_EQ(storeProviders->DeleteProvider(&added), MAPI_E_NOT_FOUND);
    ASSERT_EQ(providers->DeleteProvider(&added), S_OK);
    ComPtr<IProfSect> gone;
    EXPECT_EQ(providers->OpenProfileSection(&added, nullptr, 0, &gone), MAPI_E_NOT_FOUND);
}

TEST_F(ProfileServices, ProfileSectionsOpenCreateAndRefuse)
{
    MAPIUID uid = quillory::NewProfileUid();
    ComPtr<IProfSect> section;
    EXPECT_EQ(services_->OpenProfileSection(&uid, nullptr, 0, &section), MAPI_E_NOT_FOUND);
    ASSERT_EQ(services_->OpenProfileSection(&uid, nullptr, MAPI_MODIFY, &section), S_OK);  // created
    ComPtr<IProfSect> reader;
    ASSERT_EQ(services_->OpenProfileSection(&uid, &IID_IProfSect, 0, &reader), S_OK);

    SPropValue v[2]{};
    v[0].ulPropTag = 0x6600001E;
    v[0].Value.lpszA = S("kept");
    v[1].ulPropTag = PR_PROFILE_NAME;  // answered by the profile, not stored
    v[1].Value.lpszA = S("other");
    LPSPropProblemArray problems = nullptr;
    ASSERT_EQ(section->SetProps(2, v, &problems), S_OK);
    ASSERT_NE(problems, nullptr);
    EXPECT_EQ(problems->cProblem, 1u);
    EXPECT_EQ(problems->aProblem[0].scode, MAPI_E_COMPUTED);
    MAPIFreeBuffer(problems);
    EXPECT_EQ(reader->SetProps(1, v, nullptr), MAPI_E_NO_ACCESS);  // read-only

    ComPtr<IProfSect> again;
    ASSERT_EQ(services_->OpenProfileSection(&uid, nullptr, 0, &again), S_OK);
    LPSPropValue got = nullptr;
    ASSERT_EQ(HrGetOneProp(again.Get(), 0x6600001E, &got), S_OK);
    EXPECT_STREQ(got->Value.lpszA, "kept");
    MAPIFreeBuffer(got);
    ASSERT_EQ(HrGetOneProp(again.Get(), PR_PROFILE_NAME, &got), S_OK);
    EXPECT_STREQ(got->Value.lpszA, "P");
    MAPIFreeBuffer(got);

    SizedSPropTagArray<1> del{1, {PROP_TAG(PT_UNSPECIFIED, 0x6600)}};
    ASSERT_EQ(section->DeleteProps(del.AsTagArray(), nullptr), S_OK);
    ASSERT_EQ(services_->OpenProfileSection(&uid, nullptr, 0, &again), S_OK);
    EXPECT_EQ(HrGetOneProp(again.Get(), 0x6600001E, &got), MAPI_E_NOT_FOUND);

    EXPECT_EQ(services_->OpenProfileSection(nullptr, nullptr, 0, &again), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(services_->OpenProfileSection(&uid, &IID_IMsgStore, 0, &again), MAPI_E_INTERFACE_NOT_SUPPORTED);
}

// How the account-removal tool walks the profiles: every profile, its
// services restricted to one service name, each deleted by its UID.
TEST(ProfileServicesRemoval, EveryServiceOfANameGoesFromEveryProfile)
{
    MapiHome home;
    auto admin = ProfAdmin();
    for (const char* name : {"One", "Two", "Three"}) {
        ASSERT_EQ(admin->CreateProfile(S(name), nullptr, 0, 0), S_OK);
        auto services = Services(admin.Get(), name);
        ASSERT_EQ(services->CreateMsgService(S("TestSvc"), nullptr, 0, 0), S_OK);
        ASSERT_EQ(services->CreateMsgService(S("NoLib"), nullptr, 0, 0), S_OK);
        if (std::string_view(name) == "Two") {
            ASSERT_EQ(services->CreateMsgService(S("TestSvc"), nullptr, 0, 0), S_OK);
        }
    }
    ComPtr<IMAPITable> profiles;
    ASSERT_EQ(admin->GetProfileTable(0, &profiles), S_OK);
    SizedSPropTagArray<2> profileColumns{2, {PR_DISPLAY_NAME, PR_INSTANCE_KEY}};
    ASSERT_EQ(profiles->SetColumns(profileColumns.AsTagArray(), TBL_BATCH), S_OK);
    RowSetPtr profileRows;
    ASSERT_EQ(profiles->QueryRows(1000, 0, &profileRows), S_OK);
    ASSERT_EQ(profileRows->cRows, 3u);

    int deleted = 0;
    for (ULONG p = 0; p < profileRows->cRows; ++p) {
        ComPtr<IMsgServiceAdmin> services;
        ASSERT_EQ(admin->AdminServices(profileRows->aRow[p].lpProps[0].Value.lpszA, nullptr, 0, 0, &services), S_OK);
        ComPtr<IMAPITable> table;
        ASSERT_EQ(services->GetMsgServiceTable(0, &table), S_OK);
        SizedSPropTagArray<3> columns{3, {PR_SERVICE_NAME, PR_DISPLAY_NAME, PR_SERVICE_UID}};
        ASSERT_EQ(table->SetColumns(columns.AsTagArray(), 0), S_OK);
        SPropValue name{};
        name.ulPropTag = PR_SERVICE_NAME;
        name.Value.lpszA = S("TestSvc");
        SRestriction r{};
        r.rt = RES_PROPERTY;
        r.res.resProperty = {RELOP_EQ, PR_SERVICE_NAME, &name};
        ASSERT_EQ(table->Restrict(&r, 0), S_OK);
        RowSetPtr rows;
        ASSERT_EQ(table->QueryRows(1000, 0, &rows), S_OK);
        for (ULONG i = 0; i < rows->cRows; ++i) {
            ASSERT_EQ(rows->aRow[i].lpProps[2].ulPropTag, PR_SERVICE_UID);
            EXPECT_STREQ(rows->aRow[i].lpProps[1].Value.lpszA, "Test Service");
            auto* uid = reinterpret_cast<LPMAPIUID>(rows->aRow[i].lpProps[2].Value.bin.lpb);
            ASSERT_EQ(services->DeleteMsgService(uid), S_OK);
            ++deleted;
        }
    }
    EXPECT_EQ(deleted, 4);
    for (const char* name : {"One", "Two", "Three"}) {
        auto services = Services(admin.Get(), name);
        ComPtr<IMAPITable> table;
        ASSERT_EQ(services->GetMsgServiceTable(0, &table), S_OK);
        RowSetPtr keep;
        auto rows = AllRows(table.Get(), {PR_SERVICE_NAME}, keep);
        ASSERT_EQ(rows.size(), 2u) << name;
        EXPECT_EQ(Str(rows[1], PR_SERVICE_NAME), "NoLib");
    }
}

}  // namespace
