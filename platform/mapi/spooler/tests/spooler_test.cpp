// The spooler driving scripted transports: loading by the service list, the
// order of its calls, outbound offers and their outcomes, inbound delivery
// and the status table.
#include "platform/mapi/spooler/tests/spooler_test_util.h"

namespace {

using namespace quillory;
using namespace quillory::testing;
using Strings = std::vector<std::string>;

TEST_F(SpoolerWorld, LoadsTransportsByTheServiceListAndCallsThemInPassOrder)
{
    AddTransport({"One"});
    AddTransport({"Two"});
    auto& spooler = Spooler();
    ASSERT_EQ(spooler.Transports().size(), 2u);
    EXPECT_EQ(spooler.Transports()[0].display, "One");
    EXPECT_EQ(spooler.Transports()[0].addressTypes, Strings{"TEST"});
    ASSERT_EQ(spooler.RunPass(), S_OK);
    spooler.Stop();

    // One library: initialised once, both logons from its provider, shut down once.
    auto calls = Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "provider XPProviderInit 0x00010010"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "provider Shutdown "), 1);
    EXPECT_EQ(CallsOf("One"), (Strings{
                                  "TransportLogon 0x00000001",
                                  "TransportNotify 0x00000003",  // begin inbound | outbound
                                  "TransportNotify 0x00000008",  // begin outbound flush
                                  "FlushQueues 0x00000002",
                                  "TransportNotify 0x00080000",  // end outbound flush
                                  "TransportNotify 0x00000004",  // begin inbound flush
                                  "FlushQueues 0x00000004",
                                  "TransportNotify 0x00040000",  // end inbound flush
                                  "TransportNotify 0x00030000",  // end inbound | outbound
                                  "TransportLogoff ",
                              }));
    // Both took part in the outbound half before either received.
    const auto flushTwo = std::find(calls.begin(), calls.end(), "Two FlushQueues 0x00000002");
    const auto downloadOne = std::find(calls.begin(), calls.end(), "One FlushQueues 0x00000004");
    EXPECT_LT(flushTwo, downloadOne);
}

TEST_F(SpoolerWorld, StatusTableHoldsEachTransportsRowAndWhyOneFailed)
{
    AddTransport({"One"});
    ASSERT_EQ(services_->CreateMsgService(const_cast<LPSTR>("Gone"), nullptr, 0, 0), S_OK);
    auto& spooler = Spooler();
    ASSERT_EQ(spooler.Transports().size(), 2u);
    EXPECT_EQ(spooler.Transports()[0].logonResult, S_OK);
    EXPECT_TRUE(FAILED(spooler.Transports()[1].logonResult));
    EXPECT_FALSE(spooler.Transports()[1].logon);
    EXPECT_NE(spooler.Transports()[1].logonError.find("libnothere32.so"), std::string::npos);

    auto rowsOf = [&](RowSetPtr& keep) {
        ComPtr<IMAPITable> table;
        EXPECT_EQ(session_->GetStatusTable(0, &table), S_OK);
        return AllRows(table.Get(), {PR_DISPLAY_NAME, PR_STATUS_CODE, PR_STATUS_STRING, PR_RESOURCE_TYPE,
                                     PR_PROVIDER_DLL_NAME}, keep);
    };
    RowSetPtr keep;
    auto rows = rowsOf(keep);
    std::vector<std::vector<SPropValue>> transports;
    for (auto& r : rows)
        if (Col(r, PR_RESOURCE_TYPE)->Value.ul == MAPI_TRANSPORT_PROVIDER) transports.push_back(r);
    ASSERT_EQ(transports.size(), 2u);
    EXPECT_EQ(Str(transports[0], PR_DISPLAY_NAME), "One");
    EXPECT_EQ(Str(transports[0], PR_STATUS_STRING), "ready");
    EXPECT_EQ(Str(transports[0], PR_PROVIDER_DLL_NAME), "qtestxp.dll");
    EXPECT_EQ(Col(transports[0], PR_STATUS_CODE)->Value.ul,
              STATUS_AVAILABLE | STATUS_INBOUND_ENABLED | STATUS_OUTBOUND_ENABLED);
    EXPECT_EQ(Col(transports[1], PR_STATUS_CODE)->Value.ul, STATUS_FAILURE);
    EXPECT_NE(Str(transports[1], PR_STATUS_STRING).find("could not be loaded"), std::string::npos);

    // A pass goes on without the failed one; logoff empties the row of what the provider put there.
    ASSERT_EQ(spooler.RunPass(), S_OK);
    spooler.Stop();
    RowSetPtr keepAfter;
    for (auto& r : rowsOf(keepAfter)) {
        if (Str(r, PR_DISPLAY_NAME) == "One") {
            EXPECT_EQ(Col(r, PR_STATUS_STRING), nullptr);  // an error value now
        }
    }
}

