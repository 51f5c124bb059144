#include <gtest/gtest.h>

#include "platform/base/module.h"
#include "platform/base/time.h"
#include "platform/mapi/converter/tests/converter_test_util.h"

namespace quillory::testing {
namespace {

class MapiToMime : public ConverterTest {
protected:
    ComPtr<IMessage> Post(const char* subject, const char* body)
    {
        auto m = NewMessage();
        Set(m.Get(), {StringProp(PR_SUBJECT, subject), StringProp(PR_BODY, body),
                      StringProp(PR_SENDER_NAME, "J\xF6rg"), StringProp(PR_SENDER_EMAIL_ADDRESS, "j@example.de"),
                      StringProp(PR_SENDER_ADDRTYPE, "SMTP")});
        return m;
    }
    void AddRecipient(IMessage* m, const char* name, const char* address, const char* type)
    {
        SPropValue v[4] = {StringProp(PR_DISPLAY_NAME, name), StringProp(PR_EMAIL_ADDRESS, address),
                           StringProp(PR_ADDRTYPE, type), LongProp(PR_RECIPIENT_TYPE, MAPI_TO)};
        std::vector<BYTE> block(CbNewADRLIST(1));
        auto* list = reinterpret_cast<ADRLIST*>(block.data());
        list->cEntries = 1;
        list->aEntries[0].cValues = 4;
        list->aEntries[0].rgPropVals = v;
        ASSERT_EQ(m->ModifyRecipients(MODRECIP_ADD, list), S_OK);
    }
    void Attach(IMessage* m, const char* name, const std::vector<BYTE>& data)
    {
        ComPtr<IAttach> a;
        ULONG num = 0;
        ASSERT_EQ(m->CreateAttach(nullptr, 0, &num, &a), S_OK);
        SPropValue v[3] = {LongProp(PR_ATTACH_METHOD, ATTACH_BY_VALUE), StringProp(PR_ATTACH_LONG_FILENAME, name),
                           BinaryProp(PR_ATTACH_DATA_BIN, data)};
        ASSERT_EQ(a->SetProps(3, v, nullptr), S_OK);
        ASSERT_EQ(a->SaveChanges(0), S_OK);
    }
    // The article as posting hands it on: through the MIME message object.
    static std::string ThroughMimeObject(const std::string& article)
    {
        ComPtr<IMimeMessage> mime;
        EXPECT_EQ(CoCreateInstance(CLSID_IMimeMessage, nullptr, CLSCTX_ALL, IID_IMimeMessage, mime.AsVoidOut()), S_OK);
        EXPECT_EQ(mime->Load(StreamOf(article).Get()), S_OK);
        ComPtr<IStream> out;
        EXPECT_EQ(mime->GetMessageSource(&out, 0), S_OK);
        std::string text;
        EXPECT_EQ(ReadWholeStream(out.Get(), text), S_OK);
        return text;
    }
    static std::string Header(const std::string& article, const std::string& name)
    {
        const auto at = article.find("\r\n" + name + ": ");
        if (at == std::string::npos) return "<none>";
        const auto start = at + name.size() + 4;
        return article.substr(start, article.find("\r\n", start) - start);
    }
    static std::string Body(const std::string& article) { return article.substr(article.find("\r\n\r\n") + 4); }
};

TEST_F(MapiToMime, WritesAPlainPostWithEncodedHeadersAndNoNewsRecipients)
{
    auto m = Post("Gr\xFC\xDF" "e", "Hello\r\nworld\r\n");
    AddRecipient(m.Get(), "local.test", "local.test", "NNTP");
    AddRecipient(m.Get(), "Bob", "bob@example.org", "SMTP");
    const std::string a = "\r\n" + ToArticle(m.Get(), CCSF_NO_MSGID);
    EXPECT_EQ(Header(a, "Subject").rfind("=?iso-8859-1?", 0), 0u);
    EXPECT_EQ(Header(a, "From").rfind("=?iso-8859-1?", 0), 0u);
    EXPECT_NE(Header(a, "From").find("?= <j@example.de>"), std::string::npos);
    EXPECT_EQ(Header(a, "To"), "Bob <bob@example.org>");
    EXPECT_EQ(Header(a, "Message-ID"), "<none>");
    EXPECT_EQ(Header(a, "MIME-Version"), "1.0");
    EXPECT_EQ(Header(a, "Content-Type"), "text/plain; charset=\"us-ascii\"");
    EXPECT_EQ(Header(a, "Content-Transfer-Encoding"), "7bit");
    EXPECT_EQ(Body(a), "Hello\r\nworld\r\n");
    EXPECT_NE(Header(a, "Date"), "<none>");

    const std::string withId = "\r\n" + ToArticle(m.Get(), 0);
    EXPECT_NE(Header(withId, "Message-ID").find("@example.de>"), std::string::npos);
}

TEST_F(MapiToMime, KeepsEveryTextInsideItsField)
{
    auto m = Post("Hi\r\nBcc: victim@example.org", "x");
    Set(m.Get(), {StringProp(PR_SENDER_NAME, "Eve\r\nX-Injected: 1")});
    Attach(m.Get(), "a\r\nX-Part-Injected: 1.bin", {1});
    const std::string a = ToArticle(m.Get(), CCSF_NO_MSGID);
    EXPECT_EQ(a.find("\nBcc:"), std::string::npos) << a;
    EXPECT_EQ(a.find("\nX-Injected:"), std::string::npos) << a;
    EXPECT_EQ(a.find("\nX-Part-Injected:"), std::string::npos) << a;
    EXPECT_EQ(GetString(FromArticle(a).Get(), PR_SUBJECT), "Hi  Bcc: victim@example.org");
}

TEST_F(MapiToMime, KeepsEightBitHeadersWhenAllowed)
{
    auto m = Post("Gr\xFC\xDF" "e", "x");
    const std::string a = "\r\n" + ToArticle(m.Get(), CCSF_8BITHEADERS | CCSF_NO_MSGID);
    EXPECT_EQ(Header(a, "Subject"), "Gr\xFC\xDF" "e");
    EXPECT_EQ(Header(a, "From"), "J\xF6rg <j@example.de>");
    // And the MIME object hands them on unchanged.
    EXPECT_EQ(Header("\r\n" + ThroughMimeObject(a.substr(2)), "Subject"), "Gr\xFC\xDF" "e");
}

TEST_F(MapiToMime, AppliesTheBodyEncodingAskedFor)
{
    const char* text = "Caf\xE9 cr\xE8me and a rather long line that goes past the wrap column\r\nend\r\n";
    auto m = Post("s", text);

    ASSERT_EQ(session_->SetEncoding(IET_QP), S_OK);
    std::string a = "\r\n" + ToArticle(m.Get(), 0);
    EXPECT_EQ(Header(a, "Content-Type"), "text/plain; charset=\"windows-1252\"");
    EXPECT_EQ(Header(a, "Content-Transfer-Encoding"), "quoted-printable");
    EXPECT_EQ(Body(a).rfind("Caf=E9 cr=E8me", 0), 0u);

    ASSERT_EQ(session_->SetEncoding(IET_BASE64), S_OK);
    a = "\r\n" + ToArticle(m.Get(), 0);
    EXPECT_EQ(Header(a, "Content-Transfer-Encoding"), "base64");
    // Whatever the encoding, reading the article back gives the text again.
    auto back = FromArticle(ThroughMimeObject(a.substr(2)));
    EXPECT_EQ(GetString(back.Get(), PR_BODY), text);

    EXPECT_EQ(session_->SetEncoding(IET_RFC1522), E_INVALIDARG);
}

TEST_F(MapiToMime, WritesTheTextInTheCharsetAskedFor)
{
    HMODULE inetcomm = LoadLibrary((BuildLibDir() / "libinetcomm.so").c_str());
    ASSERT_NE(inetcomm, nullptr);
    auto getInternat = reinterpret_cast<PFNMIMEOLEGETINTERNAT>(GetProcAddress(inetcomm, "MimeOleGetInternat"));
    ASSERT_NE(getInternat, nullptr);
    ComPtr<IMimeInternational> intl;
    ASSERT_EQ(getInternat(&intl), S_OK);
    HCHARSET latin9 = nullptr;
    ASSERT_EQ(intl->FindCharset("iso-8859-15", &latin9), S_OK);

    auto m = Post("s", "\x80 5\r\n");  // the euro sign in the system code page
    ASSERT_EQ(session_->SetCharset(TRUE, latin9, CSET_APPLY_ALL), S_OK);
    ASSERT_EQ(session_->SetEncoding(IET_8BIT), S_OK);
    const std::string a = "\r\n" + ToArticle(m.Get(), CCSF_NO_MSGID);
    EXPECT_EQ(Header(a, "Content-Type"), "text/plain; charset=\"iso-8859-15\"");
    EXPECT_EQ(Header(a, "Content-Transfer-Encoding"), "8bit");
    EXPECT_EQ(Body(a), "\xA4 5\r\n");
    EXPECT_EQ(GetString(FromArticle(a.substr(2)).Get(), PR_BODY), "\x80 5\r\n");
    EXPECT_EQ(session_->SetCharset(TRUE, reinterpret_cast<HCHARSET>(&latin9), CSET_APPLY_ALL), E_INVALIDARG);
    FreeLibrary(inetcomm);
}

TEST_F(MapiToMime, WrapsPlainTextAtTheColumn)
{
    auto m = Post("s", "one two three four five six seven\r\n> quoted stays short\r\nunbreakableword_longer_than_twenty\r\n");
    ASSERT_EQ(session_->SetTextWrapping(TRUE, 20), S_OK);
    const std::string a = "\r\n" + ToArticle(m.Get(), CCSF_NO_MSGID);
    EXPECT_EQ(Body(a), "one two three four\r\nfive six seven\r\n> quoted stays short\r\nunbreakableword_longer_than_twenty\r\n");
    EXPECT_EQ(session_->SetTextWrapping(TRUE, 0), E_INVALIDARG);
}

TEST_F(MapiToMime, UuencodesAttachmentsOfNonMimePosts)
{
    auto m = Post("s", "See the file.\r\n");
    Attach(m.Get(), "cat.txt", {'C', 'a', 't'});
    ASSERT_EQ(session_->SetEncoding(IET_UUENCODE), S_OK);
    const std::string a = "\r\n" + ToArticle(m.Get(), CCSF_NO_MSGID);
    EXPECT_EQ(Header(a, "MIME-Version"), "<none>");
    EXPECT_EQ(Header(a, "Content-Type"), "<none>");
    EXPECT_EQ(Body(a), "See the file.\r\n\r\nbegin 644 cat.txt\r\n#0V%T\r\n`\r\nend\r\n");
    // A reader gets the file back out of the body.
    auto back = FromArticle(ThroughMimeObject(a.substr(2)));
    EXPECT_EQ(GetString(back.Get(), PR_BODY), "See the file.\r\n\r\n");
    EXPECT_EQ(GetLong(back.Get(), PR_MESSAGE_FLAGS) & MSGFLAG_HASATTACH, static_cast<LONG>(MSGFLAG_HASATTACH));
}

TEST_F(MapiToMime, WritesHtmlAsAlternativeAndAttachmentsAsParts)
{
    auto m = Post("s", "plain text\r\n");
    const std::string html = "<p>html text</p>";
    const std::vector<BYTE> htmlBytes(html.begin(), html.end());
    Set(m.Get(), {BinaryProp(PR_HTML, htmlBytes)});
    std::vector<BYTE> data(300);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i);
    Attach(m.Get(), "data.bin", data);
    const std::string a = ThroughMimeObject(ToArticle(m.Get(), CCSF_NO_MSGID));
    EXPECT_NE(a.find("Content-Type: multipart/mixed;"), std::string::npos);
    EXPECT_NE(a.find("Content-Type: multipart/alternative;"), std::string::npos);

