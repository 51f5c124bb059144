#include "brackle/mapi_library.h"

#include "platform/base/trace.h"

namespace quillory::brackle {
namespace {

constexpr char kMapiLibrary[] = "mapi32.dll";

template <typename Fn>
Fn* Find(HMODULE module, const char* name)
{
    auto* fn = reinterpret_cast<Fn*>(GetProcAddress(module, name));
    if (!fn) Trace("brackle: %s has no entry %s: %s\n", kMapiLibrary, name, LastModuleError().c_str());
    return fn;
}

}  // namespace

CMapiLibrary::~CMapiLibrary()
{
    if (module_ && !FreeLibrary(module_)) Trace("brackle: %s could not be unloaded\n", kMapiLibrary);
}

bool CMapiLibrary::Load()
{
    module_ = LoadLibrary(kMapiLibrary);
    if (!module_) {
        Trace("brackle: %s cannot be loaded: %s\n", kMapiLibrary, LastModuleError().c_str());
        return false;
    }
    Initialize = Find<MAPIINITIALIZE>(module_, "MAPIInitialize");
    AdminProfiles = Find<MAPIADMINPROFILES>(module_, "MAPIAdminProfiles");
    FreeRows = Find<FREEPROWS>(module_, "FreeProws");
    Uninitialize = reinterpret_cast<MAPIUNINITIALIZE*>(GetProcAddress(module_, "MAPIUninitialize"));
    return Initialize && AdminProfiles && FreeRows;
}

}  // namespace quillory::brackle
