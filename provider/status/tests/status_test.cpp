// The status object: its properties as GetProps answers them, the status
// texts, and ValidateState's transitions with the reported results.
#include <gtest/gtest.h>

#include "platform/base/resource.h"
#include "provider/logon/tests/logon_test_support.h"
#include "provider/status/status_props.h"

namespace quillory::testing {
namespace {

using StatusTest = LogonFixture;

struct Props {
    ULONG count = 0;
    quarnex::ProviderBuffer<SPropValue> values;
    HRESULT hr = E_FAIL;
};

Props Get(IMAPIStatus* status, std::initializer_list<ULONG> tags)
{
    Props p;
    std::vector<ULONG> storage{static_cast<ULONG>(tags.size())};
    storage.insert(storage.end(), tags.begin(), tags.end());
    p.hr = status->GetProps(tags.size() ? reinterpret_cast<LPSPropTagArray>(storage.data()) : nullptr, 0, &p.count,
                            p.values.Out());
    return p;
}

TEST_F(StatusTest, OpenedReadOnlyOnceAndSharedAfterwards)
{
    ASSERT_EQ(Logon(), S_OK);
    ComPtr<IMAPIStatus> status;
    EXPECT_EQ(logon_->OpenStatusEntry(nullptr, MAPI_MODIFY, nullptr, &status), E_ACCESSDENIED);
    ULONG type = 0;
    ASSERT_EQ(logon_->OpenStatusEntry(nullptr, 0, &type, &status), S_OK);
    EXPECT_EQ(type, MAPI_STATUS);
    ComPtr<IMAPIStatus> again;
    ASSERT_EQ(logon_->OpenStatusEntry(nullptr, 0, nullptr, &again), S_OK);
    EXPECT_EQ(status.Get(), again.Get());
    EXPECT_EQ(status->SetProps(0, nullptr, nullptr), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(status->FlushQueues(0, 0, nullptr, 0), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(status->GetLastError(S_OK, MAPI_UNICODE, nullptr), MAPI_E_BAD_CHARWIDTH);
}

TEST_F(StatusTest, AllPropertiesInTheirOrderWithTheAccountsValues)
{
    ASSERT_EQ(Logon(), S_OK);
    auto status = Status();
    const Props p = Get(status.Get(), {});
    ASSERT_EQ(p.hr, S_OK);
    ASSERT_EQ(p.count, 12u);
    for (ULONG i = 0; i < p.count; ++i) EXPECT_EQ(p.values.Get()[i].ulPropTag, kStatusPropList[i]) << i;
    const LPSPropValue v = p.values.Get();
    EXPECT_EQ(v[0].Value.l, static_cast<LONG>(MAPI_STATUS));
    EXPECT_STREQ(v[2].Value.lpszA, "Example News");
    EXPECT_EQ(v[4].Value.l, 9);
    EXPECT_EQ(v[6].Value.l, static_cast<LONG>(kInitialResourceFlags));
    EXPECT_EQ(v[7].Value.l, 36);
    EXPECT_STREQ(v[8].Value.lpszA, "The transport is ready to process messages");
    EXPECT_STREQ(v[9].Value.lpszA, "Tarnel NNTP Transport (news.example.org)");
    EXPECT_EQ(v[10].Value.b, 1);
    EXPECT_EQ(v[11].Value.li.QuadPart, 0x0000000100000001LL);

    LPSPropTagArray list = nullptr;
    ASSERT_EQ(status->GetPropList(0, &list), S_OK);
    EXPECT_EQ(list->cValues, 12u);
    EXPECT_EQ(list->aulPropTag[11], PR_CURRENT_VERSION);
    MAPIFreeBuffer(list);
}

TEST_F(StatusTest, UnspecifiedTypesTakeTheListedTypeAndUnknownTagsFail)
{
    ASSERT_EQ(Logon(), S_OK);
    auto status = Status();
    const Props p = Get(status.Get(), {PROP_TAG(PT_UNSPECIFIED, PROP_ID(PR_STATUS_CODE)), PR_IDENTITY_SEARCH_KEY,
                                       PR_HEADER_FOLDER_ENTRYID, PR_OWN_STORE_ENTRYID, PR_SUBJECT, PR_NULL});
    EXPECT_EQ(p.hr, MAPI_W_ERRORS_RETURNED);
    const LPSPropValue v = p.values.Get();
    EXPECT_EQ(v[0].ulPropTag, PR_STATUS_CODE);
    EXPECT_EQ(static_cast<ULONG>(v[0].Value.l), logon_->StatusCode());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(v[1].Value.bin.lpb), v[1].Value.bin.cb), "SMTP:ann@example.org");
    ASSERT_EQ(v[2].Value.bin.cb, 16u);
    EXPECT_EQ(v[2].Value.bin.lpb[0], 1);
    EXPECT_EQ(v[2].Value.bin.lpb[15], 16);
    EXPECT_EQ(v[3].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_OWN_STORE_ENTRYID)));
    EXPECT_EQ(v[3].Value.err, MAPI_E_NOT_FOUND);
    EXPECT_EQ(v[4].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_SUBJECT)));
    EXPECT_EQ(v[5].ulPropTag, PR_NULL);
}

