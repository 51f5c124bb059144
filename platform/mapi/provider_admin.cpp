#include "platform/mapi/provider_admin.h"

#include "platform/base/trace.h"
#include "platform/mapi/profile_section.h"
#include "platform/mapi/profile_tables.h"
#include "platform/mapi/service_admin_core.h"

namespace quillory {

CProviderAdmin::CProviderAdmin(ProfileContext ctx, const MAPIUID& service, std::string serviceName)
    : ctx_(std::move(ctx)), service_(service), serviceName_(std::move(serviceName))
{
}

HRESULT CProviderAdmin::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv, {{&IID_IProviderAdmin, static_cast<IProviderAdmin*>(this)}});
}

HRESULT CProviderAdmin::Fail(HRESULT hr, std::string text)
{
    Trace("CProviderAdmin: %s (0x%08X)\n", text.c_str(), static_cast<unsigned>(hr));
    std::lock_guard lock(mutex_);
    lastError_ = hr;
    lastErrorText_ = std::move(text);
    return hr;
}

HRESULT CProviderAdmin::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
{
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    std::lock_guard lock(mutex_);
    const std::string text = hResult == lastError_ && !lastErrorText_.empty() ? lastErrorText_ : "No further information";
    return MakeMapiError(text, "Quillory profiles", lppMAPIError);
}

HRESULT CProviderAdmin::GetProviderTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    if (ulFlags & MAPI_UNICODE) return Fail(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
    std::string error;
    const HRESULT hr = BuildProviderTable(ctx_, &service_, lppTable, &error);
    return FAILED(hr) ? Fail(hr, error) : hr;
}

HRESULT CProviderAdmin::CreateProvider(LPSTR lpszProvider, ULONG cValues, LPSPropValue lpProps, ULONG_PTR ulUIParam,
                                       ULONG ulFlags, MAPIUID* lpUID)
{
    if (!lpszProvider || !lpUID || (cValues && !lpProps)) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & MAPI_UNICODE) return Fail(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
    InfProvider provider;
    std::string error;
    HRESULT hr = S_OK;
    const InfService& store = BuiltInStoreService();
    if (serviceName_ == store.name) {
        if (std::string_view(lpszProvider) != store.providers.front().section)
            return Fail(MAPI_E_NOT_FOUND, std::string("The service has no provider '") + lpszProvider + "'");
        provider = store.providers.front();
    } else {
        ServiceList list;
        hr = ServiceList::Load(list, &error);
        if (SUCCEEDED(hr)) hr = list.FindProvider(lpszProvider, provider, &error);
        if (hr == MAPI_E_CORRUPT_DATA && error.find("is missing") != std::string::npos) hr = MAPI_E_NOT_FOUND;
        if (FAILED(hr)) return Fail(hr, error);
    }
    hr = ctx_.db->Write([&] {
        if (!ctx_.db->FindService(ctx_.profile, service_)) return MAPI_E_NOT_FOUND;
        return AddProviderRecords(ctx_, service_, serviceName_, provider, cValues, lpProps, lpUID);
    }, &error);
    if (hr == MAPI_E_NOT_FOUND && error.empty()) error = "The message service no longer exists";
    return FAILED(hr) ? Fail(hr, error.empty() ? "The provider could not be added" : error) : S_OK;
}

HRESULT CProviderAdmin::DeleteProvider(LPMAPIUID lpUID)
{
    if (!lpUID) return MAPI_E_INVALID_PARAMETER;
    std::string error;
    const HRESULT hr = ctx_.db->Write([&] {
        auto p = ctx_.db->FindProvider(ctx_.profile, *lpUID);
        if (!p || !ProfileUidEqual(p->service, service_)) return MAPI_E_NOT_FOUND;
        ctx_.db->RemoveProvider(ctx_.profile, *lpUID);
        return S_OK;
    }, &error);
    if (hr == MAPI_E_NOT_FOUND) return Fail(hr, "The service has no such provider");
    return FAILED(hr) ? Fail(hr, error) : S_OK;
}

HRESULT CProviderAdmin::OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags,
                                           LPPROFSECT* lppProfSect)
{
    if (!lppProfSect) return MAPI_E_INVALID_PARAMETER;
    *lppProfSect = nullptr;
    if (lpInterface && !IsEqualIID(*lpInterface, IID_IProfSect) && !IsEqualIID(*lpInterface, IID_IMAPIProp) &&
        !IsEqualIID(*lpInterface, IID_IUnknown))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    std::string error;
    const HRESULT hr = CProfSect::Open(ctx_.db, ctx_.profile, lpUID ? *lpUID : service_, ulFlags, lppProfSect, &error);
    return FAILED(hr) ? Fail(hr, error.empty() ? "The profile section could not be opened" : error) : S_OK;
}

}  // namespace quillory
