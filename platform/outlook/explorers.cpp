// Explorers: the windows that show a folder, with their menus.
#include <algorithm>

#include "platform/com/dispatch_member.h"
#include "platform/mapi/mapitags.h"
#include "platform/outlook/model_objects.h"

namespace quillory::outlook {

// ---- CExplorers ----

CExplorers::CExplorers(ModelPtr model)
    : CEventSource(static_cast<_Explorers*>(this), DIID_ExplorersEvents), model_(std::move(model))
{
}

HRESULT CExplorers::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv,
                               {{&IID__Explorers, static_cast<_Explorers*>(this)},
                                {&IID_IDispatch, static_cast<_Explorers*>(this)},
                                {&IID_IConnectionPointContainer, static_cast<IConnectionPointContainer*>(this)}});
}

HRESULT CExplorers::get_Application(_Application** out) { return model_->Application(out); }

HRESULT CExplorers::get_Count(LONG* out) { return list_.Count(out); }
HRESULT CExplorers::Item(VARIANT Index, _Explorer** out) { return list_.Item(Index, out); }

HRESULT CExplorers::Add(VARIANT Folder, VARIANT, _Explorer** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (model_->Stopped()) return MAPI_E_END_OF_SESSION;
    ComPtr<MAPIFolder> folder;
    CComVariant value;
    if (FAILED(VariantCopyInd(&value, &Folder)) || (value.vt != VT_DISPATCH && value.vt != VT_UNKNOWN) ||
        !value.punkVal || FAILED(value.punkVal->QueryInterface(IID_MAPIFolder, folder.AsVoidOut())))
        return DISP_E_TYPEMISMATCH;
    auto explorer = ComPtr<CExplorer>::Attach(NewComObject<CExplorer>(model_, this, folder));
    list_.Add(explorer);
    FireWithObject(events_, DISPID_NewExplorer, static_cast<_Explorer*>(explorer.Get()));
    return Hand(explorer.Get(), out);
}

DispTable CExplorers::Members() const
{
    static const DispMember members[] = {
        DispMethod<&_Explorers::Item>("Item", DISPID_VALUE),
        DispProp<&_Explorers::get_Application>("Application", 1),
        DispProp<&_Explorers::get_Count>("Count", 2),
        DispMethod<&_Explorers::Add>("Add", 3),
    };
    return members;
}

// ---- CExplorer ----

CExplorer::CExplorer(ModelPtr model, CExplorers* owner, ComPtr<MAPIFolder> folder)
    : CEventSource(static_cast<_Explorer*>(this), DIID_ExplorerEvents),
      model_(std::move(model)),
      owner_(owner),
      folder_(std::move(folder))
{
    CreateCommandBars(model_, static_cast<_Explorer*>(this), model_->Host().ExplorerMenus(), &bars_);
}

HRESULT CExplorer::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv,
                               {{&IID__Explorer, static_cast<_Explorer*>(this)},
                                {&IID_IDispatch, static_cast<_Explorer*>(this)},
                                {&IID_IConnectionPointContainer, static_cast<IConnectionPointContainer*>(this)}});
}

HRESULT CExplorer::get_Application(_Application** out) { return model_->Application(out); }

HRESULT CExplorer::get_Caption(BSTR* out)
{
    if (closed_) return E_FAIL;
    CComBSTR name;
    if (folder_) folder_->get_Name(&name);
    return ToBstr(name.Str() + " - Quillory", out);
}

HRESULT CExplorer::get_CurrentFolder(MAPIFolder** out)
{
    if (closed_) return E_FAIL;
    return Hand(folder_.Get(), out);
}

HRESULT CExplorer::put_CurrentFolder(MAPIFolder* value)
{
    if (closed_) return E_FAIL;
    if (!value) return E_INVALIDARG;
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_DISPATCH;
    arg.pdispVal = value;
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT cancelArg;
    VariantInit(&cancelArg);
    cancelArg.vt = VT_BYREF | VT_BOOL;
    cancelArg.pboolVal = &cancel;
    events_.Fire(DISPID_ExplorerBeforeFolderSwitch, {arg, cancelArg});
    if (cancel) return S_FALSE;
    folder_ = ComPtr<MAPIFolder>(value);
    events_.Fire(DISPID_ExplorerFolderSwitch);
    return S_OK;
}

HRESULT CExplorer::get_CommandBars(_CommandBars** out)
{
    if (closed_) return E_FAIL;
    return Hand(bars_.Get(), out);
}

HRESULT CExplorer::Activate()
{
    if (closed_) return E_FAIL;
    ComPtr<_Explorer> keep(this);
    owner_->Windows().Activated(this);
    events_.Fire(DISPID_ExplorerActivate);
    if (!closed_) model_->Host().ExplorerShown(this);
    return S_OK;
}

HRESULT CExplorer::Display() { return Activate(); }

HRESULT CExplorer::Close()
{
    if (closed_) return S_OK;
    ComPtr<_Explorer> keep(this);
    events_.Fire(DISPID_ExplorerClose);
    closed_ = true;
    ReleaseCommandBars(bars_.Get());
    bars_ = nullptr;
    events_.UnadviseAll();
    owner_->Windows().Closed(this);
    model_->Host().ExplorerClosed(this);
    return S_OK;
}

DispTable CExplorer::Members() const
{
    static const DispMember members[] = {
        DispProp<&_Explorer::get_Application>("Application", 1),
        DispProp<&_Explorer::get_Caption>("Caption", 2),
        DispProp<&_Explorer::get_CurrentFolder, &_Explorer::put_CurrentFolder>("CurrentFolder", 3),
        DispProp<&_Explorer::get_CommandBars>("CommandBars", 4),
        DispMethod<&_Explorer::Activate>("Activate", 5),
        DispMethod<&_Explorer::Display>("Display", 6),
        DispMethod<&_Explorer::Close>("Close", 7),
    };
    return members;
}

}  // namespace quillory::outlook
