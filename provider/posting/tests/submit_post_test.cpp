#include "provider/posting/submit_post.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/account_props.h"
#include "common/news_message_props.h"
#include "common/regstore.h"
#include "platform/mapi/tests/store_test_util.h"
#include "provider/posting/tests/fake_support.h"

namespace quillory::quarnex {
namespace {

using namespace quillory::testing;
using quarnex::testing::CRecordingSupport;

// The logon as posting sees it, with a scripted outcome of the post.
class FakeLogon : public IPostingLogon {
public:
    FakeLogon()
    {
        for (int i = 0; i < acct::kCount; ++i) {
            account[i].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(acct::kTags[i]));
            account[i].Value.err = MAPI_E_NOT_FOUND;
        }
        Set(acct::kUserName, "Ann Smith");
        Set(acct::kAccountName, "news.example.org");
        Set(acct::kEmailAddress, "ann@example.org");
        Set(acct::kGroupListFile, "groups-0001a2b3.txt");
        Set(acct::kOrganization, "Tarnel Readers");
        for (int i : {acct::kPlainMime, acct::kPlain8BitHeaders, acct::kHtml8BitHeaders}) {
            account[i].ulPropTag = acct::kTags[i];
            account[i].Value.b = TRUE;
        }
        sender.ulPropTag = PR_SENDER_ENTRYID;
        sender.Value.bin = SBinary{static_cast<ULONG>(senderBytes.size()), senderBytes.data()};
    }
    void Set(int index, const char* text)
    {
        account[index].ulPropTag = acct::kTags[index];
        account[index].Value.lpszA = const_cast<LPSTR>(text);
    }

    const SPropValue* AccountProps() override { return account; }
    const SPropValue* SenderEntryId() override { return &sender; }
    DWORD PostUnsubscribed() override { return postUnsubscribed; }
    HRESULT RefreshProfileValues() override
    {
        ++refreshes;
        return S_OK;
    }
    ULONG StatusCode() override { return status; }
    void UpdateStatusCode(ULONG code) override { status = code; }
    IMAPISupport* Support() override { return support.Get(); }
    PostOutcome PostArticle(std::string_view text) override
    {
        posted.emplace_back(text);
        return outcome;
    }

    SPropValue account[acct::kCount]{};
    std::vector<BYTE> senderBytes = {1, 2, 3, 4, 5};
    SPropValue sender{};
    DWORD postUnsubscribed = 0;
    int refreshes = 0;
    ULONG status = STATUS_AVAILABLE | STATUS_OUTBOUND_ENABLED;
    ComPtr<CRecordingSupport> support = ComPtr<CRecordingSupport>::Attach(NewComObject<CRecordingSupport>());
    std::vector<std::string> posted;
    PostOutcome outcome{S_OK, "", false};
};

struct Recip {
    const char* address;
    const char* type = "NNTP";
};

class SubmitPosts : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto dir = home.path() / "data";
        std::filesystem::create_directories(dir);
        ASSERT_EQ(WriteRegString(kMainKey, kValDir, dir.string() + "/"), ERROR_SUCCESS);
        std::ofstream(dir / "groups-0001a2b3.txt", std::ios::binary)
            << " * alt.test\r\n * comp.lang.c\r\n   misc.unsubscribed\r\n";
        std::ofstream(dir / "groups-0001a2b3-sub.txt", std::ios::binary)
            << "# Subscribed groups\r\nalt.test\r\ncomp.lang.c\r\n";
        store = OpenStore(StorePath(home));
        outbox = OpenFolder(store.Get(), PR_IPM_OUTBOX_ENTRYID);
        sentEid = GetBinary(store.Get(), PR_IPM_SENTMAIL_ENTRYID);
        ASSERT_TRUE(outbox);
    }

    ComPtr<IMessage> Post(std::vector<Recip> recips, const char* stamp = "news.example.org",
                          const char* body = "Hello, news.\r\n")
    {
        std::vector<SPropValue> props = {StringProp(PR_BODY, body), StringProp(PR_SENDER_NAME, "Somebody"),
                                         StringProp(PR_SENDER_EMAIL_ADDRESS, "some@where.example"),
                                         StringProp(PR_SENDER_ADDRTYPE, "SMTP"),
                                         BinaryProp(PR_CORVANE_SENTMAIL_ENTRYID, sentEid)};
        if (stamp) props.push_back(StringProp(PR_CORVANE_POST_ACCOUNT, stamp));
        auto m = AddMessage(outbox.Get(), "A post", props);
        std::vector<std::vector<SPropValue>> rows;
        for (const Recip& r : recips)
            rows.push_back({StringProp(PR_DISPLAY_NAME, r.address), StringProp(PR_EMAIL_ADDRESS, r.address),
                            StringProp(PR_ADDRTYPE, r.type), LongProp(PR_RECIPIENT_TYPE, MAPI_TO)});
        MapiBuffer<ADRLIST> list;
        EXPECT_EQ(MAPIAllocateBuffer(CbNewADRLIST(static_cast<ULONG>(rows.size())), list.AsVoidOut()), S_OK);
        list->cEntries = static_cast<ULONG>(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i)
            list->aEntries[i] = ADRENTRY{0, static_cast<ULONG>(rows[i].size()), rows[i].data()};
        EXPECT_EQ(m->ModifyRecipients(MODRECIP_ADD, list.Get()), S_OK);
        EXPECT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        return m;
    }

    struct RecipState {
        std::string address;
        bool responsible = false;
        bool delivered = false;
        std::string report;
    };
    std::vector<RecipState> Recipients(IMessage* m)
    {
        ComPtr<IMAPITable> t;
        EXPECT_EQ(m->GetRecipientTable(0, &t), S_OK);
        auto cols = MakeTagArray({PR_EMAIL_ADDRESS, PR_RESPONSIBILITY, PR_DELIVER_TIME, PR_REPORT_TEXT});
        t->SetColumns(cols.Get(), 0);
        RowSetPtr rows;
        EXPECT_EQ(t->QueryRows(100, 0, &rows), S_OK);
        std::vector<RecipState> out;
        for (ULONG i = 0; rows && i < rows->cRows; ++i) {
            const SPropValue* p = rows->aRow[i].lpProps;
            RecipState s;
            s.address = p[0].Value.lpszA;
            s.responsible = p[1].ulPropTag == PR_RESPONSIBILITY && p[1].Value.b;
            s.delivered = p[2].ulPropTag == PR_DELIVER_TIME;
            if (p[3].ulPropTag == PR_REPORT_TEXT) s.report = p[3].Value.lpszA;
            out.push_back(s);
        }
        return out;
    }

    HRESULT Submit(IMessage* m, ULONG_PTR* parm = nullptr)
    {
        ULONG_PTR ignored = 0;
        return SubmitPost(logon, m, parm ? parm : &ignored);
    }

    TempHome home;
    ComPtr<IMsgStore> store;
    ComPtr<IMAPIFolder> outbox;
    std::vector<BYTE> sentEid;
    FakeLogon logon;
};

