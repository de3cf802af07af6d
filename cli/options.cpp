#include "cli/options.h"

#include "audit/passphrase.h"

#include "cli/cli.h"

#include <limits>

namespace cli {
namespace {

bool parse_descriptor(const std::string& text, int& fd)
{
    if (text.empty() || text.size() > 9) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    fd = value;
    return true;
}

// Seconds since 1970: decimal digits only, at most 2^63 - 1.
bool parse_seconds(const std::string& text, std::int64_t& seconds)
{
    if (text.empty()) return false;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const int digit = c - '0';
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return false;
        value = value * 10 + digit;
    }
    seconds = value;
    return true;
}

// The option without a value that `arg` names, or null.
bool* flag_of(const std::string& arg, Options& options)
{
    if (arg == "--conflicts") return &options.conflicts;
    if (arg == "--delete-merged") return &options.delete_merged;
    if (arg == "--no-password") return &options.no_password;
    if (arg == "--thin") return &options.thin;
    if (arg == "--dry-run") return &options.dry_run;
    if (arg == "--since") return &options.since;
    return nullptr;
}

}  // namespace

Failure parse_options(const std::vector<std::string>& args, Options& options)
{
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!options_ended && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--") {
                options_ended = true;
                continue;
            }
            if (arg == "--help" || arg == "-h") {
                options.help = true;
                continue;
            }
            if (arg == "--version") {
                options.version = true;
                continue;
            }
            if (bool* flag = flag_of(arg, options)) {
                *flag = true;
                continue;
            }
            std::string name = arg;
            std::string value;
            bool has_value = false;
            const std::string::size_type equals = arg.find('=');
            if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
                name = arg.substr(0, equals);
                value = arg.substr(equals + 1);
                has_value = true;
            }
            if (name != "--vault" && name != "--password-fd" && name != "--at" && name != "--pwned" &&
                name != "--verify-pwned" && name != "--older-than" && name != "--words" && name != "--separator")
                return fail(kExitUsage, "unknown option '" + name + "'");
            if (!has_value) {
                if (i + 1 >= args.size()) return fail(kExitUsage, "option '" + name + "' needs a value");
                value = args[++i];
            }
            if (name == "--vault") {
                if (value.empty()) return fail(kExitUsage, "option '--vault' needs a file name");
                options.vault = value;
            } else if (name == "--pwned") {
                if (value.empty()) return fail(kExitUsage, "option '--pwned' needs a file or folder name");
                options.pwned = value;
            } else if (name == "--words") {
                std::int64_t words = 0;
                if (!parse_seconds(value, words) || words < kPassphraseMinWords || words > kPassphraseMaxWords)
                    return fail(kExitUsage,
                                "option '--words' needs a number from " + std::to_string(kPassphraseMinWords) + " to " +
                                    std::to_string(kPassphraseMaxWords) + ", not '" + value + "'");
                options.words = static_cast<int>(words);
            } else if (name == "--separator") {
                if (value.size() != 1 || !is_passphrase_separator(value[0]))
                    return fail(kExitUsage,
                                "option '--separator' needs one printable character other than ':', not '" + value +
                                    "'");
                options.separator = value[0];
                options.separator_given = true;
            } else if (name == "--verify-pwned") {
                if (value.empty()) return fail(kExitUsage, "option '--verify-pwned' needs a file name");
                options.verify_pwned = value;
            } else if (name == "--older-than") {
                if (!parse_seconds(value, options.older_than_days) || options.older_than_days > kMaxOlderThanDays)
                    return fail(kExitUsage, "option '--older-than' needs a number of days, not '" + value + "'");
                options.older_than_given = true;
            } else if (name == "--at") {
                if (!parse_seconds(value, options.at))
                    return fail(kExitUsage, "option '--at' needs a time in seconds since 1970, not '" + value + "'");
                options.at_given = true;
            } else if (!parse_descriptor(value, options.password_fd)) {
                return fail(kExitUsage, "option '--password-fd' needs a descriptor number, not '" + value + "'");
            }
            continue;
        }
        if (options.command.empty())
            options.command = arg;
        else
            options.operands.push_back(arg);
    }
    return Failure{};
}

}  // namespace cli
