#include "host/tests/run_program.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quillory::testing {
std::string ReadWholeFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string QuilloryProgram() { return (BuildBinDir() / "quillory").string(); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

ProgramOutcome RunQuillory(const TempHome& home, std::vector<std::string> args, std::optional<std::string> input,
                           std::initializer_list<const char*> unset)
{
    const auto dir = home.path() / "run";
    std::filesystem::create_directories(dir);
    const auto in = dir / "in", out = dir / "out", err = dir / "err";
    if (input) {
        std::ofstream f(in, std::ios::binary);
        f << *input;
    }
    args.insert(args.begin(), QuilloryProgram());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        for (const char* name : unset) unsetenv(name);
        const int fin = open(input ? in.c_str() : "/dev/null", O_RDONLY);
        const int fout = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int ferr = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fin < 0 || fout < 0 || ferr < 0) _exit(126);
        dup2(fin, 0);
        dup2(fout, 1);
        dup2(ferr, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ProgramOutcome o;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) o.status = WEXITSTATUS(status);
    o.out = ReadWholeFile(out);
    o.err = ReadWholeFile(err);
    return o;
}

}  // namespace quillory::testing
