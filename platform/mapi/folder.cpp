// The folder object: properties (written as they are set), sub-folders,
// messages, and the operations on both. Each operation is one transaction.
#include "platform/mapi/folder.h"

#include <cstring>

#include "platform/base/trace.h"
#include "platform/mapi/proputil.h"

namespace quillory::store {
namespace {

class CFolder final : public CMAPIPropBase<IMAPIFolder> {
public:
    CFolder(ContextPtr ctx, RowId id) : ctx_(std::move(ctx)), id_(id) {}

    HRESULT Init()
    {
        CPropertyBag stored;
        {
            auto dbLock = ctx_->db->Lock();
            if (const HRESULT hr = GuardStore("open folder", [&]() -> HRESULT {
                    if (!GetFolder(*ctx_->db, id_)) return MAPI_E_NOT_FOUND;
                    LoadFolderProps(*ctx_->db, id_, stored);
                    return S_OK;
                });
                FAILED(hr))
                return hr;
        }
        auto lock = Lock();
        Bag() = std::move(stored);
        SetModified(false);
        return S_OK;
    }

    RowId Id() const { return id_; }
    const MAPIUID& StoreUid() const { return ctx_->uid; }

    // ---- IMAPIProp ----------------------------------------------------------------------

    HRESULT SaveChanges(ULONG ulFlags) override { return S_OK; }  // written as they are set

    HRESULT SetProps(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems) override
    {
        std::vector<RowId> renamed;
        const HRESULT hr = SetPropsWith(
            cValues, lpPropArray, lppProblems,
            [&](const SPropValue& v) -> std::optional<SCODE> {
                if (PROP_ID(v.ulPropTag) != PROP_ID(PR_DISPLAY_NAME)) return std::nullopt;
                if (v.ulPropTag != PR_DISPLAY_NAME || !v.Value.lpszA) return MAPI_E_INVALID_TYPE;
                return Rename(v.Value.lpszA);
            },
            [&](ULONG c, LPSPropValue a, LPSPropProblemArray* p) { return DoSetProps(c, a, p); });
        if (FAILED(hr)) return hr;
        return Persist();
    }

    HRESULT DeleteProps(LPSPropTagArray lpPropTagArray, LPSPropProblemArray* lppProblems) override
    {
        const HRESULT hr = DoDeleteProps(lpPropTagArray, lppProblems);
        return FAILED(hr) ? hr : Persist();
    }

    // ---- IMAPIContainer -------------------------------------------------------------------

    HRESULT GetContentsTable(ULONG ulFlags, LPMAPITABLE* lppTable) override
    {
        if (!lppTable) return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
        if (ulFlags & ~(MAPI_ASSOCIATED | MAPI_DEFERRED_ERRORS)) return MAPI_E_UNKNOWN_FLAGS;
        return CreateContentsTable(ctx_, id_, (ulFlags & MAPI_ASSOCIATED) != 0, lppTable);
    }

    HRESULT GetHierarchyTable(ULONG ulFlags, LPMAPITABLE* lppTable) override
    {
        if (!lppTable) return MAPI_E_INVALID_PARAMETER;
        *lppTable = nullptr;
        if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
        if (ulFlags & ~(CONVENIENT_DEPTH | MAPI_DEFERRED_ERRORS)) return MAPI_E_UNKNOWN_FLAGS;
        return CreateHierarchyTable(ctx_, id_, (ulFlags & CONVENIENT_DEPTH) != 0, lppTable);
    }

    HRESULT OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType,
                      LPUNKNOWN* lppUnk) override
    {
        return OpenStoreEntry(ctx_, cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType, lppUnk);
    }

    HRESULT SetSearchCriteria(LPSRestriction, LPENTRYLIST, ULONG) override
    {
        return RecordError(MAPI_E_NO_SUPPORT, "Search folders are not supported");
    }

    HRESULT GetSearchCriteria(ULONG, LPSRestriction* lppRestriction, LPENTRYLIST* lppContainerList,
                              ULONG* lpulSearchState) override
    {
        if (lppRestriction) *lppRestriction = nullptr;
        if (lppContainerList) *lppContainerList = nullptr;
        return RecordError(MAPI_E_NO_SUPPORT, "Search folders are not supported");
    }

    // ---- IMAPIFolder ---------------------------------------------------------------------

