// MAPILogonEx, the process's shared session, and the session's profile,
// identity and administration calls. Stores and entries: session_stores.cpp.
#include "platform/mapi/session.h"

#include "platform/base/trace.h"
#include "platform/mapi/addrbook.h"
#include "platform/mapi/profile_section.h"
#include "platform/mapi/profile_tables.h"
#include "platform/mapi/service_admin.h"
#include "platform/mapi/session_impl.h"

namespace quillory {

namespace {

constexpr ULONG kLogonFlags = MAPI_LOGON_UI | MAPI_NEW_SESSION | MAPI_ALLOW_OTHERS | MAPI_EXPLICIT_PROFILE |
                              MAPI_EXTENDED | MAPI_USE_DEFAULT | MAPI_NO_MAIL | MAPI_NT_SERVICE | MAPI_PASSWORD_UI;

struct SharedSession {
    std::mutex mutex;
    // Held strongly: the session stays shared until it is logged off or the
    // last MAPIUninitialize, even while no client holds it.
    ComPtr<CMAPISession> session;
};

SharedSession& Shared()
{
    static SharedSession shared;
    return shared;
}

}  // namespace

void DropSharedSession()
{
    ComPtr<CMAPISession> dropped;
    {
        std::lock_guard lock(Shared().mutex);
        dropped = std::move(Shared().session);
    }
}

HRESULT SessionStatusTable(LPMAPISESSION lpSession, ITableData** lppTableData)
{
    if (!lppTableData) return MAPI_E_INVALID_PARAMETER;
    *lppTableData = nullptr;
    auto* session = dynamic_cast<CMAPISession*>(lpSession);
    if (!session) return MAPI_E_INVALID_PARAMETER;
    return session->StatusTableData(lppTableData);
}

CMAPISession::CMAPISession(ProfileContext ctx) : ctx_(std::move(ctx))
{
    Trace("CMAPISession: logged on to profile %s\n", ctx_.profileName.c_str());
}

CMAPISession::~CMAPISession() { Trace("CMAPISession: profile %s closed\n", ctx_.profileName.c_str()); }

HRESULT CMAPISession::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv, {{&IID_IMAPISession, static_cast<IMAPISession*>(this)}});
}

HRESULT CMAPISession::Fail(HRESULT hr, std::string text)
{
    Trace("CMAPISession: %s (0x%08X)\n", text.c_str(), static_cast<unsigned>(hr));
    std::lock_guard lock(mutex_);
    lastError_ = hr;
    lastErrorText_ = std::move(text);
    return hr;
}

bool CMAPISession::LoggedOff()
{
    std::lock_guard lock(mutex_);
    return loggedOff_;
}

HRESULT CMAPISession::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
{
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    std::lock_guard lock(mutex_);
    const std::string text = hResult == lastError_ && !lastErrorText_.empty() ? lastErrorText_ : "No further information";
    return MakeMapiError(text, "Quillory MAPI session", lppMAPIError);
}

HRESULT CMAPISession::OpenAddressBook(ULONG_PTR ulUIParam, LPCIID lpInterface, ULONG ulFlags, LPADRBOOK* lppAdrBook)
{
    if (!lppAdrBook) return MAPI_E_INVALID_PARAMETER;
    *lppAdrBook = nullptr;
    if (LoggedOff()) return MAPI_E_END_OF_SESSION;
    if (lpInterface && !IsEqualIID(*lpInterface, IID_IAddrBook) && !IsEqualIID(*lpInterface, IID_IMAPIProp) &&
        !IsEqualIID(*lpInterface, IID_IUnknown))
        return Fail(MAPI_E_INTERFACE_NOT_SUPPORTED, "The address book answers IAddrBook");
    ComPtr<IAddrBook> book;
    if (const HRESULT hr = AddressBook(book); FAILED(hr)) return Fail(hr, "The address book could not be opened");
    *lppAdrBook = book.Detach();
    return S_OK;
}

HRESULT CMAPISession::AddressBook(ComPtr<IAddrBook>& out)
{
    std::lock_guard lock(mutex_);
    if (loggedOff_) return MAPI_E_END_OF_SESSION;
    if (!addressBook_)
        if (const HRESULT hr = CreateAddressBook(&addressBook_); FAILED(hr)) return hr;
    out = addressBook_;
    return S_OK;
}

HRESULT CMAPISession::OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags, LPPROFSECT* lppProfSect)
{
    if (!lppProfSect || !lpUID) return MAPI_E_INVALID_PARAMETER;
    *lppProfSect = nullptr;
    if (LoggedOff()) return MAPI_E_END_OF_SESSION;
    if (lpInterface && !IsEqualIID(*lpInterface, IID_IProfSect) && !IsEqualIID(*lpInterface, IID_IMAPIProp) &&
        !IsEqualIID(*lpInterface, IID_IUnknown))
        return Fail(MAPI_E_INTERFACE_NOT_SUPPORTED, "Profile sections answer IProfSect");
    std::string error;
    const HRESULT hr = CProfSect::Open(ctx_.db, ctx_.profile, *lpUID, ulFlags, lppProfSect, &error);
    return FAILED(hr) ? Fail(hr, error.empty() ? "The profile section could not be opened" : error) : S_OK;
}

HRESULT CMAPISession::Advise(ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG* lpulConnection)
{
    if (lpulConnection) *lpulConnection = 0;
    return Fail(MAPI_E_NO_SUPPORT, "Session notifications are not supported; advise the store instead");
}

HRESULT CMAPISession::Unadvise(ULONG) { return Fail(MAPI_E_NO_SUPPORT, "Session notifications are not supported"); }

