#include "provider/delivery/deliver_article.h"

#include <gtest/gtest.h>

#include <ctime>
#include <utility>

#include "common/account_props.h"
#include "platform/base/time.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/tests/store_test_util.h"
#include "provider/delivery/delivery_steps.h"
#include "provider/folder/header_entryid.h"

namespace quillory::quarnex {
namespace {

using namespace quillory::testing;

constexpr ULONGLONG kSecond = 10'000'000ULL;

ComPtr<IStream> ArticleStream(const std::string& group, ULONG number, const std::string& article)
{
    const std::string text = "X-Corvane-Newsgroup: " + group + "\r\nX-Corvane-Article: " + std::to_string(number) +
                             "\r\n" + article;
    ComPtr<IStream> s;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
    s->Write(text.data(), static_cast<ULONG>(text.size()), nullptr);
    return s;
}

// An RFC 5322 date `secondsAgo` before now.
std::string DateHeader(long secondsAgo = 0)
{
    const std::time_t t = std::time(nullptr) - secondsAgo;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S +0000", &tm);
    return buf;
}

FILETIME FileTimeAgo(long secondsAgo)
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULONGLONG t = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime) - secondsAgo * kSecond;
    return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

SPropValue TimeProp(ULONG tag, FILETIME ft)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.ft = ft;
    return v;
}

std::string Article(const std::string& messageId, const std::string& subject, const std::string& extra = {},
                    const std::string& from = "Bob <bob@example.net>")
{
    return "From: " + from + "\r\nNewsgroups: alt.test\r\nSubject: " + subject + "\r\nDate: " + DateHeader() +
           "\r\nMessage-ID: " + messageId + "\r\n" + extra + "\r\nBody of " + subject + "\r\n";
}

struct Account {
    Account()
    {
        for (int i = 0; i < acct::kCount; ++i) {
            values[i].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(acct::kTags[i]));
            values[i].Value.err = MAPI_E_NOT_FOUND;
        }
        Set(acct::kUserName, "Ann Smith");
        Set(acct::kAccountName, "news.example.org");
        Set(acct::kEmailAddress, "ann@example.org");
    }
    void Set(int index, const char* text)
    {
        values[index].ulPropTag = acct::kTags[index];
        values[index].Value.lpszA = const_cast<LPSTR>(text);
    }
    SPropValue values[acct::kCount]{};
};

class Delivery : public ::testing::Test {
protected:
    void SetUp() override
    {
        store = OpenStore(StorePath(home));
        ASSERT_TRUE(store);
        auto root = OpenFolder(store.Get(), PR_IPM_SUBTREE_ENTRYID);
        ASSERT_TRUE(root);
        base = CreateSubfolder(root.Get(), "Newsgroups");
        baseEid = GetBinary(base.Get(), PR_ENTRYID);
        target.baseStore = store.Get();
        target.baseFolderEntryId = baseEid;
        target.accountProps = account.values;
        target.confirm = [this](ULONG n, std::string_view g) { confirmed.emplace_back(n, std::string(g)); };
    }

    HRESULT Deliver(const std::string& group, ULONG number, const std::string& article)
    {
        const auto eid = MakeHeaderEntryId(number, "<id>", group);
        SBinary bin{static_cast<ULONG>(eid.size()), const_cast<BYTE*>(eid.data())};
        auto stream = ArticleStream(group, number, article);
        return DeliverArticle(stream.Get(), &bin, nullptr, target);
    }

    ComPtr<IMAPIFolder> Child(IMAPIFolder* parent, const char* name)
    {
        ComPtr<IMAPIFolder> f;
        EXPECT_EQ(delivery::FindOrCreateFolder(parent, name, f), S_OK);
        return f;
    }
    ComPtr<IMAPIFolder> GroupFolder(const char* group) { return Child(Child(base.Get(), "news.example.org").Get(), group); }

