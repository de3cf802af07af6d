#pragma once
// The clipboard as every window uses it for secrets: a copy marked private (out of
// the system's clipboard history and cloud clipboard), noted, and cleared after an
// interval by a timer (IDT_CLIPBOARD) of the window that hosts the clearing, unless
// something else was copied since. User-interface thread only.

#include <windows.h>

#include "crypto/wipe.h"

// Holds the clipboard open for a scope (when OpenClipboard succeeded).
class ClipboardOpen {
public:
    explicit ClipboardOpen(HWND owner) noexcept : open_(OpenClipboard(owner) != FALSE) {}
    ~ClipboardOpen()
    {
        if (open_) CloseClipboard();
    }
    ClipboardOpen(const ClipboardOpen&) = delete;
    ClipboardOpen& operator=(const ClipboardOpen&) = delete;
    bool open() const noexcept { return open_; }

private:
    bool open_;
};

// From now on copies are cleared by `window`'s timer IDT_CLIPBOARD (whose WM_TIMER
// calls clear_clipboard_if_ours), after the interval that `*interval` holds at each
// copy; `interval` outlives the window. Failures to copy are told over `window`.
void start_clipboard_clearing(HWND window, const UINT* interval) noexcept;
// When that window ends: the pending clearing runs now, and no window hosts it.
void end_clipboard_clearing() noexcept;

// Remembers the clipboard's sequence number right after a copy and starts the
// clearing timer anew.
void note_clipboard_copy() noexcept;
// Puts `text` on the clipboard as CF_UNICODETEXT, marked to stay out of the system's
// clipboard history and cloud clipboard, noted for the clearing, confirmed by the
// information beep. The privacy formats go first; when the clipboard cannot be opened
// or any of them or the text cannot be set, the clipboard is emptied before it is
// closed, the failure is told (beep, "Error") and the result is false, with nothing
// noted.
bool copy_text_to_clipboard(HWND owner, const SecretWString& text) noexcept;
// With the clipboard open: wipes the text on it (if any), then empties it.
void wipe_and_empty_open_clipboard() noexcept;
// Stops the clearing timer; empties the clipboard (its text wiped first) only when
// nothing was put there since the last copy. Runs once per copy.
void clear_clipboard_if_ours() noexcept;
