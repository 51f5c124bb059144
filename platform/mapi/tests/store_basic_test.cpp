#include <algorithm>
#include <cstring>
#include <fstream>

#include "platform/mapi/entryid.h"
#include "platform/mapi/tests/store_test_util.h"

namespace quillory::testing {
namespace {

std::vector<BYTE> EntryIdOf(IMAPIProp* obj) { return GetBinary(obj, PR_ENTRYID); }

TEST(StoreBasic, NewStoreHasItsDefaultFoldersAndIdentity)
{
    TempHome home;
    auto store = OpenStore(StorePath(home), 7);
    ASSERT_TRUE(store);
    EXPECT_EQ(GetString(store.Get(), PR_DISPLAY_NAME), "Test store");
    EXPECT_EQ(GetLong(store.Get(), PR_OBJECT_TYPE), static_cast<LONG>(MAPI_STORE));
    const ULONG valid = FOLDER_IPM_SUBTREE_VALID | FOLDER_IPM_INBOX_VALID | FOLDER_IPM_OUTBOX_VALID |
                        FOLDER_IPM_WASTEBASKET_VALID | FOLDER_IPM_SENTMAIL_VALID;
    EXPECT_EQ(static_cast<ULONG>(GetLong(store.Get(), PR_VALID_FOLDER_MASK)) & valid, valid);
    EXPECT_TRUE(GetLong(store.Get(), PR_STORE_SUPPORT_MASK) & STORE_SUBMIT_OK);
    const MAPIUID uid = TestUid(7);
    EXPECT_EQ(GetBinary(store.Get(), PR_STORE_RECORD_KEY), std::vector<BYTE>(uid.ab, uid.ab + 16));
    EXPECT_EQ(GetBinary(store.Get(), PR_MDB_PROVIDER),
              std::vector<BYTE>(kQuilloryStoreProvider.ab, kQuilloryStoreProvider.ab + 16));
    EXPECT_EQ(GetBinary(store.Get(), PR_ENTRYID), GetBinary(store.Get(), PR_STORE_ENTRYID));

    auto ipm = OpenFolder(store.Get(), PR_IPM_SUBTREE_ENTRYID);
    ASSERT_TRUE(ipm);
    EXPECT_EQ(GetString(ipm.Get(), PR_DISPLAY_NAME), "Top of Information Store");
    EXPECT_EQ(SubfolderNames(ipm.Get()),
              (std::vector<std::string>{"Inbox", "Outbox", "Sent Items", "Deleted Items"}));
    EXPECT_EQ(GetString(OpenFolder(store.Get(), PR_IPM_OUTBOX_ENTRYID).Get(), PR_DISPLAY_NAME), "Outbox");
    EXPECT_EQ(GetString(OpenFolder(store.Get(), PR_IPM_SENTMAIL_ENTRYID).Get(), PR_DISPLAY_NAME), "Sent Items");
    EXPECT_EQ(GetString(OpenFolder(store.Get(), PR_IPM_WASTEBASKET_ENTRYID).Get(), PR_DISPLAY_NAME), "Deleted Items");
    auto inbox = OpenInbox(store.Get());
    ASSERT_TRUE(inbox);
    EXPECT_EQ(GetString(inbox.Get(), PR_DISPLAY_NAME), "Inbox");
    EXPECT_EQ(GetBinary(inbox.Get(), PR_PARENT_ENTRYID), EntryIdOf(ipm.Get()));

    // The root (no entry ID) holds the IPM subtree.
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    ASSERT_EQ(store->OpenEntry(0, nullptr, nullptr, 0, &type, &unk), S_OK);
    EXPECT_EQ(type, static_cast<ULONG>(MAPI_FOLDER));
    auto root = ComPtr<IMAPIFolder>(static_cast<IMAPIFolder*>(unk.Get()));
    EXPECT_EQ(SubfolderNames(root.Get()), std::vector<std::string>{"Top of Information Store"});
}

TEST(StoreBasic, ReceiveFoldersMatchTheLongestClassPrefix)
{
    TempHome home;
    auto store = OpenStore(StorePath(home));
    auto sent = EntryIdOf(OpenFolder(store.Get(), PR_IPM_SENTMAIL_ENTRYID).Get());
    auto inbox = EntryIdOf(OpenInbox(store.Get()).Get());
    ASSERT_EQ(store->SetReceiveFolder(const_cast<LPSTR>("IPM.Post"), 0, static_cast<ULONG>(sent.size()),
                                      reinterpret_cast<LPENTRYID>(sent.data())),
              S_OK);
    auto ask = [&](const char* cls, std::string* explicitClass) {
        ULONG cb = 0;
        MapiBuffer<ENTRYID> eid;
        MapiBuffer<char> matched;
        EXPECT_EQ(store->GetReceiveFolder(const_cast<LPSTR>(cls), 0, &cb, &eid, &matched), S_OK) << cls;
        *explicitClass = matched ? matched.Get() : "";
        return std::vector<BYTE>(reinterpret_cast<BYTE*>(eid.Get()), reinterpret_cast<BYTE*>(eid.Get()) + cb);
    };
    std::string cls;
    EXPECT_EQ(ask("ipm.post.newsgroup", &cls), sent);
    EXPECT_EQ(cls, "IPM.Post");
    EXPECT_EQ(ask("IPM.Postal", &cls), inbox);  // prefixes end at dots
    EXPECT_EQ(cls, "");
    EXPECT_EQ(ask("IPM.Note", &cls), inbox);
    // Removing the class falls back to the default again; it persists.
    ASSERT_EQ(store->SetReceiveFolder(const_cast<LPSTR>("IPM.Post"), 0, 0, nullptr), S_OK);
    store = OpenStore(StorePath(home));
    EXPECT_EQ(ask("IPM.Post", &cls), inbox);
}

TEST(StoreBasic, EverythingPersistsAcrossReopen)
{
    TempHome home;
    std::vector<BYTE> folderId, messageId, storeId;
    const std::vector<BYTE> data = [] {
        std::vector<BYTE> d(300000);
        for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<BYTE>(i * 7 + 3);
        return d;
    }();
    {
        auto store = OpenStore(StorePath(home));
        storeId = GetBinary(store.Get(), PR_ENTRYID);
        auto inbox = OpenInbox(store.Get());
        auto group = CreateSubfolder(CreateSubfolder(inbox.Get(), "News").Get(), "alt.test");
        SPropValue comment = StringProp(PR_COMMENT, "folder comment");
        ASSERT_EQ(group->SetProps(1, &comment, nullptr), S_OK);
        folderId = EntryIdOf(group.Get());

        LPSTR refs[] = {const_cast<LPSTR>("<a@b>"), const_cast<LPSTR>("<c@d>")};
        SPropValue mv{};
        mv.ulPropTag = PROP_TAG(PT_MV_STRING8, 0x6701);
        mv.Value.MVszA = SLPSTRArray{2, refs};
        const std::vector<BYTE> index{1, 2, 3};
        auto m = AddMessage(group.Get(), "Hello", {LongProp(PR_INTERNET_ARTICLE_NUMBER, 42), mv,
                                                   BinaryProp(PR_CONVERSATION_INDEX, index)});
        ASSERT_TRUE(m);
        SPropValue r1[] = {StringProp(PR_DISPLAY_NAME, "alt.test"), StringProp(PR_ADDRTYPE, "NNTP"),
                           StringProp(PR_EMAIL_ADDRESS, "alt.test"), LongProp(PR_RECIPIENT_TYPE, MAPI_TO)};
        SPropValue r2[] = {StringProp(PR_DISPLAY_NAME, "Copy"), LongProp(PR_RECIPIENT_TYPE, MAPI_CC)};
        MapiBuffer<ADRLIST> list;
        ASSERT_EQ(MAPIAllocateBuffer(CbNewADRLIST(2), list.AsVoidOut()), S_OK);
        list->cEntries = 2;
        list->aEntries[0] = ADRENTRY{0, 4, r1};
        list->aEntries[1] = ADRENTRY{0, 2, r2};
        ASSERT_EQ(m->ModifyRecipients(MODRECIP_ADD, list.Get()), S_OK);
        ULONG num = 0;
        ComPtr<IAttach> att;
        ASSERT_EQ(m->CreateAttach(nullptr, 0, &num, &att), S_OK);
        SPropValue name = StringProp(PR_ATTACH_FILENAME, "data.bin");
        ASSERT_EQ(att->SetProps(1, &name, nullptr), S_OK);
        ComPtr<IUnknown> unk;
        ASSERT_EQ(att->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, &unk), S_OK);
        auto* stream = static_cast<IStream*>(unk.Get());
        ULONG written = 0;
        ASSERT_EQ(stream->Write(data.data(), static_cast<ULONG>(data.size()), &written), S_OK);
        ASSERT_EQ(stream->Commit(0), S_OK);
        ASSERT_EQ(att->SaveChanges(0), S_OK);
        ASSERT_EQ(m->SaveChanges(0), S_OK);
        messageId = EntryIdOf(m.Get());
        EXPECT_EQ(GetString(m.Get(), PR_DISPLAY_TO), "alt.test");
        EXPECT_EQ(GetString(m.Get(), PR_DISPLAY_CC), "Copy");
    }

