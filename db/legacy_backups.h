#pragma once
// The backups of a vault that are still of format 1.0. After an upgrade they remain
// readable without the password (1.0's keystream repeats every 16 bytes), and their
// 500-iteration key derivation lets a guess of the master password be checked about
// 1,200 times faster than on 2.0: the program offers to delete them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Why an upgrade refuses to keep the master password.
inline constexpr char kSamePasswordRefused[] =
    "The new master password must differ from the current one: the current one can be found from any copy of "
    "the vault in format 1.0, such as its backups.";

// The question put to the user about `count` such backups; `password_exposed` adds
// that one of them opens with the current master password.
std::string legacy_backups_question(std::size_t count, bool password_exposed);

// The paths of the backups of `vault_path` beside it ("<vault>.<seconds>.bak",
// "<vault>.<seconds>_NN.bak", as make_backup_copy names them) whose header says
// format 1.0, sorted. Only the header is read; files that cannot be read are left out.
std::vector<std::string> legacy_backups(const std::string& vault_path);

// True when the vault file at `path` loads and decrypts with the password.
bool opens_with(const std::string& path, const char* password, std::uint32_t length);

// True when one of the files at `paths` opens with the password.
bool any_opens_with(const std::vector<std::string>& paths, const char* password, std::uint32_t length);

// Overwrites each file with zeros and deletes it (db_file::erase_file, never writing
// through another name of the same file nor through the vault at `vault_path`).
// Returns the number of files that could not be deleted; `still_readable` counts those
// deleted by name only, whose contents another name still holds.
std::size_t erase_legacy_backups(const std::vector<std::string>& paths, const std::string& vault_path,
                                 std::size_t& still_readable);
