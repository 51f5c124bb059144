#include "platform/inetcomm/nntp/nntp_parse.h"

#include <array>
#include <cstdio>

namespace quillory::nntp {

void CLineSplitter::Append(std::string_view bytes)
{
    // Drop consumed lines before growing, so the buffer holds at most one
    // partial line plus what has just arrived.
    if (start_ > 0 && (start_ >= buffer_.size() / 2 || start_ >= 64 * 1024)) {
        buffer_.erase(0, start_);
        scanned_ -= start_;
        start_ = 0;
    }
    buffer_.append(bytes);
}

std::optional<std::string_view> CLineSplitter::Next()
{
    const std::size_t nl = buffer_.find('\n', scanned_);
    if (nl == std::string::npos) {
        scanned_ = buffer_.size();
        return std::nullopt;
    }
    std::string_view line(buffer_.data() + start_, nl - start_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    start_ = nl + 1;
    scanned_ = start_;
    return line;
}

bool CLineSplitter::Overflowed() const { return buffer_.size() - start_ > kMaxLineLength; }

void CLineSplitter::Clear()
{
    buffer_.clear();
    start_ = scanned_ = 0;
}

std::optional<StatusLine> ParseStatusLine(std::string_view line)
{
    if (line.size() < 3) return std::nullopt;
    UINT code = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9') return std::nullopt;
        code = code * 10 + static_cast<UINT>(line[i] - '0');
    }
    if (code < 100 || code > 599) return std::nullopt;
    if (line.size() > 3 && line[3] != ' ' && line[3] != '\t') return std::nullopt;
    StatusLine st;
    st.code = code;
    st.text = line.size() > 4 ? line.substr(4) : std::string_view{};
    return st;
}

bool UnstuffLine(std::string_view& line)
{
    if (line.empty() || line.front() != '.') return false;
    if (line.size() == 1) return true;
    line.remove_prefix(1);
    return false;
}

std::optional<DWORD> ParseNumber(std::string_view text)
{
    if (text.empty() || text.size() > 10) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<DWORD>(value);
}

static bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (a != prefix[i]) return false;
    }
    return true;
}

std::optional<OverviewRecord> ParseOverviewLine(std::string_view line)
{
    constexpr std::size_t kFixedFields = 8;
    std::array<std::string_view, kFixedFields> fields;
    std::size_t count = 0;
    std::size_t pos = 0;
    while (count < kFixedFields) {
        const std::size_t tab = line.find('\t', pos);
        fields[count++] = line.substr(pos, tab == std::string_view::npos ? std::string_view::npos : tab - pos);
        if (tab == std::string_view::npos) {
            pos = line.size() + 1;
            break;
        }
        pos = tab + 1;
    }
    if (count < kFixedFields) return std::nullopt;

    const auto number = ParseNumber(fields[0]);
    if (!number) return std::nullopt;
    OverviewRecord rec;
    rec.number = *number;
    rec.subject = fields[1];
    rec.from = fields[2];
    rec.date = fields[3];
    rec.messageId = fields[4];
    rec.references = fields[5];
    rec.bytes = ParseNumber(fields[6]).value_or(0);
    rec.lines = ParseNumber(fields[7]).value_or(0);

    // Optional fields after the fixed ones, each "Name: value".
    while (pos <= line.size()) {
        const std::size_t tab = line.find('\t', pos);
        const std::string_view field =
            line.substr(pos, tab == std::string_view::npos ? std::string_view::npos : tab - pos);
        if (StartsWithNoCase(field, "xref:")) {
            std::string_view value = field.substr(5);
            while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
            rec.xref = value;
            rec.hasXref = true;
        }
        if (tab == std::string_view::npos) break;
        pos = tab + 1;
    }
    return rec;
}

std::string DotStuffArticle(std::string_view article)
{
    std::string out;
    out.reserve(article.size() + article.size() / 32 + 8);
    bool lineStart = true;
    for (std::size_t i = 0; i < article.size(); ++i) {
        const char c = article[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            if (c == '\r' && i + 1 < article.size() && article[i + 1] == '\n') ++i;
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = false;
    }
    if (!lineStart) out += "\r\n";
    out += ".\r\n";
    return out;
}

std::optional<std::string> FormatNewgroupsTime(const SYSTEMTIME& utc)
{
    if (utc.wYear < 1970 || utc.wYear > 9999 || utc.wMonth < 1 || utc.wMonth > 12 || utc.wDay < 1 ||
        utc.wDay > 31 || utc.wHour > 23 || utc.wMinute > 59 || utc.wSecond > 60)
        return std::nullopt;
    char text[32];
    std::snprintf(text, sizeof text, "%04u%02u%02u %02u%02u%02u", unsigned{utc.wYear}, unsigned{utc.wMonth},
                  unsigned{utc.wDay}, unsigned{utc.wHour}, unsigned{utc.wMinute},
                  unsigned{utc.wSecond > 59 ? 59u : utc.wSecond});
    return std::string(text);
}

}  // namespace quillory::nntp
