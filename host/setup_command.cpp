// `quillory setup install|uninstall`: does what the installer does. It runs
// an installer entry of the INF merge library, by loading the library by
// name, and registers the add-in (its DllRegisterServer, and its entry in
// the mail client's add-in list). Installation first registers the mail
// client itself, so that the merge's office check finds it (and creates
// the service list it then fills). Removal undoes the add-in's registration
// and its list entry, and takes the service out of the service lists.
#include <cstdio>
#include <filesystem>
#include <string>

#include "host/automation_server.h"
#include "host/commands.h"
#include "platform/base/environment.h"
#include "platform/base/module.h"
#include "platform/base/registry.h"
#include "platform/base/winerror.h"
#include "platform/outlook/extensibility.h"

namespace quillory::host {
namespace {

using InstallerEntry = UINT (*)(ULONG);
using ServerEntry = HRESULT (*)();

constexpr char kLibraryName[] = "sedgewynd.dll";
constexpr char kAddinLibraryName[] = "tolvane.dll";
constexpr char kAddinProgId[] = "tolvane.OutlookAddin";
constexpr char kAddinFriendlyName[] = "Tarnel NNTP";
constexpr char kAddinDescription[] = "Reads and posts Usenet newsgroups in the mail client.";
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
HMODULE LoadSetupLibrary(const char* name)
{
    char program[kProgramPathSize];
    const DWORD length = GetModuleFileName(nullptr, program, sizeof program);
    if (length > 0 && length < sizeof program) {
        const std::filesystem::path lib = std::filesystem::path(program).parent_path().parent_path() / "lib";
        std::error_code ec;
        if (std::filesystem::is_regular_file(lib / SharedObjectName(name), ec)) return LoadLibrary((lib / name).c_str());
    }
    return LoadLibrary(name);
}

LONG SetValue(HKEY key, const char* name, DWORD type, const void* data, DWORD size)
{
    return RegSetValueEx(key, name, 0, type, static_cast<const BYTE*>(data), size);
}

// The add-in's entry in the mail client's add-in list: loaded at start-up.
LONG WriteAddinListEntry()
{
    const std::string path = std::string(outlook::kAddinListKey) + "\\" + kAddinProgId;
    HKEY key = nullptr;
    LONG rc = RegCreateKeyEx(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                             &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    const DWORD behavior = outlook::kLoadAtStartup;
    rc = SetValue(key, outlook::kValLoadBehavior, REG_DWORD, &behavior, sizeof behavior);
    if (rc == ERROR_SUCCESS)
        rc = SetValue(key, outlook::kValFriendlyName, REG_SZ, kAddinFriendlyName, sizeof kAddinFriendlyName);
    if (rc == ERROR_SUCCESS)
        rc = SetValue(key, outlook::kValDescription, REG_SZ, kAddinDescription, sizeof kAddinDescription);
    RegCloseKey(key);
    return rc;
}

LONG RemoveAddinListEntry()
{
    const std::string path = std::string(outlook::kAddinListKey) + "\\" + kAddinProgId;
    const LONG rc = RegDeleteTree(HKEY_CURRENT_USER, path.c_str());
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

// Calls the add-in library's DllRegisterServer or DllUnregisterServer and
// prints the outcome; 0 on success.
int RunAddinRegistration(bool install)
{
    const char* entryName = install ? "DllRegisterServer" : "DllUnregisterServer";
    HMODULE library = LoadSetupLibrary(kAddinLibraryName);
    if (!library) {
        std::fprintf(stderr, "quillory setup: cannot load %s: %s\n", kAddinLibraryName, LastModuleError().c_str());
        return 1;
    }
    auto entry = reinterpret_cast<ServerEntry>(GetProcAddress(library, entryName));
    const HRESULT hr = entry ? entry() : E_FAIL;
    FreeLibrary(library);
    std::printf("%s: 0x%08X (%s)\n", entryName, static_cast<unsigned>(hr), SUCCEEDED(hr) ? "success" : "failed");
    return SUCCEEDED(hr) ? 0 : 1;
}

int RunAddinSetup(bool install)
{
    if (!install) {
        if (const LONG rc = RemoveAddinListEntry(); rc != ERROR_SUCCESS) {
            std::fprintf(stderr, "quillory setup: the add-in list entry cannot be removed: error %ld\n",
                         static_cast<long>(rc));
            return 1;
        }
        return RunAddinRegistration(false);
    }
    if (const int status = RunAddinRegistration(true); status != 0) return status;
    if (const LONG rc = WriteAddinListEntry(); rc != ERROR_SUCCESS) {
        std::fprintf(stderr, "quillory setup: the add-in list entry cannot be written: error %ld\n", static_cast<long>(rc));
        return 1;
    }
    std::printf("Add-in list: %s (loaded at start-up)\n", kAddinProgId);
    return 0;
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

    // Removal takes the add-in out first, installation puts it in last.
    if (!install)
        if (const int status = RunAddinSetup(false); status != 0) return status;

    HMODULE library = LoadSetupLibrary(kLibraryName);
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
    if (result != static_cast<UINT>(ERROR_SUCCESS)) return 1;
    return install ? RunAddinSetup(true) : 0;
}

}  // namespace quillory::host
