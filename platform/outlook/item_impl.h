// Item wrappers (internal): what mail and post items share, over an open
// MAPI message, and the two kinds.
#pragma once

#include <span>

#include "platform/mapi/mapitags.h"
#include "platform/outlook/model_objects.h"

namespace quillory::outlook {

inline constexpr char kPostClass[] = "IPM.Post";
inline constexpr char kMailClass[] = "IPM.Note";

// The date of an item that has none (4501-01-01), as the mail client shows it.
constexpr DATE kNoDate = 949998.0;

template <class Itf>
class CItem : public CDispatchImpl<Itf>, public CEventSource, public CItemCore, public CRefCounted {
public:
    CItem(ModelPtr model, std::size_t store, EntryId folder, EntryId id, ComPtr<IMessage> message);
    ~CItem() override;
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    HRESULT get_Application(_Application** out) override;
    HRESULT get_Class(LONG* out) override;
    HRESULT get_Parent(MAPIFolder** out) override;
    HRESULT get_EntryID(BSTR* out) override;
    HRESULT get_MessageClass(BSTR* out) override { return GetText(PR_MESSAGE_CLASS, out); }
    HRESULT put_MessageClass(BSTR value) override { return PutText(PR_MESSAGE_CLASS, value); }
    HRESULT get_Subject(BSTR* out) override { return GetText(PR_SUBJECT, out); }
    HRESULT put_Subject(BSTR value) override { return PutText(PR_SUBJECT, value); }
    HRESULT get_Body(BSTR* out) override { return GetText(PR_BODY, out); }
    HRESULT put_Body(BSTR value) override { return PutText(PR_BODY, value); }
    HRESULT get_HTMLBody(BSTR* out) override;
    HRESULT put_HTMLBody(BSTR value) override;
    HRESULT get_ConversationTopic(BSTR* out) override;
    HRESULT get_ConversationIndex(BSTR* out) override;
    HRESULT get_SenderName(BSTR* out) override { return GetText(PR_SENDER_NAME, out); }
    HRESULT get_SenderEmailAddress(BSTR* out) override { return GetText(PR_SENDER_EMAIL_ADDRESS, out); }
    HRESULT get_ReceivedTime(DATE* out) override { return GetTime(PR_MESSAGE_DELIVERY_TIME, out); }
    HRESULT get_SentOn(DATE* out) override { return GetTime(PR_CLIENT_SUBMIT_TIME, out); }
    HRESULT get_CreationTime(DATE* out) override { return GetTime(PR_CREATION_TIME, out); }
    HRESULT get_UnRead(VARIANT_BOOL* out) override;
    HRESULT put_UnRead(VARIANT_BOOL value) override;
    HRESULT get_Saved(VARIANT_BOOL* out) override;
    HRESULT get_Size(LONG* out) override;
    HRESULT get_MAPIOBJECT(IUnknown** out) override;
    HRESULT Save() override;
    HRESULT Delete() override;
    HRESULT Display(VARIANT Modal) override;
    HRESULT Close(LONG SaveMode) override;
    HRESULT GetInspector(_Inspector** out) override;

    IDispatch* Dispatch() override { return static_cast<Itf*>(this); }
    CConnectionPoint& ItemEvents() override { return events_; }
    void Refresh() override;
    void MarkGone() override;

protected:
    HRESULT Check() const;
    HRESULT GetText(ULONG tag, BSTR* out);
    HRESULT PutText(ULONG tag, BSTR value);
    HRESULT GetTime(ULONG tag, DATE* out);
    // Sets values on the message (the item then has changes to save).
    HRESULT SetValues(std::span<SPropValue> values);
    std::string Text(ULONG tag) const { return ReadText(message_.Get(), tag); }

    ModelPtr model_;
    std::size_t store_;
    EntryId folder_;
    ComPtr<IMessage> message_;
    bool dirty_ = false;
    bool gone_ = false;
};

class CMailItem final : public CItem<_MailItem> {
public:
    using CItem::CItem;
    HRESULT get_To(BSTR* out) override;

protected:
    DispTable Members() const override;
    std::string_view InterfaceName() const override { return "_MailItem"; }
};

class CPostItem final : public CItem<_PostItem> {
public:
    using CItem::CItem;
    HRESULT Post() override;
    HRESULT PostReply(_PostItem** out) override;

protected:
    DispTable Members() const override;
    std::string_view InterfaceName() const override { return "_PostItem"; }
};

}  // namespace quillory::outlook
