// The INI-style document behind both the configuration and the service lists
// it edits: ordered sections of ordered entries, names and keys compared
// case-insensitively (ASCII), comments kept in place.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillory::sedgewynd {

// Bounds of one document; input beyond them is refused, never written past.
constexpr std::size_t kMaxLineLength = 999;
constexpr std::size_t kMaxSectionEntries = 1000;
constexpr std::size_t kMaxTargetSections = 500;
constexpr std::size_t kMaxConfigSections = 983;

// A key/value pair, or a comment line (kept whole in key, never matched).
struct InfEntry {
    std::string key;
    std::string value;
    bool comment = false;
};

struct InfSection {
    std::string name;
    std::vector<InfEntry> entries;

    // The first non-comment entry with this key, or null.
    InfEntry* Find(std::string_view key);
    const InfEntry* Find(std::string_view key) const;
    // Whether anything but comments is left (only such sections are written).
    bool HasValues() const;
};

enum class InfKind {
    Target,         // a service list: at most 500 sections
    Configuration,  // lines starting with ';' are skipped; at most 983 sections
};

enum class InfStatus {
    Ok,
    LineTooLong,
    TooManyEntries,
    TooManySections,
};

bool EqualNoCase(std::string_view a, std::string_view b);
// The number a text begins with, read as atoi does (leading blanks, a sign,
// digits; 0 when there is none), clamped to the int range.
int LeadingNumber(std::string_view text);

class CInfDocument {
public:
    explicit CInfDocument(InfKind kind = InfKind::Target);

    // Replaces the document with the parsed text. On failure the document is
    // left empty. Lines end at CR LF; a bare LF ends a line too.
    InfStatus Parse(std::string_view text);
    // Every section with values: "[name]", its entries, an empty line; CR LF
    // after each line.
    std::string Write() const;

    const std::vector<InfSection>& Sections() const { return sections_; }
    InfSection* FindSection(std::string_view name);
    const InfSection* FindSection(std::string_view name) const;

    // Appends a copy of a section (the caller checked that none of its name
    // exists); refused beyond the section or entry bound.
    InfStatus AppendSection(const InfSection& section);
    // Appends one entry to a section of this document, within the bound.
    static InfStatus AppendEntry(InfSection& section, const InfEntry& entry);

private:
    InfStatus ParseLine(std::string_view line, InfSection*& current);

    InfKind kind_;
    std::size_t maxSections_;
    std::vector<InfSection> sections_;
};

}  // namespace quillory::sedgewynd
