// One send and receive through the profile's transports, as the mail client
// runs it after a post was queued.
#pragma once

#include "platform/mapi/mapix.h"

namespace quillory::host {

// Runs the pass, printing what happened to each outgoing message. Returns the
// exit status: 0 when nothing was deferred or left undeliverable and no new
// non-delivery report arrived.
int SendQueuedPosts(IMAPISession* session);

}  // namespace quillory::host
