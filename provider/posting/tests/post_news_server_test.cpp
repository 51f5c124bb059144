// Posting against the local news server: the article that SubmitPost makes
// goes through the real downloader and is read back by a plain client.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/account_props.h"
#include "common/news_message_props.h"
#include "common/regstore.h"
#include "platform/base/window.h"
#include "platform/mapi/tests/store_test_util.h"
#include "provider/downloader/nntp_downloader.h"
#include "provider/posting/submit_post.h"
#include "provider/posting/tests/fake_support.h"
#include "provider/posting/tests/plain_nntp.h"

namespace quillory::quarnex {
namespace {

using namespace quillory::testing;
using quarnex::testing::CRecordingSupport;

constexpr DWORD kWaitSliceMs = 750;

// A logon whose posts go through a real downloader to 127.0.0.1:119.
class ServerLogon : public IPostingLogon {
public:
    explicit ServerLogon(const std::string& listFile) : listFile_(listFile)
    {
        for (int i = 0; i < acct::kCount; ++i) {
            account_[i].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(acct::kTags[i]));
            account_[i].Value.err = MAPI_E_NOT_FOUND;
        }
        Set(acct::kUserName, "Ann Smith");
        Set(acct::kAccountName, "news.example.org");
        Set(acct::kEmailAddress, "ann@example.org");
        Set(acct::kServer, "127.0.0.1");
        Set(acct::kGroupListFile, listFile_.c_str());
        SetLong(acct::kPort, 119);
        SetLong(acct::kTimeout, 1);
        account_[acct::kPlainMime].ulPropTag = acct::kTags[acct::kPlainMime];
        account_[acct::kPlainMime].Value.b = TRUE;
    }
    void Set(int i, const char* text)
    {
        account_[i].ulPropTag = acct::kTags[i];
        account_[i].Value.lpszA = const_cast<LPSTR>(text);
    }
    void SetLong(int i, LONG v)
    {
        account_[i].ulPropTag = acct::kTags[i];
        account_[i].Value.l = v;
    }

    const SPropValue* AccountProps() override { return account_; }
    const SPropValue* SenderEntryId() override { return nullptr; }
    DWORD PostUnsubscribed() override { return 1; }
    HRESULT RefreshProfileValues() override { return S_OK; }
    ULONG StatusCode() override { return status_; }
    void UpdateStatusCode(ULONG code) override { status_ = code; }
    IMAPISupport* Support() override { return support.Get(); }

    PostOutcome PostArticle(std::string_view text) override
    {
        PostOutcome out;
        if (!transportMade_) {
            if (FAILED(out.result = downloader_.CreateTransport())) return out;
            transportMade_ = true;
        }
        out.result = downloader_.PostArticle(nullptr, std::span<SPropValue>(account_, acct::kCount), text);
        if (SUCCEEDED(out.result)) {
            while (!downloader_.IsFinished()) {
                if (MsgWaitForMultipleObjects(0, nullptr, FALSE, kWaitSliceMs, QS_ALLINPUT) != WAIT_OBJECT_0)
                    continue;
                MSG msg{};
                while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    TranslateMessage(&msg);
                    DispatchMessage(&msg);
                }
            }
            downloader_.WaitWhileActive();
            HRESULT code = S_OK;
            if (downloader_.GetError(code, &out.errorText)) out.result = code;
        }
        out.disconnected = downloader_.IsDisconnected();
        return out;
    }

    ComPtr<CRecordingSupport> support = ComPtr<CRecordingSupport>::Attach(NewComObject<CRecordingSupport>());

private:
    std::string listFile_;
    SPropValue account_[acct::kCount]{};
    ULONG status_ = STATUS_AVAILABLE | STATUS_OUTBOUND_ENABLED;
    CNNTPDownloader downloader_;
    bool transportMade_ = false;
};

class PostToServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The news component is loaded by name from the build's libraries.
        setenv("QUILLORY_LIBPATH", BuildLibDir().c_str(), 1);
        if (!PlainNntp().Connected()) {
            if (NewsServerRequired()) FAIL() << "no news server on 127.0.0.1:119";
            GTEST_SKIP() << "no news server on 127.0.0.1:119";
        }
        group = groups.Make("local.quillory.post");
        if (group.empty()) {
            if (NewsServerRequired()) FAIL() << "cannot create newsgroups on the local server";
            GTEST_SKIP() << "cannot create newsgroups on the local server";
        }
        const auto dir = home.path() / "data";
        std::filesystem::create_directories(dir);
        ASSERT_EQ(WriteRegString(kMainKey, kValDir, dir.string() + "/"), ERROR_SUCCESS);
        std::ofstream(dir / "groups-00000001.txt", std::ios::binary) << " * " << group << "\r\n";
        store = OpenStore(StorePath(home));
        outbox = OpenFolder(store.Get(), PR_IPM_OUTBOX_ENTRYID);
    }

    ComPtr<IMessage> Message(const std::vector<std::string>& groups, const char* subject,
                             std::vector<SPropValue> extra = {})
    {
        extra.push_back(StringProp(PR_BODY, "Posted by the test.\r\n.\r\nA line with a lone dot above.\r\n"));
        extra.push_back(StringProp(PR_CORVANE_POST_ACCOUNT, "news.example.org"));
        auto m = AddMessage(outbox.Get(), subject, extra);
        std::vector<std::vector<SPropValue>> rows;
        for (const auto& g : groups)
            rows.push_back({StringProp(PR_DISPLAY_NAME, g.c_str()), StringProp(PR_EMAIL_ADDRESS, g.c_str()),
                            StringProp(PR_ADDRTYPE, "NNTP"), LongProp(PR_RECIPIENT_TYPE, MAPI_TO)});
        MapiBuffer<ADRLIST> list;
        EXPECT_EQ(MAPIAllocateBuffer(CbNewADRLIST(static_cast<ULONG>(rows.size())), list.AsVoidOut()), S_OK);
        list->cEntries = static_cast<ULONG>(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i)
            list->aEntries[i] = ADRENTRY{0, static_cast<ULONG>(rows[i].size()), rows[i].data()};
        EXPECT_EQ(m->ModifyRecipients(MODRECIP_ADD, list.Get()), S_OK);
        EXPECT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        return m;
    }

    void TearDown() override { unsetenv("QUILLORY_LIBPATH"); }

    TempHome home;
    TestNewsgroups groups;
    std::string group;
    ComPtr<IMsgStore> store;
    ComPtr<IMAPIFolder> outbox;
};

TEST_F(PostToServer, PostAndCrossPostArriveWithTheNewsHeader)
{
    const std::string second = groups.Make("local.quillory.post");
    ASSERT_FALSE(second.empty());
    std::ofstream(home.path() / "data" / "groups-00000001.txt", std::ios::binary)
        << " * " << group << "\r\n * " << second << "\r\n";
    ServerLogon logon("groups-00000001.txt");
    auto m = Message({group, second}, "Round trip",
                     {StringProp(PR_IN_REPLY_TO_ID, "<parent@seed.quillory.test>")});
    ULONG_PTR parm = 0;
    ASSERT_EQ(SubmitPost(logon, m.Get(), &parm), S_OK);
    EXPECT_TRUE(logon.support->statusRecips.empty());

    PlainNntp client;
    for (const auto& g : {group, second}) {
        const auto article = client.LastArticle(g);
        ASSERT_TRUE(article) << g;
        const std::string header = UnfoldedHeader(*article);
        EXPECT_NE(header.find("Newsgroups: " + group + ", " + second + "\r\n"), std::string::npos) << header;
        EXPECT_NE(header.find("Subject: Round trip\r\n"), std::string::npos) << header;
        EXPECT_NE(header.find("ann@example.org"), std::string::npos) << header;
        EXPECT_NE(header.find("References: <parent@seed.quillory.test>\r\n"), std::string::npos) << header;
        EXPECT_NE(header.find("X-Transport: Quillory v"), std::string::npos) << header;
        EXPECT_EQ(header.find("\r\nTo:"), std::string::npos) << header;
        EXPECT_NE(article->find("\r\n.\r\nA line with a lone dot above."), std::string::npos) << *article;
    }
}

TEST_F(PostToServer, ARefusedPostReportsTheServersText)
{
    const std::string closed = groups.Make("local.quillory.closed", "n");
    ASSERT_FALSE(closed.empty());
    std::ofstream(home.path() / "data" / "groups-00000001.txt", std::ios::binary) << " * " << closed << "\r\n";
    ServerLogon logon("groups-00000001.txt");
    auto m = Message({closed}, "Refused");
    ULONG_PTR parm = 0;
    ASSERT_EQ(SubmitPost(logon, m.Get(), &parm), S_OK);
    ASSERT_EQ(logon.support->statusRecips.size(), 1u);
    const std::string text = logon.support->statusRecips[0][0].text;
    EXPECT_EQ(text.rfind("44", 0), 0u) << text;  // the server's own refusal
    EXPECT_EQ(PlainNntp().Count(closed), 0);
}

TEST_F(PostToServer, NoServerMeansRetryNotFailure)
{
    ServerLogon logon("groups-00000001.txt");
    logon.SetLong(acct::kPort, 9);  // nothing listens there
    auto m = Message({group}, "Later");
    ULONG_PTR parm = 0;
    EXPECT_EQ(SubmitPost(logon, m.Get(), &parm), MAPI_E_NETWORK_ERROR);
    EXPECT_EQ(parm, kPostRetrySeconds);
    EXPECT_TRUE(logon.support->statusRecips.empty());
    EXPECT_EQ(PlainNntp().Count(group), 0);
}

}  // namespace
}  // namespace quillory::quarnex
