#include "provider/nntp/tests/fake_gui.h"

#include <cstdio>
#include <type_traits>

#include "common/vismora_api.h"

namespace {
FakeGuiState g_state;
}

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT FakeGuiState* FakeGuiStateGet() { return &g_state; }

FAKE_EXPORT int ErrorGUI(HWND, LPCSTR, LPCSTR) { return 1; }
static_assert(std::is_same_v<decltype(&ErrorGUI), quillory::vismora::ErrorGuiFn>);

#ifndef FAKE_GUI_WITHOUT_FILLIS
FAKE_EXPORT int FillIS(LPSPropValue, INETSERVER*, LPSTR) { return 1; }
static_assert(std::is_same_v<decltype(&FillIS), quillory::vismora::FillIsFn>);
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
static_assert(std::is_same_v<decltype(&LogonPrompt), quillory::vismora::LogonPromptFn>);
