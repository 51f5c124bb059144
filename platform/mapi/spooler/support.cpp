// The support object: profile sections, the status row, the spooler's
// yield and notification calls, entries, the address book and identities.
// Non-delivery reports: support_ndr.cpp.
#include "platform/mapi/spooler/support.h"

#include <cstring>

#include "platform/base/trace.h"
#include "platform/mapi/addrbook.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/profile_section.h"
#include "platform/mapi/profile_tables.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/session.h"
#include "platform/mapi/session_impl.h"

namespace quillory {

namespace {

constexpr const char* kComponent = "Quillory spooler";

}  // namespace

HRESULT CMAPISupport::ForTransport(LPMAPISESSION session, const StatusRowIdentity& row, ComPtr<CMAPISupport>& out)
{
    out = nullptr;
    auto* impl = dynamic_cast<CMAPISession*>(session);
    if (!impl) return MAPI_E_INVALID_PARAMETER;
    ComPtr<ITableData> table;
    if (const HRESULT hr = SessionStatusTable(session, &table); FAILED(hr)) return hr;
    auto support = ComPtr<CMAPISupport>::Attach(
        NewComObject<CMAPISupport>(impl->Context(), row.provider, ComPtr<IMAPISession>(session), table, row));
    if (const HRESULT hr = support->WriteRow(CPropertyBag{}); FAILED(hr)) return hr;
    out = std::move(support);
    return S_OK;
}

ComPtr<CMAPISupport> CMAPISupport::ForConfiguration(const ProfileContext& ctx, const MAPIUID& service)
{
    return ComPtr<CMAPISupport>::Attach(NewComObject<CMAPISupport>(ctx, service, nullptr, nullptr, StatusRowIdentity{}));
}

CMAPISupport::CMAPISupport(ProfileContext ctx, const MAPIUID& ownSection, ComPtr<IMAPISession> session,
                           ComPtr<ITableData> statusTable, StatusRowIdentity row)
    : ctx_(std::move(ctx)), ownSection_(ownSection), session_(std::move(session)),
      statusTable_(std::move(statusTable)), row_(std::move(row))
{
}

HRESULT CMAPISupport::QueryInterface(REFIID riid, void** ppv)
{
    return QueryInterfaceTable(riid, ppv, {{&IID_IMAPISup, static_cast<IMAPISupport*>(this)}});
}

HRESULT CMAPISupport::Fail(HRESULT hr, std::string text)
{
    Trace("CMAPISupport: %s (0x%08X)\n", text.c_str(), static_cast<unsigned>(hr));
    std::lock_guard lock(mutex_);
    lastError_ = hr;
    lastErrorText_ = std::move(text);
    return hr;
}

HRESULT CMAPISupport::NoSupport(const char* method)
{
    return Fail(MAPI_E_NO_SUPPORT, std::string(method) + " is not offered by this support object");
}

// ---- What the spooler reads back -----------------------------------------------------

namespace {

// One column of the provider's row, or nothing.
template <class F>
void WithRowValue(ITableData* table, const MAPIUID& provider, ULONG tag, F&& use)
{
    if (!table) return;
    SPropValue key = BinaryValue(PR_INSTANCE_KEY, std::span<const BYTE>(provider.ab, sizeof provider.ab));
    LPSRow row = nullptr;
    if (FAILED(table->HrQueryRow(&key, &row, nullptr)) || !row) return;
    if (const SPropValue* v = PpropFindProp(row->lpProps, row->cValues, tag)) use(*v);
    MAPIFreeBuffer(row);  // one chain with its values
}

}  // namespace

ULONG CMAPISupport::StatusCode()
{
    ULONG code = 0;
    WithRowValue(statusTable_.Get(), row_.provider, PR_STATUS_CODE, [&](const SPropValue& v) { code = v.Value.ul; });
    return code;
}

std::string CMAPISupport::StatusText()
{
    std::string text;
    WithRowValue(statusTable_.Get(), row_.provider, PR_STATUS_STRING, [&](const SPropValue& v) { text = v.Value.lpszA; });
    return text;
}

std::vector<ULONG> CMAPISupport::TakeSpoolerNotifications()
{
    std::lock_guard lock(mutex_);
    return std::exchange(notifications_, {});
}

ULONG CMAPISupport::YieldCount() const
{
    std::lock_guard lock(mutex_);
    return yields_;
}

void CMAPISupport::SetYieldHandler(std::function<void()> handler)
{
    std::lock_guard lock(mutex_);
    yieldHandler_ = std::move(handler);
}

HRESULT CMAPISupport::SetStatusRow(std::span<const SPropValue> values)
{
    CPropertyBag bag;
    for (const SPropValue& v : values)
        if (const SCODE sc = bag.Set(v); FAILED(sc)) return sc;
    return WriteRow(bag);
}

// The row is the spooler's identity columns with the provider's values over
// them; the identity's PR_INSTANCE_KEY always wins so that the row keeps its key.
HRESULT CMAPISupport::WriteRow(const CPropertyBag& providerValues)
{
    if (!statusTable_) return MAPI_E_NO_SUPPORT;
    CPropertyBag row;
    const SPropValue identity[] = {
        LongValue(PR_OBJECT_TYPE, MAPI_STATUS),
        LongValue(PR_RESOURCE_TYPE, MAPI_TRANSPORT_PROVIDER),
        StringValue(PR_PROVIDER_DISPLAY, row_.providerDisplay),
        StringValue(PR_PROVIDER_DLL_NAME, row_.dllName),
        StringValue(PR_DISPLAY_NAME, row_.providerDisplay),
    };
    for (const SPropValue& v : identity)
        if (const SCODE sc = row.Set(v); FAILED(sc)) return sc;
    SCODE sc = S_OK;
    providerValues.ForEach([&](const SPropValue& v) {
        if (FAILED(sc)) return;
        row.Delete(PROP_TAG(PT_UNSPECIFIED, PROP_ID(v.ulPropTag)));
        sc = row.Set(v);
    });
    if (FAILED(sc)) return sc;
    row.Delete(PROP_TAG(PT_UNSPECIFIED, PROP_ID(PR_INSTANCE_KEY)));
    if (sc = row.Set(BinaryValue(PR_INSTANCE_KEY, std::span<const BYTE>(row_.provider.ab, sizeof row_.provider.ab)));
        FAILED(sc))
        return sc;
    SRow out{};
    MapiBuffer<SPropValue> values;
    if (sc = row.CopyAll(&out.cValues, &values); FAILED(sc)) return sc;
    out.lpProps = values.Get();
    return statusTable_->HrModifyRow(&out);
}

// ---- IMAPISupport -------------------------------------------------------------------

HRESULT CMAPISupport::GetLastError(HRESULT hResult, ULONG ulFlags, LPMAPIERROR* lppMAPIError)
{
    if (!lppMAPIError) return MAPI_E_INVALID_PARAMETER;
    *lppMAPIError = nullptr;
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    std::lock_guard lock(mutex_);
    const std::string text = hResult == lastError_ && !lastErrorText_.empty() ? lastErrorText_ : "No further information";
    return MakeMapiError(text, kComponent, lppMAPIError);
}

HRESULT CMAPISupport::GetMemAllocRoutines(LPALLOCATEBUFFER* lpAllocateBuffer, LPALLOCATEMORE* lpAllocateMore,
                                          LPFREEBUFFER* lpFreeBuffer)
{
    if (!lpAllocateBuffer || !lpAllocateMore || !lpFreeBuffer) return MAPI_E_INVALID_PARAMETER;
    *lpAllocateBuffer = MAPIAllocateBuffer;
    *lpAllocateMore = MAPIAllocateMore;
    *lpFreeBuffer = MAPIFreeBuffer;
    return S_OK;
}

HRESULT CMAPISupport::ModifyStatusRow(ULONG cValues, LPSPropValue lpColumnVals, ULONG ulFlags)
{
    if (cValues && !lpColumnVals) return MAPI_E_INVALID_PARAMETER;
    if (ulFlags & ~STATUSROW_UPDATE) return MAPI_E_UNKNOWN_FLAGS;
    if (!statusTable_) return NoSupport("ModifyStatusRow");
    std::lock_guard lock(mutex_);
    CPropertyBag next;
    if (cValues && (ulFlags & STATUSROW_UPDATE))
        if (const SCODE sc = providerColumns_.Clone(next); FAILED(sc)) return sc;
    for (ULONG i = 0; i < cValues; ++i) {
        const SPropValue& v = lpColumnVals[i];
        if (PROP_TYPE(v.ulPropTag) == PT_UNSPECIFIED) return MAPI_E_INVALID_PARAMETER;
        next.Delete(PROP_TAG(PT_UNSPECIFIED, PROP_ID(v.ulPropTag)));
        if (const SCODE sc = next.Set(v); FAILED(sc)) return sc;
    }
    if (const HRESULT hr = WriteRow(next); FAILED(hr)) return hr;
    providerColumns_ = std::move(next);
    return S_OK;
}

HRESULT CMAPISupport::OpenProfileSection(LPMAPIUID lpUid, ULONG ulFlags, LPPROFSECT* lppProfileObj)
{
    if (!lppProfileObj) return MAPI_E_INVALID_PARAMETER;
    *lppProfileObj = nullptr;
    if (ulFlags & MAPI_UNICODE) return MAPI_E_BAD_CHARWIDTH;
    std::string error;
    const HRESULT hr =
        CProfSect::Open(ctx_.db, ctx_.profile, lpUid ? *lpUid : ownSection_, ulFlags & MAPI_MODIFY, lppProfileObj, &error);
    return FAILED(hr) ? Fail(hr, error.empty() ? "The profile section could not be opened" : error) : S_OK;
}

HRESULT CMAPISupport::NewUID(LPMAPIUID lpMuid)
{
    if (!lpMuid) return MAPI_E_INVALID_PARAMETER;
    *lpMuid = NewProfileUid();
    return S_OK;
}

HRESULT CMAPISupport::SpoolerYield(ULONG)
{
    if (!session_) return NoSupport("SpoolerYield");
    std::function<void()> handler;
    {
        std::lock_guard lock(mutex_);
        ++yields_;
        handler = yieldHandler_;
    }
    if (handler) handler();
    return S_OK;
}

HRESULT CMAPISupport::SpoolerNotify(ULONG ulFlags, LPVOID)
{
    if (!session_) return NoSupport("SpoolerNotify");
    std::lock_guard lock(mutex_);
    notifications_.push_back(ulFlags);
    return S_OK;
}

HRESULT CMAPISupport::CreateOneOff(LPSTR lpszName, LPSTR lpszAdrType, LPSTR lpszAddress, ULONG ulFlags,
                                   ULONG* lpcbEntryID, LPENTRYID* lppEntryID)
{
    if (!lpcbEntryID || !lppEntryID || !lpszAdrType || !lpszAddress) return MAPI_E_INVALID_PARAMETER;
    ComPtr<IAddrBook> book;
    if (const HRESULT hr = OpenAddressBook(nullptr, 0, &book); FAILED(hr)) return hr;
    return book->CreateOneOff(lpszName, lpszAdrType, lpszAddress, ulFlags, lpcbEntryID, lppEntryID);
}

HRESULT CMAPISupport::CompareEntryIDs(ULONG cbEntry1, LPENTRYID lpEntry1, ULONG cbEntry2, LPENTRYID lpEntry2,
                                      ULONG ulCompareFlags, ULONG* lpulResult)
{
    if (session_) return session_->CompareEntryIDs(cbEntry1, lpEntry1, cbEntry2, lpEntry2, ulCompareFlags, lpulResult);
    if (!lpulResult || (cbEntry1 && !lpEntry1) || (cbEntry2 && !lpEntry2)) return MAPI_E_INVALID_PARAMETER;
    *lpulResult = cbEntry1 == cbEntry2 && (cbEntry1 == 0 || std::memcmp(lpEntry1, lpEntry2, cbEntry1) == 0);
    return S_OK;
}

HRESULT CMAPISupport::OpenEntry(ULONG cbEntryID, LPENTRYID lpEntryID, LPCIID lpInterface, ULONG ulOpenFlags,
                                ULONG* lpulObjType, LPUNKNOWN* lppUnk)
{
    if (!session_) {
        if (lppUnk) *lppUnk = nullptr;
        return NoSupport("OpenEntry");
    }
    return session_->OpenEntry(cbEntryID, lpEntryID, lpInterface, ulOpenFlags, lpulObjType, lppUnk);
}

HRESULT CMAPISupport::OpenAddressBook(LPCIID lpInterface, ULONG ulFlags, LPADRBOOK* lppAdrBook)
{
    if (!lppAdrBook) return MAPI_E_INVALID_PARAMETER;
    *lppAdrBook = nullptr;
    if (session_) return session_->OpenAddressBook(0, lpInterface, ulFlags, lppAdrBook);
    // Configuration has no session; the address book needs none for one-off entries.
    if (lpInterface && !IsEqualIID(*lpInterface, IID_IAddrBook) && !IsEqualIID(*lpInterface, IID_IMAPIProp) &&
        !IsEqualIID(*lpInterface, IID_IUnknown))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    return CreateAddressBook(lppAdrBook);
}

HRESULT CMAPISupport::StatusRecips(LPMESSAGE lpMessage, LPADRLIST lpRecipList)
{
    if (!lpMessage || !lpRecipList) return MAPI_E_INVALID_PARAMETER;
    if (!session_) return NoSupport("StatusRecips");
    // Recipients that got a delivery time were delivered; the rest failed.
    std::vector<SRow> failed;
    for (ULONG i = 0; i < lpRecipList->cEntries; ++i) {
        const ADRENTRY& e = lpRecipList->aEntries[i];
        const SPropValue* delivered = PpropFindProp(e.rgPropVals, e.cValues, PR_DELIVER_TIME);
        if (!delivered) failed.push_back(SRow{0, e.cValues, e.rgPropVals});
    }
    if (failed.empty()) return S_OK;
    ComPtr<IMsgStore> store;
    if (const HRESULT hr = OpenDefaultStore(session_.Get(), store); FAILED(hr))
        return Fail(hr, "The non-delivery report has no store to go to");
    std::string error;
    const HRESULT hr = WriteNonDeliveryReport(store.Get(), lpMessage, failed, &error);
    return FAILED(hr) ? Fail(hr, error) : S_OK;
}

// ---- Not offered ----------------------------------------------------------------------

HRESULT CMAPISupport::Subscribe(LPNOTIFKEY, ULONG, ULONG, LPMAPIADVISESINK, ULONG*) { return NoSupport("Subscribe"); }
HRESULT CMAPISupport::Unsubscribe(ULONG) { return NoSupport("Unsubscribe"); }
HRESULT CMAPISupport::Notify(LPNOTIFKEY, ULONG, LPNOTIFICATION, ULONG*) { return NoSupport("Notify"); }
HRESULT CMAPISupport::RegisterPreprocessor(LPMAPIUID, LPSTR, LPSTR, LPSTR, LPSTR, ULONG)
{
    return NoSupport("RegisterPreprocessor");
}
HRESULT CMAPISupport::MakeInvalid(ULONG, LPVOID, ULONG, ULONG) { return NoSupport("MakeInvalid"); }
HRESULT CMAPISupport::SetProviderUID(LPMAPIUID, ULONG) { return NoSupport("SetProviderUID"); }
HRESULT CMAPISupport::OpenTemplateID(ULONG, LPENTRYID, ULONG, LPMAPIPROP, LPCIID, LPMAPIPROP*, LPMAPIPROP)
{
    return NoSupport("OpenTemplateID");
}
HRESULT CMAPISupport::GetOneOffTable(ULONG, LPMAPITABLE*) { return NoSupport("GetOneOffTable"); }
HRESULT CMAPISupport::Address(ULONG_PTR*, LPVOID, LPADRLIST*) { return NoSupport("Address"); }
HRESULT CMAPISupport::Details(ULONG_PTR*, LPVOID, LPVOID, ULONG, LPENTRYID, LPVOID, LPVOID, LPSTR, ULONG)
{
    return NoSupport("Details");
}
HRESULT CMAPISupport::NewEntry(ULONG_PTR, ULONG, ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG*, LPENTRYID*)
{
    return NoSupport("NewEntry");
}
HRESULT CMAPISupport::DoConfigPropsheet(ULONG_PTR, ULONG, LPSTR, LPVOID, LPVOID, ULONG)
{
    return NoSupport("DoConfigPropsheet");
}
HRESULT CMAPISupport::CopyMessages(LPCIID, LPVOID, LPENTRYLIST, LPCIID, LPVOID, ULONG_PTR, LPMAPIPROGRESS, ULONG)
{
    return NoSupport("CopyMessages");
}
HRESULT CMAPISupport::CopyFolder(LPCIID, LPVOID, ULONG, LPENTRYID, LPCIID, LPVOID, LPSTR, ULONG_PTR, LPMAPIPROGRESS,
                                 ULONG)
{
    return NoSupport("CopyFolder");
}
HRESULT CMAPISupport::DoCopyTo(LPCIID, LPVOID, ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID,
                               LPVOID, ULONG, LPSPropProblemArray*)
{
    return NoSupport("DoCopyTo");
}
HRESULT CMAPISupport::DoCopyProps(LPCIID, LPVOID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                                  LPSPropProblemArray*)
{
    return NoSupport("DoCopyProps");
}
HRESULT CMAPISupport::DoProgressDialog(ULONG_PTR, ULONG, LPMAPIPROGRESS*) { return NoSupport("DoProgressDialog"); }
HRESULT CMAPISupport::ReadReceipt(ULONG, LPMESSAGE, LPMESSAGE*) { return NoSupport("ReadReceipt"); }
HRESULT CMAPISupport::PrepareSubmit(LPMESSAGE, ULONG*) { return NoSupport("PrepareSubmit"); }
HRESULT CMAPISupport::ExpandRecips(LPMESSAGE, ULONG*) { return NoSupport("ExpandRecips"); }
HRESULT CMAPISupport::UpdatePAB(ULONG, LPMESSAGE) { return NoSupport("UpdatePAB"); }
HRESULT CMAPISupport::DoSentMail(ULONG, LPMESSAGE) { return NoSupport("DoSentMail"); }
HRESULT CMAPISupport::Preprocess(ULONG, ULONG, LPENTRYID) { return NoSupport("Preprocess"); }
HRESULT CMAPISupport::CompleteMsg(ULONG, ULONG, LPENTRYID) { return NoSupport("CompleteMsg"); }
HRESULT CMAPISupport::StoreLogoffTransports(ULONG*) { return NoSupport("StoreLogoffTransports"); }
HRESULT CMAPISupport::WrapStoreEntryID(ULONG, LPENTRYID, ULONG*, LPENTRYID*) { return NoSupport("WrapStoreEntryID"); }
HRESULT CMAPISupport::ModifyProfile(ULONG) { return NoSupport("ModifyProfile"); }
HRESULT CMAPISupport::IStorageFromStream(LPUNKNOWN, LPCIID, ULONG, LPVOID*) { return NoSupport("IStorageFromStream"); }
HRESULT CMAPISupport::GetSvcConfigSupportObj(ULONG, LPMAPISUP*) { return NoSupport("GetSvcConfigSupportObj"); }

}  // namespace quillory
