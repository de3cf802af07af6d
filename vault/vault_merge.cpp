#include "vault/vault_merge.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "crypto/wipe.h"
#include "db/database.h"
#include "platform/calendar_time.h"
#include "platform/file_io.h"

namespace {

constexpr char kExtension[] = ".gkv";
constexpr std::size_t kExtensionSize = sizeof kExtension - 1;

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), lower);
    return text;
}

// The file name without its extension (the part from the last dot on).
std::string stem_of(const std::string& name)
{
    const std::string::size_type dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

ElsewhereCheck failure(FoundOnDisk found, int status, std::string error)
{
    ElsewhereCheck check;
    check.found = found;
    check.status = status;
    check.error = std::move(error);
    return check;
}

}  // namespace

bool operator==(const VaultFingerprint& a, const VaultFingerprint& b)
{
    return a.present == b.present && std::memcmp(a.digest, b.digest, sizeof a.digest) == 0;
}

bool operator!=(const VaultFingerprint& a, const VaultFingerprint& b)
{
    return !(a == b);
}

int fingerprint_file(const std::string& path, VaultFingerprint& out, std::string& error) noexcept
{
    out = VaultFingerprint();
    try {
        errno = 0;
        std::FILE* file = db_file::open_for_reading(path);
        if (!file) {
            if (errno == ENOENT) return DB_OK;
            error = std::strerror(errno ? errno : EIO);
            return DB_IO_ERROR;
        }
        Sha3_256 hash;
        std::uint8_t buffer[16384];
        bool failed = false;
        for (;;) {
            const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
            hash.update(buffer, got);
            if (got < sizeof buffer) {
                failed = std::ferror(file) != 0;
                break;
            }
        }
        std::fclose(file);
        if (failed) {
            error = "Cannot read the file";
            return DB_IO_ERROR;
        }
        hash.finish(out.digest);
        out.present = true;
        return DB_OK;
    } catch (...) {
        error.clear();
        return DB_IO_ERROR;
    }
}

Tree parse_plaintext(const Database& db)
{
    const SecretString text(db.plaintext());
    return parse_tree(text.str());
}

int open_document(Database& db, const std::string& path, const char* password, std::uint32_t password_length,
                  Tree& document)
{
    wipe_tree(document);
    if (int status = db.load(path)) return status;
    db.set_password(password, password_length);
    if (int status = db.decrypt()) return status;
    document = parse_plaintext(db);
    return DB_OK;
}

ElsewhereCheck check_before_save(Database& db, const std::string& path, const VaultFingerprint& known, bool known_valid,
                                 const Tree& base, const Tree& ours)
{
    VaultFingerprint now;
    std::string error;
    if (fingerprint_file(path, now, error) != DB_OK) return failure(FoundOnDisk::kCannotMerge, DB_IO_ERROR, error);
    ElsewhereCheck check;
    check.file = now;
    if (known_valid && now == known) return check;
    if (!now.present) {
        check.found = FoundOnDisk::kDeleted;
        return check;
    }

    // A file that does not open leaves db as it was: its header, format and
    // iteration count never reach later saves.
    const int status = db.reopen(path);
    if (status != DB_OK) {
        check.found = status == DB_WRONG_PASSWORD ? FoundOnDisk::kWrongPassword : FoundOnDisk::kCannotMerge;
        check.status = status;
        check.error = db.last_error();
        return check;
    }
    WipedTree theirs;
    theirs.tree = parse_plaintext(db);
    check.found = FoundOnDisk::kMerged;
    check.merge = merge_three_way(base, ours, theirs.tree);
    return check;
}

ElsewhereCheck merge_with_password(Database& db, const std::string& path, const char* password,
                                   std::uint32_t password_length, const Tree& base, const Tree& ours)
{
    VaultFingerprint file;
    std::string error;
    if (fingerprint_file(path, file, error) != DB_OK) return failure(FoundOnDisk::kCannotMerge, DB_IO_ERROR, error);
    if (int status = db.reopen(path, password, password_length)) {
        return failure(status == DB_WRONG_PASSWORD ? FoundOnDisk::kWrongPassword : FoundOnDisk::kCannotMerge, status,
                       db.last_error());
    }
    WipedTree theirs;
    theirs.tree = parse_plaintext(db);
    ElsewhereCheck check;
    check.found = FoundOnDisk::kMerged;
    check.merge = merge_three_way(base, ours, theirs.tree);
    check.file = file;
    return check;
}

