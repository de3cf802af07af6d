// The vault session: a model of two writers, synchronisation programs and locks
// driven at random, with the file and its copies checked after every step; and the
// session's single operations where they refuse.

#include "vault/session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>

#include "db/backup.h"
#include "db/database.h"
#include "tests/support/files.h"
#include "tests/support/vaults.h"
#include "vault/save.h"

namespace {

using Lines = std::set<std::string>;
using vault::SaveReport;
using vault::Session;
using vault::SessionOutcome;
using vault::SessionReport;

constexpr long long kNow = 1765000000;

SecretString secret(const std::string& text)
{
    return SecretString(text.data(), text.size());
}

// The lines of a document as the editor shows them, one per element.
Lines lines_of(const Tree& document)
{
    Lines lines;
    std::istringstream text(shown_text(document, "\n"));
    for (std::string line; std::getline(text, line);)
        if (!line.empty()) lines.insert(line);
    return lines;
}

Tree document_of(const Lines& lines)
{
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return parse_tree(text);
}

// The document of the vault file at `path` opened with `password`; false when it
// does not open.
bool read_document(const std::string& path, const std::string& password, Tree& document)
{
    Database db;
    db.set_new_key_iterations(kTestIterations);
    return open_document(db, path, password.data(), static_cast<std::uint32_t>(password.size()), document) == DB_OK;
}

const char* outcome_name(SessionOutcome outcome)
{
    switch (outcome) {
    case SessionOutcome::kDone: return "done";
    case SessionOutcome::kUnchanged: return "unchanged";
    case SessionOutcome::kReloaded: return "reloaded";
    case SessionOutcome::kMerged: return "merged";
    case SessionOutcome::kWrittenAnew: return "written anew";
    case SessionOutcome::kPasswordNeeded: return "password needed";
    case SessionOutcome::kInCopy: return "in copy";
    case SessionOutcome::kChanged: return "changed";
    case SessionOutcome::kRefused: return "refused";
    case SessionOutcome::kFailed: return "failed";
    }
    return "?";
}

// The world of one random run: the vault file, the editor's session over it, the
// other writer's latest document, and what each side deleted.
class SessionModel {
public:
    explicit SessionModel(unsigned seed) : random_(seed), path_(dir_.file(kDatabaseFileName))
    {
        db_.set_new_key_iterations(kTestIterations);
        passwords_.push_back(file_password_);
    }

    void start()
    {
        session_ = std::make_unique<Session>(db_, path_);
        const SessionReport created = session_->create(secret(file_password_));
        ASSERT_EQ(created.outcome, SessionOutcome::kDone) << created.error;
        session_password_ = file_password_;
        open_ = true;
        edit();
        save();
        check("start");
    }

    void step(int number)
    {
        const int kind = static_cast<int>(random_() % 9);
        std::string name;
        switch (kind) {
        case 0:
        case 1: name = "edit", edit(); break;
        case 2: name = "save", save(); break;
        case 3:
        case 4: name = "other writer saves", other_writer_saves(); break;
        case 5: name = "conflict copy appears", conflict_copy_appears(); break;
        case 6: name = "re-key elsewhere", rekey_elsewhere(); break;
        case 7: name = "lock", lock(); break;
        case 8: name = "reopen", reopen(); break;
        }
        check("step " + std::to_string(number) + " (" + name + ")");
    }

    const std::string& history() const { return history_; }

private:
    std::string new_line()
    {
        ++count_;
        return "k" + std::to_string(count_) + ": v" + std::to_string(count_);
    }

    // Some line of `lines` at random; empty when there is none.
    std::string any_of(const Lines& lines)
    {
        if (lines.empty()) return std::string();
        auto at = lines.begin();
        std::advance(at, static_cast<long>(random_() % lines.size()));
        return *at;
    }

    void note(const std::string& what) { history_ += what + "\n"; }

    // One side's edit: a new line, and sometimes one deleted (noted in `deleted`).
    void change(Lines& lines, Lines& deleted, const std::string& side)
    {
        lines.insert(new_line());
        if (random_() % 3 != 0) return;
        const std::string gone = any_of(lines);
        lines.erase(gone);
        deleted.insert(gone);
        note(side + " deletes " + gone);
    }

