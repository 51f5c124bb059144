// The header folder the status object makes unless another is installed:
// the provider's CMAPIFolder, attached to the status object and the logon.
#include <mutex>

#include "common/grouplist.h"
#include "common/regstore.h"
#include "platform/base/trace.h"
#include "provider/folder/mapi_folder.h"
#include "provider/logon/xp_logon.h"
#include "provider/settings/account_settings.h"
#include "provider/status/header_folder_port.h"
#include "provider/status/mapi_status.h"

namespace quillory {

namespace {

std::mutex g_factoryMutex;
HeaderFolderFactory g_factory;

const SPropValue* FindColumn(const SRow& row, ULONG tag)
{
    for (ULONG i = 0; i < row.cValues; ++i)
        if (row.lpProps[i].ulPropTag == tag) return &row.lpProps[i];
    return nullptr;
}

// What the folder asks of the logon.
class CFolderLogon final : public quarnex::IFolderLogon {
public:
    explicit CFolderLogon(CXPLogon& logon) : logon_(logon) {}
    IMsgStore* FolderMessageStore() override { return logon_.BaseStore(); }
    bool DownloadRequested() override { return logon_.DownloadRequested(); }
    std::string KnownArticlesPath() override
    {
        const char* list = AccountNonEmptyString(logon_.AccountProps(), acct::kGroupListFile);
        return list ? KnownArticlesFilePath(DataFilePath(list)) : std::string();
    }

private:
    CXPLogon& logon_;
};

class CProviderHeaderFolder final : public IHeaderFolder {
public:
    // Only the logon's own work (the downloader's AddRow) reaches the logon
    // through the folder, and that ends before the logon goes.
    explicit CProviderHeaderFolder(CXPLogon& logon) : logon_(logon) {}

    HRESULT Create(CMAPIStatus& status)
    {
        folder_ = ComPtr<quarnex::CMAPIFolder>::Attach(NewComObject<quarnex::CMAPIFolder>());
        if (!folder_->HasTable()) return E_FAIL;
        return folder_->Attach(&status, &logonView_);
    }

    IMAPIFolder* Folder() override { return folder_.Get(); }
    quarnex::CMAPIFolder* Concrete() override { return folder_.Get(); }
    ULONG RowCount() override { return folder_->RowCount(); }
    HRESULT FirstMarkedRow(LPSRowSet* rows) override
    {
        *rows = folder_->QueryNextMarked();
        return S_OK;
    }
    HRESULT MarkedRows(LPSRowSet* rows, ULONG maxRows) override
    {
        *rows = folder_->QueryMarked(static_cast<LONG>(maxRows));
        return S_OK;
    }
    HRESULT AllRows(LPSRowSet* rows) override
    {
        *rows = folder_->QueryAllRows();
        return S_OK;
    }
    HRESULT DeleteRows(const SRowSet& rows, bool recordInCache, bool confirmed) override
    {
        HRESULT result = S_OK;
        for (ULONG i = 0; i < rows.cRows; ++i)
            if (const HRESULT hr = folder_->DeleteRow(rows.aRow[i], recordInCache, confirmed); FAILED(hr)) result = hr;
        return result;
    }
    HRESULT MarkRows(const SRowSet& rows, ULONG statusBits) override
    {
        HRESULT result = S_OK;
        for (ULONG i = 0; i < rows.cRows; ++i) {
            const SPropValue* id = FindColumn(rows.aRow[i], PR_ENTRYID);
            if (!id) continue;
            ULONG old = 0;
            const HRESULT hr = folder_->SetMessageStatus(id->Value.bin.cb, reinterpret_cast<LPENTRYID>(id->Value.bin.lpb),
                                                         statusBits, statusBits, &old);
            if (FAILED(hr)) result = hr;
        }
        return result;
    }
    HRESULT Confirm(ULONG articleNumber, std::string_view newsgroup) override
    {
        folder_->Confirm(articleNumber, newsgroup);
        return S_OK;
    }

private:
    CXPLogon& logon_;
    CFolderLogon logonView_{logon_};
    ComPtr<quarnex::CMAPIFolder> folder_;
};

}  // namespace

void SetHeaderFolderFactory(HeaderFolderFactory factory)
{
    std::lock_guard lock(g_factoryMutex);
    g_factory = std::move(factory);
}

HRESULT NewHeaderFolder(CMAPIStatus& status, CXPLogon& logon, std::unique_ptr<IHeaderFolder>& folder)
{
    HeaderFolderFactory factory;
    {
        std::lock_guard lock(g_factoryMutex);
        factory = g_factory;
    }
    if (factory) return factory(status, logon, folder);
    auto made = std::make_unique<CProviderHeaderFolder>(logon);
    if (const HRESULT hr = made->Create(status); FAILED(hr)) return hr;
    folder = std::move(made);
    return S_OK;
}

}  // namespace quillory
