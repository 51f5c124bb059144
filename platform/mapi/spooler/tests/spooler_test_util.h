// The spooler tests' world: a profile with a message store and scripted
// test transports (libqtestxp32.so), a session on it, and helpers to queue
// messages and read what the transports logged.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/mapi/spooler/spooler.h"
#include "platform/mapi/tests/profile_test_util.h"
#include "platform/mapi/tests/store_test_util.h"

namespace quillory::testing {

constexpr ULONG kXpAddressType = 0x6710001E;
constexpr ULONG kXpSubmitScript = 0x6711001E;
constexpr ULONG kXpInboundCount = 0x67120003;
constexpr ULONG kXpSaveInbound = 0x6713000B;
constexpr ULONG kXpEmptyLastCall = 0x6714000B;
constexpr ULONG kPostSentMail = 0x65220102;

inline constexpr std::string_view kSpoolerServiceList =
    "[Services]\r\n"
    "TestXp=Test Transport Service\r\n"
    "Gone=Missing Transport Service\r\n"
    "\r\n"
    "[TestXp]\r\n"
    "PR_SERVICE_DLL_NAME=qtestxp.dll\r\n"
    "PR_SERVICE_ENTRY_NAME=ServiceEntry\r\n"
    "Providers=TESTXP_XP\r\n"
    "\r\n"
    "[TESTXP_XP]\r\n"
    "PR_PROVIDER_DLL_NAME=qtestxp.dll\r\n"
    "PR_RESOURCE_TYPE=MAPI_TRANSPORT_PROVIDER\r\n"
    "PR_PROVIDER_DISPLAY=Test Transport\r\n"
    "\r\n"
    "[Gone]\r\n"
    "Providers=GONE_XP\r\n"
    "\r\n"
    "[GONE_XP]\r\n"
    "PR_PROVIDER_DLL_NAME=nothere.dll\r\n"
    "PR_RESOURCE_TYPE=MAPI_TRANSPORT_PROVIDER\r\n"
    "PR_PROVIDER_DISPLAY=Gone\r\n";

struct XpScript {
    XpScript(std::string d, std::string type = "TEST", std::string script = "", LONG in = 0, bool save = false)
        : display(std::move(d)), addressType(std::move(type)), submit(std::move(script)), inbound(in), saveInbound(save)
    {
    }
    std::string display;
    std::string addressType;
    std::string submit;
    LONG inbound;
    bool saveInbound;
    bool emptyLastCall = false;
};

class SpoolerWorld : public ::testing::Test {
protected:
    SpoolerWorld() : home_(false) {}

    void SetUp() override
    {
        WriteServiceList(kSpoolerServiceList);
        admin_ = ProfAdmin();
        ASSERT_EQ(admin_->CreateProfile(const_cast<LPSTR>("P"), nullptr, 0, 0), S_OK);
        services_ = Services(admin_.Get(), "P");
    }
    void TearDown() override
    {
        spooler_.reset();
        if (session_) session_->Logoff(0, 0, 0);
    }

    // Adds a test transport service whose provider follows the script.
    void AddTransport(const XpScript& script, const char* service = "TestXp")
    {
        ASSERT_EQ(services_->CreateMsgService(const_cast<LPSTR>(service), nullptr, 0, 0), S_OK);
        ComPtr<IMAPITable> table;
        ASSERT_EQ(services_->GetProviderTable(0, &table), S_OK);
        RowSetPtr keep;
        auto rows = AllRows(table.Get(), {PR_PROVIDER_UID, PR_RESOURCE_TYPE}, keep);
        ASSERT_FALSE(rows.empty());
        MAPIUID uid = UidOf(Col(rows.back(), PR_PROVIDER_UID));
        ComPtr<IProfSect> section;
        ASSERT_EQ(services_->OpenProfileSection(&uid, nullptr, MAPI_MODIFY, &section), S_OK);
        std::vector<SPropValue> v = {StringProp(PR_PROVIDER_DISPLAY, script.display.c_str()),
                                     StringProp(kXpAddressType, script.addressType.c_str()),
                                     StringProp(kXpSubmitScript, script.submit.c_str()),
                                     LongProp(kXpInboundCount, script.inbound)};
        SPropValue save{};
        save.ulPropTag = kXpSaveInbound;
        save.Value.b = script.saveInbound;
        v.push_back(save);
        SPropValue empty{};
        empty.ulPropTag = kXpEmptyLastCall;
        empty.Value.b = script.emptyLastCall;
        v.push_back(empty);
        ASSERT_EQ(section->SetProps(static_cast<ULONG>(v.size()), v.data(), nullptr), S_OK);
    }

