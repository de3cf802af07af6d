#include "cli/vault_file.h"

#include "cli/cli.h"
#include "cli/terminal.h"
#include "db/legacy_backups.h"
#include "platform/calendar_time.h"
#include "vault/document_check.h"

#include <cstdint>
#include <vector>

namespace cli {
namespace {

Failure vault_failure(const Options& options, int status, const Database& db)
{
    std::string text = db.last_error();
    if (text.empty()) text = "status " + std::to_string(status);
    return fail(status, options.vault + ": " + text);
}

// The companion does not merge: a vault written meanwhile is left alone (exit 75).
Failure changed_failure(const std::string& path)
{
    return fail(kExitChanged,
                path +
                    ": the vault was changed by another program while this command ran; "
                    "nothing was written. Try again.");
}

}  // namespace

std::string zero_byte_refusal_of(const OpenVault& vault, const std::string& path)
{
    const SecretString text(vault.db.plaintext());
    return zero_byte_refusal(text.str(), path);
}

void set_password(Database& db, const SecretString& password)
{
    db.set_password(password.data(), static_cast<std::uint32_t>(password.size()));
}

bool unlock_vault(const Options& options, PasswordSource& passwords, OpenVault& vault, Failure& failure)
{
    vault.session.reset(new vault::Session(vault.db, options.vault));
    const vault::SessionReport noted = vault.session->note_loading();
    if (noted.outcome != vault::SessionOutcome::kDone) {
        failure = fail(DB_IO_ERROR, options.vault + ": " + noted.error);
        return false;
    }
    if (int status = vault.db.load(options.vault)) {
        failure = vault_failure(options, status, vault.db);
        return false;
    }
    if (!passwords.read_current(vault.password, failure)) return false;
    set_password(vault.db, vault.password);
    if (int status = vault.db.decrypt()) {
        failure = vault_failure(options, status, vault.db);
        return false;
    }
    vault.session->adopt(vault.password, Tree());
    return true;
}

bool open_vault(const Options& options, PasswordSource& passwords, OpenVault& vault, Failure& failure)
{
    if (!unlock_vault(options, passwords, vault, failure)) return false;
    vault.root = parse_plaintext(vault.db);
    vault.session->adopt(vault.password, vault.root);
    return true;
}

long long now_seconds()
{
    return calendar_now();
}

bool saved(const Options& options, const vault::SaveReport& report, Failure& failure)
{
    if (report.status != DB_OK) {
        failure = fail(report.status, options.vault + ": " + report.error);
        return false;
    }
    const std::string note = vault::no_backup_note(report);
    if (!note.empty()) cli_io::write_err_line(std::string(kProgram) + ": " + options.vault + ": " + note);
    return true;
}

bool unchanged_since_open(const Options& options, const OpenVault& vault, Failure& failure)
{
    if (!vault.session) return unchanged_since(options.vault, vault.found, failure);
    const vault::SessionReport check = vault.session->check_unchanged();
    if (check.outcome == vault::SessionOutcome::kFailed) {
        failure = fail(DB_IO_ERROR, options.vault + ": " + check.error);
        return false;
    }
    if (check.outcome == vault::SessionOutcome::kUnchanged) return true;
    failure = changed_failure(options.vault);
    return false;
}

bool unchanged_since(const std::string& path, const VaultFingerprint& found, Failure& failure)
{
    VaultFingerprint now;
    std::string error;
    if (fingerprint_file(path, now, error) != DB_OK) {
        failure = fail(DB_IO_ERROR, path + ": " + error);
        return false;
    }
    if (now == found) return true;
    failure = changed_failure(path);
    return false;
}

void warn_if_legacy(const Options& options, const Database& db)
{
    warn_if_legacy(options.vault, db);
}

void warn_if_legacy(const std::string& path, const Database& db)
{
    if (!db.legacy_format()) return;
    cli_io::write_err_line(std::string(kProgram) + ": warning: " + path +
                           " is written in format 1.0, which anyone with a copy can read without the password; "
                           "'" +
                           kProgram + " upgrade' converts it to format 2.0");
}

void warn_of_legacy_backups(const Options& options)
{
    const std::vector<std::string> backups = legacy_backups(options.vault);
    if (backups.empty()) return;
    cli_io::write_err_line(std::string(kProgram) + ": warning: " + std::to_string(backups.size()) +
                           " backups of format 1.0 can be read without the password; delete them:");
    for (const std::string& path : backups) cli_io::write_err_line("  " + path);
}

const TreeNode* named_node(const Tree& root, const std::string& path, Failure& failure)
{
    const TreeNode* node = root.find(path);
    if (!node) failure = fail(kExitNotFound, "nothing is named '" + path + "'");
    return node;
}

}  // namespace cli
