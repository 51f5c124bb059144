// Messages filled with user text: only the conversions the English text
// has, each taking its argument as text.
#include <gtest/gtest.h>

#include "tolvane/texts.h"

namespace quillory::testing {
namespace {

using tolvane::FillPlaceholders;

TEST(AddinTexts, AMessageTakesItsArgumentsAsTextAndOnlyTheEnglishConversions)
{
    std::string out = "untouched";
    ASSERT_TRUE(FillPlaceholders("Konto \"%s\" 100%%", "Account \"%s\"", {"%n%s"}, out));
    EXPECT_EQ(out, "Konto \"%n%s\" 100%");
    ASSERT_TRUE(FillPlaceholders("(Fehler %08x) %s", "(error %08x) %s", {"8004010f", "x"}, out));
    EXPECT_EQ(out, "(Fehler 8004010f) x");
    out = "untouched";
    // A translation whose conversions differ from the English ones is not used.
    EXPECT_FALSE(FillPlaceholders("Konto %d", "Account %s", {"a"}, out));
    EXPECT_FALSE(FillPlaceholders("%s und %s", "%s", {"a"}, out));
    EXPECT_FALSE(FillPlaceholders("Konto %n", "Konto %n", {"a"}, out));  // no such conversion here
    EXPECT_FALSE(FillPlaceholders("Konto %", "Konto %", {}, out));
    EXPECT_FALSE(FillPlaceholders("Konto %s", "Account %s", {}, out));  // an argument short
    EXPECT_EQ(out, "untouched");

    // The shipped tables: the question about a new account in English.
    const std::string question = tolvane::FormatAddinText(tolvane::kStrNewAccountQuestion, {"100% news"});
    EXPECT_NE(question.find("\"100% news\""), std::string::npos) << question;
    EXPECT_EQ(tolvane::AddinText(tolvane::kStrButtonCaption), "Newsgroups...");
}

}  // namespace
}  // namespace quillory::testing
