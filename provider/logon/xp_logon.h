// CXPLogon: one logon of the transport per account, created by
// CXPProvider::TransportLogon. It keeps the account settings, the status
// code and the header-operation state, drives the article downloader for
// the spooler's download passes, and owns the status object.
#pragma once

#include <array>
#include <functional>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/com/com_ptr.h"
#include "platform/com/refcounted.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapispi.h"
#include "provider/entry/module_state.h"
#include "provider/logon/downloader_port.h"
#include "provider/posting/submit_post.h"

namespace quillory {

class CMAPIStatus;
class IHeaderFolder;

// The provider's UID and its single address type.
inline constexpr MAPIUID kProviderUid = {{0x1F, 0xAA, 0x9D, 0x38, 0xD4, 0x34, 0x2F, 0x48, 0x84, 0xA8, 0x43, 0x22,
                                          0x04, 0x88, 0x9A, 0x22}};
inline constexpr const char* kAddressType = "NNTP";

// Header-operation states. 1 is never entered but counts as busy.
enum class HeaderState : int { Idle = 0, Busy = 1, RefreshRequested = 2, ProcessRequested = 3, Finished = 4 };

// Status code bits touched by inbound and outbound activity.
constexpr ULONG kInboundBusyBits = STATUS_INBOUND_ACTIVE | STATUS_INBOUND_FLUSH;
constexpr ULONG kOutboundBusyBits = STATUS_OUTBOUND_ACTIVE | STATUS_OUTBOUND_FLUSH;
constexpr ULONG kAllBusyBits = kInboundBusyBits | kOutboundBusyBits;  // 0x00660000

constexpr ULONG kInitialResourceFlags = 4;
constexpr DWORD kWaitSliceMs = 750;
constexpr ULONG kCacheFillMinRows = 50;
constexpr ULONG kCacheFillStatusBit = 0x01000000;
constexpr std::size_t kEntryIdMax = 1000;
// Marked rows handed to one article job; the job fetches ahead of the
// StartMessage calls that take its articles.
constexpr ULONG kArticleJobRows = 1000;

class CXPLogon final : public IXPLogon, public CRefCounted {
public:
    explicit CXPLogon(LPMAPISUP support);
    ~CXPLogon() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    QUILLORY_IUNKNOWN_REFCOUNT

    // IXPLogon
    HRESULT AddressTypes(ULONG* lpulFlags, ULONG* lpcAdrType, LPSTR** lpppszAdrTypeArray, ULONG* lpcMAPIUID,
                         LPMAPIUID** lpppUIDArray) override;
    HRESULT RegisterOptions(ULONG* lpulFlags, ULONG* lpcOptions, LPOPTIONDATA* lppOptions) override;
    HRESULT TransportNotify(ULONG* lpulFlags, LPVOID* lppvData) override;
    HRESULT Idle(ULONG ulFlags) override { return S_OK; }
    HRESULT TransportLogoff(ULONG ulFlags) override;
    HRESULT SubmitMessage(ULONG ulFlags, LPMESSAGE lpMessage, ULONG_PTR* lpulMsgRef,
                          ULONG_PTR* lpulReturnParm) override;
    HRESULT EndMessage(ULONG_PTR ulMsgRef, ULONG* lpulFlags) override;
    HRESULT Poll(ULONG* lpulIncoming) override;
    HRESULT StartMessage(ULONG ulFlags, LPMESSAGE lpMessage, ULONG_PTR* lpulMsgRef) override;
    HRESULT OpenStatusEntry(LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType, LPMAPISTATUS* lppEntry) override;
    HRESULT ValidateState(ULONG_PTR ulUIParam, ULONG ulFlags) override;
    HRESULT FlushQueues(ULONG_PTR ulUIParam, ULONG cbTargetTransport, LPENTRYID lpTargetTransport,
                        ULONG ulFlags) override;

    // Completes TransportLogon: settings, status code, status row.
    HRESULT Initialise(ULONG logonFlags);

    // ---- Settings (logon_settings.cpp) -----------------------------------------
    // Loads the account array from the service's profile section, writing
    // the current one back first when asked; then the sender entry ID and
    // the base folder.
    HRESULT LoadAccountSettings(bool writeBack);
    // Reopens the sections and resolves the base folder again.
    HRESULT RefreshProfileValues();
    // Finds the base folder through the add-in window or the registry and
    // opens its store.
    HRESULT ResolveBaseFolder(LPPROFSECT serviceSection);

