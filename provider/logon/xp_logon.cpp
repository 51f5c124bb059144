// CXPLogon: life cycle, the small IXPLogon methods, TransportNotify and the
// status row.
#include "provider/logon/xp_logon.h"

#include "platform/base/resource.h"
#include "platform/base/trace.h"
#include "provider/status/mapi_status.h"
#include "provider/status/status_props.h"

namespace quillory {

CXPLogon::CXPLogon(LPMAPISUP support) : support_(support)
{
    Trace("CXPLogon::CXPLogon() -- start\n");
}

CXPLogon::~CXPLogon()
{
    // The downloader goes first: closing it while connected writes the
    // settings back through the support object.
    CloseDownloader();
    if (CMAPIStatus* status = std::exchange(status_, nullptr)) {
        status->DetachLogon();
        status->Release();
    }
    account_.Reset();
    support_.Reset();
    senderEntryId_.Reset();
    baseStore_.Reset();
    Trace("CXPLogon::~CXPLogon() -- end\n");
}

HRESULT CXPLogon::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv, {{&IID_IXPLogon, static_cast<IXPLogon*>(this)}});
}

bool CXPLogon::Busy() const
{
    return state_ == HeaderState::Busy || state_ == HeaderState::RefreshRequested ||
           state_ == HeaderState::ProcessRequested;
}

HRESULT CXPLogon::Initialise(ULONG logonFlags)
{
    resourceFlags_ = kInitialResourceFlags;
    if (const HRESULT hr = LoadAccountSettings(false); FAILED(hr))
        Trace("CXPLogon::Initialise -- account settings not loaded: 0x%08X\n", static_cast<unsigned>(hr));
    statusCode_ = STATUS_AVAILABLE | STATUS_OFFLINE | STATUS_REMOTE_ACCESS;
    if (!(logonFlags & LOGON_NO_INBOUND)) statusCode_ |= STATUS_INBOUND_ENABLED;
    if (!(logonFlags & LOGON_NO_OUTBOUND)) statusCode_ |= STATUS_OUTBOUND_ENABLED;

    remoteValidateOk_ = 1;
    ULONG count = 0;
    LPSPropValue row = nullptr;
    if (SUCCEEDED(BuildStatusRow(*this, &count, &row))) {
        if (const HRESULT hr = support_->ModifyStatusRow(count, row, 0); FAILED(hr))
            Trace("CXPLogon::Initialise -- ModifyStatusRow: 0x%08X\n", static_cast<unsigned>(hr));
        quarnex::FreeBuffer(row);
    }
    state_ = HeaderState::Idle;
    return S_OK;
}

HRESULT CXPLogon::AddressTypes(ULONG* lpulFlags, ULONG* lpcAdrType, LPSTR** lpppszAdrTypeArray, ULONG* lpcMAPIUID,
                               LPMAPIUID** lpppUIDArray)
{
    // The arrays stay valid as long as the logon: the spooler only reads them.
    static char addressType[] = "NNTP";
    static LPSTR addressTypes[] = {addressType};
    static MAPIUID uid = kProviderUid;
    static LPMAPIUID uids[] = {&uid};
    if (lpulFlags) *lpulFlags = quarnex::LogonCharWidthFlag();
    if (lpcAdrType) *lpcAdrType = 1;
    if (lpppszAdrTypeArray) *lpppszAdrTypeArray = addressTypes;
    if (lpcMAPIUID) *lpcMAPIUID = 1;
    if (lpppUIDArray) *lpppUIDArray = uids;
    return S_OK;
}

HRESULT CXPLogon::RegisterOptions(ULONG* lpulFlags, ULONG* lpcOptions, LPOPTIONDATA* lppOptions)
{
    // No host here carries the progress object of the one host version that
    // had it, so there is no progress sink to pick up.
    if (lpulFlags) *lpulFlags = quarnex::LogonCharWidthFlag();
    if (lpcOptions) *lpcOptions = 0;
    if (lppOptions) *lppOptions = nullptr;
    return S_OK;
}

