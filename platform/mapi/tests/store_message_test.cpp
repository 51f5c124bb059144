#include "platform/mapi/tests/store_test_util.h"

namespace quillory::testing {
namespace {

std::vector<BYTE> Eid(IMAPIProp* obj) { return GetBinary(obj, PR_ENTRYID); }

// An address list in one MAPI chain.
class AdrList {
public:
    explicit AdrList(std::vector<std::vector<SPropValue>> entries) : entries_(std::move(entries))
    {
        EXPECT_EQ(MAPIAllocateBuffer(CbNewADRLIST(static_cast<ULONG>(entries_.size())), list_.AsVoidOut()), S_OK);
        list_->cEntries = static_cast<ULONG>(entries_.size());
        for (std::size_t i = 0; i < entries_.size(); ++i)
            list_->aEntries[i] = ADRENTRY{0, static_cast<ULONG>(entries_[i].size()), entries_[i].data()};
    }
    LPADRLIST Get() { return list_.Get(); }

private:
    std::vector<std::vector<SPropValue>> entries_;
    MapiBuffer<ADRLIST> list_;
};

// Recipient rows as (row id, display name).
std::vector<std::pair<ULONG, std::string>> Recipients(IMessage* m)
{
    ComPtr<IMAPITable> t;
    EXPECT_EQ(m->GetRecipientTable(0, &t), S_OK);
    auto cols = MakeTagArray({PR_ROWID, PR_DISPLAY_NAME});
    EXPECT_EQ(t->SetColumns(cols.Get(), 0), S_OK);
    RowSetPtr rows;
    EXPECT_EQ(t->QueryRows(100, 0, &rows), S_OK);
    std::vector<std::pair<ULONG, std::string>> out;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SPropValue* p = rows->aRow[i].lpProps;
        out.emplace_back(p[0].Value.ul, PROP_TYPE(p[1].ulPropTag) == PT_STRING8 ? p[1].Value.lpszA : "");
    }
    return out;
}

class StoreMessages : public ::testing::Test {
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

TEST_F(StoreMessages, RecipientsAreAddedModifiedAndRemovedByRowId)
{
    auto m = AddMessage(inbox.Get(), "r");
    AdrList add({{StringProp(PR_DISPLAY_NAME, "Ann"), LongProp(PR_RECIPIENT_TYPE, MAPI_TO)},
                 {StringProp(PR_DISPLAY_NAME, "Bob"), LongProp(PR_RECIPIENT_TYPE, MAPI_CC)},
                 {StringProp(PR_DISPLAY_NAME, "Cid"), LongProp(PR_RECIPIENT_TYPE, MAPI_TO)}});
    ASSERT_EQ(m->ModifyRecipients(MODRECIP_ADD, add.Get()), S_OK);
    auto rows = Recipients(m.Get());
    ASSERT_EQ(rows.size(), 3u);
    const ULONG bob = rows[1].first;

    // Modify replaces the recipient's values, error and null values dropped.
    SPropValue err{};
    err.ulPropTag = CHANGE_PROP_TYPE(PR_REPORT_TEXT, PT_ERROR);
    err.Value.err = MAPI_E_NOT_FOUND;
    SPropValue null{};
    null.ulPropTag = PR_NULL;
    AdrList modify({{LongProp(PR_ROWID, static_cast<LONG>(bob)), StringProp(PR_DISPLAY_NAME, "Robert"),
                     LongProp(PR_RECIPIENT_TYPE, MAPI_TO), err, null}});
    ASSERT_EQ(m->ModifyRecipients(MODRECIP_MODIFY, modify.Get()), S_OK);
    AdrList remove({{LongProp(PR_ROWID, static_cast<LONG>(rows[0].first))}});
    ASSERT_EQ(m->ModifyRecipients(MODRECIP_REMOVE, remove.Get()), S_OK);
    AdrList unknown({{LongProp(PR_ROWID, 999)}});
    EXPECT_EQ(m->ModifyRecipients(MODRECIP_REMOVE, unknown.Get()), MAPI_E_NOT_FOUND);
    AdrList noRowId({{StringProp(PR_DISPLAY_NAME, "x")}});
    EXPECT_EQ(m->ModifyRecipients(MODRECIP_MODIFY, noRowId.Get()), MAPI_E_INVALID_PARAMETER);
    EXPECT_EQ(m->ModifyRecipients(MODRECIP_ADD | MODRECIP_REMOVE, add.Get()), MAPI_E_INVALID_PARAMETER);

    ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(GetString(m.Get(), PR_DISPLAY_TO), "Robert; Cid");
    EXPECT_EQ(GetString(m.Get(), PR_DISPLAY_CC), "");
    auto reopened = OpenEntryAs<IMessage>(store.Get(), Eid(m.Get()));
    EXPECT_EQ(Recipients(reopened.Get()),
              (std::vector<std::pair<ULONG, std::string>>{{bob, "Robert"}, {rows[2].first, "Cid"}}));

    // Without flags the list replaces all recipients; new rows get new ids.
    AdrList replace({{StringProp(PR_DISPLAY_NAME, "Only")}});
    ASSERT_EQ(reopened->ModifyRecipients(0, replace.Get()), S_OK);
    rows = Recipients(reopened.Get());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].second, "Only");
    EXPECT_GT(rows[0].first, bob);  // row ids are not given twice
    ASSERT_EQ(reopened->SaveChanges(0), S_OK);
    EXPECT_EQ(GetString(OpenEntryAs<IMessage>(store.Get(), Eid(m.Get())).Get(), PR_DISPLAY_TO), "Only");
}

