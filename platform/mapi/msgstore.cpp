// The message store object: its properties, entry IDs, receive folders,
// advise sinks, and the outgoing queue the spooler works through.
#include "platform/mapi/msgstore.h"

#include <cstring>
#include <set>

#include "platform/base/trace.h"
#include "platform/mapi/msgstore_impl.h"
#include "platform/mapi/msgstore_table.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/restriction.h"

namespace quillory {

const MAPIUID kQuilloryStoreProvider = {
    {0x51, 0x75, 0x69, 0x6C, 0x6C, 0x6F, 0x72, 0x79, 0x53, 0x74, 0x6F, 0x72, 0x65, 0x00, 0x00, 0x01}};

namespace store {
namespace {

constexpr ULONG kSupportMask = STORE_ENTRYID_UNIQUE | STORE_MODIFY_OK | STORE_CREATE_OK | STORE_ATTACH_OK |
                               STORE_SUBMIT_OK | STORE_NOTIFY_OK | STORE_MV_PROPS_OK | STORE_RESTRICTION_OK |
                               STORE_SORT_OK | STORE_HTML_OK | STORE_RTF_OK;
constexpr ULONG kValidFolders = FOLDER_IPM_SUBTREE_VALID | FOLDER_IPM_INBOX_VALID | FOLDER_IPM_OUTBOX_VALID |
                                FOLDER_IPM_WASTEBASKET_VALID | FOLDER_IPM_SENTMAIL_VALID;
constexpr ULONG kComputed[] = {PR_ENTRYID,           PR_RECORD_KEY,          PR_STORE_ENTRYID,
                               PR_STORE_RECORD_KEY,  PR_OBJECT_TYPE,         PR_DISPLAY_NAME,
                               PR_STORE_SUPPORT_MASK, PR_MDB_PROVIDER,       PR_VALID_FOLDER_MASK,
                               PR_IPM_SUBTREE_ENTRYID, PR_IPM_OUTBOX_ENTRYID, PR_IPM_SENTMAIL_ENTRYID,
                               PR_IPM_WASTEBASKET_ENTRYID, PR_ACCESS,        PR_ACCESS_LEVEL};

bool Matches(ULONG wanted, ULONG tag)
{
    return wanted == tag || (PROP_TYPE(wanted) == PT_UNSPECIFIED && PROP_ID(wanted) == PROP_ID(tag));
}

SCODE ChainString(std::string_view text, void* base, LPSTR* out)
{
    void* p = nullptr;
    if (const SCODE sc = MAPIAllocateMore(static_cast<ULONG>(text.size() + 1), base, &p); FAILED(sc)) return sc;
    std::memcpy(p, text.data(), text.size());
    static_cast<char*>(p)[text.size()] = '\0';
    *out = static_cast<LPSTR>(p);
    return S_OK;
}

// The queued messages in submission order, as rows of message values.
class OutgoingSource final : public TableSource {
public:
    explicit OutgoingSource(ContextPtr ctx) : ctx_(std::move(ctx)) {}

    std::vector<ULONG> DefaultColumns() override
    {
        return {PR_ENTRYID,     PR_INSTANCE_KEY,       PR_SUBMIT_FLAGS,  PR_CLIENT_SUBMIT_TIME,
                PR_PARENT_ENTRYID, PR_MESSAGE_SIZE,    PR_MESSAGE_FLAGS, PR_DISPLAY_TO,
                PR_SUBJECT,     PR_SENT_REPRESENTING_NAME};
    }

