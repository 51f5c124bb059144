// "XPProviderInit": the spooler's entry into the transport.
#include "provider/delivery/logon_delivery.h"
#include "provider/entry/xp_provider.h"

extern "C" __attribute__((visibility("default"))) HRESULT XPProviderInit(
    HINSTANCE hInstance, LPMALLOC lpMalloc, LPALLOCATEBUFFER lpAllocateBuffer, LPALLOCATEMORE lpAllocateMore,
    LPFREEBUFFER lpFreeBuffer, ULONG ulFlags, ULONG ulMAPIVer, ULONG* lpulProviderVer, LPXPPROVIDER* lppXPProvider)
{
    quillory::quarnex::InstallArticleDelivery();
    return quillory::ProviderInit(hInstance, lpMalloc, lpAllocateBuffer, lpAllocateMore, lpFreeBuffer, ulFlags,
                                  ulMAPIVer, lpulProviderVer, lppXPProvider);
}
