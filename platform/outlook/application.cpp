// The application object and the host's entry points to the model.
#include "platform/com/dispatch_member.h"
#include "platform/outlook/model_objects.h"

namespace quillory::outlook {

namespace {

constexpr char kApplicationName[] = "Quillory";
constexpr char kApplicationVersion[] = "16.0.0.0";

CApplication* Impl(_Application* app) { return dynamic_cast<CApplication*>(app); }

}  // namespace

void FireWithObject(CConnectionPoint& point, DISPID id, IDispatch* object)
{
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_DISPATCH;
    arg.pdispVal = object;  // borrowed for the call
    point.Fire(id, {arg});
}

bool FireCancellable(CConnectionPoint& point, DISPID id)
{
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BYREF | VT_BOOL;
    arg.pboolVal = &cancel;
    point.Fire(id, {arg});
    return cancel != VARIANT_FALSE;
}

MenuLayout DefaultExplorerMenus()
{
    return MenuLayout{0, "Menu Bar",
                      {
                          {0, "&File", {{kControlNewPost, "&New Post"}, {kControlExit, "E&xit"}}},
                          {0, "&Edit", {}},
                          {0, "&View", {}},
                          {0,
                           "&Tools",
                           {{kControlSendReceive, "Send/Re&ceive"},
                            {kControlAccounts, "E-mail &Accounts..."},
                            {kControlOptions, "&Options..."}}},
                          {0, "&Help", {{kControlHelpContents, "&Contents"}}},
                      }};
}

MenuLayout DefaultInspectorMenus()
{
    return MenuLayout{0, "Menu Bar",
                      {
                          {0, "&File", {{kControlPostReply, "Post &Reply"}, {kControlClose, "&Close"}}},
                          {0, "&Help", {{kControlHelpContents, "&Contents"}}},
                      }};
}

// ---- application ----

CApplication::CApplication(ModelPtr model)
    : CEventSource(static_cast<_Application*>(this), DIID_ApplicationEvents), model_(std::move(model))
{
}

CApplication::~CApplication() { model_->SetApplication(nullptr); }

HRESULT CApplication::Start()
{
    model_->SetApplication(this);
    if (const HRESULT hr = model_->Start(); FAILED(hr)) return hr;
    namespace_ = ComPtr<_NameSpace>::Attach(NewComObject<CNameSpace>(model_));
    explorers_ = ComPtr<CExplorers>::Attach(NewComObject<CExplorers>(model_));
    inspectors_ = ComPtr<CInspectors>::Attach(NewComObject<CInspectors>(model_));
    return S_OK;
}

HRESULT CApplication::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv,
                               {{&IID__Application, static_cast<_Application*>(this)},
                                {&IID_IDispatch, static_cast<_Application*>(this)},
                                {&IID_IConnectionPointContainer, static_cast<IConnectionPointContainer*>(this)}});
}

HRESULT CApplication::get_Name(BSTR* out) { return ToBstr(kApplicationName, out); }
HRESULT CApplication::get_Version(BSTR* out) { return ToBstr(kApplicationVersion, out); }

HRESULT CApplication::get_Session(_NameSpace** out)
{
    if (shutDown_) return MAPI_E_END_OF_SESSION;
    return Hand(namespace_.Get(), out);
}

HRESULT CApplication::GetNamespace(BSTR Type, _NameSpace** out)
{
    if (!Type || std::string_view(Type) != "MAPI") return E_INVALIDARG;
    return get_Session(out);
}

HRESULT CApplication::get_Explorers(_Explorers** out) { return Hand(explorers_.Get(), out); }
HRESULT CApplication::get_Inspectors(_Inspectors** out) { return Hand(inspectors_.Get(), out); }
HRESULT CApplication::ActiveExplorer(_Explorer** out) { return Hand(explorers_->Windows().Active(), out); }
HRESULT CApplication::ActiveInspector(_Inspector** out) { return Hand(inspectors_->Windows().Active(), out); }

void CApplication::RaiseNewMail() { events_.Fire(DISPID_ApplicationNewMail); }
void CApplication::RaiseStartup() { events_.Fire(DISPID_ApplicationStartup); }

void CApplication::Shutdown()
{
    if (shutDown_) return;
    events_.Fire(DISPID_ApplicationQuit);
    inspectors_->Windows().CloseAll([](CInspector& i) { i.Dismiss(); });
    explorers_->Windows().CloseAll([](CExplorer& e) { e.Close(); });
    shutDown_ = true;
    model_->Stop();
}

HRESULT CApplication::CollectOptionsPages(std::vector<OptionsPage>& pages)
{
    pages.clear();
    if (shutDown_) return MAPI_E_END_OF_SESSION;
    ComPtr<IDispatch> collection;
    if (const HRESULT hr = CreatePropertyPages(model_, &collection); FAILED(hr)) return hr;
    FireWithObject(events_, DISPID_ApplicationOptionsPagesAdd, collection.Get());
    return PagesOf(collection.Get(), pages);
}

DispTable CApplication::Members() const
{
    static const DispMember members[] = {
        DispProp<&_Application::get_Name>("Name", 1),
        DispProp<&_Application::get_Version>("Version", 2),
        DispProp<&_Application::get_Session>("Session", 3),
        DispMethod<&_Application::GetNamespace>("GetNamespace", 4),
        DispProp<&_Application::get_Explorers>("Explorers", 5),
        DispProp<&_Application::get_Inspectors>("Inspectors", 6),
        DispMethod<&_Application::ActiveExplorer>("ActiveExplorer", 7),
        DispMethod<&_Application::ActiveInspector>("ActiveInspector", 8),
    };
    return members;
}

// ---- host entry points ----

HRESULT CreateApplication(IMAPISession* session, IOutlookHost* host, _Application** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!session || !host) return E_INVALIDARG;
    auto model = std::make_shared<CModel>(session, host);
    auto app = ComPtr<CApplication>::Attach(NewComObject<CApplication>(model));
    if (const HRESULT hr = app->Start(); FAILED(hr)) {
        app->Shutdown();
        return hr;
    }
    *out = app.Detach();
    return S_OK;
}

void ShutdownApplication(_Application* app)
{
    if (CApplication* impl = Impl(app)) impl->Shutdown();
}

void RaiseStartup(_Application* app)
{
    if (CApplication* impl = Impl(app)) impl->RaiseStartup();
}

HRESULT CollectOptionsPages(_Application* app, std::vector<OptionsPage>& pages)
{
    CApplication* impl = Impl(app);
    return impl ? impl->CollectOptionsPages(pages) : E_INVALIDARG;
}

void RaisePendingEvents(_Application* app)
{
    if (CApplication* impl = Impl(app)) impl->Model().RaisePending();
}

}  // namespace quillory::outlook