    // The editor: with nothing unsaved it reloads what changed (as on activation),
    // then adds a line and sometimes deletes one.
    void edit()
    {
        if (!open_) return;
        if (!unsaved_) {
            const SessionReport reloaded = session_->reload_if_changed(ours_);
            note(std::string("reload: ") + outcome_name(reloaded.outcome));
            ASSERT_NE(reloaded.outcome, SessionOutcome::kFailed) << reloaded.error;
        }
        Lines lines = lines_of(ours_);
        change(lines, deleted_by_ours_, "ours");
        wipe_tree(ours_);
        ours_ = document_of(lines);
        unsaved_ = true;
    }

    // The editor's save; after a re-key elsewhere it sometimes takes the new password
    // first (the user typed it), else the document goes to a conflicted copy.
    void save()
    {
        if (!open_ || !unsaved_) return;
        if (session_password_ != file_password_ && random_() % 2 == 0) {
            const SessionReport taken = session_->take_password(secret(file_password_), ours_);
            note(std::string("take password: ") + outcome_name(taken.outcome));
            ASSERT_EQ(taken.outcome, SessionOutcome::kMerged) << taken.error;
            session_password_ = file_password_;
        }
        const SessionReport saved = session_->save(ours_, kNow);
        note(std::string("save: ") + outcome_name(saved.outcome));
        if (session_password_ != file_password_) {
            ASSERT_EQ(saved.outcome, SessionOutcome::kInCopy) << "the vault does not open with the session's password";
            ASSERT_FALSE(saved.copy_path.empty());
        } else {
            ASSERT_TRUE(saved.outcome == SessionOutcome::kDone || saved.outcome == SessionOutcome::kMerged)
                << outcome_name(saved.outcome) << ": " << saved.error;
            Tree written;
            ASSERT_TRUE(read_document(path_, file_password_, written));
            EXPECT_TRUE(written == ours_) << "the vault holds the document saved";
            wipe_tree(written);
        }
        ours_saved_ = lines_of(ours_);
        unsaved_ = false;
    }

    // Another program opens the vault as it is now, with its password.
    bool open_as_other_writer(Database& other, Tree& document)
    {
        other.set_new_key_iterations(kTestIterations);
        return open_document(other, path_, file_password_.data(), static_cast<std::uint32_t>(file_password_.size()),
                             document) == DB_OK;
    }

    // Another program opens the vault as it is now, changes it and writes it back.
    void other_writer_saves()
    {
        Database other;
        Tree document;
        ASSERT_TRUE(open_as_other_writer(other, document));
        Lines lines = lines_of(document);
        wipe_tree(document);
        change(lines, deleted_by_theirs_, "theirs");
        Tree changed = document_of(lines);
        const vault::SaveReport report = vault::save_document(other, changed, path_, kNow);
        wipe_tree(changed);
        ASSERT_EQ(report.status, DB_OK) << report.error;
        theirs_saved_ = lines;
        note("theirs saved");
    }

    // A synchronisation program leaves a copy beside the vault: the vault as it is
    // with a line of the other device. The editor sometimes merges the copies in.
    void conflict_copy_appears()
    {
        Tree document;
        ASSERT_TRUE(read_document(path_, file_password_, document));
        Lines lines = lines_of(document);
        wipe_tree(document);
        lines.insert(new_line());
        ++copies_made_;
        const std::string name =
            "passwords.sync-conflict-20261209-1015" + std::to_string(10 + copies_made_) + "-ABCDEFG.gkv";
        make_vault_v2(dir_.file(name), file_password_, lines);
        note("copy " + name);
        if (open_ && session_password_ == file_password_ && random_() % 2 == 0) {
            const SessionReport taken = session_->take_conflict_copies(ours_);
            note(std::string("take copies: ") + outcome_name(taken.outcome));
            ASSERT_NE(taken.outcome, SessionOutcome::kFailed) << taken.error;
            if (taken.outcome == SessionOutcome::kMerged) {
                unsaved_ = true;
                const Lines merged = lines_of(ours_);
                for (const std::string& line : lines) {
                    EXPECT_TRUE(deleted_by_ours_.count(line) || merged.count(line)) << "not merged: " << line;
                }
            }
        }
    }

