// Internet dates (RFC 5322 section 3.3 with the obsolete forms of 4.3) to FILETIME.
#include <array>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/time.h"
#include "platform/inetcomm/mime/mime_services.h"

namespace {

// Tokens of a date text: words, numbers, and the separators that matter.
std::vector<std::string> Tokenize(std::string_view s)
{
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '(') {  // comments nest
            int depth = 0;
            for (; i < s.size(); ++i) {
                if (s[i] == '\\') { ++i; continue; }
                if (s[i] == '(') ++depth;
                if (s[i] == ')' && --depth == 0) { ++i; break; }
            }
            continue;
        }
        if (std::isspace(c) || c == ',') { ++i; continue; }
        if (c == ':' || c == '+' || c == '-') {
            tokens.emplace_back(1, static_cast<char>(c));
            ++i;
            continue;
        }
        std::size_t j = i;
        if (std::isdigit(c)) {
            while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
        } else if (std::isalpha(c)) {
            while (j < s.size() && std::isalpha(static_cast<unsigned char>(s[j]))) ++j;
            if (j < s.size() && s[j] == '.') ++j;  // "Tue." in the wild
        } else {
            ++j;  // any other character is a token of its own and spoils the date
        }
        tokens.emplace_back(s.substr(i, j - i));
        i = j;
    }
    return tokens;
}

bool IsNumber(const std::string& t) { return !t.empty() && std::isdigit(static_cast<unsigned char>(t[0])); }

std::string Lower(std::string t)
{
    for (auto& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!t.empty() && t.back() == '.') t.pop_back();
    return t;
}

int MonthOf(const std::string& t)
{
    static constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
    const std::string l = Lower(t);
    if (l.size() < 3) return 0;
    for (std::size_t m = 0; m < kMonths.size(); ++m)
        if (l.compare(0, 3, kMonths[m]) == 0 && (l.size() == 3 || l == "june" || l == "july" || l == "sept")) return static_cast<int>(m + 1);
    return 0;
}

bool IsWeekday(const std::string& t)
{
    static constexpr std::array<std::string_view, 7> kDays = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
    const std::string l = Lower(t);
    if (l.size() < 3) return false;
    for (auto d : kDays)
        if (l.compare(0, 3, d) == 0) return true;
    return false;
}

// Offset in minutes east of UTC of a zone name; unknown names count as UTC
// (RFC 5322 reads military and unknown zones as "-0000").
std::optional<int> NamedZone(const std::string& t)
{
    struct Zone {
        std::string_view name;
        int minutes;
    };
    static constexpr std::array<Zone, 18> kZones = {{{"ut", 0},      {"utc", 0},     {"gmt", 0},     {"z", 0},
                                                     {"est", -300},  {"edt", -240},  {"cst", -360},  {"cdt", -300},
                                                     {"mst", -420},  {"mdt", -360},  {"pst", -480},  {"pdt", -420},
                                                     {"cet", 60},    {"cest", 120},  {"met", 60},    {"mest", 120},
                                                     {"bst", 60},    {"jst", 540}}};
    const std::string l = Lower(t);
    for (const auto& z : kZones)
        if (l == z.name) return z.minutes;
    if (l.size() <= 5) return 0;
    return std::nullopt;
}

