#pragma once
// Thinning out backups, only when the user asks: one fixed rule decides which stay.
//
// Kept: every backup of the last 7 days (and any dated after now), then the newest
// of each calendar day for 90 days, then the newest of each calendar month; always
// the newest 20, and always the newest backup of format 2.0 that opens with the
// current password (so that the vault can be brought back under that password).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "backups/backup_files.h"

inline constexpr int kKeepEveryDays = 7;
inline constexpr int kKeepDailyDays = 90;
inline constexpr std::size_t kKeepNewest = 20;

// One backup as the rule sees it.
struct ThinningItem {
    std::int64_t seconds = 0;
    LocalDate date;  // the local calendar date of `seconds`
    bool opens_with_password = false;  // format 2.0, opens with the current password
};

// Which of `items` (in any order) the rule keeps at time `now`: one flag per item.
// Of items with equal seconds, the one later in the list counts as the newer.
std::vector<bool> backups_to_keep(const std::vector<ThinningItem>& items, std::int64_t now);

// The question put before thinning: "Delete 1,240 of 1,310 backups (keeping every one
// of the last 7 days, one a day for 90 days, one a month before that)?"
std::string thinning_question(std::size_t deleted, std::size_t total);
