// A private root with a MAPI profile holding one newsgroup account, as the
// account commands make it: a "Corvane" service whose profile section holds
// the settings array, and the data directory in the registry.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/account_props.h"
#include "common/regstore.h"
#include "platform/mapi/tests/profile_test_util.h"

namespace quillory::testing {

inline constexpr std::string_view kNewsServiceList =
    "[Services]\r\nCorvane=Tarnel NNTP Transport\r\n\r\n"
    "[Corvane]\r\nPR_DISPLAY_NAME=Tarnel NNTP Transport\r\nProviders=QUARNEX_XPP\r\n\r\n"
    "[QUARNEX_XPP]\r\nPR_RESOURCE_TYPE=MAPI_TRANSPORT_PROVIDER\r\n";

struct NewsAccountSetup {
    std::string profile = "Default";
    std::string name = "news";
    std::string listFile = "groups-0001a2b3.txt";  // empty: not set
    std::string server = "127.0.0.1";
    LONG port = 119;
    bool descriptions = true;
};

class NewsHome {
public:
    NewsHome()
    {
        EXPECT_EQ(MAPIInitialize(nullptr), S_OK);
        WriteServiceList(kNewsServiceList);
        dataDir_ = home_.path() / "data";
        std::filesystem::create_directories(dataDir_);
        EXPECT_EQ(WriteRegString(kMainKey, kValDir, dataDir_.string() + "/"), ERROR_SUCCESS);
    }

    ~NewsHome() { MAPIUninitialize(); }
    NewsHome(const NewsHome&) = delete;
    NewsHome& operator=(const NewsHome&) = delete;

    const TempHome& Home() const { return home_; }
    const std::filesystem::path& DataDir() const { return dataDir_; }

    // Creates the profile when needed and adds the account to it.
    void AddAccount(const NewsAccountSetup& a)
    {
        ComPtr<IProfAdmin> admin = ProfAdmin();
        admin->CreateProfile(const_cast<LPSTR>(a.profile.c_str()), nullptr, 0, 0);  // may exist already
        ComPtr<IMsgServiceAdmin> services = Services(admin.Get(), a.profile.c_str());
        const std::vector<MAPIUID> before = NewsServices(services.Get());
        ASSERT_EQ(services->CreateMsgService(const_cast<LPSTR>("Corvane"), const_cast<LPSTR>(a.name.c_str()), 0, 0),
                  S_OK);
        MAPIUID uid{};
        for (const MAPIUID& u : NewsServices(services.Get()))
            if (std::find_if(before.begin(), before.end(), [&u](const MAPIUID& b) {
                    return std::equal(std::begin(b.ab), std::end(b.ab), std::begin(u.ab));
                }) == before.end())
                uid = u;
        ComPtr<IProfSect> section;
        ASSERT_EQ(services->OpenProfileSection(&uid, nullptr, MAPI_MODIFY, &section), S_OK);
        std::vector<SPropValue> v;
        auto text = [&v](ULONG tag, const std::string& s) {
            SPropValue p{};
            p.ulPropTag = tag;
            p.Value.lpszA = const_cast<LPSTR>(s.c_str());
            v.push_back(p);
        };
        auto number = [&v](ULONG tag, LONG n) {
            SPropValue p{};
            p.ulPropTag = tag;
            p.Value.l = n;
            v.push_back(p);
        };
        text(acct::PR_DISPLAY_NAME, a.name);
        text(acct::PR_NNTP_SERVER, a.server);
        number(acct::PR_NNTP_PORT, a.port);
        number(acct::PR_NNTP_TIMEOUT, 1);
        SPropValue flag{};
        flag.ulPropTag = acct::PR_NNTP_USE_DESCRIPTIONS;
        flag.Value.b = a.descriptions;
        v.push_back(flag);
        if (!a.listFile.empty()) text(acct::PR_NNTP_GROUP_LIST_FILE, a.listFile);
        ASSERT_EQ(section->SetProps(static_cast<ULONG>(v.size()), v.data(), nullptr), S_OK);
    }

    std::filesystem::path ListFile(const NewsAccountSetup& a) const { return dataDir_ / a.listFile; }

private:
    static std::vector<MAPIUID> NewsServices(IMsgServiceAdmin* services)
    {
        std::vector<MAPIUID> out;
        ComPtr<IMAPITable> table;
        EXPECT_EQ(services->GetMsgServiceTable(0, &table), S_OK);
        RowSetPtr rows;
        for (const auto& row : AllRows(table.Get(), {PR_SERVICE_NAME, PR_SERVICE_UID}, rows))
            if (Str(row, PR_SERVICE_NAME) == "Corvane") out.push_back(UidOf(Col(row, PR_SERVICE_UID)));
        return out;
    }

    TempHome home_;  // first: the root exists before MAPI starts and after it stops
    std::filesystem::path dataDir_;
};

}  // namespace quillory::testing
