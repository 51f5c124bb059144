#include "platform/mapi/profile_admin.h"

#include <cstring>

#include "platform/base/trace.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/profile_section.h"
#include "platform/mapi/profile_tables.h"
#include "platform/mapi/service_admin.h"
#include "platform/mapi/session.h"

namespace quillory {

namespace {

constexpr ULONG kCreateFlags = MAPI_DEFAULT_SERVICES | MAPI_DIALOG;

HRESULT CheckName(const char* name)
{
    if (!name || !*name || std::strlen(name) > cchProfileNameMax) return MAPI_E_INVALID_PARAMETER;
    for (const char* p = name; *p; ++p)
        if (static_cast<unsigned char>(*p) < 0x20) return MAPI_E_INVALID_PARAMETER;
    return S_OK;
}

std::vector<BYTE> InstanceKey(ProfileId id)
{
    std::vector<BYTE> key(sizeof(ProfileId));
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<BYTE>(static_cast<std::uint64_t>(id) >> (8 * i));
    return key;
}

}  // namespace

CProfAdmin::CProfAdmin(std::shared_ptr<ProfileDb> db) : db_(std::move(db)) {}

HRESULT CProfAdmin::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv, {{&IID_IProfAdmin, static_cast<IProfAdmin*>(this)}});
}

HRESULT CProfAdmin::Fail(HRESULT hr, std::string text)
{
    Trace("CProfAdmin: %s (0x%08X)\n", text.c_str(), static_cast<unsigned>(hr));
    std::lock_guard lock(mutex_);
    lastError_ = hr;
    lastErrorText_ = std::move(text);
    return hr;
}

HRESULT CProfAdmin::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
{
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    std::lock_guard lock(mutex_);
    const std::string text = hResult == lastError_ && !lastErrorText_.empty() ? lastErrorText_ : "No further information";
    return MakeMapiError(text, "Quillory profiles", lppMAPIError);
}

HRESULT CProfAdmin::GetProfileTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    if (!lppTable) return MAPI_E_INVALID_PARAMETER;
    *lppTable = nullptr;
    if (ulFlags & MAPI_UNICODE) return Fail(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
    TableBuilder table{PR_DISPLAY_NAME, PR_DEFAULT_PROFILE, PR_INSTANCE_KEY};
    std::string error;
    const HRESULT hr = db_->Read([&]() -> HRESULT {
        for (const auto& profile : db_->Profiles()) {
            const auto key = InstanceKey(profile.id);
            const SPropValue row[] = {StringValue(PR_DISPLAY_NAME, profile.name),
                                      BoolValue(PR_DEFAULT_PROFILE, profile.isDefault),
                                      BinaryValue(PR_INSTANCE_KEY, key)};
            if (const HRESULT add = table.AddRow(row); FAILED(add)) return add;
        }
        return S_OK;
    }, &error);
    if (FAILED(hr)) return Fail(hr, error);
    return table.View(lppTable);
}

