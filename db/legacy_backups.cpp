#include "db/legacy_backups.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "db/backup.h"
#include "db/database.h"
#include "platform/file_io.h"

namespace {

// True when the file starts with the header of format 1.0.
bool has_header_10(const std::string& path)
{
    std::FILE* file = db_file::open_for_reading(path);
    if (!file) return false;
    char header[kMagicSize + kVersionSize];
    const bool read = std::fread(header, 1, sizeof header, file) == sizeof header;
    std::fclose(file);
    return read && std::memcmp(header, "GLIMKEEPDB", kMagicSize) == 0 &&
        std::memcmp(header + kMagicSize, "1.0", kVersionSize) == 0;
}

}  // namespace

std::string legacy_backups_question(std::size_t count, bool password_exposed)
{
    std::string text = std::to_string(count) + " backups of format 1.0 can be read without the password. Delete them?";
    if (password_exposed)
        text += "\r\n\r\nOne of them opens with the current master password, so the master password itself is "
                "exposed: anyone with such a copy can find it. Choose File > Change master password... to "
                "replace it.";
    return text;
}

std::vector<std::string> legacy_backups(const std::string& vault_path)
{
    std::vector<std::string> found;
    const std::size_t slash = vault_path.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? std::string() : vault_path.substr(0, slash + 1);
    const std::string vault_name = slash == std::string::npos ? vault_path : vault_path.substr(slash + 1);
    std::vector<std::string> names;
    if (db_file::list_files(folder, names) != 0) return found;
    for (const std::string& name : names) {
        BackupName parsed;
        if (parse_backup_name(name, vault_name, parsed) && has_header_10(folder + name)) found.push_back(folder + name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

bool opens_with(const std::string& path, const char* password, std::uint32_t length)
{
    Database db;
    if (db.load(path) != DB_OK) return false;
    db.set_password(password, length);
    return db.decrypt() == DB_OK;
}

bool any_opens_with(const std::vector<std::string>& paths, const char* password, std::uint32_t length)
{
    for (const std::string& path : paths)
        if (opens_with(path, password, length)) return true;
    return false;
}

std::size_t erase_legacy_backups(const std::vector<std::string>& paths, const std::string& vault_path,
                                 std::size_t& still_readable)
{
    std::size_t failed = 0;
    still_readable = 0;
    for (const std::string& path : paths) {
        db_file::Erased how = db_file::Erased::kNameOnly;
        if (db_file::erase_file(path, vault_path, how) != 0)
            ++failed;
        else if (how == db_file::Erased::kNameOnly)
            ++still_readable;
    }
    return failed;
}