TEST_F(StatusTest, AccountWithoutIdentityAnswersErrorsAndDefaults)
{
    // Entries of the wrong tag count as absent: an account name stored as an
    // e-mail address tag at no index, and no server, user or e-mail at all.
    ComPtr<IProfSect> section = home_.ServiceSection();
    SizedSPropTagArray<4> drop{4, {PR_ACCOUNT, PR_EMAIL_ADDRESS, PR_DISPLAY_NAME, acct::PR_NNTP_SERVER}};
    ASSERT_EQ(section->DeleteProps(drop.AsTagArray(), nullptr), S_OK);
    ASSERT_EQ(Logon(), S_OK);
    EXPECT_EQ(logon_->SenderEntryId(), nullptr);
    auto status = Status();
    const Props p = Get(status.Get(), {PR_IDENTITY_ENTRYID, PR_PROVIDER_DISPLAY, PR_DISPLAY_NAME});
    EXPECT_EQ(p.hr, MAPI_W_ERRORS_RETURNED);
    EXPECT_EQ(p.values.Get()[0].ulPropTag, PROP_TAG(PT_ERROR, PROP_ID(PR_IDENTITY_ENTRYID)));
    EXPECT_EQ(p.values.Get()[0].Value.err, MAPI_E_NOT_FOUND);
    EXPECT_STREQ(p.values.Get()[1].Value.lpszA, "Tarnel NNTP Transport");
    EXPECT_STREQ(p.values.Get()[2].Value.lpszA, "Tarnel NNTP Transport (n/a)");
}

TEST(StatusTexts, ChosenByBitsInOrder)
{
    const ULONG en = STATUS_INBOUND_ENABLED | STATUS_OUTBOUND_ENABLED;
    EXPECT_EQ(StatusTextId(kAllBusyBits | STATUS_OFFLINE), IDS_STATUS_SCHEDULED);
    EXPECT_EQ(StatusTextId(STATUS_INBOUND_FLUSH | STATUS_OFFLINE | STATUS_OUTBOUND_ACTIVE), IDS_STATUS_UPLOADING);
    EXPECT_EQ(StatusTextId(STATUS_INBOUND_ACTIVE | en), IDS_STATUS_DOWNLOADING);
    EXPECT_EQ(StatusTextId(STATUS_OUTBOUND_FLUSH | en), IDS_STATUS_PROCESSING);
    EXPECT_EQ(StatusTextId(en | STATUS_OFFLINE), IDS_STATUS_READY);
    EXPECT_EQ(StatusTextId(STATUS_INBOUND_ENABLED), IDS_STATUS_AVAILABLE);
    char text[128];
    ASSERT_GT(LoadString(nullptr, IDS_STATUS_SCHEDULED, text, sizeof text), 0);
    EXPECT_STREQ(text, "The transport is delivery and receiving for scheduled connection");
}

