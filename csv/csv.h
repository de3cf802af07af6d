#pragma once
// Moving in and out: the CSV exports of browsers and other password managers read
// into the vault's text, and the vault's entries written out as CSV.
//
// Every buffer here that holds imported or exported text (the CSV text, its fields,
// the rendered entries) is a SecretString or is wiped before it is released.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/wipe.h"
#include "tree/tree.h"

// The records of a CSV text (RFC 4180): fields separated by commas, records by
// CR LF or LF (a lone CR ends a record too); a field in double quotes may hold
// commas, line breaks and doubled quotes, which stand for one quote. A UTF-8
// byte-order mark at the start is skipped; the last record may lack its line end.
// Lenient where no data is at stake: text after a closing quote is kept as part of
// the field, a quote inside an unquoted field is an ordinary byte.
class CsvTable {
public:
    // The records read; a record ends with its line end, so an empty line is a
    // record of one empty field.
    std::size_t records() const noexcept { return records_.size(); }
    std::size_t fields(std::size_t record) const noexcept { return records_[record].count; }
    // The field's bytes, quotes removed; empty for a column the record does not have.
    // The view lives as long as the table.
    std::string_view field(std::size_t record, std::size_t column) const noexcept;
    // The line of the text (from 1) on which the record starts.
    std::size_t line(std::size_t record) const noexcept { return records_[record].line; }

    // Reads `text`, replacing what the table held. False when a quoted field is not
    // closed: `error_line` is then the line on which its quote opened. Needs memory
    // in proportion to the text's size, whatever the text holds.
    bool read(std::string_view text, std::size_t& error_line);

private:
    struct Record {
        std::size_t first;  // index of the record's first field in ends_
        std::size_t count;
        std::size_t line;
    };
    SecretString cells_;  // every field's bytes, one after the other
    std::vector<std::size_t> ends_;  // where each field ends in cells_
    std::vector<Record> records_;
};

// The exports the importer recognises by their header row.
enum class CsvLayout { kGlimkeep, kKeePassXC, kBitwarden, kLastPass, kOnePassword, kKeePass2, kChromium, kFirefox };

// "Chromium", "Firefox", "Bitwarden", ...: for messages.
const char* csv_layout_name(CsvLayout layout) noexcept;

struct CsvImport {
    SecretString text;  // the vault's text with the new entries
    std::size_t rows = 0;  // the rows that became entries
    CsvLayout layout = CsvLayout::kGlimkeep;
    std::string error;  // why nothing was imported, naming the line ("line 3: ...")
};

// Turns the rows of `csv` into entries added to `vault_text`, which is read once.
// Every byte of `vault_text` stays, in order; the new lines (ended by CR LF) come
// after the subtree of the entry they join, or at the end. A row's group path
// becomes nested entries: at each level the first entry of that name (one already in
// the vault, or one this import made) takes it, otherwise a new entry is made. The
// row's entry (named by its title, or the host of its URL) is always a new one.
// False with `result.error` set, and `result.text` empty, for a file of no known
// layout, a quote left open, or a group path deeper than kMaxCsvGroupDepth.
bool import_csv(std::string_view vault_text, std::string_view csv, CsvImport& result);

inline constexpr std::size_t kMaxCsvGroupDepth = 64;

// How a title or a group name from a CSV file becomes a name of the tree, which
// cannot hold a line break, start with a tab or hold ": ": every line break (CR LF,
// LF or CR) becomes a space, tabs at the start are dropped, and the spaces after a
// colon are dropped ("Bank: savings" becomes "Bank:savings").
std::string csv_name(std::string_view text);

// The host name of a URL: "https://user@login.example.com:8443/x?y" gives
// "login.example.com"; a URL without "://" is read as starting with the host.
std::string_view url_host(std::string_view url) noexcept;

// The CSV header of export_csv, without its line end.
inline constexpr char kCsvExportHeader[] = "group,title,username,password,url,notes,otp";

struct CsvExport {
    SecretString text;  // the header and one row per entry, every line ended by CR LF
    std::size_t rows = 0;
    // Entries (nodes holding lines) that have no `password` child and nothing
    // exported below them.
    std::size_t left_out = 0;
};

// Writes one row per node that has a child named `password` or `pass` (names matched
// in any case): its ancestors' names joined by "/" as the group, its name as the
// title, the first child named `user`, `username`, `login` or `email`, `url` or
// `website`, `notes`, `otp` or `totp`. A value of several lines (a child with lines
// of its own) is written with its lines joined by CR LF.
void export_csv(const TreeNode& root, CsvExport& result);

// Reads the whole file at `path` into `out` (no C library buffer in between).
// False with the system's description in `error`.
bool read_csv_file(const std::string& path, SecretString& out, std::string& error);
