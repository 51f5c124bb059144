// The message object: loading, computed values, saving as one transaction,
// submission, read flags and properties opened as streams.
#include "platform/mapi/message.h"

#include <cstring>
#include <random>

#include "platform/base/trace.h"
#include "platform/mapi/proputil.h"

namespace quillory::store {
namespace {

constexpr ULONG kGenerateReceiptOnly = 0x00000010;
constexpr ULONG kClearRnPending = 0x00000020;
constexpr ULONG kClearNrnPending = 0x00000040;

SPropValue LongValue(ULONG tag, ULONG value)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = static_cast<LONG>(value);
    return v;
}

}  // namespace

CMessage::CMessage(ContextPtr ctx, RowId folder, bool associated, RowId id, bool writable)
    : ctx_(std::move(ctx)), folder_(folder), associated_(associated), id_(id)
{
    SetWritable(writable);
    record_.folder = folder;
    record_.associated = associated;
    record_.created = record_.modified = NowTicks();
}

HRESULT CMessage::Init()
{
    if (!id_) {
        auto lock = Lock();
        // A message someone composes is unsent, and read by its author.
        ULONG flags = MSGFLAG_UNSENT | MSGFLAG_READ | (associated_ ? MSGFLAG_ASSOCIATED : 0);
        const SPropValue v = LongValue(PR_MESSAGE_FLAGS, flags);
        if (const SCODE sc = Bag().Set(v); FAILED(sc)) return sc;
        SetModified(false);
        return S_OK;
    }
    CPropertyBag values;
    MessageRecord rec;
    std::vector<Recipient> recipients;
    std::vector<ULONG> nums;
    {
        auto dbLock = ctx_->db->Lock();
        const HRESULT hr = GuardStore("open message", [&]() -> HRESULT {
            const auto m = GetMessage(*ctx_->db, id_);
            if (!m) return MAPI_E_NOT_FOUND;
            rec = *m;
            LoadMessageProps(*ctx_->db, id_, values);
            recipients = LoadRecipients(*ctx_->db, id_);
            nums = AttachmentNumbers(*ctx_->db, id_);
            return S_OK;
        });
        if (FAILED(hr)) return hr;
    }
    auto lock = Lock();
    Bag() = std::move(values);
    if (const SCODE sc = Bag().Set(LongValue(PR_MESSAGE_FLAGS, rec.flags)); FAILED(sc)) return sc;
    record_ = rec;
    folder_ = rec.folder;
    associated_ = rec.associated;
    submitted_ = (rec.flags & MSGFLAG_SUBMIT) != 0;
    recipients_ = std::move(recipients);
    for (const Recipient& r : recipients_) nextRowId_ = std::max(nextRowId_, r.rowId + 1);
    stored_.insert(nums.begin(), nums.end());
    if (!nums.empty()) nextAttach_ = nums.back() + 1;
    SetModified(false);
    return S_OK;
}

bool CMessage::IsWritable() const
{
    auto lock = Lock();
    return Writable();
}

ULONG CMessage::Flags() const
{
    const SPropValue* v = Bag().Find(PR_MESSAGE_FLAGS);
    return v ? v->Value.ul : 0;
}

void CMessage::SetFlagBits(ULONG set, ULONG clear)
{
    const ULONG flags = (Flags() & ~clear) | set;
    if (FAILED(Bag().Set(LongValue(PR_MESSAGE_FLAGS, flags)))) Trace("store: message flags not updated\n");
}

// ---- Computed values ------------------------------------------------------------------------

void CMessage::ListComputedProps(std::vector<ULONG>& tags) const
{
    for (ULONG t : ComputedMessageTags(false)) {
        if (!id_ && (t == PR_ENTRYID || t == PR_RECORD_KEY)) continue;  // not until saved
        tags.push_back(t);
    }
}

