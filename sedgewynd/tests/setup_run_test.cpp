// The installer entries end to end, through a private copy of the library.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>

#include "platform/base/registry.h"
#include "platform/base/resource.h"
#include "platform/base/winerror.h"
#include "sedgewynd/tests/test_support.h"
#include "sedgewynd/text_codec.h"

namespace quillory::sedgewynd {
namespace {

using namespace testing;

constexpr UINT kErrorStyle = 0x12;  // MB_ICONERROR | MB_ABORTRETRYIGNORE
const std::string kCaption = "Tarnel Sedgewynd Utility";
const std::string kReportHead = "The following INF file(s) has been successfuly updated:\r\n\r\n";
const std::string kNotFound = "Program is unable to found INF files for update.";
const std::string kSomeNotUpdated = "Program is unable to update some form target files.";

const std::string kServiceList =
    "; Written by hand\r\n"
    "[Services]\r\n"
    "MSEMS=Microsoft Exchange Server\r\n"
    "; keep this note\r\n"
    "\r\n"
    "[Default Services]\r\n"
    "MSEMS=Microsoft Exchange Server\r\n"
    "\r\n"
    "[Retired]\r\n"
    "; nothing left here\r\n"
    "\r\n"
    "[MSEMS]\r\n"
    "PR_DISPLAY_NAME=Microsoft Exchange Server\r\n";

// kServiceList as any rewrite leaves it.
const std::string kServiceListRewritten =
    "[Services]\r\nMSEMS=Microsoft Exchange Server\r\n; keep this note\r\n\r\n"
    "[Default Services]\r\nMSEMS=Microsoft Exchange Server\r\n\r\n"
    "[MSEMS]\r\nPR_DISPLAY_NAME=Microsoft Exchange Server\r\n\r\n";

std::string Control(const std::string& extra)
{
    return "[Sedgewynd]\r\nTargetFile=MAPISVC.INF\r\n" + extra +
           "[Services]\r\nCorvane=Tarnel NNTP Transport\r\n"
           "[Corvane]\r\nProviders=QUARNEX_XPP\r\n"
           "[QUARNEX_XPP]\r\nPR_PROVIDER_DLL_NAME=quarnex.dll\r\n";
}

class SetupRun : public ::testing::Test {
protected:
    fs::path System() const { return Folder(CSIDL_SYSTEM); }
    fs::path SharedMapi() const { return Folder(CSIDL_PROGRAM_FILES_COMMON) / "System" / "MSMAPI"; }
    void Configure(const std::string& text) const { WriteFile(lib_.ConfigurationPath(), text); }

    std::string Report(const std::vector<fs::path>& files) const
    {
        std::string text = kReportHead;
        for (const fs::path& f : files) text += "  " + f.string() + "\r\n";
        return text;
    }

