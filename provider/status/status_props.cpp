#include "provider/status/status_props.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "common/regstore.h"
#include "platform/base/module.h"
#include "platform/base/resource.h"
#include "platform/mapi/mapisvc_inf.h"
#include "platform/mapi/mapispi.h"
#include "provider/logon/xp_logon.h"
#include "provider/settings/account_settings.h"
#include "provider/status/mapi_status.h"

namespace quillory {

namespace {

HRESULT CopyString(std::string_view text, void* base, SPropValue& out)
{
    void* p = nullptr;
    if (const SCODE sc = quarnex::AllocateMore(static_cast<ULONG>(text.size() + 1), base, &p); FAILED(sc)) return sc;
    std::memcpy(p, text.data(), text.size());
    static_cast<char*>(p)[text.size()] = '\0';
    out.Value.lpszA = static_cast<LPSTR>(p);
    return S_OK;
}

HRESULT CopyBinary(const void* data, ULONG cb, void* base, SPropValue& out)
{
    void* p = nullptr;
    if (const SCODE sc = quarnex::AllocateMore(cb ? cb : 1, base, &p); FAILED(sc)) return sc;
    if (cb) std::memcpy(p, data, cb);
    out.Value.bin = SBinary{cb, static_cast<LPBYTE>(p)};
    return S_OK;
}

// The module's file name without directory, with the first "32." shortened
// to "." (the library answers under the name the service list gives it).
std::string ProviderDllName()
{
    char path[1024] = {};
    GetModuleFileName(quarnex::ModuleInstance(), path, sizeof path);
    std::string name(path);
    if (const auto slash = name.find_last_of("/\\"); slash != std::string::npos) name.erase(0, slash + 1);
    if (const auto p = name.find("32."); p != std::string::npos) name.erase(p, 2);
    return name;
}

std::string StatusText(ULONG statusCode)
{
    char text[256] = {};
    LoadString(quarnex::ModuleInstance(), StatusTextId(statusCode), text, sizeof text);
    return text;
}

// The value of one listed property (full tag), without the error fallback.
HRESULT FillListed(const CXPLogon& logon, ULONG tag, void* base, SPropValue& out)
{
    const LPSPropValue account = logon.AccountProps();
    out.ulPropTag = tag;
    switch (tag) {
    case PR_OBJECT_TYPE: out.Value.l = MAPI_STATUS; return S_OK;
    case PR_STATUS_CODE: out.Value.l = static_cast<LONG>(logon.StatusCode()); return S_OK;
    case PR_PROVIDER_DISPLAY: {
        const char* name = AccountString(account, acct::kAccountName);
        return CopyString(name ? name : kTransportDisplay, base, out);
    }
    case PR_PROVIDER_DLL_NAME: return CopyString(ProviderDllName(), base, out);
    case PR_RESOURCE_METHODS: out.Value.l = kStatusResourceMethods; return S_OK;
    case PR_RESOURCE_PATH: return CopyString(ReadDataDirectory(), base, out);
    case PR_RESOURCE_FLAGS: out.Value.l = static_cast<LONG>(logon.ResourceFlags()); return S_OK;
    case PR_RESOURCE_TYPE: out.Value.l = MAPI_TRANSPORT_PROVIDER; return S_OK;
    case PR_STATUS_STRING: return CopyString(StatusText(logon.StatusCode()), base, out);
    case PR_DISPLAY_NAME: {
        const char* server = AccountString(account, acct::kServer);
        std::string text = std::string(kTransportDisplay) + " (" + (server ? server : kNoServerText) + ")";
        return CopyString(text, base, out);
    }
    case PR_REMOTE_VALIDATE_OK: out.Value.b = logon.RemoteValidateOk() ? 1 : 0; return S_OK;
    case PR_CURRENT_VERSION: out.Value.li.QuadPart = 0x0000000100000001LL; return S_OK;
    case PR_IDENTITY_DISPLAY: {
        const char* user = AccountString(account, acct::kUserName);
        return user ? CopyString(user, base, out) : MAPI_E_NOT_FOUND;
    }
    case PR_IDENTITY_ENTRYID: {
        const SPropValue* sender = logon.SenderEntryId();
        if (!sender) return MAPI_E_NOT_FOUND;
        return CopyBinary(sender->Value.bin.lpb, sender->Value.bin.cb, base, out);
    }
    case PR_IDENTITY_SEARCH_KEY: {
        const char* email = AccountString(account, acct::kEmailAddress);
        if (!email) return MAPI_E_NOT_FOUND;
        const std::string key = std::string("SMTP:") + email;
        return CopyBinary(key.data(), static_cast<ULONG>(key.size()), base, out);
    }
    case PR_HEADER_FOLDER_ENTRYID:
        return CopyBinary(kHeaderFolderEntryId.data(), static_cast<ULONG>(kHeaderFolderEntryId.size()), base, out);
    case PR_NULL: out.Value.l = 0; return S_OK;
    default: return MAPI_E_NOT_FOUND;
    }
}

// Every tag the status object answers, for matching PT_UNSPECIFIED requests.
constexpr ULONG kAnsweredTags[] = {
    PR_OBJECT_TYPE,      PR_STATUS_CODE,        PR_PROVIDER_DISPLAY, PR_PROVIDER_DLL_NAME,   PR_RESOURCE_METHODS,
    PR_RESOURCE_PATH,    PR_RESOURCE_FLAGS,     PR_RESOURCE_TYPE,    PR_STATUS_STRING,       PR_DISPLAY_NAME,
    PR_REMOTE_VALIDATE_OK, PR_CURRENT_VERSION,  PR_IDENTITY_DISPLAY, PR_IDENTITY_ENTRYID,    PR_IDENTITY_SEARCH_KEY,
    PR_HEADER_FOLDER_ENTRYID, PR_OWN_STORE_ENTRYID, PR_NULL};

}  // namespace

UINT StatusTextId(ULONG code)
{
    if ((code & kAllBusyBits) == kAllBusyBits) return IDS_STATUS_SCHEDULED;
    if (code & kInboundBusyBits) return (code & STATUS_OFFLINE) ? IDS_STATUS_UPLOADING : IDS_STATUS_DOWNLOADING;
    if (code & kOutboundBusyBits) return IDS_STATUS_PROCESSING;
    if ((code & STATUS_INBOUND_ENABLED) && (code & STATUS_OUTBOUND_ENABLED)) return IDS_STATUS_READY;
    return IDS_STATUS_AVAILABLE;
}

HRESULT FillStatusProp(const CXPLogon& logon, ULONG tag, void* base, SPropValue& out)
{
    ULONG full = tag;
    for (const ULONG known : kAnsweredTags) {
        if (PROP_ID(known) == PROP_ID(tag)) {
            full = known;
            break;
        }
    }
    HRESULT hr = full == PR_OWN_STORE_ENTRYID ? MAPI_E_NOT_FOUND : FillListed(logon, full, base, out);
    if (FAILED(hr)) {
        out.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
        out.Value.err = hr;
    }
    return hr;
}

HRESULT BuildStatusRow(const CXPLogon& logon, ULONG* count, LPSPropValue* values)
{
    const ULONG n = static_cast<ULONG>(kStatusRowProps.size());
    LPSPropValue row = nullptr;
    if (const SCODE sc = quarnex::AllocateBuffer(n * sizeof(SPropValue), reinterpret_cast<void**>(&row)); FAILED(sc))
        return sc;
    for (ULONG i = 0; i < n; ++i) {
        row[i] = SPropValue{};
        FillStatusProp(logon, kStatusRowProps[i], row, row[i]);
    }
    *count = n;
    *values = row;
    return S_OK;
}

}  // namespace quillory