std::string conflicted_copy_path(const std::string& vault_path, int year, int month, int day, int hour, int minute,
                                 int second)
{
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, " (conflicted copy %04d-%02d-%02d %02d%02d%02d)", year, month, day, hour, minute,
                  second);
    return folder_of(vault_path) + stem_of(file_name_of(vault_path)) + stamp + kExtension;
}

int write_conflicted_copy(Database& db, const Tree& ours, const std::string& vault_path, std::string& copy_path,
                          std::string& error)
{
    std::tm local = {};
    local_calendar_date(calendar_now(), local);  // left cleared when the date cannot be read
    const std::string plain = conflicted_copy_path(vault_path, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                                   local.tm_hour, local.tm_min, local.tm_sec);
    const SecretString text(ours.serialize("\r\n", 0));
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
        error = "The text is too large to be saved.";
        return DB_IO_ERROR;
    }
    db.set_plaintext(text.data(), static_cast<std::uint32_t>(text.size()));
    for (int counter = 1; counter < 100; ++counter) {
        copy_path = plain;
        if (counter > 1) copy_path.insert(copy_path.size() - kExtensionSize, " " + std::to_string(counter));
        VaultFingerprint existing;
        std::string ignored;
        if (fingerprint_file(copy_path, existing, ignored) == DB_OK && existing.present) continue;
        const int status = db.save_new(copy_path);
        if (status != DB_OK) error = db.last_error();
        return status;
    }
    error = "File exists";
    return DB_IO_ERROR;
}

namespace {

// A cursor over the part of a file name after the vault's stem; each step either
// consumes what it names or fails, and a failed shape is simply not a copy.
class NameShape {
public:
    explicit NameShape(const std::string& text) : text_(&text) {}

    bool at_end() const { return at_ == text_->size(); }
    std::size_t position() const { return at_; }
    void rewind(std::size_t position) { at_ = position; }

