// CMAPIStatus: properties, the folder behind the object and ValidateState.
#include "provider/status/mapi_status.h"

#include "common/result_mapping.h"
#include "platform/base/trace.h"
#include "provider/logon/xp_logon.h"
#include "provider/status/status_props.h"

namespace quillory {

CMAPIStatus::CMAPIStatus(CXPLogon& logon) : logon_(&logon) {}

CMAPIStatus::~CMAPIStatus() = default;

void CMAPIStatus::DetachLogon()
{
    folder_.reset();
    logon_ = nullptr;
}

HRESULT CMAPIStatus::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMAPIProp) || IsEqualIID(riid, IID_IMAPIStatus)) {
        AddRef();
        *ppv = static_cast<IMAPIStatus*>(this);
        return S_OK;
    }
    if (IsEqualIID(riid, IID_IMAPIFolder)) {
        IHeaderFolder* folder = Headers();
        if (!folder || !folder->Folder()) return E_FAIL;
        folder->Folder()->AddRef();
        *ppv = folder->Folder();
        return S_OK;
    }
    return E_NOINTERFACE;
}

quarnex::CMAPIFolder* CMAPIStatus::HeaderFolder()
{
    IHeaderFolder* folder = Headers();
    return folder ? folder->Concrete() : nullptr;
}

IHeaderFolder* CMAPIStatus::Headers()
{
    if (!folder_ && logon_) {
        if (const HRESULT hr = NewHeaderFolder(*this, *logon_, folder_); FAILED(hr)) {
            Trace("CMAPIStatus::HeaderFolder -- not created: 0x%08X\n", static_cast<unsigned>(hr));
            folder_.reset();
        }
    }
    return folder_.get();
}

HRESULT CMAPIStatus::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
{
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    if (lppMAPIError) *lppMAPIError = nullptr;
    return S_OK;
}

HRESULT CMAPIStatus::GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags, ULONG* lpcValues,
                              LPSPropValue* lppPropArray)
{
    if (!lpcValues || !lppPropArray) return E_INVALIDARG;
    *lpcValues = 0;
    *lppPropArray = nullptr;
    if (!logon_) return MAPI_E_OBJECT_DELETED;
    const ULONG count = lpPropTagArray ? lpPropTagArray->cValues : static_cast<ULONG>(kStatusPropList.size());
    auto tagAt = [&](ULONG i) { return lpPropTagArray ? lpPropTagArray->aulPropTag[i] : kStatusPropList[i]; };
    LPSPropValue values = nullptr;
    if (const SCODE sc = quarnex::AllocateBuffer(count * sizeof(SPropValue), reinterpret_cast<void**>(&values));
        FAILED(sc))
        return sc;
    bool errors = false;
    for (ULONG i = 0; i < count; ++i) {
        values[i] = SPropValue{};
        if (FAILED(FillStatusProp(*logon_, tagAt(i), values, values[i]))) errors = true;
    }
    *lpcValues = count;
    *lppPropArray = values;
    return errors ? MAPI_W_ERRORS_RETURNED : S_OK;
}

HRESULT CMAPIStatus::GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray)
{
    if (!lppPropTagArray) return E_INVALIDARG;
    *lppPropTagArray = nullptr;
    LPSPropTagArray tags = nullptr;
    const ULONG n = static_cast<ULONG>(kStatusPropList.size());
    if (const SCODE sc = quarnex::AllocateBuffer(CbNewSPropTagArray(n), reinterpret_cast<void**>(&tags)); FAILED(sc))
        return sc;
    tags->cValues = n;
    for (ULONG i = 0; i < n; ++i) tags->aulPropTag[i] = kStatusPropList[i];
    *lppPropTagArray = tags;
    return S_OK;
}

HRESULT CMAPIStatus::OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN* lppUnk)
{
    if (lppUnk) *lppUnk = nullptr;
    return MAPI_E_NO_SUPPORT;
}

HRESULT CMAPIStatus::SetProps(ULONG, LPSPropValue, LPSPropProblemArray* lppProblems)
{
    if (lppProblems) *lppProblems = nullptr;
    return MAPI_E_NO_SUPPORT;
}

