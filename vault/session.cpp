#include "vault/session.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "db/database.h"
#include "tree/merge.h"
#include "vault/save.h"

namespace vault {

namespace {

std::uint32_t length_of(const SecretString& password)
{
    return static_cast<std::uint32_t>(password.size());
}

SessionReport report_of(SessionOutcome outcome)
{
    SessionReport report;
    report.outcome = outcome;
    return report;
}

SessionReport failure(int status, std::string error)
{
    SessionReport report;
    report.outcome = SessionOutcome::kFailed;
    report.status = status;
    report.error = std::move(error);
    return report;
}

void replace_document(Tree& document, Tree&& with)
{
    wipe_tree(document);
    document = std::move(with);
}

// The open's check of the decrypted text that `db` holds.
DocumentCheck check_held(const Database& db)
{
    return check_document(reinterpret_cast<const char*>(db.data()), db.data() ? db.data_length() : 0);
}

}  // namespace

Session::Session(Database& db, std::string path) : db_(db), path_(std::move(path)) {}

Session::~Session()
{
    close();
}

void Session::set_base(const Tree& document)
{
    Tree copy(document);
    wipe_tree(base_);
    base_ = std::move(copy);
}

void Session::set_password(const SecretString& password)
{
    SecretString copy(password.data(), password.size());
    password_ = std::move(copy);
    has_password_ = true;
}

void Session::take_fingerprint() noexcept
{
    std::string error;
    known_valid_ = fingerprint_file(path_, known_, error) == DB_OK && known_.present;
}

void Session::written_as(const Tree& document) noexcept
{
    take_fingerprint();
    try {
        set_base(document);
    } catch (...) {
        // Without the new base the next merge takes the older one: what was written
        // since counts as ours again, which adds nothing twice that is equal.
    }
}

SessionReport Session::note_loading() noexcept
{
    SessionReport report;
    try {
        report.status = fingerprint_file(path_, known_, report.error);
        known_valid_ = report.status == DB_OK && known_.present;
        report.outcome = report.status == DB_OK ? SessionOutcome::kDone : SessionOutcome::kFailed;
    } catch (...) {
        known_valid_ = false;
    }
    return report;
}

SessionReport Session::check_unchanged()
{
    VaultFingerprint now;
    std::string error;
    if (const int status = fingerprint_file(path_, now, error)) return failure(status, error);
    // A file that was absent when read must still be absent.
    const bool same = known_valid_ ? now == known_ : !now.present;
    return report_of(same ? SessionOutcome::kUnchanged : SessionOutcome::kChanged);
}

SessionReport Session::open(const SecretString& password, Tree& document)
{
    take_fingerprint();
    Tree opened;
    const int status = open_document(db_, path_, password.data(), length_of(password), opened);
    if (status != DB_OK) {
        wipe_tree(opened);
        return failure(status, db_.last_error());
    }
    adopt(password, opened);
    replace_document(document, std::move(opened));
    return report_of(SessionOutcome::kDone);
}

void Session::adopt(const SecretString& password, const Tree& document)
{
    set_base(document);
    set_password(password);
    copies_taken_.clear();
}

void Session::adopt(const Tree& document)
{
    set_base(document);
    by_keys_ = true;
    copies_taken_.clear();
}

void Session::use_password(const SecretString& password)
{
    set_password(password);
}

SessionReport Session::create(const SecretString& password)
{
    VaultFingerprint there;
    std::string error;
    if (fingerprint_file(path_, there, error) == DB_OK && there.present)
        return failure(DB_IO_ERROR, path_ + ": File exists");
    db_.set_password(password.data(), length_of(password));
    db_.set_plaintext("", 0);
    // save_new never replaces a file that appeared meanwhile.
    if (const int status = db_.save_new(path_)) return failure(status, path_ + ": " + db_.last_error());
    adopt(password, Tree());
    take_fingerprint();
    return report_of(SessionOutcome::kDone);
}

SessionReport Session::reload_if_changed(Tree& document)
{
    VaultFingerprint now;
    std::string error;
    if (const int status = fingerprint_file(path_, now, error)) return failure(status, error);
    if (!now.present || (known_valid_ && now == known_) || now == refused_)
        return report_of(SessionOutcome::kUnchanged);
    if (!can_read()) return report_of(SessionOutcome::kPasswordNeeded);
    const int status = has_password_ ? db_.reopen(path_, password_.data(), length_of(password_)) : db_.reopen(path_);
    if (status != DB_OK) {
        if (status == DB_WRONG_PASSWORD) return report_of(SessionOutcome::kPasswordNeeded);
        return failure(status, db_.last_error());
    }
    SessionReport report = report_of(SessionOutcome::kReloaded);
    report.check = check_held(db_);
    if (report.check.has_zero) {
        refused_ = now;
        report.outcome = SessionOutcome::kRefused;
        return report;
    }
    Tree theirs = parse_plaintext(db_);
    set_base(theirs);
    known_ = now;
    known_valid_ = true;
    replace_document(document, std::move(theirs));
    return report;
}

SessionReport Session::adopt_check(ElsewhereCheck& check, Tree& document)
{
    switch (check.found) {
    case FoundOnDisk::kUnchanged: return report_of(SessionOutcome::kUnchanged);
    case FoundOnDisk::kDeleted: return report_of(SessionOutcome::kWrittenAnew);
    case FoundOnDisk::kWrongPassword: return report_of(SessionOutcome::kPasswordNeeded);
    case FoundOnDisk::kCannotMerge: return failure(check.status, check.error);
    case FoundOnDisk::kMerged: break;
    }
    // db holds the file now: its document is the new base, the merged one the caller's,
    // once its text passed the open's check.
    SessionReport report = report_of(SessionOutcome::kRefused);
    report.check = check_held(db_);
    if (report.check.has_zero) return report;
    const Tree theirs = parse_plaintext(db_);
    // A check without a fingerprint reads the file even when nothing changed.
    const bool changed = !(theirs == base_);
    set_base(theirs);
    known_ = check.file;
    known_valid_ = true;
    report.outcome = changed ? SessionOutcome::kMerged : SessionOutcome::kUnchanged;
    if (!changed) return report;
    report.kept_twice = std::move(check.merge.kept_twice);
    replace_document(document, std::move(check.merge.merged));
    return report;
}

SessionReport Session::merge_before_save(Tree& document)
{
    if (!can_read()) return report_of(SessionOutcome::kPasswordNeeded);
    ElsewhereCheck check = check_before_save(db_, path_, known_, known_valid_, base_, document);
    return adopt_check(check, document);
}

SessionReport Session::take_password(const SecretString& password, Tree& document)
{
    ElsewhereCheck check = merge_with_password(db_, path_, password.data(), length_of(password), base_, document);
    if (check.found == FoundOnDisk::kMerged) set_password(password);
    SessionReport report = adopt_check(check, document);
    // The file opened with this password even when it held nothing new.
    if (report.outcome == SessionOutcome::kUnchanged) report.outcome = SessionOutcome::kMerged;
    return report;
}

SessionReport Session::save(Tree& document, long long now_seconds)
{
    SessionReport merged = merge_before_save(document);
    if (merged.outcome == SessionOutcome::kRefused) return merged;
    if (merged.outcome == SessionOutcome::kPasswordNeeded && !can_read()) return merged;
    if (merged.outcome == SessionOutcome::kPasswordNeeded || merged.outcome == SessionOutcome::kFailed) {
        // The vault stays as the other writer left it; the document goes beside it.
        SessionReport copy = write_copy(document);
        if (copy.error.empty()) copy.error = merged.error;
        return copy;
    }
    const SaveReport written = write(document, now_seconds);
    if (written.status != DB_OK) return failure(written.status, written.error);
    merged.backup_error = written.backup_error;
    if (merged.outcome == SessionOutcome::kUnchanged) merged.outcome = SessionOutcome::kDone;
    return merged;
}

SessionReport Session::rekey(const SecretString& new_password, Tree& document, long long now_seconds)
{
    SessionReport merged = merge_before_save(document);
    if (merged.outcome == SessionOutcome::kPasswordNeeded || merged.outcome == SessionOutcome::kFailed ||
        merged.outcome == SessionOutcome::kRefused)
        return merged;
    const SaveReport written = write_rekeyed(new_password, document, now_seconds);
    if (written.status != DB_OK) return failure(written.status, written.error);
    if (merged.outcome == SessionOutcome::kUnchanged) merged.outcome = SessionOutcome::kDone;
    return merged;
}

SaveReport Session::write(const Tree& document, long long now_seconds)
{
    const SaveReport written = save_document(db_, document, path_, now_seconds);
    if (written.status == DB_OK) written_as(document);
    return written;
}

SaveReport Session::write_rekeyed(const SecretString& new_password, const Tree& document, long long now_seconds)
{
    SaveReport written;
    written.status = store_document(db_, document, written.error);
    if (written.status != DB_OK) return written;
    written = change_password(db_, path_, new_password.data(), length_of(new_password), now_seconds);
    if (written.status != DB_OK) return written;
    set_password(new_password);
    written_as(document);
    return written;
}

SaveReport Session::write_upgraded(const SecretString* new_password, const Tree& document, long long now_seconds)
{
    SaveReport written;
    written.status = store_document(db_, document, written.error);
    if (written.status != DB_OK) return written;
    written = upgrade(db_, path_, new_password ? new_password->data() : nullptr,
                      new_password ? length_of(*new_password) : 0, now_seconds);
    if (written.status != DB_OK) return written;
    if (new_password) set_password(*new_password);
    written_as(document);
    return written;
}

SessionReport Session::write_copy(const Tree& document)
{
    SessionReport copy = report_of(SessionOutcome::kInCopy);
    copy.status = write_conflicted_copy(db_, document, path_, copy.copy_path, copy.error);
    if (copy.status != DB_OK) copy.outcome = SessionOutcome::kFailed;
    return copy;
}

SessionReport Session::take_conflict_copies(Tree& document)
{
    std::vector<std::string> copies;
    if (const int error = find_conflict_copies(path_, copies))
        return failure(DB_IO_ERROR, folder_of(path_) + ": " + std::strerror(error));
    SessionReport report = report_of(SessionOutcome::kUnchanged);
    if (copies.empty()) return report;
    if (!has_password_) return report_of(SessionOutcome::kPasswordNeeded);
    Tree result(document);
    for (const std::string& copy : copies) {
        Database other;
        Tree theirs;
        if (open_document(other, copy, password_.data(), length_of(password_), theirs) != DB_OK) {
            wipe_tree(theirs);
            report.skipped.push_back(copy);
            continue;
        }
        SessionReport merged = merge_copy(copy, theirs, result);
        wipe_tree(theirs);
        for (std::string& path : merged.kept_twice) report.kept_twice.push_back(std::move(path));
        report.copies.push_back(copy);
    }
    if (report.copies.empty()) {
        wipe_tree(result);
        return report;
    }
    replace_document(document, std::move(result));
    report.outcome = SessionOutcome::kMerged;
    return report;
}

SessionReport Session::merge_copy(const std::string& copy, const Tree& theirs, Tree& document)
{
    TreeMerge merge = merge_two_way(document, theirs);
    SessionReport report = report_of(SessionOutcome::kMerged);
    report.kept_twice = std::move(merge.kept_twice);
    report.copies.push_back(copy);
    copies_taken_.push_back(copy);
    replace_document(document, std::move(merge.merged));
    return report;
}

void Session::forget_copies_taken() noexcept
{
    copies_taken_.clear();
}

void Session::forget_password() noexcept
{
    password_.clear();
    has_password_ = false;
    by_keys_ = false;
}

void Session::close() noexcept
{
    wipe_tree(base_);
    forget_password();
    known_ = VaultFingerprint();
    known_valid_ = false;
    refused_ = VaultFingerprint();
    copies_taken_.clear();
}

}  // namespace vault