    quillory::testing::TempHome home_;
    CLibraryCopy lib_{home_.path()};
    CScriptedBoxes boxes_;
};

TEST_F(SetupRun, BuiltInConfigurationInstallsOnceAndUninstallTakesItOut)
{
    ASSERT_NE(lib_.module(), nullptr);
    const fs::path list = System() / "MAPISVC.INF";
    WriteFile(list, kServiceList);

    EXPECT_EQ(lib_.Install(), static_cast<UINT>(ERROR_SUCCESS));
    const std::string installed = ReadFile(list);
    EXPECT_EQ(ReadFile(System() / "MAPISVC.INF.sedgewynd"), kServiceList);
    EXPECT_EQ(Count(installed, "Corvane=Tarnel NNTP Transport\r\n"), 2);
    EXPECT_EQ(installed.find("; Written by hand"), std::string::npos);
    EXPECT_EQ(installed.find("[Retired]"), std::string::npos);
    EXPECT_NE(installed.find("; keep this note\r\nCorvane=Tarnel NNTP Transport\r\n"), std::string::npos);
    EXPECT_NE(installed.find("[Corvane]\r\nPR_DISPLAY_NAME=Tarnel NNTP Transport\r\n"), std::string::npos);
    EXPECT_NE(installed.find("[QUARNEX_XPP]\r\nPR_PROVIDER_DLL_NAME=quarnex.dll\r\n"
                             "PR_RESOURCE_TYPE=MAPI_TRANSPORT_PROVIDER\r\n"),
              std::string::npos);
    EXPECT_TRUE(boxes_->Boxes().empty());  // SilentOk

    EXPECT_EQ(lib_.Install(), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(ReadFile(list), installed);

    EXPECT_EQ(lib_.Uninstall(), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(ReadFile(list), kServiceListRewritten);
    const auto shown = boxes_->Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "0");
    EXPECT_EQ(shown[0].caption, "2");
    EXPECT_EQ(shown[0].style, static_cast<UINT>(MB_OK));
}

TEST_F(SetupRun, WalksFoldersAndUpdatesEachFileOnce)
{
    // cwd in the root, so that an element left as written is found there.
    const fs::path cwd = fs::current_path();
    fs::current_path(home_.path());
    const std::vector<fs::path> files = {
        System() / "MAPISVC.INF", SharedMapi() / "MAPISVC.INF", SharedMapi() / "1031" / "deep" / "MAPISVC.INF",
        SharedMapi() / "1033" / "MAPISVC.INF", home_.path() / "%99%" / "MAPISVC.INF"};
    for (const fs::path& f : files) WriteFile(f, kServiceList);
    fs::create_directories(SharedMapi() / "empty");
    const fs::path afterTheEnd = Folder(CSIDL_PROGRAM_FILES) / "MAPISVC.INF";
    WriteFile(afterTheEnd, kServiceList);
    // %43%\System\MSMAPI and %38%\Common Files\System\MSMAPI are one place here.
    Configure(Control("TargetPath=%37%;%37%\\;%43%\\System\\MSMAPI\\*;%38%\\Common Files\\System\\MSMAPI\\*;"
                      "%99%;%0%nowhere;%37%;;%38%\r\nBackupExt=bak\r\nSilentOk=0\r\n"));

    EXPECT_EQ(lib_.Install(), static_cast<UINT>(ERROR_SUCCESS));
    fs::current_path(cwd);
    const auto shown = boxes_->Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, kCaption);
    EXPECT_EQ(shown[0].style, static_cast<UINT>(MB_ICONINFORMATION | MB_OK));
    const fs::path relative = fs::path("%99%") / "MAPISVC.INF";
    EXPECT_EQ(shown[0].text, Report({files[0], files[1], files[2], files[3], relative}));
    for (const fs::path& f : files) {
        EXPECT_EQ(Count(ReadFile(f), "[Corvane]"), 1) << f;
        EXPECT_EQ(ReadFile(f.string() + ".bak"), kServiceList) << f;  // not the first merge's result
    }
    EXPECT_EQ(ReadFile(afterTheEnd), kServiceList);  // the list ends at its first empty element
}

TEST_F(SetupRun, LockedCopyIsFoundButNotUpdated)
{
    const std::vector<fs::path> files = {System() / "MAPISVC.INF", SharedMapi() / "MAPISVC.INF",
                                         SharedMapi() / "1033" / "MAPISVC.INF"};
    for (const fs::path& f : files) WriteFile(f, kServiceList);
    const int held = open(files[1].c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);

    const std::string paths = "TargetPath=%37%;%43%\\System\\MSMAPI\\*\r\nSilentOk=0\r\n";
    Configure(Control(paths + "OneForOk=0\r\n"));
    EXPECT_EQ(lib_.Install(), static_cast<UINT>(ERROR_INSTALL_FAILURE));  // nobody answers: Abort
    auto shown = boxes_->Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, kSomeNotUpdated);
    EXPECT_EQ(shown[0].caption, kCaption);
    EXPECT_EQ(shown[0].style, kErrorStyle);
    EXPECT_EQ(ReadFile(files[1]), kServiceList);

