// The quick From and Date readers against the news component: whatever a
// quick reader answers, the component answers the same; what it declines
// still reaches the component.
#include "provider/folder/header_fields.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/base/time.h"
#include "platform/mapi/mapitags.h"
#include "provider/folder/tests/folder_test_util.h"

namespace quillory::quarnex {
namespace {

using testing::CLibPath;

class HeaderFields : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(component_.Loaded()); }

    // The quick reader's answer, checked against the component's.
    std::optional<HeaderSender> Sender(std::string_view from)
    {
        const auto quick = QuickSender(from);
        if (quick) {
            const auto full = component_.Sender(from);
            EXPECT_TRUE(full) << from;
            if (full) {
                EXPECT_EQ(*quick, *full) << from;
            }
        }
        return quick;
    }
    std::optional<ULONGLONG> Date(std::string_view date)
    {
        const auto quick = QuickDate(date);
        if (!quick) return std::nullopt;
        const auto full = component_.Date(date);
        EXPECT_TRUE(full) << date;
        if (full) {
            EXPECT_EQ(FileTimeToUInt64(*quick), FileTimeToUInt64(*full)) << date;
        }
        return FileTimeToUInt64(*quick);
    }

    CLibPath libPath_;
    CNewsComponentReaders component_;
};

TEST_F(HeaderFields, CommonSendersAreReadAsTheComponentReadsThem)
{
    struct Case {
        const char* from;
        const char* name;
        const char* address;
    };
    const Case cases[] = {
        {"Ann Writer <ann@example.org>", "Ann Writer", "ann@example.org"},
        {"ann@example.org", "", "ann@example.org"},
        {"\"Doe, Jane\" <jane@example.org>", "Doe, Jane", "jane@example.org"},
        {"John Q. Public <jqp@example.com>", "John Q. Public", "jqp@example.com"},
        {"O'Brien <ob@example.ie>", "O'Brien", "ob@example.ie"},
        {"User@EXAMPLE.ORG", "", "User@EXAMPLE.ORG"},
        {"\"Quoted with 'single' and ,;: x\" <x@y.z>", "Quoted with 'single' and ,;: x", "x@y.z"},
        {"#$%&'*+-/?=^_`{|}~ <x@y.z>", "#$%&'*+-/?=^_`{|}~", "x@y.z"},
    };
    for (const Case& c : cases) {
        const auto s = Sender(c.from);
        ASSERT_TRUE(s) << c.from;
        EXPECT_EQ(s->name, c.name) << c.from;
        EXPECT_EQ(s->address, c.address) << c.from;
    }
}

TEST_F(HeaderFields, OtherSendersAreLeftToTheComponent)
{
    for (const char* from :
         {"jane@example.org (Jane Doe)", "John  Double <jd@example.com>", " Lead <l@example.com>",
          "Trail  <t@example.com>", "\"  spaced \" <s@example.com>", "<only@example.com>", "Name<n@example.com>",
          "=?ISO-8859-1?Q?J=F6rg?= <j@example.de>", "\"=?UTF-8?Q?x?=\" <j@example.de>", "\"quoted\\\"escape\" <q@x.org>",
          "x@y.z.", "a..b@example.org", ".a@example.org", "foo", "Ann <ann@[1.2.3.4]>", "\"\" <e@example.com>",
          "Mix \"Quoted\" Words <mq@example.com>", "Ann Writer <ann@example.org>,", "a@b, c@d", "J\xC3\xB6rg <j@x.de>",
          "Group: a@b;", "jane@xn--bcher-kva.example", "Jane <jane@sub.XN--bcher-kva.example>", ""}) {
        EXPECT_FALSE(QuickSender(from)) << from;
    }
}

