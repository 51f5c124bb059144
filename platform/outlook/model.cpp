// The model's shared state: the stores, the live wrappers, and the routing
// of store changes to folder and item events.
#include <algorithm>

#include "platform/base/trace.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/msgstore.h"
#include "platform/mapi/proputil.h"
#include "platform/outlook/model_objects.h"

namespace quillory::outlook {

namespace {

constexpr ULONG kStoreEvents =
    fnevNewMail | fnevObjectCreated | fnevObjectDeleted | fnevObjectModified | fnevObjectMoved | fnevObjectCopied;
constexpr LONG kMaxStores = 100;

}  // namespace

std::string ReadText(IMAPIProp* obj, ULONG tag)
{
    MapiBuffer<SPropValue> v;
    if (!obj || FAILED(HrGetOneProp(obj, tag, &v)) || PROP_TYPE(v->ulPropTag) != PT_STRING8 ||
        !v->Value.lpszA)
        return {};
    return v->Value.lpszA;
}

EntryId ReadBinary(IMAPIProp* obj, ULONG tag)
{
    MapiBuffer<SPropValue> v;
    if (!obj || FAILED(HrGetOneProp(obj, tag, &v)) || PROP_TYPE(v->ulPropTag) != PT_BINARY) return {};
    return EntryId(v->Value.bin.lpb, v->Value.bin.lpb + v->Value.bin.cb);
}

HRESULT WriteText(IMAPIProp* obj, ULONG tag, std::string_view text)
{
    std::string copy(text);
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = copy.data();
    return HrSetOneProp(obj, &v);
}

bool CollectionIndex(const VARIANT& v, LONG& index, std::string& name, bool& isName)
{
    isName = v.vt == VT_BSTR || v.vt == (VT_BYREF | VT_BSTR);
    if (isName) {
        name = std::string(VariantText(v));
        return true;
    }
    CComVariant n;
    if (FAILED(VariantChangeType(&n, &v, 0, VT_I4))) return false;
    index = n.lVal;
    return true;
}

HRESULT ToBstr(std::string_view text, BSTR* out)
{
    if (!out) return E_POINTER;
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

CModel::~CModel() { Stop(); }

HRESULT CModel::Start()
{
    queue_ = std::make_shared<CEventQueue>([this](const std::deque<StoreEvent>& batch) { DeliverBatch(batch); });
    if (!queue_->Ok()) return E_FAIL;
    ComPtr<IMAPITable> table;
    HRESULT hr = session_->GetMsgStoresTable(0, &table);
    if (FAILED(hr)) return hr;
    auto columns = MakeTagArray({PR_ENTRYID, PR_DISPLAY_NAME, PR_DEFAULT_STORE});
    RowSetPtr rows;
    if (FAILED(hr = table->SetColumns(columns.Get(), 0)) || FAILED(hr = table->QueryRows(kMaxStores, 0, &rows)))
        return hr;
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
        const SRow& row = rows->aRow[i];
        if (row.cValues < 3 || row.lpProps[0].ulPropTag != PR_ENTRYID) continue;
        StoreRef ref;
        const SBinary& eid = row.lpProps[0].Value.bin;
        ref.entryId.assign(eid.lpb, eid.lpb + eid.cb);
        if (row.lpProps[1].ulPropTag == PR_DISPLAY_NAME && row.lpProps[1].Value.lpszA) ref.name = row.lpProps[1].Value.lpszA;
        ref.isDefault = row.lpProps[2].ulPropTag == PR_DEFAULT_STORE && row.lpProps[2].Value.b;
        if (!StoreUidOfEntryId(eid.cb, reinterpret_cast<const ENTRYID*>(eid.lpb), &ref.uid)) continue;
        hr = session_->OpenMsgStore(0, eid.cb, reinterpret_cast<LPENTRYID>(eid.lpb), nullptr,
                                    MAPI_BEST_ACCESS | MDB_NO_DIALOG, &ref.store);
        if (FAILED(hr)) {
            Trace("CModel::Start -- store '%s' does not open: 0x%08X\n", ref.name.c_str(), static_cast<unsigned>(hr));
            continue;
        }
        ComPtr<IMAPIAdviseSink> sink;
        queue_->CreateSink(stores_.size(), &sink);
        if (FAILED(ref.store->Advise(0, nullptr, kStoreEvents, sink.Get(), &ref.connection))) ref.connection = 0;
        stores_.push_back(std::move(ref));
    }
    return stores_.empty() ? MAPI_E_NOT_FOUND : S_OK;
}

void CModel::Stop()
{
    if (stopped_) return;
    stopped_ = true;
    for (StoreRef& s : stores_)
        if (s.connection) s.store->Unadvise(std::exchange(s.connection, 0));
    if (queue_) queue_->Close();
}

HRESULT CModel::Application(_Application** out) const
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!app_) return E_FAIL;
    return Hand(static_cast<_Application*>(app_), out);
}