TEST_F(SpoolerWorld, SentMessagesGoToTheFolderTheyNameOrToSentItems)
{
    AddTransport({"One"});
    auto& spooler = Spooler();
    auto store = Store();
    auto custom = CreateSubfolder(OpenFolder(store.Get(), PR_IPM_SUBTREE_ENTRYID).Get(), "Posted");
    Queue("plain", {"TEST"});
    const auto customId = GetBinary(custom.Get(), PR_ENTRYID);
    Queue("stamped", {"TEST"}, {BinaryProp(kPostSentMail, customId)});
    Queue("gone", {"TEST"}, {[] {
              SPropValue v{};
              v.ulPropTag = PR_DELETE_AFTER_SUBMIT;
              v.Value.b = TRUE;
              return v;
          }()});
    SpoolerPassResult result;
    ASSERT_EQ(spooler.RunPass(&result), S_OK);
    EXPECT_EQ(result.sent, 3u);
    EXPECT_TRUE(result.problems.empty());
    EXPECT_EQ(Subjects(PR_IPM_OUTBOX_ENTRYID), Strings{});
    EXPECT_EQ(Subjects(PR_IPM_SENTMAIL_ENTRYID), Strings{"plain"});
    ComPtr<IMAPITable> table;
    ASSERT_EQ(custom->GetContentsTable(0, &table), S_OK);
    EXPECT_EQ(RowCount(table.Get()), 1u);
    // Each accepted message was ended.
    auto calls = CallsOf("One");
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](auto& c) { return c.rfind("EndMessage", 0) == 0; }), 3);
}

TEST_F(SpoolerWorld, AWaitingTransportIsRetriedWithinThePassOrInTheNext)
{
    AddTransport({"One", "TEST", "wait:0,ok,wait:60"});
    auto& spooler = Spooler();
    Queue("soon", {"TEST"});
    Queue("later", {"TEST"});
    SpoolerPassResult first;
    ASSERT_EQ(spooler.RunPass(&first), S_OK);
    // "soon": waited 0 s, offered again and sent; "later": 60 s is too long for this pass.
    EXPECT_EQ(first.sent, 1u);
    EXPECT_EQ(first.deferred, 1u);
    EXPECT_EQ(Subjects(PR_IPM_OUTBOX_ENTRYID), Strings{"later"});
    SpoolerPassResult second;
    ASSERT_EQ(spooler.RunPass(&second), S_OK);
    EXPECT_EQ(second.sent, 1u);
    EXPECT_EQ(Subjects(PR_IPM_SENTMAIL_ENTRYID).size(), 2u);
}

TEST_F(SpoolerWorld, NetworkErrorsAreRetriedAtMostAsOftenAsAllowed)
{
    AddTransport({"One", "TEST", "net:0,net:0,net:0,net:0"});
    SpoolerOptions options;
    options.maxRetriesPerPass = 2;
    auto& spooler = Spooler(options);
    Queue("flaky", {"TEST"});
    SpoolerPassResult result;
    ASSERT_EQ(spooler.RunPass(&result), S_OK);
    EXPECT_EQ(result.deferred, 1u);
    auto calls = CallsOf("One");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SubmitMessage flaky net:0"), 2);
    EXPECT_EQ(Subjects(PR_IPM_OUTBOX_ENTRYID), Strings{"flaky"});
}