TEST_F(StatusTest, ProcessRequestRunsThroughBusyToTheCollectedResult)
{
    ASSERT_EQ(Logon(), S_OK);
    auto status = Status();
    EXPECT_EQ(status->ValidateState(0, SUPPRESS_UI), MAPI_E_UNKNOWN_FLAGS);
    EXPECT_EQ(status->ValidateState(0, SHOW_XP_SESSION_UI), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(status->ValidateState(0, FORCE_XP_CONNECT | FORCE_XP_DISCONNECT), S_OK);

    ASSERT_EQ(status->ValidateState(0, PROCESS_XP_HEADER_CACHE), MAPI_E_BUSY);
    EXPECT_EQ(logon_->State(), HeaderState::ProcessRequested);
    EXPECT_EQ(logon_->StatusCode() & (kInboundBusyBits | STATUS_OFFLINE), kInboundBusyBits);
    EXPECT_EQ(home_.Support().LastRow().statusString, "The transport is downloading messages and updating the headers");
    EXPECT_EQ(status->ValidateState(0, PROCESS_XP_HEADER_CACHE), MAPI_E_BUSY);
    EXPECT_EQ(status->ValidateState(0, REFRESH_XP_HEADER_CACHE), MAPI_E_BUSY);

    logon_->SetLastResult(IXP_E_CC17);  // the operation was cancelled
    ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
    ASSERT_EQ(logon_->State(), HeaderState::Finished);
    EXPECT_EQ(status->ValidateState(0, PROCESS_XP_HEADER_CACHE), MAPI_E_USER_CANCEL);
    EXPECT_EQ(logon_->State(), HeaderState::Idle);
    EXPECT_EQ(logon_->StatusCode() & (kInboundBusyBits | STATUS_OFFLINE), STATUS_OFFLINE);
    EXPECT_EQ(home_.Support().LastRow().validateOk, 0);
}

TEST_F(StatusTest, CollectedFailuresFollowTheRegistryOverride)
{
    WriteRegDword(kMainKey, kValSetLastError, 0x80004004);
    WriteRegDword(kMainKey, kValDisableMapping, 1);
    ResetReportedResultMapping();
    script_.finishResult = IXP_E_CC0E;
    ASSERT_EQ(Logon(), S_OK);
    auto status = Status();
    ASSERT_EQ(status->ValidateState(0, REFRESH_XP_HEADER_CACHE), MAPI_E_BUSY);
    EXPECT_EQ(logon_->State(), HeaderState::RefreshRequested);
    ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
    ASSERT_EQ(logon_->State(), HeaderState::Finished);
    EXPECT_EQ(status->ValidateState(0, REFRESH_XP_HEADER_CACHE), static_cast<HRESULT>(0x80004004));
    EXPECT_EQ(logon_->State(), HeaderState::Idle);
    EXPECT_TRUE(logon_->StatusCode() & STATUS_OFFLINE);
}

TEST_F(StatusTest, AbortWhileIdleClearsInboundActivity)
{
    ASSERT_EQ(Logon(), S_OK);
    auto status = Status();
    logon_->SetStatusCode(logon_->StatusCode() | kInboundBusyBits);
    logon_->SetState(HeaderState::Finished);
    ASSERT_EQ(status->ValidateState(0, ABORT_XP_HEADER_OPERATION), S_OK);
    EXPECT_EQ(logon_->State(), HeaderState::Idle);
    EXPECT_EQ(logon_->StatusCode() & (kInboundBusyBits | STATUS_OFFLINE), STATUS_OFFLINE);
    EXPECT_EQ(home_.Support().LastRow().validateOk, 1);

    logon_->SetState(HeaderState::RefreshRequested);
    EXPECT_EQ(status->ValidateState(0, ABORT_XP_HEADER_OPERATION), MAPI_E_BUSY);
    EXPECT_TRUE(logon_->AbortRequested());
    EXPECT_EQ(status->ValidateState(0, REFRESH_XP_HEADER_CACHE), MAPI_E_BUSY);
    EXPECT_FALSE(logon_->AbortRequested());
}

TEST_F(StatusTest, KeptPastLogoffItAnswersWithoutTheLogon)
{
    ASSERT_EQ(Logon(), S_OK);
    auto status = Status();
    ASSERT_EQ(logon_->TransportLogoff(0), S_OK);
    logon_.Reset();
    ULONG count = 0;
    LPSPropValue values = nullptr;
    EXPECT_EQ(status->GetProps(nullptr, 0, &count, &values), MAPI_E_OBJECT_DELETED);
    EXPECT_EQ(status->ValidateState(0, PROCESS_XP_HEADER_CACHE), MAPI_E_OBJECT_DELETED);
}

TEST_F(StatusTest, TheProvidersOwnHeaderFolderStandsBehindTheStatusObject)
{
    SetHeaderFolderFactory(nullptr);
    ASSERT_EQ(Logon(), S_OK);
    auto status = Status();
    ComPtr<IMAPIFolder> folder;
    ASSERT_EQ(status->QueryInterface(IID_IMAPIFolder, folder.AsVoidOut()), S_OK);
    LPSPropValue id = nullptr;
    ASSERT_EQ(HrGetOneProp(folder.Get(), PR_ENTRYID, &id), S_OK);
    EXPECT_EQ(id->Value.bin.cb, 16u);
    MAPIFreeBuffer(id);
    ULONG incoming = 7;
    ASSERT_EQ(logon_->Poll(&incoming), S_OK);
    EXPECT_EQ(incoming, 0u);
}

}  // namespace
}  // namespace quillory::testing
