// The add-in's connection object (`COutlookAddin`): one per mail-client
// session, made by the class factory (aggregatable). On connection it decides
// whether the newsgroup features are active in the profile, hooks the
// explorers, inspectors and options dialogs, watches the base newsgroups
// folder and publishes the hidden add-in window through which the provider
// learns the user's identity and the base folder.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/base/window.h"
#include "platform/com/comobject.h"
#include "platform/mapi/mapix.h"
#include "platform/outlook/extensibility.h"
#include "platform/outlook/outlook.h"
#include "tolvane/base_folder.h"
#include "tolvane/ids.h"
#include "tolvane/sink.h"

namespace quillory::tolvane {

class COutlookExplorer;
class COutlookInspector;

// The add-in's own dual interface: nothing beyond IDispatch.
class IOutlookAddin : public IDispatch {
public:
    static constexpr const IID& kIid = IID_IOutlookAddin;
};

class COutlookAddin final : public IOutlookAddin, public _IDTExtensibility2, public CAggregatable {
public:
    COutlookAddin(IUnknown* outer, CComModule& module);
    ~COutlookAddin() override;
    static HRESULT CreateInstance(CComModule& module, IUnknown* outer, REFIID riid, void** ppv);
    QUILLORY_IUNKNOWN_AGGREGATABLE

    // IDispatch (of both interfaces).
    HRESULT GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // IDTExtensibility2.
    HRESULT OnConnection(IDispatch* Application, ext_ConnectMode ConnectMode, IDispatch* AddInInst,
                         SAFEARRAY** custom) override;
    HRESULT OnDisconnection(ext_DisconnectMode RemoveMode, SAFEARRAY** custom) override;
    HRESULT OnAddInsUpdate(SAFEARRAY** custom) override;
    HRESULT OnStartupComplete(SAFEARRAY** custom) override;
    HRESULT OnBeginShutdown(SAFEARRAY** custom) override;

    // What the wrappers and the window use.
    _Application* Application() const { return application_.Get(); }
    // The MAPI session of the profile (a substitute session made on first
    // need while the application is held); null when there is none.
    IMAPISession* Session();
    const std::string& ProfileName() const { return profileName_; }
    HWND Window() const { return window_; }
    // The caption of the "Newsgroups..." button in the current language.
    std::string ButtonCaption() const;
    // Drops closed explorer and inspector wrappers and relabels the buttons.
    void PurgeAndRefresh();
    void AttachBaseFolder();
    void DetachBaseFolder();
    COutlookFolder& BaseFolder() { return baseFolder_; }
    void RefreshWindowText();
    // A WM_COPYDATA notice with code 660..690; data is bounded by its size.
    void OnCopyData(ULONG_PTR code, std::span<const char> data);
    // The commands that arrive with the folder handling (subscribe, the
    // new-account question, renaming an account folder, the reply fix-up).
    void SubscribeCommand(const std::string& initialText);
    void AskNewAccount(const std::string& accountName);
    void RenameAccountFolder(const std::string& oldName, const std::string& newName);
    void FixReplySubject(COutlookInspector& inspector);
    // The posting scan of a newsgroup folder that changed.
    void PostMessagesOf(MAPIFolder* folder);

    // Sink handlers.
    void OnNewExplorer(DISPPARAMS* params);
    void OnOptionsPagesAdd(DISPPARAMS* params);
    void OnNewInspector(DISPPARAMS* params);

protected:
    HRESULT InnerQueryInterface(REFIID riid, void** ppv) override;

private:
    HRESULT Connect(IDispatch* application);
    // Undoes everything a connection did, in the order of OnDisconnection.
    void Unhook();
    void WrapExplorer(IDispatch* explorer);
    void CreateAddinWindow();
    void DestroyAddinWindow();
    std::string WindowText();

    CModuleLock lock_;
    ComPtr<_Application> application_;
    ComPtr<_Inspectors> inspectors_;
    ComPtr<_Explorers> explorers_;
    SinkSlot<COutlookAddin> explorersSink_;
    SinkSlot<COutlookAddin> applicationSink_;
    SinkSlot<COutlookAddin> inspectorsSink_;
    std::vector<std::unique_ptr<COutlookExplorer>> explorerList_;
    std::vector<std::unique_ptr<COutlookInspector>> inspectorList_;
    COutlookFolder baseFolder_;
    ComPtr<IMAPISession> session_;
    std::string profileName_;
    std::string windowClass_;
    HWND window_ = nullptr;
};

}  // namespace quillory::tolvane
