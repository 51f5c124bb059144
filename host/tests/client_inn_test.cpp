// `quillory client --sync` against the local INN: the add-in, loaded from
// the registry, chooses the base folder and publishes it in its window; the
// spooler runs beside the host in the same process, the provider reads the
// window, and the news is filed under that folder. Without the server the
// tests skip, unless QUILLORY_INN=1.
#include <gtest/gtest.h>

#include <sstream>

#include "common/regstore.h"
#include "host/tests/inn_test_util.h"
#include "host/tests/run_program.h"
#include "platform/base/time.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/session.h"

namespace quillory::testing {
namespace {

struct Group {
    std::string name = "local.quillory.client" + std::to_string(::getpid()) + "x" + std::to_string(GetTickCount());
    bool ok = false;
};

const Group& RunGroup()
{
    static const Group group = [] {
        Group g;
        g.ok = Ctlinnd("newgroup " + g.name + " y") &&
               PostArticle("From: Ann <ann@client.test>\r\nNewsgroups: " + g.name + "\r\nMessage-ID: <c1." + g.name +
                           "@client.test>\r\nSubject: Through the client\r\n\r\nHello.");
        return g;
    }();
    return group;
}

class ClientSync : public ::testing::Test {
protected:
    void SetUp() override
    {
        QUILLORY_REQUIRE_INN();
        ASSERT_TRUE(group.ok) << "the run's newsgroup could not be made";
        Run({"setup", "install"});
        Run({"profile", "create", "P"});
        Run({"account", "add", "--profile", "P", "--server", "127.0.0.1", "--name", "Ann Smith", "--email",
             "ann@example.org", "--account", "news"});
        Run({"groups", "--profile", "P", "--account", "news", "--download"});
        Run({"subscribe", "--profile", "P", "--account", "news", group.name});
    }
    ProgramOutcome Run(std::vector<std::string> args, int expected = 0)
    {
        ProgramOutcome o = RunQuillory(home, args);
        EXPECT_EQ(o.status, expected) << args[0] << "\n" << o.out << o.err;
        return o;
    }
    std::string Subjects(const std::string& folder)
    {
        return RunQuillory(home, {"store", "messages", folder, "--profile", "P", "--columns", "PR_SUBJECT"}).out;
    }
    const Group& group = RunGroup();
    TempHome home;
};

TEST_F(ClientSync, NewsIsFiledUnderTheBaseFolderTheAddinChose)
{
    // Nothing chosen yet: the add-in takes "Newsgroups" in the Inbox and records it.
    Run({"reg", "delete", "HKCU\\Software\\Tarnel Ltd\\Corvane\\Profiles\\P", "/v", "BaseFolderBIN", "/f"});
    const ProgramOutcome o = Run({"client", "--profile", "P", "--sync"});
    EXPECT_TRUE(Contains(o.out, "add-in tolvane.OutlookAddin: connected")) << o.out;
    EXPECT_TRUE(Contains(Subjects("Inbox/Newsgroups/news/" + group.name), "Through the client")) << o.out << o.err;
    const ProgramOutcome reg = Run({"reg", "query", "HKCU\\Software\\Tarnel Ltd\\Corvane\\Profiles\\P"});
    EXPECT_TRUE(Contains(reg.out, "BaseFolderBIN")) << reg.out;
}

TEST_F(ClientSync, AFolderTheUserChoseIsWhereTheNewsGoes)
{
    {
        // The user's choice: "Elsewhere" at the top of the store.
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
        ComPtr<IMAPISession> session;
        ASSERT_EQ(MAPILogonEx(0, const_cast<LPSTR>("P"), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION, &session), S_OK);
        ComPtr<IMAPITable> stores;
        ASSERT_EQ(session->GetMsgStoresTable(0, &stores), S_OK);
        auto cols = MakeTagArray({PR_ENTRYID});
        RowSetPtr rows;
        ASSERT_EQ(stores->SetColumns(cols.Get(), 0), S_OK);
        ASSERT_EQ(stores->QueryRows(1, 0, &rows), S_OK);
        const SBinary storeId = rows->aRow[0].lpProps[0].Value.bin;
        ComPtr<IMsgStore> store;
        ASSERT_EQ(session->OpenMsgStore(0, storeId.cb, reinterpret_cast<LPENTRYID>(storeId.lpb), nullptr, MAPI_BEST_ACCESS,
                                        &store),
                  S_OK);
        MapiBuffer<SPropValue> top;
        ASSERT_EQ(HrGetOneProp(store.Get(), PR_IPM_SUBTREE_ENTRYID, &top), S_OK);
        ULONG type = 0;
        ComPtr<IUnknown> unknown;
        ComPtr<IMAPIFolder> root, chosen;
        ASSERT_EQ(store->OpenEntry(top->Value.bin.cb, reinterpret_cast<LPENTRYID>(top->Value.bin.lpb), nullptr,
                                   MAPI_MODIFY, &type, &unknown),
                  S_OK);
        ASSERT_EQ(unknown.As(IID_IMAPIFolder, root), S_OK);
        ASSERT_EQ(root->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>("Elsewhere"), nullptr, nullptr, 0, &chosen), S_OK);
        MapiBuffer<SPropValue> chosenId;
        ASSERT_EQ(HrGetOneProp(chosen.Get(), PR_ENTRYID, &chosenId), S_OK);
        ASSERT_EQ(WriteBaseFolder("P", "Elsewhere", {chosenId->Value.bin.lpb, chosenId->Value.bin.cb},
                                  {storeId.lpb, storeId.cb}),
                  ERROR_SUCCESS);
        chosen = root = nullptr;
        store = nullptr;
        session->Logoff(0, 0, 0);
        session = nullptr;
        MAPIUninitialize();
    }
    const ProgramOutcome o = Run({"client", "--profile", "P", "--sync", "--folders"});
    EXPECT_TRUE(Contains(Subjects("Elsewhere/news/" + group.name), "Through the client")) << o.out << o.err;
    // What the host saw of it, through the add-in's folder.
    EXPECT_TRUE(Contains(o.out, "  Elsewhere (0, 0 unread)\n    news (0, 0 unread)\n      " + group.name + " (1, 1 unread)\n"))
        << o.out;
}

}  // namespace
}  // namespace quillory::testing
