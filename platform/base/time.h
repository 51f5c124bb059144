// Time services: the millisecond tick count, FILETIME (100-ns units since
// 1601-01-01 UTC) and SYSTEMTIME, and conversions between UTC and local time.
//
// Local time comes from the process's time zone (TZ is honoured) and, unlike
// the home platform's FileTimeToLocalFileTime, uses the offset in force at the
// instant being converted rather than today's: a summer date converted in
// winter still gets its summer offset.
#pragma once

#include <chrono>
#include <ctime>
#include <functional>
#include <optional>

#include "platform/base/wintypes.h"

// Milliseconds since an arbitrary fixed point (system start), wrapping after
// about 49.7 days. Compare tick counts by unsigned subtraction.
DWORD GetTickCount();
// The same clock without wrapping. Not affected by SetTickCountSource.
ULONGLONG GetTickCount64();

void GetSystemTime(SYSTEMTIME* st);
void GetLocalTime(SYSTEMTIME* st);
void GetSystemTimeAsFileTime(FILETIME* ft);

// Years 1601..30827. FileTimeToSystemTime refuses values with the top bit
// set; SystemTimeToFileTime checks every field (wDayOfWeek is ignored) and
// fails with ERROR_INVALID_PARAMETER.
BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st);
BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft);

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
// A local time that occurs twice (clocks going back) maps to one of its two
// instants; one that never occurs (clocks going forward) is read with the
// offset in force before the change.
BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);

// -1, 0 or 1 as the first time is earlier than, equal to or later than the second.
LONG CompareFileTime(const FILETIME* a, const FILETIME* b);

// A time-zone rule. Biases are in minutes, UTC = local + Bias + (StandardBias
// or DaylightBias). StandardDate/DaylightDate give the changes: wMonth 0 means
// no daylight saving; wYear 0 means "the wDay-th (5 = last) wDayOfWeek of
// wMonth" every year, at the given time of day in the local time then in force.
struct TIME_ZONE_INFORMATION {
    LONG Bias;
    char16_t StandardName[32];
    SYSTEMTIME StandardDate;
    LONG StandardBias;
    char16_t DaylightName[32];
    SYSTEMTIME DaylightDate;
    LONG DaylightBias;
};

// tz null: the process's time zone.
BOOL SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* tz, const SYSTEMTIME* utc,
                                     SYSTEMTIME* local);
BOOL TzSpecificLocalTimeToSystemTime(const TIME_ZONE_INFORMATION* tz, const SYSTEMTIME* local,
                                     SYSTEMTIME* utc);

namespace quillory {

// FILETIME of 1970-01-01 00:00:00 UTC.
constexpr ULONGLONG kFileTimeUnixEpoch = 116444736000000000ULL;
constexpr ULONGLONG kFileTimeTicksPerSecond = 10'000'000ULL;

constexpr ULONGLONG FileTimeToUInt64(const FILETIME& ft)
{
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

constexpr FILETIME FileTimeFromUInt64(ULONGLONG v)
{
    return FILETIME{static_cast<DWORD>(v & 0xFFFFFFFFu), static_cast<DWORD>(v >> 32)};
}

// Whole seconds since 1970, rounded towards the past.
std::time_t FileTimeToTimeT(const FILETIME& ft);
// Empty for instants before 1601 or beyond the FILETIME range.
std::optional<FILETIME> FileTimeFromTimeT(std::time_t t);

// Empty when the instant lies outside what the clock type can hold.
std::optional<std::chrono::system_clock::time_point> FileTimeToTimePoint(const FILETIME& ft);
std::optional<FILETIME> FileTimeFromTimePoint(std::chrono::system_clock::time_point tp);

// Replaces the clock behind GetTickCount, for tests of time-dependent rules
// (the source may be called from any thread).
void SetTickCountSource(std::function<DWORD()> source);
void ResetTickCountSource();

}  // namespace quillory
