#include "host/news_account.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "common/regstore.h"
#include "host/mapi_host.h"
#include "platform/com/com_ptr.h"
#include "platform/mapi/mapitags.h"
#include "platform/mapi/mapix.h"
#include "platform/mapi/profile_admin.h"
#include "platform/mapi/session.h"

namespace quillory::host {

MapiInitScope::MapiInitScope() : hr_(MAPIInitialize(nullptr)) {}

MapiInitScope::~MapiInitScope()
{
    if (SUCCEEDED(hr_)) MAPIUninitialize();
}

std::string_view NewsAccount::String(acct::Index index) const
{
    const auto i = static_cast<std::size_t>(index);
    if (i >= count_ || !acct::HasExpectedTag(index, props_.Get()[i].ulPropTag)) return {};
    const char* text = props_.Get()[i].Value.lpszA;
    return text ? std::string_view(text) : std::string_view();
}

LONG NewsAccount::Long(acct::Index index, LONG def) const
{
    const auto i = static_cast<std::size_t>(index);
    if (i >= count_ || !acct::HasExpectedTag(index, props_.Get()[i].ulPropTag)) return def;
    return props_.Get()[i].Value.l;
}

bool NewsAccount::Bool(acct::Index index, bool def) const
{
    const auto i = static_cast<std::size_t>(index);
    if (i >= count_ || !acct::HasExpectedTag(index, props_.Get()[i].ulPropTag)) return def;
    return props_.Get()[i].Value.b != 0;
}

std::string NewsAccount::GroupListPath() const
{
    const std::string_view file = String(acct::kGroupListFile);
    const std::string dir = ReadDataDirectory();
    if (file.empty() || dir.empty()) return {};
    return dir + std::string(file);
}

namespace {

struct ServiceRow {
    MAPIUID uid{};
    std::string accountName;
};

std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

HRESULT ReadSettings(IMsgServiceAdmin* services, const MAPIUID& uid, MapiBuffer<SPropValue>& props, ULONG& count)
{
    ComPtr<IProfSect> section;
    MAPIUID key = uid;
    HRESULT hr = services->OpenProfileSection(&key, nullptr, 0, &section);
    if (FAILED(hr)) return hr;
    std::vector<BYTE> storage(CbNewSPropTagArray(acct::kCount));
    auto* tags = reinterpret_cast<SPropTagArray*>(storage.data());
    tags->cValues = acct::kCount;
    std::copy(acct::kTags.begin(), acct::kTags.end(), tags->aulPropTag);
    // Warnings are expected: entries not set yet come back with error tags.
    hr = section->GetProps(tags, 0, &count, &props);
    return FAILED(hr) ? hr : S_OK;
}

}  // namespace

HRESULT FindNewsAccount(std::string_view profile, std::string_view accountName, NewsAccount& out,
                        std::string& error)
{
    const std::string profileName(profile);
    ComPtr<IProfAdmin> admin;
    HRESULT hr = MAPIAdminProfiles(0, &admin);
    ComPtr<IMsgServiceAdmin> services;
    if (SUCCEEDED(hr)) hr = admin->AdminServices(const_cast<LPSTR>(profileName.c_str()), nullptr, 0, 0, &services);
    if (FAILED(hr)) {
        const std::string why = admin ? std::string() : ExplainWithoutObject(hr);
        error = "the profile '" + profileName + "' cannot be opened (" + Hex(hr) + ")" + (why.empty() ? "" : ": " + why);
        return hr;
    }
    ComPtr<IMAPITable> table;
    if (hr = services->GetMsgServiceTable(0, &table); FAILED(hr)) {
        error = "the services of profile '" + profileName + "' cannot be read (" + Hex(hr) + ")";
        return hr;
    }
    SizedSPropTagArray<2> columns = {2, {PR_SERVICE_NAME, PR_SERVICE_UID}};
    RowSetPtr rows;
    if (hr = table->SetColumns(columns.AsTagArray(), 0); SUCCEEDED(hr)) hr = table->QueryRows(0x7FFFFFFF, 0, &rows);
    if (FAILED(hr) || !rows) {
        error = "the services of profile '" + profileName + "' cannot be read (" + Hex(hr) + ")";
        return FAILED(hr) ? hr : MAPI_E_CALL_FAILED;
    }

    // The account name lives in each service's settings, so every newsgroup
    // service is read until one matches.
    std::optional<ServiceRow> exact, folded;
    int foldedCount = 0;
    for (ULONG r = 0; r < rows->cRows; ++r) {
        const SRow& row = rows->aRow[r];
        if (row.cValues < 2 || row.lpProps[0].ulPropTag != PR_SERVICE_NAME ||
            row.lpProps[1].ulPropTag != PR_SERVICE_UID || row.lpProps[1].Value.bin.cb != sizeof(MAPIUID) ||
            kNewsServiceName != row.lpProps[0].Value.lpszA)
            continue;
        ServiceRow service;
        std::memcpy(&service.uid, row.lpProps[1].Value.bin.lpb, sizeof(MAPIUID));
        MapiBuffer<SPropValue> props;
        ULONG count = 0;
        if (FAILED(ReadSettings(services.Get(), service.uid, props, count)) || count != acct::kCount) continue;
        const SPropValue& name = props.Get()[acct::kAccountName];
        if (name.ulPropTag != acct::PR_DISPLAY_NAME || !name.Value.lpszA) continue;
        service.accountName = name.Value.lpszA;
        if (service.accountName == accountName) {
            exact = service;
            break;
        }
        if (service.accountName.size() == accountName.size() &&
            strncasecmp(service.accountName.c_str(), accountName.data(), accountName.size()) == 0) {
            folded = service;
            ++foldedCount;
        }
    }
    std::optional<ServiceRow> found = exact;
    if (!found && foldedCount == 1) found = folded;
    if (!found) {
        error = "profile '" + profileName + "' has no newsgroup account named '" + std::string(accountName) + "'";
        return MAPI_E_NOT_FOUND;
    }
    out.uid_ = found->uid;
    if (hr = ReadSettings(services.Get(), found->uid, out.props_, out.count_); FAILED(hr)) {
        error = "the settings of account '" + found->accountName + "' cannot be read (" + Hex(hr) + ")";
        return hr;
    }
    return S_OK;
}

}  // namespace quillory::host
