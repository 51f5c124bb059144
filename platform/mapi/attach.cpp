// Attachments: the attachment object, and the message's side of them
// (creating, opening, deleting, the attachment table). An attachment's
// SaveChanges hands its values to the message; the message's SaveChanges
// writes them.
#include <algorithm>

#include "platform/mapi/message.h"
#include "platform/mapi/msgstore_table.h"
#include "platform/mapi/propcodec.h"
#include "platform/mapi/proputil.h"

namespace quillory::store {
namespace {

constexpr ULONG kAttachComputed[] = {PR_ATTACH_NUM, PR_OBJECT_TYPE, PR_ATTACH_SIZE};

bool Matches(ULONG wanted, ULONG tag)
{
    return wanted == tag || (PROP_TYPE(wanted) == PT_UNSPECIFIED && PROP_ID(wanted) == PROP_ID(tag));
}

// Bytes the values take in the store.
ULONG StoredSize(const CPropertyBag& values)
{
    std::uint64_t size = 0;
    std::vector<BYTE> bytes;
    values.ForEach([&](const SPropValue& v) {
        bytes.clear();
        if (SUCCEEDED(EncodePropValue(v, bytes))) size += bytes.size();
    });
    return static_cast<ULONG>(std::min<std::uint64_t>(size, 0xFFFFFFFFu));
}

class CAttach final : public CMAPIPropBase<IAttach> {
public:
    CAttach(CMessage* message, ULONG num) : message_(message), num_(num) {}

    HRESULT Init(CPropertyBag values, bool writable)
    {
        auto lock = Lock();
        Bag() = std::move(values);
        Bag().Delete(PR_ATTACH_NUM);
        SetWritable(writable);
        SetModified(false);
        return S_OK;
    }

    HRESULT SaveChanges(ULONG ulFlags) override
    {
        if (ulFlags & ~(KEEP_OPEN_READONLY | KEEP_OPEN_READWRITE | FORCE_SAVE | MAPI_DEFERRED_ERRORS))
            return MAPI_E_UNKNOWN_FLAGS;
        CPropertyBag copy;
        {
            auto lock = Lock();
            if (!Writable()) return RecordError(MAPI_E_NO_ACCESS, "The attachment was opened read-only");
            if (const SCODE sc = Bag().Clone(copy); FAILED(sc)) return sc;
            SetModified(false);
            if (ulFlags & KEEP_OPEN_READONLY) SetWritable(false);
        }
        return message_->CommitAttachment(num_, copy);
    }

    HRESULT OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions, ULONG ulFlags,
                         LPUNKNOWN* lppUnk) override
    {
        ComPtr<CAttach> self(this);
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
        bool writable = false;
        {
            auto lock = Lock();
            writable = Writable();
        }
        const HRESULT hr = OpenPropStream(ulPropTag, lpiid, ulFlags, writable, read, write, lppUnk);
        return FAILED(hr) ? RecordError(hr, "The property cannot be opened as a stream") : hr;
    }

protected:
    bool SupportsInterface(REFIID riid) const override { return IsEqualIID(riid, IID_IAttachment); }
    const char* ComponentName() const override { return "Quillory message store"; }
    bool IsComputedProp(ULONG tag) const override
    {
        return std::any_of(std::begin(kAttachComputed), std::end(kAttachComputed),
                           [&](ULONG t) { return Matches(tag, t); });
    }
    void ListComputedProps(std::vector<ULONG>& tags) const override
    {
        tags.insert(tags.end(), std::begin(kAttachComputed), std::end(kAttachComputed));
    }
    HRESULT GetComputedProp(ULONG tag, void*, LPSPropValue out) override
    {
        if (Matches(tag, PR_ATTACH_NUM)) {
            out->ulPropTag = PR_ATTACH_NUM;
            out->Value.l = static_cast<LONG>(num_);
        } else if (Matches(tag, PR_OBJECT_TYPE)) {
            out->ulPropTag = PR_OBJECT_TYPE;
            out->Value.l = MAPI_ATTACH;
        } else if (Matches(tag, PR_ATTACH_SIZE)) {
            out->ulPropTag = PR_ATTACH_SIZE;
            out->Value.l = static_cast<LONG>(StoredSize(Bag()));
        } else {
            return MAPI_E_NOT_FOUND;
        }
        return S_OK;
    }

private:
    ComPtr<CMessage> message_;  // an attachment keeps its message open
    ULONG num_;
};

}  // namespace

