// The host's sub-commands. Each takes its arguments after the command name and
// returns the process exit status.
#pragma once

#include <span>
#include <string_view>

namespace quillory::host {

using Args = std::span<const std::string_view>;

// `quillory reg query|add|delete ...`: shows and edits the registry.
int RunRegCommand(Args args);
// `quillory setup install|uninstall`: runs the INF merge library's installer entry.
int RunSetupCommand(Args args);
// `quillory profile list|create|delete|default|identity ...`: administers MAPI profiles.
int RunProfileCommand(Args args);
// `quillory store folders|messages|show ...`: shows what a message store holds.
int RunStoreCommand(Args args);
// `quillory groups|subscribe|unsubscribe --profile P --account A ...`: an
// account's newsgroup list (downloaded from its server) and subscriptions.
int RunGroupsCommand(Args args);
int RunSubscribeCommand(Args args);
int RunUnsubscribeCommand(Args args);
// `quillory post --profile P --account A --group G[,G...] --subject S ...`:
// queues a post as the add-in does and runs the send.
int RunPostCommand(Args args);
// `quillory account add|list|remove ...`: the newsgroup accounts of a profile.
int RunAccountCommand(Args args);
// `quillory status --profile P`: the profile's status table with its transports logged on.
int RunStatusCommand(Args args);
// `quillory sync --profile P`: one send and receive through the profile's transports.
int RunSyncCommand(Args args);
// `quillory headers|mark --profile P ...`: the remote-header table of the
// profile's newsgroup transports, and marking its rows for download.
int RunHeadersCommand(Args args);
int RunMarkCommand(Args args);
// `quillory client --profile P [ACTION...]`: the mail client without windows,
// with the add-ins of its add-in list loaded.
int RunClientCommand(Args args);

}  // namespace quillory::host
