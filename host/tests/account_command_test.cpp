// `quillory account`, `status` and `sync` run as programs against a service
// list whose newsgroup service is the scripted test transport.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/account_props.h"
#include "common/regstore.h"
#include "host/tests/run_program.h"
#include "platform/base/environment.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/profile_admin.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/session.h"

namespace {

using quillory::ComPtr;
using quillory::testing::Contains;
using quillory::testing::RunQuillory;
using quillory::testing::TempHome;
namespace acct = quillory::acct;

void WriteServiceList()
{
    char dir[MAX_PATH];
    ASSERT_GT(GetSystemDirectory(dir, sizeof dir), 0u);
    std::ofstream(std::filesystem::path(dir) / "MAPISVC.INF", std::ios::binary)
        << "[Services]\r\nCorvane=Tarnel NNTP Transport\r\n"
           "[Corvane]\r\nPR_SERVICE_DLL_NAME=qtestxp.dll\r\nPR_SERVICE_ENTRY_NAME=ServiceEntry\r\n"
           "Providers=QUARNEX_XPP\r\n"
           "[QUARNEX_XPP]\r\nPR_PROVIDER_DLL_NAME=qtestxp.dll\r\nPR_RESOURCE_TYPE=MAPI_TRANSPORT_PROVIDER\r\n"
           "PR_PROVIDER_DISPLAY=Tarnel NNTP Transport\r\n";
}

class AccountCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteServiceList();
        ASSERT_EQ(RunQuillory(home_, {"profile", "create", "P"}).status, 0);
    }

    // The values of the profile's first "Corvane" service section.
    std::vector<SPropValue> AccountSection(quillory::MapiBuffer<SPropValue>& keep)
    {
        EXPECT_EQ(MAPIInitialize(nullptr), S_OK);
        ComPtr<IProfAdmin> admin;
        ComPtr<IMsgServiceAdmin> services;
        ComPtr<IMAPITable> table;
        std::vector<SPropValue> out;
        if (SUCCEEDED(MAPIAdminProfiles(0, &admin)) &&
            SUCCEEDED(admin->AdminServices(const_cast<LPSTR>("P"), nullptr, 0, 0, &services)) &&
            SUCCEEDED(services->GetMsgServiceTable(0, &table))) {
            auto cols = quillory::MakeTagArray({PR_SERVICE_NAME, PR_SERVICE_UID});
            quillory::RowSetPtr rows;
            table->SetColumns(cols.Get(), 0);
            table->QueryRows(100, 0, &rows);
            for (ULONG i = 0; rows && i < rows->cRows; ++i) {
                if (std::string(rows->aRow[i].lpProps[0].Value.lpszA) != "Corvane") continue;
                MAPIUID uid{};
                std::copy_n(rows->aRow[i].lpProps[1].Value.bin.lpb, 16, uid.ab);
                ComPtr<IProfSect> section;
                EXPECT_EQ(services->OpenProfileSection(&uid, nullptr, 0, &section), S_OK);
                std::vector<BYTE> storage(CbNewSPropTagArray(acct::kCount));
                auto* tags = reinterpret_cast<SPropTagArray*>(storage.data());
                tags->cValues = acct::kCount;
                std::copy(acct::kTags.begin(), acct::kTags.end(), tags->aulPropTag);
                ULONG n = 0;
                section->GetProps(tags, 0, &n, &keep);
                out.assign(keep.Get(), keep.Get() + n);
                break;
            }
        }
        services.Reset();
        admin.Reset();
        MAPIUninitialize();
        return out;
    }

    TempHome home_;
};

