#include "brackle/brackle.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "brackle/mapi_library.h"
#include "common/regstore.h"
#include "platform/base/msgbox.h"
#include "platform/base/registry.h"
#include "platform/base/trace.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapicode.h"
#include "platform/mapi/mapitags.h"

namespace quillory::brackle {
namespace {

constexpr int kExitCode = 0;
constexpr char kServiceName[] = "Corvane";
constexpr ULONG kMaxRows = 1000;
// Profiles plus accounts listed beyond which further profiles are only counted.
constexpr int kListLimit = 15;

constexpr char kIntro[] = "You have following installed NNTP accounts:\r\n\r\n";
constexpr char kProfileLine[] = "   in the profile '%s':\r\n";
constexpr char kAccountLine[] = "      %s\r\n";
constexpr char kOthersLine[] = "...and other %i account%s in %i profile%s.\r\n\r\n";
constexpr char kQuestion[] = "Would you like to delete this account%s?";
constexpr char kCaption[] = "Removing Tarnel NNTP accounts";
constexpr char kFailureTrace[] = "Deleted %i, unable to delete %i, latest error is 0x%08x\n";

// Profile table columns, and the service table columns.
constexpr SizedSPropTagArray<2> kProfileColumns = {2, {PR_DISPLAY_NAME, PR_INSTANCE_KEY}};
constexpr SizedSPropTagArray<3> kServiceColumns = {3, {PR_SERVICE_NAME, PR_DISPLAY_NAME, PR_SERVICE_UID}};
constexpr ULONG kProfileNameColumn = 0;
constexpr ULONG kAccountNameColumn = 1;
constexpr ULONG kServiceUidColumn = 2;

const char* Plural(int n) { return n > 1 ? "s" : ""; }

void Append(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string& text, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
        const std::size_t at = text.size();
        text.resize(at + static_cast<std::size_t>(n) + 1);
        std::vsnprintf(text.data() + at, static_cast<std::size_t>(n) + 1, format, again);
        text.resize(at + static_cast<std::size_t>(n));
    }
    va_end(again);
}

// The value of a row's column when it carries the expected tag.
const SPropValue* Column(const SRow& row, ULONG column, ULONG tag)
{
    if (column >= row.cValues || row.lpProps[column].ulPropTag != tag) return nullptr;
    return &row.lpProps[column];
}

const char* ProfileName(const SRow& row)
{
    const SPropValue* v = Column(row, kProfileNameColumn, PR_DISPLAY_NAME);
    return v && v->Value.lpszA ? v->Value.lpszA : nullptr;
}

// The "Corvane" services of one profile, with the administration object
// that can delete them.
struct ProfileServices {
    explicit ProfileServices(FREEPROWS* freeRows) : rows(freeRows) {}
    ComPtr<IMsgServiceAdmin> admin;
    CRowSet rows;
};

HRESULT QueryServices(IProfAdmin* profiles, const char* profile, ProfileServices& out)
{
    HRESULT hr = profiles->AdminServices(const_cast<LPSTR>(profile), nullptr, 0, 0, &out.admin);
    ComPtr<IMAPITable> table;
    if (SUCCEEDED(hr)) hr = out.admin->GetMsgServiceTable(0, &table);
    if (SUCCEEDED(hr)) hr = table->SetColumns(const_cast<LPSPropTagArray>(kServiceColumns.AsTagArray()), 0);
    if (SUCCEEDED(hr)) {
        SPropValue service{};
        service.ulPropTag = PR_SERVICE_NAME;
        service.Value.lpszA = const_cast<LPSTR>(kServiceName);
        SRestriction only{};
        only.rt = RES_PROPERTY;
        only.res.resProperty = {RELOP_EQ, PR_SERVICE_NAME, &service};
        hr = table->Restrict(&only, 0);
    }
    if (SUCCEEDED(hr)) hr = table->QueryRows(kMaxRows, 0, out.rows.out());
    if (FAILED(hr)) Trace("brackle: the services of the profile '%s' cannot be read: 0x%08x\n", profile,
                          static_cast<unsigned>(hr));
    return hr;
}

struct Listing {
    std::string text = kIntro;
    int profilesListed = 0;
    int accountsListed = 0;
    bool overflow = false;
    int accountsOver = 0;
    int profilesOver = 0;
};

Listing ListAccounts(const CMapiLibrary& mapi, IProfAdmin* profiles, const CRowSet& profileRows)
{
    Listing list;
    for (ULONG i = 0; i < profileRows.size(); ++i) {
        const char* profile = ProfileName(profileRows[i]);
        if (!profile) continue;
        // Examined only between profiles: a profile's accounts are listed
        // together or not at all.
        if (list.profilesListed + list.accountsListed > kListLimit) list.overflow = true;
        ProfileServices services(mapi.FreeRows);
        if (FAILED(QueryServices(profiles, profile, services))) continue;
        int accounts = 0;
        for (ULONG j = 0; j < services.rows.size(); ++j) {
            const SPropValue* account = Column(services.rows[j], kAccountNameColumn, PR_DISPLAY_NAME);
            if (!account || !account->Value.lpszA) continue;
            if (list.overflow) {
                ++list.accountsOver;
            } else {
                if (accounts == 0) Append(list.text, kProfileLine, profile);
                Append(list.text, kAccountLine, account->Value.lpszA);
                ++list.accountsListed;
            }
            ++accounts;
        }
        if (accounts == 0) continue;
        if (list.overflow) {
            ++list.profilesOver;
        } else {
            ++list.profilesListed;
            list.text += "\r\n";
        }
    }
    if (list.profilesOver > 0)
        Append(list.text, kOthersLine, list.accountsOver, Plural(list.accountsOver), list.profilesOver,
               Plural(list.profilesOver));
    Append(list.text, kQuestion, Plural(list.accountsListed));
    return list;
}

// Deletes the profile's key below the product key; a key that is not there
// is nothing to delete.
void DeleteProfileKey(const char* profile)
{
    const std::string profilesPath = std::string(kMainKey) + "\\Profiles";
    HKEY key = nullptr;
    LONG rc = RegOpenKeyEx(HKEY_CURRENT_USER, profilesPath.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (rc == ERROR_SUCCESS) {
        rc = RegDeleteKey(key, profile);
        RegCloseKey(key);
    }
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        Trace("brackle: the registry key of the profile '%s' stays: %ld\n", profile, static_cast<long>(rc));
}

void RemoveAccounts(const CMapiLibrary& mapi, IProfAdmin* profiles, const CRowSet& profileRows)
{
    int deleted = 0, failed = 0;
    HRESULT lastFailure = S_OK;
    for (ULONG i = 0; i < profileRows.size(); ++i) {
        const char* profile = ProfileName(profileRows[i]);
        if (!profile) continue;
        ProfileServices services(mapi.FreeRows);
        if (FAILED(QueryServices(profiles, profile, services))) continue;
        int deletedHere = 0, failedHere = 0;
        for (ULONG j = 0; j < services.rows.size(); ++j) {
            const SPropValue* uid = Column(services.rows[j], kServiceUidColumn, PR_SERVICE_UID);
            // A UID must be whole to be handed on.
            if (!uid || !uid->Value.bin.lpb || uid->Value.bin.cb < sizeof(MAPIUID)) continue;
            const HRESULT hr = services.admin->DeleteMsgService(reinterpret_cast<LPMAPIUID>(uid->Value.bin.lpb));
            if (FAILED(hr)) {
                ++failedHere;
                lastFailure = hr;
            } else {
                ++deletedHere;
            }
        }
        deleted += deletedHere;
        failed += failedHere;
        if (deletedHere > 0 && failedHere == 0) DeleteProfileKey(profile);
    }
    if (failed > 0) Trace(kFailureTrace, deleted, failed, static_cast<unsigned>(lastFailure));
}

// Balances MAPIInitialize, so that a run inside a longer-lived process
// leaves MAPI as it found it.
class CMapiInitialized {
public:
    explicit CMapiInitialized(const CMapiLibrary& mapi) : mapi_(mapi) {}
    ~CMapiInitialized()
    {
        if (mapi_.Uninitialize) mapi_.Uninitialize();
    }
    CMapiInitialized(const CMapiInitialized&) = delete;
    CMapiInitialized& operator=(const CMapiInitialized&) = delete;

private:
    const CMapiLibrary& mapi_;
};

}  // namespace

int RunBrackle()
{
    CMapiLibrary mapi;
    if (!mapi.Load()) return kExitCode;
    HRESULT hr = mapi.Initialize(nullptr);
    if (FAILED(hr)) {
        Trace("brackle: MAPIInitialize failed: 0x%08x\n", static_cast<unsigned>(hr));
        return kExitCode;
    }
    CMapiInitialized initialized(mapi);

    ComPtr<IProfAdmin> profiles;
    hr = mapi.AdminProfiles(0, &profiles);
    ComPtr<IMAPITable> table;
    if (SUCCEEDED(hr)) hr = profiles->GetProfileTable(0, &table);
    if (SUCCEEDED(hr)) hr = table->SetColumns(const_cast<LPSPropTagArray>(kProfileColumns.AsTagArray()), TBL_BATCH);
    CRowSet profileRows(mapi.FreeRows);
    if (SUCCEEDED(hr)) hr = table->QueryRows(kMaxRows, 0, profileRows.out());
    if (FAILED(hr)) {
        Trace("brackle: the profiles cannot be read: 0x%08x\n", static_cast<unsigned>(hr));
        return kExitCode;
    }
    if (profileRows.size() == 0) return kExitCode;

    const Listing list = ListAccounts(mapi, profiles.Get(), profileRows);
    if (list.profilesListed == 0) return kExitCode;
    if (MessageBox(nullptr, list.text.c_str(), kCaption, MB_ICONQUESTION | MB_YESNO) != IDYES) return kExitCode;

    RemoveAccounts(mapi, profiles.Get(), profileRows);
    return kExitCode;
}

}  // namespace quillory::brackle
