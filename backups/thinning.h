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

class KeyCache;

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

// The rule applied to `backups` (oldest first) at `now`, with their local dates; the
// newest backup of format 2.0 that `password` opens (tried newest first) counts as
// the password's. One flag per backup: true to keep. Throws std::bad_alloc.
std::vector<bool> plan_thinning(const std::vector<BackupFile>& backups, KeyCache& password, std::int64_t now);

struct ThinningResult {
    std::vector<std::string> deleted;  // the paths deleted
    std::vector<std::string> failed;  // "<path>: <the system's text>" for each that stays
    // The backups of format 1.0 (among `deleted`) whose contents another name still
    // holds (a hard link, or the vault itself), so that they were not overwritten.
    std::vector<std::string> still_readable;
};

// What the companion and the editor add to a backup of `still_readable`.
inline constexpr char kStillReadableNote[] =
    "not overwritten: another name (a hard link, or the vault itself) still leads to its format 1.0 contents";

// Deletes the backups whose flag is false: those of format 1.0 are overwritten with
// zeros first (db_file::erase_file, never through another name of the same file nor
// through the vault at `vault_path`), the others removed. Throws std::bad_alloc.
ThinningResult thin_out(const std::vector<BackupFile>& backups, const std::vector<bool>& keep,
                        const std::string& vault_path);

// How many backups beside a vault make the editor mention them once at open, and
// what it says.
inline constexpr std::size_t kManyBackups = 500;
std::string many_backups_notice(std::size_t count);
