#include <algorithm>

#include "platform/com/refcounted.h"
#include "platform/mapi/tests/store_test_util.h"

namespace quillory::testing {
namespace {

std::vector<BYTE> Eid(IMAPIProp* obj) { return GetBinary(obj, PR_ENTRYID); }

HRESULT Move(IMAPIFolder* from, IMAPIFolder* folder, IMAPIFolder* to, const char* newName = nullptr,
             ULONG flags = FOLDER_MOVE)
{
    auto eid = Eid(folder);
    return from->CopyFolder(static_cast<ULONG>(eid.size()), reinterpret_cast<LPENTRYID>(eid.data()), nullptr, to,
                            const_cast<LPSTR>(newName), 0, nullptr, flags);
}

HRESULT Delete(IMAPIFolder* parent, IMAPIFolder* folder, ULONG flags)
{
    auto eid = Eid(folder);
    return parent->DeleteFolder(static_cast<ULONG>(eid.size()), reinterpret_cast<LPENTRYID>(eid.data()), 0, nullptr,
                                flags);
}

class StoreFolders : public ::testing::Test {
protected:
    void SetUp() override
    {
        store = OpenStore(StorePath(home));
        ASSERT_TRUE(store);
        inbox = OpenInbox(store.Get());
        ASSERT_TRUE(inbox);
    }
    TempHome home;
    ComPtr<IMsgStore> store;
    ComPtr<IMAPIFolder> inbox;
};

TEST_F(StoreFolders, NamesCollideIgnoringCaseUnlessOpenIfExists)
{
    auto news = CreateSubfolder(inbox.Get(), "Newsgroups");
    ComPtr<IMAPIFolder> again;
    EXPECT_EQ(inbox->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>("NEWSGROUPS"), nullptr, nullptr, 0, &again),
              MAPI_E_COLLISION);
    EXPECT_FALSE(again);
    ASSERT_EQ(inbox->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>("newsgroups"), nullptr, nullptr, OPEN_IF_EXISTS,
                                  &again),
              S_OK);
    EXPECT_EQ(Eid(again.Get()), Eid(news.Get()));
    EXPECT_EQ(GetString(again.Get(), PR_DISPLAY_NAME), "Newsgroups");  // the existing one, as it was named
    EXPECT_EQ(inbox->CreateFolder(FOLDER_SEARCH, const_cast<LPSTR>("s"), nullptr, nullptr, 0, &again),
              MAPI_E_NO_SUPPORT);
    EXPECT_EQ(inbox->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>(""), nullptr, nullptr, 0, &again),
              MAPI_E_INVALID_PARAMETER);
    // The same name is fine under another parent.
    EXPECT_TRUE(CreateSubfolder(news.Get(), "Newsgroups"));

    // Renaming onto a sibling's name is refused per value; the folder keeps its name.
    auto other = CreateSubfolder(inbox.Get(), "Other");
    SPropValue name = StringProp(PR_DISPLAY_NAME, "newsGROUPS");
    MapiBuffer<SPropProblemArray> problems;
    ASSERT_EQ(other->SetProps(1, &name, &problems), S_OK);
    ASSERT_TRUE(problems);
    EXPECT_EQ(problems->aProblem[0].scode, MAPI_E_COLLISION);
    EXPECT_EQ(GetString(other.Get(), PR_DISPLAY_NAME), "Other");
    name = StringProp(PR_DISPLAY_NAME, "Renamed");
    ASSERT_EQ(other->SetProps(1, &name, &problems), S_OK);
    EXPECT_FALSE(problems);
    EXPECT_EQ(SubfolderNames(inbox.Get()), (std::vector<std::string>{"Newsgroups", "Renamed"}));

    // The hierarchy table answers a name lookup the way delivery asks it.
    ComPtr<IMAPITable> table;
    ASSERT_EQ(inbox->GetHierarchyTable(0, &table), S_OK);
    SPropValue want = StringProp(PR_DISPLAY_NAME, "Renamed");
    SRestriction r{};
    r.rt = RES_PROPERTY;
    r.res.resProperty = SPropertyRestriction{RELOP_EQ, PR_DISPLAY_NAME, &want};
    ASSERT_EQ(table->Restrict(&r, 0), S_OK);
    auto cols = MakeTagArray({PR_ENTRYID, PR_DISPLAY_NAME, PR_DEPTH});
    ASSERT_EQ(table->SetColumns(cols.Get(), 0), S_OK);
    RowSetPtr rows;
    ASSERT_EQ(table->QueryRows(1, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    const SBinary& eid = rows->aRow[0].lpProps[0].Value.bin;
    EXPECT_EQ(std::vector<BYTE>(eid.lpb, eid.lpb + eid.cb), Eid(other.Get()));
    EXPECT_EQ(rows->aRow[0].lpProps[2].Value.l, 1);
}

// Counts are worked out only for what reads, restricts or sorts on them,
// and are then right, however the table is asked.
TEST_F(StoreFolders, HierarchyCountsAreRightWhenAskedForByColumnRestrictionOrSort)
{
    auto one = CreateSubfolder(inbox.Get(), "One");
    auto three = CreateSubfolder(inbox.Get(), "Three");
    CreateSubfolder(three.Get(), "Inner");
    AddMessage(one.Get(), "a");
    for (const char* s : {"b", "c", "d"}) AddMessage(three.Get(), s);

    auto counted = [&](const SRestriction* r, const SSortOrderSet* sort) {
        ComPtr<IMAPITable> table;
        EXPECT_EQ(inbox->GetHierarchyTable(0, &table), S_OK);
        auto cols = MakeTagArray({PR_DISPLAY_NAME, PR_CONTENT_COUNT, PR_SUBFOLDERS});
        EXPECT_EQ(table->SetColumns(cols.Get(), 0), S_OK);
        if (r) {
            EXPECT_EQ(table->Restrict(const_cast<LPSRestriction>(r), 0), S_OK);
        }
        if (sort) {
            EXPECT_EQ(table->SortTable(const_cast<LPSSortOrderSet>(sort), 0), S_OK);
        }
        RowSetPtr rows;
        EXPECT_EQ(table->QueryRows(10, 0, &rows), S_OK);
        std::vector<std::string> out;
        for (ULONG i = 0; rows && i < rows->cRows; ++i) {
            const SPropValue* v = rows->aRow[i].lpProps;
            out.push_back(std::string(v[0].Value.lpszA) + " " + std::to_string(v[1].Value.l) +
                          (v[2].Value.b ? " sub" : ""));
        }
        return out;
    };
    EXPECT_EQ(counted(nullptr, nullptr), (std::vector<std::string>{"One 1", "Three 3 sub"}));
    SPropValue two{};
    two.ulPropTag = PR_CONTENT_COUNT;
    two.Value.l = 2;
    SRestriction moreThanTwo{};
    moreThanTwo.rt = RES_PROPERTY;
    moreThanTwo.res.resProperty = SPropertyRestriction{RELOP_GT, PR_CONTENT_COUNT, &two};
    EXPECT_EQ(counted(&moreThanTwo, nullptr), (std::vector<std::string>{"Three 3 sub"}));
    SSortOrderSet byCount{1, 0, 0, {{PR_CONTENT_COUNT, TABLE_SORT_DESCEND}}};
    EXPECT_EQ(counted(nullptr, &byCount), (std::vector<std::string>{"Three 3 sub", "One 1"}));
}

TEST_F(StoreFolders, MovingKeepsEntryIdsAndRefusesCycles)
{
    auto a = CreateSubfolder(inbox.Get(), "A");
    auto a1 = CreateSubfolder(a.Get(), "A1");
    auto b = CreateSubfolder(inbox.Get(), "B");
    auto m = AddMessage(a1.Get(), "inside");
    const auto aId = Eid(a.Get());
    const auto mId = Eid(m.Get());

    EXPECT_EQ(Move(inbox.Get(), a.Get(), a1.Get()), MAPI_E_FOLDER_CYCLE);
    EXPECT_EQ(Move(inbox.Get(), a.Get(), a.Get()), MAPI_E_FOLDER_CYCLE);
    CreateSubfolder(b.Get(), "a");
    EXPECT_EQ(Move(inbox.Get(), a.Get(), b.Get()), MAPI_E_COLLISION);
    EXPECT_EQ(Move(b.Get(), a.Get(), inbox.Get()), MAPI_E_NOT_FOUND);  // not a sub-folder of b
    EXPECT_EQ(Move(inbox.Get(), a.Get(), b.Get(), "Moved"), S_OK);
    EXPECT_EQ(SubfolderNames(inbox.Get()), std::vector<std::string>{"B"});
    EXPECT_EQ(SubfolderNames(b.Get()), (std::vector<std::string>{"Moved", "a"}));  // in creation order
    auto moved = OpenEntryAs<IMAPIFolder>(store.Get(), aId);
    ASSERT_TRUE(moved);
    EXPECT_EQ(GetString(moved.Get(), PR_DISPLAY_NAME), "Moved");
    EXPECT_EQ(GetBinary(moved.Get(), PR_PARENT_ENTRYID), Eid(b.Get()));
    EXPECT_EQ(SubfolderNames(moved.Get()), std::vector<std::string>{"A1"});
    auto stillThere = OpenEntryAs<IMessage>(store.Get(), mId);
    ASSERT_TRUE(stillThere);
    EXPECT_EQ(GetString(stillThere.Get(), PR_SUBJECT), "inside");

    // Default folders stay where they are.
    auto ipm = OpenFolder(store.Get(), PR_IPM_SUBTREE_ENTRYID);
    auto outbox = OpenFolder(store.Get(), PR_IPM_OUTBOX_ENTRYID);
    EXPECT_EQ(Move(ipm.Get(), outbox.Get(), b.Get()), MAPI_E_NO_ACCESS);
}

TEST_F(StoreFolders, CopyingTakesMessagesAndAskedForSubfolders)
{
    auto src = CreateSubfolder(inbox.Get(), "Src");
    auto child = CreateSubfolder(src.Get(), "Child");
    AddMessage(src.Get(), "one");
    AddMessage(src.Get(), "two");
    AddMessage(child.Get(), "deep");
    auto dest = CreateSubfolder(inbox.Get(), "Dest");

    ASSERT_EQ(Move(inbox.Get(), src.Get(), dest.Get(), "Shallow", 0), S_OK);
    ASSERT_EQ(Move(inbox.Get(), src.Get(), dest.Get(), "Deep", COPY_SUBFOLDERS), S_OK);
    EXPECT_EQ(Move(inbox.Get(), src.Get(), child.Get(), nullptr, COPY_SUBFOLDERS), MAPI_E_FOLDER_CYCLE);
    // Without sub-folders a copy into its own sub-folder is well defined.
    EXPECT_EQ(Move(inbox.Get(), src.Get(), child.Get(), nullptr, 0), S_OK);

    EXPECT_EQ(SubfolderNames(dest.Get()), (std::vector<std::string>{"Shallow", "Deep"}));
    ComPtr<IMAPIFolder> shallow, deep;
    ASSERT_EQ(dest->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>("Shallow"), nullptr, nullptr, OPEN_IF_EXISTS, &shallow), S_OK);
    ASSERT_EQ(dest->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>("Deep"), nullptr, nullptr, OPEN_IF_EXISTS, &deep), S_OK);
    EXPECT_EQ(GetLong(shallow.Get(), PR_CONTENT_COUNT), 2);
    EXPECT_TRUE(SubfolderNames(shallow.Get()).empty());
    EXPECT_EQ(GetLong(deep.Get(), PR_CONTENT_COUNT), 2);
    ASSERT_EQ(SubfolderNames(deep.Get()), std::vector<std::string>{"Child"});
    ComPtr<IMAPIFolder> deepChild;
    ASSERT_EQ(deep->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>("Child"), nullptr, nullptr, OPEN_IF_EXISTS, &deepChild), S_OK);
    EXPECT_EQ(GetLong(deepChild.Get(), PR_CONTENT_COUNT), 1);
    EXPECT_NE(Eid(deepChild.Get()), Eid(child.Get()));
    // The source is untouched (its child got one more folder only).
    EXPECT_EQ(GetLong(src.Get(), PR_CONTENT_COUNT), 2);
    EXPECT_EQ(GetLong(child.Get(), PR_CONTENT_COUNT), 1);
    EXPECT_EQ(SubfolderNames(child.Get()), std::vector<std::string>{"Src"});
}

