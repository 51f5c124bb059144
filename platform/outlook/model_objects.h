// The classes behind the object model's interfaces (internal).
#pragma once

#include <algorithm>
#include <optional>

#include "platform/com/dispatch.h"
#include "platform/com/refcounted.h"
#include "platform/outlook/model_core.h"

namespace quillory::outlook {

class CExplorers;
class CInspectors;
class CExplorer;
class CInspector;

// An event source: IConnectionPointContainer over one connection point.
class CEventSource : public IConnectionPointContainer {
public:
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** out) override
    {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** out) override
    {
        return FindConnectionPointIn({&events_}, riid, out);
    }
    bool HasSinks() const { return events_.HasSinks(); }

protected:
    CEventSource(IUnknown* owner, REFIID eventIid) : events_(owner, eventIid) {}
    CConnectionPoint events_;
};

// Raises an event whose one argument is an object.
void FireWithObject(CConnectionPoint& point, DISPID id, IDispatch* object);
// Raises an event whose one argument is a by-reference Cancel flag; answers it.
bool FireCancellable(CConnectionPoint& point, DISPID id);

// ---- application and namespace ----

class CApplication final : public CDispatchImpl<_Application>, public CEventSource, public CRefCounted {
public:
    explicit CApplication(ModelPtr model);
    ~CApplication() override;
    HRESULT Start();
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    HRESULT get_Name(BSTR* out) override;
    HRESULT get_Version(BSTR* out) override;
    HRESULT get_Session(_NameSpace** out) override;
    HRESULT GetNamespace(BSTR Type, _NameSpace** out) override;
    HRESULT get_Explorers(_Explorers** out) override;
    HRESULT get_Inspectors(_Inspectors** out) override;
    HRESULT ActiveExplorer(_Explorer** out) override;
    HRESULT ActiveInspector(_Inspector** out) override;

    CModel& Model() { return *model_; }
    CExplorers& Explorers() { return *explorers_; }
    CInspectors& Inspectors() { return *inspectors_; }
    void RaiseNewMail();
    void RaiseStartup();
    void Shutdown();
    HRESULT CollectOptionsPages(std::vector<OptionsPage>& pages);

protected:
    DispTable Members() const override;
    std::string_view InterfaceName() const override { return "_Application"; }

private:
    ModelPtr model_;
    ComPtr<_NameSpace> namespace_;
    ComPtr<CExplorers> explorers_;
    ComPtr<CInspectors> inspectors_;
    bool shutDown_ = false;
};

class CNameSpace final : public CDispatchImpl<_NameSpace>, public CRefCounted {
public:
    explicit CNameSpace(ModelPtr model) : model_(std::move(model)) {}
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    HRESULT get_Application(_Application** out) override;
    HRESULT get_Parent(_Application** out) override;
    HRESULT get_Type(BSTR* out) override;
    HRESULT get_Folders(_Folders** out) override;
    HRESULT GetDefaultFolder(LONG FolderType, MAPIFolder** out) override;
    HRESULT GetFolderFromID(BSTR EntryIDFolder, VARIANT EntryIDStore, MAPIFolder** out) override;
    HRESULT GetItemFromID(BSTR EntryIDItem, VARIANT EntryIDStore, IDispatch** out) override;
    HRESULT PickFolder(MAPIFolder** out) override;
    HRESULT get_MAPIOBJECT(IUnknown** out) override;
    HRESULT get_CurrentProfileName(BSTR* out) override;

protected:
    DispTable Members() const override;
    std::string_view InterfaceName() const override { return "_NameSpace"; }

private:
    // The store named by an optional hexadecimal store entry ID, else the one
    // holding the entry.
    HRESULT StoreFor(const EntryId& entry, const VARIANT& storeHex, std::size_t& store);

    ModelPtr model_;
};

// ---- folders ----

