// The session's stores: the stores table, opening stores and entries through
// the session, the default store, the status table.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/mapi/addrbook.h"
#include "platform/mapi/entryid.h"
#include "platform/mapi/mapisvc_inf.h"
#include "platform/mapi/msgstore.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/tests/profile_test_util.h"

namespace {

using namespace quillory::testing;
using quillory::ComPtr;
using quillory::RowSetPtr;

LPSTR S(const char* s) { return const_cast<LPSTR>(s); }

std::vector<BYTE> Bytes(const SPropValue& v) { return {v.Value.bin.lpb, v.Value.bin.lpb + v.Value.bin.cb}; }

class SessionStores : public ::testing::Test {
protected:
    void SetUp() override
    {
        admin_ = ProfAdmin();
        ASSERT_EQ(admin_->CreateProfile(S("P"), nullptr, 0, 0), S_OK);
        ASSERT_EQ(MAPILogonEx(0, S("P"), nullptr, MAPI_EXTENDED, &session_), S_OK);
    }

    // Rows of the stores table as the substitute session reads them.
    std::vector<std::vector<SPropValue>> StoreRows(RowSetPtr& keep)
    {
        ComPtr<IMAPITable> table;
        EXPECT_EQ(session_->GetMsgStoresTable(0, &table), S_OK);
        return AllRows(table.Get(), {PR_DISPLAY_NAME, PR_ENTRYID, PR_DEFAULT_STORE, PR_MDB_PROVIDER, PR_INSTANCE_KEY},
                       keep);
    }

    MapiHome home_;
    ComPtr<IProfAdmin> admin_;
    ComPtr<IMAPISession> session_;
};

TEST_F(SessionStores, TheEmbeddedStoreIsListedAndOpens)
{
    RowSetPtr keep;
    auto rows = StoreRows(keep);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(Str(rows[0], PR_DISPLAY_NAME), "Personal Folders");
    EXPECT_EQ(rows[0][2].Value.b, 1);
    EXPECT_EQ(Bytes(rows[0][3]), std::vector<BYTE>(std::begin(quillory::kQuilloryStoreProvider.ab),
                                                    std::end(quillory::kQuilloryStoreProvider.ab)));

    const auto entryId = Bytes(rows[0][1]);
    ComPtr<IMsgStore> store;
    ASSERT_EQ(session_->OpenMsgStore(0, static_cast<ULONG>(entryId.size()),
                                     reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(entryId.data())), nullptr,
                                     MAPI_BEST_ACCESS | MDB_NO_DIALOG, &store),
              S_OK);
    // The store file lives under the root, named after the store.
    const MAPIUID uid = UidOf(&rows[0][4]);
    EXPECT_TRUE(std::filesystem::exists(home_.path() / "stores" / (quillory::ProfileUidHex(uid) + ".qst")));
    // The store agrees with the table about its entry ID; a second open gives the same object.
    LPSPropValue own = nullptr;
    ASSERT_EQ(HrGetOneProp(store.Get(), PR_ENTRYID, &own), S_OK);
    EXPECT_EQ(Bytes(*own), entryId);
    MAPIFreeBuffer(own);
    ComPtr<IMsgStore> again;
    ASSERT_EQ(session_->OpenMsgStore(0, static_cast<ULONG>(entryId.size()),
                                     reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(entryId.data())), &IID_IMsgStore,
                                     MDB_WRITE, &again),
              S_OK);
    EXPECT_EQ(again.Get(), store.Get());

    std::vector<BYTE> junk(32, 1);
    EXPECT_EQ(session_->OpenMsgStore(0, 32, reinterpret_cast<LPENTRYID>(junk.data()), nullptr, 0, &again),
              MAPI_E_INVALID_ENTRYID);
    // A store of no profile's (a made-up UID) is not found.
    const auto stranger = quillory::MakeStoreEntryId(quillory::NewProfileUid(), MAPI_STORE, 0);
    EXPECT_EQ(session_->OpenMsgStore(0, static_cast<ULONG>(stranger.size()),
                                     reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(stranger.data())), nullptr, 0, &again),
              MAPI_E_NOT_FOUND);
}

