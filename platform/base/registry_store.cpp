#include "platform/base/registry_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "platform/base/environment.h"
#include "platform/base/registry.h"
#include "platform/base/sqlite_file.h"
#include "platform/base/trace.h"
#include "platform/base/winerror.h"

namespace quillory::registry_internal {
namespace {

// Another process may hold the write lock for a while (a large tree delete);
// wait this long before reporting a failure.
constexpr int kBusyTimeoutMs = sqlite_file::kBusyTimeoutMs;
constexpr int kSchemaVersion = 1;

constexpr const char* kSchema = R"sql(
CREATE TABLE keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL,
  lname TEXT NOT NULL,
  written INTEGER NOT NULL);
CREATE UNIQUE INDEX keys_by_name ON keys(parent, lname);
CREATE TABLE vals(
  key INTEGER NOT NULL,
  name TEXT NOT NULL,
  lname TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY(key, lname)) WITHOUT ROWID;
INSERT INTO keys(id, parent, name, lname, written) VALUES
  (1, 0, 'HKEY_CLASSES_ROOT', 'hkey_classes_root', 0),
  (2, 0, 'HKEY_CURRENT_USER', 'hkey_current_user', 0),
  (3, 0, 'HKEY_LOCAL_MACHINE', 'hkey_local_machine', 0);
)sql";

// Sub-trees are collected with one recursive query; the (parent, lname)
// index serves the join.
constexpr const char* kTreeCte =
    "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL "
    "SELECT k.id FROM keys k JOIN tree t ON k.parent = t.id) ";

}  // namespace

std::string FoldName(std::string_view name)
{
    std::string out(name);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::int64_t NowFileTime()
{
    constexpr std::int64_t kUnixEpochTicks = 116444736000000000;  // 1970 in FILETIME ticks
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return kUnixEpochTicks + std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
}

// A cached prepared statement, reset when the wrapper goes.
class Store::Statement {
public:
    Statement(Store& store, const char* sql) : store_(store), stmt_(store.Prepared(sql)) {}
    ~Statement()
    {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int i, std::int64_t v)
    {
        Check(sqlite3_bind_int64(stmt_, i, v));
        return *this;
    }
    Statement& Bind(int i, std::string_view v)
    {
        Check(sqlite3_bind_text(stmt_, i, v.empty() ? "" : v.data(), static_cast<int>(v.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Statement& BindBlob(int i, std::span<const BYTE> v)
    {
        // A null pointer would bind NULL; an empty blob must stay a blob.
        static const BYTE kNothing = 0;
        Check(sqlite3_bind_blob(stmt_, i, v.empty() ? &kNothing : v.data(),
                                static_cast<int>(v.size()), SQLITE_TRANSIENT));
        return *this;
    }
    // True while rows come; false when done.
    bool Step()
    {
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        store_.Fail(rc, sqlite3_sql(stmt_));
    }
    std::int64_t Int(int col) { return sqlite3_column_int64(stmt_, col); }
    std::string Text(int col)
    {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)))
                 : std::string();
    }
    std::vector<BYTE> Blob(int col)
    {
        const auto* p = static_cast<const BYTE*>(sqlite3_column_blob(stmt_, col));
        const int n = sqlite3_column_bytes(stmt_, col);
        return p ? std::vector<BYTE>(p, p + n) : std::vector<BYTE>();
    }

private:
    void Check(int rc)
    {
        if (rc != SQLITE_OK) store_.Fail(rc, "bind");
    }
    Store& store_;
    sqlite3_stmt* stmt_;
};

Store::~Store() { Close(); }

void Store::Fail(int rc, const char* what)
{
    std::string msg = std::string(what) + ": " + sqlite3_errstr(rc);
    if (db_ && sqlite3_errmsg(db_)) msg += std::string(" (") + sqlite3_errmsg(db_) + ")";
    Trace("registry: database failure in %s: %s\n", path_.c_str(), msg.c_str());
    const int primary = rc & 0xFF;
    const bool corrupt = primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
    throw DbError(!corrupt && writing_ ? ERROR_CANTWRITE : ERROR_BADDB, msg);
}

sqlite3_stmt* Store::Prepared(const char* sql)
{
    auto it = statements_.find(sql);
    if (it != statements_.end()) return it->second;
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK) Fail(rc, sql);
    statements_.emplace(sql, stmt);
    return stmt;
}

void Store::Exec(const char* sql)
{
    char* err = nullptr;
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &err);
    if (err) sqlite3_free(err);
    if (rc != SQLITE_OK) Fail(rc, sql);
}