TEST_F(StoreMessages, PropertiesOpenAsStreams)
{
    ComPtr<IMessage> m;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &m), S_OK);
    const std::string body(100000, 'b');
    {
        ComPtr<IUnknown> unk;
        ASSERT_EQ(m->OpenProperty(PR_BODY, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, &unk), S_OK);
        auto* s = static_cast<IStream*>(unk.Get());
        ULONG n = 0;
        for (std::size_t at = 0; at < body.size(); at += 1000) ASSERT_EQ(s->Write(body.data() + at, 1000, &n), S_OK);
        // Released without Commit: the bytes are kept all the same.
    }
    EXPECT_EQ(GetString(m.Get(), PR_BODY), body);
    {
        ComPtr<IUnknown> unk;
        ASSERT_EQ(m->OpenProperty(PR_HTML, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, &unk), S_OK);
        const char html[] = "<p>\0x</p>";  // binaries keep NULs
        ASSERT_EQ(static_cast<IStream*>(unk.Get())->Write(html, sizeof html - 1, nullptr), S_OK);
        ASSERT_EQ(static_cast<IStream*>(unk.Get())->Commit(0), S_OK);
    }
    EXPECT_EQ(GetBinary(m.Get(), PR_HTML).size(), 9u);
    ComPtr<IUnknown> unk;
    EXPECT_EQ(m->OpenProperty(PR_RTF_COMPRESSED, &IID_IStream, 0, 0, &unk), MAPI_E_NOT_FOUND);
    EXPECT_EQ(m->OpenProperty(PR_BODY, &IID_IMAPITable, 0, 0, &unk), MAPI_E_INTERFACE_NOT_SUPPORTED);
    ASSERT_EQ(m->SaveChanges(0), S_OK);

    auto ro = OpenEntryAs<IMessage>(store.Get(), Eid(m.Get()), 0);
    ASSERT_EQ(ro->OpenProperty(PR_BODY, &IID_IStream, 0, 0, &unk), S_OK);
    std::string read;
    ASSERT_EQ(ReadWholeStream(static_cast<IStream*>(unk.Get()), read), S_OK);
    EXPECT_EQ(read, body);
    EXPECT_EQ(static_cast<IStream*>(unk.Get())->Write("x", 1, nullptr), STG_E_ACCESSDENIED);
    EXPECT_EQ(ro->OpenProperty(PR_BODY, &IID_IStream, 0, MAPI_MODIFY, &unk), MAPI_E_NO_ACCESS);
}

