#include "platform/inetcomm/dialup/dialup.h"
#include "platform/inetcomm/dialup/dialup_double.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

TEST(DialupStandIn, WithoutADoubleNothingIsUpAndDiallingFailsWithAClearText)
{
    QuilloryDialupDouble(FALSE);
    std::vector<RASCONNA> entries(3);
    entries[0].dwSize = sizeof(RASCONNA);
    DWORD bytes = static_cast<DWORD>(entries.size() * sizeof(RASCONNA));
    DWORD count = 99;
    EXPECT_EQ(RasEnumConnectionsA(entries.data(), &bytes, &count), 0u);
    EXPECT_EQ(count, 0u);

    char name[] = "Provider";
    DWORD_PTR handle = 7;
    const DWORD result = InternetDialA(nullptr, name, INTERNET_DIAL_UNATTENDED, &handle, 0);
    EXPECT_NE(result, 0u);
    EXPECT_EQ(handle, 0u);
    char text[128];
    ASSERT_EQ(RasGetErrorStringA(result, text, sizeof text), 0u);
    EXPECT_NE(std::string(text).find("not available"), std::string::npos) << text;
    EXPECT_EQ(RasGetErrorStringA(result, text, 8), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(DialupStandIn, ConnectionListReportsTheSizeItNeedsAndEachConnectionsState)
{
    DialupDouble* d = QuilloryDialupDouble(TRUE);
    ASSERT_NE(d, nullptr);
    for (int i = 0; i < 4; ++i) std::snprintf(d->active[d->activeCount++], sizeof d->active[0], "conn%d", i);

    std::vector<RASCONNA> entries(3);
    entries[0].dwSize = 100;  // not the entry size
    DWORD bytes = static_cast<DWORD>(entries.size() * sizeof(RASCONNA));
    DWORD count = 0;
    EXPECT_EQ(RasEnumConnectionsA(entries.data(), &bytes, &count), ERROR_INVALID_SIZE);

    entries[0].dwSize = sizeof(RASCONNA);
    EXPECT_EQ(RasEnumConnectionsA(entries.data(), &bytes, &count), ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(bytes, 4 * sizeof(RASCONNA));
    entries.resize(4);
    EXPECT_EQ(RasEnumConnectionsA(entries.data(), &bytes, &count), 0u);
    ASSERT_EQ(count, 4u);
    EXPECT_STREQ(entries[3].szEntryName, "conn3");

    RASCONNSTATUSA status{};
    status.dwSize = sizeof status;
    ASSERT_EQ(RasGetConnectStatusA(entries[3].hrasconn, &status), 0u);
    EXPECT_EQ(status.rasconnstate, RASCS_Connected);
    EXPECT_NE(RasGetConnectStatusA(nullptr, &status), 0u);

    char name[] = "Provider";
    DWORD_PTR handle = 0;
    ASSERT_EQ(InternetDialA(nullptr, name, INTERNET_DIAL_FORCE_PROMPT, &handle, 0), 0u);
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(InternetHangUp(handle, 0), 0u);
    EXPECT_EQ(d->hangUpCalls, 1);
    d->dialResult = ERROR_USER_DISCONNECTION;
    EXPECT_EQ(InternetDialA(nullptr, name, INTERNET_DIAL_FORCE_PROMPT, &handle, 0), ERROR_USER_DISCONNECTION);
    EXPECT_EQ(d->dialCalls, 2);
    QuilloryDialupDouble(FALSE);
}

}  // namespace
