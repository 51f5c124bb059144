// The header folder the status object makes unless another is installed.
#include <mutex>

#include "platform/base/trace.h"
#include "provider/status/header_folder_port.h"

namespace quillory {

namespace {

std::mutex g_factoryMutex;
HeaderFolderFactory g_factory;

}  // namespace

void SetHeaderFolderFactory(HeaderFolderFactory factory)
{
    std::lock_guard lock(g_factoryMutex);
    g_factory = std::move(factory);
}

HRESULT NewHeaderFolder(CMAPIStatus& status, CXPLogon& logon, std::unique_ptr<IHeaderFolder>& folder)
{
    HeaderFolderFactory factory;
    {
        std::lock_guard lock(g_factoryMutex);
        factory = g_factory;
    }
    if (factory) return factory(status, logon, folder);
    Trace("CMAPIStatus -- no header folder in this build\n");
    return MAPI_E_NO_SUPPORT;
}

}  // namespace quillory
