// The calendar clock: the FILETIME conversion around the 32-bit limits, the calendar
// fields of dates past 2038, and the time that tests set.

#include "platform/calendar_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace {

std::string fields_text(const std::tm& t)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string utc_text(std::int64_t seconds)
{
    std::tm t = {};
    if (!utc_calendar_date(seconds, t)) return "refused";
    return fields_text(t);
}

// Puts the system clock back however a test ends.
struct TestClock {
    explicit TestClock(std::int64_t seconds) { set_calendar_now_for_tests(seconds); }
    ~TestClock() { clear_calendar_now_for_tests(); }
    TestClock(const TestClock&) = delete;
    TestClock& operator=(const TestClock&) = delete;
};

}  // namespace

// The FILETIMEs from Python: (datetime(...) - datetime(1601, 1, 1)) in 100 ns units;
// the seconds from (datetime(...) - datetime(1970, 1, 1)).total_seconds().
TEST(CalendarTime, FiletimeToSeconds)
{
    struct Case {
        const char* date;
        std::uint64_t filetime;
        std::int64_t seconds;
    };
    const Case cases[] = {
        {"1970-01-01 00:00:00", 116444736000000000u, 0},
        {"2038-01-19 03:14:07", 137919572470000000u, 2147483647},
        {"2038-01-19 03:14:08", 137919572480000000u, 2147483648},
        {"2039-06-15 12:00:00", 138362256000000000u, 2191752000},
        {"2106-02-07 06:28:15", 159394408950000000u, 4294967295},
        {"2106-02-07 06:28:16", 159394408960000000u, 4294967296},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(filetime_to_unix_seconds(c.filetime), c.seconds) << c.date;
        // Within a second, the earlier second counts.
        EXPECT_EQ(filetime_to_unix_seconds(c.filetime + 9999999), c.seconds) << c.date << " + 999.9999 ms";
        EXPECT_EQ(filetime_to_unix_seconds(c.filetime - 1), c.seconds - 1) << c.date << " - 100 ns";
        EXPECT_EQ(utc_text(c.seconds), c.date);
    }
    // The ends of FILETIME's range: 1601, and the last second it can hold (year 60056).
    EXPECT_EQ(filetime_to_unix_seconds(0), -11644473600);
    EXPECT_EQ(filetime_to_unix_seconds(UINT64_MAX), 1844674407370 - 11644473600);
}

TEST(CalendarTime, DatesPast2038)
{
    // The last second the Windows C library converts, and a time between the two limits.
    EXPECT_EQ(utc_text(32535215999), "3000-12-31 23:59:59");
    EXPECT_EQ(utc_text(86400 * 366 - 1), "1971-01-01 23:59:59");
    // Noon UTC is the same calendar day in every time zone within 11 hours of it.
    std::tm local = {};
    ASSERT_TRUE(local_calendar_date(2191752000, local));
    EXPECT_EQ(fields_text(local).substr(0, 10), "2039-06-15");
    ASSERT_TRUE(local_calendar_date(4294967295 - 12 * 3600, local));
    EXPECT_EQ(fields_text(local).substr(0, 10), "2106-02-06");
}

TEST(CalendarTime, TestsSetTheClock)
{
    for (const std::int64_t seconds : {std::int64_t{2147483648}, std::int64_t{20000000000}, std::int64_t{-1}}) {
        const TestClock clock(seconds);
        EXPECT_EQ(calendar_now(), seconds);
    }
    // Then the system clock again: after this code was written, and as the C library
    // (64 bits here) reads it.
    const std::int64_t now = calendar_now();
    EXPECT_GT(now, 1767225600) << "2026-01-01";
    EXPECT_LE(now - static_cast<std::int64_t>(std::time(nullptr)), 0);
    EXPECT_GE(now - static_cast<std::int64_t>(std::time(nullptr)), -2);
    EXPECT_LE(calendar_now() - system_calendar_now(), 0);
}