    // A new connection sees the same objects under the same entry IDs.
    auto store = OpenStore(StorePath(home), 99);  // an existing store keeps its UID
    EXPECT_EQ(GetBinary(store.Get(), PR_ENTRYID), storeId);
    auto group = OpenEntryAs<IMAPIFolder>(store.Get(), folderId);
    ASSERT_TRUE(group);
    EXPECT_EQ(GetString(group.Get(), PR_DISPLAY_NAME), "alt.test");
    EXPECT_EQ(GetString(group.Get(), PR_COMMENT), "folder comment");
    EXPECT_EQ(GetLong(group.Get(), PR_CONTENT_COUNT), 1);
    auto m = OpenEntryAs<IMessage>(store.Get(), messageId, 0);
    ASSERT_TRUE(m);
    EXPECT_EQ(GetString(m.Get(), PR_SUBJECT), "Hello");
    EXPECT_EQ(GetLong(m.Get(), PR_INTERNET_ARTICLE_NUMBER), 42);
    EXPECT_EQ(GetBinary(m.Get(), PR_CONVERSATION_INDEX), (std::vector<BYTE>{1, 2, 3}));
    EXPECT_EQ(GetBinary(m.Get(), PR_PARENT_ENTRYID), folderId);
    EXPECT_TRUE(GetLong(m.Get(), PR_MESSAGE_FLAGS) & MSGFLAG_HASATTACH);
    MapiBuffer<SPropValue> mv;
    ASSERT_EQ(HrGetOneProp(m.Get(), PROP_TAG(PT_MV_STRING8, 0x6701), &mv), S_OK);
    ASSERT_EQ(mv->Value.MVszA.cValues, 2u);
    EXPECT_STREQ(mv->Value.MVszA.lppszA[1], "<c@d>");

