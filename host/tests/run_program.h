// Runs the built `quillory` program as another process, as a person would,
// with its output captured.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/tests/test_home.h"

namespace quillory::testing {

struct ProgramOutcome {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs `quillory ARGS...` with the given standard input (none: /dev/null);
// the environment variables named in `unset` are removed for the child only.
ProgramOutcome RunQuillory(const TempHome& home, std::vector<std::string> args,
                           std::optional<std::string> input = std::nullopt,
                           std::initializer_list<const char*> unset = {});

// The path of the built program.
std::string QuilloryProgram();

// A whole file's bytes (empty when it cannot be read).
std::string ReadWholeFile(const std::filesystem::path& p);

bool Contains(const std::string& text, const std::string& part);

}  // namespace quillory::testing
