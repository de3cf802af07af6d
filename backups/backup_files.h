#pragma once
// The backups beside a vault: found by their exact names and their header, ordered
// by the time their names carry, and dated in local time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct BackupFile {
    std::string path;  // the vault's folder and the backup's name
    std::int64_t seconds = 0;  // since 1970: the name's 32 bits read as unsigned
    unsigned counter = 0;  // 0 for the plain name, else the _NN of the name
    std::uint64_t size = 0;  // bytes
    int major_version = 0;  // the format in the header: 1 or 2
};

// "1.0" or "2.0".
std::string format_name(const BackupFile& backup);

// What a listing adds to a backup whose name carries a time after `now` (the clock
// was wrong when it was made, or is wrong now).
inline constexpr char kDatedInFuture[] = "dated in the future";
inline bool dated_in_future(const BackupFile& backup, std::int64_t now)
{
    return backup.seconds > now;
}

// The backups of the vault at `vault_path`, oldest first (by the seconds of their
// names, then by counter; never by name): the files named exactly as
// make_backup_copy names them whose first bytes are the header of format 1.0 or 2.0.
// Files that cannot be read are left out. Returns 0 or the errno value of listing
// the folder (`backups` then empty).
int list_backups(const std::string& vault_path, std::vector<BackupFile>& backups);

// The local date and time of `seconds` since 1970, "YYYY-MM-DD HH:MM:SS".
std::string local_date_time(std::int64_t seconds);

// The local calendar date of `seconds`; false when the system cannot tell.
struct LocalDate {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;  // 1 to 31
};
bool local_date(std::int64_t seconds, LocalDate& date);

// A count with thousands separated by commas: 1,310.
std::string with_thousands(std::uint64_t count);

// The total size of `backups` in bytes, and in words: "812 bytes", "3.4 MB".
std::uint64_t total_size(const std::vector<BackupFile>& backups);
std::string size_in_words(std::uint64_t bytes);
