// `quillory setup install|uninstall` as a program in a fresh environment: the
// host registers itself as the mail client, the merge then creates the
// system directory's service list and fills it, and removal takes it out.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/automation_server.h"
#include "platform/base/environment.h"
#include "platform/base/registry.h"
#include "host/tests/run_program.h"
#include "platform/base/tests/test_home.h"
#include "platform/mapi/mapisvc_inf.h"

namespace {

namespace fs = std::filesystem;
using quillory::testing::TempHome;

using Outcome = quillory::testing::ProgramOutcome;
using quillory::testing::ReadWholeFile;

// Runs `quillory setup ARG` without QUILLORY_LIBPATH: the program finds the
// library in its build tree by itself.
Outcome RunSetup(const TempHome& home, std::string arg)
{
    return quillory::testing::RunQuillory(home, {"setup", std::move(arg)}, std::nullopt, {"QUILLORY_LIBPATH"});
}

std::string ClassesRootDefault(const std::string& subKey)
{
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return "(missing)";
    char value[4096] = {};
    DWORD size = sizeof value - 1, type = 0;
    const LONG rc = RegQueryValueEx(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : "(no value)";
}

int Count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + what.size())) ++n;
    return n;
}

// Not created here: a fresh root has no system directory until setup runs.
fs::path SystemServiceList() { return *quillory::SpecialFolderPath(CSIDL_SYSTEM) / "MAPISVC.INF"; }

TEST(SetupInstall, RegistersTheHostAndMergesTheServiceIntoANewServiceList)
{
    TempHome home;
    const fs::path list = SystemServiceList();
    ASSERT_FALSE(fs::exists(list.parent_path()));

    Outcome r = RunSetup(home, "install");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Install: 0 (success)\nDllRegisterServer: 0x00000000 (success)\n"
                     "Add-in list: tolvane.OutlookAddin (loaded at start-up)\n");
    // The add-in: its class registered, and listed to load at start-up.
    EXPECT_EQ(ClassesRootDefault("tolvane.OutlookAddin\\CLSID"), "{4A9C87D8-D7B2-4102-85E1-73A0B3420C31}");
    HKEY entry = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\Outlook\\Addins\\tolvane.OutlookAddin", 0,
                           KEY_READ, &entry),
              ERROR_SUCCESS);
    DWORD behavior = 0, size = sizeof behavior, type = 0;
    EXPECT_EQ(RegQueryValueEx(entry, "LoadBehavior", nullptr, &type, reinterpret_cast<BYTE*>(&behavior), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(behavior, 3u);
    RegCloseKey(entry);

    const std::string clsid = quillory::host::kHostClsid;
    EXPECT_EQ(ClassesRootDefault("Outlook.Application\\CLSID"), clsid);
    EXPECT_EQ(ClassesRootDefault("CLSID\\" + clsid + "\\LocalServer32"), fs::canonical(quillory::testing::QuilloryProgram()).string());

    const std::string text = ReadWholeFile(list);
    EXPECT_NE(text.find("[Services]\r\nCorvane=Tarnel NNTP Transport\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Corvane]\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[QUARNEX_XPP]\r\n"), std::string::npos) << text;

    // Twice: the keys are replaced in place, never repeated.
    r = RunSetup(home, "install");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string again = ReadWholeFile(list);
    for (const char* line : {"[Services]\r\n", "[Default Services]\r\n", "[Corvane]\r\n", "[QUARNEX_XPP]\r\n",
                             "PR_SERVICE_DLL_NAME=quarnex.dll\r\n", "PR_PROVIDER_DLL_NAME=quarnex.dll\r\n",
                             "Providers=QUARNEX_XPP\r\n"})
        EXPECT_EQ(Count(again, line), 1) << line << again;
    EXPECT_EQ(Count(again, "Corvane=Tarnel NNTP Transport\r\n"), 2) << again;  // [Services] and [Default Services]

    // MAPI reads it.
    quillory::ServiceList services;
    ASSERT_EQ(quillory::ServiceList::LoadFile(list, services), S_OK);
    quillory::InfService corvane;
    std::string error;
    ASSERT_EQ(services.FindService("Corvane", corvane, &error), S_OK) << error;
    EXPECT_EQ(corvane.dllName, "quarnex.dll");
    EXPECT_EQ(corvane.entryName, "ServiceEntry");
    ASSERT_EQ(corvane.providers.size(), 1u);
    EXPECT_EQ(corvane.providers[0].section, "QUARNEX_XPP");
    EXPECT_EQ(corvane.providers[0].resourceType, MAPI_TRANSPORT_PROVIDER);

    // Removal takes the service out and leaves the host registered.
    r = RunSetup(home, "uninstall");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "DllUnregisterServer: 0x00000000 (success)\nUninstall: 0 (success)\n");
    EXPECT_EQ(ClassesRootDefault("tolvane.OutlookAddin\\CLSID"), "(missing)");
    const std::string after = ReadWholeFile(list);
    EXPECT_EQ(after.find("Corvane"), std::string::npos) << after;
    EXPECT_EQ(after.find("QUARNEX"), std::string::npos) << after;
    EXPECT_EQ(after.find("quarnex"), std::string::npos) << after;
    EXPECT_EQ(ClassesRootDefault("Outlook.Application\\CLSID"), clsid);
}

}  // namespace
