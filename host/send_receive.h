// One full send and receive of a profile's transports, as `quillory sync`
// and `quillory client --sync` run it.
#pragma once

#include "platform/mapi/mapix.h"

namespace quillory::host {

// Starts the profile's transports through the spooler, runs one pass with
// its progress printed, then each transport's status and last result.
// Answers the exit status: 0 when the pass ran (a transport's failure is
// its last result), 1 when the transports could not be started or the
// pass failed. `command` names the command in messages.
int RunSendAndReceive(IMAPISession* session, const char* command);

}  // namespace quillory::host
