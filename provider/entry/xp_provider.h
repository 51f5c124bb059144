// The transport's entry: XPProviderInit and the provider object it returns,
// whose TransportLogon makes one CXPLogon per account.
#pragma once

#include "platform/com/refcounted.h"
#include "platform/mapi/mapispi.h"
#include "provider/entry/module_state.h"

namespace quillory {

class CXPProvider final : public IXPProvider, public CRefCounted {
public:
    CXPProvider() = default;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    QUILLORY_IUNKNOWN_REFCOUNT

    HRESULT Shutdown(ULONG* lpulFlags) override { return S_OK; }
    HRESULT TransportLogon(LPMAPISUP lpMAPISup, ULONG_PTR ulUIParam, LPSTR lpszProfileName, ULONG* lpulFlags,
                           LPMAPIERROR* lppMAPIError, LPXPLOGON* lppXPLogon) override;

private:
    quarnex::CModuleLock moduleLock_;
};

// XPProviderInit's work (the export forwards here).
HRESULT ProviderInit(HINSTANCE hInstance, LPMALLOC lpMalloc, LPALLOCATEBUFFER lpAllocateBuffer,
                     LPALLOCATEMORE lpAllocateMore, LPFREEBUFFER lpFreeBuffer, ULONG ulFlags, ULONG ulMAPIVer,
                     ULONG* lpulProviderVer, LPXPPROVIDER* lppXPProvider);

}  // namespace quillory