TEST_F(SessionStores, OpenEntryRoutesToStoresAndTheAddressBook)
{
    RowSetPtr keep;
    auto rows = StoreRows(keep);
    auto storeId = Bytes(rows.at(0)[1]);
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    ASSERT_EQ(session_->OpenEntry(static_cast<ULONG>(storeId.size()), reinterpret_cast<LPENTRYID>(storeId.data()),
                                  nullptr, 0, &type, &unk),
              S_OK);
    EXPECT_EQ(type, MAPI_STORE);
    ComPtr<IMsgStore> store;
    ASSERT_EQ(unk.As(IID_IMsgStore, store), S_OK);

    LPSPropValue subtree = nullptr;
    ASSERT_EQ(HrGetOneProp(store.Get(), PR_IPM_SUBTREE_ENTRYID, &subtree), S_OK);
    ASSERT_EQ(session_->OpenEntry(subtree->Value.bin.cb, reinterpret_cast<LPENTRYID>(subtree->Value.bin.lpb), nullptr,
                                  0, &type, &unk),
              S_OK);
    EXPECT_EQ(type, MAPI_FOLDER);
    ULONG same = 0;
    ASSERT_EQ(session_->CompareEntryIDs(subtree->Value.bin.cb, reinterpret_cast<LPENTRYID>(subtree->Value.bin.lpb),
                                        subtree->Value.bin.cb, reinterpret_cast<LPENTRYID>(subtree->Value.bin.lpb), 0,
                                        &same),
              S_OK);
    EXPECT_EQ(same, 1u);
    MAPIFreeBuffer(subtree);

    const auto oneOff = quillory::MakeOneOffEntryId({"Zed", "SMTP", "zed@example.org", 0});
    ASSERT_EQ(session_->OpenEntry(static_cast<ULONG>(oneOff.size()),
                                  reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(oneOff.data())), nullptr, 0, &type, &unk),
              S_OK);
    EXPECT_EQ(type, MAPI_MAILUSER);

    std::vector<BYTE> junk(40, 9);
    EXPECT_EQ(session_->OpenEntry(40, reinterpret_cast<LPENTRYID>(junk.data()), nullptr, 0, &type, &unk),
              MAPI_E_UNKNOWN_ENTRYID);
    EXPECT_EQ(session_->OpenEntry(0, nullptr, nullptr, 0, &type, &unk), MAPI_E_INVALID_ENTRYID);
}

TEST_F(SessionStores, ASecondStoreCanBecomeTheDefault)
{
    ComPtr<IMsgServiceAdmin> services;
    ASSERT_EQ(session_->AdminServices(0, &services), S_OK);
    ASSERT_EQ(services->CreateMsgService(S("QuilloryStore"), nullptr, 0, 0), S_OK);
    RowSetPtr keep;
    auto rows = StoreRows(keep);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][2].Value.b, 1);
    EXPECT_EQ(rows[1][2].Value.b, 0);  // one default store per profile

    auto second = Bytes(rows[1][1]);
    ASSERT_EQ(session_->SetDefaultStore(MAPI_DEFAULT_STORE, static_cast<ULONG>(second.size()),
                                        reinterpret_cast<LPENTRYID>(second.data())),
              S_OK);
    RowSetPtr keep2;
    rows = StoreRows(keep2);
    EXPECT_EQ(rows[0][2].Value.b, 0);
    EXPECT_EQ(rows[1][2].Value.b, 1);

    // Another session of the profile sees the choice.
    ComPtr<IMAPISession> other;
    ASSERT_EQ(MAPILogonEx(0, S("P"), nullptr, MAPI_NEW_SESSION, &other), S_OK);
    ComPtr<IMAPITable> table;
    ASSERT_EQ(other->GetMsgStoresTable(0, &table), S_OK);
    SRestriction r{};
    SPropValue yes{};
    yes.ulPropTag = PR_DEFAULT_STORE;
    yes.Value.b = 1;
    r.rt = RES_PROPERTY;
    r.res.resProperty = {RELOP_EQ, PR_DEFAULT_STORE, &yes};
    ASSERT_EQ(table->Restrict(&r, 0), S_OK);
    RowSetPtr keep3;
    auto defaults = AllRows(table.Get(), {PR_ENTRYID}, keep3);
    ASSERT_EQ(defaults.size(), 1u);
    EXPECT_EQ(Bytes(defaults[0][0]), second);

    EXPECT_EQ(session_->SetDefaultStore(0x5, static_cast<ULONG>(second.size()), reinterpret_cast<LPENTRYID>(second.data())),
              MAPI_E_NO_SUPPORT);
}

TEST_F(SessionStores, StatusTableHoldsTheStoreAndTakesMoreRows)
{
    ComPtr<IMAPITable> status;
    ASSERT_EQ(session_->GetStatusTable(0, &status), S_OK);
    RowSetPtr keep;
    auto rows = AllRows(status.Get(), {PR_RESOURCE_TYPE, PR_STATUS_CODE, PR_DISPLAY_NAME}, keep);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].Value.ul, MAPI_STORE_PROVIDER);
    EXPECT_EQ(rows[0][1].Value.ul, 1u);
    EXPECT_EQ(Str(rows[0], PR_DISPLAY_NAME), "Personal Folders");

    ComPtr<ITableData> data;
    ASSERT_EQ(quillory::SessionStatusTable(session_.Get(), &data), S_OK);
    const BYTE key[] = {1, 2, 3};
    std::string name = "Test Transport";
    SPropValue values[3]{};
    values[0].ulPropTag = PR_INSTANCE_KEY;
    values[0].Value.bin = {sizeof key, const_cast<BYTE*>(key)};
    values[1].ulPropTag = PR_RESOURCE_TYPE;
    values[1].Value.ul = MAPI_TRANSPORT_PROVIDER;
    values[2].ulPropTag = PR_DISPLAY_NAME;
    values[2].Value.lpszA = name.data();
    SRow row{0, 3, values};
    ASSERT_EQ(data->HrModifyRow(&row), S_OK);
    ULONG count = 0;
    ASSERT_EQ(status->GetRowCount(0, &count), S_OK);  // the open view follows
    EXPECT_EQ(count, 2u);
}

}  // namespace