void Store::Close() noexcept
{
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    statements_.clear();
    if (db_) {
        // After a fork the connection belongs to the parent; closing our copy
        // releases nothing of the parent's (file locks are per process).
        int rc = sqlite3_close(db_);
        if (rc != SQLITE_OK) Trace("registry: closing %s: %s\n", path_.c_str(), sqlite3_errstr(rc));
    }
    db_ = nullptr;
    writing_ = false;
}

void Store::Ensure()
{
    const std::filesystem::path file = RegistryFile();
    const std::string path = file.string();
    const std::filesystem::path dir = file.parent_path();
    struct stat st {};
    if (db_ && pid_ == getpid() && path == path_ && stat(path.c_str(), &st) == 0 &&
        st.st_dev == dev_ && st.st_ino == ino_)
        return;
    Close();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) Trace("registry: cannot create %s: %s\n", dir.c_str(), ec.message().c_str());
    Open(path);
}

void Store::Open(const std::string& path)
{
    path_ = path;
    pid_ = getpid();
    std::string error;
    std::error_code ec;
    int rc = SQLITE_OK;
    if (!std::filesystem::exists(path, ec))
        rc = sqlite_file::CreateWithSchema(path, kSchema, kSchemaVersion, error);
    if (rc == SQLITE_OK) rc = sqlite_file::OpenExisting(path, &db_, error);
    if (rc != SQLITE_OK) {
        Trace("registry: %s\n", error.c_str());
        throw DbError(ERROR_BADDB, error);
    }
    try {
        sqlite3_extended_result_codes(db_, 1);
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        if (!sqlite_file::HasSchema(db_, {"keys", "vals"}, kSchemaVersion) || !HasHives())
            throw DbError(ERROR_BADDB, path + " holds no registry");
        // WAL lets readers go on while one process writes (the file was made
        // in WAL mode; this only changes a file made otherwise); FULL syncs
        // every commit so that a crash loses no completed write.
        Exec("PRAGMA journal_mode=WAL");
        Exec("PRAGMA synchronous=FULL");
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) throw DbError(ERROR_BADDB, "database vanished: " + path);
        dev_ = st.st_dev;
        ino_ = st.st_ino;
        ++generation_;
    } catch (...) {
        Close();
        throw;
    }
}

bool Store::HasHives()
{
    Statement s(*this, "SELECT count(*) FROM keys WHERE id IN (1, 2, 3) AND parent = 0");
    return s.Step() && s.Int(0) == 3;
}

void Store::Begin(bool write)
{
    writing_ = write;
    Exec(write ? "BEGIN IMMEDIATE" : "BEGIN");
}

void Store::Commit()
{
    Exec("COMMIT");
    writing_ = false;
}

void Store::Rollback() noexcept
{
    writing_ = false;
    if (!db_ || sqlite3_get_autocommit(db_)) return;
    int rc = sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) Trace("registry: rollback failed: %s\n", sqlite3_errstr(rc));
}

bool Store::KeyExists(KeyId id)
{
    Statement s(*this, "SELECT 1 FROM keys WHERE id = ?1");
    return s.Bind(1, id).Step();
}

std::optional<KeyId> Store::FindChild(KeyId parent, std::string_view name)
{
    Statement s(*this, "SELECT id FROM keys WHERE parent = ?1 AND lname = ?2");
    if (!s.Bind(1, parent).Bind(2, FoldName(name)).Step()) return std::nullopt;
    return s.Int(0);
}

KeyId Store::AddChild(KeyId parent, std::string_view name)
{
    {
        Statement s(*this, "INSERT INTO keys(parent, name, lname, written) VALUES (?1, ?2, ?3, ?4)");
        s.Bind(1, parent).Bind(2, name).Bind(3, FoldName(name)).Bind(4, NowFileTime()).Step();
    }
    const KeyId id = sqlite3_last_insert_rowid(db_);
    Touch(parent);
    return id;
}