TEST_F(HeaderFields, CommonDatesAreReadAsTheComponentReadsThem)
{
    const ULONGLONG noon = Date("Mon, 7 Dec 2026 12:00:00 +0000").value_or(0);
    ASSERT_NE(noon, 0u);
    const ULONGLONG hour = 3600ull * kFileTimeTicksPerSecond;
    EXPECT_EQ(Date("7 Dec 2026 12:00:00 GMT"), noon);
    EXPECT_EQ(Date("mon, 07 dec 2026 12:00:00 UT"), noon);
    EXPECT_EQ(Date("Mon, 7 Dec 2026 07:00:00 -0500 (EST)"), noon);
    EXPECT_EQ(Date("Mon, 7 Dec 2026 13:00 +0100"), noon);
    EXPECT_EQ(Date("Mon, 7 Dec 2026 12:00:00 UTC"), noon);
    EXPECT_EQ(Date("Mon, 7 Dec 2026 11:59:60 +0000"), noon - kFileTimeTicksPerSecond);  // leap second
    EXPECT_EQ(Date("Tue, 8 Dec 2026 12:00:00 +2400"), noon);  // an odd zone, taken as written
    EXPECT_EQ(Date("Mon, 29 Feb 2028 12:00:00 +0000").has_value(), true);
    EXPECT_EQ(Date("Mon, 7 Dec 2026 13:00:00 +0000"), noon + hour);
}

TEST_F(HeaderFields, OtherDatesAreLeftToTheComponent)
{
    for (const char* date :
         {"Mon, 7 Dec 26 12:00:00 +0000", "Mon 7 Dec 2026 12:00:00 +0000", "Mon,  7 Dec 2026 12:00:00 +0000",
          "Dec 7 12:00:00 2026", "7 Dec 2026 12:00:00 EST", "7 Dec 2026 12:00:00", "7 Dec 2026 12:00:00 +00000",
          "7 Dec 2026 24:00:00 +0000", "30 Feb 2026 12:00:00 +0000", "7 Dec 1600 12:00:00 +0000",
          "7 Dec 2026 12:00:00 +0060", "7 Dec 2026 12:00:00 +0000 (a (nested) comment)", "Sept 7 2026",
          "7 Dec 2026 12:00:00 +0000 trailing", "1 Jan 1601 00:00:00 +0100", ""}) {
        EXPECT_FALSE(QuickDate(date)) << date;
    }
}

// Texts made of the pieces of common forms, shuffled and damaged: every one
// the quick readers accept must read as the component reads it.
TEST_F(HeaderFields, ShuffledPiecesNeverReadOtherwiseThanTheComponent)
{
    const std::vector<std::string> senderPieces = {"Ann", " ", "Writer", "<", ">", "ann", "@", "example", ".", "org",
                                                   "\"", ",", "Q.", "(", ")", "=?", "x", "'", "  ", "-", "_", "\\"};
    const std::vector<std::string> datePieces = {"Mon", ",", " ", "7", "07", "31", "Dec", "Feb", "2026", "1999",
                                                 "12", ":", "00", "59", "60", "+", "-", "0000", "0530", "GMT",
                                                 "UT", "(", ")", "EST", "24", "29", "1601"};
    std::mt19937 random(20261207);
    int quickSenders = 0, quickDates = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string from, date;
        const int n = 1 + static_cast<int>(random() % 9);
        for (int k = 0; k < n; ++k) from += senderPieces[random() % senderPieces.size()];
        // Mostly a well-formed date with one piece changed.
        const std::string forms[] = {"Mon, 7 Dec 2026 12:00:00 +0000", "7 Dec 2026 12:00 GMT",
                                     "Mon, 29 Feb 2028 23:59:60 -0530 (IST)"};
        date = forms[random() % 3];
        const std::size_t at = random() % date.size();
        date.replace(at, random() % 4, datePieces[random() % datePieces.size()]);
        if (Sender(from)) ++quickSenders;
        if (Date(date)) ++quickDates;
        if (HasFailure()) FAIL() << "from: " << from << " / date: " << date;
    }
    // The pieces do make the common forms now and then.
    EXPECT_GT(quickSenders, 50);
    EXPECT_GT(quickDates, 500);
}

}  // namespace
}  // namespace quillory::quarnex
