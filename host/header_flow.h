// The remote-header flow as a mail client drives a newsgroup transport
// through its status object: a request (ValidateState with
// REFRESH_XP_HEADER_CACHE or PROCESS_XP_HEADER_CACHE) that the transport
// answers with MAPI_E_BUSY, the inbound pass of the spooler that does the
// work, and the same request again, which hands out the outcome. Rows of the
// header folder are read and marked in between.
#pragma once

#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/mapi/mapix.h"
#include "platform/mapi/spooler/spooler.h"

namespace quillory::host {

struct HeaderFlowRow {
    std::size_t folder = 0;  // index into the flow's transports
    std::vector<BYTE> entryId;
    std::string group;
    ULONG article = 0;
    ULONG status = 0;  // PR_MSG_STATUS
    std::string subject;
    std::string sender;
};

struct HeaderFlowOutcome {
    std::string transport;
    HRESULT result = S_OK;  // the collected result, through the error mapping
};

class CHeaderFlow {
public:
    // `spooler` is started; transports without a header folder take no part.
    explicit CHeaderFlow(CSpooler& spooler);

    bool Empty() const { return folders_.empty(); }

    // REFRESH_XP_HEADER_CACHE or PROCESS_XP_HEADER_CACHE, the inbound pass and
    // the outcome of each transport. A failure means the pass did not run.
    HRESULT Run(ULONG request, SpoolerPassResult& pass, std::vector<HeaderFlowOutcome>& outcomes);

    // The rows of every header folder, in table order.
    HRESULT Rows(std::vector<HeaderFlowRow>& out) const;
    // Sets `bits` (MSGSTATUS_REMOTE_DOWNLOAD or MSGSTATUS_REMOTE_DELETE) on a row.
    HRESULT Mark(const HeaderFlowRow& row, ULONG bits);

private:
    struct Folder {
        std::string transport;
        ComPtr<IMAPIStatus> status;
        ComPtr<IMAPIFolder> folder;
    };
    CSpooler& spooler_;
    std::vector<Folder> folders_;
};

// "download", "delete", both, or "-".
std::string HeaderMarks(ULONG status);

}  // namespace quillory::host