HRESULT NewAttachObject(CMessage* message, ULONG num, CPropertyBag values, bool writable, LPATTACH* out)
{
    *out = nullptr;
    auto a = ComPtr<CAttach>::Attach(NewComObject<CAttach>(message, num));
    if (const HRESULT hr = a->Init(std::move(values), writable); FAILED(hr)) return hr;
    *out = a.Detach();
    return S_OK;
}

// ---- The message's side ------------------------------------------------------------------

bool CMessage::HasAttachments() const { return !stored_.empty() || !attachments_.empty(); }

std::vector<ULONG> CMessage::AttachmentNums() const
{
    std::set<ULONG> nums(stored_);
    for (const auto& [num, a] : attachments_) nums.insert(num);
    return {nums.begin(), nums.end()};
}

HRESULT CMessage::LoadAttachment(ULONG num)
{
    if (attachments_.count(num)) return S_OK;
    if (!stored_.count(num)) return MAPI_E_NOT_FOUND;
    Attachment a;
    auto dbLock = ctx_->db->Lock();
    const HRESULT hr = GuardStore("open attachment", [&]() -> HRESULT {
        return store::LoadAttachment(*ctx_->db, id_, num, true, a.values) ? S_OK : MAPI_E_NOT_FOUND;
    });
    if (FAILED(hr)) return hr;
    attachments_.emplace(num, std::move(a));
    return S_OK;
}

HRESULT CMessage::AttachmentValues(ULONG num, CPropertyBag& out)
{
    auto lock = Lock();
    if (const HRESULT hr = LoadAttachment(num); FAILED(hr)) return hr;
    return attachments_.at(num).values.Clone(out);
}

HRESULT CMessage::CommitAttachment(ULONG num, const CPropertyBag& values)
{
    auto lock = Lock();
    if (!Writable()) return RecordError(MAPI_E_NO_ACCESS, "The message was opened read-only");
    Attachment a;
    a.dirty = true;
    if (const SCODE sc = values.Clone(a.values); FAILED(sc)) return sc;
    attachments_.insert_or_assign(num, std::move(a));
    SetFlagBits(MSGFLAG_HASATTACH, 0);
    ++attachmentsVersion_;
    SetModified(true);
    return S_OK;
}

HRESULT CMessage::CreateAttach(LPCIID lpInterface, ULONG ulFlags, ULONG* lpulAttachmentNum, LPATTACH* lppAttach)
{
    if (!lpulAttachmentNum || !lppAttach) return MAPI_E_INVALID_PARAMETER;
    *lppAttach = nullptr;
    if (ulFlags & ~MAPI_DEFERRED_ERRORS) return MAPI_E_UNKNOWN_FLAGS;
    ULONG num = 0;
    {
        auto lock = Lock();
        if (const HRESULT hr = CheckModify(); FAILED(hr)) return RecordError(hr, "The message was opened read-only");
        num = nextAttach_++;
    }
    *lpulAttachmentNum = num;
    return NewAttachObject(this, num, CPropertyBag{}, true, lppAttach);
}

HRESULT CMessage::OpenAttach(ULONG ulAttachmentNum, LPCIID lpInterface, ULONG ulFlags, LPATTACH* lppAttach)
{
    if (!lppAttach) return MAPI_E_INVALID_PARAMETER;
    *lppAttach = nullptr;
    if (ulFlags & ~(MAPI_MODIFY | MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS)) return MAPI_E_UNKNOWN_FLAGS;
    CPropertyBag values;
    bool writable = false;
    {
        auto lock = Lock();
        if (const HRESULT hr = LoadAttachment(ulAttachmentNum); FAILED(hr))
            return RecordError(hr, "The message has no attachment of that number");
        if (const SCODE sc = attachments_.at(ulAttachmentNum).values.Clone(values); FAILED(sc)) return sc;
        writable = Writable() && (ulFlags & (MAPI_MODIFY | MAPI_BEST_ACCESS));
    }
    return NewAttachObject(this, ulAttachmentNum, std::move(values), writable, lppAttach);
}

