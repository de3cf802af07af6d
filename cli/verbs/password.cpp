// passwd, upgrade, init: the master password, the vault's format, a new vault.

#include "cli/terminal.h"
#include "cli/vault_file.h"
#include "cli/verbs.h"
#include "db/legacy_backups.h"

#include <cstdint>

namespace cli {

bool verb_passwd(const Options& options, PasswordSource& passwords, Failure& failure)
{
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
    SecretString password;
    if (!passwords.read_new(password, failure)) return false;
    if (!unchanged_since_open(options, vault, failure)) return false;
    warn_if_legacy(options, vault.db);
    return saved(options,
                 vault::change_password(vault.db, options.vault, password.data(),
                                        static_cast<std::uint32_t>(password.size()), now_seconds()),
                 failure);
}

// A new master password comes with the new format: the old one can be found from
// any 1.0 copy of the vault, so keeping it would leave the 2.0 vault no safer.
bool verb_upgrade(const Options& options, PasswordSource& passwords, Failure& failure)
{
    OpenVault vault;
    if (!unlock_vault(options, passwords, vault, failure)) return false;
    if (!vault.db.legacy_format()) {
        std::string note = options.vault + " is already in format 2.0" + cli_io::kLineEnd;
        return write_out(note, failure);
    }
    // A 1.0 copy of the vault gives its password away, so the upgrade takes a new one.
    SecretString password;
    if (!passwords.read_new(password, failure)) return false;
    if (password.equals(vault.password)) {
        failure = fail(DB_NO_PASSWORD, kSamePasswordRefused);
        return false;
    }
    if (!unchanged_since_open(options, vault, failure)) return false;
    if (!saved(options,
               vault::upgrade(vault.db, options.vault, password.data(), static_cast<std::uint32_t>(password.size()),
                              now_seconds()),
               failure))
        return false;
    warn_of_legacy_backups(options);
    return true;
}

bool verb_init(const Options& options, PasswordSource& passwords, Failure& failure)
{
    if (cli_io::path_exists(options.vault)) {
        failure = fail(DB_IO_ERROR, options.vault + ": File exists");
        return false;
    }
    SecretString password;
    if (!passwords.read_new(password, failure)) return false;
    Database db;
    vault::Session session(db, options.vault);
    // The session refuses a file that appeared while the password was typed or the vault written.
    const vault::SessionReport created = session.create(password);
    if (created.outcome != vault::SessionOutcome::kDone) {
        failure = fail(created.status, created.error);
        return false;
    }
    return true;
}

}  // namespace cli
