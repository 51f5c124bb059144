// What the model's objects share (internal): the session and its stores,
// the live wrappers of folders and items (one object per entry ID while it
// lives, so that events advised on it are the events of that folder or
// item), the collections that raise folder and item events, and the queue
// that carries store notifications to the owner thread.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/base/window.h"
#include "platform/com/com_ptr.h"
#include "platform/com/connpt.h"
#include "platform/com/dispatch_member.h"
#include "platform/mapi/mapix.h"
#include "platform/outlook/model.h"

namespace quillory::outlook {

using EntryId = std::vector<BYTE>;

inline std::string KeyOf(const EntryId& id) { return std::string(id.begin(), id.end()); }

class CApplication;
class CFolder;
class CFolders;
class CItems;
class CItemCore;

struct StoreRef {
    ComPtr<IMsgStore> store;
    EntryId entryId;
    MAPIUID uid{};
    std::string name;
    bool isDefault = false;
    ULONG connection = 0;
};

// One store change, copied out of its notification.
struct StoreEvent {
    ULONG event = 0;
    ULONG objType = 0;
    std::size_t store = 0;
    EntryId id;
    EntryId parent;
    EntryId oldId;
    EntryId oldParent;
};

// Store notifications arrive on any thread; they wait here and are handed
// to the owner thread through a message to a hidden window of its own.
class CEventQueue : public std::enable_shared_from_this<CEventQueue> {
public:
    // Creates the window on the calling (owner) thread.
    explicit CEventQueue(std::function<void(const std::deque<StoreEvent>&)> deliver);
    ~CEventQueue();
    CEventQueue(const CEventQueue&) = delete;
    CEventQueue& operator=(const CEventQueue&) = delete;

    // A sink for a store's notifications, feeding this queue; it may outlive
    // the queue (a notification in flight), and then drops what it hears.
    HRESULT CreateSink(std::size_t store, IMAPIAdviseSink** out);
    // Owner thread: delivers what is queued, unless a delivery is already
    // running further up this thread's stack (it then picks these up).
    void Drain();
    bool Ok() const;
    // Owner thread: stops taking and delivering events and destroys the window.
    void Close();

    struct Shared {
        std::mutex mutex;
        std::deque<StoreEvent> pending;
        HWND window = nullptr;
        bool posted = false;
        bool closed = false;
        void Push(StoreEvent e);
    };

private:
    static LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    std::function<void(const std::deque<StoreEvent>&)> deliver_;
    std::shared_ptr<Shared> shared_;
    bool draining_ = false;
};

class CModel : public std::enable_shared_from_this<CModel> {
public:
    CModel(IMAPISession* session, IOutlookHost* host) : session_(session), host_(host) {}
    ~CModel();

    HRESULT Start();
    void Stop();
    bool Stopped() const { return stopped_; }

    IMAPISession* Session() const { return session_.Get(); }
    IOutlookHost& Host() const { return *host_; }
    void SetApplication(CApplication* app) { app_ = app; }
    // The application (add-referenced), or E_FAIL once it is gone.
    HRESULT Application(_Application** out) const;
    HRESULT NameSpace(_NameSpace** out) const;

    const std::vector<StoreRef>& Stores() const { return stores_; }
    // The store holding an entry ID; -1 when none of the session's does.
    int StoreOf(const EntryId& id) const;
    int DefaultStore() const;

    // Wrappers, the live one when there is one. Fails (MAPI_E_NOT_FOUND,
    // MAPI_E_INVALID_ENTRYID ...) when the entry names no such object.
    HRESULT Folder(std::size_t store, const EntryId& id, MAPIFolder** out);
    HRESULT Item(std::size_t store, const EntryId& id, IDispatch** out);
    // The top folder of a store (its IPM subtree).
    HRESULT TopFolder(std::size_t store, MAPIFolder** out);

    void Register(CFolder* f);
    void Unregister(CFolder* f);
    void Register(CItemCore* i);
    void Unregister(CItemCore* i);
    void Register(CFolders* f);
    void Unregister(CFolders* f);
    void Register(CItems* i);
    void Unregister(CItems* i);
    // An item saved for the first time joins the live items under its entry ID.
    void ItemSaved(CItemCore* i);

    void RaisePending();

private:
    void DeliverBatch(const std::deque<StoreEvent>& batch);
    void Deliver(const StoreEvent& e);
    void FolderEvent(const StoreEvent& e);
    void MessageEvent(const StoreEvent& e);
    // FolderChange of a folder to the collections of its parent; once per pump.
    void RaiseFolderChange(std::size_t store, const EntryId& folder);
    EntryId ParentOf(std::size_t store, const EntryId& folder);
    template <class F>
    void ForFolders(std::size_t store, const EntryId& parent, F f);
    template <class F>
    void ForItems(std::size_t store, const EntryId& folder, F f);

    ComPtr<IMAPISession> session_;
    IOutlookHost* host_;
    CApplication* app_ = nullptr;
    std::vector<StoreRef> stores_;
    std::shared_ptr<CEventQueue> queue_;
    bool stopped_ = false;

    std::map<std::string, CFolder*> folders_;
    std::map<std::string, CItemCore*> items_;
    std::multimap<std::string, CFolders*> folderLists_;  // by parent (empty key: the stores' tops)
    std::multimap<std::string, CItems*> itemLists_;      // by folder
    // Changes raised in the current pump, so that each is raised once.
    std::vector<std::string> changedThisPump_;
};

using ModelPtr = std::shared_ptr<CModel>;

// Reads string and binary properties of a MAPI object.
std::string ReadText(IMAPIProp* obj, ULONG tag);
EntryId ReadBinary(IMAPIProp* obj, ULONG tag);
HRESULT WriteText(IMAPIProp* obj, ULONG tag, std::string_view text);
// The 1-based position a collection's Index argument gives, or (isName)
// the name it gives; false when it is neither.
bool CollectionIndex(const VARIANT& v, LONG& index, std::string& name, bool& isName);
// A BSTR from text (E_OUTOFMEMORY when none can be made).
HRESULT ToBstr(std::string_view text, BSTR* out);
// QueryInterface into an out-pointer of the interface type.
template <class I, class T>
HRESULT Hand(T* object, I** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!object) return S_OK;
    return object->QueryInterface(disp_detail::IidOf<I>(), reinterpret_cast<void**>(out));
}

}  // namespace quillory::outlook
