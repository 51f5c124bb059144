// Inspectors: the windows that show one item. Opening one raises, in the
// mail client's order, NewInspector, the item's Open (which may cancel the
// opening) and the inspector's Activate.
#include <algorithm>

#include "platform/com/dispatch_member.h"
#include "platform/outlook/model_objects.h"

namespace quillory::outlook {

// ---- CInspectors ----

CInspectors::CInspectors(ModelPtr model)
    : CEventSource(static_cast<_Inspectors*>(this), DIID_InspectorsEvents), model_(std::move(model))
{
}

HRESULT CInspectors::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv,
                               {{&IID__Inspectors, static_cast<_Inspectors*>(this)},
                                {&IID_IDispatch, static_cast<_Inspectors*>(this)},
                                {&IID_IConnectionPointContainer, static_cast<IConnectionPointContainer*>(this)}});
}

HRESULT CInspectors::get_Application(_Application** out) { return model_->Application(out); }

HRESULT CInspectors::get_Count(LONG* out) { return list_.Count(out); }
HRESULT CInspectors::Item(VARIANT Index, _Inspector** out) { return list_.Item(Index, out); }

HRESULT CInspectors::Add(IDispatch* Item, _Inspector** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (model_->Stopped()) return MAPI_E_END_OF_SESSION;
    CItemCore* core = ItemCoreOf(Item);
    if (!core) return E_INVALIDARG;  // only items of this model open here
    if (core->inspector) {
        core->inspector->Activate();
        return Hand(core->inspector, out);
    }
    auto inspector = ComPtr<CInspector>::Attach(NewComObject<CInspector>(model_, this, ComPtr<IDispatch>(Item)));
    core->inspector = inspector.Get();
    list_.Add(inspector);
    FireWithObject(events_, DISPID_NewInspector, static_cast<_Inspector*>(inspector.Get()));
    if (inspector->Closed()) return S_FALSE;
    if (FireCancellable(core->ItemEvents(), DISPID_ItemOpen)) {
        inspector->Dismiss();
        return S_FALSE;
    }
    if (inspector->Closed()) return S_FALSE;
    inspector->Activate();
    return Hand(inspector.Get(), out);
}

DispTable CInspectors::Members() const
{
    static const DispMember members[] = {
        DispMethod<&_Inspectors::Item>("Item", DISPID_VALUE),
        DispProp<&_Inspectors::get_Application>("Application", 1),
        DispProp<&_Inspectors::get_Count>("Count", 2),
        DispMethod<&_Inspectors::Add>("Add", 3),
    };
    return members;
}

// ---- CInspector ----

CInspector::CInspector(ModelPtr model, CInspectors* owner, ComPtr<IDispatch> item)
    : CEventSource(static_cast<_Inspector*>(this), DIID_InspectorEvents),
      model_(std::move(model)),
      owner_(owner),
      item_(std::move(item))
{
    CreateCommandBars(model_, static_cast<_Inspector*>(this), model_->Host().InspectorMenus(), &bars_);
}

HRESULT CInspector::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv,
                               {{&IID__Inspector, static_cast<_Inspector*>(this)},
                                {&IID_IDispatch, static_cast<_Inspector*>(this)},
                                {&IID_IConnectionPointContainer, static_cast<IConnectionPointContainer*>(this)}});
}

HRESULT CInspector::get_Application(_Application** out) { return model_->Application(out); }

HRESULT CInspector::get_Caption(BSTR* out)
{
    if (closed_) return E_FAIL;
    CComVariant subject;
    DispGet(item_.Get(), "Subject", subject);
    const std::string_view text = VariantText(subject);
    return ToBstr(std::string(text.empty() ? "Untitled" : text) + " - Post", out);
}

HRESULT CInspector::get_CurrentItem(IDispatch** out) { return Hand(item_.Get(), out); }

HRESULT CInspector::get_CommandBars(_CommandBars** out)
{
    if (closed_) return E_FAIL;
    return Hand(bars_.Get(), out);
}

HRESULT CInspector::Activate()
{
    if (closed_) return E_FAIL;
    ComPtr<_Inspector> keep(this);
    owner_->Windows().Activated(this);
    events_.Fire(DISPID_InspectorActivate);
    if (!closed_) model_->Host().InspectorShown(this);
    return S_OK;
}

HRESULT CInspector::Display(VARIANT) { return Activate(); }

HRESULT CInspector::Close(LONG SaveMode)
{
    if (closed_) return S_OK;
    ComPtr<_Inspector> keep(this);
    ComPtr<OutlookItem> item;
    if (item_ && SUCCEEDED(item_->QueryInterface(IID_OutlookItem, item.AsVoidOut()))) {
        // The item decides (it may be cancelled, or save); closing it closes this.
        if (const HRESULT hr = item->Close(SaveMode); FAILED(hr)) return hr;
        return closed_ ? S_OK : S_FALSE;
    }
    Dismiss();
    return S_OK;
}

void CInspector::Dismiss()
{
    if (closed_) return;
    ComPtr<_Inspector> keep(this);
    events_.Fire(DISPID_InspectorClose);
    closed_ = true;
    if (CItemCore* core = ItemCoreOf(item_.Get()); core && core->inspector == this) core->inspector = nullptr;
    item_ = nullptr;
    ReleaseCommandBars(bars_.Get());
    bars_ = nullptr;
    events_.UnadviseAll();
    owner_->Windows().Closed(this);
    model_->Host().InspectorClosed(this);
}

DispTable CInspector::Members() const
{
    static const DispMember members[] = {
        DispProp<&_Inspector::get_Application>("Application", 1),
        DispProp<&_Inspector::get_Caption>("Caption", 2),
        DispProp<&_Inspector::get_CurrentItem>("CurrentItem", 3),
        DispProp<&_Inspector::get_CommandBars>("CommandBars", 4),
        DispMethod<&_Inspector::Activate>("Activate", 5),
        DispMethod<&_Inspector::Display>("Display", 6),
        DispMethod<&_Inspector::Close>("Close", 7),
    };
    return members;
}

}  // namespace quillory::outlook
