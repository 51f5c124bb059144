// Test module: loaded as "QTESTMOD.DLL"; exports a few functions and carries
// a version record.
#include "platform/base/module.h"
#include "platform/base/version_info.h"

QUILLORY_VERSION_INFO(3, 14, 15, 92, "Module loader test library");

namespace {
int g_calls = 0;  // starts again at 0 whenever the module is loaded afresh
}

extern "C" {

__attribute__((visibility("default"))) int QTestModAnswer() { return 42; }

__attribute__((visibility("default"))) int QTestModBump() { return ++g_calls; }

// Present in the library but not exported.
int QTestModHidden() { return 7; }

}

// Callers may bind QTestModAnswer by ordinal 14; ordinal 15 names nothing exported.
namespace {
constexpr quillory::OrdinalEntry kOrdinals[] = {{14, "QTestModAnswer"}, {15, "QTestModHidden"}};
}
extern "C" __attribute__((visibility("default"))) const quillory::OrdinalTable QuilloryOrdinalTable = {2, kOrdinals};
