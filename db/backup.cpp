#include "db/backup.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "db/database.h"
#include "platform/file_io.h"

namespace {

// Enough names for far more saves within one second than anyone makes.
constexpr unsigned kLastCounter = 999;

// Decimal digits without a leading zero (a lone "0" aside), at most `max_digits`.
bool parse_decimal(const std::string& text, std::size_t from, std::size_t to, std::size_t max_digits,
                   std::uint64_t& value)
{
    if (from >= to || to - from > max_digits || (text[from] == '0' && to - from > 1)) return false;
    value = 0;
    for (std::size_t i = from; i < to; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

}  // namespace

bool parse_backup_name(const std::string& name, const std::string& vault_name, BackupName& out)
{
    static const std::string suffix = ".bak";
    if (name.size() < vault_name.size() + 1 + suffix.size() + 1 ||
        name.compare(0, vault_name.size(), vault_name) != 0 || name[vault_name.size()] != '.' ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    std::size_t start = vault_name.size() + 1;
    const std::size_t end = name.size() - suffix.size();
    const bool negative = name[start] == '-';
    if (negative) ++start;
    std::size_t stamp_end = name.find('_', start);
    if (stamp_end == std::string::npos || stamp_end > end) stamp_end = end;
    std::uint64_t magnitude = 0;
    if (!parse_decimal(name, start, stamp_end, 10, magnitude)) return false;
    if (negative ? magnitude == 0 || magnitude > 0x80000000ull : magnitude > 0x7FFFFFFFull) return false;
    BackupName parsed;
    parsed.seconds = static_cast<std::uint32_t>(negative ? 0x100000000ull - magnitude : magnitude);
    if (stamp_end < end) {
        // "%02u": two digits at least, so a leading zero only in "02" to "09".
        const std::size_t digits = end - stamp_end - 1;
        std::uint64_t counter = 0;
        const bool padded = digits == 2 && name[stamp_end + 1] == '0';
        if (padded ? !parse_decimal(name, stamp_end + 2, end, 1, counter)
                   : digits < 2 || !parse_decimal(name, stamp_end + 1, end, 9, counter))
            return false;
        if (counter < 2) return false;
        parsed.counter = static_cast<unsigned>(counter);
    }
    out = parsed;
    return true;
}

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
