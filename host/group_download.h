// Downloading an account's newsgroup list through the news component's NNTP
// transport, as the subscription dialog's download does, without a dialog.
//
// CGroupListDownload is the transport's callback and the whole conversation:
// after the connect it sends LIST NEWSGROUPS (when descriptions are wanted)
// and LIST, collects the groups, asks NEWGROUPS for the groups created since
// "NewNewsgroupsTime" minutes ago, and disconnects. It never touches a socket;
// the transport calls it back on the thread that pumps the messages.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/grouplist.h"
#include "platform/com/com_ptr.h"
#include "platform/com/refcounted.h"
#include "platform/inetcomm/nntp/nntp_transport.h"

namespace quillory::host {

class NewsAccount;

// The list argument that asks for the descriptions.
constexpr const char* kListNewsgroupsArgument = "NEWSGROUPS";
// "CNPLOG" as the download reads it (one byte less than this).
constexpr std::size_t kDownloadLogBufferSize = 300;

class CGroupListDownload final : public INNTPCallback, public CRefCounted {
public:
    // Called with the number of groups collected after each part of a list
    // answer; `last` once the whole list has arrived.
    using Progress = std::function<void(std::size_t received, bool last)>;
    // A connection state change, as the dialog would show it.
    using StatusReport = std::function<void(std::string_view text)>;

    // `newGroupsSince` is the UTC time the NEWGROUPS question starts from.
    CGroupListDownload(bool descriptions, const SYSTEMTIME& newGroupsSince, Progress progress = {},
                       StatusReport status = {});

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    QUILLORY_IUNKNOWN_REFCOUNT

    // Binds to `transport` (InitNew with this callback) and connects.
    HRESULT Start(INNTPTransport* transport, const INETSERVER& server, const char* logPath);

    // The conversation is over (the transport reported "disconnected").
    bool Finished() const { return finished_; }
    // The whole list arrived.
    bool Completed() const { return completed_; }
    // What went wrong, for the user; empty when nothing did.
    const std::string& ErrorText() const { return error_; }

    // The groups collected, sorted by name without case, with the new marks
    // from the NEWGROUPS answer.
    std::vector<GroupRecord> TakeGroups();
    const std::vector<std::string>& NewGroups() const { return newGroups_; }

    // ITransportCallback / INNTPCallback.
    HRESULT OnTimeout(DWORD* pdwTimeout, IInternetTransport* pTransport) override;
    HRESULT OnLogonPrompt(LPINETSERVER pInetServer, IInternetTransport* pTransport) override;
    INT OnPrompt(HRESULT hrError, LPCSTR pszText, LPCSTR pszCaption, UINT uType,
                 IInternetTransport* pTransport) override;
    HRESULT OnStatus(IXPSTATUS ixpstatus, IInternetTransport* pTransport) override;
    HRESULT OnError(IXPSTATUS ixpstatus, LPIXPRESULT pResult, IInternetTransport* pTransport) override;
    HRESULT OnCommand(CMDTYPE cmdtype, LPSTR pszLine, HRESULT hrResponse, IInternetTransport* pTransport) override;
    HRESULT OnResponse(LPNNTPRESPONSE pResponse) override;

private:
    enum class Step { Connecting, Descriptions, List, NewGroups, Disconnecting };

    ~CGroupListDownload() override = default;

    void HandleResponse(const NNTPRESPONSE& response);
    void SendList(bool descriptions);
    void SendNewGroups();
    void Disconnect();
    void Fail(std::string text);
    // Takes one line of a list answer; true when a group was added.
    bool AddListLine(std::string_view line);

    const bool descriptions_;
    const SYSTEMTIME newGroupsSince_;
    Progress progress_;
    StatusReport status_;
    INNTPTransport* transport_ = nullptr;  // not owned: the caller keeps it alive
    Step step_ = Step::Connecting;
    std::size_t addedThisPass_ = 0;
    bool failedThisPass_ = false;
    bool finished_ = false;
    bool completed_ = false;
    bool errorShown_ = false;
    std::string error_;
    std::vector<GroupRecord> groups_;
    // Collected names, compared whole: two names with the same hash are
    // still two groups.
    std::unordered_set<std::string> names_;
    std::vector<std::string> newGroups_;
};

// The transport's server record for an account.
void FillServerRecord(const NewsAccount& account, INETSERVER& server);

// The UTC time `minutes` before now.
SYSTEMTIME MinutesAgo(DWORD minutes);

struct DownloadedList {
    std::vector<GroupRecord> groups;
    std::vector<std::string> newGroups;
};

// Loads "inetcomm.dll", creates a transport, runs a CGroupListDownload for
// `account` and pumps this thread's messages until it is over. False with
// `error` set when the list did not arrive whole.
bool DownloadGroupList(const NewsAccount& account, DownloadedList& out, std::string& error,
                       const CGroupListDownload::Progress& progress = {},
                       const CGroupListDownload::StatusReport& status = {});

}  // namespace quillory::host