std::string HeaderOf(const std::string& article) { return article.substr(0, article.find("\r\n\r\n") + 2); }

TEST_F(SubmitPosts, OneArticleForAllNewsgroupsWithTheNewsHeader)
{
    auto m = Post({{"alt.test"}, {"bob@example.net", "SMTP"}, {"comp.lang.c"}});
    ASSERT_EQ(Submit(m.Get()), S_OK);
    ASSERT_EQ(logon.posted.size(), 1u);
    const std::string header = HeaderOf(logon.posted[0]);
    EXPECT_NE(header.find("Newsgroups: alt.test, comp.lang.c\r\n"), std::string::npos) << header;
    EXPECT_EQ(header.find("\r\nTo:"), std::string::npos) << header;
    EXPECT_EQ(header.find("Message-ID"), std::string::npos) << header;
    EXPECT_NE(header.find("Ann Smith <ann@example.org>"), std::string::npos) << header;
    EXPECT_NE(header.find("Organization: Tarnel Readers\r\n"), std::string::npos);
    EXPECT_NE(header.find("Subject: A post\r\n"), std::string::npos);
    EXPECT_NE(header.find("X-Transport: Quillory v"), std::string::npos);
    EXPECT_NE(logon.posted[0].find("Hello, news."), std::string::npos);

    // The sender became the account, the recipients carry the outcome, and
    // the message names its sent-items folder.
    EXPECT_EQ(GetString(m.Get(), PR_SENDER_NAME), "Ann Smith");
    EXPECT_EQ(GetString(m.Get(), PR_SENDER_EMAIL_ADDRESS), "ann@example.org");
    EXPECT_EQ(GetBinary(m.Get(), PR_SENDER_ENTRYID), logon.senderBytes);
    EXPECT_EQ(GetBinary(m.Get(), PR_SENTMAIL_ENTRYID), sentEid);
    for (const auto& r : Recipients(m.Get())) {
        const bool news = r.address != "bob@example.net";
        EXPECT_EQ(r.responsible, news) << r.address;
        EXPECT_EQ(r.delivered, news) << r.address;
        EXPECT_EQ(r.report, "");
    }
    EXPECT_TRUE(logon.support->statusRecips.empty());
    EXPECT_EQ(logon.status & (STATUS_OUTBOUND_ACTIVE | STATUS_OUTBOUND_FLUSH),
              STATUS_OUTBOUND_ACTIVE | STATUS_OUTBOUND_FLUSH);
}