TEST_F(StoreFolders, DeletingNeedsFlagsForWhatTheFolderHolds)
{
    auto top = CreateSubfolder(inbox.Get(), "Top");
    auto sub = CreateSubfolder(top.Get(), "Sub");
    auto m = AddMessage(sub.Get(), "doomed");
    const auto mId = Eid(m.Get());
    const auto subId = Eid(sub.Get());
    m = nullptr;

    EXPECT_EQ(Delete(inbox.Get(), top.Get(), 0), MAPI_E_HAS_FOLDERS);
    EXPECT_EQ(Delete(top.Get(), sub.Get(), 0), MAPI_E_HAS_MESSAGES);
    EXPECT_EQ(Delete(top.Get(), sub.Get(), DEL_FOLDERS), MAPI_E_HAS_MESSAGES);
    EXPECT_EQ(Delete(inbox.Get(), top.Get(), DEL_FOLDERS | DEL_MESSAGES), S_OK);
    EXPECT_TRUE(SubfolderNames(inbox.Get()).empty());
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    auto gone = mId;
    EXPECT_EQ(store->OpenEntry(static_cast<ULONG>(gone.size()), reinterpret_cast<LPENTRYID>(gone.data()), nullptr, 0,
                               &type, &unk),
              MAPI_E_NOT_FOUND);
    gone = subId;
    EXPECT_EQ(store->OpenEntry(static_cast<ULONG>(gone.size()), reinterpret_cast<LPENTRYID>(gone.data()), nullptr, 0,
                               &type, &unk),
              MAPI_E_NOT_FOUND);
    // A new folder never takes a deleted folder's entry ID.
    EXPECT_NE(Eid(CreateSubfolder(inbox.Get(), "Sub").Get()), subId);

    auto ipm = OpenFolder(store.Get(), PR_IPM_SUBTREE_ENTRYID);
    EXPECT_EQ(Delete(ipm.Get(), inbox.Get(), DEL_FOLDERS | DEL_MESSAGES), MAPI_E_NO_ACCESS);
    // An empty folder goes without flags.
    auto empty = CreateSubfolder(inbox.Get(), "Empty");
    EXPECT_EQ(Delete(inbox.Get(), empty.Get(), 0), S_OK);
}

