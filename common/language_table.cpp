#include "common/language_table.h"

#include <strings.h>

#include "common/codepage.h"
#include "common/regstore.h"
#include "platform/base/locale_info.h"
#include "platform/base/resource.h"
#include "platform/base/trace.h"

namespace quillory {

// Keys rise with the rows, with gaps; English and English (United Kingdom)
// share one, as do French and French (Canadian), so a switch by key always
// lands on the first of the two.
const std::array<LanguageRow, kLanguageCount> kLanguageTable = {{
    {"Afrikaans", "AF", 4301, ""},
    {"Arabic", "AR", 4302, ""},
    {"Basque", "EU", 4303, ""},
    {"Belarusian", "BE", 4304, ""},
    {"Bulgarian", "BG", 4305, ""},
    {"Catalan", "CA", 4306, ""},
    {"Chinese (China)", "ZH", 4307, "Chinese_China"},
    {"Chinese (Taiwan)", "ZH-TW", 4308, "Chinese_Taiwan"},
    {"Croatian", "HR", 4309, ""},
    {"Czech", "CS", 4310, ""},
    {"Danish", "DA", 4311, ""},
    {"Dutch", "NL", 4312, ""},
    {"English", "EN", 4318, ""},
    {"English (United Kingdom)", "EN-GB", 4318, "English_United_Kingdom"},
    {"English (United States)", "EN-US", 4319, "English_United_States"},
    {"Estonian", "ET", 4320, ""},
    {"Faeroese", "FO", 4321, ""},
    {"Finnish", "FI", 4322, ""},
    {"French", "FR", 4324, ""},
    {"French (Canadian)", "FR-CA", 4324, "French_Canadian"},
    {"German", "DE", 4325, ""},
    {"Greek", "EL", 4326, ""},
    {"Hebrew", "IW", 4327, ""},
    {"Hungarian", "HU", 4328, ""},
    {"Icelandic", "IS", 4329, ""},
    {"Indonesian", "IN", 4330, ""},
    {"Italian", "IT", 4331, ""},
    {"Japanese", "JA", 4332, ""},
    {"Korean", "KO", 4333, ""},
    {"Latvian", "LV", 4334, ""},
    {"Lithuanian", "LT", 4335, ""},
    {"Bahasa Malaysia", "MY", 4336, "Malay"},
    {"Norwegian", "NO", 4337, ""},
    {"Polish", "PL", 4338, ""},
    {"Portuguese", "PT", 4339, ""},
    {"Portuguese (Brazilian)", "PT-BR", 4340, "Brazilian"},
    {"Romanian", "RO", 4341, ""},
    {"Russian", "RU", 4342, ""},
    {"Serbian", "SR", 4343, ""},
    {"Slovak", "SK", 4344, ""},
    {"Slovenian", "SL", 4345, ""},
    {"Spanish", "ES", 4346, ""},
    {"Swedish", "SV", 4347, ""},
    {"Thai", "TH", 4348, ""},
    {"Turkish", "TR", 4349, ""},
    {"Ukrainian", "UK", 4350, ""},
    {"Uzbek", "UZ", 4351, ""},
    {"Vietnamese", "VI", 4352, ""},
}};

namespace {

bool SameNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

constexpr std::size_t kCaptionMaxBytes = 2047;
constexpr std::size_t kLocaleNameBufferSize = 64;

}  // namespace

std::string DialogFontFace()
{
    std::string face;
    ReadRegString(kMainKey, kValDialogFont, face, kDialogFontBufferSize, "");
    if (face.size() > kFaceNameMaxChars) face.resize(kFaceNameMaxChars);
    return face;
}

CLanguages::CLanguages(HMODULE module, std::string directory) : module_(module), directory_(std::move(directory)) {}

void CLanguages::ScanAvailability()
{
    for (std::size_t i = 0; i < kLanguageCount; ++i) {
        const std::string name(kLanguageTable[i].ResourceName());
        available_[i] = !FindTableFile(directory_, name).empty() ||
                        FindResource(module_, name.c_str(), strtable::kResourceType) != nullptr;
    }
}

std::optional<std::size_t> CLanguages::AvailableRowByResourceName(std::string_view name) const
{
    for (std::size_t i = 0; i < kLanguageCount; ++i)
        if (available_[i] && SameNoCase(kLanguageTable[i].ResourceName(), name)) return i;
    return std::nullopt;
}

bool CLanguages::LoadByName(CStrTable& table, std::string_view name)
{
    return LoadStrTableByName(table, module_, directory_, name);
}

bool CLanguages::Initialize(std::string_view preferredFallback)
{
    ScanAvailability();
    fallbackName_ = std::string(preferredFallback);
    if (!AvailableRowByResourceName(preferredFallback)) {
        for (std::size_t i = 0; i < kLanguageCount; ++i) {
            if (available_[i]) {
                fallbackName_ = std::string(kLanguageTable[i].ResourceName());
                break;
            }
        }
    }
    LoadByName(fallback_, fallbackName_);

    std::string choice;
    ReadRegString(kMainKey, kValLangName, choice, kLangNameStartupBufferSize, "");
    if (choice.empty()) {
        char locale[kLocaleNameBufferSize] = {};
        GetLocaleInfo(LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE, locale, sizeof locale);
        for (const LanguageRow& row : kLanguageTable)
            if (SameNoCase(row.displayName, locale)) choice = std::string(row.ResourceName());
    }
    if (choice.empty() || !AvailableRowByResourceName(choice)) choice = fallbackName_;

    const std::optional<std::size_t> row = AvailableRowByResourceName(choice);
    currentKey_ = row ? kLanguageTable[*row].key : 0;
    if (LoadByName(primary_, choice)) return true;
    return LoadByName(primary_, fallbackName_);
}

void CLanguages::CheckPerCall()
{
    std::string name;
    ReadRegString(kMainKey, kValLangName, name, kLangNameCallBufferSize, "");
    for (std::size_t i = 0; i < kLanguageCount; ++i) {
        if (!available_[i] || !SameNoCase(kLanguageTable[i].displayName, name)) continue;
        if (kLanguageTable[i].key != currentKey_) Select(i);
        return;
    }
}

bool CLanguages::Select(std::size_t row)
{
    if (!IsAvailable(row)) return false;
    const LanguageRow& r = kLanguageTable[row];
    if (!LoadByName(primary_, r.ResourceName()))
        Trace("CLanguages::Select -- %.*s did not load; the fallback serves\n", static_cast<int>(r.displayName.size()),
              r.displayName.data());
    currentKey_ = r.key;
    WriteRegString(kMainKey, kValLangName, r.ResourceName());
    return true;
}

std::optional<std::string> CLanguages::String(std::uint32_t id) const
{
    if (std::optional<std::string> s = primary_.Lookup(id)) return s;
    return fallback_.Lookup(id);
}

std::optional<std::string> CLanguages::FirstLine(std::uint32_t id) const
{
    std::optional<std::string> s = String(id);
    if (!s) return s;
    if (const std::size_t lf = s->find('\n'); lf != std::string::npos) s->resize(lf);
    if (!s->empty() && s->back() == '\r') s->pop_back();
    if (s->size() > kCaptionMaxBytes) s->resize(Utf8Prefix(*s, kCaptionMaxBytes).size());
    return s;
}

std::optional<std::string> CLanguages::Format(std::uint32_t id) const
{
    std::optional<std::string> own = primary_.Lookup(id);
    std::optional<std::string> reference = fallback_.Lookup(id);
    if (own && (!reference || strtable::PrintfSignature(*own) == strtable::PrintfSignature(*reference))) return own;
    if (own) Trace("CLanguages::Format -- string %u has other conversions than its original; the original serves\n", id);
    return reference;
}

std::vector<std::size_t> CLanguages::AvailableRows() const
{
    std::vector<std::size_t> rows;
    for (std::size_t i = 0; i < kLanguageCount; ++i)
        if (available_[i]) rows.push_back(i);
    return rows;
}

std::optional<std::size_t> CLanguages::CurrentRow() const
{
    for (std::size_t i = 0; i < kLanguageCount; ++i)
        if (available_[i] && kLanguageTable[i].key == currentKey_) return i;
    return std::nullopt;
}

}  // namespace quillory
