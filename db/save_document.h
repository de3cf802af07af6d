#pragma once
// The save command's portable half: a backup of the vault as it is on disk, then the
// document serialized into the vault and written. The editor adds the window half
// (focus, selection, title, timer, messages).

#include <string>

#include "tree/tree.h"

class Database;

// Copies the vault at `vault_path` to a new "<vault file>.<seconds>.bak" beside it
// (make_backup_copy at `now_seconds`). Silent: a backup that cannot be made does not
// stop the save, since the vault itself is only ever replaced whole. Never throws.
void keep_backup(const std::string& vault_path, long long now_seconds) noexcept;

// Serializes `document` (every line ended by CR LF) into `db`'s plaintext and writes
// `db` to `vault_path`. Returns the vault's status code; `error` receives the text to
// show when it is not DB_OK. The serialized text is wiped. Throws std::bad_alloc.
int write_document(Database& db, const Tree& document, const std::string& vault_path, std::string& error);