class CFolder final : public CDispatchImpl<MAPIFolder>, public CRefCounted {
public:
    CFolder(ModelPtr model, std::size_t store, EntryId id, ComPtr<IMAPIFolder> folder);
    ~CFolder() override;
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    HRESULT get_Application(_Application** out) override;
    HRESULT get_Parent(IDispatch** out) override;
    HRESULT get_Name(BSTR* out) override;
    HRESULT put_Name(BSTR value) override;
    HRESULT get_EntryID(BSTR* out) override;
    HRESULT get_StoreID(BSTR* out) override;
    HRESULT get_Folders(_Folders** out) override;
    HRESULT get_Items(_Items** out) override;
    HRESULT get_DefaultItemType(LONG* out) override;
    HRESULT get_DefaultMessageClass(BSTR* out) override;
    HRESULT get_UnReadItemCount(LONG* out) override;
    HRESULT get_FolderPath(BSTR* out) override;
    HRESULT get_CurrentView(View** out) override;
    HRESULT get_MAPIOBJECT(IUnknown** out) override;
    HRESULT MoveTo(MAPIFolder* DestinationFolder) override;
    HRESULT Delete() override;
    HRESULT Display() override;

    const EntryId& Id() const { return id_; }
    std::size_t Store() const { return store_; }
    IMAPIFolder* Mapi() const { return folder_.Get(); }
    // The parent's entry ID; empty for a store's top folder.
    EntryId ParentId();
    void MarkGone() { gone_ = true; }
    void Moved(const EntryId& parent) { parent_ = parent; }
    bool IsTop() const;

protected:
    DispTable Members() const override;
    std::string_view InterfaceName() const override { return "MAPIFolder"; }

private:
    HRESULT Check() const;

    ModelPtr model_;
    std::size_t store_;
    EntryId id_;
    ComPtr<IMAPIFolder> folder_;
    std::optional<EntryId> parent_;
    bool gone_ = false;
};

class CFolders final : public CDispatchImpl<_Folders>, public CEventSource, public CRefCounted {
public:
    // parent empty: the stores' top folders.
    CFolders(ModelPtr model, std::size_t store, EntryId parent);
    ~CFolders() override;
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    HRESULT get_Application(_Application** out) override;
    HRESULT get_Parent(IDispatch** out) override;
    HRESULT get_Count(LONG* out) override;
    HRESULT Item(VARIANT Index, MAPIFolder** out) override;
    HRESULT Add(BSTR Name, VARIANT Type, MAPIFolder** out) override;
    HRESULT Remove(LONG Index) override;

    const EntryId& ParentId() const { return parent_; }
    std::size_t Store() const { return store_; }
    void RaiseFolderAdd(MAPIFolder* f) { FireWithObject(events_, DISPID_FolderAdd, f); }
    void RaiseFolderChange(MAPIFolder* f) { FireWithObject(events_, DISPID_FolderChange, f); }
    void RaiseFolderRemove() { events_.Fire(DISPID_FolderRemove); }

protected:
    DispTable Members() const override;
    std::string_view InterfaceName() const override { return "_Folders"; }

private:
    struct Entry {
        std::size_t store;
        EntryId id;
        std::string name;
    };
    HRESULT List(std::vector<Entry>& out);
    HRESULT ParentFolder(ComPtr<IMAPIFolder>& out);

    ModelPtr model_;
    std::size_t store_;
    EntryId parent_;
};

class CView final : public CDispatchImpl<View>, public CRefCounted {
public:
    explicit CView(ComPtr<MAPIFolder> folder);
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    HRESULT get_Parent(MAPIFolder** out) override;
    HRESULT get_Name(BSTR* out) override;
    HRESULT put_Name(BSTR value) override;
    HRESULT get_XML(BSTR* out) override;
    HRESULT put_XML(BSTR value) override;
    HRESULT Save() override;
    HRESULT Apply() override;

protected:
    DispTable Members() const override;
    std::string_view InterfaceName() const override { return "View"; }

private:
    ComPtr<MAPIFolder> folder_;
    std::string name_;
    std::string xml_;
};

// ---- items ----

