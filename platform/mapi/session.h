// The MAPI subsystem's entry points for clients: initialisation and logon.
#pragma once

#include "platform/mapi/mapix.h"

struct MAPIINIT_0 {
    ULONG ulVersion;
    ULONG ulFlags;
};
using LPMAPIINIT_0 = MAPIINIT_0*;
constexpr ULONG MAPI_INIT_VERSION = 0;
constexpr ULONG MAPI_MULTITHREAD_NOTIFICATIONS = 0x00000001;
constexpr ULONG MAPI_NO_COINIT = 0x00000008;

// IMAPISession::SetDefaultStore.
constexpr ULONG MAPI_DEFAULT_STORE = 0x00000001;

// Counted: each successful call needs one MAPIUninitialize. lpMapiInit may be
// null or point to a MAPIINIT_0 of version MAPI_INIT_VERSION.
HRESULT MAPIInitialize(void* lpMapiInit);
void MAPIUninitialize();

// Logs on to a profile: the named one, or with no name the default profile
// when MAPI_USE_DEFAULT or MAPI_LOGON_UI is given (there is no profile
// dialog here). Without MAPI_NEW_SESSION an existing shared session is
// returned whatever the name; MAPI_ALLOW_OTHERS makes a new session the
// process's shared one. MAPI_E_LOGON_FAILED when no profile can be chosen.
HRESULT MAPILogonEx(ULONG_PTR ulUIParam, LPSTR lpszProfileName, LPSTR lpszPassword, ULONG ulFlags,
                    LPMAPISESSION* lppSession);

namespace quillory {

// Whether MAPIInitialize was called more often than MAPIUninitialize.
bool MapiInitialized();

// The data behind a session's status table (indexed by PR_INSTANCE_KEY), so
// that the spooler and transports can add and change their rows.
HRESULT SessionStatusTable(LPMAPISESSION lpSession, ITableData** lppTableData);

// The entry of the session's user (QueryIdentity, then OpenEntry), for its
// PR_DISPLAY_NAME, PR_EMAIL_ADDRESS and PR_ADDRTYPE. A session whose identity
// is not set up answers a stand-in, as QueryIdentity does.
HRESULT OpenSessionIdentity(LPMAPISESSION lpSession, LPMAPIPROP* lppIdentity);

}  // namespace quillory