HRESULT CMessage::DeleteAttach(ULONG ulAttachmentNum, ULONG_PTR, LPMAPIPROGRESS, ULONG ulFlags)
{
    auto lock = Lock();
    if (const HRESULT hr = CheckModify(); FAILED(hr)) return RecordError(hr, "The message was opened read-only");
    const bool stored = stored_.erase(ulAttachmentNum) > 0;
    const bool loaded = attachments_.erase(ulAttachmentNum) > 0;
    if (!stored && !loaded) return RecordError(MAPI_E_NOT_FOUND, "The message has no attachment of that number");
    if (stored) deleted_.push_back(ulAttachmentNum);
    if (!HasAttachments()) SetFlagBits(0, MSGFLAG_HASATTACH);
    ++attachmentsVersion_;
    SetModified(true);
    return S_OK;
}

HRESULT CMessage::GetAttachmentTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    if (!lppTable) return MAPI_E_INVALID_PARAMETER;
    *lppTable = nullptr;
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    ComPtr<CMessage> self(this);
    auto loader = [self](MemoryTableSource::Data& data) -> HRESULT {
        auto lock = self->Lock();
        data.columns = {PR_ATTACH_NUM,     PR_INSTANCE_KEY,    PR_RECORD_KEY,     PR_RENDERING_POSITION,
                        PR_ATTACH_METHOD,  PR_ATTACH_FILENAME, PR_ATTACH_LONG_FILENAME, PR_ATTACH_SIZE,
                        PR_ATTACH_MIME_TAG, PR_DISPLAY_NAME};
        for (ULONG num : self->AttachmentNums()) {
            CPropertyBag values;
            ULONG size = 0;
            if (const auto it = self->attachments_.find(num); it != self->attachments_.end()) {
                if (const SCODE sc = it->second.values.Clone(values); FAILED(sc)) return sc;
                size = StoredSize(values);
            } else {
                auto dbLock = self->ctx_->db->Lock();
                const HRESULT hr = GuardStore("attachment table", [&] {
                    store::LoadAttachment(*self->ctx_->db, self->id_, num, false, values);
                    size = AttachmentSize(*self->ctx_->db, self->id_, num);
                    return S_OK;
                });
                if (FAILED(hr)) return hr;
            }
            values.Delete(PR_ATTACH_DATA_BIN);  // data is read through the attachment
            BYTE key[4] = {static_cast<BYTE>(num), static_cast<BYTE>(num >> 8), static_cast<BYTE>(num >> 16),
                           static_cast<BYTE>(num >> 24)};
            SPropValue extra[4]{};
            extra[0].ulPropTag = PR_ATTACH_NUM;
            extra[0].Value.l = static_cast<LONG>(num);
            extra[1].ulPropTag = PR_INSTANCE_KEY;
            extra[1].Value.bin = SBinary{sizeof key, key};
            extra[2].ulPropTag = PR_RECORD_KEY;
            extra[2].Value.bin = SBinary{sizeof key, key};
            extra[3].ulPropTag = PR_ATTACH_SIZE;
            extra[3].Value.l = static_cast<LONG>(size);
            for (const SPropValue& v : extra) values.Set(v);
            PropArray row;
            if (const SCODE sc = values.CopyAll(&row.count, &row.props); FAILED(sc)) return sc;
            data.keys.push_back(num);
            data.rows.push_back(std::move(row));
        }
        return S_OK;
    };
    auto version = [self] { return self->attachmentsVersion_.load(); };
    return CreateStoreTable(std::make_unique<MemoryTableSource>(loader, version), lppTable);
}

}  // namespace quillory::store
