// The library's entries: XPProviderInit's version check and the 20-second
// rule after the settings dialog, ServiceEntry by context, and the library
// loaded by name as the spooler loads it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/base/module.h"
#include "platform/base/time.h"
#include "platform/mapi/mapisvc_inf.h"
#include "provider/entry/gui_binding.h"
#include "platform/base/msgbox.h"
#include "provider/entry/service_entry.h"
#include "provider/entry/wizard_page.h"
#include "provider/logon/tests/logon_test_support.h"

namespace quillory::testing {
namespace {

HRESULT Init(ULONG version = CURRENT_SPI_VERSION)
{
    ComPtr<IXPProvider> provider;
    ULONG providerVersion = 0;
    const HRESULT hr = ProviderInit(nullptr, nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, 0,
                                    version, &providerVersion, &provider);
    if (SUCCEEDED(hr)) {
        EXPECT_EQ(providerVersion, CURRENT_SPI_VERSION);
        EXPECT_TRUE(provider);
    }
    return hr;
}

class ProviderInitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        quarnex::ResetModuleStateForTests();
        SetTickCountSource([this] { return now_; });
    }
    void TearDown() override
    {
        ResetTickCountSource();
        quarnex::ResetModuleStateForTests();
    }
    DWORD now_ = 5000;
};

TEST_F(ProviderInitTest, OlderInterfaceVersionIsRefused)
{
    EXPECT_EQ(Init(CURRENT_SPI_VERSION - 1), MAPI_E_VERSION);
    EXPECT_EQ(Init(), S_OK);
}

TEST_F(ProviderInitTest, RefusedForTwentySecondsAfterTheSettingsDialog)
{
    EXPECT_EQ(Init(), S_OK);  // never closed: no wait
    quarnex::RecordSettingsClosed();
    now_ += 19999;
    EXPECT_EQ(Init(), E_FAIL);
    now_ += 1;
    EXPECT_EQ(Init(), S_OK);
}

TEST_F(ProviderInitTest, TheRuleHoldsAcrossTheTickCountWrap)
{
    now_ = 0xFFFFF000u;
    quarnex::RecordSettingsClosed();
    now_ = 0x00001000u;  // 8192 ms later
    EXPECT_EQ(Init(), E_FAIL);
    now_ = 0xFFFFF000u + 20000u;
    EXPECT_EQ(Init(), S_OK);
}

TEST_F(ProviderInitTest, AllocatorsAreKeptFromTheFirstCaller)
{
    auto custom = [](ULONG size, void** out) -> SCODE { return MAPIAllocateBuffer(size, out); };
    ComPtr<IXPProvider> provider;
    ULONG version = 0;
    ASSERT_EQ(ProviderInit(nullptr, nullptr, custom, MAPIAllocateMore, MAPIFreeBuffer, 0, CURRENT_SPI_VERSION,
                           &version, &provider),
              S_OK);
    EXPECT_EQ(quarnex::ModuleAllocators().allocateBuffer, custom);
    ASSERT_EQ(Init(), S_OK);
    EXPECT_EQ(quarnex::ModuleAllocators().allocateBuffer, custom);
}

class ServiceEntryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(home_.Services()->AdminProviders(const_cast<MAPIUID*>(&home_.ServiceUid()), 0, &admin_), S_OK);
    }
    HRESULT Entry(ULONG context, ULONG flags, std::vector<SPropValue> values = {})
    {
        return ServiceEntryImpl(nullptr, nullptr, nullptr, 0, flags, context, static_cast<ULONG>(values.size()),
                                values.empty() ? nullptr : values.data(), admin_.Get(), nullptr);
    }
    TransportHome home_;
    ComPtr<IProviderAdmin> admin_;
};

TEST_F(ServiceEntryTest, ConfigureWithoutInterfaceStoresTheValues)
{
    SPropValue server{};
    server.ulPropTag = acct::PR_NNTP_SERVER;
    server.Value.lpszA = S("news.example.net");
    SPropValue port{};
    port.ulPropTag = acct::PR_NNTP_PORT;
    port.Value.l = 563;
    ASSERT_EQ(Entry(MSG_SERVICE_CONFIGURE, 0, {server, port}), S_OK);
    quarnex::ProviderBuffer<SPropValue> stored;
    ASSERT_EQ(HrGetOneProp(home_.ServiceSection().Get(), acct::PR_NNTP_SERVER, stored.Out()), S_OK);
    EXPECT_STREQ(stored->Value.lpszA, "news.example.net");
    ASSERT_EQ(HrGetOneProp(home_.ServiceSection().Get(), acct::PR_NNTP_PORT, stored.Out()), S_OK);
    EXPECT_EQ(stored->Value.l, 563);

    EXPECT_EQ(Entry(MSG_SERVICE_CONFIGURE, 0), E_FAIL);  // nothing to store
}

TEST_F(ServiceEntryTest, DialogsNeedTheGuiLibrary)
{
    WriteRegString(kMainKey, kValVismora, "nosuchgui.dll");
    EXPECT_EQ(Entry(MSG_SERVICE_CREATE, 0), E_FAIL);  // no interface allowed
    EXPECT_EQ(Entry(MSG_SERVICE_CREATE, SERVICE_UI_ALWAYS), E_FAIL);
    EXPECT_EQ(Entry(MSG_SERVICE_CONFIGURE, SERVICE_UI_ALLOWED), E_FAIL);
    EXPECT_FALSE(CGuiExport(vismora::kSettingsGui).Available());
    // A failed dialog start does not hold the spooler back.
    EXPECT_EQ(quarnex::SettingsClosedTick(), 0u);
}

