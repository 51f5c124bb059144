// `quillory account`: newsgroup accounts of a profile. An account is a
// "Corvane" message service configured through its own entry with the
// settings, as a program (rather than the account wizard) sets one up.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "host/account_setup.h"
#include "host/commands.h"
#include "host/mapi_host.h"
#include "platform/mapi/profile_admin.h"
#include "platform/mapi/service_admin.h"

namespace quillory::host {
namespace {

constexpr const char* kCommand = "account";
constexpr const char* kServiceName = "Corvane";

constexpr const char* kUsage = R"usage(usage:
  quillory account add --profile P --server HOST [--port N] [--ssl]
                       [--user U --password W] --name "Your Name" --email ADDRESS
                       [--organization TEXT] [--reply-to ADDRESS] [--account NAME]
  quillory account list --profile P
  quillory account remove --profile P [NAME]

  add     a newsgroup account with the new-account defaults and an empty
          group list in the data directory; its name is "HOST (NNTP)" unless
          --account gives one. A profile without a base folder gets
          "Newsgroups" under its Inbox, as the add-in would choose
  list    the newsgroup accounts of the profile
  remove  the account of that name (the only one when no name is given)
)usage";

int Usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

// "--key value" and "--flag" options; false on anything else.
bool ParseOptions(Args args, std::map<std::string, std::string>& options, std::vector<std::string>& positional)
{
    static const char* const kFlags[] = {"--ssl"};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string a(args[i]);
        if (a.rfind("--", 0) != 0) {
            positional.push_back(a);
            continue;
        }
        bool flag = false;
        for (const char* f : kFlags) flag = flag || a == f;
        if (flag) {
            options[a] = "1";
        } else if (i + 1 < args.size()) {
            options[a] = std::string(args[++i]);
        } else {
            return false;
        }
    }
    return true;
}

struct Account {
    MAPIUID uid{};
    std::string name, server, email, groupList;
    LONG port = 0;
};

HRESULT ListAccounts(IMsgServiceAdmin* services, std::vector<Account>& out)
{
    ComPtr<IMAPITable> table;
    if (const HRESULT hr = services->GetMsgServiceTable(0, &table); FAILED(hr)) return hr;
    RowSetPtr keep;
    for (const auto& row : TableRows(table.Get(), {PR_SERVICE_NAME, PR_SERVICE_UID}, keep)) {
        if (strcasecmp(TextOf(row[0]).c_str(), kServiceName) != 0 || PROP_TYPE(row[1].ulPropTag) != PT_BINARY ||
            row[1].Value.bin.cb != sizeof(MAPIUID))
            continue;
        Account a;
        std::copy(row[1].Value.bin.lpb, row[1].Value.bin.lpb + sizeof a.uid.ab, a.uid.ab);
        ComPtr<IProfSect> section;
        if (FAILED(services->OpenProfileSection(&a.uid, nullptr, 0, &section))) continue;
        auto tags = MakeTagArray({PR_DISPLAY_NAME, acct::PR_NNTP_SERVER, acct::PR_NNTP_PORT, PR_EMAIL_ADDRESS,
                                  acct::PR_NNTP_GROUP_LIST_FILE});
        ULONG count = 0;
        MapiBuffer<SPropValue> values;
        if (FAILED(section->GetProps(tags.Get(), 0, &count, &values)) || count != 5) continue;
        a.name = TextOf(values.Get()[0]);
        a.server = TextOf(values.Get()[1]);
        a.port = PROP_TYPE(values.Get()[2].ulPropTag) == PT_LONG ? values.Get()[2].Value.l : 0;
        a.email = TextOf(values.Get()[3]);
        a.groupList = TextOf(values.Get()[4]);
        out.push_back(std::move(a));
    }
    return S_OK;
}

