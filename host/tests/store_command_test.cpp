// `quillory store` run as a program over a store that this process fills
// through MAPI, and the value rendering and tag names it uses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "host/store_format.h"
#include "host/store_tags.h"
#include "host/tests/run_program.h"
#include "platform/base/tests/test_home.h"
#include "platform/base/time.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/mapiutil.h"
#include "platform/mapi/profile_admin.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/session.h"

namespace {

using quillory::ComPtr;
using quillory::MapiBuffer;
using quillory::testing::TempHome;
using namespace quillory::host;

using Outcome = quillory::testing::ProgramOutcome;
using quillory::testing::Contains;

// Runs `quillory store ARGS...` as another process.
Outcome Store(const TempHome& home, std::vector<std::string> args)
{
    args.insert(args.begin(), "store");
    return quillory::testing::RunQuillory(home, std::move(args));
}

LPSTR S(const char* s) { return const_cast<LPSTR>(s); }

SPropValue Str(ULONG tag, const char* text)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = S(text);
    return v;
}

SPropValue Long(ULONG tag, LONG value)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = value;
    return v;
}

SPropValue Time(ULONG tag, WORD year, WORD month, WORD day, WORD hour, WORD minute)
{
    SYSTEMTIME st{year, month, 0, day, hour, minute, 0, 0};
    SPropValue v{};
    v.ulPropTag = tag;
    EXPECT_TRUE(SystemTimeToFileTime(&st, &v.Value.ft));
    return v;
}

SPropValue Bin(ULONG tag, std::vector<BYTE>& bytes)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.bin = SBinary{static_cast<ULONG>(bytes.size()), bytes.data()};
    return v;
}

std::string EntryIdHex(IMAPIProp* obj)
{
    MapiBuffer<SPropValue> v;
    EXPECT_EQ(HrGetOneProp(obj, PR_ENTRYID, &v), S_OK);
    return v ? quillory::BinToHex({v->Value.bin.lpb, v->Value.bin.cb}) : "";
}

// A profile "News" whose store this process fills while the program reads it.
class StoreCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
        ComPtr<IProfAdmin> admin;
        ASSERT_EQ(MAPIAdminProfiles(0, &admin), S_OK);
        ASSERT_EQ(admin->CreateProfile(S("News"), nullptr, 0, 0), S_OK);
        ASSERT_EQ(MAPILogonEx(0, S("News"), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION, &session_), S_OK);
        ComPtr<IMAPITable> stores;
        ASSERT_EQ(session_->GetMsgStoresTable(0, &stores), S_OK);
        auto cols = quillory::MakeTagArray({PR_ENTRYID});
        ASSERT_EQ(stores->SetColumns(cols.Get(), 0), S_OK);
        quillory::RowSetPtr rows;
        ASSERT_EQ(stores->QueryRows(1, 0, &rows), S_OK);
        ASSERT_EQ(rows->cRows, 1u);
        const SBinary& eid = rows->aRow[0].lpProps[0].Value.bin;
        ASSERT_EQ(session_->OpenMsgStore(0, eid.cb, reinterpret_cast<LPENTRYID>(eid.lpb), nullptr, MDB_WRITE, &store_),
                  S_OK);
        top_ = Open<IMAPIFolder>(PR_IPM_SUBTREE_ENTRYID);
    }

    void TearDown() override
    {
        top_.Reset();
        store_.Reset();
        if (session_) session_->Logoff(0, 0, 0);
        session_.Reset();
        MAPIUninitialize();
    }

    template <class T>
    ComPtr<T> Open(ULONG entryIdTag)
    {
        MapiBuffer<SPropValue> v;
        EXPECT_EQ(HrGetOneProp(store_.Get(), entryIdTag, &v), S_OK);
        ULONG type = 0;
        ComPtr<IUnknown> unk;
        EXPECT_EQ(store_->OpenEntry(v->Value.bin.cb, reinterpret_cast<LPENTRYID>(v->Value.bin.lpb), nullptr,
                                    MAPI_MODIFY, &type, &unk),
                  S_OK);
        return ComPtr<T>(static_cast<T*>(unk.Get()));
    }

    ComPtr<IMAPIFolder> Subfolder(IMAPIFolder* parent, const char* name)
    {
        ComPtr<IMAPIFolder> f;
        EXPECT_EQ(parent->CreateFolder(FOLDER_GENERIC, S(name), nullptr, nullptr, OPEN_IF_EXISTS, &f), S_OK) << name;
        return f;
    }

    ComPtr<IMessage> AddMessage(IMAPIFolder* folder, std::vector<SPropValue> values)
    {
        ComPtr<IMessage> m;
        EXPECT_EQ(folder->CreateMessage(nullptr, 0, &m), S_OK);
        EXPECT_EQ(m->SetProps(static_cast<ULONG>(values.size()), values.data(), nullptr), S_OK);
        EXPECT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
        return m;
    }

    TempHome home_;
    ComPtr<IMAPISession> session_;
    ComPtr<IMsgStore> store_;
    ComPtr<IMAPIFolder> top_;
};