    // The messages of a folder: (subject, conversation index, topic).
    struct Row {
        std::string subject;
        std::vector<BYTE> index;
        std::string topic;
        std::vector<BYTE> entryId;
    };
    std::vector<Row> Messages(IMAPIFolder* folder)
    {
        ComPtr<IMAPITable> table;
        EXPECT_EQ(folder->GetContentsTable(0, &table), S_OK);
        auto cols = MakeTagArray({PR_SUBJECT, PR_CONVERSATION_INDEX, PR_CONVERSATION_TOPIC, PR_ENTRYID});
        table->SetColumns(cols.Get(), 0);
        RowSetPtr rows;
        EXPECT_EQ(table->QueryRows(100, 0, &rows), S_OK);
        std::vector<Row> out;
        for (ULONG i = 0; rows && i < rows->cRows; ++i) {
            const SPropValue* p = rows->aRow[i].lpProps;
            Row r;
            if (p[0].ulPropTag == PR_SUBJECT) r.subject = p[0].Value.lpszA;
            if (p[1].ulPropTag == PR_CONVERSATION_INDEX) r.index.assign(p[1].Value.bin.lpb, p[1].Value.bin.lpb + p[1].Value.bin.cb);
            if (p[2].ulPropTag == PR_CONVERSATION_TOPIC) r.topic = p[2].Value.lpszA;
            r.entryId.assign(p[3].Value.bin.lpb, p[3].Value.bin.lpb + p[3].Value.bin.cb);
            out.push_back(std::move(r));
        }
        return out;
    }
    Row Find(IMAPIFolder* folder, const std::string& subject)
    {
        for (auto& r : Messages(folder))
            if (r.subject == subject) return r;
        ADD_FAILURE() << "no message " << subject;
        return {};
    }

    TempHome home;
    ComPtr<IMsgStore> store;
    ComPtr<IMAPIFolder> base;
    std::vector<BYTE> baseEid;
    Account account;
    DeliveryTarget target;
    std::vector<std::pair<ULONG, std::string>> confirmed;
};

TEST_F(Delivery, ArticleBecomesAPostInTheAccountsGroupFolder)
{
    ASSERT_EQ(Deliver("alt.test", 5, Article("<a5@example.net>", "First")), S_OK);
    ASSERT_EQ(Deliver("alt.test", 6, Article("<a6@example.net>", "Second")), S_OK);
    EXPECT_EQ(SubfolderNames(base.Get()), std::vector<std::string>{"news.example.org"});
    auto account = Child(base.Get(), "news.example.org");
    EXPECT_EQ(SubfolderNames(account.Get()), std::vector<std::string>{"alt.test"});
    auto folder = GroupFolder("alt.test");
    ASSERT_EQ(Messages(folder.Get()).size(), 2u);

    auto m = OpenEntryAs<IMessage>(store.Get(), Find(folder.Get(), "First").entryId);
    ASSERT_TRUE(m);
    EXPECT_EQ(GetString(m.Get(), PR_MESSAGE_CLASS), "IPM.Post");
    EXPECT_EQ(GetString(m.Get(), PR_NEWSGROUP_NAME), "alt.test");
    EXPECT_EQ(GetString(m.Get(), PR_DISPLAY_TO), "alt.test");
    EXPECT_EQ(GetLong(m.Get(), PR_INTERNET_ARTICLE_NUMBER), 5);
    EXPECT_EQ(GetLong(m.Get(), PR_CONTENT_FILTER_SCL), -1);
    EXPECT_EQ(GetLong(m.Get(), PR_MESSAGE_FLAGS) & (MSGFLAG_READ | MSGFLAG_UNSENT), 0);
    EXPECT_EQ(GetString(m.Get(), PR_INTERNET_MESSAGE_ID), "<a5@example.net>");
    EXPECT_EQ(GetString(m.Get(), PR_CORVANE_HEADER_ENTRYID_HEX),
              BinToHex(MakeHeaderEntryId(5, "<id>", "alt.test")));
    EXPECT_TRUE(FPropExists(m.Get(), PR_MESSAGE_DELIVERY_TIME));
    EXPECT_NE(GetString(m.Get(), PR_BODY).find("Body of First"), std::string::npos);

    EXPECT_EQ(confirmed, (std::vector<std::pair<ULONG, std::string>>{{5, "alt.test"}, {6, "alt.test"}}));
}

