// CMAPIStatus: the status object a logon hands out through OpenStatusEntry.
// The client reads the transport's status properties from it, drives the
// remote-header operations with ValidateState, and reaches the header folder
// by asking it for IMAPIFolder.
#pragma once

#include <memory>
#include <string>

#include "platform/com/refcounted.h"
#include "platform/mapi/mapispi.h"
#include "provider/downloader/folder_owner.h"
#include "provider/entry/module_state.h"
#include "provider/status/header_folder_port.h"

namespace quillory {

class CXPLogon;

// PR_RESOURCE_METHODS of the status object.
constexpr ULONG kStatusResourceMethods = STATUS_VALIDATE_STATE | STATUS_FLUSH_QUEUES;
// The ValidateState flags the object knows.
constexpr ULONG kValidateStateFlags = REFRESH_XP_HEADER_CACHE | PROCESS_XP_HEADER_CACHE | FORCE_XP_CONNECT |
                                      FORCE_XP_DISCONNECT | ABORT_XP_HEADER_OPERATION | SHOW_XP_SESSION_UI;

class CMAPIStatus final : public IMAPIStatus, public CRefCounted, public quarnex::CFolderOwner {
public:
    // The logon owns the status object. A client may keep its own reference
    // after the logon went; the logon detaches itself first, and a detached
    // object answers MAPI_E_OBJECT_DELETED instead of reaching a gone logon.
    explicit CMAPIStatus(CXPLogon& logon);
    ~CMAPIStatus() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    QUILLORY_IUNKNOWN_REFCOUNT

    // IMAPIProp
    HRESULT GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError) override;
    HRESULT SaveChanges(ULONG ulFlags) override { return S_OK; }
    HRESULT GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                     LPSPropValue* lppPropArray) override;
    HRESULT GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) override;
    HRESULT OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN* lppUnk) override;
    HRESULT SetProps(ULONG, LPSPropValue, LPSPropProblemArray* lppProblems) override;
    HRESULT DeleteProps(LPSPropTagArray, LPSPropProblemArray* lppProblems) override;
    HRESULT CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, void*, ULONG,
                   LPSPropProblemArray* lppProblems) override;
    HRESULT CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, void*, ULONG,
                      LPSPropProblemArray* lppProblems) override;
    HRESULT GetNamesFromIDs(LPSPropTagArray*, GUID*, ULONG, ULONG* lpcPropNames,
                            LPMAPINAMEID** lpppPropNames) override;
    HRESULT GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray* lppPropTags) override;

    // IMAPIStatus
    HRESULT ValidateState(ULONG_PTR ulUIParam, ULONG ulFlags) override;
    HRESULT SettingsDialog(ULONG_PTR, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT ChangePassword(LPSTR, LPSTR, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT FlushQueues(ULONG_PTR, ULONG, LPENTRYID, ULONG) override { return MAPI_E_NO_SUPPORT; }

    // The header folder, created on first use; null when it cannot be made.
    IHeaderFolder* Headers();
    // The header folder only if it exists already.
    IHeaderFolder* ExistingHeaders() const { return folder_.get(); }
    // CFolderOwner: the folder object the downloader works on.
    quarnex::CMAPIFolder* HeaderFolder() override;
    CXPLogon* Logon() const { return logon_; }
    void DetachLogon();

private:
    // The collected result of a finished operation, as the client sees it.
    HRESULT CollectResult();

    CXPLogon* logon_;
    std::unique_ptr<IHeaderFolder> folder_;
    quarnex::CModuleLock moduleLock_;
};

}  // namespace quillory
