// A message service for the brackle tests ("bracklesvc.dll" in their service
// list): its entry accepts everything except deleting an account whose
// display name begins with "refuse", which it answers MAPI_E_NO_ACCESS.
#include <string_view>
#include <type_traits>

#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapicode.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/service_admin_core.h"

namespace {

constexpr std::string_view kRefusedPrefix = "refuse";

bool Refused(LPPROVIDERADMIN admin)
{
    LPPROFSECT section = nullptr;
    if (FAILED(admin->OpenProfileSection(nullptr, nullptr, 0, &section))) return false;
    SizedSPropTagArray<1> tags = {1, {PR_DISPLAY_NAME}};
    ULONG count = 0;
    LPSPropValue values = nullptr;
    const HRESULT hr = section->GetProps(tags.AsTagArray(), 0, &count, &values);
    section->Release();
    const bool refused = SUCCEEDED(hr) && count == 1 && values[0].ulPropTag == PR_DISPLAY_NAME &&
                         std::string_view(values[0].Value.lpszA).starts_with(kRefusedPrefix);
    MAPIFreeBuffer(values);
    return refused;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT ServiceEntry(
    HINSTANCE hInstance, LPMALLOC lpMalloc, LPMAPISUP lpMAPISup, ULONG ulUIParam, ULONG ulFlags, ULONG ulContext,
    ULONG cValues, LPSPropValue lpProps, LPPROVIDERADMIN lpProviderAdmin, LPMAPIERROR* lppMapiError)
{
    static_assert(std::is_same_v<decltype(ServiceEntry), MSGSERVICEENTRY>);
    if (!lpProviderAdmin) return E_FAIL;
    if (ulContext == MSG_SERVICE_DELETE && Refused(lpProviderAdmin)) return MAPI_E_NO_ACCESS;
    return S_OK;
}
