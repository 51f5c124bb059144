// The logon: status bits at logon and through TransportNotify, the download
// passes of FlushQueues and StartMessage, and the settings it loads.
#include <gtest/gtest.h>

#include "common/regstore.h"
#include "common/result_mapping.h"
#include "platform/base/time.h"
#include "platform/base/window.h"
#include "provider/entry/xp_provider.h"
#include "provider/logon/inbound_delivery.h"
#include "provider/logon/tests/logon_test_support.h"
#include "provider/settings/account_settings.h"

namespace quillory::testing {
namespace {

constexpr ULONG kBaseBits = STATUS_AVAILABLE | STATUS_OFFLINE | STATUS_REMOTE_ACCESS;

using LogonTest = LogonFixture;

TEST_F(LogonTest, LogonSetsStatusBitsByFlagsAndFillsTheRow)
{
    ASSERT_EQ(Logon(), S_OK);
    EXPECT_EQ(logonFlags_, 0u);
    EXPECT_EQ(logon_->StatusCode(), kBaseBits | STATUS_INBOUND_ENABLED | STATUS_OUTBOUND_ENABLED);
    const StatusRowCall& row = home_.Support().rows.at(0);
    EXPECT_EQ(row.flags, 0u);
    EXPECT_EQ(row.tags, (std::vector<ULONG>{PR_DISPLAY_NAME, PR_REMOTE_VALIDATE_OK, PR_RESOURCE_METHODS,
                                            PR_RESOURCE_PATH, PR_PROVIDER_DISPLAY, PR_STATUS_CODE, PR_STATUS_STRING,
                                            PR_IDENTITY_ENTRYID, PR_IDENTITY_DISPLAY, PR_IDENTITY_SEARCH_KEY}));
    EXPECT_EQ(row.validateOk, 1);
    EXPECT_EQ(logon_->State(), HeaderState::Idle);

    logon_.Reset();
    ASSERT_EQ(Logon(LOGON_NO_INBOUND | LOGON_NO_OUTBOUND), S_OK);
    EXPECT_EQ(logon_->StatusCode(), kBaseBits);
}

TEST_F(LogonTest, UnicodeLogonIsRefusedAndRemembered)
{
    EXPECT_EQ(Logon(MAPI_UNICODE), MAPI_E_BAD_CHARWIDTH);
    EXPECT_FALSE(logon_);
    EXPECT_EQ(quarnex::LogonCharWidthFlag(), MAPI_UNICODE);
    ASSERT_EQ(Logon(), S_OK);
    ULONG flags = 1, types = 0, uids = 0;
    LPSTR* names = nullptr;
    LPMAPIUID* uidArray = nullptr;
    ASSERT_EQ(logon_->AddressTypes(&flags, &types, &names, &uids, &uidArray), S_OK);
    EXPECT_EQ(flags, 0u);
    ASSERT_EQ(types, 1u);
    EXPECT_STREQ(names[0], "NNTP");
    ASSERT_EQ(uids, 1u);
    EXPECT_EQ(std::memcmp(uidArray[0]->ab, kProviderUid.ab, 16), 0);
    EXPECT_EQ(uidArray[0]->ab[0], 0x1F);
}

TEST_F(LogonTest, AccountSettingsAndSenderEntryIdAreLoaded)
{
    ASSERT_EQ(Logon(), S_OK);
    EXPECT_STREQ(AccountString(logon_->AccountProps(), acct::kAccountName), "Example News");
    ASSERT_NE(logon_->SenderEntryId(), nullptr);
    EXPECT_EQ(logon_->SenderEntryId()->ulPropTag, PR_SENDER_ENTRYID);
    const auto entry = ParseOneOffEntryId(logon_->SenderEntryId()->Value.bin.cb,
                                          reinterpret_cast<const ENTRYID*>(logon_->SenderEntryId()->Value.bin.lpb));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->address, "ann@example.org");
    EXPECT_EQ(logon_->ProfileName(), "P");
    EXPECT_EQ(logon_->HeaderLimit(), 300u);
}

TEST_F(LogonTest, TransportNotifyTogglesTheBits)
{
    ASSERT_EQ(Logon(LOGON_NO_INBOUND | LOGON_NO_OUTBOUND), S_OK);
    ULONG flags = NOTIFY_BEGIN_INBOUND | NOTIFY_BEGIN_OUTBOUND;
    ASSERT_EQ(logon_->TransportNotify(&flags, nullptr), S_OK);
    EXPECT_EQ(logon_->StatusCode(), STATUS_AVAILABLE | STATUS_REMOTE_ACCESS | STATUS_INBOUND_ENABLED |
                                        STATUS_OUTBOUND_ENABLED);
    EXPECT_NE(logon_->Downloader(), nullptr);  // begin-outbound makes the downloader

    flags = NOTIFY_BEGIN_OUTBOUND_FLUSH;
    logon_->TransportNotify(&flags, nullptr);
    EXPECT_EQ(logon_->StatusCode() & kOutboundBusyBits, kOutboundBusyBits);
    EXPECT_EQ(home_.Support().spoolerNotifies.back(), NOTIFY_SENTDEFERRED);
    flags = NOTIFY_END_OUTBOUND_FLUSH | NOTIFY_END_INBOUND | NOTIFY_END_OUTBOUND;
    logon_->TransportNotify(&flags, nullptr);
    EXPECT_EQ(logon_->StatusCode(), STATUS_AVAILABLE | STATUS_REMOTE_ACCESS);
    EXPECT_EQ(home_.Support().LastRow().flags, STATUSROW_UPDATE);
    EXPECT_EQ(home_.Support().LastRow().validateOk, -1);
}

TEST_F(LogonTest, MissingNewsComponentBecomesTheLastResult)
{
    SetDownloaderFactory(nullptr);  // the real downloader: no news component in this test's paths
    ASSERT_EQ(Logon(), S_OK);
    ULONG flags = NOTIFY_BEGIN_OUTBOUND;
    EXPECT_EQ(logon_->TransportNotify(&flags, nullptr), S_OK);
    EXPECT_EQ(logon_->LastResult(), E_FAIL);
    EXPECT_EQ(logon_->Downloader(), nullptr);
}

TEST_F(LogonTest, DownloadWithoutMarkedRowsEndsFinishedAndValidated)
{
    ASSERT_EQ(Logon(), S_OK);
    AddRow(1, 0);
    ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
    EXPECT_EQ(logon_->State(), HeaderState::Finished);
    EXPECT_EQ(logon_->StatusCode() & kInboundBusyBits, 0u);
    EXPECT_EQ(home_.Support().LastRow().validateOk, 1);
    EXPECT_TRUE(logon_->RemoteValidateOk());
    // A non-empty folder needs no header download.
    EXPECT_EQ(std::count(script_.calls.begin(), script_.calls.end(), "RefreshHeaders"), 0);
}

TEST_F(LogonTest, FirstDownloadStoresTheCheckTimeWithoutChecking)
{
    ASSERT_EQ(Logon(), S_OK);
    FILETIME before{};
    GetSystemTimeAsFileTime(&before);
    ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
    EXPECT_EQ(std::count(script_.calls.begin(), script_.calls.end(), "CheckNewGroups"), 0);
    // Stored in the profile, not only in memory.
    quarnex::ProviderBuffer<SPropValue> stored;
    ASSERT_EQ(HrGetOneProp(home_.ServiceSection().Get(), acct::PR_NNTP_LAST_NEWGROUPS_CHECK, stored.Out()), S_OK);
    const ULONGLONG t = FileTimeToUInt64(stored->Value.ft);
    EXPECT_GE(t + kFileTimeTicksPerSecond, FileTimeToUInt64(before));
    EXPECT_EQ(t % kFileTimeTicksPerSecond, 0u);
    // The empty folder got a header download with the profile's limit.
    EXPECT_EQ(script_.calls, std::vector<std::string>{"RefreshHeaders"});
    EXPECT_EQ(script_.lastLimit, 300u);
}

TEST_F(LogonTest, StaleCheckTimeAsksForNewGroupsSinceTheIntervalAndAMinute)
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    SPropValue old{};
    old.ulPropTag = acct::PR_NNTP_LAST_NEWGROUPS_CHECK;
    old.Value.ft = FileTimeFromUInt64(FileTimeToUInt64(now) - 8ULL * 24 * 3600 * kFileTimeTicksPerSecond);
    ASSERT_EQ(home_.ServiceSection()->SetProps(1, &old, nullptr), S_OK);
    ASSERT_EQ(Logon(), S_OK);
    AddRow(1, 0);
    ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
    ASSERT_EQ(script_.calls, std::vector<std::string>{"CheckNewGroups"});
    const LONGLONG expected = static_cast<LONGLONG>(FileTimeToUInt64(now)) -
                              (10080LL * 60 + 60) * static_cast<LONGLONG>(kFileTimeTicksPerSecond);
    const LONGLONG sent = static_cast<LONGLONG>(FileTimeToUInt64(script_.lastSince));
    EXPECT_LE(std::llabs(sent - expected), 2 * static_cast<LONGLONG>(kFileTimeTicksPerSecond));