TEST_F(StoreMessages, AttachmentsComeAndGo)
{
    auto m = AddMessage(inbox.Get(), "att");
    EXPECT_FALSE(GetLong(m.Get(), PR_MESSAGE_FLAGS) & MSGFLAG_HASATTACH);
    std::vector<ULONG> nums;
    const std::vector<BYTE> bytes{1, 2, 3};
    for (const char* name : {"one.txt", "two.txt"}) {
        ULONG num = 0;
        ComPtr<IAttach> a;
        ASSERT_EQ(m->CreateAttach(nullptr, 0, &num, &a), S_OK);
        SPropValue v[] = {StringProp(PR_ATTACH_FILENAME, name), LongProp(PR_ATTACH_METHOD, ATTACH_BY_VALUE),
                          BinaryProp(PR_ATTACH_DATA_BIN, bytes)};
        ASSERT_EQ(a->SetProps(3, v, nullptr), S_OK);
        EXPECT_EQ(GetLong(a.Get(), PR_ATTACH_NUM), static_cast<LONG>(num));
        ASSERT_EQ(a->SaveChanges(0), S_OK);
        nums.push_back(num);
    }
    // An attachment whose SaveChanges is never called is not part of the message.
    {
        ULONG num = 0;
        ComPtr<IAttach> a;
        ASSERT_EQ(m->CreateAttach(nullptr, 0, &num, &a), S_OK);
    }
    ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    EXPECT_EQ(GetLong(m.Get(), PR_HASATTACH, 0), 1);
    ComPtr<IMAPITable> t;
    ASSERT_EQ(m->GetAttachmentTable(0, &t), S_OK);
    EXPECT_EQ(RowCount(t.Get()), 2u);
    ASSERT_EQ(m->DeleteAttach(nums[0], 0, nullptr, 0), S_OK);
    EXPECT_EQ(RowCount(t.Get()), 1u);  // the table follows the message
    EXPECT_EQ(m->DeleteAttach(nums[0], 0, nullptr, 0), MAPI_E_NOT_FOUND);
    ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    auto reopened = OpenEntryAs<IMessage>(store.Get(), Eid(m.Get()));
    ComPtr<IAttach> a;
    EXPECT_EQ(reopened->OpenAttach(nums[0], nullptr, 0, &a), MAPI_E_NOT_FOUND);
    ASSERT_EQ(reopened->OpenAttach(nums[1], nullptr, MAPI_MODIFY, &a), S_OK);
    EXPECT_EQ(GetString(a.Get(), PR_ATTACH_FILENAME), "two.txt");
    EXPECT_EQ(GetBinary(a.Get(), PR_ATTACH_DATA_BIN), (std::vector<BYTE>{1, 2, 3}));
    // Changing an attachment and dropping the message's changes leaves the store as it was.
    SPropValue rename = StringProp(PR_ATTACH_FILENAME, "renamed.txt");
    ASSERT_EQ(a->SetProps(1, &rename, nullptr), S_OK);
    ASSERT_EQ(a->SaveChanges(0), S_OK);
    a = nullptr;
    reopened = nullptr;
    reopened = OpenEntryAs<IMessage>(store.Get(), Eid(m.Get()));
    ASSERT_EQ(reopened->OpenAttach(nums[1], nullptr, 0, &a), S_OK);
    EXPECT_EQ(GetString(a.Get(), PR_ATTACH_FILENAME), "two.txt");
    ASSERT_EQ(reopened->DeleteAttach(nums[1], 0, nullptr, 0), S_OK);
    ASSERT_EQ(reopened->SaveChanges(0), S_OK);
    EXPECT_FALSE(GetLong(OpenEntryAs<IMessage>(store.Get(), Eid(m.Get())).Get(), PR_MESSAGE_FLAGS) & MSGFLAG_HASATTACH);
}

TEST_F(StoreMessages, ConcurrentSavesNeedForceSave)
{
    auto m = AddMessage(inbox.Get(), "first");
    auto other = OpenEntryAs<IMessage>(store.Get(), Eid(m.Get()));
    SPropValue s = StringProp(PR_SUBJECT, "second");
    ASSERT_EQ(m->SetProps(1, &s, nullptr), S_OK);
    ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    s = StringProp(PR_SUBJECT, "third");
    ASSERT_EQ(other->SetProps(1, &s, nullptr), S_OK);
    EXPECT_EQ(other->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_OBJECT_CHANGED);
    EXPECT_EQ(GetString(OpenEntryAs<IMessage>(store.Get(), Eid(m.Get())).Get(), PR_SUBJECT), "second");
    ASSERT_EQ(other->SaveChanges(FORCE_SAVE | KEEP_OPEN_READONLY), S_OK);
    EXPECT_EQ(GetString(OpenEntryAs<IMessage>(store.Get(), Eid(m.Get())).Get(), PR_SUBJECT), "third");
    EXPECT_EQ(other->SetProps(1, &s, nullptr), MAPI_E_NO_ACCESS);  // kept open read-only

    // A deleted message cannot be saved again.
    auto eid = Eid(m.Get());
    SBinary bin;
    ENTRYLIST list = OneEntry(eid, bin);
    ASSERT_EQ(inbox->DeleteMessages(&list, 0, nullptr, 0), S_OK);
    EXPECT_EQ(m->SaveChanges(FORCE_SAVE), MAPI_E_OBJECT_DELETED);
}

