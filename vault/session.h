#pragma once
// What a writer knows about the vault file it opened: its path, the document of the
// last load or save (the base of later merges), the file's fingerprint then, the
// password in use and the conflict copies merged in. The editor and the companion
// both hold one; every operation is whole, and its report says what happened. No
// window and no question: where the user must be asked (the password changed
// elsewhere), the report says so and the caller asks.
//
// The session works on a container (`Database`) that the caller owns and that
// outlives it: the container holds the keys and the format, the session the rest.
// A session may hold no password (after a lock that keeps only the key, or before
// the first open): then every operation that needs one reports kPasswordNeeded;
// but a session that adopted a document without a password (the vault opened with
// the keys a lock kept) reads and writes the vault with the container's own keys.
//
// Every document read from the vault is checked as the open checks it: a text that
// holds a zero byte (which no editor box can hold) is refused, and nothing of it is
// taken.

#include <string>
#include <vector>

#include "crypto/wipe.h"
#include "tree/tree.h"
#include "vault/document_check.h"
#include "vault/save.h"
#include "vault/vault_merge.h"

class Database;

namespace vault {

enum class SessionOutcome {
    kDone,  // opened, created, saved or re-keyed as asked, the file as the base said
    kUnchanged,  // nothing to do: the file is as last read or written
    kReloaded,  // the file changed elsewhere and the document is now the file's
    kMerged,  // the file changed elsewhere and was merged into the document (and saved, for save)
    kWrittenAnew,  // save: no file was there any more, the document was written anew
    kPasswordNeeded,  // the session holds no password, or the file no longer opens with it
    kInCopy,  // save: the file cannot be merged; the document went to a conflicted copy, the vault is as found
    kChanged,  // check_unchanged: the file is no longer as last read or written
    kRefused,  // the file's text holds a zero byte (`check` says where): nothing of it was taken
    kFailed,  // status and error say why; the session and the document are as they were
};

struct SessionReport {
    SessionOutcome outcome = SessionOutcome::kFailed;
    int status = 0;  // DB_OK or the vault's status code of what failed
    std::string error;  // its text
    std::vector<std::string> kept_twice;  // kMerged: paths changed differently on both sides
    std::string copy_path;  // kInCopy: the conflicted copy written
    std::string backup_error;  // a save that went on without a backup says why
    std::vector<std::string> copies;  // take_conflict_copies: the copies merged
    std::vector<std::string> skipped;  // take_conflict_copies: those that did not open with the password in use
    DocumentCheck check;  // the file's text, when it was read (a reload, a merge)
};

class Session {
public:
    // A session of the vault at `path` over `db`, holding no password and no base.
    Session(Database& db, std::string path);
    ~Session();  // the base and the password are wiped
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::string& path() const noexcept { return path_; }
    const Tree& base() const noexcept { return base_; }
    bool has_password() const noexcept { return has_password_; }
    const SecretString& password() const noexcept { return password_; }
    // The file as last read or written; unknown (false) before an open or after a
    // save whose file could not be read back.
    bool fingerprint_known() const noexcept { return known_valid_; }
    const VaultFingerprint& fingerprint() const noexcept { return known_; }
    // The conflict copies merged into the document since the session began.
    const std::vector<std::string>& copies_taken() const noexcept { return copies_taken_; }

    // Takes the file's fingerprint before it is loaded: a change made meanwhile (while
    // a password is typed) counts as made elsewhere. kDone, or kFailed when the file
    // cannot be read. Never throws.
    SessionReport note_loading() noexcept;
    // kUnchanged while the file is as last read or written, kChanged when not (a
    // writer that does not merge writes nothing then), kFailed when it cannot be read.
    SessionReport check_unchanged();
    // Loads and decrypts the vault with `password`, parses it into `document` (wiped
    // first); the document becomes the base and the password the one in use. kDone,
    // or kFailed (DB_WRONG_PASSWORD among others) with the session as it was.
    SessionReport open(const SecretString& password, Tree& document);
    // Adopts a vault that `db` already holds decrypted (opened by a window of its own)
    // with `password`: the document becomes the base. The fingerprint is the one
    // note_loading took.
    void adopt(const SecretString& password, const Tree& document);
    // The same with the password in use (given by use_password); without one, the
    // vault is read and written with the password or keys that `db` holds (quick
    // unlock keeps only the keys), and no other file can be opened.
    void adopt(const Tree& document);
    // The password that `db` holds now (typed for the keys it kept, or for the vault
    // it opened) becomes the one in use.
    void use_password(const SecretString& password);
    // Writes a new, empty vault under `password`; never replaces a file (kFailed when
    // one is there). kDone with the empty document as the base.
    SessionReport create(const SecretString& password);

