// Test module that loads other modules itself: its own directory comes first
// in the search.
#include "platform/base/module.h"

extern "C" __attribute__((visibility("default"))) HMODULE QTestCallerLoad(const char* name)
{
    return LoadLibrary(name);
}
