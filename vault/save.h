#pragma once
// The one way the vault is written, for the editor and the companion alike: a backup
// of the file as it is, then the new file in its place.
//
// Backups: a normal save goes on when no backup can be made (the vault itself is only
// ever replaced whole) and says so in backup_error; the password change and the
// upgrade write nothing without their backup, since after them the old file is the
// only copy that the old password or format still opens. A save that fails removes
// the backup it made, so that a failed command leaves no file behind.

#include <string>

#include "tree/tree.h"

class Database;

namespace vault {

struct SaveReport {
    int status = 0;  // DB_OK or the vault's status code
    std::string error;  // the text to show when status is not DB_OK
    std::string backup_path;  // the backup of the previous file; empty when none was made
    std::string backup_error;  // why no backup was made although the file existed
};

// The backup's own rule: made at `now_seconds` (make_backup_copy), required or not.
enum class Backup { kBestEffort, kRequired };

// Serializes `document` (every line ended by CR LF) into `db`'s plaintext; the
// serialized text is wiped. DB_IO_ERROR with `error` set when it is too large for the
// file format. Throws std::bad_alloc.
int store_document(Database& db, const Tree& document, std::string& error);

// Serializes `document` (every line ended by CR LF) into `db`'s plaintext and writes
// it to `path` after a best-effort backup. The serialized text is wiped. Never throws.
SaveReport save_document(Database& db, const Tree& document, const std::string& path, long long now_seconds) noexcept;
// The same for a text taken as it is (the companion's import, already serialized).
SaveReport save_text(Database& db, const std::string& text, const std::string& path, long long now_seconds) noexcept;
// Writes `db`'s data under a new password, after a required backup. On failure the
// container keeps its old password. Never throws.
SaveReport change_password(Database& db, const std::string& path, const char* password, std::uint32_t length,
                           long long now_seconds) noexcept;
// Writes `db`'s data as format 2.0 (under a new password when `password` is not
// null), after a required backup. On failure the container is as it was. Never throws.
SaveReport upgrade(Database& db, const std::string& path, const char* password, std::uint32_t length,
                   long long now_seconds) noexcept;

// The sentence that tells the user a save went on without a backup; empty when a
// backup was made or none was needed.
std::string no_backup_note(const SaveReport& report);

}  // namespace vault
