#pragma once
// Where the program's vault is: its full path, fixed once at start from
// "passwords.gkv" in the working directory. A file dialog may move the working
// directory later; every load, save and check uses this path (the vault's session,
// vault/session.h, keeps a copy of it), and the settings files are looked for beside
// it. User-interface thread only.

#include <string>

// Fixes the path from the working directory. Before it, the path is "passwords.gkv".
void fix_vault_path() noexcept;
const std::string& vault_path() noexcept;
// Fixes the path given (tests put "passwords.gkv" back).
void set_vault_path(const std::string& path);
