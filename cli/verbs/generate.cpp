// generate: a password from the program's generator.

#include "cli/verbs.h"
#include "crypto/password_generator.h"
#include "crypto/wipe.h"

namespace cli {

bool verb_generate(const Options&, PasswordSource&, Failure& failure)
{
    char password[kGeneratedPasswordLength];
    WipeOnExit wipe_password(password, sizeof password);
    if (generate_password(password) != 0) {
        failure = fail(DB_RANDOM_FAILED, "The random number generator failed");
        return false;
    }
    return print_secret(SecretString(password, sizeof password), true, failure);
}

}  // namespace cli
