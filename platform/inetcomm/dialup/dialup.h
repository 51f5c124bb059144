// The platform's dialling services: the Internet dial calls ("wininet.dll")
// and the remote-access connection list ("rasapi32.dll"). Both module names
// are served by this library.
//
// There is no dial-up networking here: no connection is ever active and a
// dial fails with ERROR_CALL_NOT_IMPLEMENTED, whose text says so. Tests
// install a double (dialup_double.h) that scripts connections that are up,
// dials that succeed and dials that the user cancels.
#pragma once

#include "platform/base/wintypes.h"
#include "platform/com/unknwn.h"

#include <cstdint>

using DWORD_PTR = std::uintptr_t;

// InternetDialA flags.
constexpr DWORD INTERNET_AUTODIAL_FORCE_ONLINE = 0x1;
constexpr DWORD INTERNET_AUTODIAL_FORCE_UNATTENDED = 0x2;
constexpr DWORD INTERNET_DIAL_FORCE_PROMPT = 0x2000;
constexpr DWORD INTERNET_DIAL_SHOW_OFFLINE = 0x4000;
constexpr DWORD INTERNET_DIAL_UNATTENDED = 0x8000;

// Remote-access limits and results.
constexpr int RAS_MaxEntryName = 256;
constexpr int RAS_MaxDeviceType = 16;
constexpr int RAS_MaxDeviceName = 128;
constexpr int RAS_MaxPhoneNumber = 128;
constexpr int RAS_MaxPath = 260;
constexpr DWORD ERROR_BUFFER_TOO_SMALL = 603;
constexpr DWORD ERROR_INVALID_SIZE = 632;
constexpr DWORD ERROR_USER_DISCONNECTION = 631;
constexpr DWORD ERROR_NO_CONNECTION = 668;
constexpr DWORD ERROR_DIALUP_UNAVAILABLE = 120;  // ERROR_CALL_NOT_IMPLEMENTED: no dialling here

struct HRASCONN__;
using HRASCONN = HRASCONN__*;

using RASCONNSTATE = DWORD;
constexpr RASCONNSTATE RASCS_Connected = 0x2000;
constexpr RASCONNSTATE RASCS_Disconnected = 0x2001;

// One active connection; callers set dwSize to sizeof(RASCONNA) in the first
// entry of the array they pass.
struct RASCONNA {
    DWORD dwSize;
    HRASCONN hrasconn;
    char szEntryName[RAS_MaxEntryName + 1];
    char szDeviceType[RAS_MaxDeviceType + 1];
    char szDeviceName[RAS_MaxDeviceName + 1];
    char szPhonebook[RAS_MaxPath];
    DWORD dwSubEntry;
    GUID guidEntry;
    DWORD dwFlags;
};
static_assert(sizeof(RASCONNA) == 704);

struct RASCONNSTATUSA {
    DWORD dwSize;
    RASCONNSTATE rasconnstate;
    DWORD dwError;
    char szDeviceType[RAS_MaxDeviceType + 1];
    char szDeviceName[RAS_MaxDeviceName + 1];
    char szPhoneNumber[RAS_MaxPhoneNumber + 1];
};
static_assert(sizeof(RASCONNSTATUSA) == 288);

extern "C" {
// Dials the named connection; 0 and a connection handle on success, else an
// error code (ERROR_USER_DISCONNECTION when the user cancels).
DWORD InternetDialA(HWND hwndParent, LPSTR lpszConnectoid, DWORD dwFlags, DWORD_PTR* lpdwConnection,
                    DWORD dwReserved);
DWORD InternetHangUp(DWORD_PTR dwConnection, DWORD dwReserved);

// Lists the active connections. *lpcb is the buffer's size in bytes; when it
// is too small, ERROR_BUFFER_TOO_SMALL and *lpcb the size needed.
DWORD RasEnumConnectionsA(RASCONNA* lprasconn, DWORD* lpcb, DWORD* lpcConnections);
DWORD RasGetConnectStatusA(HRASCONN hrasconn, RASCONNSTATUSA* lprasconnstatus);
// The text of a remote-access or dial error.
DWORD RasGetErrorStringA(UINT uErrorValue, LPSTR lpszErrorString, DWORD cBufSize);
}

// Their types, for callers that bind them by name.
using PFN_InternetDialA = decltype(&InternetDialA);
using PFN_InternetHangUp = decltype(&InternetHangUp);
using PFN_RasEnumConnectionsA = decltype(&RasEnumConnectionsA);
using PFN_RasGetConnectStatusA = decltype(&RasGetConnectStatusA);
using PFN_RasGetErrorStringA = decltype(&RasGetErrorStringA);