int Add(IMsgServiceAdmin* services, const std::map<std::string, std::string>& options)
{
    auto get = [&](const char* key) {
        const auto it = options.find(key);
        return it == options.end() ? std::string() : it->second;
    };
    NewAccount account;
    account.server = get("--server");
    account.name = get("--name");
    account.email = get("--email");
    account.user = get("--user");
    account.password = get("--password");
    account.organization = get("--organization");
    account.replyTo = get("--reply-to");
    account.accountName = get("--account");
    account.ssl = options.count("--ssl") != 0;
    if (options.count("--port")) {
        const std::string text = get("--port");
        char* end = nullptr;
        const long port = std::strtol(text.c_str(), &end, 10);
        if (!end || *end || port <= 0 || port > 65535) {
            std::fprintf(stderr, "quillory account: --port takes a port number from 1 to 65535\n");
            return 2;
        }
        account.port = static_cast<LONG>(port);
    }
    if (account.server.empty() || account.name.empty() || account.email.empty()) return Usage();
    if (account.user.empty() != account.password.empty()) {
        std::fprintf(stderr, "quillory account: --user and --password go together\n");
        return 2;
    }
    auto* admin = dynamic_cast<CMsgServiceAdmin*>(services);
    if (!admin) return ReportFailure<IMsgServiceAdmin>(kCommand, nullptr, E_NOINTERFACE, "opening the profile");

    std::string error;
    const std::string dir = EnsureDataDirectory(&error);
    const std::string groupList = dir.empty() ? std::string() : CreateGroupListFile(dir, &error);
    if (groupList.empty()) {
        std::fprintf(stderr, "quillory account: %s\n", error.c_str());
        return 1;
    }
    std::string displayName;
    std::vector<SPropValue> values = AccountValues(account, groupList, displayName);
    MAPIUID uid{};
    const HRESULT hr = CreateConfiguredService(admin->Context(), kServiceName, static_cast<ULONG>(values.size()),
                                               values.data(), &uid, &error);
    if (FAILED(hr)) {
        std::remove((dir + groupList).c_str());
        std::fprintf(stderr, "quillory account: adding the account failed (0x%08X)%s%s\n", static_cast<unsigned>(hr),
                     error.empty() ? "" : ": ", error.c_str());
        return 1;
    }
    std::printf("Added account \"%s\" (%s) with the group list %s%s\n", displayName.c_str(), account.server.c_str(),
                dir.c_str(), groupList.c_str());
    // Without a base folder the transport cannot file what it receives.
    if (!EnsureBaseFolder(admin->Context().profileName, &error))
        std::fprintf(stderr, "quillory account: warning: %s; newsgroup folders need one\n", error.c_str());
    if (EnsureNewsgroupsEnabled(admin->Context().profileName) != ERROR_SUCCESS)
        std::fprintf(stderr, "quillory account: warning: the profile cannot be marked as using newsgroups\n");
    return 0;
}

int List(IMsgServiceAdmin* services)
{
    std::vector<Account> accounts;
    if (const HRESULT hr = ListAccounts(services, accounts); FAILED(hr))
        return ReportFailure(kCommand, services, hr, "reading the accounts");
    if (accounts.empty()) std::printf("No newsgroup accounts.\n");
    for (const auto& a : accounts)
        std::printf("%s\t%s:%d\t%s\t%s\n", a.name.c_str(), a.server.c_str(), static_cast<int>(a.port), a.email.c_str(),
                    a.groupList.c_str());
    return 0;
}

int Remove(IMsgServiceAdmin* services, const std::vector<std::string>& names)
{
    std::vector<Account> accounts;
    if (const HRESULT hr = ListAccounts(services, accounts); FAILED(hr))
        return ReportFailure(kCommand, services, hr, "reading the accounts");
    std::vector<const Account*> matches;
    for (const auto& a : accounts)
        if (names.empty() || strcasecmp(a.name.c_str(), names[0].c_str()) == 0) matches.push_back(&a);
    if (matches.size() != 1) {
        std::fprintf(stderr, "quillory account: %s\n",
                     matches.empty()        ? "no such newsgroup account"
                     : names.empty()        ? "the profile has several accounts; name the one to remove"
                                            : "several accounts have that name");
        return 1;
    }
    MAPIUID uid = matches[0]->uid;
    if (const HRESULT hr = services->DeleteMsgService(&uid); FAILED(hr))
        return ReportFailure(kCommand, services, hr, "removing \"" + matches[0]->name + "\"");
    std::printf("Removed account \"%s\"\n", matches[0]->name.c_str());
    return 0;
}

}  // namespace

int RunAccountCommand(Args args)
{
    if (args.empty()) return Usage();
    const std::string verb(args[0]);
    std::map<std::string, std::string> options;
    std::vector<std::string> positional;
    if (!ParseOptions(args.subspan(1), options, positional) || !options.count("--profile")) return Usage();
    if (verb == "add" ? !positional.empty() : verb == "list" ? !positional.empty() || options.size() != 1
                                             : verb == "remove" ? positional.size() > 1 || options.size() != 1
                                                                : true)
        return Usage();

    MapiSession mapi;
    if (FAILED(mapi.Result())) return ReportFailure<IProfAdmin>(kCommand, nullptr, mapi.Result(), "starting MAPI");
    ComPtr<IProfAdmin> admin;
    if (const HRESULT hr = MAPIAdminProfiles(0, &admin); FAILED(hr))
        return ReportFailure<IProfAdmin>(kCommand, nullptr, hr, "opening the profiles");
    std::string profile = options["--profile"];
    ComPtr<IMsgServiceAdmin> services;
    if (const HRESULT hr = admin->AdminServices(profile.data(), nullptr, 0, 0, &services); FAILED(hr))
        return ReportFailure(kCommand, admin.Get(), hr, "opening the profile '" + profile + "'");
    if (verb == "add") return Add(services.Get(), options);
    if (verb == "list") return List(services.Get());
    return Remove(services.Get(), positional);
}

}  // namespace quillory::host
