// `quillory post` and `quillory sync` against the local INN news server, as a
// person uses them: a post and a cross-post reach the server with the news
// header, the next sync files them in their folders in place of the local
// copy, a reply threads under its parent, and a post the server refuses comes
// back as a non-delivery report with the server's text. Without the server
// the tests skip, unless QUILLORY_INN=1 says it must be there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/news_message_props.h"
#include "host/tests/run_program.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/session.h"
#include "provider/posting/tests/plain_nntp.h"

namespace quillory::testing {
namespace {

struct StoredPost {
    std::string subject;
    std::string messageId;
    std::vector<BYTE> index;
    bool delivered = false;  // filed from the server (carries the header row's entry ID)
};

// Messages of a folder given by its path of names below the IPM subtree.
class StoreReader {
public:
    explicit StoreReader(const std::string& profile)
    {
        EXPECT_EQ(MAPIInitialize(nullptr), S_OK);
        std::string name = profile;
        if (FAILED(MAPILogonEx(0, name.data(), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL, &session_)))
            return;
        ComPtr<IMAPITable> stores;
        RowSetPtr rows;
        auto cols = MakeTagArray({PR_ENTRYID, PR_DEFAULT_STORE});
        if (FAILED(session_->GetMsgStoresTable(0, &stores)) || FAILED(stores->SetColumns(cols.Get(), 0)) ||
            FAILED(stores->QueryRows(100, 0, &rows)))
            return;
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const SPropValue* p = rows->aRow[i].lpProps;
            if (p[1].ulPropTag == PR_DEFAULT_STORE && p[1].Value.b)
                session_->OpenMsgStore(0, p[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(p[0].Value.bin.lpb), nullptr,
                                       MAPI_BEST_ACCESS, &store_);
        }
    }
    ~StoreReader()
    {
        store_ = nullptr;
        if (session_) session_->Logoff(0, 0, 0);
        session_ = nullptr;
        MAPIUninitialize();
    }

    std::vector<StoredPost> Posts(const std::vector<std::string>& path)
    {
        std::vector<StoredPost> out;
        ComPtr<IMAPIFolder> folder = Folder(path);
        if (!folder) return out;
        ComPtr<IMAPITable> table;
        RowSetPtr rows;
        auto cols = MakeTagArray({PR_SUBJECT, PR_INTERNET_MESSAGE_ID, PR_CONVERSATION_INDEX, 0x65A0001E});
        if (FAILED(folder->GetContentsTable(0, &table)) || FAILED(table->SetColumns(cols.Get(), 0)) ||
            FAILED(table->QueryRows(1000, 0, &rows)))
            return out;
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const SPropValue* p = rows->aRow[i].lpProps;
            StoredPost s;
            if (p[0].ulPropTag == PR_SUBJECT) s.subject = p[0].Value.lpszA;
            if (p[1].ulPropTag == PR_INTERNET_MESSAGE_ID) s.messageId = p[1].Value.lpszA;
            if (p[2].ulPropTag == PR_CONVERSATION_INDEX)
                s.index.assign(p[2].Value.bin.lpb, p[2].Value.bin.lpb + p[2].Value.bin.cb);
            s.delivered = p[3].ulPropTag == 0x65A0001E;
            out.push_back(s);
        }
        return out;
    }

