#include "db/backup.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "db/database.h"
#include "db/file_io.h"

namespace {

// Enough names for far more saves within one second than anyone makes.
constexpr unsigned kLastCounter = 999;

}  // namespace

std::string backup_file_name(const std::string& vault_path, long long seconds, unsigned counter)
{
    const auto low = static_cast<std::uint32_t>(static_cast<unsigned long long>(seconds) & 0xFFFFFFFFull);
    const auto stamp = static_cast<std::int32_t>(low);
    char suffix[48];
    if (counter == 0)
        std::snprintf(suffix, sizeof suffix, ".%ld.bak", static_cast<long>(stamp));
    else
        std::snprintf(suffix, sizeof suffix, ".%ld_%02u.bak", static_cast<long>(stamp), counter);
    return vault_path + suffix;
}

int make_backup_copy(const std::string& vault_path, long long now_seconds, std::string& backup_path, std::string& error)
{
    backup_path.clear();
    error.clear();
    try {
        for (unsigned counter = 0; counter <= kLastCounter; counter += (counter == 0 ? 2 : 1)) {
            const std::string name = backup_file_name(vault_path, now_seconds, counter);
            const int result = db_file::copy_to_new_file(vault_path, name);
            if (result == 0) {
                backup_path = name;
                return DB_OK;
            }
            if (result == db_file::kNoSource) return DB_OK;
            if (result != EEXIST) {
                error = std::strerror(result);
                return DB_IO_ERROR;
            }
        }
        error = std::strerror(EEXIST);
    } catch (...) {
        error = "Not enough memory to make a backup";
    }
    return DB_IO_ERROR;
}
