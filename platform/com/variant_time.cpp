// DATE values: days since 1899-12-30 with the time of day as the fraction.
#include <cmath>

#include "platform/base/time.h"
#include "platform/com/oleauto.h"

namespace {

constexpr LONGLONG kMsPerDay = 86'400'000;
constexpr DATE kMinDate = -657434.0;         // 0100-01-01
constexpr DATE kMaxDate = 2958465.99999999;  // 9999-12-31 23:59:59.999

// Days from 1970-01-01 of a proleptic Gregorian date.
LONGLONG DaysFromCivil(LONGLONG y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const LONGLONG era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<LONGLONG>(doe) - 719468;
}

void CivilFromDays(LONGLONG z, LONGLONG& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const LONGLONG era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<LONGLONG>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

const LONGLONG kDateEpochDays = DaysFromCivil(1899, 12, 30);

bool LeapYear(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(unsigned y, unsigned m)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && LeapYear(y) ? 29 : days[m - 1];
}

}  // namespace

int SystemTimeToVariantTime(const SYSTEMTIME* st, DATE* pvtime)
{
    if (!st || !pvtime) return FALSE;
    if (st->wYear < 100 || st->wYear > 9999 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
        st->wDay > DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 ||
        st->wMilliseconds > 999)
        return FALSE;
    const LONGLONG day = DaysFromCivil(st->wYear, st->wMonth, st->wDay) - kDateEpochDays;
    const double fraction =
        ((st->wHour * 60.0 + st->wMinute) * 60.0 + st->wSecond + st->wMilliseconds / 1000.0) / 86400.0;
    // Before the epoch the whole days count back while the fraction still counts forward.
    *pvtime = day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
    return TRUE;
}

int VariantTimeToSystemTime(DATE vtime, SYSTEMTIME* st)
{
    if (!st || !std::isfinite(vtime) || vtime < kMinDate || vtime > kMaxDate) return FALSE;
    LONGLONG day = static_cast<LONGLONG>(std::trunc(vtime));
    LONGLONG ms = std::llround(std::fabs(vtime - static_cast<double>(day)) * kMsPerDay);
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        day += vtime >= 0 ? 1 : -1;
    }
    LONGLONG y = 0;
    unsigned m = 0, d = 0;
    const LONGLONG days = day + kDateEpochDays;
    CivilFromDays(days, y, m, d);
    if (y < 100 || y > 9999) return FALSE;
    st->wYear = static_cast<WORD>(y);
    st->wMonth = static_cast<WORD>(m);
    st->wDay = static_cast<WORD>(d);
    st->wDayOfWeek = static_cast<WORD>(((days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
    st->wHour = static_cast<WORD>(ms / 3'600'000);
    st->wMinute = static_cast<WORD>(ms / 60'000 % 60);
    st->wSecond = static_cast<WORD>(ms / 1000 % 60);
    st->wMilliseconds = static_cast<WORD>(ms % 1000);
    return TRUE;
}

namespace quillory {

std::optional<DATE> DateFromFileTime(const FILETIME& ft)
{
    SYSTEMTIME st{};
    DATE d = 0;
    if (!FileTimeToSystemTime(&ft, &st) || !SystemTimeToVariantTime(&st, &d)) return std::nullopt;
    return d;
}

std::optional<FILETIME> FileTimeFromDate(DATE d)
{
    SYSTEMTIME st{};
    FILETIME ft{};
    if (!VariantTimeToSystemTime(d, &st) || !SystemTimeToFileTime(&st, &ft)) return std::nullopt;
    return ft;
}

}  // namespace quillory
