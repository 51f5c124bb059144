#include "platform/mapi/service_admin_core.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

#include "platform/base/module.h"
#include "platform/base/trace.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/profile_tables.h"
#include "platform/mapi/provider_admin.h"
#include "platform/mapi/spooler/support.h"

namespace quillory {

namespace {

constexpr std::string_view kStoreFileExtension = ".qst";

struct LoadedLibraries {
    std::mutex mutex;
    std::map<std::string, HMODULE> modules;  // by lower-case file name
};

LoadedLibraries& Libraries()
{
    static LoadedLibraries libraries;
    return libraries;
}

std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

HRESULT LoadServiceEntry(std::string_view dllName, const std::string& entryName, HMODULE* module,
                         LPMSGSERVICEENTRY* entry, std::string* error)
{
    const std::string file = ProviderLibraryName(dllName);
    auto& libs = Libraries();
    std::lock_guard lock(libs.mutex);
    HMODULE& slot = libs.modules[Lower(file)];
    if (!slot) {
        slot = LoadLibraryFor(file.c_str(), reinterpret_cast<const void*>(&UnloadServiceLibraries));
        if (!slot) {
            libs.modules.erase(Lower(file));
            if (error) *error = "The service library " + file + " could not be loaded: " + LastModuleError();
            return MAPI_E_NOT_FOUND;
        }
    }
    FARPROC proc = GetProcAddress(slot, entryName.c_str());
    if (!proc) {
        if (error) *error = "The service library " + file + " has no entry '" + entryName + "'";
        return MAPI_E_NOT_FOUND;
    }
    *module = slot;
    *entry = reinterpret_cast<LPMSGSERVICEENTRY>(proc);
    return S_OK;
}

// Whether a store provider other than the given one is the profile's default store.
bool HasDefaultStore(const ProfileContext& ctx, const MAPIUID& except)
{
    for (const auto& p : ctx.db->Providers(ctx.profile)) {
        if (p.resourceType != MAPI_STORE_PROVIDER || ProfileUidEqual(p.uid, except)) continue;
        SectionValues section;
        section.Read(*ctx.db, ctx.profile, p.uid);
        if (section.Long(PR_RESOURCE_FLAGS) & STATUS_DEFAULT_STORE) return true;
    }
    return false;
}

}  // namespace

void UnloadServiceLibraries()
{
    auto& libs = Libraries();
    std::lock_guard lock(libs.mutex);
    for (auto& [name, module] : libs.modules)
        if (!FreeLibrary(module)) Trace("profiles: unloading %s failed\n", name.c_str());
    libs.modules.clear();
}

std::filesystem::path StoreFilePath(const ProfileDb& db, std::string_view resourcePath)
{
    std::filesystem::path p(resourcePath);
    return p.is_absolute() ? p : db.Root() / "stores" / p;
}

HRESULT AddProviderRecords(const ProfileContext& ctx, const MAPIUID& service, std::string_view serviceName,
                           const InfProvider& provider, ULONG cValues, const SPropValue* lpProps, MAPIUID* lpUID)
{
    const MAPIUID uid = NewProfileUid();
    ctx.db->AddProvider(ctx.profile, ProviderRecord{uid, service, provider.section, provider.resourceType});
    std::vector<SPropValue> values;
    for (const auto& p : provider.props) values.push_back(p.View());
    const std::string name(serviceName);
    values.push_back(UidValue(PR_PROVIDER_UID, uid));
    values.push_back(UidValue(PR_SERVICE_UID, service));
    values.push_back(StringValue(PR_SERVICE_NAME, name));
    values.push_back(LongValue(PR_RESOURCE_TYPE, provider.resourceType));
    // The embedded store keeps its file under the root, named after the provider.
    const std::string storeFile = ProfileUidHex(uid) + std::string(kStoreFileExtension);
    if (serviceName == kStoreServiceName && provider.resourceType == MAPI_STORE_PROVIDER)
        values.push_back(StringValue(PR_RESOURCE_PATH, storeFile));
    for (ULONG i = 0; i < cValues; ++i) values.push_back(lpProps[i]);
    // A profile has one default store: a store added beside it is not the default.
    for (auto& v : values) {
        if (v.ulPropTag != PR_RESOURCE_FLAGS || provider.resourceType != MAPI_STORE_PROVIDER) continue;
        if ((v.Value.ul & STATUS_DEFAULT_STORE) && HasDefaultStore(ctx, uid)) v.Value.ul &= ~STATUS_DEFAULT_STORE;
    }
    if (const HRESULT hr = ctx.db->PutProps(ctx.profile, uid, values); FAILED(hr)) return hr;
    if (lpUID) *lpUID = uid;
    return S_OK;
}

HRESULT AddServiceRecords(const ProfileContext& ctx, const InfService& service, std::string_view display,
                          MAPIUID* lpUID)
{
    const MAPIUID uid = NewProfileUid();
    ctx.db->AddService(ctx.profile, ServiceRecord{uid, service.name});
    std::vector<SPropValue> values;
    bool listHasDisplay = false;
    for (const auto& p : service.props) {
        values.push_back(p.View());
        listHasDisplay = listHasDisplay || p.tag == PR_DISPLAY_NAME;
    }
    // A display name the service list gives wins over the caller's.
    const std::string shown = listHasDisplay || display.empty() ? service.display : std::string(display);
    values.push_back(UidValue(PR_SERVICE_UID, uid));
    values.push_back(StringValue(PR_SERVICE_NAME, service.name));
    values.push_back(StringValue(PR_DISPLAY_NAME, shown));
    values.push_back(LongValue(PR_RESOURCE_FLAGS, service.resourceFlags));
    if (const HRESULT hr = ctx.db->PutProps(ctx.profile, uid, values); FAILED(hr)) return hr;
    for (const auto& provider : service.providers)
        if (const HRESULT hr = AddProviderRecords(ctx, uid, service.name, provider, 0, nullptr, nullptr); FAILED(hr))
            return hr;
    if (lpUID) *lpUID = uid;
    return S_OK;
}

HRESULT CallServiceEntry(const ProfileContext& ctx, const MAPIUID& uid, ULONG_PTR ulUIParam, ULONG ulFlags,
                         ULONG ulContext, ULONG cValues, LPSPropValue lpProps, EntryOutcome* outcome,
                         std::string* error)
{
    if (outcome) *outcome = EntryOutcome::NoEntry;
    std::string serviceName, dllName, entryName;
    HRESULT hr = ctx.db->Read([&] {
        auto record = ctx.db->FindService(ctx.profile, uid);
        if (!record) return MAPI_E_NOT_FOUND;
        serviceName = record->name;
        SectionValues section;
        section.Read(*ctx.db, ctx.profile, uid);
        dllName = section.String(PR_SERVICE_DLL_NAME);
        entryName = section.String(PR_SERVICE_ENTRY_NAME);
        return S_OK;
    }, error);
    if (hr == MAPI_E_NOT_FOUND && error) *error = "The profile has no such message service";
    if (FAILED(hr) || dllName.empty()) return hr;

    HMODULE module = nullptr;
    LPMSGSERVICEENTRY entry = nullptr;
    if (outcome) *outcome = EntryOutcome::LibraryMissing;
    if (hr = LoadServiceEntry(dllName, entryName, &module, &entry, error); FAILED(hr)) return hr;

    if (outcome) *outcome = EntryOutcome::Called;
    auto admin = ComPtr<CProviderAdmin>::Attach(NewComObject<CProviderAdmin>(ctx, uid, serviceName));
    const ComPtr<CMAPISupport> support = CMAPISupport::ForConfiguration(ctx, uid);
    LPMAPIERROR details = nullptr;
    hr = entry(module, nullptr, support.Get(), static_cast<ULONG>(ulUIParam), ulFlags, ulContext, cValues, lpProps,
               admin.Get(), &details);
    if (FAILED(hr) && error) {
        *error = "The message service '" + serviceName + "' refused the request";
        if (details && details->lpszError) *error += std::string(": ") + details->lpszError;
    }
    MAPIFreeBuffer(details);
    return hr;
}

HRESULT CreateService(const ProfileContext& ctx, std::string_view name, const char* display, ULONG_PTR ulUIParam,
                      ULONG ulFlags, MAPIUID* lpUID, std::string* error)
{
    InfService service;
    if (const HRESULT hr = LookupService(name, service, error); FAILED(hr)) return hr;
    MAPIUID uid{};
    HRESULT hr = ctx.db->Write([&] {
        if (!ctx.db->FindProfile(ctx.profile)) return MAPI_E_NOT_FOUND;
        return AddServiceRecords(ctx, service, display ? display : "", &uid);
    }, error);
    if (FAILED(hr)) return hr;
    hr = CallServiceEntry(ctx, uid, ulUIParam, ulFlags, MSG_SERVICE_CREATE, 0, nullptr, nullptr, error);
    if (FAILED(hr)) {
        // A service its entry refused (or whose library is missing) is not kept.
        const HRESULT undo = ctx.db->Write([&] {
            ctx.db->RemoveService(ctx.profile, uid);
            return S_OK;
        });
        if (FAILED(undo)) Trace("profiles: a refused service could not be removed: 0x%08X\n", undo);
        return hr;
    }
    if (lpUID) *lpUID = uid;
    return S_OK;
}

HRESULT CreateConfiguredService(const ProfileContext& ctx, std::string_view name, ULONG cValues, LPSPropValue lpProps,
                                MAPIUID* lpUID, std::string* error)
{
    InfService service;
    if (const HRESULT hr = LookupService(name, service, error); FAILED(hr)) return hr;
    MAPIUID uid{};
    HRESULT hr = ctx.db->Write([&] {
        if (!ctx.db->FindProfile(ctx.profile)) return MAPI_E_NOT_FOUND;
        return AddServiceRecords(ctx, service, "", &uid);
    }, error);
    if (FAILED(hr)) return hr;
    hr = ConfigureService(ctx, uid, 0, 0, cValues, lpProps, error);
    if (FAILED(hr)) {
        const HRESULT undo = ctx.db->Write([&] {
            ctx.db->RemoveService(ctx.profile, uid);
            return S_OK;
        });
        if (FAILED(undo)) Trace("profiles: a refused service could not be removed: 0x%08X\n", undo);
        return hr;
    }
    if (lpUID) *lpUID = uid;
    return S_OK;
}

HRESULT DeleteService(const ProfileContext& ctx, const MAPIUID& uid, std::string* error)
{
    EntryOutcome outcome = EntryOutcome::NoEntry;
    std::string why;
    HRESULT hr = CallServiceEntry(ctx, uid, 0, 0, MSG_SERVICE_DELETE, 0, nullptr, &outcome, &why);
    if (FAILED(hr)) {
        // A service whose library is gone can still be taken out of the profile.
        if (outcome != EntryOutcome::LibraryMissing) {
            if (error) *error = why;
            return hr;
        }
        Trace("profiles: deleting a service without its library: %s\n", why.c_str());
    }
    hr = ctx.db->Write([&] {
        if (!ctx.db->FindService(ctx.profile, uid)) return MAPI_E_NOT_FOUND;
        ctx.db->RemoveService(ctx.profile, uid);
        return S_OK;
    }, error);
    if (hr == MAPI_E_NOT_FOUND && error) *error = "The profile has no such message service";
    return hr;
}

HRESULT ConfigureService(const ProfileContext& ctx, const MAPIUID& uid, ULONG_PTR ulUIParam, ULONG ulFlags,
                         ULONG cValues, LPSPropValue lpProps, std::string* error)
{
    EntryOutcome outcome = EntryOutcome::NoEntry;
    const HRESULT hr =
        CallServiceEntry(ctx, uid, ulUIParam, ulFlags, MSG_SERVICE_CONFIGURE, cValues, lpProps, &outcome, error);
    if (FAILED(hr) || outcome != EntryOutcome::NoEntry || cValues == 0) return hr;
    // A service without an entry takes the values as they are.
    return ctx.db->Write([&] {
        if (!ctx.db->FindService(ctx.profile, uid)) return MAPI_E_NOT_FOUND;
        return ctx.db->PutProps(ctx.profile, uid, std::span<const SPropValue>(lpProps, cValues));
    }, error);
}

HRESULT BuildServiceTable(const ProfileContext& ctx, LPMAPITABLE* lppTable, std::string* error)
{
    if (!lppTable) return MAPI_E_INVALID_PARAMETER;
    *lppTable = nullptr;
    TableBuilder table{PR_DISPLAY_NAME,       PR_INSTANCE_KEY,  PR_RESOURCE_FLAGS,        PR_SERVICE_DLL_NAME,
                       PR_SERVICE_ENTRY_NAME, PR_SERVICE_NAME, PR_SERVICE_SUPPORT_FILES, PR_SERVICE_UID};
    const HRESULT hr = ctx.db->Read([&]() -> HRESULT {
        if (!ctx.db->FindProfile(ctx.profile)) return MAPI_E_NOT_FOUND;
        for (const auto& service : ctx.db->Services(ctx.profile)) {
            SectionValues section;
            section.Read(*ctx.db, ctx.profile, service.uid);
            std::vector<SPropValue> row;
            row.push_back(UidValue(PR_INSTANCE_KEY, service.uid));
            row.push_back(UidValue(PR_SERVICE_UID, service.uid));
            row.push_back(StringValue(PR_SERVICE_NAME, service.name));
            const SPropValue* display = section.Find(PR_DISPLAY_NAME);
            row.push_back(display ? *display : StringValue(PR_DISPLAY_NAME, service.name));
            row.push_back(LongValue(PR_RESOURCE_FLAGS, section.Long(PR_RESOURCE_FLAGS)));
            for (ULONG tag : {PR_SERVICE_DLL_NAME, PR_SERVICE_ENTRY_NAME, PR_SERVICE_SUPPORT_FILES})
                if (const SPropValue* v = section.Find(tag)) row.push_back(*v);
            if (const HRESULT add = table.AddRow(row); FAILED(add)) return add;
        }
        return S_OK;
    }, error);
    if (FAILED(hr)) return hr;
    return table.View(lppTable);
}

HRESULT BuildProviderTable(const ProfileContext& ctx, const MAPIUID* service, LPMAPITABLE* lppTable,
                           std::string* error)
{
    if (!lppTable) return MAPI_E_INVALID_PARAMETER;
    *lppTable = nullptr;
    TableBuilder table{PR_DISPLAY_NAME,   PR_INSTANCE_KEY,   PR_PROVIDER_DISPLAY, PR_PROVIDER_DLL_NAME,
                       PR_PROVIDER_ORDINAL, PR_PROVIDER_UID, PR_RESOURCE_FLAGS,   PR_RESOURCE_TYPE,
                       PR_SERVICE_NAME,   PR_SERVICE_UID};
    const HRESULT hr = ctx.db->Read([&]() -> HRESULT {
        if (!ctx.db->FindProfile(ctx.profile)) return MAPI_E_NOT_FOUND;
        if (service && !ctx.db->FindService(ctx.profile, *service)) return MAPI_E_NOT_FOUND;
        ULONG ordinal = 0;
        for (const auto& provider : ctx.db->Providers(ctx.profile)) {
            if (service && !ProfileUidEqual(provider.service, *service)) continue;
            SectionValues section;
            section.Read(*ctx.db, ctx.profile, provider.uid);
            std::vector<SPropValue> row;
            row.push_back(UidValue(PR_INSTANCE_KEY, provider.uid));
            row.push_back(UidValue(PR_PROVIDER_UID, provider.uid));
            row.push_back(UidValue(PR_SERVICE_UID, provider.service));
            row.push_back(LongValue(PR_RESOURCE_TYPE, provider.resourceType));
            row.push_back(LongValue(PR_RESOURCE_FLAGS, section.Long(PR_RESOURCE_FLAGS)));
            row.push_back(LongValue(PR_PROVIDER_ORDINAL, ordinal++));
            for (ULONG tag : {PR_DISPLAY_NAME, PR_PROVIDER_DISPLAY, PR_PROVIDER_DLL_NAME, PR_SERVICE_NAME})
                if (const SPropValue* v = section.Find(tag)) row.push_back(*v);
            if (const HRESULT add = table.AddRow(row); FAILED(add)) return add;
        }
        return S_OK;
    }, error);
    if (FAILED(hr)) return hr;
    return table.View(lppTable);
}

}  // namespace quillory
