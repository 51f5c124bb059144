#include "provider/nntp/nntp_proto.h"

#include "common/regstore.h"
#include "platform/base/module.h"
#include "platform/base/msgbox.h"
#include "platform/base/trace.h"
#include "platform/base/window.h"
#include "platform/base/winerror.h"
#include "provider/entry/module_state.h"
#include "common/server_record.h"

namespace quillory::quarnex {
namespace {

constexpr const char* kInetcommModule = "inetcomm.dll";
constexpr const char* kCreateTransportExport = "CreateNNTPTransport";
// How long one wait for input lasts while the component is busy.
constexpr DWORD kIdleWaitMs = 500;

}  // namespace

CNNTPProto::CNNTPProto() = default;

CNNTPProto::~CNNTPProto()
{
    if (hangUp_ && dialup_.DialBound()) dialup_.HangUp(dialHandle_);
    ReleaseTransport();
    if (inetcomm_) FreeLibrary(inetcomm_);
    UnbindGui();
}

// ---- IUnknown --------------------------------------------------------------

HRESULT CNNTPProto::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ITransportCallback) ||
        IsEqualIID(riid, IID_INNTPCallback)) {
        *ppv = static_cast<INNTPCallback*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CNNTPProto::AddRef() { return static_cast<ULONG>(++refs_); }

// The owner, not the count, ends the object's life.
ULONG CNNTPProto::Release() { return static_cast<ULONG>(--refs_); }

// ---- Callback slots: base behaviour ------------------------------------------

HRESULT CNNTPProto::OnTimeout(DWORD*, IInternetTransport*) { return S_FALSE; }

HRESULT CNNTPProto::OnLogonPrompt(INETSERVER*, IInternetTransport*) { return S_FALSE; }

INT CNNTPProto::OnPrompt(HRESULT, LPCSTR pszText, LPCSTR pszCaption, UINT uType, IInternetTransport*)
{
    return MessageBox(nullptr, pszText, pszCaption, uType);
}

HRESULT CNNTPProto::OnStatus(IXPSTATUS, IInternetTransport*) { return S_OK; }

HRESULT CNNTPProto::OnError(IXPSTATUS, LPIXPRESULT, IInternetTransport*) { return S_OK; }

HRESULT CNNTPProto::OnCommand(CMDTYPE, LPSTR, HRESULT, IInternetTransport*) { return S_OK; }

HRESULT CNNTPProto::OnResponse(LPNNTPRESPONSE pResponse)
{
    // Nothing to do with it, but its memory goes back all the same.
    if (pResponse && pResponse->fMustRelease && pResponse->pTransport)
        pResponse->pTransport->ReleaseResponse(pResponse);
    return S_OK;
}

// ---- Operations ---------------------------------------------------------------

HRESULT CNNTPProto::CreateTransport()
{
    if (!inetcomm_) {
        inetcomm_ = LoadLibrary(kInetcommModule);
        if (!inetcomm_) {
            Trace("CNNTPProto::CreateTransport -- %s not loaded\n", kInetcommModule);
            return E_FAIL;
        }
        createTransport_ = reinterpret_cast<PFNCREATENNTPTRANSPORT>(GetProcAddress(inetcomm_, kCreateTransportExport));
        if (!createTransport_) {
            Trace("CNNTPProto::CreateTransport -- no %s\n", kCreateTransportExport);
            FreeLibrary(inetcomm_);
            inetcomm_ = nullptr;
            return E_FAIL;
        }
    }
    ComPtr<INNTPTransport> transport;
    const HRESULT hr = createTransport_(&transport);
    if (FAILED(hr)) return hr;
    return transport ? InitTransport(transport.Get()) : E_FAIL;
}

HRESULT CNNTPProto::InitTransport(INNTPTransport* transport)
{
    if (!transport) return E_INVALIDARG;
    ComPtr<INNTPTransport> keep(transport);
    ReleaseTransport();
    std::string logPath;
    ReadRegString(kMainKey, kValCnpLog, logPath, kProtoPathBufferSize, "");
    const HRESULT hr = transport->InitNew(logPath.empty() ? nullptr : logPath.data(), this);
    if (FAILED(hr)) {
        Trace("CNNTPProto::InitTransport -- InitNew failed %08x\n", static_cast<unsigned>(hr));
        return hr;
    }
    transport_ = std::move(keep);
    return S_OK;
}

HRESULT CNNTPProto::Connect(std::span<SPropValue> accountProperties)
{
    if (!transport_ || accountProperties.empty()) return E_FAIL;
    FillServerRecord(accountProperties, server_);

    if (WantsDialup(accountProperties)) {
        const std::string_view name = AccountString(accountProperties, acct::kDialupName);
        // A connection this session dialled earlier and that is still up
        // keeps its handle, so that it is still hung up at the end.
        if (!dialup_.IsConnectionUp(name)) {
            if (hangUp_ && dialup_.DialBound()) dialup_.HangUp(dialHandle_);
            dialHandle_ = 0;
            hangUp_ = false;
            const LONG options = AccountLong(accountProperties, acct::kDialupFlags);
            DWORD_PTR handle = 0;
            if (dialup_.Dial(name, (options & acct::kDialupUnattended) != 0, handle) != 0) {
                ReleaseTransport();
                return kDialupFailed;
            }
            dialHandle_ = handle;
            hangUp_ = (options & acct::kDialupHangUp) != 0;
        }
    }

    const HRESULT hr = transport_->Connect(&server_, TRUE, TRUE);
    if (FAILED(hr)) {
        Trace("CNNTPProto::Connect -- refused %08x\n", static_cast<unsigned>(hr));
        ReleaseTransport();
    }
    return hr;
}

void CNNTPProto::WaitIdle()
{
    while (transport_ && transport_->IsState(IXP_IS_BUSY) == S_OK) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, kIdleWaitMs, QS_ALLINPUT) != WAIT_OBJECT_0) continue;
        MSG msg;
        if (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessage(&msg);
        }
    }
}

