// The trace sink. Trace points are printf-style texts; they are discarded
// unless QUILLORY_TRACE names a file (appended to) or "stderr".
#pragma once

#include <string_view>

namespace quillory {

// Whether trace points currently go anywhere (cheap; callers may skip
// formatting work when false).
bool TraceEnabled();

// Writes one formatted trace point as given (the caller supplies any "\n").
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Re-reads QUILLORY_TRACE; for tests and long-lived hosts that change it.
void ReopenTraceSink();

}  // namespace quillory
