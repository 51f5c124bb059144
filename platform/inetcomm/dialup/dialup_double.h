// A test double for the dialling services. While installed, the connections
// it names are active with the state it gives, and a dial answers its
// scripted result; it counts the calls made.
//
// Tests that reach the services through LoadLibrary("wininet.dll") bind
// "QuilloryDialupDouble" by name to reach the same instance.
#pragma once

#include "platform/inetcomm/dialup/dialup.h"

struct DialupDouble {
    static constexpr int kMaxActive = 8;

    // Script.
    int activeCount = 0;
    char active[kMaxActive][RAS_MaxEntryName + 1] = {};
    RASCONNSTATE activeState = RASCS_Connected;
    DWORD dialResult = 0;  // 0: the dial succeeds; else its error (631: cancelled)

    // Record.
    int enumCalls = 0;
    int statusCalls = 0;
    int dialCalls = 0;
    int hangUpCalls = 0;
    DWORD lastDialFlags = 0;
    char lastDialName[RAS_MaxEntryName + 1] = {};
    DWORD_PTR lastHangUp = 0;
};

extern "C" {
// install TRUE: a fresh double replaces any installed one; FALSE: removes it
// (the services answer as without one). Returns the installed double or null.
DialupDouble* QuilloryDialupDouble(BOOL install);
}

using PFN_QuilloryDialupDouble = decltype(&QuilloryDialupDouble);
