#pragma once
// Quick unlock in the program: the settings of glimkeep.ini's [lock], the kept keys
// (vault/kept_keys.h) from a full unlock until the deadline, and the session that a
// code opened, which holds no master password. User-interface thread only.

#include <windows.h>

#include <string>

#include "crypto/wipe.h"

class Database;

// Reads [lock] from glimkeep.ini beside the vault; a line that cannot be read is told
// in a message box and its default taken. Never throws.
void load_lock_settings() noexcept;

// After the open window opened `db` (format 2.0, decrypted) with the full `password`:
// when quick unlock is on and the password is long enough, the keys are kept until
// the hours of [lock] have passed; otherwise nothing is kept. Never throws.
void note_full_unlock(const SecretString& password, const Database& db) noexcept;
// The editor locked over `db`: what is kept stays only when it holds db's keys (a
// password changed in the editor ends quick unlock until the next full unlock).
void note_editor_locked(const Database& db) noexcept;
// Wipes what is kept; `reason` (may be null) is what the open window says next.
void end_quick_unlock(const wchar_t* reason) noexcept;
// The same before a suspend or hibernation, saying so.
void end_quick_unlock_at_suspend() noexcept;

// For the open window over the loaded `db`: the length of the code to ask for, or 0
// when the full password is needed (`reason` then says why, or is empty).
unsigned quick_unlock_code_length(const Database& db, std::wstring& reason) noexcept;
// Opens `db` (loaded) with `code`. True when it is decrypted; otherwise everything
// kept is wiped and `reason` says why the full password is needed.
bool open_with_code(Database& db, const SecretString& code, std::wstring& reason) noexcept;

// True while the editor's session was opened by a code and the master password has
// not been typed since.
bool opened_by_quick_unlock() noexcept;
// Before an action that needs the master password: after a quick unlock, asks for it
// over `owner` (checked against the vault's keys) and keeps it for the session. False
// when the user gave none. Never throws.
bool ask_master_password_after_quick_unlock(HWND owner) noexcept;
