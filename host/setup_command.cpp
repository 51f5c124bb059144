// `quillory setup install|uninstall`: runs an installer entry of the INF merge
// library the way an installer does, by loading the library by name.
// Installation first registers the mail client itself, so that the merge's
// office check finds it (and creates the service list it then fills).
#include <cstdio>
#include <filesystem>
#include <string>

#include "host/automation_server.h"
#include "host/commands.h"
#include "platform/base/environment.h"
#include "platform/base/module.h"
#include "platform/base/winerror.h"

namespace quillory::host {
namespace {

using InstallerEntry = UINT (*)(ULONG);

constexpr char kLibraryName[] = "sedgewynd.dll";
constexpr ULONG kNoInstallerSession = 0;
constexpr DWORD kProgramPathSize = 4096;

int Usage()
{
    std::fprintf(stderr, "usage: quillory setup install|uninstall\n");
    return 2;
}

// The program's own library directory comes first: in a build tree the
// libraries sit in lib/ beside the programs' bin/. Otherwise the library is
// searched for by name as usual (QUILLORY_LIBPATH, the install directory).
HMODULE LoadSetupLibrary()
{
    char program[kProgramPathSize];
    const DWORD length = GetModuleFileName(nullptr, program, sizeof program);
    if (length > 0 && length < sizeof program) {
        const std::filesystem::path lib = std::filesystem::path(program).parent_path().parent_path() / "lib";
        std::error_code ec;
        if (std::filesystem::is_regular_file(lib / SharedObjectName(kLibraryName), ec))
            return LoadLibrary((lib / kLibraryName).c_str());
    }
    return LoadLibrary(kLibraryName);
}

}  // namespace

int RunSetupCommand(Args args)
{
    if (args.size() != 1 || (args[0] != "install" && args[0] != "uninstall")) return Usage();
    const bool install = args[0] == "install";
    const char* entryName = install ? "Install" : "Uninstall";

    // Removal leaves the mail client registered: it stays installed.
    if (install) {
        if (const LONG rc = RegisterAutomationServer(); rc != ERROR_SUCCESS) {
            std::fprintf(stderr, "quillory setup: cannot register %s as %s: error %ld\n", kHostClsid, kHostProgId,
                         static_cast<long>(rc));
            return 1;
        }
        // The system directory, where the service list is created, always
        // exists at home; in a fresh environment root it is made here.
        char systemDir[kProgramPathSize];
        if (GetSystemDirectory(systemDir, sizeof systemDir) == 0) {
            std::fprintf(stderr, "quillory setup: the system directory cannot be made\n");
            return 1;
        }
    }

    HMODULE library = LoadSetupLibrary();
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