    HRESULT CreateMessage(LPCIID lpInterface, ULONG ulFlags, LPMESSAGE* lppMessage) override
    {
        if (!lppMessage) return MAPI_E_INVALID_PARAMETER;
        *lppMessage = nullptr;
        if (ulFlags & ~(MAPI_ASSOCIATED | MAPI_DEFERRED_ERRORS)) return MAPI_E_UNKNOWN_FLAGS;
        if (lpInterface && !IsEqualIID(*lpInterface, IID_IMessage) && !IsEqualIID(*lpInterface, IID_IMAPIProp) &&
            !IsEqualIID(*lpInterface, IID_IUnknown))
            return MAPI_E_INTERFACE_NOT_SUPPORTED;
        if (const HRESULT hr = CheckExists(); FAILED(hr)) return hr;
        return NewMessageObject(ctx_, id_, (ulFlags & MAPI_ASSOCIATED) != 0, lppMessage);
    }

    HRESULT CopyMessages(LPENTRYLIST lpMsgList, LPCIID lpInterface, void* lpDestFolder, ULONG_PTR, LPMAPIPROGRESS,
                         ULONG ulFlags) override;

    HRESULT DeleteMessages(LPENTRYLIST lpMsgList, ULONG_PTR, LPMAPIPROGRESS, ULONG ulFlags) override;

    HRESULT CreateFolder(ULONG ulFolderType, LPSTR lpszFolderName, LPSTR lpszFolderComment, LPCIID lpInterface,
                         ULONG ulFlags, LPMAPIFOLDER* lppFolder) override;

    HRESULT CopyFolder(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, void* lpDestFolder,
                       LPSTR lpszNewFolderName, ULONG_PTR, LPMAPIPROGRESS, ULONG ulFlags) override;

    HRESULT DeleteFolder(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG_PTR, LPMAPIPROGRESS, ULONG ulFlags) override;

    HRESULT SetReadFlags(LPENTRYLIST lpMsgList, ULONG_PTR, LPMAPIPROGRESS, ULONG ulFlags) override;

    HRESULT GetMessageStatus(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulFlags, ULONG* lpulMessageStatus) override
    {
        if (!lpulMessageStatus) return MAPI_E_INVALID_PARAMETER;
        *lpulMessageStatus = 0;
        RowId id = 0;
        if (FAILED(ctx_->ParseId(cbEntryID, lpEntryID, MAPI_MESSAGE, &id)))
            return RecordError(MAPI_E_INVALID_ENTRYID, "The entry ID is not a message of this store");
        auto dbLock = ctx_->db->Lock();
        return GuardStore("GetMessageStatus", [&]() -> HRESULT {
            const auto m = GetMessage(*ctx_->db, id);
            if (!m || m->folder != id_) return MAPI_E_NOT_FOUND;
            *lpulMessageStatus = m->status;
            return S_OK;
        });
    }

    HRESULT SetMessageStatus(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulNewStatus, ULONG ulNewStatusMask,
                             ULONG* lpulOldStatus) override
    {
        if (lpulOldStatus) *lpulOldStatus = 0;
        RowId id = 0;
        if (FAILED(ctx_->ParseId(cbEntryID, lpEntryID, MAPI_MESSAGE, &id)))
            return RecordError(MAPI_E_INVALID_ENTRYID, "The entry ID is not a message of this store");
        auto dbLock = ctx_->db->Lock();
        const HRESULT hr = GuardStore("SetMessageStatus", [&]() -> HRESULT {
            Tx tx(*ctx_->db, true);
            const auto m = GetMessage(*ctx_->db, id);
            if (!m || m->folder != id_) return MAPI_E_NOT_FOUND;
            if (lpulOldStatus) *lpulOldStatus = m->status;
            store::SetMessageStatus(*ctx_->db, id, (m->status & ~ulNewStatusMask) | (ulNewStatus & ulNewStatusMask));
            tx.Commit();
            return S_OK;
        });
        dbLock.unlock();
        if (SUCCEEDED(hr)) ctx_->Notify({fnevObjectModified, MAPI_MESSAGE, id, id_});
        return hr;
    }

    HRESULT SaveContentsSort(LPSSortOrderSet, ULONG) override
    {
        return RecordError(MAPI_E_NO_SUPPORT, "Saved sort orders are not supported");
    }

