#include "host/account_setup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/regstore.h"
#include "host/mapi_host.h"
#include "platform/base/environment.h"
#include "platform/base/time.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapi_alloc.h"
#include "platform/mapi/proputil.h"
#include "platform/mapi/session.h"
#include "platform/mapi/spooler/support.h"

namespace quillory::host {

namespace {

constexpr const char* kAccountsFolder = "Tarnel NNTP Accounts/";
constexpr LONG kSslPort = 563;  // NNTP over TLS (RFC 4642)
constexpr const char* kBaseFolderName = "Newsgroups";

std::vector<BYTE> EntryIdOf(IMAPIProp* obj)
{
    MapiBuffer<SPropValue> v;
    if (FAILED(HrGetOneProp(obj, PR_ENTRYID, &v)) || PROP_TYPE(v->ulPropTag) != PT_BINARY) return {};
    return {v->Value.bin.lpb, v->Value.bin.lpb + v->Value.bin.cb};
}

HRESULT MakeBaseFolder(IMAPISession* session, std::vector<BYTE>& folderId, std::vector<BYTE>& storeId)
{
    ComPtr<IMsgStore> store;
    if (const HRESULT hr = OpenDefaultStore(session, store); FAILED(hr)) return hr;
    ULONG cb = 0;
    MapiBuffer<ENTRYID> inboxId;
    if (const HRESULT hr = store->GetReceiveFolder(const_cast<LPSTR>("IPM.Note"), 0, &cb, &inboxId, nullptr); FAILED(hr))
        return hr;
    ULONG type = 0;
    ComPtr<IUnknown> unk;
    if (const HRESULT hr = store->OpenEntry(cb, inboxId.Get(), &IID_IMAPIFolder, MAPI_MODIFY, &type, &unk); FAILED(hr))
        return hr;
    ComPtr<IMAPIFolder> inbox, folder;
    if (const HRESULT hr = unk.As(IID_IMAPIFolder, inbox); FAILED(hr)) return hr;
    if (const HRESULT hr = inbox->CreateFolder(FOLDER_GENERIC, const_cast<LPSTR>(kBaseFolderName), nullptr, nullptr,
                                               OPEN_IF_EXISTS, &folder);
        FAILED(hr))
        return hr;
    folderId = EntryIdOf(folder.Get());
    storeId = EntryIdOf(store.Get());
    return folderId.empty() || storeId.empty() ? MAPI_E_NOT_FOUND : S_OK;
}

// Whether a file can be made in the directory (made first when missing).
bool Writable(const std::string& dir)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    char name[32];
    std::snprintf(name, sizeof name, "testdir-%08x", static_cast<unsigned>(GetTickCount()));
    const std::string probe = dir + name;
    const int fd = ::open(probe.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

SPropValue Str(ULONG tag, const std::string& s)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.lpszA = const_cast<LPSTR>(s.c_str());
    return v;
}

SPropValue Long(ULONG tag, LONG n)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.l = n;
    return v;
}

SPropValue Bool(ULONG tag, bool b)
{
    SPropValue v{};
    v.ulPropTag = tag;
    v.Value.b = b ? TRUE : FALSE;
    return v;
}

}  // namespace

LONG EnsureNewsgroupsEnabled(const std::string& profile)
{
    constexpr char kValEnabled[] = "Enabled";
    DWORD enabled = 0;
    if (ReadRegDword(ProfileKeyPath(profile), kValEnabled, enabled, 0)) return ERROR_SUCCESS;
    return WriteRegDword(ProfileKeyPath(profile), kValEnabled, 1);
}

std::string EnsureDataDirectory(std::string* error)
{
    std::string dir = ReadDataDirectory();
    if (!dir.empty()) {
        if (dir.back() != '/') dir += '/';
        if (Writable(dir)) return dir;
    }
    const auto appData = SpecialFolderPath(CSIDL_APPDATA);
    if (!appData) {
        *error = "the application-data folder is unknown";
        return {};
    }
    std::string fallback = appData->string();
    if (fallback.empty() || fallback.back() != '/') fallback += '/';
    fallback += kAccountsFolder;
    if (!Writable(fallback)) {
        *error = "the data directory " + fallback + " cannot be created";
        return {};
    }
    if (WriteRegString(kMainKey, kValDir, fallback) != ERROR_SUCCESS) {
        *error = "the data directory could not be stored in the registry";
        return {};
    }
    return fallback;
}

