// The add-in connected to the object model: the base folder and the add-in
// window it publishes, the button on every explorer, the options page, the
// notices of its window, and a connection that fails or ends leaving nothing
// advised.
#include <gtest/gtest.h>

#include <thread>

#include "common/regstore.h"
#include "platform/base/msgbox.h"
#include "platform/com/dispatch_member.h"
#include "platform/mapi/mapiutil.h"
#include "platform/outlook/model.h"
#include "platform/outlook/tests/outlook_test_util.h"
#include "provider/settings/addin_window.h"
#include "tolvane/addin.h"
#include "tolvane/addin_window.h"
#include "tolvane/gate.h"
#include "tolvane/ids.h"
#include "tolvane/module.h"

namespace quillory::testing {
namespace {

class Addin : public ::testing::Test {
protected:
    void SetUp() override
    {
        presenter_ = std::make_shared<CScriptedPresenter>();
        previous_ = SetMessageBoxPresenter(presenter_);
        admin_ = ProfAdmin();
        ASSERT_EQ(admin_->CreateProfile(const_cast<LPSTR>("P"), nullptr, 0, 0), S_OK);
        // The host's session is the one the add-in's substitute session shares.
        ASSERT_EQ(MAPILogonEx(0, const_cast<LPSTR>("P"), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_ALLOW_OTHERS,
                              &session_),
                  S_OK);
        ASSERT_EQ(outlook::CreateApplication(session_.Get(), &host_, &app_), S_OK);
        ASSERT_EQ(WriteRegDword(ProfileKeyPath("P"), tolvane::kValEnabled, 1), ERROR_SUCCESS);
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(tolvane::Module().GetClassObject(tolvane::CLSID_OutlookAddin, IID_IClassFactory, factory.AsVoidOut()),
                  S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDTExtensibility2, addin_.AsVoidOut()), S_OK);
    }
    void TearDown() override
    {
        if (addin_) addin_->OnDisconnection(ext_dm_HostShutdown, nullptr);
        addin_ = nullptr;
        if (app_) outlook::ShutdownApplication(app_.Get());
        app_ = nullptr;
        if (session_) session_->Logoff(0, 0, 0);
        SetMessageBoxPresenter(previous_);
    }

    ComPtr<_Explorer> OpenExplorer()
    {
        ComPtr<_NameSpace> ns;
        ComPtr<MAPIFolder> inbox;
        ComPtr<_Explorers> explorers;
        ComPtr<_Explorer> explorer;
        EXPECT_EQ(app_->get_Session(&ns), S_OK);
        EXPECT_EQ(ns->GetDefaultFolder(olFolderInbox, &inbox), S_OK);
        EXPECT_EQ(app_->get_Explorers(&explorers), S_OK);
        EXPECT_EQ(explorers->Add(CComVariant::Dispatch(inbox.Get()), CComVariant::Missing(), &explorer), S_OK);
        EXPECT_EQ(explorer->Activate(), S_OK);
        return explorer;
    }

    // The captions of the Tools menu, in order.
    static std::vector<std::string> ToolsMenu(_Explorer* explorer)
    {
        ComPtr<_CommandBars> bars;
        ComPtr<CommandBarControl> options;
        ComPtr<CommandBar> tools;
        ComPtr<CommandBarControls> controls;
        std::vector<std::string> captions;
        if (FAILED(explorer->get_CommandBars(&bars)) ||
            FAILED(bars->FindControl(CComVariant::Missing(), CComVariant::Long(522), CComVariant::Missing(),
                                     CComVariant::Missing(), &options)) ||
            !options || FAILED(options->get_Parent(&tools)) || FAILED(tools->get_Controls(&controls)))
            return captions;
        LONG count = 0;
        controls->get_Count(&count);
        for (LONG i = 1; i <= count; ++i) {
            ComPtr<CommandBarControl> c;
            CComBSTR caption;
            if (SUCCEEDED(controls->get_Item(CComVariant::Long(i), &c))) c->get_Caption(&caption);
            captions.push_back(caption.Str());
        }
        return captions;
    }

    static void Pump()
    {
        MSG msg;
        while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
    }