    // Checked just now: the next pass does not ask again.
    script_.calls.clear();
    logon_->SetState(HeaderState::Idle);
    ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
    EXPECT_TRUE(script_.calls.empty());
}

TEST_F(LogonTest, FailedHeaderDownloadIsKeptForTheClientNotRaised)
{
    script_.finishResult = IXP_E_CC0E;
    ASSERT_EQ(Logon(), S_OK);
    ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
    EXPECT_EQ(logon_->LastResult(), IXP_E_CC0E);
    EXPECT_EQ(logon_->LastErrorText(), "scripted failure");
    EXPECT_EQ(logon_->State(), HeaderState::Finished);
    auto status = Status();
    EXPECT_EQ(status->ValidateState(0, PROCESS_XP_HEADER_CACHE), E_ITF_08FC);
    EXPECT_EQ(logon_->State(), HeaderState::Idle);
}

TEST_F(LogonTest, MarkedRowsPassDeletesDiscardedRowsAndStartsInbound)
{
    ASSERT_EQ(Logon(), S_OK);
    AddRow(1, MSGSTATUS_REMOTE_DELETE);
    AddRow(2, MSGSTATUS_DELMARKED | MSGSTATUS_REMOTE_DOWNLOAD);  // download wins
    AddRow(3, 0);
    ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
    ASSERT_EQ(rows_.size(), 2u);
    EXPECT_EQ(rows_[0].key, 2u);
    EXPECT_EQ(folder_->deletedRecorded, (std::vector<std::pair<ULONG, bool>>{{1, true}}));
    EXPECT_EQ(logon_->StatusCode() & kInboundBusyBits, kInboundBusyBits);
    EXPECT_EQ(home_.Support().LastRow().validateOk, -1);
    EXPECT_EQ(logon_->State(), HeaderState::ProcessRequested);
}

