#include "host/group_download.h"

#include <cstdio>
#include <filesystem>
#include <utility>

#include "common/regstore.h"
#include "host/group_subscription.h"
#include "host/news_account.h"
#include "platform/base/module.h"
#include "platform/base/msgbox.h"
#include "platform/base/time.h"
#include "platform/base/trace.h"
#include "platform/base/window.h"

namespace quillory::host {
namespace {

constexpr const char* kNewsComponent = "inetcomm.dll";
constexpr const char* kCreateTransportExport = "CreateNNTPTransport";

// What each connection state is shown as, and what an error in it means.
constexpr const char* kStatusText[] = {
    "Finding host...", "Connecting...", "Securing...",   "Connected.",   "Authorizing...",
    "Retry authorizing...", "Authorized.", "Disconnecting...", "Disconnected.",
};
constexpr const char* kErrorText[] = {
    "Unable to find the server.",       "Unable to connect to the server.",
    "Unable to establish SSL connection.", "Connection to server lost.",
    "Authorization error.",             "Authorization error.",
    "Connection to server lost.",       "< normal disconnect with server >",
    "< normal disconnect with server >",
};
constexpr const char* kListFailedText = "Error happen during downloading the list of newsgroups from server.";
constexpr std::size_t kProgramPathSize = 4096;
constexpr std::size_t kListFieldOffset = 3;  // a list line is read as a group-list line after three blanks

std::string Format(const char* fmt, auto... args)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, fmt, args...);
    return buffer;
}

template <std::size_t N>
void CopyField(char (&field)[N], std::string_view text)
{
    const std::size_t n = std::min(text.size(), N - 1);
    text.copy(field, n);
    field[n] = '\0';
}

}  // namespace

CGroupListDownload::CGroupListDownload(bool descriptions, const SYSTEMTIME& newGroupsSince, Progress progress,
                                       StatusReport status)
    : descriptions_(descriptions), newGroupsSince_(newGroupsSince), progress_(std::move(progress)),
      status_(std::move(status))
{
}

HRESULT CGroupListDownload::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv,
                               {{&IID_INNTPCallback, static_cast<INNTPCallback*>(this)},
                                {&IID_ITransportCallback, static_cast<ITransportCallback*>(this)}});
}

HRESULT CGroupListDownload::Start(INNTPTransport* transport, const INETSERVER& server, const char* logPath)
{
    transport_ = transport;
    HRESULT hr = transport->InitNew(const_cast<LPSTR>(logPath), this);
    if (SUCCEEDED(hr)) {
        INETSERVER record = server;
        hr = transport->Connect(&record, TRUE, FALSE);
    }
    if (FAILED(hr)) {
        Fail(Format("Unable to connect to the server.\n%08x", static_cast<unsigned>(hr)));
        finished_ = true;
    }
    return hr;
}

std::vector<GroupRecord> CGroupListDownload::TakeGroups()
{
    names_.clear();
    return std::exchange(groups_, {});
}

HRESULT CGroupListDownload::OnTimeout(DWORD*, IInternetTransport*) { return S_FALSE; }
HRESULT CGroupListDownload::OnLogonPrompt(LPINETSERVER, IInternetTransport*) { return S_FALSE; }

INT CGroupListDownload::OnPrompt(HRESULT, LPCSTR pszText, LPCSTR pszCaption, UINT uType, IInternetTransport*)
{
    return MessageBox(nullptr, pszText, pszCaption, uType);
}

HRESULT CGroupListDownload::OnCommand(CMDTYPE, LPSTR, HRESULT, IInternetTransport*) { return S_OK; }

HRESULT CGroupListDownload::OnStatus(IXPSTATUS ixpstatus, IInternetTransport*)
{
    if (ixpstatus < IXP_LAST && status_) status_(kStatusText[ixpstatus]);
    if (ixpstatus == IXP_DISCONNECTED) {
        finished_ = true;
        if (!completed_ && error_.empty()) error_ = "The download ended before the list was complete.";
    }
    return S_OK;
}

HRESULT CGroupListDownload::OnError(IXPSTATUS ixpstatus, LPIXPRESULT pResult, IInternetTransport*)
{
    // One report per download: later errors follow from the first.
    if (errorShown_ || !pResult) return S_OK;
    errorShown_ = true;
    std::string text = ixpstatus < IXP_LAST ? kErrorText[ixpstatus] : "Connection to server lost.";
    text += Format("\n%08x\n", static_cast<unsigned>(pResult->hrResult));
    if (pResult->pszProblem && *pResult->pszProblem) text += Format("   Description: %s\n", pResult->pszProblem);
    if (pResult->dwSocketError) text += Format("   Socket error: %i\n", static_cast<int>(pResult->dwSocketError));
    if (pResult->hrServerError)
        text += Format("   Server error: %08x\n", static_cast<unsigned>(pResult->hrServerError));
    if (pResult->pszResponse && *pResult->pszResponse)
        text += Format("   Server response: %s\n", pResult->pszResponse);
    else if (pResult->uiServerError)
        text += Format("   Server response code: %i\n", static_cast<int>(pResult->uiServerError));
    error_ = std::move(text);
    return S_OK;
}