TEST_F(Delivery, FlatFoldersGoDirectlyIntoTheBaseFolder)
{
    target.flatFolders = true;
    ASSERT_EQ(Deliver("comp.lang.c", 1, Article("<c1@x>", "C")), S_OK);
    ASSERT_EQ(Deliver("alt.test", 2, Article("<t2@x>", "T")), S_OK);
    auto names = SubfolderNames(base.Get());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"alt.test", "comp.lang.c"}));
}

TEST_F(Delivery, RepliesJoinTheirParentsConversation)
{
    ASSERT_EQ(Deliver("alt.test", 1, Article("<p@x>", "Topic")), S_OK);
    ASSERT_EQ(Deliver("alt.test", 2, Article("<r1@x>", "Re: Topic", "In-Reply-To: <p@x>\r\n")), S_OK);
    // Only References: its last entry is the parent.
    ASSERT_EQ(Deliver("alt.test", 3, Article("<r2@x>", "Re: Re: Topic", "References: <p@x> <r1@x>\r\n")), S_OK);
    // A parent that is not in the folder: the article starts its own thread.
    ASSERT_EQ(Deliver("alt.test", 4, Article("<o@x>", "Orphan", "References: <gone@x>\r\n")), S_OK);

    auto folder = GroupFolder("alt.test");
    const Row parent = Find(folder.Get(), "Topic");
    const Row reply = Find(folder.Get(), "Re: Topic");
    const Row second = Find(folder.Get(), "Re: Re: Topic");
    const Row orphan = Find(folder.Get(), "Orphan");
    EXPECT_EQ(parent.topic, "Topic");
    ASSERT_EQ(parent.index.size(), kConvIndexHeaderSize);
    EXPECT_EQ(reply.topic, "Topic");
    ASSERT_EQ(reply.index.size(), kConvIndexHeaderSize + kConvIndexChildSize);
    EXPECT_TRUE(std::equal(parent.index.begin(), parent.index.end(), reply.index.begin()));
    EXPECT_EQ(second.topic, "Topic");
    ASSERT_EQ(second.index.size(), kConvIndexHeaderSize + 2 * kConvIndexChildSize);
    EXPECT_TRUE(std::equal(reply.index.begin(), reply.index.end(), second.index.begin()));
    EXPECT_EQ(orphan.topic, "Orphan");
    ASSERT_EQ(orphan.index.size(), kConvIndexHeaderSize);
    EXPECT_NE(orphan.index, parent.index);
}

TEST_F(Delivery, OwnPostReplacesOnlyTheFreshLocalCopy)
{
    auto folder = GroupFolder("alt.test");
    auto localCopy = [&](const char* subject, long submittedAgo, long deliveredAgo) {
        AddMessage(folder.Get(), subject,
                   {StringProp(PR_NEWSGROUP_NAME, "alt.test"),
                    TimeProp(PR_CLIENT_SUBMIT_TIME, FileTimeAgo(submittedAgo)),
                    TimeProp(PR_MESSAGE_DELIVERY_TIME, FileTimeAgo(deliveredAgo))});
    };
    localCopy("Mine", 5, 5);            // filed when it was posted: removed
    localCopy("Mine", 15 * 60, 15 * 60);  // a post of a quarter of an hour ago: kept
    localCopy("Mine", 300, 60);           // saved long after it was written: kept
    localCopy("Other subject", 5, 5);
    ASSERT_EQ(Messages(folder.Get()).size(), 4u);

    // Somebody else's article of the same subject removes nothing.
    ASSERT_EQ(Deliver("alt.test", 7, Article("<b@x>", "Mine")), S_OK);
    EXPECT_EQ(Messages(folder.Get()).size(), 5u);

    ASSERT_EQ(Deliver("alt.test", 8, Article("<mine@x>", "Mine", {}, "ann smith <ANN@example.org>")), S_OK);
    const auto rows = Messages(folder.Get());
    EXPECT_EQ(rows.size(), 5u);  // one copy out, the delivered post in
    int mine = 0;
    for (const Row& r : rows) mine += r.subject == "Mine";
    EXPECT_EQ(mine, 4);  // two kept copies, two delivered articles
}