    HRESULT Keys(const SRestriction* res, std::span<const SSortOrder> sort, std::vector<std::int64_t>& keys) override
    {
        auto lock = ctx_->db->Lock();
        keys.clear();
        std::vector<ULONG> tags;
        if (res) RestrictionTags(*res, tags);
        for (const SSortOrder& s : sort) tags.push_back(s.ulPropTag);
        std::vector<std::pair<RowId, SRow>> rows;
        for (const QueuedMessage& q : OutgoingQueue(*ctx_->db)) {
            SRow row{};
            if (!MessageRow(*ctx_->db, ctx_->uid, q.id, tags, row)) continue;
            if (res && !EvaluateRestriction(*res, row.lpProps, row.cValues)) {
                MAPIFreeBuffer(row.lpProps);
                continue;
            }
            rows.emplace_back(q.id, row);
        }
        std::stable_sort(rows.begin(), rows.end(), [&](const auto& x, const auto& y) {
            for (const SSortOrder& s : sort) {
                int r = CompareSortValues(FindValue(x.second.lpProps, x.second.cValues, s.ulPropTag),
                                          FindValue(y.second.lpProps, y.second.cValues, s.ulPropTag));
                if (s.ulOrder == TABLE_SORT_DESCEND) r = -r;
                if (r) return r < 0;
            }
            return false;
        });
        for (auto& [id, row] : rows) {
            keys.push_back(id);
            MAPIFreeBuffer(row.lpProps);
        }
        return S_OK;
    }

    HRESULT Row(std::int64_t key, std::span<const ULONG> columns, SRow& row) override
    {
        auto lock = ctx_->db->Lock();
        if (!IsQueued(*ctx_->db, key)) return S_FALSE;
        return MessageRow(*ctx_->db, ctx_->uid, key, columns, row) ? S_OK : S_FALSE;
    }

    std::uint64_t Version() override
    {
        auto lock = ctx_->db->Lock();
        return ctx_->db->Version(kQueueVersionKey);
    }

private:
    ContextPtr ctx_;
};

class CMsgStore final : public CMAPIPropBase<IMsgStore> {
public:
    explicit CMsgStore(ContextPtr ctx) : ctx_(std::move(ctx)) {}

    HRESULT Init()
    {
        CPropertyBag stored;
        {
            auto dbLock = ctx_->db->Lock();
            if (const HRESULT hr = GuardStore("store", [&] {
                    LoadStoreProps(*ctx_->db, stored);
                    return S_OK;
                });
                FAILED(hr))
                return hr;
        }
        auto lock = Lock();  // objects lock before the database, never after
        Bag() = std::move(stored);
        SetModified(false);
        return S_OK;
    }

    // ---- IMAPIProp -------------------------------------------------------------------

    HRESULT SaveChanges(ULONG ulFlags) override { return S_OK; }  // properties are written as they are set

    HRESULT SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems) override
    {
        const HRESULT hr = DoSetProps(cValues, lpPropArray, lppProblems);
        return FAILED(hr) ? hr : Persist();
    }

    HRESULT DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems) override
    {
        const HRESULT hr = DoDeleteProps(lpPropTagArray, lppProblems);
        return FAILED(hr) ? hr : Persist();
    }

    // ---- IMsgStore -----------------------------------------------------------------------

    HRESULT Advise(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink,
                   ULONG* lpulConnection) override
    {
        if (!lpAdviseSink || !lpulConnection || !ulEventMask) return MAPI_E_INVALID_PARAMETER;
        *lpulConnection = 0;
        std::optional<StoreEntryId> target;
        if (cbEntryID || lpEntryID) {
            target = ParseStoreEntryId(cbEntryID, lpEntryID);
            if (!target || !SameUid(target->store, ctx_->uid))
                return RecordError(MAPI_E_INVALID_ENTRYID, "The entry ID is not one of this store");
        }
        *lpulConnection = ctx_->advise->Add(target, ulEventMask, lpAdviseSink);
        std::lock_guard lock(connectionsMutex_);
        connections_.insert(*lpulConnection);
        return S_OK;
    }

    HRESULT Unadvise(ULONG ulConnection) override
    {
        {
            std::lock_guard lock(connectionsMutex_);
            if (!connections_.erase(ulConnection)) return MAPI_E_NOT_FOUND;
        }
        ctx_->advise->Remove(ulConnection);
        return S_OK;
    }

