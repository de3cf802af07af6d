// import, import-csv, export-csv: the document replaced by text, extended by the rows
// of a CSV export, or written out as CSV.

#include "cli/terminal.h"
#include "cli/vault_file.h"
#include "cli/verbs.h"
#include "csv/csv.h"
#include "vault/document_check.h"

#include <utility>

namespace cli {

bool verb_import(const Options& options, PasswordSource& passwords, Failure& failure)
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
bool verb_import_csv(const Options& options, PasswordSource& passwords, Failure& failure)
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
bool verb_export_csv(const Options& options, PasswordSource& passwords, Failure& failure)
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

}  // namespace cli