HRESULT CMessage::GetComputedProp(ULONG tag, void* base, LPSPropValue out)
{
    if (!IsComputedMessageTag(tag, false)) return MAPI_E_NOT_FOUND;
    MessageRecord rec = record_;
    rec.id = id_;
    rec.folder = folder_;
    rec.flags = Flags() | (HasAttachments() ? MSGFLAG_HASATTACH : 0);
    if (!id_ && (PROP_ID(tag) == PROP_ID(PR_ENTRYID) || PROP_ID(tag) == PROP_ID(PR_RECORD_KEY)))
        return MAPI_E_NOT_FOUND;
    if (id_ && PROP_ID(tag) == PROP_ID(PR_MSG_STATUS)) {
        // Status changes through the folder, so it is read as it now is.
        auto dbLock = ctx_->db->Lock();
        const HRESULT hr = GuardStore("message status", [&] {
            if (const auto m = GetMessage(*ctx_->db, id_)) rec.status = m->status;
            return S_OK;
        });
        if (FAILED(hr)) return hr;
    }
    return ComputedMessageProp(ctx_->uid, rec, tag, false, base, out);
}

// ---- Saving ----------------------------------------------------------------------------------

void CMessage::UpdateDisplayRecipients()
{
    if (recipients_.empty()) {
        if (recipientsDirty_) {
            for (ULONG tag : {PR_DISPLAY_TO, PR_DISPLAY_CC, PR_DISPLAY_BCC}) Bag().Delete(tag);
        }
        return;  // values set by whoever made the message stay
    }
    std::string lists[3];
    for (const Recipient& r : recipients_) {
        const SPropValue* type = r.props.Find(PR_RECIPIENT_TYPE);
        const ULONG t = type ? type->Value.ul : MAPI_TO;
        if (t < MAPI_TO || t > MAPI_BCC) continue;
        const SPropValue* name = r.props.Find(PR_DISPLAY_NAME);
        if (!name) name = r.props.Find(PR_EMAIL_ADDRESS);
        std::string& list = lists[t - MAPI_TO];
        if (!list.empty()) list += "; ";
        if (name) list += name->Value.lpszA;
    }
    const ULONG tags[3] = {PR_DISPLAY_TO, PR_DISPLAY_CC, PR_DISPLAY_BCC};
    for (int i = 0; i < 3; ++i) {
        SPropValue v{};
        v.ulPropTag = tags[i];
        v.Value.lpszA = lists[i].data();
        if (FAILED(Bag().Set(v))) Trace("store: display list not updated\n");
    }
}

