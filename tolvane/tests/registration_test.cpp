// The library as an in-process server: registration writes exactly the keys
// of its scripts and type library, with the module's path taken as text
// whatever it holds, and removal leaves only the kept parents; its class
// object makes aggregatable add-ins, and it stays loaded while they live.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/base/module.h"
#include "platform/base/msgbox.h"
#include "platform/base/tests/registry_dump.h"
#include "platform/base/tests/test_home.h"
#include "platform/com/classfactory.h"
#include "platform/com/com_ptr.h"
#include "platform/com/guid.h"
#include "platform/com/typeinfo.h"
#include "platform/outlook/extensibility.h"
#include "tolvane/ids.h"

namespace quillory::testing {
namespace {

using Lines = std::set<std::string>;
using ServerEntry = HRESULT (*)();

// The keys and values registration writes for a library at `module`.
Lines Expected(const std::string& module)
{
    const std::string addin = "CLSID\\{4A9C87D8-D7B2-4102-85E1-73A0B3420C31}";
    const std::string page = "CLSID\\{BA90A421-0038-4694-965B-ED932BB7EF34}";
    const std::string appId = "{1AA5E393-BCF2-4526-AB2D-A93F54A81BC8}";
    const std::string lib = "{BB506285-5892-483E-85AB-03ABB06D6CD4}";
    const std::string typeLib = "TypeLib\\" + lib + "\\1.0";
    const std::string itf = "Interface\\{EAC5E94B-A8D8-443C-B65C-99172421381A}";
    const std::string dir = std::filesystem::path(module).parent_path().string();
    return {
        "AppID", "AppID\\" + appId, "AppID\\" + appId + "|=1:tolvane", "AppID\\tolvane.DLL",
        "AppID\\tolvane.DLL|AppID=1:" + appId,
        "CLSID",
        addin, addin + "|=1:OutlookAddin Class", addin + "|AppID=1:" + appId, addin + "\\InprocServer32",
        addin + "\\InprocServer32|=1:" + module, addin + "\\InprocServer32|ThreadingModel=1:Apartment",
        addin + "\\ProgID", addin + "\\ProgID|=1:tolvane.OutlookAddin.1", addin + "\\Programmable",
        addin + "\\TypeLib", addin + "\\TypeLib|=1:" + lib, addin + "\\VersionIndependentProgID",
        addin + "\\VersionIndependentProgID|=1:tolvane.OutlookAddin",
        page, page + "|=1:NNTPPropPage Class", page + "|AppID=1:" + appId, page + "\\Control",
        page + "\\InprocServer32", page + "\\InprocServer32|=1:" + module,
        page + "\\InprocServer32|ThreadingModel=1:Apartment", page + "\\MiscStatus", page + "\\MiscStatus|=1:0",
        page + "\\MiscStatus\\1", page + "\\MiscStatus\\1|=1:131473", page + "\\ProgID",
        page + "\\ProgID|=1:tolvane.NNTPPropPage.1", page + "\\Programmable", page + "\\ToolboxBitmap32",
        page + "\\ToolboxBitmap32|=1:" + module + ", 112", page + "\\TypeLib", page + "\\TypeLib|=1:" + lib,
        page + "\\Version", page + "\\Version|=1:1.0", page + "\\VersionIndependentProgID",
        page + "\\VersionIndependentProgID|=1:tolvane.NNTPPropPage",
        "tolvane.OutlookAddin", "tolvane.OutlookAddin|=1:OutlookAddin Class", "tolvane.OutlookAddin\\CLSID",
        "tolvane.OutlookAddin\\CLSID|=1:{4A9C87D8-D7B2-4102-85E1-73A0B3420C31}", "tolvane.OutlookAddin\\CurVer",
        "tolvane.OutlookAddin\\CurVer|=1:tolvane.OutlookAddin.1", "tolvane.OutlookAddin.1",
        "tolvane.OutlookAddin.1|=1:OutlookAddin Class", "tolvane.OutlookAddin.1\\CLSID",
        "tolvane.OutlookAddin.1\\CLSID|=1:{4A9C87D8-D7B2-4102-85E1-73A0B3420C31}",
        "tolvane.NNTPPropPage", "tolvane.NNTPPropPage|=1:NNTPPropPage Class", "tolvane.NNTPPropPage\\CLSID",
        "tolvane.NNTPPropPage\\CLSID|=1:{BA90A421-0038-4694-965B-ED932BB7EF34}", "tolvane.NNTPPropPage\\CurVer",
        "tolvane.NNTPPropPage\\CurVer|=1:tolvane.NNTPPropPage.1", "tolvane.NNTPPropPage.1",
        "tolvane.NNTPPropPage.1|=1:NNTPPropPage Class", "tolvane.NNTPPropPage.1\\CLSID",
        "tolvane.NNTPPropPage.1\\CLSID|=1:{BA90A421-0038-4694-965B-ED932BB7EF34}",
        "TypeLib", "TypeLib\\" + lib, typeLib, typeLib + "|=1:tolvane 1.0 Type Library", typeLib + "\\0",
        typeLib + "\\0\\linux", typeLib + "\\0\\linux|=1:" + module, typeLib + "\\FLAGS", typeLib + "\\FLAGS|=1:0",
        typeLib + "\\HELPDIR", typeLib + "\\HELPDIR|=1:" + dir,
        "Interface", itf, itf + "|=1:IOutlookAddin", itf + "\\ProxyStubClsid32",
        itf + "\\ProxyStubClsid32|=1:{00020424-0000-0000-C000-000000000046}", itf + "\\TypeLib",
        itf + "\\TypeLib|=1:" + lib, itf + "\\TypeLib|Version=1:1.0",
    };
}

class Registration : public ::testing::Test {
protected:
    HMODULE Load(const std::filesystem::path& file)
    {
        HMODULE module = LoadLibrary(file.c_str());
        EXPECT_TRUE(module) << LastModuleError();
        return module;
    }
    static HRESULT Call(HMODULE module, const char* entry)
    {
        auto f = reinterpret_cast<ServerEntry>(GetProcAddress(module, entry));
        return f ? f() : E_FAIL;
    }
    TempHome home;
};

TEST_F(Registration, RegisteringWritesExactlyTheScriptsKeysAndRemovalLeavesTheKeptParents)
{
    const std::filesystem::path library = BuildLibDir() / "libtolvane.so";
    HMODULE module = Load(library);
    ASSERT_TRUE(module);
    ASSERT_EQ(Call(module, "DllRegisterServer"), S_OK);
    EXPECT_EQ(RegistryTree(HKEY_CLASSES_ROOT), Expected(ModulePathOf(reinterpret_cast<void*>(GetProcAddress(module, "DllTest")))));
    // Again over what is there: the same.
    ASSERT_EQ(Call(module, "DllRegisterServer"), S_OK);
    EXPECT_EQ(RegistryTree(HKEY_CLASSES_ROOT).size(), Expected(library.string()).size());

    ASSERT_EQ(Call(module, "DllUnregisterServer"), S_OK);
    EXPECT_EQ(RegistryTree(HKEY_CLASSES_ROOT), (Lines{"AppID", "CLSID", "Interface", "TypeLib"}));
    EXPECT_EQ(Call(module, "DllUnregisterServer"), S_OK);  // nothing left to remove is no failure
    FreeLibrary(module);
}

TEST_F(Registration, AModulePathWithQuotesAndBracesIsWrittenAsItIs)
{
    const std::filesystem::path dir = home.path() / "it's } HKCU { Evil = s 'x";
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(BuildLibDir() / "libtolvane.so", dir / "libtolvane.so");
    HMODULE module = Load(dir / "libtolvane.so");
    ASSERT_TRUE(module);
    ASSERT_EQ(Call(module, "DllRegisterServer"), S_OK);
    const std::string path = ModulePathOf(reinterpret_cast<void*>(GetProcAddress(module, "DllTest")));
    EXPECT_EQ(path, (dir / "libtolvane.so").string());
    EXPECT_EQ(RegistryTree(HKEY_CLASSES_ROOT), Expected(path));
    EXPECT_TRUE(RegistryTree(HKEY_CURRENT_USER).empty());
    ASSERT_EQ(Call(module, "DllUnregisterServer"), S_OK);
    FreeLibrary(module);
}

TEST_F(Registration, TheRegisteredClassMakesAggregatableAddinsAndKeepsTheLibraryLoaded)
{
    HMODULE module = Load(BuildLibDir() / "libtolvane.so");
    ASSERT_TRUE(module);
    ASSERT_EQ(Call(module, "DllRegisterServer"), S_OK);
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID("tolvane.OutlookAddin", &clsid), S_OK);
    EXPECT_EQ(clsid, tolvane::CLSID_OutlookAddin);
    EXPECT_EQ(Call(module, "DllCanUnloadNow"), S_OK);
    {
        ComPtr<IDTExtensibility2> addin;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDTExtensibility2, addin.AsVoidOut()), S_OK);
        EXPECT_EQ(Call(module, "DllCanUnloadNow"), S_FALSE);
        EXPECT_EQ(addin->OnStartupComplete(nullptr), E_NOTIMPL);
        ComPtr<IDispatch> dispatch;
        ASSERT_EQ(addin->QueryInterface(IID_IDispatch, dispatch.AsVoidOut()), S_OK);
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &info), S_OK);  // from the library's own type library
        // Aggregated: only the inner IUnknown may be asked for.
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.AsVoidOut()), S_OK);
        ComPtr<IUnknown> inner;
        void* none = nullptr;
        EXPECT_EQ(factory->CreateInstance(addin.Get(), IID_IDTExtensibility2, &none), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(factory->CreateInstance(addin.Get(), IID_IUnknown, inner.AsVoidOut()), S_OK);
    }
    EXPECT_EQ(Call(module, "DllCanUnloadNow"), S_OK);
    // The options page is registered but made by the folder-handling part.
    ComPtr<IUnknown> page;
    EXPECT_EQ(CoCreateInstance(tolvane::CLSID_NNTPPropPage, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, page.AsVoidOut()),
              CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(Call(module, "DllUnregisterServer"), S_OK);
    FreeLibrary(module);
}

TEST_F(Registration, TheLoadTestBeepsFourTimes)
{
    auto presenter = std::make_shared<CScriptedPresenter>();
    auto previous = SetMessageBoxPresenter(presenter);
    HMODULE module = Load(BuildLibDir() / "libtolvane.so");
    ASSERT_TRUE(module);
    EXPECT_EQ(Call(module, "DllTest"), 0);
    EXPECT_EQ(presenter->Beeps(), std::vector<UINT>(4, MB_ICONEXCLAMATION));
    SetMessageBoxPresenter(previous);
    FreeLibrary(module);
}

}  // namespace
}  // namespace quillory::testing