bool CNNTPProto::BindGui()
{
    if (gui_ && logonPrompt_) return true;
    std::string name;
    ReadRegString(kMainKey, kValVismora, name, kProtoPathBufferSize, kDefaultVismora);
    gui_ = LoadLibrary(name.c_str());
    if (!gui_) {
        Trace("CNNTPProto::BindGui -- %s not loaded\n", name.c_str());
        return false;
    }
    errorGui_ = reinterpret_cast<vismora::ErrorGuiFn>(GetProcAddress(gui_, vismora::kErrorGui));
    fillIs_ = reinterpret_cast<vismora::FillIsFn>(GetProcAddress(gui_, vismora::kFillIs));
    logonPrompt_ = reinterpret_cast<vismora::LogonPromptFn>(GetProcAddress(gui_, vismora::kLogonPrompt));
    if (errorGui_ && fillIs_ && logonPrompt_) return true;
    Trace("CNNTPProto::BindGui -- %s lacks an entry\n", name.c_str());
    UnbindGui();
    return false;
}

void CNNTPProto::RecordError(const IXPRESULT* result, HRESULT code)
{
    if (code == kErrorFromRecord) code = result ? result->hrResult : E_FAIL;
    errorCode_ = code;
    if (!result) return;
    if (result->pszResponse && *result->pszResponse)
        errorText_ = result->pszResponse;
    else if (result->pszProblem && *result->pszProblem)
        errorText_ = result->pszProblem;
}

HRESULT CNNTPProto::PromptForLogon(INETSERVER* server)
{
    if (accountProperties_.empty() || !server || !BindGui()) return S_FALSE;
    ULONG changed = 0;
    if (!logonPrompt_(accountProperties_.data(), server, ModuleAllocators().allocateMore, &changed)) return S_FALSE;
    if (changed) credentialsChanged_ = true;
    return S_OK;
}

void CNNTPProto::ReleaseTransport()
{
    if (!transport_) return;
    transport_->HandsOffCallback();
    transport_->DropConnection();
    transport_.Reset();
}

void CNNTPProto::UnbindGui()
{
    errorGui_ = nullptr;
    fillIs_ = nullptr;
    logonPrompt_ = nullptr;
    if (gui_) FreeLibrary(gui_);
    gui_ = nullptr;
}

}  // namespace quillory::quarnex