    MapiHome home_;
    std::shared_ptr<CScriptedPresenter> presenter_;
    std::shared_ptr<IMessageBoxPresenter> previous_;
    ComPtr<IProfAdmin> admin_;
    ComPtr<IMAPISession> session_;
    CRecordingHost host_;
    ComPtr<_Application> app_;
    ComPtr<IDTExtensibility2> addin_;
};

TEST_F(Addin, ConnectionMakesTheBaseFolderAndPublishesItsIdsForTheProvider)
{
    ComPtr<_Explorer> before = OpenExplorer();  // already open: wrapped at connection
    ASSERT_EQ(addin_->OnConnection(app_.Get(), ext_cm_Startup, nullptr, nullptr), S_OK);

    RegBaseFolder reg;
    ASSERT_TRUE(ReadBaseFolder("P", reg));
    std::string name;
    ReadRegString(ProfileKeyPath("P"), kValBaseFolder, name, kBaseFolderNameBufferSize, "");
    EXPECT_EQ(name, "Newsgroups");

    // The provider finds the window by its class and reads the same folder from its text.
    const auto text = ReadAddinWindowText("P");
    ASSERT_TRUE(text);
    const AddinWindowText fields = ParseAddinWindowText(*text);
    EXPECT_EQ(fields.fields, 4);
    EXPECT_EQ(fields.folderHex, BinToHex(reg.FolderEntryId()));
    EXPECT_EQ(fields.folderHex.find_first_of("abcdef"), std::string::npos);
    auto folderId = EntryIdFromHexField(fields.folderHex);
    const auto storeId = EntryIdFromHexField(fields.storeHex);
    ASSERT_TRUE(folderId && storeId);
    EXPECT_TRUE(std::equal(folderId->begin(), folderId->end(), reg.FolderEntryId().begin(), reg.FolderEntryId().end()));
    ULONG type = 0;
    ComPtr<IUnknown> folder;
    ASSERT_EQ(session_->OpenEntry(static_cast<ULONG>(folderId->size()), reinterpret_cast<LPENTRYID>(folderId->data()),
                                  nullptr, 0, &type, &folder),
              S_OK);
    EXPECT_EQ(type, MAPI_FOLDER);

    // Every explorer, open before or after, gets the button before "Options...".
    const std::vector<std::string> expected = {"Send/Re&ceive", "E-mail &Accounts...", "Newsgroups...", "&Options..."};
    EXPECT_EQ(ToolsMenu(before.Get()), expected);
    ComPtr<_Explorer> after = OpenExplorer();
    EXPECT_EQ(ToolsMenu(after.Get()), expected);

    // Disconnection takes the window and the buttons away.
    ASSERT_EQ(addin_->OnDisconnection(ext_dm_HostShutdown, nullptr), S_OK);
    EXPECT_FALSE(FindAddinWindow("P"));
    EXPECT_EQ(ToolsMenu(after.Get()).size(), 3u);
    ComPtr<_Explorer> later = OpenExplorer();
    EXPECT_EQ(ToolsMenu(later.Get()).size(), 3u);
}

TEST_F(Addin, AStoredBaseFolderIsUsedAndADamagedOneReplaced)
{
    // A folder of the user's choice stays the base folder.
    ComPtr<_NameSpace> ns;
    ComPtr<MAPIFolder> inbox, chosen;
    ComPtr<_Folders> folders;
    ASSERT_EQ(app_->get_Session(&ns), S_OK);
    ASSERT_EQ(ns->GetDefaultFolder(olFolderInbox, &inbox), S_OK);
    ASSERT_EQ(inbox->get_Folders(&folders), S_OK);
    ASSERT_EQ(folders->Add(CComBSTR("My News").Get(), CComVariant::Missing(), &chosen), S_OK);
    CComBSTR folderHex, storeHex;
    chosen->get_EntryID(&folderHex);
    chosen->get_StoreID(&storeHex);
    ASSERT_EQ(WriteBaseFolder("P", "My News", *HexToBin(folderHex.View()), *HexToBin(storeHex.View())), ERROR_SUCCESS);
    ASSERT_EQ(addin_->OnConnection(app_.Get(), ext_cm_Startup, nullptr, nullptr), S_OK);
    EXPECT_EQ(ParseAddinWindowText(*ReadAddinWindowText("P")).folderHex, folderHex.Str());
    ASSERT_EQ(addin_->OnDisconnection(ext_dm_HostShutdown, nullptr), S_OK);

    // One that is gone is replaced by "Newsgroups" in the Inbox.
    ASSERT_EQ(chosen->Delete(), S_OK);
    chosen = nullptr;
    Pump();
    ASSERT_EQ(addin_->OnConnection(app_.Get(), ext_cm_Startup, nullptr, nullptr), S_OK);
    std::string name;
    ReadRegString(ProfileKeyPath("P"), kValBaseFolder, name, kBaseFolderNameBufferSize, "");
    EXPECT_EQ(name, "Newsgroups");
    EXPECT_NE(ParseAddinWindowText(*ReadAddinWindowText("P")).folderHex, folderHex.Str());
}

TEST_F(Addin, TheOptionsDialogGetsTheNntpPage)
{
    ASSERT_EQ(addin_->OnConnection(app_.Get(), ext_cm_Startup, nullptr, nullptr), S_OK);
    std::vector<outlook::OptionsPage> pages;
    ASSERT_EQ(outlook::CollectOptionsPages(app_.Get(), pages), S_OK);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(VariantText(pages[0].page), "tolvane.NNTPPropPage");
    EXPECT_EQ(pages[0].title, "NNTP");
}

TEST_F(Addin, AnExplorerClosingInItsOwnEventLosesItsButtonAndTheOtherSinksStillHear)
{
    ASSERT_EQ(addin_->OnConnection(app_.Get(), ext_cm_Startup, nullptr, nullptr), S_OK);
    ComPtr<_Explorer> explorer = OpenExplorer();
    ComPtr<_CommandBars> bars;
    ComPtr<CommandBarControl> button;
    ASSERT_EQ(explorer->get_CommandBars(&bars), S_OK);
    ASSERT_EQ(bars->FindControl(CComVariant::Missing(), CComVariant::Missing(), CComVariant::Missing(),
                                CComVariant::Missing(), &button),
              S_OK);
    int closes = 0;
    // Advised after the add-in's sinks, which unadvise themselves in the same event.
    Advised mine(explorer.Get(), DIID_ExplorerEvents, [&](DISPID id, DISPPARAMS*) { closes += id == DISPID_ExplorerClose; });
    const int before = host_.menuChanges;
    ASSERT_EQ(explorer->Close(), S_OK);
    EXPECT_EQ(closes, 1);
    EXPECT_GT(host_.menuChanges, before);  // the button was deleted
    // A new inspector runs the purge step, which drops the closed wrapper.
    ComPtr<_Items> items;
    ComPtr<IDispatch> item;
    ComPtr<_NameSpace> ns;
    ComPtr<MAPIFolder> inbox;
    ASSERT_EQ(app_->get_Session(&ns), S_OK);
    ASSERT_EQ(ns->GetDefaultFolder(olFolderInbox, &inbox), S_OK);
    ASSERT_EQ(inbox->get_Items(&items), S_OK);
    ASSERT_EQ(items->Add(CComVariant::Long(olPostItem), &item), S_OK);
    ASSERT_EQ(DispCall(item.Get(), "Display", {}), S_OK);
}

// Sends WM_COPYDATA to the add-in window from another thread, as the
// provider does, while this thread pumps.
void SendNotice(HWND window, ULONG_PTR code, const void* data, DWORD size)
{
    std::atomic<bool> done{false};
    std::thread sender([&] {
        COPYDATASTRUCT cds{code, size, const_cast<void*>(data)};
        EXPECT_EQ(SendMessage(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), 0);
        done = true;
    });
    while (!done) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
    }
    sender.join();
}

