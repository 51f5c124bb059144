// Folders: live wrappers over the store's folders, their collections (which
// raise the folder events) and their views.
#include <strings.h>

#include "platform/com/dispatch_member.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/proputil.h"
#include "platform/outlook/model_objects.h"
#include "platform/outlook/view.h"

namespace quillory::outlook {

namespace {

constexpr char kMailFolderClass[] = "IPF.Note";

struct ClassType {
    const char* prefix;
    LONG type;
};
// Folder classes and the item type they hold; anything else holds mail.
constexpr ClassType kFolderClasses[] = {
    {"IPF.Post", olPostItem}, {"IPF.Appointment", 1}, {"IPF.Contact", 2},
    {"IPF.Task", 3},          {"IPF.Journal", 4},     {"IPF.StickyNote", 5},
};

}  // namespace

// ---- CFolder ----

CFolder::CFolder(ModelPtr model, std::size_t store, EntryId id, ComPtr<IMAPIFolder> folder)
    : model_(std::move(model)), store_(store), id_(std::move(id)), folder_(std::move(folder))
{
    model_->Register(this);
}

CFolder::~CFolder() { model_->Unregister(this); }

HRESULT CFolder::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv, {{&IID_MAPIFolder, this}, {&IID_IDispatch, this}});
}

HRESULT CFolder::Check() const
{
    if (model_->Stopped()) return MAPI_E_END_OF_SESSION;
    return gone_ ? MAPI_E_NOT_FOUND : S_OK;
}

bool CFolder::IsTop() const
{
    return ReadBinary(model_->Stores()[store_].store.Get(), PR_IPM_SUBTREE_ENTRYID) == id_;
}

EntryId CFolder::ParentId()
{
    if (IsTop()) return {};
    if (!parent_) {
        EntryId parent = ReadBinary(folder_.Get(), PR_PARENT_ENTRYID);
        if (parent.empty()) return {};
        parent_ = std::move(parent);
    }
    return *parent_;
}

HRESULT CFolder::get_Application(_Application** out) { return model_->Application(out); }

HRESULT CFolder::get_Parent(IDispatch** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    if (IsTop()) {
        ComPtr<_NameSpace> ns;
        if (const HRESULT hr = model_->NameSpace(&ns); FAILED(hr)) return hr;
        return Hand(ns.Get(), out);
    }
    const EntryId parent = ParentId();
    if (parent.empty()) return MAPI_E_NOT_FOUND;
    ComPtr<MAPIFolder> folder;
    if (const HRESULT hr = model_->Folder(store_, parent, &folder); FAILED(hr)) return hr;
    return Hand(folder.Get(), out);
}

HRESULT CFolder::get_Name(BSTR* out)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    MapiBuffer<SPropValue> v;
    if (const HRESULT hr = HrGetOneProp(folder_.Get(), PR_DISPLAY_NAME, &v); FAILED(hr)) return hr;
    return ToBstr(v->Value.lpszA ? v->Value.lpszA : "", out);
}

HRESULT CFolder::put_Name(BSTR value)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    if (!value || !*value) return E_INVALIDARG;
    if (const HRESULT hr = WriteText(folder_.Get(), PR_DISPLAY_NAME, value); FAILED(hr)) return hr;
    return folder_->SaveChanges(KEEP_OPEN_READWRITE);
}

HRESULT CFolder::get_EntryID(BSTR* out)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    return ToBstr(BinToHex(id_), out);
}

HRESULT CFolder::get_StoreID(BSTR* out)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    const EntryId store = ReadBinary(model_->Stores()[store_].store.Get(), PR_ENTRYID);
    if (store.empty()) return MAPI_E_NOT_FOUND;
    return ToBstr(BinToHex(store), out);
}

HRESULT CFolder::get_Folders(_Folders** out)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    return Hand(ComPtr<CFolders>::Attach(NewComObject<CFolders>(model_, store_, id_)).Get(), out);
}

HRESULT CFolder::get_Items(_Items** out)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    return Hand(ComPtr<CItems>::Attach(NewComObject<CItems>(model_, store_, id_)).Get(), out);
}

HRESULT CFolder::get_DefaultItemType(LONG* out)
{
    if (!out) return E_POINTER;
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    const std::string cls = ReadText(folder_.Get(), PR_CONTAINER_CLASS);
    *out = olMailItem;
    for (const auto& c : kFolderClasses) {
        const std::size_t n = std::strlen(c.prefix);
        if (strncasecmp(cls.c_str(), c.prefix, n) == 0 && (cls.size() == n || cls[n] == '.')) *out = c.type;
    }
    return S_OK;
}

