#include "backups/thinning.h"

#include <algorithm>
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
