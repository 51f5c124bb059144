#include "provider/nntp/nntp_proto.h"

#include "common/regstore.h"
#include "platform/base/module.h"
#include "platform/base/tests/test_home.h"
#include "platform/base/window.h"
#include "platform/inetcomm/dialup/dialup_double.h"
#include "provider/downloader/nntp_downloader.h"
#include "common/tests/account_fixture.h"
#include "provider/nntp/tests/fake_gui.h"
#include "provider/nntp/tests/fake_transport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace quillory::quarnex {
namespace {

using testing::AccountFixture;
using testing::FakeTransport;
using testing::NewFakeTransport;
using testing::TempHome;

std::string BuildLib(const char* name) { return (testing::BuildLibDir() / name).string(); }

// The dialling services' double, reached the way the session reaches them.
class DialupDoubleScope {
public:
    DialupDoubleScope()
    {
        module_ = LoadLibrary("wininet.dll");
        EXPECT_NE(module_, nullptr) << LastModuleError();
        if (!module_) return;
        install_ = reinterpret_cast<PFN_QuilloryDialupDouble>(GetProcAddress(module_, "QuilloryDialupDouble"));
        if (install_) double_ = install_(TRUE);
    }
    ~DialupDoubleScope()
    {
        if (install_) install_(FALSE);
        if (module_) FreeLibrary(module_);
    }
    DialupDouble* operator->() { return double_; }
    explicit operator bool() const { return double_ != nullptr; }
    void AddActive(const char* name)
    {
        std::snprintf(double_->active[double_->activeCount++], sizeof double_->active[0], "%s", name);
    }

private:
    HMODULE module_ = nullptr;
    PFN_QuilloryDialupDouble install_ = nullptr;
    DialupDouble* double_ = nullptr;
};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        account.SetString(acct::kServer, "news.example.org");
        account.SetLong(acct::kPort, 119);
        account.SetLong(acct::kTimeout, 4);
    }
    // A session on a fake transport.
    std::unique_ptr<CNNTPDownloader> NewSession()
    {
        auto session = std::make_unique<CNNTPDownloader>();
        EXPECT_EQ(session->InitTransport(fake.Get()), S_OK);
        return session;
    }
    void UseDialup(const char* name, LONG options)
    {
        account.SetLong(acct::kConnectionType, acct::kConnectionDialup);
        account.SetString(acct::kDialupName, name);
        account.SetLong(acct::kDialupFlags, options);
    }

    TempHome home;
    AccountFixture account;
    ComPtr<FakeTransport> fake = NewFakeTransport();
};

