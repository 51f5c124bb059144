#include "tolvane/explorer_wrapper.h"

#include "platform/base/trace.h"
#include "platform/com/dispatch.h"
#include "tolvane/addin.h"

namespace quillory::tolvane {

namespace {

// The built-in controls the button goes before, the first found.
constexpr LONG kButtonAnchors[] = {6863, 5540, 522};

constexpr int kCloseSink = 1;
constexpr int kActivateSink = 2;
constexpr int kItemSink = 3;
constexpr int kClickSink = 3;

const SinkEntry<COutlookExplorer> kExplorerSinks[] = {
    {kCloseSink, &DIID_ExplorerEvents, DISPID_ExplorerClose, &COutlookExplorer::OnClose},
    {kActivateSink, &DIID_ExplorerEvents, DISPID_ExplorerActivate, &COutlookExplorer::OnActivate},
    {kClickSink, &DIID__CommandBarButtonEvents, DISPID_CommandBarButtonClick, &COutlookExplorer::OnClick},
};

const SinkEntry<COutlookInspector> kInspectorSinks[] = {
    {kCloseSink, &DIID_InspectorEvents, DISPID_InspectorClose, &COutlookInspector::OnClose},
    {kActivateSink, &DIID_InspectorEvents, DISPID_InspectorActivate, &COutlookInspector::OnActivate},
    {kItemSink, &DIID_ItemEvents, DISPID_ItemOpen, &COutlookInspector::OnOpen},
};

}  // namespace

// ---- COutlookExplorer ----

COutlookExplorer::COutlookExplorer(IDispatch* explorer, COutlookAddin* addin)
    : addin_(addin),
      closeSink_(this, kCloseSink, DIID_ExplorerEvents, kExplorerSinks),
      activateSink_(this, kActivateSink, DIID_ExplorerEvents, kExplorerSinks),
      clickSink_(this, kClickSink, DIID__CommandBarButtonEvents, kExplorerSinks)
{
    if (!explorer || FAILED(explorer->QueryInterface(IID__Explorer, explorer_.AsVoidOut()))) return;
    if (FAILED(closeSink_.Advise(explorer_.Get())) || FAILED(activateSink_.Advise(explorer_.Get()))) {
        Disconnect();  // the one that succeeded, if any
        return;
    }
    connected_ = true;
    OnActivate(nullptr);
}

COutlookExplorer::~COutlookExplorer() { Disconnect(); }

void COutlookExplorer::AddButton()
{
    if (button_ || !explorer_) return;
    ComPtr<_CommandBars> bars;
    if (FAILED(explorer_->get_CommandBars(&bars)) || !bars) return;
    ComPtr<CommandBarControl> anchor;
    for (LONG id : kButtonAnchors) {
        if (SUCCEEDED(bars->FindControl(CComVariant::Missing(), CComVariant::Long(id), CComVariant::Missing(),
                                        CComVariant::Missing(), &anchor)) &&
            anchor)
            break;
    }
    if (!anchor) return;  // no anchor: no button, the explorer is still watched
    LONG before = 0;
    ComPtr<CommandBar> bar;
    ComPtr<CommandBarControls> controls;
    ComPtr<CommandBarControl> button;
    if (FAILED(anchor->get_Index(&before)) || FAILED(anchor->get_Parent(&bar)) || FAILED(bar->get_Controls(&controls)) ||
        FAILED(controls->Add(CComVariant::Long(msoControlButton), CComVariant::Missing(), CComVariant::Missing(),
                             CComVariant::Long(before), CComVariant::Bool(true), &button)) ||
        !button)
        return;
    button->put_Caption(CComBSTR(addin_->ButtonCaption()).Get());
    button->put_Enabled(VARIANT_TRUE);
    button_ = button;
    if (FAILED(clickSink_.Advise(button_.Get()))) Trace("COutlookExplorer::AddButton -- the click sink failed\n");
}

void COutlookExplorer::RefreshCaption()
{
    if (button_) button_->put_Caption(CComBSTR(addin_->ButtonCaption()).Get());
}

void COutlookExplorer::Disconnect()
{
    if (button_) {
        clickSink_.Unadvise(button_.Get());
        button_->Delete(CComVariant::Missing());
        button_ = nullptr;
    }
    closeSink_.Unadvise(explorer_.Get());
    activateSink_.Unadvise(explorer_.Get());
    connected_ = false;
    explorer_ = nullptr;
}

void COutlookExplorer::OnClose(DISPPARAMS*) { Disconnect(); }

void COutlookExplorer::OnActivate(DISPPARAMS*) { AddButton(); }

void COutlookExplorer::OnClick(DISPPARAMS*)
{
    if (addin_) addin_->SubscribeCommand(std::string());
}

// ---- COutlookInspector ----

COutlookInspector::COutlookInspector(IDispatch* inspector, COutlookAddin* addin)
    : addin_(addin),
      closeSink_(this, kCloseSink, DIID_InspectorEvents, kInspectorSinks),
      activateSink_(this, kActivateSink, DIID_InspectorEvents, kInspectorSinks),
      itemSink_(this, kItemSink, DIID_ItemEvents, kInspectorSinks)
{
    if (!inspector || FAILED(inspector->QueryInterface(IID__Inspector, inspector_.AsVoidOut()))) return;
    if (FAILED(inspector_->get_CurrentItem(&item_)) || !item_) return;
    if (FAILED(itemSink_.Advise(item_.Get())) || FAILED(closeSink_.Advise(inspector_.Get())) ||
        FAILED(activateSink_.Advise(inspector_.Get()))) {
        Disconnect();
        return;
    }
    connected_ = true;
}

COutlookInspector::~COutlookInspector() { Disconnect(); }

void COutlookInspector::Disconnect()
{
    itemSink_.Unadvise(item_.Get());
    item_ = nullptr;
    closeSink_.Unadvise(inspector_.Get());
    activateSink_.Unadvise(inspector_.Get());
    connected_ = false;
    inspector_ = nullptr;
}

void COutlookInspector::OnClose(DISPPARAMS*) { Disconnect(); }

void COutlookInspector::OnActivate(DISPPARAMS*) {}

void COutlookInspector::OnOpen(DISPPARAMS*)
{
    // The fix-up may fail in any way; the wrapper lets go in every case.
    try {
        if (addin_ && connected_) addin_->FixReplySubject(*this);
    } catch (...) {
        Trace("COutlookInspector::OnOpen -- the reply fix-up failed\n");
    }
    Disconnect();
}

}  // namespace quillory::tolvane
