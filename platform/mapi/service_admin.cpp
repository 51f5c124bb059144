#include "platform/mapi/service_admin.h"

#include "platform/base/trace.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/profile_section.h"
#include "platform/mapi/profile_tables.h"
#include "platform/mapi/provider_admin.h"

namespace quillory {

namespace {
constexpr ULONG kServiceFlags = SERVICE_UI_ALWAYS | SERVICE_UI_ALLOWED;
}

CMsgServiceAdmin::CMsgServiceAdmin(ProfileContext ctx) : ctx_(std::move(ctx)) {}

HRESULT CMsgServiceAdmin::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv, {{&IID_IMsgServiceAdmin, static_cast<IMsgServiceAdmin*>(this)}});
}

HRESULT CMsgServiceAdmin::Fail(HRESULT hr, std::string text)
{
    Trace("CMsgServiceAdmin: %s (0x%08X)\n", text.c_str(), static_cast<unsigned>(hr));
    std::lock_guard lock(mutex_);
    lastError_ = hr;
    lastErrorText_ = std::move(text);
    return hr;
}

HRESULT CMsgServiceAdmin::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
{
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    std::lock_guard lock(mutex_);
    const std::string text = hResult == lastError_ && !lastErrorText_.empty() ? lastErrorText_ : "No further information";
    return MakeMapiError(text, "Quillory profiles", lppMAPIError);
}

HRESULT CMsgServiceAdmin::GetMsgServiceTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    if (ulFlags & MAPI_UNICODE) return Fail(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
    std::string error;
    const HRESULT hr = BuildServiceTable(ctx_, lppTable, &error);
    return FAILED(hr) ? Fail(hr, error.empty() ? "The profile no longer exists" : error) : hr;
}

HRESULT CMsgServiceAdmin::CreateMsgService(LPSTR lpszService, LPSTR lpszDisplayName, ULONG_PTR ulUIParam,
                                           ULONG ulFlags)
{
    if (!lpszService || !*lpszService) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & MAPI_UNICODE) return Fail(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
    if (ulFlags & ~kServiceFlags) return MAPI_E_UNKNOWN_FLAGS;
    std::string error;
    const HRESULT hr = CreateService(ctx_, lpszService, lpszDisplayName, ulUIParam, ulFlags, nullptr, &error);
    return FAILED(hr) ? Fail(hr, error) : S_OK;
}

HRESULT CMsgServiceAdmin::DeleteMsgService(LPMAPIUID lpUID)
{
    if (!lpUID) return MAPI_E_INVALID_PARAMETER;
    std::string error;
    const HRESULT hr = DeleteService(ctx_, *lpUID, &error);
    return FAILED(hr) ? Fail(hr, error) : S_OK;
}

HRESULT CMsgServiceAdmin::ConfigureMsgService(LPMAPIUID lpUID, ULONG_PTR ulUIParam, ULONG ulFlags, ULONG cValues,
                                              LPSPropValue lpProps)
{
    if (!lpUID || (cValues && !lpProps)) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & MAPI_UNICODE) return Fail(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
    std::string error;
    const HRESULT hr = ConfigureService(ctx_, *lpUID, ulUIParam, ulFlags, cValues, lpProps, &error);
    return FAILED(hr) ? Fail(hr, error) : hr;
}

HRESULT CMsgServiceAdmin::OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags,
                                             LPPROFSECT* lppProfSect)
{
    if (!lppProfSect) return MAPI_E_INVALID_PARAMETER;
    *lppProfSect = nullptr;
    if (!lpUID) return MAPI_E_INVALID_PARAMETER;
    if (lpInterface && !IsEqualIID(*lpInterface, IID_IProfSect) && !IsEqualIID(*lpInterface, IID_IMAPIProp) &&
        !IsEqualIID(*lpInterface, IID_IUnknown))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    std::string error;
    const HRESULT hr = CProfSect::Open(ctx_.db, ctx_.profile, *lpUID, ulFlags, lppProfSect, &error);
    return FAILED(hr) ? Fail(hr, error.empty() ? "The profile section could not be opened" : error) : S_OK;
}

HRESULT CMsgServiceAdmin::AdminProviders(LPMAPIUID lpUID, ULONG ulFlags, LPPROVIDERADMIN* lppProviderAdmin)
{
    if (!lpUID || !lppProviderAdmin) return MAPI_E_INVALID_PARAMETER;
    *lppProviderAdmin = nullptr;
    if (ulFlags & MAPI_UNICODE) return Fail(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
    std::string name, error;
    const HRESULT hr = ctx_.db->Read([&] {
        auto record = ctx_.db->FindService(ctx_.profile, *lpUID);
        if (!record) return MAPI_E_NOT_FOUND;
        name = record->name;
        return S_OK;
    }, &error);
    if (hr == MAPI_E_NOT_FOUND) return Fail(hr, "The profile has no such message service");
    if (FAILED(hr)) return Fail(hr, error);
    *lppProviderAdmin = NewComObject<CProviderAdmin>(ctx_, *lpUID, std::move(name));
    return S_OK;
}

HRESULT CMsgServiceAdmin::GetProviderTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    if (ulFlags & MAPI_UNICODE) return Fail(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
    std::string error;
    const HRESULT hr = BuildProviderTable(ctx_, nullptr, lppTable, &error);
    return FAILED(hr) ? Fail(hr, error.empty() ? "The profile no longer exists" : error) : hr;
}

}  // namespace quillory
