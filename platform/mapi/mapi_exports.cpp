// The entry points a program reaches by loading "mapi32.dll" at run time and
// looking them up by name: plain C names, as the library exports them at home.
// They forward to the C++ functions the platform's own code links against.
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/profile_admin.h"
#include "platform/mapi/session.h"

namespace quillory::mapi_exports {

#define QUILLORY_MAPI_EXPORT extern "C" __attribute__((visibility("default")))

QUILLORY_MAPI_EXPORT HRESULT MAPIInitialize(void* lpMapiInit) { return ::MAPIInitialize(lpMapiInit); }

QUILLORY_MAPI_EXPORT void MAPIUninitialize() { ::MAPIUninitialize(); }

QUILLORY_MAPI_EXPORT HRESULT MAPIAdminProfiles(ULONG ulFlags, LPPROFADMIN* lppProfAdmin)
{
    return ::MAPIAdminProfiles(ulFlags, lppProfAdmin);
}

QUILLORY_MAPI_EXPORT void FreeProws(LPSRowSet lpRows) { ::FreeProws(lpRows); }

#undef QUILLORY_MAPI_EXPORT

}  // namespace quillory::mapi_exports
