#include "common/substitute_session.h"

#include <new>

#include "platform/base/trace.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/session.h"

namespace quillory {

namespace {

constexpr ULONG kLogonFlags = MAPI_ALLOW_OTHERS;             // share the process's session
constexpr ULONG kStoreFlags = MAPI_BEST_ACCESS | MDB_NO_DIALOG;  // 17

unsigned AddressOf(const void* p) { return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p)); }

}  // namespace

CMyMAPISession* CMyMAPISession::Create()
{
    auto* session = new (std::nothrow) CMyMAPISession();
    if (!session) return nullptr;
    session->AddRef();
    Trace("CMyMAPISession created successfuly (%08x)\n", AddressOf(session));
    return session;
}

CMyMAPISession::CMyMAPISession()
{
    if (FAILED(MAPILogonEx(0, nullptr, nullptr, kLogonFlags, &shared_)) || !shared_) {
        shared_ = nullptr;
        return;
    }
    ComPtr<IMAPITable> table;
    if (FAILED(shared_->GetMsgStoresTable(0, &table))) return;
    auto columns = MakeTagArray({PR_DISPLAY_NAME, PR_ENTRYID});
    RowSetPtr rows;
    if (FAILED(table->SetColumns(columns.Get(), 0)) || FAILED(table->QueryRows(kMaxStores, 0, &rows)) || !rows) return;
    for (ULONG i = 0; i < rows->cRows && storeCount_ < kMaxStores; ++i) {
        const SRow& row = rows->aRow[i];
        if (row.cValues < 2 || row.lpProps[1].ulPropTag != PR_ENTRYID) continue;
        const SBinary& eid = row.lpProps[1].Value.bin;
        IMsgStore* store = nullptr;
        if (SUCCEEDED(shared_->OpenMsgStore(0, eid.cb, reinterpret_cast<LPENTRYID>(eid.lpb), nullptr, kStoreFlags,
                                            &store)) &&
            store)
            stores_[storeCount_++] = store;
    }
}

CMyMAPISession::~CMyMAPISession()
{
    Trace("CMyMAPISession - destroying (%08x)\n", AddressOf(this));
    for (ULONG i = 0; i < storeCount_; ++i) stores_[i]->Release();
    shared_ = nullptr;
    Trace("CMyMAPISession destroyed (%08x)\n", AddressOf(this));
}

HRESULT CMyMAPISession::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || (riid == IID_IMAPISession && shared_)) {
        AddRef();
        *ppv = static_cast<IMAPISession*>(this);
        return S_OK;
    }
    if (riid != IID_IMAPISession) Trace("CMyMAPISession - unknown interface called (FAIL) (%08x)\n", AddressOf(this));
    return E_NOINTERFACE;
}

ULONG CMyMAPISession::AddRef() { return refs_.fetch_add(1) + 1; }

ULONG CMyMAPISession::Release()
{
    const ULONG left = refs_.fetch_sub(1) - 1;
    if (left == 0) delete this;
    return left;
}

// Every other call goes to the shared session as it came.
#define QUILLORY_FORWARD(call)                  \
    if (!shared_) return MAPI_E_LOGON_FAILED;  \
    return shared_->call

HRESULT CMyMAPISession::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
{
    QUILLORY_FORWARD(GetLastError(hResult, ulFlags, lppMAPIError));
}
HRESULT CMyMAPISession::GetMsgStoresTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    QUILLORY_FORWARD(GetMsgStoresTable(ulFlags, lppTable));
}
HRESULT CMyMAPISession::OpenMsgStore(ULONG_PTR ulUIParam, ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface,
                                     ULONG ulFlags, LPMDB* lppMDB)
{
    QUILLORY_FORWARD(OpenMsgStore(ulUIParam, cbEntryID, lpEntryID, lpInterface, ulFlags, lppMDB));
}
HRESULT CMyMAPISession::OpenAddressBook(ULONG_PTR ulUIParam, LPCIID lpInterface, ULONG ulFlags, LPADRBOOK* lppAdrBook)
{
    QUILLORY_FORWARD(OpenAddressBook(ulUIParam, lpInterface, ulFlags, lppAdrBook));
}
HRESULT CMyMAPISession::OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags, LPPROFSECT* lppProfSect)
{
    QUILLORY_FORWARD(OpenProfileSection(lpUID, lpInterface, ulFlags, lppProfSect));
}
HRESULT CMyMAPISession::GetStatusTable(ULONG ulFlags, LPMAPITABLE* lppTable)
{
    QUILLORY_FORWARD(GetStatusTable(ulFlags, lppTable));
}
HRESULT CMyMAPISession::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulFlags,
                                  ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    QUILLORY_FORWARD(OpenEntry(cbEntryID, lpEntryID, lpInterface, ulFlags, lpulObjType, lppUnk));
}
HRESULT CMyMAPISession::CompareEntryIDs(ULONG cbEntryID1, LPENTRYID lpEntryID1, ULONG cbEntryID2, LPENTRYID lpEntryID2,
                                        ULONG ulFlags, ULONG* lpulResult)
{
    QUILLORY_FORWARD(CompareEntryIDs(cbEntryID1, lpEntryID1, cbEntryID2, lpEntryID2, ulFlags, lpulResult));
}
HRESULT CMyMAPISession::Advise(ULONG cbEntryID, LPENTRYID lpEntryID, ULONG ulEventMask, LPMAPIADVISESINK lpAdviseSink,
                               ULONG* lpulConnection)
{
    QUILLORY_FORWARD(Advise(cbEntryID, lpEntryID, ulEventMask, lpAdviseSink, lpulConnection));
}
HRESULT CMyMAPISession::Unadvise(ULONG ulConnection) { QUILLORY_FORWARD(Unadvise(ulConnection)); }
HRESULT CMyMAPISession::QueryIdentity(ULONG* lpcbEntryID, LPENTRYID* lppEntryID)
{
    QUILLORY_FORWARD(QueryIdentity(lpcbEntryID, lppEntryID));
}
HRESULT CMyMAPISession::Logoff(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG ulReserved)
{
    QUILLORY_FORWARD(Logoff(ulUIParam, ulFlags, ulReserved));
}
HRESULT CMyMAPISession::SetDefaultStore(ULONG ulFlags, ULONG cbEntryID, LPENTRYID lpEntryID)
{
    QUILLORY_FORWARD(SetDefaultStore(ulFlags, cbEntryID, lpEntryID));
}
HRESULT CMyMAPISession::AdminServices(ULONG ulFlags, LPSERVICEADMIN* lppServiceAdmin)
{
    QUILLORY_FORWARD(AdminServices(ulFlags, lppServiceAdmin));
}

#undef QUILLORY_FORWARD

}  // namespace quillory
