#pragma once
// The calendar time: the one reading of the current date and the one conversion of
// a date to its calendar fields. Seconds count from 1970-01-01 00:00:00 UTC in 64
// bits on every build, so that dates past 2038 work where the C library's own
// `time_t` has 32 bits. Interval timers (GetTickCount64 and the like) are not
// calendar time and stay where they are.

#include <cstdint>
#include <ctime>

// The current calendar time in seconds since 1970 (negative before), rounded toward
// the earlier second: from the system clock, or the time that tests set.
std::int64_t calendar_now();

// The system clock alone, whatever tests set: one half per platform.
std::int64_t system_calendar_now();

// For tests: calendar_now() returns `seconds` until clear_calendar_now_for_tests().
void set_calendar_now_for_tests(std::int64_t seconds);
void clear_calendar_now_for_tests();

// A FILETIME (100-nanosecond intervals since 1601-01-01 00:00:00 UTC, its two halves
// joined) as whole seconds since 1970, rounded toward the earlier second. Pure.
std::int64_t filetime_to_unix_seconds(std::uint64_t filetime);

// The calendar date of `seconds` since 1970 in the local time zone or in UTC, in
// the C library's fields (tm_year counts from 1900, tm_mon from 0). False, with `out`
// cleared, for a time the C library cannot convert (before 1970 on Windows, or
// beyond the year 3000 there).
bool local_calendar_date(std::int64_t seconds, std::tm& out);
bool utc_calendar_date(std::int64_t seconds, std::tm& out);