    bool literal(const char* expected)
    {
        const std::size_t size = std::strlen(expected);
        if (text_->compare(at_, size, expected) != 0) return false;
        at_ += size;
        return true;
    }
    // Exactly `count` decimal digits.
    bool digits(std::size_t count)
    {
        if (text_->size() - at_ < count) return false;
        for (std::size_t i = 0; i < count; ++i)
            if ((*text_)[at_ + i] < '0' || (*text_)[at_ + i] > '9') return false;
        at_ += count;
        return true;
    }
    // One or more decimal digits.
    bool number()
    {
        std::size_t end = at_;
        while (end < text_->size() && (*text_)[end] >= '0' && (*text_)[end] <= '9') ++end;
        if (end == at_) return false;
        at_ = end;
        return true;
    }
    // Exactly `count` capital letters or digits.
    bool device_id(std::size_t count)
    {
        if (text_->size() - at_ < count) return false;
        for (std::size_t i = 0; i < count; ++i) {
            const char c = (*text_)[at_ + i];
            if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
        }
        at_ += count;
        return true;
    }
    // True when the text from `from` up to here holds `marker`.
    bool passed(std::size_t from, const char* marker) const
    {
        const std::size_t found = text_->find(marker, from);
        return found != std::string::npos && found + std::strlen(marker) <= at_;
    }
    // "YYYY-MM-DD"
    bool date() { return digits(4) && literal("-") && digits(2) && literal("-") && digits(2); }
    // Moves to the first place from here on where `marker` starts, past at least one
    // character; false (and stays) when there is none.
    bool skip_to(const char* marker)
    {
        const std::size_t found = text_->find(marker, at_ + 1);
        if (found == std::string::npos) return false;
        at_ = found;
        return true;
    }

private:
    const std::string* text_;
    std::size_t at_ = 0;
};

// Syncthing: ".sync-conflict-YYYYMMDD-HHMMSS-<device id>"
bool syncthing_shape(NameShape s)
{
    return s.literal(".sync-conflict-") && s.digits(8) && s.literal("-") && s.digits(6) && s.literal("-") &&
        s.device_id(7) && s.at_end();
}

// " (N)" after a Dropbox date, when the same day had several.
void dropbox_counter(NameShape& s)
{
    const std::size_t before = s.position();
    if (!(s.literal(" (") && s.number() && s.literal(")"))) s.rewind(before);
}

// Dropbox: " (<who>'s conflicted copy YYYY-MM-DD[ (N)])" or " (conflicted copy
// YYYY-MM-DD[ (N)])"; the apostrophe may be the typographic one.
bool dropbox_shape(NameShape s)
{
    if (!s.literal(" (")) return false;
    const std::size_t after_paren = s.position();
    if (!s.literal("conflicted copy ")) {
        s.rewind(after_paren);
        bool found = false;
        for (const char* marker : {"'s conflicted copy ", "\xE2\x80\x99s conflicted copy "}) {
            NameShape trial = s;
            // A <who> holding ") (" would make another vault's copy ours:
            // "passwords (work) (Alice's conflicted copy ...)" is not a copy of "passwords".
            if (trial.skip_to(marker) && !trial.passed(after_paren, ") (") && trial.literal(marker)) {
                s = trial;
                found = true;
                break;
            }
        }
        if (!found) return false;
    }
    if (!s.date()) return false;
    dropbox_counter(s);
    return s.literal(")") && s.at_end();
}

// Nextcloud and ownCloud: " (conflicted copy [<user> ]YYYY-MM-DD HHMMSS)"; this
// program's own copies: " (conflicted copy YYYY-MM-DD HHMMSS)[ N]".
bool nextcloud_or_own_shape(NameShape s)
{
    if (!s.literal(" (conflicted copy ")) return false;
    const std::size_t start = s.position();
    // The date follows at once, or after a user name (which may hold spaces).
    for (;;) {
        NameShape trial = s;
        if (trial.date() && trial.literal(" ") && trial.digits(6) && trial.literal(")")) {
            if (trial.at_end()) return true;
            // Only this program numbers its copies, and it names no user.
            if (s.position() == start && trial.literal(" ") && trial.number() && trial.at_end()) return true;
        }
        if (!s.skip_to(" ")) return false;
        s.literal(" ");
    }
}

// The vault's stem as the file system compares names: Windows without regard to
// ASCII case, elsewhere byte for byte.
bool same_stem(const std::string& a, const std::string& b)
{
#ifdef _WIN32
    return lowered(a) == lowered(b);
#else
    return a == b;
#endif
}

}  // namespace

bool is_conflict_copy(const std::string& vault_name, const std::string& name)
{
    const std::string stem = stem_of(vault_name);
    if (name.size() <= stem.size() + kExtensionSize) return false;
    if (!same_stem(name.substr(0, stem.size()), stem)) return false;
    if (lowered(name.substr(name.size() - kExtensionSize)) != kExtension) return false;
    const std::string middle = name.substr(stem.size(), name.size() - stem.size() - kExtensionSize);
    const NameShape shape(middle);
    return syncthing_shape(shape) || dropbox_shape(shape) || nextcloud_or_own_shape(shape);
}

int find_conflict_copies(const std::string& vault_path, std::vector<std::string>& paths)
{
    paths.clear();
    const std::string folder = folder_of(vault_path);
    std::vector<std::string> names;
    if (int error_number = db_file::list_files(folder, names)) return error_number;
    const std::string vault_name = file_name_of(vault_path);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        if (is_conflict_copy(vault_name, name)) paths.push_back(folder + name);
    return 0;
}

std::string folder_of(const std::string& path)
{
    const std::string::size_type slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string file_name_of(const std::string& path)
{
    return path.substr(folder_of(path).size());
}