HRESULT CGroupListDownload::OnResponse(LPNNTPRESPONSE pResponse)
{
    if (!pResponse) return E_INVALIDARG;
    HandleResponse(*pResponse);
    if (pResponse->fMustRelease && transport_) transport_->ReleaseResponse(pResponse);
    return S_OK;
}

void CGroupListDownload::HandleResponse(const NNTPRESPONSE& response)
{
    const bool ok = SUCCEEDED(response.rIxpResult.hrResult);
    switch (response.state) {
    case NS_CONNECT:
        if (step_ != Step::Connecting || !response.fDone) return;
        if (!ok) {
            if (error_.empty()) Fail("Unable to connect to the server.");
            Disconnect();
            return;
        }
        SendList(descriptions_);
        return;
    case NS_LIST: {
        if (step_ != Step::Descriptions && step_ != Step::List) return;
        if (ok) {
            for (DWORD i = 0; i < response.rList.cLines && response.rList.rgszLines; ++i)
                if (response.rList.rgszLines[i] && AddListLine(response.rList.rgszLines[i])) ++addedThisPass_;
        } else {
            failedThisPass_ = true;
        }
        if (progress_) progress_(groups_.size(), response.fDone && step_ == Step::List && ok);
        if (!response.fDone) return;
        if (step_ == Step::Descriptions) {
            // With or without descriptions, LIST gives the groups that have none.
            SendList(false);
            return;
        }
        if (failedThisPass_) {
            Fail(std::string(kListFailedText) + (response.rIxpResult.pszResponse
                                                     ? std::string("\n   Server response: ") +
                                                           response.rIxpResult.pszResponse
                                                     : std::string()));
            Disconnect();
            return;
        }
        completed_ = true;
        SortGroupsByName(groups_);
        SendNewGroups();
        return;
    }
    case NS_NEWGROUPS:
        if (step_ != Step::NewGroups) return;
        if (ok) {
            for (DWORD i = 0; i < response.rNewgroups.cLines && response.rNewgroups.rgszLines; ++i) {
                const char* line = response.rNewgroups.rgszLines[i];
                if (!line) continue;
                const std::string_view text(line);
                const std::string name(text.substr(0, text.find_first_of(" \t\r\n")));
                if (!names_.contains(name)) continue;
                for (auto& g : groups_)
                    if (g.name == name && !g.isNew) {
                        g.isNew = true;
                        newGroups_.push_back(name);
                    }
            }
        }
        // A failed NEWGROUPS costs only the new marks; the list is complete.
        if (response.fDone) Disconnect();
        return;
    default:
        return;
    }
}

bool CGroupListDownload::AddListLine(std::string_view line)
{
    if (line.empty() || line.front() == '#') return false;
    if (step_ == Step::List) line = line.substr(0, line.find_first_of(" \r\n"));
    std::string padded(kListFieldOffset, ' ');
    padded += line;
    GroupRecord record;
    if (!ParseGroupLine(padded, record)) return false;
    if (step_ == Step::Descriptions && (record.description.empty() || record.description == "?")) return false;
    if (!names_.insert(record.name).second) return false;
    groups_.push_back(std::move(record));
    return true;
}

void CGroupListDownload::SendList(bool descriptions)
{
    step_ = descriptions ? Step::Descriptions : Step::List;
    addedThisPass_ = 0;
    failedThisPass_ = false;
    const HRESULT hr = transport_->CommandLIST(descriptions ? const_cast<LPSTR>(kListNewsgroupsArgument) : nullptr);
    if (FAILED(hr)) {
        Fail(Format("%s\n%08x", kListFailedText, static_cast<unsigned>(hr)));
        Disconnect();
    }
}

void CGroupListDownload::SendNewGroups()
{
    step_ = Step::NewGroups;
    SYSTEMTIME since = newGroupsSince_;
    if (FAILED(transport_->CommandNEWGROUPS(&since, nullptr))) Disconnect();
}

void CGroupListDownload::Disconnect()
{
    step_ = Step::Disconnecting;
    if (FAILED(transport_->Disconnect())) {
        // Nothing more will be reported; the conversation is over here.
        transport_->DropConnection();
        finished_ = true;
    }
}

void CGroupListDownload::Fail(std::string text)
{
    if (error_.empty()) error_ = std::move(text);
}