    HRESULT EmptyFolder(ULONG_PTR, LPMAPIPROGRESS, ULONG ulFlags) override
    {
        if (ulFlags & ~(DEL_ASSOCIATED | FOLDER_DIALOG)) return MAPI_E_UNKNOWN_FLAGS;
        auto dbLock = ctx_->db->Lock();
        const HRESULT hr = GuardStore("EmptyFolder", [&] {
            store::EmptyFolder(*ctx_->db, id_, (ulFlags & DEL_ASSOCIATED) != 0, true);
            return S_OK;
        });
        dbLock.unlock();
        if (SUCCEEDED(hr)) ctx_->Notify({fnevObjectModified, MAPI_FOLDER, id_, 0});
        return hr;
    }

protected:
    bool SupportsInterface(REFIID riid) const override
    {
        return IsEqualIID(riid, IID_IMAPIFolder) || IsEqualIID(riid, IID_IMAPIContainer);
    }
    const char* ComponentName() const override { return "Quillory message store"; }
    bool IsComputedProp(ULONG tag) const override { return IsComputedFolderTag(tag); }
    void ListComputedProps(std::vector<ULONG>& tags) const override
    {
        const auto computed = ComputedFolderTags();
        tags.insert(tags.end(), computed.begin(), computed.end());
    }
    HRESULT GetComputedProp(ULONG tag, void* base, LPSPropValue out) override
    {
        if (!IsComputedFolderTag(tag) || Matches(tag, PR_DEPTH)) return MAPI_E_NOT_FOUND;
        auto dbLock = ctx_->db->Lock();
        return GuardStore("folder property", [&]() -> HRESULT {
            const auto f = GetFolder(*ctx_->db, id_);
            if (!f) return MAPI_E_OBJECT_DELETED;
            return ComputedFolderProp(*ctx_, *f, tag, 0, base, out);
        });
    }

private:
    static bool Matches(ULONG wanted, ULONG tag)
    {
        return wanted == tag || (PROP_TYPE(wanted) == PT_UNSPECIFIED && PROP_ID(wanted) == PROP_ID(tag));
    }

    HRESULT CheckExists()
    {
        auto dbLock = ctx_->db->Lock();
        return GuardStore("folder", [&]() -> HRESULT { return GetFolder(*ctx_->db, id_) ? S_OK : MAPI_E_OBJECT_DELETED; });
    }

    SCODE Rename(const char* name)
    {
        if (!*name) return MAPI_E_INVALID_PARAMETER;
        if (id_ == ctx_->db->Special().root) return MAPI_E_NO_ACCESS;
        RowId parent = 0;
        auto dbLock = ctx_->db->Lock();
        const HRESULT hr = GuardStore("rename folder", [&] {
            RenameFolder(*ctx_->db, id_, name);
            if (const auto f = GetFolder(*ctx_->db, id_)) parent = f->parent;
            return S_OK;
        });
        dbLock.unlock();
        if (SUCCEEDED(hr)) ctx_->Notify({fnevObjectModified, MAPI_FOLDER, id_, parent});
        return hr;
    }

    // Writes the folder's stored values as they now are.
    HRESULT Persist()
    {
        auto lock = Lock();
        if (!Modified()) return S_OK;
        auto dbLock = ctx_->db->Lock();
        const HRESULT hr = GuardStore("folder properties", [&] {
            Tx tx(*ctx_->db, true);
            Stmt(*ctx_->db, "DELETE FROM folder_props WHERE folder=?1").Bind(1, id_).Run();
            Bag().ForEach([&](const SPropValue& v) { PutFolderProp(*ctx_->db, id_, v); });
            tx.Commit();
            SetModified(false);
            return S_OK;
        });
        dbLock.unlock();
        lock.unlock();
        if (SUCCEEDED(hr)) ctx_->Notify({fnevObjectModified, MAPI_FOLDER, id_, 0});
        return hr;
    }

    // The row ids of an entry list's messages; entries that are not messages
    // of this store count as failures.
    std::vector<RowId> MessageIds(const ENTRYLIST& list, bool& partial) const
    {
        std::vector<RowId> ids;
        for (ULONG i = 0; i < list.cValues; ++i) {
            RowId id = 0;
            if (SUCCEEDED(ctx_->ParseId(list.lpbin[i].cb, reinterpret_cast<const ENTRYID*>(list.lpbin[i].lpb),
                                        MAPI_MESSAGE, &id)))
                ids.push_back(id);
            else
                partial = true;
        }
        return ids;
    }

