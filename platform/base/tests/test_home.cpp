#include "platform/base/tests/test_home.h"

#include <cstdlib>
#include <stdexcept>

#ifndef QUILLORY_BUILD_BINDIR
#error "test programs are built with QUILLORY_BUILD_BINDIR and QUILLORY_BUILD_LIBDIR"
#endif

namespace quillory::testing {

TempHome::TempHome()
{
    std::string tmpl = (std::filesystem::temp_directory_path() / "quillory-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    root_ = tmpl;
    if (const char* prev = std::getenv("QUILLORY_HOME")) {
        previous_ = prev;
        hadPrevious_ = true;
    }
    setenv("QUILLORY_HOME", root_.c_str(), 1);
}

TempHome::~TempHome()
{
    if (hadPrevious_)
        setenv("QUILLORY_HOME", previous_.c_str(), 1);
    else
        unsetenv("QUILLORY_HOME");
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

// The environment may override where the build put things (e.g. an installed
// tree); otherwise the paths the build compiled in.
static std::filesystem::path FromEnv(const char* name, const char* builtIn)
{
    if (const char* v = std::getenv(name)) return v;
    return builtIn;
}

std::filesystem::path BuildBinDir() { return FromEnv("QUILLORY_BUILD_BINDIR", QUILLORY_BUILD_BINDIR); }
std::filesystem::path BuildLibDir() { return FromEnv("QUILLORY_BUILD_LIBDIR", QUILLORY_BUILD_LIBDIR); }

}  // namespace quillory::testing