    // Logs on and starts a spooler over the profile.
    CSpooler& Spooler(SpoolerOptions options = {})
    {
        if (!session_) {
            EXPECT_EQ(MAPILogonEx(0, const_cast<LPSTR>("P"), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION, &session_), S_OK);
        }
        spooler_ = std::make_unique<CSpooler>(session_.Get(), options);
        EXPECT_EQ(spooler_->Start(), S_OK);
        return *spooler_;
    }

    ComPtr<IMsgStore> Store()
    {
        ComPtr<IMsgStore> store;
        EXPECT_EQ(OpenDefaultStore(session_.Get(), store), S_OK);
        return store;
    }

    // Puts a message on the outgoing queue, addressed to one recipient per type.
    std::vector<BYTE> Queue(const char* subject, std::vector<std::string> addressTypes,
                            std::vector<SPropValue> extra = {})
    {
        auto store = Store();
        auto outbox = OpenFolder(store.Get(), PR_IPM_OUTBOX_ENTRYID);
        auto m = AddMessage(outbox.Get(), subject, std::move(extra));
        MapiBuffer<ADRLIST> list;
        EXPECT_EQ(MAPIAllocateBuffer(CbNewADRLIST(static_cast<ULONG>(addressTypes.size())), list.AsVoidOut()), S_OK);
        list->cEntries = static_cast<ULONG>(addressTypes.size());
        std::vector<std::vector<SPropValue>> props;
        std::vector<std::string> names;
        for (const auto& t : addressTypes) names.push_back("someone." + t);
        for (std::size_t i = 0; i < addressTypes.size(); ++i) {
            props.push_back({StringProp(PR_DISPLAY_NAME, names[i].c_str()), StringProp(PR_EMAIL_ADDRESS, names[i].c_str()),
                             StringProp(PR_ADDRTYPE, addressTypes[i].c_str()), LongProp(PR_RECIPIENT_TYPE, MAPI_TO)});
            list->aEntries[i] = ADRENTRY{0, static_cast<ULONG>(props[i].size()), props[i].data()};
        }
        EXPECT_EQ(m->ModifyRecipients(MODRECIP_ADD, list.Get()), S_OK);
        auto id = GetBinary(m.Get(), PR_ENTRYID);
        EXPECT_EQ(m->SubmitMessage(0), S_OK);
        return id;
    }

    // Subjects of a folder's messages, in table order.
    std::vector<std::string> Subjects(ULONG folderTag)
    {
        auto store = Store();
        ComPtr<IMAPIFolder> folder = folderTag ? OpenFolder(store.Get(), folderTag) : OpenInbox(store.Get());
        ComPtr<IMAPITable> table;
        EXPECT_EQ(folder->GetContentsTable(0, &table), S_OK);
        RowSetPtr keep;
        std::vector<std::string> out;
        for (const auto& row : AllRows(table.Get(), {PR_SUBJECT}, keep)) out.push_back(Str(row, PR_SUBJECT));
        return out;
    }

    // The calls the transports logged, each "<display> <call> <argument>".
    std::vector<std::string> Calls() const
    {
        std::vector<std::string> lines;
        std::ifstream in(home_.path() / "xp-calls.log");
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::vector<std::string> CallsOf(const std::string& display) const
    {
        std::vector<std::string> out;
        for (const auto& l : Calls())
            if (l.rfind(display + " ", 0) == 0) out.push_back(l.substr(display.size() + 1));
        return out;
    }

    MapiHome home_;
    ComPtr<IProfAdmin> admin_;
    ComPtr<IMsgServiceAdmin> services_;
    ComPtr<IMAPISession> session_;
    std::unique_ptr<CSpooler> spooler_;
};

}  // namespace quillory::testing