// The identity is the one the global section names (PR_IDENTITY_DISPLAY,
// PR_EMAIL_ADDRESS, PR_ADDRTYPE, default SMTP); without an address there is
// no service giving one, and the profile name stands in.
HRESULT CMAPISession::QueryIdentity(ULONG* lpcbEntryID, LPENTRYID* lppEntryID)
{
    if (!lpcbEntryID || !lppEntryID) return MAPI_E_INVALID_PARAMETER;
    *lpcbEntryID = 0;
    *lppEntryID = nullptr;
    if (LoggedOff()) return MAPI_E_END_OF_SESSION;
    OneOffEntry identity;
    std::string error;
    HRESULT hr = ctx_.db->Read([&] {
        SectionValues global;
        global.Read(*ctx_.db, ctx_.profile, GlobalSectionUid());
        identity.address = global.String(PR_EMAIL_ADDRESS);
        identity.addressType = global.String(PR_ADDRTYPE);
        identity.displayName = global.String(PR_IDENTITY_DISPLAY);
        return S_OK;
    }, &error);
    if (FAILED(hr)) return Fail(hr, error);
    const bool known = !identity.address.empty();
    if (identity.addressType.empty()) identity.addressType = "SMTP";
    if (identity.displayName.empty()) identity.displayName = known ? identity.address : ctx_.profileName;
    const std::vector<BYTE> id = MakeOneOffEntryId(identity);
    void* p = nullptr;
    if (const SCODE sc = MAPIAllocateBuffer(static_cast<ULONG>(id.size()), &p); FAILED(sc)) return sc;
    std::copy(id.begin(), id.end(), static_cast<BYTE*>(p));
    *lpcbEntryID = static_cast<ULONG>(id.size());
    *lppEntryID = static_cast<LPENTRYID>(p);
    return known ? S_OK : MAPI_W_NO_SERVICE;
}

HRESULT CMAPISession::Logoff(ULONG_PTR ulUIParam, ULONG ulFlags, ULONG ulReserved)
{
    std::map<std::string, ComPtr<IMsgStore>> stores;
    ComPtr<IAddrBook> book;
    ComPtr<ITableData> status;
    {
        std::lock_guard lock(mutex_);
        if (loggedOff_) return MAPI_E_END_OF_SESSION;
        loggedOff_ = true;
        stores.swap(openStores_);
        book = std::move(addressBook_);
        status = std::move(statusTable_);
    }
    for (auto& [uid, store] : stores) {
        ULONG flags = 0;
        if (const HRESULT hr = store->StoreLogoff(&flags); FAILED(hr)) Trace("CMAPISession: store logoff 0x%08X\n", hr);
    }
    // No longer the process's shared session.
    ComPtr<CMAPISession> dropped;
    {
        std::lock_guard lock(Shared().mutex);
        if (Shared().session.Get() == this) dropped = std::move(Shared().session);
    }
    return S_OK;
}

HRESULT CMAPISession::AdminServices(ULONG ulFlags, LPSERVICEADMIN* lppServiceAdmin)
{
    if (!lppServiceAdmin) return MAPI_E_INVALID_PARAMETER;
    *lppServiceAdmin = nullptr;
    if (ulFlags & MAPI_UNICODE) return Fail(MAPI_E_BAD_CHARWIDTH, "Only 8-bit strings are supported");
    if (LoggedOff()) return MAPI_E_END_OF_SESSION;
    *lppServiceAdmin = NewComObject<CMsgServiceAdmin>(ctx_);
    return S_OK;
}

}  // namespace quillory

HRESULT MAPILogonEx(ULONG_PTR ulUIParam, LPSTR lpszProfileName, LPSTR lpszPassword, ULONG ulFlags,
                    LPMAPISESSION* lppSession)
{
    using namespace quillory;
    if (!lppSession) return MAPI_E_INVALID_PARAMETER;
    *lppSession = nullptr;
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    if (ulFlags & ~kLogonFlags) return MAPI_E_UNKNOWN_FLAGS;
    if (!MapiInitialized()) return MAPI_E_NOT_INITIALIZED;

    auto& shared = Shared();
    std::lock_guard lock(shared.mutex);
    if (!(ulFlags & MAPI_NEW_SESSION) && shared.session) {
        *lppSession = ComPtr<CMAPISession>(shared.session).Detach();
        return S_OK;
    }

    std::shared_ptr<ProfileDb> db;
    std::string error;
    if (const HRESULT hr = ProfileDb::Open(db, &error); FAILED(hr)) return hr;
    ProfileContext ctx{db, 0, {}};
    const bool named = lpszProfileName && *lpszProfileName;
    const bool useDefault = (ulFlags & (MAPI_USE_DEFAULT | MAPI_LOGON_UI)) != 0;
    HRESULT hr = db->Read([&]() -> HRESULT {
        std::optional<ProfileRecord> record;
        if (named) {
            record = db->FindProfile(lpszProfileName);
        } else if (useDefault) {
            for (const auto& p : db->Profiles())
                if (p.isDefault) record = p;
        }
        if (!record) return MAPI_E_LOGON_FAILED;
        ctx.profile = record->id;
        ctx.profileName = record->name;
        return S_OK;
    }, &error);
    if (hr == MAPI_E_LOGON_FAILED) {
        Trace("MAPILogonEx: no profile %s\n", named ? lpszProfileName : "(default)");
        return hr;
    }
    if (FAILED(hr)) return hr;

    auto session = ComPtr<CMAPISession>::Attach(NewComObject<CMAPISession>(std::move(ctx)));
    if (ulFlags & MAPI_ALLOW_OTHERS) shared.session = session;
    *lppSession = session.Detach();
    return S_OK;
}
