#include "provider/folder/header_row.h"

#include <gtest/gtest.h>

#include "platform/base/module.h"
#include "platform/base/time.h"
#include "provider/folder/tests/folder_test_util.h"

namespace quillory::quarnex {
namespace {

using testing::CFakeLogon;
using testing::CLibPath;
using testing::NewFolder;
using testing::TableRow;

std::string Str(const testing::RowCopy& row, ULONG tag)
{
    const SPropValue* v = row.Find(tag);
    return v && v->Value.lpszA ? v->Value.lpszA : "<missing>";
}

ULONGLONG Time(const testing::RowCopy& row, ULONG tag)
{
    const SPropValue* v = row.Find(tag);
    return v ? FileTimeToUInt64(v->Value.ft) : 0;
}

ULONGLONG NowTime()
{
    FILETIME ft{};
    GetSystemTimeAsFileTime(&ft);
    return FileTimeToUInt64(ft);
}

TEST(HeaderEntryId, HoldsNumberMessageIdAndGroupEachEndedByNul)
{
    const auto id = MakeHeaderEntryId(0x01020304, "<a@b>", "comp.x");
    const std::vector<BYTE> want = {4, 3, 2, 1, '<', 'a', '@', 'b', '>', 0, 'c', 'o', 'm', 'p', '.', 'x', 0};
    EXPECT_EQ(id, want);
    HeaderEntryId parsed;
    ASSERT_TRUE(ParseHeaderEntryId(id, parsed));
    EXPECT_EQ(parsed.number, 0x01020304u);
    EXPECT_EQ(parsed.messageId, "<a@b>");
    EXPECT_EQ(parsed.group, "comp.x");
    EXPECT_EQ(MakeHeaderEntryId(1, "<m>", "").size(), 4u + 3 + 1 + 0 + 1);
    // Cut or unterminated entry IDs are refused rather than over-read.
    EXPECT_FALSE(ParseHeaderEntryId(std::span(id).first(4), parsed));
    EXPECT_FALSE(ParseHeaderEntryId(std::span(id).first(8), parsed));
    ASSERT_TRUE(ParseHeaderEntryId(std::span(id).first(12), parsed));
    EXPECT_EQ(parsed.group, "co");
}

TEST(HeaderRow, NormalizedSubjectDropsReplyAndForwardPrefixesOnly)
{
    EXPECT_EQ(NormalizedSubject("Re: Fwd: RE:  hello"), "hello");
    EXPECT_EQ(NormalizedSubject("fw:x"), "x");
    EXPECT_EQ(NormalizedSubject("Re : hello"), "Re : hello");
    EXPECT_EQ(NormalizedSubject("Reply: hello"), "Reply: hello");
    EXPECT_EQ(NormalizedSubject("Ha: hello"), "Ha: hello");
    EXPECT_EQ(NormalizedSubject("Re: time 10:30"), "time 10:30");
    EXPECT_EQ(NormalizedSubject("Re:"), "");
    EXPECT_EQ(NormalizedSubject(""), "");
}

TEST(HeaderRow, RowWithoutFromOrDateHasEmptySenderAndTheCurrentTime)
{
    CFakeLogon logon;
    auto folder = NewFolder();
    ASSERT_EQ(folder->Attach(nullptr, &logon), S_OK);
    const ULONGLONG before = NowTime();
    ASSERT_EQ(folder->AddRow("comp.x", 7, "<id@x>", "Re: Re: topic"), S_OK);
    const auto row = TableRow(folder.Get(), MakeHeaderEntryId(7, "<id@x>", "comp.x"));
    ASSERT_TRUE(row);
    ASSERT_EQ(row.count, kHeaderRowColumnCount);
    for (ULONG i = 0; i < kHeaderRowColumnCount; ++i)
        EXPECT_EQ(row.props.Get()[i].ulPropTag, kHeaderRowColumns[i]) << i;
    EXPECT_EQ(Str(row, PR_SENDER_NAME), "");
    EXPECT_EQ(Str(row, PR_SENDER_EMAIL_ADDRESS), "");
    EXPECT_EQ(Str(row, PR_SENT_REPRESENTING_NAME), "");
    EXPECT_EQ(Str(row, PR_SENDER_ADDRTYPE), "SMTP");
    EXPECT_EQ(Str(row, PR_DISPLAY_TO), "comp.x");
    EXPECT_EQ(Str(row, PR_SUBJECT), "Re: Re: topic");
    EXPECT_EQ(Str(row, PR_NORMALIZED_SUBJECT), "topic");
    EXPECT_EQ(Str(row, PR_MESSAGE_CLASS), "IPM.Post");
    EXPECT_EQ(row.Find(PR_MESSAGE_FLAGS)->Value.ul, 0u);
    EXPECT_EQ(row.Find(PR_MSG_STATUS)->Value.ul, 0u);
    EXPECT_EQ(row.Find(PR_MESSAGE_DOWNLOAD_TIME_ERROR)->Value.err, 0);
    EXPECT_EQ(row.Find(PR_OBJECT_TYPE)->Value.ul, static_cast<ULONG>(MAPI_MESSAGE));
    EXPECT_GE(Time(row, PR_CLIENT_SUBMIT_TIME), before);
    EXPECT_GE(Time(row, PR_MESSAGE_DELIVERY_TIME), before);
    EXPECT_EQ(Time(row, PR_CLIENT_SUBMIT_TIME) / 10'000'000, NowTime() / 10'000'000);

    // Once the logon asked for a download, new rows come marked.
    logon.downloadRequested = true;
    ASSERT_EQ(folder->AddRow("", 8, "<no-group@x>"), S_OK);
    const auto marked = TableRow(folder.Get(), MakeHeaderEntryId(8, "<no-group@x>", ""));
    ASSERT_TRUE(marked);
    EXPECT_EQ(marked.Find(PR_MSG_STATUS)->Value.ul, MSGSTATUS_REMOTE_DOWNLOAD | MSGSTATUS_REMOTE_DELETE);
    EXPECT_EQ(Str(marked, PR_DISPLAY_TO), "");
}

TEST(HeaderRow, RowsMadeInTheSameMillisecondShareTheirInstanceKey)
{
    SetTickCountSource([] { return DWORD{0x11223344}; });
    auto folder = NewFolder();
    folder->AddRow("g", 1, "<1>");
    folder->AddRow("g", 2, "<2>");
    ResetTickCountSource();
    const auto a = TableRow(folder.Get(), MakeHeaderEntryId(1, "<1>", "g"));
    const auto b = TableRow(folder.Get(), MakeHeaderEntryId(2, "<2>", "g"));
    const SPropValue* ka = a.Find(PR_INSTANCE_KEY);
    const SPropValue* kb = b.Find(PR_INSTANCE_KEY);
    ASSERT_TRUE(ka && kb);
    const std::vector<BYTE> want = {0x44, 0x33, 0x22, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<BYTE>(ka->Value.bin.lpb, ka->Value.bin.lpb + ka->Value.bin.cb), want);
    EXPECT_EQ(std::vector<BYTE>(kb->Value.bin.lpb, kb->Value.bin.lpb + kb->Value.bin.cb), want);
}

TEST(HeaderRow, AKnownArticleKeepsItsCacheEntryAndAnEqualEntryIdReplacesTheRow)
{
    auto folder = NewFolder();
    folder->Cache().Add(3, "<three>", "g", true);
    ASSERT_EQ(folder->AddRow("g", 3, "<three>", "first"), S_OK);
    ASSERT_EQ(folder->AddRow("g", 3, "<three>", "second"), S_OK);
    EXPECT_TRUE(folder->Cache().FindByGroup(3, "g")->confirmed);
    EXPECT_EQ(folder->RowCount(), 1u);
    EXPECT_EQ(Str(TableRow(folder.Get(), MakeHeaderEntryId(3, "<three>", "g")), PR_SUBJECT), "second");
    // A new article goes into the cache unconfirmed.
    ASSERT_EQ(folder->AddRow("g", 4, "<four>"), S_OK);
    EXPECT_FALSE(folder->Cache().FindByGroup(4, "g")->confirmed);
}

TEST(HeaderRow, SenderAndDateComeFromTheNewsComponent)
{
    CLibPath libPath;
    HMODULE probe = LoadLibrary(kInetcommLibrary);
    ASSERT_NE(probe, nullptr) << "the news component is built beside the tests";
    FreeLibrary(probe);

    auto folder = NewFolder();
    ASSERT_EQ(folder->AddRow("g", 1, "<1>", "s", "Jane Doe <jane@example.org>", "Tue, 1 Jun 2021 12:34:56 +0200"),
              S_OK);
    auto row = TableRow(folder.Get(), MakeHeaderEntryId(1, "<1>", "g"));
    EXPECT_EQ(Str(row, PR_SENDER_NAME), "Jane Doe");
    EXPECT_EQ(Str(row, PR_SENT_REPRESENTING_NAME), "Jane Doe");
    EXPECT_EQ(Str(row, PR_SENDER_EMAIL_ADDRESS), "jane@example.org");
    SYSTEMTIME st{2021, 6, 0, 1, 10, 34, 56, 0};
    FILETIME want{};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &want));
    EXPECT_EQ(Time(row, PR_CLIENT_SUBMIT_TIME), FileTimeToUInt64(want));

