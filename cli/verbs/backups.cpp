// backups and history: the backups beside the vault, thinned out on request, and the
// earlier values of its lines read from them.

#include "audit/report.h"
#include "backups/backup_files.h"
#include "backups/history.h"
#include "backups/key_cache.h"
#include "backups/thinning.h"
#include "cli/terminal.h"
#include "cli/vault_file.h"
#include "cli/verbs.h"

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace cli {
namespace {

Failure listing_failure(const Options& options, int error_number)
{
    return fail(DB_IO_ERROR, "folder of " + options.vault + ": " + std::strerror(error_number));
}

// Opens the vault with the current password through `cache`, so that the backups of
// its salt and count (all since the last password change) need no derivation of their own.
bool open_through_cache(const Options& options, PasswordSource& passwords, OpenVault& vault,
                        std::unique_ptr<KeyCache>& cache, Failure& failure)
{
    if (int status = vault.db.load(options.vault)) {
        failure = fail(status, options.vault + ": " + vault.db.last_error());
        return false;
    }
    if (!passwords.read_current(vault.password, failure)) return false;
    cache.reset(new KeyCache(vault.password.data(), static_cast<std::uint32_t>(vault.password.size())));
    if (int status = cache->decrypt(vault.db)) {
        failure = fail(status, options.vault + ": " + vault.db.last_error());
        return false;
    }
    vault.root = parse_plaintext(vault.db);
    vault.db.wipe_data();
    return true;
}

// "yes", "no" or "damaged": whether the backup opens with the password.
const char* opens_text(const BackupFile& backup, KeyCache& password)
{
    Database db;
    if (db.load(backup.path) != DB_OK) return "damaged";
    return password.decrypt(db) == DB_OK ? "yes" : "no";
}

bool list(const std::vector<BackupFile>& backups, KeyCache* password, Failure& failure)
{
    const std::int64_t now = static_cast<std::int64_t>(now_seconds());
    std::string text;
    for (auto backup = backups.rbegin(); backup != backups.rend(); ++backup) {
        text += file_name_of(backup->path) + "  " + local_date_time(backup->seconds) + "  " +
            std::to_string(backup->size) + "  " + format_name(*backup);
        if (password) text += std::string("  ") + opens_text(*backup, *password);
        if (dated_in_future(*backup, now)) text += std::string("  ") + kDatedInFuture;
        text += cli_io::kLineEnd;
    }
    text += with_thousands(backups.size()) + (backups.size() == 1 ? " backup, " : " backups, ") +
        std::to_string(total_size(backups)) + " bytes" + cli_io::kLineEnd;
    return write_out(text, failure);
}

bool thin(const Options& options, const std::vector<BackupFile>& backups, KeyCache& password, Failure& failure)
{
    const std::vector<bool> keep = plan_thinning(backups, password, now_seconds());
    const std::size_t going = static_cast<std::size_t>(std::count(keep.begin(), keep.end(), false));
    std::string text;
    if (options.dry_run) {
        for (std::size_t i = 0; i < backups.size(); ++i)
            if (!keep[i]) text += "would delete: " + backups[i].path + cli_io::kLineEnd;
        text += "Would delete " + with_thousands(going) + " of " + with_thousands(backups.size()) + " backups." +
            cli_io::kLineEnd;
        return write_out(text, failure);
    }
    const ThinningResult result = thin_out(backups, keep, options.vault);
    for (const std::string& path : result.deleted) {
        const bool readable =
            std::find(result.still_readable.begin(), result.still_readable.end(), path) != result.still_readable.end();
        text += "deleted: " + path + (readable ? std::string(" (") + kStillReadableNote + ")" : std::string()) +
            cli_io::kLineEnd;
    }
    text += "Deleted " + with_thousands(result.deleted.size()) + " of " + with_thousands(backups.size()) + " backups." +
        cli_io::kLineEnd;
    if (!write_out(text, failure)) return false;
    if (result.failed.empty()) return true;
    for (std::size_t i = 0; i + 1 < result.failed.size(); ++i)
        cli_io::write_err_line(std::string(kProgram) + ": " + result.failed[i]);
    failure = fail(DB_IO_ERROR, result.failed.back());
    return false;
}

// The further passwords on the descriptor, one per line, up to its end or an empty line.
bool further_passwords(const Options& options, PasswordSource& passwords,
                       std::vector<std::unique_ptr<KeyCache>>& caches, Failure& failure)
{
    if (options.password_fd < 0) return true;
    for (;;) {
        SecretString password;
        if (!passwords.read_other(password, "", true, failure)) return false;
        if (password.empty()) return true;
        caches.emplace_back(new KeyCache(password.data(), static_cast<std::uint32_t>(password.size())));
    }
}

bool print_values(const LineHistory& line, const char* indent, Failure& failure)
{
    for (const HeldValue& held : line.values) {
        if (!write_out(indent + held_value_dates(held) + ": ", failure)) return false;
        if (!print_secret(SecretString(held.value.data(), held.value.size()), true, failure)) return false;
    }
    return true;
}

bool print_history(const TreeNode& node, const HistoryReport& report, Failure& failure)
{
    const bool entry = !node.children.empty();
    for (const LineHistory& line : report.lines) {
        if (line.values.empty()) continue;
        if (entry && !write_out(line.line->name + cli_io::kLineEnd, failure)) return false;
        if (!print_values(line, entry ? "  " : "", failure)) return false;
    }
    return true;
}

// One row a password line under `start`: when it was written and which line it is.
// Entries whose paths are shared are told apart as the password report does, by
// user name or line number.
bool print_since(const Tree& root, const TreeNode& start, const HistoryReport& report, Failure& failure)
{
    const std::vector<AuditEntry> entries = list_audit_entries(root, start);
    std::unordered_map<const TreeNode*, const AuditEntry*> entry_of;
    for (const AuditEntry& entry : entries)
        if (entry.path_shared)
            for (const TreeNode& line : entry.node->children) entry_of.emplace(&line, &entry);
    std::vector<const LineHistory*> lines;
    for (const LineHistory& line : report.lines)
        if (!line.values.empty()) lines.push_back(&line);
    std::stable_sort(lines.begin(), lines.end(), [](const LineHistory* a, const LineHistory* b) {
        return written_earlier(a->values.back().written, b->values.back().written);
    });
    SecretString text;
    for (const LineHistory* line : lines) {
        const std::string when = when_written_text(line->values.back().written) + "  ";
        text.append(when.data(), when.size());
        const auto entry = entry_of.find(line->line);
        if (entry == entry_of.end()) {
            text.append(line->path.data(), line->path.size());
        } else {
            const SecretString label(audit_entry_label(*entry->second));
            text.append(label.data(), label.size());
            text.append(" ", 1);
            text.append(line->line->name.data(), line->line->name.size());
        }
        text.append(cli_io::kLineEnd, std::strlen(cli_io::kLineEnd));
    }
    return write_out(text.str(), failure);
}

}  // namespace

bool verb_backups(const Options& options, PasswordSource& passwords, Failure& failure)
{
    if (options.dry_run && !options.thin) {
        failure = fail(kExitUsage, "backups: --dry-run goes with --thin");
        return false;
    }
    if (options.no_password && options.thin) {
        failure = fail(kExitUsage, "backups: --thin needs the password, not --no-password");
        return false;
    }
    std::vector<BackupFile> backups;
    if (options.no_password) {
        if (int error_number = list_backups(options.vault, backups)) {
            failure = listing_failure(options, error_number);
            return false;
        }
        return list(backups, nullptr, failure);
    }
    OpenVault vault;
    std::unique_ptr<KeyCache> password;
    if (!open_through_cache(options, passwords, vault, password, failure)) return false;
    if (int error_number = list_backups(options.vault, backups)) {
        failure = listing_failure(options, error_number);
        return false;
    }
    return options.thin ? thin(options, backups, *password, failure) : list(backups, password.get(), failure);
}

bool verb_history(const Options& options, PasswordSource& passwords, Failure& failure)
{
    if (!options.since && options.operands.empty()) {
        failure = fail(kExitUsage, "history: missing argument");
        return false;
    }
    OpenVault vault;
    std::vector<std::unique_ptr<KeyCache>> caches(1);
    if (!open_through_cache(options, passwords, vault, caches[0], failure)) return false;
    const TreeNode* node =
        named_node(vault.root, options.operands.empty() ? std::string() : options.operands[0], failure);
    if (!node) return false;
    if (!further_passwords(options, passwords, caches, failure)) return false;
    std::vector<BackupFile> backups;
    if (int error_number = list_backups(options.vault, backups)) {
        failure = listing_failure(options, error_number);
        return false;
    }
    std::vector<KeyCache*> tried;
    for (const auto& cache : caches) tried.push_back(cache.get());
    const std::vector<const TreeNode*> lines = options.since ? password_lines_under(*node) : lines_of(*node);
    const HistoryReport report = read_history(backups, vault.root, lines, tried, options.since);
    if (!(options.since ? print_since(vault.root, *node, report, failure) : print_history(*node, report, failure)))
        return false;
    return write_out(backups_not_read_text(report.other_passwords, report.damaged, cli_io::kLineEnd), failure);
}

}  // namespace cli