    HRESULT CopyMessagesAcross(const std::vector<RowId>& ids, IMAPIFolder* dest, bool move, bool& partial);

    ContextPtr ctx_;
    RowId id_;
};

// ---- Messages ----------------------------------------------------------------------------

HRESULT CFolder::CopyMessages(LPENTRYLIST lpMsgList, LPCIID lpInterface, void* lpDestFolder, ULONG_PTR,
                              LPMAPIPROGRESS, ULONG ulFlags)
{
    if (!lpMsgList || !lpDestFolder || (lpMsgList->cValues && !lpMsgList->lpbin)) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & ~(MESSAGE_MOVE | MESSAGE_DIALOG)) return MAPI_E_UNKNOWN_FLAGS;
    auto* destUnknown = static_cast<IUnknown*>(lpDestFolder);
    ComPtr<IMAPIFolder> dest;
    if (FAILED(destUnknown->QueryInterface(IID_IMAPIFolder, dest.AsVoidOut())))
        return RecordError(MAPI_E_INTERFACE_NOT_SUPPORTED, "The destination is not a folder");
    const bool move = (ulFlags & MESSAGE_MOVE) != 0;
    bool partial = false;
    const std::vector<RowId> ids = MessageIds(*lpMsgList, partial);
    RowId destId = 0;
    if (!FolderIdOf(dest.Get(), ctx_->uid, &destId)) {
        const HRESULT hr = CopyMessagesAcross(ids, dest.Get(), move, partial);
        if (FAILED(hr)) return hr;
        return partial ? MAPI_W_PARTIAL_COMPLETION : S_OK;
    }
    std::vector<ObjectEvent> events;
    auto dbLock = ctx_->db->Lock();
    const HRESULT hr = GuardStore("CopyMessages", [&]() -> HRESULT {
        if (!GetFolder(*ctx_->db, destId)) return MAPI_E_NOT_FOUND;
        Tx tx(*ctx_->db, true);
        for (RowId id : ids) {
            const auto m = GetMessage(*ctx_->db, id);
            if (!m || m->folder != id_) {
                partial = true;
                continue;
            }
            if (move) {
                if (destId != id_) MoveMessage(*ctx_->db, id, destId);
                events.push_back({fnevObjectMoved, MAPI_MESSAGE, id, destId, id, id_});
            } else {
                const RowId copy = CopyMessage(*ctx_->db, id, destId);
                events.push_back({fnevObjectCopied, MAPI_MESSAGE, copy, destId, id, id_});
            }
        }
        tx.Commit();
        return S_OK;
    });
    dbLock.unlock();
    if (FAILED(hr)) return hr;
    for (const ObjectEvent& e : events) ctx_->Notify(e);
    return partial ? MAPI_W_PARTIAL_COMPLETION : S_OK;
}

// Into a folder of another store: each message is opened, copied through
// the message interfaces and saved there.
HRESULT CFolder::CopyMessagesAcross(const std::vector<RowId>& ids, IMAPIFolder* dest, bool move, bool& partial)
{
    for (RowId id : ids) {
        ComPtr<IMessage> source;
        if (FAILED(OpenMessageObject(ctx_, id, false, &source))) {
            partial = true;
            continue;
        }
        ComPtr<IMessage> target;
        if (FAILED(dest->CreateMessage(nullptr, 0, &target)) ||
            FAILED(source->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IMessage, target.Get(), 0, nullptr)) ||
            FAILED(target->SaveChanges(0))) {
            partial = true;
            continue;
        }
        if (move) {
            auto dbLock = ctx_->db->Lock();
            if (FAILED(GuardStore("move message", [&] {
                    DeleteMessage(*ctx_->db, id);
                    return S_OK;
                })))
                partial = true;
        }
    }
    return S_OK;
}

