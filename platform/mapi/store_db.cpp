#include "platform/mapi/store_db.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstring>

#include "platform/base/sqlite_file.h"
#include "platform/base/trace.h"
#include "platform/com/guid.h"
#include "platform/mapi/entryid.h"

namespace quillory::store {
namespace {

constexpr int kBusyTimeoutMs = sqlite_file::kBusyTimeoutMs;
constexpr std::int64_t kFormat = 1;

// Row ids are AUTOINCREMENT so that an id, and with it an entry ID, is never
// given to a second object. A message's values are one encoded array in its
// row (so a save writes few pages); values larger than kInlineValueBytes sit
// in message_large. prop_index maps (folder, tag, order key) to messages for
// the tags a folder is indexed on (store_db_query.cpp): a few by default,
// others from the first restriction or sort that needs them (indexed).
constexpr const char* kSchema = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value BLOB NOT NULL);
CREATE TABLE store_props(tag INTEGER PRIMARY KEY, value BLOB NOT NULL);
CREATE TABLE folders(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER,
  name TEXT NOT NULL,
  fold TEXT NOT NULL,
  type INTEGER NOT NULL,
  created INTEGER NOT NULL,
  modified INTEGER NOT NULL);
CREATE UNIQUE INDEX folders_by_name ON folders(parent, fold);
CREATE TABLE folder_props(
  folder INTEGER NOT NULL, tag INTEGER NOT NULL, value BLOB NOT NULL,
  PRIMARY KEY(folder, tag)) WITHOUT ROWID;
CREATE TABLE messages(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  folder INTEGER NOT NULL,
  assoc INTEGER NOT NULL,
  flags INTEGER NOT NULL,
  status INTEGER NOT NULL,
  size INTEGER NOT NULL,
  created INTEGER NOT NULL,
  modified INTEGER NOT NULL,
  large INTEGER NOT NULL,
  props BLOB NOT NULL);
CREATE INDEX messages_by_folder ON messages(folder, assoc, flags);
CREATE TABLE message_large(
  message INTEGER NOT NULL, tag INTEGER NOT NULL, value BLOB NOT NULL,
  PRIMARY KEY(message, tag));
CREATE TABLE prop_index(
  folder INTEGER NOT NULL, tag INTEGER NOT NULL, ikey BLOB NOT NULL, message INTEGER NOT NULL,
  PRIMARY KEY(folder, tag, ikey, message)) WITHOUT ROWID;
CREATE TABLE indexed(folder INTEGER NOT NULL, tag INTEGER NOT NULL, PRIMARY KEY(folder, tag)) WITHOUT ROWID;
CREATE TABLE recipients(
  message INTEGER NOT NULL, row INTEGER NOT NULL, props BLOB NOT NULL,
  PRIMARY KEY(message, row)) WITHOUT ROWID;
CREATE TABLE attachments(
  message INTEGER NOT NULL, num INTEGER NOT NULL, props BLOB NOT NULL, data BLOB,
  PRIMARY KEY(message, num));
CREATE TABLE outgoing(message INTEGER PRIMARY KEY, submitted INTEGER NOT NULL, flags INTEGER NOT NULL);
CREATE TABLE receive_folders(class TEXT PRIMARY KEY, name TEXT NOT NULL, folder INTEGER NOT NULL);
)sql";

std::atomic<std::function<void(const char*)>*> g_faultHook{nullptr};

HRESULT MapSqlite(int rc)
{
    switch (rc & 0xFF) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return MAPI_E_CORRUPT_STORE;
    case SQLITE_FULL: return MAPI_E_NOT_ENOUGH_DISK;
    case SQLITE_NOMEM: return MAPI_E_NOT_ENOUGH_MEMORY;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return MAPI_E_BUSY;
    case SQLITE_IOERR: return MAPI_E_DISK_ERROR;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN: return MAPI_E_NO_ACCESS;
    case SQLITE_CONSTRAINT: return MAPI_E_COLLISION;
    default: return MAPI_E_CALL_FAILED;
    }
}

void PutMeta(StoreDb& db, std::string_view key, std::int64_t value)
{
    Stmt(db, "INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)").Bind(1, key).Bind(2, value).Run();
}

RowId AddDefaultFolder(StoreDb& db, RowId parent, std::string_view name, ULONG type, std::int64_t now)
{
    std::string fold(name);
    for (char& c : fold) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    Stmt s(db, "INSERT INTO folders(parent, name, fold, type, created, modified) VALUES(?1, ?2, ?3, ?4, ?5, ?5)");
    if (parent) s.Bind(1, parent);
    else s.BindNull(1);
    s.Bind(2, name).Bind(3, std::string_view(fold)).Bind(4, std::int64_t{type}).Bind(5, now).Run();
    return sqlite3_last_insert_rowid(db.Handle());
}

}  // namespace

