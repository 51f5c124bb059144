// The support object on its own: the status row a provider keeps, profile
// sections, entries and the configuration variant.
#include "platform/mapi/addrbook.h"
#include "platform/mapi/service_admin.h"
#include "platform/mapi/spooler/tests/spooler_test_util.h"

namespace {

using namespace quillory;
using namespace quillory::testing;

class Support : public SpoolerWorld {
protected:
    void SetUp() override
    {
        SpoolerWorld::SetUp();
        ASSERT_EQ(MAPILogonEx(0, const_cast<LPSTR>("P"), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION, &session_), S_OK);
        provider_ = NewProfileUid();
        ASSERT_EQ(CMAPISupport::ForTransport(session_.Get(), {provider_, "Xp", "xp.dll"}, support_), S_OK);
    }

    // The provider's row of the status table, by tag.
    std::vector<SPropValue> Row(RowSetPtr& keep)
    {
        ComPtr<IMAPITable> table;
        EXPECT_EQ(session_->GetStatusTable(0, &table), S_OK);
        for (auto& row : AllRows(table.Get(), {PR_INSTANCE_KEY, PR_DISPLAY_NAME, PR_STATUS_CODE, PR_STATUS_STRING,
                                               PR_PROVIDER_DLL_NAME, PR_RESOURCE_TYPE},
                                 keep))
            if (ProfileUidEqual(UidOf(Col(row, PR_INSTANCE_KEY)), provider_)) return row;
        ADD_FAILURE() << "no row";
        return {};
    }

    MAPIUID provider_{};
    ComPtr<CMAPISupport> support_;
};

TEST_F(Support, StatusRowUpdatesMergeReplacementsReplaceAndNoValuesEmptyIt)
{
    SPropValue first[] = {LongProp(PR_STATUS_CODE, STATUS_AVAILABLE), StringProp(PR_STATUS_STRING, "ready"),
                          StringProp(PR_DISPLAY_NAME, "Mine")};
    ASSERT_EQ(support_->ModifyStatusRow(3, first, 0), S_OK);
    SPropValue code = LongProp(PR_STATUS_CODE, STATUS_AVAILABLE | STATUS_INBOUND_ACTIVE);
    ASSERT_EQ(support_->ModifyStatusRow(1, &code, STATUSROW_UPDATE), S_OK);
    SPropValue validated{};
    validated.ulPropTag = PR_REMOTE_VALIDATE_OK;
    validated.Value.b = TRUE;
    ASSERT_EQ(support_->ModifyStatusRow(1, &validated, STATUSROW_UPDATE), S_OK);
    RowSetPtr keep;
    auto row = Row(keep);
    {
        // A client reading the table's own columns sees what a remote transport reports.
        ComPtr<IMAPITable> table;
        ASSERT_EQ(session_->GetStatusTable(0, &table), S_OK);
        RowSetPtr all;
        bool seen = false;
        for (auto& r : AllRows(table.Get(), {}, all))
            seen = seen || (Col(r, PR_REMOTE_VALIDATE_OK) && Col(r, PR_REMOTE_VALIDATE_OK)->Value.b);
        EXPECT_TRUE(seen);
    }
    EXPECT_EQ(Str(row, PR_STATUS_STRING), "ready");  // kept by the update
    EXPECT_EQ(Str(row, PR_DISPLAY_NAME), "Mine");
    EXPECT_EQ(Str(row, PR_PROVIDER_DLL_NAME), "xp.dll");
    EXPECT_EQ(Col(row, PR_RESOURCE_TYPE)->Value.ul, MAPI_TRANSPORT_PROVIDER);
    EXPECT_EQ(support_->StatusCode(), STATUS_AVAILABLE | STATUS_INBOUND_ACTIVE);

    // Without the update flag the values replace what the provider wrote.
    ASSERT_EQ(support_->ModifyStatusRow(1, &code, 0), S_OK);
    RowSetPtr keep2;
    row = Row(keep2);
    EXPECT_EQ(Col(row, PR_STATUS_STRING), nullptr);  // an error value now
    EXPECT_EQ(Str(row, PR_DISPLAY_NAME), "Xp");  // the spooler's name again

    // A key of its own cannot be smuggled in.
    const std::vector<BYTE> other(16, 9);
    SPropValue key = BinaryProp(PR_INSTANCE_KEY, other);
    ASSERT_EQ(support_->ModifyStatusRow(1, &key, STATUSROW_UPDATE), S_OK);
    RowSetPtr keep3;
    EXPECT_FALSE(Row(keep3).empty());

    ASSERT_EQ(support_->ModifyStatusRow(0, nullptr, 0), S_OK);
    EXPECT_EQ(support_->StatusCode(), 0u);
    EXPECT_EQ(support_->ModifyStatusRow(1, &code, 0x4), MAPI_E_UNKNOWN_FLAGS);
}

TEST_F(Support, SectionsEntriesAndIdentities)
{
    // No UID: the provider's own section; MAPI_MODIFY creates it, read-only does not write.
    ComPtr<IProfSect> own;
    EXPECT_EQ(support_->OpenProfileSection(nullptr, 0, &own), MAPI_E_NOT_FOUND);
    ASSERT_EQ(support_->OpenProfileSection(nullptr, MAPI_MODIFY, &own), S_OK);
    SPropValue v = StringProp(PR_PROVIDER_DISPLAY, "written");
    ASSERT_EQ(own->SetProps(1, &v, nullptr), S_OK);
    ComPtr<IProfSect> again;
    ASSERT_EQ(support_->OpenProfileSection(&provider_, 0, &again), S_OK);
    EXPECT_EQ(GetString(again.Get(), PR_PROVIDER_DISPLAY), "written");
    EXPECT_TRUE(FAILED(again->SetProps(1, &v, nullptr)));

    // Stores, folders and messages of the session by entry ID.
    auto store = Store();
    auto storeId = GetBinary(store.Get(), PR_ENTRYID);
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    ASSERT_EQ(support_->OpenEntry(static_cast<ULONG>(storeId.size()), reinterpret_cast<LPENTRYID>(storeId.data()),
                                  nullptr, MAPI_MODIFY, &type, &unk),
              S_OK);
    EXPECT_EQ(type, MAPI_STORE);
    auto outboxId = GetBinary(store.Get(), PR_IPM_OUTBOX_ENTRYID);
    ASSERT_EQ(support_->OpenEntry(static_cast<ULONG>(outboxId.size()), reinterpret_cast<LPENTRYID>(outboxId.data()),
                                  nullptr, 0, &type, &unk),
              S_OK);
    EXPECT_EQ(type, MAPI_FOLDER);

    ULONG cb = 0;
    MapiBuffer<ENTRYID> oneOff;
    ASSERT_EQ(support_->CreateOneOff(const_cast<LPSTR>("Ann"), const_cast<LPSTR>("SMTP"),
                                     const_cast<LPSTR>("ann@example.org"), 0, &cb, &oneOff),
              S_OK);
    auto parsed = ParseOneOffEntryId(cb, oneOff.Get());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->address, "ann@example.org");
    MAPIUID a{}, b{};
    ASSERT_EQ(support_->NewUID(&a), S_OK);
    ASSERT_EQ(support_->NewUID(&b), S_OK);
    EXPECT_FALSE(ProfileUidEqual(a, b));

