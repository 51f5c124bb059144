// The registry's database: keys and values in one SQLite file under the
// environment root. Internal to the registry; the public calls are in
// registry.h. Not thread-safe: the registry serialises every use.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/base/wintypes.h"

namespace quillory::registry_internal {

using KeyId = std::int64_t;

// Fixed ids of the hive roots; every other key gets a fresh id that is never
// reused, so a handle to a deleted key can tell that its key is gone.
constexpr KeyId kClassesRootId = 1;
constexpr KeyId kCurrentUserId = 2;
constexpr KeyId kLocalMachineId = 3;

// A database failure, carrying the registry result code to report.
class DbError : public std::runtime_error {
public:
    DbError(LONG code, const std::string& what) : std::runtime_error(what), code_(code) {}
    LONG code() const { return code_; }

private:
    LONG code_;
};

struct ValueRecord {
    std::string name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct SubKeyRecord {
    std::string name;
    std::int64_t written = 0;  // FILETIME ticks
};

struct KeyInfo {
    DWORD subKeys = 0;
    DWORD maxSubKeyLen = 0;
    DWORD values = 0;
    DWORD maxValueNameLen = 0;
    DWORD maxValueLen = 0;
    std::int64_t written = 0;
};

// Lower-case ASCII only, as names compare at home in the system code page.
std::string FoldName(std::string_view name);

// Now as FILETIME ticks (100 ns since 1601).
std::int64_t NowFileTime();

class Store {
public:
    Store() = default;
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens the database of the current environment root unless it is
    // already open: reopened after the root changed, the file was replaced,
    // or the process forked. Creates it on first use.
    void Ensure();
    // Changes each time a different database is opened.
    std::uint64_t generation() const { return generation_; }

    void Begin(bool write);
    void Commit();
    void Rollback() noexcept;

    bool KeyExists(KeyId id);
    std::optional<KeyId> FindChild(KeyId parent, std::string_view name);
    KeyId AddChild(KeyId parent, std::string_view name);
    bool HasChildren(KeyId id);
    std::optional<SubKeyRecord> ChildAt(KeyId parent, DWORD index);
    // Deletes the key's values and sub-keys, and the key itself when asked.
    void RemoveTree(KeyId id, bool includeSelf);

    std::optional<ValueRecord> GetValue(KeyId key, std::string_view name);
    std::optional<ValueRecord> ValueAt(KeyId key, DWORD index);
    void PutValue(KeyId key, std::string_view name, DWORD type, std::span<const BYTE> data);
    bool RemoveValue(KeyId key, std::string_view name);

    void Touch(KeyId id);
    KeyInfo Info(KeyId id);

private:
    class Statement;
    friend class Statement;

    // Makes the file whole when it is missing; an existing file is checked
    // through and refused (ERROR_BADDB naming it) when damaged or not ours.
    void Open(const std::string& path);
    bool HasHives();
    void Close() noexcept;
    void Exec(const char* sql);
    [[noreturn]] void Fail(int rc, const char* what);
    sqlite3_stmt* Prepared(const char* sql);

    sqlite3* db_ = nullptr;
    std::string path_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    pid_t pid_ = 0;
    std::uint64_t generation_ = 0;
    bool writing_ = false;
    std::unordered_map<const char*, sqlite3_stmt*> statements_;
};

// Begins a transaction and rolls it back unless committed.
class Transaction {
public:
    Transaction(Store& store, bool write) : store_(store) { store_.Begin(write); }
    ~Transaction()
    {
        if (!done_) store_.Rollback();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit()
    {
        store_.Commit();
        done_ = true;
    }

private:
    Store& store_;
    bool done_ = false;
};

}  // namespace quillory::registry_internal