TEST_F(SpoolerWorld, ARefusedMessageGoesToTheNextTransportOfItsType)
{
    AddTransport({"One", "TEST", "notme"});
    AddTransport({"Other", "FAX"});
    AddTransport({"Two", "TEST"});
    auto& spooler = Spooler();
    Queue("hello", {"TEST"});
    SpoolerPassResult result;
    ASSERT_EQ(spooler.RunPass(&result), S_OK);
    EXPECT_EQ(result.sent, 1u);
    EXPECT_EQ(CallsOf("One")[4], "SubmitMessage hello notme");
    auto other = CallsOf("Other");
    EXPECT_EQ(std::count_if(other.begin(), other.end(), [](auto& c) { return c.rfind("Submit", 0) == 0; }), 0);
    auto two = CallsOf("Two");
    EXPECT_NE(std::find(two.begin(), two.end(), "SubmitMessage hello ok"), two.end());
    EXPECT_EQ(Subjects(0), Strings{});  // no report
}

TEST_F(SpoolerWorld, RecipientsNoTransportTakesGetANonDeliveryReport)
{
    AddTransport({"One", "TEST", "notme"});
    auto& spooler = Spooler();
    Queue("nobody", {"FAX"});
    Queue("refused", {"TEST"});
    SpoolerPassResult result;
    ASSERT_EQ(spooler.RunPass(&result), S_OK);
    EXPECT_EQ(result.undeliverable, 2u);
    EXPECT_EQ(result.sent, 0u);
    // Both stay in the Outbox, no longer queued: the next pass offers nothing.
    EXPECT_EQ(Subjects(PR_IPM_OUTBOX_ENTRYID).size(), 2u);
    EXPECT_EQ(Subjects(0), (Strings{"Undeliverable: nobody", "Undeliverable: refused"}));
    SpoolerPassResult again;
    ASSERT_EQ(spooler.RunPass(&again), S_OK);
    EXPECT_EQ(again.undeliverable, 0u);

    auto store = Store();
    auto inbox = OpenInbox(store.Get());
    ComPtr<IMAPITable> table;
    ASSERT_EQ(inbox->GetContentsTable(0, &table), S_OK);
    RowSetPtr keep;
    auto rows = AllRows(table.Get(), {PR_ENTRYID, PR_MESSAGE_CLASS, PR_ORIGINAL_SUBJECT}, keep);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(Str(rows[0], PR_MESSAGE_CLASS), "REPORT.IPM.Note.NDR");
    EXPECT_EQ(Str(rows[0], PR_ORIGINAL_SUBJECT), "nobody");
    const SPropValue* id = Col(rows[0], PR_ENTRYID);
    auto report = OpenEntryAs<IMessage>(store.Get(), {id->Value.bin.lpb, id->Value.bin.lpb + id->Value.bin.cb});
    ComPtr<IMAPITable> recips;
    ASSERT_EQ(report->GetRecipientTable(0, &recips), S_OK);
    RowSetPtr keepRecips;
    auto r = AllRows(recips.Get(), {PR_EMAIL_ADDRESS, PR_REPORT_TEXT, PR_NDR_REASON_CODE, PR_NDR_DIAG_CODE}, keepRecips);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(Str(r[0], PR_EMAIL_ADDRESS), "someone.FAX");
    EXPECT_NE(Str(r[0], PR_REPORT_TEXT).find("No transport provider"), std::string::npos);
    EXPECT_EQ(Col(r[0], PR_NDR_REASON_CODE)->Value.ul, MAPI_REASON_TRANSFER_IMPOSSIBLE);
}

TEST_F(SpoolerWorld, ATransportsFailedRecipientsBecomeAReportAndTheMessageIsSent)
{
    AddTransport({"One", "TEST", "fail"});
    AddTransport({"Fax", "FAX"});
    auto& spooler = Spooler();
    Queue("mixed", {"TEST", "FAX"});
    SpoolerPassResult result;
    ASSERT_EQ(spooler.RunPass(&result), S_OK);
    // One marked its recipient failed and reported it; Fax delivered the other.
    EXPECT_EQ(result.sent, 1u);
    EXPECT_EQ(result.undeliverable, 0u);
    EXPECT_EQ(Subjects(PR_IPM_SENTMAIL_ENTRYID), Strings{"mixed"});
    EXPECT_EQ(Subjects(0), Strings{"Undeliverable: mixed"});
    auto store = Store();
    ComPtr<IMAPITable> table;
    ASSERT_EQ(OpenInbox(store.Get())->GetContentsTable(0, &table), S_OK);
    RowSetPtr keep;
    auto rows = AllRows(table.Get(), {PR_ENTRYID, PR_BODY}, keep);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_NE(Str(rows[0], PR_BODY).find("The test server refused the message"), std::string::npos);
    EXPECT_EQ(Str(rows[0], PR_BODY).find("someone.FAX"), std::string::npos);
}

