#include "platform/mapi/profile_db.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <new>
#include <stdexcept>

#include "platform/base/environment.h"
#include "platform/base/sqlite_file.h"
#include "platform/base/trace.h"
#include "platform/com/guid.h"
#include "platform/mapi/profile_admin.h"
#include "platform/mapi/propcodec.h"

namespace quillory {

namespace {

constexpr int kBusyTimeoutMs = sqlite_file::kBusyTimeoutMs;
constexpr int kSchemaVersion = 1;

constexpr const char* kSchema = R"(
CREATE TABLE profiles(
    id INTEGER PRIMARY KEY AUTOINCREMENT,  -- never reused: open sessions hold ids
    name TEXT NOT NULL,
    lname TEXT NOT NULL UNIQUE,
    is_default INTEGER NOT NULL DEFAULT 0);
CREATE TABLE services(
    profile INTEGER NOT NULL REFERENCES profiles(id) ON DELETE CASCADE,
    uid BLOB NOT NULL,
    name TEXT NOT NULL,
    seq INTEGER PRIMARY KEY AUTOINCREMENT,
    UNIQUE(profile, uid));
CREATE TABLE providers(
    profile INTEGER NOT NULL REFERENCES profiles(id) ON DELETE CASCADE,
    uid BLOB NOT NULL,
    service BLOB NOT NULL,
    section TEXT NOT NULL,
    resource_type INTEGER NOT NULL,
    seq INTEGER PRIMARY KEY AUTOINCREMENT,
    UNIQUE(profile, uid));
CREATE TABLE sections(
    profile INTEGER NOT NULL REFERENCES profiles(id) ON DELETE CASCADE,
    uid BLOB NOT NULL,
    PRIMARY KEY(profile, uid));
CREATE TABLE props(
    profile INTEGER NOT NULL,
    uid BLOB NOT NULL,
    tag INTEGER NOT NULL,
    value BLOB NOT NULL,
    PRIMARY KEY(profile, uid, tag),
    FOREIGN KEY(profile, uid) REFERENCES sections(profile, uid) ON DELETE CASCADE);
)";

class DbError : public std::runtime_error {
public:
    DbError(int rc, const std::string& what) : std::runtime_error(what), rc_(rc) {}
    int rc() const { return rc_; }

private:
    int rc_;
};

std::string Fold(std::string_view s)
{
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

MAPIUID UidFromBlob(const void* p, int n)
{
    MAPIUID uid{};
    if (p && n == static_cast<int>(sizeof uid.ab)) std::memcpy(uid.ab, p, sizeof uid.ab);
    return uid;
}

std::mutex& CacheMutex()
{
    static std::mutex m;
    return m;
}

std::map<std::string, std::weak_ptr<ProfileDb>>& Cache()
{
    static std::map<std::string, std::weak_ptr<ProfileDb>> cache;
    return cache;
}

}  // namespace

// A prepared statement of the connection, reset for each use.
class ProfileStatement {
public:
    ProfileStatement(ProfileDb& db, const char* sql) : db_(db), stmt_(db.Prepare(sql)) {}
    ~ProfileStatement()
    {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    ProfileStatement(const ProfileStatement&) = delete;
    ProfileStatement& operator=(const ProfileStatement&) = delete;

    ProfileStatement& Bind(int i, std::int64_t v) { return Check(sqlite3_bind_int64(stmt_, i, v)); }
    ProfileStatement& Bind(int i, std::string_view v)
    {
        return Check(sqlite3_bind_text(stmt_, i, v.data() ? v.data() : "", static_cast<int>(v.size()),
                                       SQLITE_TRANSIENT));
    }
    ProfileStatement& Bind(int i, const MAPIUID& uid)
    {
        return Check(sqlite3_bind_blob(stmt_, i, uid.ab, sizeof uid.ab, SQLITE_TRANSIENT));
    }
    ProfileStatement& Bind(int i, std::span<const BYTE> v)
    {
        static const BYTE kNothing = 0;
        return Check(sqlite3_bind_blob(stmt_, i, v.empty() ? &kNothing : v.data(), static_cast<int>(v.size()),
                                       SQLITE_TRANSIENT));
    }
    bool Step()
    {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw DbError(rc, std::string(sqlite3_sql(stmt_)) + ": " + sqlite3_errmsg(db_.db_));
    }
    std::int64_t Int(int col) { return sqlite3_column_int64(stmt_, col); }
    std::string Text(int col)
    {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
    }
    MAPIUID Uid(int col)
    {
        const void* p = sqlite3_column_blob(stmt_, col);
        return UidFromBlob(p, sqlite3_column_bytes(stmt_, col));
    }
    std::vector<BYTE> Blob(int col)
    {
        const auto* p = static_cast<const BYTE*>(sqlite3_column_blob(stmt_, col));
        const int n = sqlite3_column_bytes(stmt_, col);
        return p ? std::vector<BYTE>(p, p + n) : std::vector<BYTE>();
    }

private:
    ProfileStatement& Check(int rc)
    {
        if (rc != SQLITE_OK) throw DbError(rc, std::string("bind: ") + sqlite3_errstr(rc));
        return *this;
    }
    ProfileDb& db_;
    sqlite3_stmt* stmt_;
};

bool ProfileUidEqual(const MAPIUID& a, const MAPIUID& b) { return std::memcmp(a.ab, b.ab, sizeof a.ab) == 0; }

MAPIUID NewProfileUid()
{
    GUID g{};
    CoCreateGuid(&g);
    MAPIUID uid{};
    static_assert(sizeof g == sizeof uid.ab);
    std::memcpy(uid.ab, &g, sizeof uid.ab);
    return uid;
}

std::string ProfileUidHex(const MAPIUID& uid)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (BYTE b : uid.ab) {
        s.push_back(kDigits[b >> 4]);
        s.push_back(kDigits[b & 15]);
    }
    return s;
}

// ---- Connection ---------------------------------------------------------------

HRESULT ProfileDb::Open(std::shared_ptr<ProfileDb>& out, std::string* error)
{
    out.reset();
    try {
        std::filesystem::path root = EnvironmentRoot();
        const std::string key = root.string();
        std::lock_guard lock(CacheMutex());
        std::erase_if(Cache(), [](const auto& entry) { return entry.second.expired(); });
        auto& slot = Cache()[key];
        if (auto existing = slot.lock()) {
            out = std::move(existing);
            return S_OK;
        }
        std::shared_ptr<ProfileDb> db(new ProfileDb(std::move(root)));
        db->OpenFile();
        slot = db;
        out = std::move(db);
        return S_OK;
    } catch (const DbError& e) {
        Trace("profiles: %s\n", e.what());
        if (error) *error = "The profile database cannot be opened: " + std::string(e.what());
        return sqlite_file::IsDamage(e.rc()) ? MAPI_E_CORRUPT_STORE : MAPI_E_DISK_ERROR;
    } catch (const std::bad_alloc&) {
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

ProfileDb::ProfileDb(std::filesystem::path root) : root_(std::move(root)), file_(root_ / "profiles" / "profiles.db") {}

std::filesystem::path ProfileDatabaseFile() { return EnvironmentRoot() / "profiles" / "profiles.db"; }

ProfileDb::~ProfileDb()
{
    for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
    if (db_) {
        const int rc = sqlite3_close(db_);
        if (rc != SQLITE_OK) Trace("profiles: closing %s: %s\n", file_.c_str(), sqlite3_errstr(rc));
    }
}

void ProfileDb::OpenFile()
{
    std::string error;
    std::error_code ec;
    int rc = SQLITE_OK;
    if (!std::filesystem::exists(file_, ec)) rc = sqlite_file::CreateWithSchema(file_, kSchema, kSchemaVersion, error);
    if (rc == SQLITE_OK) rc = sqlite_file::OpenExisting(file_, &db_, error);
    if (rc != SQLITE_OK) throw DbError(rc, error);
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    if (!sqlite_file::HasSchema(db_, {"profiles", "services", "providers", "sections", "props"}, kSchemaVersion))
        throw DbError(SQLITE_NOTADB, file_.string() + " holds no profiles");
    // WAL lets other processes read while one writes (the file was made in
    // WAL mode; this only changes a file made otherwise); FULL syncs each commit.
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=FULL");
    Exec("PRAGMA foreign_keys=ON");
}

void ProfileDb::Exec(const char* sql)
{
    char* msg = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &msg);
    if (rc != SQLITE_OK) {
        std::string text = std::string(sql).substr(0, 40) + ": " + (msg ? msg : sqlite3_errstr(rc));
        sqlite3_free(msg);
        throw DbError(rc, text);
    }
}

sqlite3_stmt* ProfileDb::Prepare(const char* sql)
{
    for (auto& [text, stmt] : statements_)
        if (text == sql) return stmt;
    sqlite3_stmt* stmt = nullptr;
    const int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK) throw DbError(rc, std::string("prepare: ") + sqlite3_errmsg(db_));
    statements_.emplace_back(sql, stmt);
    return stmt;
}

HRESULT ProfileDb::Transact(bool write, const std::function<HRESULT()>& body, std::string* error)
{
    std::lock_guard lock(mutex_);
    if (depth_ > 0) {
        if (write && !writing_) {
            Trace("profiles: a change was asked for inside a read\n");
            return MAPI_E_CALL_FAILED;
        }
        ++depth_;
        struct Leave {
            int& depth;
            ~Leave() { --depth; }
        } leave{depth_};
        return body();  // the outermost call commits or rolls back
    }
    auto rollback = [this] {
        depth_ = 0;
        writing_ = false;
        if (db_ && !sqlite3_get_autocommit(db_)) {
            const int rc = sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            if (rc != SQLITE_OK) Trace("profiles: rollback failed: %s\n", sqlite3_errstr(rc));
        }
    };
    try {
        Exec(write ? "BEGIN IMMEDIATE" : "BEGIN");
        writing_ = write;
        depth_ = 1;
        const HRESULT hr = body();
        if (FAILED(hr)) {
            rollback();
            return hr;
        }
        Exec("COMMIT");
        depth_ = 0;
        writing_ = false;
        return hr;
    } catch (const DbError& e) {
        rollback();
        Trace("profiles: %s\n", e.what());
        if (error) *error = "The profile database " + file_.string() + " failed: " + e.what();
        const int primary = e.rc() & 0xFF;
        if (sqlite_file::IsDamage(e.rc())) return MAPI_E_CORRUPT_STORE;
        return primary == SQLITE_BUSY || primary == SQLITE_LOCKED ? MAPI_E_BUSY : MAPI_E_DISK_ERROR;
    } catch (const std::bad_alloc&) {
        rollback();
        return MAPI_E_NOT_ENOUGH_MEMORY;
    }
}

HRESULT ProfileDb::Read(const std::function<HRESULT()>& body, std::string* error) { return Transact(false, body, error); }

HRESULT ProfileDb::Write(const std::function<HRESULT()>& body, std::string* error) { return Transact(true, body, error); }

// ---- Profiles -------------------------------------------------------------------

std::vector<ProfileRecord> ProfileDb::Profiles()
{
    std::vector<ProfileRecord> out;
    ProfileStatement s(*this, "SELECT id, name, is_default FROM profiles ORDER BY lname");
    while (s.Step()) out.push_back(ProfileRecord{s.Int(0), s.Text(1), s.Int(2) != 0});
    return out;
}

std::optional<ProfileRecord> ProfileDb::FindProfile(std::string_view name)
{
    ProfileStatement s(*this, "SELECT id, name, is_default FROM profiles WHERE lname = ?1");
    if (!s.Bind(1, Fold(name)).Step()) return std::nullopt;
    return ProfileRecord{s.Int(0), s.Text(1), s.Int(2) != 0};
}

std::optional<ProfileRecord> ProfileDb::FindProfile(ProfileId id)
{
    ProfileStatement s(*this, "SELECT id, name, is_default FROM profiles WHERE id = ?1");
    if (!s.Bind(1, id).Step()) return std::nullopt;
    return ProfileRecord{s.Int(0), s.Text(1), s.Int(2) != 0};
}

ProfileId ProfileDb::AddProfile(std::string_view name)
{
    ProfileStatement s(*this, "INSERT INTO profiles(name, lname) VALUES (?1, ?2)");
    s.Bind(1, name).Bind(2, Fold(name)).Step();
    return sqlite3_last_insert_rowid(db_);
}

void ProfileDb::RemoveProfile(ProfileId id)
{
    // Sections, services and providers go by the foreign keys' cascade.
    ProfileStatement s(*this, "DELETE FROM profiles WHERE id = ?1");
    s.Bind(1, id).Step();
}

void ProfileDb::SetDefaultProfile(ProfileId id)
{
    ProfileStatement s(*this, "UPDATE profiles SET is_default = (id = ?1)");
    s.Bind(1, id).Step();
}

// ---- Services and providers -------------------------------------------------------

std::vector<ServiceRecord> ProfileDb::Services(ProfileId profile)
{
    std::vector<ServiceRecord> out;
    ProfileStatement s(*this, "SELECT uid, name FROM services WHERE profile = ?1 ORDER BY seq");
    s.Bind(1, profile);
    while (s.Step()) out.push_back(ServiceRecord{s.Uid(0), s.Text(1)});
    return out;
}

std::optional<ServiceRecord> ProfileDb::FindService(ProfileId profile, const MAPIUID& uid)
{
    ProfileStatement s(*this, "SELECT uid, name FROM services WHERE profile = ?1 AND uid = ?2");
    if (!s.Bind(1, profile).Bind(2, uid).Step()) return std::nullopt;
    return ServiceRecord{s.Uid(0), s.Text(1)};
}

void ProfileDb::AddService(ProfileId profile, const ServiceRecord& service)
{
    ProfileStatement s(*this, "INSERT INTO services(profile, uid, name) VALUES (?1, ?2, ?3)");
    s.Bind(1, profile).Bind(2, service.uid).Bind(3, service.name).Step();
    AddSection(profile, service.uid);
}

void ProfileDb::RemoveService(ProfileId profile, const MAPIUID& uid)
{
    for (const auto& p : Providers(profile))
        if (ProfileUidEqual(p.service, uid)) RemoveProvider(profile, p.uid);
    RemoveSection(profile, uid);
    ProfileStatement s(*this, "DELETE FROM services WHERE profile = ?1 AND uid = ?2");
    s.Bind(1, profile).Bind(2, uid).Step();
}

std::vector<ProviderRecord> ProfileDb::Providers(ProfileId profile)
{
    std::vector<ProviderRecord> out;
    ProfileStatement s(*this,
                       "SELECT uid, service, section, resource_type FROM providers WHERE profile = ?1 ORDER BY seq");
    s.Bind(1, profile);
    while (s.Step()) out.push_back(ProviderRecord{s.Uid(0), s.Uid(1), s.Text(2), static_cast<ULONG>(s.Int(3))});
    return out;
}

std::optional<ProviderRecord> ProfileDb::FindProvider(ProfileId profile, const MAPIUID& uid)
{
    ProfileStatement s(*this, "SELECT uid, service, section, resource_type FROM providers "
                              "WHERE profile = ?1 AND uid = ?2");
    if (!s.Bind(1, profile).Bind(2, uid).Step()) return std::nullopt;
    return ProviderRecord{s.Uid(0), s.Uid(1), s.Text(2), static_cast<ULONG>(s.Int(3))};
}

void ProfileDb::AddProvider(ProfileId profile, const ProviderRecord& provider)
{
    ProfileStatement s(*this, "INSERT INTO providers(profile, uid, service, section, resource_type) "
                              "VALUES (?1, ?2, ?3, ?4, ?5)");
    s.Bind(1, profile)
        .Bind(2, provider.uid)
        .Bind(3, provider.service)
        .Bind(4, provider.section)
        .Bind(5, static_cast<std::int64_t>(provider.resourceType))
        .Step();
    AddSection(profile, provider.uid);
}

void ProfileDb::RemoveProvider(ProfileId profile, const MAPIUID& uid)
{
    RemoveSection(profile, uid);
    ProfileStatement s(*this, "DELETE FROM providers WHERE profile = ?1 AND uid = ?2");
    s.Bind(1, profile).Bind(2, uid).Step();
}

// ---- Sections ------------------------------------------------------------------------

bool ProfileDb::SectionExists(ProfileId profile, const MAPIUID& uid)
{
    ProfileStatement s(*this, "SELECT 1 FROM sections WHERE profile = ?1 AND uid = ?2");
    return s.Bind(1, profile).Bind(2, uid).Step();
}

void ProfileDb::AddSection(ProfileId profile, const MAPIUID& uid)
{
    ProfileStatement s(*this, "INSERT OR IGNORE INTO sections(profile, uid) VALUES (?1, ?2)");
    s.Bind(1, profile).Bind(2, uid).Step();
}

void ProfileDb::RemoveSection(ProfileId profile, const MAPIUID& uid)
{
    ProfileStatement s(*this, "DELETE FROM sections WHERE profile = ?1 AND uid = ?2");
    s.Bind(1, profile).Bind(2, uid).Step();
}

std::vector<std::pair<ULONG, std::vector<BYTE>>> ProfileDb::SectionProps(ProfileId profile, const MAPIUID& uid)
{
    std::vector<std::pair<ULONG, std::vector<BYTE>>> out;
    ProfileStatement s(*this, "SELECT tag, value FROM props WHERE profile = ?1 AND uid = ?2 ORDER BY tag");
    s.Bind(1, profile).Bind(2, uid);
    while (s.Step()) out.emplace_back(static_cast<ULONG>(s.Int(0)), s.Blob(1));
    return out;
}

HRESULT ProfileDb::PutProps(ProfileId profile, const MAPIUID& uid, std::span<const SPropValue> values)
{
    AddSection(profile, uid);
    std::vector<BYTE> bytes;
    for (const auto& v : values) {
        bytes.clear();
        if (const SCODE sc = EncodePropValue(v, bytes); FAILED(sc)) return sc;
        ProfileStatement s(*this, "INSERT OR REPLACE INTO props(profile, uid, tag, value) VALUES (?1, ?2, ?3, ?4)");
        s.Bind(1, profile).Bind(2, uid).Bind(3, static_cast<std::int64_t>(v.ulPropTag)).Bind(4, bytes).Step();
    }
    return S_OK;
}

void ProfileDb::DeleteProps(ProfileId profile, const MAPIUID& uid, std::span<const ULONG> tags)
{
    for (ULONG tag : tags) {
        if (PROP_TYPE(tag) == PT_UNSPECIFIED) {
            ProfileStatement s(*this, "DELETE FROM props WHERE profile = ?1 AND uid = ?2 AND tag >= ?3 AND tag <= ?4");
            s.Bind(1, profile)
                .Bind(2, uid)
                .Bind(3, static_cast<std::int64_t>(PROP_TAG(0, PROP_ID(tag))))
                .Bind(4, static_cast<std::int64_t>(PROP_TAG(0xFFFF, PROP_ID(tag))))
                .Step();
        } else {
            ProfileStatement s(*this, "DELETE FROM props WHERE profile = ?1 AND uid = ?2 AND tag = ?3");
            s.Bind(1, profile).Bind(2, uid).Bind(3, static_cast<std::int64_t>(tag)).Step();
        }
    }
}

}  // namespace quillory
