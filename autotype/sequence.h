#pragma once
// What auto-type types, and the key records that type it.
//
// An entry's sequence is the value of its `auto-type:` line, or kDefaultSequence.
// Placeholders (any case): {USERNAME}, {PASSWORD} and {URL} stand for the values of
// the entry's first user-name, password and address lines (tree/fields.h; a line
// without a value stands for nothing), {TOTP} for its current one-time code
// (otp/otp.h), {TAB} and {ENTER} for those keys, {SPACE} for a space, {DELAY n} for
// a pause of n milliseconds (at most kMaxDelay), {{} and {}} for the braces. Any
// other text is typed as it stands.
//
// A plan holds the text to type, so it lives in wiped memory: its actions are wiped
// before their memory is released, also when the plan grows.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/wipe.h"
#include "tree/tree.h"

inline constexpr char kDefaultSequence[] = "{USERNAME}{TAB}{PASSWORD}{ENTER}";
inline constexpr std::uint32_t kMaxDelay = 10000;  // milliseconds

// The two keys a sequence types by their virtual-key codes (those of Windows).
inline constexpr std::uint16_t kVirtualKeyTab = 0x09;
inline constexpr std::uint16_t kVirtualKeyEnter = 0x0D;

// One step of typing. A character is one or two UTF-16 units (a surrogate pair).
struct TypingAction {
    enum class Kind : std::uint8_t { kCharacter, kKey, kDelay };
    Kind kind = Kind::kCharacter;
    std::uint8_t unit_count = 0;
    std::uint16_t units[2] = {0, 0};
    std::uint16_t virtual_key = 0;
    std::uint32_t delay = 0;  // milliseconds
};

class TypingPlan {
public:
    TypingPlan() = default;
    TypingPlan(TypingPlan&& other) noexcept;
    TypingPlan& operator=(TypingPlan&& other) noexcept;
    TypingPlan(const TypingPlan&) = delete;
    TypingPlan& operator=(const TypingPlan&) = delete;
    ~TypingPlan() { clear(); }

    // Appends one character action per code point of the UTF-8 `text` (a byte that is
    // not UTF-8 is typed as U+FFFD). Throws std::bad_alloc; the plan then holds what
    // it held.
    void add_text(std::string_view text);
    void add_key(std::uint16_t virtual_key);
    void add_delay(std::uint32_t milliseconds);

    std::size_t size() const noexcept { return size_; }
    const TypingAction& operator[](std::size_t i) const noexcept { return actions_[i]; }
    // The actions that type something: characters and keys.
    std::size_t keystrokes() const noexcept;
    // Wipes every action; the plan is then empty.
    void clear() noexcept;

private:
    void push(const TypingAction& action);

    TypingAction* actions_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Why a sequence types nothing.
enum class SequenceProblem {
    kNone,
    kUnknownPlaceholder,  // detail: the placeholder as written
    kUnclosedBrace,  // detail: the text from the brace on
    kBadDelay,  // detail: the placeholder as written
    kEmptyPassword,  // {PASSWORD} where the entry has no password value
    kEmptySequence,
    kOneTimeCode,  // detail: the one-time code lookup's message
    kNothingToType,  // a node that is neither a value nor an entry with a password or sequence
};

struct SequenceResult {
    SequenceProblem problem = SequenceProblem::kNone;
    std::string detail;
};

// The sequence of `entry` read into `plan` (emptied first), the one-time code taken
// at `unix_time`. On a problem the plan is left empty.
SequenceResult plan_entry(const TreeNode& entry, std::int64_t unix_time, TypingPlan& plan);
// What typing a node chosen by hand types: a single-line value as it stands (no
// placeholders), a node with a password or `auto-type:` line its sequence, any
// other node nothing (kNothingToType).
SequenceResult plan_node(const TreeNode& node, std::int64_t unix_time, TypingPlan& plan);
// The same for a given sequence text.
SequenceResult plan_sequence(std::string_view sequence, const TreeNode& entry, std::int64_t unix_time,
                             TypingPlan& plan);

// The message for a problem, naming what was found.
std::string sequence_problem_text(const SequenceResult& result);

// One key event as SendInput takes it: a UTF-16 unit sent as a character, or a
// virtual key; down or up.
struct KeyRecord {
    std::uint16_t virtual_key = 0;  // 0 for a unit
    std::uint16_t unit = 0;
    bool unicode = false;
    bool key_up = false;
};
inline constexpr std::size_t kMaxKeyRecords = 4;

// The records that type `action`: down and up for each unit (a surrogate pair is
// the high unit down and up, then the low one), or down and up for a key; none for
// a delay. Returns how many were written into `out`.
std::size_t key_records(const TypingAction& action, KeyRecord out[kMaxKeyRecords]) noexcept;
