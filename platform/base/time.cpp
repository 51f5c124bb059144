#include "platform/base/time.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>

#include "platform/base/trace.h"
#include "platform/base/winerror.h"

namespace {

using std::int64_t;

constexpr int64_t kTicksPerMs = 10'000;
constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kTicksPerMinute = 60 * kTicksPerSecond;
constexpr int64_t kTicksPerDay = 86'400 * kTicksPerSecond;
// The home platform refuses FILETIME values with the top bit set.
constexpr int64_t kMaxFileTime = std::numeric_limits<int64_t>::max();
constexpr int64_t kEpochTicks = static_cast<int64_t>(quillory::kFileTimeUnixEpoch);
constexpr int64_t kEpochSeconds = kEpochTicks / kTicksPerSecond;
constexpr int kMinYear = 1601;
constexpr int kMaxYear = 30827;
// No real zone is more than a day away from UTC; larger biases are refused
// so that offset arithmetic cannot overflow.
constexpr LONG kMaxBiasMinutes = 24 * 60;

// Days since 1970-01-01 of a proleptic Gregorian date (after H. Hinnant's
// public-domain date algorithms).
constexpr int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

struct CivilDate {
    int64_t year;
    unsigned month;
    unsigned day;
};

constexpr CivilDate CivilFromDays(int64_t z)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return CivilDate{static_cast<int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

constexpr int64_t kDays1601To1970 = -DaysFromCivil(1601, 1, 1);
static_assert(kDays1601To1970 * kTicksPerDay == kEpochTicks);

constexpr int64_t FloorDiv(int64_t a, int64_t b)
{
    const int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

constexpr bool IsLeapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

constexpr unsigned DaysInMonth(int64_t y, unsigned m)
{
    constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// 0 = Sunday; 1970-01-01 was a Thursday.
constexpr unsigned DayOfWeek(int64_t daysSince1970)
{
    return static_cast<unsigned>(((daysSince1970 + 4) % 7 + 7) % 7);
}

bool ValidTimeOfDay(const SYSTEMTIME& st)
{
    return st.wHour < 24 && st.wMinute < 60 && st.wSecond < 60 && st.wMilliseconds < 1000;
}

int64_t TimeOfDayTicks(const SYSTEMTIME& st)
{
    return ((st.wHour * 60LL + st.wMinute) * 60 + st.wSecond) * kTicksPerSecond +
           st.wMilliseconds * kTicksPerMs;
}

// Ticks since 1601 of a civil date and time; fields already checked.
int64_t CivilTicks(int64_t year, unsigned month, unsigned day, const SYSTEMTIME& timeOfDay)
{
    return (DaysFromCivil(year, month, day) + kDays1601To1970) * kTicksPerDay +
           TimeOfDayTicks(timeOfDay);
}

bool InFileTimeRange(int64_t ticks) { return ticks >= 0 && ticks <= kMaxFileTime; }

// ticks + seconds, when the result is a valid FILETIME.
std::optional<int64_t> ShiftTicks(int64_t ticks, long seconds)
{
    int64_t delta = 0, result = 0;
    if (__builtin_mul_overflow(static_cast<int64_t>(seconds), kTicksPerSecond, &delta) ||
        __builtin_add_overflow(ticks, delta, &result) || !InFileTimeRange(result))
        return std::nullopt;
    return result;
}

BOOL Fail(DWORD err)
{
    SetLastError(err);
    return FALSE;
}

// The local-time offset (seconds east of UTC) in force at a UTC instant.
std::optional<long> LocalOffsetAt(int64_t unixSeconds)
{
    // localtime_r need not notice a changed TZ on its own.
    tzset();
    const auto t = static_cast<std::time_t>(unixSeconds);
    std::tm out{};
    if (localtime_r(&t, &out) == nullptr) {
        quillory::Trace("time: no local time for %lld\n", static_cast<long long>(unixSeconds));
        return std::nullopt;
    }
    return out.tm_gmtoff;
}

int64_t UnixSecondsOf(int64_t ticks) { return FloorDiv(ticks - kEpochTicks, kTicksPerSecond); }

std::optional<int64_t> UtcToLocalTicks(int64_t utc)
{
    const auto offset = LocalOffsetAt(UnixSecondsOf(utc));
    if (!offset) return std::nullopt;
    return ShiftTicks(utc, *offset);
}

std::optional<int64_t> LocalToUtcTicks(int64_t local)
{
    const int64_t seconds = UnixSecondsOf(local);
    const auto o1 = LocalOffsetAt(seconds);
    if (!o1) return std::nullopt;
    const auto o2 = LocalOffsetAt(seconds - *o1);
    if (!o2) return std::nullopt;
    long offset = *o1;
    if (*o2 != *o1) {
        // Near a change: take the offset that is consistent with its own
        // instant; in a skipped hour neither is, so use the one before it.
        const auto o3 = LocalOffsetAt(seconds - *o2);
        if (!o3) return std::nullopt;
        offset = *o3 == *o2 ? *o2 : std::min(*o1, *o2);
    }
    return ShiftTicks(local, -offset);
}

std::optional<int64_t> FileTimeTicks(const FILETIME* ft)
{
    const ULONGLONG v = quillory::FileTimeToUInt64(*ft);
    if (v > static_cast<ULONGLONG>(kMaxFileTime)) return std::nullopt;
    return static_cast<int64_t>(v);
}

void StoreTicks(int64_t ticks, FILETIME* ft)
{
    *ft = quillory::FileTimeFromUInt64(static_cast<ULONGLONG>(ticks));
}

// ---- time-zone rules ----

bool ValidRule(const SYSTEMTIME& r)
{
    if (r.wMonth == 0) return true;  // no change
    if (r.wMonth > 12 || !ValidTimeOfDay(r)) return false;
    if (r.wYear != 0) return r.wDay >= 1 && r.wDay <= DaysInMonth(r.wYear, r.wMonth);
    return r.wDayOfWeek <= 6 && r.wDay >= 1 && r.wDay <= 5;
}

bool ValidZone(const TIME_ZONE_INFORMATION& tz)
{
    auto small = [](LONG b) { return b >= -kMaxBiasMinutes && b <= kMaxBiasMinutes; };
    return small(tz.Bias) && small(tz.StandardBias) && small(tz.DaylightBias) &&
           ValidRule(tz.StandardDate) && ValidRule(tz.DaylightDate);
}

// The local ticks at which a rule changes the clock in the given year.
std::optional<int64_t> RuleTicks(const SYSTEMTIME& r, int64_t year)
{
    if (r.wYear != 0) {
        if (r.wYear != year) return std::nullopt;
        return CivilTicks(year, r.wMonth, r.wDay, r);
    }
    const unsigned firstDow = DayOfWeek(DaysFromCivil(year, r.wMonth, 1));
    unsigned day = 1 + (r.wDayOfWeek + 7 - firstDow) % 7 + 7 * (r.wDay - 1u);
    while (day > DaysInMonth(year, r.wMonth)) day -= 7;
    return CivilTicks(year, r.wMonth, day, r);
}

// Total bias in minutes (UTC = local + bias) at a UTC instant.
LONG ZoneBiasAt(const TIME_ZONE_INFORMATION& tz, int64_t utc)
{
    const LONG standard = tz.Bias + tz.StandardBias;
    if (tz.StandardDate.wMonth == 0 || tz.DaylightDate.wMonth == 0) return standard;
    const LONG daylight = tz.Bias + tz.DaylightBias;
    const int64_t year =
        CivilFromDays(FloorDiv(utc - standard * kTicksPerMinute, kTicksPerDay) - kDays1601To1970).year;
    const auto start = RuleTicks(tz.DaylightDate, year);  // given in standard time
    const auto end = RuleTicks(tz.StandardDate, year);    // given in daylight time
    if (!start || !end) return standard;
    const int64_t startUtc = *start + standard * kTicksPerMinute;
    const int64_t endUtc = *end + daylight * kTicksPerMinute;
    const bool inDaylight = startUtc < endUtc ? (utc >= startUtc && utc < endUtc)
                                              : (utc >= startUtc || utc < endUtc);
    return inDaylight ? daylight : standard;
}

// ---- tick count ----

std::mutex& TickMutex()
{
    static std::mutex m;
    return m;
}

std::shared_ptr<const std::function<DWORD()>>& TickSource()
{
    static std::shared_ptr<const std::function<DWORD()>> source;
    return source;
}

}  // namespace

DWORD GetTickCount()
{
    std::shared_ptr<const std::function<DWORD()>> source;
    {
        std::lock_guard<std::mutex> lock(TickMutex());
        source = TickSource();
    }
    if (source) return (*source)();
    return static_cast<DWORD>(GetTickCount64());
}

ULONGLONG GetTickCount64()
{
    using namespace std::chrono;
    return static_cast<ULONGLONG>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void GetSystemTimeAsFileTime(FILETIME* ft)
{
    if (ft == nullptr) return;
    // The system clock stays within the FILETIME range for centuries.
    *ft = quillory::FileTimeFromTimePoint(std::chrono::system_clock::now()).value_or(FILETIME{0, 0});
}

void GetSystemTime(SYSTEMTIME* st)
{
    if (st == nullptr) return;
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    FileTimeToSystemTime(&ft, st);
}

void GetLocalTime(SYSTEMTIME* st)
{
    if (st == nullptr) return;
    FILETIME utc, local;
    GetSystemTimeAsFileTime(&utc);
    if (!FileTimeToLocalFileTime(&utc, &local)) {
        quillory::Trace("GetLocalTime: no local time, using UTC\n");
        local = utc;
    }
    FileTimeToSystemTime(&local, st);
}

BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st)
{
    if (ft == nullptr || st == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const auto ticks = FileTimeTicks(ft);
    if (!ticks) return Fail(ERROR_INVALID_PARAMETER);
    const int64_t days = *ticks / kTicksPerDay;
    int64_t rest = *ticks % kTicksPerDay;
    const CivilDate date = CivilFromDays(days - kDays1601To1970);
    st->wYear = static_cast<WORD>(date.year);
    st->wMonth = static_cast<WORD>(date.month);
    st->wDay = static_cast<WORD>(date.day);
    st->wDayOfWeek = static_cast<WORD>(DayOfWeek(days - kDays1601To1970));
    st->wMilliseconds = static_cast<WORD>(rest / kTicksPerMs % 1000);
    rest /= kTicksPerSecond;
    st->wSecond = static_cast<WORD>(rest % 60);
    st->wMinute = static_cast<WORD>(rest / 60 % 60);
    st->wHour = static_cast<WORD>(rest / 3600);
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft)
{
    if (st == nullptr || ft == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (st->wYear < kMinYear || st->wYear > kMaxYear || st->wMonth < 1 || st->wMonth > 12 ||
        st->wDay < 1 || st->wDay > DaysInMonth(st->wYear, st->wMonth) || !ValidTimeOfDay(*st))
        return Fail(ERROR_INVALID_PARAMETER);
    StoreTicks(CivilTicks(st->wYear, st->wMonth, st->wDay, *st), ft);
    return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local)
{
    if (utc == nullptr || local == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const auto ticks = FileTimeTicks(utc);
    const auto result = ticks ? UtcToLocalTicks(*ticks) : std::nullopt;
    if (!result) return Fail(ERROR_INVALID_PARAMETER);
    StoreTicks(*result, local);
    return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc)
{
    if (utc == nullptr || local == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    const auto ticks = FileTimeTicks(local);
    const auto result = ticks ? LocalToUtcTicks(*ticks) : std::nullopt;
    if (!result) return Fail(ERROR_INVALID_PARAMETER);
    StoreTicks(*result, utc);
    return TRUE;
}

LONG CompareFileTime(const FILETIME* a, const FILETIME* b)
{
    const ULONGLONG x = quillory::FileTimeToUInt64(*a);
    const ULONGLONG y = quillory::FileTimeToUInt64(*b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

BOOL SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* tz, const SYSTEMTIME* utc,
                                     SYSTEMTIME* local)
{
    if (utc == nullptr || local == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    FILETIME ft;
    if (!SystemTimeToFileTime(utc, &ft)) return FALSE;
    if (tz == nullptr) {
        FILETIME lft;
        return FileTimeToLocalFileTime(&ft, &lft) && FileTimeToSystemTime(&lft, local);
    }
    if (!ValidZone(*tz)) return Fail(ERROR_INVALID_PARAMETER);
    const auto ticks = static_cast<int64_t>(quillory::FileTimeToUInt64(ft));
    const int64_t result = ticks - ZoneBiasAt(*tz, ticks) * kTicksPerMinute;
    if (!InFileTimeRange(result)) return Fail(ERROR_INVALID_PARAMETER);
    StoreTicks(result, &ft);
    return FileTimeToSystemTime(&ft, local);
}

BOOL TzSpecificLocalTimeToSystemTime(const TIME_ZONE_INFORMATION* tz, const SYSTEMTIME* local,
                                     SYSTEMTIME* utc)
{
    if (utc == nullptr || local == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    FILETIME ft;
    if (!SystemTimeToFileTime(local, &ft)) return FALSE;
    if (tz == nullptr) {
        FILETIME uft;
        return LocalFileTimeToFileTime(&ft, &uft) && FileTimeToSystemTime(&uft, utc);
    }
    if (!ValidZone(*tz)) return Fail(ERROR_INVALID_PARAMETER);
    const auto ticks = static_cast<int64_t>(quillory::FileTimeToUInt64(ft));
    // Guess with the standard bias, then settle on the bias of the guessed instant.
    int64_t result = ticks + (tz->Bias + tz->StandardBias) * kTicksPerMinute;
    result = ticks + ZoneBiasAt(*tz, result) * kTicksPerMinute;
    result = ticks + ZoneBiasAt(*tz, result) * kTicksPerMinute;
    if (!InFileTimeRange(result)) return Fail(ERROR_INVALID_PARAMETER);
    StoreTicks(result, &ft);
    return FileTimeToSystemTime(&ft, utc);
}

namespace quillory {

std::time_t FileTimeToTimeT(const FILETIME& ft)
{
    const ULONGLONG v = FileTimeToUInt64(ft);
    const auto tps = static_cast<ULONGLONG>(kTicksPerSecond);
    if (v >= kFileTimeUnixEpoch) return static_cast<std::time_t>((v - kFileTimeUnixEpoch) / tps);
    return -static_cast<std::time_t>((kFileTimeUnixEpoch - v + tps - 1) / tps);
}

std::optional<FILETIME> FileTimeFromTimeT(std::time_t t)
{
    constexpr int64_t kMaxSeconds = kMaxFileTime / kTicksPerSecond - kEpochSeconds;
    if (t < -kEpochSeconds || t > kMaxSeconds) return std::nullopt;
    return FileTimeFromUInt64(static_cast<ULONGLONG>((static_cast<int64_t>(t) + kEpochSeconds) *
                                                     kTicksPerSecond));
}

namespace {
using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>;
}

std::optional<std::chrono::system_clock::time_point> FileTimeToTimePoint(const FILETIME& ft)
{
    using std::chrono::system_clock;
    const auto ticks = FileTimeTicks(&ft);
    if (!ticks) return std::nullopt;
    const Ticks sinceEpoch(*ticks - kEpochTicks);
    if (sinceEpoch > std::chrono::floor<Ticks>(system_clock::duration::max()) ||
        sinceEpoch < std::chrono::ceil<Ticks>(system_clock::duration::min()))
        return std::nullopt;
    return system_clock::time_point(std::chrono::duration_cast<system_clock::duration>(sinceEpoch));
}

std::optional<FILETIME> FileTimeFromTimePoint(std::chrono::system_clock::time_point tp)
{
    // Rounding down to ticks cannot overflow; the range check is then exact.
    const int64_t sinceEpoch = std::chrono::floor<Ticks>(tp.time_since_epoch()).count();
    if (sinceEpoch < -kEpochTicks || sinceEpoch > kMaxFileTime - kEpochTicks) return std::nullopt;
    return FileTimeFromUInt64(static_cast<ULONGLONG>(sinceEpoch + kEpochTicks));
}

void SetTickCountSource(std::function<DWORD()> source)
{
    auto shared = source ? std::make_shared<const std::function<DWORD()>>(std::move(source)) : nullptr;
    std::lock_guard<std::mutex> lock(TickMutex());
    TickSource() = std::move(shared);
}

void ResetTickCountSource() { SetTickCountSource(nullptr); }

}  // namespace quillory