HRESULT CProfAdmin::CreateProfile(LPSTR lpszProfileName, LPSTR lpszPassword, ULONG_PTR ulUIParam, ULONG ulFlags)
{
    if (ulFlags & MAPI_UNICODE) return Fail(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
    if (ulFlags & ~kCreateFlags) return MAPI_E_UNKNOWN_FLAGS;
    if (FAILED(CheckName(lpszProfileName)))
        return Fail(MAPI_E_INVALID_PARAMETER, "A profile name has 1 to 64 printable characters");
    ProfileContext ctx{db_, 0, lpszProfileName};
    std::string error;
    HRESULT hr = db_->Write([&]() -> HRESULT {
        if (db_->FindProfile(ctx.profileName)) return MAPI_E_NO_ACCESS;
        const bool first = db_->Profiles().empty();
        ctx.profile = db_->AddProfile(ctx.profileName);
        db_->AddSection(ctx.profile, GlobalSectionUid());
        if (first) db_->SetDefaultProfile(ctx.profile);
        return AddServiceRecords(ctx, BuiltInStoreService(), {}, nullptr);
    }, &error);
    if (hr == MAPI_E_NO_ACCESS) return Fail(hr, std::string("A profile named '") + lpszProfileName + "' exists already");
    if (FAILED(hr)) return Fail(hr, error);

    if (ulFlags & MAPI_DEFAULT_SERVICES) {
        ServiceList list;
        if (SUCCEEDED(ServiceList::Load(list, &error))) {
            for (const auto& name : list.DefaultServiceNames()) {
                // One service that cannot be added must not cost the profile the others.
                hr = CreateService(ctx, name, nullptr, ulUIParam, (ulFlags & MAPI_DIALOG) ? SERVICE_UI_ALLOWED : 0,
                                   nullptr, &error);
                if (FAILED(hr)) Trace("CProfAdmin: default service %s not added: %s\n", name.c_str(), error.c_str());
            }
        }
    }
    return S_OK;
}

HRESULT CProfAdmin::DeleteProfile(LPSTR lpszProfileName, ULONG ulFlags)
{
    if (!lpszProfileName) return MAPI_E_INVALID_PARAMETER;
    ProfileContext ctx{db_, 0, lpszProfileName};
    std::vector<ServiceRecord> services;
    std::string error;
    HRESULT hr = db_->Read([&]() -> HRESULT {
        auto record = db_->FindProfile(ctx.profileName);
        if (!record) return MAPI_E_NOT_FOUND;
        ctx.profile = record->id;
        ctx.profileName = record->name;
        services = db_->Services(ctx.profile);
        return S_OK;
    }, &error);
    if (hr == MAPI_E_NOT_FOUND) return Fail(hr, std::string("There is no profile named '") + lpszProfileName + "'");
    if (FAILED(hr)) return Fail(hr, error);
    for (const auto& service : services) {
        std::string why;
        hr = CallServiceEntry(ctx, service.uid, 0, 0, MSG_SERVICE_DELETE, 0, nullptr, nullptr, &why);
        if (FAILED(hr)) Trace("CProfAdmin: service %s did not take its deletion: %s\n", service.name.c_str(), why.c_str());
    }
    hr = db_->Write([&]() -> HRESULT {
        if (!db_->FindProfile(ctx.profile)) return MAPI_E_NOT_FOUND;
        db_->RemoveProfile(ctx.profile);
        return S_OK;
    }, &error);
    if (hr == MAPI_E_NOT_FOUND) return Fail(hr, "The profile was deleted meanwhile");
    return FAILED(hr) ? Fail(hr, error) : S_OK;
}

HRESULT CProfAdmin::SetDefaultProfile(LPSTR lpszProfileName, ULONG ulFlags)
{
    std::string error;
    const HRESULT hr = db_->Write([&]() -> HRESULT {
        if (!lpszProfileName) {
            db_->SetDefaultProfile(0);
            return S_OK;
        }
        auto record = db_->FindProfile(lpszProfileName);
        if (!record) return MAPI_E_NOT_FOUND;
        db_->SetDefaultProfile(record->id);
        return S_OK;
    }, &error);
    if (hr == MAPI_E_NOT_FOUND) return Fail(hr, std::string("There is no profile named '") + lpszProfileName + "'");
    return FAILED(hr) ? Fail(hr, error) : S_OK;
}

HRESULT CProfAdmin::AdminServices(LPSTR lpszProfileName, LPSTR lpszPassword, ULONG_PTR ulUIParam, ULONG ulFlags,
                                  LPSERVICEADMIN* lppServiceAdmin)
{
    if (!lppServiceAdmin || !lpszProfileName) return MAPI_E_INVALID_PARAMETER;
    *lppServiceAdmin = nullptr;
    if (ulFlags & MAPI_UNICODE) return Fail(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
    ProfileContext ctx{db_, 0, {}};
    std::string error;
    const HRESULT hr = db_->Read([&]() -> HRESULT {
        auto record = db_->FindProfile(lpszProfileName);
        if (!record) return MAPI_E_NOT_FOUND;
        ctx.profile = record->id;
        ctx.profileName = record->name;
        return S_OK;
    }, &error);
    if (hr == MAPI_E_NOT_FOUND) return Fail(hr, std::string("There is no profile named '") + lpszProfileName + "'");
    if (FAILED(hr)) return Fail(hr, error);
    *lppServiceAdmin = NewComObject<CMsgServiceAdmin>(std::move(ctx));
    return S_OK;
}

}  // namespace quillory

HRESULT MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin)
{
    if (!lppProfAdmin) return MAPI_E_INVALID_PARAMETER;
    *lppProfAdmin = nullptr;
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    if (ulFlags) return MAPI_E_UNKNOWN_FLAGS;
    if (!quillory::MapiInitialized()) return MAPI_E_NOT_INITIALIZED;
    std::shared_ptr<quillory::ProfileDb> db;
    if (const HRESULT hr = quillory::ProfileDb::Open(db); FAILED(hr)) return hr;
    *lppProfAdmin = quillory::NewComObject<quillory::CProfAdmin>(std::move(db));
    return S_OK;
}