HRESULT CFolder::DeleteMessages(LPENTRYLIST lpMsgList, ULONG_PTR, LPMAPIPROGRESS, ULONG ulFlags)
{
    if (!lpMsgList || (lpMsgList->cValues && !lpMsgList->lpbin)) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & ~MESSAGE_DIALOG) return MAPI_E_UNKNOWN_FLAGS;
    bool partial = false;
    const std::vector<RowId> ids = MessageIds(*lpMsgList, partial);
    std::vector<RowId> deleted;
    auto dbLock = ctx_->db->Lock();
    const HRESULT hr = GuardStore("DeleteMessages", [&] {
        Tx tx(*ctx_->db, true);
        for (RowId id : ids) {
            const auto m = GetMessage(*ctx_->db, id);
            if (!m || m->folder != id_) {
                partial = true;
                continue;
            }
            DeleteMessage(*ctx_->db, id);
            deleted.push_back(id);
        }
        tx.Commit();
        return S_OK;
    });
    dbLock.unlock();
    if (FAILED(hr)) return hr;
    for (RowId id : deleted) ctx_->Notify({fnevObjectDeleted, MAPI_MESSAGE, id, id_});
    return partial ? MAPI_W_PARTIAL_COMPLETION : S_OK;
}

HRESULT CFolder::SetReadFlags(LPENTRYLIST lpMsgList, ULONG_PTR, LPMAPIPROGRESS, ULONG ulFlags)
{
    constexpr ULONG kGenerateReceiptOnly = 0x00000010;
    constexpr ULONG kClearRnPending = 0x00000020;
    constexpr ULONG kClearNrnPending = 0x00000040;
    if (ulFlags & ~(SUPPRESS_RECEIPT | CLEAR_READ_FLAG | MESSAGE_DIALOG | kGenerateReceiptOnly | kClearRnPending |
                    kClearNrnPending))
        return MAPI_E_UNKNOWN_FLAGS;
    if (lpMsgList && lpMsgList->cValues && !lpMsgList->lpbin) return MAPI_E_INVALID_PARAMETER;
    bool partial = false;
    std::vector<RowId> changed;
    auto dbLock = ctx_->db->Lock();
    const HRESULT hr = GuardStore("SetReadFlags", [&] {
        const std::vector<RowId> ids = lpMsgList ? MessageIds(*lpMsgList, partial) : FolderMessages(*ctx_->db, id_, false);
        Tx tx(*ctx_->db, true);
        for (RowId id : ids) {
            const auto m = GetMessage(*ctx_->db, id);
            if (!m || m->folder != id_) {
                partial = true;
                continue;
            }
            if (ulFlags & kGenerateReceiptOnly) continue;  // receipts are not generated here
            ULONG flags = m->flags;
            flags = (ulFlags & CLEAR_READ_FLAG) ? flags & ~MSGFLAG_READ : flags | MSGFLAG_READ;
            if (ulFlags & kClearRnPending) flags &= ~MSGFLAG_RN_PENDING;
            if (ulFlags & kClearNrnPending) flags &= ~MSGFLAG_NRN_PENDING;
            if (flags != m->flags) {
                SetMessageFlags(*ctx_->db, id, flags);
                changed.push_back(id);
            }
        }
        tx.Commit();
        return S_OK;
    });
    dbLock.unlock();
    if (FAILED(hr)) return hr;
    for (RowId id : changed) ctx_->Notify({fnevObjectModified, MAPI_MESSAGE, id, id_});
    return partial ? MAPI_W_PARTIAL_COMPLETION : S_OK;
}

// ---- Folders ------------------------------------------------------------------------------

