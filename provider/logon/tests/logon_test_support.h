// Test doubles for the transport's tests: a support object over a real
// temporary profile and store that records what the transport tells the
// spooler, a scripted downloader and an in-memory header folder.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/account_props.h"
#include "platform/base/environment.h"
#include "platform/base/tests/test_home.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/addrbook.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapispi.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/profile_admin.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/session.h"
#include "common/regstore.h"
#include "common/result_mapping.h"
#include "provider/entry/xp_provider.h"
#include "provider/logon/downloader_port.h"
#include "provider/logon/inbound_delivery.h"
#include "provider/logon/xp_logon.h"
#include "provider/status/header_folder_port.h"
#include "provider/status/mapi_status.h"

namespace quillory::testing {

inline LPSTR S(const char* s) { return const_cast<LPSTR>(s); }

// The service list: the newsgroup service without a library (so that
// profile administration adds it without calling any entry) and its transport.
inline constexpr std::string_view kNewsServiceList =
    "[Services]\r\n"
    "Corvane=Tarnel NNTP Transport\r\n"
    "\r\n"
    "[Corvane]\r\n"
    "PR_DISPLAY_NAME=Tarnel NNTP Transport\r\n"
    "Providers=QUARNEX_XPP\r\n"
    "\r\n"
    "[QUARNEX_XPP]\r\n"
    "PR_RESOURCE_TYPE=MAPI_TRANSPORT_PROVIDER\r\n"
    "PR_PROVIDER_DISPLAY=Tarnel NNTP Transport\r\n";

// One recorded ModifyStatusRow call.
struct StatusRowCall {
    ULONG flags = 0;
    std::vector<ULONG> tags;
    LONG statusCode = -1;
    int validateOk = -1;  // -1: not written
    std::string statusString;
};

class CTestSupport final : public IMAPISupport, public CRefCounted {
public:
    CTestSupport(IMsgServiceAdmin* services, IMAPISession* session, const MAPIUID& provider)
        : services_(services), session_(session), provider_(provider)
    {
    }
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        return QueryInterfaceTable(riid, ppv, {{&IID_IMAPISup, static_cast<IMAPISupport*>(this)}});
    }
    QUILLORY_IUNKNOWN_REFCOUNT

    // ---- What the tests steer and read ----
    bool failProfileSections = false;
    std::vector<StatusRowCall> rows;
    std::vector<ULONG> spoolerNotifies;
    int yields = 0;
    std::function<void()> onYield;
    int statusRecips = 0;

    const StatusRowCall& LastRow() const { return rows.back(); }

    HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR* e) override
    {
        if (e) *e = nullptr;
        return S_OK;
    }
    HRESULT GetMemAllocRoutines(LPALLOCATEBUFFER* a, LPALLOCATEMORE* m, LPFREEBUFFER* f) override
    {
        *a = &MAPIAllocateBuffer;
        *m = &MAPIAllocateMore;
        *f = &MAPIFreeBuffer;
        return S_OK;
    }
    HRESULT ModifyStatusRow(ULONG cValues, LPSPropValue values, ULONG ulFlags) override
    {
        StatusRowCall call;
        call.flags = ulFlags;
        for (ULONG i = 0; i < cValues; ++i) {
            call.tags.push_back(values[i].ulPropTag);
            if (values[i].ulPropTag == PR_STATUS_CODE) call.statusCode = values[i].Value.l;
            if (values[i].ulPropTag == PR_REMOTE_VALIDATE_OK) call.validateOk = values[i].Value.b ? 1 : 0;
            if (values[i].ulPropTag == PR_STATUS_STRING) call.statusString = values[i].Value.lpszA;
        }
        rows.push_back(call);
        return S_OK;
    }
    HRESULT OpenProfileSection(LPMAPIUID uid, ULONG flags, LPPROFSECT* out) override
    {
        if (failProfileSections) return MAPI_E_NOT_FOUND;
        MAPIUID which = uid ? *uid : provider_;
        return services_->OpenProfileSection(&which, nullptr, flags, out);
    }
    HRESULT SpoolerYield(ULONG) override
    {
        ++yields;
        if (onYield) onYield();
        return S_OK;
    }
    HRESULT SpoolerNotify(ULONG flags, LPVOID) override
    {
        spoolerNotifies.push_back(flags);
        return S_OK;
    }
    HRESULT CreateOneOff(LPSTR name, LPSTR type, LPSTR address, ULONG flags, ULONG* cb, LPENTRYID* id) override
    {
        ComPtr<IAddrBook> book;
        if (FAILED(CreateAddressBook(&book))) return E_FAIL;
        return book->CreateOneOff(name, type, address, flags, cb, id);
    }
    HRESULT OpenEntry(ULONG cb, LPENTRYID id, LPCIID, ULONG, ULONG* type, LPUNKNOWN* out) override
    {
        LPMDB store = nullptr;
        const HRESULT hr = session_->OpenMsgStore(0, cb, id, nullptr, MAPI_BEST_ACCESS, &store);
        if (FAILED(hr)) return hr;
        if (type) *type = MAPI_STORE;
        *out = store;
        return S_OK;
    }
    HRESULT OpenAddressBook(LPCIID, ULONG, LPADRBOOK* out) override { return CreateAddressBook(out); }
    HRESULT StatusRecips(LPMESSAGE, LPADRLIST list) override
    {
        ++statusRecips;  // the caller keeps the list
        return S_OK;
    }

    // ---- Not used by the transport here ----
    HRESULT Subscribe(LPNOTIFKEY, ULONG, ULONG, LPMAPIADVISESINK, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Unsubscribe(ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Notify(LPNOTIFKEY, ULONG, LPNOTIFICATION, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT RegisterPreprocessor(LPMAPIUID, LPSTR, LPSTR, LPSTR, LPSTR, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT NewUID(LPMAPIUID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT MakeInvalid(ULONG, LPVOID, ULONG, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT SetProviderUID(LPMAPIUID, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT CompareEntryIDs(ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT OpenTemplateID(ULONG, LPENTRYID, ULONG, LPMAPIPROP, LPCIID, LPMAPIPROP*, LPMAPIPROP) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT GetOneOffTable(ULONG, LPMAPITABLE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Address(ULONG_PTR*, LPVOID, LPADRLIST*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Details(ULONG_PTR*, LPVOID, LPVOID, ULONG, LPENTRYID, LPVOID, LPVOID, LPSTR, ULONG) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT NewEntry(ULONG_PTR, ULONG, ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG*, LPENTRYID*) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT DoConfigPropsheet(ULONG_PTR, ULONG, LPSTR, LPVOID, LPVOID, ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT CopyMessages(LPCIID, LPVOID, LPENTRYLIST, LPCIID, LPVOID, ULONG_PTR, LPMAPIPROGRESS, ULONG) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT CopyFolder(LPCIID, LPVOID, ULONG, LPENTRYID, LPCIID, LPVOID, LPSTR, ULONG_PTR, LPMAPIPROGRESS,
                       ULONG) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT DoCopyTo(LPCIID, LPVOID, ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                     LPSPropProblemArray*) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT DoCopyProps(LPCIID, LPVOID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                        LPSPropProblemArray*) override
    {
        return MAPI_E_NO_SUPPORT;
    }
    HRESULT DoProgressDialog(ULONG_PTR, ULONG, LPMAPIPROGRESS*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT ReadReceipt(ULONG, LPMESSAGE, LPMESSAGE*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT PrepareSubmit(LPMESSAGE, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT ExpandRecips(LPMESSAGE, ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT UpdatePAB(ULONG, LPMESSAGE) override { return MAPI_E_NO_SUPPORT; }
    HRESULT DoSentMail(ULONG, LPMESSAGE) override { return MAPI_E_NO_SUPPORT; }
    HRESULT Preprocess(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT CompleteMsg(ULONG, ULONG, LPENTRYID) override { return MAPI_E_NO_SUPPORT; }
    HRESULT StoreLogoffTransports(ULONG*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT WrapStoreEntryID(ULONG, LPENTRYID, ULONG*, LPENTRYID*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT ModifyProfile(ULONG) override { return MAPI_E_NO_SUPPORT; }
    HRESULT IStorageFromStream(LPUNKNOWN, LPCIID, ULONG, LPVOID*) override { return MAPI_E_NO_SUPPORT; }
    HRESULT GetSvcConfigSupportObj(ULONG, LPMAPISUP*) override { return MAPI_E_NO_SUPPORT; }

private:
    ComPtr<IMsgServiceAdmin> services_;
    ComPtr<IMAPISession> session_;
    MAPIUID provider_;
};

// A header row of the in-memory folder.
struct FakeRow {
    std::vector<BYTE> entryId;
    std::string group;
    ULONG status = 0;
    ULONG key = 0;
};

// The header folder as an in-memory list of rows.
class CFakeHeaderFolder final : public IHeaderFolder {
public:
    explicit CFakeHeaderFolder(std::vector<FakeRow>& rows) : rows_(rows) {}
    std::vector<std::pair<ULONG, std::string>> confirmed;
    std::vector<std::pair<ULONG, bool>> deletedRecorded;  // key, recorded in cache

    IMAPIFolder* Folder() override { return nullptr; }
    quarnex::CMAPIFolder* Concrete() override { return nullptr; }
    ULONG RowCount() override { return static_cast<ULONG>(rows_.size()); }
    HRESULT FirstMarkedRow(LPSRowSet* out) override
    {
        std::vector<const FakeRow*> picked;
        for (const FakeRow& r : rows_)
            if (r.status & MSGSTATUS_REMOTE_DOWNLOAD) {
                picked.push_back(&r);
                break;
            }
        return Build(picked, out);
    }
    HRESULT MarkedRows(LPSRowSet* out, ULONG maxRows) override
    {
        std::vector<const FakeRow*> picked;
        for (const FakeRow& r : rows_)
            if ((r.status & MSGSTATUS_REMOTE_DOWNLOAD) && picked.size() < maxRows) picked.push_back(&r);
        return Build(picked, out);
    }
    HRESULT AllRows(LPSRowSet* out) override
    {
        std::vector<const FakeRow*> picked;
        for (const FakeRow& r : rows_) picked.push_back(&r);
        return Build(picked, out);
    }
    HRESULT DeleteRows(const SRowSet& rows, bool record, bool) override
    {
        for (ULONG i = 0; i < rows.cRows; ++i) {
            const ULONG key = KeyOf(rows.aRow[i]);
            std::erase_if(rows_, [&](const FakeRow& r) { return r.key == key; });
            deletedRecorded.emplace_back(key, record);
        }
        return S_OK;
    }
    HRESULT MarkRows(const SRowSet& rows, ULONG bits) override
    {
        for (ULONG i = 0; i < rows.cRows; ++i)
            for (FakeRow& r : rows_)
                if (r.key == KeyOf(rows.aRow[i])) r.status |= bits;
        return S_OK;
    }
    HRESULT Confirm(ULONG number, std::string_view group) override
    {
        confirmed.emplace_back(number, std::string(group));
        return S_OK;
    }

private:
    static ULONG KeyOf(const SRow& row)
    {
        for (ULONG i = 0; i < row.cValues; ++i)
            if (row.lpProps[i].ulPropTag == PR_INSTANCE_KEY) return *reinterpret_cast<ULONG*>(row.lpProps[i].Value.bin.lpb);
        return 0;
    }
    static HRESULT Build(const std::vector<const FakeRow*>& picked, LPSRowSet* out)
    {
        LPSRowSet set = nullptr;
        MAPIAllocateBuffer(CbNewSRowSet(static_cast<ULONG>(picked.size()) + 1), reinterpret_cast<void**>(&set));
        set->cRows = 0;
        for (const FakeRow* r : picked) {
            LPSPropValue v = nullptr;
            MAPIAllocateBuffer(4 * sizeof(SPropValue), reinterpret_cast<void**>(&v));
            void* id = nullptr;
            MAPIAllocateMore(static_cast<ULONG>(r->entryId.size()), v, &id);
            std::memcpy(id, r->entryId.data(), r->entryId.size());
            void* key = nullptr;
            MAPIAllocateMore(sizeof(ULONG), v, &key);
            std::memcpy(key, &r->key, sizeof(ULONG));
            void* group = nullptr;
            MAPIAllocateMore(static_cast<ULONG>(r->group.size() + 1), v, &group);
            std::memcpy(group, r->group.c_str(), r->group.size() + 1);
            v[0].ulPropTag = PR_ENTRYID;
            v[0].Value.bin = SBinary{static_cast<ULONG>(r->entryId.size()), static_cast<LPBYTE>(id)};
            v[1].ulPropTag = PR_DISPLAY_TO;
            v[1].Value.lpszA = static_cast<LPSTR>(group);
            v[2].ulPropTag = PR_MSG_STATUS;
            v[2].Value.ul = r->status;
            v[3].ulPropTag = PR_INSTANCE_KEY;
            v[3].Value.bin = SBinary{sizeof(ULONG), static_cast<LPBYTE>(key)};
            set->aRow[set->cRows++] = SRow{0, 4, v};
        }
        *out = set;
        return S_OK;
    }
    std::vector<FakeRow>& rows_;
};

// A downloader whose operations finish at once with scripted results.
struct DownloaderScript {
    HRESULT createResult = S_OK;
    HRESULT openResult = S_OK;
    HRESULT startResult = S_OK;      // of every operation
    HRESULT finishResult = S_OK;     // what GetError reports afterwards
    int pollsUntilFinished = 0;      // IsFinished answers false this often
    bool finishOnCancel = false;     // ... or until a cancel arrives
    bool connected = false;
    bool articleReady = false;
    // What was asked.
    std::vector<std::string> calls;
    FILETIME lastSince{};
    ULONG lastLimit = 0;
    ULONG lastRowCount = 0;
    bool lastCacheOnly = false;
    int cancels = 0;
    int discards = 0;
    std::string lastPost;
};

class CScriptedDownloader final : public IArticleDownloader {
public:
    explicit CScriptedDownloader(DownloaderScript& s) : s_(s) {}
    HRESULT CreateTransport() override { return s_.createResult; }
    HRESULT Open() override { return s_.openResult; }
    HRESULT CheckNewGroups(const FILETIME& since) override
    {
        s_.lastSince = since;
        return Start("CheckNewGroups");
    }
    HRESULT RefreshHeaders(ULONG limit) override
    {
        s_.lastLimit = limit;
        return Start("RefreshHeaders");
    }
    HRESULT DownloadArticles(const SRowSet& rows, bool cacheOnly) override
    {
        s_.lastRowCount = rows.cRows;
        s_.lastCacheOnly = cacheOnly;
        return Start(cacheOnly ? "Prefetch" : "DownloadArticles");
    }
    HRESULT PostArticle(std::string_view text) override
    {
        s_.lastPost.assign(text);
        return Start("PostArticle");
    }
    void WaitWhileActive() override {}
    bool IsFinished() override
    {
        if (s_.finishOnCancel) return cancelled_;
        if (polls_ > 0) {
            --polls_;
            return false;
        }
        return true;
    }
    void RequestCancel() override
    {
        ++s_.cancels;
        cancelled_ = true;
    }
    HRESULT GetError(std::string& text) override
    {
        text = FAILED(s_.finishResult) ? "scripted failure" : "";
        return s_.finishResult;
    }
    bool IsConnected() override { return s_.connected; }
    bool IsDisconnected() override { return !s_.connected; }
    ULONG PendingCount() override { return s_.articleReady ? 1 : 0; }
    void DiscardArticles() override
    {
        ++s_.discards;
        s_.articleReady = false;
    }
    ComPtr<IStream> TakeArticle() override
    {
        if (!s_.articleReady) return nullptr;
        s_.articleReady = false;
        ComPtr<IStream> stream;
        CreateStreamOnHGlobal(nullptr, TRUE, &stream);
        return stream;
    }

private:
    HRESULT Start(const char* name)
    {
        s_.calls.emplace_back(name);
        polls_ = s_.pollsUntilFinished;
        return s_.startResult;
    }
    DownloaderScript& s_;
    int polls_ = 0;
    bool cancelled_ = false;
};

// A temporary root with MAPI, a profile "P" holding one newsgroup service,
// a session on it, and the support object a logon of that service gets.
class TransportHome {
public:
    TransportHome()
    {
        EXPECT_EQ(MAPIInitialize(nullptr), S_OK);
        char dir[MAX_PATH];
        EXPECT_GT(GetSystemDirectory(dir, sizeof dir), 0u);
        std::filesystem::create_directories(dir);
        std::ofstream(std::filesystem::path(dir) / "MAPISVC.INF", std::ios::binary) << kNewsServiceList;
        EXPECT_EQ(MAPIAdminProfiles(0, &admin_), S_OK);
        EXPECT_EQ(admin_->CreateProfile(S("P"), nullptr, 0, MAPI_DEFAULT_SERVICES), S_OK);
        EXPECT_EQ(admin_->AdminServices(S("P"), nullptr, 0, 0, &services_), S_OK);
        EXPECT_EQ(services_->CreateMsgService(S("Corvane"), S("News"), 0, 0), S_OK);
        service_ = FindUid(PR_SERVICE_UID, "Corvane");
        provider_ = FindUid(PR_PROVIDER_UID, "Corvane");
        EXPECT_EQ(MAPILogonEx(0, S("P"), nullptr, MAPI_NEW_SESSION | MAPI_EXTENDED, &session_), S_OK);
        support_ = ComPtr<CTestSupport>::Attach(NewComObject<CTestSupport>(services_.Get(), session_.Get(), provider_));
    }
    ~TransportHome()
    {
        support_.Reset();
        if (session_) session_->Logoff(0, 0, 0);
        session_.Reset();
        services_.Reset();
        admin_.Reset();
        MAPIUninitialize();
    }

    CTestSupport& Support() { return *support_; }
    IMsgServiceAdmin* Services() { return services_.Get(); }
    IMAPISession* Session() { return session_.Get(); }
    const MAPIUID& ServiceUid() const { return service_; }

    ComPtr<IProfSect> ServiceSection()
    {
        ComPtr<IProfSect> section;
        EXPECT_EQ(services_->OpenProfileSection(&service_, nullptr, MAPI_MODIFY, &section), S_OK);
        return section;
    }
    // Stores account values into the service's section.
    void SetAccount(std::initializer_list<std::pair<int, const char*>> strings)
    {
        std::vector<SPropValue> values;
        for (const auto& [index, text] : strings) {
            SPropValue v{};
            v.ulPropTag = acct::kTags[static_cast<std::size_t>(index)];
            v.Value.lpszA = const_cast<LPSTR>(text);
            values.push_back(v);
        }
        EXPECT_EQ(ServiceSection()->SetProps(static_cast<ULONG>(values.size()), values.data(), nullptr), S_OK);
    }
    // The default store's entry ID and its IPM subtree's, for a base folder.
    std::pair<std::vector<BYTE>, std::vector<BYTE>> DefaultStoreAndFolder()
    {
        ComPtr<IMAPITable> table;
        EXPECT_EQ(session_->GetMsgStoresTable(0, &table), S_OK);
        SizedSPropTagArray<2> cols{2, {PR_ENTRYID, PR_DEFAULT_STORE}};
        table->SetColumns(cols.AsTagArray(), 0);
        RowSetPtr rows;
        EXPECT_EQ(table->QueryRows(10, 0, &rows), S_OK);
        std::vector<BYTE> store;
        for (ULONG i = 0; rows && i < rows->cRows; ++i) {
            const SPropValue& id = rows->aRow[i].lpProps[0];
            if (rows->aRow[i].lpProps[1].ulPropTag == PR_DEFAULT_STORE && rows->aRow[i].lpProps[1].Value.b)
                store.assign(id.Value.bin.lpb, id.Value.bin.lpb + id.Value.bin.cb);
        }
        ComPtr<IMsgStore> mdb;
        EXPECT_EQ(session_->OpenMsgStore(0, static_cast<ULONG>(store.size()), reinterpret_cast<LPENTRYID>(store.data()),
                                         nullptr, MAPI_BEST_ACCESS, &mdb),
                  S_OK);
        LPSPropValue sub = nullptr;
        EXPECT_EQ(HrGetOneProp(mdb.Get(), PR_IPM_SUBTREE_ENTRYID, &sub), S_OK);
        std::vector<BYTE> folder(sub->Value.bin.lpb, sub->Value.bin.lpb + sub->Value.bin.cb);
        MAPIFreeBuffer(sub);
        return {store, folder};
    }

private:
    MAPIUID FindUid(ULONG tag, const char* serviceName)
    {
        ComPtr<IMAPITable> table;
        if (tag == PR_SERVICE_UID)
            EXPECT_EQ(services_->GetMsgServiceTable(0, &table), S_OK);
        else
            EXPECT_EQ(services_->GetProviderTable(0, &table), S_OK);
        SizedSPropTagArray<2> cols{2, {PR_SERVICE_NAME, tag}};
        table->SetColumns(cols.AsTagArray(), 0);
        RowSetPtr rows;
        EXPECT_EQ(table->QueryRows(100, 0, &rows), S_OK);
        MAPIUID uid{};
        for (ULONG i = 0; rows && i < rows->cRows; ++i) {
            const SRow& r = rows->aRow[i];
            if (r.lpProps[0].ulPropTag == PR_SERVICE_NAME && std::string(r.lpProps[0].Value.lpszA) == serviceName &&
                r.lpProps[1].ulPropTag == tag)
                std::memcpy(uid.ab, r.lpProps[1].Value.bin.lpb, sizeof uid.ab);
        }
        return uid;
    }

    TempHome home_;
    ComPtr<IProfAdmin> admin_;
    ComPtr<IMsgServiceAdmin> services_;
    MAPIUID service_{};
    MAPIUID provider_{};
    ComPtr<IMAPISession> session_;
    ComPtr<CTestSupport> support_;
};

// A logon of the home's service with a scripted downloader and an
// in-memory header folder.
class LogonFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetHeaderFolderFactory([this](CMAPIStatus&, CXPLogon&, std::unique_ptr<IHeaderFolder>& out) {
            auto folder = std::make_unique<CFakeHeaderFolder>(rows_);
            folder_ = folder.get();
            out = std::move(folder);
            return S_OK;
        });
        SetDownloaderFactory([this](CXPLogon&) { return std::make_unique<CScriptedDownloader>(script_); });
        home_.SetAccount({{acct::kUserName, "Ann Reader"},
                          {acct::kEmailAddress, "ann@example.org"},
                          {acct::kAccountName, "Example News"},
                          {acct::kServer, "news.example.org"}});
    }
    void TearDown() override
    {
        logon_.Reset();
        SetHeaderFolderFactory(nullptr);
        SetDownloaderFactory(nullptr);
        SetArticleDeliverer(nullptr);
        ResetReportedResultMapping();
    }

    HRESULT Logon(ULONG flags = 0)
    {
        ComPtr<IXPProvider> provider;
        ULONG version = 0;
        EXPECT_EQ(ProviderInit(nullptr, nullptr, MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer, 0,
                               CURRENT_SPI_VERSION, &version, &provider),
                  S_OK);
        IXPLogon* raw = nullptr;
        logonFlags_ = flags;
        const HRESULT hr = provider->TransportLogon(&home_.Support(), 0, S("P"), &logonFlags_, nullptr, &raw);
        logon_ = ComPtr<CXPLogon>::Attach(static_cast<CXPLogon*>(raw));
        return hr;
    }
    ComPtr<IMAPIStatus> Status()
    {
        ComPtr<IMAPIStatus> status;
        EXPECT_EQ(logon_->OpenStatusEntry(nullptr, 0, nullptr, &status), S_OK);
        return status;
    }
    void UseRegistryBaseFolder()
    {
        const auto [store, folder] = home_.DefaultStoreAndFolder();
        ASSERT_EQ(WriteBaseFolder("P", "Top", folder, store), ERROR_SUCCESS);
    }
    void AddRow(ULONG key, ULONG status, ULONG article = 7, const char* group = "alt.test")
    {
        FakeRow row;
        row.key = key;
        row.status = status;
        row.group = group;
        row.entryId = {static_cast<BYTE>(article), 0, 0, 0, '<', 'm', '>', 0};
        row.entryId.insert(row.entryId.end(), group, group + std::strlen(group) + 1);
        rows_.push_back(row);
    }

    TransportHome home_;
    DownloaderScript script_;
    std::vector<FakeRow> rows_;
    CFakeHeaderFolder* folder_ = nullptr;
    ComPtr<CXPLogon> logon_;
    ULONG logonFlags_ = 0;
};

}  // namespace quillory::testing
