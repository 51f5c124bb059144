// The connection: OnConnection and OnDisconnection, the application,
// explorers and inspectors sinks, and the substitute session.
#include "tolvane/addin.h"

#include <algorithm>

#include "common/regstore.h"
#include "common/substitute_session.h"
#include "platform/base/module.h"
#include "platform/base/trace.h"
#include "platform/com/dispatch.h"
#include "platform/com/typeinfo.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/profile_section.h"
#include "platform/mapi/proputil.h"
#include "tolvane/cache_purge.h"
#include "tolvane/explorer_wrapper.h"
#include "tolvane/gate.h"
#include "tolvane/texts.h"

namespace quillory::tolvane {

namespace {

constexpr int kExplorersSink = 1;
constexpr int kApplicationSink = 2;
constexpr int kInspectorsSink = 3;

const SinkEntry<COutlookAddin> kAddinSinks[] = {
    {kExplorersSink, &DIID_ExplorersEvents, DISPID_NewExplorer, &COutlookAddin::OnNewExplorer},
    {kApplicationSink, &DIID_ApplicationEvents, DISPID_ApplicationOptionsPagesAdd, &COutlookAddin::OnOptionsPagesAdd},
    {kInspectorsSink, &DIID_InspectorsEvents, DISPID_NewInspector, &COutlookAddin::OnNewInspector},
};

inline constexpr char kPageTitle[] = "NNTP";

const char kAnchor = 0;  // an address inside this library

std::string ProfileNameOf(IMAPISession* session)
{
    if (!session) return {};
    ComPtr<IProfSect> section;
    MAPIUID global = GlobalSectionUid();
    if (FAILED(session->OpenProfileSection(&global, nullptr, 0, &section))) return {};
    MapiBuffer<SPropValue> name;
    if (FAILED(HrGetOneProp(section.Get(), PR_PROFILE_NAME, &name)) || !name->Value.lpszA) return {};
    return name->Value.lpszA;
}

}  // namespace

COutlookAddin::COutlookAddin(IUnknown* outer, CComModule& module)
    : CAggregatable(outer),
      lock_(module),
      explorersSink_(this, kExplorersSink, DIID_ExplorersEvents, kAddinSinks),
      applicationSink_(this, kApplicationSink, DIID_ApplicationEvents, kAddinSinks),
      inspectorsSink_(this, kInspectorsSink, DIID_InspectorsEvents, kAddinSinks),
      baseFolder_(this, true)
{
}

COutlookAddin::~COutlookAddin() { Unhook(); }

HRESULT COutlookAddin::CreateInstance(CComModule& module, IUnknown* outer, REFIID riid, void** ppv)
{
    return CreateAggregatable<COutlookAddin>(outer, riid, ppv, module);
}

HRESULT COutlookAddin::InnerQueryInterface(REFIID riid, void** ppv)
{
    if (riid == IID_IOutlookAddin || riid == IID_IDispatch) {
        *ppv = static_cast<IOutlookAddin*>(this);
    } else if (riid == IID_IDTExtensibility2) {
        *ppv = static_cast<_IDTExtensibility2*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

// ---- IDispatch: the add-in's own interface has no members ----

HRESULT COutlookAddin::GetTypeInfoCount(UINT* pctinfo)
{
    if (!pctinfo) return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

HRESULT COutlookAddin::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo)
{
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0) return DISP_E_BADINDEX;
    ComPtr<ITypeLib> lib;
    if (const HRESULT hr = LoadTypeLib(ModulePathOf(&kAnchor).c_str(), &lib); FAILED(hr)) return hr;
    return lib->GetTypeInfoOfGuid(IID_IOutlookAddin, ppTInfo);
}

HRESULT COutlookAddin::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId)
{
    ComPtr<ITypeInfo> info;
    if (const HRESULT hr = GetTypeInfo(0, lcid, &info); FAILED(hr)) return hr;
    return info->GetIDsOfNames(rgszNames, cNames, rgDispId);
}

HRESULT COutlookAddin::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
{
    return DISP_E_MEMBERNOTFOUND;
}

// ---- IDTExtensibility2 ----

HRESULT COutlookAddin::OnConnection(IDispatch* Application, ext_ConnectMode, IDispatch*, SAFEARRAY**)
{
    if (application_) return E_FAIL;  // a second connection without a disconnection
    try {
        return Connect(Application);
    } catch (...) {
        Unhook();
        return E_FAIL;
    }
}

HRESULT COutlookAddin::Connect(IDispatch* application)
{
    if (!application || FAILED(application->QueryInterface(IID__Application, application_.AsVoidOut())))
        return E_FAIL;

    ComPtr<_NameSpace> ns;
    application_->get_Session(&ns);
    profileName_ = ProfileNameOf(Session());
    if (!RunActivationGate(profileName_, ns.Get())) {
        Unhook();
        return S_FALSE;  // loaded, nothing hooked
    }
    PurgeStaleCacheFiles();

    HRESULT hr = application_->get_Inspectors(&inspectors_);
    if (SUCCEEDED(hr) && inspectors_) hr = inspectorsSink_.Advise(inspectors_.Get());
    if (SUCCEEDED(hr)) hr = application_->get_Explorers(&explorers_);
    if (SUCCEEDED(hr) && explorers_) hr = explorersSink_.Advise(explorers_.Get());
    if (FAILED(hr) || !inspectors_ || !explorers_) {
        Unhook();  // nothing stays advised on objects the host may release
        return E_FAIL;
    }
    LONG count = 0;
    explorers_->get_Count(&count);
    for (LONG i = 1; i <= count; ++i) {
        ComPtr<_Explorer> explorer;
        if (SUCCEEDED(explorers_->Item(CComVariant::Long(i), &explorer)) && explorer) WrapExplorer(explorer.Get());
    }
    applicationSink_.Advise(application_.Get());
    AttachBaseFolder();
    CreateAddinWindow();
    return S_OK;
}

HRESULT COutlookAddin::OnDisconnection(ext_DisconnectMode, SAFEARRAY**)
{
    if (!application_) return S_OK;
    Unhook();
    return S_OK;
}

HRESULT COutlookAddin::OnAddInsUpdate(SAFEARRAY**) { return E_NOTIMPL; }
HRESULT COutlookAddin::OnStartupComplete(SAFEARRAY**) { return E_NOTIMPL; }
HRESULT COutlookAddin::OnBeginShutdown(SAFEARRAY**) { return E_NOTIMPL; }

void COutlookAddin::Unhook()
{
    DestroyAddinWindow();
    explorerList_.clear();  // each disconnects first
    inspectorList_.clear();
    explorersSink_.Unadvise(explorers_.Get());
    explorers_ = nullptr;
    inspectorsSink_.Unadvise(inspectors_.Get());
    inspectors_ = nullptr;
    applicationSink_.Unadvise(application_.Get());
    baseFolder_.Detach();
    session_ = nullptr;
    application_ = nullptr;
}

IMAPISession* COutlookAddin::Session()
{
    if (!session_ && application_) {
        ComPtr<CMyMAPISession> sub = ComPtr<CMyMAPISession>::Attach(CMyMAPISession::Create());
        if (sub && FAILED(sub->QueryInterface(IID_IMAPISession, session_.AsVoidOut())))
            Trace("COutlookAddin::Session -- no session to share\n");
    }
    return session_.Get();
}

// ---- sinks ----

void COutlookAddin::WrapExplorer(IDispatch* explorer)
{
    ComPtr<_Explorer> typed;
    if (!explorer || FAILED(explorer->QueryInterface(IID__Explorer, typed.AsVoidOut()))) return;
    auto wrapper = std::make_unique<COutlookExplorer>(typed.Get(), this);
    if (wrapper->Connected()) explorerList_.push_back(std::move(wrapper));
}

void COutlookAddin::OnNewExplorer(DISPPARAMS* params) { WrapExplorer(EventObject(params)); }

void COutlookAddin::OnNewInspector(DISPPARAMS* params)
{
    ComPtr<_Inspector> inspector;
    ComPtr<IDispatch> item;
    if (IDispatch* arg = EventObject(params);
        arg && SUCCEEDED(arg->QueryInterface(IID__Inspector, inspector.AsVoidOut())) &&
        SUCCEEDED(inspector->get_CurrentItem(&item)) && item) {
        auto wrapper = std::make_unique<COutlookInspector>(inspector.Get(), this);
        if (wrapper->Connected()) inspectorList_.push_back(std::move(wrapper));
    }
    PurgeAndRefresh();
}

void COutlookAddin::OnOptionsPagesAdd(DISPPARAMS* params)
{
    ComPtr<PropertyPages> pages;
    IDispatch* arg = EventObject(params);
    if (!arg || FAILED(arg->QueryInterface(IID_PropertyPages, pages.AsVoidOut()))) return;
    const CComVariant page = CComVariant::Text(kPageProgId);
    CComBSTR title(kPageTitle);
    HRESULT hr = page.vt == VT_BSTR && title.Ok() ? pages->Add(page, title.Get()) : E_OUTOFMEMORY;
    Trace("Property page added, hr=0x%08x\n", static_cast<unsigned>(hr));
}

void COutlookAddin::PurgeAndRefresh()
{
    std::erase_if(explorerList_, [](const auto& e) { return !e->Connected(); });
    for (auto& e : explorerList_) e->RefreshCaption();
    std::erase_if(inspectorList_, [](const auto& i) { return !i->Connected(); });
}

std::string COutlookAddin::ButtonCaption() const
{
    std::string caption = AddinText(kStrButtonCaption);
    const std::size_t eol = caption.find_first_of("\r\n");
    if (eol != std::string::npos) caption.resize(eol);
    return caption.empty() ? std::string("Newsgroups...") : caption;
}

}  // namespace quillory::tolvane
