// The interface a COM add-in offers its host, and the add-in list the host
// reads at start-up.
#pragma once

#include "platform/com/oleauto.h"

constexpr IID IID__IDTExtensibility2 = {0xD62202C9, 0xEFCA, 0x4943, {0xAE, 0xE3, 0xB6, 0xF2, 0x91, 0x35, 0xA0, 0x37}};

enum ext_ConnectMode : LONG {
    ext_cm_AfterStartup = 0,
    ext_cm_Startup = 1,
    ext_cm_External = 2,
    ext_cm_CommandLine = 3,
};

enum ext_DisconnectMode : LONG {
    ext_dm_HostShutdown = 0,
    ext_dm_UserClosed = 1,
};

// The host's custom data for its add-ins; this host passes none (null).
struct SAFEARRAY;

class _IDTExtensibility2 : public IDispatch {
public:
    static constexpr const IID& kIid = IID__IDTExtensibility2;
    virtual HRESULT OnConnection(IDispatch* Application, ext_ConnectMode ConnectMode, IDispatch* AddInInst,
                                 SAFEARRAY** custom) = 0;
    virtual HRESULT OnDisconnection(ext_DisconnectMode RemoveMode, SAFEARRAY** custom) = 0;
    virtual HRESULT OnAddInsUpdate(SAFEARRAY** custom) = 0;
    virtual HRESULT OnStartupComplete(SAFEARRAY** custom) = 0;
    virtual HRESULT OnBeginShutdown(SAFEARRAY** custom) = 0;
};
using IDTExtensibility2 = _IDTExtensibility2;
inline constexpr const IID& IID_IDTExtensibility2 = IID__IDTExtensibility2;

namespace quillory::outlook {

// The mail client's list of COM add-ins under HKEY_CURRENT_USER: one key per
// add-in, named by its ProgID, with "LoadBehavior" (REG_DWORD; 3 = load at
// start-up), "FriendlyName" and "Description".
inline constexpr char kAddinListKey[] = "Software\\Microsoft\\Office\\Outlook\\Addins";
inline constexpr char kValLoadBehavior[] = "LoadBehavior";
inline constexpr char kValFriendlyName[] = "FriendlyName";
inline constexpr char kValDescription[] = "Description";
constexpr DWORD kLoadAtStartup = 3;

}  // namespace quillory::outlook
