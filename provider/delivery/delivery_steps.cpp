// Folder lookup, threading and own-post clean-up of inbound delivery. None of
// the steps after conversion may stop a delivery: their failures are traced
// and passed over.
#include "provider/delivery/delivery_steps.h"

#include <array>
#include <strings.h>

#include "common/account_props.h"
#include "platform/base/trace.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/proputil.h"
#include "provider/delivery/deliver_article.h"
#include "provider/folder/header_entryid.h"

namespace quillory::quarnex::delivery {

namespace {

constexpr LONG kParentRowsLimit = 2;

SPropValue StringValue(ULONG tag, const std::string& text)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = const_cast<LPSTR>(text.c_str());
    return v;
}

SRestriction Equals(ULONG tag, SPropValue& value)
{
    SRestriction r{};
    r.rt = RES_PROPERTY;
    r.res.resProperty = SPropertyRestriction{RELOP_EQ, tag, &value};
    return r;
}

SRestriction Exists(ULONG tag)
{
    SRestriction r{};
    r.rt = RES_EXIST;
    r.res.resExist = SExistRestriction{0, tag, 0};
    return r;
}

// Rows of a table with the given columns and restriction.
HRESULT QueryTable(IMAPITable* table, std::initializer_list<ULONG> columns, SRestriction* restriction, LONG limit,
                   RowSetPtr& rows)
{
    auto tags = MakeTagArray(columns);
    if (!tags) return E_OUTOFMEMORY;
    HRESULT hr = table->SetColumns(tags.Get(), 0);
    if (SUCCEEDED(hr) && restriction) hr = table->Restrict(restriction, 0);
    if (SUCCEEDED(hr)) hr = table->QueryRows(limit, 0, &rows);
    return hr;
}

const SPropValue* Column(const SRow& row, ULONG index, ULONG tag)
{
    return index < row.cValues && row.lpProps[index].ulPropTag == tag ? &row.lpProps[index] : nullptr;
}

// The message's value of a string property, empty when missing.
std::string StringOf(const SPropValue* props, ULONG count, ULONG tag)
{
    const SPropValue* v = PpropFindProp(const_cast<LPSPropValue>(props), count, tag);
    return v && v->Value.lpszA ? v->Value.lpszA : std::string();
}

ULONGLONG Ticks(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

ULONGLONG Distance(ULONGLONG a, ULONGLONG b) { return a > b ? a - b : b - a; }

HRESULT GetProps(IMessage* message, std::initializer_list<ULONG> tags, ULONG& count, MapiBuffer<SPropValue>& values)
{
    auto tagArray = MakeTagArray(tags);
    if (!tagArray) return E_OUTOFMEMORY;
    return message->GetProps(tagArray.Get(), 0, &count, &values);
}

void SetNewIndex(IMessage* message, ULONG cbParent, LPBYTE parent)
{
    ULONG cb = 0;
    LPBYTE index = nullptr;
    if (FAILED(ScCreateConversationIndex(cbParent, parent, &cb, &index))) return;
    MapiBuffer<BYTE> owned(index);
    SPropValue v{};
    v.ulPropTag = PR_CONVERSATION_INDEX;
    v.Value.bin = SBinary{cb, index};
    if (FAILED(HrSetOneProp(message, &v))) Trace("ThreadMessage -- index not set\n");
}

// Joins the parent's conversation; false when the parent or its index is
// not found in the folder.
bool JoinParent(IMAPIFolder* folder, IMessage* message, const std::string& parentId)
{
    ComPtr<IMAPITable> table;
    if (FAILED(folder->GetContentsTable(0, &table))) return false;
    SPropValue idValue = StringValue(PR_INTERNET_MESSAGE_ID, parentId);
    SRestriction byId = Equals(PR_INTERNET_MESSAGE_ID, idValue);
    RowSetPtr rows;
    if (FAILED(QueryTable(table.Get(),
                          {PR_ENTRYID, PR_INTERNET_MESSAGE_ID, PR_CONVERSATION_INDEX, PR_CONVERSATION_TOPIC}, &byId,
                          kParentRowsLimit, rows)) ||
        !rows || rows->cRows == 0)
        return false;
    const SRow& row = rows->aRow[0];
    if (const SPropValue* topic = Column(row, 3, PR_CONVERSATION_TOPIC)) {
        SPropValue copy = *topic;
        if (FAILED(HrSetOneProp(message, &copy))) Trace("ThreadMessage -- topic not set\n");
    }
    const SPropValue* index = Column(row, 2, PR_CONVERSATION_INDEX);
    if (!index || index->Value.bin.cb < kConvIndexHeaderSize) return false;
    SetNewIndex(message, index->Value.bin.cb, index->Value.bin.lpb);
    return true;
}

}  // namespace

HRESULT FindOrCreateFolder(IMAPIFolder* parent, const std::string& name, ComPtr<IMAPIFolder>& out)
{
    ComPtr<IMAPITable> table;
    if (SUCCEEDED(parent->GetHierarchyTable(0, &table))) {
        SPropValue nameValue = StringValue(PR_DISPLAY_NAME, name);
        SRestriction byName = Equals(PR_DISPLAY_NAME, nameValue);
        RowSetPtr rows;
        if (SUCCEEDED(QueryTable(table.Get(), {PR_ENTRYID, PR_DISPLAY_NAME}, &byName, 1, rows)) && rows &&
            rows->cRows > 0) {
            if (const SPropValue* eid = Column(rows->aRow[0], 0, PR_ENTRYID)) {
                ULONG type = 0;
                ComPtr<IUnknown> unk;
                if (SUCCEEDED(parent->OpenEntry(eid->Value.bin.cb, reinterpret_cast<LPENTRYID>(eid->Value.bin.lpb),
                                                nullptr, MAPI_MODIFY, &type, &unk)) &&
                    type == MAPI_FOLDER) {
                    out = ComPtr<IMAPIFolder>(static_cast<IMAPIFolder*>(unk.Get()));
                    return S_OK;
                }
            }
        }
    }
    return parent->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>(name.c_str()), nullptr, nullptr, OPEN_IF_EXISTS,
                                &out);
}

