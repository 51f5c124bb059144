#include "provider/downloader/nntp_downloader.h"

#include "common/grouplist.h"
#include "common/regstore.h"
#include "platform/base/trace.h"
#include "platform/base/window.h"
#include "platform/base/winerror.h"
#include "provider/folder/mapi_folder.h"
#include "common/server_record.h"

#include <cstring>

namespace quillory::quarnex {
namespace {

constexpr DWORD kDisconnectWaitMs = 500;
// How long destruction waits for the server to answer QUIT before the
// connection is dropped instead.
constexpr DWORD kDisconnectLimitMs = 30000;

}  // namespace

const CNNTPDownloader::ResponseRoute CNNTPDownloader::kRoutes[] = {
    {NS_DISCONNECTED, &CNNTPDownloader::OnDisconnected},
    {NS_CONNECT, &CNNTPDownloader::OnConnect},
    {NS_POST, &CNNTPDownloader::OnPost},
    {NS_GROUP, &CNNTPDownloader::OnGroup},
    {NS_HEADERS, &CNNTPDownloader::OnHeaders},
    {NS_ARTICLE, &CNNTPDownloader::OnArticle},
    {NS_NEWGROUPS, &CNNTPDownloader::OnNewGroups},
};

CNNTPDownloader::CNNTPDownloader() = default;

CNNTPDownloader::~CNNTPDownloader()
{
    // No job goes on while the connection closes, and the account array may
    // be gone already (the owner re-reads it before letting us go).
    done_ = true;
    cancelRequested_ = true;
    accountProperties_ = {};
    if (transport_ && transport_->IsState(IXP_IS_CONNECTED) == S_OK && SUCCEEDED(transport_->Disconnect())) {
        const DWORD start = GetTickCount();
        while (transport_ && transport_->IsState(IXP_IS_CONNECTED) == S_OK &&
               GetTickCount() - start < kDisconnectLimitMs) {
            if (MsgWaitForMultipleObjects(0, nullptr, FALSE, kDisconnectWaitMs, QS_ALLINPUT) != WAIT_OBJECT_0)
                continue;
            MSG msg;
            if (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessage(&msg);
            }
        }
    }
}

// ---- Jobs --------------------------------------------------------------------

template <class Setup>
HRESULT CNNTPDownloader::StartJob(Mode mode, CFolderOwner* folderOwner, std::span<SPropValue> accountProperties,
                                  Setup setup)
{
    // A foreground job stops a background prefetch first.
    if (mode_ == Mode::DownloadArticles && cacheMode_) cancelRequested_ = true;
    if (connected_) WaitIdle();

    folderOwner_ = folderOwner;
    accountProperties_ = accountProperties;
    mode_ = mode;
    errorCode_ = S_OK;
    done_ = false;
    cancelRequested_ = false;
    HRESULT hr = setup();
    if (FAILED(hr)) {
        RecordFailure(hr);
        return hr;
    }
    if (done_) return S_OK;

    if (connected_) {
        hr = Dispatch();
        if (FAILED(hr)) RecordFailure(hr);
        return hr;
    }
    // A failed connect released the transport; this job makes a new one.
    if (!transport_) hr = CreateTransport();
    connected_ = true;
    if (SUCCEEDED(hr)) hr = Connect(accountProperties);
    if (FAILED(hr)) {
        connected_ = false;
        RecordFailure(hr);
    }
    return hr;
}

HRESULT CNNTPDownloader::Open(CFolderOwner* folderOwner, std::span<SPropValue> accountProperties)
{
    if (mode_ != Mode::None || connected_) return E_FAIL;
    folderOwner_ = folderOwner;
    accountProperties_ = accountProperties;
    connected_ = true;
    done_ = false;
    cancelRequested_ = false;
    ClearPending();
    const HRESULT hr = Connect(accountProperties);
    if (FAILED(hr)) {
        connected_ = false;
        return hr;
    }
    WaitIdle();
    // A connect the server refused is no success, though the call started it.
    if (!connected_ && FAILED(errorCode_)) return errorCode_;
    return hr;
}

HRESULT CNNTPDownloader::RefreshHeaders(CFolderOwner* folderOwner, std::span<SPropValue> accountProperties,
                                        LONG lastMessagesLimit)
{
    return StartJob(Mode::RefreshHeaders, folderOwner, accountProperties, [&] {
        BuildGroupList();
        if (pending_.empty()) {
            done_ = true;
            return S_OK;
        }
        lastMessagesLimit_ = lastMessagesLimit;
        subjects_.Load();  // without it subjects stay as the server sent them
        return S_OK;
    });
}

HRESULT CNNTPDownloader::CheckNewGroups(CFolderOwner* folderOwner, std::span<SPropValue> accountProperties,
                                        const SYSTEMTIME& sinceUtc)
{
    return StartJob(Mode::NewGroups, folderOwner, accountProperties, [&] {
        list_.Reset();
        newGroupsSince_ = sinceUtc;
        return S_OK;
    });
}

HRESULT CNNTPDownloader::DownloadArticles(CFolderOwner* folderOwner, std::span<SPropValue> accountProperties,
                                          OwnedRowSet markedRows, bool cacheMode)
{
    return StartJob(Mode::DownloadArticles, folderOwner, accountProperties, [&] {
        markedRows_ = std::move(markedRows);
        cacheMode_ = cacheMode;
        articleStream_.Reset();
        articleFailed_ = false;
        issued_.clear();
        nextRow_ = 0;
        issuedGroup_.clear();
        ClearPending();
        return S_OK;
    });
}

HRESULT CNNTPDownloader::PostArticle(CFolderOwner* folderOwner, std::span<SPropValue> accountProperties,
                                     std::string_view articleText)
{
    return StartJob(Mode::Post, folderOwner, accountProperties, [&]() -> HRESULT {
        postStream_.Reset();
        postSize_ = 0;
        ClearPending();
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, articleText.size());
        void* bytes = block ? GlobalLock(block) : nullptr;
        if (!bytes) {
            if (block) GlobalFree(block);
            return E_OUTOFMEMORY;
        }
        if (!articleText.empty()) std::memcpy(bytes, articleText.data(), articleText.size());
        GlobalUnlock(block);
        ComPtr<IStream> stream;
        HRESULT hr = CreateStreamOnHGlobal(block, TRUE, &stream);
        if (FAILED(hr)) {
            GlobalFree(block);
            return hr;
        }
        ULARGE_INTEGER size{};
        size.QuadPart = articleText.size();
        hr = stream->SetSize(size);
        if (FAILED(hr)) return hr;
        postStream_ = std::move(stream);
        postSize_ = static_cast<ULONG>(articleText.size());
        return S_OK;
    });
}