    Configure(Control(paths + "OneForOk=1\r\n"));
    EXPECT_EQ(lib_.Install(), static_cast<UINT>(ERROR_SUCCESS));
    shown = boxes_->Boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1].text, Report({files[0], files[2]}));
    EXPECT_EQ(ReadFile(files[1]), kServiceList);
    close(held);
}

TEST_F(SetupRun, BadFilesFailUntouchedWhileOthersAreUpdated)
{
    const std::string good = "\xFF\xFE" + *AnsiToUtf16(kServiceList);
    const std::vector<std::pair<fs::path, std::string>> files = {
        {System() / "MAPISVC.INF", "[S]"},
        {SharedMapi() / "MAPISVC.INF", "just=text\r\n"},
        {SharedMapi() / "1031" / "MAPISVC.INF", good + "x"},
        {SharedMapi() / "1033" / "MAPISVC.INF", good},
    };
    for (const auto& [path, bytes] : files) WriteFile(path, bytes);
    Configure(Control("TargetPath=%37%;%43%\\System\\MSMAPI\\*\r\nSilentOk=0\r\nBackupExt=old\r\n"));

    EXPECT_EQ(lib_.Install(), static_cast<UINT>(ERROR_SUCCESS));
    const auto shown = boxes_->Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, Report({files[3].first}));
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(ReadFile(files[i].first), files[i].second) << files[i].first;
        EXPECT_FALSE(fs::exists(files[i].first.string() + ".old")) << files[i].first;
    }
    const std::string merged = ReadFile(files[3].first);
    ASSERT_EQ(merged.compare(0, 2, "\xFF\xFE"), 0);
    EXPECT_NE(Utf16ToAnsi(merged.substr(2))->find("[QUARNEX_XPP]\r\n"), std::string::npos);
    EXPECT_EQ(ReadFile(files[3].first.string() + ".old"), good);
}

// A presenter that acts when a box is shown, then answers from a script.
class CActingPresenter : public IMessageBoxPresenter {
public:
    std::function<int(std::string_view text)> act;
    int Present(HWND, std::string_view text, std::string_view, UINT) override { return act(text); }
};

TEST_F(SetupRun, RetryRunsAgainIgnoreSucceedsAbortFails)
{
    Configure(Control("TargetPath=%37%\r\nSilentOk=0\r\n"));
    // Retry reads everything afresh: the file put in place meanwhile is found.
    auto acting = std::make_shared<CActingPresenter>();
    std::vector<std::string> texts;
    acting->act = [&](std::string_view text) {
        texts.emplace_back(text);
        if (texts.size() == 1) WriteFile(System() / "MAPISVC.INF", kServiceList);
        return texts.size() == 1 ? IDRETRY : IDOK;
    };
    SetMessageBoxPresenter(acting);
    EXPECT_EQ(lib_.Install(), static_cast<UINT>(ERROR_SUCCESS));
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], kNotFound);
    EXPECT_EQ(texts[1], Report({System() / "MAPISVC.INF"}));
    SetMessageBoxPresenter(nullptr);

    Configure(Control("TargetPath=nowhere\r\n"));
    struct Case {
        std::vector<int> answers;
        UINT result;
    };
    for (const Case& c : {Case{{IDRETRY, IDTRYAGAIN, IDIGNORE}, ERROR_SUCCESS}, Case{{IDCONTINUE}, ERROR_SUCCESS},
                          Case{{IDRETRY, IDABORT}, ERROR_INSTALL_FAILURE}, Case{{IDCANCEL}, ERROR_INSTALL_FAILURE}}) {
        CScriptedBoxes boxes;
        for (int a : c.answers) boxes->QueueAnswer(a);
        EXPECT_EQ(lib_.Install(), c.result);
        const auto shown = boxes->Boxes();
        ASSERT_EQ(shown.size(), c.answers.size());
        for (const auto& box : shown) EXPECT_EQ(box.text, kNotFound);
    }
}