TEST_F(AccountCommand, AddCompletesTheAccountLikeTheWizardAndListRemoveFindIt)
{
    auto o = RunQuillory(home_, {"account", "add", "--profile", "P", "--server", "news.example", "--name", "Ann Smith",
                                 "--email", "ann@example.org", "--organization", "Example Ltd"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(Contains(o.out, "Added account \"news.example (NNTP)\"")) << o.out;

    // "DIR" was unset: the accounts folder under the application data, stored in the registry.
    const std::string dir = quillory::ReadDataDirectory();
    EXPECT_TRUE(Contains(dir, "Tarnel NNTP Accounts/")) << dir;
    quillory::MapiBuffer<SPropValue> keep;
    auto v = AccountSection(keep);
    ASSERT_EQ(v.size(), static_cast<std::size_t>(acct::kCount));
    EXPECT_EQ(std::string(v[acct::kAccountName].Value.lpszA), "news.example (NNTP)");
    EXPECT_EQ(std::string(v[acct::kUserName].Value.lpszA), "Ann Smith");
    EXPECT_EQ(std::string(v[acct::kOrganization].Value.lpszA), "Example Ltd");
    EXPECT_EQ(v[acct::kPort].Value.l, 119);
    EXPECT_FALSE(v[acct::kLogonRequired].Value.b);
    EXPECT_EQ(v[acct::kAccountKind].Value.l, 3);
    EXPECT_EQ(v[acct::kPlainWrap].Value.l, 72);
    EXPECT_TRUE(v[acct::kPlainMime].Value.b);
    EXPECT_EQ(PROP_TYPE(v[acct::kLastNewGroupsCheck].ulPropTag), PT_ERROR);  // the provider's to set
    const std::string groupList = v[acct::kGroupListFile].Value.lpszA;
    EXPECT_EQ(groupList.size(), std::string("groups-00000000.txt").size());
    EXPECT_TRUE(std::filesystem::exists(dir + groupList));
    EXPECT_EQ(std::filesystem::file_size(dir + groupList), 0u);

    // The profile had no base folder: "Newsgroups" under the Inbox, in the profile's key.
    quillory::RegBaseFolder base;
    ASSERT_TRUE(quillory::ReadBaseFolder("P", base));
    const auto firstBase = std::vector<BYTE>(base.FolderEntryId().begin(), base.FolderEntryId().end());
    EXPECT_GT(firstBase.size(), 0u);

    // A second account on an SSL server with a logon: its own group list, the NNTPS port.
    o = RunQuillory(home_, {"account", "add", "--profile", "P", "--server", "secure.example", "--ssl", "--user", "ann",
                            "--password", "pw", "--name", "Ann", "--email", "ann@example.org", "--account", "Work"});
    ASSERT_EQ(o.status, 0) << o.err;
    o = RunQuillory(home_, {"account", "list", "--profile", "P"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(Contains(o.out, "news.example (NNTP)\tnews.example:119\tann@example.org\t" + groupList)) << o.out;
    EXPECT_TRUE(Contains(o.out, "Work\tsecure.example:563\t")) << o.out;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator{}), 2);
    ASSERT_TRUE(quillory::ReadBaseFolder("P", base));  // kept, not made again
    EXPECT_EQ(std::vector<BYTE>(base.FolderEntryId().begin(), base.FolderEntryId().end()), firstBase);

    EXPECT_EQ(RunQuillory(home_, {"account", "remove", "--profile", "P"}).status, 1);  // which one?
    o = RunQuillory(home_, {"account", "remove", "--profile", "P", "work"});
    ASSERT_EQ(o.status, 0) << o.err;
    o = RunQuillory(home_, {"account", "list", "--profile", "P"});
    EXPECT_FALSE(Contains(o.out, "Work")) << o.out;
    EXPECT_EQ(RunQuillory(home_, {"account", "remove", "--profile", "P", "Work"}).status, 1);
}

TEST_F(AccountCommand, BadArgumentsChangeNothing)
{
    for (const std::vector<std::string>& args : {
             std::vector<std::string>{"account", "add", "--profile", "P", "--server", "s", "--name", "N"},
             std::vector<std::string>{"account", "add", "--profile", "P", "--server", "s", "--name", "N", "--email",
                                      "e@x", "--port", "70000"},
             std::vector<std::string>{"account", "add", "--profile", "P", "--server", "s", "--name", "N", "--email",
                                      "e@x", "--user", "u"},
             std::vector<std::string>{"account", "frob", "--profile", "P"},
         })
        EXPECT_EQ(RunQuillory(home_, args).status, 2);
    auto o = RunQuillory(home_, {"account", "add", "--profile", "Nope", "--server", "s", "--name", "N", "--email", "e@x"});
    EXPECT_EQ(o.status, 1);
    o = RunQuillory(home_, {"account", "list", "--profile", "P"});
    EXPECT_EQ(o.out, "No newsgroup accounts.\n");
}

TEST_F(AccountCommand, StatusAndSyncShowTheTransportsRows)
{
    ASSERT_EQ(RunQuillory(home_, {"account", "add", "--profile", "P", "--server", "news.example", "--name", "Ann",
                                  "--email", "ann@example.org"})
                  .status,
              0);
    auto o = RunQuillory(home_, {"status", "--profile", "P"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(Contains(o.out, "transport Tarnel NNTP Transport\n          status: available,inbound-enabled,"
                                "outbound-enabled\n          ready\n"))
        << o.out;
    EXPECT_TRUE(Contains(o.out, "store ")) << o.out;

    o = RunQuillory(home_, {"sync", "--profile", "P"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(Contains(o.out, "Tarnel NNTP Transport: sending\n")) << o.out;
    EXPECT_TRUE(Contains(o.out, "Tarnel NNTP Transport: receiving\n")) << o.out;
    EXPECT_TRUE(Contains(o.out, "Sent 0, deferred 0, undeliverable 0, received 0.\n")) << o.out;
    EXPECT_TRUE(Contains(o.out, "Tarnel NNTP Transport\n  status: available,inbound-enabled,outbound-enabled\n  ready\n"))
        << o.out;
    EXPECT_TRUE(Contains(o.out, "last result: unknown (the transport has no status object)")) << o.out;

    EXPECT_EQ(RunQuillory(home_, {"sync", "--profile", "Nope"}).status, 1);
    EXPECT_EQ(RunQuillory(home_, {"sync"}).status, 2);
}

}  // namespace

namespace {

// The real provider, merged into the service list by the installer, set up
// by `account add` and driven by `sync` through the spooler. No news server
// listens on the chosen port, so the pass ends with the provider's failure,
// reported as its last result.
TEST(AccountWithProvider, SyncRunsThePassThroughTheProviderAndReportsItsResult)
{
    TempHome home;
    auto o = RunQuillory(home, {"setup", "install"}, std::nullopt, {"QUILLORY_LIBPATH"});
    ASSERT_EQ(o.status, 0) << o.err;
    ASSERT_EQ(RunQuillory(home, {"profile", "create", "P"}).status, 0);
    o = RunQuillory(home, {"account", "add", "--profile", "P", "--server", "127.0.0.1", "--port", "1", "--name", "Ann",
                           "--email", "ann@example.org"});
    ASSERT_EQ(o.status, 0) << o.err;
    o = RunQuillory(home, {"sync", "--profile", "P"});
    ASSERT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_TRUE(Contains(o.out, "send and receive finished")) << o.out;
    EXPECT_TRUE(Contains(o.out, "Tarnel NNTP Transport (127.0.0.1)\n  status: available,")) << o.out;
    EXPECT_TRUE(Contains(o.out, "remote-access")) << o.out;
    const auto last = o.out.find("last result: ");
    ASSERT_NE(last, std::string::npos) << o.out;
    EXPECT_NE(o.out.compare(last, 17, "last result: S_OK"), 0) << o.out;  // nothing listens on port 1
}

}  // namespace
