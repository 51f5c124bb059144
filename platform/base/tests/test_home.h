// A fresh environment root for one test: QUILLORY_HOME points at a new
// temporary directory for the test's lifetime, so tests never share state and
// never touch the user's.
#pragma once

#include <filesystem>
#include <string>

namespace quillory::testing {

class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& path() const { return root_; }

private:
    std::filesystem::path root_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// Directory of the build's programs (bin/) and libraries (lib/), for tests
// that run the host or load modules.
std::filesystem::path BuildBinDir();
std::filesystem::path BuildLibDir();

}  // namespace quillory::testing
