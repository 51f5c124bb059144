#include "sedgewynd/inf_document.h"

#include <algorithm>

namespace quillory::sedgewynd {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimRight(std::string_view s)
{
    while (!s.empty() && IsBlankOrTab(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view TrimLeft(std::string_view s)
{
    while (!s.empty() && IsBlankOrTab(s.front())) s.remove_prefix(1);
    return s;
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

int LeadingNumber(std::string_view text)
{
    constexpr long long kLimit = 2147483648LL;
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min(kLimit, value * 10 + (text[i] - '0'));
    if (negative) return static_cast<int>(-value);
    return static_cast<int>(std::min(value, kLimit - 1));
}

InfEntry* InfSection::Find(std::string_view key)
{
    for (InfEntry& e : entries)
        if (!e.comment && EqualNoCase(e.key, key)) return &e;
    return nullptr;
}

const InfEntry* InfSection::Find(std::string_view key) const
{
    return const_cast<InfSection*>(this)->Find(key);
}

bool InfSection::HasValues() const
{
    for (const InfEntry& e : entries)
        if (!e.comment) return true;
    return false;
}

CInfDocument::CInfDocument(InfKind kind)
    : kind_(kind), maxSections_(kind == InfKind::Configuration ? kMaxConfigSections : kMaxTargetSections)
{
}

InfSection* CInfDocument::FindSection(std::string_view name)
{
    for (InfSection& s : sections_)
        if (EqualNoCase(s.name, name)) return &s;
    return nullptr;
}

const InfSection* CInfDocument::FindSection(std::string_view name) const
{
    return const_cast<CInfDocument*>(this)->FindSection(name);
}

InfStatus CInfDocument::AppendSection(const InfSection& section)
{
    if (sections_.size() >= maxSections_) return InfStatus::TooManySections;
    if (section.entries.size() > kMaxSectionEntries) return InfStatus::TooManyEntries;
    sections_.push_back(section);
    return InfStatus::Ok;
}

InfStatus CInfDocument::AppendEntry(InfSection& section, const InfEntry& entry)
{
    if (section.entries.size() >= kMaxSectionEntries) return InfStatus::TooManyEntries;
    section.entries.push_back(entry);
    return InfStatus::Ok;
}

InfStatus CInfDocument::ParseLine(std::string_view line, InfSection*& current)
{
    if (line.size() > kMaxLineLength) return InfStatus::LineTooLong;
    if (kind_ == InfKind::Configuration && !line.empty() && line.front() == ';') return InfStatus::Ok;
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    if (line.empty()) return InfStatus::Ok;

    if (line.front() == '[') {
        line.remove_prefix(1);
        if (!line.empty() && line.back() == ']') line.remove_suffix(1);
        // Written back with both brackets, the header must still fit a line.
        if (line.size() + 2 > kMaxLineLength) return InfStatus::LineTooLong;
        current = FindSection(line);
        if (!current) {
            if (sections_.size() >= maxSections_) return InfStatus::TooManySections;
            sections_.push_back(InfSection{std::string(line), {}});
            current = &sections_.back();
        }
        return InfStatus::Ok;
    }
    if (!current) return InfStatus::Ok;  // before the first section: dropped

    if (line.front() == ';') return AppendEntry(*current, InfEntry{std::string(line), {}, true});

    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return InfStatus::Ok;
    const std::string_view key = TrimRight(line.substr(0, eq));
    if (key.empty()) return InfStatus::Ok;
    const std::string_view value = TrimRight(TrimLeft(line.substr(eq + 1)));
    if (InfEntry* existing = current->Find(key)) {
        existing->value.assign(value);
        return InfStatus::Ok;
    }
    return AppendEntry(*current, InfEntry{std::string(key), std::string(value), false});
}

InfStatus CInfDocument::Parse(std::string_view text)
{
    sections_.clear();
    InfSection* current = nullptr;
    while (true) {
        // A bare LF ends a line as well: a file written with Unix line ends
        // would otherwise read as one long line and lose its sections.
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (const InfStatus s = ParseLine(line, current); s != InfStatus::Ok) {
            sections_.clear();
            return s;
        }
        if (lf == std::string_view::npos) break;
        text.remove_prefix(lf + 1);
    }
    return InfStatus::Ok;
}

std::string CInfDocument::Write() const
{
    std::string out;
    for (const InfSection& s : sections_) {
        if (!s.HasValues()) continue;
        out += '[';
        out += s.name;
        out += "]\r\n";
        for (const InfEntry& e : s.entries) {
            out += e.key;
            if (!e.comment) {
                out += '=';
                out += e.value;
            }
            out += "\r\n";
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace quillory::sedgewynd
