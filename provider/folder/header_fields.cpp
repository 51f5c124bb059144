#include "provider/folder/header_fields.h"

#include <array>
#include <cstring>

#include "platform/base/module.h"
#include "platform/base/time.h"
#include "platform/base/trace.h"

namespace quillory::quarnex {

namespace {

constexpr const char* kInetcomm = "inetcomm.dll";
// Arguments of the component's address parser.
constexpr DWORD kAddressType = 1;
constexpr int kEncoding = 5;

// ---- From ---------------------------------------------------------------------------

// Letters, digits and the other characters an atom may hold (RFC 5322 atext).
bool IsAtext(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr && c != '\0';
}

// atext runs joined by single dots, neither first nor last.
bool IsDotAtom(std::string_view s)
{
    if (s.empty() || s.front() == '.' || s.back() == '.') return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '.') {
            if (s[i - 1] == '.') return false;
        } else if (!IsAtext(s[i])) {
            return false;
        }
    }
    return true;
}

// Punycode labels ("xn--"): the component turns them into Unicode.
bool HasAceLabel(std::string_view domain)
{
    for (std::size_t i = 0; i + 4 <= domain.size(); ++i)
        if ((i == 0 || domain[i - 1] == '.') && (domain[i] == 'x' || domain[i] == 'X') &&
            (domain[i + 1] == 'n' || domain[i + 1] == 'N') && domain[i + 2] == '-' && domain[i + 3] == '-')
            return true;
    return false;
}

bool IsAddrSpec(std::string_view s)
{
    const std::size_t at = s.find('@');
    return at != std::string_view::npos && IsDotAtom(s.substr(0, at)) && IsDotAtom(s.substr(at + 1)) &&
           !HasAceLabel(s.substr(at + 1));
}

// Words of atext and dots (each starting with atext), joined by single
// blanks: a display name the component gives back as it stands.
bool IsPlainPhrase(std::string_view s)
{
    if (s.empty()) return false;
    bool wordStart = true;
    for (char c : s) {
        if (c == ' ') {
            if (wordStart) return false;  // leading or doubled blank
            wordStart = true;
        } else if (IsAtext(c) || (c == '.' && !wordStart)) {
            wordStart = false;
        } else {
            return false;
        }
    }
    return !wordStart;
}

// Text between double quotes that the component takes as it stands: no
// quote or backslash inside, no blank at either end.
bool IsPlainQuoted(std::string_view s)
{
    if (s.empty() || s.front() == ' ' || s.back() == ' ') return false;
    for (char c : s)
        if (c < 0x20 || c > 0x7E || c == '"' || c == '\\' || c == '(' || c == ')') return false;
    return true;
}

// ---- Date ---------------------------------------------------------------------------

constexpr std::array<std::string_view, 7> kWeekdays = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                      "jul", "aug", "sep", "oct", "nov", "dec"};

bool EqualNoCase3(std::string_view text, std::string_view lower)
{
    if (text.size() != 3) return false;
    for (std::size_t i = 0; i < 3; ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + ('a' - 'A')) : text[i];
        if (c != lower[i]) return false;
    }
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A run of exactly `digits` digits at the front; consumed.
bool TakeNumber(std::string_view& s, std::size_t digits, int& value)
{
    if (s.size() < digits) return false;
    value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        if (!IsDigit(s[i])) return false;
        value = value * 10 + (s[i] - '0');
    }
    s.remove_prefix(digits);
    return true;
}

bool Take(std::string_view& s, char c)
{
    if (s.empty() || s.front() != c) return false;
    s.remove_prefix(1);
    return true;
}

}  // namespace

std::optional<HeaderSender> QuickSender(std::string_view from)
{
    if (from.empty() || from.find("=?") != std::string_view::npos) return std::nullopt;  // encoded words
    if (from.back() != '>') {
        if (!IsAddrSpec(from)) return std::nullopt;
        return HeaderSender{{}, std::string(from)};
    }
    const std::size_t open = from.rfind(" <");
    if (open == std::string_view::npos) return std::nullopt;
    const std::string_view address = from.substr(open + 2, from.size() - open - 3);
    std::string_view name = from.substr(0, open);
    if (!IsAddrSpec(address)) return std::nullopt;
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
        name = name.substr(1, name.size() - 2);
        if (!IsPlainQuoted(name)) return std::nullopt;
    } else if (!IsPlainPhrase(name)) {
        return std::nullopt;
    }
    return HeaderSender{std::string(name), std::string(address)};
}

