// `quillory setup` run as a program: it loads the library by name and reports.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sedgewynd/tests/test_support.h"

namespace quillory::sedgewynd {
namespace {

using namespace testing;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

Outcome RunSetup(const fs::path& root, std::vector<std::string> args)
{
    const fs::path out = root / "out", err = root / "err";
    args.insert(args.begin(), {(quillory::testing::BuildBinDir() / "quillory").string(), "setup"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("QUILLORY_LIBPATH", quillory::testing::BuildLibDir().c_str(), 1);
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, 1);
        dup2(e, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

TEST(SetupCommand, RunsTheEntriesAndReportsTheirResult)
{
    quillory::testing::TempHome home;
    // The host registers itself as a current mail client first, so the
    // missing service list is created and merged.
    const fs::path list = Folder(CSIDL_SYSTEM) / "MAPISVC.INF";
    Outcome r = RunSetup(home.path(), {"install"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("Install: 0 (success)\n")) << r.out;  // the add-in's registration follows
    EXPECT_NE(ReadFile(list).find("[Dummy section]\r\nDummy=Nothing\r\n\r\n[Default Services]"), std::string::npos);

    WriteFile(list, "[Services]\r\nMSEMS=Microsoft Exchange Server\r\n");
    r = RunSetup(home.path(), {"install"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("Install: 0 (success)\n")) << r.out;  // the add-in's registration follows
    EXPECT_NE(ReadFile(list).find("[QUARNEX_XPP]"), std::string::npos);

    r = RunSetup(home.path(), {"uninstall"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.ends_with("Uninstall: 0 (success)\n")) << r.out;  // after the add-in's
    EXPECT_EQ(ReadFile(list), "[Services]\r\nMSEMS=Microsoft Exchange Server\r\n\r\n");

    EXPECT_EQ(RunSetup(home.path(), {"repair"}).status, 2);
    EXPECT_EQ(RunSetup(home.path(), {}).status, 2);
}

}  // namespace
}  // namespace quillory::sedgewynd