HRESULT CMessage::Save(ULONG ulFlags, bool submit)
{
    if (!Writable()) return RecordError(MAPI_E_NO_ACCESS, "The message was opened read-only");
    UpdateDisplayRecipients();
    if (!id_ && !Bag().Find(PR_SEARCH_KEY)) {
        // Unique, not secret: a generator seeded once per thread will do.
        thread_local std::mt19937_64 rng{std::random_device{}()};
        BYTE key[16];
        for (int i = 0; i < 16; i += 8) {
            const std::uint64_t r = rng();
            for (int b = 0; b < 8; ++b) key[i + b] = static_cast<BYTE>(r >> (8 * b));
        }
        SPropValue v{};
        v.ulPropTag = PR_SEARCH_KEY;
        v.Value.bin = SBinary{sizeof key, key};
        if (const SCODE sc = Bag().Set(v); FAILED(sc)) return sc;
    }
    const std::int64_t now = NowTicks();
    if (submit) {
        SPropValue v{};
        v.ulPropTag = PR_CLIENT_SUBMIT_TIME;
        v.Value.ft = TicksToFileTime(now);
        if (const SCODE sc = Bag().Set(v); FAILED(sc)) return sc;
        if (const SCODE sc = Bag().Set(LongValue(PR_SUBMIT_FLAGS, 0)); FAILED(sc)) return sc;
        SetFlagBits(MSGFLAG_SUBMIT, 0);
    }

    std::vector<AttachWrite> attachments;
    HRESULT hr = GuardStore("save message", [&] {
        for (auto& [num, a] : attachments_) {
            if (!a.dirty) continue;
            AttachWrite w;
            w.num = num;
            w.props = EncodeBag(a.values, PR_ATTACH_DATA_BIN);
            if (const SPropValue* data = a.values.Find(PR_ATTACH_DATA_BIN)) {
                w.hasData = true;
                w.data = std::span<const BYTE>(data->Value.bin.lpb, data->Value.bin.cb);
            }
            attachments.push_back(std::move(w));
        }
        return S_OK;
    });
    if (FAILED(hr)) return RecordError(hr, "The attachments could not be prepared");

    MessageWrite w;
    w.id = id_;
    w.folder = folder_;
    w.associated = associated_;
    w.flags = Flags();
    w.props = &Bag();
    w.recipients = (recipientsDirty_ || !id_) ? &recipients_ : nullptr;
    w.deletedAttachments = deleted_;
    w.attachments = attachments;
    w.expectedModified = record_.modified;
    w.force = (ulFlags & FORCE_SAVE) != 0;
    MessageRecord rec;
    {
        auto dbLock = ctx_->db->Lock();
        hr = GuardStore("save message", [&] {
            Tx tx(*ctx_->db, true);
            rec = WriteMessage(*ctx_->db, w);
            if (submit) {
                QueueMessage(*ctx_->db, rec.id, now, 0);
                ctx_->db->Touch(kQueueVersionKey);
            }
            tx.Commit();
            return S_OK;
        });
    }
    if (FAILED(hr)) {
        const char* why = hr == MAPI_E_OBJECT_CHANGED   ? "The message was changed meanwhile; save with FORCE_SAVE"
                          : hr == MAPI_E_OBJECT_DELETED ? "The message was deleted meanwhile"
                                                        : "The message could not be saved";
        if (submit) SetFlagBits(0, MSGFLAG_SUBMIT);
        return RecordError(hr, why);
    }
    id_ = rec.id;
    record_ = rec;
    folder_ = rec.folder;
    SetFlagBits(rec.flags & MSGFLAG_HASATTACH, MSGFLAG_HASATTACH);
    recipientsDirty_ = false;
    deleted_.clear();
    for (auto& [num, a] : attachments_) {
        if (a.dirty) stored_.insert(num);
        a.dirty = false;
    }
    SetModified(false);
    if (ulFlags & KEEP_OPEN_READONLY) SetWritable(false);
    return S_OK;
}

HRESULT CMessage::SaveChanges(ULONG ulFlags)
{
    if (ulFlags & ~(KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE | MAPI_DEFERRED_ERRORS))
        return MAPI_E_UNKNOWN_FLAGS;
    auto lock = Lock();
    const bool created = id_ == 0;
    const HRESULT hr = Save(ulFlags, false);
    const ObjectEvent e{created ? fnevObjectCreated : fnevObjectModified, MAPI_MESSAGE, id_, folder_};
    lock.unlock();
    if (SUCCEEDED(hr)) ctx_->Notify(e);
    return hr;
}

HRESULT CMessage::SubmitMessage(ULONG ulFlags)
{
    if (ulFlags & ~FORCE_SUBMIT) return MAPI_E_UNKNOWN_FLAGS;
    auto lock = Lock();
    if (recipients_.empty()) return RecordError(MAPI_E_NO_RECIPIENTS, "The message has no recipients");
    const bool created = id_ == 0;
    const HRESULT hr = Save(KEEP_OPEN_READWRITE, true);
    if (SUCCEEDED(hr)) {
        submitted_ = true;
        SetWritable(false);  // the spooler has it now
    }
    const ObjectEvent e{created ? fnevObjectCreated : fnevObjectModified, MAPI_MESSAGE, id_, folder_};
    lock.unlock();
    if (SUCCEEDED(hr)) ctx_->Notify(e);
    return hr;
}

