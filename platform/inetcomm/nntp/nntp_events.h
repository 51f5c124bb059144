// What the I/O side tells the owner thread: one event per callback to make,
// plus the two questions (time-out, logon) whose answers travel back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/inetcomm/nntp/nntp_response.h"
#include "platform/inetcomm/nntp/nntp_transport.h"

namespace quillory::nntp {

enum class EventKind {
    Status,        // OnStatus(status)
    Error,         // OnError(status, result)
    Response,      // OnResponse(block)
    Command,       // OnCommand(cmdType, line, hr)
    TimeoutQuery,  // OnTimeout(seconds); answer through the connection
    LogonQuery,    // OnLogonPrompt(server); answer through the connection
};

struct NntpEvent {
    EventKind kind = EventKind::Status;
    std::uint64_t serial = 0;  // the connection it belongs to
    IXPSTATUS status = IXP_DISCONNECTED;

    // Error
    HRESULT hr = S_OK;
    std::string response;
    std::string problem;
    UINT serverError = 0;
    DWORD socketError = 0;

    std::unique_ptr<CResponseBlock> block;  // Response

    CMDTYPE cmdType = CMD_SEND;  // Command
    std::string line;

    DWORD timeoutSeconds = 0;            // TimeoutQuery
    std::unique_ptr<INETSERVER> server;  // LogonQuery

    static NntpEvent MakeStatus(IXPSTATUS s)
    {
        NntpEvent e;
        e.kind = EventKind::Status;
        e.status = s;
        return e;
    }
};

}  // namespace quillory::nntp
