// `quillory reg` run as a program against a private registry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/base/registry.h"
#include "host/tests/run_program.h"
#include "platform/base/tests/test_home.h"

namespace {

using quillory::testing::TempHome;

using Outcome = quillory::testing::ProgramOutcome;
using quillory::testing::Contains;

// Runs `quillory reg ARGS...` with the given stdin (none: /dev/null).
Outcome Reg(const TempHome& home, std::vector<std::string> args,
            std::optional<std::string> input = std::nullopt)
{
    args.insert(args.begin(), "reg");
    return quillory::testing::RunQuillory(home, std::move(args), std::move(input));
}

const std::string kKey = "HKCU\\Software\\Tarnel Ltd\\Corvane";
const std::string kDone = "The operation completed successfully.\n";
const std::string kCancelled = "The operation was cancelled by the user.\n";
const std::string kNotFound = "ERROR: The system was unable to find the specified registry key or value.\n";

TEST(RegCommand, ValuesAddedByOneProcessAreReadByAnother)
{
    TempHome home;
    EXPECT_EQ(Reg(home, {"add", kKey, "/v", "DIR", "/d", "/srv/news/"}).out, kDone);
    EXPECT_EQ(Reg(home, {"add", kKey, "/v", "NewNewsgroupsTime", "/t", "REG_DWORD", "/d", "10080"}).status, 0);
    EXPECT_EQ(Reg(home, {"add", kKey, "/v", "Mask", "/t", "reg_dword", "/d", "0xFFFFFFFF"}).status, 0);
    EXPECT_EQ(Reg(home, {"add", kKey + "\\Profiles\\Default", "/v", "BaseFolderBIN", "/t", "REG_BINARY",
                         "/d", "00ab10Ff"}).status, 0);
    EXPECT_EQ(Reg(home, {"add", kKey, "/ve", "/d", "default text"}).status, 0);

    Outcome q = Reg(home, {"query", "hkey_current_user\\Software\\Tarnel Ltd\\Corvane"});
    EXPECT_EQ(q.status, 0);
    EXPECT_EQ(q.out,
              "\nHKEY_CURRENT_USER\\Software\\Tarnel Ltd\\Corvane\n"
              "    (Default)    REG_SZ    default text\n"
              "    DIR    REG_SZ    /srv/news/\n"
              "    Mask    REG_DWORD    0xffffffff\n"
              "    NewNewsgroupsTime    REG_DWORD    0x2760\n"
              "\nHKEY_CURRENT_USER\\Software\\Tarnel Ltd\\Corvane\\Profiles\n");

    // The stored bytes are what the registry calls expect.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Tarnel Ltd\\Corvane\\Profiles\\Default", 0,
                           KEY_READ, &key),
              ERROR_SUCCESS);
    BYTE bin[8];
    DWORD type = 0, cb = sizeof bin;
    ASSERT_EQ(RegQueryValueEx(key, "BaseFolderBIN", nullptr, &type, bin, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(std::vector<BYTE>(bin, bin + cb), (std::vector<BYTE>{0x00, 0xAB, 0x10, 0xFF}));
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Tarnel Ltd\\Corvane", 0, KEY_READ, &key), ERROR_SUCCESS);
    char dir[32];
    cb = sizeof dir;
    ASSERT_EQ(RegQueryValueEx(key, "DIR", nullptr, &type, reinterpret_cast<BYTE*>(dir), &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(std::string(dir, cb), std::string("/srv/news/\0", 11));  // stored with its NUL
    RegCloseKey(key);

    // One value, found case-insensitively and shown with its stored name.
    q = Reg(home, {"query", kKey, "/v", "basefolderbin", "/s"});
    EXPECT_EQ(q.out,
              "\nHKEY_CURRENT_USER\\Software\\Tarnel Ltd\\Corvane\\Profiles\\Default\n"
              "    BaseFolderBIN    REG_BINARY    00AB10FF\n");
}

TEST(RegCommand, RecursiveQueryAndMissingKeysOrValues)
{
    TempHome home;
    ASSERT_EQ(Reg(home, {"add", "HKLM\\Software\\A\\B", "/v", "x", "/t", "REG_DWORD", "/d", "7"}).status, 0);
    ASSERT_EQ(Reg(home, {"add", "HKLM\\Software\\A\\C"}).status, 0);  // a key alone
    Outcome q = Reg(home, {"query", "HKLM\\Software\\A", "/s"});
    EXPECT_EQ(q.status, 0);
    EXPECT_EQ(q.out,
              "\nHKEY_LOCAL_MACHINE\\Software\\A\n"
              "\nHKEY_LOCAL_MACHINE\\Software\\A\\B\n"
              "    x    REG_DWORD    0x7\n"
              "\nHKEY_LOCAL_MACHINE\\Software\\A\\C\n");

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"query", "HKLM\\Software\\Nothing"},
             {"query", "HKLM\\Software\\A", "/v", "missing"},
             {"query", "HKLM\\Software\\A", "/ve"},
             {"query", "HKLM\\Software\\A", "/v", "y", "/s"},
             {"delete", "HKLM\\Software\\Nothing", "/f"},
             {"delete", "HKLM\\Software\\A\\B", "/v", "nope", "/f"}}) {
        q = Reg(home, args);
        EXPECT_EQ(q.status, 1) << args[1];
        EXPECT_EQ(q.err, kNotFound) << args[1];
        EXPECT_EQ(q.out, "");
    }
}