HRESULT CNNTPDownloader::Dispatch()
{
    if (cancelRequested_) {
        done_ = true;
        return S_OK;
    }
    switch (mode_) {
    case Mode::RefreshHeaders: {
        CMAPIFolder* folder = HeaderFolder();
        if (!folder) return E_FAIL;
        folder->ClearRows();
        if (pending_.empty()) {
            done_ = true;
            return S_OK;
        }
        return SendGroup(pending_.front().group);
    }
    case Mode::DownloadArticles:
        TopUp();
        return errorCode_;
    case Mode::Post: {
        NNTPMESSAGE message{postSize_, postStream_.Get()};
        return transport_ ? transport_->CommandPOST(&message) : E_FAIL;
    }
    case Mode::NewGroups: {
        char noDistribution[] = "";
        return transport_ ? transport_->CommandNEWGROUPS(&newGroupsSince_, noDistribution) : E_FAIL;
    }
    case Mode::None:
        break;
    }
    return S_OK;
}

CMAPIFolder* CNNTPDownloader::HeaderFolder() const { return folderOwner_ ? folderOwner_->HeaderFolder() : nullptr; }

void CNNTPDownloader::RecordFailure(HRESULT hr)
{
    if (SUCCEEDED(hr)) return;
    errorCode_ = hr;
    Trace("CNNTPDownloader -- mode %d failed %08x\n", static_cast<int>(mode_), static_cast<unsigned>(hr));
}

HRESULT CNNTPDownloader::SendGroup(const std::string& group)
{
    if (!transport_) return E_FAIL;
    std::string name = group;
    return transport_->CommandGROUP(name.data());
}

// ---- Queries -----------------------------------------------------------------

bool CNNTPDownloader::IsFinished() const { return !connected_ || done_ || errorCode_ != S_OK; }

void CNNTPDownloader::WaitWhileActive()
{
    if (connected_ && !done_ && errorCode_ == S_OK) WaitIdle();
}

bool CNNTPDownloader::GetError(HRESULT& code, std::string* text) const
{
    if (errorCode_ == S_OK) return false;
    code = errorCode_;
    if (text) *text = errorText_;
    return true;
}

// ---- Callbacks ---------------------------------------------------------------

