// `quillory profile`: lists, creates and deletes MAPI profiles through the
// profile administration, the way a mail client's profile dialog does.
#include <cstdio>
#include <string>
#include <vector>

#include "host/commands.h"
#include "host/mapi_host.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/profile_admin.h"
#include "platform/mapi/profile_section.h"
#include "platform/mapi/session.h"

namespace quillory::host {
namespace {

constexpr const char* kUsage = R"(usage:
  quillory profile list
  quillory profile create NAME [--default-services]
  quillory profile delete NAME
  quillory profile default NAME
  quillory profile identity NAME DISPLAY-NAME E-MAIL

  list      every profile ('*' marks the default one) with its message services
  create    a new profile with its own message store; --default-services also
            adds the services of [Default Services] in MAPISVC.INF
  delete    removes the profile (its message store files stay on disk)
  default   makes the profile the default one
  identity  sets the user's name and address that sessions of the profile report
)";

int Usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

// MAPI stays initialised while the command runs.
class MapiScope {
public:
    MapiScope() : hr_(MAPIInitialize(nullptr)) {}
    ~MapiScope()
    {
        if (SUCCEEDED(hr_)) MAPIUninitialize();
    }
    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_;
};

// Reports a failure with the object's own explanation when it has one.
template <class Object>
int Failed(Object* object, HRESULT hr, const char* what)
{
    std::string text;
    LPMAPIERROR err = nullptr;
    if (object && SUCCEEDED(object->GetLastError(hr, 0, &err)) && err && err->lpszError) text = err->lpszError;
    MAPIFreeBuffer(err);
    if (!object) text = ExplainWithoutObject(hr);
    std::fprintf(stderr, "quillory profile: %s failed (0x%08X)%s%s\n", what, static_cast<unsigned>(hr),
                 text.empty() ? "" : ": ", text.c_str());
    return 1;
}

std::vector<std::vector<SPropValue>> Rows(IMAPITable* table, std::initializer_list<ULONG> columns, RowSetPtr& keep)
{
    std::vector<std::vector<SPropValue>> rows;
    std::vector<BYTE> storage(CbNewSPropTagArray(static_cast<ULONG>(columns.size())));
    auto* tags = reinterpret_cast<SPropTagArray*>(storage.data());
    tags->cValues = static_cast<ULONG>(columns.size());
    std::copy(columns.begin(), columns.end(), tags->aulPropTag);
    if (FAILED(table->SetColumns(tags, 0)) || FAILED(table->QueryRows(0x7FFFFFFF, 0, &keep)) || !keep) return rows;
    for (ULONG i = 0; i < keep->cRows; ++i)
        rows.emplace_back(keep->aRow[i].lpProps, keep->aRow[i].lpProps + keep->aRow[i].cValues);
    return rows;
}

std::string Text(const SPropValue& v) { return PROP_TYPE(v.ulPropTag) == PT_STRING8 ? v.Value.lpszA : ""; }

int List(IProfAdmin* admin)
{
    ComPtr<IMAPITable> table;
    if (const HRESULT hr = admin->GetProfileTable(0, &table); FAILED(hr)) return Failed(admin, hr, "reading the profiles");
    RowSetPtr keep;
    const auto profiles = Rows(table.Get(), {PR_DISPLAY_NAME, PR_DEFAULT_PROFILE}, keep);
    if (profiles.empty()) {
        std::printf("No profiles.\n");
        return 0;
    }
    for (const auto& p : profiles) {
        const std::string name = Text(p[0]);
        const bool isDefault = PROP_TYPE(p[1].ulPropTag) == PT_BOOLEAN && p[1].Value.b;
        std::printf("%s %s\n", isDefault ? "*" : " ", name.c_str());
        ComPtr<IMsgServiceAdmin> services;
        ComPtr<IMAPITable> serviceTable;
        HRESULT hr = admin->AdminServices(const_cast<LPSTR>(name.c_str()), nullptr, 0, 0, &services);
        if (SUCCEEDED(hr)) hr = services->GetMsgServiceTable(0, &serviceTable);
        if (FAILED(hr)) {
            std::printf("    (its services cannot be read: 0x%08X)\n", static_cast<unsigned>(hr));
            continue;
        }
        RowSetPtr keepServices;
        for (const auto& s : Rows(serviceTable.Get(), {PR_SERVICE_NAME, PR_DISPLAY_NAME}, keepServices))
            std::printf("    %-16s %s\n", Text(s[0]).c_str(), Text(s[1]).c_str());
    }
    return 0;
}

int SetIdentity(IProfAdmin* admin, const std::string& profile, const std::string& name, const std::string& email)
{
    ComPtr<IMsgServiceAdmin> services;
    if (const HRESULT hr = admin->AdminServices(const_cast<LPSTR>(profile.c_str()), nullptr, 0, 0, &services); FAILED(hr))
        return Failed(admin, hr, "opening the profile");
    ComPtr<IProfSect> global;
    MAPIUID uid = GlobalSectionUid();
    if (const HRESULT hr = services->OpenProfileSection(&uid, nullptr, MAPI_MODIFY, &global); FAILED(hr))
        return Failed(services.Get(), hr, "opening the profile's global section");
    SPropValue v[3]{};
    v[0].ulPropTag = PR_IDENTITY_DISPLAY;
    v[0].Value.lpszA = const_cast<LPSTR>(name.c_str());
    v[1].ulPropTag = PR_EMAIL_ADDRESS;
    v[1].Value.lpszA = const_cast<LPSTR>(email.c_str());
    v[2].ulPropTag = PR_ADDRTYPE;
    v[2].Value.lpszA = const_cast<LPSTR>("SMTP");
    if (const HRESULT hr = global->SetProps(3, v, nullptr); FAILED(hr))
        return Failed(global.Get(), hr, "storing the identity");
    return 0;
}

}  // namespace

int RunProfileCommand(Args args)
{
    if (args.empty()) return Usage();
    const std::string_view verb = args[0];
    const bool defaults = args.size() == 3 && args[2] == "--default-services";
    const bool oneName = args.size() == 2 || (verb == "create" && defaults);
    if (!(verb == "list" && args.size() == 1) && !(verb == "identity" && args.size() == 4) &&
        !((verb == "create" || verb == "delete" || verb == "default") && oneName))
        return Usage();

    MapiScope mapi;
    if (FAILED(mapi.Result())) {
        std::fprintf(stderr, "quillory profile: MAPI cannot be initialised (0x%08X)\n",
                     static_cast<unsigned>(mapi.Result()));
        return 1;
    }
    ComPtr<IProfAdmin> admin;
    if (const HRESULT hr = MAPIAdminProfiles(0, &admin); FAILED(hr))
        return Failed<IProfAdmin>(nullptr, hr, "opening the profiles");
    if (verb == "list") return List(admin.Get());

    std::string name(args[1]);
    HRESULT hr = S_OK;
    if (verb == "create") {
        hr = admin->CreateProfile(name.data(), nullptr, 0, defaults ? MAPI_DEFAULT_SERVICES : 0);
    } else if (verb == "delete") {
        hr = admin->DeleteProfile(name.data(), 0);
    } else if (verb == "default") {
        hr = admin->SetDefaultProfile(name.data(), 0);
    } else {
        return SetIdentity(admin.Get(), name, std::string(args[2]), std::string(args[3]));
    }
    if (FAILED(hr)) return Failed(admin.Get(), hr, (std::string(verb) + " '" + name + "'").c_str());
    return 0;
}

}  // namespace quillory::host
