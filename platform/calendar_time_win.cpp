#include "platform/calendar_time.h"

#include <windows.h>

// The 32-bit C library's `time_t` and its plain time functions have 32 bits: the
// clock reads FILETIME, and dates convert through the explicit 64-bit functions.
static_assert(sizeof(__time64_t) == 8, "the calendar time passed to the C library must have 64 bits");

std::int64_t system_calendar_now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return filetime_to_unix_seconds((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

bool local_calendar_date(std::int64_t seconds, std::tm& out)
{
    const __time64_t value = seconds;
    if (_localtime64_s(&out, &value) == 0) return true;
    out = std::tm{};
    return false;
}

bool utc_calendar_date(std::int64_t seconds, std::tm& out)
{
    const __time64_t value = seconds;
    if (_gmtime64_s(&out, &value) == 0) return true;
    out = std::tm{};
    return false;
}