    // Texts of the reports in the Inbox.
    std::vector<std::string> Reports()
    {
        std::vector<std::string> out;
        ULONG cb = 0;
        MapiBuffer<ENTRYID> eid;
        ComPtr<IUnknown> unk;
        ULONG type = 0;
        if (!store_ || FAILED(store_->GetReceiveFolder(nullptr, 0, &cb, &eid, nullptr)) ||
            FAILED(store_->OpenEntry(cb, eid.Get(), nullptr, 0, &type, &unk)))
            return out;
        ComPtr<IMAPIFolder> inbox(static_cast<IMAPIFolder*>(unk.Get()));
        ComPtr<IMAPITable> table;
        RowSetPtr rows;
        auto cols = MakeTagArray({PR_MESSAGE_CLASS, PR_ENTRYID});
        if (FAILED(inbox->GetContentsTable(0, &table)) || FAILED(table->SetColumns(cols.Get(), 0)) ||
            FAILED(table->QueryRows(1000, 0, &rows)))
            return out;
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const SPropValue* p = rows->aRow[i].lpProps;
            if (p[0].ulPropTag != PR_MESSAGE_CLASS || std::string(p[0].Value.lpszA).find("NDR") == std::string::npos)
                continue;
            ComPtr<IUnknown> m;
            if (FAILED(inbox->OpenEntry(p[1].Value.bin.cb, reinterpret_cast<LPENTRYID>(p[1].Value.bin.lpb), nullptr, 0,
                                        &type, &m)))
                continue;
            std::string text;
            // The report's own text and its recipients' report texts.
            MapiBuffer<SPropValue> body;
            if (SUCCEEDED(HrGetOneProp(static_cast<IMessage*>(m.Get()), PR_BODY, &body)) &&
                body->ulPropTag == PR_BODY)
                text += body->Value.lpszA;
            ComPtr<IMAPITable> recips;
            RowSetPtr rrows;
            auto rcols = MakeTagArray({PR_REPORT_TEXT});
            if (SUCCEEDED(static_cast<IMessage*>(m.Get())->GetRecipientTable(0, &recips)) &&
                SUCCEEDED(recips->SetColumns(rcols.Get(), 0)) && SUCCEEDED(recips->QueryRows(100, 0, &rrows)))
                for (ULONG j = 0; j < rrows->cRows; ++j)
                    if (rrows->aRow[j].lpProps[0].ulPropTag == PR_REPORT_TEXT)
                        text += std::string("\n") + rrows->aRow[j].lpProps[0].Value.lpszA;
            out.push_back(text);
        }
        return out;
    }

private:
    ComPtr<IMAPIFolder> Folder(const std::vector<std::string>& path)
    {
        MapiBuffer<SPropValue> root;
        if (!store_ || FAILED(HrGetOneProp(store_.Get(), PR_IPM_SUBTREE_ENTRYID, &root))) return {};
        ULONG type = 0;
        ComPtr<IUnknown> unk;
        if (FAILED(store_->OpenEntry(root->Value.bin.cb, reinterpret_cast<LPENTRYID>(root->Value.bin.lpb), nullptr, 0,
                                     &type, &unk)))
            return {};
        ComPtr<IMAPIFolder> folder(static_cast<IMAPIFolder*>(unk.Get()));
        for (const auto& name : path) {
            ComPtr<IMAPITable> table;
            RowSetPtr rows;
            auto cols = MakeTagArray({PR_DISPLAY_NAME, PR_ENTRYID});
            if (FAILED(folder->GetHierarchyTable(0, &table)) || FAILED(table->SetColumns(cols.Get(), 0)) ||
                FAILED(table->QueryRows(1000, 0, &rows)))
                return {};
            ComPtr<IMAPIFolder> next;
            for (ULONG i = 0; i < rows->cRows && !next; ++i) {
                const SPropValue* p = rows->aRow[i].lpProps;
                if (p[0].ulPropTag != PR_DISPLAY_NAME || name != p[0].Value.lpszA) continue;
                ComPtr<IUnknown> child;
                if (SUCCEEDED(folder->OpenEntry(p[1].Value.bin.cb, reinterpret_cast<LPENTRYID>(p[1].Value.bin.lpb),
                                                nullptr, 0, &type, &child)))
                    next = ComPtr<IMAPIFolder>(static_cast<IMAPIFolder*>(child.Get()));
            }
            if (!next) return {};
            folder = next;
        }
        return folder;
    }

    ComPtr<IMAPISession> session_;
    ComPtr<IMsgStore> store_;
};

class PostCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!PlainNntp().Connected()) {
            if (NewsServerRequired()) FAIL() << "no news server on 127.0.0.1:119";
            GTEST_SKIP() << "no news server on 127.0.0.1:119";
        }
        first = groups.Make("local.quillory.cmd");
        second = groups.Make("local.quillory.cmd");
        closed = groups.Make("local.quillory.cmdclosed", "n");
        ASSERT_FALSE(first.empty() || second.empty() || closed.empty());
        Run({"setup", "install"});
        Run({"profile", "create", "P"});
        Run({"account", "add", "--profile", "P", "--server", "127.0.0.1", "--name", "Ann Smith", "--email",
             "ann@example.org", "--account", "news"});
        Run({"groups", "--profile", "P", "--account", "news", "--download"});
        Run({"subscribe", "--profile", "P", "--account", "news", first, second, closed});
    }

    ProgramOutcome Run(std::vector<std::string> args, std::optional<std::string> input = std::nullopt,
                       int expected = 0)
    {
        ProgramOutcome o = RunQuillory(home, args, std::move(input));
        EXPECT_EQ(o.status, expected) << args[0] << "\n" << o.out << o.err;
        return o;
    }

    std::vector<std::string> Path(const std::string& group) { return {"Inbox", "Newsgroups", "news", group}; }

    TempHome home;
    TestNewsgroups groups;
    std::string first, second, closed;
};

TEST_F(PostCommand, PostsAreReadBackFiledOnSyncAndRepliesThread)
{
    Run({"post", "--profile", "P", "--account", "news", "--group", first + "," + second, "--subject", "Hello group"},
        "First line\n.\nAfter a lone dot\n");

    PlainNntp client;
    const auto article = client.LastArticle(first);
    ASSERT_TRUE(article);
    const std::string header = UnfoldedHeader(*article);
    EXPECT_TRUE(Contains(header, "Newsgroups: " + first + ", " + second + "\r\n")) << header;
    EXPECT_TRUE(Contains(header, "Subject: Hello group\r\n")) << header;
    EXPECT_TRUE(Contains(header, "Ann Smith <ann@example.org>")) << header;
    EXPECT_TRUE(Contains(header, "X-Transport: Quillory v")) << header;
    EXPECT_FALSE(Contains(header, "Quillory v0.0,")) << header;  // the provider library's own version
    EXPECT_FALSE(Contains(header, "\r\nTo:")) << header;
    EXPECT_TRUE(Contains(*article, "\r\n.\r\nAfter a lone dot\r\n")) << *article;
    EXPECT_EQ(client.Count(second), 1);

    // The send and receive that the post ran brought the article back: it
    // took the place of the local copy.
    std::string parentId;
    {
        StoreReader store("P");
        const auto filed = store.Posts(Path(first));
        ASSERT_EQ(filed.size(), 1u);
        EXPECT_TRUE(filed[0].delivered);
        EXPECT_EQ(filed[0].subject, "Hello group");
        parentId = filed[0].messageId;
        EXPECT_EQ(store.Posts(Path(second)).size(), 1u);
    }
    ASSERT_FALSE(parentId.empty());

    Run({"post", "--profile", "P", "--account", "news", "--group", first, "--subject", "Re: Hello group",
         "--in-reply-to", parentId},
        "An answer\n");
    const auto reply = PlainNntp().LastArticle(first);
    ASSERT_TRUE(reply);
    EXPECT_TRUE(Contains(*reply, "References: " + parentId + "\r\n")) << *reply;
    Run({"sync", "--profile", "P"});
    StoreReader store("P");
    const auto thread = store.Posts(Path(first));
    ASSERT_EQ(thread.size(), 2u);
    const StoredPost& parent = thread[0].subject == "Hello group" ? thread[0] : thread[1];
    const StoredPost& child = thread[0].subject == "Hello group" ? thread[1] : thread[0];
    ASSERT_EQ(child.index.size(), parent.index.size() + 5);
    EXPECT_TRUE(std::equal(parent.index.begin(), parent.index.end(), child.index.begin()));
    // Running again delivers nothing twice.
    Run({"sync", "--profile", "P"});
    EXPECT_EQ(StoreReader("P").Posts(Path(first)).size(), 2u);
}

TEST_F(PostCommand, ARefusedPostComesBackAsAReportWithTheServersText)
{
    const ProgramOutcome o = Run({"post", "--profile", "P", "--account", "news", "--group", closed, "--subject",
                                  "Not here"},
                                 "Refused\n", 1);
    EXPECT_TRUE(Contains(o.out, "non-delivery report")) << o.out;
    EXPECT_EQ(PlainNntp().Count(closed), 0);
    const auto reports = StoreReader("P").Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(Contains(reports[0], "441")) << reports[0];
}

}  // namespace
}  // namespace quillory::testing
