#include "cli/cli.h"

#include "cli/terminal.h"
#include "glimkeep_version.h"
#include "crypto/password_generator.h"
#include "csv/csv.h"
#include "crypto/wipe.h"
#include "db/database.h"
#include "db/file_io.h"
#include "db/legacy_backups.h"
#include "otp/otp.h"
#include "tree/merge.h"
#include "vault/document_check.h"
#include "vault/vault_merge.h"
#include "tree/tree.h"
#include "vault/save.h"

#include <cstdint>
#include <cstring>
#include <ctime>
#include <limits>
#include <new>
#include <utility>

namespace {

constexpr char kProgram[] = "glimkeep-cli";

constexpr char kHelp[] = "Usage: glimkeep-cli [OPTION]... COMMAND [ARGUMENT]\n"
                         "Reads and writes a Glimkeep vault.\n"
                         "\n"
                         "Commands:\n"
                         "  show [PATH]     print what the editor shows for the filter text PATH: a value\n"
                         "                  alone, or the entry's lines with its children at the margin;\n"
                         "                  without PATH the whole document\n"
                         "  complete QUERY  print the filter text that Tab completes QUERY to\n"
                         "  export          print the whole document as stored (CR LF line ends)\n"
                         "  import          replace the document with the text read from standard input\n"
                         "  import-csv FILE add the rows of a CSV export (FILE, or - for standard input)\n"
                         "                  as entries after the document: the exports of Chromium\n"
                         "                  browsers, Firefox, Bitwarden, KeePassXC, KeePass 2, LastPass,\n"
                         "                  1Password and export-csv\n"
                         "  export-csv      print the entries that hold a password as CSV (not encrypted)\n"
                         "  passwd          change the master password\n"
                         "  upgrade         convert a vault of format 1.0 to format 2.0 under a new\n"
                         "                  master password\n"
                         "  generate        print a generated password\n"
                         "  init            create a new, empty vault (an existing file is never replaced)\n"
                         "  code PATH       print the current one-time code (TOTP) of the entry PATH: from\n"
                         "                  the node itself or its first child that holds a secret (a\n"
                         "                  value otpauth://totp/..., or a node named otp or totp with a\n"
                         "                  base32 secret)\n"
                         "  merge OTHER     fold the vault file OTHER into the vault (its password is asked\n"
                         "                  second; an empty answer means the vault's)\n"
                         "  merge --conflicts [--delete-merged]\n"
                         "                  merge the copies that synchronisation programs left beside the\n"
                         "                  vault (names holding 'sync-conflict' or 'conflicted copy'),\n"
                         "                  and with --delete-merged erase those merged\n"
                         "\n"
                         "Options:\n"
                         "  --vault FILE       the vault (default: passwords.gkv in the current folder)\n"
                         "  --password-fd N    read the passwords from file descriptor N, one per line,\n"
                         "                     instead of asking on the terminal (passwd and upgrade:\n"
                         "                     the current password, then the new one)\n"
                         "  --at SECONDS       code: the code at this time (seconds since 1970, UTC)\n"
                         "                     instead of now\n"
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
                         "8 no password, 9 wrong password, 10 random source failed); 64 for a command\n"
                         "line that is not understood; 65 when PATH or QUERY names nothing, PATH holds\n"
                         "no one-time secret or one that cannot be read, or the CSV file is of no known\n"
                         "layout or damaged; 75 when the vault changed while the command ran (try\n"
                         "again).\n";

// A failure on its way to standard error and the exit code.
struct Failure {
    int status = DB_OK;
    std::string text;
};

Failure fail(int status, std::string text)
{
    return Failure{status, std::move(text)};
}

struct Options {
    std::string command;
    std::vector<std::string> operands;
    std::string vault = kDatabaseFileName;
    int password_fd = -1;
    bool at_given = false;  // --at: the time for code
    std::int64_t at = 0;
    bool conflicts = false;  // merge --conflicts
    bool delete_merged = false;  // merge --conflicts --delete-merged
    bool help = false;
    bool version = false;
};

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

// Options may come before or after the command; "--" ends them.
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
            if (arg == "--conflicts" || arg == "--delete-merged") {
                (arg == "--conflicts" ? options.conflicts : options.delete_merged) = true;
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
            if (name != "--vault" && name != "--password-fd" && name != "--at")
                return fail(kExitUsage, "unknown option '" + name + "'");
            if (!has_value) {
                if (i + 1 >= args.size()) return fail(kExitUsage, "option '" + name + "' needs a value");
                value = args[++i];
            }
            if (name == "--vault") {
                if (value.empty()) return fail(kExitUsage, "option '--vault' needs a file name");
                options.vault = value;
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

// The text with every LF turned into the platform's line end.
std::string with_line_ends(const char* text)
{
    std::string out;
    for (const char* c = text; *c; ++c) {
        if (*c == '\n')
            out += cli_io::kLineEnd;
        else
            out += *c;
    }
    return out;
}

bool write_out(const std::string& text, Failure& failure)
{
    std::string error;
    if (cli_io::write_out(text.data(), text.size(), error)) return true;
    failure = fail(DB_IO_ERROR, "standard output: " + error);
    return false;
}

// Where passwords come from: the terminal, or one line each from a descriptor.
class PasswordSource {
public:
    explicit PasswordSource(int fd) : fd_(fd) {}

    // The password that opens a vault.
    bool read_current(SecretString& out, Failure& failure) { return read(out, "Password: ", failure); }

    // The password of another vault file; empty when the answer was empty, or (from
    // a descriptor, when `optional`) when the input has ended.
    bool read_other(SecretString& out, const std::string& prompt, bool optional, Failure& failure)
    {
        if (fd_ < 0) return read(out, prompt.c_str(), failure);
        out.clear();
        std::string error;
        bool at_end = false;
        if (cli_io::read_line(fd_, out, at_end, error)) return true;
        out.clear();
        if (at_end && optional) return true;
        failure = fail(DB_NO_PASSWORD, "password descriptor " + std::to_string(fd_) + ": " + error);
        return false;
    }

    // A new master password: asked twice on the terminal, read once from a descriptor.
    // An empty password is refused, as the program refuses it.
    bool read_new(SecretString& out, Failure& failure)
    {
        if (!read(out, "New master password: ", failure)) return false;
        if (out.empty()) {
            failure = fail(DB_NO_PASSWORD, "The master password is empty.");
            return false;
        }
        if (fd_ >= 0) return true;
        SecretString again;
        if (!read(again, "Repeat the new master password: ", failure)) return false;
        if (!again.equals(out)) {
            failure = fail(DB_NO_PASSWORD, "The two passwords differ.");
            return false;
        }
        return true;
    }

private:
    bool read(SecretString& out, const char* prompt, Failure& failure)
    {
        out.clear();
        if (fd_ >= 0 && cli_io::is_terminal(fd_)) {
            // The terminal's echo would show the password as it is typed.
            failure = fail(kExitUsage,
                           "password descriptor " + std::to_string(fd_) +
                               " is a terminal; without --password-fd the password is asked "
                               "with the echo off");
            return false;
        }
        std::string error;
        bool at_end = false;
        const bool read =
            fd_ >= 0 ? cli_io::read_line(fd_, out, at_end, error) : cli_io::read_password(prompt, out, error);
        if (read) return true;
        out.clear();
        failure = fail(DB_NO_PASSWORD, fd_ >= 0 ? "password descriptor " + std::to_string(fd_) + ": " + error : error);
        return false;
    }

    int fd_;
};

void set_password(Database& db, const SecretString& password)
{
    db.set_password(password.data(), static_cast<std::uint32_t>(password.size()));
}

// A vault opened with its password; the document is wiped when it goes.
struct OpenVault {
    Database db;
    Tree root;
    SecretString password;
    VaultFingerprint found;  // the file as the command read it

    OpenVault() = default;
    ~OpenVault() { wipe_tree(root); }
    OpenVault(const OpenVault&) = delete;
    OpenVault& operator=(const OpenVault&) = delete;
};

Failure vault_failure(const Options& options, int status, const Database& db)
{
    std::string text = db.last_error();
    if (text.empty()) text = "status " + std::to_string(status);
    return fail(status, options.vault + ": " + text);
}

// Loads and decrypts the vault with the current password.
bool unlock_vault(const Options& options, PasswordSource& passwords, OpenVault& vault, Failure& failure)
{
    std::string error;
    if (fingerprint_file(options.vault, vault.found, error) != DB_OK) {
        failure = fail(DB_IO_ERROR, options.vault + ": " + error);
        return false;
    }
    if (int status = vault.db.load(options.vault)) {
        failure = vault_failure(options, status, vault.db);
        return false;
    }
    if (!passwords.read_current(vault.password, failure)) return false;
    set_password(vault.db, vault.password);
    if (int status = vault.db.decrypt()) {
        failure = vault_failure(options, status, vault.db);
        return false;
    }
    return true;
}

// Unlocks the vault, then parses the document.
bool open_vault(const Options& options, PasswordSource& passwords, OpenVault& vault, Failure& failure)
{
    if (!unlock_vault(options, passwords, vault, failure)) return false;
    vault.root = parse_plaintext(vault.db);
    return true;
}

long long now_seconds()
{
    return static_cast<long long>(std::time(nullptr));
}

// What the vault pipeline did: a failure on its way out, or a success that may carry
// the note that no backup could be written.
bool saved(const Options& options, const vault::SaveReport& report, Failure& failure)
{
    if (report.status != DB_OK) {
        failure = fail(report.status, options.vault + ": " + report.error);
        return false;
    }
    const std::string note = vault::no_backup_note(report);
    if (!note.empty()) cli_io::write_err_line(std::string(kProgram) + ": " + options.vault + ": " + note);
    return true;
}

// True when the vault's file is still as open_vault read it; a command that rewrites
// the vault asks just before it does, and writes nothing when another program wrote.
bool unchanged_since_open(const Options& options, const OpenVault& vault, Failure& failure)
{
    VaultFingerprint now;
    std::string error;
    if (fingerprint_file(options.vault, now, error) != DB_OK) {
        failure = fail(DB_IO_ERROR, options.vault + ": " + error);
        return false;
    }
    if (now == vault.found) return true;
    failure = fail(kExitChanged,
                   options.vault +
                       ": the vault was changed by another program while this command ran; "
                       "nothing was written. Try again.");
    return false;
}

// Format 1.0 protects no copy of the file: said whenever the companion writes one.
void warn_if_legacy(const Options& options, const Database& db)
{
    if (!db.legacy_format()) return;
    cli_io::write_err_line(std::string(kProgram) + ": warning: " + options.vault +
                           " is written in format 1.0, which anyone with a copy can read without the password; "
                           "'" +
                           kProgram + " upgrade' converts it to format 2.0");
}

// After an upgrade: the 1.0 backups beside the vault still give its text away.
void warn_of_legacy_backups(const Options& options)
{
    const std::vector<std::string> backups = legacy_backups(options.vault);
    if (backups.empty()) return;
    cli_io::write_err_line(std::string(kProgram) + ": warning: " + std::to_string(backups.size()) +
                           " backups of format 1.0 can be read without the password; delete them:");
    for (const std::string& path : backups) cli_io::write_err_line("  " + path);
}

// Writes `text`, and a line end after it when `line` is set, then wipes it. The line
// end goes out on its own: appending it could leave a copy of the text behind.
bool print_secret(SecretString text, bool line, Failure& failure)
{
    bool written = write_out(text.str(), failure);
    text.clear();
    if (written && line) written = write_out(cli_io::kLineEnd, failure);
    return written;
}

// The node that the filter text `path` names; null with the failure when none.
const TreeNode* named_node(const Tree& root, const std::string& path, Failure& failure)
{
    const TreeNode* node = root.find(path);
    if (!node) failure = fail(kExitNotFound, "nothing is named '" + path + "'");
    return node;
}

bool command_show(const Options& options, PasswordSource& passwords, Failure& failure)
{
    const std::string path = options.operands.empty() ? std::string() : options.operands[0];
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
    const TreeNode* node = named_node(vault.root, path, failure);
    if (!node) return false;
    return print_secret(SecretString(shown_text(*node, cli_io::kLineEnd)), node->single_line, failure);
}

bool command_complete(const Options& options, PasswordSource& passwords, Failure& failure)
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

bool command_export(const Options& options, PasswordSource& passwords, Failure& failure)
{
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
    // The document byte for byte, CR LF as stored: an export loses nothing, and
    // importing it again gives the same vault text.
    return print_secret(SecretString(vault.db.plaintext()), false, failure);
}

bool command_import(const Options& options, PasswordSource& passwords, Failure& failure)
{
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
    wipe_tree(vault.root);
    SecretString input;
    std::string error;
    if (!cli_io::read_all(0, input, error)) {
        failure = fail(DB_IO_ERROR, "standard input: " + error);
        return false;
    }
    if (const std::string refusal = zero_byte_refusal(input.str(), "standard input"); !refusal.empty()) {
        failure = fail(kExitNotFound, refusal);
        return false;
    }
    // The document is written as the program writes it: parsed, then every line
    // ended by CR LF.
    vault.root = parse_tree(input.str());
    input.clear();
    if (!unchanged_since_open(options, vault, failure)) return false;
    warn_if_legacy(options, vault.db);
    return saved(options, vault::save_document(vault.db, vault.root, options.vault, now_seconds()), failure);
}

// The rows of a CSV export appended to the vault's text, which stays as it is.
bool command_import_csv(const Options& options, PasswordSource& passwords, Failure& failure)
{
    const std::string& file = options.operands[0];
    OpenVault vault;
    if (!unlock_vault(options, passwords, vault, failure)) return false;
    SecretString csv;
    std::string error;
    if (!(file == "-" ? cli_io::read_all(0, csv, error) : read_csv_file(file, csv, error))) {
        failure = fail(DB_IO_ERROR, (file == "-" ? "standard input" : file) + ": " + error);
        return false;
    }
    if (const std::string refusal = zero_byte_refusal(csv.str(), file == "-" ? "standard input" : file);
        !refusal.empty()) {
        failure = fail(kExitNotFound, refusal);
        return false;
    }
    CsvImport imported;
    {
        const SecretString vault_text(vault.db.plaintext());
        if (!import_csv(vault_text.str(), csv.str(), imported)) {
            failure = fail(kExitNotFound, (file == "-" ? "standard input" : file) + ": " + imported.error);
            return false;
        }
    }
    csv.clear();
    if (!unchanged_since_open(options, vault, failure)) return false;
    warn_if_legacy(options, vault.db);
    const vault::SaveReport report = vault::save_text(vault.db, imported.text.str(), options.vault, now_seconds());
    imported.text.clear();
    if (!saved(options, report, failure)) return false;
    cli_io::write_err_line(std::to_string(imported.rows) + " rows of a " + csv_layout_name(imported.layout) +
                           " export imported");
    return true;
}

// The entries as CSV on standard output; the warnings on standard error.
bool command_export_csv(const Options& options, PasswordSource& passwords, Failure& failure)
{
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
    CsvExport exported;
    export_csv(vault.root, exported);
    cli_io::write_err_line("Warning: the CSV output is not encrypted; anyone who can read it sees the passwords.");
    if (exported.left_out)
        cli_io::write_err_line(std::to_string(exported.left_out) +
                               (exported.left_out == 1 ? " entry was" : " entries were") +
                               " left out: no password child.");
    return print_secret(std::move(exported.text), false, failure);
}

bool command_passwd(const Options& options, PasswordSource& passwords, Failure& failure)
{
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
    SecretString password;
    if (!passwords.read_new(password, failure)) return false;
    if (!unchanged_since_open(options, vault, failure)) return false;
    warn_if_legacy(options, vault.db);
    return saved(options,
                 vault::change_password(vault.db, options.vault, password.data(),
                                        static_cast<std::uint32_t>(password.size()), now_seconds()),
                 failure);
}

// A new master password comes with the new format: the old one can be found from
// any 1.0 copy of the vault, so keeping it would leave the 2.0 vault no safer.
bool command_upgrade(const Options& options, PasswordSource& passwords, Failure& failure)
{
    OpenVault vault;
    if (!unlock_vault(options, passwords, vault, failure)) return false;
    if (!vault.db.legacy_format()) {
        std::string note = options.vault + " is already in format 2.0" + cli_io::kLineEnd;
        return write_out(note, failure);
    }
    // A 1.0 copy of the vault gives its password away, so the upgrade takes a new one.
    SecretString password;
    if (!passwords.read_new(password, failure)) return false;
    if (password.equals(vault.password)) {
        failure = fail(DB_NO_PASSWORD, kSamePasswordRefused);
        return false;
    }
    if (!unchanged_since_open(options, vault, failure)) return false;
    if (!saved(options,
               vault::upgrade(vault.db, options.vault, password.data(), static_cast<std::uint32_t>(password.size()),
                              now_seconds()),
               failure))
        return false;
    warn_of_legacy_backups(options);
    return true;
}

bool command_generate(Failure& failure)
{
    char password[kGeneratedPasswordLength];
    WipeOnExit wipe_password(password, sizeof password);
    if (generate_password(password) != 0) {
        failure = fail(DB_RANDOM_FAILED, "The random number generator failed");
        return false;
    }
    return print_secret(SecretString(password, sizeof password), true, failure);
}

bool command_init(const Options& options, PasswordSource& passwords, Failure& failure)
{
    if (cli_io::path_exists(options.vault)) {
        failure = fail(DB_IO_ERROR, options.vault + ": File exists");
        return false;
    }
    SecretString password;
    if (!passwords.read_new(password, failure)) return false;
    Database db;
    set_password(db, password);
    db.set_plaintext("", 0);
    // The save refuses a file that appeared while the password was typed or the vault written.
    if (int status = db.save_new(options.vault)) {
        failure = fail(status, options.vault + ": " + db.last_error());
        return false;
    }
    return true;
}

bool command_code(const Options& options, PasswordSource& passwords, Failure& failure)
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

bool command_merge_conflicts(const Options& options, PasswordSource& passwords, Failure& failure)
{
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
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

bool command_merge(const Options& options, PasswordSource& passwords, Failure& failure)
{
    if (options.conflicts) {
        if (!options.operands.empty()) {
            failure = fail(kExitUsage, "merge --conflicts: unexpected argument '" + options.operands[0] + "'");
            return false;
        }
        return command_merge_conflicts(options, passwords, failure);
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
    const TreeMerge merge = merge_two_way(vault.root, other.root);
    if (merge.merged == vault.root)
        return write_out(path + " holds nothing that the vault does not" + cli_io::kLineEnd, failure);
    if (!save_merged(options, vault, merge.merged, failure)) return false;
    return write_out("merged: " + path + cli_io::kLineEnd, failure) && print_kept_twice(merge, failure);
}

struct CommandShape {
    const char* name;
    std::size_t min_operands;
    std::size_t max_operands;
};

constexpr CommandShape kCommands[] = {
    {"show", 0, 1},   {"complete", 1, 1},   {"export", 0, 0},     {"import", 0, 0},
    {"passwd", 0, 0}, {"upgrade", 0, 0},    {"generate", 0, 0},   {"init", 0, 0},
    {"code", 1, 1},   {"import-csv", 1, 1}, {"export-csv", 0, 0}, {"merge", 0, 1},
};

Failure check_shape(const Options& options)
{
    if (options.command.empty()) return fail(kExitUsage, "no command given");
    if ((options.conflicts || options.delete_merged) && options.command != "merge")
        return fail(kExitUsage, options.command + ": --conflicts and --delete-merged go with merge");
    for (const CommandShape& shape : kCommands) {
        if (options.command != shape.name) continue;
        if (options.operands.size() < shape.min_operands)
            return fail(kExitUsage, options.command + ": missing argument");
        if (options.operands.size() > shape.max_operands)
            return fail(kExitUsage,
                        options.command + ": unexpected argument '" + options.operands[shape.max_operands] + "'");
        if (options.at_given && options.command != "code")
            return fail(kExitUsage, "option '--at' belongs to the command code");
        return Failure{};
    }
    return fail(kExitUsage, "unknown command '" + options.command + "'");
}

bool run_command(const Options& options, Failure& failure)
{
    PasswordSource passwords(options.password_fd);
    const std::string& c = options.command;
    if (c == "show") return command_show(options, passwords, failure);
    if (c == "complete") return command_complete(options, passwords, failure);
    if (c == "export") return command_export(options, passwords, failure);
    if (c == "import") return command_import(options, passwords, failure);
    if (c == "passwd") return command_passwd(options, passwords, failure);
    if (c == "upgrade") return command_upgrade(options, passwords, failure);
    if (c == "generate") return command_generate(failure);
    if (c == "code") return command_code(options, passwords, failure);
    if (c == "import-csv") return command_import_csv(options, passwords, failure);
    if (c == "export-csv") return command_export_csv(options, passwords, failure);
    if (c == "merge") return command_merge(options, passwords, failure);
    return command_init(options, passwords, failure);
}

int report(const Failure& failure) noexcept
{
    try {
        cli_io::write_err_line(std::string(kProgram) + ": " + failure.text);
        if (failure.status == kExitUsage)
            cli_io::write_err_line(std::string("Try '") + kProgram + " --help' for more information.");
    } catch (...) {
    }
    return failure.status;
}

}  // namespace

int run_cli(const std::vector<std::string>& args) noexcept
{
    cli_io::harden_process();
    try {
        Options options;
        Failure failure = parse_options(args, options);
        if (failure.status != DB_OK) return report(failure);
        if (options.help) return write_out(with_line_ends(kHelp), failure) ? 0 : report(failure);
        if (options.version) {
            const std::string version = std::string(kProgram) + " (Glimkeep) " + GLIMKEEP_VERSION + cli_io::kLineEnd;
            return write_out(version, failure) ? 0 : report(failure);
        }
        failure = check_shape(options);
        if (failure.status != DB_OK) return report(failure);
        if (!run_command(options, failure)) return report(failure);
        return 0;
    } catch (const std::bad_alloc&) {
        return report(fail(DB_IO_ERROR, "Not enough memory"));
    } catch (...) {
        return report(fail(DB_IO_ERROR, "An unexpected error occurred"));
    }
}
