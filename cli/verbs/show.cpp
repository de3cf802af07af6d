// show, complete, export: the document read, never written.

#include "cli/terminal.h"
#include "cli/vault_file.h"
#include "cli/verbs.h"

#include <utility>

namespace cli {

bool verb_show(const Options& options, PasswordSource& passwords, Failure& failure)
{
    const std::string path = options.operands.empty() ? std::string() : options.operands[0];
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
    const TreeNode* node = named_node(vault.root, path, failure);
    if (!node) return false;
    return print_secret(SecretString(shown_text(*node, cli_io::kLineEnd)), node->single_line, failure);
}

bool verb_complete(const Options& options, PasswordSource& passwords, Failure& failure)
{
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
    SecretString answer(vault.root.complete(options.operands[0]));
    if (answer.empty()) {
        failure = fail(kExitNotFound, "nothing completes '" + options.operands[0] + "'");
        return false;
    }
    return print_secret(std::move(answer), true, failure);
}

bool verb_export(const Options& options, PasswordSource& passwords, Failure& failure)
{
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
    // The document byte for byte, CR LF as stored: an export loses nothing, and
    // importing it again gives the same vault text.
    return print_secret(SecretString(vault.db.plaintext()), false, failure);
}

}  // namespace cli
