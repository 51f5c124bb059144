// The message store's database: one SQLite file per store. Internal to the
// store's objects (msgstore, folder, message, attach); the public entry
// point is OpenMessageStore in msgstore.h.
//
// Every change the objects make is one transaction, so a process killed at
// any point leaves the previous state whole. Failures inside are thrown as
// DbError and turned into MAPI results at the interface (GuardStore).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/mapi/mapix.h"

struct sqlite3;
struct sqlite3_stmt;

namespace quillory::store {

using RowId = std::int64_t;

// A database failure with the MAPI result to report.
class DbError : public std::runtime_error {
public:
    DbError(HRESULT code, const std::string& what) : std::runtime_error(what), code_(code) {}
    HRESULT code() const { return code_; }

private:
    HRESULT code_;
};

// Runs f (returning HRESULT) and turns DbError and allocation failures into
// results, with a trace line naming the caller.
HRESULT GuardStore(const char* where, const std::function<HRESULT()>& f);

struct SpecialFolders {
    RowId root = 0;
    RowId ipm = 0;
    RowId inbox = 0;
    RowId outbox = 0;
    RowId sent = 0;
    RowId deleted = 0;
};

// Now as FILETIME ticks (100 ns since 1601).
std::int64_t NowTicks();
FILETIME TicksToFileTime(std::int64_t ticks);

class StoreDb {
public:
    // Opens the store file, creating it whole with its default folders when
    // it does not exist. An existing file is read through first: one that is
    // damaged or no store gives MAPI_E_CORRUPT_STORE and is left as it was.
    // *error gets a sentence naming the file when it fails.
    static HRESULT Open(const std::filesystem::path& file, const MAPIUID& uid, std::string_view displayName,
                        std::shared_ptr<StoreDb>& out, std::string* error = nullptr);
    ~StoreDb();
    StoreDb(const StoreDb&) = delete;
    StoreDb& operator=(const StoreDb&) = delete;

    // Every use of the database holds this lock.
    std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock(mutex_); }

    const MAPIUID& Uid() const { return uid_; }
    const SpecialFolders& Special() const { return special_; }
    const std::filesystem::path& Path() const { return path_; }
    std::string DisplayName();
    // Reads the whole file through: S_OK, or MAPI_E_CORRUPT_STORE.
    HRESULT CheckIntegrity();

    // Transactions nest: only the outermost begins and commits; a failure
    // anywhere rolls the whole of it back.
    void Begin(bool write);
    void Commit();
    void Rollback() noexcept;

    // Changes to a folder's contents or sub-folders, for tables that keep
    // their rows: the value differs after any commit that touched the folder
    // in this process, or after any commit by another connection.
    std::uint64_t Version(RowId folder);
    void Touch(RowId folder);
    // Changes after any commit at all.
    std::uint64_t AnyVersion();

    // Statements are prepared once and kept.
    sqlite3_stmt* Prepare(const char* sql);
    void Exec(const char* sql);
    [[noreturn]] void Fail(int rc, const char* what);
    sqlite3* Handle() { return db_; }

private:
    StoreDb() = default;
    static HRESULT Create(const std::filesystem::path& file, const MAPIUID& uid, std::string_view displayName,
                          std::string& error);
    HRESULT Load(const std::filesystem::path& file, const MAPIUID& requestedUid, std::string_view displayName,
                 std::string& error);
    void Close() noexcept;

    std::recursive_mutex mutex_;
    sqlite3* db_ = nullptr;
    std::filesystem::path path_;
    MAPIUID uid_{};
    SpecialFolders special_;
    std::unordered_map<const char*, sqlite3_stmt*> statements_;
    int depth_ = 0;
    bool writing_ = false;
    bool failed_ = false;
    std::uint64_t localVersion_ = 0;
    std::map<RowId, std::uint64_t> folderVersions_;
};

// A transaction for the scope; rolled back unless committed.
class Tx {
public:
    Tx(StoreDb& db, bool write) : db_(db) { db_.Begin(write); }
    ~Tx()
    {
        if (!done_) db_.Rollback();
    }
    Tx(const Tx&) = delete;
    Tx& operator=(const Tx&) = delete;
    void Commit()
    {
        done_ = true;
        db_.Commit();
    }

private:
    StoreDb& db_;
    bool done_ = false;
};

// A cached statement, reset when the wrapper goes.
class Stmt {
public:
    Stmt(StoreDb& db, const char* sql) : db_(db), stmt_(db.Prepare(sql)) {}
    ~Stmt();
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& Bind(int i, std::int64_t v);
    Stmt& Bind(int i, std::string_view v);
    Stmt& Bind(int i, std::span<const BYTE> v);
    Stmt& BindNull(int i);
    // True while rows come.
    bool Step();
    // Steps to the end.
    void Run();

    std::int64_t Int(int col);
    bool IsNull(int col);
    std::string Text(int col);
    std::span<const BYTE> Blob(int col);  // valid until the next Step

private:
    StoreDb& db_;
    sqlite3_stmt* stmt_;
};

// A point inside a save at which tests may stop the process.
void SetFaultHookForTesting(std::function<void(const char* point)> hook);
void FaultPoint(const char* point);

}  // namespace quillory::store
