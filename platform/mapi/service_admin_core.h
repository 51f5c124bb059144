// What message-service administration does to a profile: adding a service
// from the service list with its providers and profile sections, calling
// the service's entry function, configuring and deleting services. The
// administration objects (service_admin.h, provider_admin.h) and profile
// creation build on it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/mapi/mapisvc_inf.h"
#include "platform/mapi/profile_db.h"

class IMalloc;
using LPMALLOC = IMalloc*;
// Service entries called by profile administration receive a configuration
// support object (platform/mapi/spooler/support.h).
class IMAPISupport;
using LPMAPISUP = IMAPISupport*;

// The entry function a message service's library exports under the name
// PR_SERVICE_ENTRY_NAME gives.
using MSGSERVICEENTRY = HRESULT(HINSTANCE hInstance, LPMALLOC lpMalloc, LPMAPISUP lpMAPISup, ULONG ulUIParam,
                                ULONG ulFlags, ULONG ulContext, ULONG cValues, LPSPropValue lpProps,
                                LPPROVIDERADMIN lpProviderAdmin, LPMAPIERROR* lppMapiError);
using LPMSGSERVICEENTRY = MSGSERVICEENTRY*;

namespace quillory {

struct ProfileContext {
    std::shared_ptr<ProfileDb> db;
    ProfileId profile = 0;
    std::string profileName;
};

// The store file of the embedded store provider whose section holds the
// given PR_RESOURCE_PATH (a name under <root>/stores, or an absolute path).
std::filesystem::path StoreFilePath(const ProfileDb& db, std::string_view resourcePath);

// Adds the records and sections of a service (inside a write transaction).
HRESULT AddServiceRecords(const ProfileContext& ctx, const InfService& service, std::string_view display,
                          MAPIUID* lpUID);
// Adds one provider of a service (inside a write transaction); its section
// gets the service list's values, then the given ones.
HRESULT AddProviderRecords(const ProfileContext& ctx, const MAPIUID& service, std::string_view serviceName,
                           const InfProvider& provider, ULONG cValues, const SPropValue* lpProps, MAPIUID* lpUID);

// CreateMsgService: the service named in the service list, then its entry
// with MSG_SERVICE_CREATE; when the entry fails the service goes again.
HRESULT CreateService(const ProfileContext& ctx, std::string_view name, const char* display, ULONG_PTR ulUIParam,
                      ULONG ulFlags, MAPIUID* lpUID, std::string* error);
// A service set up by a program rather than a person: the service named in
// the service list, configured through its entry with the values and
// without UI (MSG_SERVICE_CONFIGURE) instead of the entry's own creation
// dialogs; when the entry refuses the values the service goes again.
HRESULT CreateConfiguredService(const ProfileContext& ctx, std::string_view name, ULONG cValues, LPSPropValue lpProps,
                                MAPIUID* lpUID, std::string* error);
// DeleteMsgService: the entry with MSG_SERVICE_DELETE, then the records.
HRESULT DeleteService(const ProfileContext& ctx, const MAPIUID& uid, std::string* error);
// ConfigureMsgService: the entry with MSG_SERVICE_CONFIGURE; a service
// without an entry takes the values into its section.
HRESULT ConfigureService(const ProfileContext& ctx, const MAPIUID& uid, ULONG_PTR ulUIParam, ULONG ulFlags,
                         ULONG cValues, LPSPropValue lpProps, std::string* error);

enum class EntryOutcome {
    NoEntry,         // the service names no library: nothing was called, S_OK
    LibraryMissing,  // its library or entry could not be loaded: MAPI_E_NOT_FOUND
    Called,          // the entry ran and its result is returned
};
// Calls the service's entry function with the context.
HRESULT CallServiceEntry(const ProfileContext& ctx, const MAPIUID& uid, ULONG_PTR ulUIParam, ULONG ulFlags,
                         ULONG ulContext, ULONG cValues, LPSPropValue lpProps, EntryOutcome* outcome,
                         std::string* error);

// The message-service table of the profile, and the provider table of one
// service (or of all when service is null).
HRESULT BuildServiceTable(const ProfileContext& ctx, LPMAPITABLE* lppTable, std::string* error);
HRESULT BuildProviderTable(const ProfileContext& ctx, const MAPIUID* service, LPMAPITABLE* lppTable,
                           std::string* error);

// Libraries of services stay loaded once used (their modules keep state
// between calls); the last MAPIUninitialize lets them go.
void UnloadServiceLibraries();

}  // namespace quillory