// ---- Helpers --------------------------------------------------------------------

HRESULT GuardStore(const char* where, const std::function<HRESULT()>& f)
{
    try {
        return f();
    } catch (const DbError& e) {
        Trace("store: %s: %s\n", where, e.what());
        return e.code();
    } catch (const std::bad_alloc&) {
        Trace("store: %s: out of memory\n", where);
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

std::int64_t NowTicks()
{
    constexpr std::int64_t kUnixEpochTicks = 116444736000000000;  // 1970 in FILETIME ticks
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return kUnixEpochTicks + std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

FILETIME TicksToFileTime(std::int64_t ticks)
{
    const auto u = static_cast<std::uint64_t>(ticks);
    return FILETIME{static_cast<DWORD>(u), static_cast<DWORD>(u >> 32)};
}

void SetFaultHookForTesting(std::function<void(const char* point)> hook)
{
    auto* next = hook ? new std::function<void(const char*)>(std::move(hook)) : nullptr;
    delete g_faultHook.exchange(next);  // test-only; never raced with a running save
}

void FaultPoint(const char* point)
{
    if (auto* hook = g_faultHook.load()) (*hook)(point);
}

// ---- Statements -------------------------------------------------------------------

Stmt::~Stmt()
{
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

Stmt& Stmt::Bind(int i, std::int64_t v)
{
    if (const int rc = sqlite3_bind_int64(stmt_, i, v); rc != SQLITE_OK) db_.Fail(rc, "bind");
    return *this;
}

Stmt& Stmt::Bind(int i, std::string_view v)
{
    if (const int rc = sqlite3_bind_text(stmt_, i, v.empty() ? "" : v.data(), static_cast<int>(v.size()),
                                         SQLITE_TRANSIENT);
        rc != SQLITE_OK)
        db_.Fail(rc, "bind");
    return *this;
}

Stmt& Stmt::Bind(int i, std::span<const BYTE> v)
{
    // A null pointer would bind NULL; an empty value must stay a blob.
    static const BYTE kNothing = 0;
    if (const int rc = sqlite3_bind_blob64(stmt_, i, v.empty() ? &kNothing : v.data(), v.size(), SQLITE_TRANSIENT);
        rc != SQLITE_OK)
        db_.Fail(rc, "bind");
    return *this;
}

Stmt& Stmt::BindNull(int i)
{
    if (const int rc = sqlite3_bind_null(stmt_, i); rc != SQLITE_OK) db_.Fail(rc, "bind");
    return *this;
}

bool Stmt::Step()
{
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    db_.Fail(rc, sqlite3_sql(stmt_));
}

void Stmt::Run()
{
    while (Step()) {
    }
}

std::int64_t Stmt::Int(int col) { return sqlite3_column_int64(stmt_, col); }
bool Stmt::IsNull(int col) { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }

std::string Stmt::Text(int col)
{
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
}

std::span<const BYTE> Stmt::Blob(int col)
{
    const auto* p = static_cast<const BYTE*>(sqlite3_column_blob(stmt_, col));
    const int n = sqlite3_column_bytes(stmt_, col);
    return p ? std::span<const BYTE>(p, static_cast<std::size_t>(n)) : std::span<const BYTE>();
}

// ---- The database -------------------------------------------------------------------

StoreDb::~StoreDb() { Close(); }

void StoreDb::Close() noexcept
{
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    statements_.clear();
    if (db_) {
        if (const int rc = sqlite3_close(db_); rc != SQLITE_OK)
            Trace("store: closing %s: %s\n", path_.c_str(), sqlite3_errstr(rc));
        db_ = nullptr;
    }
}

void StoreDb::Fail(int rc, const char* what)
{
    std::string msg = std::string(what ? what : "?") + ": " + sqlite3_errstr(rc);
    if (db_ && sqlite3_errmsg(db_)) msg += std::string(" (") + sqlite3_errmsg(db_) + ")";
    throw DbError(MapSqlite(rc), msg);
}

sqlite3_stmt* StoreDb::Prepare(const char* sql)
{
    if (auto it = statements_.find(sql); it != statements_.end()) return it->second;
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK) Fail(rc, sql);
    statements_.emplace(sql, stmt);
    return stmt;
}

void StoreDb::Exec(const char* sql)
{
    char* err = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &err);
    if (err) sqlite3_free(err);
    if (rc != SQLITE_OK) Fail(rc, sql);
}

void StoreDb::Begin(bool write)
{
    if (depth_ == 0) {
        Exec(write ? "BEGIN IMMEDIATE" : "BEGIN");
        failed_ = false;
        writing_ = write;
    }
    ++depth_;
}

void StoreDb::Commit()
{
    if (depth_ <= 0) throw DbError(MAPI_E_CALL_FAILED, "commit without a transaction");
    if (--depth_ > 0) return;
    if (failed_) {
        Exec("ROLLBACK");
        throw DbError(MAPI_E_CALL_FAILED, "a part of the transaction failed");
    }
    if (writing_) FaultPoint("commit");
    try {
        Exec("COMMIT");
    } catch (...) {
        if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void StoreDb::Rollback() noexcept
{
    if (depth_ <= 0) return;
    if (--depth_ > 0) {
        failed_ = true;
        return;
    }
    if (db_ && !sqlite3_get_autocommit(db_)) {
        if (const int rc = sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr); rc != SQLITE_OK)
            Trace("store: rollback failed: %s\n", sqlite3_errstr(rc));
    }
}

std::uint64_t StoreDb::Version(RowId folder)
{
    // data_version changes when another connection commits.
    Stmt s(*this, "PRAGMA data_version");
    const auto external = s.Step() ? static_cast<std::uint64_t>(s.Int(0)) : 0;
    const auto it = folderVersions_.find(folder);
    return (external << 32) + (it == folderVersions_.end() ? 0 : it->second);
}

void StoreDb::Touch(RowId folder) { folderVersions_[folder] = ++localVersion_; }

std::uint64_t StoreDb::AnyVersion()
{
    Stmt s(*this, "PRAGMA data_version");
    const auto external = s.Step() ? static_cast<std::uint64_t>(s.Int(0)) : 0;
    return (external << 32) + localVersion_;
}

std::string StoreDb::DisplayName()
{
    Stmt s(*this, "SELECT value FROM meta WHERE key='name'");
    return s.Step() ? s.Text(0) : std::string();
}

HRESULT StoreDb::CheckIntegrity()
{
    return GuardStore("integrity check", [&]() -> HRESULT {
        Stmt s(*this, "PRAGMA integrity_check");
        bool ok = true;
        while (s.Step()) {
            const std::string line = s.Text(0);
            if (line != "ok") {
                Trace("store: %s: %s\n", path_.c_str(), line.c_str());
                ok = false;
            }
        }
        return ok ? S_OK : MAPI_E_CORRUPT_STORE;
    });
}

HRESULT StoreDb::Create(const std::filesystem::path& file, const MAPIUID& uid, std::string_view displayName,
                        std::string& error)
{
    HRESULT hr = S_OK;
    const int rc = sqlite_file::CreateWhole(file, [&](const std::filesystem::path& temp, std::string& why) {
        StoreDb db;
        db.path_ = temp;
        int opened = sqlite3_open_v2(temp.c_str(), &db.db_,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXRESCODE, nullptr);
        if (opened != SQLITE_OK) {
            why = "cannot create " + temp.string() + ": " + sqlite3_errstr(opened);
            hr = MapSqlite(opened);
            return opened;
        }
        hr = GuardStore("create", [&] {
            db.Exec("PRAGMA journal_mode=WAL");
            Tx tx(db, true);
            db.Exec(kSchema);
            const std::int64_t now = NowTicks();
            PutMeta(db, "format", kFormat);
            Stmt(db, "INSERT INTO meta(key, value) VALUES('uid', ?1)")
                .Bind(1, std::span<const BYTE>(uid.ab, sizeof uid.ab))
                .Run();
            Stmt(db, "INSERT INTO meta(key, value) VALUES('name', ?1)").Bind(1, displayName).Run();
            SpecialFolders sf;
            sf.root = AddDefaultFolder(db, 0, "", FOLDER_ROOT, now);
            sf.ipm = AddDefaultFolder(db, sf.root, "Top of Information Store", FOLDER_GENERIC, now);
            sf.inbox = AddDefaultFolder(db, sf.ipm, "Inbox", FOLDER_GENERIC, now);
            sf.outbox = AddDefaultFolder(db, sf.ipm, "Outbox", FOLDER_GENERIC, now);
            sf.sent = AddDefaultFolder(db, sf.ipm, "Sent Items", FOLDER_GENERIC, now);
            sf.deleted = AddDefaultFolder(db, sf.ipm, "Deleted Items", FOLDER_GENERIC, now);
            PutMeta(db, "root", sf.root);
            PutMeta(db, "ipm", sf.ipm);
            PutMeta(db, "inbox", sf.inbox);
            PutMeta(db, "outbox", sf.outbox);
            PutMeta(db, "sent", sf.sent);
            PutMeta(db, "deleted", sf.deleted);
            Stmt(db, "INSERT INTO receive_folders(class, name, folder) VALUES('', '', ?1)").Bind(1, sf.inbox).Run();
            tx.Commit();
            return S_OK;
        });
        if (FAILED(hr)) why = "cannot create " + temp.string();
        return FAILED(hr) ? SQLITE_ERROR : SQLITE_OK;
    }, error);  // closing the only connection folds the log into the file
    if (rc != SQLITE_OK) {
        Trace("store: %s\n", error.c_str());
        return FAILED(hr) ? hr : MAPI_E_NO_ACCESS;
    }
    return S_OK;
}

HRESULT StoreDb::Load(const std::filesystem::path& file, const MAPIUID& requestedUid, std::string_view displayName,
                      std::string& error)
{
    path_ = file;
    if (const int rc = sqlite_file::OpenExisting(file, &db_, error); rc != SQLITE_OK) {
        Trace("store: %s\n", error.c_str());
        return MapSqlite(rc);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // Read what a store must hold before changing any setting, so that a
    // damaged file is not written to.
    HRESULT hr = GuardStore("open", [&] {
        Tx tx(*this, false);
        std::map<std::string, std::int64_t> values;
        std::vector<BYTE> uid;
        {
            Stmt s(*this, "SELECT key, value FROM meta");
            while (s.Step()) {
                const std::string key = s.Text(0);
                if (key == "uid") {
                    const auto b = s.Blob(1);
                    uid.assign(b.begin(), b.end());
                } else {
                    values[key] = s.Int(1);
                }
            }
        }
        if (values["format"] != kFormat || uid.size() != sizeof uid_.ab) {
            error = file.string() + " is not a message store (it has no store format record)";
            return MAPI_E_CORRUPT_STORE;
        }
        std::memcpy(uid_.ab, uid.data(), sizeof uid_.ab);
        special_ = SpecialFolders{values["root"], values["ipm"], values["inbox"],
                                  values["outbox"], values["sent"], values["deleted"]};
        {
            Stmt s(*this, "SELECT count(*) FROM folders WHERE id IN (?1, ?2, ?3, ?4, ?5, ?6)");
            s.Bind(1, special_.root).Bind(2, special_.ipm).Bind(3, special_.inbox);
            s.Bind(4, special_.outbox).Bind(5, special_.sent).Bind(6, special_.deleted);
            if (!s.Step() || s.Int(0) != 6) {
                error = file.string() + " is damaged: it lacks its default folders";
                return MAPI_E_CORRUPT_STORE;
            }
        }
        tx.Commit();
        return S_OK;
    });
    if (hr == MAPI_E_COLLISION || hr == MAPI_E_CALL_FAILED) hr = MAPI_E_CORRUPT_STORE;  // e.g. no meta table
    if (FAILED(hr)) {
        if (error.empty()) error = file.string() + (hr == MAPI_E_CORRUPT_STORE ? " is not a message store" : " cannot be read");
        Trace("store: %s\n", error.c_str());
        return hr;
    }
    static const MAPIUID kNoUid{};
    if (!SameUid(requestedUid, kNoUid) && !SameUid(requestedUid, uid_))
        Trace("store: %s keeps its own UID, not the one asked for\n", file.c_str());
    return GuardStore("open", [&] {
        // WAL lets readers go on while a writer works, and makes each
        // commit one append; NORMAL syncs at checkpoints, so a killed
        // process loses nothing and a power cut at most the commits since
        // the last checkpoint, never the file's consistency. Checkpoints
        // come every 64 MB of log: their syncs, not the appends, are what
        // limits how many saves a second the store takes.
        Exec("PRAGMA journal_mode=WAL");
        Exec("PRAGMA synchronous=NORMAL");
        Exec("PRAGMA wal_autocheckpoint=16384");
        Exec("PRAGMA journal_size_limit=67108864");
        Exec("PRAGMA cache_size=-16384");
        if (!displayName.empty() && displayName != DisplayName()) {
            Tx tx(*this, true);
            Stmt(*this, "UPDATE meta SET value=?1 WHERE key='name'").Bind(1, displayName).Run();
            tx.Commit();
        }
        return S_OK;
    });
}

HRESULT StoreDb::Open(const std::filesystem::path& file, const MAPIUID& uid, std::string_view displayName,
                      std::shared_ptr<StoreDb>& out, std::string* error)
{
    out.reset();
    std::string why;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        MAPIUID newUid = uid;
        static const MAPIUID kNoUid{};
        if (SameUid(newUid, kNoUid)) {
            GUID g{};
            CoCreateGuid(&g);
            std::memcpy(newUid.ab, &g, sizeof newUid.ab);
        }
        if (const HRESULT hr = Create(file, newUid, displayName, why); FAILED(hr)) {
            if (error) *error = why;
            return hr;
        }
    }
    std::shared_ptr<StoreDb> db(new StoreDb);  // the constructor is private
    if (const HRESULT hr = db->Load(file, uid, displayName, why); FAILED(hr)) {
        if (error) *error = why;
        return hr;
    }
    out = std::move(db);
    return S_OK;
}

}  // namespace quillory::store
