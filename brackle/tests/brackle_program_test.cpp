// The brackle program as built: what it links, what it carries, and a run
// without anyone to answer its question.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/base/version_info.h"
#include "platform/mapi/tests/profile_test_util.h"

namespace {

using namespace quillory::testing;
using quillory::ComPtr;

std::string Program() { return (BuildBinDir() / "brackle").string(); }

std::string ReadAll(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The shared objects the program needs, as the dynamic section names them.
std::string NeededLibraries()
{
    const std::string command = "readelf -d '" + Program() + "' 2>/dev/null";
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, p))
            if (std::string line = buffer; line.find("(NEEDED)") != std::string::npos) out += line;
        pclose(p);
    }
    return out;
}

TEST(BrackleProgram, LinksThePlatformBaseOnlyAndDescribesItself)
{
    const std::string needed = NeededLibraries();
    if (needed.empty()) GTEST_SKIP() << "readelf is not available";
    EXPECT_NE(needed.find("[libqbase.so]"), std::string::npos) << needed;
    EXPECT_EQ(needed.find("libqmapi"), std::string::npos) << needed;
    EXPECT_EQ(needed.find("libqcom"), std::string::npos) << needed;

    quillory::VersionRecord record{};
    ASSERT_GE(quillory::FindVersionRecord(Program().c_str(), record), 0);
    EXPECT_STREQ(record.description, "Tools to remove Tarnel NNTP accounts");
}

TEST(BrackleProgram, WithoutATerminalTheQuestionIsAnsweredNo)
{
    MapiHome mapi(false);
    WriteServiceList("[Services]\r\nCorvane=Tarnel NNTP Transport\r\n\r\n[Corvane]\r\nProviders=XP\r\n\r\n"
                     "[XP]\r\nPR_RESOURCE_TYPE=MAPI_TRANSPORT_PROVIDER\r\n");
    ComPtr<IProfAdmin> admin = ProfAdmin();
    ASSERT_EQ(admin->CreateProfile(const_cast<LPSTR>("Outlook"), nullptr, 0, 0), S_OK);
    ComPtr<IMsgServiceAdmin> services;
    ASSERT_EQ(admin->AdminServices(const_cast<LPSTR>("Outlook"), nullptr, 0, 0, &services), S_OK);
    ASSERT_EQ(services->CreateMsgService(const_cast<LPSTR>("Corvane"), const_cast<LPSTR>("news"), 0, 0), S_OK);

    const auto err = mapi.path() / "err";
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(e, 2);
        execl(Program().c_str(), Program().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string shown = ReadAll(err);
    EXPECT_NE(shown.find("message box [Removing Tarnel NNTP accounts] You have following installed NNTP accounts:"),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("(answered 7)"), std::string::npos) << shown;  // IDNO

    ComPtr<IMAPITable> table;
    ASSERT_EQ(services->GetMsgServiceTable(0, &table), S_OK);
    quillory::RowSetPtr keep;
    EXPECT_EQ(AllRows(table.Get(), {PR_SERVICE_NAME}, keep).size(), 2u);  // the store and the account
}

}  // namespace
