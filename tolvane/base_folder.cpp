#include "tolvane/base_folder.h"

#include <algorithm>

#include "platform/com/dispatch.h"
#include "tolvane/addin.h"

namespace quillory::tolvane {

namespace {

constexpr int kAddSink = 1;
constexpr int kChangeSink = 2;
constexpr int kRemoveSink = 3;

const SinkEntry<COutlookFolder> kFolderSinks[] = {
    {kAddSink, &DIID_FoldersEvents, DISPID_FolderAdd, &COutlookFolder::OnFolderAdd},
    {kChangeSink, &DIID_FoldersEvents, DISPID_FolderChange, &COutlookFolder::OnFolderChange},
    {kRemoveSink, &DIID_FoldersEvents, DISPID_FolderRemove, &COutlookFolder::OnFolderRemove},
};

std::string NameOf(IDispatch* folder)
{
    CComVariant name;
    if (!folder || FAILED(DispGet(folder, "Name", name))) return {};
    return std::string(VariantText(name));
}

}  // namespace

COutlookFolder::COutlookFolder(COutlookAddin* addin, bool recursive)
    : addin_(addin),
      recursive_(recursive),
      addSink_(this, kAddSink, DIID_FoldersEvents, kFolderSinks),
      changeSink_(this, kChangeSink, DIID_FoldersEvents, kFolderSinks),
      removeSink_(this, kRemoveSink, DIID_FoldersEvents, kFolderSinks)
{
}

COutlookFolder::~COutlookFolder() { Detach(); }

HRESULT COutlookFolder::Attach(IDispatch* folder)
{
    Detach();
    if (!folder) return E_POINTER;
    HRESULT hr = folder->QueryInterface(IID_MAPIFolder, folder_.AsVoidOut());
    if (SUCCEEDED(hr)) hr = folder_->get_Folders(&folders_);
    if (SUCCEEDED(hr)) hr = addSink_.Advise(folders_.Get());
    if (SUCCEEDED(hr)) hr = changeSink_.Advise(folders_.Get());
    if (SUCCEEDED(hr)) hr = removeSink_.Advise(folders_.Get());
    if (FAILED(hr)) {
        Detach();
        return hr;
    }
    connected_ = true;
    if (recursive_) {
        LONG count = 0;
        folders_->get_Count(&count);
        for (LONG i = 1; i <= count; ++i) {
            ComPtr<MAPIFolder> child;
            if (SUCCEEDED(folders_->Item(CComVariant::Long(i), &child)) && child) AddChild(child.Get());
        }
    }
    return S_OK;
}

void COutlookFolder::Detach()
{
    for (auto& child : children_) child->Detach();
    children_.clear();
    addSink_.Unadvise(folders_.Get());
    changeSink_.Unadvise(folders_.Get());
    removeSink_.Unadvise(folders_.Get());
    folders_ = nullptr;
    folder_ = nullptr;
    connected_ = false;
}

void COutlookFolder::AddChild(IDispatch* folder)
{
    auto child = std::make_unique<COutlookFolder>(addin_, false);
    if (SUCCEEDED(child->Attach(folder))) children_.push_back(std::move(child));
}

void COutlookFolder::OnFolderAdd(DISPPARAMS* params)
{
    if (!recursive_) return;
    if (IDispatch* folder = EventObject(params)) AddChild(folder);
}

void COutlookFolder::OnFolderChange(DISPPARAMS* params)
{
    if (recursive_ || !addin_) return;
    ComPtr<MAPIFolder> folder;
    if (IDispatch* changed = EventObject(params);
        changed && SUCCEEDED(changed->QueryInterface(IID_MAPIFolder, folder.AsVoidOut())))
        addin_->PostMessagesOf(folder.Get());
}

void COutlookFolder::OnFolderRemove(DISPPARAMS*)
{
    if (!recursive_ || !folder_) return;
    // A child whose folder's parent is no longer this folder (by name) has left.
    const std::string name = NameOf(folder_.Get());
    std::erase_if(children_, [&](const std::unique_ptr<COutlookFolder>& child) {
        ComPtr<IDispatch> parent;
        const bool gone = !child->Folder() || FAILED(DispGetObject(child->Folder(), "Parent", parent)) ||
                          NameOf(parent.Get()) != name;
        if (gone) child->Detach();
        return gone;
    });
}

}  // namespace quillory::tolvane
