// Profile administration: MAPIAdminProfiles and IProfAdmin. Profiles live in
// the profile database under the environment root; every new profile starts
// with the embedded message store service as its default store.
#pragma once

#include <filesystem>

#include <memory>
#include <mutex>
#include <string>

#include "platform/com/refcounted.h"
#include "platform/mapi/profile_db.h"

// CreateProfile: also add the services under [Default Services] of the service list.
constexpr ULONG MAPI_DEFAULT_SERVICES = 0x00000001;
// Longest profile name, without its terminating NUL.
constexpr ULONG cchProfileNameMax = 64;

// Needs MAPIInitialize (MAPI_E_NOT_INITIALIZED otherwise). MAPI_E_CORRUPT_STORE
// (here and from MAPILogonEx) when the profile database is damaged.
HRESULT MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin);

namespace quillory {

// The profile database of the current environment root, for messages that
// name it (these calls have no object to explain a failure).
std::filesystem::path ProfileDatabaseFile();

class CProfAdmin final : public IProfAdmin, public CRefCounted {
public:
    explicit CProfAdmin(std::shared_ptr<ProfileDb> db);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    QUILLORY_IUNKNOWN_REFCOUNT

    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override;
    // PR_DISPLAY_NAME, PR_DEFAULT_PROFILE, PR_INSTANCE_KEY, by name.
    HRESULT GetProfileTable(ULONG ulFlags, LPMAPITABLE* lppTable) override;
    // A name in use (compared without case) gives MAPI_E_NO_ACCESS, as at home.
    // The first profile becomes the default one.
    HRESULT CreateProfile(LPSTR lpszProfileName, LPSTR lpszPassword, ULONG_PTR ulUIParam, ULONG ulFlags) override;
    // Each service's entry hears MSG_SERVICE_DELETE; the profile's store
    // files stay on disk (a profile is configuration, the mail is not).
    HRESULT DeleteProfile(LPSTR lpszProfileName, ULONG ulFlags) override;
    // A null name leaves no default profile.
    HRESULT SetDefaultProfile(LPSTR lpszProfileName, ULONG ulFlags) override;
    HRESULT AdminServices(LPSTR lpszProfileName, LPSTR lpszPassword, ULONG_PTR ulUIParam, ULONG ulFlags,
                          LPSERVICEADMIN* lppServiceAdmin) override;

private:
    HRESULT Fail(HRESULT hr, std::string text);

    const std::shared_ptr<ProfileDb> db_;
    std::mutex mutex_;
    HRESULT lastError_ = S_OK;
    std::string lastErrorText_;
};

}  // namespace quillory
