// Class factories and CoCreateInstance.
//
// CoCreateInstance finds a class the way the home platform does: the default
// value of HKEY_CLASSES_ROOT "CLSID\{clsid}\InprocServer32" names the module,
// which is loaded with the platform's module loader (LoadLibrary rules: a
// bare "inetcomm.dll" is searched beside this library, then QUILLORY_LIBPATH,
// then the install directory); its export "DllGetClassObject" hands out the
// class factory. Modules stay loaded for the life of the process, as they do
// at home until CoFreeUnusedLibraries, which nobody here calls.
//
// The registrar (registrar.h) is served by this library itself when no key
// names another module for it.
//
// The platform's own classes (the MIME message object of "inetcomm.dll" and
// the converter session of "mapi32.dll") need no installer: when their
// InprocServer32 key is missing, the first CoCreateInstance of one of them
// writes it (module name and ThreadingModel "Both") under HKEY_CLASSES_ROOT
// of the current environment root and goes on. A key that is present is
// always honoured, so a test or an administrator can point a class elsewhere.
#pragma once

#include "platform/com/unknwn.h"

constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IClassFactory : public IUnknown {
public:
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;
};
using LPCLASSFACTORY = IClassFactory*;

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER;

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0);
constexpr HRESULT CO_E_DLLNOTFOUND = static_cast<HRESULT>(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = static_cast<HRESULT>(0x800401F9);

// The export every in-process server carries, and its companion.
using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID rclsid, REFIID riid, void** ppv);
using LPFNCANUNLOADNOW = HRESULT (*)();

// Apartments do not exist here: any thread may call any object, so these only
// count. CoInitialize answers S_OK the first time on a thread and S_FALSE after.
HRESULT CoInitialize(void* pvReserved);
HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit);
void CoUninitialize();

// The CLSID of a ProgID: the default value of HKEY_CLASSES_ROOT "<ProgID>\CLSID".
// CO_E_CLASSSTRING when the ProgID is not registered or names no CLSID.
HRESULT CLSIDFromProgID(LPCSTR lpszProgID, CLSID* lpclsid);

// The class factory of rclsid (riid is usually IID_IClassFactory).
// REGDB_E_CLASSNOTREG without a registration, CO_E_DLLNOTFOUND when the module
// does not load, CO_E_ERRORINDLL when it has no DllGetClassObject.
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved, REFIID riid, void** ppv);
// An instance of rclsid through its class factory; only in-process servers exist.
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, void** ppv);

// Task memory: what one module allocates and another frees (decoded texts,
// converted buffers). Null on exhaustion; freeing null does nothing.
void* CoTaskMemAlloc(std::size_t cb);
void* CoTaskMemRealloc(void* pv, std::size_t cb);
void CoTaskMemFree(void* pv);

namespace quillory {

// Registers a platform class whose InprocServer32 key is written on first use
// when missing (see above). The platform's own classes are listed already.
void AddPlatformClass(REFCLSID clsid, const char* moduleName);

// A class factory for objects made by a plain function; servers use it in
// their DllGetClassObject. The factory holds no module lock of its own.
using ObjectCreator = HRESULT (*)(REFIID riid, void** ppv);
HRESULT CreateSimpleClassFactory(ObjectCreator create, REFIID riid, void** ppv);

}  // namespace quillory