HRESULT CXPLogon::TransportNotify(ULONG* lpulFlags, LPVOID* lppvData)
{
    const ULONG flags = lpulFlags ? *lpulFlags : 0;
    const ULONG before = statusCode_;
    statusCode_ = (statusCode_ & ~STATUS_OFFLINE) | STATUS_AVAILABLE;

    if (flags & NOTIFY_BEGIN_INBOUND) statusCode_ |= STATUS_INBOUND_ENABLED;
    if (flags & NOTIFY_END_INBOUND) statusCode_ &= ~STATUS_INBOUND_ENABLED;
    if (flags & NOTIFY_BEGIN_OUTBOUND) {
        lastResult_ = EnsureDownloader();
        statusCode_ |= STATUS_OUTBOUND_ENABLED;
    }
    if (flags & NOTIFY_END_OUTBOUND) statusCode_ &= ~STATUS_OUTBOUND_ENABLED;
    if (flags & NOTIFY_BEGIN_OUTBOUND_FLUSH) {
        statusCode_ |= kOutboundBusyBits;
        support_->SpoolerNotify(NOTIFY_SENTDEFERRED, nullptr);
    }
    if ((flags & NOTIFY_END_INBOUND_FLUSH) && state_ != HeaderState::Idle) {
        IHeaderFolder* folder = Headers();
        LPSRowSet marked = nullptr;
        const bool anyMarked = Busy() && folder && SUCCEEDED(folder->FirstMarkedRow(&marked)) && marked &&
                               marked->cRows > 0;
        if (marked) FreeProws(marked);
        if (anyMarked) {
            statusCode_ |= kInboundBusyBits;
            UpdateStatusRow(false);
            statusCode_ &= ~STATUS_INBOUND_ACTIVE;
            UpdateStatusRow(false);
        } else {
            statusCode_ = (statusCode_ & ~kInboundBusyBits) | STATUS_OFFLINE;
            if (!(statusCode_ & kAllBusyBits)) CloseDownloader();
        }
    }
    if (flags & NOTIFY_END_OUTBOUND_FLUSH) statusCode_ &= ~kOutboundBusyBits;
    // NOTIFY_ABORT_DEFERRED and NOTIFY_CANCEL_MESSAGE need nothing.
    if (statusCode_ != before) UpdateStatusRow(false);
    return S_OK;
}

HRESULT CXPLogon::TransportLogoff(ULONG ulFlags)
{
    Trace("CXPLogon::TransportLogoff -- start\n");
    if (support_) support_->ModifyStatusRow(0, nullptr, 0);
    if (CMAPIStatus* status = std::exchange(status_, nullptr)) {
        status->DetachLogon();
        status->Release();
    }
    CloseDownloader();
    return S_OK;
}

HRESULT CXPLogon::EndMessage(ULONG_PTR ulMsgRef, ULONG* lpulFlags)
{
    if (lpulFlags) *lpulFlags = 0;
    return S_OK;
}

HRESULT CXPLogon::Poll(ULONG* lpulIncoming)
{
    if (!lpulIncoming) return E_INVALIDARG;
    IHeaderFolder* folder = status_ ? status_->ExistingHeaders() : nullptr;
    *lpulIncoming = folder ? folder->RowCount() : 0;
    return S_OK;
}

HRESULT CXPLogon::OpenStatusEntry(LPCIID lpInterface, ULONG ulFlags, ULONG* lpulObjType, LPMAPISTATUS* lppEntry)
{
    if (!lppEntry) return E_INVALIDARG;
    *lppEntry = nullptr;
    if (ulFlags & MAPI_MODIFY) return E_ACCESSDENIED;
    if (!status_) {
        try {
            status_ = NewComObject<CMAPIStatus>(*this);
        } catch (const std::bad_alloc&) {
            return E_FAIL;
        }
    }
    status_->AddRef();
    *lppEntry = status_;
    if (lpulObjType) *lpulObjType = MAPI_STATUS;
    return S_OK;
}

HRESULT CXPLogon::ValidateState(ULONG_PTR ulUIParam, ULONG ulFlags)
{
    if (!baseStore_) {
        if (const HRESULT hr = LoadAccountSettings(false); FAILED(hr))
            Trace("CXPLogon::ValidateState -- settings: 0x%08X\n", static_cast<unsigned>(hr));
    }
    return S_OK;
}

void CXPLogon::UpdateStatusRow(bool writeValidate, bool validateOk)
{
    if (!support_) return;
    char text[256] = {};
    LoadString(quarnex::ModuleInstance(), StatusTextId(statusCode_), text, sizeof text);
    SPropValue values[3] = {};
    values[0].ulPropTag = PR_STATUS_CODE;
    values[0].Value.l = static_cast<LONG>(statusCode_);
    values[1].ulPropTag = PR_STATUS_STRING;
    values[1].Value.lpszA = text;
    ULONG count = 2;
    if (writeValidate) {
        values[2].ulPropTag = PR_REMOTE_VALIDATE_OK;
        values[2].Value.b = validateOk ? 1 : 0;
        remoteValidateOk_ = validateOk ? 1 : 0;
        count = 3;
    }
    if (const HRESULT hr = support_->ModifyStatusRow(count, values, STATUSROW_UPDATE); FAILED(hr))
        Trace("CXPLogon::UpdateStatusRow -- 0x%08X\n", static_cast<unsigned>(hr));
}

IHeaderFolder* CXPLogon::Headers() const { return status_ ? status_->Headers() : nullptr; }

}  // namespace quillory
