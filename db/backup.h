#pragma once
// Backups of the vault: before every save the file on disk is copied to a new file
// beside it, so that each save leaves the previous version behind.

#include <cstdint>
#include <string>

// The backup's file name for a time in seconds: "<vault path>.<seconds>.bak", the
// seconds being the low 32 bits of the time read as a signed number. `counter` 0 is
// that name; 2 and up give "<vault path>.<seconds>_02.bak" and so on, which sort
// after the plain name and before the next second's (names of the same length).
std::string backup_file_name(const std::string& vault_path, long long seconds, unsigned counter = 0);

// What a backup's name says: the low 32 bits of its time in seconds (read as an
// unsigned number, 1970 to 2106) and its counter (0 for the plain name).
struct BackupName {
    std::uint32_t seconds = 0;
    unsigned counter = 0;
};

// True when `name` (a file name without folder) is exactly a name that
// backup_file_name gives for the vault file `vault_name` (also without folder): the
// seconds as a signed 32-bit number without leading zeros, a counter of 2 or more
// written with at least two digits. `out` receives what the name says.
bool parse_backup_name(const std::string& name, const std::string& vault_name, BackupName& out);

// Copies the vault at `vault_path` (if it exists) to a new backup file beside it,
// named "<vault file>.<seconds>.bak" (a counter added when the name is taken, so that
// nothing is overwritten), flushed to the disk; a partial backup is removed.
// Returns DB_OK (also when there is no vault to copy) or DB_IO_ERROR with `error` set;
// `backup_path` receives the name written (empty when nothing was copied).
int make_backup_copy(const std::string& vault_path, long long now_seconds, std::string& backup_path,
                     std::string& error);
