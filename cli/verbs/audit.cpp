// audit: the password report of the vault or of the entries under PATH.

#include "audit/report.h"
#include "cli/vault_file.h"
#include "cli/verbs.h"
#include "cli/terminal.h"

#include <string>
#include <utility>

namespace cli {

bool verb_audit(const Options& options, PasswordSource& passwords, Failure& failure)
{
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
