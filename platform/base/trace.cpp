#include "platform/base/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace quillory {
namespace {

struct Sink {
    std::mutex lock;
    FILE* out = nullptr;
    bool owned = false;
    bool opened = false;

    void Open()
    {
        Close();
        opened = true;
        const char* target = std::getenv("QUILLORY_TRACE");
        if (!target || !*target) return;
        if (std::strcmp(target, "stderr") == 0) {
            out = stderr;
            return;
        }
        out = std::fopen(target, "a");
        owned = out != nullptr;
        if (!out) std::fprintf(stderr, "quillory: cannot open trace file %s\n", target);
    }
    void Close()
    {
        if (owned && out) std::fclose(out);
        out = nullptr;
        owned = false;
    }
    ~Sink() { Close(); }
};

Sink& TheSink()
{
    static Sink sink;
    return sink;
}

}  // namespace

bool TraceEnabled()
{
    Sink& s = TheSink();
    std::lock_guard g(s.lock);
    if (!s.opened) s.Open();
    return s.out != nullptr;
}

void Trace(const char* format, ...)
{
    Sink& s = TheSink();
    std::lock_guard g(s.lock);
    if (!s.opened) s.Open();
    if (!s.out) return;
    va_list ap;
    va_start(ap, format);
    std::vfprintf(s.out, format, ap);
    va_end(ap);
    std::fflush(s.out);
}

void ReopenTraceSink()
{
    Sink& s = TheSink();
    std::lock_guard g(s.lock);
    s.Open();
}

}  // namespace quillory
