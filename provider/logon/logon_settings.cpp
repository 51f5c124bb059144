// The logon's settings: the account array from the service's profile
// section, the per-profile registry values, the sender entry ID and the base
// folder with its store.
#include <algorithm>
#include <cstring>

#include "common/regstore.h"
#include "platform/base/trace.h"
#include "platform/mapi/proputil.h"
#include "provider/logon/xp_logon.h"
#include "provider/settings/account_settings.h"
#include "provider/settings/addin_window.h"

namespace quillory {

namespace {

constexpr std::size_t kProfileNameMax = 299;  // the logon keeps 300 bytes with the NUL

}  // namespace

HRESULT CXPLogon::OpenSections(ComPtr<IProfSect>& provider, ComPtr<IProfSect>& service, bool readResourceFlags)
{
    if (!support_) return E_FAIL;
    HRESULT hr = support_->OpenProfileSection(nullptr, 0, &provider);
    if (FAILED(hr)) {
        Trace("CXPLogon::OpenSections -- provider section: 0x%08X\n", static_cast<unsigned>(hr));
        return hr;
    }
    SizedSPropTagArray<2> tags{2, {PR_SERVICE_UID, PR_RESOURCE_FLAGS}};
    ULONG count = 0;
    quarnex::ProviderBuffer<SPropValue> values;
    hr = provider->GetProps(tags.AsTagArray(), 0, &count, values.Out());
    if (FAILED(hr) || count != 2) return FAILED(hr) ? hr : E_FAIL;
    const SPropValue& uid = values.Get()[0];
    if (uid.ulPropTag != PR_SERVICE_UID || uid.Value.bin.cb != sizeof(MAPIUID)) {
        Trace("CXPLogon::OpenSections -- no service UID\n");
        return E_FAIL;
    }
    MAPIUID serviceUid{};
    std::memcpy(serviceUid.ab, uid.Value.bin.lpb, sizeof serviceUid.ab);
    hr = support_->OpenProfileSection(&serviceUid, MAPI_MODIFY, &service);
    if (FAILED(hr)) {
        Trace("CXPLogon::OpenSections -- service section: 0x%08X\n", static_cast<unsigned>(hr));
        return hr;
    }
    if (readResourceFlags && values.Get()[1].ulPropTag == PR_RESOURCE_FLAGS)
        resourceFlags_ = values.Get()[1].Value.ul;
    return S_OK;
}

HRESULT CXPLogon::LoadAccountSettings(bool writeBack)
{
    ComPtr<IProfSect> provider, service;
    HRESULT hr = OpenSections(provider, service, true);
    if (FAILED(hr)) return hr;
    if (writeBack && account_) {
        if (const HRESULT w = WriteAccountArray(service.Get(), account_.Get()); FAILED(w))
            Trace("CXPLogon::LoadAccountSettings -- write-back failed: 0x%08X\n", static_cast<unsigned>(w));
    }
    account_.Reset();
    hr = ReadAccountArray(service.Get(), account_);
    if (FAILED(hr)) return hr;
    BuildSenderEntryId();
    return ResolveBaseFolder(service.Get());
}

HRESULT CXPLogon::RefreshProfileValues()
{
    ComPtr<IProfSect> provider, service;
    const HRESULT hr = OpenSections(provider, service, false);
    if (FAILED(hr)) return hr;
    return ResolveBaseFolder(service.Get());
}

void CXPLogon::BuildSenderEntryId()
{
    const char* name = AccountString(account_.Get(), acct::kUserName);
    const char* email = AccountString(account_.Get(), acct::kEmailAddress);
    if (!support_ || !name || !email) return;

    ComPtr<IAddrBook> book;
    ULONG cb = 0;
    LPENTRYID resolved = nullptr;  // owned by `list` or `oneOff` below
    LPADRLIST list = nullptr;
    quarnex::ProviderBuffer<ENTRYID> oneOff;
    if (SUCCEEDED(support_->OpenAddressBook(nullptr, 0, &book)) && book) {
        if (SUCCEEDED(quarnex::AllocateBuffer(CbNewADRLIST(1), reinterpret_cast<void**>(&list)))) {
            list->cEntries = 1;
            list->aEntries[0] = ADRENTRY{0, 0, nullptr};
            LPSPropValue props = nullptr;
            if (SUCCEEDED(quarnex::AllocateBuffer(4 * sizeof(SPropValue), reinterpret_cast<void**>(&props)))) {
                props[0].ulPropTag = PR_ADDRTYPE;
                props[0].Value.lpszA = const_cast<LPSTR>("SMTP");
                props[1].ulPropTag = PR_DISPLAY_NAME;
                props[1].Value.lpszA = const_cast<LPSTR>(name);
                props[2].ulPropTag = PR_EMAIL_ADDRESS;
                props[2].Value.lpszA = const_cast<LPSTR>(email);
                props[3].ulPropTag = PR_OBJECT_TYPE;
                props[3].Value.l = MAPI_MAILUSER;
                list->aEntries[0] = ADRENTRY{0, 4, props};
                if (SUCCEEDED(book->ResolveName(0, 0, nullptr, list))) {
                    const ADRENTRY& e = list->aEntries[0];
                    if (const SPropValue* id = PpropFindProp(e.rgPropVals, e.cValues, PR_ENTRYID)) {
                        cb = id->Value.bin.cb;
                        resolved = reinterpret_cast<LPENTRYID>(id->Value.bin.lpb);
                    }
                }
            }
        }
    }
    if (!resolved) {
        if (SUCCEEDED(support_->CreateOneOff(const_cast<LPSTR>(name), const_cast<LPSTR>("SMTP"),
                                             const_cast<LPSTR>(email), MAPI_SEND_NO_RICH_INFO, &cb, oneOff.Out())))
            resolved = oneOff.Get();
    }
    if (resolved && cb) {
        LPSPropValue value = nullptr;
        if (SUCCEEDED(quarnex::AllocateBuffer(sizeof(SPropValue), reinterpret_cast<void**>(&value)))) {
            void* bytes = nullptr;
            if (SUCCEEDED(quarnex::AllocateMore(cb, value, &bytes))) {
                std::memcpy(bytes, resolved, cb);
                value->ulPropTag = PR_SENDER_ENTRYID;
                value->Value.bin = SBinary{cb, static_cast<LPBYTE>(bytes)};
                senderEntryId_.Reset(value);
            } else {
                quarnex::FreeBuffer(value);
            }
        }
    }
    if (list) FreePadrlist(list);
}

HRESULT CXPLogon::ResolveBaseFolder(LPPROFSECT serviceSection)
{
    if (!serviceSection) return E_FAIL;
    quarnex::ProviderBuffer<SPropValue> name;
    HRESULT hr = HrGetOneProp(serviceSection, PR_PROFILE_NAME, name.Out());
    if (FAILED(hr)) return hr;
    profileName_.assign(name->Value.lpszA, std::min(std::strlen(name->Value.lpszA), kProfileNameMax));

    const ProfileSettings settings = ReadProfileSettings(profileName_);
    postUnsubscribed_ = settings.postUnsubscribed;
    headerLimit_ = settings.HeaderLimit();
    flatFolders_ = settings.createSubfolders == 0;

    if (const auto text = ReadAddinWindowText(profileName_)) {
        const AddinWindowText fields = ParseAddinWindowText(*text);
        const auto folder = EntryIdFromHexField(fields.folderHex);
        const auto store = EntryIdFromHexField(fields.storeHex);
        if (folder && store) return OpenBaseStore(*folder, *store);
        Trace("CXPLogon::ResolveBaseFolder -- window text gives no entry IDs\n");
    }
    RegBaseFolder reg;
    if (ReadBaseFolder(profileName_, reg)) return OpenBaseStore(reg.FolderEntryId(), reg.StoreEntryId());
    Trace("CXPLogon::ResolveBaseFolder -- no base folder\n");
    return E_FAIL;
}

HRESULT CXPLogon::OpenBaseStore(std::span<const BYTE> folderEid, std::span<const BYTE> storeEid)
{
    // Entry IDs are kept in 1000-byte fields; a longer one cannot be an entry ID we could keep.
    if (folderEid.size() > kEntryIdMax || storeEid.size() > kEntryIdMax) return E_FAIL;
    if (baseStore_ && std::ranges::equal(folderEid, baseFolderEid_) && std::ranges::equal(storeEid, baseStoreEid_))
        return S_OK;
    ULONG type = 0;
    ComPtr<IUnknown> unknown;
    std::vector<BYTE> store(storeEid.begin(), storeEid.end());
    HRESULT hr = support_->OpenEntry(static_cast<ULONG>(store.size()), reinterpret_cast<LPENTRYID>(store.data()),
                                     nullptr, MAPI_MODIFY, &type, &unknown);
    if (FAILED(hr)) {
        Trace("CXPLogon::OpenBaseStore -- OpenEntry: 0x%08X\n", static_cast<unsigned>(hr));
        return hr;
    }
    ComPtr<IMsgStore> msgStore;
    if (!unknown || FAILED(unknown.As(IID_IMsgStore, msgStore))) return E_NOINTERFACE;
    baseStore_ = msgStore;
    baseFolderEid_.assign(folderEid.begin(), folderEid.end());
    baseStoreEid_ = std::move(store);
    return S_OK;
}

}  // namespace quillory
