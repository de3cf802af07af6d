// audit: the password report of the vault or of the entries under PATH, with the age
// of the passwords read from the backups on request.

#include "audit/report.h"
#include "backups/backup_files.h"
#include "backups/key_cache.h"
#include "cli/vault_file.h"
#include "cli/verbs.h"
#include "cli/terminal.h"

#include <cstring>
#include <string>
#include <utility>

namespace cli {

namespace {

// Reads the whole breach file, its progress in percent on one line of standard error.
bool verify_pwned(const Options& options, Failure& failure)
{
    if (!options.pwned.empty() || options.older_than_given || !options.operands.empty()) {
        failure = fail(kExitUsage, "audit: --verify-pwned goes alone");
        return false;
    }
    int shown = -1;
    const BreachProgress progress = [&](std::uint64_t done, std::uint64_t size) {
        const int percent = static_cast<int>(size ? done * 100 / size : 100);
        if (percent == shown) return;
        shown = percent;
        cli_io::write_err("\r" + std::string(kProgram) + ": reading " + options.verify_pwned + ": " +
                          std::to_string(percent) + "%");
    };
    std::uint64_t lines = 0;
    std::string error;
    const BreachStatus status = verify_breach_file(options.verify_pwned, progress, lines, error);
    if (shown >= 0) cli_io::write_err_line("");
    if (status != BreachStatus::kOk) {
        failure = fail(status == BreachStatus::kWrongShape ? kExitNotFound : DB_IO_ERROR, error);
        return false;
    }
    return write_out(options.verify_pwned + ": wholly ordered by hash, " + with_thousands(lines) +
                         (lines == 1 ? " line" : " lines") + cli_io::kLineEnd,
                     failure);
}

}  // namespace

bool verb_audit(const Options& options, PasswordSource& passwords, Failure& failure)
{
    if (!options.verify_pwned.empty()) return verify_pwned(options, failure);
    // The breach file first: a wrong one is refused before the password is asked.
    BreachCorpus corpus;
    std::string error;
    if (!options.pwned.empty()) {
        const BreachStatus status = corpus.open(options.pwned, error);
        if (status != BreachStatus::kOk) {
            failure = fail(status == BreachStatus::kWrongShape ? kExitNotFound : DB_IO_ERROR, error);
            return false;
        }
    }
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
    const TreeNode* start =
        named_node(vault.root, options.operands.empty() ? std::string() : options.operands[0], failure);
    if (!start) return false;
    AuditReport report;
    const BreachStatus status =
        build_audit_report(vault.root, *start, corpus.is_open() ? &corpus : nullptr, report, error);
    if (status != BreachStatus::kOk) {
        failure = fail(status == BreachStatus::kWrongShape ? kExitNotFound : DB_IO_ERROR, error);
        return false;
    }
    if (options.older_than_given) {
        std::vector<BackupFile> backups;
        if (int error_number = list_backups(options.vault, backups)) {
            failure =
                fail(DB_IO_ERROR, options.vault + ": the backups cannot be listed: " + std::strerror(error_number));
            return false;
        }
        KeyCache password(vault.password.data(), static_cast<std::uint32_t>(vault.password.size()));
        const std::int64_t now = static_cast<std::int64_t>(now_seconds());
        const std::size_t unread =
            add_old_passwords(vault.root, backups, password, now - options.older_than_days * 86400, now, report);
        if (unread)
            cli_io::write_err_line(std::string(kProgram) + ": " + with_thousands(unread) +
                                   (unread == 1 ? " backup" : " backups") + " not read (another password or damaged)");
    }
    // The rows name entries by their paths and user names: printed from wiped memory.
    SecretString text;
    for (AuditLine& line : audit_lines(report)) {
        text.append(line.text.data(), line.text.size());
        text.append(cli_io::kLineEnd, std::char_traits<char>::length(cli_io::kLineEnd));
        secure_wipe(&line.text[0], line.text.capacity());
    }
    return print_secret(std::move(text), false, failure);
}

}  // namespace cli
