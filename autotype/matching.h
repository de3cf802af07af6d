#pragma once
// Which entries a window title names.
//
// Candidates are the nodes below the root with a password line (tree/fields.h) or
// an `auto-type:` line among their children. A candidate matches a title
//   - by window: one of its `window:` lines holds a pattern that matches the whole
//     title, `*` standing for any text (also none);
//   - by name: it has no `window:` line, and its name, or the host name of its first
//     address line, occurs in the title as a whole word: the characters next to it
//     in the title are not letters or digits.
// A pattern of nothing but `*` and spaces matches every window, untitled ones
// included: such an entry is offered in the picker and never typed at once. Only
// the first kMaxTitleLength characters of a title are read. Letters and digits make
// words; spaces, punctuation and symbols (like a trade mark sign) separate them.
// Both compare with the case folded (ASCII, Latin-1, Latin Extended-A, Greek and
// Cyrillic letters); bytes that are not UTF-8 count as U+FFFD.
//
// No function here needs stack in proportion to the nesting depth.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/wipe.h"
#include "tree/tree.h"

// The names of the lines auto-type reads (any case).
inline constexpr char kWindowLineName[] = "window";
inline constexpr char kAutoTypeLineName[] = "auto-type";

// Titles are read up to this many characters (code points).
inline constexpr std::size_t kMaxTitleLength = 1024;

// The first kMaxTitleLength code points of `title` (a byte that is not UTF-8 counts
// as one).
std::string_view capped_title(std::string_view title) noexcept;

// True when `pattern` has characters and none other than `*`, spaces and tabs.
bool matches_every_title(std::string_view pattern) noexcept;

// True when `pattern` (leading and trailing spaces dropped) matches all of `title`
// (its capped part).
// An empty pattern matches nothing.
bool window_pattern_matches(std::string_view pattern, std::string_view title);

// True when `word` (leading and trailing spaces dropped, not empty) occurs in
// `title` with no letter or digit right before or right after it.
bool occurs_as_word(std::string_view word, std::string_view title);

// The host of an address: without scheme, user, port, path, query or fragment, and
// without a leading "www."; empty when there is none.
std::string url_host(std::string_view url);

// True when `node` has a password line or an `auto-type:` line.
bool is_auto_type_candidate(const TreeNode& node);

// One candidate found in the tree: where it is (the child indices from the root, for
// finding it again) and its path (its name and those above it, separated by single
// spaces, as the filter box takes them). The path is wiped when it goes.
struct AutoTypeRow {
    std::vector<std::uint32_t> position;
    SecretString path;
    bool by_window = false;
};

// Every candidate of the tree, in document order.
std::vector<AutoTypeRow> all_candidates(const Tree& root);

// The candidates that match `title`: those that match by window first, then those
// that match by name, each group in document order.
struct TitleMatches {
    std::vector<AutoTypeRow> rows;
    std::size_t window_matches = 0;
    // Exactly one candidate matches by window: it is typed without asking.
    bool type_at_once() const noexcept { return window_matches == 1; }
};
TitleMatches match_title(const Tree& root, std::string_view title);

// The node at `position`, or null when the tree no longer has one there or its path
// is no longer `path` (the document changed since the row was made).
const TreeNode* node_at(const Tree& root, const std::vector<std::uint32_t>& position, const SecretString& path);

// True when `query` is a start of `path` under the filter box's rule (bytes equal
// after & 0xDF).
bool path_starts_with(const std::string& path, const std::string& query);
