// `quillory groups|subscribe|unsubscribe`: an account's newsgroup list and
// subscriptions without the subscription dialog. The files are the ones the
// dialog writes and the provider reads, rewritten the same way.
#include <cstdio>
#include <string>
#include <vector>

#include "common/grouplist.h"
#include "common/regstore.h"
#include "host/commands.h"
#include "host/group_download.h"
#include "host/group_subscription.h"
#include "host/news_account.h"
#include "platform/base/time.h"

namespace quillory::host {
namespace {

constexpr const char* kUsage = R"(usage:
  quillory groups --profile P --account A [--download]
  quillory subscribe --profile P --account A GROUP...
  quillory unsubscribe --profile P --account A GROUP...

  groups       lists the account's newsgroups: '!' marks a new group, '*' a
               subscribed one, then the name and the description;
               --download first fetches the list from the news server
               (subscriptions are kept, groups created lately are marked new)
  subscribe    marks the groups subscribed in the account's list files
  unsubscribe  takes the marks off again
)";

constexpr DWORD kProgressIntervalMs = 1000;

struct Options {
    std::string profile;
    std::string account;
    bool download = false;
    std::vector<std::string> groups;
};

int Usage()
{
    std::fputs(kUsage, stderr);
    return 2;
}

bool ParseOptions(Args args, bool allowDownload, bool wantGroups, Options& out)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if ((a == "--profile" || a == "--account") && i + 1 < args.size()) {
            (a == "--profile" ? out.profile : out.account) = std::string(args[++i]);
        } else if (a == "--download" && allowDownload) {
            out.download = true;
        } else if (wantGroups && !a.starts_with("--")) {
            out.groups.emplace_back(a);
        } else {
            return false;
        }
    }
    return !out.profile.empty() && !out.account.empty() && (!wantGroups || !out.groups.empty());
}

int Fail(const char* command, const std::string& text)
{
    std::fprintf(stderr, "quillory %s: %s\n", command, text.c_str());
    return 1;
}

// Opens MAPI, finds the account and the path of its group-list file.
bool OpenAccount(const char* command, const Options& o, MapiInitScope& mapi, NewsAccount& account,
                 std::string& listPath)
{
    if (FAILED(mapi.Result())) {
        Fail(command, "MAPI cannot be initialised");
        return false;
    }
    std::string error;
    if (FAILED(FindNewsAccount(o.profile, o.account, account, error))) {
        Fail(command, error);
        return false;
    }
    listPath = account.GroupListPath();
    if (account.String(acct::kGroupListFile).empty()) {
        Fail(command, "NNTP account '" + std::string(account.Name()) +
                          "' has no newsgroup list file in its settings; re-create the account");
        return false;
    }
    if (listPath.empty()) {
        Fail(command, "the data directory (registry value \"DIR\") is not set");
        return false;
    }
    return true;
}

int Download(const NewsAccount& account, const std::string& listPath)
{
    std::printf("Downloading newsgroups from %.*s for account '%.*s'\n",
                static_cast<int>(account.String(acct::kServer).size()), account.String(acct::kServer).data(),
                static_cast<int>(account.Name().size()), account.Name().data());
    DWORD lastShown = GetTickCount() - kProgressIntervalMs;
    const auto progress = [&lastShown](std::size_t received, bool last) {
        const DWORD now = GetTickCount();
        if (!last && now - lastShown < kProgressIntervalMs) return;
        lastShown = now;
        std::printf("Downloading newsgroups: %zu received...\n", received);
        std::fflush(stdout);
    };
    const auto status = [](std::string_view text) {
        std::printf("  %.*s\n", static_cast<int>(text.size()), text.data());
        std::fflush(stdout);
    };
    DownloadedList list;
    std::string error;
    if (!DownloadGroupList(account, list, error, progress, status)) return Fail("groups", error);

    std::vector<GroupRecord> current;
    ReadGroupListFile(listPath, current);  // none yet: nothing to keep
    std::vector<GroupRecord> merged = MergeDownloadedList(current, std::move(list.groups), list.newGroups);
    if (!SaveGroupFiles(listPath, merged)) return Fail("groups", "cannot write " + listPath);
    std::size_t subscribed = 0, fresh = 0;
    for (const auto& g : merged) {
        subscribed += g.subscribed;
        fresh += g.isNew;
    }
    std::printf("%zu newsgroups (%zu new, %zu subscribed) written to %s\n", merged.size(), fresh, subscribed,
                listPath.c_str());
    return 0;
}

int ChangeSubscriptions(const char* command, Args args, bool subscribe)
{
    Options o;
    if (!ParseOptions(args, false, true, o)) return Usage();
    MapiInitScope mapi;
    NewsAccount account;
    std::string listPath;
    if (!OpenAccount(command, o, mapi, account, listPath)) return 1;
    std::vector<GroupRecord> records;
    if (!ReadGroupListFile(listPath, records))
        return Fail(command, "account '" + o.account + "' has no newsgroup list yet; run `quillory groups --profile " +
                                 o.profile + " --account " + o.account + " --download` first");
    const SubscriptionChange change = SetSubscribed(records, o.groups, subscribe);
    if (!change.unknown.empty()) {
        std::string names;
        for (const auto& n : change.unknown) names += (names.empty() ? "" : ", ") + n;
        return Fail(command, "no such newsgroup in the list of account '" + o.account + "': " + names +
                                 " (nothing was changed)");
    }
    if (!change.changed.empty() && !SaveGroupFiles(listPath, records))
        return Fail(command, "cannot write " + listPath);
    for (const auto& n : change.changed) std::printf("%s %s\n", subscribe ? "subscribed" : "unsubscribed", n.c_str());
    for (const auto& n : change.unchanged)
        std::printf("%s %s\n", subscribe ? "already subscribed" : "not subscribed", n.c_str());
    return 0;
}

}  // namespace

int RunGroupsCommand(Args args)
{
    Options o;
    if (!ParseOptions(args, true, false, o)) return Usage();
    MapiInitScope mapi;
    NewsAccount account;
    std::string listPath;
    if (!OpenAccount("groups", o, mapi, account, listPath)) return 1;
    if (o.download) return Download(account, listPath);

    std::vector<GroupRecord> records;
    if (!ReadGroupListFile(listPath, records) || records.empty()) {
        std::printf("Account '%s' has no newsgroups yet; `quillory groups --profile %s --account %s --download` "
                    "fetches them.\n",
                    o.account.c_str(), o.profile.c_str(), o.account.c_str());
        return 0;
    }
    for (const auto& r : records) std::printf("%s\n", FormatListingLine(r).c_str());
    return 0;
}

int RunSubscribeCommand(Args args) { return ChangeSubscriptions("subscribe", args, true); }
int RunUnsubscribeCommand(Args args) { return ChangeSubscriptions("unsubscribe", args, false); }

}  // namespace quillory::host
