#include "platform/calendar_time.h"

#include <time.h>

// A 32-bit `time_t` would stop in 2038: the build fails where it has one.
static_assert(sizeof(time_t) == 8, "the calendar time passed to the C library must have 64 bits");

std::int64_t system_calendar_now()
{
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) return 0;  // cannot fail for CLOCK_REALTIME
    return static_cast<std::int64_t>(now.tv_sec);
}

bool local_calendar_date(std::int64_t seconds, std::tm& out)
{
    const time_t value = static_cast<time_t>(seconds);
    if (localtime_r(&value, &out)) return true;
    out = std::tm{};
    return false;
}

bool utc_calendar_date(std::int64_t seconds, std::tm& out)
{
    const time_t value = static_cast<time_t>(seconds);
    if (gmtime_r(&value, &out)) return true;
    out = std::tm{};
    return false;
}
