// code: the current one-time code of an entry.

#include "cli/vault_file.h"
#include "cli/verbs.h"
#include "otp/otp.h"

#include <utility>

namespace cli {

bool verb_code(const Options& options, PasswordSource& passwords, Failure& failure)
{
    const std::string& path = options.operands[0];
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
    const TreeNode* node = named_node(vault.root, path, failure);
    if (!node) return false;
    SecretString code;
    OtpProblem problem = OtpProblem::none;
    switch (one_time_code(*node, options.at_given ? options.at : unix_time_now(), code, problem)) {
    case OtpStatus::ok: break;
    case OtpStatus::no_secret: failure = fail(kExitNotFound, "'" + path + "': " + kOtpNoSecretText); return false;
    case OtpStatus::unreadable:
        failure = fail(kExitNotFound, "'" + path + "': " + otp_unreadable_text(problem));
        return false;
    }
    return print_secret(std::move(code), true, failure);
}

}  // namespace cli