TEST_F(StoreFolders, MessageOperationsOfAFolder)
{
    auto other = CreateSubfolder(inbox.Get(), "Other");
    std::vector<std::vector<BYTE>> ids;
    for (const char* s : {"a", "b", "c"}) ids.push_back(Eid(AddMessage(inbox.Get(), s).Get()));
    EXPECT_EQ(GetLong(inbox.Get(), PR_CONTENT_COUNT), 3);
    EXPECT_EQ(GetLong(inbox.Get(), PR_CONTENT_UNREAD), 0);  // what one writes oneself is read

    std::vector<SBinary> bins;
    for (auto& id : ids) bins.push_back(SBinary{static_cast<ULONG>(id.size()), id.data()});
    ENTRYLIST all{3, bins.data()};
    ASSERT_EQ(inbox->SetReadFlags(&all, 0, nullptr, CLEAR_READ_FLAG), S_OK);
    EXPECT_EQ(GetLong(inbox.Get(), PR_CONTENT_UNREAD), 3);
    ENTRYLIST first{1, bins.data()};
    ASSERT_EQ(inbox->SetReadFlags(&first, 0, nullptr, 0), S_OK);
    EXPECT_EQ(GetLong(inbox.Get(), PR_CONTENT_UNREAD), 2);

    ULONG old = 0;
    ASSERT_EQ(inbox->SetMessageStatus(bins[1].cb, reinterpret_cast<LPENTRYID>(bins[1].lpb), MSGSTATUS_REMOTE_DOWNLOAD,
                                      MSGSTATUS_REMOTE_DOWNLOAD | MSGSTATUS_TAGGED, &old),
              S_OK);
    EXPECT_EQ(old, 0u);
    ULONG status = 0;
    ASSERT_EQ(inbox->GetMessageStatus(bins[1].cb, reinterpret_cast<LPENTRYID>(bins[1].lpb), 0, &status), S_OK);
    EXPECT_EQ(status, MSGSTATUS_REMOTE_DOWNLOAD);
    EXPECT_EQ(GetLong(OpenEntryAs<IMessage>(store.Get(), ids[1]).Get(), PR_MSG_STATUS),
              static_cast<LONG>(MSGSTATUS_REMOTE_DOWNLOAD));

    // Copy leaves the original; move keeps the entry ID; a message not in
    // the folder is reported as partial completion.
    ENTRYLIST second{1, bins.data() + 1};
    ASSERT_EQ(inbox->CopyMessages(&first, nullptr, other.Get(), 0, nullptr, 0), S_OK);
    ASSERT_EQ(inbox->CopyMessages(&second, nullptr, other.Get(), 0, nullptr, MESSAGE_MOVE), S_OK);
    EXPECT_EQ(GetLong(inbox.Get(), PR_CONTENT_COUNT), 2);
    EXPECT_EQ(GetLong(other.Get(), PR_CONTENT_COUNT), 2);
    EXPECT_EQ(GetBinary(OpenEntryAs<IMessage>(store.Get(), ids[1]).Get(), PR_PARENT_ENTRYID), Eid(other.Get()));
    EXPECT_EQ(inbox->CopyMessages(&second, nullptr, other.Get(), 0, nullptr, MESSAGE_MOVE), MAPI_W_PARTIAL_COMPLETION);

    ASSERT_EQ(inbox->DeleteMessages(&all, 0, nullptr, 0), MAPI_W_PARTIAL_COMPLETION);  // b is elsewhere now
    EXPECT_EQ(GetLong(inbox.Get(), PR_CONTENT_COUNT), 0);

    // EmptyFolder takes messages and sub-folders, and leaves associated
    // messages unless asked.
    CreateSubfolder(other.Get(), "Sub");
    ComPtr<IMessage> fai;
    ASSERT_EQ(other->CreateMessage(nullptr, MAPI_ASSOCIATED, &fai), S_OK);
    ASSERT_EQ(fai->SaveChanges(0), S_OK);
    EXPECT_EQ(GetLong(other.Get(), PR_ASSOC_CONTENT_COUNT), 1);
    ASSERT_EQ(other->EmptyFolder(0, nullptr, 0), S_OK);
    EXPECT_EQ(GetLong(other.Get(), PR_CONTENT_COUNT), 0);
    EXPECT_EQ(GetLong(other.Get(), PR_ASSOC_CONTENT_COUNT), 1);
    EXPECT_TRUE(SubfolderNames(other.Get()).empty());
    ASSERT_EQ(other->EmptyFolder(0, nullptr, DEL_ASSOCIATED), S_OK);
    EXPECT_EQ(GetLong(other.Get(), PR_ASSOC_CONTENT_COUNT), 0);
}

