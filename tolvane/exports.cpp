// The library's exports: the in-process COM server's entry points and the
// load check.
#include "platform/base/msgbox.h"
#include "platform/base/version_info.h"
#include "tolvane/module.h"

QUILLORY_VERSION_INFO(4, 2, 3, 0, "Outlook add-in for Tarnel NNTP transport.");

namespace {

constexpr int kTestBeeps = 4;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow()
{
    return quillory::tolvane::Module().GetLockCount() == 0 ? S_OK : S_FALSE;
}

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    return quillory::tolvane::Module().GetClassObject(rclsid, riid, ppv);
}

__attribute__((visibility("default"))) HRESULT DllRegisterServer()
{
    return quillory::tolvane::Module().RegisterServer();
}

__attribute__((visibility("default"))) HRESULT DllUnregisterServer()
{
    return quillory::tolvane::Module().UnregisterServer();
}

// A smoke test that the library loads.
__attribute__((visibility("default"))) HRESULT DllTest()
{
    for (int i = 0; i < kTestBeeps; ++i) MessageBeep(MB_ICONEXCLAMATION);
    return 0;
}

}  // extern "C"
