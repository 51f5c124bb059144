// Build tool: the STRTABLE blobs of the user-interface languages, from UTF-8
// string lists (cmake/strings_file.h).
//
//   quillory_strtable OUTDIR NAME:CHARSET:DIR [NAME:CHARSET:DIR]...
//
// Each language is every *.strings file of its DIR, merged; it is written to
// OUTDIR/NAME in the STRTABLE format with its strings in the code page of
// CHARSET (windows-1252 for 0 and 1, windows-1251 for 204, ...). The first
// language is the reference: the build fails when another language lacks one
// of its ids or has one it lacks, when a string's printf conversions differ
// from the reference's (translations are filled with the same arguments),
// when an id repeats, when a line break is not CR LF, or when a character
// has no place in the code page.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/codepage.h"
#include "common/strtable_format.h"
#include "strings_file.h"

namespace {

namespace fs = std::filesystem;
using quillory::build::ListedString;

struct Language {
    std::string name;
    std::uint32_t charset = 0;
    fs::path dir;
    std::map<std::uint32_t, ListedString> strings;
};

Language ParseLanguageArgument(const std::string& arg)
{
    const std::size_t a = arg.find(':'), b = arg.find(':', a == std::string::npos ? a : a + 1);
    if (a == std::string::npos || b == std::string::npos) throw std::runtime_error("expected NAME:CHARSET:DIR, got " + arg);
    Language l;
    l.name = arg.substr(0, a);
    l.charset = static_cast<std::uint32_t>(std::stoul(arg.substr(a + 1, b - a - 1)));
    l.dir = arg.substr(b + 1);
    if (l.name.empty() || !quillory::CodePageOfCharset(l.charset))
        throw std::runtime_error(arg + ": no name or a charset without a code page");
    return l;
}

void ReadLanguage(Language& l)
{
    std::vector<fs::path> files;
    for (const fs::directory_entry& e : fs::directory_iterator(l.dir))
        if (e.is_regular_file() && e.path().extension() == ".strings") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    if (files.empty()) throw std::runtime_error(l.dir.string() + ": no .strings files");
    for (const fs::path& file : files) {
        for (ListedString& s : quillory::build::ReadStringList(file.string(), 10)) {
            if (s.id >= quillory::strtable::kSentinelId) throw std::runtime_error(s.origin + ": id out of range");
            for (std::size_t i = 0; i < s.text.size(); ++i)
                if (s.text[i] == '\n' && (i == 0 || s.text[i - 1] != '\r'))
                    throw std::runtime_error(s.origin + ": a line break is written \\r\\n");
            const auto id = static_cast<std::uint32_t>(s.id);
            const auto [it, fresh] = l.strings.emplace(id, s);
            if (!fresh) throw std::runtime_error(s.origin + ": id " + std::to_string(id) + " already at " + it->second.origin);
        }
    }
}

std::string CheckAgainst(const Language& reference, const Language& l)
{
    std::string problems;
    for (const auto& [id, s] : reference.strings) {
        const auto it = l.strings.find(id);
        if (it == l.strings.end()) {
            problems += "\n  " + l.name + " lacks " + std::to_string(id) + " (" + s.origin + ")";
            continue;
        }
        using quillory::strtable::PrintfSignature;
        if (PrintfSignature(it->second.text) != PrintfSignature(s.text))
            problems += "\n  " + it->second.origin + ": conversions differ from " + s.origin;
    }
    for (const auto& [id, s] : l.strings)
        if (!reference.strings.count(id)) problems += "\n  " + s.origin + ": id " + std::to_string(id) + " is not in " + reference.name;
    return problems;
}

void WriteLanguage(const Language& l, const fs::path& outDir)
{
    quillory::strtable::Image image;
    image.charset = l.charset;
    const unsigned codePage = quillory::CodePageOfCharset(l.charset);
    for (const auto& [id, s] : l.strings) {
        std::optional<std::string> text = quillory::Utf8ToCodePage(s.text, codePage);
        if (!text) throw std::runtime_error(s.origin + ": not UTF-8, or a character windows-" + std::to_string(codePage) + " lacks");
        if (text->find('\0') != std::string::npos) throw std::runtime_error(s.origin + ": a NUL inside the text");
        image.entries.push_back({id, std::move(*text)});
    }
    const std::vector<std::byte> bytes = quillory::strtable::BuildStrTable(image);
    std::string why;
    const auto back = quillory::strtable::ParseStrTable(bytes, &why);
    if (!back || back->entries != image.entries) throw std::runtime_error(l.name + ": written table does not read back: " + why);

    const fs::path path = outDir / l.name;
    const fs::path temp = outDir / (l.name + ".tmp");
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) throw std::runtime_error("cannot write " + temp.string());
    }
    fs::rename(temp, path);
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        if (argc < 3) throw std::runtime_error("usage: quillory_strtable OUTDIR NAME:CHARSET:DIR...");
        const fs::path outDir = argv[1];
        fs::create_directories(outDir);
        std::vector<Language> languages;
        for (int i = 2; i < argc; ++i) {
            languages.push_back(ParseLanguageArgument(argv[i]));
            ReadLanguage(languages.back());
        }
        std::string problems;
        for (std::size_t i = 1; i < languages.size(); ++i) problems += CheckAgainst(languages[0], languages[i]);
        if (!problems.empty()) throw std::runtime_error("string tables disagree:" + problems);
        for (const Language& l : languages) WriteLanguage(l, outDir);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quillory_strtable: %s\n", e.what());
        return 1;
    }
}