// Records object notifications.
class Sink final : public IMAPIAdviseSink, public CRefCounted {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IMAPIAdviseSink, this}});
    }
    QUILLORY_IUNKNOWN_REFCOUNT
    ULONG OnNotify(ULONG n, LPNOTIFICATION notes) override
    {
        for (ULONG i = 0; i < n; ++i) {
            const OBJECT_NOTIFICATION& o = notes[i].info.obj;
            Event e{notes[i].ulEventType, o.ulObjType, {}, {}, {}};
            auto copy = [](ULONG cb, LPENTRYID p) {
                return p ? std::vector<BYTE>(reinterpret_cast<BYTE*>(p), reinterpret_cast<BYTE*>(p) + cb)
                         : std::vector<BYTE>{};
            };
            e.id = copy(o.cbEntryID, o.lpEntryID);
            e.parent = copy(o.cbParentID, o.lpParentID);
            e.oldParent = copy(o.cbOldParentID, o.lpOldParentID);
            events.push_back(e);
        }
        return 0;
    }
    struct Event {
        ULONG type;
        ULONG objType;
        std::vector<BYTE> id, parent, oldParent;
    };
    std::vector<Event> events;
};

TEST_F(StoreFolders, SinksHearChangesOfTheirFolderFromAnyStoreObject)
{
    auto watched = CreateSubfolder(inbox.Get(), "Watched");
    auto elsewhere = CreateSubfolder(inbox.Get(), "Elsewhere");
    auto sink = ComPtr<Sink>::Attach(NewComObject<Sink>());
    auto all = ComPtr<Sink>::Attach(NewComObject<Sink>());
    auto wid = Eid(watched.Get());
    ULONG c1 = 0, c2 = 0;
    ASSERT_EQ(store->Advise(static_cast<ULONG>(wid.size()), reinterpret_cast<LPENTRYID>(wid.data()),
                            fnevObjectCreated | fnevObjectMoved | fnevObjectDeleted, sink.Get(), &c1),
              S_OK);
    // A second store object of the same file: its changes are heard too.
    auto store2 = OpenStore(StorePath(home));
    ASSERT_EQ(store2->Advise(0, nullptr, fnevObjectCreated, all.Get(), &c2), S_OK);
    auto watched2 = OpenEntryAs<IMAPIFolder>(store2.Get(), wid);
    auto m = AddMessage(watched2.Get(), "news");
    AddMessage(elsewhere.Get(), "not heard by the folder sink");
    auto sub = CreateSubfolder(watched.Get(), "Sub");
    ASSERT_EQ(Move(watched.Get(), sub.Get(), elsewhere.Get()), S_OK);

    ASSERT_EQ(sink->events.size(), 3u);
    EXPECT_EQ(sink->events[0].type, static_cast<ULONG>(fnevObjectCreated));
    EXPECT_EQ(sink->events[0].objType, static_cast<ULONG>(MAPI_MESSAGE));
    EXPECT_EQ(sink->events[0].id, Eid(m.Get()));
    EXPECT_EQ(sink->events[0].parent, wid);
    EXPECT_EQ(sink->events[1].objType, static_cast<ULONG>(MAPI_FOLDER));
    EXPECT_EQ(sink->events[2].type, static_cast<ULONG>(fnevObjectMoved));
    EXPECT_EQ(sink->events[2].parent, Eid(elsewhere.Get()));
    EXPECT_EQ(sink->events[2].oldParent, wid);
    EXPECT_EQ(all->events.size(), 3u);  // two messages and a folder created

    ASSERT_EQ(store->Unadvise(c1), S_OK);
    EXPECT_EQ(store->Unadvise(c1), MAPI_E_NOT_FOUND);
    AddMessage(watched.Get(), "after");
    EXPECT_EQ(sink->events.size(), 3u);
    auto foreign = Eid(OpenInbox(OpenStore(StorePath(home, "x.db"), 9).Get()).Get());
    ULONG c3 = 0;
    EXPECT_EQ(store->Advise(static_cast<ULONG>(foreign.size()), reinterpret_cast<LPENTRYID>(foreign.data()),
                            fnevObjectCreated, sink.Get(), &c3),
              MAPI_E_INVALID_ENTRYID);
}

}  // namespace
}  // namespace quillory::testing
