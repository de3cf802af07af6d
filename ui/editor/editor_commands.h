#pragma once
// The editor's commands beyond editing and saving: Lock (Ctrl+L), Insert generated
// password (Ctrl+G), Find (Ctrl+F) and Find next (F3), Copy one-time code (Ctrl+T).
// Internal to the editor window; user-interface thread only.

#include <windows.h>

#include "crypto/password_generator.h"
#include "crypto/wipe.h"
#include "ui/editor/editor_window.h"

// Ctrl+T: the current one-time code of the node shown (after storing the editor's
// text) goes to the clipboard by copy_text_to_clipboard. An entry without a secret, or
// with one that cannot be read, is told in the message dialog.
void copy_one_time_code();

// Ctrl+G: a new password replaces the editor box's selection, as typing would; the
// document is marked changed. A failing random source is reported; nothing is inserted.
void insert_generated_password();
// Edit > Insert generated passphrase (Ctrl+Shift+G): six words of the passphrase list
// joined by '-', inserted the same way.
void insert_generated_passphrase();
// Ctrl+L: closes the editor as the inactivity lock does. With unsaved changes it asks
// first; Yes saves (and locks only when the save succeeded), No changes nothing.
void lock_now(HWND window);

// Ctrl+F opens the system's Find dialog (modeless, owned by the editor window); F3
// repeats the last search (opens the dialog when there was none). The dialog's
// messages arrive as find_message(), handled by on_find_message. The message loop
// passes find_dialog()'s messages through IsDialogMessageW.
UINT find_message() noexcept;
HWND find_dialog() noexcept;
void open_find_dialog(HWND window);
// Selects the next occurrence after the selection, wrapping at the end with a beep.
void find_next();
void on_find_message(LPARAM lparam);

// When the editor window ends: the clipboard check, the Find dialog closed, its text wiped.
void end_editor_commands() noexcept;
// A command that could not run: beep and the message dialog.
void report_command_failure(const char* text) noexcept;