HRESULT CFolder::get_DefaultMessageClass(BSTR* out)
{
    LONG type = olMailItem;
    if (const HRESULT hr = get_DefaultItemType(&type); FAILED(hr)) return hr;
    return ToBstr(type == olPostItem ? "IPM.Post" : "IPM.Note", out);
}

HRESULT CFolder::get_UnReadItemCount(LONG* out)
{
    if (!out) return E_POINTER;
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    MapiBuffer<SPropValue> v;
    *out = SUCCEEDED(HrGetOneProp(folder_.Get(), PR_CONTENT_UNREAD, &v)) ? v->Value.l : 0;
    return S_OK;
}

HRESULT CFolder::get_FolderPath(BSTR* out)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    std::string path;
    ComPtr<MAPIFolder> at(this);
    // Walk up to the store's top; a folder tree is never deeper than this.
    for (int depth = 0; at && depth < 1000; ++depth) {
        auto* f = static_cast<CFolder*>(at.Get());
        path = "\\" + ReadText(f->Mapi(), PR_DISPLAY_NAME) + path;
        if (f->IsTop()) break;
        const EntryId parent = f->ParentId();
        ComPtr<MAPIFolder> next;
        if (parent.empty() || FAILED(model_->Folder(store_, parent, &next))) break;
        at = next;
    }
    return ToBstr("\\" + path, out);
}

HRESULT CFolder::get_CurrentView(View** out)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    return Hand(ComPtr<CView>::Attach(NewComObject<CView>(ComPtr<MAPIFolder>(this))).Get(), out);
}

HRESULT CFolder::get_MAPIOBJECT(IUnknown** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    return folder_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
}

HRESULT CFolder::MoveTo(MAPIFolder* DestinationFolder)
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    auto* dest = dynamic_cast<CFolder*>(DestinationFolder);  // a folder of this model
    if (!dest || IsTop()) return E_INVALIDARG;
    if (dest->store_ != store_) return MAPI_E_NO_SUPPORT;
    ComPtr<MAPIFolder> parent;
    if (const HRESULT hr = model_->Folder(store_, ParentId(), &parent); FAILED(hr)) return hr;
    EntryId id = id_;
    return static_cast<CFolder*>(parent.Get())
        ->Mapi()
        ->CopyFolder(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()), nullptr, dest->Mapi(), nullptr,
                     0, nullptr, FOLDER_MOVE);
}

HRESULT CFolder::Delete()
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    if (IsTop()) return MAPI_E_NO_SUPPORT;
    ComPtr<MAPIFolder> parent;
    if (const HRESULT hr = model_->Folder(store_, ParentId(), &parent); FAILED(hr)) return hr;
    EntryId id = id_;
    return static_cast<CFolder*>(parent.Get())
        ->Mapi()
        ->DeleteFolder(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(id.data()), 0, nullptr,
                       DEL_FOLDERS | DEL_MESSAGES);
}

HRESULT CFolder::Display()
{
    if (const HRESULT hr = Check(); FAILED(hr)) return hr;
    ComPtr<_Application> app;
    ComPtr<_Explorers> explorers;
    ComPtr<_Explorer> explorer;
    HRESULT hr = model_->Application(&app);
    if (SUCCEEDED(hr)) hr = app->get_Explorers(&explorers);
    if (SUCCEEDED(hr)) hr = explorers->Add(CComVariant::Dispatch(this), CComVariant::Missing(), &explorer);
    if (SUCCEEDED(hr)) hr = explorer->Display();
    return hr;
}

DispTable CFolder::Members() const
{
    static const DispMember members[] = {
        DispProp<&MAPIFolder::get_Application>("Application", 1),
        DispProp<&MAPIFolder::get_Parent>("Parent", 2),
        DispProp<&MAPIFolder::get_Name, &MAPIFolder::put_Name>("Name", 3),
        DispProp<&MAPIFolder::get_EntryID>("EntryID", 4),
        DispProp<&MAPIFolder::get_StoreID>("StoreID", 5),
        DispProp<&MAPIFolder::get_Folders>("Folders", 6),
        DispProp<&MAPIFolder::get_Items>("Items", 7),
        DispProp<&MAPIFolder::get_DefaultItemType>("DefaultItemType", 8),
        DispProp<&MAPIFolder::get_DefaultMessageClass>("DefaultMessageClass", 9),
        DispProp<&MAPIFolder::get_UnReadItemCount>("UnReadItemCount", 10),
        DispProp<&MAPIFolder::get_FolderPath>("FolderPath", 11),
        DispProp<&MAPIFolder::get_CurrentView>("CurrentView", 12),
        DispProp<&MAPIFolder::get_MAPIOBJECT>("MAPIOBJECT", 13),
        DispMethod<&MAPIFolder::MoveTo>("MoveTo", 14),
        DispMethod<&MAPIFolder::Delete>("Delete", 15),
        DispMethod<&MAPIFolder::Display>("Display", 16),
    };
    return members;
}

