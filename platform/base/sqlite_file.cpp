#include "platform/base/sqlite_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <system_error>

#include "platform/base/trace.h"

namespace quillory::sqlite_file {
namespace {

namespace fs = std::filesystem;

void SyncDirectory(const fs::path& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    if (::fsync(fd) != 0) Trace("sqlite: fsync of %s failed\n", dir.c_str());
    ::close(fd);
}

bool Exists(const fs::path& p)
{
    std::error_code ec;
    return fs::exists(p, ec);
}

// Every page read once: b-tree structure, overflow chains and the free list.
int QuickCheck(sqlite3* db, std::string& detail)
{
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &s, nullptr);
    if (rc != SQLITE_OK) {
        detail = sqlite3_errmsg(db);
        return rc;
    }
    bool sound = true;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        const auto* line = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        if (line && std::strcmp(line, "ok") == 0) continue;
        // The first finding, on one line, without the schema marker.
        if (sound) {
            detail = line ? line : "no verdict";
            if (detail.starts_with("*** in database main ***")) detail.erase(0, 24);
            for (char& c : detail)
                if (c == '\n') c = ' ';
            while (!detail.empty() && detail.front() == ' ') detail.erase(0, 1);
        }
        sound = false;
    }
    if (rc != SQLITE_DONE) detail = sqlite3_errmsg(db);
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) return rc;
    return sound ? SQLITE_OK : SQLITE_CORRUPT;
}

std::string Describe(const fs::path& file, int rc, const std::string& detail)
{
    std::string text = file.string();
    switch (rc & 0xFF) {
    case SQLITE_NOTADB: text += " is not a database"; break;
    case SQLITE_CORRUPT: text += " is damaged"; break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: text += " is held by another process"; break;
    default: text += std::string(" cannot be opened (") + sqlite3_errstr(rc) + ")"; break;
    }
    if (!detail.empty()) text += ": " + detail;
    return text;
}

// Temporary files of makers killed before they finished ("<name>.new-<pid>-..."
// with its log files), left beside `file`; those of living makers stay.
void RemoveStrayTemporaries(const fs::path& file)
{
    const std::string prefix = file.filename().string() + ".new-";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(file.parent_path(), ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(prefix)) continue;
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) {
            std::error_code ignored;
            fs::remove(entry.path(), ignored);
        }
    }
}

}  // namespace

bool IsDamage(int rc) { return (rc & 0xFF) == SQLITE_CORRUPT || (rc & 0xFF) == SQLITE_NOTADB; }

int CreateWhole(const fs::path& file, const std::function<int(const fs::path& temp, std::string& error)>& build,
                std::string& error)
{
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    if (ec) {
        error = "cannot create " + file.parent_path().string() + ": " + ec.message();
        return SQLITE_CANTOPEN;
    }
    RemoveStrayTemporaries(file);
    std::random_device rd;
    const fs::path temp = file.parent_path() / (file.filename().string() + ".new-" + std::to_string(::getpid()) +
                                                "-" + std::to_string(rd()));
    int rc = build(temp, error);
    if (rc == SQLITE_OK) {
        // link() refuses to replace: when another process made the file
        // meanwhile, its file wins and ours is dropped.
        if (::link(temp.c_str(), file.c_str()) != 0 && errno != EEXIST) {
            error = "cannot move " + temp.string() + " into place as " + file.string() + ": " + std::strerror(errno);
            rc = SQLITE_CANTOPEN;
        }
    }
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(temp.string() + suffix, ec);
    if (rc == SQLITE_OK) SyncDirectory(file.parent_path());
    return rc;
}

int CreateWithSchema(const fs::path& file, const char* schema, int version, std::string& error)
{
    return CreateWhole(file, [&](const fs::path& temp, std::string& why) {
        sqlite3* db = nullptr;
        int rc = sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXRESCODE,
                                 nullptr);
        const std::string script = "PRAGMA journal_mode=WAL; BEGIN IMMEDIATE; " + std::string(schema) +
                                   "; PRAGMA user_version=" + std::to_string(version) + "; COMMIT;";
        if (rc == SQLITE_OK) rc = sqlite3_exec(db, script.c_str(), nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) why = "cannot create " + temp.string() + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        // Closing the only connection folds the log into the file and syncs it.
        if (const int closed = sqlite3_close(db); rc == SQLITE_OK && closed != SQLITE_OK) {
            why = "cannot finish " + temp.string() + ": " + sqlite3_errstr(closed);
            rc = closed;
        }
        return rc;
    }, error);
}

bool HasSchema(sqlite3* db, std::initializer_list<const char*> tables, int version)
{
    sqlite3_stmt* s = nullptr;
    bool ok = sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr) == SQLITE_OK &&
              sqlite3_step(s) == SQLITE_ROW && sqlite3_column_int(s, 0) == version;
    sqlite3_finalize(s);
    s = nullptr;
    if (!ok || sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?1", -1, &s,
                                  nullptr) != SQLITE_OK)
        return false;
    for (const char* table : tables) {
        sqlite3_reset(s);
        sqlite3_bind_text(s, 1, table, -1, SQLITE_STATIC);
        if (sqlite3_step(s) != SQLITE_ROW) ok = false;
    }
    sqlite3_finalize(s);
    return ok;
}

int OpenExisting(const fs::path& file, sqlite3** out, std::string& error)
{
    *out = nullptr;
    std::error_code ec;
    const auto status = fs::status(file, ec);
    if (ec || !fs::is_regular_file(status)) {
        error = file.string() + (fs::exists(status) ? " is not a file" : " does not exist");
        return SQLITE_CANTOPEN;
    }
    // SQLite takes an empty file for a new database and would fill it; ours
    // are never empty (they are made whole), so this one lost its contents.
    if (fs::file_size(file, ec) == 0 && !ec) {
        error = file.string() + " is empty, not a database";
        return SQLITE_NOTADB;
    }
    const std::string wal = file.string() + "-wal";
    const std::string shm = file.string() + "-shm";
    const bool hadWal = Exists(wal), hadShm = Exists(shm);

    sqlite3* db = nullptr;
    std::string detail;
    int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_EXRESCODE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        // Closing the last connection folds the log into the file; a file
        // that is refused must not be written that way.
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        rc = QuickCheck(db, detail);
    } else if (db) {
        detail = sqlite3_errmsg(db);
    }
    if (rc == SQLITE_OK) {
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
        *out = db;
        return SQLITE_OK;
    }
    error = Describe(file, rc, detail);
    if (const int closed = sqlite3_close(db); closed != SQLITE_OK)
        Trace("sqlite: closing %s: %s\n", file.c_str(), sqlite3_errstr(closed));
    // The log files SQLite made for the refused file go again; a log that
    // was there before stays as it was, for whoever repairs the file.
    if (!hadWal && fs::file_size(wal, ec) == 0 && !ec) fs::remove(wal, ec);
    if (!hadShm) fs::remove(shm, ec);
    return rc;
}

}  // namespace quillory::sqlite_file