    // Another program changes the vault's password (and writes its document as it is).
    void rekey_elsewhere()
    {
        Database other;
        Tree document;
        ASSERT_TRUE(open_as_other_writer(other, document));
        const std::string password = "password " + std::to_string(passwords_.size() + 1);
        const vault::SaveReport report =
            vault::change_password(other, path_, password.data(), static_cast<std::uint32_t>(password.size()), kNow);
        ASSERT_EQ(report.status, DB_OK) << report.error;
        theirs_saved_ = lines_of(document);
        wipe_tree(document);
        file_password_ = password;
        passwords_.push_back(password);
        note("re-keyed to " + password);
    }

    // The editor locks: unsaved changes are saved first (into a copy when the vault
    // cannot take them), then the session ends.
    void lock()
    {
        if (!open_) return;
        if (unsaved_) save();
        session_->close();
        wipe_tree(ours_);
        open_ = false;
        note("locked");
    }

    void reopen()
    {
        if (open_) return;
        const SessionReport opened = session_->open(secret(file_password_), ours_);
        ASSERT_EQ(opened.outcome, SessionOutcome::kDone) << opened.error;
        session_password_ = file_password_;
        open_ = true;
        unsaved_ = false;
        note("reopened");
    }

    void make_vault_v2(const std::string& path, const std::string& password, const Lines& lines)
    {
        Database db;
        db.set_new_key_iterations(kTestIterations);
        db.set_password(password.data(), static_cast<std::uint32_t>(password.size()));
        std::string text;
        for (const std::string& line : lines) text += line + "\r\n";
        db.set_plaintext(text.data(), static_cast<std::uint32_t>(text.size()));
        ASSERT_EQ(db.save_new(path), DB_OK) << db.last_error();
    }

    // Every line found in the vault (with its password) and in any conflicted copy
    // (with any password it ever had).
    Lines kept_anywhere()
    {
        Lines kept;
        for (const std::string& name : dir_.names()) {
            const std::string path = dir_.file(name);
            // Newest first: most files are under the vault's latest password.
            for (auto password = passwords_.rbegin(); password != passwords_.rend(); ++password) {
                Tree document;
                if (!read_document(path, *password, document)) continue;
                const Lines lines = lines_of(document);
                wipe_tree(document);
                kept.insert(lines.begin(), lines.end());
                break;
            }
        }
        return kept;
    }

    void check(const std::string& when)
    {
        SCOPED_TRACE(when);
        Tree document;
        ASSERT_TRUE(read_document(path_, file_password_, document)) << "the vault opens with its password";
        wipe_tree(document);
        if (open_) {
            ASSERT_TRUE(session_->has_password());
            EXPECT_EQ(session_->password().str(), session_password_);
        }
        const Lines kept = kept_anywhere();
        for (const std::string& line : ours_saved_) {
            EXPECT_TRUE(deleted_by_theirs_.count(line) || kept.count(line)) << "ours, lost: " << line;
        }
        for (const std::string& line : theirs_saved_) {
            EXPECT_TRUE(deleted_by_ours_.count(line) || kept.count(line)) << "theirs, lost: " << line;
        }
    }

    std::mt19937 random_;
    TempDir dir_;
    std::string path_;
    Database db_;
    std::unique_ptr<Session> session_;
    Tree ours_;
    bool open_ = false;
    bool unsaved_ = false;
    std::string file_password_ = "password 1";
    std::string session_password_;
    std::vector<std::string> passwords_;
    Lines ours_saved_;
    Lines theirs_saved_;
    Lines deleted_by_ours_;
    Lines deleted_by_theirs_;
    int count_ = 0;
    int copies_made_ = 0;
    std::string history_;
};

TEST(VaultSession, RandomWritersLockAndCopiesLoseNoLine)
{
    for (unsigned seed = 1; seed <= 10; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        SessionModel model(seed);
        model.start();
        if (::testing::Test::HasFatalFailure()) return;
        for (int step = 1; step <= 30; ++step) {
            model.step(step);
            if (::testing::Test::HasFailure()) {
                ADD_FAILURE() << "history:\n" << model.history();
                return;
            }
        }
    }
}

class VaultSessionFile : public ::testing::Test {
protected:
    VaultSessionFile() { db_.set_new_key_iterations(kTestIterations); }
    ~VaultSessionFile() override { wipe_tree(document_); }

