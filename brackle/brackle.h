// brackle: removes every newsgroup account (message service "Corvane") from
// every MAPI profile of the user, after listing them and asking once, and
// deletes the registry key of each profile whose accounts all went.
#pragma once

namespace quillory::brackle {

// The whole program: list, ask, remove. The answer comes from the message
// box presenter the process has installed (none: the box answers No).
// Always returns the exit code 0.
int RunBrackle();

}  // namespace quillory::brackle