void FillServerRecord(const NewsAccount& account, INETSERVER& server)
{
    server = INETSERVER{};
    CopyField(server.szAccount, account.Name());
    if (account.Bool(acct::kLogonRequired, false)) {
        CopyField(server.szUserName, account.String(acct::kLogonUser));
        CopyField(server.szPassword, account.String(acct::kLogonPassword));
    }
    CopyField(server.szServerName, account.String(acct::kServer));
    const bool dialup = account.Long(acct::kConnectionType, acct::kConnectionLan) == acct::kConnectionDialup &&
                        !account.String(acct::kDialupName).empty();
    if (dialup) CopyField(server.szConnectoid, account.String(acct::kDialupName));
    server.rasconntype = dialup ? CONNECTION_TYPE_RAS : CONNECTION_TYPE_LAN;
    const LONG port = account.Long(acct::kPort, acct::kDefaultPort);
    server.dwPort = static_cast<DWORD>(port > 0 ? port : acct::kDefaultPort);
    server.fSSL = account.Bool(acct::kSsl, false) ? TRUE : FALSE;
    server.fTrySicily = account.Bool(acct::kUseSpa, false) ? TRUE : FALSE;
    const LONG units = account.Long(acct::kTimeout, acct::kDefaultTimeoutUnits);
    server.dwTimeout = static_cast<DWORD>(units > 0 ? units : acct::kDefaultTimeoutUnits) *
                       static_cast<DWORD>(acct::kTimeoutUnitSeconds);
}

SYSTEMTIME MinutesAgo(DWORD minutes)
{
    constexpr ULONGLONG kTicksPerMinute = 60ULL * 10'000'000ULL;  // FILETIME counts 100 ns
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG back = static_cast<ULONGLONG>(minutes) * kTicksPerMinute;
    const ULONGLONG value = FileTimeToUInt64(now);
    FILETIME then = FileTimeFromUInt64(value > back ? value - back : 0);
    SYSTEMTIME st{};
    FileTimeToSystemTime(&then, &st);
    return st;
}

namespace {

// The news component for the length of one download.
class NewsComponent {
public:
    NewsComponent() : module_(Load()) {}
    ~NewsComponent()
    {
        if (module_) FreeLibrary(module_);
    }
    NewsComponent(const NewsComponent&) = delete;
    NewsComponent& operator=(const NewsComponent&) = delete;

    HRESULT CreateTransport(ComPtr<INNTPTransport>& out, std::string& error) const
    {
        if (!module_) {
            error = std::string("the news component cannot be loaded: ") + LastModuleError();
            return E_FAIL;
        }
        const auto create = reinterpret_cast<PFNCREATENNTPTRANSPORT>(GetProcAddress(module_, kCreateTransportExport));
        if (!create) {
            error = "the news component has no NNTP transport";
            return E_FAIL;
        }
        const HRESULT hr = create(&out);
        if (FAILED(hr) || !out) error = Format("the NNTP transport cannot be created (%08x)", static_cast<unsigned>(hr));
        return FAILED(hr) ? hr : (out ? S_OK : E_FAIL);
    }

private:
    // In a build tree the libraries sit in lib/ beside the programs' bin/;
    // otherwise the name is searched for as usual.
    static HMODULE Load()
    {
        char program[kProgramPathSize];
        const DWORD length = GetModuleFileName(nullptr, program, sizeof program);
        if (length > 0 && length < sizeof program) {
            const auto lib = std::filesystem::path(program).parent_path().parent_path() / "lib";
            std::error_code ec;
            if (std::filesystem::is_regular_file(lib / SharedObjectName(kNewsComponent), ec))
                return LoadLibrary((lib / kNewsComponent).c_str());
        }
        return LoadLibrary(kNewsComponent);
    }

    HMODULE module_;
};

void PumpUntil(const CGroupListDownload& download)
{
    constexpr DWORD kWaitSliceMs = 500;
    MSG msg{};
    while (!download.Finished()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kWaitSliceMs, QS_ALLINPUT);
        while (!download.Finished() && PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessage(&msg);
        }
    }
}

}  // namespace

bool DownloadGroupList(const NewsAccount& account, DownloadedList& out, std::string& error,
                       const CGroupListDownload::Progress& progress, const CGroupListDownload::StatusReport& status)
{
    if (account.String(acct::kServer).empty()) {
        error = "the account names no news server";
        return false;
    }
    DWORD minutes = kDefaultNewNewsgroupsMinutes;
    ReadRegDword(kMainKey, kValNewNewsgroupsTime, minutes, kDefaultNewNewsgroupsMinutes);
    std::string logPath;
    ReadRegString(kMainKey, kValCnpLog, logPath, kDownloadLogBufferSize, "");

    NewsComponent component;  // outlives the transport below
    ComPtr<INNTPTransport> transport;
    if (FAILED(component.CreateTransport(transport, error))) return false;
    INETSERVER server{};
    FillServerRecord(account, server);
    ComPtr<CGroupListDownload> download = ComPtr<CGroupListDownload>::Attach(NewComObject<CGroupListDownload>(
        account.Bool(acct::kUseDescriptions, true), MinutesAgo(minutes), progress, status));
    Trace("quillory groups -- downloading from %s:%u\n", server.szServerName,
          static_cast<unsigned>(server.dwPort));
    download->Start(transport.Get(), server, logPath.empty() ? nullptr : logPath.c_str());
    PumpUntil(*download);
    transport->HandsOffCallback();
    transport.Reset();
    if (!download->Completed()) {
        error = download->ErrorText().empty() ? "the newsgroup list did not arrive" : download->ErrorText();
        return false;
    }
    out.groups = download->TakeGroups();
    out.newGroups = download->NewGroups();
    return true;
}

}  // namespace quillory::host