HRESULT CMessage::SetReadFlag(ULONG ulFlags)
{
    if (ulFlags & ~(SUPPRESS_RECEIPT | CLEAR_READ_FLAG | kGenerateReceiptOnly | kClearRnPending | kClearNrnPending))
        return MAPI_E_UNKNOWN_FLAGS;
    if (ulFlags & kGenerateReceiptOnly) return S_OK;  // receipts are not generated here
    auto change = [&](ULONG flags) {
        flags = (ulFlags & CLEAR_READ_FLAG) ? flags & ~MSGFLAG_READ : flags | MSGFLAG_READ;
        if (ulFlags & kClearRnPending) flags &= ~MSGFLAG_RN_PENDING;
        if (ulFlags & kClearNrnPending) flags &= ~MSGFLAG_NRN_PENDING;
        return flags;
    };
    auto lock = Lock();
    SetFlagBits(change(Flags()) & (MSGFLAG_READ | MSGFLAG_RN_PENDING | MSGFLAG_NRN_PENDING),
                MSGFLAG_READ | MSGFLAG_RN_PENDING | MSGFLAG_NRN_PENDING);
    if (!id_) return S_OK;
    // The read state of a saved message changes at once, as at home.
    auto dbLock = ctx_->db->Lock();
    const HRESULT hr = GuardStore("SetReadFlag", [&]() -> HRESULT {
        Tx tx(*ctx_->db, true);
        const auto m = GetMessage(*ctx_->db, id_);
        if (!m) return MAPI_E_OBJECT_DELETED;
        SetMessageFlags(*ctx_->db, id_, change(m->flags));
        tx.Commit();
        return S_OK;
    });
    dbLock.unlock();
    const ObjectEvent e{fnevObjectModified, MAPI_MESSAGE, id_, folder_};
    lock.unlock();
    if (SUCCEEDED(hr)) ctx_->Notify(e);
    return hr;
}

// ---- Properties as streams --------------------------------------------------------------------

HRESULT CMessage::OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                               LPUNKNOWN* lppUnk)
{
    ComPtr<CMessage> self(this);
    auto read = [this, ulPropTag]() -> std::optional<std::string> {
        auto lock = Lock();
        const SPropValue* v = Bag().Find(ulPropTag);
        if (!v) return std::nullopt;
        if (PROP_TYPE(ulPropTag) == PT_STRING8) return std::string(v->Value.lpszA);
        return std::string(reinterpret_cast<const char*>(v->Value.bin.lpb), v->Value.bin.cb);
    };
    auto write = [self, ulPropTag](std::string_view bytes) -> HRESULT {
        auto lock = self->Lock();
        if (!self->Writable()) return MAPI_E_NO_ACCESS;
        std::string text(bytes.substr(0, bytes.find('\0')));
        SPropValue v{};
        v.ulPropTag = ulPropTag;
        if (PROP_TYPE(ulPropTag) == PT_STRING8) {
            v.Value.lpszA = text.data();
        } else {
            v.Value.bin.cb = static_cast<ULONG>(bytes.size());
            v.Value.bin.lpb = reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()));
        }
        if (const SCODE sc = self->Bag().Set(v); FAILED(sc)) return sc;
        self->SetModified(true);
        return S_OK;
    };
    const HRESULT hr = OpenPropStream(ulPropTag, lpiid, ulFlags, IsWritable(), read, write, lppUnk);
    return FAILED(hr) ? RecordError(hr, "The property cannot be opened as a stream") : hr;
}

// ---- Factories ----------------------------------------------------------------------------------

HRESULT OpenMessageObject(const ContextPtr& ctx, RowId id, bool writable, IMessage** out)
{
    *out = nullptr;
    auto m = ComPtr<CMessage>::Attach(NewComObject<CMessage>(ctx, 0, false, id, writable));
    if (const HRESULT hr = m->Init(); FAILED(hr)) return hr;
    *out = m.Detach();
    return S_OK;
}

HRESULT NewMessageObject(const ContextPtr& ctx, RowId folder, bool associated, IMessage** out)
{
    *out = nullptr;
    auto m = ComPtr<CMessage>::Attach(NewComObject<CMessage>(ctx, folder, associated, 0, true));
    if (const HRESULT hr = m->Init(); FAILED(hr)) return hr;
    *out = m.Detach();
    return S_OK;
}

bool MessageIdOf(IUnknown* obj, const MAPIUID& store, RowId* id)
{
    auto* m = dynamic_cast<CMessage*>(obj);
    if (!m || !SameUid(m->StoreUid(), store) || !m->Id()) return false;
    *id = m->Id();
    return true;
}

}  // namespace quillory::store
