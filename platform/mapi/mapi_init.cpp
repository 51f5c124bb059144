// MAPIInitialize / MAPIUninitialize: a process-wide count. The last
// MAPIUninitialize lets go of the shared session and of the message-service
// libraries loaded meanwhile.
#include <mutex>

#include "platform/base/trace.h"
#include "platform/mapi/service_admin_core.h"
#include "platform/mapi/session.h"
#include "platform/mapi/session_impl.h"

namespace {

constexpr ULONG kKnownInitFlags = MAPI_MULTITHREAD_NOTIFICATIONS | MAPI_NT_SERVICE | MAPI_NO_COINIT;

std::mutex& InitMutex()
{
    static std::mutex m;
    return m;
}

ULONG g_initCount = 0;

}  // namespace

HRESULT MAPIInitialize(void* lpMapiInit)
{
    if (lpMapiInit) {
        const auto* init = static_cast<const MAPIINIT_0*>(lpMapiInit);
        if (init->ulVersion != MAPI_INIT_VERSION) return MAPI_E_VERSION;
        if (init->ulFlags & ~kKnownInitFlags) return MAPI_E_UNKNOWN_FLAGS;
    }
    std::lock_guard lock(InitMutex());
    ++g_initCount;
    return S_OK;
}

void MAPIUninitialize()
{
    bool last = false;
    {
        std::lock_guard lock(InitMutex());
        if (g_initCount == 0) {
            quillory::Trace("MAPIUninitialize without MAPIInitialize\n");
            return;
        }
        last = --g_initCount == 0;
    }
    if (!last) return;
    quillory::DropSharedSession();
    quillory::UnloadServiceLibraries();
}

namespace quillory {

bool MapiInitialized()
{
    std::lock_guard lock(InitMutex());
    return g_initCount > 0;
}

}  // namespace quillory
