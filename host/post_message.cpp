#include "host/post_message.h"

#include <optional>

#include "common/news_message_props.h"
#include "common/regstore.h"
#include "platform/base/time.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/proputil.h"

namespace quillory::host {
namespace {

constexpr const char* kSmtp = "SMTP";

std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

HRESULT Fail(HRESULT hr, std::string what, std::string& error)
{
    error = std::move(what) + " (" + Hex(hr) + ")";
    return hr;
}

// The value points into the text, which must outlive it.
SPropValue Text(ULONG tag, const char* s)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = const_cast<LPSTR>(s);
    return v;
}
SPropValue Text(ULONG tag, const std::string& s) { return Text(tag, s.c_str()); }
SPropValue Text(ULONG tag, std::string&& s) = delete;

SPropValue Binary(ULONG tag, const void* data, std::size_t size)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.bin = SBinary{static_cast<ULONG>(size), static_cast<LPBYTE>(const_cast<void*>(data))};
    return v;
}

SPropValue Long(ULONG tag, LONG value)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = value;
    return v;
}

HRESULT OpenDefaultStore(IMAPISession* session, ComPtr<IMsgStore>& store)
{
    ComPtr<IMAPITable> table;
    HRESULT hr = session->GetMsgStoresTable(0, &table);
    if (FAILED(hr)) return hr;
    auto cols = MakeTagArray({PR_ENTRYID, PR_DEFAULT_STORE});
    RowSetPtr rows;
    if (FAILED(hr = table->SetColumns(cols.Get(), 0)) || FAILED(hr = table->QueryRows(0x7FFFFFFF, 0, &rows)))
        return hr;
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
        const SPropValue* p = rows->aRow[i].lpProps;
        if (p[1].ulPropTag != PR_DEFAULT_STORE || !p[1].Value.b || p[0].ulPropTag != PR_ENTRYID) continue;
        return session->OpenMsgStore(0, p[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(p[0].Value.bin.lpb), nullptr,
                                     MDB_NO_DIALOG | MAPI_BEST_ACCESS, &store);
    }
    return MAPI_E_NOT_FOUND;
}

std::optional<std::vector<BYTE>> BinaryOf(IMAPIProp* object, ULONG tag)
{
    MapiBuffer<SPropValue> v;
    if (FAILED(HrGetOneProp(object, tag, &v)) || v->ulPropTag != tag) return std::nullopt;
    return std::vector<BYTE>(v->Value.bin.lpb, v->Value.bin.lpb + v->Value.bin.cb);
}

HRESULT OpenFolder(IMsgStore* store, const std::vector<BYTE>& eid, ComPtr<IMAPIFolder>& out)
{
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    HRESULT hr = store->OpenEntry(static_cast<ULONG>(eid.size()), reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(eid.data())),
                                  nullptr, MAPI_MODIFY, &type, &unk);
    if (FAILED(hr)) return hr;
    if (type != MAPI_FOLDER) return MAPI_E_INVALID_ENTRYID;
    out = ComPtr<IMAPIFolder>(static_cast<IMAPIFolder*>(unk.Get()));
    return S_OK;
}

// The subfolder of that name, made when missing.
HRESULT Subfolder(IMAPIFolder* parent, const std::string& name, ComPtr<IMAPIFolder>& out)
{
    return parent->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>(name.c_str()), nullptr, nullptr, OPEN_IF_EXISTS,
                                &out);
}

HRESULT AddAttachment(IMessage* message, const PostRequest::Attachment& a)
{
    ULONG number = 0;
    ComPtr<IAttach> attach;
    HRESULT hr = message->CreateAttach(nullptr, 0, &number, &attach);
    if (FAILED(hr)) return hr;
    SPropValue props[] = {Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE), Text(PR_ATTACH_FILENAME, a.name),
                          Text(PR_ATTACH_LONG_FILENAME, a.name), Binary(PR_ATTACH_DATA_BIN, a.data.data(), a.data.size())};
    if (FAILED(hr = attach->SetProps(4, props, nullptr))) return hr;
    return attach->SaveChanges(0);
}

HRESULT AddRecipients(IMessage* message, const std::vector<std::string>& groups)
{
    std::vector<std::vector<SPropValue>> rows;
    for (const auto& g : groups)
        rows.push_back({Text(PR_ADDRTYPE, kNewsAddressType), Text(PR_DISPLAY_NAME, g), Text(PR_EMAIL_ADDRESS, g),
                        Long(PR_OBJECT_TYPE, MAPI_MAILUSER), Long(PR_RECIPIENT_TYPE, MAPI_TO)});
    MapiBuffer<ADRLIST> list;
    HRESULT hr = MAPIAllocateBuffer(CbNewADRLIST(static_cast<ULONG>(rows.size())), list.AsVoidOut());
    if (FAILED(hr)) return hr;
    list->cEntries = static_cast<ULONG>(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        list->aEntries[i] = ADRENTRY{0, static_cast<ULONG>(rows[i].size()), rows[i].data()};
    return message->ModifyRecipients(MODRECIP_ADD, list.Get());
}

// Subject, bodies and attachments shared by the post and its local copy.
HRESULT SetContent(IMessage* message, const NewsAccount& account, const PostRequest& r)
{
    const std::string name(account.String(acct::kUserName));
    const std::string email(account.String(acct::kEmailAddress));
    std::vector<SPropValue> props = {Text(PR_SUBJECT, r.subject), Text(PR_BODY, r.body),
                                     Text(PR_SENDER_ADDRTYPE, kSmtp), Text(PR_SENDER_NAME, name),
                                     Text(PR_SENDER_EMAIL_ADDRESS, email)};
    if (!r.inReplyTo.empty()) props.push_back(Text(PR_IN_REPLY_TO_ID, r.inReplyTo));
    if (!r.html.empty()) props.push_back(Binary(PR_HTML, r.html.data(), r.html.size()));
    HRESULT hr = message->SetProps(static_cast<ULONG>(props.size()), props.data(), nullptr);
    for (const auto& a : r.attachments)
        if (SUCCEEDED(hr)) hr = AddAttachment(message, a);
    return hr;
}

}  // namespace