    TempDir dir_;
    std::string path_ = dir_.file(kDatabaseFileName);
    Database db_;
    Tree document_;
};

TEST_F(VaultSessionFile, CreateNeverReplacesAFile)
{
    write_file(path_, "someone's file");
    Session session(db_, path_);
    const SessionReport created = session.create(secret("pw"));
    EXPECT_EQ(created.outcome, SessionOutcome::kFailed);
    EXPECT_EQ(created.error, path_ + ": File exists");
    EXPECT_FALSE(session.has_password());
    EXPECT_EQ(read_file(path_), std::string("someone's file"));
}

TEST_F(VaultSessionFile, AWrongPasswordOpensNothingAndChangesNothing)
{
    Session session(db_, path_);
    ASSERT_EQ(session.create(secret("right")).outcome, SessionOutcome::kDone);
    session.close();
    const SessionReport opened = session.open(secret("wrong"), document_);
    EXPECT_EQ(opened.outcome, SessionOutcome::kFailed);
    EXPECT_EQ(opened.status, DB_WRONG_PASSWORD);
    EXPECT_FALSE(session.has_password());
    EXPECT_EQ(session.open(secret("right"), document_).outcome, SessionOutcome::kDone);
    EXPECT_EQ(session.password().str(), "right");
}

// A session whose password was forgotten (a lock that keeps only the key) writes
// nothing, not even a copy, until it has the password again.
TEST_F(VaultSessionFile, AForgottenPasswordMustBeGivenBeforeAnyWrite)
{
    Session session(db_, path_);
    ASSERT_EQ(session.create(secret("pw")).outcome, SessionOutcome::kDone);
    const std::string before = read_file(path_);
    document_ = parse_tree("bank: 1\r\n");
    session.forget_password();
    EXPECT_EQ(session.save(document_, kNow).outcome, SessionOutcome::kPasswordNeeded);
    EXPECT_EQ(session.rekey(secret("new"), document_, kNow).outcome, SessionOutcome::kPasswordNeeded);
    EXPECT_EQ(read_file(path_), before);
    EXPECT_EQ(dir_.names().size(), 1u) << "no copy, no backup";
    EXPECT_EQ(session.take_password(secret("wrong"), document_).outcome, SessionOutcome::kPasswordNeeded);
    EXPECT_FALSE(session.has_password());
    EXPECT_EQ(session.take_password(secret("pw"), document_).outcome, SessionOutcome::kMerged);
    EXPECT_EQ(session.save(document_, kNow).outcome, SessionOutcome::kDone);
    EXPECT_EQ(plaintext_of(path_, "pw"), "bank: 1\r\n");
}

// The file re-keyed elsewhere: the save writes a copy under the password in use and
// leaves the vault as the other program wrote it; the re-key of the session itself
// writes the merged document under the new password.
TEST_F(VaultSessionFile, ReKeyedElsewhereThenHere)
{
    Session session(db_, path_);
    ASSERT_EQ(session.create(secret("one")).outcome, SessionOutcome::kDone);
    document_ = parse_tree("mail: 1\r\n");
    ASSERT_EQ(session.save(document_, kNow).outcome, SessionOutcome::kDone);
    EXPECT_EQ(session.check_unchanged().outcome, SessionOutcome::kUnchanged);
    {
        Database other;
        ASSERT_TRUE(open_vault_at(other, path_, "one"));
        other.set_plaintext("mail: 1\r\nbank: 2\r\n", 18);
        ASSERT_EQ(vault::change_password(other, path_, "two", 3, kNow).status, DB_OK);
    }
    EXPECT_EQ(session.check_unchanged().outcome, SessionOutcome::kChanged);
    document_ = parse_tree("mail: 1\r\nshop: 3\r\n");
    const SessionReport saved = session.save(document_, kNow);
    ASSERT_EQ(saved.outcome, SessionOutcome::kInCopy);
    EXPECT_EQ(plaintext_of(saved.copy_path, "one"), "mail: 1\r\nshop: 3\r\n");
    EXPECT_EQ(plaintext_of(path_, "two"), "mail: 1\r\nbank: 2\r\n");
    EXPECT_EQ(session.rekey(secret("three"), document_, kNow).outcome, SessionOutcome::kPasswordNeeded);
    ASSERT_EQ(session.take_password(secret("two"), document_).outcome, SessionOutcome::kMerged);
    const SessionReport rekeyed = session.rekey(secret("three"), document_, kNow);
    ASSERT_EQ(rekeyed.outcome, SessionOutcome::kDone) << rekeyed.error;
    EXPECT_EQ(session.password().str(), "three");
    const std::string text = plaintext_of(path_, "three");
    EXPECT_NE(text.find("bank: 2"), std::string::npos) << text;
    EXPECT_NE(text.find("shop: 3"), std::string::npos) << text;
}

// Another program writes `text` as the vault at `path`: it opens the vault with
// `password` first, so the file keeps its salt and iteration count.
void other_program_writes(const std::string& path, const std::string& password, const std::string& text)
{
    Database other;
    ASSERT_TRUE(open_vault_at(other, path, password));
    const vault::SaveReport written = vault::save_text(other, text, path, kNow);
    ASSERT_EQ(written.status, DB_OK) << written.error;
}

// A text with a zero byte is taken by no way in: neither merged before a save (nor
// written over, nor copied beside), nor reloaded, and a file refused once is not
// read again until it changes.
TEST_F(VaultSessionFile, AZeroByteInTheFileIsRefusedOnEveryWayIn)
{
    Session session(db_, path_);
    ASSERT_EQ(session.create(secret("pw")).outcome, SessionOutcome::kDone);
    document_ = parse_tree("mail: 1\r\n");
    ASSERT_EQ(session.save(document_, kNow).outcome, SessionOutcome::kDone);
    other_program_writes(path_, "pw", std::string("mail: 1\r\nbank: x\0y\r\n", 20));
    if (HasFatalFailure()) return;
    const std::string image = read_file(path_);
    const std::vector<std::string> names = dir_.names();

    document_ = parse_tree("mail: 1\r\nshop: 2\r\n");
    const SessionReport merged = session.merge_before_save(document_);
    EXPECT_EQ(merged.outcome, SessionOutcome::kRefused);
    EXPECT_TRUE(merged.check.has_zero);
    EXPECT_EQ(merged.check.zero_offset, 16u);
    EXPECT_EQ(merged.check.zero_line, 2u);
    EXPECT_TRUE(document_ == parse_tree("mail: 1\r\nshop: 2\r\n")) << "the document stays";
    EXPECT_TRUE(session.base() == parse_tree("mail: 1\r\n")) << "the base stays";
    EXPECT_EQ(session.save(document_, kNow).outcome, SessionOutcome::kRefused);
    EXPECT_EQ(session.take_password(secret("pw"), document_).outcome, SessionOutcome::kRefused);
    EXPECT_EQ(session.rekey(secret("new"), document_, kNow).outcome, SessionOutcome::kRefused);
    EXPECT_EQ(read_file(path_), image);
    EXPECT_EQ(dir_.names(), names) << "no backup, no copy";
    EXPECT_EQ(session.password().str(), "pw");

    Tree shown = parse_tree("mail: 1\r\n");
    EXPECT_EQ(session.reload_if_changed(shown).outcome, SessionOutcome::kRefused);
    EXPECT_EQ(session.reload_if_changed(shown).outcome, SessionOutcome::kUnchanged) << "not read again";
    EXPECT_TRUE(shown == parse_tree("mail: 1\r\n"));
    other_program_writes(path_, "pw", "bank: 2\r\n");
    if (HasFatalFailure()) return;
    const SessionReport reloaded = session.reload_if_changed(shown);
    EXPECT_EQ(reloaded.outcome, SessionOutcome::kReloaded);
    EXPECT_FALSE(reloaded.check.has_zero);
    EXPECT_TRUE(shown == parse_tree("bank: 2\r\n"));
    EXPECT_TRUE(session.base() == shown);
    wipe_tree(shown);
}

// Bytes that are not UTF-8 are taken as they are, and the report counts them for
// the warning.
TEST_F(VaultSessionFile, TextThatIsNotUtf8IsTakenAndCounted)
{
    Session session(db_, path_);
    ASSERT_EQ(session.create(secret("pw")).outcome, SessionOutcome::kDone);
    other_program_writes(path_, "pw", "bank: caf\xe9\r\n");
    if (HasFatalFailure()) return;
    const SessionReport reloaded = session.reload_if_changed(document_);
    ASSERT_EQ(reloaded.outcome, SessionOutcome::kReloaded);
    EXPECT_EQ(reloaded.check.invalid_utf8, 1u);
    other_program_writes(path_, "pw", "bank: caf\xe9\r\nshop: \xff\xfe\r\n");
    if (HasFatalFailure()) return;
    document_ = parse_tree("bank: caf\xe9\r\nmail: 3\r\n");
    const SessionReport merged = session.merge_before_save(document_);
    ASSERT_EQ(merged.outcome, SessionOutcome::kMerged);
    EXPECT_EQ(merged.check.invalid_utf8, 3u);
    const SaveReport written = session.write(document_, kNow);
    ASSERT_EQ(written.status, DB_OK) << written.error;
    Tree in_file = parse_tree(plaintext_of(path_, "pw"));
    EXPECT_EQ(lines_of(in_file), (Lines{"bank: caf\xe9", "mail: 3", "shop: \xff\xfe"})) << "the bytes as they were";
    wipe_tree(in_file);
}

// A vault opened with the keys a lock kept (no password): the session reads and
// writes it with those keys while its salt stays, opens no other file, and takes a
// password once one is given.
TEST_F(VaultSessionFile, AVaultOpenedWithKeptKeysIsReadAndWrittenWithThem)
{
    {
        Session first(db_, path_);
        ASSERT_EQ(first.create(secret("pw")).outcome, SessionOutcome::kDone);
        document_ = parse_tree("mail: 1\r\n");
        ASSERT_EQ(first.save(document_, kNow).outcome, SessionOutcome::kDone);
    }
    std::uint8_t keys[format_v2::kKeysSize] = {};
    {
        Database opened;
        ASSERT_TRUE(open_vault_at(opened, path_, "pw"));
        ASSERT_TRUE(opened.copy_session_keys(keys));
    }
    Database held;
    held.set_new_key_iterations(kTestIterations);
    Session session(held, path_);
    ASSERT_EQ(session.note_loading().outcome, SessionOutcome::kDone);
    ASSERT_EQ(held.load(path_), DB_OK);
    ASSERT_EQ(held.decrypt_with_keys(keys), DB_OK);
    secure_wipe(keys, sizeof keys);
    wipe_tree(document_);
    document_ = parse_plaintext(held);
    session.adopt(document_);
    EXPECT_FALSE(session.has_password());
    EXPECT_EQ(session.check_unchanged().outcome, SessionOutcome::kUnchanged);

    other_program_writes(path_, "pw", "mail: 1\r\nbank: 2\r\n");
    if (HasFatalFailure()) return;
    EXPECT_EQ(session.reload_if_changed(document_).outcome, SessionOutcome::kReloaded);
    EXPECT_TRUE(document_ == parse_tree("mail: 1\r\nbank: 2\r\n"));
    other_program_writes(path_, "pw", "mail: 1\r\nbank: 2\r\ncar: 4\r\n");
    if (HasFatalFailure()) return;
    wipe_tree(document_);
    document_ = parse_tree("mail: 1\r\nbank: 2\r\nshop: 3\r\n");
    const SessionReport saved = session.save(document_, kNow);
    ASSERT_EQ(saved.outcome, SessionOutcome::kMerged) << saved.error;
    EXPECT_EQ(plaintext_of(path_, "pw"), "mail: 1\r\nbank: 2\r\nshop: 3\r\ncar: 4\r\n");

    const std::string copy = dir_.file("passwords.sync-conflict-20261209-101500-ABCDEFG.gkv");
    {
        Database other;
        other.set_new_key_iterations(kTestIterations);
        other.set_password("pw", 2);
        other.set_plaintext("boat: 5\r\n", 9);
        ASSERT_EQ(other.save_new(copy), DB_OK);
    }
    EXPECT_EQ(session.take_conflict_copies(document_).outcome, SessionOutcome::kPasswordNeeded)
        << "no password for other files";
    session.use_password(secret("pw"));
    const SessionReport taken = session.take_conflict_copies(document_);
    ASSERT_EQ(taken.outcome, SessionOutcome::kMerged);
    EXPECT_EQ(session.copies_taken(), std::vector<std::string>{copy});

    session.forget_password();
    EXPECT_EQ(session.save(document_, kNow).outcome, SessionOutcome::kPasswordNeeded)
        << "a forgotten password is needed again, keys or not";
}

// The writes after a merge: a new password, and format 2.0 from 1.0, become the
// session's only once written; the base follows the document written.
TEST_F(VaultSessionFile, ReKeyAndUpgradeTakeTheirPasswordWithTheWrite)
{
    make_vault(path_, "old", "a: 1\r\n");
    Session session(db_, path_);
    ASSERT_EQ(session.open(secret("old"), document_).outcome, SessionOutcome::kDone);
    ASSERT_TRUE(db_.legacy_format());
    wipe_tree(document_);
    document_ = parse_tree("a: 1\r\nb: 2\r\n");
    ASSERT_EQ(session.merge_before_save(document_).outcome, SessionOutcome::kUnchanged);
    const SecretString upgraded_password = secret("new");
    const SaveReport upgraded = session.write_upgraded(&upgraded_password, document_, kNow);
    ASSERT_EQ(upgraded.status, DB_OK) << upgraded.error;
    EXPECT_FALSE(db_.legacy_format());
    EXPECT_EQ(session.password().str(), "new");
    EXPECT_TRUE(session.base() == document_);
    EXPECT_EQ(plaintext_of(path_, "new"), "a: 1\r\nb: 2\r\n");
    EXPECT_EQ(session.check_unchanged().outcome, SessionOutcome::kUnchanged) << "the fingerprint is the file's";

    // A re-key that cannot be written (its folder is gone) changes nothing.
    {
        Database elsewhere;
        elsewhere.set_new_key_iterations(kTestIterations);
        Session lost(elsewhere, dir_.file("gone") + "/" + kDatabaseFileName);
        const Tree kept = parse_tree("c: 3\r\n");
        lost.adopt(secret("a"), kept);
        const SaveReport refused = lost.write_rekeyed(secret("b"), parse_tree("d: 4\r\n"), kNow);
        EXPECT_NE(refused.status, DB_OK);
        EXPECT_EQ(lost.password().str(), "a");
        EXPECT_TRUE(lost.base() == kept);
        EXPECT_FALSE(lost.fingerprint_known());
    }
    const SaveReport rekeyed = session.write_rekeyed(secret("newest"), document_, kNow + 2);
    ASSERT_EQ(rekeyed.status, DB_OK) << rekeyed.error;
    EXPECT_EQ(session.password().str(), "newest");
    EXPECT_EQ(plaintext_of(path_, "newest"), "a: 1\r\nb: 2\r\n");
}

// One conflict copy opened by the caller: merged two ways, noted until forgotten.
TEST_F(VaultSessionFile, ACopyMergedByTheCallerIsNotedUntilForgotten)
{
    Session session(db_, path_);
    document_ = parse_tree("bank: 1\r\nmail: 2\r\n");
    Tree theirs = parse_tree("bank: 9\r\nshop: 3\r\n");
    const SessionReport merged = session.merge_copy("copy.gkv", theirs, document_);
    wipe_tree(theirs);
    EXPECT_EQ(merged.outcome, SessionOutcome::kMerged);
    EXPECT_EQ(merged.kept_twice, std::vector<std::string>{"bank"});
    EXPECT_EQ(document_.serialize("\r\n", 0), "bank: 1\r\nbank: 9\r\nmail: 2\r\nshop: 3\r\n");
    EXPECT_EQ(session.copies_taken(), std::vector<std::string>{"copy.gkv"});
    session.forget_copies_taken();
    EXPECT_TRUE(session.copies_taken().empty());
}

}  // namespace