TEST_F(Delivery, NothingIsFiledWithoutArticleNumberOrAccountFolder)
{
    ComPtr<IStream> noNumber = ArticleStream("alt.test", 0, Article("<n@x>", "N"));
    EXPECT_EQ(DeliverArticle(noNumber.Get(), nullptr, nullptr, target), E_FAIL);
    const std::string bare = "X-Corvane-Newsgroup: alt.test\r\n" + Article("<n@x>", "N");
    ComPtr<IStream> s;
    CreateStreamOnHGlobal(nullptr, TRUE, &s);
    s->Write(bare.data(), static_cast<ULONG>(bare.size()), nullptr);
    EXPECT_EQ(DeliverArticle(s.Get(), nullptr, nullptr, target), E_FAIL);
    // The origin lines with no article after them.
    EXPECT_EQ(Deliver("alt.test", 9, ""), E_FAIL);

    account.values[acct::kAccountName].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(PR_DISPLAY_NAME));
    EXPECT_EQ(Deliver("alt.test", 9, Article("<n@x>", "N")), E_FAIL);
    EXPECT_TRUE(SubfolderNames(base.Get()).empty());
    EXPECT_TRUE(confirmed.empty());
}

TEST_F(Delivery, DamagedArticlesAreFiledOrRefusedWithoutHarmingOthers)
{
    ASSERT_EQ(Deliver("alt.test", 1, Article("<keep@x>", "Keep")), S_OK);
    // NUL bytes, a broken multipart and a header without a blank line.
    std::string nul = Article("<nul@x>", "Nul");
    nul.insert(nul.size() - 3, std::string("\0\0x", 3));
    EXPECT_EQ(Deliver("alt.test", 2, nul), S_OK);
    EXPECT_EQ(Deliver("alt.test", 3,
                      Article("<mp@x>", "Multi", "MIME-Version: 1.0\r\nContent-Type: multipart/mixed\r\n")),
              S_OK);
    auto folder = GroupFolder("alt.test");
    EXPECT_EQ(Find(folder.Get(), "Keep").subject, "Keep");
    EXPECT_GE(Messages(folder.Get()).size(), 3u);
}

TEST(ArticleOrigin, ReadsBothLinesWithinTheFirstBytes)
{
    auto o = ParseArticleOrigin("X-Corvane-Newsgroup: alt.test\r\nX-Corvane-Article: 1234\r\nFrom: x\r\n");
    EXPECT_EQ(o.newsgroup, "alt.test");
    EXPECT_EQ(o.articleNumber, 1234u);
    EXPECT_EQ(ParseArticleOrigin("X-Corvane-Article: -5\r\n").articleNumber, 0u);
    EXPECT_EQ(ParseArticleOrigin("X-Corvane-Article: 99999999999\r\n").articleNumber, 0u);
    EXPECT_EQ(ParseArticleOrigin("X-Corvane-Article:").articleNumber, 0u);
    // Beyond the scanned bytes the lines are not seen.
    const std::string late = std::string(kOriginScanBytes, 'x') + "X-Corvane-Article: 7\r\n";
    EXPECT_EQ(ParseArticleOrigin(late).articleNumber, 0u);
}

TEST(ParentMessageId, InReplyToFirstThenTheLastReference)
{
    EXPECT_EQ(delivery::ParentMessageId("<a@x>", "<b@x> <c@x>"), "<a@x>");
    EXPECT_EQ(delivery::ParentMessageId("", "<b@x> <c@x>"), "<c@x>");
    EXPECT_EQ(delivery::ParentMessageId("", "<b@x>\r\n\t<c@x>"), "<c@x>");
    EXPECT_EQ(delivery::ParentMessageId("", "no ids"), "");
}

}  // namespace
}  // namespace quillory::quarnex
