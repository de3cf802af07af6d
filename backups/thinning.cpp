#include "backups/thinning.h"

#include "backups/key_cache.h"
#include "db/database.h"
#include "platform/file_io.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace {

constexpr std::int64_t kDay = 24 * 60 * 60;

}  // namespace

std::vector<bool> backups_to_keep(const std::vector<ThinningItem>& items, std::int64_t now)
{
    std::vector<std::size_t> newest_first(items.size());
    std::iota(newest_first.begin(), newest_first.end(), std::size_t{0});
    std::stable_sort(newest_first.begin(), newest_first.end(), [&](std::size_t a, std::size_t b) {
        return items[a].seconds != items[b].seconds ? items[a].seconds > items[b].seconds : a > b;
    });
    std::vector<bool> keep(items.size(), false);
    bool password_kept = false;
    // The zone (0: every backup, 1: one a day, 2: one a month) and the date of the
    // item before, newest first: an item that shares both is not the newest of its
    // day or month.
    int last_zone = -1;
    LocalDate last;
    for (std::size_t rank = 0; rank < newest_first.size(); ++rank) {
        const std::size_t i = newest_first[rank];
        const ThinningItem& item = items[i];
        const std::int64_t age = now - item.seconds;
        const int zone = age < kKeepEveryDays * kDay ? 0 : age < kKeepDailyDays * kDay ? 1 : 2;
        const bool same_period = zone == last_zone && item.date.year == last.year && item.date.month == last.month &&
            (zone == 2 || item.date.day == last.day);
        bool kept = zone == 0 || !same_period || rank < kKeepNewest;
        if (!password_kept && item.opens_with_password) {
            password_kept = true;
            kept = true;
        }
        keep[i] = kept;
        last_zone = zone;
        last = item.date;
    }
    return keep;
}

std::string thinning_question(std::size_t deleted, std::size_t total)
{
    return "Delete " + with_thousands(deleted) + " of " + with_thousands(total) +
        " backups (keeping every one of the last 7 days, one a day for 90 days, one a month before that)?";
}

std::vector<bool> plan_thinning(const std::vector<BackupFile>& backups, KeyCache& password, std::int64_t now)
{
    std::vector<ThinningItem> items(backups.size());
    for (std::size_t i = 0; i < backups.size(); ++i) {
        items[i].seconds = backups[i].seconds;
        // A date the system cannot tell groups the backup with none: it is kept.
        if (!local_date(backups[i].seconds, items[i].date)) items[i].date = LocalDate{-1, -1, static_cast<int>(i)};
    }
    for (std::size_t i = backups.size(); i-- > 0;) {
        if (backups[i].major_version != 2) continue;
        Database db;
        if (db.load(backups[i].path) == DB_OK && password.decrypt(db) == DB_OK) {
            items[i].opens_with_password = true;
            break;
        }
    }
    return backups_to_keep(items, now);
}

ThinningResult thin_out(const std::vector<BackupFile>& backups, const std::vector<bool>& keep,
                        const std::string& vault_path)
{
    ThinningResult result;
    for (std::size_t i = 0; i < backups.size() && i < keep.size(); ++i) {
        if (keep[i]) continue;
        const BackupFile& backup = backups[i];
        db_file::Erased how = db_file::Erased::kNameOnly;
        const bool legacy = backup.major_version == 1;
        const int error_number =
            legacy ? db_file::erase_file(backup.path, vault_path, how) : db_file::remove_file(backup.path);
        if (error_number == 0) {
            result.deleted.push_back(backup.path);
            if (legacy && how == db_file::Erased::kNameOnly) result.still_readable.push_back(backup.path);
        } else
            result.failed.push_back(backup.path + ": " + std::strerror(error_number));
    }
    return result;
}

std::string many_backups_notice(std::size_t count)
{
    return with_thousands(count) +
        " backups lie beside this vault. File > Backups... shows their count and size and can thin them out.";
}