std::optional<FILETIME> QuickDate(std::string_view s)
{
    if (s.size() >= 5 && s[3] == ',') {
        bool weekday = false;
        for (std::string_view d : kWeekdays) weekday = weekday || EqualNoCase3(s.substr(0, 3), d);
        if (!weekday || s[4] != ' ') return std::nullopt;
        s.remove_prefix(5);
    }
    int day = 0;
    if (!TakeNumber(s, s.size() > 1 && IsDigit(s[1]) ? 2 : 1, day) || !Take(s, ' ')) return std::nullopt;
    if (s.size() < 4 || s[3] != ' ') return std::nullopt;
    int month = 0;
    for (std::size_t m = 0; m < kMonths.size() && month == 0; ++m)
        if (EqualNoCase3(s.substr(0, 3), kMonths[m])) month = static_cast<int>(m + 1);
    if (month == 0) return std::nullopt;
    s.remove_prefix(4);
    int year = 0, hour = 0, minute = 0, second = 0;
    if (!TakeNumber(s, 4, year) || !Take(s, ' ') || !TakeNumber(s, 2, hour) || !Take(s, ':') ||
        !TakeNumber(s, 2, minute))
        return std::nullopt;
    if (Take(s, ':') && !TakeNumber(s, 2, second)) return std::nullopt;
    if (!Take(s, ' ')) return std::nullopt;
    int zone = 0;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        const int sign = s.front() == '-' ? -1 : 1;
        s.remove_prefix(1);
        int hh = 0, mm = 0;
        if (!TakeNumber(s, 2, hh) || !TakeNumber(s, 2, mm) || mm > 59) return std::nullopt;
        zone = sign * (hh * 60 + mm);
    } else {
        const std::size_t end = s.find(' ');
        const std::string_view name = s.substr(0, end);
        if (name != "GMT" && name != "UT" && name != "UTC") return std::nullopt;
        s.remove_prefix(name.size());
    }
    if (!s.empty()) {
        // One comment at the end, as in "-0500 (EST)".
        if (s.size() < 3 || s[0] != ' ' || s[1] != '(' || s.back() != ')') return std::nullopt;
        for (char c : s.substr(2, s.size() - 3))
            if (c < 0x20 || c > 0x7E || c == '(' || c == ')' || c == '\\') return std::nullopt;
    }
    if (second == 60) second = 59;  // a leap second stays in its minute
    // The calendar's own checks: years 1601 to 30827, days of the month.
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(year);
    st.wMonth = static_cast<WORD>(month);
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(hour);
    st.wMinute = static_cast<WORD>(minute);
    st.wSecond = static_cast<WORD>(second);
    FILETIME local{};
    if (!SystemTimeToFileTime(&st, &local)) return std::nullopt;
    const long long ticks = static_cast<long long>(FileTimeToUInt64(local)) -
                            zone * 60LL * static_cast<long long>(kFileTimeTicksPerSecond);
    if (ticks < 0) return std::nullopt;
    return FileTimeFromUInt64(static_cast<ULONGLONG>(ticks));
}

// ---- the component -----------------------------------------------------------------------

CHeaderFieldReader::CHeaderFieldReader() = default;
CHeaderFieldReader::~CHeaderFieldReader() = default;

void CHeaderFieldReader::Read(std::string_view from, std::string_view date, std::optional<HeaderSender>& sender,
                              std::optional<FILETIME>& submitted)
{
    sender.reset();
    submitted.reset();
    if (from.empty() && date.empty()) return;
    if (!component_ || !component_->Loaded()) component_ = std::make_unique<CNewsComponentReaders>();
    if (!component_->Loaded()) return;
    if (!from.empty()) {
        sender = QuickSender(from);
        if (!sender) {
            const std::string key(from);
            if (const auto known = senders_.find(key); known != senders_.end()) {
                sender = known->second;
            } else {
                sender = component_->Sender(from);
                if (senders_.size() >= kRememberedSenders) senders_.clear();
                senders_.emplace(key, sender);
            }
        }
    }
    if (!date.empty()) {
        submitted = QuickDate(date);
        if (!submitted) submitted = component_->Date(date);
    }
}

CNewsComponentReaders::CNewsComponentReaders() : module_(LoadLibrary(kInetcomm))
{
    if (!module_) {
        Trace("CMAPIFolder::AddRow - %s not loaded\n", kInetcomm);
        return;
    }
    parseAddress_ =
        reinterpret_cast<PFNMIMEOLEPARSERFC822ADDRESS>(GetProcAddress(module_, "MimeOleParseRfc822Address"));
    dateToFileTime_ =
        reinterpret_cast<PFNMIMEOLEINETDATETOFILETIME>(GetProcAddress(module_, "MimeOleInetDateToFileTime"));
    getAllocator_ = reinterpret_cast<PFNMIMEOLEGETALLOCATOR>(GetProcAddress(module_, "MimeOleGetAllocator"));
}

CNewsComponentReaders::~CNewsComponentReaders()
{
    if (module_) FreeLibrary(module_);
}

std::optional<HeaderSender> CNewsComponentReaders::Sender(std::string_view from) const
{
    if (!parseAddress_) return std::nullopt;
    const std::string text(from);
    ADDRESSLIST list{};
    const HRESULT hr = parseAddress_(kAddressType, static_cast<ENCODINGTYPE>(kEncoding), text.c_str(), &list);
    std::optional<HeaderSender> out;
    if (SUCCEEDED(hr) && list.cAdrs >= 1 && list.prgAdr && list.prgAdr[0].dwProps != 0) {
        const ADDRESSPROPS& first = list.prgAdr[0];
        out = HeaderSender{first.pszFriendly ? first.pszFriendly : "", first.pszEmail ? first.pszEmail : ""};
    }
    if (list.prgAdr && getAllocator_) {
        IMimeAllocator* allocator = nullptr;
        if (SUCCEEDED(getAllocator_(&allocator)) && allocator) {
            allocator->FreeAddressList(&list);
            allocator->Release();
        }
    }
    return out;
}

std::optional<FILETIME> CNewsComponentReaders::Date(std::string_view date) const
{
    if (!dateToFileTime_) return std::nullopt;
    const std::string text(date);
    FILETIME ft{};
    if (FAILED(dateToFileTime_(text.c_str(), &ft))) return std::nullopt;
    return ft;
}

}  // namespace quillory::quarnex