    HRESULT CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2, LPENTRYID lpEntryID2,
                            ULONG ulFlags, ULONG* lpulResult) override
    {
        if (!lpulResult) return MAPI_E_INVALID_PARAMETER;
        *lpulResult = FALSE;
        const auto a = ParseStoreEntryId(cbEntryID1, lpEntryID1);
        const auto b = ParseStoreEntryId(cbEntryID2, lpEntryID2);
        if (!a || !b) return RecordError(MAPI_E_INVALID_ENTRYID, "An entry ID is not one of a store");
        *lpulResult = SameUid(a->store, b->store) && a->kind == b->kind && a->id == b->id;
        return S_OK;
    }

    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType,
                      LPUNKNOWN* lppUnk) override
    {
        return OpenStoreEntry(ctx_, cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType, lppUnk);
    }

    HRESULT SetReceiveFolder(LPSTR lpszMessageClass, ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID) override
    {
        if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
        const std::string_view cls = lpszMessageClass ? lpszMessageClass : "";
        RowId folder = 0;
        if (cbEntryID || lpEntryID) {
            if (FAILED(ctx_->ParseId(cbEntryID, lpEntryID, MAPI_FOLDER, &folder)))
                return RecordError(MAPI_E_INVALID_ENTRYID, "The entry ID is not a folder of this store");
        }
        auto lock = ctx_->db->Lock();
        return GuardStore("SetReceiveFolder", [&] {
            if (folder && !GetFolder(*ctx_->db, folder)) return MAPI_E_NOT_FOUND;
            Tx tx(*ctx_->db, true);
            store::SetReceiveFolder(*ctx_->db, cls, folder);
            ctx_->db->Touch(kReceiveVersionKey);
            tx.Commit();
            return S_OK;
        });
    }

    HRESULT GetReceiveFolder(LPSTR lpszMessageClass, ULONG ulFlags, ULONG* lpcbEntryID, LPENTRYID* lppEntryID,
                             LPSTR* lppszExplicitClass) override
    {
        if (!lpcbEntryID || !lppEntryID) return MAPI_E_INVALID_PARAMETER;
        *lpcbEntryID = 0;
        *lppEntryID = nullptr;
        if (lppszExplicitClass) *lppszExplicitClass = nullptr;
        if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
        auto lock = ctx_->db->Lock();
        return GuardStore("GetReceiveFolder", [&]() -> HRESULT {
            std::string matched;
            const auto folder = ReceiveFolder(*ctx_->db, lpszMessageClass ? lpszMessageClass : "", &matched);
            if (!folder) return MAPI_E_NOT_FOUND;
            MapiBuffer<ENTRYID> eid;
            ULONG cb = 0;
            if (const SCODE sc = AllocEntryId(ctx_->uid, MAPI_FOLDER, *folder, nullptr, &cb, &eid); FAILED(sc))
                return sc;
            if (lppszExplicitClass) {
                void* p = nullptr;
                if (const SCODE sc = MAPIAllocateBuffer(static_cast<ULONG>(matched.size() + 1), &p); FAILED(sc))
                    return sc;
                std::memcpy(p, matched.c_str(), matched.size() + 1);
                *lppszExplicitClass = static_cast<LPSTR>(p);
            }
            *lpcbEntryID = cb;
            *lppEntryID = eid.Release();
            return S_OK;
        });
    }

    HRESULT GetReceiveFolderTable(ULONG ulFlags, LPMAPITABLE* lppTable) override
    {
        if (!lppTable) return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
        ContextPtr ctx = ctx_;
        auto loader = [ctx](MemoryTableSource::Data& data) -> HRESULT {
            auto lock = ctx->db->Lock();
            return GuardStore("receive folder table", [&]() -> HRESULT {
                data.columns = {PR_INSTANCE_KEY, PR_ENTRYID, PR_RECORD_KEY, PR_MESSAGE_CLASS};
                std::int64_t key = 0;
                for (const ReceiveEntry& e : ReceiveFolders(*ctx->db)) {
                    const auto eid = ctx->EntryId(MAPI_FOLDER, e.folder);
                    ++key;
                    BYTE instance[8];
                    for (int i = 0; i < 8; ++i) instance[i] = static_cast<BYTE>(static_cast<std::uint64_t>(key) >> (8 * i));
                    SPropValue v[4]{};
                    v[0].ulPropTag = PR_INSTANCE_KEY;
                    v[0].Value.bin = SBinary{8, instance};
                    v[1].ulPropTag = PR_ENTRYID;
                    v[1].Value.bin = SBinary{static_cast<ULONG>(eid.size()), const_cast<BYTE*>(eid.data())};
                    v[2].ulPropTag = PR_RECORD_KEY;
                    v[2].Value.bin = v[1].Value.bin;
                    v[3].ulPropTag = PR_MESSAGE_CLASS;
                    v[3].Value.lpszA = const_cast<LPSTR>(e.messageClass.c_str());
                    PropArray row;
                    if (const SCODE sc = ScDupPropset(4, v, MAPIAllocateBuffer, &row.props); FAILED(sc)) return sc;
                    row.count = 4;
                    data.keys.push_back(key);
                    data.rows.push_back(std::move(row));
                }
                return S_OK;
            });
        };
        auto version = [ctx] {
            auto lock = ctx->db->Lock();
            std::uint64_t v = 0;
            GuardStore("receive folder table", [&] {
                v = ctx->db->Version(kReceiveVersionKey);
                return S_OK;
            });
            return v;
        };
        return CreateStoreTable(std::make_unique<MemoryTableSource>(loader, version), lppTable);
    }

    HRESULT StoreLogoff(ULONG* lpulFlags) override
    {
        if (!lpulFlags) return MAPI_E_INVALID_PARAMETER;
        auto lock = ctx_->db->Lock();
        return GuardStore("StoreLogoff", [&] {
            const bool pending = !OutgoingQueue(*ctx_->db).empty();
            *lpulFlags = pending ? LOGOFF_OUTBOUND_QUEUE : 0;
            return S_OK;
        });
    }

    HRESULT AbortSubmit(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulFlags) override
    {
        RowId id = 0;
        if (FAILED(ctx_->ParseId(cbEntryID, lpEntryID, MAPI_MESSAGE, &id)))
            return RecordError(MAPI_E_INVALID_ENTRYID, "The entry ID is not a message of this store");
        {
            std::lock_guard lock(connectionsMutex_);
            if (locked_.count(id)) return MAPI_E_UNABLE_TO_ABORT;  // the spooler is sending it
        }
        RowId folder = 0;
        auto dbLock = ctx_->db->Lock();
        const HRESULT hr = GuardStore("AbortSubmit", [&]() -> HRESULT {
            Tx tx(*ctx_->db, true);
            if (!UnqueueMessage(*ctx_->db, id)) return MAPI_E_NOT_IN_QUEUE;
            const auto m = GetMessage(*ctx_->db, id);
            if (m) {
                SetMessageFlags(*ctx_->db, id, m->flags & ~MSGFLAG_SUBMIT);
                folder = m->folder;
            }
            ctx_->db->Touch(kQueueVersionKey);
            tx.Commit();
            return S_OK;
        });
        dbLock.unlock();
        if (SUCCEEDED(hr)) ctx_->Notify({fnevObjectModified, MAPI_MESSAGE, id, folder});
        return hr;
    }

    HRESULT GetOutgoingQueue(ULONG ulFlags, LPMAPITABLE* lppTable) override
    {
        if (!lppTable) return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        return CreateStoreTable(std::make_unique<OutgoingSource>(ctx_), lppTable);
    }

    HRESULT SetLockState(LPMESSAGE lpMessage, ULONG ulLockState) override
    {
        RowId id = 0;
        if (!lpMessage || !MessageIdOf(lpMessage, ctx_->uid, &id)) return MAPI_E_INVALID_PARAMETER;
        std::lock_guard lock(connectionsMutex_);
        if (ulLockState == MSG_LOCKED) locked_.insert(id);
        else if (ulLockState == MSG_UNLOCKED) locked_.erase(id);
        else return MAPI_E_INVALID_PARAMETER;
        return S_OK;
    }

    // The spooler is done with a message: it leaves the queue and is no
    // longer unsent; then it is deleted (PR_DELETE_AFTER_SUBMIT) or moved to
    // the folder PR_SENTMAIL_ENTRYID names, all in one transaction.
    HRESULT FinishedMsg(ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID) override
    {
        RowId id = 0;
        if (FAILED(ctx_->ParseId(cbEntryID, lpEntryID, MAPI_MESSAGE, &id)))
            return RecordError(MAPI_E_INVALID_ENTRYID, "The entry ID is not a message of this store");
        {
            std::lock_guard lock(connectionsMutex_);
            locked_.erase(id);
        }
        ObjectEvent event;
        auto dbLock = ctx_->db->Lock();
        const HRESULT hr = GuardStore("FinishedMsg", [&]() -> HRESULT {
            Tx tx(*ctx_->db, true);
            const auto m = GetMessage(*ctx_->db, id);
            if (!m) return MAPI_E_NOT_FOUND;
            UnqueueMessage(*ctx_->db, id);
            ctx_->db->Touch(kQueueVersionKey);
            CPropertyBag props;
            LoadMessageProps(*ctx_->db, id, props);
            SetMessageFlags(*ctx_->db, id, (m->flags & ~(MSGFLAG_SUBMIT | MSGFLAG_UNSENT)) | MSGFLAG_READ);
            const SPropValue* del = props.Find(PR_DELETE_AFTER_SUBMIT);
            const SPropValue* sent = props.Find(PR_SENTMAIL_ENTRYID);
            RowId target = 0;
            if (sent && SUCCEEDED(ctx_->ParseId(sent->Value.bin.cb, reinterpret_cast<const ENTRYID*>(sent->Value.bin.lpb),
                                                MAPI_FOLDER, &target)) &&
                !GetFolder(*ctx_->db, target))
                target = 0;
            if (del && del->Value.b) {
                DeleteMessage(*ctx_->db, id);
                event = {fnevObjectDeleted, MAPI_MESSAGE, id, m->folder};
            } else if (target && target != m->folder) {
                MoveMessage(*ctx_->db, id, target);
                event = {fnevObjectMoved, MAPI_MESSAGE, id, target, id, m->folder};
            } else {
                event = {fnevObjectModified, MAPI_MESSAGE, id, m->folder};
            }
            tx.Commit();
            return S_OK;
        });
        dbLock.unlock();
        if (SUCCEEDED(hr)) ctx_->Notify(event);
        return hr;
    }

    HRESULT NotifyNewMail(LPNOTIFICATION lpNotification) override
    {
        if (!lpNotification) return MAPI_E_INVALID_PARAMETER;
        ctx_->advise->NotifyNewMail(ctx_->uid, *lpNotification);
        return S_OK;
    }

    ~CMsgStore() override
    {
        std::set<ULONG> connections;
        {
            std::lock_guard lock(connectionsMutex_);
            connections.swap(connections_);
        }
        for (ULONG c : connections) ctx_->advise->Remove(c);
    }

