#include "platform/com/classfactory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/base/module.h"
#include "platform/base/registry.h"
#include "platform/base/trace.h"
#include "platform/com/guid.h"
#include "platform/com/refcounted.h"
#include "platform/com/registrar.h"

namespace {

struct PlatformClass {
    GUID clsid;
    std::string module;
};

std::mutex& ClassMutex()
{
    static std::mutex m;
    return m;
}

// The platform's own in-process servers, registered on first use when missing.
std::vector<PlatformClass>& PlatformClasses()
{
    static std::vector<PlatformClass> classes = [] {
        std::vector<PlatformClass> v;
        // The MIME message object of the news component.
        v.push_back({*quillory::ParseGuid("{FD853CE3-7F86-11D0-8252-00C04FD85AB4}"), "inetcomm.dll"});
        // The MIME/MAPI converter session of the MAPI library.
        v.push_back({*quillory::ParseGuid("{4E3A7680-B77A-11D0-9DA5-00C04FD65685}"), "mapi32.dll"});
        return v;
    }();
    return classes;
}

std::string InprocKeyPath(REFCLSID clsid)
{
    return "CLSID\\" + quillory::GuidToString(clsid) + "\\InprocServer32";
}

// The registered module name, or empty.
std::string RegisteredModule(REFCLSID clsid)
{
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, InprocKeyPath(clsid).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    char buffer[1024];
    DWORD type = 0;
    DWORD size = sizeof(buffer);
    const LONG rc = RegQueryValueEx(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) return {};
    return std::string(buffer, strnlen(buffer, size));
}

void WriteRegistration(REFCLSID clsid, const std::string& module)
{
    HKEY key = nullptr;
    if (RegCreateKeyEx(HKEY_CLASSES_ROOT, InprocKeyPath(clsid).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                       KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        quillory::Trace("CoGetClassObject -- cannot register %s\n", module.c_str());
        return;
    }
    RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(module.c_str()),
                  static_cast<DWORD>(module.size() + 1));
    static const char kBoth[] = "Both";
    RegSetValueEx(key, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(kBoth), sizeof(kBoth));
    RegCloseKey(key);
}

std::string ModuleForClass(REFCLSID clsid)
{
    std::string module = RegisteredModule(clsid);
    if (!module.empty()) return module;
    std::lock_guard lock(ClassMutex());
    for (const auto& c : PlatformClasses()) {
        if (c.clsid == clsid) {
            WriteRegistration(clsid, c.module);
            return c.module;
        }
    }
    return {};
}

// Classes this library serves itself, without a module to load.
struct BuiltinClass {
    GUID clsid;
    quillory::ObjectCreator create;
};
const BuiltinClass kBuiltinClasses[] = {
    {CLSID_Registrar, quillory::CreateRegistrar},
};

thread_local int t_comInitCount = 0;

class CSimpleClassFactory final : public IClassFactory, public quillory::CRefCounted {
public:
    explicit CSimpleClassFactory(quillory::ObjectCreator create) : create_(create) {}
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return quillory::QueryInterfaceTable(riid, ppv, {{&IID_IClassFactory, this}});
    }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return create_(riid, ppv);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    quillory::ObjectCreator create_;
};

}  // namespace

HRESULT CoInitialize(void* pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(void*, DWORD) { return t_comInitCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize()
{
    if (t_comInitCount > 0) --t_comInitCount;
}

HRESULT CLSIDFromProgID(LPCSTR lpszProgID, CLSID* lpclsid)
{
    if (!lpszProgID || !lpclsid) return E_INVALIDARG;
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, (std::string(lpszProgID) + "\\CLSID").c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return CO_E_CLASSSTRING;
    char buffer[64] = {};
    DWORD type = 0;
    DWORD size = sizeof(buffer) - 1;
    const LONG rc = RegQueryValueEx(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return CO_E_CLASSSTRING;
    return CLSIDFromString(buffer, lpclsid);
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void*, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(dwClsContext & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    if (RegisteredModule(rclsid).empty()) {
        for (const auto& c : kBuiltinClasses)
            if (c.clsid == rclsid) return quillory::CreateSimpleClassFactory(c.create, riid, ppv);
    }
    const std::string module = ModuleForClass(rclsid);
    if (module.empty()) return REGDB_E_CLASSNOTREG;
    // Loaded once per CoGetClassObject and never freed: servers stay for the process.
    HMODULE handle = LoadLibrary(module.c_str());
    if (!handle) {
        quillory::Trace("CoGetClassObject -- %s: %s\n", module.c_str(), quillory::LastModuleError().c_str());
        return CO_E_DLLNOTFOUND;
    }
    auto entry = reinterpret_cast<LPFNGETCLASSOBJECT>(GetProcAddress(handle, "DllGetClassObject"));
    if (!entry) {
        FreeLibrary(handle);
        return CO_E_ERRORINDLL;
    }
    return entry(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    return hr;
}

void* CoTaskMemAlloc(std::size_t cb) { return std::malloc(cb ? cb : 1); }

void* CoTaskMemRealloc(void* pv, std::size_t cb) { return std::realloc(pv, cb ? cb : 1); }

void CoTaskMemFree(void* pv) { std::free(pv); }

namespace quillory {

void AddPlatformClass(REFCLSID clsid, const char* moduleName)
{
    std::lock_guard lock(ClassMutex());
    for (auto& c : PlatformClasses()) {
        if (c.clsid == clsid) {
            c.module = moduleName;
            return;
        }
    }
    PlatformClasses().push_back({clsid, moduleName});
}

HRESULT CreateSimpleClassFactory(ObjectCreator create, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!create) return E_INVALIDARG;
    auto* factory = NewComObject<CSimpleClassFactory>(create);
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

}  // namespace quillory
