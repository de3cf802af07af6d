// merge: another vault file, or the conflicting copies that synchronisation
// programs left beside the vault, folded into the vault by the two-way merge.

#include "cli/terminal.h"
#include "cli/vault_file.h"
#include "cli/verbs.h"
#include "platform/file_io.h"
#include "tree/merge.h"

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace cli {
namespace {

// Writes `document` into the open vault when it differs from the vault's own: the
// check for another writer, the backup, the atomic save.
bool save_merged(const Options& options, OpenVault& vault, const Tree& document, Failure& failure)
{
    if (document == vault.root) return true;
    if (!unchanged_since_open(options, vault, failure)) return false;
    warn_if_legacy(options, vault.db);
    return saved(options, vault::save_document(vault.db, document, options.vault, now_seconds()), failure);
}

bool print_kept_twice(const TreeMerge& merge, Failure& failure)
{
    for (const std::string& path : merge.kept_twice)
        if (!write_out("kept twice: " + path + cli_io::kLineEnd, failure)) return false;
    return true;
}

// Opens another vault file with the vault's password or, when that fails, with the
// one read for it (empty: the vault's). A wrong password is DB_WRONG_PASSWORD.
int open_other(const std::string& path, OpenVault& vault, PasswordSource& passwords, bool ask_after_failure,
               OpenVault& other, Failure& failure)
{
    const SecretString* password = &vault.password;
    if (!ask_after_failure) {
        if (!passwords.read_other(other.password, "Password of " + path + " (empty: the vault's): ", false, failure))
            return -1;
        if (!other.password.empty()) password = &other.password;
    }
    int status =
        open_document(other.db, path, password->data(), static_cast<std::uint32_t>(password->size()), other.root);
    if (status != DB_WRONG_PASSWORD || !ask_after_failure) return status;
    if (!passwords.read_other(other.password, "Password of " + path + " (empty: skip it): ", true, failure)) return -1;
    if (other.password.empty()) return status;
    return open_document(other.db, path, other.password.data(), static_cast<std::uint32_t>(other.password.size()),
                         other.root);
}

// False with the refusal (65) when the file's text holds a zero byte.
bool free_of_zero_bytes(const OpenVault& file, const std::string& path, Failure& failure)
{
    const std::string refusal = zero_byte_refusal_of(file, path);
    if (refusal.empty()) return true;
    failure = fail(kExitNotFound, refusal);
    return false;
}

bool merge_conflicts(const Options& options, PasswordSource& passwords, Failure& failure)
{
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
    if (!free_of_zero_bytes(vault, options.vault, failure)) return false;
    std::vector<std::string> copies;
    if (int error_number = find_conflict_copies(options.vault, copies)) {
        failure = fail(DB_IO_ERROR, "folder of " + options.vault + ": " + std::strerror(error_number));
        return false;
    }
    if (copies.empty())
        return write_out("No conflicting copies of " + options.vault + " were found." + cli_io::kLineEnd, failure);

    Tree document = vault.root;
    std::vector<std::string> merged;
    std::string report;
    for (const std::string& copy : copies) {
        OpenVault other;
        const int status = open_other(copy, vault, passwords, true, other, failure);
        if (status < 0) {
            wipe_tree(document);
            return false;
        }
        if (status != DB_OK) {
            std::string text = other.db.last_error();
            report += "skipped: " + copy + ": " + (text.empty() ? "status " + std::to_string(status) : text) +
                cli_io::kLineEnd;
            continue;
        }
        if (const std::string refusal = zero_byte_refusal_of(other, copy); !refusal.empty()) {
            report += "skipped: " + refusal + cli_io::kLineEnd;
            continue;
        }
        TreeMerge merge = merge_two_way(document, other.root);
        wipe_tree(document);
        document = std::move(merge.merged);
        report += "merged: " + copy + cli_io::kLineEnd;
        for (const std::string& path : merge.kept_twice) report += "kept twice: " + path + cli_io::kLineEnd;
        merged.push_back(copy);
    }
    const bool saved = save_merged(options, vault, document, failure);
    wipe_tree(document);
    if (!saved) return false;
    if (!write_out(report, failure)) return false;
    if (!options.delete_merged) return true;
    for (const std::string& copy : merged) {
        if (int error_number = db_file::erase_file(copy)) {
            failure = fail(DB_IO_ERROR, copy + ": " + std::strerror(error_number));
            return false;
        }
        if (!write_out("deleted: " + copy + cli_io::kLineEnd, failure)) return false;
    }
    return true;
}

}  // namespace

bool verb_merge(const Options& options, PasswordSource& passwords, Failure& failure)
{
    if (options.conflicts) {
        if (!options.operands.empty()) {
            failure = fail(kExitUsage, "merge --conflicts: unexpected argument '" + options.operands[0] + "'");
            return false;
        }
        return merge_conflicts(options, passwords, failure);
    }
    if (options.operands.empty() || options.delete_merged) {
        failure =
            fail(kExitUsage,
                 options.operands.empty() ? "merge: missing argument" : "merge: --delete-merged goes with --conflicts");
        return false;
    }
    const std::string& path = options.operands[0];
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
    OpenVault other;
    const int status = open_other(path, vault, passwords, false, other, failure);
    if (status < 0) return false;
    if (status != DB_OK) {
        const std::string text = other.db.last_error();
        failure = fail(status, path + ": " + (text.empty() ? "status " + std::to_string(status) : text));
        return false;
    }
    if (!free_of_zero_bytes(vault, options.vault, failure) || !free_of_zero_bytes(other, path, failure)) return false;
    const TreeMerge merge = merge_two_way(vault.root, other.root);
    if (merge.merged == vault.root)
        return write_out(path + " holds nothing that the vault does not" + cli_io::kLineEnd, failure);
    if (!save_merged(options, vault, merge.merged, failure)) return false;
    return write_out("merged: " + path + cli_io::kLineEnd, failure) && print_kept_twice(merge, failure);
}

}  // namespace cli