TEST_F(SpoolerWorld, ATransportThatTakesAMessageWithoutMarkingItCoversItsType)
{
    AddTransport({"One", "TEST", "nomark"});
    AddTransport({"Two", "TEST"});
    auto& spooler = Spooler();
    Queue("once", {"TEST"});
    SpoolerPassResult result;
    ASSERT_EQ(spooler.RunPass(&result), S_OK);
    EXPECT_EQ(result.sent, 1u);
    EXPECT_EQ(result.undeliverable, 0u);
    auto two = CallsOf("Two");
    EXPECT_EQ(std::count_if(two.begin(), two.end(), [](auto& c) { return c.rfind("Submit", 0) == 0; }), 0);
}

TEST_F(SpoolerWorld, StartMessageRunsWhileInboundIsActiveAndUnsavedMessagesGo)
{
    AddTransport({"Keeps", "TEST", "", 3, true});
    AddTransport({"Drops", "TEST", "", 2, false});
    auto& spooler = Spooler();
    std::vector<SpoolerProgress> seen;
    spooler.SetProgressObserver([&](const SpoolerProgress& p) { seen.push_back(p); });
    SpoolerPassResult result;
    ASSERT_EQ(spooler.RunPass(&result), S_OK);
    EXPECT_EQ(result.received, 5u);
    auto keeps = CallsOf("Keeps");
    EXPECT_EQ(std::count_if(keeps.begin(), keeps.end(), [](auto& c) { return c.rfind("StartMessage", 0) == 0; }), 3);
    // Inbound ends with the end-of-flush notification after the last delivery.
    const auto last = std::find(keeps.begin(), keeps.end(), "StartMessage 3");
    ASSERT_NE(last, keeps.end());
    EXPECT_EQ(*(last + 1), "TransportNotify 0x00040000");
    auto subjects = Subjects(0);
    std::sort(subjects.begin(), subjects.end());
    EXPECT_EQ(subjects, (Strings{"Received 1", "Received 2", "Received 3"}));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front().phase, SpoolerProgress::Phase::Begin);
    EXPECT_EQ(seen.back().phase, SpoolerProgress::Phase::End);
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                            [](auto& p) { return p.phase == SpoolerProgress::Phase::Received; }),
              5);
}

TEST_F(SpoolerWorld, ACallThatSetsNoMessageReferenceIsNotCountedAsReceived)
{
    XpScript remote("Remote", "TEST", "", 4, true);
    remote.emptyLastCall = true;  // three articles, then the call that finds none
    AddTransport(remote);
    auto& spooler = Spooler();
    std::vector<ULONG> counts;
    spooler.SetProgressObserver([&](const SpoolerProgress& p) {
        if (p.phase == SpoolerProgress::Phase::Received) counts.push_back(p.count);
    });
    SpoolerPassResult result;
    ASSERT_EQ(spooler.RunPass(&result), S_OK);
    EXPECT_EQ(result.received, 3u);
    EXPECT_EQ(counts, (std::vector<ULONG>{1, 2, 3}));
    auto calls = CallsOf("Remote");
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](auto& c) { return c.rfind("StartMessage", 0) == 0; }), 4);
}

TEST_F(SpoolerWorld, ATransportThatNeverEndsInboundIsCappedAndReported)
{
    AddTransport({"Endless", "TEST", "", -1});
    AddTransport({"After", "TEST", "", 1});
    SpoolerOptions options;
    options.maxInboundMessages = 7;
    auto& spooler = Spooler(options);
    SpoolerPassResult result;
    ASSERT_EQ(spooler.RunPass(&result), S_OK);
    EXPECT_EQ(result.received, 8u);
    ASSERT_EQ(result.problems.size(), 1u);
    EXPECT_NE(result.problems[0].find("Endless"), std::string::npos);
    auto calls = CallsOf("Endless");
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](auto& c) { return c.rfind("StartMessage", 0) == 0; }), 7);
    EXPECT_EQ(CallsOf("After")[7], "StartMessage 1");  // the next transport still received
}

}  // namespace