TEST_F(Addin, TheWindowIgnoresMalformedNoticesAndFillsUserTextOnlyWhereTheMessageSays)
{
    ASSERT_EQ(addin_->OnConnection(app_.Get(), ext_cm_Startup, nullptr, nullptr), S_OK);
    HWND window = FindAddinWindow("P");
    ASSERT_TRUE(window);
    const char unterminated[] = {'n', 'e', 'w', 's'};
    SendNotice(window, tolvane::kCopyDataAccountCreated, unterminated, sizeof unterminated);
    SendNotice(window, tolvane::kCopyDataAccountCreated, nullptr, 40);
    SendNotice(window, tolvane::kCopyDataAccountRenamed, "old\0new", 7);
    SendNotice(window, 700, "x", 1);  // not the add-in's: the default procedure
    EXPECT_TRUE(presenter_->Boxes().empty());

    // An account name with printf conversions is text, nothing else.
    const char name[] = "100% %s %n news";
    SendNotice(window, tolvane::kCopyDataAccountCreated, name, sizeof name);
    const auto boxes = presenter_->Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("\"100% %s %n news\""), std::string::npos) << boxes[0].text;
    EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));

    // A rename moves the account folder's name under the base folder.
    ComPtr<_NameSpace> ns;
    ComPtr<MAPIFolder> inbox, base, account;
    ComPtr<_Folders> folders;
    ASSERT_EQ(app_->get_Session(&ns), S_OK);
    ASSERT_EQ(ns->GetDefaultFolder(olFolderInbox, &inbox), S_OK);
    ASSERT_EQ(inbox->get_Folders(&folders), S_OK);
    ASSERT_EQ(folders->Item(CComVariant::Text("Newsgroups"), &base), S_OK);
    ASSERT_EQ(base->get_Folders(&folders), S_OK);
    ASSERT_EQ(folders->Add(CComBSTR("old").Get(), CComVariant::Missing(), &account), S_OK);
    SendNotice(window, tolvane::kCopyDataAccountRenamed, "old\0new\0", 8);
    EXPECT_EQ(NameOf(account.Get()), "new");
}

// ---- a host whose explorers cannot be advised ----

