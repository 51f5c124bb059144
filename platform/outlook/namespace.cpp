// The namespace: the session's stores, their default folders, and objects
// found by entry ID.
#include "platform/com/dispatch_member.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/profile_section.h"
#include "platform/mapi/proputil.h"
#include "platform/outlook/model_objects.h"

namespace quillory::outlook {

namespace {

// The entry ID of hexadecimal text; empty when it is none.
EntryId FromHex(std::string_view hex)
{
    auto bytes = HexToBin(hex);
    return bytes ? std::move(*bytes) : EntryId{};
}

}  // namespace

HRESULT CNameSpace::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv, {{&IID__NameSpace, this}, {&IID_IDispatch, this}});
}

HRESULT CNameSpace::get_Application(_Application** out) { return model_->Application(out); }
HRESULT CNameSpace::get_Parent(_Application** out) { return model_->Application(out); }
HRESULT CNameSpace::get_Type(BSTR* out) { return ToBstr("MAPI", out); }

HRESULT CNameSpace::get_Folders(_Folders** out)
{
    if (model_->Stopped()) return MAPI_E_END_OF_SESSION;
    return Hand(ComPtr<CFolders>::Attach(NewComObject<CFolders>(model_, 0, EntryId{})).Get(), out);
}

HRESULT CNameSpace::GetDefaultFolder(LONG FolderType, MAPIFolder** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (model_->Stopped()) return MAPI_E_END_OF_SESSION;
    const int store = model_->DefaultStore();
    if (store < 0) return MAPI_E_NOT_FOUND;
    IMsgStore* mdb = model_->Stores()[static_cast<std::size_t>(store)].store.Get();
    EntryId id;
    switch (FolderType) {
    case olFolderInbox: {
        ULONG cb = 0;
        MapiBuffer<ENTRYID> eid;
        if (const HRESULT hr = mdb->GetReceiveFolder(nullptr, 0, &cb, &eid, nullptr); FAILED(hr)) return hr;
        const auto* p = reinterpret_cast<const BYTE*>(eid.Get());
        id.assign(p, p + cb);
        break;
    }
    case olFolderOutbox: id = ReadBinary(mdb, PR_IPM_OUTBOX_ENTRYID); break;
    case olFolderSentMail: id = ReadBinary(mdb, PR_IPM_SENTMAIL_ENTRYID); break;
    case olFolderDeletedItems: id = ReadBinary(mdb, PR_IPM_WASTEBASKET_ENTRYID); break;
    default: return E_INVALIDARG;  // calendars, contacts and the like do not exist here
    }
    if (id.empty()) return MAPI_E_NOT_FOUND;
    return model_->Folder(static_cast<std::size_t>(store), id, out);
}

HRESULT CNameSpace::StoreFor(const EntryId& entry, const VARIANT& storeHex, std::size_t& store)
{
    int found = model_->StoreOf(entry);
    const std::string_view hex = VariantText(storeHex);
    if (!IsMissing(storeHex) && storeHex.vt != VT_EMPTY && !hex.empty()) {
        const int named = model_->StoreOf(FromHex(hex));
        if (named < 0) return MAPI_E_NOT_FOUND;  // a store this profile does not have
        if (found >= 0 && found != named) return MAPI_E_INVALID_ENTRYID;
        found = named;
    }
    if (found < 0) return MAPI_E_INVALID_ENTRYID;
    store = static_cast<std::size_t>(found);
    return S_OK;
}

HRESULT CNameSpace::GetFolderFromID(BSTR EntryIDFolder, VARIANT EntryIDStore, MAPIFolder** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (model_->Stopped()) return MAPI_E_END_OF_SESSION;
    const EntryId id = FromHex(EntryIDFolder ? std::string_view(EntryIDFolder, SysStringLen(EntryIDFolder)) : "");
    if (id.empty()) return MAPI_E_INVALID_ENTRYID;
    std::size_t store = 0;
    if (const HRESULT hr = StoreFor(id, EntryIDStore, store); FAILED(hr)) return hr;
    return model_->Folder(store, id, out);
}

HRESULT CNameSpace::GetItemFromID(BSTR EntryIDItem, VARIANT EntryIDStore, IDispatch** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (model_->Stopped()) return MAPI_E_END_OF_SESSION;
    const EntryId id = FromHex(EntryIDItem ? std::string_view(EntryIDItem, SysStringLen(EntryIDItem)) : "");
    if (id.empty()) return MAPI_E_INVALID_ENTRYID;
    std::size_t store = 0;
    if (const HRESULT hr = StoreFor(id, EntryIDStore, store); FAILED(hr)) return hr;
    return model_->Item(store, id, out);
}

HRESULT CNameSpace::PickFolder(MAPIFolder** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    const HRESULT hr = model_->Host().PickFolder(this, out);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CNameSpace::get_MAPIOBJECT(IUnknown** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (model_->Stopped()) return MAPI_E_END_OF_SESSION;
    return model_->Session()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(out));
}

HRESULT CNameSpace::get_CurrentProfileName(BSTR* out)
{
    if (model_->Stopped()) return MAPI_E_END_OF_SESSION;
    ComPtr<IProfSect> section;
    MAPIUID global = GlobalSectionUid();  // names the session's profile
    if (const HRESULT hr = model_->Session()->OpenProfileSection(&global, nullptr, 0, &section); FAILED(hr)) return hr;
    return ToBstr(ReadText(section.Get(), PR_PROFILE_NAME), out);
}

DispTable CNameSpace::Members() const
{
    static const DispMember members[] = {
        DispProp<&_NameSpace::get_Application>("Application", 1),
        DispProp<&_NameSpace::get_Parent>("Parent", 2),
        DispProp<&_NameSpace::get_Type>("Type", 3),
        DispProp<&_NameSpace::get_Folders>("Folders", 4),
        DispMethod<&_NameSpace::GetDefaultFolder>("GetDefaultFolder", 5),
        DispMethod<&_NameSpace::GetFolderFromID>("GetFolderFromID", 6),
        DispMethod<&_NameSpace::GetItemFromID>("GetItemFromID", 7),
        DispMethod<&_NameSpace::PickFolder>("PickFolder", 8),
        DispProp<&_NameSpace::get_MAPIOBJECT>("MAPIOBJECT", 9),
        DispProp<&_NameSpace::get_CurrentProfileName>("CurrentProfileName", 10),
    };
    return members;
}

}  // namespace quillory::outlook