TEST_F(SessionTest, AnswersAsTheComponentsCallbackWithoutOwningItsLife)
{
    CNNTPProto session;
    for (const IID* iid : {&IID_IUnknown, &IID_ITransportCallback, &IID_INNTPCallback}) {
        void* p = nullptr;
        EXPECT_EQ(session.QueryInterface(*iid, &p), S_OK);
        EXPECT_EQ(p, static_cast<INNTPCallback*>(&session));
    }
    void* p = &session;
    EXPECT_EQ(session.QueryInterface(IID_INNTPTransport, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(session.Release(), 2u);
    EXPECT_EQ(session.Release(), 1u);
    EXPECT_EQ(session.Release(), 0u);  // the object lives on: its owner ends it
    EXPECT_EQ(session.AddRef(), 1u);
}

TEST_F(SessionTest, TimeoutIsRaisedToTheAccountsOnceThenGivenUp)
{
    auto session = NewSession();
    DWORD offered = 60;
    EXPECT_EQ(session->OnTimeout(&offered, nullptr), S_FALSE);  // no account yet
    ASSERT_EQ(session->Open(nullptr, account.Span()), S_OK);
    EXPECT_EQ(session->OnTimeout(&offered, nullptr), S_OK);
    EXPECT_EQ(offered, 120u);
    EXPECT_EQ(session->OnTimeout(&offered, nullptr), S_FALSE);
    offered = 200;
    EXPECT_EQ(session->OnTimeout(&offered, nullptr), S_FALSE);
    EXPECT_EQ(offered, 200u);
}

TEST_F(SessionTest, TransportGetsTheCommandLogAndCallbackAndAFailedInitIsReturned)
{
    ASSERT_EQ(WriteRegString(kMainKey, kValCnpLog, "/tmp/nntp.log"), ERROR_SUCCESS);
    {
        CNNTPProto session;
        ASSERT_EQ(session.InitTransport(fake.Get()), S_OK);
        EXPECT_TRUE(fake->logPathGiven);
        EXPECT_EQ(fake->logPath, "/tmp/nntp.log");
        EXPECT_EQ(fake->callback, static_cast<INNTPCallback*>(&session));
    }
    // Destruction lets go of the callback before dropping the connection.
    const std::vector<std::string> expected = {"HANDSOFF", "DROP"};
    EXPECT_EQ(fake->Take(), expected);
    EXPECT_EQ(fake->callback, nullptr);

    ASSERT_EQ(WriteRegString(kMainKey, kValCnpLog, ""), ERROR_SUCCESS);
    auto other = NewFakeTransport();
    other->initResult = E_ACCESSDENIED;
    CNNTPProto session;
    EXPECT_EQ(session.InitTransport(other.Get()), E_ACCESSDENIED);
    EXPECT_FALSE(other->logPathGiven);  // empty value: no log
    EXPECT_EQ(session.Transport(), nullptr);
    EXPECT_EQ(session.Connect(account.Span()), E_FAIL);
}

TEST_F(SessionTest, MissingComponentOrExportFailsAndLeavesNothingLoaded)
{
    unsetenv("QUILLORY_LIBPATH");
    CNNTPProto session;
    EXPECT_EQ(session.CreateTransport(), E_FAIL);
    EXPECT_EQ(session.Transport(), nullptr);

    // A library of that name without "CreateNNTPTransport".
    const std::filesystem::path dir = home.path() / "lib";
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(BuildLib("libfakevismora.so"), dir / "libinetcomm.so");
    setenv("QUILLORY_LIBPATH", dir.c_str(), 1);
    EXPECT_EQ(session.CreateTransport(), E_FAIL);
    EXPECT_EQ(GetModuleHandle((dir / "libinetcomm.so").c_str()), nullptr);
    unsetenv("QUILLORY_LIBPATH");
}

TEST_F(SessionTest, LogonPromptIsCancelledWithoutACompleteGuiLibrary)
{
    auto session = NewSession();
    ASSERT_EQ(session->Open(nullptr, account.Span()), S_OK);
    INETSERVER server{};
    EXPECT_EQ(session->OnLogonPrompt(&server, nullptr), S_FALSE);  // "VISMORA.DLL" is nowhere

    ASSERT_EQ(WriteRegString(kMainKey, kValVismora, BuildLib("libfakevismora_nofill.so")), ERROR_SUCCESS);
    EXPECT_FALSE(session->BindGui());
    EXPECT_EQ(session->OnLogonPrompt(&server, nullptr), S_FALSE);
    EXPECT_EQ(GetModuleHandle(BuildLib("libfakevismora_nofill.so").c_str()), nullptr);
    EXPECT_FALSE(session->CredentialsChanged());
}

TEST_F(SessionTest, ConfirmedLogonPromptRetriesWithTheEditedRecord)
{
    const std::string gui = BuildLib("libfakevismora.so");
    ASSERT_EQ(WriteRegString(kMainKey, kValVismora, gui), ERROR_SUCCESS);
    HMODULE module = LoadLibrary(gui.c_str());
    ASSERT_NE(module, nullptr);
    FakeGuiState* state = reinterpret_cast<PFN_FakeGuiStateGet>(GetProcAddress(module, "FakeGuiStateGet"))();

    auto session = NewSession();
    INETSERVER server{};
    EXPECT_EQ(session->OnLogonPrompt(&server, nullptr), S_FALSE);  // no account: no prompt
    EXPECT_EQ(state->prompts, 0);
    ASSERT_EQ(session->Open(nullptr, account.Span()), S_OK);

    state->answer = 0;
    EXPECT_EQ(session->OnLogonPrompt(&server, nullptr), S_FALSE);
    EXPECT_EQ(state->prompts, 1);

    state->answer = 1;
    state->changed = 0;
    std::snprintf(state->user, sizeof state->user, "tester");
    EXPECT_EQ(session->OnLogonPrompt(&server, nullptr), S_OK);
    EXPECT_STREQ(server.szUserName, "tester");
    EXPECT_FALSE(session->CredentialsChanged());
    EXPECT_EQ(state->lastProps, account.Span().data());
    EXPECT_NE(state->lastAllocateMore, nullptr);

    state->changed = 1;
    EXPECT_EQ(session->OnLogonPrompt(&server, nullptr), S_OK);
    EXPECT_TRUE(session->CredentialsChanged());
    session.reset();
    FreeLibrary(module);
}

TEST_F(SessionTest, ConnectionAlreadyUpInAnyCaseIsNeitherDialledNorHungUp)
{
    DialupDoubleScope dial;
    ASSERT_TRUE(dial);
    // More connections than the first buffer holds, the wanted one last.
    for (const char* name : {"a", "b", "c", "d", "e"}) dial.AddActive(name);
    dial.AddActive("MY PROVIDER");
    UseDialup("my provider", acct::kDialupHangUp);
    {
        auto session = NewSession();
        ASSERT_EQ(session->Connect(account.Span()), S_OK);
        EXPECT_EQ(fake->lastServer.rasconntype, CONNECTION_TYPE_RAS);
        EXPECT_STREQ(fake->lastServer.szConnectoid, "my provider");
    }
    EXPECT_EQ(dial->dialCalls, 0);
    EXPECT_EQ(dial->hangUpCalls, 0);
    EXPECT_GE(dial->enumCalls, 2);  // the first buffer was too small
}

TEST_F(SessionTest, ConnectionListedButNotConnectedIsDialled)
{
    DialupDoubleScope dial;
    ASSERT_TRUE(dial);
    dial.AddActive("Provider");
    dial->activeState = RASCS_Disconnected;
    UseDialup("Provider", acct::kDialupUnattended);
    auto session = NewSession();
    ASSERT_EQ(session->Connect(account.Span()), S_OK);
    EXPECT_EQ(dial->dialCalls, 1);
    EXPECT_EQ(dial->lastDialFlags, static_cast<DWORD>(INTERNET_DIAL_UNATTENDED));
}

TEST_F(SessionTest, DialledConnectionIsHungUpAtTheEndOnlyWhenAsked)
{
    DialupDoubleScope dial;
    ASSERT_TRUE(dial);
    UseDialup("Provider", acct::kDialupHangUp);
    DWORD_PTR handle = 0;
    {
        auto session = NewSession();
        ASSERT_EQ(session->Connect(account.Span()), S_OK);
        EXPECT_EQ(dial->dialCalls, 1);
        EXPECT_STREQ(dial->lastDialName, "Provider");
        EXPECT_EQ(dial->lastDialFlags, static_cast<DWORD>(INTERNET_DIAL_FORCE_PROMPT));
        EXPECT_EQ(fake->Take().back(), "CONNECT news.example.org auth log");
        EXPECT_EQ(dial->hangUpCalls, 0);
    }
    EXPECT_EQ(dial->hangUpCalls, 1);
    handle = dial->lastHangUp;
    EXPECT_NE(handle, 0u);

    UseDialup("Provider", 0);
    {
        auto session = NewSession();
        ASSERT_EQ(session->Connect(account.Span()), S_OK);
    }
    EXPECT_EQ(dial->dialCalls, 2);
    EXPECT_EQ(dial->hangUpCalls, 1);
}

TEST_F(SessionTest, ReconnectOverTheSessionsOwnDialledConnectionStillHangsItUp)
{
    DialupDoubleScope dial;
    ASSERT_TRUE(dial);
    UseDialup("Provider", acct::kDialupHangUp);
    {
        auto session = NewSession();
        ASSERT_EQ(session->Connect(account.Span()), S_OK);
        dial.AddActive("Provider");  // the dialled connection is up now
        ASSERT_EQ(session->Connect(account.Span()), S_OK);
        EXPECT_EQ(dial->dialCalls, 1);
    }
    EXPECT_EQ(dial->hangUpCalls, 1);
}

TEST_F(SessionTest, CancelledOrImpossibleDialFailsTheConnectAndDropsTheTransport)
{
    UseDialup("Provider", 0);
    {
        DialupDoubleScope dial;
        ASSERT_TRUE(dial);
        dial->dialResult = ERROR_USER_DISCONNECTION;
        auto session = NewSession();
        EXPECT_EQ(session->Connect(account.Span()), static_cast<HRESULT>(0x800CCC12));
        EXPECT_EQ(session->Transport(), nullptr);
        const std::vector<std::string> expected = {"HANDSOFF", "DROP"};
        EXPECT_EQ(fake->Take(), expected);  // no CONNECT
        session.reset();
        EXPECT_EQ(dial->hangUpCalls, 0);
    }
    // Without the double this platform has no dial-up at all.
    auto again = NewFakeTransport();
    CNNTPProto session;
    ASSERT_EQ(session.InitTransport(again.Get()), S_OK);
    EXPECT_EQ(session.Connect(account.Span()), static_cast<HRESULT>(0x800CCC12));
}

TEST_F(SessionTest, EmptyDialupNameConnectsOverTheNetworkWithoutDialling)
{
    DialupDoubleScope dial;
    ASSERT_TRUE(dial);
    UseDialup("", acct::kDialupHangUp);
    auto session = NewSession();
    ASSERT_EQ(session->Connect(account.Span()), S_OK);
    EXPECT_EQ(fake->lastServer.rasconntype, CONNECTION_TYPE_LAN);
    EXPECT_EQ(dial->enumCalls, 0);
    EXPECT_EQ(dial->dialCalls, 0);
}

TEST_F(SessionTest, RefusedConnectIsReturnedAndTheTransportReleased)
{
    fake->connectResult = IXP_E_CANT_FIND_HOST;
    auto session = NewSession();
    EXPECT_EQ(session->Connect(account.Span()), IXP_E_CANT_FIND_HOST);
    EXPECT_EQ(session->Transport(), nullptr);
    EXPECT_EQ(session->Connect(account.Span()), E_FAIL);
    EXPECT_EQ(session->Connect({}), E_FAIL);
}

FakeTransport* g_busyTransport = nullptr;
void FinishWork(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    g_busyTransport->busy = false;
}

TEST_F(SessionTest, WaitIdlePumpsMessagesUntilTheTransportIsIdle)
{
    CNNTPProto none;
    none.WaitIdle();  // no transport: returns at once

    auto session = NewSession();
    fake->busy = true;
    g_busyTransport = fake.Get();
    ASSERT_NE(SetTimer(nullptr, 0, 20, FinishWork), 0u);
    session->WaitIdle();
    EXPECT_FALSE(fake->busy);
}

}  // namespace
}  // namespace quillory::quarnex
