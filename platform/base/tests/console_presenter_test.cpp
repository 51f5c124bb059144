// Message boxes answered at a terminal.
#include "platform/base/console_presenter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace quillory {
namespace {

// Runs one box against the given input and keeps what was printed.
struct Console {
    int answer = 0;
    std::string printed;
};

Console Ask(const std::string& input, UINT style, std::string_view text = "Text")
{
    FILE* in = tmpfile();
    FILE* out = tmpfile();
    std::fputs(input.c_str(), in);
    std::rewind(in);
    Console c;
    c.answer = CConsolePresenter(in, out).Present(nullptr, text, "Caption", style);
    std::rewind(out);
    for (int ch; (ch = std::fgetc(out)) != EOF;) c.printed += static_cast<char>(ch);
    std::fclose(in);
    std::fclose(out);
    return c;
}

TEST(ConsolePresenter, AnswersByNumberNameOrUniquePrefix)
{
    EXPECT_EQ(Ask("y\n", MB_YESNO).answer, IDYES);
    EXPECT_EQ(Ask("2\n", MB_YESNO).answer, IDNO);
    EXPECT_EQ(Ask("  NO \r\n", MB_YESNO).answer, IDNO);
    EXPECT_EQ(Ask("ign\n", MB_ABORTRETRYIGNORE).answer, IDIGNORE);
    EXPECT_EQ(Ask("try again\n", MB_CANCELTRYCONTINUE).answer, IDTRYAGAIN);
    // "c" could be Cancel or Continue: asked again.
    const Console ambiguous = Ask("c\ncont\n", MB_CANCELTRYCONTINUE);
    EXPECT_EQ(ambiguous.answer, IDCONTINUE);
    EXPECT_NE(ambiguous.printed.find("Please answer"), std::string::npos);
    EXPECT_EQ(Ask("maybe\n3\nyes\n", MB_YESNO).answer, IDYES);  // nonsense and out of range ask again
}

TEST(ConsolePresenter, EmptyLineTakesTheDefaultButtonAndEndOfInputTheNegativeOne)
{
    EXPECT_EQ(Ask("\n", MB_YESNO).answer, IDYES);
    EXPECT_EQ(Ask("\n", MB_YESNO | MB_DEFBUTTON2).answer, IDNO);
    EXPECT_EQ(Ask("\n", MB_YESNOCANCEL | MB_DEFBUTTON3).answer, IDCANCEL);
    EXPECT_EQ(Ask("", MB_YESNO).answer, IDNO);
    EXPECT_EQ(Ask("", MB_ABORTRETRYIGNORE).answer, IDABORT);
    EXPECT_EQ(Ask("x", MB_OKCANCEL).answer, IDCANCEL);  // a last line without its end still counts
}

TEST(ConsolePresenter, PrintsCaptionTextAndChoices)
{
    const Console c = Ask("1\n", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, "First\r\nSecond\r\n\r\nAsk?");
    EXPECT_EQ(c.printed, "\nCaption\n\nFirst\nSecond\n\nAsk?\n\n1) Yes  2) No [default]? ");
}

}  // namespace
}  // namespace quillory
