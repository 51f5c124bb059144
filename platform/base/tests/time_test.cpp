#include "platform/base/time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/base/winerror.h"

namespace {

using quillory::FileTimeFromUInt64;
using quillory::FileTimeToUInt64;

constexpr ULONGLONG kTicksPerMs = 10'000;
constexpr ULONGLONG kTicksPerHour = 36'000'000'000ULL;

SYSTEMTIME Make(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    st.wMilliseconds = static_cast<WORD>(ms);
    return st;
}

ULONGLONG Ticks(const SYSTEMTIME& st)
{
    FILETIME ft{};
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    return FileTimeToUInt64(ft);
}

SYSTEMTIME ToSystem(ULONGLONG ticks)
{
    const FILETIME ft = FileTimeFromUInt64(ticks);
    SYSTEMTIME st{};
    EXPECT_TRUE(FileTimeToSystemTime(&ft, &st));
    return st;
}

void ExpectSystemTime(const SYSTEMTIME& st, int y, int mo, int d, int dow, int h, int mi, int s, int ms)
{
    EXPECT_EQ(st.wYear, y);
    EXPECT_EQ(st.wMonth, mo);
    EXPECT_EQ(st.wDay, d);
    EXPECT_EQ(st.wDayOfWeek, dow);
    EXPECT_EQ(st.wHour, h);
    EXPECT_EQ(st.wMinute, mi);
    EXPECT_EQ(st.wSecond, s);
    EXPECT_EQ(st.wMilliseconds, ms);
}

// Sets TZ for a test and puts the old value back.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz)
    {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (old_)
            setenv("TZ", old_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> old_;
};

// The zone database's Berlin when installed, else the same rule spelled out.
const char* BerlinZone()
{
    return std::filesystem::exists("/usr/share/zoneinfo/Europe/Berlin") ? "Europe/Berlin"
                                                                        : "CET-1CEST,M3.5.0,M10.5.0/3";
}

ULONGLONG ToLocal(ULONGLONG utc)
{
    const FILETIME in = FileTimeFromUInt64(utc);
    FILETIME out{};
    EXPECT_TRUE(FileTimeToLocalFileTime(&in, &out));
    return FileTimeToUInt64(out);
}

ULONGLONG ToUtc(ULONGLONG local)
{
    const FILETIME in = FileTimeFromUInt64(local);
    FILETIME out{};
    EXPECT_TRUE(LocalFileTimeToFileTime(&in, &out));
    return FileTimeToUInt64(out);
}

TEST(SystemTimeConversion, KnownInstants)
{
    ExpectSystemTime(ToSystem(0), 1601, 1, 1, 1, 0, 0, 0, 0);  // a Monday
    EXPECT_EQ(Ticks(Make(1970, 1, 1)), quillory::kFileTimeUnixEpoch);
    ExpectSystemTime(ToSystem(quillory::kFileTimeUnixEpoch), 1970, 1, 1, 4, 0, 0, 0, 0);
    ExpectSystemTime(ToSystem(Ticks(Make(2024, 2, 29, 23, 59, 59, 999))), 2024, 2, 29, 4, 23, 59, 59, 999);
    EXPECT_EQ(Ticks(Make(2024, 3, 1)) - Ticks(Make(2024, 2, 28)), 2 * 24 * kTicksPerHour);
    EXPECT_EQ(Ticks(Make(2000, 3, 1)) - Ticks(Make(2000, 2, 28)), 2 * 24 * kTicksPerHour);
    EXPECT_EQ(Ticks(Make(1900, 3, 1)) - Ticks(Make(1900, 2, 28)), 1 * 24 * kTicksPerHour);
    // Sub-millisecond ticks are dropped, not rounded.
    ExpectSystemTime(ToSystem(quillory::kFileTimeUnixEpoch + kTicksPerMs - 1), 1970, 1, 1, 4, 0, 0, 0, 0);
}

TEST(SystemTimeConversion, RangeEnds)
{
    ExpectSystemTime(ToSystem(Ticks(Make(30827, 12, 31, 23, 59, 59, 999))), 30827, 12, 31, 5, 23, 59, 59, 999);
    ExpectSystemTime(ToSystem(0x7FFFFFFFFFFFFFFFULL), 30828, 9, 14, 4, 2, 48, 5, 477);
    const FILETIME tooLarge = FileTimeFromUInt64(0x8000000000000000ULL);
    SYSTEMTIME st{};
    SetLastError(0);
    EXPECT_FALSE(FileTimeToSystemTime(&tooLarge, &st));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(SystemTimeConversion, InvalidFieldsAreRejected)
{
    const SYSTEMTIME bad[] = {
        Make(1600, 12, 31), Make(30828, 1, 1), Make(2024, 0, 1),     Make(2024, 13, 1),
        Make(2024, 1, 0),   Make(2024, 4, 31), Make(2023, 2, 29),    Make(1900, 2, 29),
        Make(2024, 1, 1, 24), Make(2024, 1, 1, 0, 60), Make(2024, 1, 1, 0, 0, 60),
        Make(2024, 1, 1, 0, 0, 0, 1000),
    };
    for (const SYSTEMTIME& st : bad) {
        FILETIME ft{123, 456};
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(&st, &ft)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    // The day of the week is an output only.
    SYSTEMTIME st = Make(2024, 2, 29);
    st.wDayOfWeek = 9;
    EXPECT_EQ(Ticks(st), Ticks(Make(2024, 2, 29)));
}

TEST(SystemTimeConversion, AgreesWithTheCLibraryOverManyDates)
{
    std::mt19937_64 rng(42);
    std::uniform_int_distribution<std::time_t> dist(-11'000'000'000LL, 30'000'000'000LL);
    for (int i = 0; i < 2000; ++i) {
        const std::time_t t = dist(rng);
        std::tm tm{};
        ASSERT_NE(gmtime_r(&t, &tm), nullptr);
        const SYSTEMTIME st = Make(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
        const ULONGLONG ticks = Ticks(st);
        ASSERT_EQ(quillory::FileTimeToTimeT(FileTimeFromUInt64(ticks)), t);
        const SYSTEMTIME back = ToSystem(ticks);
        ASSERT_EQ(back.wDayOfWeek, tm.tm_wday) << t;
        ASSERT_EQ(Ticks(back), ticks);
    }
}

TEST(FileTimeHelpers, TimeTAndTimePoint)
{
    using quillory::FileTimeFromTimePoint;
    using quillory::FileTimeFromTimeT;
    using quillory::FileTimeToTimePoint;
    using quillory::FileTimeToTimeT;
    using std::chrono::system_clock;

    EXPECT_EQ(FileTimeToTimeT(FileTimeFromUInt64(quillory::kFileTimeUnixEpoch)), 0);
    EXPECT_EQ(FileTimeToTimeT(FileTimeFromUInt64(quillory::kFileTimeUnixEpoch - 1)), -1);  // floor
    EXPECT_EQ(FileTimeToUInt64(*FileTimeFromTimeT(-11644473600LL)), 0u);
    EXPECT_FALSE(FileTimeFromTimeT(-11644473601LL));
    EXPECT_FALSE(FileTimeFromTimeT(std::numeric_limits<std::time_t>::max()));
    EXPECT_FALSE(FileTimeFromTimeT(std::numeric_limits<std::time_t>::min()));
    EXPECT_EQ(FileTimeToTimeT(FileTimeFromUInt64(~0ULL)), 1833029933770LL);

    const ULONGLONG leap = Ticks(Make(2024, 2, 29, 12)) + 1234567;
    const auto tp = FileTimeToTimePoint(FileTimeFromUInt64(leap));
    ASSERT_TRUE(tp);
    EXPECT_EQ(FileTimeToUInt64(*FileTimeFromTimePoint(*tp)), leap);
    EXPECT_FALSE(FileTimeToTimePoint(FileTimeFromUInt64(0)));  // 1601 is beyond the clock's range
    EXPECT_FALSE(FileTimeToTimePoint(FileTimeFromUInt64(0x8000000000000000ULL)));
    EXPECT_TRUE(FileTimeFromTimePoint(system_clock::time_point::max()));
    EXPECT_TRUE(FileTimeFromTimePoint(system_clock::time_point::min()));

    const FILETIME a = FileTimeFromUInt64(5), b = FileTimeFromUInt64(0x100000000ULL);
    EXPECT_EQ(CompareFileTime(&a, &b), -1);
    EXPECT_EQ(CompareFileTime(&b, &a), 1);
    EXPECT_EQ(CompareFileTime(&a, &a), 0);

    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    EXPECT_NEAR(static_cast<double>(FileTimeToTimeT(now)), static_cast<double>(std::time(nullptr)), 5.0);
}

TEST(LocalTime, BerlinAcrossDaylightSavingChanges)
{
    ScopedTimeZone zone(BerlinZone());
    const ULONGLONG winter = Ticks(Make(2024, 1, 15, 12));
    const ULONGLONG summer = Ticks(Make(2024, 7, 15, 12));
    EXPECT_EQ(ToLocal(winter), winter + kTicksPerHour);
    EXPECT_EQ(ToLocal(summer), summer + 2 * kTicksPerHour);
    EXPECT_EQ(ToUtc(ToLocal(winter)), winter);
    EXPECT_EQ(ToUtc(ToLocal(summer)), summer);

    // Spring forward at 01:00 UTC: 01:59:59 CET is followed by 03:00 CEST.
    const ULONGLONG change = Ticks(Make(2024, 3, 31, 1));
    ExpectSystemTime(ToSystem(ToLocal(change - 10'000'000)), 2024, 3, 31, 0, 1, 59, 59, 0);
    ExpectSystemTime(ToSystem(ToLocal(change)), 2024, 3, 31, 0, 3, 0, 0, 0);
    // 02:30 never happens; it is read with the offset before the change.
    EXPECT_EQ(ToUtc(Ticks(Make(2024, 3, 31, 2, 30))), Ticks(Make(2024, 3, 31, 1, 30)));

    // Fall back at 01:00 UTC: 02:59 CEST is followed by 02:00 CET.
    const ULONGLONG back = Ticks(Make(2024, 10, 27, 1));
    ExpectSystemTime(ToSystem(ToLocal(back - 60 * 10'000'000ULL)), 2024, 10, 27, 0, 2, 59, 0, 0);
    ExpectSystemTime(ToSystem(ToLocal(back)), 2024, 10, 27, 0, 2, 0, 0, 0);
    // 02:30 happens twice; either instant is acceptable but must map back.
    const ULONGLONG twice = Ticks(Make(2024, 10, 27, 2, 30));
    const ULONGLONG utc = ToUtc(twice);
    EXPECT_TRUE(utc == Ticks(Make(2024, 10, 27, 0, 30)) || utc == Ticks(Make(2024, 10, 27, 1, 30)));
    EXPECT_EQ(ToLocal(utc), twice);

    // The same through SYSTEMTIME, and the wall clock.
    SYSTEMTIME local{};
    const SYSTEMTIME summerUtc = Make(2024, 7, 15, 12);
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &summerUtc, &local));
    EXPECT_EQ(local.wHour, 14);
    SYSTEMTIME utcAgain{};
    ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &local, &utcAgain));
    EXPECT_EQ(Ticks(utcAgain), Ticks(summerUtc));

    SYSTEMTIME nowUtc{}, nowLocal{};
    GetSystemTime(&nowUtc);
    GetLocalTime(&nowLocal);
    const double hours = (static_cast<double>(Ticks(nowLocal)) - static_cast<double>(Ticks(nowUtc))) /
                         static_cast<double>(kTicksPerHour);
    EXPECT_TRUE(std::abs(hours - 1) < 0.01 || std::abs(hours - 2) < 0.01) << hours;
}

TEST(LocalTime, RangeEdgesFailCleanly)
{
    ScopedTimeZone zone("UTC-5");  // five hours east
    const FILETIME last = FileTimeFromUInt64(0x7FFFFFFFFFFFFFFFULL);
    FILETIME out{};
    SetLastError(0);
    EXPECT_FALSE(FileTimeToLocalFileTime(&last, &out));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    const FILETIME first = FileTimeFromUInt64(0);
    EXPECT_FALSE(LocalFileTimeToFileTime(&first, &out));
    EXPECT_TRUE(FileTimeToLocalFileTime(&first, &out));
    EXPECT_EQ(FileTimeToUInt64(out), 5 * kTicksPerHour);
}

TIME_ZONE_INFORMATION Rule(LONG bias, SYSTEMTIME daylightDate, SYSTEMTIME standardDate)
{
    TIME_ZONE_INFORMATION tz{};
    tz.Bias = bias;
    tz.DaylightBias = -60;
    tz.DaylightDate = daylightDate;
    tz.StandardDate = standardDate;
    return tz;
}

SYSTEMTIME Nth(int month, int dayOfWeek, int nth, int hour)
{
    SYSTEMTIME st = Make(0, month, nth, hour);
    st.wDayOfWeek = static_cast<WORD>(dayOfWeek);
    return st;
}

// The local hour of a UTC instant; unless the local time is one that occurs
// twice, converting it back must give the instant again.
int LocalHour(const TIME_ZONE_INFORMATION& tz, const SYSTEMTIME& utc, bool ambiguous = false)
{
    SYSTEMTIME local{};
    EXPECT_TRUE(SystemTimeToTzSpecificLocalTime(&tz, &utc, &local));
    SYSTEMTIME back{};
    EXPECT_TRUE(TzSpecificLocalTimeToSystemTime(&tz, &local, &back));
    if (!ambiguous) {
        EXPECT_EQ(Ticks(back), Ticks(utc));
    }
    return local.wHour;
}

TEST(LocalTime, ExplicitZoneRules)
{
    // Central Europe: last Sunday of March 02:00 to last Sunday of October 03:00.
    const auto europe = Rule(-60, Nth(3, 0, 5, 2), Nth(10, 0, 5, 3));
    EXPECT_EQ(LocalHour(europe, Make(2024, 1, 15, 12)), 13);
    EXPECT_EQ(LocalHour(europe, Make(2024, 7, 15, 12)), 14);
    EXPECT_EQ(LocalHour(europe, Make(2024, 3, 31, 0, 59)), 1);
    EXPECT_EQ(LocalHour(europe, Make(2024, 3, 31, 1, 0)), 3);
    EXPECT_EQ(LocalHour(europe, Make(2024, 10, 27, 0, 59), true), 2);
    EXPECT_EQ(LocalHour(europe, Make(2024, 10, 27, 1, 0), true), 2);
    EXPECT_EQ(LocalHour(europe, Make(2024, 10, 27, 2, 0)), 3);

    // Eastern Australia: daylight time across the turn of the year.
    const auto sydney = Rule(-600, Nth(10, 0, 1, 2), Nth(4, 0, 1, 3));
    EXPECT_EQ(LocalHour(sydney, Make(2024, 1, 15, 0)), 11);
    EXPECT_EQ(LocalHour(sydney, Make(2024, 7, 15, 0)), 10);

    auto broken = europe;
    broken.DaylightDate.wDay = 6;
    SYSTEMTIME out{};
    const SYSTEMTIME utc = Make(2024, 1, 1);
    SetLastError(0);
    EXPECT_FALSE(SystemTimeToTzSpecificLocalTime(&broken, &utc, &out));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(TickCount, TestSourceWrapsLikeTheRealOne)
{
    DWORD now = 0xFFFFFFF0u;
    quillory::SetTickCountSource([&now] { return now; });
    const DWORD before = GetTickCount();
    now += 0x20;  // wraps
    const DWORD after = GetTickCount();
    quillory::ResetTickCountSource();
    EXPECT_EQ(after, 0x10u);
    EXPECT_EQ(after - before, 0x20u);  // unsigned difference survives the wrap

    const DWORD real1 = GetTickCount();
    const DWORD real2 = GetTickCount();
    EXPECT_LT(real2 - real1, 1000u);
    EXPECT_NEAR(static_cast<double>(static_cast<DWORD>(GetTickCount64())), static_cast<double>(real2), 1000.0);
}

}  // namespace