    // With nothing unsaved: when the file changed since the base, `document` becomes
    // the file's (decrypted with the password in use). kUnchanged, kReloaded,
    // kPasswordNeeded (re-keyed elsewhere), kFailed (cannot be read; the document stays),
    // kRefused (a zero byte; that file is not read again: kUnchanged until it changes).
    // A file that went away is kUnchanged: the next save writes it anew.
    SessionReport reload_if_changed(Tree& document);
    // Before a write: when the file changed since the base, merges it into `document`
    // (edited from the base) three ways; the file's document becomes the base. kUnchanged,
    // kMerged, kWrittenAnew (no file: write it anew), kPasswordNeeded, kFailed (cannot be
    // merged: damaged, newer version, unreadable), kRefused (the file and the document
    // stay as they were). kUnchanged after a read carries the file's check too.
    SessionReport merge_before_save(Tree& document);
    // After kPasswordNeeded: the same merge with the password the file opens with now,
    // which becomes the one in use on success (kMerged); otherwise kPasswordNeeded or
    // kFailed and nothing changes. kRefused: the file opened with the password, which
    // is the one in use now, but nothing of it was taken.
    SessionReport take_password(const SecretString& password, Tree& document);
    // merge_before_save, then the write through the save pipeline (backup, then the
    // vault); `document` becomes the base. When the file cannot be merged or the
    // password in use no longer opens it, the document goes to a conflicted copy
    // instead (kInCopy) and the vault stays as found; kRefused writes nothing. kDone,
    // kMerged or kWrittenAnew when the vault was written.
    SessionReport save(Tree& document, long long now_seconds);
    // The writes after merge_before_save (or take_password) said the vault may be
    // written, through the save pipeline: the document as it is; under `new_password`
    // after a required backup; as format 2.0 after a required backup (under
    // `new_password` when not null, else the password held). On DB_OK `document` is
    // the base, the fingerprint is taken again and a new password is the one in use;
    // otherwise the session is as it was.
    SaveReport write(const Tree& document, long long now_seconds);
    SaveReport write_rekeyed(const SecretString& new_password, const Tree& document, long long now_seconds);
    SaveReport write_upgraded(const SecretString* new_password, const Tree& document, long long now_seconds);
    // The document written to a new conflicted copy beside the vault, under the
    // password and format in use; the vault is not touched. kInCopy with copy_path,
    // or kFailed.
    SessionReport write_copy(const Tree& document);
    // The document merged with the file as save does, then written under
    // `new_password` after a required backup; the new password is then the one in
    // use. kPasswordNeeded, kFailed or kRefused, with the vault and the password as
    // they were, when it could not.
    SessionReport rekey(const SecretString& new_password, Tree& document, long long now_seconds);
    // The conflict copies beside the vault that open with the password in use are
    // merged into `document` two ways and noted as taken. kMerged when any was, else
    // kUnchanged; the copies that do not open are in `skipped`.
    SessionReport take_conflict_copies(Tree& document);
    // One conflict copy that the caller opened (with a password of its own) merged
    // into `document` two ways and noted as taken: kMerged, with kept_twice.
    SessionReport merge_copy(const std::string& copy, const Tree& theirs, Tree& document);
    // The copies taken are no longer noted (they were offered for deletion).
    void forget_copies_taken() noexcept;
    // The password in use is forgotten (wiped): the session keeps its base and
    // fingerprint, and the next operation that needs the password reports
    // kPasswordNeeded until take_password or open gives it again.
    void forget_password() noexcept;
    // Everything the session holds is wiped and forgotten; the path stays.
    void close() noexcept;

private:
    void set_base(const Tree& document);
    void set_password(const SecretString& password);
    void take_fingerprint() noexcept;
    void written_as(const Tree& document) noexcept;
    bool can_read() const noexcept { return has_password_ || by_keys_; }
    SessionReport adopt_check(ElsewhereCheck& check, Tree& document);

    Database& db_;
    std::string path_;
    Tree base_;
    SecretString password_;
    bool has_password_ = false;
    bool by_keys_ = false;  // adopted without a password: db's own password or keys read the vault
    VaultFingerprint known_;
    bool known_valid_ = false;
    VaultFingerprint refused_;  // the file as reload_if_changed last refused it
    std::vector<std::string> copies_taken_;
};

}  // namespace vault