TEST_F(LogonTest, FailedArticleDropsItsRowAndFinishesThePass)
{
    UseRegistryBaseFolder();
    ASSERT_EQ(Logon(), S_OK);
    AddRow(5, MSGSTATUS_REMOTE_DOWNLOAD);
    ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
    ASSERT_EQ(logon_->StatusCode() & kInboundBusyBits, kInboundBusyBits);

    script_.articleReady = true;
    SetArticleDeliverer([](CXPLogon&, IStream*, const SBinary&, const SBinary&) { return MAPI_E_DISK_ERROR; });
    ULONG_PTR ref = 0;
    home_.Support().rows.clear();
    ASSERT_EQ(logon_->StartMessage(0, nullptr, &ref), S_OK);
    EXPECT_EQ(ref, 1u);
    EXPECT_TRUE(rows_.empty());
    EXPECT_EQ(logon_->LastResult(), MAPI_E_DISK_ERROR);
    EXPECT_EQ(logon_->State(), HeaderState::Finished);
    EXPECT_EQ(logon_->StatusCode() & kInboundBusyBits, kInboundBusyBits);  // the spooler calls once more
    EXPECT_EQ(home_.Support().LastRow().validateOk, 1);

    ASSERT_EQ(logon_->StartMessage(0, nullptr, &ref), S_OK);
    EXPECT_EQ(logon_->StatusCode() & kInboundBusyBits, 0u);
}

TEST_F(LogonTest, DeliveredArticleIsConfirmedByNumberAndGroup)
{
    UseRegistryBaseFolder();
    ASSERT_EQ(Logon(), S_OK);
    AddRow(5, MSGSTATUS_REMOTE_DOWNLOAD, 42, "comp.lang.c");
    ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
    script_.articleReady = true;
    int delivered = 0;
    SetArticleDeliverer([&](CXPLogon&, IStream* article, const SBinary& id, const SBinary& key) {
        EXPECT_NE(article, nullptr);
        EXPECT_EQ(id.cb, 20u);  // number, "<m>", "comp.lang.c"
        EXPECT_EQ(key.cb, sizeof(ULONG));
        ++delivered;
        return S_OK;
    });
    ULONG_PTR ref = 0;
    ASSERT_EQ(logon_->StartMessage(0, nullptr, &ref), S_OK);
    EXPECT_EQ(delivered, 1);
    EXPECT_EQ(folder_->confirmed, (std::vector<std::pair<ULONG, std::string>>{{42, "comp.lang.c"}}));
    EXPECT_EQ(script_.lastRowCount, 1u);
    EXPECT_FALSE(script_.lastCacheOnly);
}

TEST_F(LogonTest, RefreshRequestFillsTheCacheFromFiftyRows)
{
    for (int rows : {49, 50}) {
        rows_.clear();
        script_.calls.clear();
        ASSERT_EQ(Logon(), S_OK);
        for (int i = 0; i < rows; ++i) AddRow(static_cast<ULONG>(i + 1), 0);
        auto status = Status();
        ASSERT_EQ(status->ValidateState(0, REFRESH_XP_HEADER_CACHE), MAPI_E_BUSY);
        ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
        EXPECT_EQ(logon_->State(), HeaderState::Finished);
        EXPECT_EQ(home_.Support().LastRow().validateOk, 1);
        const bool prefetched = std::count(script_.calls.begin(), script_.calls.end(), "Prefetch") == 1;
        EXPECT_EQ(prefetched, rows == 50) << rows;
        if (prefetched) {
            EXPECT_EQ(script_.lastRowCount, 50u);
            EXPECT_TRUE(script_.lastCacheOnly);
            EXPECT_TRUE(rows_.front().status & kCacheFillStatusBit);
        }
        status.Reset();
        logon_.Reset();
    }
}

