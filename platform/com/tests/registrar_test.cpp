#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "platform/base/tests/registry_dump.h"
#include "platform/base/tests/test_home.h"
#include "platform/com/classfactory.h"
#include "platform/com/com_ptr.h"
#include "platform/com/guid.h"
#include "platform/com/registrar.h"
#include "platform/com/typeinfo.h"

namespace quillory {
namespace {

using testing::RegistryTree;
using Lines = std::set<std::string>;

const char* kScript = R"(HKCR
{
    NoRemove AppID
    {
        '%APPID%' = s 'server'
        'server.DLL'
        {
            val AppID = s '%APPID%'
        }
    }
    NoRemove CLSID
    {
        ForceRemove {4A9C87D8-D7B2-4102-85E1-73A0B3420C31} = s 'Thing Class'
        {
            InprocServer32 = s '%MODULE%'
            {
                val ThreadingModel = s 'Apartment'
            }
            'Programmable'
            val Count = d '0x10'
            val Blob = b '00FF'
            val Percent = s '100%%'
        }
    }
    Delete Stale
}
)";

TEST(Registrar, RegistersAndUnregistersExactlyWhatTheScriptSays)
{
    testing::TempHome home;
    // Something of another server under a kept key stays.
    ASSERT_EQ(RunRegistryScript("HKCR { CLSID { Other = s 'x' } Stale { Sub } }", {}, true), S_OK);
    const Lines before = RegistryTree(HKEY_CLASSES_ROOT);

    // A module path that would close the quote and inject a key if pasted in as text.
    const Replacements r = {{"APPID", "{1AA5E393-BCF2-4526-AB2D-A93F54A81BC8}"},
                            {"MODULE", "/opt/it's here}/lib' } HKCU { Evil = s 'x"}};
    std::string error;
    ASSERT_EQ(RunRegistryScript(kScript, r, true, &error), S_OK) << error;
    const Lines after = RegistryTree(HKEY_CLASSES_ROOT);
    const std::string cls = "CLSID\\{4A9C87D8-D7B2-4102-85E1-73A0B3420C31}";
    for (const std::string& line :
         {std::string("AppID\\{1AA5E393-BCF2-4526-AB2D-A93F54A81BC8}|=1:server"),
          std::string("AppID\\server.DLL|AppID=1:{1AA5E393-BCF2-4526-AB2D-A93F54A81BC8}"), cls + "|=1:Thing Class",
          cls + "\\InprocServer32|=1:/opt/it's here}/lib' } HKCU { Evil = s 'x", cls + "\\InprocServer32|ThreadingModel=1:Apartment",
          cls + "\\Programmable", cls + "|Count=4:16", cls + "|Blob=3:00FF", cls + "|Percent=1:100%"})
        EXPECT_TRUE(after.count(line)) << line;
    EXPECT_FALSE(after.count("Stale"));  // Delete removed it
    EXPECT_TRUE(RegistryTree(HKEY_CURRENT_USER, "Evil").empty());

    // Registering again over a changed class starts the ForceRemove key afresh.
    ASSERT_EQ(RunRegistryScript("HKCR { CLSID { {4A9C87D8-D7B2-4102-85E1-73A0B3420C31} { Leftover } } }", {}, true), S_OK);
    ASSERT_EQ(RunRegistryScript(kScript, r, true), S_OK);
    EXPECT_EQ(RegistryTree(HKEY_CLASSES_ROOT), after);

    ASSERT_EQ(RunRegistryScript(kScript, r, false, &error), S_OK) << error;
    Lines expected = before;
    expected.erase("Stale");
    expected.erase("Stale\\Sub");
    expected.insert("AppID");  // kept, though only the script made it
    EXPECT_EQ(RegistryTree(HKEY_CLASSES_ROOT), expected);
    // Unregistering what is gone already is no failure.
    EXPECT_EQ(RunRegistryScript(kScript, r, false), S_OK);
}

TEST(Registrar, AMalformedScriptChangesNothingAndNamesItsLine)
{
    testing::TempHome home;
    const Replacements r = {{"MODULE", "/lib/x.so"}};
    struct Bad {
        const char* script;
        const char* line;
    };
    const Bad bad[] = {
        {"HKCR { A = s 'x' }\nHKXX { B }", "line 2"},
        {"HKCR { A = s 'x' \n B = s 'open }", "line 2"},
        {"HKCR { A = s '%UNKNOWN%' }", "UNKNOWN"},
        {"HKCR { A = s '%MODULE' }", "not closed"},
        {"HKCR { A = d 'twelve' }", "DWORD"},
        {"HKCR { A = b '0G' }", "hex"},
        {"HKCR { A = q 'x' }", "value type"},
        {"HKCR { A { val = s 'x' } }", "value name"},
        {"HKCR { 'A\\B' }", "'\\'"},
        {"HKCR { A = s 'x' ", "'}' is missing"},
        {"HKCR A", "'{'"},
    };
    for (const auto& b : bad) {
        std::string error;
        EXPECT_EQ(RunRegistryScript(b.script, r, true, &error), E_FAIL) << b.script;
        EXPECT_NE(error.find(b.line), std::string::npos) << b.script << ": " << error;
        EXPECT_TRUE(RegistryTree(HKEY_CLASSES_ROOT).empty()) << b.script;
    }
    std::string deep = "HKCR {";
    for (int i = 0; i < 200; ++i) deep += " K {";
    EXPECT_EQ(RunRegistryScript(deep, r, true), E_FAIL);
}

TEST(Registrar, IsCreatedThroughCoCreateInstanceAndRunsStringScripts)
{
    testing::TempHome home;
    ComPtr<IRegistrar> registrar;
    ASSERT_EQ(CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar, registrar.AsVoidOut()),
              S_OK);
    ASSERT_EQ(registrar->AddReplacement("name", "value'}"), S_OK);
    ASSERT_EQ(registrar->StringRegister("HKCU { Software { Q = s '%NAME%' } }"), S_OK);
    EXPECT_TRUE(RegistryTree(HKEY_CURRENT_USER).count("Software\\Q|=1:value'}"));
    ASSERT_EQ(registrar->StringUnregister("HKCU { NoRemove Software { Q } }"), S_OK);
    EXPECT_EQ(RegistryTree(HKEY_CURRENT_USER), Lines{"Software"});
    ASSERT_EQ(registrar->ClearReplacements(), S_OK);
    EXPECT_EQ(registrar->StringRegister("HKCU { Q = s '%NAME%' }"), E_FAIL);
    EXPECT_EQ(registrar->ResourceRegister("/no/such/module.so", 1, "REGISTRY"),
              HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
}

TEST(TypeLib, RegistrationWritesAndRemovesOnlyItsOwnKeys)
{
    testing::TempHome home;
    const std::filesystem::path file = home.path() / "test.tlb";
    {
        std::ofstream out(file);
        out << "library {BB506285-5892-483E-85AB-03ABB06D6CD4} 1.0 TestLib \"Test 1.0 Type Library\"\n"
               "interface {EAC5E94B-A8D8-443C-B65C-99172421381A} ITest dual \"ITest Interface\"\n"
               "coclass {4A9C87D8-D7B2-4102-85E1-73A0B3420C31} Test \"Test Class\" ITest\n";
    }
    ASSERT_EQ(RunRegistryScript("HKCR { TypeLib { Other } Interface { Other } }", {}, true), S_OK);
    const Lines before = RegistryTree(HKEY_CLASSES_ROOT);
    ComPtr<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLibEx(file.c_str(), REGKIND_REGISTER, &lib), S_OK);
    const Lines after = RegistryTree(HKEY_CLASSES_ROOT);
    const std::string libKey = "TypeLib\\{BB506285-5892-483E-85AB-03ABB06D6CD4}\\1.0";
    EXPECT_TRUE(after.count(libKey + "|=1:Test 1.0 Type Library"));
    EXPECT_TRUE(after.count(libKey + "\\0\\linux|=1:" + file.string()));
    EXPECT_TRUE(after.count("Interface\\{EAC5E94B-A8D8-443C-B65C-99172421381A}\\TypeLib|Version=1:1.0"));
    EXPECT_FALSE(after.count("Interface\\{4A9C87D8-D7B2-4102-85E1-73A0B3420C31}"));  // a class is no interface

    ComPtr<ITypeLib> again;
    ASSERT_EQ(LoadRegTypeLib(*ParseGuid("{BB506285-5892-483E-85AB-03ABB06D6CD4}"), 1, 0, 0, &again), S_OK);
    EXPECT_EQ(again->GetTypeInfoCount(), 2u);
    ASSERT_EQ(UnRegisterTypeLib(*ParseGuid("{BB506285-5892-483E-85AB-03ABB06D6CD4}"), 1, 0, 0, SYS_WIN32), S_OK);
    EXPECT_EQ(RegistryTree(HKEY_CLASSES_ROOT), before);
    EXPECT_EQ(UnRegisterTypeLib(*ParseGuid("{BB506285-5892-483E-85AB-03ABB06D6CD4}"), 1, 0, 0, SYS_WIN32),
              TYPE_E_LIBNOTREGISTERED);
}

}  // namespace
}  // namespace quillory
