#pragma once
// The seven entry points through which start-up reaches the user interface.
// Each run operation creates its window, runs its message loop and returns only
// after the window has been destroyed. None of them throws.

#include <windows.h>

#include <string>

#include "crypto/wipe.h"
#include "ui/editor/editor_options.h"

class Database;
namespace vault {
class Session;
}

// Register the window classes "create_db", "decrypt_db" and "editor". A failure is
// shown in a system message box ("Error", "RegisterClassEx failed").
void register_create_db_window(HINSTANCE instance);
void register_decrypt_db_window(HINSTANCE instance);
void register_editor_window(HINSTANCE instance);

// The first-run window: writes a new, empty vault with the password typed.
void run_create_db_window(HINSTANCE instance, int show_command);
// The open window: true only when `db` was decrypted with the password typed, which
// then becomes the password in use of `session` when given (quick unlock gives none).
bool run_decrypt_db_window(HINSTANCE instance, int show_command, Database& db, vault::Session* session = nullptr);
// The password-change window over the editor `owner` (disabled meanwhile): true when
// a new, non-empty password was typed into `new_password`; the caller then saves
// with it. Its window class "change_password" is registered at the first run.
bool run_change_password_window(HINSTANCE instance, HWND owner, SecretString& new_password);
// The open window over the editor `owner` (disabled meanwhile), with its own title and
// explanation, for a vault file that `db` has loaded (the vault changed elsewhere,
// another vault merged in): true when `db` was decrypted with the password typed,
// which `accepted` then holds.
bool run_vault_password_window(HINSTANCE instance, HWND owner, Database& db, SecretString& accepted,
                               const wchar_t* title, const wchar_t* explanation);
// The editor over `db` (holding plaintext) and the vault's `session` over it, which
// adopts the document and is closed when the editor's run ends: true only when it
// closed itself through the inactivity timer with nothing unsaved. `options` stay the
// program's own but in the tests. Without a session, one over `db` and vault_path()
// is made for the run, holding no password and no fingerprint.
bool run_editor_window(HINSTANCE instance, int show_command, Database& db, vault::Session& session,
                       const EditorOptions& options = EditorOptions());
bool run_editor_window(HINSTANCE instance, int show_command, Database& db,
                       const EditorOptions& options = EditorOptions());

// Declared with the message dialog; listed here as the seventh entry point.
void show_error_box(std::string caption, std::string text);
