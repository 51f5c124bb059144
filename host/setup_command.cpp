// `quillory setup install|uninstall`: runs an installer entry of the INF merge
// library the way an installer does, by loading the library by name.
#include <cstdio>

#include "host/commands.h"
#include "platform/base/module.h"
#include "platform/base/winerror.h"

namespace quillory::host {
namespace {

using InstallerEntry = UINT (*)(ULONG);

constexpr char kLibraryName[] = "sedgewynd.dll";
constexpr ULONG kNoInstallerSession = 0;

int Usage()
{
    std::fprintf(stderr, "usage: quillory setup install|uninstall\n");
    return 2;
}

}  // namespace

int RunSetupCommand(Args args)
{
    if (args.size() != 1 || (args[0] != "install" && args[0] != "uninstall")) return Usage();
    const char* entryName = args[0] == "install" ? "Install" : "Uninstall";

    HMODULE library = LoadLibrary(kLibraryName);
    if (!library) {
        std::fprintf(stderr, "quillory setup: cannot load %s: %s\n", kLibraryName, LastModuleError().c_str());
        return 1;
    }
    auto entry = reinterpret_cast<InstallerEntry>(GetProcAddress(library, entryName));
    if (!entry) {
        std::fprintf(stderr, "quillory setup: %s has no entry %s: %s\n", kLibraryName, entryName,
                     LastModuleError().c_str());
        FreeLibrary(library);
        return 1;
    }
    const UINT result = entry(kNoInstallerSession);
    FreeLibrary(library);
    std::printf("%s: %u (%s)\n", entryName, result,
                result == static_cast<UINT>(ERROR_SUCCESS) ? "success" : "failed");
    return result == static_cast<UINT>(ERROR_SUCCESS) ? 0 : 1;
}

}  // namespace quillory::host
