// A downloader on a scripted transport, with a real header folder, a data
// directory and an account; the test answers the commands itself.
#pragma once

#include "common/regstore.h"
#include "platform/base/tests/test_home.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "provider/downloader/nntp_downloader.h"
#include "provider/folder/header_entryid.h"
#include "provider/folder/tests/folder_test_util.h"
#include "common/tests/account_fixture.h"
#include "provider/nntp/tests/fake_transport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace quillory::quarnex::testing {

using quillory::testing::AccountFixture;
using quillory::testing::FakeTransport;
using quillory::testing::NewFakeTransport;
using quillory::testing::TempHome;

struct MarkedRow {
    ULONG number;
    std::string messageId;
    std::string group;
    ULONG status;
};

class DownloaderTest : public ::testing::Test, public CFolderOwner {
protected:
    static constexpr const char* kListFile = "groups-0001a2b3.txt";

    void SetUp() override
    {
        dataDir = home.path() / "data";
        std::filesystem::create_directories(dataDir);
        ASSERT_EQ(WriteRegString(kMainKey, kValDir, dataDir.string() + "/"), ERROR_SUCCESS);
        account.SetString(acct::kAccountName, "News");
        account.SetString(acct::kServer, "news.example.org");
        account.SetString(acct::kGroupListFile, kListFile);
        logon.path = DataFile("groups-0001a2b3-del.txt");
        ASSERT_EQ(folder->Attach(nullptr, &logon), S_OK);
        downloader = std::make_unique<CNNTPDownloader>();
        ASSERT_EQ(downloader->InitTransport(fake.Get()), S_OK);
    }

    CMAPIFolder* HeaderFolder() override { return folderGone ? nullptr : folder.Get(); }

    std::string DataFile(std::string_view name) const { return (dataDir / name).string(); }
    void WriteFile(std::string_view name, std::string_view text) const
    {
        std::ofstream(DataFile(name), std::ios::binary) << text;
    }
    std::string ReadFile(std::string_view name) const
    {
        std::ifstream in(DataFile(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Answers the pending command.
    void Respond(NNTPRESPONSE response)
    {
        response.pTransport = fake.Get();
        response.fMustRelease = TRUE;
        downloader->OnResponse(&response);
    }
    static NNTPRESPONSE Response(NNTPSTATE state, HRESULT hr = S_OK, bool done = true)
    {
        NNTPRESPONSE r{};
        r.state = state;
        r.fDone = done ? TRUE : FALSE;
        r.rIxpResult.hrResult = hr;
        return r;
    }
    void Connected() { Respond(Response(NS_CONNECT)); }
    void Group(DWORD count, DWORD first, DWORD last, HRESULT hr = S_OK)
    {
        NNTPRESPONSE r = Response(NS_GROUP, hr);
        r.rGroup.dwCount = count;
        r.rGroup.dwFirst = first;
        r.rGroup.dwLast = last;
        Respond(r);
    }
    void Article(std::string text, bool done = true, HRESULT hr = S_OK)
    {
        NNTPRESPONSE r = Response(NS_ARTICLE, hr, done);
        r.rArticle.pszLines = text.data();
        r.rArticle.cbLines = static_cast<ULONG>(text.size());
        Respond(r);
    }

    // A row set as the logon hands it over (MAPI memory, owned by the callee).
    static OwnedRowSet Rows(const std::vector<MarkedRow>& rows)
    {
        LPSRowSet set = nullptr;
        EXPECT_EQ(MAPIAllocateBuffer(CbNewSRowSet(static_cast<ULONG>(rows.size())), reinterpret_cast<void**>(&set)),
                  S_OK);
        set->cRows = static_cast<ULONG>(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            LPSPropValue props = nullptr;
            EXPECT_EQ(MAPIAllocateBuffer(4 * sizeof(SPropValue), reinterpret_cast<void**>(&props)), S_OK);
            const std::vector<BYTE> id = MakeHeaderEntryId(rows[i].number, rows[i].messageId, rows[i].group);
            void* bytes = nullptr;
            void* text = nullptr;
            EXPECT_EQ(MAPIAllocateMore(static_cast<ULONG>(id.size()), props, &bytes), S_OK);
            EXPECT_EQ(MAPIAllocateMore(static_cast<ULONG>(rows[i].group.size() + 1), props, &text), S_OK);
            std::memcpy(bytes, id.data(), id.size());
            std::memcpy(text, rows[i].group.c_str(), rows[i].group.size() + 1);
            props[0].ulPropTag = PR_ENTRYID;
            props[0].Value.bin = SBinary{static_cast<ULONG>(id.size()), static_cast<LPBYTE>(bytes)};
            props[1].ulPropTag = PR_DISPLAY_TO;
            props[1].Value.lpszA = static_cast<LPSTR>(text);
            props[2].ulPropTag = PR_MSG_STATUS;
            props[2].Value.l = static_cast<LONG>(rows[i].status);
            props[3].ulPropTag = PR_INSTANCE_KEY;
            props[3].Value.bin = SBinary{0, nullptr};
            set->aRow[i] = SRow{0, 4, props};
        }
        return OwnedRowSet(set);
    }

    std::string ArticleText(ComPtr<IStream> stream)
    {
        std::string text;
        EXPECT_TRUE(stream);
        if (stream) {
            EXPECT_EQ(ReadWholeStream(stream.Get(), text), S_OK);
        }
        return text;
    }

    TempHome home;
    CLibPath libPath;
    std::filesystem::path dataDir;
    AccountFixture account;
    CFakeLogon logon;
    ComPtr<CMAPIFolder> folder = NewFolder();
    bool folderGone = false;
    ComPtr<FakeTransport> fake = NewFakeTransport();
    std::unique_ptr<CNNTPDownloader> downloader;
};

}  // namespace quillory::quarnex::testing
