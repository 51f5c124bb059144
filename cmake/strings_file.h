// Build tools: the "ID TEXT" string lists that modules keep beside their code.
//
// One string per line: a decimal id, a blank or tab, and the text to the end
// of the line, which may use the escapes \r \n \t \\ \" and \xHH (so a
// trailing blank is written \x20). Blank lines and lines starting with '#'
// are skipped. Errors throw std::runtime_error naming file and line.
#pragma once

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillory::build {

struct ListedString {
    unsigned long id = 0;
    std::string text;
    std::string origin;  // file:line
};

inline std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

inline std::string Unescape(const std::string& text, const std::string& where)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) throw std::runtime_error(where + ": lone backslash at the end");
        switch (text[i]) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        case 'x': {
            const int hi = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            if (hi < 0 || lo < 0) throw std::runtime_error(where + ": \\x needs two hex digits");
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default: throw std::runtime_error(where + ": unknown escape \\" + std::string(1, text[i]));
        }
    }
    return out;
}

inline bool AllDigits(const std::string& s, std::size_t maxDigits)
{
    if (s.empty() || s.size() > maxDigits) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Reads a list; ids must be decimal numbers of at most `maxDigits` digits.
inline std::vector<ListedString> ReadStringList(const std::string& path, std::size_t maxDigits)
{
    std::vector<ListedString> out;
    std::istringstream in(ReadWholeFile(path));
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::string where = path + ":" + std::to_string(number);
        const std::size_t gap = line.find_first_of(" \t");
        if (gap == std::string::npos) throw std::runtime_error(where + ": expected \"ID TEXT\"");
        const std::string id = line.substr(0, gap);
        if (!AllDigits(id, maxDigits)) throw std::runtime_error(where + ": string ids are numbers");
        out.push_back({std::stoul(id), Unescape(line.substr(gap + 1), where), where});
    }
    return out;
}

}  // namespace quillory::build