TEST_F(ServiceEntryTest, OtherContextsAndFlags)
{
    EXPECT_EQ(Entry(MSG_SERVICE_INSTALL, 0), S_OK);
    EXPECT_EQ(Entry(MSG_SERVICE_UNINSTALL, 0), S_OK);
    EXPECT_EQ(Entry(MSG_SERVICE_DELETE, 0), S_OK);
    EXPECT_EQ(Entry(MSG_SERVICE_PROVIDER_CREATE, 0), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(Entry(MSG_SERVICE_PROVIDER_DELETE, 0), MAPI_E_NO_SUPPORT);
    EXPECT_EQ(Entry(MSG_SERVICE_CONFIGURE, MAPI_UNICODE), MAPI_E_BAD_CHARWIDTH);
    EXPECT_EQ(ServiceEntryImpl(nullptr, nullptr, nullptr, 0, SERVICE_UI_ALWAYS, MSG_SERVICE_CREATE, 0, nullptr,
                               nullptr, nullptr),
              E_FAIL);  // no section to open
}

TEST(ProviderLibrary, LoadedByItsServiceListNameItStartsAProvider)
{
    TempHome home;
    setenv("QUILLORY_LIBPATH", BuildLibDir().c_str(), 1);
    // The service list names "quarnex.dll"; MAPI loads it with "32" added.
    HMODULE library = LoadLibrary(ProviderLibraryName("quarnex.dll").c_str());
    ASSERT_NE(library, nullptr) << LastModuleError();
    auto init = reinterpret_cast<LPXPPROVIDERINIT>(GetProcAddress(library, "XPProviderInit"));
    ASSERT_NE(init, nullptr);
    EXPECT_NE(GetProcAddress(library, "ServiceEntry"), nullptr);
    EXPECT_NE(GetProcAddress(library, "WizardEntry"), nullptr);
    EXPECT_NE(GetProcAddress(library, "Ok"), nullptr);
    EXPECT_EQ(GetProcAddress(library, "ProviderInit"), nullptr);  // nothing else is exported
    LPXPPROVIDER provider = nullptr;
    ULONG version = 0;
    ASSERT_EQ(init(library, nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, 0, CURRENT_SPI_VERSION,
                   &version, &provider),
              S_OK);
    EXPECT_EQ(version, CURRENT_SPI_VERSION);
    ULONG flags = 0;
    EXPECT_EQ(provider->Shutdown(&flags), S_OK);
    provider->Release();
    FreeLibrary(library);
    unsetenv("QUILLORY_LIBPATH");
}

}  // namespace
}  // namespace quillory::testing

namespace quillory::testing {
namespace {

TEST(WizardPage, NextOnTheAccountPageWaitsForTheAccount)
{
    TempHome home;
    ResetWizardPageForTests();
    auto presenter = std::make_shared<CScriptedPresenter>();
    auto previous = SetMessageBoxPresenter(presenter);
    LPSTR resource = nullptr;
    WizardPageProc proc = nullptr;
    HINSTANCE self = GetModuleHandle(nullptr);
    EXPECT_EQ(WizardEntryImpl(self, &resource, &proc, nullptr, nullptr), 0u);
    EXPECT_STREQ(resource, "RESDLG_NEW_WIZ_PAGES");
    ASSERT_EQ(proc, &WizardPage);

    // The host makes the page from the provider's template and procedure.
    HWND page = CreateDialogParam(self, resource, nullptr, proc, 0);
    ASSERT_NE(page, nullptr);
    char text[128] = {};
    GetDlgItemText(page, IDC_SETUP_ACCOUNT, text, sizeof text);
    EXPECT_STREQ(text, "&Setup account");  // no GUI library: the template's text stays
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, IDC_HIDDEN_STATIC)));
    EXPECT_EQ(SendMessage(page, WIZ_QUERYNUMPAGES, 0, 0), 1);

    EXPECT_EQ(SendMessage(page, WM_COMMAND, WIZ_NEXT, 0), TRUE);
    EXPECT_EQ(WizardPageIndex(), 1);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, IDC_SETUP_ACCOUNT)));
    EXPECT_EQ(SendMessage(page, WM_COMMAND, WIZ_NEXT, 0), 0);  // not configured: stays
    EXPECT_EQ(WizardPageIndex(), 1);
    ASSERT_EQ(presenter->Boxes().size(), 1u);
    EXPECT_EQ(presenter->Boxes()[0].caption, "News server account is not configured");
    EXPECT_EQ(presenter->Boxes()[0].style, MB_ICONWARNING);
    // Without a GUI library the account wizard does not run and the page stays unconfigured.
    ClickDialogControl(GetDlgItem(page, IDC_SETUP_ACCOUNT));
    EXPECT_FALSE(WizardPageConfigured());
    // Leaving index 1 hides and disables the button and its text.
    EXPECT_EQ(SendMessage(page, WM_COMMAND, WIZ_PREV, 0), TRUE);
    EXPECT_EQ(WizardPageIndex(), 0);
    for (UINT id : {IDC_SETUP_ACCOUNT, IDC_SETUP_TEXT}) {
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(page, static_cast<int>(id))));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, static_cast<int>(id))));
    }
    EXPECT_EQ(SendMessage(page, WM_CLOSE, 0, 0), TRUE);
    EXPECT_TRUE(DestroyWindow(page));
    SetMessageBoxPresenter(previous);
    ResetWizardPageForTests();
}

}  // namespace
}  // namespace quillory::testing
