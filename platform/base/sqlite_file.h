// The system's SQLite files (the registry, the profile database, the message
// stores) are made and opened one way, so that a process killed at any
// moment leaves a file that opens with every commit it made, and a damaged
// file is refused before a byte of it is written.
//
// Recovery after a kill is SQLite's own (the write-ahead log is read back on
// the first read); nothing here second-guesses it. The only check made
// before SQLite sees a file is the one SQLite cannot make without writing:
// an empty file, which it would take for a new database and fill.
#pragma once

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>

struct sqlite3;

namespace quillory::sqlite_file {

// Waits this long for another process's lock before reporting busy.
constexpr int kBusyTimeoutMs = 10000;

// Makes a new database file. `build` creates it at the temporary path it is
// given (beside `file`, on the same file system) and closes its connection;
// the finished file is then linked into place whole, so a crash never
// leaves a half-made file under the real name. When another process made
// `file` meanwhile, its file stays and ours is dropped. Returns an SQLite
// result code; on failure `error` holds a sentence naming the file.
int CreateWhole(const std::filesystem::path& file,
                const std::function<int(const std::filesystem::path& temp, std::string& error)>& build,
                std::string& error);

// CreateWhole for a database that is one schema script (run in one
// transaction, with user_version set to `version`) in WAL mode.
int CreateWithSchema(const std::filesystem::path& file, const char* schema, int version, std::string& error);

// Opens an existing database file for reading and writing (never creating
// it) and reads it through with SQLite's quick check before anything is
// written: SQLITE_NOTADB for an empty file or one that is not a database,
// SQLITE_CORRUPT for one SQLite finds damaged (cut short, pages overwritten),
// SQLITE_CANTOPEN when it is missing or cannot be opened. A log left beside
// the file by a killed process is recovered by SQLite. On failure *out is
// null, `error` holds a sentence naming the file, and the file, and any log
// beside it, is left as it was.
int OpenExisting(const std::filesystem::path& file, sqlite3** out, std::string& error);

// Whether an opened database is one of ours: every one of `tables` there and
// user_version equal to `version`. A sound database of another kind is
// refused with this rather than altered.
bool HasSchema(sqlite3* db, std::initializer_list<const char*> tables, int version);

// SQLITE_CORRUPT and SQLITE_NOTADB (extended codes too).
bool IsDamage(int rc);

}  // namespace quillory::sqlite_file
