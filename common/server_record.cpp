#include "common/server_record.h"

#include <algorithm>

namespace quillory {
namespace {

template <std::size_t N>
void CopyField(char (&field)[N], std::string_view text)
{
    // Cut to the field and always terminated; an empty view may carry no data.
    const std::size_t n = std::min(text.size(), N - 1);
    std::copy_n(text.begin(), n, field);
    field[n] = '\0';
}

}  // namespace

const SPropValue* AccountValue(std::span<const SPropValue> props, acct::Index index)
{
    const auto i = static_cast<std::size_t>(index);
    if (i >= props.size() || !acct::HasExpectedTag(index, props[i].ulPropTag)) return nullptr;
    return &props[i];
}

std::string_view AccountString(std::span<const SPropValue> props, acct::Index index)
{
    const SPropValue* v = AccountValue(props, index);
    return v && v->Value.lpszA ? std::string_view(v->Value.lpszA) : std::string_view();
}

LONG AccountLong(std::span<const SPropValue> props, acct::Index index)
{
    const SPropValue* v = AccountValue(props, index);
    return v ? v->Value.l : 0;
}

bool AccountBool(std::span<const SPropValue> props, acct::Index index)
{
    const SPropValue* v = AccountValue(props, index);
    return v && v->Value.b != 0;
}

DWORD ConfiguredTimeout(std::span<const SPropValue> props)
{
    const LONG units = AccountLong(props, acct::kTimeout);
    if (units == 0) return kDefaultTimeoutSeconds;
    return static_cast<DWORD>(units) * static_cast<DWORD>(acct::kTimeoutUnitSeconds);
}

bool WantsDialup(std::span<const SPropValue> props)
{
    return AccountLong(props, acct::kConnectionType) == acct::kConnectionDialup &&
           !AccountString(props, acct::kDialupName).empty();
}

void FillServerRecord(std::span<const SPropValue> props, INETSERVER& server)
{
    server = INETSERVER{};
    CopyField(server.szAccount, AccountString(props, acct::kAccountName));
    if (AccountBool(props, acct::kLogonRequired)) {
        CopyField(server.szUserName, AccountString(props, acct::kLogonUser));
        CopyField(server.szPassword, AccountString(props, acct::kLogonPassword));
    }
    CopyField(server.szServerName, AccountString(props, acct::kServer));
    if (WantsDialup(props)) {
        CopyField(server.szConnectoid, AccountString(props, acct::kDialupName));
        server.rasconntype = CONNECTION_TYPE_RAS;
    } else {
        server.rasconntype = CONNECTION_TYPE_LAN;
    }
    server.dwPort = static_cast<DWORD>(AccountLong(props, acct::kPort));
    server.fSSL = AccountBool(props, acct::kSsl) ? TRUE : FALSE;
    server.fTrySicily = AccountBool(props, acct::kUseSpa) ? TRUE : FALSE;
    server.dwTimeout = ConfiguredTimeout(props);
    server.dwFlags = 0;
}

}  // namespace quillory