bool EnsureBaseFolder(const std::string& profile, std::string* error)
{
    RegBaseFolder existing;
    if (ReadBaseFolder(profile, existing)) return true;
    ComPtr<IMAPISession> session;
    std::string name = profile;
    HRESULT hr = MAPILogonEx(0, name.data(), nullptr, MAPI_EXTENDED | MAPI_NEW_SESSION | MAPI_NO_MAIL, &session);
    std::vector<BYTE> folderId, storeId;
    std::string why = FAILED(hr) ? ExplainWithoutObject(hr) : std::string();
    if (SUCCEEDED(hr)) {
        hr = MakeBaseFolder(session.Get(), folderId, storeId);
        LPMAPIERROR err = nullptr;
        if (FAILED(hr) && SUCCEEDED(session->GetLastError(hr, 0, &err)) && err && err->lpszError) why = err->lpszError;
        MAPIFreeBuffer(err);
        session->Logoff(0, 0, 0);
    }
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
        *error = std::string("the base folder could not be made in the default store (") + code + ")" +
                 (why.empty() ? "" : ": " + why);
        return false;
    }
    if (WriteBaseFolder(profile, kBaseFolderName, folderId, storeId) != ERROR_SUCCESS) {
        *error = "the base folder could not be stored in the registry";
        return false;
    }
    return true;
}

std::string CreateGroupListFile(const std::string& dir, std::string* error)
{
    DWORD tick = GetTickCount();
    for (int attempt = 0; attempt < 100000; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "groups-%08x.txt", static_cast<unsigned>(tick));
        const std::string path = dir + name;
        // Exclusive: a name that exists, even one made a moment ago by another account, is never reused.
        const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
        if (fd >= 0) {
            ::close(fd);
            return name;
        }
        if (errno != EEXIST) {
            *error = "the group-list file " + path + " cannot be created";
            return {};
        }
        const DWORD now = GetTickCount();
        tick = now != tick ? now : tick + 1;
    }
    *error = "no free group-list file name was found in " + dir;
    return {};
}

std::vector<SPropValue> AccountValues(const NewAccount& a, const std::string& groupListFile, std::string& displayName)
{
    using namespace quillory::acct;
    displayName = a.accountName.empty() ? a.server + " (NNTP)" : a.accountName;
    static const std::string empty;
    const bool logon = !a.user.empty();
    std::vector<SPropValue> v = {
        Str(PR_ACCOUNT, a.name),
        Str(PR_COMPANY_NAME, a.organization),
        Str(PR_DISPLAY_NAME, displayName),
        Str(PR_EMAIL_ADDRESS, a.email),
        Str(PR_REPLY_RECIPIENT_NAMES, a.replyTo),
        Bool(PR_NNTP_SEND_RECEIVE, true),
        Str(PR_NNTP_SERVER, a.server),
        Bool(PR_NNTP_LOGON_REQUIRED, logon),
        Str(PR_NNTP_LOGON_USER, a.user),
        Str(PR_NNTP_LOGON_PASSWORD, a.password),
        Bool(PR_NNTP_REMEMBER_PASSWORD, logon),
        Bool(PR_NNTP_USE_SPA, false),
        Str(PR_NNTP_GROUP_LIST_FILE, groupListFile),
        Long(PR_NNTP_CONNECTION_TYPE, kConnectionLan),
        Str(PR_NNTP_DIALUP_NAME, empty),
        Long(PR_NNTP_DIALUP_FLAGS, 0),
        Long(PR_NNTP_PORT, a.port ? *a.port : a.ssl ? kSslPort : kDefaultPort),
        Bool(PR_NNTP_SSL, a.ssl),
        Bool(PR_NNTP_USE_DESCRIPTIONS, true),
        Long(PR_NNTP_TIMEOUT, kDefaultTimeoutUnits),
        Bool(PR_NNTP_ALLOW_HTML, true),
        Long(PR_NNTP_HTML_ENCODING, kEncodingNone),
        Bool(PR_NNTP_HTML_8BIT_HEADERS, true),
        Bool(PR_NNTP_HTML_SEND_PICTURES, true),
        Long(PR_NNTP_HTML_WRAP, kDefaultWrapColumn),
        Long(PR_NNTP_PLAIN_ENCODING, kEncodingNone),
        Bool(PR_NNTP_PLAIN_8BIT_HEADERS, true),
        Bool(PR_NNTP_PLAIN_MIME, true),
        Long(PR_NNTP_PLAIN_WRAP, kDefaultWrapColumn),
        Long(PR_NNTP_ACCOUNT_KIND, kAccountKindNntp),
    };
    return v;
}

}  // namespace quillory::host
