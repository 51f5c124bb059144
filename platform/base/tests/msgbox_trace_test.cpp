#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/base/msgbox.h"
#include "platform/base/tests/test_home.h"
#include "platform/base/trace.h"

namespace quillory {
namespace {

TEST(MessageBox, WithoutPresenterAnswersTheNegativeDefault)
{
    auto previous = SetMessageBoxPresenter(nullptr);
    EXPECT_EQ(MessageBox(nullptr, "Remove all accounts?", "Setup", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(MessageBox(nullptr, "Retry?", "Setup", MB_RETRYCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBox(nullptr, "Done.", nullptr, MB_OK), IDOK);
    EXPECT_EQ(MessageBox(nullptr, "Go on?", "x", MB_ABORTRETRYIGNORE), IDABORT);
    EXPECT_EQ(MessageBox(nullptr, "Save?", "x", MB_YESNOCANCEL | MB_DEFBUTTON1), IDCANCEL);
    SetMessageBoxPresenter(previous);
}

TEST(MessageBox, ScriptedPresenterAnswersInOrderAndRecords)
{
    auto scripted = std::make_shared<CScriptedPresenter>();
    scripted->QueueAnswer(IDYES);
    scripted->QueueAnswer(IDRETRY);
    auto previous = SetMessageBoxPresenter(scripted);

    EXPECT_EQ(MessageBox(nullptr, "first", "Cap", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBox(nullptr, "second", "Cap", MB_RETRYCANCEL | MB_ICONERROR), IDRETRY);
    EXPECT_EQ(MessageBox(nullptr, "third", "Cap2", MB_OKCANCEL), IDCANCEL);  // queue used up

    const auto boxes = scripted->Boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[1].text, "second");
    EXPECT_EQ(boxes[1].style, MB_RETRYCANCEL | MB_ICONERROR);
    EXPECT_EQ(boxes[2].caption, "Cap2");
    EXPECT_EQ(boxes[2].answer, IDCANCEL);
    SetMessageBoxPresenter(previous);
}

TEST(TraceSink, WritesToTheNamedFileOnlyWhenSet)
{
    testing::TempHome home;
    const auto file = home.path() / "trace.log";

    unsetenv("QUILLORY_TRACE");
    ReopenTraceSink();
    EXPECT_FALSE(TraceEnabled());
    Trace("CXPLogon::FlushQueues -- %s\n", "discarded");

    setenv("QUILLORY_TRACE", file.c_str(), 1);
    ReopenTraceSink();
    EXPECT_TRUE(TraceEnabled());
    Trace("CXPLogon::FlushQueues -- %s\n", "exit");
    unsetenv("QUILLORY_TRACE");
    ReopenTraceSink();
    Trace("after close\n");

    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "CXPLogon::FlushQueues -- exit\n");
}

}  // namespace
}  // namespace quillory
