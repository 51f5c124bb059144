#include "platform/base/locale_info.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/base/winerror.h"

namespace {

struct LanguageName {
    std::string_view code;  // ISO 639-1, as locale names carry it
    std::string_view english;
};

// The languages the product's tables know of, by their ISO code.
constexpr std::array<LanguageName, 50> kLanguages = {{
    {"af", "Afrikaans"},  {"ar", "Arabic"},     {"eu", "Basque"},    {"be", "Belarusian"},
    {"bg", "Bulgarian"},  {"ca", "Catalan"},    {"zh", "Chinese"},   {"hr", "Croatian"},
    {"cs", "Czech"},      {"da", "Danish"},     {"nl", "Dutch"},     {"en", "English"},
    {"et", "Estonian"},   {"fo", "Faeroese"},   {"fi", "Finnish"},   {"fr", "French"},
    {"de", "German"},     {"el", "Greek"},      {"he", "Hebrew"},    {"iw", "Hebrew"},
    {"hu", "Hungarian"},  {"is", "Icelandic"},  {"id", "Indonesian"}, {"in", "Indonesian"},
    {"it", "Italian"},    {"ja", "Japanese"},   {"ko", "Korean"},    {"lv", "Latvian"},
    {"lt", "Lithuanian"}, {"ms", "Malay"},      {"nb", "Norwegian"}, {"nn", "Norwegian"},
    {"no", "Norwegian"},  {"pl", "Polish"},     {"pt", "Portuguese"}, {"ro", "Romanian"},
    {"ru", "Russian"},    {"sr", "Serbian"},    {"sk", "Slovak"},    {"sl", "Slovenian"},
    {"es", "Spanish"},    {"sv", "Swedish"},    {"th", "Thai"},      {"tr", "Turkish"},
    {"uk", "Ukrainian"},  {"uz", "Uzbek"},      {"vi", "Vietnamese"}, {"c", "English"},
    {"posix", "English"}, {"ga", "Irish"},
}};

std::string_view UserLocaleName()
{
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v) return v;
    }
    return "C";
}

std::string LanguageCodeOf(std::string_view locale)
{
    std::string code(locale.substr(0, locale.find_first_of("_.@-")));
    for (char& c : code)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return code;
}

}  // namespace

int GetLocaleInfo(LCID, LCTYPE type, LPSTR data, int size)
{
    if (type != LOCALE_SENGLANGUAGE || size < 0) {
        SetLastError(type != LOCALE_SENGLANGUAGE ? ERROR_INVALID_FLAGS : ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string code = LanguageCodeOf(UserLocaleName());
    std::string_view name;
    for (const LanguageName& l : kLanguages)
        if (l.code == code) name = l.english;
    const int needed = static_cast<int>(name.size()) + 1;
    if (size == 0) return needed;
    if (!data || size < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(data, name.data(), name.size());
    data[name.size()] = '\0';
    return needed;
}
