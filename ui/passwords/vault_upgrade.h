#pragma once
// The upgrade of a 1.0 vault to format 2.0 under a new master password, and the
// question about the 1.0 backups that remain beside the vault. Internal to the
// editor and the password windows; user-interface thread only.

#include <windows.h>

#include "crypto/wipe.h"

class Database;

// File > Upgrade vault format...: asks, then for a new master password (the upgrade
// window), and saves the vault in format 2.0 under it (a backup of the 1.0 file
// first); then the question about the 1.0 backups. A failed save leaves the editor's
// vault as it was: 1.0 under the old password. True when the vault was upgraded.
bool upgrade_vault(HWND window);

// At the editor's start, for a vault of format 2.0: "N backups of format 1.0 can be
// read without the password. Delete them?" (default No) when there are such
// backups, at most once per run of the program.
void ask_about_legacy_backups_at_open(HWND window, const Database& db) noexcept;

// The open window, on success: notes whether a 1.0 backup of the vault opens with
// the password typed, for the question above.
void note_opening_password(const SecretString& password, const Database& db) noexcept;

// The upgrade window over the editor `owner` (disabled meanwhile): true when a new,
// non-empty master password that does not open the vault on disk was typed; it is
// then in `password`. Its window class "upgrade_password" is registered at the first run.
bool run_upgrade_password_window(HINSTANCE instance, HWND owner, SecretString& password);
