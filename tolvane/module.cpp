#include "tolvane/module.h"

#include <string>

#include "platform/base/module.h"
#include "platform/base/trace.h"
#include "platform/com/typeinfo.h"
#include "tolvane/addin.h"
#include "tolvane/ids.h"

namespace quillory::tolvane {

namespace {

const char kAnchor = 0;  // an address inside this library

struct ClassEntry {
    const CLSID* clsid;
    WORD script;
    bool control;
    HRESULT (*factory)(CComModule& module, REFIID riid, void** ppv);
};

// The classes of the library. The options page is registered here; its
// control is made by the folder-handling part of the add-in, and until then
// asking for its class object answers CLASS_E_CLASSNOTAVAILABLE.
const ClassEntry kObjectMap[] = {
    {&CLSID_OutlookAddin, IDR_OUTLOOKADDIN, false, &CreateClassFactory<COutlookAddin>},
    {&CLSID_NNTPPropPage, IDR_NNTPPROPPAGE, true, nullptr},
};

}  // namespace

CtolvaneModule& Module()
{
    static CtolvaneModule module;
    return module;
}

CtolvaneModule::~CtolvaneModule()
{
    if (registrar_) registrar_->Release();
}

HRESULT CtolvaneModule::GetRegistrar(IRegistrar** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    std::lock_guard lock(mutex_);
    if (!registrar_) {
        if (const HRESULT hr = CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar,
                                                reinterpret_cast<void**>(&registrar_));
            FAILED(hr))
            return hr;
    }
    registrar_->AddRef();
    *out = registrar_;
    return S_OK;
}

HRESULT CtolvaneModule::AddAppIdReplacement(IRegistrar* registrar)
{
    return registrar->AddReplacement("APPID", kAppId);
}

HRESULT CtolvaneModule::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (const ClassEntry& c : kObjectMap)
        if (*c.clsid == clsid && c.factory) return c.factory(*this, riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CtolvaneModule::RunScript(WORD id, bool doRegister, bool control)
{
    ComPtr<IRegistrar> registrar;
    if (const HRESULT hr = GetRegistrar(&registrar); FAILED(hr)) return hr;
    const std::string path = ModulePathOf(&kAnchor);
    registrar->ClearReplacements();
    HRESULT hr = AddAppIdReplacement(registrar.Get());
    if (SUCCEEDED(hr)) hr = registrar->AddReplacement("MODULE", path.c_str());
    if (SUCCEEDED(hr) && control) hr = registrar->AddReplacement("OLEMISC", std::to_string(kPageOleMisc).c_str());
    if (SUCCEEDED(hr))
        hr = doRegister ? registrar->ResourceRegister(path.c_str(), id, kScriptType)
                        : registrar->ResourceUnregister(path.c_str(), id, kScriptType);
    registrar->ClearReplacements();
    if (FAILED(hr)) Trace("CtolvaneModule -- script %u: 0x%08X\n", id, static_cast<unsigned>(hr));
    return hr;
}

// Registry scripts read the same in every locale here, so there is no
// thread locale to switch around them.
HRESULT CtolvaneModule::RegisterServer()
{
    HRESULT hr = RunScript(IDR_TOLVANE, true, false);
    for (const ClassEntry& c : kObjectMap)
        if (SUCCEEDED(hr)) hr = RunScript(c.script, true, c.control);
    if (SUCCEEDED(hr)) {
        ComPtr<ITypeLib> lib;
        hr = LoadTypeLibEx(ModulePathOf(&kAnchor).c_str(), REGKIND_REGISTER, &lib);
    }
    return hr;
}

HRESULT CtolvaneModule::UnregisterServer()
{
    HRESULT first = S_OK;
    for (const ClassEntry& c : kObjectMap)
        if (const HRESULT hr = RunScript(c.script, false, c.control); FAILED(hr) && SUCCEEDED(first)) first = hr;
    if (const HRESULT hr = UnRegisterTypeLib(LIBID_tolvaneLib, kTypeLibMajor, kTypeLibMinor, 0, SYS_WIN32);
        FAILED(hr) && hr != TYPE_E_LIBNOTREGISTERED && SUCCEEDED(first))
        first = hr;
    if (const HRESULT hr = RunScript(IDR_TOLVANE, false, false); FAILED(hr) && SUCCEEDED(first)) first = hr;
    return first;
}

}  // namespace quillory::tolvane