    const ULONGLONG before = NowTime();
    ASSERT_EQ(folder->AddRow("g", 2, "<2>", "s", "bare@example.org", "not a date at all"), S_OK);
    row = TableRow(folder.Get(), MakeHeaderEntryId(2, "<2>", "g"));
    EXPECT_EQ(Str(row, PR_SENDER_NAME), "");
    EXPECT_EQ(Str(row, PR_SENDER_EMAIL_ADDRESS), "bare@example.org");
    EXPECT_GE(Time(row, PR_CLIENT_SUBMIT_TIME), before);

    // Text that holds no address stays the sender's name; long texts are cut.
    const std::string longName(700, 'n');
    ASSERT_EQ(folder->AddRow("g", 3, "<3>", "s", longName, ""), S_OK);
    row = TableRow(folder.Get(), MakeHeaderEntryId(3, "<3>", "g"));
    EXPECT_LE(Str(row, PR_SENDER_NAME).size(), kSenderFieldSize - 1);
    EXPECT_LE(Str(row, PR_SENDER_EMAIL_ADDRESS).size(), kSenderFieldSize - 1);
}

TEST(HeaderRow, WithoutTheNewsComponentTheFromTextBecomesTheName)
{
    // Only the build's own directories hold the component; none is found here.
    auto folder = NewFolder();
    HMODULE probe = LoadLibrary(kInetcommLibrary);
    if (probe) {
        FreeLibrary(probe);
        GTEST_SKIP() << "the news component is reachable from this test's directory";
    }
    ASSERT_EQ(folder->AddRow("g", 1, "<1>", "s", "Jane <jane@example.org>", "Tue, 1 Jun 2021 12:34:56 +0200"), S_OK);
    const auto row = TableRow(folder.Get(), MakeHeaderEntryId(1, "<1>", "g"));
    EXPECT_EQ(Str(row, PR_SENDER_NAME), "Jane <jane@example.org>");
    EXPECT_EQ(Str(row, PR_SENDER_EMAIL_ADDRESS), "");
}

}  // namespace
}  // namespace quillory::quarnex
