#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/account_props.h"
#include "platform/base/tests/test_home.h"
#include "platform/com/classfactory.h"
#include "platform/com/com_ptr.h"
#include "provider/posting/post_article.h"

namespace quillory::quarnex {
namespace {

using testing::TempHome;

// An account array with the identity and header values set, the rest unset.
struct Account {
    Account()
    {
        for (int i = 0; i < acct::kCount; ++i) {
            values[i].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(acct::kTags[i]));
            values[i].Value.err = MAPI_E_NOT_FOUND;
        }
    }
    void Set(int index, const char* text)
    {
        values[index].ulPropTag = acct::kTags[index];
        values[index].Value.lpszA = const_cast<LPSTR>(text);
    }
    SPropValue values[acct::kCount]{};
};

// Loads `text`, applies the edits, and answers the saved article.
std::string Edited(const std::string& text, const Account& account, const std::vector<std::string>& groups)
{
    ComPtr<IMimeMessage> mime;
    EXPECT_EQ(CoCreateInstance(CLSID_IMimeMessage, nullptr, CLSCTX_ALL, IID_IMimeMessage,
                               reinterpret_cast<void**>(&mime)),
              S_OK);
    if (!mime) return {};
    ComPtr<IStream> in;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &in), S_OK);
    in->Write(text.data(), static_cast<ULONG>(text.size()), nullptr);
    LARGE_INTEGER zero{};
    in->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(mime->Load(in.Get()), S_OK);
    ComPtr<IMimeHeaderTable> header;
    EXPECT_EQ(mime->BindToObject(HBODY_ROOT, IID_IMimeHeaderTable, reinterpret_cast<void**>(&header)), S_OK);
    EXPECT_EQ(posting::EditPostHeader(header.Get(), account.values, groups), S_OK);
    ComPtr<IStream> out;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &out), S_OK);
    EXPECT_EQ(mime->Save(out.Get(), TRUE), S_OK);
    std::string saved;
    EXPECT_EQ(ReadWholeStream(out.Get(), saved), S_OK);
    return saved;
}

// The header block of an article (up to the empty line).
std::string HeaderOf(const std::string& article) { return article.substr(0, article.find("\r\n\r\n") + 2); }

class HeaderEdits : public ::testing::Test {
protected:
    HeaderEdits()
    {
        account.Set(acct::kUserName, "Ann Smith");
        account.Set(acct::kEmailAddress, "ann@example.org");
    }
    TempHome home;
    Account account;
};

TEST_F(HeaderEdits, NewsHeadersReplaceMailHeaders)
{
    account.Set(acct::kOrganization, "Tarnel Readers");
    const std::string header = HeaderOf(Edited("From: Ann Smith\r\nTo: alt.test\r\nOrganization: Old Org\r\n"
                                               "Reply-To: old@example.org\r\nX-Message-Flag: For Followup\r\n"
                                               "Subject: hello\r\n\r\nbody\r\n",
                                               account, {"alt.test", "comp.lang.c"}));
    EXPECT_EQ(header.find("To: "), std::string::npos) << header;
    EXPECT_EQ(header.find("X-Message-Flag"), std::string::npos);
    EXPECT_EQ(header.find("Old Org"), std::string::npos);
    EXPECT_EQ(header.find("Reply-To"), std::string::npos);  // the account has no reply address
    EXPECT_NE(header.find("From: Ann Smith <ann@example.org>\r\n"), std::string::npos) << header;
    EXPECT_NE(header.find("Newsgroups: alt.test, comp.lang.c\r\n"), std::string::npos);
    EXPECT_NE(header.find("Organization: Tarnel Readers\r\n"), std::string::npos);
    EXPECT_NE(header.find("X-Transport: Quillory v"), std::string::npos);
    EXPECT_NE(header.find("Subject: hello\r\n"), std::string::npos);
}

TEST_F(HeaderEdits, FromWithAnAddressIsKept)
{
    const std::string header =
        HeaderOf(Edited("From: Other <other@example.net>\r\nSubject: s\r\n\r\nb\r\n", account, {"alt.test"}));
    EXPECT_NE(header.find("From: Other <other@example.net>\r\n"), std::string::npos) << header;
    // Without a user name only the address is written (the MIME object may
    // drop the angle brackets of a bare address).
    Account bare;
    bare.Set(acct::kEmailAddress, "ann@example.org");
    const std::string bareHeader = HeaderOf(Edited("From: x\r\nSubject: s\r\n\r\nb\r\n", bare, {"alt.test"}));
    EXPECT_TRUE(bareHeader.find("From: <ann@example.org>\r\n") != std::string::npos ||
                bareHeader.find("From: ann@example.org\r\n") != std::string::npos)
        << bareHeader;
    // An account e-mail without '@' cannot make an address.
    Account noAt;
    noAt.Set(acct::kUserName, "Ann");
    noAt.Set(acct::kEmailAddress, "ann");
    EXPECT_NE(HeaderOf(Edited("From: Ann\r\nSubject: s\r\n\r\nb\r\n", noAt, {"alt.test"})).find("From: Ann\r\n"),
              std::string::npos);
}

TEST_F(HeaderEdits, ReferencesComeFromInReplyToOnlyWhenMissing)
{
    EXPECT_NE(HeaderOf(Edited("From: a@b.c\r\nIn-Reply-To: <p1@example.org>\r\nSubject: s\r\n\r\nb\r\n", account,
                              {"alt.test"}))
                  .find("References: <p1@example.org>\r\n"),
              std::string::npos);
    const std::string kept = HeaderOf(Edited(
        "From: a@b.c\r\nReferences: <r0@x> <r1@x>\r\nIn-Reply-To: <p1@example.org>\r\nSubject: s\r\n\r\nb\r\n",
        account, {"alt.test"}));
    EXPECT_NE(kept.find("References: <r0@x> <r1@x>\r\n"), std::string::npos) << kept;
    EXPECT_EQ(kept.find("References: <p1"), std::string::npos);
    // A value of two characters or fewer makes no References.
    EXPECT_EQ(HeaderOf(Edited("From: a@b.c\r\nIn-Reply-To: <>\r\nSubject: s\r\n\r\nb\r\n", account, {"alt.test"}))
                  .find("References"),
              std::string::npos);
}

TEST_F(HeaderEdits, ReplyToFromTheAccount)
{
    account.Set(acct::kReplyTo, "replies@example.org");
    EXPECT_NE(HeaderOf(Edited("From: a@b.c\r\nSubject: s\r\n\r\nb\r\n", account, {"alt.test"}))
                  .find("Reply-To: Ann Smith <replies@example.org>\r\n"),
              std::string::npos);
    account.Set(acct::kReplyTo, "Team <team@example.org>");
    EXPECT_NE(HeaderOf(Edited("From: a@b.c\r\nSubject: s\r\n\r\nb\r\n", account, {"alt.test"}))
                  .find("Reply-To: Team <team@example.org>\r\n"),
              std::string::npos);
}

TEST(TransportBanner, CarriesAVersionAndTheMakersAddress)
{
    const std::string banner = posting::TransportBanner();
    EXPECT_EQ(banner.rfind("Quillory v", 0), 0u) << banner;
    EXPECT_NE(banner.find(", https://"), std::string::npos);
    EXPECT_EQ(banner.find("%s"), std::string::npos);
}

}  // namespace
}  // namespace quillory::quarnex