HRESULT CModel::NameSpace(_NameSpace** out) const
{
    ComPtr<_Application> app;
    if (const HRESULT hr = Application(&app); FAILED(hr)) return hr;
    return app->get_Session(out);
}

int CModel::StoreOf(const EntryId& id) const
{
    MAPIUID uid{};
    if (id.empty() || !StoreUidOfEntryId(static_cast<ULONG>(id.size()), reinterpret_cast<const ENTRYID*>(id.data()), &uid))
        return -1;
    for (std::size_t i = 0; i < stores_.size(); ++i)
        if (std::equal(std::begin(uid.ab), std::end(uid.ab), std::begin(stores_[i].uid.ab))) return static_cast<int>(i);
    return -1;
}

int CModel::DefaultStore() const
{
    for (std::size_t i = 0; i < stores_.size(); ++i)
        if (stores_[i].isDefault) return static_cast<int>(i);
    return stores_.empty() ? -1 : 0;
}

HRESULT CModel::Folder(std::size_t store, const EntryId& id, MAPIFolder** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (stopped_) return MAPI_E_END_OF_SESSION;
    if (store >= stores_.size() || id.empty()) return MAPI_E_INVALID_ENTRYID;
    if (const auto it = folders_.find(KeyOf(id)); it != folders_.end()) return Hand(it->second, out);
    ULONG type = 0;
    ComPtr<IUnknown> unknown;
    EntryId copy = id;
    HRESULT hr = stores_[store].store->OpenEntry(static_cast<ULONG>(copy.size()), reinterpret_cast<LPENTRYID>(copy.data()),
                                                 nullptr, MAPI_BEST_ACCESS, &type, &unknown);
    if (FAILED(hr)) return hr;
    ComPtr<IMAPIFolder> folder;
    if (type != MAPI_FOLDER || FAILED(unknown.As(IID_IMAPIFolder, folder))) return MAPI_E_INVALID_ENTRYID;
    auto* wrapper = NewComObject<CFolder>(shared_from_this(), store, id, folder);
    *out = wrapper;
    return S_OK;
}

HRESULT CModel::TopFolder(std::size_t store, MAPIFolder** out)
{
    if (store >= stores_.size()) return MAPI_E_NOT_FOUND;
    const EntryId top = ReadBinary(stores_[store].store.Get(), PR_IPM_SUBTREE_ENTRYID);
    if (top.empty()) return MAPI_E_NOT_FOUND;
    return Folder(store, top, out);
}

HRESULT CModel::Item(std::size_t store, const EntryId& id, IDispatch** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (stopped_) return MAPI_E_END_OF_SESSION;
    if (store >= stores_.size() || id.empty()) return MAPI_E_INVALID_ENTRYID;
    if (const auto it = items_.find(KeyOf(id)); it != items_.end()) return Hand(it->second->Dispatch(), out);
    ULONG type = 0;
    ComPtr<IUnknown> unknown;
    EntryId copy = id;
    HRESULT hr = stores_[store].store->OpenEntry(static_cast<ULONG>(copy.size()), reinterpret_cast<LPENTRYID>(copy.data()),
                                                 nullptr, MAPI_BEST_ACCESS, &type, &unknown);
    if (FAILED(hr)) return hr;
    ComPtr<IMessage> message;
    if (type != MAPI_MESSAGE || FAILED(unknown.As(IID_IMessage, message))) return MAPI_E_INVALID_ENTRYID;
    return CreateItemObject(shared_from_this(), store, ReadBinary(message.Get(), PR_PARENT_ENTRYID), id, message, out);
}