// The line of the folder listing that names the folder.
std::string LineOf(const std::string& out, const std::string& name)
{
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (std::regex_search(line, std::regex("^ *" + name + " "))) return line;
    return "";
}

TEST_F(StoreCommand, FolderTreeWithCountsAndEntryIds)
{
    auto inbox = Subfolder(top_.Get(), "Inbox");
    auto news = Subfolder(inbox.Get(), "Newsgroups");
    auto group = Subfolder(news.Get(), "comp.lang.c");
    for (const char* s : {"one", "two", "three"}) AddMessage(group.Get(), {Str(PR_SUBJECT, s)});
    AddMessage(inbox.Get(), {Str(PR_SUBJECT, "hello")});

    // Written above, read by the other process while this one holds the store open.
    Outcome o = Store(home_, {"folders"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    EXPECT_TRUE(o.out.starts_with("FOLDER ")) << o.out;
    const std::string groupLine = LineOf(o.out, "comp\\.lang\\.c");
    EXPECT_TRUE(std::regex_match(groupLine, std::regex("      comp\\.lang\\.c +3  no +" + EntryIdHex(group.Get()))))
        << o.out;
    EXPECT_TRUE(std::regex_match(LineOf(o.out, "Newsgroups"), std::regex("    Newsgroups +0  yes +[0-9A-F]{64}")))
        << o.out;
    EXPECT_TRUE(std::regex_match(LineOf(o.out, "Inbox"), std::regex("  Inbox +1  yes +" + EntryIdHex(inbox.Get()))));
    EXPECT_TRUE(std::regex_match(LineOf(o.out, "Top of Information Store"),
                                 std::regex("Top of Information Store +0  yes +" + EntryIdHex(top_.Get()))));
    // Tree order: each folder below its parent.
    EXPECT_LT(o.out.find("  Inbox"), o.out.find("    Newsgroups"));
    EXPECT_LT(o.out.find("    Newsgroups"), o.out.find("      comp.lang.c"));
    EXPECT_FALSE(Contains(o.out, "(root)"));

    // A change made now shows at the next run.
    AddMessage(group.Get(), {Str(PR_SUBJECT, "four")});
    EXPECT_TRUE(Contains(LineOf(Store(home_, {"folders"}).out, "comp\\.lang\\.c"), " 4  no "));

    o = Store(home_, {"folders", "--all", "--profile", "news"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(Contains(o.out, "\n(root) ")) << o.out;
    EXPECT_TRUE(Contains(o.out, "\n  Top of Information Store ")) << o.out;
    EXPECT_TRUE(Contains(o.out, "\n        comp.lang.c ")) << o.out;
}

TEST_F(StoreCommand, MessagesOfANestedFolderWithColumnsAndFilters)
{
    auto group = Subfolder(Subfolder(Subfolder(top_.Get(), "Inbox").Get(), "Newsgroups").Get(), "comp.lang.c");
    AddMessage(group.Get(), {Str(PR_SUBJECT, "Pointers"), Str(PR_SENDER_NAME, "Ann"),
                             Time(PR_MESSAGE_DELIVERY_TIME, 2024, 5, 1, 9, 30), Long(PR_INTERNET_ARTICLE_NUMBER, 101)});
    AddMessage(group.Get(), {Str(PR_SUBJECT, "Re: Pointers\tand\narrays"), Str(PR_SENDER_NAME, "Bob"),
                             Time(PR_MESSAGE_DELIVERY_TIME, 2024, 5, 2, 18, 5), Long(PR_INTERNET_ARTICLE_NUMBER, 102)});
    AddMessage(group.Get(), {Str(PR_SUBJECT, "Undefined behaviour"), Str(PR_SENDER_NAME, "Ann"),
                             Long(PR_INTERNET_ARTICLE_NUMBER, 103)});
    // A name with a slash in it, reached by its escaped form.
    auto odd = Subfolder(top_.Get(), "a/b");
    AddMessage(odd.Get(), {Str(PR_SUBJECT, "inside a/b")});

    const std::string path = "inbox/NEWSGROUPS/comp.lang.c";
    Outcome o = Store(
        home_, {"messages", path, "--columns", "pr_subject,PR_SENDER_NAME,0x0E060040,PR_INTERNET_ARTICLE_NUMBER"});
    ASSERT_EQ(o.status, 0) << o.err;
    // Tabs and newlines inside a value are escaped so that a row stays one line.
    EXPECT_EQ(o.out,
              "PR_SUBJECT\tPR_SENDER_NAME\tPR_MESSAGE_DELIVERY_TIME\tPR_INTERNET_ARTICLE_NUMBER\n"
              "Pointers\tAnn\t2024-05-01T09:30:00Z\t101\n"
              "Re: Pointers\\tand\\narrays\tBob\t2024-05-02T18:05:00Z\t102\n"
              "Undefined behaviour\tAnn\t\t103\n");

    o = Store(home_, {"messages", path, "--columns", "PR_INTERNET_ARTICLE_NUMBER", "--where", "PR_SENDER_NAME=Ann"});
    EXPECT_EQ(o.out, "PR_INTERNET_ARTICLE_NUMBER\n101\n103\n") << o.err;
    o = Store(home_, {"messages", path, "--columns=PR_SUBJECT", "--where", "PR_SENDER_NAME=Ann", "--where",
                      "PR_INTERNET_ARTICLE_NUMBER=0x67"});
    EXPECT_EQ(o.out, "PR_SUBJECT\nUndefined behaviour\n") << o.err;
    o = Store(home_, {"messages", path, "--columns", "PR_SUBJECT", "--where", "PR_SENDER_NAME=Nobody"});
    EXPECT_EQ(o.out, "PR_SUBJECT\n");
    o = Store(home_, {"messages", path, "--columns", "PR_INTERNET_ARTICLE_NUMBER", "--limit", "2"});
    EXPECT_EQ(o.out, "PR_INTERNET_ARTICLE_NUMBER\n101\n102\n");

    // The default columns.
    o = Store(home_, {"messages", path, "--limit", "1"});
    EXPECT_TRUE(
        o.out.starts_with("PR_SUBJECT\tPR_SENDER_NAME\tPR_MESSAGE_DELIVERY_TIME\tPR_MESSAGE_FLAGS\n"
                          "Pointers\tAnn\t2024-05-01T09:30:00Z\t"))
        << o.out;

    o = Store(home_, {"messages", "a\\/b", "--columns", "PR_SUBJECT"});
    EXPECT_EQ(o.out, "PR_SUBJECT\ninside a/b\n") << o.err;
    o = Store(home_, {"messages", "a/b"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "ERROR: folder not found: a/b\n");
}

TEST_F(StoreCommand, ShowListsPropertiesRecipientsAndAttachments)
{
    auto inbox = Subfolder(top_.Get(), "Inbox");
    std::vector<BYTE> big(100);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i);
    auto m =
        AddMessage(inbox.Get(), {Str(PR_SUBJECT, "Say \"hi\"\x1b[31m"),
                                 Time(PR_MESSAGE_DELIVERY_TIME, 2023, 12, 31, 23, 59), Bin(PR_CONVERSATION_INDEX, big),
                                 Long(PR_IMPORTANCE, 2), Str(PROP_TAG(PT_STRING8, 0x8001), "named")});
    SPropValue to[] = {Str(PR_DISPLAY_NAME, "Ann Example"), Str(PR_EMAIL_ADDRESS, "ann@example.org"),
                       Long(PR_RECIPIENT_TYPE, MAPI_TO)};
    SPropValue cc[] = {Str(PR_DISPLAY_NAME, "comp.lang.c"), Str(PR_ADDRTYPE, "NNTP"), Long(PR_RECIPIENT_TYPE, MAPI_CC)};
    std::vector<BYTE> list(CbNewADRLIST(2));
    auto* adr = reinterpret_cast<ADRLIST*>(list.data());
    adr->cEntries = 2;
    adr->aEntries[0] = ADRENTRY{0, 3, to};
    adr->aEntries[1] = ADRENTRY{0, 3, cc};
    ASSERT_EQ(m->ModifyRecipients(0, adr), S_OK);
    ComPtr<IAttach> att;
    ULONG num = 0;
    ASSERT_EQ(m->CreateAttach(nullptr, 0, &num, &att), S_OK);
    std::vector<BYTE> data = {'d', 'a', 't', 'a'};
    SPropValue av[] = {Str(PR_ATTACH_FILENAME, "notes.txt"), Long(PR_ATTACH_METHOD, ATTACH_BY_VALUE),
                       Bin(PR_ATTACH_DATA_BIN, data)};
    ASSERT_EQ(att->SetProps(3, av, nullptr), S_OK);
    ASSERT_EQ(att->SaveChanges(0), S_OK);
    ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    const std::string id = EntryIdHex(m.Get());

    Outcome o = Store(home_, {"show", id});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(o.out.starts_with("Message " + id + "\n\nProperties (")) << o.out;
    EXPECT_TRUE(std::regex_search(o.out, std::regex("\n  0x0037001E  PR_SUBJECT +PT_STRING8 +"
                                                    "\"Say \\\\\"hi\\\\\"\\\\x1B\\[31m\"\n")))
        << o.out;
    EXPECT_TRUE(std::regex_search(o.out, std::regex("\n  0x0E060040  PR_MESSAGE_DELIVERY_TIME +PT_SYSTIME +"
                                                    "2023-12-31T23:59:00Z\n")));
    EXPECT_TRUE(std::regex_search(o.out, std::regex("\n  0x00170003  PR_IMPORTANCE +PT_LONG +2 \\(0x00000002\\)\n")));
    EXPECT_TRUE(std::regex_search(o.out, std::regex("\n  0x80010... +PT_STRING8 +\"named\"\n"))) << o.out;
    // Long binaries are cut, with their length.
    std::string first64;
    for (int i = 0; i < 64; ++i) first64 += quillory::BinToHex(std::vector<BYTE>{static_cast<BYTE>(i)});
    EXPECT_TRUE(std::regex_search(
        o.out, std::regex("PR_CONVERSATION_INDEX +PT_BINARY +" + first64 + "\\.\\.\\. \\(100 bytes\\)\n")))
        << o.out;
    EXPECT_TRUE(Contains(o.out, "PR_ENTRYID ")) << o.out;
    EXPECT_FALSE(Contains(o.out, "\x1b"));
    // The properties come in tag order.
    EXPECT_LT(o.out.find("0x00170003"), o.out.find("0x0037001E"));

    const auto recips = o.out.find("\nRecipients (2):\n  #1\n");
    const auto attachs = o.out.find("\nAttachments (1):\n  #1\n");
    ASSERT_NE(recips, std::string::npos) << o.out;
    ASSERT_NE(attachs, std::string::npos) << o.out;
    EXPECT_LT(recips, attachs);
    const std::string recipients = o.out.substr(recips, attachs - recips), attachments = o.out.substr(attachs);
    EXPECT_TRUE(
        std::regex_search(recipients, std::regex("\n    0x3001001E  PR_DISPLAY_NAME +PT_STRING8 +\"Ann Example\"\n")));
    EXPECT_TRUE(Contains(recipients, "\"ann@example.org\"\n"));
    EXPECT_TRUE(Contains(recipients, "  #2\n"));
    EXPECT_TRUE(Contains(recipients, "\"NNTP\"\n"));
    EXPECT_TRUE(std::regex_search(recipients, std::regex("PR_RECIPIENT_TYPE +PT_LONG +2 \\(0x00000002\\)\n")));
    EXPECT_TRUE(std::regex_search(attachments, std::regex("PR_ATTACH_FILENAME +PT_STRING8 +\"notes.txt\"\n")));
    EXPECT_TRUE(std::regex_search(attachments, std::regex("PR_ATTACH_METHOD +PT_LONG +1 ")));
    // Columns the attachment lacks are left out rather than listed as errors.
    EXPECT_FALSE(Contains(attachments, "MAPI_E_NOT_FOUND"));

    // A folder's entry ID shows the folder's values.
    o = Store(home_, {"show", EntryIdHex(inbox.Get())});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(o.out.starts_with("Folder ")) << o.out;
    EXPECT_TRUE(std::regex_search(o.out, std::regex("PR_DISPLAY_NAME +PT_STRING8 +\"Inbox\"\n")));
    EXPECT_FALSE(Contains(o.out, "Recipients"));
}

TEST_F(StoreCommand, ClearErrors)
{
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const std::string message = [&] {
        auto m = AddMessage(top_.Get(), {Str(PR_SUBJECT, "x")});
        return EntryIdHex(m.Get());
    }();
    // The same entry ID of a store that does not exist.
    std::string stranger = message;
    stranger[20] = stranger[20] == 'A' ? 'B' : 'A';
    const Case cases[] = {
        {{"messages", "Inbox/Nowhere"}, "ERROR: folder not found: Inbox/Nowhere\n"},
        {{"messages", "Inbox", "--columns", "PR_SUBJECT,PR_NO_SUCH"}, "ERROR: unknown column: PR_NO_SUCH"},
        {{"messages", "Inbox", "--columns", "0x0037001"}, "ERROR: unknown column: 0x0037001 "},  // type 0x7001
        {{"messages", "Inbox", "--columns", "PR_SUBJECT,"}, "ERROR: unknown column: "},
        {{"messages", "Inbox", "--where", "PR_SUBJECT"}, "ERROR: bad --where 'PR_SUBJECT': expected TAG=VALUE\n"},
        {{"messages", "Inbox", "--where", "PR_NOPE=1"}, "ERROR: bad --where 'PR_NOPE=1': unknown property PR_NOPE\n"},
        {{"messages", "Inbox", "--where", "PR_MESSAGE_FLAGS=many"}, "takes a 32-bit number"},
        {{"messages", "Inbox", "--where", "PR_IMPORTANCE=4294967296"}, "takes a 32-bit number"},
        {{"messages", "Inbox", "--where", "PR_MESSAGE_DELIVERY_TIME=now"}, "PT_SYSTIME cannot be compared"},
        {{"messages", "Inbox", "--limit", "-1"}, "ERROR: bad --limit: -1"},
        {{"messages", "Inbox", "--all"}, "ERROR: unknown option --all for 'store messages'"},
        {{"messages"}, "takes exactly one FOLDER"},
        {{"show", "0A1"}, "ERROR: bad entry ID '0A1'"},
        {{"show", "zz"}, "ERROR: bad entry ID 'zz'"},
        {{"show", ""}, "ERROR: bad entry ID ''"},
        {{"show", "00112233"}, "ERROR: no entry with the ID 00112233"},
        {{"show", stranger}, "ERROR: no entry with the ID " + stranger},
        {{"show", message, "--store", "X"}, "unknown option --store"},
        {{"folders", "--profile", "Nobody"}, "ERROR: unknown profile: Nobody\n"},
        {{"folders", "--store", "Archive"},
         "ERROR: no message store named 'Archive' (the profile has: Personal Folders)\n"},
        {{"folders", "--profile"}, "ERROR: --profile needs a value\n"},
        {{"folders", "--profile", "News", "--profile=News"}, "given twice"},
        // Control characters typed by the user come back escaped.
        {{"messages", "Inbox/\x1b[2J"}, "ERROR: folder not found: Inbox/\\x1B[2J\n"},
    };
    for (const auto& c : cases) {
        Outcome o = Store(home_, c.args);
        std::string joined;
        for (const auto& a : c.args) joined += a + " ";
        EXPECT_EQ(o.status, 1) << joined;
        EXPECT_EQ(o.out, "") << joined;
        EXPECT_TRUE(o.err.starts_with("ERROR: ")) << joined << o.err;
        EXPECT_TRUE(Contains(o.err, c.error)) << joined << o.err;
    }
    Outcome o = Store(home_, {"list"});
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Contains(o.err, "usage:"));
    EXPECT_EQ(Store(home_, {"--help"}).status, 0);
}

TEST(StoreCommandNoDefault, NoProfileAtAll)
{
    TempHome home;
    Outcome o = Store(home, {"folders"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "ERROR: there is no default profile\n");
}

// ---- Rendering and names, in this process ----------------------------------------------

TEST(StoreFormat, TextIsEscapedButUtf8Kept)
{
    EXPECT_EQ(EscapeText("plain text, äöü €"), "plain text, äöü €");
    EXPECT_EQ(EscapeText("a\tb\r\nc\\d\x7f\x01"), "a\\tb\\r\\nc\\\\d\\x7F\\x01");
    EXPECT_EQ(EscapeText("say \"x\""), "say \"x\"");
    EXPECT_EQ(EscapeText("say \"x\"", true), "say \\\"x\\\"");
    // Bytes that are not UTF-8 (a windows-1252 e-acute, a cut sequence, an
    // overlong slash, a surrogate) and encoded C1 controls are escaped.
    EXPECT_EQ(EscapeText("caf\xe9"), "caf\\xE9");
    EXPECT_EQ(EscapeText("\xe2\x82"), "\\xE2\\x82");
    EXPECT_EQ(EscapeText("\xc0\xaf"), "\\xC0\\xAF");
    EXPECT_EQ(EscapeText("\xed\xa0\x80"), "\\xED\\xA0\\x80");
    EXPECT_EQ(EscapeText("\xc2\x9b"
                         "31m"),
              "\\u009B31m");
    EXPECT_EQ(EscapeText("%s%n"), "%s%n");
}

TEST(StoreFormat, ValuesOfEachType)
{
    auto value = [](ULONG type) {
        SPropValue v{};
        v.ulPropTag = PROP_TAG(type, 0x6000);
        return v;
    };
    SPropValue v = value(PT_CURRENCY);
    v.Value.cur.int64 = -123456;
    EXPECT_EQ(FormatValue(v, ValueStyle::Detail), "-12.3456");
    v = value(PT_LONG);
    v.Value.l = -1;
    EXPECT_EQ(FormatValue(v, ValueStyle::Cell), "-1");
    EXPECT_EQ(FormatValue(v, ValueStyle::Detail), "-1 (0xFFFFFFFF)");
    v = value(PT_ERROR);
    v.Value.err = MAPI_E_NOT_FOUND;
    EXPECT_EQ(FormatValue(v, ValueStyle::Cell), "");
    EXPECT_EQ(FormatValue(v, ValueStyle::Detail), "error MAPI_E_NOT_FOUND (0x8004010F)");
    v.Value.err = static_cast<SCODE>(0x80041234);
    EXPECT_EQ(FormatValue(v, ValueStyle::Cell), "error 0x80041234");
    v = value(PT_SYSTIME);
    v.Value.ft = quillory::FileTimeFromUInt64(quillory::kFileTimeUnixEpoch + 1234);
    EXPECT_EQ(FormatValue(v, ValueStyle::Cell), "1970-01-01T00:00:00Z");  // below a millisecond
    v.Value.ft = quillory::FileTimeFromUInt64(quillory::kFileTimeUnixEpoch + 86400 * quillory::kFileTimeTicksPerSecond +
                                              1230000);
    EXPECT_EQ(FormatValue(v, ValueStyle::Cell), "1970-01-02T00:00:00.123Z");
    v.Value.ft = FILETIME{0, 0x80000000u};
    EXPECT_TRUE(FormatValue(v, ValueStyle::Cell).starts_with("(time out of range")) << FormatValue(v, ValueStyle::Cell);

    std::vector<BYTE> exact(64, 0xAB);
    v = value(PT_BINARY);
    v.Value.bin = SBinary{64, exact.data()};
    EXPECT_EQ(FormatValue(v, ValueStyle::Cell), quillory::BinToHex(exact));
    EXPECT_EQ(FormatValue(v, ValueStyle::Detail), quillory::BinToHex(exact) + " (64 bytes)");
    v.Value.bin.cb = 0;
    EXPECT_EQ(FormatValue(v, ValueStyle::Detail), "(0 bytes)");

    char a[] = "x\ty", b[] = "z";
    LPSTR strings[] = {a, b};
    v = value(PT_MV_STRING8);
    v.Value.MVszA = SLPSTRArray{2, strings};
    EXPECT_EQ(FormatValue(v, ValueStyle::Cell), "[\"x\\ty\", \"z\"]");
}

TEST(StoreTags, NamesAndHexTagsParse)
{
    EXPECT_EQ(ParseTag("PR_SUBJECT"), PR_SUBJECT);
    EXPECT_EQ(ParseTag("pr_message_delivery_time"), PR_MESSAGE_DELIVERY_TIME);
    EXPECT_EQ(ParseTag("0x0037001e"), PR_SUBJECT);
    EXPECT_EQ(ParseTag("0X8001000B"), PROP_TAG(PT_BOOLEAN, 0x8001));
    EXPECT_EQ(ParseTag("0x1E"), PROP_TAG(PT_STRING8, 0));
    EXPECT_FALSE(ParseTag("0x0037001F"));   // PT_UNICODE is not held here
    EXPECT_FALSE(ParseTag("0x00370000"));   // PT_UNSPECIFIED
    EXPECT_FALSE(ParseTag("0x10037001E"));  // nine digits
    EXPECT_FALSE(ParseTag("0x0037001E "));
    EXPECT_FALSE(ParseTag("SUBJECT"));

    EXPECT_EQ(TagName(PR_BODY), "PR_BODY");
    EXPECT_EQ(TagName(CHANGE_PROP_TYPE(PR_BODY, PT_ERROR)), "PR_BODY");
    EXPECT_EQ(TagName(PROP_TAG(PT_LONG, 0x8123)), "");
    EXPECT_EQ(TagLabel(PROP_TAG(PT_LONG, 0x8123)), "0x81230003");
    EXPECT_EQ(PropTypeName(PT_MV_STRING8), "PT_MV_STRING8");
    EXPECT_EQ(PropTypeName(0x0123), "0x0123");
    EXPECT_EQ(ScodeText(MAPI_E_INVALID_ENTRYID), "MAPI_E_INVALID_ENTRYID (0x80040107)");
}

// Every tag the MAPI headers define can be named on the command line: the
// table must follow when tags are added there.
TEST(StoreTags, TableCoversEveryTagOfTheHeader)
{
    const auto header =
        std::filesystem::path(QUILLORY_SOURCE_DIR) / "platform" / "mapi" / "mapitags.h";
    std::ifstream in(header);
    if (!in) GTEST_SKIP() << "source tree not found at " << header;
    const std::regex def("constexpr ULONG (PR_[A-Z0-9_]+) = (0x[0-9A-Fa-f]{8});");
    int seen = 0;
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, def)) continue;
        ++seen;
        const auto tag = ParseTag(m[1].str());
        ASSERT_TRUE(tag) << m[1] << " is missing from the name table";
        EXPECT_EQ(*tag, std::stoul(m[2].str(), nullptr, 16)) << m[1];
    }
    EXPECT_EQ(static_cast<std::size_t>(seen), KnownTags().size());
}

}  // namespace
