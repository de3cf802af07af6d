#include "db/save_document.h"

#include <cstdint>
#include <limits>

#include "crypto/wipe.h"
#include "db/backup.h"
#include "db/database.h"

void keep_backup(const std::string& vault_path, long long now_seconds) noexcept
{
    try {
        std::string backup_path;
        std::string error;
        make_backup_copy(vault_path, now_seconds, backup_path, error);
    } catch (...) {
    }
}

int write_document(Database& db, const Tree& document, const std::string& vault_path, std::string& error)
{
    const SecretString text(document.serialize("\r\n", 0));
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
        error = "The text is too large to be saved.";
        return DB_IO_ERROR;
    }
    db.set_plaintext(text.data(), static_cast<std::uint32_t>(text.size()));
    const int status = db.save(vault_path);
    if (status != DB_OK) {
        error = db.last_error();
        if (error.empty()) error = "The vault could not be written (code " + std::to_string(status) + ").";
    }
    return status;
}