    auto back = FromArticle(a);
    EXPECT_EQ(GetString(back.Get(), PR_BODY), "plain text\r\n");
    const auto gotHtml = GetBinary(back.Get(), PR_HTML);
    EXPECT_EQ(std::string(gotHtml.begin(), gotHtml.end()), html + "\r\n");
    ComPtr<IAttach> att;
    ASSERT_EQ(back->OpenAttach(0, nullptr, 0, &att), S_OK);
    EXPECT_EQ(GetString(att.Get(), PR_ATTACH_LONG_FILENAME), "data.bin");
    EXPECT_EQ(GetBinary(att.Get(), PR_ATTACH_DATA_BIN), data);

    const std::string plainOnly = ToArticle(m.Get(), CCSF_PLAIN_TEXT_ONLY | CCSF_NO_MSGID);
    EXPECT_EQ(plainOnly.find("text/html"), std::string::npos);
}

TEST_F(MapiToMime, RoundTripsTheEnvelope)
{
    auto m = Post("Re: Gr\xFC\xDF" "e", "body\r\n");
    Set(m.Get(), {StringProp(PR_IN_REPLY_TO_ID, "<a@example.de>"),
                  StringProp(PR_INTERNET_REFERENCES, "<0@example.de> <a@example.de>"),
                  StringProp(PR_INTERNET_MESSAGE_ID, "<b@example.de>")});
    SYSTEMTIME st{2024, 2, 4, 29, 23, 59, 58, 0};
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
    SPropValue t{};
    t.ulPropTag = PR_CLIENT_SUBMIT_TIME;
    t.Value.ft = ft;
    Set(m.Get(), {t});
    const std::string a = ToArticle(m.Get(), 0);
    EXPECT_EQ(Header("\r\n" + a, "Date"), "Thu, 29 Feb 2024 23:59:58 +0000");
    auto back = FromArticle(a);
    for (ULONG tag : {PR_SUBJECT, PR_SENDER_NAME, PR_SENDER_EMAIL_ADDRESS, PR_IN_REPLY_TO_ID, PR_INTERNET_REFERENCES,
                      PR_INTERNET_MESSAGE_ID, PR_BODY})
        EXPECT_EQ(GetString(back.Get(), tag), GetString(m.Get(), tag)) << std::hex << tag;
    MapiBuffer<SPropValue> got;
    ASSERT_EQ(HrGetOneProp(back.Get(), PR_CLIENT_SUBMIT_TIME, &got), S_OK);
    EXPECT_EQ(CompareFileTime(&got->Value.ft, &ft), 0);
}

}  // namespace
}  // namespace quillory::testing
