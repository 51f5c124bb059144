// The newsgroup files of an account, both in the data directory ("DIR"):
//
// - the group-list file: one line per group known on the server,
//     column 1 '!' when new, column 2 '*' when subscribed, column 3 a blank,
//     then the name and, when there is one, a blank and the description;
// - the subscribed-groups file: "# Subscribed groups", then one subscribed
//   name per line.
//
// Text is 8-bit in the system code page; lines end with CR LF.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillory {

struct GroupRecord {
    std::string name;         // never empty, no blank, tab, CR, LF or NUL
    std::string description;  // may be empty
    bool isNew = false;
    bool subscribed = false;

    bool operator==(const GroupRecord&) const = default;
};

constexpr char kGroupNewMark = '!';
constexpr char kGroupSubscribedMark = '*';
constexpr std::string_view kSubscribedFileHeader = "# Subscribed groups";
constexpr std::string_view kSubscribedFileSuffix = "-sub.txt";
constexpr std::string_view kKnownArticlesInsert = "-del";
// Lines this short carry no group (three mark columns and no name).
constexpr std::size_t kGroupLineMinLength = 4;

// Parses group-list text. Lines end at every CR and LF; empty lines and
// lines of three characters or fewer are skipped; a line's text ends at its
// first NUL byte, so a stray NUL never joins two records or hides the rest
// of the file.
std::vector<GroupRecord> ParseGroupList(std::string_view text);

// Parses at most `maxRecords` records from the front of `text` and appends
// them to `out`. Returns how many bytes were used up: text.substr(result) is
// the unparsed tail, to be passed to the next call. Large lists are loaded in
// such chunks while the first records are already shown.
std::size_t ParseGroupListChunk(std::string_view text, std::size_t maxRecords,
                                std::vector<GroupRecord>& out);

// Parses one line; its text ends at the first CR, LF or NUL. False when the
// line holds no record.
bool ParseGroupLine(std::string_view line, GroupRecord& out);

// The group-list text of `records`, one CR LF line each, in order. A record
// that no line can represent (empty name, or a blank, tab, CR, LF or NUL in
// the name) is left out; CR, LF and NUL in a description become blanks and
// the description is trimmed, so no record can break the file's lines.
std::string FormatGroupList(std::span<const GroupRecord> records);

// The subscribed-groups text: the header line, then the name of every
// subscribed record that FormatGroupList would write, in order.
std::string FormatSubscribedGroups(std::span<const GroupRecord> records);

// Names in subscribed-groups text: the first piece (the header line) is
// skipped, then every piece longer than one character is a name, in order.
// Pieces are split at CR and LF; a NUL ends a piece's text.
std::vector<std::string> ParseSubscribedGroups(std::string_view text);

// Path helpers. The list file's path with its last four characters (the
// ".txt") replaced by "-sub.txt", and with "-del" inserted before them. A
// path shorter than four characters names no such file: the result is empty.
std::string SubscribedFilePath(std::string_view listPath);
std::string KnownArticlesFilePath(std::string_view listPath);

// Reads a whole file into `out`; false (and `out` empty) when it cannot be
// opened or read.
bool ReadWholeFile(const std::string& path, std::string& out);

// Reads and parses a group-list file; false when it cannot be read (the
// account then has no groups).
bool ReadGroupListFile(const std::string& path, std::vector<GroupRecord>& out);

// Reads the subscribed names of an account. When the subscribed-groups file
// of `listPath` exists and is not empty, its names; otherwise the subscribed
// records of the group-list file itself.
std::vector<std::string> ReadSubscribedGroupNames(const std::string& listPath);

// Replaces a file's content with `content`. The text goes to a temporary file
// in the same directory, is flushed to disk and then renamed over `path`, so
// a reader or a crash sees either the old file or the new one, never half.
bool ReplaceFileContent(const std::string& path, std::string_view content);

bool WriteGroupListFile(const std::string& path, std::span<const GroupRecord> records);
bool WriteSubscribedFile(const std::string& path, std::span<const GroupRecord> records);

// Writes both files of an account from one group array. When the
// subscribed-groups file cannot be written it is deleted, so readers fall
// back to the marks of the group-list file instead of a stale list. Returns
// whether the group-list file was written.
bool SaveGroupFiles(const std::string& listPath, std::span<const GroupRecord> records);

}  // namespace quillory
