#pragma once
// The vault as the companion's verbs use it: opened with a password, checked for
// another writer, and saved through the program's one save pipeline.

#include "cli/options.h"
#include "cli/output.h"
#include "cli/passwords.h"
#include "crypto/wipe.h"
#include "db/database.h"
#include "tree/tree.h"
#include "vault/save.h"
#include "vault/session.h"
#include "vault/vault_merge.h"

#include <memory>
#include <string>

namespace cli {

// A vault opened with its password; the document is wiped when it goes.
struct OpenVault {
    Database db;
    Tree root;
    SecretString password;
    VaultFingerprint found;  // the file as merge-file read it
    std::unique_ptr<vault::Session> session;  // the vault's session once unlock_vault began

    OpenVault() = default;
    ~OpenVault() { wipe_tree(root); }
    OpenVault(const OpenVault&) = delete;
    OpenVault& operator=(const OpenVault&) = delete;
};

void set_password(Database& db, const SecretString& password);

// The refusal of an open vault whose text holds a zero byte, naming `path`, its line
// and byte (empty when it holds none): the merges take no such file, since the
// editor could not show what they would write. Throws std::bad_alloc.
std::string zero_byte_refusal_of(const OpenVault& vault, const std::string& path);

// Loads and decrypts the vault (--vault) with the current password.
bool unlock_vault(const Options& options, PasswordSource& passwords, OpenVault& vault, Failure& failure);

// Unlocks the vault, then parses the document.
bool open_vault(const Options& options, PasswordSource& passwords, OpenVault& vault, Failure& failure);

// The current calendar time in seconds since 1970 (calendar_now).
long long now_seconds();

// What the vault pipeline did: a failure on its way out, or a success that may carry
// the note that no backup could be written.
bool saved(const Options& options, const vault::SaveReport& report, Failure& failure);

// True when the vault's file is still as open_vault read it; a command that rewrites
// the vault asks just before it does, and writes nothing when another program wrote.
bool unchanged_since_open(const Options& options, const OpenVault& vault, Failure& failure);
// The same for the file at `path`, read when it had the fingerprint `found`.
bool unchanged_since(const std::string& path, const VaultFingerprint& found, Failure& failure);

// Format 1.0 protects no copy of the file: said whenever the companion writes one.
void warn_if_legacy(const Options& options, const Database& db);
// The same for `db` written to `path`.
void warn_if_legacy(const std::string& path, const Database& db);

// After an upgrade: the 1.0 backups beside the vault still give its text away.
void warn_of_legacy_backups(const Options& options);

// The node that the filter text `path` names; null with the failure when none.
const TreeNode* named_node(const Tree& root, const std::string& path, Failure& failure);

}  // namespace cli
