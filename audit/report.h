#pragma once
// The password report: which entries share a password, which passwords are in the
// breach corpus, which are weak and which are old. It names entries, never values.
//
// An entry is a node with a password line (tree/fields.h); its password lines with a
// single-line, non-empty value are checked. An entry with a child `audit: ignore`
// (name and value in any case) is left out; the entries below it are not.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audit/breach.h"
#include "audit/strength.h"
#include "tree/tree.h"

struct AuditEntry {
    const TreeNode* node = nullptr;
    std::string path;  // the names from the top, joined by spaces, as the filter box takes them
    std::string user;  // the value of its first user-name line, or empty
    // Another entry has the same path (under the filter box's matching of names), or
    // the path finds another node first: a row names the entry by its user name too,
    // or by its line number when it has no user name.
    bool path_shared = false;
    std::size_t line = 0;  // the entry's line in the document, from 1

    AuditEntry() = default;
    AuditEntry(const AuditEntry&) = default;
    AuditEntry& operator=(const AuditEntry&) = default;
    ~AuditEntry();  // wipes the path and the user name
};

struct AuditReport {
    struct Breached {
        std::size_t entry;
        std::uint64_t count;  // the highest of its password lines
    };
    struct Weak {
        std::size_t entry;
        StrengthLevel level;  // the weakest of its password lines
    };
    struct Old {
        std::size_t entry;
        std::string date;  // YYYY-MM-DD: when the current value was written
        bool at_least = false;  // the oldest backup already holds the value
    };

    std::vector<AuditEntry> entries;  // every entry checked, in the tree's order
    // Groups of entries (indexes into `entries`, in the tree's order) whose password
    // lines share a value; the groups in the order of their first entry.
    std::vector<std::vector<std::size_t>> reused;
    std::vector<Breached> breached;  // in the tree's order
    std::vector<Weak> weak;  // very weak and weak, in the tree's order
    std::vector<Old> old;  // filled by the caller, which reads the backups
};

// The entries at and below `start` (a node of `root`; the root itself is never an
// entry) that the report checks, in the tree's order, with their paths, user names,
// lines and whether their paths are shared (with any entry of `root`).
std::vector<AuditEntry> list_audit_entries(const TreeNode& root, const TreeNode& start);

// Checks the entries at and below `start` (a node of `root`; the root itself is never
// an entry). With `corpus` (open), every distinct password is looked up once; a
// failure of the lookup stops the report with `error` set and that status.
// Each distinct password is estimated once.
BreachStatus build_audit_report(const TreeNode& root, const TreeNode& start, BreachCorpus* corpus, AuditReport& out,
                                std::string& error);

class KeyCache;
struct BackupFile;

// The Old section: the entries of `report` (built over `root`) whose checked password
// lines hold a value written before `cutoff` (seconds since 1970), read from the
// vault's `backups` (oldest first) with `password`. A value that the oldest backup
// read already holds was written before that backup's time: it is old, "at least"
// that old, when that time is before `cutoff`. An entry's row gives its oldest such
// line. Without backups that open, nothing is old. Only backups dated up to `now` count:
// one dated in the future (a wrong clock) would make an old value look freshly
// written. Returns how many backups could not be read (other passwords or damaged).
std::size_t add_old_passwords(const Tree& root, const std::vector<BackupFile>& backups, KeyCache& password,
                              std::int64_t cutoff, std::int64_t now, AuditReport& report);

// How a row names its entry: the path, and where the path is shared " (user name)",
// or " (line N)" for an entry without a user name.
std::string audit_entry_label(const AuditEntry& entry);

// One line of the report as shown: a section's heading, a row that names an entry
// (`entry` its index in AuditReport::entries), or the summary.
// The text names entries and user names: it is wiped when the line goes.
struct AuditLine {
    std::string text;
    std::size_t entry = kNoAuditEntry;
    static constexpr std::size_t kNoAuditEntry = static_cast<std::size_t>(-1);

    AuditLine() = default;
    AuditLine(std::string line_text, std::size_t line_entry = kNoAuditEntry)
        : text(std::move(line_text)), entry(line_entry)
    {
    }
    AuditLine(const AuditLine&) = default;
    AuditLine(AuditLine&&) noexcept = default;
    AuditLine& operator=(const AuditLine&) = default;
    AuditLine& operator=(AuditLine&&) noexcept = default;
    ~AuditLine();
};

// The report's lines: the sections Reused (each row led by its group's number),
// Breached (the count), Weak (the level) and Old (the date), each with its heading
// and left out when empty, then a one-line summary. Rows are indented by two spaces.
std::vector<AuditLine> audit_lines(const AuditReport& report);

// The lines of audit_lines, each ended by "\n": what the companion prints.
std::string format_audit_report(const AuditReport& report);

// True for a child that leaves its entry out of the report: `audit: ignore`.
bool is_audit_ignore_line(const TreeNode& child);
