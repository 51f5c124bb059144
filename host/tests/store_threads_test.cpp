// Threads: how messages are arranged by their conversation indexes, and
// `quillory store threads` over a store that holds a known conversation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/store_threads.h"
#include "host/tests/run_program.h"
#include "platform/base/time.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/profile_admin.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/session.h"

namespace {

using quillory::ComPtr;
using quillory::MapiBuffer;
using namespace quillory::host;

std::vector<BYTE> Header(BYTE timeByte, BYTE guidByte)
{
    std::vector<BYTE> h(kConversationHeaderSize, guidByte);
    h[0] = 1;
    for (std::size_t i = 1; i <= 5; ++i) h[i] = 0;
    h[1] = timeByte;
    return h;
}

std::vector<BYTE> Child(std::vector<BYTE> parent, BYTE delta)
{
    for (BYTE b : {BYTE{0}, BYTE{0}, BYTE{0}, delta, BYTE{0}}) parent.push_back(b);
    return parent;
}

ThreadEntry E(std::string subject, std::vector<BYTE> index = {})
{
    return ThreadEntry{std::move(index), std::move(subject), "", std::nullopt};
}

std::vector<std::string> Render(const std::vector<ThreadEntry>& entries)
{
    std::vector<std::string> out;
    for (const auto& l : ArrangeThreads(entries)) out.push_back(std::string(2 * l.depth, ' ') + l.entry->subject);
    return out;
}

TEST(Threads, RepliesFollowTheirParentsAndOrphansHangUnderTheNearestAncestor)
{
    const auto a = Header(3, 0xAA), b = Header(2, 0xBB);
    const auto a1 = Child(a, 1), a2 = Child(a, 2), a11 = Child(a1, 1);
    const auto missing = Child(a2, 9), orphan = Child(missing, 1);  // its parent never arrived
    const auto stray = Child(Header(1, 0xCC), 1);                   // no ancestor at all
    const std::vector<ThreadEntry> entries = {
        E("a2", a2), E("a11", a11), E("b", b), E("a", a), E("orphan", orphan), E("a1", a1), E("stray", stray),
        E("no index"), E("bad index", std::vector<BYTE>(23, 1)), E("a1 again", a1),
    };
    EXPECT_EQ(Render(entries), (std::vector<std::string>{
                                   "no index", "bad index",  // no time at all: first
                                   "stray", "b", "a", "  a1", "    a11", "  a1 again", "  a2", "    orphan"}));
}

TEST(Threads, LinesShowSubjectSenderAndDate)
{
    SYSTEMTIME st{2026, 12, 0, 7, 13, 8, 33, 0};
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
    EXPECT_EQ(FormatThreadLine(ThreadEntry{{}, "Hello", "Alice", ft}, 2), "    Hello  (Alice, 2026-12-07 13:08 UTC)");
    EXPECT_EQ(FormatThreadLine(ThreadEntry{}, 0), "(no subject)  ((no sender), no date)");
    // windows-1252 texts come out as UTF-8: the euro sign is 0x80 there.
    EXPECT_EQ(FormatThreadLine(ThreadEntry{{}, "Caf\xE9 \x80", "J\xFCrgen", std::nullopt}, 0),
              "Caf\u00E9 \u20AC  (J\u00FCrgen, no date)");
}

// ---- the program over a real store ------------------------------------------------------

LPSTR S(const char* s) { return const_cast<LPSTR>(s); }

class StoreThreads : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
        ComPtr<IProfAdmin> admin;
        ASSERT_EQ(MAPIAdminProfiles(0, &admin), S_OK);
        ASSERT_EQ(admin->CreateProfile(S("News"), nullptr, 0, 0), S_OK);
        ASSERT_EQ(MAPILogonEx(0, S("News"), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION, &session_), S_OK);
        ComPtr<IMAPITable> stores;
        ASSERT_EQ(session_->GetMsgStoresTable(0, &stores), S_OK);
        auto cols = quillory::MakeTagArray({PR_ENTRYID});
        ASSERT_EQ(stores->SetColumns(cols.Get(), 0), S_OK);
        quillory::RowSetPtr rows;
        ASSERT_EQ(stores->QueryRows(1, 0, &rows), S_OK);
        ASSERT_EQ(rows->cRows, 1u);
        const SBinary& eid = rows->aRow[0].lpProps[0].Value.bin;
        ASSERT_EQ(session_->OpenMsgStore(0, eid.cb, reinterpret_cast<LPENTRYID>(eid.lpb), nullptr, MDB_WRITE, &store_),
                  S_OK);
        MapiBuffer<SPropValue> v;
        ASSERT_EQ(HrGetOneProp(store_.Get(), PR_IPM_SUBTREE_ENTRYID, &v), S_OK);
        ULONG type = 0;
        ComPtr<IUnknown> unk;
        ASSERT_EQ(store_->OpenEntry(v->Value.bin.cb, reinterpret_cast<LPENTRYID>(v->Value.bin.lpb), nullptr,
                                    MAPI_MODIFY, &type, &unk),
                  S_OK);
        top_ = ComPtr<IMAPIFolder>(static_cast<IMAPIFolder*>(unk.Get()));
    }

    void TearDown() override
    {
        top_.Reset();
        store_.Reset();
        if (session_) session_->Logoff(0, 0, 0);
        session_.Reset();
        MAPIUninitialize();
    }

    ComPtr<IMAPIFolder> Subfolder(IMAPIFolder* parent, const char* name)
    {
        ComPtr<IMAPIFolder> f;
        EXPECT_EQ(parent->CreateFolder(FOLDER_GENERIC, S(name), nullptr, nullptr, OPEN_IF_EXISTS, &f), S_OK);
        return f;
    }

    // A post answering `parent` (empty: a new thread), sent at 10:MM on 7 December 2026.
    std::vector<BYTE> Post(IMAPIFolder* folder, const char* subject, const char* sender, WORD minute,
                           const std::vector<BYTE>& parent)
    {
        ULONG cb = 0;
        LPBYTE index = nullptr;
        EXPECT_EQ(ScCreateConversationIndex(static_cast<ULONG>(parent.size()), const_cast<BYTE*>(parent.data()), &cb,
                                            &index),
                  S_OK);
        MapiBuffer<BYTE> keep(index);
        SYSTEMTIME st{2026, 12, 0, 7, 10, minute, 0, 0};
        SPropValue v[4]{};
        v[0].ulPropTag = PR_SUBJECT;
        v[0].Value.lpszA = S(subject);
        v[1].ulPropTag = PR_SENDER_NAME;
        v[1].Value.lpszA = S(sender);
        v[2].ulPropTag = PR_CLIENT_SUBMIT_TIME;
        EXPECT_TRUE(SystemTimeToFileTime(&st, &v[2].Value.ft));
        v[3].ulPropTag = PR_CONVERSATION_INDEX;
        v[3].Value.bin = SBinary{cb, index};
        ComPtr<IMessage> m;
        EXPECT_EQ(folder->CreateMessage(nullptr, 0, &m), S_OK);
        EXPECT_EQ(m->SetProps(4, v, nullptr), S_OK);
        EXPECT_EQ(m->SaveChanges(0), S_OK);
        return std::vector<BYTE>(index, index + cb);
    }

    quillory::testing::TempHome home_;
    ComPtr<IMAPISession> session_;
    ComPtr<IMsgStore> store_;
    ComPtr<IMAPIFolder> top_;
};

