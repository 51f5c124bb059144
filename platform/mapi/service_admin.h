// IMsgServiceAdmin: the message services of one profile.
#pragma once

#include <mutex>
#include <string>

#include "platform/com/refcounted.h"
#include "platform/mapi/service_admin_core.h"

namespace quillory {

class CMsgServiceAdmin final : public IMsgServiceAdmin, public CRefCounted {
public:
    explicit CMsgServiceAdmin(ProfileContext ctx);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    QUILLORY_IUNKNOWN_REFCOUNT

    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override;
    HRESULT GetMsgServiceTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    // By the service's name in the service list; MAPI_E_NOT_FOUND when it has none.
    HRESULT CreateMsgService(LPSTR lpszService, LPSTR lpszDisplayName, ULONG_PTR ulUIParam, ULONG ulFlags) override;
    HRESULT DeleteMsgService(LPMAPIUID lpUID) override;
    HRESULT ConfigureMsgService(LPMAPIUID lpUID, ULONG_PTR ulUIParam, ULONG ulFlags, ULONG cValues,
                                LPSPropValue lpProps) override;
    // Any section of the profile by its UID.
    HRESULT OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags,
                               LPPROFSECT* lppProfSect) override;
    HRESULT AdminProviders(LPMAPIUID lpUID, ULONG ulFlags, LPPROVIDERADMIN* lppProviderAdmin) override;
    HRESULT GetProviderTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;

    const ProfileContext& Context() const { return ctx_; }

private:
    HRESULT Fail(HRESULT hr, std::string text);

    const ProfileContext ctx_;
    std::mutex mutex_;
    HRESULT lastError_ = S_OK;
    std::string lastErrorText_;
};

}  // namespace quillory
