#include "vault/save.h"

#include "crypto/wipe.h"
#include "db/backup.h"
#include "db/database.h"
#include "platform/file_io.h"

#include <cstdint>
#include <limits>
#include <new>

namespace vault {
namespace {

constexpr char kTooLarge[] = "The text is too large to be saved.";
constexpr char kOutOfMemory[] = "Not enough memory to save the file";

// The backup step. False when the rule is kRequired and no backup could be made.
bool take_backup(const std::string& path, long long now_seconds, Backup rule, SaveReport& report)
{
    std::string error;
    if (make_backup_copy(path, now_seconds, report.backup_path, error) == DB_OK) return true;
    report.backup_path.clear();
    report.backup_error = error.empty() ? std::string("the backup could not be written") : error;
    if (rule == Backup::kBestEffort) return true;
    report.status = DB_IO_ERROR;
    report.error = "No backup of " + path + " could be written (" + report.backup_error +
        "), so nothing was changed: the old file would otherwise be lost.";
    return false;
}

// The write step, and what a failure leaves: the vault's text, and no backup.
template <typename Write>
void write_step(Database& db, SaveReport& report, Write write)
{
    report.status = write();
    if (report.status == DB_OK) return;
    report.error = db.last_error();
    if (report.error.empty())
        report.error = "The vault could not be written (code " + std::to_string(report.status) + ").";
    if (!report.backup_path.empty() && db_file::erase_file(report.backup_path) == 0) report.backup_path.clear();
}

template <typename Write>
SaveReport run(Database& db, const std::string& path, long long now_seconds, Backup rule, Write write) noexcept
{
    SaveReport report;
    try {
        if (!take_backup(path, now_seconds, rule, report)) return report;
        write_step(db, report, write);
    } catch (const std::bad_alloc&) {
        report.status = DB_IO_ERROR;
        report.error = kOutOfMemory;
    } catch (...) {
        report.status = DB_IO_ERROR;
        report.error = "An unexpected error occurred while saving.";
    }
    return report;
}

// `text` into the container, or DB_IO_ERROR when it is too large for the format.
int set_text(Database& db, const std::string& text, std::string& error)
{
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
        error = kTooLarge;
        return DB_IO_ERROR;
    }
    db.set_plaintext(text.data(), static_cast<std::uint32_t>(text.size()));
    return DB_OK;
}

}  // namespace

int store_document(Database& db, const Tree& document, std::string& error)
{
    const SecretString text(document.serialize("\r\n", 0));
    return set_text(db, text.str(), error);
}

SaveReport save_text(Database& db, const std::string& text, const std::string& path, long long now_seconds) noexcept
{
    SaveReport report;
    try {
        if (set_text(db, text, report.error) != DB_OK) {
            report.status = DB_IO_ERROR;
            return report;
        }
    } catch (const std::bad_alloc&) {
        report.status = DB_IO_ERROR;
        report.error = kOutOfMemory;
        return report;
    }
    return run(db, path, now_seconds, Backup::kBestEffort, [&] { return db.save(path); });
}

SaveReport save_document(Database& db, const Tree& document, const std::string& path, long long now_seconds) noexcept
{
    try {
        const SecretString text(document.serialize("\r\n", 0));
        return save_text(db, text.str(), path, now_seconds);
    } catch (const std::bad_alloc&) {
        SaveReport report;
        report.status = DB_IO_ERROR;
        report.error = kOutOfMemory;
        return report;
    }
}

SaveReport change_password(Database& db, const std::string& path, const char* password, std::uint32_t length,
                           long long now_seconds) noexcept
{
    return run(db, path, now_seconds, Backup::kRequired, [&] { return db.change_password(path, password, length); });
}

SaveReport upgrade(Database& db, const std::string& path, const char* password, std::uint32_t length,
                   long long now_seconds) noexcept
{
    return run(db, path, now_seconds, Backup::kRequired, [&] { return db.upgrade(path, password, length); });
}

std::string no_backup_note(const SaveReport& report)
{
    if (report.backup_error.empty()) return std::string();
    return "No backup of the previous file could be written (" + report.backup_error + ").";
}

}  // namespace vault