protected:
    bool SupportsInterface(REFIID riid) const override { return IsEqualIID(riid, IID_IMsgStore); }
    const char* ComponentName() const override { return "Quillory message store"; }

    bool IsComputedProp(ULONG tag) const override
    {
        for (ULONG t : kComputed) {
            if (Matches(tag, t)) return true;
        }
        return false;
    }

    void ListComputedProps(std::vector<ULONG>& tags) const override
    {
        tags.insert(tags.end(), std::begin(kComputed), std::end(kComputed));
    }

    HRESULT GetComputedProp(ULONG tag, void* base, LPSPropValue out) override
    {
        ULONG canonical = 0;
        for (ULONG t : kComputed) {
            if (Matches(tag, t)) canonical = t;
        }
        if (!canonical) return MAPI_E_NOT_FOUND;
        out->ulPropTag = canonical;
        const SpecialFolders& sf = ctx_->db->Special();
        auto entryId = [&](ULONG kind, RowId id) { return ChainBinary(ctx_->EntryId(kind, id), base, out->Value.bin); };
        switch (canonical) {
        case PR_ENTRYID:
        case PR_STORE_ENTRYID: return entryId(MAPI_STORE, 0);
        case PR_RECORD_KEY:
        case PR_STORE_RECORD_KEY:
            return ChainBinary(std::span<const BYTE>(ctx_->uid.ab, sizeof ctx_->uid.ab), base, out->Value.bin);
        case PR_MDB_PROVIDER:
            return ChainBinary(std::span<const BYTE>(kQuilloryStoreProvider.ab, sizeof kQuilloryStoreProvider.ab),
                               base, out->Value.bin);
        case PR_OBJECT_TYPE: out->Value.l = MAPI_STORE; return S_OK;
        case PR_STORE_SUPPORT_MASK: out->Value.l = static_cast<LONG>(kSupportMask); return S_OK;
        case PR_VALID_FOLDER_MASK: out->Value.l = static_cast<LONG>(kValidFolders); return S_OK;
        case PR_ACCESS: out->Value.l = MAPI_ACCESS_READ | MAPI_ACCESS_MODIFY; return S_OK;
        case PR_ACCESS_LEVEL: out->Value.l = MAPI_MODIFY; return S_OK;
        case PR_IPM_SUBTREE_ENTRYID: return entryId(MAPI_FOLDER, sf.ipm);
        case PR_IPM_OUTBOX_ENTRYID: return entryId(MAPI_FOLDER, sf.outbox);
        case PR_IPM_SENTMAIL_ENTRYID: return entryId(MAPI_FOLDER, sf.sent);
        case PR_IPM_WASTEBASKET_ENTRYID: return entryId(MAPI_FOLDER, sf.deleted);
        case PR_DISPLAY_NAME: {
            std::string name;
            const HRESULT hr = GuardStore("store name", [&] {
                auto lock = ctx_->db->Lock();
                name = ctx_->db->DisplayName();
                return S_OK;
            });
            if (FAILED(hr)) return hr;
            return ChainString(name, base, &out->Value.lpszA);
        }
        default: return MAPI_E_NOT_FOUND;
        }
    }

