// The activation gate: the registry's answer, the profile wizard when the
// profile has none, and what happens when the wizard cannot be run.
#include <gtest/gtest.h>

#include <fstream>

#include "common/regstore.h"
#include "platform/base/msgbox.h"
#include "platform/base/tests/test_home.h"
#include "tolvane/gate.h"
#include "tolvane/texts.h"

namespace quillory::testing {
namespace {

using tolvane::RunActivationGate;

struct GateCase {
    const char* what;
    std::optional<DWORD> ignoreDisabled;
    std::optional<DWORD> enabled;
    const char* wizardAnswer;  // null: the wizard must not run
    bool active;
};

class Gate : public ::testing::TestWithParam<GateCase> {
protected:
    void SetUp() override
    {
        presenter_ = std::make_shared<CScriptedPresenter>();
        previous_ = SetMessageBoxPresenter(presenter_);
        log_ = home_.path() / "wizard.log";
        setenv("QUILLORY_TEST_PROFILE_GUI_LOG", log_.c_str(), 1);
        WriteRegString(kMainKey, kValVismora, (BuildLibDir() / "libtolvanetestgui.so").string());
    }
    void TearDown() override
    {
        SetMessageBoxPresenter(previous_);
        unsetenv("QUILLORY_TEST_PROFILE_GUI_LOG");
        unsetenv("QUILLORY_TEST_PROFILE_GUI");
    }
    std::vector<std::string> WizardCalls()
    {
        std::vector<std::string> lines;
        std::ifstream in(log_);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    TempHome home_;
    std::filesystem::path log_;
    std::shared_ptr<CScriptedPresenter> presenter_;
    std::shared_ptr<IMessageBoxPresenter> previous_;
};

TEST_P(Gate, DecidesFromTheRegistryOrTheWizard)
{
    const GateCase& c = GetParam();
    if (c.ignoreDisabled) WriteRegDword(kMainKey, tolvane::kValIgnoreDisabled, *c.ignoreDisabled);
    if (c.enabled) WriteRegDword(ProfileKeyPath("P"), tolvane::kValEnabled, *c.enabled);
    if (c.wizardAnswer) setenv("QUILLORY_TEST_PROFILE_GUI", c.wizardAnswer, 1);
    EXPECT_EQ(RunActivationGate("P", nullptr), c.active) << c.what;
    EXPECT_EQ(WizardCalls().size(), c.wizardAnswer ? 1u : 0u) << c.what;
    if (c.wizardAnswer) {
        EXPECT_EQ(WizardCalls()[0], "P none");
    }
    // "IgnoreDisabled" acts once.
    DWORD ignore = 9;
    EXPECT_TRUE(ReadRegDword(kMainKey, tolvane::kValIgnoreDisabled, ignore, 9));
    EXPECT_EQ(ignore, 0u) << c.what;
    EXPECT_TRUE(presenter_->Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Gate,
    ::testing::Values(GateCase{"enabled", std::nullopt, 1, nullptr, true},
                      GateCase{"disabled", std::nullopt, 0, nullptr, false},
                      GateCase{"first start, wizard finished", std::nullopt, std::nullopt, "1", true},
                      GateCase{"first start, wizard cancelled", std::nullopt, std::nullopt, "0", false},
                      GateCase{"disabled but asked to show the wizard once", 1, 0, "1", true},
                      GateCase{"disabled, the wizard shown again and cancelled", 1, 0, "0", false},
                      GateCase{"enabled and asked to show the wizard", 1, 1, nullptr, true},
                      GateCase{"a stray IgnoreDisabled value", 7, 0, nullptr, false}));

TEST_F(Gate, AMissingOrIncompleteGuiLibraryIsReportedAndLeavesTheAddinInactive)
{
    for (const std::string& library : {std::string("/nonexistent/libnothing.so"), (BuildLibDir() / "libqcom.so").string()}) {
        WriteRegString(kMainKey, kValVismora, library);
        EXPECT_FALSE(RunActivationGate("P", nullptr)) << library;
    }
    const auto boxes = presenter_->Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    for (const auto& b : boxes) {
        EXPECT_EQ(b.text, tolvane::AddinText(tolvane::kStrNoGuiLibrary));
        EXPECT_EQ(b.caption, "Quillory");
        EXPECT_EQ(b.style & MB_ICONMASK, MB_ICONERROR);
    }
    EXPECT_FALSE(boxes[0].text.empty());
    DWORD enabled = 0;
    EXPECT_FALSE(ReadRegDword(ProfileKeyPath("P"), tolvane::kValEnabled, enabled, 0));  // nothing recorded
}

TEST_F(Gate, AnUnreadableProfileNameNeverActivatesNorTouchesTheRegistry)
{
    setenv("QUILLORY_TEST_PROFILE_GUI", "1", 1);
    WriteRegDword(kMainKey, tolvane::kValIgnoreDisabled, 1);
    WriteRegDword(ProfileKeyPath(""), tolvane::kValEnabled, 1);  // what "...\Profiles\" would hold
    EXPECT_FALSE(RunActivationGate("", nullptr));
    EXPECT_TRUE(WizardCalls().empty());
    DWORD ignore = 0;
    ReadRegDword(kMainKey, tolvane::kValIgnoreDisabled, ignore, 0);
    EXPECT_EQ(ignore, 1u);  // still there for the next start
}

}  // namespace
}  // namespace quillory::testing
