#include "provider/entry/xp_provider.h"

#include <new>

#include "platform/base/trace.h"
#include "provider/logon/xp_logon.h"

namespace quillory {

HRESULT CXPProvider::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv, {{&IID_IXPProvider, static_cast<IXPProvider*>(this)}});
}

HRESULT CXPProvider::TransportLogon(LPMAPISUP lpMAPISup, ULONG_PTR ulUIParam, LPSTR lpszProfileName,
                                    ULONG* lpulFlags, LPMAPIERROR* lppMAPIError, LPXPLOGON* lppXPLogon)
{
    if (lppMAPIError) *lppMAPIError = nullptr;
    if (!lppXPLogon || !lpulFlags) return E_INVALIDARG;
    *lppXPLogon = nullptr;
    quarnex::SetLogonCharWidth(*lpulFlags);
    if (*lpulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    if (!lpMAPISup) return E_INVALIDARG;

    ComPtr<CXPLogon> logon;
    try {
        logon = ComPtr<CXPLogon>::Attach(NewComObject<CXPLogon>(lpMAPISup));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (const HRESULT hr = logon->Initialise(*lpulFlags); FAILED(hr)) return hr;
    *lpulFlags = 0;  // no idle or poll calls wanted
    *lppXPLogon = logon.Detach();
    return S_OK;
}

HRESULT ProviderInit(HINSTANCE hInstance, LPMALLOC lpMalloc, LPALLOCATEBUFFER lpAllocateBuffer,
                     LPALLOCATEMORE lpAllocateMore, LPFREEBUFFER lpFreeBuffer, ULONG ulFlags, ULONG ulMAPIVer,
                     ULONG* lpulProviderVer, LPXPPROVIDER* lppXPProvider)
{
    quarnex::RememberModuleInstance(hInstance);
    if (lppXPProvider) *lppXPProvider = nullptr;
    if (ulMAPIVer < CURRENT_SPI_VERSION) return MAPI_E_VERSION;
    // The spooler cannot start the transport right after the settings dialog closed.
    if (quarnex::WithinSettingsGrace()) {
        Trace("XPProviderInit -- refused within 20 seconds of the settings dialog\n");
        return E_FAIL;
    }
    if (lpulProviderVer) *lpulProviderVer = CURRENT_SPI_VERSION;
    quarnex::TakeAllocatorsIfMissing({lpAllocateBuffer, lpAllocateMore, lpFreeBuffer});
    if (!lppXPProvider) return E_INVALIDARG;
    try {
        *lppXPProvider = NewComObject<CXPProvider>();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}  // namespace quillory
