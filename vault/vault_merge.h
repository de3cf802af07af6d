#pragma once
// The vault changed elsewhere: what a writer checks before it replaces the file, the
// merge of what it finds there, the conflicted copy written when it cannot merge,
// and the copies that synchronisation programs leave beside a vault.
//
// No file is locked: a writer remembers the fingerprint of the file it read (or last
// wrote) and compares it with the file's just before it writes.

#include <cstdint>
#include <string>
#include <vector>

#include "crypto/sha3.h"
#include "tree/merge.h"
#include "tree/tree.h"

class Database;

// SHA3-256 of a file's bytes, or the absence of a file.
struct VaultFingerprint {
    bool present = false;
    std::uint8_t digest[kSha3_256DigestSize] = {};
};

bool operator==(const VaultFingerprint& a, const VaultFingerprint& b);
bool operator!=(const VaultFingerprint& a, const VaultFingerprint& b);

// Reads the file at `path` once and hashes it. DB_OK with `present` false when
// nothing is there; DB_IO_ERROR with `error` (the system's text) when it cannot be
// read. Never throws.
int fingerprint_file(const std::string& path, VaultFingerprint& out, std::string& error) noexcept;

// The document that `db` holds as plaintext, parsed; the copy of the text is wiped.
// Throws std::bad_alloc.
Tree parse_plaintext(const Database& db);

// Loads the vault at `path` into `db`, decrypts it with `password` and parses the
// document into `document` (wiped first). Returns the vault's status code; the text
// is db.last_error(). Throws std::bad_alloc.
int open_document(Database& db, const std::string& path, const char* password, std::uint32_t password_length,
                  Tree& document);

// What a save found at the vault's path.
enum class FoundOnDisk {
    kUnchanged,  // the file is as the writer last read or wrote it: save as usual
    kMerged,  // changed, opened with the password in use, merged: save `merge.merged`
    kDeleted,  // nothing there any more: the document is written anew
    kWrongPassword,  // changed, and the password in use does not open it
    kCannotMerge,  // changed, and it cannot be read, is damaged or of a newer version
};

struct ElsewhereCheck {
    FoundOnDisk found = FoundOnDisk::kUnchanged;
    int status = 0;  // the vault's status code of the load or decryption that failed
    std::string error;  // its text
    TreeMerge merge;  // kMerged: base, ours and the file's document merged three ways
    VaultFingerprint file;  // the file as the check found it
};

// Before `ours` (edited from `base`) is written to `path`, whose file matched `known`
// when `base` was read or written (an unknown fingerprint, `known_valid` false,
// counts as changed: the file is read and merged). When the file changed, it is
// loaded into `db` and decrypted with db's password (Database::reopen); on kMerged db
// holds the file's keys, and the caller sets the merged text and saves; the backup it
// takes first then holds the file as found. On every other outcome db is as it was,
// and write_conflicted_copy still writes ours under its password and format. Throws
// std::bad_alloc.
ElsewhereCheck check_before_save(Database& db, const std::string& path, const VaultFingerprint& known, bool known_valid,
                                 const Tree& base, const Tree& ours);

// After kWrongPassword, with the password the user typed for the file: db takes the
// password only when it opens the file, and the result is kMerged. Otherwise
// kWrongPassword (or kCannotMerge) and db is as it was. Throws std::bad_alloc.
ElsewhereCheck merge_with_password(Database& db, const std::string& path, const char* password,
                                   std::uint32_t password_length, const Tree& base, const Tree& ours);

// "<folder><vault name without extension> (conflicted copy YYYY-MM-DD HHMMSS).gkv"
// for the local time given.
std::string conflicted_copy_path(const std::string& vault_path, int year, int month, int day, int hour, int minute,
                                 int second);

// Writes `ours` encrypted with db's password (the format db would save in) to a new
// conflicted copy beside the vault at the current local time (a counter " 2", " 3"
// added before ".gkv" when the name is taken; nothing is ever replaced). Returns the
// vault's status code; `copy_path` receives the name written, `error` the text of a
// failure. Throws std::bad_alloc.
int write_conflicted_copy(Database& db, const Tree& ours, const std::string& vault_path, std::string& copy_path,
                          std::string& error);

// True when the file `name` (no folder) is a synchronisation program's copy of the
// vault `vault_name` (no folder): the vault's name without its extension (on Windows
// without regard to ASCII case, as the file system compares names; elsewhere
// exactly), then one of the shapes below, then ".gkv" (in any case). Nothing else is
// taken, so the copies of a vault whose name merely begins the same
// ("passwords-work.gkv" for "passwords.gkv") never are, nor another vault's Dropbox
// copy (a <who> never holds ") ("):
//   Syncthing          <stem>.sync-conflict-YYYYMMDD-HHMMSS-<7-character device id>
//   Dropbox            <stem> (<who>'s conflicted copy YYYY-MM-DD[ (N)])
//                      <stem> (conflicted copy YYYY-MM-DD[ (N)])
//   Nextcloud/ownCloud <stem> (conflicted copy [<user> ]YYYY-MM-DD HHMMSS)
//   this program       <stem> (conflicted copy YYYY-MM-DD HHMMSS)[ N]
bool is_conflict_copy(const std::string& vault_name, const std::string& name);

// The paths of the conflict copies in the vault's folder, sorted by name. Returns 0
// or an errno value (db_file::list_files).
int find_conflict_copies(const std::string& vault_path, std::vector<std::string>& paths);

// The folder part of a path, with its separator ("" for a bare name), and the rest.
std::string folder_of(const std::string& path);
std::string file_name_of(const std::string& path);
