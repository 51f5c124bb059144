// CNNTPProto: the provider's one connection to a news server.
//
// It owns the news component's NNTP transport ("inetcomm.dll", loaded by name)
// and is itself the callback object the component calls. It fills the
// component's server record from the account settings array, dials a dial-up
// connection first when the account asks for one, answers the component's
// logon prompt through the GUI library, records the last error, and lets its
// owner wait for the component while the thread keeps its window messages
// flowing.
//
// Everything runs on the thread that created the object: the component calls
// back only while that thread pumps its messages (WaitIdle, the downloader's
// waits, the logon's wait loop). The reference count exists for the component;
// the owner alone decides when the object goes.
#pragma once

#include "common/vismora_api.h"
#include "platform/base/wintypes.h"
#include "platform/com/com_ptr.h"
#include "platform/inetcomm/nntp/nntp_transport.h"
#include "platform/mapi/mapidefs.h"
#include "provider/nntp/dialup.h"

#include <atomic>
#include <span>
#include <string>

namespace quillory::quarnex {

// What a connect answers when its dial-up failed or was cancelled (the
// component's code 0x800CCC12).
constexpr HRESULT kDialupFailed = IXP_E_SOCKET_READ_ERROR;

// Registry buffers: one byte less is read.
constexpr std::size_t kProtoPathBufferSize = 300;

// RecordError's code argument: take the code from the result record.
constexpr HRESULT kErrorFromRecord = 1;

class CNNTPProto : public INNTPCallback {
public:
    CNNTPProto();
    virtual ~CNNTPProto();
    CNNTPProto(const CNNTPProto&) = delete;
    CNNTPProto& operator=(const CNNTPProto&) = delete;

    // IUnknown: IID_IUnknown and the component's two callback interfaces.
    // The count never deletes the object.
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // Callback slots with their base behaviour; the downloader overrides
    // OnTimeout, OnLogonPrompt, OnStatus, OnError and OnResponse.
    HRESULT OnTimeout(DWORD* pdwTimeout, IInternetTransport* pTransport) override;
    HRESULT OnLogonPrompt(INETSERVER* pInetServer, IInternetTransport* pTransport) override;
    INT OnPrompt(HRESULT hrError, LPCSTR pszText, LPCSTR pszCaption, UINT uType,
                 IInternetTransport* pTransport) override;
    HRESULT OnStatus(IXPSTATUS ixpstatus, IInternetTransport* pTransport) override;
    HRESULT OnError(IXPSTATUS ixpstatus, LPIXPRESULT pResult, IInternetTransport* pTransport) override;
    HRESULT OnCommand(CMDTYPE cmdtype, LPSTR pszLine, HRESULT hrResponse, IInternetTransport* pTransport) override;
    HRESULT OnResponse(LPNNTPRESPONSE pResponse) override;

    // Loads "inetcomm.dll" (once), creates the transport and initialises it
    // with the "CNPLOG" command log (none when empty) and this callback.
    // E_FAIL with nothing left loaded when the library or its export is
    // missing; a failing InitNew releases the transport and is returned.
    HRESULT CreateTransport();
    // CreateTransport's second half for a transport made elsewhere (tests
    // hand in their own): InitNew with the command log and this callback,
    // and the transport is kept; a failing InitNew is returned.
    HRESULT InitTransport(INNTPTransport* transport);

    // Fills the server record from the account array, dials when the account
    // asks for a dial-up connection that is not up yet, and starts the
    // transport's connect (authentication and command logging on). E_FAIL
    // without a transport or properties; kDialupFailed when dialling fails or
    // is cancelled; a refused connect is returned. Any failure releases the
    // transport, so a later operation creates a new one.
    HRESULT Connect(std::span<SPropValue> accountProperties);

    // Returns when the transport is not busy (at once without one), pumping
    // this thread's messages meanwhile.
    void WaitIdle();

    // Loads the GUI library ("VISMORA", default "VISMORA.DLL") and binds
    // "ErrorGUI", "FillIS" and "LogonPrompt"; all three or none.
    bool BindGui();

    // Records an error: with kErrorFromRecord the code is the record's result.
    // The record's server response text replaces the error text, else its
    // problem text; with neither the text stays.
    void RecordError(const IXPRESULT* result, HRESULT code);

    // Whether the user changed the credentials in a logon prompt; the owner
    // then writes the account settings back.
    bool CredentialsChanged() const { return credentialsChanged_; }
    // A connect was issued and no disconnection was reported since.
    bool Connected() const { return connected_; }

    // For tests: the record the latest Connect filled, and the transport.
    const INETSERVER& ServerRecord() const { return server_; }
    INNTPTransport* Transport() const { return transport_.Get(); }

protected:
    // The logon prompt as the downloader answers it: with an account array
    // and a record, the GUI library's prompt; S_OK when the user confirmed
    // (noting changed credentials), S_FALSE otherwise.
    HRESULT PromptForLogon(INETSERVER* server);
    void ReleaseTransport();

    // The account array the current job runs for (may be empty).
    std::span<SPropValue> accountProperties_;
    bool credentialsChanged_ = false;
    bool connected_ = false;
    bool done_ = false;
    bool cancelRequested_ = false;
    HRESULT errorCode_ = S_OK;
    std::string errorText_;

    ComPtr<INNTPTransport> transport_;

private:
    void UnbindGui();

    std::atomic<LONG> refs_{0};
    HMODULE inetcomm_ = nullptr;
    PFNCREATENNTPTRANSPORT createTransport_ = nullptr;
    HMODULE gui_ = nullptr;
    vismora::ErrorGuiFn errorGui_ = nullptr;
    vismora::FillIsFn fillIs_ = nullptr;
    vismora::LogonPromptFn logonPrompt_ = nullptr;
    CDialup dialup_;
    DWORD_PTR dialHandle_ = 0;
    bool hangUp_ = false;
    INETSERVER server_{};
};

}  // namespace quillory::quarnex
