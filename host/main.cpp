// `quillory`: the command-line mail-client host.
#include <cstdio>
#include <string_view>
#include <vector>

#include "host/commands.h"

namespace {

struct Command {
    std::string_view name;
    int (*run)(quillory::host::Args);
    std::string_view summary;
};

constexpr Command kCommands[] = {
    {"reg", quillory::host::RunRegCommand, "show and edit the registry (query, add, delete)"},
    {"setup", quillory::host::RunSetupCommand, "merge the service into the service lists (install, uninstall)"},
    {"profile", quillory::host::RunProfileCommand, "list, create and delete MAPI profiles"},
    {"store", quillory::host::RunStoreCommand, "show a message store's folders, messages and properties"},
    {"groups", quillory::host::RunGroupsCommand, "list or download a newsgroup account's newsgroups"},
    {"subscribe", quillory::host::RunSubscribeCommand, "subscribe a newsgroup account to newsgroups"},
    {"unsubscribe", quillory::host::RunUnsubscribeCommand, "unsubscribe a newsgroup account from newsgroups"},
    {"post", quillory::host::RunPostCommand, "post to newsgroups from a newsgroup account"},
    {"account", quillory::host::RunAccountCommand, "add, list and remove newsgroup accounts"},
    {"status", quillory::host::RunStatusCommand, "show the status table of a profile's transports"},
    {"sync", quillory::host::RunSyncCommand, "run one send and receive"},
    {"headers", quillory::host::RunHeadersCommand, "list the article headers waiting on the news servers"},
    {"mark", quillory::host::RunMarkCommand, "mark waiting headers for download (or removal) and process them"},
    {"client", quillory::host::RunClientCommand, "run the mail client without windows, with its add-ins"},
};

int Usage(FILE* out)
{
    std::fprintf(out, "usage: quillory COMMAND [ARGS...]\n\ncommands:\n");
    for (const auto& c : kCommands)
        std::fprintf(out, "  %-10.*s %.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                     static_cast<int>(c.summary.size()), c.summary.data());
    return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) return Usage(stderr);
    if (args[0] == "help" || args[0] == "--help" || args[0] == "-h") return Usage(stdout);
    for (const auto& c : kCommands)
        if (c.name == args[0]) return c.run(quillory::host::Args(args).subspan(1));
    std::fprintf(stderr, "quillory: unknown command '%s'\n", argv[1]);
    return Usage(stderr);
}
