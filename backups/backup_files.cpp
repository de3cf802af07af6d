#include "backups/backup_files.h"

#include "db/backup.h"
#include "platform/file_io.h"
#include "db/format.h"
#include "platform/calendar_time.h"
#include "vault/vault_merge.h"

#include <algorithm>
#include <cstdio>

namespace {

// The format of the file's header: 1 or 2, or 0 for anything else.
int header_version(const std::string& path, std::uint64_t& size)
{
    std::FILE* file = db_file::open_for_reading(path);
    if (!file) return 0;
    std::uint8_t prefix[kPrefixSize];
    const bool read = db_file::size_of(file, size) && std::fread(prefix, 1, sizeof prefix, file) == sizeof prefix;
    std::fclose(file);
    if (!read) return 0;
    FileHeader header;
    switch (read_prefix(prefix, header)) {
    case FilePrefix::kVersion10: return 1;
    case FilePrefix::kVersion20: return 2;
    case FilePrefix::kOtherVersion:
    case FilePrefix::kNotAVault: break;
    }
    return 0;
}

}  // namespace

std::string format_name(const BackupFile& backup)
{
    return std::to_string(backup.major_version) + ".0";
}

int list_backups(const std::string& vault_path, std::vector<BackupFile>& backups)
{
    backups.clear();
    const std::string folder = folder_of(vault_path);
    const std::string vault_name = file_name_of(vault_path);
    std::vector<std::string> names;
    if (int error_number = db_file::list_files(folder, names)) return error_number;
    for (const std::string& name : names) {
        BackupName parsed;
        if (!parse_backup_name(name, vault_name, parsed)) continue;
        BackupFile backup;
        backup.path = folder + name;
        backup.major_version = header_version(backup.path, backup.size);
        if (backup.major_version == 0) continue;
        backup.seconds = parsed.seconds;
        backup.counter = parsed.counter;
        backups.push_back(std::move(backup));
    }
    std::sort(backups.begin(), backups.end(), [](const BackupFile& a, const BackupFile& b) {
        return a.seconds != b.seconds ? a.seconds < b.seconds : a.counter < b.counter;
    });
    return 0;
}

std::string local_date_time(std::int64_t seconds)
{
    std::tm t = {};
    if (!local_calendar_date(seconds, t)) return "?";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

bool local_date(std::int64_t seconds, LocalDate& date)
{
    std::tm t = {};
    if (!local_calendar_date(seconds, t)) return false;
    date.year = t.tm_year + 1900;
    date.month = t.tm_mon + 1;
    date.day = t.tm_mday;
    return true;
}

std::string with_thousands(std::uint64_t count)
{
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

std::uint64_t total_size(const std::vector<BackupFile>& backups)
{
    std::uint64_t total = 0;
    for (const BackupFile& backup : backups) total += backup.size;
    return total;
}

std::string size_in_words(std::uint64_t bytes)
{
    if (bytes < 1024) return with_thousands(bytes) + (bytes == 1 ? " byte" : " bytes");
    const char* units[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < sizeof units / sizeof units[0]) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 10.0 ? "%.1f %s" : "%.0f %s", value, units[unit]);
    return text;
}