private:
    // Writes the whole set of stored properties in one transaction.
    HRESULT Persist()
    {
        auto lock = Lock();
        if (!Modified()) return S_OK;
        auto dbLock = ctx_->db->Lock();
        return GuardStore("store properties", [&] {
            Tx tx(*ctx_->db, true);
            ctx_->db->Exec("DELETE FROM store_props");
            Bag().ForEach([&](const SPropValue& v) { PutStoreProp(*ctx_->db, v); });
            tx.Commit();
            SetModified(false);
            return S_OK;
        });
    }

    ContextPtr ctx_;
    std::mutex connectionsMutex_;
    std::set<ULONG> connections_;
    std::set<RowId> locked_;
};

}  // namespace
}  // namespace store

HRESULT OpenMessageStore(const std::filesystem::path& file, const MAPIUID& storeUid, std::string_view displayName,
                         ULONG ulFlags, IMsgStore** out, std::string* error)
{
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    constexpr ULONG kAccepted = MDB_NO_DIALOG | MDB_WRITE | MDB_NO_MAIL | MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS;
    if (ulFlags & ~kAccepted) return MAPI_E_UNKNOWN_FLAGS;
    if (file.empty()) return MAPI_E_INVALID_PARAMETER;
    auto ctx = std::make_shared<store::StoreContext>();
    if (const HRESULT hr = store::StoreDb::Open(file, storeUid, displayName, ctx->db, error); FAILED(hr)) return hr;
    ctx->uid = ctx->db->Uid();
    ctx->advise = store::AdviseListFor(ctx->uid);
    auto obj = ComPtr<store::CMsgStore>::Attach(NewComObject<store::CMsgStore>(ctx));
    if (const HRESULT hr = obj->Init(); FAILED(hr)) return hr;
    *out = obj.Detach();
    return S_OK;
}

HRESULT VerifyMessageStore(const std::filesystem::path& file)
{
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return MAPI_E_NOT_FOUND;
    std::shared_ptr<store::StoreDb> db;
    if (const HRESULT hr = store::StoreDb::Open(file, MAPIUID{}, {}, db); FAILED(hr)) return hr;
    auto lock = db->Lock();
    return db->CheckIntegrity();
}

bool StoreUidOfEntryId(ULONG cbEntryID, const ENTRYID* lpEntryID, MAPIUID* uid)
{
    const auto e = ParseStoreEntryId(cbEntryID, lpEntryID);
    if (!e) return false;
    if (uid) *uid = e->store;
    return true;
}

}  // namespace quillory
