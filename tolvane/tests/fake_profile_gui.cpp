// A stand-in for the GUI library's profile wizard: its answer comes from
// QUILLORY_TEST_PROFILE_GUI ("1" or "0"), and each call is counted in the
// file QUILLORY_TEST_PROFILE_GUI_LOG names, with the profile it was for.
#include <cstdlib>
#include <fstream>

#include "platform/com/unknwn.h"

extern "C" __attribute__((visibility("default"))) int ProfileGUI(LPCSTR profileName, IUnknown* outlook)
{
    if (const char* log = std::getenv("QUILLORY_TEST_PROFILE_GUI_LOG"))
        std::ofstream(log, std::ios::app) << (profileName ? profileName : "<null>") << (outlook ? " ns" : " none") << "\n";
    const char* answer = std::getenv("QUILLORY_TEST_PROFILE_GUI");
    return answer && answer[0] == '1' ? 1 : 0;
}
