#include "provider/nntp/tests/fake_gui.h"

#include <cstdio>

namespace {
FakeGuiState g_state;
}

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT FakeGuiState* FakeGuiStateGet() { return &g_state; }

FAKE_EXPORT int ErrorGUI(void*, const char*, const char*) { return 1; }

#ifndef FAKE_GUI_WITHOUT_FILLIS
FAKE_EXPORT int FillIS(LPSPropValue, INETSERVER*, char*) { return 1; }
#endif

FAKE_EXPORT int LogonPrompt(LPSPropValue props, INETSERVER* server, LPALLOCATEMORE allocateMore, ULONG* changed)
{
    ++g_state.prompts;
    g_state.lastProps = props;
    g_state.lastAllocateMore = allocateMore;
    if (g_state.answer && server) {
        std::snprintf(server->szUserName, sizeof server->szUserName, "%s", g_state.user);
        std::snprintf(server->szPassword, sizeof server->szPassword, "%s", g_state.password);
    }
    if (changed) *changed = g_state.changed;
    return g_state.answer;
}
