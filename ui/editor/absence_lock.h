#pragma once
// The editor locks when the user leaves: after the inactivity interval, when the
// Windows session locks and before the machine suspends. Unsaved changes are saved
// first (backup, then the vault, as Ctrl+S does, with no dialog); when nothing could
// be written the editor stays open and says so.
// Internal to the editor; user-interface thread only.

#include <windows.h>

// The caption and text shown when a lock for the user's absence could not save.
inline constexpr char kNotLockedCaption[] = "Not locked";
inline constexpr char kNotLockedText[] =
    "The editor was to lock itself, but the changes could not be saved, so it stays open with them. "
    "Save them (Ctrl+S) or lock it (Ctrl+L).";

// Saves what is unsaved, then closes the editor as a lock; also when the save failed
// but the unsaved document sits in a conflicted copy. Otherwise keeps it open and
// posts IDM_NOT_LOCKED_NOTICE to `window`, whose handler shows the notice (so that
// no dialog opens while the system waits, before a suspend). While a modal window
// is open over the editor, unsaved changes are neither saved nor noticed: the lock
// waits for the next event.
void lock_for_absence(HWND window) noexcept;

// Asks the system for WM_WTSSESSION_CHANGE (wtsapi32.dll, loaded from the system
// folder when the window is created); the end undoes it. Failures are ignored: the
// session lock is then not seen (Wine sends no such message).
void start_session_notifications(HWND window) noexcept;
void end_session_notifications(HWND window) noexcept;