class CFakeInspectors final : public CDispatchImpl<_Inspectors>, public IConnectionPointContainer, public CRefCounted {
public:
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv,
                                   {{&IID__Inspectors, static_cast<_Inspectors*>(this)},
                                    {&IID_IDispatch, static_cast<_Inspectors*>(this)},
                                    {&IID_IConnectionPointContainer, static_cast<IConnectionPointContainer*>(this)}});
    }
    HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** out) override
    {
        return FindConnectionPointIn({&point}, riid, out);
    }
    HRESULT get_Application(_Application**) override { return E_NOTIMPL; }
    HRESULT get_Count(LONG* out) override { return *out = 0, S_OK; }
    HRESULT Item(VARIANT, _Inspector**) override { return E_NOTIMPL; }
    HRESULT Add(IDispatch*, _Inspector**) override { return E_NOTIMPL; }
    CConnectionPoint point{static_cast<_Inspectors*>(this), DIID_InspectorsEvents};

protected:
    DispTable Members() const override { return {}; }
    std::string_view InterfaceName() const override { return "_Inspectors"; }
};

// Explorers without connection points: advising on them fails.
class CFakeExplorers final : public CDispatchImpl<_Explorers>, public CRefCounted {
public:
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID__Explorers, this}, {&IID_IDispatch, this}});
    }
    HRESULT get_Application(_Application**) override { return E_NOTIMPL; }
    HRESULT get_Count(LONG* out) override { return *out = 0, S_OK; }
    HRESULT Item(VARIANT, _Explorer**) override { return E_NOTIMPL; }
    HRESULT Add(VARIANT, VARIANT, _Explorer**) override { return E_NOTIMPL; }

protected:
    DispTable Members() const override { return {}; }
    std::string_view InterfaceName() const override { return "_Explorers"; }
};

class CFakeApplication final : public CDispatchImpl<_Application>, public CRefCounted {
public:
    QUILLORY_IUNKNOWN_REFCOUNT
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID__Application, this}, {&IID_IDispatch, this}});
    }
    HRESULT get_Name(BSTR*) override { return E_NOTIMPL; }
    HRESULT get_Version(BSTR*) override { return E_NOTIMPL; }
    HRESULT get_Session(_NameSpace**) override { return E_NOTIMPL; }
    HRESULT GetNamespace(BSTR, _NameSpace**) override { return E_NOTIMPL; }
    HRESULT get_Explorers(_Explorers** out) override
    {
        explorers->AddRef();
        *out = explorers.Get();
        return S_OK;
    }
    HRESULT get_Inspectors(_Inspectors** out) override
    {
        inspectors->AddRef();
        *out = inspectors.Get();
        return S_OK;
    }
    HRESULT ActiveExplorer(_Explorer**) override { return E_NOTIMPL; }
    HRESULT ActiveInspector(_Inspector**) override { return E_NOTIMPL; }
    ComPtr<CFakeInspectors> inspectors = ComPtr<CFakeInspectors>::Attach(NewComObject<CFakeInspectors>());
    ComPtr<CFakeExplorers> explorers = ComPtr<CFakeExplorers>::Attach(NewComObject<CFakeExplorers>());

protected:
    DispTable Members() const override { return {}; }
    std::string_view InterfaceName() const override { return "_Application"; }
};

TEST_F(Addin, AFailedConnectionLeavesNothingAdvisedNorAWindow)
{
    auto fake = ComPtr<CFakeApplication>::Attach(NewComObject<CFakeApplication>());
    EXPECT_EQ(addin_->OnConnection(fake.Get(), ext_cm_Startup, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(fake->inspectors->point.SinkCount(), 0u);  // the inspectors' sink was taken back
    EXPECT_FALSE(FindAddinWindow("P"));
    // An object that is no application: E_FAIL before anything else.
    EXPECT_EQ(addin_->OnConnection(fake->explorers.Get(), ext_cm_Startup, nullptr, nullptr), E_FAIL);
    // Connecting again to a real application works.
    EXPECT_EQ(addin_->OnConnection(app_.Get(), ext_cm_Startup, nullptr, nullptr), S_OK);
}

TEST_F(Addin, AnInactiveProfileHooksNothing)
{
    ASSERT_EQ(WriteRegDword(ProfileKeyPath("P"), tolvane::kValEnabled, 0), ERROR_SUCCESS);
    EXPECT_EQ(addin_->OnConnection(app_.Get(), ext_cm_Startup, nullptr, nullptr), S_FALSE);
    EXPECT_FALSE(FindAddinWindow("P"));
    ComPtr<_Explorer> explorer = OpenExplorer();
    EXPECT_EQ(ToolsMenu(explorer.Get()).size(), 3u);
    RegBaseFolder reg;
    EXPECT_FALSE(ReadBaseFolder("P", reg));
}

}  // namespace
}  // namespace quillory::testing
