#include "common/server_record.h"

#include "common/tests/account_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace quillory {
namespace {

using testing::AccountFixture;

TEST(ServerRecord, TimeoutIsThirtySecondsPerUnitAndTenWhenUnset)
{
    AccountFixture account;
    INETSERVER server{};
    FillServerRecord(account.Span(), server);
    EXPECT_EQ(server.dwTimeout, 10u);  // absent
    account.SetLong(acct::kTimeout, 0);
    FillServerRecord(account.Span(), server);
    EXPECT_EQ(server.dwTimeout, 10u);
    account.SetLong(acct::kTimeout, 4);
    FillServerRecord(account.Span(), server);
    EXPECT_EQ(server.dwTimeout, 120u);
}

TEST(ServerRecord, CredentialsOnlyWhenTheServerRequiresALogon)
{
    AccountFixture account;
    account.SetString(acct::kAccountName, "News at work");
    account.SetString(acct::kServer, "news.example.org");
    account.SetString(acct::kLogonUser, "tester");
    account.SetString(acct::kLogonPassword, "secret");
    account.SetLong(acct::kPort, 563);
    account.SetBool(acct::kSsl, true);
    account.SetBool(acct::kUseSpa, true);

    INETSERVER server{};
    account.SetBool(acct::kLogonRequired, false);
    FillServerRecord(account.Span(), server);
    EXPECT_STREQ(server.szUserName, "");
    EXPECT_STREQ(server.szPassword, "");
    EXPECT_STREQ(server.szAccount, "News at work");
    EXPECT_STREQ(server.szServerName, "news.example.org");
    EXPECT_EQ(server.dwPort, 563u);
    EXPECT_EQ(server.fSSL, TRUE);
    EXPECT_EQ(server.fTrySicily, TRUE);
    EXPECT_EQ(server.dwFlags, 0u);

    account.SetBool(acct::kLogonRequired, true);
    FillServerRecord(account.Span(), server);
    EXPECT_STREQ(server.szUserName, "tester");
    EXPECT_STREQ(server.szPassword, "secret");
}

TEST(ServerRecord, DialupOnlyForTypeOneWithAName)
{
    AccountFixture account;
    INETSERVER server{};
    account.SetLong(acct::kConnectionType, acct::kConnectionDialup);
    account.SetString(acct::kDialupName, "");
    FillServerRecord(account.Span(), server);
    EXPECT_EQ(server.rasconntype, CONNECTION_TYPE_LAN);
    EXPECT_STREQ(server.szConnectoid, "");

    account.SetString(acct::kDialupName, "Provider");
    FillServerRecord(account.Span(), server);
    EXPECT_EQ(server.rasconntype, CONNECTION_TYPE_RAS);
    EXPECT_STREQ(server.szConnectoid, "Provider");

    account.SetLong(acct::kConnectionType, acct::kConnectionLan);
    FillServerRecord(account.Span(), server);
    EXPECT_EQ(server.rasconntype, CONNECTION_TYPE_LAN);
    EXPECT_STREQ(server.szConnectoid, "");
}

TEST(ServerRecord, EntriesWithAnotherTagOrBeyondTheArrayReadAsAbsent)
{
    AccountFixture account;
    account.SetString(acct::kServer, "news.example.org");
    account.SetBool(acct::kLogonRequired, true);
    account.SetString(acct::kLogonUser, "tester");
    // The same property ID with another type is not the server name.
    account[acct::kServer].ulPropTag = CHANGE_PROP_TYPE(acct::PR_NNTP_SERVER, PT_LONG);
    INETSERVER server{};
    std::memset(&server, 'x', sizeof server);  // the record is cleared first
    FillServerRecord(account.Span(), server);
    EXPECT_STREQ(server.szServerName, "");
    EXPECT_STREQ(server.szUserName, "tester");
    EXPECT_STREQ(server.szConnectoid, "");

    // A short array: the logon user's position lies beyond it.
    FillServerRecord(account.Span().first(acct::kLogonUser), server);
    EXPECT_STREQ(server.szUserName, "");
}

TEST(ServerRecord, LongTextsAreCutToTheirField)
{
    AccountFixture account;
    account.SetString(acct::kServer, std::string(600, 's'));
    INETSERVER server{};
    FillServerRecord(account.Span(), server);
    EXPECT_EQ(std::string(server.szServerName), std::string(CCHMAX_SERVER_NAME - 1, 's'));
}

}  // namespace
}  // namespace quillory