// ---- CFolders ----

CFolders::CFolders(ModelPtr model, std::size_t store, EntryId parent)
    : CEventSource(static_cast<_Folders*>(this), DIID_FoldersEvents),
      model_(std::move(model)),
      store_(store),
      parent_(std::move(parent))
{
    model_->Register(this);
}

CFolders::~CFolders() { model_->Unregister(this); }

HRESULT CFolders::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv,
                               {{&IID__Folders, static_cast<_Folders*>(this)},
                                {&IID_IDispatch, static_cast<_Folders*>(this)},
                                {&IID_IConnectionPointContainer, static_cast<IConnectionPointContainer*>(this)}});
}

HRESULT CFolders::get_Application(_Application** out) { return model_->Application(out); }

HRESULT CFolders::get_Parent(IDispatch** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (model_->Stopped()) return MAPI_E_END_OF_SESSION;
    if (parent_.empty()) {
        ComPtr<_NameSpace> ns;
        if (const HRESULT hr = model_->NameSpace(&ns); FAILED(hr)) return hr;
        return Hand(ns.Get(), out);
    }
    ComPtr<MAPIFolder> folder;
    if (const HRESULT hr = model_->Folder(store_, parent_, &folder); FAILED(hr)) return hr;
    return Hand(folder.Get(), out);
}

HRESULT CFolders::ParentFolder(ComPtr<IMAPIFolder>& out)
{
    ComPtr<MAPIFolder> folder;
    if (const HRESULT hr = model_->Folder(store_, parent_, &folder); FAILED(hr)) return hr;
    out = ComPtr<IMAPIFolder>(static_cast<CFolder*>(folder.Get())->Mapi());
    return S_OK;
}

HRESULT CFolders::List(std::vector<Entry>& out)
{
    out.clear();
    if (model_->Stopped()) return MAPI_E_END_OF_SESSION;
    if (parent_.empty()) {
        for (std::size_t i = 0; i < model_->Stores().size(); ++i) {
            ComPtr<MAPIFolder> top;
            if (FAILED(model_->TopFolder(i, &top))) continue;
            auto* f = static_cast<CFolder*>(top.Get());
            out.push_back(Entry{i, f->Id(), ReadText(f->Mapi(), PR_DISPLAY_NAME)});
        }
        return S_OK;
    }
    ComPtr<IMAPIFolder> parent;
    ComPtr<IMAPITable> table;
    HRESULT hr = ParentFolder(parent);
    if (SUCCEEDED(hr)) hr = parent->GetHierarchyTable(0, &table);
    if (FAILED(hr)) return hr;
    auto columns = MakeTagArray({PR_ENTRYID, PR_DISPLAY_NAME});
    RowSetPtr rows;
    if (FAILED(hr = table->SetColumns(columns.Get(), 0)) || FAILED(hr = table->QueryRows(0x7FFFFFFF, 0, &rows)))
        return hr;
    for (ULONG i = 0; rows && i < rows->cRows; ++i) {
        const SRow& row = rows->aRow[i];
        if (row.cValues < 2 || row.lpProps[0].ulPropTag != PR_ENTRYID) continue;
        const SBinary& eid = row.lpProps[0].Value.bin;
        const char* name = row.lpProps[1].ulPropTag == PR_DISPLAY_NAME ? row.lpProps[1].Value.lpszA : nullptr;
        out.push_back(Entry{store_, EntryId(eid.lpb, eid.lpb + eid.cb), name ? name : ""});
    }
    return S_OK;
}

HRESULT CFolders::get_Count(LONG* out)
{
    if (!out) return E_POINTER;
    std::vector<Entry> entries;
    if (const HRESULT hr = List(entries); FAILED(hr)) return hr;
    *out = static_cast<LONG>(entries.size());
    return S_OK;
}

HRESULT CFolders::Item(VARIANT Index, MAPIFolder** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    LONG index = 0;
    std::string name;
    bool isName = false;
    if (!CollectionIndex(Index, index, name, isName)) return DISP_E_TYPEMISMATCH;
    std::vector<Entry> entries;
    if (const HRESULT hr = List(entries); FAILED(hr)) return hr;
    if (isName) {
        for (const Entry& e : entries)
            if (strcasecmp(e.name.c_str(), name.c_str()) == 0) return model_->Folder(e.store, e.id, out);
        return MAPI_E_NOT_FOUND;
    }
    if (index < 1 || static_cast<std::size_t>(index) > entries.size()) return DISP_E_BADINDEX;
    const Entry& e = entries[static_cast<std::size_t>(index - 1)];
    return model_->Folder(e.store, e.id, out);
}

