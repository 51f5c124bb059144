// uuencoded files inside plain text, as old newsreaders post them.
#include <algorithm>
#include <cctype>

#include "platform/mapi/converter/converter_internal.h"

namespace quillory::converter {
namespace {

struct Line {
    std::size_t begin;  // offset of the first character
    std::size_t end;    // offset just past the line end
    std::string_view text;  // without the line end
};

std::vector<Line> SplitLines(std::string_view text)
{
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        const std::size_t next = nl == std::string_view::npos ? text.size() : nl + 1;
        std::size_t stop = nl == std::string_view::npos ? text.size() : nl;
        if (stop > pos && text[stop - 1] == '\r') --stop;
        lines.push_back({pos, next, text.substr(pos, stop - pos)});
        pos = next;
    }
    return lines;
}

// "begin 644 name": the name, or empty when the line is no begin line.
std::string BeginName(std::string_view line)
{
    if (line.substr(0, 6) != "begin ") return {};
    std::size_t i = 6;
    const std::size_t modeStart = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '7') ++i;
    if (i - modeStart < 3 || i - modeStart > 4 || i >= line.size() || line[i] != ' ') return {};
    std::string name(line.substr(i + 1));
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
    return SafeFileName(name);
}

int Sixbits(char c) { return (static_cast<unsigned char>(c) - ' ') & 0x3F; }

// Decodes one data line; false when it is not one.
bool DecodeLine(std::string_view line, std::vector<BYTE>& out)
{
    if (line.empty()) return false;
    for (char c : line)
        if (static_cast<unsigned char>(c) < ' ' || static_cast<unsigned char>(c) > '`') return false;
    const int count = Sixbits(line[0]);
    const std::size_t needed = (static_cast<std::size_t>(count) + 2) / 3 * 4;
    std::string chars(line.substr(1));
    if (chars.size() < needed) {
        // Some encoders drop trailing blanks; a shorter line is padded back, a
        // line missing more than that is no data line.
        if (needed - chars.size() > 4) return false;
        chars.append(needed - chars.size(), ' ');
    }
    int produced = 0;
    for (std::size_t i = 0; i + 4 <= needed && produced < count; i += 4) {
        const int a = Sixbits(chars[i]), b = Sixbits(chars[i + 1]), c = Sixbits(chars[i + 2]), d = Sixbits(chars[i + 3]);
        const BYTE bytes[3] = {static_cast<BYTE>(a << 2 | b >> 4), static_cast<BYTE>((b & 0xF) << 4 | c >> 2),
                               static_cast<BYTE>((c & 0x3) << 6 | d)};
        for (int k = 0; k < 3 && produced < count; ++k, ++produced) out.push_back(bytes[k]);
    }
    return true;
}

char Encode6(int v) { return v == 0 ? '`' : static_cast<char>(' ' + v); }

}  // namespace

std::string SafeFileName(std::string_view name)
{
    const auto slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    std::string out;
    for (char c : name) out.push_back(c == '\r' || c == '\n' || c == '\0' ? '_' : c);
    if (out == "." || out == "..") out.clear();
    return out;
}

std::vector<UuFile> ExtractUuencoded(std::string& text)
{
    std::vector<UuFile> files;
    const std::vector<Line> lines = SplitLines(text);
    std::string kept;
    std::size_t copiedUpTo = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string name = BeginName(lines[i].text);
        if (name.empty()) continue;
        UuFile file{std::move(name), {}};
        std::size_t j = i + 1;
        bool ended = false;
        for (; j < lines.size(); ++j) {
            const std::string_view l = lines[j].text;
            if (l == "end" || l.substr(0, 4) == "end ") {
                ended = true;
                break;
            }
            if (!DecodeLine(l, file.data)) break;
        }
        if (!ended) continue;  // not a whole block: it stays text
        kept.append(text, copiedUpTo, lines[i].begin - copiedUpTo);
        copiedUpTo = lines[j].end;
        files.push_back(std::move(file));
        i = j;
    }
    if (files.empty()) return files;
    kept.append(text, copiedUpTo, std::string::npos);
    text = std::move(kept);
    return files;
}

std::string Uuencode(std::string_view name, const std::vector<BYTE>& data)
{
    std::string out = "begin 644 " + std::string(name) + "\r\n";
    for (std::size_t pos = 0; pos < data.size(); pos += 45) {
        const std::size_t n = std::min<std::size_t>(45, data.size() - pos);
        out.push_back(Encode6(static_cast<int>(n)));
        for (std::size_t i = 0; i < n; i += 3) {
            const BYTE a = data[pos + i];
            const BYTE b = i + 1 < n ? data[pos + i + 1] : 0;
            const BYTE c = i + 2 < n ? data[pos + i + 2] : 0;
            out.push_back(Encode6(a >> 2));
            out.push_back(Encode6((a & 0x3) << 4 | b >> 4));
            out.push_back(Encode6((b & 0xF) << 2 | c >> 6));
            out.push_back(Encode6(c & 0x3F));
        }
        out += "\r\n";
    }
    out += "`\r\nend\r\n";
    return out;
}

}  // namespace quillory::converter