    ComPtr<IMAPITable> recips;
    ASSERT_EQ(m->GetRecipientTable(0, &recips), S_OK);
    auto cols = MakeTagArray({PR_ROWID, PR_DISPLAY_NAME, PR_RECIPIENT_TYPE, PR_ADDRTYPE});
    ASSERT_EQ(recips->SetColumns(cols.Get(), 0), S_OK);
    RowSetPtr rows;
    ASSERT_EQ(recips->QueryRows(10, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 2u);
    EXPECT_STREQ(rows->aRow[0].lpProps[1].Value.lpszA, "alt.test");
    EXPECT_STREQ(rows->aRow[0].lpProps[3].Value.lpszA, "NNTP");
    EXPECT_EQ(rows->aRow[1].lpProps[2].Value.l, static_cast<LONG>(MAPI_CC));
    EXPECT_EQ(PROP_TYPE(rows->aRow[1].lpProps[3].ulPropTag), PT_ERROR);  // the second had no address type

    ComPtr<IMAPITable> atts;
    ASSERT_EQ(m->GetAttachmentTable(0, &atts), S_OK);
    auto acols = MakeTagArray({PR_ATTACH_NUM, PR_ATTACH_FILENAME, PR_ATTACH_SIZE});
    ASSERT_EQ(atts->SetColumns(acols.Get(), 0), S_OK);
    RowSetPtr arows;
    ASSERT_EQ(atts->QueryRows(10, 0, &arows), S_OK);
    ASSERT_EQ(arows->cRows, 1u);
    EXPECT_STREQ(arows->aRow[0].lpProps[1].Value.lpszA, "data.bin");
    EXPECT_GE(static_cast<ULONG>(arows->aRow[0].lpProps[2].Value.l), data.size());
    ComPtr<IAttach> att;
    ASSERT_EQ(m->OpenAttach(static_cast<ULONG>(arows->aRow[0].lpProps[0].Value.l), nullptr, 0, &att), S_OK);
    ComPtr<IUnknown> unk;
    ASSERT_EQ(att->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, 0, &unk), S_OK);
    std::string read;
    ASSERT_EQ(ReadWholeStream(static_cast<IStream*>(unk.Get()), read), S_OK);
    EXPECT_EQ(std::vector<BYTE>(read.begin(), read.end()), data);
    // Opened without MAPI_MODIFY, the message refuses changes.
    SPropValue s = StringProp(PR_SUBJECT, "changed");
    EXPECT_EQ(m->SetProps(1, &s, nullptr), MAPI_E_NO_ACCESS);
}

TEST(StoreBasic, ForeignCutAndDamagedEntryIdsAreInvalid)
{
    TempHome home;
    auto store = OpenStore(StorePath(home, "a.db"), 1);
    auto other = OpenStore(StorePath(home, "b.db"), 2);
    auto foreign = EntryIdOf(OpenInbox(other.Get()).Get());
    auto own = EntryIdOf(OpenInbox(store.Get()).Get());
    ASSERT_EQ(own.size(), kStoreEntryIdSize);
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    auto open = [&](std::vector<BYTE> eid) {
        return store->OpenEntry(static_cast<ULONG>(eid.size()), reinterpret_cast<LPENTRYID>(eid.data()), nullptr, 0,
                                &type, &unk);
    };
    EXPECT_EQ(open(foreign), MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(open(std::vector<BYTE>(own.begin(), own.end() - 1)), MAPI_E_INVALID_ENTRYID);
    EXPECT_EQ(open(std::vector<BYTE>(own.begin(), own.begin() + 4)), MAPI_E_INVALID_ENTRYID);
    auto damaged = own;
    damaged[21] = 0x42;  // unknown kind
    EXPECT_EQ(open(damaged), MAPI_E_INVALID_ENTRYID);
    auto gone = own;
    gone[24] = 0xEE;  // a folder that was never made
    EXPECT_EQ(open(gone), MAPI_E_NOT_FOUND);
    EXPECT_EQ(open(own), S_OK);

    ULONG same = TRUE;
    EXPECT_EQ(store->CompareEntryIDs(static_cast<ULONG>(own.size()), reinterpret_cast<LPENTRYID>(own.data()),
                                     static_cast<ULONG>(foreign.size()), reinterpret_cast<LPENTRYID>(foreign.data()),
                                     0, &same),
              S_OK);
    EXPECT_FALSE(same);
    auto copy = own;
    EXPECT_EQ(store->CompareEntryIDs(static_cast<ULONG>(own.size()), reinterpret_cast<LPENTRYID>(own.data()),
                                     static_cast<ULONG>(copy.size()), reinterpret_cast<LPENTRYID>(copy.data()), 0,
                                     &same),
              S_OK);
    EXPECT_TRUE(same);
    EXPECT_EQ(store->CompareEntryIDs(3, reinterpret_cast<LPENTRYID>(own.data()), static_cast<ULONG>(copy.size()),
                                     reinterpret_cast<LPENTRYID>(copy.data()), 0, &same),
              MAPI_E_INVALID_ENTRYID);
    MAPIUID uid{};
    EXPECT_TRUE(StoreUidOfEntryId(static_cast<ULONG>(foreign.size()), reinterpret_cast<LPENTRYID>(foreign.data()), &uid));
    EXPECT_TRUE(SameUid(uid, TestUid(2)));
}

std::vector<char> ReadFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

// A sound, empty SQLite database of one 4096-byte page: a file of the right
// kind that is no store.
std::vector<char> EmptySqliteDatabase()
{
    std::vector<char> db(4096, 0);
    std::memcpy(db.data(), "SQLite format 3", 16);
    const unsigned char header[] = {0x10, 0x00, 1, 1, 0, 64, 32, 32};  // page size, versions, payload fractions
    std::memcpy(db.data() + 16, header, sizeof header);
    db[27] = 1;   // change counter
    db[31] = 1;   // pages
    db[47] = 4;   // schema format
    db[59] = 1;   // UTF-8
    db[95] = 1;   // version-valid-for, matching the change counter
    const unsigned char version[] = {0x00, 0x2E, 0x71, 0x01};  // written by 3.40.1
    std::memcpy(db.data() + 96, version, sizeof version);
    db[100] = 0x0D;  // an empty leaf table page: the schema table
    db[105] = 0x10;  // cell content starts at 4096
    return db;
}

TEST(StoreBasic, DamagedFilesAreRefusedAndLeftAlone)
{
    TempHome home;
    const auto good = StorePath(home, "good.db");
    {
        auto store = OpenStore(good);
        auto inbox = OpenInbox(store.Get());
        for (int i = 0; i < 50; ++i) AddMessage(inbox.Get(), std::string(2000, 'x').c_str());
    }
    const auto full = ReadFile(good);
    ASSERT_GT(full.size(), 8192u);

    auto write = [&](const char* name, const std::vector<char>& bytes) {
        const auto p = StorePath(home, name);
        std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return p;
    };
    const std::string text = "This is not a message store at all, just some text.\n";
    std::vector<std::filesystem::path> damaged = {
        write("text.db", std::vector<char>(text.begin(), text.end())),
        write("empty.db", {}),
        write("cut.db", std::vector<char>(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(full.size() / 2))),
        write("header.db", std::vector<char>(full.begin(), full.begin() + 100)),
    };
    damaged.push_back(write("other.db", EmptySqliteDatabase()));
    // Pages of the folder tree overwritten with noise.
    auto noisy = full;
    for (std::size_t i = 4096; i < noisy.size(); ++i) noisy[i] = static_cast<char>(i * 131);
    damaged.push_back(write("noise.db", noisy));
    // Message pages zeroed: the open reads them although it needs none of them.
    auto zeroed = full;
    std::fill(zeroed.begin() + static_cast<std::ptrdiff_t>(full.size() / 2),
              zeroed.begin() + static_cast<std::ptrdiff_t>(full.size() / 2 + 2 * 4096), 0);
    damaged.push_back(write("zeroed.db", zeroed));

    for (const auto& p : damaged) {
        const auto before = ReadFile(p);
        ComPtr<IMsgStore> store;
        std::string error;
        EXPECT_EQ(OpenMessageStore(p, TestUid(1), "x", 0, &store, &error), MAPI_E_CORRUPT_STORE) << p.filename();
        EXPECT_FALSE(store);
        EXPECT_TRUE(error.starts_with(p.string() + " ")) << error;
        EXPECT_EQ(ReadFile(p), before) << p.filename();
        EXPECT_FALSE(std::filesystem::exists(p.string() + "-wal")) << p.filename();
    }
    // The good one still opens.
    EXPECT_TRUE(OpenStore(good));
}

}  // namespace
}  // namespace quillory::testing