void CModel::Register(CFolder* f) { folders_[KeyOf(f->Id())] = f; }

void CModel::Unregister(CFolder* f)
{
    const auto it = folders_.find(KeyOf(f->Id()));
    if (it != folders_.end() && it->second == f) folders_.erase(it);
}

void CModel::Register(CItemCore* i)
{
    if (!i->Id().empty()) items_[KeyOf(i->Id())] = i;
}

void CModel::Unregister(CItemCore* i)
{
    if (i->Id().empty()) return;
    const auto it = items_.find(KeyOf(i->Id()));
    if (it != items_.end() && it->second == i) items_.erase(it);
}

void CModel::ItemSaved(CItemCore* i) { Register(i); }

namespace {

// Drops one collection from the list of those under a key.
template <class T>
void EraseFrom(std::multimap<std::string, T*>& lists, const std::string& key, T* list)
{
    auto [first, last] = lists.equal_range(key);
    for (auto it = first; it != last; ++it) {
        if (it->second == list) {
            lists.erase(it);
            return;
        }
    }
}

// The collections under a key that have sinks, held while they raise, since
// a handler may release the last reference its owner had.
template <class T>
std::vector<ComPtr<T>> Listening(const std::multimap<std::string, T*>& lists, std::size_t store, const EntryId& key)
{
    std::vector<ComPtr<T>> out;
    auto [first, last] = lists.equal_range(KeyOf(key));
    for (auto it = first; it != last; ++it)
        if (it->second->Store() == store && it->second->HasSinks()) out.emplace_back(it->second);
    return out;
}

}  // namespace

void CModel::Register(CFolders* f) { folderLists_.emplace(KeyOf(f->ParentId()), f); }
void CModel::Unregister(CFolders* f) { EraseFrom(folderLists_, KeyOf(f->ParentId()), f); }
void CModel::Register(CItems* i) { itemLists_.emplace(KeyOf(i->FolderId()), i); }
void CModel::Unregister(CItems* i) { EraseFrom(itemLists_, KeyOf(i->FolderId()), i); }

template <class F>
void CModel::ForFolders(std::size_t store, const EntryId& parent, F f)
{
    for (auto& l : Listening(folderLists_, store, parent)) f(*l);
}

template <class F>
void CModel::ForItems(std::size_t store, const EntryId& folder, F f)
{
    for (auto& l : Listening(itemLists_, store, folder)) f(*l);
}

EntryId CModel::ParentOf(std::size_t store, const EntryId& folder)
{
    ComPtr<MAPIFolder> f;
    if (FAILED(Folder(store, folder, &f)) || !f) return {};
    return static_cast<CFolder*>(f.Get())->ParentId();
}

void CModel::RaiseFolderChange(std::size_t store, const EntryId& folder)
{
    const std::string key = "F" + KeyOf(folder);
    if (std::find(changedThisPump_.begin(), changedThisPump_.end(), key) != changedThisPump_.end()) return;
    changedThisPump_.push_back(key);
    const EntryId parent = ParentOf(store, folder);
    if (parent.empty()) return;
    ComPtr<MAPIFolder> f;
    if (FAILED(Folder(store, folder, &f))) return;
    ForFolders(store, parent, [&](CFolders& list) { list.RaiseFolderChange(f.Get()); });
}