HRESULT CFolders::Add(BSTR Name, VARIANT Type, MAPIFolder** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (model_->Stopped()) return MAPI_E_END_OF_SESSION;
    if (parent_.empty()) return MAPI_E_NO_SUPPORT;  // stores are not made here
    if (!Name || !*Name) return E_INVALIDARG;
    if (!IsMissing(Type) && Type.vt != VT_EMPTY) {
        CComVariant t;
        if (FAILED(VariantChangeType(&t, &Type, 0, VT_I4)) || t.lVal != olFolderMail) return E_INVALIDARG;
    }
    ComPtr<IMAPIFolder> parent, created;
    HRESULT hr = ParentFolder(parent);
    if (SUCCEEDED(hr)) hr = parent->CreateFolder(FOLDER_GENERIC, Name, nullptr, nullptr, 0, &created);
    if (FAILED(hr)) return hr;
    WriteText(created.Get(), PR_CONTAINER_CLASS, kMailFolderClass);
    created->SaveChanges(KEEP_OPEN_READWRITE);
    const EntryId id = ReadBinary(created.Get(), PR_ENTRYID);
    if (id.empty()) return MAPI_E_NOT_FOUND;
    return model_->Folder(store_, id, out);
}

HRESULT CFolders::Remove(LONG Index)
{
    ComPtr<MAPIFolder> folder;
    if (const HRESULT hr = Item(CComVariant::Long(Index), &folder); FAILED(hr)) return hr;
    return folder->Delete();
}

DispTable CFolders::Members() const
{
    static const DispMember members[] = {
        DispMethod<&_Folders::Item>("Item", DISPID_VALUE),
        DispProp<&_Folders::get_Application>("Application", 1),
        DispProp<&_Folders::get_Parent>("Parent", 2),
        DispProp<&_Folders::get_Count>("Count", 3),
        DispMethod<&_Folders::Add>("Add", 4),
        DispMethod<&_Folders::Remove>("Remove", 5),
    };
    return members;
}

// ---- CView ----

CView::CView(ComPtr<MAPIFolder> folder) : folder_(std::move(folder))
{
    IMAPIFolder* mapi = static_cast<CFolder*>(folder_.Get())->Mapi();
    name_ = ReadText(mapi, PR_QUILLORY_VIEW_NAME);
    xml_ = ReadText(mapi, PR_QUILLORY_VIEW_XML);
    if (xml_.empty()) {
        name_ = kDefaultViewName;
        xml_ = kDefaultViewXml;
    }
}

HRESULT CView::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv, {{&IID_View, this}, {&IID_IDispatch, this}});
}

HRESULT CView::get_Parent(MAPIFolder** out) { return Hand(folder_.Get(), out); }
HRESULT CView::get_Name(BSTR* out) { return ToBstr(name_, out); }

HRESULT CView::put_Name(BSTR value)
{
    if (!value || !*value) return E_INVALIDARG;
    name_.assign(value, SysStringLen(value));
    return S_OK;
}

HRESULT CView::get_XML(BSTR* out) { return ToBstr(xml_, out); }

HRESULT CView::put_XML(BSTR value)
{
    if (!value || !*value) return E_INVALIDARG;
    xml_.assign(value, SysStringLen(value));
    return S_OK;
}

HRESULT CView::Save()
{
    IMAPIFolder* mapi = static_cast<CFolder*>(folder_.Get())->Mapi();
    HRESULT hr = WriteText(mapi, PR_QUILLORY_VIEW_NAME, name_);
    if (SUCCEEDED(hr)) hr = WriteText(mapi, PR_QUILLORY_VIEW_XML, xml_);
    if (SUCCEEDED(hr)) hr = mapi->SaveChanges(KEEP_OPEN_READWRITE);
    return hr;
}

HRESULT CView::Apply()
{
    // The explorers showing the folder switch to the view.
    ComPtr<_Application> app;
    if (FAILED(folder_->get_Application(&app))) return S_OK;
    ComPtr<_Explorers> explorers;
    if (FAILED(app->get_Explorers(&explorers))) return S_OK;
    for (const auto& e : static_cast<CExplorers*>(explorers.Get())->Windows().All())
        if (!e->Closed() && e->Folder() == folder_.Get()) e->RaiseViewSwitch();
    return S_OK;
}

DispTable CView::Members() const
{
    static const DispMember members[] = {
        DispProp<&View::get_Parent>("Parent", 1),
        DispProp<&View::get_Name, &View::put_Name>("Name", 2),
        DispProp<&View::get_XML, &View::put_XML>("XML", 3),
        DispMethod<&View::Save>("Save", 4),
        DispMethod<&View::Apply>("Apply", 5),
    };
    return members;
}

}  // namespace quillory::outlook
