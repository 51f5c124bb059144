// Posting: what a post item does when it is posted or answered, and the
// conversation values items carry.
#include <cctype>
#include <strings.h>

#include "platform/base/time.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/session.h"
#include "platform/outlook/item_impl.h"
#include "platform/outlook/item_text.h"

namespace quillory::outlook {

namespace {

constexpr const char* kPrefixes[] = {"re:", "fw:", "fwd:"};

SPropValue TimeValue(ULONG tag, const FILETIME& ft)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.ft = ft;
    return v;
}

SPropValue TextValue(ULONG tag, std::string& text)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = text.data();
    return v;
}

}  // namespace

std::string NormalizedSubject(std::string_view subject)
{
    for (bool again = true; again;) {
        again = false;
        while (!subject.empty() && std::isspace(static_cast<unsigned char>(subject.front()))) subject.remove_prefix(1);
        for (const char* p : kPrefixes) {
            const std::size_t n = std::strlen(p);
            if (subject.size() >= n && strncasecmp(subject.data(), p, n) == 0) {
                subject.remove_prefix(n);
                again = true;
            }
        }
    }
    return std::string(subject);
}

HRESULT CompleteConversation(IMessage* message)
{
    std::string topic;
    std::vector<SPropValue> values;
    MapiBuffer<SPropValue> existing;
    if (FAILED(HrGetOneProp(message, PR_CONVERSATION_TOPIC, &existing))) {
        topic = NormalizedSubject(ReadText(message, PR_SUBJECT));
        values.push_back(TextValue(PR_CONVERSATION_TOPIC, topic));
    }
    MapiBuffer<BYTE> index;
    ULONG cb = 0;
    if (ReadBinary(message, PR_CONVERSATION_INDEX).empty()) {
        if (const SCODE sc = ScCreateConversationIndex(0, nullptr, &cb, &index); FAILED(sc)) return sc;
        SPropValue v{};
        v.ulPropTag = PR_CONVERSATION_INDEX;
        v.Value.bin = SBinary{cb, index.Get()};
        values.push_back(v);
    }
    if (values.empty()) return S_OK;
    return message->SetProps(static_cast<ULONG>(values.size()), values.data(), nullptr);
}

Identity SessionIdentity(IMAPISession* session)
{
    Identity who;
    ComPtr<IMAPIProp> user;
    if (FAILED(OpenSessionIdentity(session, &user))) return who;
    who.name = ReadText(user.Get(), PR_DISPLAY_NAME);
    who.address = ReadText(user.Get(), PR_EMAIL_ADDRESS);
    who.addressType = ReadText(user.Get(), PR_ADDRTYPE);
    return who;
}

HRESULT CMailItem::get_To(BSTR* out) { return GetText(PR_DISPLAY_TO, out); }

HRESULT CPostItem::Post()
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    ComPtr<IDispatch> keep(Dispatch());
    // The submit and delivery times are one moment: the provider knows its
    // own post's local copy by them when the article comes back.
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    std::string messageClass = Text(PR_MESSAGE_CLASS);
    if (messageClass.empty()) messageClass = kPostClass;
    std::vector<SPropValue> values = {TimeValue(PR_CLIENT_SUBMIT_TIME, now), TimeValue(PR_MESSAGE_DELIVERY_TIME, now),
                                      TextValue(PR_MESSAGE_CLASS, messageClass)};
    Identity who = SessionIdentity(model_->Session());
    if (!who.address.empty() && Text(PR_SENDER_EMAIL_ADDRESS).empty()) {
        if (who.addressType.empty()) who.addressType = "SMTP";
        values.push_back(TextValue(PR_SENDER_NAME, who.name));
        values.push_back(TextValue(PR_SENDER_EMAIL_ADDRESS, who.address));
        values.push_back(TextValue(PR_SENDER_ADDRTYPE, who.addressType));
    }
    if (const HRESULT hr = SetValues(values); FAILED(hr)) return hr;
    if (const HRESULT hr = Save(); hr != S_OK) return FAILED(hr) ? hr : E_ABORT;
    message_->SetReadFlag(0);
    if (inspector) inspector->Dismiss();
    return S_OK;
}

HRESULT CPostItem::PostReply(_PostItem** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    ComPtr<MAPIFolder> folder;
    ComPtr<_Items> items;
    ComPtr<IDispatch> created;
    HRESULT hr = model_->Folder(store_, folder_, &folder);
    if (SUCCEEDED(hr)) hr = folder->get_Items(&items);
    if (SUCCEEDED(hr)) hr = items->Add(CComVariant::Long(olPostItem), &created);
    if (FAILED(hr)) return hr;
    auto* reply = static_cast<CPostItem*>(static_cast<_PostItem*>(created.Get()));

    EntryId parentIndex = ReadBinary(message_.Get(), PR_CONVERSATION_INDEX);
    MapiBuffer<BYTE> header;
    if (parentIndex.size() < kConvIndexHeaderSize) {
        // A parent without an index of its own starts the conversation here.
        ULONG cb = 0;
        if (const SCODE sc = ScCreateConversationIndex(0, nullptr, &cb, &header); FAILED(sc)) return sc;
        parentIndex.assign(header.Get(), header.Get() + cb);
    }
    ULONG cb = 0;
    MapiBuffer<BYTE> child;
    if (const SCODE sc = ScCreateConversationIndex(static_cast<ULONG>(parentIndex.size()), parentIndex.data(), &cb,
                                                   &child);
        FAILED(sc))
        return sc;
    BSTR topicText = nullptr;
    if (FAILED(hr = get_ConversationTopic(&topicText))) return hr;
    std::string topic(topicText, SysStringLen(topicText));
    SysFreeString(topicText);
    std::string inReplyTo = Text(PR_INTERNET_MESSAGE_ID);
    std::vector<SPropValue> values = {TextValue(PR_CONVERSATION_TOPIC, topic)};
    SPropValue index{};
    index.ulPropTag = PR_CONVERSATION_INDEX;
    index.Value.bin = SBinary{cb, child.Get()};
    values.push_back(index);
    if (!inReplyTo.empty()) values.push_back(TextValue(PR_IN_REPLY_TO_ID, inReplyTo));
    if (FAILED(hr = reply->SetValues(values))) return hr;
    return Hand(static_cast<_PostItem*>(reply), out);
}

}  // namespace quillory::outlook