TEST_F(LogonTest, DisabledCacheIsNotFilled)
{
    WriteRegDword(kMainKey, kValDisableCache, 1);
    ASSERT_EQ(Logon(), S_OK);
    for (int i = 0; i < 60; ++i) AddRow(static_cast<ULONG>(i + 1), 0);
    auto status = Status();
    ASSERT_EQ(status->ValidateState(0, REFRESH_XP_HEADER_CACHE), MAPI_E_BUSY);
    ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
    EXPECT_EQ(std::count(script_.calls.begin(), script_.calls.end(), "Prefetch"), 0);
}

TEST_F(LogonTest, AbortWhileBusyCancelsTheRunningOperation)
{
    ASSERT_EQ(Logon(), S_OK);
    auto status = Status();
    script_.finishOnCancel = true;
    HRESULT abortAnswer = S_OK;
    home_.Support().onYield = [&] {
        if (home_.Support().yields == 1) abortAnswer = status->ValidateState(0, ABORT_XP_HEADER_OPERATION);
    };
    ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
    EXPECT_EQ(abortAnswer, MAPI_E_BUSY);
    EXPECT_GE(script_.cancels, 1);
    EXPECT_GE(home_.Support().yields, 1);
}

TEST_F(LogonTest, UploadFlushReturnsToIdleAndLogoffClearsTheRow)
{
    ASSERT_EQ(Logon(), S_OK);
    logon_->SetState(HeaderState::Finished);
    ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_UPLOAD), S_OK);
    EXPECT_EQ(logon_->State(), HeaderState::Idle);
    EXPECT_TRUE(logon_->StatusCode() & STATUS_OUTBOUND_FLUSH);
    EXPECT_EQ(home_.Support().spoolerNotifies.back(), NOTIFY_SENTDEFERRED);

    ULONG flags = NOTIFY_BEGIN_OUTBOUND;
    logon_->TransportNotify(&flags, nullptr);
    script_.connected = true;
    ASSERT_EQ(logon_->TransportLogoff(0), S_OK);
    EXPECT_TRUE(home_.Support().LastRow().tags.empty());
    EXPECT_EQ(logon_->Downloader(), nullptr);
}

TEST_F(LogonTest, PollCountsHeaderRows)
{
    ASSERT_EQ(Logon(), S_OK);
    ULONG incoming = 9;
    ASSERT_EQ(logon_->Poll(&incoming), S_OK);
    EXPECT_EQ(incoming, 0u);  // no status object yet
    auto status = Status();
    AddRow(1, 0);
    AddRow(2, 0);
    ComPtr<IMAPIFolder> folder;
    status->QueryInterface(IID_IMAPIFolder, folder.AsVoidOut());  // makes the folder
    ASSERT_EQ(logon_->Poll(&incoming), S_OK);
    EXPECT_EQ(incoming, 2u);
}

TEST_F(LogonTest, UnopenableProfileSectionLeavesTheAccountAbsent)
{
    home_.Support().failProfileSections = true;
    ASSERT_EQ(Logon(), S_OK);
    EXPECT_EQ(logon_->AccountProps(), nullptr);
    EXPECT_EQ(logon_->LoadAccountSettings(false), MAPI_E_NOT_FOUND);
    ULONG_PTR ref = 0;
    EXPECT_EQ(logon_->StartMessage(0, nullptr, &ref), E_FAIL);
    EXPECT_EQ(logon_->ValidateState(0, 0), S_OK);
}

TEST_F(LogonTest, InboundWithoutABaseFolderEndsThePassWithTheFailure)
{
    ASSERT_EQ(Logon(), S_OK);
    AddRow(5, MSGSTATUS_REMOTE_DOWNLOAD);
    ASSERT_EQ(logon_->FlushQueues(0, 0, nullptr, FLUSH_DOWNLOAD), S_OK);
    ASSERT_EQ(logon_->StatusCode() & kInboundBusyBits, kInboundBusyBits);
    ULONG_PTR ref = 0;
    EXPECT_EQ(logon_->StartMessage(0, nullptr, &ref), E_FAIL);
    EXPECT_EQ(logon_->StatusCode() & kInboundBusyBits, 0u);
    EXPECT_EQ(logon_->State(), HeaderState::Finished);
    auto status = Status();
    EXPECT_EQ(status->ValidateState(0, PROCESS_XP_HEADER_CACHE), E_FAIL);
}

}  // namespace
}  // namespace quillory::testing
