// A recording NNTP callback for the transport tests, and the message pump
// that lets the transport deliver to it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/time.h"
#include "platform/base/window.h"
#include "platform/inetcomm/nntp/nntp_transport.h"

namespace quillory::nntp::testing {

// What one OnResponse delivered, copied out before the response is released.
struct SeenResponse {
    NNTPSTATE state;
    bool done;
    HRESULT hr;
    std::string response;
    std::string problem;
    NNTPGROUP group{};
    std::vector<NNTPHEADER> headers;       // pointers are cleared; see headerIds
    std::vector<std::string> headerIds;    // message-ids of the headers
    std::vector<std::string> headerSubjects;
    std::string article;
    std::vector<std::string> lines;
};

class CTestCallback final : public INNTPCallback {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ITransportCallback) ||
            IsEqualIID(riid, IID_INNTPCallback)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }

    HRESULT OnTimeout(DWORD* pdwTimeout, IInternetTransport*) override
    {
        CheckThread();
        timeouts.push_back(*pdwTimeout);
        if (onTimeout) return onTimeout(pdwTimeout);
        return S_FALSE;
    }
    HRESULT OnLogonPrompt(LPINETSERVER server, IInternetTransport*) override
    {
        CheckThread();
        ++logonPrompts;
        if (onLogon) return onLogon(server);
        return S_FALSE;
    }
    INT OnPrompt(HRESULT, LPCSTR, LPCSTR, UINT, IInternetTransport*) override { return 0; }
    HRESULT OnStatus(IXPSTATUS status, IInternetTransport*) override
    {
        CheckThread();
        statuses.push_back(status);
        return S_OK;
    }
    HRESULT OnError(IXPSTATUS status, LPIXPRESULT result, IInternetTransport*) override
    {
        CheckThread();
        errorStatuses.push_back(status);
        errors.push_back(result->hrResult);
        errorProblems.push_back(result->pszProblem ? result->pszProblem : "");
        errorResponses.push_back(result->pszResponse ? result->pszResponse : "");
        return S_OK;
    }
    HRESULT OnCommand(CMDTYPE type, LPSTR line, HRESULT, IInternetTransport*) override
    {
        CheckThread();
        commands.push_back(std::string(type == CMD_SEND ? "> " : "< ") + line);
        return S_OK;
    }
    HRESULT OnResponse(LPNNTPRESPONSE r) override
    {
        CheckThread();
        SeenResponse seen{};
        seen.state = r->state;
        seen.done = r->fDone != FALSE;
        seen.hr = r->rIxpResult.hrResult;
        seen.response = r->rIxpResult.pszResponse ? r->rIxpResult.pszResponse : "";
        seen.problem = r->rIxpResult.pszProblem ? r->rIxpResult.pszProblem : "";
        if (r->state == NS_GROUP) {
            seen.group = r->rGroup;
            seen.group.pszGroup = nullptr;
        } else if (r->state == NS_HEADERS) {
            for (DWORD i = 0; i < r->rHeaders.cHeaders; ++i) {
                NNTPHEADER h = r->rHeaders.rgHeaders[i];
                seen.headerIds.emplace_back(h.pszMessageId);
                seen.headerSubjects.emplace_back(h.pszSubject);
                h.pszSubject = h.pszFrom = h.pszDate = h.pszMessageId = h.pszReferences = h.pszXref = nullptr;
                seen.headers.push_back(h);
            }
        } else if (r->state == NS_ARTICLE) {
            seen.article.assign(r->rArticle.pszLines, r->rArticle.cbLines);
        } else if (r->state == NS_LIST || r->state == NS_NEWGROUPS) {
            for (DWORD i = 0; i < r->rList.cLines; ++i) seen.lines.emplace_back(r->rList.rgszLines[i]);
        }
        responses.push_back(std::move(seen));
        if (r->fMustRelease) r->pTransport->ReleaseResponse(r);
        if (onResponse) onResponse(responses.back());
        return S_OK;
    }

    // The last final response of a state, or null.
    const SeenResponse* Final(NNTPSTATE state) const
    {
        for (auto it = responses.rbegin(); it != responses.rend(); ++it)
            if (it->state == state && it->done) return &*it;
        return nullptr;
    }
    bool Disconnected() const { return Final(NS_DISCONNECTED) != nullptr; }
    // The article text of all parts of the last ARTICLE answer.
    std::string Article() const
    {
        std::string text;
        for (const auto& r : responses)
            if (r.state == NS_ARTICLE) text += r.article;
        return text;
    }

    std::thread::id owner = std::this_thread::get_id();
    ULONG refs = 1;
    std::vector<IXPSTATUS> statuses;
    std::vector<IXPSTATUS> errorStatuses;
    std::vector<HRESULT> errors;
    std::vector<std::string> errorProblems, errorResponses;
    std::vector<std::string> commands;
    std::vector<SeenResponse> responses;
    std::vector<DWORD> timeouts;
    int logonPrompts = 0;
    bool wrongThread = false;
    std::function<HRESULT(DWORD*)> onTimeout;
    std::function<HRESULT(LPINETSERVER)> onLogon;
    std::function<void(const SeenResponse&)> onResponse;

private:
    void CheckThread()
    {
        if (std::this_thread::get_id() != owner) wrongThread = true;
    }
};

// Pumps this thread's messages, as the provider's wait loop does, until
// `done` holds or the time runs out; returns whether `done` held.
inline bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT) == WAIT_OBJECT_0) {
            MSG msg;
            while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessage(&msg);
            }
        }
    }
    return true;
}

inline INETSERVER MakeServer(const char* host, DWORD port, bool ssl = false, DWORD timeout = 10)
{
    INETSERVER s{};
    std::strncpy(s.szServerName, host, sizeof s.szServerName - 1);
    std::strcpy(s.szAccount, "test account");
    s.dwPort = port;
    s.fSSL = ssl ? TRUE : FALSE;
    s.dwTimeout = timeout;
    return s;
}

}  // namespace quillory::nntp::testing