HRESULT CMAPIStatus::DeleteProps(LPSPropTagArray, LPSPropProblemArray* lppProblems)
{
    if (lppProblems) *lppProblems = nullptr;
    return MAPI_E_NO_SUPPORT;
}

HRESULT CMAPIStatus::CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, void*, ULONG,
                            LPSPropProblemArray* lppProblems)
{
    if (lppProblems) *lppProblems = nullptr;
    return MAPI_E_NO_SUPPORT;
}

HRESULT CMAPIStatus::CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, void*, ULONG,
                               LPSPropProblemArray* lppProblems)
{
    if (lppProblems) *lppProblems = nullptr;
    return MAPI_E_NO_SUPPORT;
}

HRESULT CMAPIStatus::GetNamesFromIDs(LPSPropTagArray*, GUID*, ULONG, ULONG* lpcPropNames,
                                     LPMAPINAMEID** lpppPropNames)
{
    if (lpcPropNames) *lpcPropNames = 0;
    if (lpppPropNames) *lpppPropNames = nullptr;
    return MAPI_E_NO_SUPPORT;
}

HRESULT CMAPIStatus::GetIDsFromNames(ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray* lppPropTags)
{
    if (lppPropTags) *lppPropTags = nullptr;
    return MAPI_E_NO_SUPPORT;
}

HRESULT CMAPIStatus::CollectResult()
{
    return MapReportedResult(logon_->LastResult());
}

HRESULT CMAPIStatus::ValidateState(ULONG_PTR ulUIParam, ULONG ulFlags)
{
    if (ulFlags & ~kValidateStateFlags) return MAPI_E_UNKNOWN_FLAGS;
    if (ulFlags & SHOW_XP_SESSION_UI) return MAPI_E_NO_SUPPORT;
    if (!logon_) return MAPI_E_OBJECT_DELETED;
    CXPLogon& logon = *logon_;

    if (ulFlags & ABORT_XP_HEADER_OPERATION) {
        if (logon.Busy()) {
            logon.RequestAbort();
            return MAPI_E_BUSY;
        }
        if (logon.StatusCode() & kInboundBusyBits) {
            logon.SetStatusCode((logon.StatusCode() & ~kInboundBusyBits) | STATUS_OFFLINE);
            logon.UpdateStatusRow(true, true);
            logon.SetState(HeaderState::Idle);
        }
        return S_OK;
    }

    bool refresh = (ulFlags & REFRESH_XP_HEADER_CACHE) != 0;
    if (ulFlags & PROCESS_XP_HEADER_CACHE) {
        if (logon.State() == HeaderState::Finished) {
            logon.SetStatusCode((logon.StatusCode() & ~kInboundBusyBits) | STATUS_OFFLINE);
            logon.SetState(HeaderState::Idle);
            logon.UpdateStatusRow(true, false);
            return CollectResult();
        }
        if (logon.Busy()) return MAPI_E_BUSY;
        if (logon.State() == HeaderState::Idle) {
            logon.ClearAbort();
            logon.SetState(HeaderState::ProcessRequested);
            logon.SetStatusCode((logon.StatusCode() | kInboundBusyBits) & ~STATUS_OFFLINE);
            logon.UpdateStatusRow(false);
            return MAPI_E_BUSY;
        }
        refresh = true;
    }
    if (refresh) {
        if (logon.State() == HeaderState::Finished) {
            logon.SetStatusCode(logon.StatusCode() | STATUS_OFFLINE);
            logon.SetState(HeaderState::Idle);
            logon.UpdateStatusRow(false);
            return CollectResult();
        }
        if (logon.Busy()) {
            logon.ClearAbort();
            return MAPI_E_BUSY;
        }
        if (logon.State() == HeaderState::Idle) {
            logon.ClearAbort();
            logon.SetState(HeaderState::RefreshRequested);
            logon.SetStatusCode((logon.StatusCode() | kInboundBusyBits) & ~STATUS_OFFLINE);
            logon.UpdateStatusRow(false);
            return MAPI_E_BUSY;
        }
    }
    // FORCE_XP_CONNECT and FORCE_XP_DISCONNECT are accepted and ignored.
    return S_OK;
}

}  // namespace quillory