TEST_F(SetupRun, ConfigurationFaultsArePrompted)
{
    std::string manySections;
    for (int i = 0; i < 984; ++i) manySections += "[s" + std::to_string(i) + "]\r\n";
    const std::pair<std::string, std::string> cases[] = {
        {"", "SEDGEWYND.INF file is empty."},
        {"[Other]\r\nk=v\r\n", "The section [Sedgewynd] of the SEDGEWYND.INF file is empty."},
        {"[Sedgewynd]\r\n;only a comment\r\n[Services]\r\nk=v\r\n",
         "The section [Sedgewynd] of the SEDGEWYND.INF file is empty."},
        {"[Sedgewynd]\r\nTargetPath=%37%\r\n", "SEDGEWYND.INF contains configuration error."},
        {"[sedgewynd]\r\nTargetFile=MAPISVC.INF\r\n", "SEDGEWYND.INF contains configuration error."},
        {Control("TargetPath=%37%\r\nNote=" + std::string(1000, 'x') + "\r\n"),
         "SEDGEWYND.INF contains configuration error."},
        {Control("TargetPath=%37%\r\n") + manySections, "SEDGEWYND.INF contains configuration error."},
    };
    WriteFile(System() / "MAPISVC.INF", kServiceList);
    for (const auto& [config, message] : cases) {
        SCOPED_TRACE(message);
        CScriptedBoxes boxes;
        Configure(config);
        EXPECT_EQ(lib_.Install(), static_cast<UINT>(ERROR_INSTALL_FAILURE));
        const auto shown = boxes->Boxes();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, message);
        EXPECT_EQ(shown[0].caption, kCaption);
        EXPECT_EQ(shown[0].style, kErrorStyle);
    }
    EXPECT_EQ(ReadFile(System() / "MAPISVC.INF"), kServiceList);

    // A directory in the file's place is no configuration: the built-in one serves.
    fs::remove(lib_.ConfigurationPath());
    fs::create_directories(lib_.ConfigurationPath());
    EXPECT_EQ(lib_.Install(), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_NE(ReadFile(System() / "MAPISVC.INF").find("[Corvane]"), std::string::npos);
}

void RegisterServer(const char* progId, const char* clsid, const char* serverKey, const std::string& file)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, (std::string(progId) + "\\CLSID").c_str(), &key), ERROR_SUCCESS);
    RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid), static_cast<DWORD>(std::strlen(clsid) + 1));
    RegCloseKey(key);
    const std::string server = std::string("CLSID\\") + clsid + "\\" + serverKey;
    ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, server.c_str(), &key), ERROR_SUCCESS);
    RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                  static_cast<DWORD>(file.size() + 1));
    RegCloseKey(key);
}

const std::string kOfficeFile = (quillory::testing::BuildLibDir() / "libsedgewynd_fakeoffice.so").string();

