// generate: a password or a passphrase from the program's generators.

#include "audit/passphrase.h"
#include "cli/verbs.h"
#include "crypto/password_generator.h"
#include "crypto/wipe.h"

namespace cli {

bool verb_generate(const Options& options, PasswordSource&, Failure& failure)
{
    if (options.separator_given && options.words == 0) {
        failure = fail(kExitUsage, "generate: --separator goes with --words");
        return false;
    }
    if (options.words != 0) {
        SecretString phrase;
        if (generate_passphrase(options.words, options.separator, phrase) != 0) {
            failure = fail(DB_RANDOM_FAILED, "The random number generator failed");
            return false;
        }
        return print_secret(std::move(phrase), true, failure);
    }
    char password[kGeneratedPasswordLength];
    WipeOnExit wipe_password(password, sizeof password);
    if (generate_password(password) != 0) {
        failure = fail(DB_RANDOM_FAILED, "The random number generator failed");
        return false;
    }
    return print_secret(SecretString(password, sizeof password), true, failure);
}

}  // namespace cli
