#include "cli/cli.h"

#include "cli/terminal.h"
#include "crypto/password_generator.h"
#include "crypto/wipe.h"
#include "db/backup.h"
#include "db/database.h"
#include "db/legacy_backups.h"
#include "tree/tree.h"

#include <cstdint>
#include <ctime>
#include <limits>
#include <new>
#include <utility>

#ifndef GLIMKEEP_VERSION
#define GLIMKEEP_VERSION "1.0"
#endif

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
                         "  passwd          change the master password\n"
                         "  upgrade         convert a vault of format 1.0 to format 2.0 under a new\n"
                         "                  master password\n"
                         "  generate        print a generated password\n"
                         "  init            create a new, empty vault (an existing file is never replaced)\n"
                         "\n"
                         "Options:\n"
                         "  --vault FILE       the vault (default: passwords.gkv in the current folder)\n"
                         "  --password-fd N    read the passwords from file descriptor N, one per line,\n"
                         "                     instead of asking on the terminal (passwd and upgrade:\n"
                         "                     the current password, then the new one)\n"
                         "  --help             show this help and exit\n"
                         "  --version          show the version and exit\n"
                         "\n"
                         "PATH and QUERY are filter texts as in the editor: names separated by single\n"
                         "spaces, letters in any case. import, passwd and upgrade first copy the vault\n"
                         "to a backup beside it (FILE.SECONDS.bak); nothing is written unless the whole\n"
                         "command succeeds.\n"
                         "\n"
                         "Exit status: 0 on success; the vault's status code when it fails (1 the file\n"
                         "cannot be read or written, 2 not a vault or damaged, 3 unsupported version,\n"
                         "8 no password, 9 wrong password, 10 random source failed); 64 for a command\n"
                         "line that is not understood; 65 when PATH or QUERY names nothing.\n";

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
            std::string name = arg;
            std::string value;
            bool has_value = false;
            const std::string::size_type equals = arg.find('=');
            if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
                name = arg.substr(0, equals);
                value = arg.substr(equals + 1);
                has_value = true;
            }
            if (name != "--vault" && name != "--password-fd") return fail(kExitUsage, "unknown option '" + name + "'");
            if (!has_value) {
                if (i + 1 >= args.size()) return fail(kExitUsage, "option '" + name + "' needs a value");
                value = args[++i];
            }
            if (name == "--vault") {
                if (value.empty()) return fail(kExitUsage, "option '--vault' needs a file name");
                options.vault = value;
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

// Loads and decrypts the vault with the current password, then parses the document.
bool open_vault(const Options& options, PasswordSource& passwords, OpenVault& vault, Failure& failure)
{
    if (int status = vault.db.load(options.vault)) {
        failure = vault_failure(options, status, vault.db);
        return false;
    }
    {
        SecretString password;
        if (!passwords.read_current(password, failure)) return false;
        set_password(vault.db, password);
    }
    if (int status = vault.db.decrypt()) {
        failure = vault_failure(options, status, vault.db);
        return false;
    }
    const SecretString text(vault.db.plaintext());
    vault.root = parse_tree(text.str());
    return true;
}

// Takes the backup, then writes the vault; a failed save takes its backup back, so
// that a failing command leaves no file behind.
bool backup_and_save(const Options& options, Database& db, Failure& failure)
{
    std::string backup_path;
    std::string error;
    if (make_backup_copy(options.vault, static_cast<long long>(std::time(nullptr)), backup_path, error) != DB_OK) {
        failure = fail(DB_IO_ERROR, "backup of " + options.vault + ": " + error);
        return false;
    }
    if (int status = db.save(options.vault)) {
        failure = vault_failure(options, status, db);
        if (!backup_path.empty()) cli_io::remove_file(backup_path);
        return false;
    }
    return true;
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

bool command_show(const Options& options, PasswordSource& passwords, Failure& failure)
{
    const std::string path = options.operands.empty() ? std::string() : options.operands[0];
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
    const TreeNode* node = vault.root.find(path);
    if (!node) {
        failure = fail(kExitNotFound, "nothing is named '" + path + "'");
        return false;
    }
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
    // The document is written as the program writes it: parsed, then every line
    // ended by CR LF.
    vault.root = parse_tree(input.str());
    input.clear();
    const SecretString text(vault.root.serialize("\r\n", 0));
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
        failure = fail(DB_IO_ERROR, "The text is too large to be saved.");
        return false;
    }
    vault.db.set_plaintext(text.data(), static_cast<std::uint32_t>(text.size()));
    warn_if_legacy(options, vault.db);
    return backup_and_save(options, vault.db, failure);
}

bool command_passwd(const Options& options, PasswordSource& passwords, Failure& failure)
{
    OpenVault vault;
    if (!open_vault(options, passwords, vault, failure)) return false;
    SecretString password;
    if (!passwords.read_new(password, failure)) return false;
    set_password(vault.db, password);
    warn_if_legacy(options, vault.db);
    return backup_and_save(options, vault.db, failure);
}

// A new master password comes with the new format: the old one can be found from
// any 1.0 copy of the vault, so keeping it would leave the 2.0 vault no safer.
bool command_upgrade(const Options& options, PasswordSource& passwords, Failure& failure)
{
    Database db;
    if (int status = db.load(options.vault)) {
        failure = vault_failure(options, status, db);
        return false;
    }
    SecretString current;
    if (!passwords.read_current(current, failure)) return false;
    set_password(db, current);
    if (int status = db.decrypt()) {
        failure = vault_failure(options, status, db);
        return false;
    }
    if (!db.legacy_format()) {
        std::string note = options.vault + " is already in format 2.0" + cli_io::kLineEnd;
        return write_out(note, failure);
    }
    SecretString password;
    if (!passwords.read_new(password, failure)) return false;
    if (password.equals(current)) {
        failure = fail(DB_NO_PASSWORD, kSamePasswordRefused);
        return false;
    }
    set_password(db, password);
    db.upgrade_format();
    if (!backup_and_save(options, db, failure)) return false;
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

struct CommandShape {
    const char* name;
    std::size_t min_operands;
    std::size_t max_operands;
};

constexpr CommandShape kCommands[] = {
    {"show", 0, 1},   {"complete", 1, 1}, {"export", 0, 0},   {"import", 0, 0},
    {"passwd", 0, 0}, {"upgrade", 0, 0},  {"generate", 0, 0}, {"init", 0, 0},
};

Failure check_shape(const Options& options)
{
    if (options.command.empty()) return fail(kExitUsage, "no command given");
    for (const CommandShape& shape : kCommands) {
        if (options.command != shape.name) continue;
        if (options.operands.size() < shape.min_operands)
            return fail(kExitUsage, options.command + ": missing argument");
        if (options.operands.size() > shape.max_operands)
            return fail(kExitUsage,
                        options.command + ": unexpected argument '" + options.operands[shape.max_operands] + "'");
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
