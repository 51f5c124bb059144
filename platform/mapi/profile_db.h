// The profile database: profiles, their message services and providers, and
// profile sections with their properties, in one SQLite file under the
// environment root (<root>/profiles/profiles.db). Every change runs in one
// transaction, so another process sees all of it or none of it, and a
// process killed at any moment leaves every commit it made.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mapi/mapix.h"

struct sqlite3;
struct sqlite3_stmt;

namespace quillory {

using ProfileId = std::int64_t;

struct ProfileRecord {
    ProfileId id = 0;
    std::string name;
    bool isDefault = false;
};

struct ServiceRecord {
    MAPIUID uid{};
    std::string name;  // the service list name ("Corvane")
};

struct ProviderRecord {
    MAPIUID uid{};
    MAPIUID service{};
    std::string section;  // the provider section of the service list it came from
    ULONG resourceType = 0;
};

bool ProfileUidEqual(const MAPIUID& a, const MAPIUID& b);
MAPIUID NewProfileUid();
std::string ProfileUidHex(const MAPIUID& uid);

class ProfileDb {
public:
    // The database of the current environment root; one connection per file
    // and process, shared by every object that uses it. A missing file is
    // made whole; an existing one is checked through first, and one that is
    // damaged or holds no profiles gives MAPI_E_CORRUPT_STORE with a
    // sentence naming it, and is left as it was.
    static HRESULT Open(std::shared_ptr<ProfileDb>& out, std::string* error = nullptr);
    ~ProfileDb();
    ProfileDb(const ProfileDb&) = delete;
    ProfileDb& operator=(const ProfileDb&) = delete;

    // The environment root the database belongs to (store files live beside it).
    const std::filesystem::path& Root() const { return root_; }

    // Runs body inside one transaction (a write transaction takes the lock at
    // once). Database failures become MAPI_E_DISK_ERROR (MAPI_E_CORRUPT_STORE
    // for a damaged file, MAPI_E_BUSY when another process holds the lock too
    // long) with a sentence in *error; a failing body rolls everything back. Nested calls join the outer
    // transaction. The methods below must be called from inside a body.
    HRESULT Read(const std::function<HRESULT()>& body, std::string* error = nullptr);
    HRESULT Write(const std::function<HRESULT()>& body, std::string* error = nullptr);

    // ---- Profiles (names compare without case) ----------------------------------
    std::vector<ProfileRecord> Profiles();
    std::optional<ProfileRecord> FindProfile(std::string_view name);
    std::optional<ProfileRecord> FindProfile(ProfileId id);
    ProfileId AddProfile(std::string_view name);
    void RemoveProfile(ProfileId id);  // with its services, providers and sections
    // Makes the profile the default (0: no default profile).
    void SetDefaultProfile(ProfileId id);

    // ---- Services and providers, in the order they were added ---------------------
    std::vector<ServiceRecord> Services(ProfileId profile);
    std::optional<ServiceRecord> FindService(ProfileId profile, const MAPIUID& uid);
    void AddService(ProfileId profile, const ServiceRecord& service);
    void RemoveService(ProfileId profile, const MAPIUID& uid);  // its providers and their sections too
    std::vector<ProviderRecord> Providers(ProfileId profile);
    std::optional<ProviderRecord> FindProvider(ProfileId profile, const MAPIUID& uid);
    void AddProvider(ProfileId profile, const ProviderRecord& provider);
    void RemoveProvider(ProfileId profile, const MAPIUID& uid);  // and its section

    // ---- Profile sections -------------------------------------------------------
    bool SectionExists(ProfileId profile, const MAPIUID& uid);
    void AddSection(ProfileId profile, const MAPIUID& uid);  // no-op when it exists
    void RemoveSection(ProfileId profile, const MAPIUID& uid);
    // Every property of the section, encoded (see propcodec.h), by tag.
    std::vector<std::pair<ULONG, std::vector<BYTE>>> SectionProps(ProfileId profile, const MAPIUID& uid);
    // Stores values (replacing those of the same full tag); MAPI_E_INVALID_TYPE
    // and the like when a value cannot be encoded.
    HRESULT PutProps(ProfileId profile, const MAPIUID& uid, std::span<const SPropValue> values);
    // Removes values by full tag, or every type of an ID for PT_UNSPECIFIED.
    void DeleteProps(ProfileId profile, const MAPIUID& uid, std::span<const ULONG> tags);

private:
    explicit ProfileDb(std::filesystem::path root);
    void OpenFile();
    HRESULT Transact(bool write, const std::function<HRESULT()>& body, std::string* error);
    void Exec(const char* sql);
    sqlite3_stmt* Prepare(const char* sql);
    friend class ProfileStatement;

    std::filesystem::path root_;
    std::filesystem::path file_;
    sqlite3* db_ = nullptr;
    std::recursive_mutex mutex_;
    int depth_ = 0;  // nesting of Read/Write on the owning thread
    bool writing_ = false;
    std::vector<std::pair<std::string, sqlite3_stmt*>> statements_;
};

}  // namespace quillory
