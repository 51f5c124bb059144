// "ServiceEntry": profile administration's entry into the service.
#include "provider/entry/service_entry.h"

extern "C" __attribute__((visibility("default"))) HRESULT ServiceEntry(
    HINSTANCE hInstance, LPMALLOC lpMalloc, LPMAPISUP lpMAPISup, ULONG ulUIParam, ULONG ulFlags, ULONG ulContext,
    ULONG cValues, LPSPropValue lpProps, LPPROVIDERADMIN lpProviderAdmin, LPMAPIERROR* lppMapiError)
{
    return quillory::ServiceEntryImpl(hInstance, lpMalloc, lpMAPISup, ulUIParam, ulFlags, ulContext, cValues,
                                      lpProps, lpProviderAdmin, lppMapiError);
}
