// The add-in's view of one explorer (`COutlookExplorer`) and of one
// inspector (`COutlookInspector`): their sinks, the explorer's
// "Newsgroups..." button, and a connected flag that Close clears. Closed
// wrappers are dropped at the add-in's next purge-and-refresh step or at
// disconnection; a wrapper whose advises failed is never kept, and undoes
// the advises that did succeed.
#pragma once

#include "platform/com/com_ptr.h"
#include "platform/outlook/outlook.h"
#include "tolvane/sink.h"

namespace quillory::tolvane {

class COutlookAddin;

class COutlookExplorer {
public:
    COutlookExplorer(IDispatch* explorer, COutlookAddin* addin);
    ~COutlookExplorer();
    COutlookExplorer(const COutlookExplorer&) = delete;
    COutlookExplorer& operator=(const COutlookExplorer&) = delete;

    bool Connected() const { return connected_; }
    // Puts the button on the explorer's menus when it has none yet.
    void AddButton();
    // Sets the button's caption again (the language may have changed).
    void RefreshCaption();
    void Disconnect();
    CommandBarControl* Button() const { return button_.Get(); }

    void OnClose(DISPPARAMS* params);
    void OnActivate(DISPPARAMS* params);
    void OnClick(DISPPARAMS* params);

private:
    ComPtr<_Explorer> explorer_;
    COutlookAddin* addin_;
    SinkSlot<COutlookExplorer> closeSink_;
    SinkSlot<COutlookExplorer> activateSink_;
    SinkSlot<COutlookExplorer> clickSink_;
    ComPtr<CommandBarControl> button_;
    bool connected_ = false;
};

class COutlookInspector {
public:
    COutlookInspector(IDispatch* inspector, COutlookAddin* addin);
    ~COutlookInspector();
    COutlookInspector(const COutlookInspector&) = delete;
    COutlookInspector& operator=(const COutlookInspector&) = delete;

    bool Connected() const { return connected_; }
    void Disconnect();
    IDispatch* Item() const { return item_.Get(); }
    _Inspector* Inspector() const { return inspector_.Get(); }

    void OnClose(DISPPARAMS* params);
    void OnActivate(DISPPARAMS* params);
    void OnOpen(DISPPARAMS* params);

private:
    ComPtr<_Inspector> inspector_;
    ComPtr<IDispatch> item_;
    COutlookAddin* addin_;
    SinkSlot<COutlookInspector> closeSink_;
    SinkSlot<COutlookInspector> activateSink_;
    SinkSlot<COutlookInspector> itemSink_;
    bool connected_ = false;
};

}  // namespace quillory::tolvane
