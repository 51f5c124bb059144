// The installer entries of the library.
#include "platform/base/module.h"
#include "platform/base/msgbox.h"
#include "platform/base/wintypes.h"
#include "sedgewynd/office_check.h"
#include "sedgewynd/setup_run.h"

namespace {

using quillory::sedgewynd::MergeMode;

// The library's own handle, taken on first use (the entry point's job at home).
HINSTANCE ModuleInstance()
{
    static const HINSTANCE instance = quillory::ModuleHandleOf(reinterpret_cast<const void*>(&ModuleInstance));
    return instance;
}

// Once found, the newer office suite stays found for the library's lifetime.
bool g_office12 = false;

UINT Run(MergeMode mode)
{
    if (mode == MergeMode::Install && !g_office12) g_office12 = quillory::sedgewynd::OfficeIs12OrLater();
    quillory::sedgewynd::CSetupRun run(ModuleInstance(), mode, g_office12);
    return run.Execute();
}

}  // namespace

extern "C" {

// hInstall is the installer's session handle; it is not needed.
__attribute__((visibility("default"))) UINT Install(ULONG hInstall) { return Run(MergeMode::Install); }

__attribute__((visibility("default"))) UINT Uninstall(ULONG hInstall)
{
    MessageBox(nullptr, "0", "2", MB_OK);
    return Run(MergeMode::Remove);
}

}