HRESULT CNNTPDownloader::OnTimeout(DWORD* pdwTimeout, IInternetTransport*)
{
    if (accountProperties_.empty() || !pdwTimeout) return S_FALSE;
    const DWORD configured = ConfiguredTimeout(accountProperties_);
    if (*pdwTimeout < configured) {
        *pdwTimeout = configured;
        return S_OK;
    }
    return S_FALSE;
}

HRESULT CNNTPDownloader::OnLogonPrompt(INETSERVER* pInetServer, IInternetTransport*)
{
    return PromptForLogon(pInetServer);
}

HRESULT CNNTPDownloader::OnStatus(IXPSTATUS ixpstatus, IInternetTransport*)
{
    if (ixpstatus == IXP_DISCONNECTED) {
        connected_ = false;
        NoteLostJob();
    }
    return S_OK;
}

// The owner stops waiting as soon as the connection is gone; a job that had
// not finished by then must not read as a success.
void CNNTPDownloader::NoteLostJob()
{
    if (!done_ && mode_ != Mode::None && errorCode_ == S_OK) errorCode_ = IXP_E_CONNECTION_DROPPED;
}

HRESULT CNNTPDownloader::OnError(IXPSTATUS ixpstatus, LPIXPRESULT pResult, IInternetTransport*)
{
    RecordError(pResult, kErrorFromRecord);
    if (ixpstatus == IXP_DISCONNECTED) {
        connected_ = false;
        NoteLostJob();
    }
    return S_OK;
}

HRESULT CNNTPDownloader::OnResponse(LPNNTPRESPONSE pResponse)
{
    if (!pResponse) return S_OK;
    for (const ResponseRoute& route : kRoutes) {
        if (route.state == pResponse->state) {
            (this->*route.handler)(*pResponse);
            break;
        }
    }
    if (pResponse->fMustRelease && pResponse->pTransport) pResponse->pTransport->ReleaseResponse(pResponse);
    return S_OK;
}

void CNNTPDownloader::OnDisconnected(const NNTPRESPONSE& response)
{
    connected_ = false;
    if (done_ || !response.fDone) return;
    RecordError(&response.rIxpResult, kErrorFromRecord);
    NoteLostJob();  // a clean close still leaves the job unfinished
}

void CNNTPDownloader::OnConnect(const NNTPRESPONSE& response)
{
    if (FAILED(response.rIxpResult.hrResult)) {
        RecordError(&response.rIxpResult, kErrorFromRecord);
        return;
    }
    const HRESULT hr = Dispatch();
    if (FAILED(hr)) RecordError(&response.rIxpResult, hr);
}

void CNNTPDownloader::OnPost(const NNTPRESPONSE& response)
{
    if (mode_ != Mode::Post) return;
    if (FAILED(response.rIxpResult.hrResult))
        RecordError(&response.rIxpResult, kErrorFromRecord);
    else
        done_ = true;
}

void CNNTPDownloader::OnGroup(const NNTPRESPONSE& response)
{
    if (mode_ == Mode::DownloadArticles)
        OnArticleGroup(response);
    else if (mode_ == Mode::RefreshHeaders)
        OnHeaderGroup(response);
}

void CNNTPDownloader::OnNewGroups(const NNTPRESPONSE& response)
{
    if (mode_ != Mode::NewGroups) return;
    const HRESULT result = response.rIxpResult.hrResult;
    if (SUCCEEDED(result) && response.rNewgroups.cLines > 0 && response.rNewgroups.rgszLines) {
        if (!list_.Loaded()) {
            std::string text;
            const std::string_view listName = AccountString(accountProperties_, acct::kGroupListFile);
            if (listName.empty() || !ReadWholeFile(DataFilePath(listName), text)) {
                RecordFailure(E_FAIL);
                return;
            }
            list_.Load(std::move(text));
        }
        for (DWORD i = 0; i < response.rNewgroups.cLines; ++i)
            if (response.rNewgroups.rgszLines[i]) list_.Add(response.rNewgroups.rgszLines[i]);
    }
    if (!response.fDone) return;
    if (FAILED(result)) {
        RecordError(&response.rIxpResult, kErrorFromRecord);
    } else if (list_.Modified()) {
        const std::string path = DataFilePath(AccountString(accountProperties_, acct::kGroupListFile));
        if (!ReplaceFileContent(path, list_.Text())) RecordFailure(E_FAIL);
    }
    list_.Reset();
    done_ = true;
}

}  // namespace quillory::quarnex
