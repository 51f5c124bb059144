// Messages of the message store (IMessage). A message object holds its
// values, recipients and changed attachments in memory; SaveChanges writes
// them in one transaction. Internal to the store.
#pragma once

#include <atomic>
#include <map>
#include <set>

#include "platform/mapi/msgstore_impl.h"

namespace quillory::store {

class CMessage final : public CMAPIPropBase<IMessage> {
public:
    // id 0: a new message in folder, written at its first SaveChanges.
    CMessage(ContextPtr ctx, RowId folder, bool associated, RowId id, bool writable);
    HRESULT Init();

    RowId Id() const { return id_; }
    const MAPIUID& StoreUid() const { return ctx_->uid; }

    // ---- IMAPIProp -----------------------------------------------------------------------
    HRESULT SaveChanges(ULONG ulFlags) override;
    HRESULT OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                         LPUNKNOWN* lppUnk) override;

    // ---- IMessage ------------------------------------------------------------------------
    HRESULT GetAttachmentTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    HRESULT OpenAttach(ULONG ulAttachmentNum, LPCIID lpInterface, ULONG ulFlags, LPATTACH* lppAttach) override;
    HRESULT CreateAttach(LPCIID lpInterface, ULONG ulFlags, ULONG* lpulAttachmentNum, LPATTACH* lppAttach) override;
    HRESULT DeleteAttach(ULONG ulAttachmentNum, ULONG_PTR ulUIParam, LPMAPIPROGRESS lpProgress,
                         ULONG ulFlags) override;
    HRESULT GetRecipientTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    HRESULT ModifyRecipients(ULONG ulFlags, LPADRLIST lpMods) override;
    HRESULT SubmitMessage(ULONG ulFlags) override;
    HRESULT SetReadFlag(ULONG ulFlags) override;

    // ---- For attachment objects ----------------------------------------------------------------
    // A copy of an attachment's values (with its data).
    HRESULT AttachmentValues(ULONG num, CPropertyBag& out);
    // The attachment's SaveChanges: its values become part of the message.
    HRESULT CommitAttachment(ULONG num, const CPropertyBag& values);
    bool IsWritable() const;

protected:
    bool SupportsInterface(REFIID riid) const override { return IsEqualIID(riid, IID_IMessage); }
    const char* ComponentName() const override { return "Quillory message store"; }
    bool IsComputedProp(ULONG tag) const override { return IsComputedMessageTag(tag, false); }
    void ListComputedProps(std::vector<ULONG>& tags) const override;
    HRESULT GetComputedProp(ULONG tag, void* base, LPSPropValue out) override;
    HRESULT CopySubObjects(LPMAPIPROP lpDest, std::span<const IID> excluded, ULONG ulFlags) override;

private:
    struct Attachment {
        bool dirty = false;
        CPropertyBag values;  // with PR_ATTACH_DATA_BIN
    };

    // With the object's lock held.
    HRESULT Save(ULONG ulFlags, bool submit);
    void UpdateDisplayRecipients();
    void SetFlagBits(ULONG set, ULONG clear);
    ULONG Flags() const;
    bool HasAttachments() const;
    std::vector<ULONG> AttachmentNums() const;
    HRESULT LoadAttachment(ULONG num);  // into attachments_

    ContextPtr ctx_;
    RowId folder_;
    bool associated_;
    RowId id_;
    MessageRecord record_;
    bool submitted_ = false;

    std::vector<Recipient> recipients_;
    ULONG nextRowId_ = 0;
    bool recipientsDirty_ = false;
    std::atomic<std::uint64_t> recipientsVersion_{0};

    std::set<ULONG> stored_;  // attachments in the database, not deleted
    std::map<ULONG, Attachment> attachments_;  // loaded or new ones
    std::vector<ULONG> deleted_;
    ULONG nextAttach_ = 0;
    std::atomic<std::uint64_t> attachmentsVersion_{0};
};

// An attachment object over an attachment of the message.
HRESULT NewAttachObject(CMessage* message, ULONG num, CPropertyBag values, bool writable, LPATTACH* out);

}  // namespace quillory::store
