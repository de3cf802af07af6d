#pragma once
// Quick unlock's settings, read from glimkeep.ini beside the vault with the reader of
// autotype/settings.h:
//
//   [lock]
//   quick-unlock=last 4
//   quick-unlock-hours=8
//
// quick-unlock is "off" (the default) or "last N" with N from 3 to 8 (characters of the
// master password, counted as Unicode code points); quick-unlock-hours is a whole
// number from 1 to 24 (default 8). Words in any case. The last line of a key counts; a
// value that cannot be read gives the default and a message naming its line.

#include <string>
#include <string_view>

inline constexpr unsigned kDefaultQuickUnlockHours = 8;
inline constexpr unsigned kMaxQuickUnlockHours = 24;

struct LockSettings {
    unsigned quick_unlock_length = 0;  // 0: quick unlock is off
    unsigned quick_unlock_hours = kDefaultQuickUnlockHours;
    // Empty, or the messages about lines that could not be read, one per line.
    std::string problem;
};

LockSettings read_lock_settings_text(std::string_view text);
// The same for the file at `path`: no file gives the defaults without a problem.
LockSettings read_lock_settings_file(const std::string& path);
