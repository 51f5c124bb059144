#include "tolvane/texts.h"

#include <filesystem>
#include <vector>

#include "common/language_table.h"
#include "platform/base/module.h"
#include "platform/base/trace.h"

namespace quillory::tolvane {

namespace {

const char kAnchor = 0;  // an address inside this library

// The add-in library's own tables, loaded on first use.
CLanguages& Languages()
{
    static CLanguages languages(ModuleHandleOf(&kAnchor),
                                std::filesystem::path(ModulePathOf(&kAnchor)).parent_path().string());
    static const bool loaded = [] {
        if (!languages.Initialize()) Trace("tolvane -- no string table could be loaded\n");
        return true;
    }();
    (void)loaded;
    return languages;
}

// A text cut into literal pieces and the conversions between them ("%s",
// "%08x" ...), "%%" read as one "%"; nothing when a "%" starts no conversion.
struct Template {
    std::vector<std::string> literals;  // one more than the conversions
    std::vector<std::string> conversions;
};

std::optional<Template> Parse(std::string_view format)
{
    Template t;
    t.literals.emplace_back();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            t.literals.back() += format[i];
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            t.literals.back() += '%';
            ++i;
            continue;
        }
        // Flags, width and precision, then the conversion letter.
        std::size_t j = i + 1;
        while (j < format.size() && std::string_view("-+ #0123456789.lh").find(format[j]) != std::string_view::npos) ++j;
        if (j >= format.size() || std::string_view("sdiuxXc").find(format[j]) == std::string_view::npos)
            return std::nullopt;
        t.conversions.emplace_back(format.substr(i, j - i + 1));
        t.literals.emplace_back();
        i = j;
    }
    return t;
}

std::string Fill(const Template& t, std::initializer_list<std::string_view> args)
{
    std::string out = t.literals[0];
    auto arg = args.begin();
    for (std::size_t i = 0; i < t.conversions.size(); ++i, ++arg) {
        out += *arg;
        out += t.literals[i + 1];
    }
    return out;
}

}  // namespace

std::string AddinText(UINT id)
{
    CLanguages& l = Languages();
    l.CheckPerCall();
    return l.Text(id);
}

bool FillPlaceholders(std::string_view format, std::string_view reference, std::initializer_list<std::string_view> args,
                      std::string& out)
{
    const auto text = Parse(format);
    const auto model = Parse(reference);
    if (!text || !model || text->conversions != model->conversions || text->conversions.size() != args.size())
        return false;
    out = Fill(*text, args);
    return true;
}

std::string FormatAddinText(UINT id, std::initializer_list<std::string_view> args)
{
    CLanguages& l = Languages();
    l.CheckPerCall();
    const auto english = l.Fallback().Lookup(id);
    std::string out;
    if (!english) {
        Trace("FormatAddinText -- string %u is missing\n", id);
        return out;
    }
    if (const auto text = l.Primary().Lookup(id); text && FillPlaceholders(*text, *english, args, out)) return out;
    if (FillPlaceholders(*english, *english, args, out)) return out;
    Trace("FormatAddinText -- string %u takes other arguments\n", id);
    return out;
}

}  // namespace quillory::tolvane
