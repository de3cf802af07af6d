#pragma once
// The companion's command line: the command, its operands, and the options, which
// may come before or after the command.

#include "cli/output.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// The most days --older-than takes (some 2,700 years).
inline constexpr std::int64_t kMaxOlderThanDays = 1000000;

struct Options {
    std::string command;
    std::vector<std::string> operands;
    std::string vault = kDatabaseFileName;
    int password_fd = -1;
    bool at_given = false;  // --at: the time for code
    std::int64_t at = 0;
    bool conflicts = false;  // merge --conflicts
    bool delete_merged = false;  // merge --conflicts --delete-merged
    bool no_password = false;  // backups --no-password
    bool thin = false;  // backups --thin
    bool dry_run = false;  // backups --thin --dry-run
    bool since = false;  // history --since
    std::string pwned;  // audit --pwned: the breach file or folder
    std::string verify_pwned;  // audit --verify-pwned: the breach file to read whole
    bool older_than_given = false;  // audit --older-than: the age of a password that counts as old
    std::int64_t older_than_days = 0;
    int words = 0;  // generate --words: a passphrase of this many words (0: a password)
    bool separator_given = false;  // generate --separator
    char separator = '-';
    bool help = false;
    bool version = false;
};

// Fills `options` from the arguments; "--" ends the options. The failure (status
// kExitUsage) names the option that is not understood.
Failure parse_options(const std::vector<std::string>& args, Options& options);

}  // namespace cli
