// Advise sinks of a store, the identity helpers every store object uses, and
// SetProps with values a store object takes care of itself.
#include <algorithm>
#include <cstring>
#include <map>

#include "platform/base/trace.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/msgstore_impl.h"

namespace quillory::store {

// ---- Advise sinks ----------------------------------------------------------------------

ULONG AdviseList::Add(std::optional<StoreEntryId> target, ULONG mask, IMAPIAdviseSink* sink)
{
    std::lock_guard lock(mutex_);
    const ULONG connection = next_++;
    entries_.push_back(Entry{connection, target, mask, ComPtr<IMAPIAdviseSink>(sink)});
    return connection;
}

bool AdviseList::Remove(ULONG connection)
{
    ComPtr<IMAPIAdviseSink> released;  // let go of the sink outside the lock
    {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(entries_.begin(), entries_.end(),
                                     [&](const Entry& e) { return e.connection == connection; });
        if (it == entries_.end()) return false;
        released = std::move(it->sink);
        entries_.erase(it);
    }
    return true;
}

// Sinks without a target hear every event; the others hear events of their
// object, and of the objects in their folder.
std::vector<AdviseList::Entry> AdviseList::Interested(ULONG event,
                                                      std::initializer_list<std::pair<ULONG, RowId>> objects)
{
    std::lock_guard lock(mutex_);
    std::vector<Entry> out;
    for (const Entry& e : entries_) {
        if (!(e.mask & event)) continue;
        bool match = !e.target || e.target->kind == MAPI_STORE;
        for (const auto& [kind, id] : objects) {
            if (id && e.target && e.target->kind == kind && e.target->id == id) match = true;
        }
        if (match) out.push_back(e);
    }
    return out;
}

void AdviseList::Notify(const MAPIUID& store, const ObjectEvent& e)
{
    const auto sinks = Interested(e.event, {{e.objType, e.id},
                                            {MAPI_FOLDER, e.parent},
                                            {e.objType, e.oldId},
                                            {MAPI_FOLDER, e.oldParent}});
    if (sinks.empty()) return;
    const auto id = MakeStoreEntryId(store, e.objType, e.id);
    const auto parent = MakeStoreEntryId(store, MAPI_FOLDER, e.parent);
    const auto oldId = MakeStoreEntryId(store, e.objType, e.oldId);
    const auto oldParent = MakeStoreEntryId(store, MAPI_FOLDER, e.oldParent);
    NOTIFICATION n{};
    n.ulEventType = e.event;
    OBJECT_NOTIFICATION& o = n.info.obj;
    o.ulObjType = e.objType;
    o.cbEntryID = static_cast<ULONG>(id.size());
    o.lpEntryID = reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(id.data()));
    if (e.parent) {
        o.cbParentID = static_cast<ULONG>(parent.size());
        o.lpParentID = reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(parent.data()));
    }
    if (e.oldId) {
        o.cbOldID = static_cast<ULONG>(oldId.size());
        o.lpOldID = reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(oldId.data()));
    }
    if (e.oldParent) {
        o.cbOldParentID = static_cast<ULONG>(oldParent.size());
        o.lpOldParentID = reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(oldParent.data()));
    }
    for (const Entry& s : sinks) s.sink->OnNotify(1, &n);
}

void AdviseList::NotifyNewMail(const MAPIUID& store, const NOTIFICATION& n)
{
    RowId folder = 0;
    RowId message = 0;
    if (const auto p = ParseStoreEntryId(n.info.newmail.cbParentID, n.info.newmail.lpParentID);
        p && SameUid(p->store, store))
        folder = p->id;
    if (const auto m = ParseStoreEntryId(n.info.newmail.cbEntryID, n.info.newmail.lpEntryID);
        m && SameUid(m->store, store))
        message = m->id;
    NOTIFICATION copy = n;
    copy.ulEventType = fnevNewMail;
    for (const Entry& s : Interested(fnevNewMail, {{MAPI_FOLDER, folder}, {MAPI_MESSAGE, message}}))
        s.sink->OnNotify(1, &copy);
}

std::shared_ptr<AdviseList> AdviseListFor(const MAPIUID& store)
{
    // Lists live while a store object of theirs does.
    static std::mutex mutex;
    static std::map<std::string, std::weak_ptr<AdviseList>> lists;
    const std::string key(reinterpret_cast<const char*>(store.ab), sizeof store.ab);
    std::lock_guard lock(mutex);
    auto& slot = lists[key];
    auto list = slot.lock();
    if (!list) {
        list = std::make_shared<AdviseList>();
        slot = list;
    }
    return list;
}

// ---- Identity -------------------------------------------------------------------------

HRESULT StoreContext::ParseId(ULONG cb, const ENTRYID* lpEntryID, ULONG kind, RowId* id) const
{
    const auto e = ParseStoreEntryId(cb, lpEntryID);
    if (!e || !SameUid(e->store, uid) || e->kind != kind) return MAPI_E_INVALID_ENTRYID;
    *id = e->id;
    return S_OK;
}

// ---- SetProps with values taken care of -------------------------------------------------

HRESULT SetPropsWith(ULONG cValues, LPSPropValue lpPropArray, LPSPropProblemArray* lppProblems,
                     const std::function<std::optional<SCODE>(const SPropValue&)>& handle,
                     const std::function<HRESULT(ULONG, LPSPropValue, LPSPropProblemArray*)>& setRest)
{
    if (lppProblems) *lppProblems = nullptr;
    if (cValues && !lpPropArray) return MAPI_E_INVALID_PARAMETER;
    std::vector<SPropProblem> problems;
    std::vector<SPropValue> rest;
    std::vector<ULONG> origin;
    for (ULONG i = 0; i < cValues; ++i) {
        if (const auto sc = handle(lpPropArray[i])) {
            if (FAILED(*sc)) problems.push_back(SPropProblem{i, lpPropArray[i].ulPropTag, *sc});
            continue;
        }
        rest.push_back(lpPropArray[i]);
        origin.push_back(i);
    }
    MapiBuffer<SPropProblemArray> restProblems;
    const HRESULT hr = setRest(static_cast<ULONG>(rest.size()), rest.data(), &restProblems);
    if (FAILED(hr)) return hr;
    if (restProblems) {
        for (ULONG i = 0; i < restProblems->cProblem; ++i) {
            SPropProblem p = restProblems->aProblem[i];
            if (p.ulIndex < origin.size()) p.ulIndex = origin[p.ulIndex];
            problems.push_back(p);
        }
    }
    if (!lppProblems || problems.empty()) return S_OK;
    std::sort(problems.begin(), problems.end(),
              [](const SPropProblem& a, const SPropProblem& b) { return a.ulIndex < b.ulIndex; });
    const auto n = static_cast<ULONG>(problems.size());
    LPSPropProblemArray out = nullptr;
    if (const SCODE sc = MAPIAllocateBuffer(
            static_cast<ULONG>(offsetof(SPropProblemArray, aProblem) + n * sizeof(SPropProblem)),
            reinterpret_cast<void**>(&out));
        FAILED(sc))
        return sc;
    out->cProblem = n;
    std::copy(problems.begin(), problems.end(), out->aProblem);
    *lppProblems = out;
    return S_OK;
}

}  // namespace quillory::store
