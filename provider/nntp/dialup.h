// The session's dial-up record: the dialling services ("wininet.dll") and the
// remote-access services ("rasapi32.dll"), each loaded on first use and freed
// with the record.
#pragma once

#include "platform/base/wintypes.h"
#include "platform/inetcomm/dialup/dialup.h"

#include <string_view>

namespace quillory::quarnex {

// Remote-access enumeration: a first buffer for three entries, and how often
// a buffer that proved too small is replaced by one of the reported size.
constexpr DWORD kRasEnumFirstBufferSize = 3 * sizeof(RASCONNA);
constexpr int kRasEnumAttempts = 5;

class CDialup {
public:
    CDialup() = default;
    ~CDialup();
    CDialup(const CDialup&) = delete;
    CDialup& operator=(const CDialup&) = delete;

    // Whether the named connection is up: the first active connection of
    // that name (letter case ignored) reports the connected state. Down when
    // the services are missing or any call fails.
    bool IsConnectionUp(std::string_view name);

    // Dials the named connection: unattended when `unattended`, else always
    // prompting. 0 and the handle on success; the services' error otherwise
    // (ERROR_PROC_NOT_FOUND when they are missing).
    DWORD Dial(std::string_view name, bool unattended, DWORD_PTR& handle);

    // Hangs up a connection that Dial made (nothing without the services).
    void HangUp(DWORD_PTR handle);

    // Whether "InternetDialA" and "InternetHangUp" are bound.
    bool DialBound() const { return dial_ && hangUp_; }

private:
    bool BindDial();
    bool BindRas();

    HMODULE wininet_ = nullptr;
    PFN_InternetDialA dial_ = nullptr;
    PFN_InternetHangUp hangUp_ = nullptr;
    HMODULE rasapi_ = nullptr;
    PFN_RasEnumConnectionsA enumConnections_ = nullptr;
    PFN_RasGetConnectStatusA connectStatus_ = nullptr;
    PFN_RasGetErrorStringA errorString_ = nullptr;
};

}  // namespace quillory::quarnex