TEST(RegCommand, BadInputIsRefusedWithAMessageAndWritesNothing)
{
    TempHome home;
    const std::vector<std::vector<std::string>> cases = {
        {"add", "HKXX\\Software\\Bad"},
        {"add", "Software\\Bad"},
        {"add", "HKCU\\Software\\\\Bad"},
        {"add", "HKCU\\Software\\Bad", "/v", "n", "/t", "REG_QWORD", "/d", "1"},
        {"add", "HKCU\\Software\\Bad", "/v", "n", "/t", "REG_DWORD", "/d", "4294967296"},
        {"add", "HKCU\\Software\\Bad", "/v", "n", "/t", "REG_DWORD", "/d", "-1"},
        {"add", "HKCU\\Software\\Bad", "/v", "n", "/t", "REG_DWORD", "/d", "12abc"},
        {"add", "HKCU\\Software\\Bad", "/v", "n", "/t", "REG_DWORD", "/d", "0x"},
        {"add", "HKCU\\Software\\Bad", "/v", "n", "/t", "REG_BINARY", "/d", "abc"},
        {"add", "HKCU\\Software\\Bad", "/v", "n", "/t", "REG_BINARY", "/d", "zz"},
        {"add", "HKCU\\Software\\Bad", "/v"},
        {"add", "HKCU\\Software\\Bad", "/v", "a", "/ve"},
        {"add", "HKCU\\Software\\Bad", "/s"},
        {"add", "HKCU\\Software\\Bad", "/bogus"},
        {"add", "HKCU\\Software\\Bad", "extra"},
        {"add"},
        {"frobnicate", "HKCU\\Software\\Bad"},
        {},
        {"delete", "HKCU", "/f"},
    };
    for (const auto& args : cases) {
        Outcome o = Reg(home, args);
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        EXPECT_EQ(o.status, 1) << shown;
        EXPECT_EQ(o.err.rfind("ERROR: ", 0), 0u) << shown << "\n" << o.err;
        EXPECT_EQ(o.out, "") << shown;
    }
    EXPECT_TRUE(Contains(Reg(home, {"add", "HKXX\\a"}).err, "ERROR: Invalid key name."));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Bad", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);

    Outcome usage = Reg(home, {"/?"});
    EXPECT_EQ(usage.status, 0);
    EXPECT_TRUE(Contains(usage.out, "quillory reg add"));
}