class CItems final : public CDispatchImpl<_Items>, public CEventSource, public CRefCounted {
public:
    CItems(ModelPtr model, std::size_t store, EntryId folder);
    ~CItems() override;
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    HRESULT get_Application(_Application** out) override;
    HRESULT get_Parent(MAPIFolder** out) override;
    HRESULT get_Count(LONG* out) override;
    HRESULT Item(VARIANT Index, IDispatch** out) override;
    HRESULT Add(VARIANT Type, IDispatch** out) override;
    HRESULT Remove(LONG Index) override;

    const EntryId& FolderId() const { return folder_; }
    std::size_t Store() const { return store_; }
    void RaiseItemAdd(IDispatch* item) { FireWithObject(events_, DISPID_ItemAdd, item); }
    void RaiseItemChange(IDispatch* item) { FireWithObject(events_, DISPID_ItemChange, item); }
    void RaiseItemRemove() { events_.Fire(DISPID_ItemRemove); }

protected:
    DispTable Members() const override;
    std::string_view InterfaceName() const override { return "_Items"; }

private:
    HRESULT EntryAt(LONG index, EntryId& out);

    ModelPtr model_;
    std::size_t store_;
    EntryId folder_;
};

// What every item wrapper has, whatever its interface.
class CItemCore {
public:
    virtual ~CItemCore() = default;
    virtual IDispatch* Dispatch() = 0;
    virtual CConnectionPoint& ItemEvents() = 0;
    const EntryId& Id() const { return id_; }
    // Reloads a saved item that has no changes of its own (another writer changed it).
    virtual void Refresh() = 0;
    virtual void MarkGone() = 0;
    // The inspector showing the item, if one does.
    CInspector* inspector = nullptr;

protected:
    EntryId id_;
};

// Makes the wrapper of a message (a post or a mail item by its class); a
// message without an entry ID is a new one.
HRESULT CreateItemObject(ModelPtr model, std::size_t store, EntryId folder, EntryId id, ComPtr<IMessage> message,
                         IDispatch** out);
CItemCore* ItemCoreOf(IDispatch* item);

// ---- windows ----

// Open windows of one kind (explorers or inspectors), the most recently
// activated last.
template <class T>
class CWindowList {
public:
    HRESULT Count(LONG* out) const
    {
        if (!out) return E_POINTER;
        *out = static_cast<LONG>(list_.size());
        return S_OK;
    }
    template <class I>
    HRESULT Item(const VARIANT& index, I** out) const
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        LONG n = 0;
        std::string name;
        bool isName = false;
        if (!CollectionIndex(index, n, name, isName) || isName) return DISP_E_TYPEMISMATCH;
        if (n < 1 || static_cast<std::size_t>(n) > list_.size()) return DISP_E_BADINDEX;
        return Hand(list_[static_cast<std::size_t>(n - 1)].Get(), out);
    }
    void Add(ComPtr<T> w) { list_.push_back(std::move(w)); }
    // The window goes last; the one active before hears it is deactivated.
    void Activated(T* w)
    {
        const auto it = Find(w);
        if (it == list_.end() || it + 1 == list_.end()) return;
        ComPtr<T> previous = list_.back();
        std::rotate(it, it + 1, list_.end());
        if (previous && !previous->Closed()) previous->RaiseDeactivate();
    }
    void Closed(T* w)
    {
        const auto it = Find(w);
        if (it == list_.end()) return;
        ComPtr<T> keep = *it;  // the list's reference may be the last one
        list_.erase(it);
    }
    T* Active() const { return list_.empty() ? nullptr : list_.back().Get(); }
    // Closes every window with close(window), most recent first.
    template <class Close>
    void CloseAll(Close close)
    {
        while (!list_.empty()) {
            ComPtr<T> last = list_.back();
            close(*last);
            if (!list_.empty() && list_.back().Get() == last.Get()) list_.pop_back();  // a close that went wrong
        }
    }
    const std::vector<ComPtr<T>>& All() const { return list_; }

private:
    typename std::vector<ComPtr<T>>::iterator Find(T* w)
    {
        return std::find_if(list_.begin(), list_.end(), [&](const ComPtr<T>& p) { return p.Get() == w; });
    }

    std::vector<ComPtr<T>> list_;
};

