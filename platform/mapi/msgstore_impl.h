// What the store's objects (store, folders, messages, attachments) share:
// the database, the store's identity, notifications, and the factories that
// make each other's objects. Internal to the store.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/mapi/entryid.h"
#include "platform/mapi/msgstore.h"
#include "platform/mapi/store_db_ops.h"

namespace quillory::store {

// One object change to report to advise sinks.
struct ObjectEvent {
    ULONG event = 0;    // fnevObjectCreated, ...
    ULONG objType = 0;  // MAPI_FOLDER or MAPI_MESSAGE
    RowId id = 0;
    RowId parent = 0;
    RowId oldId = 0;      // moves and copies: the source
    RowId oldParent = 0;  // moves and copies: the source's folder
};

// The advise sinks of one store, shared by every store object of it in the
// process.
class AdviseList {
public:
    ULONG Add(std::optional<StoreEntryId> target, ULONG mask, IMAPIAdviseSink* sink);
    bool Remove(ULONG connection);
    // Calls the sinks interested in the event; no lock is held while they run.
    void Notify(const MAPIUID& store, const ObjectEvent& e);
    void NotifyNewMail(const MAPIUID& store, const NOTIFICATION& n);

private:
    struct Entry {
        ULONG connection = 0;
        std::optional<StoreEntryId> target;
        ULONG mask = 0;
        ComPtr<IMAPIAdviseSink> sink;
    };
    std::vector<Entry> Interested(ULONG event, std::initializer_list<std::pair<ULONG, RowId>> objects);

    std::mutex mutex_;
    std::vector<Entry> entries_;
    ULONG next_ = 1;
};

std::shared_ptr<AdviseList> AdviseListFor(const MAPIUID& store);

struct StoreContext {
    std::shared_ptr<StoreDb> db;
    MAPIUID uid{};
    std::shared_ptr<AdviseList> advise;

    void Notify(const ObjectEvent& e) const { advise->Notify(uid, e); }
    std::vector<BYTE> EntryId(ULONG kind, RowId id) const { return MakeStoreEntryId(uid, kind, id); }
    // The row id of an entry ID of this store naming an object of the kind;
    // MAPI_E_INVALID_ENTRYID otherwise.
    HRESULT ParseId(ULONG cb, const ENTRYID* lpEntryID, ULONG kind, RowId* id) const;
};
using ContextPtr = std::shared_ptr<const StoreContext>;

// Version keys of what is not a folder: the outgoing queue and the receive
// folder list (see StoreDb::Touch).
constexpr RowId kQueueVersionKey = -1;
constexpr RowId kReceiveVersionKey = -2;

// ---- Factories ------------------------------------------------------------------------

HRESULT OpenFolderObject(const ContextPtr& ctx, RowId id, bool writable, IMAPIFolder** out);
HRESULT OpenMessageObject(const ContextPtr& ctx, RowId id, bool writable, IMessage** out);
HRESULT NewMessageObject(const ContextPtr& ctx, RowId folder, bool associated, IMessage** out);
// OpenEntry of the store and of its folders: the root folder for no entry
// ID, else the folder or message named.
HRESULT OpenStoreEntry(const ContextPtr& ctx, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                       ULONG ulFlags, ULONG* lpulObjType, LPUNKNOWN* lppUnk);

// The message's row id when obj is one of this store's saved messages.
bool MessageIdOf(IUnknown* obj, const MAPIUID& store, RowId* id);
// The folder's row id when obj is one of this store's folders.
bool FolderIdOf(IUnknown* obj, const MAPIUID& store, RowId* id);

}  // namespace quillory::store

namespace quillory::store {

// SetProps where some values are taken care of by the caller (a folder's
// name is a rename, not a stored value). handle answers the SCODE for a
// value it took, or nothing to leave it to setRest, which gets the others
// in order; the problem arrays are merged with the caller's indices.
HRESULT SetPropsWith(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems,
                     const std::function<std::optional<SCODE>(const SPropValue&)>& handle,
                     const std::function<HRESULT(ULONG, LPSPropValue, LPSPropProblemArray*)>& setRest);

// An IStream over a property's bytes. commit stores the bytes back into the
// owning object; it runs on IStream::Commit and, when the stream was written
// and not committed since, on its last Release.
HRESULT CreatePropertyStream(std::string initial, bool writable,
                             std::function<HRESULT(std::string_view bytes)> commit, IStream** out);

}  // namespace quillory::store

namespace quillory::store {

// OpenProperty of a string or binary property as an IStream (the message's
// and the attachment's). read gives the current bytes, or nothing when the
// object lacks the property; write stores new bytes. MAPI_CREATE starts
// empty; MAPI_MODIFY (on a writable object) allows writing.
HRESULT OpenPropStream(ULONG ulPropTag, LPCIID lpiid, ULONG ulFlags, bool objectWritable,
                       const std::function<std::optional<std::string>()>& read,
                       std::function<HRESULT(std::string_view)> write, LPUNKNOWN* lppUnk);

}  // namespace quillory::store
