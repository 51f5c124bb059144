#include <gtest/gtest.h>

#include "platform/base/time.h"
#include "platform/mapi/converter/tests/converter_test_util.h"

namespace quillory::testing {
namespace {

using MimeToMapi = ConverterTest;

std::vector<std::pair<std::string, std::vector<BYTE>>> Attachments(IMessage* m, std::vector<std::string>* tags = nullptr)
{
    std::vector<std::pair<std::string, std::vector<BYTE>>> out;
    ComPtr<IMAPITable> table;
    EXPECT_EQ(m->GetAttachmentTable(0, &table), S_OK);
    auto cols = MakeTagArray({PR_ATTACH_NUM});
    table->SetColumns(cols.Get(), 0);
    RowSetPtr rows;
    EXPECT_EQ(table->QueryRows(100, 0, &rows), S_OK);
    for (ULONG i = 0; i < rows->cRows; ++i) {
        ComPtr<IAttach> a;
        EXPECT_EQ(m->OpenAttach(static_cast<ULONG>(rows->aRow[i].lpProps[0].Value.l), nullptr, 0, &a), S_OK);
        out.emplace_back(GetString(a.Get(), PR_ATTACH_LONG_FILENAME), GetBinary(a.Get(), PR_ATTACH_DATA_BIN));
        if (tags) tags->push_back(GetString(a.Get(), PR_ATTACH_MIME_TAG));
    }
    return out;
}

TEST_F(MimeToMapi, FillsTheEnvelopeOfAnArticle)
{
    auto m = FromArticle(
        "X-Corvane-Newsgroup: local.test\r\n"
        "X-Corvane-Article: 12\r\n"
        "Path: news!not-for-mail\r\n"
        "From: =?ISO-8859-1?Q?J=F6rg_M=FCller?= <jm@example.de>\r\n"
        "Newsgroups: local.test\r\n"
        "Subject: =?utf-8?B?UmU6IMOcYmVy?= =?ISO-8859-1?Q?_gr=FC=DFe?=\r\n"
        "Date: Tue, 1 Jul 2003 10:52:37 +0200\r\n"
        "Message-ID: <b@example.de>\r\n"
        "In-Reply-To: <a@example.de>\r\n"
        "References: <0@example.de>\r\n <a@example.de>\r\n"
        "\r\n"
        "Line one\nLine two\r\n");
    EXPECT_EQ(GetString(m.Get(), PR_SUBJECT), "Re: \xDC" "ber gr\xFC\xDF" "e");
    EXPECT_EQ(GetString(m.Get(), PR_SENDER_NAME), "J\xF6rg M\xFCller");
    EXPECT_EQ(GetString(m.Get(), PR_SENDER_EMAIL_ADDRESS), "jm@example.de");
    EXPECT_EQ(GetString(m.Get(), PR_SENDER_ADDRTYPE), "SMTP");
    EXPECT_EQ(GetString(m.Get(), PR_SENT_REPRESENTING_NAME), "J\xF6rg M\xFCller");
    EXPECT_EQ(GetString(m.Get(), PR_SENT_REPRESENTING_EMAIL_ADDRESS), "jm@example.de");
    EXPECT_EQ(GetString(m.Get(), PR_SENT_REPRESENTING_ADDRTYPE), "SMTP");
    EXPECT_EQ(GetString(m.Get(), PR_INTERNET_MESSAGE_ID), "<b@example.de>");
    EXPECT_EQ(GetString(m.Get(), PR_IN_REPLY_TO_ID), "<a@example.de>");
    EXPECT_EQ(GetString(m.Get(), PR_INTERNET_REFERENCES), "<0@example.de> <a@example.de>");
    EXPECT_EQ(GetString(m.Get(), PR_BODY), "Line one\r\nLine two\r\n");
    const std::string headers = GetString(m.Get(), PR_TRANSPORT_MESSAGE_HEADERS);
    EXPECT_EQ(headers.rfind("X-Corvane-Newsgroup: local.test\r\n", 0), 0u);
    EXPECT_NE(headers.find("References: <0@example.de>\r\n <a@example.de>\r\n"), std::string::npos);
    EXPECT_EQ(headers.find("Line one"), std::string::npos);
    EXPECT_EQ(GetLong(m.Get(), PR_MESSAGE_FLAGS), 0);

    MapiBuffer<SPropValue> t;
    ASSERT_EQ(HrGetOneProp(m.Get(), PR_CLIENT_SUBMIT_TIME, &t), S_OK);
    EXPECT_EQ(FileTimeToTimeT(t->Value.ft), 1057049557);
    ASSERT_EQ(m->SaveChanges(0), S_OK);
}

TEST_F(MimeToMapi, CopesWithMissingDateBrokenFromAndForeignLetters)
{
    auto m = FromArticle("From: John Smith\r\nSubject: =?KOI8-R?B?8NLJ18XU?=\r\n\r\nbody\r\n");
    EXPECT_EQ(GetString(m.Get(), PR_SENDER_NAME), "John Smith");
    EXPECT_EQ(GetString(m.Get(), PR_SENDER_EMAIL_ADDRESS), "<missing>");
    EXPECT_EQ(GetString(m.Get(), PR_SENDER_ADDRTYPE), "SMTP");
    EXPECT_EQ(GetString(m.Get(), PR_SUBJECT), "??????");  // Cyrillic has no place in windows-1252
    EXPECT_FALSE(FPropExists(m.Get(), PR_CLIENT_SUBMIT_TIME));
    EXPECT_FALSE(FPropExists(m.Get(), PR_IN_REPLY_TO_ID));

    auto bare = FromArticle("From: jd@example.org\r\nDate: not a date\r\n\r\nx\r\n");
    EXPECT_EQ(GetString(bare.Get(), PR_SENDER_NAME), "jd@example.org");
    EXPECT_EQ(GetString(bare.Get(), PR_SENDER_EMAIL_ADDRESS), "jd@example.org");
    EXPECT_FALSE(FPropExists(bare.Get(), PR_CLIENT_SUBMIT_TIME));
}

TEST_F(MimeToMapi, TurnsPartsIntoBodyAndAttachments)
{
    auto m = FromArticle(
        "From: a@example.org\r\nSubject: parts\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n"
        "preamble\r\n"
        "--XX\r\nContent-Type: multipart/alternative; boundary=\"YY\"\r\n\r\n"
        "--YY\r\nContent-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
        "Gr=FC=DFe\r\n"
        "--YY\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "PHA+R3LDvMOfZTwvcD4=\r\n"
        "--YY--\r\n"
        "--XX\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"..\\\\..\\\\data.bin\"\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\nAAEC/w==\r\n"
        "--XX\r\nContent-Type: text/plain; name=notes.txt\r\nContent-Disposition: attachment; filename=notes.txt\r\n\r\n"
        "attached text\r\n"
        "--XX--\r\n");
    EXPECT_EQ(GetString(m.Get(), PR_BODY), "Gr\xFC\xDF" "e");
    const auto html = GetBinary(m.Get(), PR_HTML);
    EXPECT_EQ(std::string(html.begin(), html.end()), "<p>Gr\xC3\xBC\xC3\x9F" "e</p>");
    EXPECT_EQ(GetLong(m.Get(), PR_INTERNET_CPID), 65001);
    std::vector<std::string> tags;
    const auto files = Attachments(m.Get(), &tags);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].first, "data.bin");
    EXPECT_EQ(files[0].second, (std::vector<BYTE>{0, 1, 2, 0xFF}));
    EXPECT_EQ(tags[0], "application/octet-stream");
    EXPECT_EQ(files[1].first, "notes.txt");
    EXPECT_EQ(tags[1], "text/plain");
    EXPECT_EQ(GetLong(m.Get(), PR_MESSAGE_FLAGS) & MSGFLAG_HASATTACH, static_cast<LONG>(MSGFLAG_HASATTACH));
    ASSERT_EQ(m->SaveChanges(0), S_OK);
}