TEST_F(StoreMessages, SubmissionQueuesAndFinishingFilesTheMessage)
{
    auto outbox = OpenFolder(store.Get(), PR_IPM_OUTBOX_ENTRYID);
    auto sent = OpenFolder(store.Get(), PR_IPM_SENTMAIL_ENTRYID);
    auto sentId = Eid(sent.Get());
    ComPtr<IMessage> m;
    ASSERT_EQ(outbox->CreateMessage(nullptr, 0, &m), S_OK);
    SPropValue v[] = {StringProp(PR_SUBJECT, "post"), BinaryProp(PR_SENTMAIL_ENTRYID, sentId)};
    ASSERT_EQ(m->SetProps(2, v, nullptr), S_OK);
    EXPECT_EQ(m->SubmitMessage(FORCE_SUBMIT), MAPI_E_NO_RECIPIENTS);
    AdrList to({{StringProp(PR_DISPLAY_NAME, "alt.test"), StringProp(PR_ADDRTYPE, "NNTP"),
                 StringProp(PR_EMAIL_ADDRESS, "alt.test"), LongProp(PR_OBJECT_TYPE, MAPI_MAILUSER),
                 LongProp(PR_RECIPIENT_TYPE, MAPI_TO)}});
    ASSERT_EQ(m->ModifyRecipients(MODRECIP_ADD, to.Get()), S_OK);
    ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    ASSERT_EQ(m->SubmitMessage(FORCE_SUBMIT), S_OK);
    const auto id = Eid(m.Get());
    EXPECT_TRUE(GetLong(m.Get(), PR_MESSAGE_FLAGS) & MSGFLAG_SUBMIT);

    ComPtr<IMAPITable> queue;
    ASSERT_EQ(store->GetOutgoingQueue(0, &queue), S_OK);
    auto cols = MakeTagArray({PR_ENTRYID, PR_SUBJECT, PR_CLIENT_SUBMIT_TIME});
    ASSERT_EQ(queue->SetColumns(cols.Get(), 0), S_OK);
    RowSetPtr rows;
    ASSERT_EQ(queue->QueryRows(10, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    const SBinary& qid = rows->aRow[0].lpProps[0].Value.bin;
    EXPECT_EQ(std::vector<BYTE>(qid.lpb, qid.lpb + qid.cb), id);
    EXPECT_EQ(PROP_TYPE(rows->aRow[0].lpProps[2].ulPropTag), PT_SYSTIME);

    // Abort takes it off the queue; a second abort finds nothing to abort.
    auto eid = id;
    ASSERT_EQ(store->AbortSubmit(static_cast<ULONG>(eid.size()), reinterpret_cast<LPENTRYID>(eid.data()), 0), S_OK);
    EXPECT_EQ(RowCount(queue.Get()), 0u);
    EXPECT_EQ(store->AbortSubmit(static_cast<ULONG>(eid.size()), reinterpret_cast<LPENTRYID>(eid.data()), 0),
              MAPI_E_NOT_IN_QUEUE);
    auto again = OpenEntryAs<IMessage>(store.Get(), id);
    EXPECT_FALSE(GetLong(again.Get(), PR_MESSAGE_FLAGS) & MSGFLAG_SUBMIT);
    ASSERT_EQ(again->SubmitMessage(0), S_OK);
    EXPECT_EQ(RowCount(queue.Get()), 1u);

    // The spooler locks it, sends it, and finishes: it moves to Sent Items.
    ASSERT_EQ(store->SetLockState(again.Get(), MSG_LOCKED), S_OK);
    EXPECT_EQ(store->AbortSubmit(static_cast<ULONG>(eid.size()), reinterpret_cast<LPENTRYID>(eid.data()), 0),
              MAPI_E_UNABLE_TO_ABORT);
    ULONG logoff = 0;
    ASSERT_EQ(store->StoreLogoff(&logoff), S_OK);
    EXPECT_EQ(logoff, LOGOFF_OUTBOUND_QUEUE);
    ASSERT_EQ(store->FinishedMsg(0, static_cast<ULONG>(eid.size()), reinterpret_cast<LPENTRYID>(eid.data())), S_OK);
    EXPECT_EQ(RowCount(queue.Get()), 0u);
    auto done = OpenEntryAs<IMessage>(store.Get(), id);
    EXPECT_EQ(GetBinary(done.Get(), PR_PARENT_ENTRYID), sentId);
    const LONG flags = GetLong(done.Get(), PR_MESSAGE_FLAGS);
    EXPECT_FALSE(flags & (MSGFLAG_SUBMIT | MSGFLAG_UNSENT));
    EXPECT_TRUE(flags & MSGFLAG_READ);

    // With PR_DELETE_AFTER_SUBMIT the finished message goes away.
    ComPtr<IMessage> temp;
    ASSERT_EQ(outbox->CreateMessage(nullptr, 0, &temp), S_OK);
    SPropValue del{};
    del.ulPropTag = PR_DELETE_AFTER_SUBMIT;
    del.Value.b = 1;
    ASSERT_EQ(temp->SetProps(1, &del, nullptr), S_OK);
    ASSERT_EQ(temp->ModifyRecipients(0, to.Get()), S_OK);
    ASSERT_EQ(temp->SubmitMessage(0), S_OK);
    auto tid = Eid(temp.Get());
    ASSERT_EQ(store->FinishedMsg(0, static_cast<ULONG>(tid.size()), reinterpret_cast<LPENTRYID>(tid.data())), S_OK);
    EXPECT_FALSE(OpenEntryAs<IMessage>(store.Get(), tid));
    EXPECT_EQ(GetLong(outbox.Get(), PR_CONTENT_COUNT), 0);
}

TEST_F(StoreMessages, CopyToAnotherMessageTakesRecipientsAndAttachments)
{
    // As the add-in copies a user's post into the Outbox.
    auto src = AddMessage(inbox.Get(), "post", {StringProp(PR_SENDER_NAME, "Me"), StringProp(PR_BODY, "text")});
    AdrList to({{StringProp(PR_DISPLAY_NAME, "Ann")}});
    ASSERT_EQ(src->ModifyRecipients(0, to.Get()), S_OK);
    ULONG num = 0;
    ComPtr<IAttach> a;
    ASSERT_EQ(src->CreateAttach(nullptr, 0, &num, &a), S_OK);
    const std::vector<BYTE> bytes{9, 8, 7};
    SPropValue data = BinaryProp(PR_ATTACH_DATA_BIN, bytes);
    ASSERT_EQ(a->SetProps(1, &data, nullptr), S_OK);
    ASSERT_EQ(a->SaveChanges(0), S_OK);
    ASSERT_EQ(src->SaveChanges(KEEP_OPEN_READWRITE), S_OK);

    auto outbox = OpenFolder(store.Get(), PR_IPM_OUTBOX_ENTRYID);
    ComPtr<IMessage> copy;
    ASSERT_EQ(outbox->CreateMessage(nullptr, 0, &copy), S_OK);
    auto exclude = MakeTagArray({PR_ENTRYID, PR_SENDER_NAME});
    ASSERT_EQ(src->CopyTo(0, nullptr, exclude.Get(), 0, nullptr, &IID_IMessage, copy.Get(), 0, nullptr), S_OK);
    ASSERT_EQ(copy->SaveChanges(0), S_OK);
    auto saved = OpenEntryAs<IMessage>(store.Get(), Eid(copy.Get()));
    EXPECT_EQ(GetString(saved.Get(), PR_SUBJECT), "post");
    EXPECT_EQ(GetString(saved.Get(), PR_BODY), "text");
    EXPECT_EQ(GetString(saved.Get(), PR_SENDER_NAME), "<missing>");
    EXPECT_NE(Eid(saved.Get()), Eid(src.Get()));
    EXPECT_EQ(Recipients(saved.Get()).size(), 1u);
    ComPtr<IMAPITable> atts;
    ASSERT_EQ(saved->GetAttachmentTable(0, &atts), S_OK);
    EXPECT_EQ(RowCount(atts.Get()), 1u);

    // SetReadFlag changes a saved message at once.
    ASSERT_EQ(saved->SetReadFlag(CLEAR_READ_FLAG), S_OK);
    EXPECT_EQ(GetLong(outbox.Get(), PR_CONTENT_UNREAD), 1);
    ASSERT_EQ(saved->SetReadFlag(0), S_OK);
    EXPECT_EQ(GetLong(outbox.Get(), PR_CONTENT_UNREAD), 0);
}

}  // namespace
}  // namespace quillory::testing