std::string ParentMessageId(std::string_view inReplyTo, std::string_view references)
{
    if (!inReplyTo.empty()) return std::string(inReplyTo);
    const std::size_t last = references.rfind('<');
    if (last == std::string_view::npos) return {};
    return std::string(references.substr(last));
}

void ThreadMessage(IMAPIFolder* folder, IMessage* message)
{
    ULONG count = 0;
    MapiBuffer<SPropValue> ids;
    if (SUCCEEDED(GetProps(message, {PR_IN_REPLY_TO_ID, PR_INTERNET_REFERENCES}, count, ids))) {
        const std::string parent = ParentMessageId(StringOf(ids.Get(), count, PR_IN_REPLY_TO_ID),
                                                   StringOf(ids.Get(), count, PR_INTERNET_REFERENCES));
        if (!parent.empty() && JoinParent(folder, message, parent)) return;
    }

    MapiBuffer<SPropValue> own;
    if (FAILED(GetProps(message, {PR_SUBJECT, PR_CONVERSATION_INDEX, PR_CONVERSATION_TOPIC}, count, own))) return;
    const SPropValue* subject = PpropFindProp(own.Get(), count, PR_SUBJECT);
    if (subject && !PpropFindProp(own.Get(), count, PR_CONVERSATION_TOPIC)) {
        SPropValue topic = *subject;
        topic.ulPropTag = PR_CONVERSATION_TOPIC;
        if (FAILED(HrSetOneProp(message, &topic))) Trace("ThreadMessage -- topic not set\n");
    }
    if (!PpropFindProp(own.Get(), count, PR_CONVERSATION_INDEX)) SetNewIndex(message, 0, nullptr);
}

bool IsOwnIdentity(std::string_view name, std::string_view email, std::string_view userName,
                   std::string_view userEmail)
{
    auto same = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
    };
    return same(name, userName) && same(email, userEmail);
}

