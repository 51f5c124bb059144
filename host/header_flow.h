// The remote-header flow as a mail client drives a newsgroup transport
// through its status object: a request (ValidateState with
// REFRESH_XP_HEADER_CACHE or PROCESS_XP_HEADER_CACHE) that the transport
// answers with MAPI_E_BUSY, the inbound pass of the spooler that does the
// work, and the same request again, which hands out the outcome. Rows of the
// header folder are read and marked in between. `quillory headers`, `mark`
// and `sync --headers-only/--process` all go through it.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
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
    std::optional<FILETIME> date;  // PR_CLIENT_SUBMIT_TIME
};

struct HeaderFlowOutcome {
    std::string transport;
    HRESULT result = S_OK;  // the collected result, through the error mapping
};

class CHeaderFlow {
public:
    // `spooler` is started; transports without a header folder take no part.
    // With `service`, only the transports of that message service do.
    explicit CHeaderFlow(CSpooler& spooler, const std::optional<MAPIUID>& service = std::nullopt);

    bool Empty() const { return folders_.empty(); }
    // Why a transport of the chosen service is missing (it did not log on);
    // empty when none is.
    const std::string& LogonProblem() const { return logonProblem_; }

    // REFRESH_XP_HEADER_CACHE or PROCESS_XP_HEADER_CACHE, the inbound pass and
    // the outcome of each transport. A failure means the pass did not run.
    HRESULT Run(ULONG request, SpoolerPassResult& pass, std::vector<HeaderFlowOutcome>& outcomes);

    // The rows of every header folder, in table order.
    HRESULT Rows(std::vector<HeaderFlowRow>& out) const;
    // Sets `bits` (MSGSTATUS_REMOTE_DOWNLOAD, MSGSTATUS_REMOTE_DELETE) on a row.
    HRESULT Mark(const HeaderFlowRow& row, ULONG bits);

private:
    struct Folder {
        std::string transport;
        ComPtr<IMAPIStatus> status;
        ComPtr<IMAPIFolder> folder;
    };
    CSpooler& spooler_;
    std::vector<Folder> folders_;
    std::string logonProblem_;
};

// Runs a request through the flow and reports it the one way the commands
// do: the pass's problems and each transport's failure as
// "quillory COMMAND: ..." lines on stderr. 0, or 1 when anything failed.
int RunHeaderRequest(CHeaderFlow& flow, const char* command, ULONG request, SpoolerPassResult* pass = nullptr);

// The rows as `quillory headers` lists them, numbered from 1, then how many
// are waiting. 0, or 1 (with a line on stderr) when they cannot be read.
int PrintHeaderRows(const CHeaderFlow& flow, const char* command);

// A row by its number in the listing (from 1) or as newsgroup:article.
const HeaderFlowRow* FindHeaderRow(const std::vector<HeaderFlowRow>& rows, std::string_view spec);

// "download", "delete", both, or "-".
std::string HeaderMarks(ULONG status);

}  // namespace quillory::host
