// Store changes become folder and item events: queued, raised on the
// owner thread when it pumps, once per object per pump, never inside the
// writer's call nor inside another event.
#include <thread>

#include "platform/mapi/mapitags.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/proputil.h"
#include "platform/outlook/tests/outlook_test_util.h"

namespace quillory::testing {
namespace {

using Events = OutlookModelTest;

// Saves a message into the folder through plain MAPI, as the spooler or
// another program would, with a session of its own.
void SaveMessageElsewhere(const std::string& folderHex, const char* subject)
{
    ComPtr<IMAPISession> session;
    ASSERT_EQ(MAPILogonEx(0, const_cast<LPSTR>("P"), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION, &session), S_OK);
    const auto id = HexToBin(folderHex);
    ASSERT_TRUE(id);
    ULONG type = 0;
    ComPtr<IUnknown> unknown;
    ComPtr<IMAPIFolder> folder;
    ASSERT_EQ(session->OpenEntry(static_cast<ULONG>(id->size()), reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(id->data())),
                                 nullptr, MAPI_BEST_ACCESS, &type, &unknown),
              S_OK);
    ASSERT_EQ(unknown.As(IID_IMAPIFolder, folder), S_OK);
    ComPtr<IMessage> message;
    ASSERT_EQ(folder->CreateMessage(nullptr, 0, &message), S_OK);
    std::string text = subject;
    SPropValue v{};
    v.ulPropTag = PR_SUBJECT;
    v.Value.lpszA = text.data();
    ASSERT_EQ(HrSetOneProp(message.Get(), &v), S_OK);
    ASSERT_EQ(message->SaveChanges(0), S_OK);
    session->Logoff(0, 0, 0);
}

std::string HexOf(MAPIFolder* f)
{
    CComBSTR hex;
    EXPECT_EQ(f->get_EntryID(&hex), S_OK);
    return hex.Str();
}

TEST_F(Events, ChangesByAnotherThreadAreRaisedOnTheOwnerThreadWhenItPumps)
{
    ComPtr<MAPIFolder> inbox = Inbox();
    ComPtr<MAPIFolder> group = AddFolder(inbox.Get(), "comp.lang.c");
    ComPtr<_Folders> folders;
    ASSERT_EQ(inbox->get_Folders(&folders), S_OK);
    ComPtr<_Items> items;
    ASSERT_EQ(group->get_Items(&items), S_OK);
    Pump();  // the creation above is not what this test watches

    const DWORD owner = GetCurrentThreadId();
    std::vector<std::string> seen;
    Advised folderSink(folders.Get(), DIID_FoldersEvents, [&](DISPID id, DISPPARAMS* p) {
        EXPECT_EQ(GetCurrentThreadId(), owner);
        seen.push_back(id == DISPID_FolderChange ? "FolderChange " + NameOf(ObjectArg(p, 0))
                       : id == DISPID_FolderAdd  ? "FolderAdd " + NameOf(ObjectArg(p, 0))
                                                 : "FolderRemove");
    });
    Advised itemSink(items.Get(), DIID_ItemsEvents, [&](DISPID id, DISPPARAMS* p) {
        EXPECT_EQ(GetCurrentThreadId(), owner);
        if (id == DISPID_ItemAdd) {
            CComVariant subject;
            DispGet(ObjectArg(p, 0), "Subject", subject);
            seen.push_back("ItemAdd " + std::string(VariantText(subject)));
        }
    });

    const std::string hex = HexOf(group.Get());
    std::thread writer([&] {
        SaveMessageElsewhere(hex, "first");
        SaveMessageElsewhere(hex, "second");
    });
    writer.join();
    EXPECT_TRUE(seen.empty());  // nothing until the owner pumps
    Pump();
    // One FolderChange for both messages of the pump.
    EXPECT_EQ(seen, (std::vector<std::string>{"ItemAdd first", "FolderChange comp.lang.c", "ItemAdd second"}));

    seen.clear();
    AddFolder(inbox.Get(), "comp.lang.c++");
    EXPECT_TRUE(seen.empty());  // not inside the call that made it
    Pump();
    EXPECT_EQ(seen, (std::vector<std::string>{"FolderAdd comp.lang.c++"}));

    seen.clear();
    ComPtr<MAPIFolder> cpp;
    ASSERT_EQ(folders->Item(CComVariant::Text("comp.lang.c++"), &cpp), S_OK);
    ASSERT_EQ(cpp->Delete(), S_OK);
    Pump();
    EXPECT_EQ(seen, (std::vector<std::string>{"FolderRemove"}));
}

TEST_F(Events, AnEventHandlerThatPumpsSeesLaterEventsOnlyAfterItReturns)
{
    ComPtr<MAPIFolder> inbox = Inbox();
    ComPtr<MAPIFolder> group = AddFolder(inbox.Get(), "alt.test");
    ComPtr<_Folders> folders;
    ASSERT_EQ(inbox->get_Folders(&folders), S_OK);
    Pump();
    const std::string hex = HexOf(group.Get());
    int depth = 0, maxDepth = 0, changes = 0;
    Advised sink(folders.Get(), DIID_FoldersEvents, [&](DISPID id, DISPPARAMS*) {
        if (id != DISPID_FolderChange) return;
        ++changes;
        maxDepth = std::max(maxDepth, ++depth);
        // The handler saves into the folder it watches and pumps, as a
        // handler showing a message box would.
        if (changes == 1) {
            SaveMessageElsewhere(hex, "from the handler");
            Pump();
        }
        --depth;
    });
    SaveMessageElsewhere(hex, "outside");
    Pump();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(maxDepth, 1);
}

TEST_F(Events, ShutdownStopsTheEventsAndObjectsStillHeldFailCleanly)
{
    ComPtr<MAPIFolder> inbox = Inbox();
    ComPtr<_Folders> folders;
    ASSERT_EQ(inbox->get_Folders(&folders), S_OK);
    int events = 0;
    Advised sink(folders.Get(), DIID_FoldersEvents, [&](DISPID, DISPPARAMS*) { ++events; });
    AddFolder(inbox.Get(), "late");
    outlook::ShutdownApplication(app_.Get());
    Pump();
    EXPECT_EQ(events, 0);
    CComBSTR name;
    EXPECT_EQ(inbox->get_Name(&name), MAPI_E_END_OF_SESSION);
    ComPtr<_NameSpace> ns;
    EXPECT_EQ(app_->get_Session(&ns), MAPI_E_END_OF_SESSION);
}

}  // namespace
}  // namespace quillory::testing
