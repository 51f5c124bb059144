// The languages of the user interface and the string tables of one module.
//
// Each module that shows texts (the GUI library, the add-in) keeps one
// `CLanguages`: a primary table in the chosen language and a fallback table
// (English, or the first language there is). A language is available when a
// table file of its name lies beside the module or the module carries a
// STRTABLE resource of that name. The choice lives in the registry value
// "LangName"; every dialog entry checks it again, so a change made elsewhere
// (the add-in's options page) takes effect at the next dialog.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/strtable.h"
#include "platform/base/wintypes.h"

namespace quillory {

struct LanguageRow {
    std::string_view displayName;
    std::string_view code;
    WORD key;  // identifies the current language inside a module
    std::string_view resourceOverride;

    // The name of the row's table (file and resource).
    std::string_view ResourceName() const { return resourceOverride.empty() ? displayName : resourceOverride; }
};

constexpr std::size_t kLanguageCount = 48;
extern const std::array<LanguageRow, kLanguageCount> kLanguageTable;

inline constexpr char kValLangName[] = "LangName";
inline constexpr char kValDialogFont[] = "DialogFont";
constexpr std::size_t kLangNameStartupBufferSize = 128;
constexpr std::size_t kLangNameCallBufferSize = 300;
constexpr std::size_t kDialogFontBufferSize = 100;
// A LOGFONT face name holds 31 characters and its NUL.
constexpr std::size_t kFaceNameMaxChars = 31;
inline constexpr std::string_view kPreferredFallback = "English";

// The face name "DialogFont" asks for (its first 31 characters), empty when
// the templates' own face stays.
std::string DialogFontFace();

class CLanguages {
public:
    // The module whose resources are searched and the directory of files
    // that replace them.
    CLanguages(HMODULE module, std::string directory);
    CLanguages(const CLanguages&) = delete;
    CLanguages& operator=(const CLanguages&) = delete;

    // Start-up: availability, fallback table, the choice ("LangName", else
    // the user's locale language, else the fallback) and the primary table.
    // False when no table at all could be loaded; lookups then find nothing.
    bool Initialize(std::string_view preferredFallback = kPreferredFallback);

    // The per-call check: when "LangName" names (by display name) an
    // available language other than the current one, switch to it.
    void CheckPerCall();

    // Makes a row current: loads its table as the primary (a failed load
    // leaves the primary empty, so lookups fall through to the fallback),
    // takes its key and writes its resource name to "LangName". False for a
    // row that is not available.
    bool Select(std::size_t row);

    // The string of an id: primary table, else fallback, else nothing.
    std::optional<std::string> String(std::uint32_t id) const;
    std::string Text(std::uint32_t id) const { return String(id).value_or(std::string()); }
    // The first line of the string (up to the first line feed, CR dropped,
    // at most 2047 bytes), as captions and control texts take it.
    std::optional<std::string> FirstLine(std::uint32_t id) const;
    // A string the caller fills as a printf format: the primary's only when
    // its conversions are those of the fallback's, else the fallback's.
    std::optional<std::string> Format(std::uint32_t id) const;

    std::uint32_t Charset() const { return primary_.Charset(); }
    bool IsAvailable(std::size_t row) const { return row < kLanguageCount && available_[row]; }
    std::vector<std::size_t> AvailableRows() const;
    WORD CurrentKey() const { return currentKey_; }
    // The first available row with the current key, if any.
    std::optional<std::size_t> CurrentRow() const;
    const std::string& FallbackName() const { return fallbackName_; }

    CStrTable& Primary() { return primary_; }
    CStrTable& Fallback() { return fallback_; }

private:
    void ScanAvailability();
    bool LoadByName(CStrTable& table, std::string_view name);
    std::optional<std::size_t> AvailableRowByResourceName(std::string_view name) const;

    HMODULE module_;
    std::string directory_;
    std::array<bool, kLanguageCount> available_{};
    std::atomic<WORD> currentKey_{0};
    std::string fallbackName_;
    CStrTable primary_;
    CStrTable fallback_;
};

}  // namespace quillory