TEST_F(MimeToMapi, TakesUuencodedFilesOutOfThePlainBody)
{
    auto m = FromArticle(
        "From: a@example.org\r\nSubject: uu\r\n\r\n"
        "Here it comes:\r\n"
        "begin 644 ../../etc/cat.txt\r\n"
        "#0V%T\r\n"
        "`\r\n"
        "end\r\n"
        "That was it.\r\n"
        "begin 644 unfinished.txt\r\n"
        "#0V%T\r\n");
    EXPECT_EQ(GetString(m.Get(), PR_BODY),
              "Here it comes:\r\nThat was it.\r\nbegin 644 unfinished.txt\r\n#0V%T\r\n");
    const auto files = Attachments(m.Get());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].first, "cat.txt");  // no path leaves the name
    EXPECT_EQ(std::string(files[0].second.begin(), files[0].second.end()), "Cat");
}

TEST_F(MimeToMapi, AddsMailRecipientsButNeverTheNewsgroups)
{
    auto m = FromArticle("From: a@example.org\r\nTo: Bob <bob@example.org>\r\nCc: c@example.org\r\n"
                         "Newsgroups: local.test\r\nSubject: x\r\n\r\nx\r\n");
    ComPtr<IMAPITable> table;
    ASSERT_EQ(m->GetRecipientTable(0, &table), S_OK);
    auto cols = MakeTagArray({PR_DISPLAY_NAME, PR_EMAIL_ADDRESS, PR_RECIPIENT_TYPE});
    table->SetColumns(cols.Get(), 0);
    RowSetPtr rows;
    ASSERT_EQ(table->QueryRows(10, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 2u);
    EXPECT_STREQ(rows->aRow[0].lpProps[0].Value.lpszA, "Bob");
    EXPECT_EQ(rows->aRow[1].lpProps[2].Value.l, static_cast<LONG>(MAPI_CC));
}

TEST_F(MimeToMapi, RefusesWhatIsNoArticle)
{
    auto m = NewMessage();
    EXPECT_EQ(session_->MIMEToMAPI(StreamOf("").Get(), m.Get(), nullptr, CCSF_SMTP), MIME_E_INVALID_MESSAGE);
    EXPECT_EQ(session_->MIMEToMAPI(nullptr, m.Get(), nullptr, CCSF_SMTP), MAPI_E_INVALID_PARAMETER);
}

}  // namespace
}  // namespace quillory::testing