HRESULT QueuePost(IMAPISession* session, const NewsAccount& account, const PostRequest& r, std::string& error)
{
    ComPtr<IMsgStore> store;
    HRESULT hr = OpenDefaultStore(session, store);
    if (FAILED(hr)) return Fail(hr, "the profile's default message store cannot be opened", error);
    const auto outboxId = BinaryOf(store.Get(), PR_IPM_OUTBOX_ENTRYID);
    const auto sentId = BinaryOf(store.Get(), PR_IPM_SENTMAIL_ENTRYID);
    if (!outboxId || !sentId) return Fail(MAPI_E_NOT_FOUND, "the store has no Outbox or sent-items folder", error);
    ComPtr<IMAPIFolder> outbox;
    if (FAILED(hr = OpenFolder(store.Get(), *outboxId, outbox))) return Fail(hr, "the Outbox cannot be opened", error);

    ComPtr<IMessage> message;
    if (FAILED(hr = outbox->CreateMessage(nullptr, 0, &message))) return Fail(hr, "no message can be made", error);
    const std::string accountName(account.Name());
    const std::string followup = kFollowupFlagText;
    const std::string messageClass = kOutgoingPostClass;
    SPropValue stamps[] = {Text(PR_CORVANE_POST_ACCOUNT, accountName),
                           Binary(PR_CORVANE_SENTMAIL_ENTRYID, sentId->data(), sentId->size()),
                           Text(PR_POST_FOLLOWUP_FLAG, followup), Text(PR_MESSAGE_CLASS, messageClass)};
    if (FAILED(hr = SetContent(message.Get(), account, r)) || FAILED(hr = message->SetProps(4, stamps, nullptr)) ||
        FAILED(hr = AddRecipients(message.Get(), r.groups)))
        return Fail(hr, "the post cannot be written", error);
    if (FAILED(hr = message->SaveChanges(KEEP_OPEN_READWRITE))) return Fail(hr, "the post cannot be saved", error);
    if (FAILED(hr = message->SubmitMessage(FORCE_SUBMIT))) return Fail(hr, "the post cannot be submitted", error);
    return S_OK;
}

HRESULT FileLocalCopy(IMAPISession* session, const std::string& profile, const NewsAccount& account,
                      const PostRequest& r, std::string& error)
{
    ComPtr<IMsgStore> store;
    HRESULT hr = OpenDefaultStore(session, store);
    if (FAILED(hr)) return Fail(hr, "the profile's default message store cannot be opened", error);

    // The base folder the profile names; like the add-in, "Newsgroups" in
    // the Inbox when it names none, recorded for the profile.
    ComPtr<IMAPIFolder> base;
    RegBaseFolder reg;
    if (ReadBaseFolder(profile, reg)) {
        const std::vector<BYTE> eid(reg.FolderEntryId().begin(), reg.FolderEntryId().end());
        OpenFolder(store.Get(), eid, base);
    }
    if (!base) {
        ULONG cb = 0;
        MapiBuffer<ENTRYID> inboxId;
        ComPtr<IMAPIFolder> inbox;
        if (FAILED(hr = store->GetReceiveFolder(nullptr, 0, &cb, &inboxId, nullptr)) ||
            FAILED(hr = OpenFolder(store.Get(),
                                   std::vector<BYTE>(reinterpret_cast<BYTE*>(inboxId.Get()),
                                                     reinterpret_cast<BYTE*>(inboxId.Get()) + cb),
                                   inbox)) ||
            FAILED(hr = Subfolder(inbox.Get(), kDefaultBaseFolderName, base)))
            return Fail(hr, "no base folder for newsgroups can be made", error);
        const auto baseId = BinaryOf(base.Get(), PR_ENTRYID);
        const auto storeId = BinaryOf(store.Get(), PR_ENTRYID);
        if (baseId && storeId) WriteBaseFolder(profile, kDefaultBaseFolderName, *baseId, *storeId);
    }

    ComPtr<IMAPIFolder> parent = base;
    if (ReadProfileSettings(profile).createSubfolders != 0 &&
        FAILED(hr = Subfolder(base.Get(), std::string(account.Name()), parent)))
        return Fail(hr, "the account's folder cannot be made", error);
    ComPtr<IMAPIFolder> folder;
    if (FAILED(hr = Subfolder(parent.Get(), r.groups.front(), folder)))
        return Fail(hr, "the newsgroup's folder cannot be made", error);

    ComPtr<IMessage> copy;
    if (FAILED(hr = folder->CreateMessage(nullptr, 0, &copy))) return Fail(hr, "no local copy can be made", error);
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::string messageClass = kLocalPostClass;
    SPropValue props[] = {Text(PR_MESSAGE_CLASS, messageClass), Text(PR_NEWSGROUP_NAME, r.groups.front()),
                          SPropValue{PR_CLIENT_SUBMIT_TIME, 0, {}}, SPropValue{PR_MESSAGE_DELIVERY_TIME, 0, {}}};
    props[2].Value.ft = now;
    props[3].Value.ft = now;
    if (FAILED(hr = SetContent(copy.Get(), account, r)) || FAILED(hr = copy->SetProps(4, props, nullptr)) ||
        FAILED(hr = copy->SaveChanges(0)))
        return Fail(hr, "the local copy cannot be saved", error);
    return S_OK;
}

}  // namespace quillory::host