void CModel::FolderEvent(const StoreEvent& e)
{
    switch (e.event) {
    case fnevObjectCreated:
    case fnevObjectCopied: {
        // What is set on a new folder in the same pump is part of its making.
        changedThisPump_.push_back("F" + KeyOf(e.id));
        ComPtr<MAPIFolder> f;
        if (FAILED(Folder(e.store, e.id, &f))) return;
        ForFolders(e.store, e.parent, [&](CFolders& list) { list.RaiseFolderAdd(f.Get()); });
        break;
    }
    case fnevObjectDeleted:
        if (const auto it = folders_.find(KeyOf(e.id)); it != folders_.end()) it->second->MarkGone();
        ForFolders(e.store, e.parent, [](CFolders& list) { list.RaiseFolderRemove(); });
        break;
    case fnevObjectMoved: {
        ForFolders(e.store, e.oldParent, [](CFolders& list) { list.RaiseFolderRemove(); });
        if (const auto it = folders_.find(KeyOf(e.id)); it != folders_.end()) it->second->Moved(e.parent);
        ComPtr<MAPIFolder> f;
        if (FAILED(Folder(e.store, e.id, &f))) return;
        ForFolders(e.store, e.parent, [&](CFolders& list) { list.RaiseFolderAdd(f.Get()); });
        break;
    }
    case fnevObjectModified:
        RaiseFolderChange(e.store, e.id);
        break;
    default:
        break;
    }
}

void CModel::MessageEvent(const StoreEvent& e)
{
    switch (e.event) {
    case fnevObjectCreated:
    case fnevObjectCopied: {
        ComPtr<IDispatch> item;
        if (SUCCEEDED(Item(e.store, e.id, &item)))
            ForItems(e.store, e.parent, [&](CItems& list) { list.RaiseItemAdd(item.Get()); });
        RaiseFolderChange(e.store, e.parent);
        break;
    }
    case fnevObjectModified: {
        const std::string key = "I" + KeyOf(e.id);
        if (std::find(changedThisPump_.begin(), changedThisPump_.end(), key) != changedThisPump_.end()) break;
        changedThisPump_.push_back(key);
        if (const auto it = items_.find(KeyOf(e.id)); it != items_.end()) it->second->Refresh();
        ComPtr<IDispatch> item;
        if (SUCCEEDED(Item(e.store, e.id, &item)))
            ForItems(e.store, e.parent, [&](CItems& list) { list.RaiseItemChange(item.Get()); });
        RaiseFolderChange(e.store, e.parent);
        break;
    }
    case fnevObjectDeleted:
        if (const auto it = items_.find(KeyOf(e.id)); it != items_.end()) it->second->MarkGone();
        ForItems(e.store, e.parent, [](CItems& list) { list.RaiseItemRemove(); });
        RaiseFolderChange(e.store, e.parent);
        break;
    case fnevObjectMoved: {
        if (const auto it = items_.find(KeyOf(e.oldId.empty() ? e.id : e.oldId)); it != items_.end()) it->second->MarkGone();
        ForItems(e.store, e.oldParent, [](CItems& list) { list.RaiseItemRemove(); });
        RaiseFolderChange(e.store, e.oldParent);
        ComPtr<IDispatch> item;
        if (SUCCEEDED(Item(e.store, e.id, &item)))
            ForItems(e.store, e.parent, [&](CItems& list) { list.RaiseItemAdd(item.Get()); });
        RaiseFolderChange(e.store, e.parent);
        break;
    }
    default:
        break;
    }
}

void CModel::Deliver(const StoreEvent& e)
{
    if (e.event == fnevNewMail) {
        // One NewMail per pump, however many messages arrived.
        if (std::find(changedThisPump_.begin(), changedThisPump_.end(), "N") != changedThisPump_.end()) return;
        changedThisPump_.push_back("N");
        if (app_) app_->RaiseNewMail();
        return;
    }
    if (e.objType == MAPI_FOLDER)
        FolderEvent(e);
    else if (e.objType == MAPI_MESSAGE)
        MessageEvent(e);
}

void CModel::DeliverBatch(const std::deque<StoreEvent>& batch)
{
    if (stopped_) return;
    // A handler may let go of the application; the model stays until the batch is done.
    const auto keep = shared_from_this();
    changedThisPump_.clear();
    for (const StoreEvent& e : batch) {
        if (stopped_) return;
        Deliver(e);
    }
}

void CModel::RaisePending()
{
    if (queue_) queue_->Drain();
}

}  // namespace quillory::outlook