TEST_F(StoreThreads, EveryFolderWithMessagesIsPrintedAsThreads)
{
    auto group = Subfolder(Subfolder(top_.Get(), "news").Get(), "local.test");
    // Saved out of order: the later thread first, a reply before a sibling's.
    const auto second = Post(group.Get(), "Second thread", "Bob", 30, {});
    const auto root = Post(group.Get(), "Welcome", "Alice", 0, {});
    const auto r1 = Post(group.Get(), "Re: Welcome", "Bob", 5, root);
    Post(group.Get(), "Re: Second thread", "Alice", 35, second);
    const auto r11 = Post(group.Get(), "Re: Welcome", "Carol", 10, r1);
    Post(group.Get(), "Re: Welcome", "Alice", 15, r11);
    Post(group.Get(), "Re: Welcome (2)", "Carol", 20, root);
    auto other = Subfolder(top_.Get(), "Notes/2026");
    Post(other.Get(), "Alone", "Dan", 1, {});

    auto o = quillory::testing::RunQuillory(home_, {"store", "threads", "--profile", "News"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out,
              "== news/local.test (7 messages)\n"
              "Welcome  (Alice, 2026-12-07 10:00 UTC)\n"
              "  Re: Welcome  (Bob, 2026-12-07 10:05 UTC)\n"
              "    Re: Welcome  (Carol, 2026-12-07 10:10 UTC)\n"
              "      Re: Welcome  (Alice, 2026-12-07 10:15 UTC)\n"
              "  Re: Welcome (2)  (Carol, 2026-12-07 10:20 UTC)\n"
              "Second thread  (Bob, 2026-12-07 10:30 UTC)\n"
              "  Re: Second thread  (Alice, 2026-12-07 10:35 UTC)\n"
              "== Notes\\/2026 (1 message)\n"
              "Alone  (Dan, 2026-12-07 10:01 UTC)\n");

    o = quillory::testing::RunQuillory(home_, {"store", "threads", "Notes\\/2026", "--profile", "News"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "== Notes\\/2026 (1 message)\nAlone  (Dan, 2026-12-07 10:01 UTC)\n");
    o = quillory::testing::RunQuillory(home_, {"store", "threads", "news/nothing", "--profile", "News"});
    EXPECT_NE(o.status, 0);
}

}  // namespace