    ASSERT_EQ(support_->SpoolerNotify(NOTIFY_SENTDEFERRED, nullptr), S_OK);
    ASSERT_EQ(support_->SpoolerYield(0), S_OK);
    EXPECT_EQ(support_->TakeSpoolerNotifications(), std::vector<ULONG>{NOTIFY_SENTDEFERRED});
    EXPECT_TRUE(support_->TakeSpoolerNotifications().empty());
    EXPECT_EQ(support_->YieldCount(), 1u);
    EXPECT_EQ(support_->Address(nullptr, nullptr, nullptr), MAPI_E_NO_SUPPORT);
}

TEST_F(Support, ServiceEntriesGetAConfigurationSupportObject)
{
    AddTransport({"One"});
    const MAPIUID service = ServiceUid(services_.Get(), "TestXp");
    SPropValue v = StringProp(PR_COMMENT, "configured");
    ASSERT_EQ(services_->ConfigureMsgService(const_cast<MAPIUID*>(&service), 0, 0, 1, &v), S_OK);
    auto calls = Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "service ServiceEntry 3 1 support"), calls.end());

    auto* admin = dynamic_cast<CMsgServiceAdmin*>(services_.Get());
    ASSERT_TRUE(admin);
    auto config = CMAPISupport::ForConfiguration(admin->Context(), service);
    ComPtr<IProfSect> section;
    ASSERT_EQ(config->OpenProfileSection(nullptr, 0, &section), S_OK);
    EXPECT_EQ(GetString(section.Get(), PR_COMMENT), "configured");
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    EXPECT_EQ(config->OpenEntry(0, nullptr, nullptr, 0, &type, &unk), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(config->ModifyStatusRow(0, nullptr, 0), MAPI_E_NO_SUPPORT);
    ComPtr<IAddrBook> book;
    EXPECT_EQ(config->OpenAddressBook(nullptr, 0, &book), S_OK);
}

}  // namespace
