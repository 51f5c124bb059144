// The object model as its host sees it: made over a MAPI session, it shows
// the session's stores as folders and items, and its windows (explorers,
// inspectors, options dialogs) through a host that realises them — plain
// bookkeeping in the command-line host, Qt windows in the GUI host.
//
// Threads: the model belongs to the thread that creates it (the host's user
// interface thread); every call on its objects is made there. Changes to the
// stores, made on any thread by anyone (the spooler filing news, the
// add-in saving a post), become folder and item events that are queued and
// raised on the owner thread when it next pumps its message queue — never
// inside the call that made the change, and never nested inside another
// event: an event handler that pumps sees the later events only after it
// returns. Within one pump, repeated FolderChange and ItemChange events for
// the same object are raised once.
#pragma once

#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/mapi/mapix.h"
#include "platform/outlook/outlook.h"

namespace quillory::outlook {

// Ids of the host's built-in commands on its menus.
constexpr LONG kControlOptions = 522;  // Tools > Options...
constexpr LONG kControlSendReceive = 30001;
constexpr LONG kControlAccounts = 30002;
constexpr LONG kControlExit = 30003;
constexpr LONG kControlNewPost = 30004;
constexpr LONG kControlPostReply = 30005;
constexpr LONG kControlHelpContents = 30006;
constexpr LONG kControlClose = 30007;

// A built-in control of a menu the host lays out: a command (id, caption)
// or, with children, a popup.
struct MenuLayout {
    MenuLayout() = default;
    MenuLayout(LONG id_, std::string caption_, std::vector<MenuLayout> children_ = {})
        : id(id_), caption(std::move(caption_)), children(std::move(children_))
    {
    }
    LONG id = 0;
    std::string caption;
    std::vector<MenuLayout> children;
};

// The menus of an explorer: File, Edit, View, Tools (Send/Receive, E-mail
// Accounts..., Options...), Help.
MenuLayout DefaultExplorerMenus();
// The menus of an inspector: File (Post, Close), Help.
MenuLayout DefaultInspectorMenus();

// What the host does for the model's windows. Every method has a default
// that shows nothing, which is what a headless host wants.
class IOutlookHost {
public:
    virtual ~IOutlookHost() = default;
    // An explorer or inspector was shown or activated, and is gone.
    virtual void ExplorerShown(_Explorer*) {}
    virtual void ExplorerClosed(_Explorer*) {}
    virtual void InspectorShown(_Inspector*) {}
    virtual void InspectorClosed(_Inspector*) {}
    // A window's menus changed (a control added, removed or relabelled).
    virtual void CommandBarsChanged(_CommandBars*) {}
    // A built-in control was run in the window (an _Explorer or _Inspector).
    virtual void ExecuteBuiltinControl(LONG id, IDispatch* window) {}
    // NameSpace.PickFolder: S_OK with a folder, S_FALSE when none was chosen.
    virtual HRESULT PickFolder(_NameSpace* ns, MAPIFolder** out)
    {
        *out = nullptr;
        return S_FALSE;
    }
    // The menus the model gives new windows.
    virtual MenuLayout ExplorerMenus() { return DefaultExplorerMenus(); }
    virtual MenuLayout InspectorMenus() { return DefaultInspectorMenus(); }
};

// The model over a logged-on session. The host must outlive it. The
// application opens the session's stores (MAPI_E_* when none opens) and
// listens to them until ShutdownApplication.
HRESULT CreateApplication(IMAPISession* session, IOutlookHost* host, _Application** out);

// Raises Quit, closes every inspector and explorer, and stops listening to
// the stores; the objects still held answer MAPI_E_END_OF_SESSION after it.
void ShutdownApplication(_Application* app);

// Raises Startup (after the host loaded its add-ins).
void RaiseStartup(_Application* app);

// An options dialog: raises OptionsPagesAdd with a fresh page collection and
// gives the pages added (each a ProgID or a PropertyPage object, with its
// title), for the host to realise.
struct OptionsPage {
    CComVariant page;
    std::string title;
};
HRESULT CollectOptionsPages(_Application* app, std::vector<OptionsPage>& pages);

// Delivers the store events queued so far on the calling (owner) thread,
// as pumping the message queue does; for hosts that pump elsewhere and for tests.
void RaisePendingEvents(_Application* app);

}  // namespace quillory::outlook
