#pragma once
// Earlier values of a vault's lines, read from its backups.
//
// A backup named with time T holds the file as it was just before the save at T.
// Reading the backups from the newest to the oldest, a value that a line holds from
// backup i on (and in the newer ones up to backup j, or up to the file itself) was
// written by the save at the time of the backup before i (the next older one read)
// and replaced by the save at the time of backup j. When the oldest backup read
// already holds it, it was written before that backup's time.
//
// A line is followed from the current document back through the backups by its
// chain of names, the siblings of each level paired as the three-way merge pairs
// them (match_siblings), so that two entries of one name keep apart. A line missing
// from a backup is looked for in the next older one from where it was last found.
// Backups that cannot be read or are damaged are skipped and counted; those that do
// not open with any password given are counted apart. Every document read is wiped
// when it is no longer needed.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "backups/backup_files.h"
#include "backups/key_cache.h"
#include "crypto/wipe.h"
#include "tree/tree.h"

// When a value was written.
struct WhenWritten {
    enum Kind {
        kAt,  // by the save at `seconds`
        kBefore,  // the oldest backup read, of time `seconds`, already holds it
        kUnknown,  // no backup was read
    };
    Kind kind = kUnknown;
    std::int64_t seconds = 0;
};

// "2024-05-01 10:00:00", "before 2024-05-01 10:00:00" or "unknown" (local time).
std::string when_written_text(const WhenWritten& when);

// Orders dates of writing, oldest first ("before T" ahead of "at T", unknown first).
bool written_earlier(const WhenWritten& a, const WhenWritten& b);

struct HeldValue {
    SecretString value;
    WhenWritten written;
    bool current = false;  // the value the line holds now
    std::int64_t replaced = 0;  // when not current: the time of the save that replaced it
};

// "written before 2024-05-01 10:00:00, replaced 2024-06-01 09:30:00" or
// "written 2024-06-01 09:30:00, current" (local time).
std::string held_value_dates(const HeldValue& held);

// The closing lines of a history: the backups not read, or "" when all were.
std::string backups_not_read_text(std::size_t other_passwords, std::size_t damaged, const char* line_end);

struct LineHistory {
    const TreeNode* line = nullptr;  // in the current document
    std::string path;  // its names joined by single spaces, from the top
    std::vector<HeldValue> values;  // oldest first; with `current_only` the current value alone
};

struct HistoryReport {
    std::vector<LineHistory> lines;  // in the order asked for
    std::size_t read = 0;  // backups read
    std::size_t other_passwords = 0;  // backups that no password given opens
    std::size_t damaged = 0;  // backups that cannot be read, or are no vault file
};

// The history of `lines` (nodes of `current`; a node that is not a line of
// `current` gets an empty history) over `backups` (oldest first, as list_backups
// gives them). `passwords` are tried on each backup in turn (the current one
// first). A line's value is its content when it has one (a single-line node). With
// `current_only` only the current value's date is found, and the reading stops as
// soon as all of them are known. Throws std::bad_alloc.
HistoryReport read_history(const std::vector<BackupFile>& backups, const Tree& current,
                           const std::vector<const TreeNode*>& lines, const std::vector<KeyCache*>& passwords,
                           bool current_only);

// The lines whose histories show a node: the node itself when it has no children,
// else its children.
std::vector<const TreeNode*> lines_of(const TreeNode& node);

// The password lines (is_password_line, with a value) at and under `node`, in
// document order.
std::vector<const TreeNode*> password_lines_under(const TreeNode& node);