HRESULT CFolder::CreateFolder(ULONG ulFolderType, LPSTR lpszFolderName, LPSTR lpszFolderComment, LPCIID lpInterface,
                              ULONG ulFlags, LPMAPIFOLDER* lppFolder)
{
    if (!lppFolder) return MAPI_E_INVALID_PARAMETER;
    *lppFolder = nullptr;
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    if (ulFlags & ~(OPEN_IF_EXISTS | MAPI_DEFERRED_ERRORS)) return MAPI_E_UNKNOWN_FLAGS;
    if (!lpszFolderName || !*lpszFolderName) return MAPI_E_INVALID_PARAMETER;
    if (ulFolderType == FOLDER_SEARCH) return RecordError(MAPI_E_NO_SUPPORT, "Search folders are not supported");
    if (ulFolderType != FOLDER_GENERIC) return MAPI_E_INVALID_PARAMETER;
    RowId id = 0;
    bool created = false;
    auto dbLock = ctx_->db->Lock();
    const HRESULT hr = GuardStore("CreateFolder", [&]() -> HRESULT {
        if (!GetFolder(*ctx_->db, id_)) return MAPI_E_OBJECT_DELETED;
        if (const auto existing = FindChildFolder(*ctx_->db, id_, lpszFolderName)) {
            if (!(ulFlags & OPEN_IF_EXISTS)) return MAPI_E_COLLISION;
            id = *existing;
            return S_OK;
        }
        id = AddFolder(*ctx_->db, id_, lpszFolderName, FOLDER_GENERIC,
                       lpszFolderComment ? lpszFolderComment : "");
        created = true;
        return S_OK;
    });
    dbLock.unlock();
    if (FAILED(hr)) return RecordError(hr, hr == MAPI_E_COLLISION ? "A folder of that name exists" : "CreateFolder failed");
    if (created) ctx_->Notify({fnevObjectCreated, MAPI_FOLDER, id, id_});
    ComPtr<IMAPIFolder> folder;
    if (const HRESULT open = OpenFolderObject(ctx_, id, true, &folder); FAILED(open)) return open;
    if (lpInterface && !IsEqualIID(*lpInterface, IID_IMAPIFolder)) {
        return folder->QueryInterface(*lpInterface, reinterpret_cast<void**>(lppFolder));
    }
    *lppFolder = folder.Detach();
    return S_OK;
}

HRESULT CFolder::CopyFolder(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, void* lpDestFolder,
                            LPSTR lpszNewFolderName, ULONG_PTR, LPMAPIPROGRESS, ULONG ulFlags)
{
    if (!lpDestFolder) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    if (ulFlags & ~(FOLDER_MOVE | FOLDER_DIALOG | COPY_SUBFOLDERS | MAPI_NOREPLACE)) return MAPI_E_UNKNOWN_FLAGS;
    RowId source = 0;
    if (FAILED(ctx_->ParseId(cbEntryID, lpEntryID, MAPI_FOLDER, &source)))
        return RecordError(MAPI_E_INVALID_ENTRYID, "The entry ID is not a folder of this store");
    ComPtr<IUnknown> destUnknown(static_cast<IUnknown*>(lpDestFolder));
    RowId dest = 0;
    if (!FolderIdOf(destUnknown.Get(), ctx_->uid, &dest))
        return RecordError(MAPI_E_NO_SUPPORT, "Folders copy only within their store");
    const bool move = (ulFlags & FOLDER_MOVE) != 0;
    ObjectEvent event;
    auto dbLock = ctx_->db->Lock();
    const HRESULT hr = GuardStore("CopyFolder", [&]() -> HRESULT {
        const auto f = GetFolder(*ctx_->db, source);
        if (!f || f->parent != id_) return MAPI_E_NOT_FOUND;
        if (!GetFolder(*ctx_->db, dest)) return MAPI_E_NOT_FOUND;
        const std::string name = lpszNewFolderName && *lpszNewFolderName ? lpszNewFolderName : f->name;
        if (move) {
            if (IsSpecialFolder(*ctx_->db, source)) return MAPI_E_NO_ACCESS;
            MoveFolder(*ctx_->db, source, dest, name);
            event = {fnevObjectMoved, MAPI_FOLDER, source, dest, source, id_};
        } else {
            const RowId copy = store::CopyFolder(*ctx_->db, source, dest, name, (ulFlags & COPY_SUBFOLDERS) != 0);
            event = {fnevObjectCopied, MAPI_FOLDER, copy, dest, source, id_};
        }
        return S_OK;
    });
    dbLock.unlock();
    if (FAILED(hr)) {
        const char* why = hr == MAPI_E_FOLDER_CYCLE ? "A folder cannot go into its own sub-tree"
                          : hr == MAPI_E_COLLISION  ? "The destination holds a folder of that name"
                                                    : "CopyFolder failed";
        return RecordError(hr, why);
    }
    ctx_->Notify(event);
    return S_OK;
}

