// A folder's items: the collection (which raises the item events) and the
// making of item wrappers.
#include <strings.h>

#include "platform/com/dispatch_member.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/proputil.h"
#include "platform/outlook/item_impl.h"

namespace quillory::outlook {

CItems::CItems(ModelPtr model, std::size_t store, EntryId folder)
    : CEventSource(static_cast<_Items*>(this), DIID_ItemsEvents),
      model_(std::move(model)),
      store_(store),
      folder_(std::move(folder))
{
    model_->Register(this);
}

CItems::~CItems() { model_->Unregister(this); }

HRESULT CItems::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv,
                               {{&IID__Items, static_cast<_Items*>(this)},
                                {&IID_IDispatch, static_cast<_Items*>(this)},
                                {&IID_IConnectionPointContainer, static_cast<IConnectionPointContainer*>(this)}});
}

HRESULT CItems::get_Application(_Application** out) { return model_->Application(out); }
HRESULT CItems::get_Parent(MAPIFolder** out) { return model_->Folder(store_, folder_, out); }

HRESULT CItems::get_Count(LONG* out)
{
    if (!out) return E_POINTER;
    ComPtr<MAPIFolder> folder;
    ComPtr<IMAPITable> table;
    ULONG count = 0;
    HRESULT hr = model_->Folder(store_, folder_, &folder);
    if (SUCCEEDED(hr)) hr = static_cast<CFolder*>(folder.Get())->Mapi()->GetContentsTable(0, &table);
    if (SUCCEEDED(hr)) hr = table->GetRowCount(0, &count);
    if (FAILED(hr)) return hr;
    *out = static_cast<LONG>(count);
    return S_OK;
}

HRESULT CItems::EntryAt(LONG index, EntryId& out)
{
    if (index < 1) return DISP_E_BADINDEX;
    ComPtr<MAPIFolder> folder;
    ComPtr<IMAPITable> table;
    HRESULT hr = model_->Folder(store_, folder_, &folder);
    if (SUCCEEDED(hr)) hr = static_cast<CFolder*>(folder.Get())->Mapi()->GetContentsTable(0, &table);
    if (FAILED(hr)) return hr;
    auto columns = MakeTagArray({PR_ENTRYID});
    LONG sought = 0;
    RowSetPtr rows;
    if (FAILED(hr = table->SetColumns(columns.Get(), 0)) ||
        FAILED(hr = table->SeekRow(BOOKMARK_BEGINNING, index - 1, &sought)) || FAILED(hr = table->QueryRows(1, 0, &rows)))
        return hr;
    if (sought != index - 1 || !rows || rows->cRows != 1 || rows->aRow[0].lpProps[0].ulPropTag != PR_ENTRYID)
        return DISP_E_BADINDEX;
    const SBinary& eid = rows->aRow[0].lpProps[0].Value.bin;
    out.assign(eid.lpb, eid.lpb + eid.cb);
    return S_OK;
}

HRESULT CItems::Item(VARIANT Index, IDispatch** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    LONG index = 0;
    std::string name;
    bool isName = false;
    if (!CollectionIndex(Index, index, name, isName) || isName) return DISP_E_TYPEMISMATCH;
    EntryId id;
    if (const HRESULT hr = EntryAt(index, id); FAILED(hr)) return hr;
    return model_->Item(store_, id, out);
}

HRESULT CItems::Add(VARIANT Type, IDispatch** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<MAPIFolder> folder;
    if (const HRESULT hr = model_->Folder(store_, folder_, &folder); FAILED(hr)) return hr;
    LONG type = olMailItem;
    if (IsMissing(Type) || Type.vt == VT_EMPTY) {
        if (const HRESULT hr = folder->get_DefaultItemType(&type); FAILED(hr)) return hr;
    } else {
        CComVariant t;
        if (FAILED(VariantChangeType(&t, &Type, 0, VT_I4))) return DISP_E_TYPEMISMATCH;
        type = t.lVal;
    }
    if (type != olMailItem && type != olPostItem) return E_INVALIDARG;  // only mail and posts exist here
    ComPtr<IMessage> message;
    if (const HRESULT hr = static_cast<CFolder*>(folder.Get())->Mapi()->CreateMessage(nullptr, 0, &message); FAILED(hr))
        return hr;
    if (const HRESULT hr = WriteText(message.Get(), PR_MESSAGE_CLASS, type == olPostItem ? kPostClass : kMailClass);
        FAILED(hr))
        return hr;
    return CreateItemObject(model_, store_, folder_, EntryId{}, message, out);
}

HRESULT CItems::Remove(LONG Index)
{
    ComPtr<IDispatch> item;
    if (const HRESULT hr = Item(CComVariant::Long(Index), &item); FAILED(hr)) return hr;
    ComPtr<OutlookItem> outlookItem;
    if (FAILED(item->QueryInterface(IID_OutlookItem, outlookItem.AsVoidOut()))) return E_FAIL;
    return outlookItem->Delete();
}

DispTable CItems::Members() const
{
    static const DispMember members[] = {
        DispMethod<&_Items::Item>("Item", DISPID_VALUE),
        DispProp<&_Items::get_Application>("Application", 1),
        DispProp<&_Items::get_Parent>("Parent", 2),
        DispProp<&_Items::get_Count>("Count", 3),
        DispMethod<&_Items::Add>("Add", 4),
        DispMethod<&_Items::Remove>("Remove", 5),
    };
    return members;
}

HRESULT CreateItemObject(ModelPtr model, std::size_t store, EntryId folder, EntryId id, ComPtr<IMessage> message,
                         IDispatch** out)
{
    const std::string cls = ReadText(message.Get(), PR_MESSAGE_CLASS);
    const bool post = strncasecmp(cls.c_str(), kPostClass, sizeof kPostClass - 1) == 0 &&
                      (cls.size() == sizeof kPostClass - 1 || cls[sizeof kPostClass - 1] == '.');
    if (post) {
        auto item = ComPtr<CPostItem>::Attach(NewComObject<CPostItem>(model, store, folder, id, message));
        return Hand(static_cast<_PostItem*>(item.Get()), out);
    }
    auto item = ComPtr<CMailItem>::Attach(NewComObject<CMailItem>(model, store, folder, id, message));
    return Hand(static_cast<_MailItem*>(item.Get()), out);
}

CItemCore* ItemCoreOf(IDispatch* item)
{
    if (auto* post = dynamic_cast<CPostItem*>(item)) return post;
    if (auto* mail = dynamic_cast<CMailItem*>(item)) return mail;
    return nullptr;
}

}  // namespace quillory::outlook