TEST_F(SetupRun, NewOfficeGetsItsMissingServiceListsCreated)
{
    fs::create_directories(System());
    fs::create_directories(SharedMapi() / "1033");
    fs::create_directories(SharedMapi() / "1049");
    const std::vector<fs::path> files = {System() / "MAPISVC.INF", SharedMapi() / "MAPISVC.INF",
                                         SharedMapi() / "1033" / "MAPISVC.INF", SharedMapi() / "1049" / "MAPISVC.INF"};

    // Outlook is registered first and its file is unreadable: Word does not count.
    RegisterServer("Outlook.Application", "{0006F03A-0000-0000-C000-000000000046}", "InprocServer32",
                   (home_.path() / "missing.exe").string());
    RegisterServer("Word.Application", "{000209FF-0000-0000-C000-000000000046}", "LocalServer32", kOfficeFile);
    EXPECT_EQ(lib_.Install(), static_cast<UINT>(ERROR_INSTALL_FAILURE));
    ASSERT_EQ(boxes_->Boxes().size(), 1u);
    EXPECT_EQ(boxes_->Boxes()[0].text, kNotFound);
    for (const fs::path& f : files) EXPECT_FALSE(fs::exists(f)) << f;

    // A LocalServer32 key wins over InprocServer32.
    RegisterServer("Outlook.Application", "{0006F03A-0000-0000-C000-000000000046}", "LocalServer32", kOfficeFile);
    EXPECT_EQ(lib_.Uninstall(), static_cast<UINT>(ERROR_INSTALL_FAILURE));  // removal creates nothing
    for (const fs::path& f : files) EXPECT_FALSE(fs::exists(f)) << f;

    EXPECT_EQ(lib_.Install(), static_cast<UINT>(ERROR_SUCCESS));
    for (const fs::path& f : files) {
        const std::string text = ReadFile(f);
        EXPECT_EQ(text.rfind("[Dummy section]\r\nDummy=Nothing\r\n\r\n[Default Services]\r\n", 0), 0u) << f;
        EXPECT_EQ(Count(text, "[Corvane]"), 1) << f;
    }
}

TEST_F(SetupRun, RepeatedRunsOfOneCallKeepTheFirstBackup)
{
    // A new service list restarts the run, merging the older ones again.
    const fs::path list = System() / "MAPISVC.INF";
    WriteFile(list, kServiceList);
    fs::create_directories(SharedMapi());
    RegisterServer("Outlook.Application", "{0006F03A-0000-0000-C000-000000000046}", "LocalServer32", kOfficeFile);
    EXPECT_EQ(lib_.Install(), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_TRUE(fs::exists(SharedMapi() / "MAPISVC.INF"));
    EXPECT_EQ(ReadFile(System() / "MAPISVC.INF.sedgewynd"), kServiceList);

    // So does Retry after a copy that was in use.
    const fs::path second = SharedMapi() / "1033" / "MAPISVC.INF";
    WriteFile(list, kServiceList);
    WriteFile(second, kServiceList);
    Configure(Control("TargetPath=%37%;%43%\\System\\MSMAPI\\1033\r\nOneForOk=0\r\nBackupExt=bak\r\n"));
    int held = open(second.c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    auto acting = std::make_shared<CActingPresenter>();
    std::vector<std::string> texts;
    acting->act = [&](std::string_view text) {
        texts.emplace_back(text);
        if (text != kSomeNotUpdated) return IDOK;
        close(held);
        return IDRETRY;
    };
    SetMessageBoxPresenter(acting);
    EXPECT_EQ(lib_.Install(), static_cast<UINT>(ERROR_SUCCESS));
    SetMessageBoxPresenter(nullptr);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], kSomeNotUpdated);
    EXPECT_EQ(texts[1], Report({list, second}));
    EXPECT_EQ(ReadFile(list.string() + ".bak"), kServiceList);
    EXPECT_EQ(ReadFile(second.string() + ".bak"), kServiceList);
    EXPECT_NE(ReadFile(second).find("[Corvane]"), std::string::npos);
}

TEST_F(SetupRun, FiveCreationRoundsAtMost)
{
    for (int i = 0; i < 7; ++i) fs::create_directories(SharedMapi() / std::to_string(i));
    fs::create_directories(System());
    RegisterServer("Outlook.Application", "{0006F03A-0000-0000-C000-000000000046}", "LocalServer32", kOfficeFile);
    EXPECT_EQ(lib_.Install(), static_cast<UINT>(ERROR_SUCCESS));
    int created = 0;
    for (const auto& e : fs::recursive_directory_iterator(home_.path()))
        if (e.path().filename() == "MAPISVC.INF") ++created;
    EXPECT_EQ(created, 5);
}

}  // namespace
}  // namespace quillory::sedgewynd
