// Windows: inspectors opening in the mail client's order of events,
// explorers with their menus and the buttons add-ins put on them, and the
// pages an options dialog collects.
#include "platform/outlook/tests/outlook_test_util.h"

namespace quillory::testing {
namespace {

using Windows = OutlookModelTest;

ComPtr<_Explorer> OpenExplorer(_Application* app, MAPIFolder* folder)
{
    ComPtr<_Explorers> explorers;
    ComPtr<_Explorer> explorer;
    EXPECT_EQ(app->get_Explorers(&explorers), S_OK);
    EXPECT_EQ(explorers->Add(CComVariant::Dispatch(folder), CComVariant::Missing(), &explorer), S_OK);
    return explorer;
}

TEST_F(Windows, AnInspectorOpensWithNewInspectorThenOpenThenActivate)
{
    ComPtr<MAPIFolder> inbox = Inbox();
    ComPtr<_Items> items;
    ComPtr<IDispatch> item;
    ASSERT_EQ(inbox->get_Items(&items), S_OK);
    ASSERT_EQ(items->Add(CComVariant::Long(olPostItem), &item), S_OK);
    ComPtr<_Inspectors> inspectors;
    ASSERT_EQ(app_->get_Inspectors(&inspectors), S_OK);

    std::vector<std::string> order;
    std::unique_ptr<Advised> inspectorSink;
    Advised itemSink(item.Get(), DIID_ItemEvents, [&](DISPID id, DISPPARAMS*) {
        if (id == DISPID_ItemOpen) order.push_back("Open");
        if (id == DISPID_ItemClose) order.push_back("ItemClose");
    });
    Advised newInspector(inspectors.Get(), DIID_InspectorsEvents, [&](DISPID, DISPPARAMS* p) {
        order.push_back("NewInspector");
        ComPtr<IDispatch> current;
        ASSERT_EQ(DispGetObject(ObjectArg(p, 0), "CurrentItem", current), S_OK);
        EXPECT_EQ(current.Get(), item.Get());
        inspectorSink = std::make_unique<Advised>(ObjectArg(p, 0), DIID_InspectorEvents, [&](DISPID id, DISPPARAMS*) {
            order.push_back(id == DISPID_InspectorActivate ? "Activate" : id == DISPID_InspectorClose ? "Close" : "?");
        });
    });
    ASSERT_EQ(DispCall(item.Get(), "Display", {}), S_OK);
    EXPECT_EQ(order, (std::vector<std::string>{"NewInspector", "Open", "Activate"}));
    EXPECT_EQ(host_.calls, std::vector<std::string>{"InspectorShown"});

    order.clear();
    ComPtr<_Inspector> inspector;
    ASSERT_EQ(app_->ActiveInspector(&inspector), S_OK);
    ASSERT_EQ(inspector->Close(olDiscard), S_OK);
    EXPECT_EQ(order, (std::vector<std::string>{"ItemClose", "Close"}));
    LONG count = -1;
    ASSERT_EQ(inspectors->get_Count(&count), S_OK);
    EXPECT_EQ(count, 0);
}

TEST_F(Windows, CancellingOpenClosesTheInspectorBeforeItIsShown)
{
    ComPtr<_Items> items;
    ComPtr<IDispatch> item;
    ASSERT_EQ(Inbox()->get_Items(&items), S_OK);
    ASSERT_EQ(items->Add(CComVariant::Missing(), &item), S_OK);
    Advised cancel(item.Get(), DIID_ItemEvents, [](DISPID id, DISPPARAMS* p) {
        if (id == DISPID_ItemOpen) *p->rgvarg[0].pboolVal = VARIANT_TRUE;
    });
    ComPtr<_Inspectors> inspectors;
    ComPtr<_Inspector> inspector;
    ASSERT_EQ(app_->get_Inspectors(&inspectors), S_OK);
    EXPECT_EQ(inspectors->Add(item.Get(), &inspector), S_FALSE);
    EXPECT_FALSE(inspector);
    EXPECT_EQ(host_.calls, std::vector<std::string>{"InspectorClosed"});
}

TEST_F(Windows, AnAddinButtonGoesBeforeOptionsAndItsClickReachesItsSinkOnly)
{
    ComPtr<_Explorer> explorer = OpenExplorer(app_.Get(), Inbox().Get());
    ASSERT_TRUE(explorer);
    ComPtr<_CommandBars> bars;
    ASSERT_EQ(explorer->get_CommandBars(&bars), S_OK);
    // The add-in's search: the first of its anchors that the menus have.
    ComPtr<CommandBarControl> anchor;
    for (LONG id : {6863, 5540, 522}) {
        ASSERT_EQ(bars->FindControl(CComVariant::Missing(), CComVariant::Long(id), CComVariant::Missing(),
                                    CComVariant::Missing(), &anchor),
                  S_OK);
        if (anchor) break;
    }
    ASSERT_TRUE(anchor);
    CComBSTR caption;
    ASSERT_EQ(anchor->get_Caption(&caption), S_OK);
    EXPECT_EQ(caption.Str(), "&Options...");
    LONG before = 0;
    ASSERT_EQ(anchor->get_Index(&before), S_OK);
    ComPtr<CommandBar> tools;
    ComPtr<CommandBarControls> controls;
    ComPtr<CommandBarControl> button;
    ASSERT_EQ(anchor->get_Parent(&tools), S_OK);
    ASSERT_EQ(tools->get_Controls(&controls), S_OK);
    ASSERT_EQ(controls->Add(CComVariant::Long(msoControlButton), CComVariant::Missing(), CComVariant::Missing(),
                            CComVariant::Long(before), CComVariant::Bool(true), &button),
              S_OK);
    ASSERT_EQ(DispPut(button.Get(), "Caption", CComVariant::Text("Newsgroups...")), S_OK);
    LONG index = 0, optionsIndex = 0;
    ASSERT_EQ(button->get_Index(&index), S_OK);
    ASSERT_EQ(anchor->get_Index(&optionsIndex), S_OK);
    EXPECT_EQ(index, before);
    EXPECT_EQ(optionsIndex, before + 1);
    EXPECT_GE(host_.menuChanges, 2);

    int clicks = 0;
    {
        Advised click(button.Get(), DIID__CommandBarButtonEvents, [&](DISPID id, DISPPARAMS* p) {
            EXPECT_EQ(id, DISPID_CommandBarButtonClick);
            EXPECT_EQ(ObjectArg(p, 0), static_cast<IDispatch*>(button.Get()));
            ++clicks;
        });
        ASSERT_EQ(button->Execute(), S_OK);
        ASSERT_EQ(anchor->Execute(), S_OK);  // a built-in command goes to the host
    }
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(host_.calls.back(), "Builtin 522");

    // Deleting takes it off the menu; after the window closed, held controls fail.
    ASSERT_EQ(button->Delete(CComVariant::Missing()), S_OK);
    ASSERT_EQ(anchor->get_Index(&optionsIndex), S_OK);
    EXPECT_EQ(optionsIndex, before);
    ASSERT_EQ(explorer->Close(), S_OK);
    EXPECT_EQ(anchor->Execute(), E_FAIL);
    ComPtr<_Explorer> active;
    ASSERT_EQ(app_->ActiveExplorer(&active), S_OK);
    EXPECT_FALSE(active);
}

TEST_F(Windows, ExplorersAnnounceThemselvesActivateAndClose)
{
    ComPtr<_Explorers> explorers;
    ASSERT_EQ(app_->get_Explorers(&explorers), S_OK);
    std::vector<std::string> seen;
    std::unique_ptr<Advised> explorerSink;
    Advised added(explorers.Get(), DIID_ExplorersEvents, [&](DISPID id, DISPPARAMS* p) {
        seen.push_back("NewExplorer");
        explorerSink = std::make_unique<Advised>(ObjectArg(p, 0), DIID_ExplorerEvents, [&](DISPID e, DISPPARAMS*) {
            seen.push_back(e == DISPID_ExplorerActivate ? "Activate" : e == DISPID_ExplorerClose ? "Close" : "Other");
        });
    });
    ComPtr<_Explorer> explorer = OpenExplorer(app_.Get(), Inbox().Get());
    ASSERT_EQ(explorer->Activate(), S_OK);
    ComPtr<MAPIFolder> current;
    ASSERT_EQ(explorer->get_CurrentFolder(&current), S_OK);
    EXPECT_EQ(NameOf(current.Get()), "Inbox");
    outlook::ShutdownApplication(app_.Get());  // closes what is open
    EXPECT_EQ(seen, (std::vector<std::string>{"NewExplorer", "Activate", "Close"}));
    EXPECT_EQ(host_.calls, (std::vector<std::string>{"ExplorerShown", "ExplorerClosed"}));
}

TEST_F(Windows, AnOptionsDialogCollectsThePagesItsSinksAdd)
{
    Advised sink(app_.Get(), DIID_ApplicationEvents, [](DISPID id, DISPPARAMS* p) {
        if (id != DISPID_ApplicationOptionsPagesAdd) return;
        IDispatch* pages = ObjectArg(p, 0);
        EXPECT_EQ(DispCall(pages, "Add", {CComVariant::Text("tolvane.NNTPPropPage"), CComVariant::Text("NNTP")}), S_OK);
        EXPECT_EQ(DispCall(pages, "Add", {CComVariant::Long(5), CComVariant::Text("Bad")}), DISP_E_TYPEMISMATCH);
    });
    std::vector<outlook::OptionsPage> pages;
    ASSERT_EQ(outlook::CollectOptionsPages(app_.Get(), pages), S_OK);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(VariantText(pages[0].page), "tolvane.NNTPPropPage");
    EXPECT_EQ(pages[0].title, "NNTP");
}

}  // namespace
}  // namespace quillory::testing