HRESULT CFolder::DeleteFolder(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG_PTR, LPMAPIPROGRESS, ULONG ulFlags)
{
    if (ulFlags & ~(DEL_FOLDERS | DEL_MESSAGES | FOLDER_DIALOG)) return MAPI_E_UNKNOWN_FLAGS;
    RowId id = 0;
    if (FAILED(ctx_->ParseId(cbEntryID, lpEntryID, MAPI_FOLDER, &id)))
        return RecordError(MAPI_E_INVALID_ENTRYID, "The entry ID is not a folder of this store");
    auto dbLock = ctx_->db->Lock();
    const HRESULT hr = GuardStore("DeleteFolder", [&]() -> HRESULT {
        const auto f = GetFolder(*ctx_->db, id);
        if (!f || f->parent != id_) return MAPI_E_NOT_FOUND;
        if (IsSpecialFolder(*ctx_->db, id)) return MAPI_E_NO_ACCESS;
        Tx tx(*ctx_->db, true);
        const FolderCounts c = CountFolder(*ctx_->db, id);
        if (c.subfolders && !(ulFlags & DEL_FOLDERS)) return MAPI_E_HAS_FOLDERS;
        if ((c.content || c.associated) && !(ulFlags & DEL_MESSAGES)) return MAPI_E_HAS_MESSAGES;
        DeleteFolderTree(*ctx_->db, id);
        tx.Commit();
        return S_OK;
    });
    dbLock.unlock();
    if (FAILED(hr)) return RecordError(hr, "DeleteFolder failed");
    ctx_->Notify({fnevObjectDeleted, MAPI_FOLDER, id, id_});
    return S_OK;
}

}  // namespace

bool FolderIdOf(IUnknown* obj, const MAPIUID& store, RowId* id)
{
    auto* folder = dynamic_cast<CFolder*>(obj);
    if (!folder) {
        // A pointer to one of the folder's other interfaces.
        ComPtr<IMAPIFolder> f;
        if (!obj || FAILED(obj->QueryInterface(IID_IMAPIFolder, f.AsVoidOut()))) return false;
        folder = dynamic_cast<CFolder*>(f.Get());
        if (!folder) return false;
    }
    if (!SameUid(folder->StoreUid(), store)) return false;
    *id = folder->Id();
    return true;
}

HRESULT OpenFolderObject(const ContextPtr& ctx, RowId id, bool writable, IMAPIFolder** out)
{
    *out = nullptr;
    auto folder = ComPtr<CFolder>::Attach(NewComObject<CFolder>(ctx, id));
    if (const HRESULT hr = folder->Init(); FAILED(hr)) return hr;
    *out = folder.Detach();
    return S_OK;
}

HRESULT OpenStoreEntry(const ContextPtr& ctx, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                       ULONG ulFlags, ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    if (!lpulObjType || !lppUnk) return MAPI_E_INVALID_PARAMETER;
    *lpulObjType = 0;
    *lppUnk = nullptr;
    constexpr ULONG kShowSoftDeletes = 0x00000002;
    if (ulFlags & ~(MAPI_MODIFY | MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS | kShowSoftDeletes))
        return MAPI_E_UNKNOWN_FLAGS;
    const bool writable = (ulFlags & (MAPI_MODIFY | MAPI_BEST_ACCESS)) != 0;
    ComPtr<IUnknown> obj;
    ULONG type = 0;
    if (!cbEntryID && !lpEntryID) {
        ComPtr<IMAPIFolder> root;
        if (const HRESULT hr = OpenFolderObject(ctx, ctx->db->Special().root, writable, &root); FAILED(hr)) return hr;
        obj = ComPtr<IUnknown>(root.Get());
        type = MAPI_FOLDER;
    } else {
        const auto e = ParseStoreEntryId(cbEntryID, lpEntryID);
        if (!e || !SameUid(e->store, ctx->uid) || e->kind == MAPI_STORE) return MAPI_E_INVALID_ENTRYID;
        if (e->kind == MAPI_FOLDER) {
            ComPtr<IMAPIFolder> f;
            if (const HRESULT hr = OpenFolderObject(ctx, e->id, writable, &f); FAILED(hr)) return hr;
            obj = ComPtr<IUnknown>(f.Get());
        } else {
            ComPtr<IMessage> m;
            if (const HRESULT hr = OpenMessageObject(ctx, e->id, writable, &m); FAILED(hr)) return hr;
            obj = ComPtr<IUnknown>(m.Get());
        }
        type = e->kind;
    }
    const IID& iid = lpInterface ? *lpInterface : (type == MAPI_FOLDER ? IID_IMAPIFolder : IID_IMessage);
    if (const HRESULT hr = obj->QueryInterface(iid, reinterpret_cast<void**>(lppUnk)); FAILED(hr))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    *lpulObjType = type;
    return S_OK;
}

}  // namespace quillory::store
