// The pieces of NNTP (RFC 3977) that do not need a connection: splitting the
// byte stream into lines, status lines, overview records, dot-stuffing of an
// article to post and the date form of NEWGROUPS.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/wintypes.h"

namespace quillory::nntp {

// Longest line accepted from a server; anything longer ends the connection,
// so that a server that never sends a line end cannot exhaust memory.
constexpr std::size_t kMaxLineLength = 1024 * 1024;

// Cuts received bytes into lines. A line ends at LF; a CR before it is
// dropped, so servers that send bare LF are understood. Lines may contain NUL.
class CLineSplitter {
public:
    void Append(std::string_view bytes);
    // The next complete line (valid until the next Append or Next call), or
    // nothing when no complete line is buffered.
    std::optional<std::string_view> Next();
    // Whether the buffered partial line has passed kMaxLineLength.
    bool Overflowed() const;
    std::size_t Buffered() const { return buffer_.size() - start_; }
    void Clear();

private:
    std::string buffer_;
    std::size_t start_ = 0;
    std::size_t scanned_ = 0;  // no LF before this offset
};

struct StatusLine {
    UINT code = 0;
    std::string_view text;  // everything after the code and one blank
};

// "ddd text" with a code of 100..599; anything else is malformed.
std::optional<StatusLine> ParseStatusLine(std::string_view line);

// Whether the line ends a multi-line block; otherwise removes the leading
// dot of a dot-stuffed line.
bool UnstuffLine(std::string_view& line);

// One overview record (RFC 3977 8.3): number, subject, from, date,
// message-id, references, bytes, lines, then optional fields of which
// "Xref:" is picked out. Fields are views into the line.
struct OverviewRecord {
    DWORD number = 0;
    std::string_view subject, from, date, messageId, references, xref;
    DWORD bytes = 0;
    DWORD lines = 0;
    bool hasXref = false;
};

// Nothing when a field is missing or the article number is not a decimal
// number of 32 bits. Byte and line counts that are not numbers read as 0.
std::optional<OverviewRecord> ParseOverviewLine(std::string_view line);

// A decimal number of up to 32 bits, nothing else.
std::optional<DWORD> ParseNumber(std::string_view text);

// An article as it goes on the wire after POST's 340: every line ends in
// CR LF (bare LF and bare CR become CR LF), lines beginning with a dot get a
// second one, and the terminating "." line follows.
std::string DotStuffArticle(std::string_view article);

// "yyyymmdd hhmmss" for NEWGROUPS; nothing when a field is out of range.
std::optional<std::string> FormatNewgroupsTime(const SYSTEMTIME& utc);

}  // namespace quillory::nntp