class CExplorers final : public CDispatchImpl<_Explorers>, public CEventSource, public CRefCounted {
public:
    explicit CExplorers(ModelPtr model);
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    HRESULT get_Application(_Application** out) override;
    HRESULT get_Count(LONG* out) override;
    HRESULT Item(VARIANT Index, _Explorer** out) override;
    HRESULT Add(VARIANT Folder, VARIANT DisplayMode, _Explorer** out) override;

    CWindowList<CExplorer>& Windows() { return list_; }

protected:
    DispTable Members() const override;
    std::string_view InterfaceName() const override { return "_Explorers"; }

private:
    ModelPtr model_;
    CWindowList<CExplorer> list_;
};

class CExplorer final : public CDispatchImpl<_Explorer>, public CEventSource, public CRefCounted {
public:
    CExplorer(ModelPtr model, CExplorers* owner, ComPtr<MAPIFolder> folder);
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    HRESULT get_Application(_Application** out) override;
    HRESULT get_Caption(BSTR* out) override;
    HRESULT get_CurrentFolder(MAPIFolder** out) override;
    HRESULT put_CurrentFolder(MAPIFolder* value) override;
    HRESULT get_CommandBars(_CommandBars** out) override;
    HRESULT Activate() override;
    HRESULT Display() override;
    HRESULT Close() override;

    bool Closed() const { return closed_; }
    void RaiseViewSwitch() { events_.Fire(DISPID_ExplorerViewSwitch); }
    void RaiseDeactivate() { events_.Fire(DISPID_ExplorerDeactivate); }
    MAPIFolder* Folder() const { return folder_.Get(); }

protected:
    DispTable Members() const override;
    std::string_view InterfaceName() const override { return "_Explorer"; }

private:
    ModelPtr model_;
    CExplorers* owner_;
    ComPtr<MAPIFolder> folder_;
    ComPtr<_CommandBars> bars_;
    bool closed_ = false;
};

class CInspectors final : public CDispatchImpl<_Inspectors>, public CEventSource, public CRefCounted {
public:
    explicit CInspectors(ModelPtr model);
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    HRESULT get_Application(_Application** out) override;
    HRESULT get_Count(LONG* out) override;
    HRESULT Item(VARIANT Index, _Inspector** out) override;
    HRESULT Add(IDispatch* Item, _Inspector** out) override;

    CWindowList<CInspector>& Windows() { return list_; }

protected:
    DispTable Members() const override;
    std::string_view InterfaceName() const override { return "_Inspectors"; }

private:
    ModelPtr model_;
    CWindowList<CInspector> list_;
};

class CInspector final : public CDispatchImpl<_Inspector>, public CEventSource, public CRefCounted {
public:
    CInspector(ModelPtr model, CInspectors* owner, ComPtr<IDispatch> item);
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    HRESULT get_Application(_Application** out) override;
    HRESULT get_Caption(BSTR* out) override;
    HRESULT get_CurrentItem(IDispatch** out) override;
    HRESULT get_CommandBars(_CommandBars** out) override;
    HRESULT Activate() override;
    HRESULT Display(VARIANT Modal) override;
    HRESULT Close(LONG SaveMode) override;

    bool Closed() const { return closed_; }
    // Closes without asking the item (it is gone, or posted).
    void Dismiss();
    void RaiseDeactivate() { events_.Fire(DISPID_InspectorDeactivate); }

protected:
    DispTable Members() const override;
    std::string_view InterfaceName() const override { return "_Inspector"; }

private:
    ModelPtr model_;
    CInspectors* owner_;
    ComPtr<IDispatch> item_;
    ComPtr<_CommandBars> bars_;
    bool closed_ = false;
};

// Menus of a window (commandbars.cpp); window is the _Explorer or _Inspector.
HRESULT CreateCommandBars(ModelPtr model, IDispatch* window, const MenuLayout& layout, _CommandBars** out);
// Lets go of the window and every control (the window closed).
void ReleaseCommandBars(_CommandBars* bars);

HRESULT CreatePropertyPages(ModelPtr model, IDispatch** out);
HRESULT PagesOf(IDispatch* pages, std::vector<OptionsPage>& out);

}  // namespace quillory::outlook
