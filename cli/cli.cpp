#include "cli/cli.h"

#include "cli/options.h"
#include "cli/output.h"
#include "cli/passwords.h"
#include "cli/terminal.h"
#include "cli/verbs.h"
#include "glimkeep_version.h"

#include <cstddef>
#include <new>

namespace cli {
namespace {

// The options that only some verbs take.
enum VerbOption : unsigned {
    kTakesAt = 1,  // --at
    kTakesConflicts = 2,  // --conflicts, --delete-merged
    kTakesThinning = 4,  // --no-password, --thin, --dry-run
    kTakesSince = 8,  // --since
    kTakesAudit = 16,  // --pwned, --verify-pwned, --older-than
    kTakesWords = 32,  // --words, --separator
};

// One verb: the operands it takes, its own options, what runs it, and its help: one
// line per form, "USAGE\tWHAT IT DOES", the lines without a tab continuing the text.
struct Verb {
    const char* name;
    std::size_t min_operands;
    std::size_t max_operands;
    unsigned options;
    VerbFunction run;
    const char* help;
};

// The verbs in the order of the help text.
constexpr Verb kVerbs[] = {
    {"show", 0, 1, 0, verb_show,
     "show [PATH]\tprint what the editor shows for the filter text PATH: a value\n"
     "alone, or the entry's lines with its children at the margin;\n"
     "without PATH the whole document\n"},
    {"complete", 1, 1, 0, verb_complete, "complete QUERY\tprint the filter text that Tab completes QUERY to\n"},
    {"export", 0, 0, 0, verb_export, "export\tprint the whole document as stored (CR LF line ends)\n"},
    {"import", 0, 0, 0, verb_import, "import\treplace the document with the text read from standard input\n"},
    {"import-csv", 1, 1, 0, verb_import_csv,
     "import-csv FILE\tadd the rows of a CSV export (FILE, or - for standard input)\n"
     "as entries after the document: the exports of Chromium\n"
     "browsers, Firefox, Bitwarden, KeePassXC, KeePass 2, LastPass,\n"
     "1Password and export-csv\n"},
    {"export-csv", 0, 0, 0, verb_export_csv,
     "export-csv\tprint the entries that hold a password as CSV (not encrypted)\n"},
    {"passwd", 0, 0, 0, verb_passwd, "passwd\tchange the master password\n"},
    {"upgrade", 0, 0, 0, verb_upgrade,
     "upgrade\tconvert a vault of format 1.0 to format 2.0 under a new\n"
     "master password\n"},
    {"generate", 0, 0, kTakesWords, verb_generate,
     "generate\tprint a generated password of 20 characters\n"
     "generate --words N [--separator C]\tprint a passphrase of N words (3 to 20, default 6) joined by C\n"
     "(one printable character other than ':', default -), each\n"
     "drawn uniformly from 8,192 common English words: 13 bits a\n"
     "word, 78 bits for six\n"},
    {"init", 0, 0, 0, verb_init, "init\tcreate a new, empty vault (an existing file is never replaced)\n"},
    {"code", 1, 1, kTakesAt, verb_code,
     "code PATH\tprint the current one-time code (TOTP) of the entry PATH: from\n"
     "the node itself or its first child that holds a secret (a\n"
     "value otpauth://totp/..., or a node named otp or totp with a\n"
     "base32 secret)\n"},
    {"merge", 0, 1, kTakesConflicts, verb_merge,
     "merge OTHER\tfold the vault file OTHER into the vault (its password is asked\n"
     "second; an empty answer means the vault's); entries of one name\n"
     "are joined only where their lines show they are one, else kept\n"
     "side by side\n"
     "merge --conflicts [--delete-merged]\tmerge the copies that synchronisation programs left beside the\n"
     "vault (names holding 'sync-conflict' or 'conflicted copy'),\n"
     "and with --delete-merged erase those merged; a copy that does not\n"
     "open or holds a zero byte is named under 'skipped:'\n"},
    {"merge-file", 3, 3, 0, verb_merge_file,
     "merge-file BASE OURS THEIRS\tgit's merge driver: write into OURS (no backup) what OURS and\n"
     "THEIRS each changed since BASE (an empty file: no entries; a\n"
     "missing one fails); further passwords are tried on each file not\n"
     "yet opened; a 1.0 key of THEIRS never replaces OURS's 2.0\n"},
    {"backups", 0, 0, kTakesThinning, verb_backups,
     "backups [--no-password]\tlist the backups beside the vault, newest first: name, date,\n"
     "size, format and whether it opens with the vault's password\n"
     "(not asked with --no-password), then their count and size\n"
     "backups --thin [--dry-run]\tdelete backups, keeping every one of the last 7 days, one a\n"
     "day for 90 days, one a month before that, the newest 20 and\n"
     "the newest of format 2.0 that opens with the password (with\n"
     "--dry-run only print what would go)\n"},
    {"history", 0, 1, kTakesSince, verb_history,
     "history PATH\tprint every earlier value of the line PATH (of each line of\n"
     "the entry PATH) found in the backups, oldest first, with the\n"
     "dates it was written and replaced\n"
     "history --since [PATH]\tprint when the value of each password line under PATH (or\n"
     "in the whole document) was written, oldest first\n"},
    {"audit", 0, 1, kTakesAudit, verb_audit,
     "audit [PATH]\tprint the password report of the entries at and under PATH:\n"
     "those that share a password, are in the breach file (--pwned),\n"
     "are weak, or (--older-than DAYS) were written more than DAYS\n"
     "days ago, as the backups tell; never a password\n"
     "audit --verify-pwned FILE\tread the whole breach file once and say whether every\n"
     "line is HASH:COUNT, each above the one before (the open\n"
     "check of --pwned reads only parts of it)\n"},
};

constexpr char kHelpStart[] = "Usage: glimkeep-cli [OPTION]... COMMAND [ARGUMENT]\n"
                              "Reads and writes a Glimkeep vault.\n"
                              "\n"
                              "Commands:\n";

constexpr char kHelpEnd[] = "\n"
                            "Options:\n"
                            "  --vault FILE       the vault (default: passwords.gkv in the current folder)\n"
                            "  --password-fd N    read the passwords from file descriptor N, one per line,\n"
                            "                     instead of asking on the terminal (passwd and upgrade:\n"
                            "                     the current password, then the new one; history: the\n"
                            "                     current one, then others to try on the backups)\n"
                            "  --at SECONDS       code: the code at this time (seconds since 1970, UTC)\n"
                            "                     instead of now\n"
                            "  --pwned FILE       audit: the breached passwords' SHA-1 file ordered by hash\n"
                            "                     (HASH:COUNT lines), or a folder of per-prefix files\n"
                            "                     (XXXXX.txt)\n"
                            "  --older-than DAYS  audit: list the passwords written more than DAYS days ago\n"
                            "  --verify-pwned FILE  audit: check the whole breach file instead of a report\n"
                            "  --help             show this help and exit\n"
                            "  --version          show the version and exit\n"
                            "\n"
                            "PATH and QUERY are filter texts as in the editor: names separated by single\n"
                            "spaces, letters in any case. import, import-csv, passwd, upgrade and merge\n"
                            "first copy the vault to a backup beside it (FILE.SECONDS.bak); nothing is\n"
                            "written unless the whole command succeeds, and nothing when the vault changed\n"
                            "while the command ran. export-csv warns on standard error that its output is\n"
                            "not encrypted, and counts the entries it left out.\n"
                            "\n"
                            "Exit status: 0 on success; the vault's status code when it fails (1 the file\n"
                            "cannot be read or written, 2 not a vault or damaged, 3 unsupported version,\n"
                            "8 no password, 9 wrong password, 10 random source failed); 11 when merge-file\n"
                            "kept a value twice (OURS holds both); 64 for a command line that is not\n"
                            "understood; 65 when PATH or QUERY names nothing, PATH holds no one-time secret\n"
                            "or one that cannot be read, the CSV file is of no known layout or damaged,\n"
                            "the --pwned or --verify-pwned file is not the SHA-1 file ordered by hash (nor\n"
                            "the folder), or a file to merge holds a zero byte;\n"
                            "75 when the vault changed while the command ran (try again).\n";

// The help text, its list of commands from the table: the usage at the margin, the
// text in a column beside it, or below it when the usage is wider than the margin.
std::string help_text()
{
    constexpr std::size_t kIndent = 2;
    constexpr std::size_t kColumn = 18;
    std::string text = kHelpStart;
    for (const Verb& verb : kVerbs) {
        for (const char* line = verb.help; *line;) {
            const char* end = line;
            while (*end && *end != '\n') ++end;
            const std::string whole(line, end);
            const std::string::size_type tab = whole.find('\t');
            if (tab == std::string::npos) {
                text += std::string(kColumn, ' ') + whole + "\n";
            } else {
                std::string usage = std::string(kIndent, ' ') + whole.substr(0, tab);
                usage += usage.size() < kColumn ? std::string(kColumn - usage.size(), ' ')
                                                : "\n" + std::string(kColumn, ' ');
                text += usage + whole.substr(tab + 1) + "\n";
            }
            line = *end ? end + 1 : end;
        }
    }
    return text + kHelpEnd;
}

const Verb* find_verb(const std::string& name)
{
    for (const Verb& verb : kVerbs)
        if (name == verb.name) return &verb;
    return nullptr;
}

// The verb that the command line names, its operands counted and its options checked.
const Verb* checked_verb(const Options& options, Failure& failure)
{
    if (options.command.empty()) {
        failure = fail(kExitUsage, "no command given");
        return nullptr;
    }
    const Verb* verb = find_verb(options.command);
    if ((options.conflicts || options.delete_merged) && !(verb && (verb->options & kTakesConflicts))) {
        failure = fail(kExitUsage, options.command + ": --conflicts and --delete-merged go with merge");
        return nullptr;
    }
    if (!verb) {
        failure = fail(kExitUsage, "unknown command '" + options.command + "'");
        return nullptr;
    }
    if (options.operands.size() < verb->min_operands) {
        failure = fail(kExitUsage, options.command + ": missing argument");
        return nullptr;
    }
    if (options.operands.size() > verb->max_operands) {
        failure =
            fail(kExitUsage, options.command + ": unexpected argument '" + options.operands[verb->max_operands] + "'");
        return nullptr;
    }
    if ((options.no_password || options.thin || options.dry_run) && !(verb->options & kTakesThinning)) {
        failure = fail(kExitUsage, options.command + ": --no-password, --thin and --dry-run go with backups");
        return nullptr;
    }
    if (options.since && !(verb->options & kTakesSince)) {
        failure = fail(kExitUsage, options.command + ": --since goes with history");
        return nullptr;
    }
    if ((options.words != 0 || options.separator_given) && !(verb->options & kTakesWords)) {
        failure = fail(kExitUsage, "options '--words' and '--separator' belong to the command generate");
        return nullptr;
    }
    if ((!options.pwned.empty() || !options.verify_pwned.empty() || options.older_than_given) &&
        !(verb->options & kTakesAudit)) {
        failure =
            fail(kExitUsage, "options '--pwned', '--verify-pwned' and '--older-than' belong to the command audit");
        return nullptr;
    }
    if (options.at_given && !(verb->options & kTakesAt)) {
        failure = fail(kExitUsage, "option '--at' belongs to the command code");
        return nullptr;
    }
    return verb;
}

}  // namespace
}  // namespace cli

int run_cli(const std::vector<std::string>& args) noexcept
{
    using namespace cli;
    cli_io::harden_process();
    try {
        Options options;
        Failure failure = parse_options(args, options);
        if (failure.status != DB_OK) return report(failure);
        if (options.help) return write_out(with_line_ends(help_text().c_str()), failure) ? 0 : report(failure);
        if (options.version) {
            const std::string version = std::string(kProgram) + " (Glimkeep) " + GLIMKEEP_VERSION + cli_io::kLineEnd;
            return write_out(version, failure) ? 0 : report(failure);
        }
        const Verb* verb = checked_verb(options, failure);
        if (!verb) return report(failure);
        PasswordSource passwords(options.password_fd);
        if (!verb->run(options, passwords, failure)) return report(failure);
        return 0;
    } catch (const std::bad_alloc&) {
        return report(fail(DB_IO_ERROR, "Not enough memory"));
    } catch (...) {
        return report(fail(DB_IO_ERROR, "An unexpected error occurred"));
    }
}
