// A localised string table in memory (`CStrTable`): loaded from a STRTABLE
// image (common/strtable_format.h), its strings converted from the table's
// code page to UTF-8 once, at load, and looked up by id.
//
// Each table has its own lock (`CMtObject`), taken by load and lookup. A
// lookup hands out a copy: a language switch on another thread may reload
// the table at any moment, and a caller must never hold text that a reload
// frees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/strtable_format.h"
#include "platform/base/wintypes.h"

namespace quillory {

// An object with one lock of its own.
class CMtObject {
public:
    CMtObject() = default;
    virtual ~CMtObject() = default;
    CMtObject(const CMtObject&) = delete;
    CMtObject& operator=(const CMtObject&) = delete;

    virtual void Lock() const { lock_.lock(); }
    virtual void Unlock() const { lock_.unlock(); }

private:
    mutable std::mutex lock_;
};

class CStrTable : public CMtObject {
public:
    // Before any load: charset 1, reserved 3, no strings.
    CStrTable();
    ~CStrTable() override;

    // Replaces the content with the image's. Any fault (the format's checks,
    // a charset without a code page) leaves the table empty and answers
    // false, with the reason in `why` when given.
    bool LoadImage(std::span<const std::byte> image, std::string* why = nullptr);
    // The file at `path` (at most kMaxFileSize bytes) as an image.
    bool LoadFile(const std::string& path, std::string* why = nullptr);
    void Clear();

    // The string of `id` in UTF-8, found by binary search over the index as
    // stored (an index out of order misses, as it always has); the sentinel
    // id 0xFFFFFFFF is never found.
    std::optional<std::string> Lookup(std::uint32_t id) const;

    std::uint32_t Charset() const;
    std::uint32_t Reserved() const;
    std::uint32_t Count() const;

    static constexpr std::size_t kMaxFileSize = 16u << 20;

private:
    struct Content {
        std::uint32_t charset = strtable::DEFAULT_CHARSET;
        std::uint32_t reserved = strtable::kReservedValue;
        std::vector<std::uint32_t> ids;
        std::vector<std::string> texts;  // UTF-8
    };

    std::shared_ptr<const Content> Snapshot() const;
    void Replace(std::shared_ptr<const Content> content);

    std::shared_ptr<const Content> content_;
};

// The file in `directory` whose name is `name` (letter case aside: a
// translator's "GERMAN" serves the language "German"); empty when none.
std::string FindTableFile(std::string_view directory, std::string_view name);

// Loads a table by name for a module: the file of exactly that name in
// `directory` wins; when there is none or it does not load, the module's
// STRTABLE resource of that name (names compare case-insensitively). False
// leaves the table empty.
bool LoadStrTableByName(CStrTable& table, HMODULE module, std::string_view directory, std::string_view name);

}  // namespace quillory
