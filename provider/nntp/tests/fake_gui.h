// A stand-in for the GUI library in tests: "ErrorGUI", "FillIS" (left out of
// the build without it) and a scriptable "LogonPrompt".
#pragma once

#include "platform/inetcomm/nntp/nntp_transport.h"
#include "platform/mapi/mapidefs.h"

struct FakeGuiState {
    // Script of LogonPrompt.
    int answer = 0;          // 1: the user pressed OK
    ULONG changed = 0;       // written to the changed flag
    char user[64] = "";      // copied into the record when answer is 1
    char password[64] = "";
    // Record.
    int prompts = 0;
    LPSPropValue lastProps = nullptr;
    LPALLOCATEMORE lastAllocateMore = nullptr;
};

extern "C" FakeGuiState* FakeGuiStateGet();
using PFN_FakeGuiStateGet = decltype(&FakeGuiStateGet);
