#include "platform/calendar_time.h"

#include <atomic>

namespace {

// 100-nanosecond intervals per second, and seconds from 1601-01-01 to 1970-01-01
// (369 years, 89 of them leap years).
constexpr std::uint64_t kFiletimeTicksPerSecond = 10000000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

std::atomic<bool> g_test_time_set{false};
std::atomic<std::int64_t> g_test_time{0};

}  // namespace

std::int64_t calendar_now()
{
    if (g_test_time_set.load()) return g_test_time.load();
    return system_calendar_now();
}

void set_calendar_now_for_tests(std::int64_t seconds)
{
    g_test_time.store(seconds);
    g_test_time_set.store(true);
}

void clear_calendar_now_for_tests()
{
    g_test_time_set.store(false);
}

std::int64_t filetime_to_unix_seconds(std::uint64_t filetime)
{
    // At most 2^64 / 10^7 seconds: fits a signed 64-bit number before the subtraction.
    return static_cast<std::int64_t>(filetime / kFiletimeTicksPerSecond) - kSecondsFrom1601To1970;
}
