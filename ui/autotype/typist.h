#pragma once
// The typing itself, one key at a time between the editor's other messages.
// Internal to ui/autotype/.

#include <windows.h>

#include <string>

#include "autotype/sequence.h"
#include "autotype/target.h"

// The title of `window` in UTF-8, read up to the length title matching reads.
std::string window_title(HWND window);

// Types `plan` into `target`. With `bring_to_front`, the target is first made the
// foreground window (Glimkeep's own window was in front) and must become it within
// 500 ms. Then the target's integrity level is checked, the modifiers must be
// released within two seconds, and before each key the target must still be in front
// with a focused control Windows names, the same one as for the last key (after
// Tab, Enter and a delay it is read anew); before the first key and after each
// Enter and delay its title must fit `titles`. Failures and stops are told in the
// message dialog. Does nothing while typing is under way.
void start_typing(HWND target, TypingPlan&& plan, TitleRule&& titles, bool bring_to_front) noexcept;
bool typing_active() noexcept;
// Types what `node` stands for (plan_node) by start_typing, the titles that fit
// judged from the target's title now and the node, or says why nothing is typed.
void type_node(HWND target, const TreeNode& node, bool bring_to_front);
// Stops typing at once. With `for_lock`, the notice of how much was typed is held
// back: it is kept for after the unlock when the editor then closes (end_typist),
// and told at once when the editor stays open (the lock was declined or failed).
void stop_typing(bool for_lock) noexcept;
// The notice kept by a stop for a lock that happened (empty when none), then
// forgotten.
std::string take_typing_notice();
// Destroys the typing window.
void end_typist() noexcept;
