// A scripted NNTP transport for session and downloader tests: it records the
// commands it is given (as short texts) and answers them with scripted
// results; the test delivers responses itself through the callback.
#pragma once

#include "platform/base/winerror.h"
#include "platform/com/com_ptr.h"
#include "platform/com/stream.h"
#include "platform/inetcomm/nntp/nntp_transport.h"

#include <atomic>
#include <string>
#include <vector>

namespace quillory::testing {

class FakeTransport final : public INNTPTransport {
public:
    // Script.
    HRESULT initResult = S_OK;
    HRESULT connectResult = S_OK;
    HRESULT commandResult = S_OK;
    bool busy = false;
    bool connected = false;

    // Record.
    std::vector<std::string> commands;
    INETSERVER lastServer{};
    INNTPCallback* callback = nullptr;
    std::string logPath;
    bool logPathGiven = false;
    std::string postedText;
    SYSTEMTIME newGroupsSince{};
    int released = 0;  // responses handed back

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_INNTPTransport)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override
    {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT GetServerInfo(LPINETSERVER server) override
    {
        *server = lastServer;
        return S_OK;
    }
    IXPTYPE GetIXPType() override { return IXP_NNTP; }
    HRESULT IsState(IXPISSTATE state) override
    {
        if (state == IXP_IS_BUSY) return busy ? S_OK : S_FALSE;
        if (state == IXP_IS_CONNECTED) return connected ? S_OK : S_FALSE;
        return S_FALSE;
    }
    HRESULT Connect(LPINETSERVER server, BOOL authenticate, BOOL logging) override
    {
        lastServer = *server;
        commands.push_back(std::string("CONNECT ") + server->szServerName + (authenticate ? " auth" : "") +
                           (logging ? " log" : ""));
        return connectResult;
    }
    HRESULT HandsOffCallback() override
    {
        commands.push_back("HANDSOFF");
        if (callback) callback->Release();
        callback = nullptr;
        return S_OK;
    }
    HRESULT Disconnect() override
    {
        commands.push_back("DISCONNECT");
        connected = false;
        return S_OK;
    }
    HRESULT DropConnection() override
    {
        commands.push_back("DROP");
        connected = false;
        return S_OK;
    }
    HRESULT GetStatus(IXPSTATUS* status) override
    {
        *status = connected ? IXP_CONNECTED : IXP_DISCONNECTED;
        return S_OK;
    }
    HRESULT InitNew(LPSTR logFile, INNTPCallback* cb) override
    {
        logPathGiven = logFile != nullptr;
        logPath = logFile ? logFile : "";
        if (FAILED(initResult)) return initResult;
        callback = cb;
        callback->AddRef();
        return S_OK;
    }
    HRESULT CommandGROUP(LPSTR group) override { return Command(std::string("GROUP ") + group); }
    HRESULT CommandARTICLE(LPARTICLEID id) override
    {
        return Command("ARTICLE " + std::to_string(id->idType == AID_ARTICLENUM ? id->dwArticleNum : 0));
    }
    HRESULT CommandPOST(LPNNTPMESSAGE message) override
    {
        postedText.clear();
        std::string text;
        if (message->pstmMsg) ReadWholeStream(message->pstmMsg, text);
        postedText = text.substr(0, message->cbSize);
        return Command("POST " + std::to_string(message->cbSize));
    }
    HRESULT CommandLIST(LPSTR) override { return Command("LIST"); }
    HRESULT CommandNEWGROUPS(SYSTEMTIME* since, LPSTR dist) override
    {
        newGroupsSince = *since;
        return Command(std::string("NEWGROUPS ") + (dist ? dist : "(null)"));
    }
    HRESULT CommandQUIT() override { return Command("QUIT"); }
    HRESULT GetHeaders(LPRANGE range) override
    {
        return Command("HEADERS " + std::to_string(range->dwFirst) + "-" + std::to_string(range->dwLast));
    }
    HRESULT ReleaseResponse(LPNNTPRESPONSE) override
    {
        ++released;
        return S_OK;
    }

    // The commands recorded since the last call.
    std::vector<std::string> Take() { return std::exchange(commands, {}); }

private:
    HRESULT Command(std::string text)
    {
        commands.push_back(std::move(text));
        return commandResult;
    }
    ~FakeTransport() = default;
    std::atomic<ULONG> refs_{1};
};

// A new fake; the caller holds its first reference.
inline ComPtr<FakeTransport> NewFakeTransport() { return ComPtr<FakeTransport>::Attach(new FakeTransport); }

}  // namespace quillory::testing
