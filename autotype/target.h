#pragma once
// Which window auto-type may type into, and whether typing may go on, decided from
// what the window side reads of the windows. No window calls here: the decisions
// are tested as tables.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tree/tree.h"

// What the window side reads of one top-level window.
struct WindowFacts {
    bool exists = true;
    bool ours = false;  // a window of Glimkeep's own process
    bool visible = true;
    bool minimised = false;
    bool tool_window = false;  // WS_EX_TOOLWINDOW
    bool shell_window = false;  // the desktop window the shell names (GetShellWindow)
    bool has_area = true;  // wider and higher than nothing
    bool cloaked = false;  // hidden by the window manager (DWMWA_CLOAKED); false when unknown
    std::wstring class_name;
};

enum class TargetRefusal {
    kNone,
    kGone,
    kOwn,
    kDesktop,  // the desktop or the task bar: {ENTER} would open what is selected there
    kHidden,  // invisible, cloaked, or without area
    kMinimised,
    kToolWindow,
};

// Whether typing may go into the window: the same filter for the window in front (the
// hot key) and for the window that was in front before Glimkeep.
TargetRefusal refuse_target(const WindowFacts& window) noexcept;

// Whether a window that just came to the front is remembered as the previous window:
// any window of another program that a user could have been working in. Hidden,
// cloaked, tool and minimised windows are the system's passing ones (the task
// switcher among them) and are skipped, as is the desktop window itself (class
// "#32769"), which Wine makes the foreground window for a moment while a click
// moves from one program to another. The shell's desktop and the task bar are
// remembered, so that a click on them is not forgotten (typing then refuses them).
bool remember_as_previous(const WindowFacts& window) noexcept;

// The message for a refused target; `by_hot_key` says whether it was the window in
// front (else the window that was in front before Glimkeep). Empty for kNone.
std::string target_refusal_text(TargetRefusal refusal, bool by_hot_key);

// What the titles of the target may be while typing goes on. Made when typing
// begins from the title then and the entry typed (null when a single value is
// typed): a title fits when it equals that first one, or matches one of the entry's
// `window:` patterns (other than those that match every title), or (when the entry
// has none) holds its name or the host of its address as a whole word. Titles are
// compared up to kMaxTitleLength characters, with their case.
class TitleRule {
public:
    TitleRule() = default;
    TitleRule(std::string_view begun_title, const TreeNode* entry);

    bool fits(std::string_view title) const;
    const std::string& begun_title() const noexcept { return begun_; }

private:
    std::string begun_;
    std::vector<std::string> patterns_;
    std::string name_;
    std::string host_;
};

// What the typing reads of the target before a key.
struct BeforeKey {
    bool target_in_front = true;
    bool focus_read = true;  // GetGUIThreadInfo answered
    bool focus_same = true;  // the focused control is the one of the last key
    bool focus_moves = false;  // after Tab, Enter or a delay: the focus is read anew
    bool title_checked = false;  // after Enter or a delay: the title is read again
    bool title_fits = true;
};

enum class TypingStop { kNone, kAnotherWindow, kFocusUnknown, kFocusMoved, kTitleChanged };

// Whether the next key may be typed; the first reason to stop, in the order above.
TypingStop check_before_key(const BeforeKey& seen) noexcept;

// The end of the message "Auto-type stopped after n of m keys: ..." for a stop;
// `title` is the target's title now (for kTitleChanged).
std::string typing_stop_reason(TypingStop stop, std::string_view title);

// The picker's message when the target's title changed between the hot key and the
// choice: both titles.
std::string picker_title_changed_text(std::string_view opened_with, std::string_view now);
