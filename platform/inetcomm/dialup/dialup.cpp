#include "platform/inetcomm/dialup/dialup.h"
#include "platform/inetcomm/dialup/dialup_double.h"

#include "platform/base/trace.h"
#include "platform/base/winerror.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

std::mutex g_lock;
std::unique_ptr<DialupDouble> g_double;

// Handles of the double's connections: their position plus one, so that no
// handle is null.
HRASCONN HandleOf(int index) { return reinterpret_cast<HRASCONN>(static_cast<std::uintptr_t>(index + 1)); }
int IndexOf(HRASCONN handle) { return static_cast<int>(reinterpret_cast<std::uintptr_t>(handle)) - 1; }

// Dial handles the double hands out.
constexpr DWORD_PTR kFirstDialHandle = 0x4D00;
DWORD_PTR g_nextDialHandle = kFirstDialHandle;

struct ErrorText {
    DWORD code;
    const char* text;
};
constexpr std::array<ErrorText, 6> kErrorTexts = {{
    {ERROR_DIALUP_UNAVAILABLE, "Dial-up networking is not available on this system."},
    {ERROR_BUFFER_TOO_SMALL, "The buffer is too small."},
    {ERROR_USER_DISCONNECTION, "The connection was closed by the user."},
    {ERROR_INVALID_SIZE, "The structure size is incorrect."},
    {ERROR_NO_CONNECTION, "The connection was terminated."},
    {static_cast<DWORD>(ERROR_INVALID_HANDLE), "The handle is invalid."},
}};

void CopyText(char* dest, std::size_t size, const char* text)
{
    if (size == 0) return;
    std::snprintf(dest, size, "%s", text);
}

}  // namespace

extern "C" DialupDouble* QuilloryDialupDouble(BOOL install)
{
    std::lock_guard g(g_lock);
    if (install)
        g_double = std::make_unique<DialupDouble>();
    else
        g_double.reset();
    return g_double.get();
}

extern "C" DWORD InternetDialA(HWND, LPSTR lpszConnectoid, DWORD dwFlags, DWORD_PTR* lpdwConnection, DWORD)
{
    if (lpdwConnection) *lpdwConnection = 0;
    std::lock_guard g(g_lock);
    if (!g_double) {
        quillory::Trace("InternetDialA(%s): dial-up networking is not available on this system\n",
                        lpszConnectoid ? lpszConnectoid : "");
        return ERROR_DIALUP_UNAVAILABLE;
    }
    ++g_double->dialCalls;
    g_double->lastDialFlags = dwFlags;
    CopyText(g_double->lastDialName, sizeof g_double->lastDialName, lpszConnectoid ? lpszConnectoid : "");
    if (!lpdwConnection) return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    if (g_double->dialResult != 0) return g_double->dialResult;
    *lpdwConnection = g_nextDialHandle++;
    return 0;
}

extern "C" DWORD InternetHangUp(DWORD_PTR dwConnection, DWORD)
{
    std::lock_guard g(g_lock);
    if (!g_double) return static_cast<DWORD>(ERROR_INVALID_HANDLE);
    ++g_double->hangUpCalls;
    g_double->lastHangUp = dwConnection;
    return 0;
}

extern "C" DWORD RasEnumConnectionsA(RASCONNA* lprasconn, DWORD* lpcb, DWORD* lpcConnections)
{
    if (!lprasconn || !lpcb || !lpcConnections) return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    if (*lpcb < sizeof(RASCONNA) || lprasconn->dwSize != sizeof(RASCONNA)) return ERROR_INVALID_SIZE;
    std::lock_guard g(g_lock);
    const int count = g_double ? std::clamp(g_double->activeCount, 0, DialupDouble::kMaxActive) : 0;
    if (g_double) ++g_double->enumCalls;
    const DWORD needed = static_cast<DWORD>(count) * sizeof(RASCONNA);
    if (*lpcb < needed) {
        *lpcb = needed;
        *lpcConnections = 0;
        return ERROR_BUFFER_TOO_SMALL;
    }
    for (int i = 0; i < count; ++i) {
        RASCONNA& entry = lprasconn[i];
        entry = RASCONNA{};
        entry.dwSize = sizeof(RASCONNA);
        entry.hrasconn = HandleOf(i);
        CopyText(entry.szEntryName, sizeof entry.szEntryName, g_double->active[i]);
        CopyText(entry.szDeviceType, sizeof entry.szDeviceType, "modem");
    }
    *lpcb = needed;
    *lpcConnections = static_cast<DWORD>(count);
    return 0;
}

extern "C" DWORD RasGetConnectStatusA(HRASCONN hrasconn, RASCONNSTATUSA* lprasconnstatus)
{
    if (!lprasconnstatus) return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    if (lprasconnstatus->dwSize != sizeof(RASCONNSTATUSA)) return ERROR_INVALID_SIZE;
    std::lock_guard g(g_lock);
    if (g_double) ++g_double->statusCalls;
    const int index = IndexOf(hrasconn);
    if (!g_double || index < 0 || index >= std::min(g_double->activeCount, DialupDouble::kMaxActive))
        return static_cast<DWORD>(ERROR_INVALID_HANDLE);
    lprasconnstatus->rasconnstate = g_double->activeState;
    lprasconnstatus->dwError = 0;
    CopyText(lprasconnstatus->szDeviceType, sizeof lprasconnstatus->szDeviceType, "modem");
    return 0;
}

extern "C" DWORD RasGetErrorStringA(UINT uErrorValue, LPSTR lpszErrorString, DWORD cBufSize)
{
    if (!lpszErrorString || cBufSize == 0) return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    const auto it = std::find_if(kErrorTexts.begin(), kErrorTexts.end(),
                                 [uErrorValue](const ErrorText& e) { return e.code == uErrorValue; });
    char text[64];
    if (it == kErrorTexts.end())
        std::snprintf(text, sizeof text, "Dial-up error %u.", uErrorValue);
    else
        CopyText(text, sizeof text, it->text);
    if (std::strlen(text) >= cBufSize) return static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER);
    CopyText(lpszErrorString, cBufSize, text);
    return 0;
}
