// The folder watcher (`COutlookFolder`): one on the base newsgroups folder
// (recursive: it watches each folder one level down with a child watcher)
// and its children (which see the changes of the folders in their folder).
#pragma once

#include <memory>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/outlook/outlook.h"
#include "tolvane/sink.h"

namespace quillory::tolvane {

class COutlookAddin;

class COutlookFolder {
public:
    COutlookFolder(COutlookAddin* addin, bool recursive);
    ~COutlookFolder();
    COutlookFolder(const COutlookFolder&) = delete;
    COutlookFolder& operator=(const COutlookFolder&) = delete;

    // Watches the folder: its Folders collection's three events, and (when
    // recursive) a child watcher per subfolder. Connected when all three
    // advises succeeded; a partial attach is undone.
    HRESULT Attach(IDispatch* folder);
    // Children first, then the three sinks; the cookies go back to not advised.
    void Detach();
    bool Connected() const { return connected_; }
    MAPIFolder* Folder() const { return folder_.Get(); }
    std::size_t ChildCount() const { return children_.size(); }

    void OnFolderAdd(DISPPARAMS* params);
    void OnFolderChange(DISPPARAMS* params);
    void OnFolderRemove(DISPPARAMS* params);

private:
    void AddChild(IDispatch* folder);

    COutlookAddin* addin_;
    bool recursive_;
    ComPtr<MAPIFolder> folder_;
    ComPtr<_Folders> folders_;
    SinkSlot<COutlookFolder> addSink_;
    SinkSlot<COutlookFolder> changeSink_;
    SinkSlot<COutlookFolder> removeSink_;
    std::vector<std::unique_ptr<COutlookFolder>> children_;
    bool connected_ = false;
};

}  // namespace quillory::tolvane
