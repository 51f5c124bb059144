// A folder's messages as threads: each message under the one it answers, as
// the conversation index says (a reply's index is its parent's index with
// five more bytes), indented by its depth, with subject, sender and date.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/wintypes.h"
#include "platform/mapi/mapix.h"

namespace quillory::host {

// Bytes of a conversation index's header and of each reply level after it.
constexpr std::size_t kConversationHeaderSize = 22;
constexpr std::size_t kConversationChildSize = 5;

struct ThreadEntry {
    std::vector<BYTE> index;  // empty when the message has none
    std::string subject;
    std::string sender;
    std::optional<FILETIME> date;
};

struct ThreadLine {
    const ThreadEntry* entry;
    int depth;
};

// The entries in thread order: threads by the time of their first message,
// each message followed by its answers (in the order of their indexes). A
// message whose parent is not in the folder hangs under its nearest ancestor
// that is, or starts a thread of its own.
std::vector<ThreadLine> ArrangeThreads(const std::vector<ThreadEntry>& entries);

// Message texts are 8-bit in the system code page; a terminal wants UTF-8.
std::string SystemTextToUtf8(std::string_view text);

// "<indent>subject  (sender, YYYY-MM-DD HH:MM UTC)", two blanks per level,
// in UTF-8.
std::string FormatThreadLine(const ThreadEntry& entry, int depth);

// The messages of a folder with the columns the threads need: the subject,
// the sender (or the name it was sent as), the submit time (or the delivery
// time) and the conversation index.
HRESULT ReadThreadEntries(IMAPIFolder* folder, std::vector<ThreadEntry>& out);

}  // namespace quillory::host