bool IsLeap(long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(long y, int m)
{
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[static_cast<std::size_t>(m - 1)];
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

std::optional<long> ToNumber(const std::string& t, std::size_t maxDigits)
{
    if (!IsNumber(t) || t.size() > maxDigits) return std::nullopt;
    return std::stol(t);
}

struct Parsed {
    long year = 0;
    int month = 0, day = 0, hour = 0, minute = 0, second = 0, zone = 0;
};

std::optional<Parsed> ParseDate(std::string_view text)
{
    auto tokens = Tokenize(text);
    std::size_t i = 0;
    auto at = [&](std::size_t k) -> const std::string& {
        static const std::string kEmpty;
        return k < tokens.size() ? tokens[k] : kEmpty;
    };
    Parsed p;
    if (i < tokens.size() && IsWeekday(at(i)) && !MonthOf(at(i))) ++i;
    std::optional<long> day, year;
    std::size_t yearDigits = 0;
    auto takeYear = [&](std::size_t k) {
        year = ToNumber(at(k), 4);
        yearDigits = at(k).size();
    };
    // "5 Jan 2000 ..." or, asctime style, "Jan 5 10:00:00 2000".
    bool yearAfterTime = false;
    if (IsNumber(at(i))) {
        day = ToNumber(at(i), 2);
        p.month = MonthOf(at(i + 1));
        takeYear(i + 2);
        i += 3;
    } else {
        p.month = MonthOf(at(i));
        day = ToNumber(at(i + 1), 2);
        i += 2;
        yearAfterTime = at(i + 1) == ":";
        if (!yearAfterTime) takeYear(i++);
    }
    if (!day || !p.month) return std::nullopt;
    // The time: hh:mm[:ss].
    auto hour = ToNumber(at(i), 2);
    if (!hour || at(i + 1) != ":") return std::nullopt;
    auto minute = ToNumber(at(i + 2), 2);
    if (!minute) return std::nullopt;
    i += 3;
    std::optional<long> second = 0;
    if (at(i) == ":") {
        second = ToNumber(at(i + 1), 2);
        if (!second) return std::nullopt;
        i += 2;
    }
    if (yearAfterTime) takeYear(i++);
    if (!year) return std::nullopt;
    // The zone: +hhmm / -hhmm or a name; none means UTC.
    if (at(i) == "+" || at(i) == "-") {
        const std::string& digits = at(i + 1);
        if (digits.size() != 4 || !IsNumber(digits)) return std::nullopt;
        const int hh = std::stoi(digits.substr(0, 2));
        const int mm = std::stoi(digits.substr(2, 2));
        if (mm > 59) return std::nullopt;
        p.zone = (at(i) == "-" ? -1 : 1) * (hh * 60 + mm);
        i += 2;
    } else if (i < tokens.size() && std::isalpha(static_cast<unsigned char>(at(i)[0]))) {
        auto zone = NamedZone(at(i));
        if (!zone) return std::nullopt;
        p.zone = *zone;
        ++i;
    }
    if (i < tokens.size()) return std::nullopt;  // trailing rubbish
    // Two-digit years: 00-49 are 2000-2049, 50-99 are 1950-1999; three digits add 1900.
    p.year = *year;
    if (yearDigits <= 2) p.year = *year < 50 ? 2000 + *year : 1900 + *year;
    if (yearDigits == 3) p.year = 1900 + *year;
    p.day = static_cast<int>(*day);
    p.hour = static_cast<int>(*hour);
    p.minute = static_cast<int>(*minute);
    p.second = static_cast<int>(*second == 60 ? 59 : *second);  // a leap second stays in its minute
    if (p.year < 1601 || p.year > 30827 || p.day < 1 || p.day > DaysInMonth(p.year, p.month) || p.hour > 23 ||
        p.minute > 59 || p.second > 59)
        return std::nullopt;
    return p;
}

}  // namespace

extern "C" HRESULT MimeOleInetDateToFileTime(LPCSTR pszDate, FILETIME* pft)
{
    if (!pszDate || !pft) return E_INVALIDARG;
    const auto p = ParseDate(pszDate);
    if (!p) return MIME_E_INVALID_INET_DATE;
    const long long days = DaysFromCivil(p->year, static_cast<unsigned>(p->month), static_cast<unsigned>(p->day));
    const long long seconds = days * 86400 + p->hour * 3600 + p->minute * 60 + p->second - p->zone * 60LL;
    const long long ticks = seconds * static_cast<long long>(quillory::kFileTimeTicksPerSecond) +
                            static_cast<long long>(quillory::kFileTimeUnixEpoch);
    if (ticks < 0) return MIME_E_INVALID_INET_DATE;
    *pft = quillory::FileTimeFromUInt64(static_cast<ULONGLONG>(ticks));
    return S_OK;
}
