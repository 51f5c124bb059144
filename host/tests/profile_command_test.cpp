// `quillory profile` run as a program, and profiles shared between it and
// this process through the profile database.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/base/environment.h"
#include "host/tests/run_program.h"
#include "platform/base/tests/test_home.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/addrbook.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/profile_admin.h"
#include "platform/mapi/session.h"

namespace {

using quillory::ComPtr;
using quillory::testing::TempHome;

using Outcome = quillory::testing::ProgramOutcome;
using quillory::testing::Contains;

std::string Program() { return quillory::testing::QuilloryProgram(); }

// Runs `quillory profile ARGS...`.
Outcome Profile(const TempHome& home, std::vector<std::string> args)
{
    args.insert(args.begin(), "profile");
    return quillory::testing::RunQuillory(home, std::move(args));
}

void WriteServiceList()
{
    char dir[MAX_PATH];
    ASSERT_GT(GetSystemDirectory(dir, sizeof dir), 0u);
    std::ofstream(std::filesystem::path(dir) / "MAPISVC.INF", std::ios::binary)
        << "[Services]\r\nNoLib=Plain Service\r\n[Default Services]\r\nNoLib=Plain Service\r\n"
           "[NoLib]\r\nPR_DISPLAY_NAME=Plain Service\r\nProviders=NOLIB_AB\r\n"
           "[NOLIB_AB]\r\nPR_RESOURCE_TYPE=MAPI_AB_PROVIDER\r\n";
}

TEST(ProfileCommand, CreateListDefaultAndDelete)
{
    TempHome home;
    WriteServiceList();
    auto o = Profile(home, {"list"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "No profiles.\n");

    EXPECT_EQ(Profile(home, {"create", "Work"}).status, 0);
    o = Profile(home, {"create", "WORK"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Contains(o.err, "0x80070005")) << o.err;  // MAPI_E_NO_ACCESS: the name is taken
    EXPECT_TRUE(Contains(o.err, "exists")) << o.err;
    EXPECT_EQ(Profile(home, {"create", "Home", "--default-services"}).status, 0);

    o = Profile(home, {"list"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out,
              "  Home\n"
              "    QuilloryStore    Personal Folders\n"
              "    NoLib            Plain Service\n"
              "* Work\n"
              "    QuilloryStore    Personal Folders\n");

    EXPECT_EQ(Profile(home, {"default", "home"}).status, 0);
    EXPECT_TRUE(Contains(Profile(home, {"list"}).out, "* Home\n"));
    o = Profile(home, {"delete", "Nobody"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Contains(o.err, "0x8004010F")) << o.err;
    EXPECT_EQ(Profile(home, {"delete", "Work"}).status, 0);
    EXPECT_FALSE(Contains(Profile(home, {"list"}).out, "Work"));

    EXPECT_EQ(Profile(home, {}).status, 2);
    EXPECT_EQ(Profile(home, {"create"}).status, 2);
    EXPECT_EQ(Profile(home, {"create", "A", "--bogus"}).status, 2);
    EXPECT_EQ(Profile(home, {"rename", "A", "B"}).status, 2);
}

// Several programs changing profiles at once each get their change in.
TEST(ProfileCommand, ConcurrentProgramsAllSucceed)
{
    TempHome home;
    constexpr int kPrograms = 4;
    std::vector<pid_t> children;
    for (int i = 0; i < kPrograms; ++i) {
        std::string program = Program(), command = "profile", verb = "create", name = "P" + std::to_string(i);
        char* argv[] = {program.data(), command.data(), verb.data(), name.data(), nullptr};
        pid_t pid = fork();
        if (pid == 0) {
            int null = open("/dev/null", O_RDWR);
            if (null < 0) _exit(126);
            dup2(null, 0);
            dup2(null, 1);
            execv(argv[0], argv);
            _exit(127);
        }
        ASSERT_GT(pid, 0);
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto list = Profile(home, {"list"}).out;
    for (int i = 0; i < kPrograms; ++i) EXPECT_TRUE(Contains(list, "P" + std::to_string(i) + "\n")) << list;
    EXPECT_EQ(std::count(list.begin(), list.end(), '*'), 1) << list;  // exactly one became the default
}

TEST(ProfileCommand, ChangesAreSeenByTheOtherProcess)
{
    TempHome home;
    ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
    {
        ComPtr<IProfAdmin> admin;
        ASSERT_EQ(MAPIAdminProfiles(0, &admin), S_OK);
        ASSERT_EQ(admin->CreateProfile(const_cast<LPSTR>("Mine"), nullptr, 0, 0), S_OK);
        // The database stays open here while the program writes to it.
        EXPECT_TRUE(Contains(Profile(home, {"list"}).out, "* Mine\n"));
        ASSERT_EQ(Profile(home, {"create", "Theirs"}).status, 0);
        ASSERT_EQ(Profile(home, {"identity", "Theirs", "Tess User", "tess@example.org"}).status, 0);

        ComPtr<IMAPITable> table;
        ASSERT_EQ(admin->GetProfileTable(0, &table), S_OK);
        ULONG count = 0;
        ASSERT_EQ(table->GetRowCount(0, &count), S_OK);
        EXPECT_EQ(count, 2u);

        ComPtr<IMAPISession> session;
        ASSERT_EQ(MAPILogonEx(0, const_cast<LPSTR>("Theirs"), nullptr, MAPI_NEW_SESSION, &session), S_OK);
        ULONG cb = 0;
        LPENTRYID eid = nullptr;
        ASSERT_EQ(session->QueryIdentity(&cb, &eid), S_OK);
        auto identity = quillory::ParseOneOffEntryId(cb, eid);
        MAPIFreeBuffer(eid);
        ASSERT_TRUE(identity);
        EXPECT_EQ(identity->displayName, "Tess User");
        EXPECT_EQ(identity->address, "tess@example.org");

        ASSERT_EQ(Profile(home, {"delete", "Mine"}).status, 0);
        ComPtr<IMsgServiceAdmin> services;
        EXPECT_EQ(admin->AdminServices(const_cast<LPSTR>("Mine"), nullptr, 0, 0, &services), MAPI_E_NOT_FOUND);
    }
    MAPIUninitialize();
}

}  // namespace

namespace {

// What a person sees when the profile database or a profile's message store
// is damaged: one line naming the file, a failing exit status, the file left alone.
TEST(ProfileCommand, DamagedFilesAreNamedAndLeftAlone)
{
    TempHome home;
    WriteServiceList();
    ASSERT_EQ(Profile(home, {"create", "Work"}).status, 0);
    ASSERT_EQ(quillory::testing::RunQuillory(home, {"store", "folders", "--profile", "Work"}).status, 0);

    // A store with a page of its folder tree zeroed.
    std::filesystem::path store;
    for (const auto& e : std::filesystem::directory_iterator(home.path() / "stores"))
        if (e.path().extension() == ".qst") store = e.path();
    ASSERT_FALSE(store.empty());
    std::string bytes;
    {
        std::ifstream in(store, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_GT(bytes.size(), 3u * 4096);
    std::fill(bytes.begin() + 2 * 4096, bytes.begin() + 3 * 4096, '\0');
    std::ofstream(store, std::ios::binary | std::ios::trunc) << bytes;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"store", "folders", "--profile", "Work"}, {"sync", "--profile", "Work"}}) {
        const Outcome o = quillory::testing::RunQuillory(home, args);
        EXPECT_EQ(o.status, 1) << args[0] << o.out << o.err;
        EXPECT_TRUE(Contains(o.out + o.err, store.string() + " is damaged")) << args[0] << o.out << o.err;
    }
    std::string after;
    {
        std::ifstream in(store, std::ios::binary);
        after.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    EXPECT_TRUE(after == bytes);

    // A profile database that lost its contents.
    const auto profiles = home.path() / "profiles" / "profiles.db";
    std::ofstream(profiles, std::ios::binary | std::ios::trunc);
    const Outcome o = Profile(home, {"list"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Contains(o.err, "the profile database " + profiles.string() + " is damaged")) << o.err;
    EXPECT_EQ(std::filesystem::file_size(profiles), 0u);
}

}  // namespace
