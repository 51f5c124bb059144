// IProviderAdmin: the providers of one message service, as its entry
// function and the service administration see them.
#pragma once

#include <mutex>
#include <string>

#include "platform/com/refcounted.h"
#include "platform/mapi/service_admin_core.h"

namespace quillory {

class CProviderAdmin final : public IProviderAdmin, public CRefCounted {
public:
    CProviderAdmin(ProfileContext ctx, const MAPIUID& service, std::string serviceName);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    QUILLORY_IUNKNOWN_REFCOUNT

    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override;
    HRESULT GetProviderTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    // lpszProvider names a provider section of the service list.
    HRESULT CreateProvider(LPSTR lpszProvider, ULONG cValues, LPSPropValue lpProps, ULONG_PTR ulUIParam,
                           ULONG ulFlags, MAPIUID* lpUID) override;
    HRESULT DeleteProvider(LPMAPIUID lpUID) override;
    // No UID: the service's own section.
    HRESULT OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags,
                               LPPROFSECT* lppProfSect) override;

private:
    HRESULT Fail(HRESULT hr, std::string text);

    const ProfileContext ctx_;
    const MAPIUID service_;
    const std::string serviceName_;
    std::mutex mutex_;
    HRESULT lastError_ = S_OK;
    std::string lastErrorText_;
};

}  // namespace quillory