    // ---- What the status object reads and changes --------------------------------
    LPMAPISUP Support() const { return support_.Get(); }
    ULONG StatusCode() const { return statusCode_; }
    void SetStatusCode(ULONG code) { statusCode_ = code; }
    HeaderState State() const { return state_; }
    void SetState(HeaderState s) { state_ = s; }
    bool Busy() const;
    void RequestAbort() { abortRequested_ = true; }
    void ClearAbort() { abortRequested_ = false; }
    bool AbortRequested() const { return abortRequested_; }
    HRESULT LastResult() const { return lastResult_; }
    void SetLastResult(HRESULT hr) { lastResult_ = hr; }
    const std::string& LastErrorText() const { return lastErrorText_; }
    ULONG ResourceFlags() const { return resourceFlags_; }
    bool RemoteValidateOk() const { return remoteValidateOk_ != 0; }
    void SetRemoteValidateOk(bool ok) { remoteValidateOk_ = ok ? 1 : 0; }
    // The account settings array (kCount values) or null.
    LPSPropValue AccountProps() const { return account_.Get(); }
    // The sender entry ID value or null.
    LPSPropValue SenderEntryId() const { return senderEntryId_.Get(); }
    const std::string& ProfileName() const { return profileName_; }
    LPMDB BaseStore() const { return baseStore_.Get(); }
    std::span<const BYTE> BaseFolderEntryId() const { return baseFolderEid_; }
    std::span<const BYTE> BaseStoreEntryId() const { return baseStoreEid_; }
    bool FlatFolders() const { return flatFolders_; }
    DWORD PostUnsubscribed() const { return postUnsubscribed_; }
    DWORD HeaderLimit() const { return headerLimit_; }
    IArticleDownloader* Downloader() const { return downloader_.get(); }
    bool DownloadRequested() const { return downloadRequested_; }
    ULONG DeliveredCount() const { return deliveredCount_; }
    ULONG TotalRows() const { return totalRows_; }

    // Status row update: PR_STATUS_CODE and PR_STATUS_STRING, plus
    // PR_REMOTE_VALIDATE_OK when writeValidate.
    void UpdateStatusRow(bool writeValidate, bool validateOk = false);
    // Ensures the downloader, posts the article and waits for the outcome.
    quarnex::PostOutcome PostArticle(std::string_view articleText);

    // The status object once opened, or null.
    CMAPIStatus* StatusObject() const { return status_; }
    // The header folder behind the status object, or null.
    IHeaderFolder* Headers() const;

private:
    // ---- logon_flush.cpp -----------------------------------------------------------
    HRESULT EnsureDownloader();
    void CloseDownloader();
    // Pumps messages until the downloader's job is finished, or until
    // `ready` holds when one is given.
    void WaitForDownloader(const std::function<bool()>& ready = {});
    void RunNewGroupsCheck();
    void RunHeaderDownload();
    void StartCacheFill();
    // ---- logon_inbound.cpp ---------------------------------------------------------
    HRESULT DownloadOneArticle(ComPtr<IStream>& article, std::vector<BYTE>& entryId,
                               std::vector<BYTE>& instanceKey);
    // Starts an article job over the marked rows from the first one on.
    HRESULT StartArticleJob(IHeaderFolder& folder, const SRowSet& first);
    // Stops the article job, if any, before another job or at the end of a
    // pass; its untaken articles are dropped and their rows stay as they were.
    void DiscardArticleJob();
    void DropFirstMarkedRow();
    void FinishInbound();
    // ---- logon_settings.cpp --------------------------------------------------------
    HRESULT OpenSections(ComPtr<IProfSect>& provider, ComPtr<IProfSect>& service, bool readResourceFlags);
    void BuildSenderEntryId();
    HRESULT OpenBaseStore(std::span<const BYTE> folderEid, std::span<const BYTE> storeEid);

    bool downloadRequested_ = false;
    bool abortRequested_ = false;
    HRESULT lastResult_ = S_OK;
    ComPtr<IMsgStore> baseStore_;
    ULONG totalRows_ = 0;
    ULONG deliveredCount_ = 0;
    std::unique_ptr<IArticleDownloader> downloader_;
    // Entry IDs of the rows whose articles the running article job has not
    // handed out yet, in its order.
    std::deque<std::vector<BYTE>> articleJobRows_;
    ComPtr<IMAPISupport> support_;
    quarnex::ProviderBuffer<SPropValue> account_;
    quarnex::ProviderBuffer<SPropValue> senderEntryId_;
    std::string profileName_;
    bool flatFolders_ = false;
    DWORD postUnsubscribed_ = 0;
    DWORD headerLimit_ = 0;
    ULONG statusCode_ = 0;
    HeaderState state_ = HeaderState::Idle;
    CMAPIStatus* status_ = nullptr;  // one reference held while set
    std::string lastErrorText_;
    std::vector<BYTE> baseFolderEid_;
    std::vector<BYTE> baseStoreEid_;
    ULONG resourceFlags_ = kInitialResourceFlags;
    short remoteValidateOk_ = 0;
    quarnex::CModuleLock moduleLock_;
};

}  // namespace quillory