bool Store::HasChildren(KeyId id)
{
    Statement s(*this, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
    return s.Bind(1, id).Step();
}

std::optional<SubKeyRecord> Store::ChildAt(KeyId parent, DWORD index)
{
    Statement s(*this,
                "SELECT name, written FROM keys WHERE parent = ?1 ORDER BY lname LIMIT 1 OFFSET ?2");
    if (!s.Bind(1, parent).Bind(2, static_cast<std::int64_t>(index)).Step()) return std::nullopt;
    return SubKeyRecord{s.Text(0), s.Int(1)};
}

void Store::RemoveTree(KeyId id, bool includeSelf)
{
    static const std::string kDropValues =
        std::string(kTreeCte) + "DELETE FROM vals WHERE key IN (SELECT id FROM tree)";
    static const std::string kDropKeys =
        std::string(kTreeCte) + "DELETE FROM keys WHERE id IN (SELECT id FROM tree) AND id <> ?1";
    if (includeSelf) {
        Statement s(*this, "UPDATE keys SET written = ?2 WHERE id = (SELECT parent FROM keys WHERE id = ?1)");
        s.Bind(1, id).Bind(2, NowFileTime()).Step();
    }
    {
        Statement s(*this, kDropValues.c_str());
        s.Bind(1, id).Step();
    }
    {
        Statement s(*this, kDropKeys.c_str());
        s.Bind(1, id).Step();
    }
    if (includeSelf) {
        Statement s(*this, "DELETE FROM keys WHERE id = ?1");
        s.Bind(1, id).Step();
    } else {
        Touch(id);
    }
}

std::optional<ValueRecord> Store::GetValue(KeyId key, std::string_view name)
{
    Statement s(*this, "SELECT name, type, data FROM vals WHERE key = ?1 AND lname = ?2");
    if (!s.Bind(1, key).Bind(2, FoldName(name)).Step()) return std::nullopt;
    return ValueRecord{s.Text(0), static_cast<DWORD>(s.Int(1)), s.Blob(2)};
}

std::optional<ValueRecord> Store::ValueAt(KeyId key, DWORD index)
{
    Statement s(*this,
                "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY lname LIMIT 1 OFFSET ?2");
    if (!s.Bind(1, key).Bind(2, static_cast<std::int64_t>(index)).Step()) return std::nullopt;
    return ValueRecord{s.Text(0), static_cast<DWORD>(s.Int(1)), s.Blob(2)};
}

void Store::PutValue(KeyId key, std::string_view name, DWORD type, std::span<const BYTE> data)
{
    // An existing value keeps the case of its name, as at home.
    {
        Statement s(*this,
                    "INSERT INTO vals(key, name, lname, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
                    "ON CONFLICT(key, lname) DO UPDATE SET type = excluded.type, data = excluded.data");
        s.Bind(1, key).Bind(2, name).Bind(3, FoldName(name)).Bind(4, static_cast<std::int64_t>(type));
        s.BindBlob(5, data).Step();
    }
    Touch(key);
}

bool Store::RemoveValue(KeyId key, std::string_view name)
{
    {
        Statement s(*this, "DELETE FROM vals WHERE key = ?1 AND lname = ?2");
        s.Bind(1, key).Bind(2, FoldName(name)).Step();
    }
    if (sqlite3_changes(db_) == 0) return false;
    Touch(key);
    return true;
}

void Store::Touch(KeyId id)
{
    Statement s(*this, "UPDATE keys SET written = ?2 WHERE id = ?1");
    s.Bind(1, id).Bind(2, NowFileTime()).Step();
}

KeyInfo Store::Info(KeyId id)
{
    KeyInfo info;
    {
        // Lengths in bytes: names are in the system code page, not UTF-8.
        Statement s(*this,
                    "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0) FROM keys "
                    "WHERE parent = ?1");
        s.Bind(1, id).Step();
        info.subKeys = static_cast<DWORD>(s.Int(0));
        info.maxSubKeyLen = static_cast<DWORD>(s.Int(1));
    }
    {
        Statement s(*this,
                    "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0), "
                    "coalesce(max(length(data)), 0) FROM vals WHERE key = ?1");
        s.Bind(1, id).Step();
        info.values = static_cast<DWORD>(s.Int(0));
        info.maxValueNameLen = static_cast<DWORD>(s.Int(1));
        info.maxValueLen = static_cast<DWORD>(s.Int(2));
    }
    {
        Statement s(*this, "SELECT written FROM keys WHERE id = ?1");
        if (s.Bind(1, id).Step()) info.written = s.Int(0);
    }
    return info;
}

}  // namespace quillory::registry_internal

std::filesystem::path quillory::RegistryFile() { return EnvironmentRoot() / "registry" / "registry.db"; }