void RemoveOwnPostCopy(IMAPIFolder* folder, IMessage* message, const SPropValue* accountProps)
{
    if (!accountProps) return;
    const SPropValue& user = accountProps[acct::kUserName];
    const SPropValue& email = accountProps[acct::kEmailAddress];
    if (!acct::HasExpectedTag(acct::kUserName, user.ulPropTag) ||
        !acct::HasExpectedTag(acct::kEmailAddress, email.ulPropTag))
        return;

    ULONG count = 0;
    MapiBuffer<SPropValue> who;
    if (FAILED(GetProps(message,
                        {PR_SENDER_EMAIL_ADDRESS, PR_SENDER_NAME, PR_SENT_REPRESENTING_NAME,
                         PR_SENT_REPRESENTING_EMAIL_ADDRESS, PR_CLIENT_SUBMIT_TIME, PR_SUBJECT, PR_NEWSGROUP_NAME},
                        count, who)))
        return;
    const SPropValue* props = who.Get();
    if (!PpropFindProp(who.Get(), count, PR_SENDER_EMAIL_ADDRESS) || !PpropFindProp(who.Get(), count, PR_SENDER_NAME))
        return;
    const bool own = IsOwnIdentity(StringOf(props, count, PR_SENDER_NAME), StringOf(props, count, PR_SENDER_EMAIL_ADDRESS),
                                   user.Value.lpszA, email.Value.lpszA) ||
                     (PpropFindProp(who.Get(), count, PR_SENT_REPRESENTING_NAME) &&
                      PpropFindProp(who.Get(), count, PR_SENT_REPRESENTING_EMAIL_ADDRESS) &&
                      IsOwnIdentity(StringOf(props, count, PR_SENT_REPRESENTING_NAME),
                                    StringOf(props, count, PR_SENT_REPRESENTING_EMAIL_ADDRESS), user.Value.lpszA,
                                    email.Value.lpszA));
    if (!own) return;

    // Without a submit time no copy can be told apart from an older one.
    const SPropValue* submitted = PpropFindProp(who.Get(), count, PR_CLIENT_SUBMIT_TIME);
    if (!submitted) return;
    const ULONGLONG articleSubmit = Ticks(submitted->Value.ft);
    std::string subject = StringOf(props, count, PR_SUBJECT);
    std::string group = StringOf(props, count, PR_NEWSGROUP_NAME);

    ComPtr<IMAPITable> table;
    if (FAILED(folder->GetContentsTable(0, &table))) return;
    SPropValue subjectValue = StringValue(PR_SUBJECT, subject);
    SPropValue groupValue = StringValue(PR_NEWSGROUP_NAME, group);
    std::array<SRestriction, 2> notExists = {Exists(PR_TRANSPORT_MESSAGE_HEADERS),
                                             Exists(PR_CORVANE_HEADER_ENTRYID_HEX)};
    std::array<SRestriction, 4> all{};
    all[0] = Equals(PR_SUBJECT, subjectValue);
    all[1] = Equals(PR_NEWSGROUP_NAME, groupValue);
    for (std::size_t i = 0; i < notExists.size(); ++i) {
        all[2 + i].rt = RES_NOT;
        all[2 + i].res.resNot = SNotRestriction{0, &notExists[i]};
    }
    SRestriction local{};
    local.rt = RES_AND;
    local.res.resAnd = SAndRestriction{static_cast<ULONG>(all.size()), all.data()};
    RowSetPtr rows;
    if (FAILED(QueryTable(table.Get(), {PR_ENTRYID, PR_CLIENT_SUBMIT_TIME, PR_MESSAGE_DELIVERY_TIME}, &local,
                          kOwnCopyRowsLimit, rows)) ||
        !rows)
        return;
    for (ULONG i = 0; i < rows->cRows; ++i) {
        const SRow& row = rows->aRow[i];
        const SPropValue* eid = Column(row, 0, PR_ENTRYID);
        const SPropValue* submit = Column(row, 1, PR_CLIENT_SUBMIT_TIME);
        const SPropValue* delivery = Column(row, 2, PR_MESSAGE_DELIVERY_TIME);
        if (!eid || !submit || !delivery) continue;
        const ULONGLONG copySubmit = Ticks(submit->Value.ft);
        if (Distance(copySubmit, Ticks(delivery->Value.ft)) >= kOwnCopySaveWindow ||
            Distance(copySubmit, articleSubmit) >= kOwnCopySubmitWindow)
            continue;
        SBinary bin = eid->Value.bin;
        ENTRYLIST one{1, &bin};
        if (FAILED(folder->DeleteMessages(&one, 0, nullptr, 0))) Trace("RemoveOwnPostCopy -- delete failed\n");
    }
}

}  // namespace quillory::quarnex::delivery
