#include "host/account_setup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/regstore.h"
#include "platform/base/environment.h"
#include "platform/base/time.h"

namespace quillory::host {

namespace {

constexpr const char* kAccountsFolder = "Tarnel NNTP Accounts/";
constexpr LONG kSslPort = 563;  // NNTP over TLS (RFC 4642)

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
