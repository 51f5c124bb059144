// `quillory client` as a person runs it: the add-in loaded from the
// registry as the mail client loads it, its button on the menus, what
// becomes of add-ins whose registration is broken, and the bad input of the
// command itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/tests/run_program.h"
#include "platform/base/registry.h"
#include "platform/base/tests/registry_dump.h"
#include "platform/base/tests/test_home.h"

namespace quillory::testing {
namespace {

class Client : public ::testing::Test {
protected:
    void SetUp() override
    {
        Run({"setup", "install"});
        Run({"profile", "create", "P"});
        // The choice the profile wizard asks for, made already.
        Run({"reg", "add", "HKCU\\Software\\Tarnel Ltd\\Corvane\\Profiles\\P", "/v", "Enabled", "/t", "REG_DWORD", "/d",
             "1", "/f"});
    }
    ProgramOutcome Run(std::vector<std::string> args, int expected = 0)
    {
        ProgramOutcome o = RunQuillory(home, args, std::nullopt, {"QUILLORY_LIBPATH"});
        EXPECT_EQ(o.status, expected) << args[0] << "\n" << o.out << o.err;
        return o;
    }
    void AddinEntry(const std::string& progId, const std::string& behavior)
    {
        Run({"reg", "add", "HKCU\\Software\\Microsoft\\Office\\Outlook\\Addins\\" + progId, "/v", "LoadBehavior", "/t",
             "REG_DWORD", "/d", behavior, "/f"});
    }
    TempHome home;
};

TEST_F(Client, LoadsTheAddinFromTheRegistryWhichPutsItsButtonBeforeOptions)
{
    const ProgramOutcome o = Run({"client", "--profile", "P", "--explorer", "--folders"});
    EXPECT_TRUE(Contains(o.out, "add-in tolvane.OutlookAddin: connected\n")) << o.out;
    const auto button = o.out.find("Newsgroups... (add-in)");
    const auto options = o.out.find("&Options... [522]");
    ASSERT_NE(button, std::string::npos) << o.out;
    ASSERT_NE(options, std::string::npos) << o.out;
    EXPECT_LT(button, options);
    // The base folder the add-in made on connection.
    EXPECT_TRUE(Contains(o.out, "  Inbox (0, 0 unread)\n    Newsgroups (0, 0 unread)\n")) << o.out;
    const ProgramOutcome reg = Run({"reg", "query", "HKCU\\Software\\Tarnel Ltd\\Corvane\\Profiles\\P"});
    EXPECT_TRUE(Contains(reg.out, "BaseFolderBIN")) << reg.out;
}

TEST_F(Client, BrokenRegistrationsAreNamedAndTheHostGoesOn)
{
    AddinEntry("broken.NotAtStartup", "2");
    AddinEntry("broken.NoProgId", "3");
    AddinEntry("broken.NoModule", "3");
    const std::string clsid = "{11111111-2222-3333-4444-555555555555}";
    Run({"reg", "add", "HKCR\\broken.NoModule\\CLSID", "/d", clsid, "/f"});
    Run({"reg", "add", "HKCR\\CLSID\\" + clsid + "\\InprocServer32", "/d", "/nonexistent/libmissing.so", "/f"});
    Run({"reg", "add", "HKCU\\Software\\Microsoft\\Office\\Outlook\\Addins\\broken.NoValue", "/v", "FriendlyName", "/d",
         "x", "/f"});

    const ProgramOutcome o = Run({"client", "--profile", "P", "--explorer"});
    EXPECT_TRUE(Contains(o.out, "add-in broken.NotAtStartup: not loaded: its LoadBehavior is 2, not 3\n")) << o.out;
    EXPECT_TRUE(Contains(o.out, "add-in broken.NoValue: not loaded: it has no LoadBehavior\n")) << o.out;
    EXPECT_TRUE(Contains(o.out, "add-in broken.NoProgId: not loaded: the ProgID names no registered class (0x800401F3)"))
        << o.out;
    EXPECT_TRUE(Contains(o.out, "add-in broken.NoModule: not loaded: its class " + clsid + " cannot be created (0x800401F8)"))
        << o.out;
    EXPECT_TRUE(Contains(o.out, "add-in tolvane.OutlookAddin: connected\n")) << o.out;
    EXPECT_TRUE(Contains(o.out, "Newsgroups... (add-in)")) << o.out;
}

TEST_F(Client, TheOptionsDialogNamesThePageAndADisabledProfileHasNoButton)
{
    ProgramOutcome o = Run({"client", "--profile", "P", "--options"});
    EXPECT_TRUE(Contains(o.out, "Options pages: 1\n  NNTP: tolvane.NNTPPropPage")) << o.out;

    Run({"reg", "add", "HKCU\\Software\\Tarnel Ltd\\Corvane\\Profiles\\P", "/v", "Enabled", "/t", "REG_DWORD", "/d", "0",
         "/f"});
    o = Run({"client", "--profile", "P", "--explorer"});
    EXPECT_TRUE(Contains(o.out, "add-in tolvane.OutlookAddin: loaded, inactive in this profile\n")) << o.out;
    EXPECT_FALSE(Contains(o.out, "(add-in)")) << o.out;
}

TEST_F(Client, AProfileWithoutAChoiceRunsTheWizardWhichCannotAnswerHereAndStaysInactive)
{
    Run({"reg", "delete", "HKCU\\Software\\Tarnel Ltd\\Corvane\\Profiles\\P", "/v", "Enabled", "/f"});
    const ProgramOutcome o = Run({"client", "--profile", "P", "--explorer"});
    EXPECT_TRUE(Contains(o.out, "add-in tolvane.OutlookAddin: loaded, inactive in this profile\n")) << o.out;
}

TEST_F(Client, BadInputIsOneSentenceAndAnExitStatusOfTwo)
{
    ProgramOutcome o = Run({"client", "--profile", "Nope", "--explorer"}, 2);
    EXPECT_EQ(o.err, "quillory client: there is no profile \"Nope\".\n");
    EXPECT_TRUE(o.out.empty());
    o = Run({"client", "--profile", "P", "--fly"}, 2);
    EXPECT_TRUE(Contains(o.err, "usage: quillory client")) << o.err;
    Run({"client"}, 2);
}

TEST_F(Client, UninstallTakesTheAddinOutAndLeavesTheKeptKeys)
{
    Run({"setup", "uninstall"});
    const auto classes = RegistryTree(HKEY_CLASSES_ROOT);
    for (const std::string& line : classes) {
        EXPECT_EQ(line.find("tolvane"), std::string::npos) << line;
        EXPECT_EQ(line.find("4A9C87D8"), std::string::npos) << line;
        EXPECT_EQ(line.find("BA90A421"), std::string::npos) << line;
        EXPECT_EQ(line.find("BB506285"), std::string::npos) << line;
        EXPECT_EQ(line.find("1AA5E393"), std::string::npos) << line;
    }
    for (const char* kept : {"AppID", "CLSID", "TypeLib", "Interface", "Outlook.Application"})
        EXPECT_TRUE(classes.count(kept)) << kept;
    EXPECT_TRUE(RegistryTree(HKEY_CURRENT_USER, "Software\\Microsoft\\Office\\Outlook\\Addins\\tolvane.OutlookAddin").empty());
    const ProgramOutcome o = Run({"client", "--profile", "P", "--explorer"});
    EXPECT_FALSE(Contains(o.out, "tolvane")) << o.out;
}

}  // namespace
}  // namespace quillory::testing