TEST_F(SubmitPosts, MessagesForOthersAreLeftAlone)
{
    auto noNews = Post({{"bob@example.net", "SMTP"}});
    EXPECT_EQ(Submit(noNews.Get()), MAPI_E_NOT_ME);
    auto otherAccount = Post({{"alt.test"}}, "other.example.org");
    EXPECT_EQ(Submit(otherAccount.Get()), MAPI_E_NOT_ME);
    auto caseDiffers = Post({{"alt.test"}}, "NEWS.example.org");
    EXPECT_EQ(Submit(caseDiffers.Get()), MAPI_E_NOT_ME);
    auto unstamped = Post({{"alt.test"}}, nullptr);
    EXPECT_EQ(Submit(unstamped.Get()), MAPI_E_NOT_ME);
    auto unsubscribed = Post({{"misc.unsubscribed"}});
    EXPECT_EQ(Submit(unsubscribed.Get()), MAPI_E_NOT_ME);
    EXPECT_TRUE(logon.posted.empty());
    EXPECT_EQ(GetString(unsubscribed.Get(), PR_SENDER_NAME), "Somebody");  // untouched
    EXPECT_FALSE(Recipients(unsubscribed.Get())[0].responsible);

    logon.postUnsubscribed = 1;
    EXPECT_EQ(Submit(unsubscribed.Get()), S_OK);
    EXPECT_EQ(logon.posted.size(), 1u);

    logon.status &= ~STATUS_OUTBOUND_ENABLED;
    auto disabled = Post({{"alt.test"}});
    EXPECT_EQ(Submit(disabled.Get()), MAPI_E_NOT_ME);
    EXPECT_EQ(logon.posted.size(), 1u);
}

TEST_F(SubmitPosts, ARefusalBecomesANonDeliveryReportWithTheServersText)
{
    logon.outcome = PostOutcome{static_cast<HRESULT>(0x800CCCA1), "441 Posting not allowed here", false};
    auto m = Post({{"alt.test"}, {"comp.lang.c"}});
    ASSERT_EQ(Submit(m.Get()), S_OK);
    ASSERT_EQ(logon.support->statusRecips.size(), 1u);
    const auto& reports = logon.support->statusRecips[0];
    ASSERT_EQ(reports.size(), 2u);
    for (const auto& r : reports) {
        EXPECT_EQ(r.text, "441 Posting not allowed here");
        EXPECT_FALSE(r.delivered);
    }
    for (const auto& r : Recipients(m.Get())) {
        EXPECT_TRUE(r.responsible);
        EXPECT_FALSE(r.delivered);
        EXPECT_EQ(r.report, "441 Posting not allowed here");
    }

    // A failure without any text still explains itself.
    logon.outcome = PostOutcome{E_FAIL, "", false};
    auto quiet = Post({{"alt.test"}});
    ASSERT_EQ(Submit(quiet.Get()), S_OK);
    EXPECT_EQ(logon.support->statusRecips.back()[0].text, std::string(kUnknownPostError));
}

TEST_F(SubmitPosts, ALostConnectionIsRetriedLater)
{
    logon.outcome = PostOutcome{static_cast<HRESULT>(0x800CCC0F), "", true};
    auto m = Post({{"alt.test"}});
    ULONG_PTR parm = 0;
    EXPECT_EQ(Submit(m.Get(), &parm), MAPI_E_NETWORK_ERROR);
    EXPECT_EQ(parm, kPostRetrySeconds);
    EXPECT_TRUE(logon.support->statusRecips.empty());
    EXPECT_FALSE(Recipients(m.Get())[0].responsible);
    EXPECT_TRUE(GetBinary(m.Get(), PR_SENTMAIL_ENTRYID).empty());

    // A connection that failed before the server answered is no refusal,
    // even when the downloader did not notice that it is gone.
    logon.outcome = PostOutcome{static_cast<HRESULT>(0x800CCC0E), "Cannot connect to the server", false};
    auto unreachable = Post({{"alt.test"}});
    EXPECT_EQ(Submit(unreachable.Get(), &parm), MAPI_E_NETWORK_ERROR);
    EXPECT_TRUE(logon.support->statusRecips.empty());
}

TEST_F(SubmitPosts, AnEmptyBodyIsStillPosted)
{
    auto m = Post({{"alt.test"}}, "news.example.org", "");
    EXPECT_EQ(Submit(m.Get()), S_OK);
    ASSERT_EQ(logon.posted.size(), 1u);
    EXPECT_NE(logon.posted[0].find("Newsgroups: alt.test"), std::string::npos);
}

}  // namespace
}  // namespace quillory::quarnex