TEST(RegCommand, OverwriteAsksUnlessForced)
{
    TempHome home;
    ASSERT_EQ(Reg(home, {"add", "HKCU\\S", "/v", "DIR", "/d", "first"}).status, 0);

    for (std::optional<std::string> refusal : {std::optional<std::string>(), std::optional<std::string>("no\n"),
                                               std::optional<std::string>("maybe\n")}) {
        Outcome o = Reg(home, {"add", "HKCU\\S", "/v", "dir", "/d", "second"}, refusal);
        EXPECT_EQ(o.status, 0);
        EXPECT_TRUE(Contains(o.out, "Value dir exists, overwrite(Yes/No)?"));
        EXPECT_TRUE(Contains(o.out, kCancelled));
    }
    EXPECT_TRUE(Contains(Reg(home, {"query", "HKCU\\S", "/v", "DIR"}).out, "REG_SZ    first\n"));

    Outcome yes = Reg(home, {"add", "HKCU\\S", "/v", "DIR", "/d", "second"}, "Yes\n");
    EXPECT_TRUE(Contains(yes.out, kDone));
    EXPECT_TRUE(Contains(Reg(home, {"query", "HKCU\\S", "/v", "DIR"}).out, "REG_SZ    second\n"));

    Outcome forced = Reg(home, {"add", "HKCU\\S", "/v", "DIR", "/t", "REG_DWORD", "/d", "3", "/f"});
    EXPECT_EQ(forced.out, kDone);
    EXPECT_TRUE(Contains(Reg(home, {"query", "HKCU\\S", "/v", "DIR"}).out, "REG_DWORD    0x3\n"));
    // A new value needs no question.
    EXPECT_EQ(Reg(home, {"add", "HKCU\\S", "/v", "Other", "/d", "x"}).out, kDone);
}

TEST(RegCommand, DeleteAsksUnlessForcedAndRemovesTrees)
{
    TempHome home;
    ASSERT_EQ(Reg(home, {"add", "HKCU\\T\\Profiles\\P1", "/v", "a", "/d", "1"}).status, 0);
    ASSERT_EQ(Reg(home, {"add", "HKCU\\T", "/v", "a", "/d", "1"}).status, 0);
    ASSERT_EQ(Reg(home, {"add", "HKCU\\T", "/v", "b", "/d", "2"}).status, 0);

    Outcome o = Reg(home, {"delete", "HKCU\\T", "/v", "a"}, "n\n");
    EXPECT_TRUE(Contains(o.out, "Delete the registry value a (Yes/No)?"));
    EXPECT_TRUE(Contains(o.out, kCancelled));
    o = Reg(home, {"delete", "HKCU\\T", "/v", "A"}, "y\n");
    EXPECT_TRUE(Contains(o.out, kDone));
    EXPECT_EQ(Reg(home, {"query", "HKCU\\T", "/v", "a"}).status, 1);

    EXPECT_EQ(Reg(home, {"delete", "HKCU\\T", "/va", "/f"}).out, kDone);
    EXPECT_EQ(Reg(home, {"query", "HKCU\\T"}).out, "\nHKEY_CURRENT_USER\\T\n\nHKEY_CURRENT_USER\\T\\Profiles\n");

    o = Reg(home, {"delete", "HKCU\\T"});  // no answer: nothing happens
    EXPECT_TRUE(Contains(o.out, "Permanently delete the registry key HKEY_CURRENT_USER\\T (Yes/No)?"));
    EXPECT_TRUE(Contains(o.out, kCancelled));
    EXPECT_EQ(Reg(home, {"query", "HKCU\\T\\Profiles\\P1"}).status, 0);

    EXPECT_EQ(Reg(home, {"delete", "HKCU\\T", "/f"}).out, kDone);
    EXPECT_EQ(Reg(home, {"query", "HKCU\\T"}).status, 1);
}

}  // namespace
