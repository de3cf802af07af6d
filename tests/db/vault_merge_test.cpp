// The check a save makes when another program may have written the vault, the
// merge of what it finds, the conflicted copy, and the names of conflict copies.

#include "vault/vault_merge.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "db/database.h"
#include "tests/support/vaults.h"
#include "vault/save.h"

namespace {

#ifdef _WIN32
constexpr bool kNamesFoldCase = true;  // ASCII letters only
#else
constexpr bool kNamesFoldCase = false;
#endif

TEST(ConflictCopies, AreRecognisedByName)
{
    const struct {
        const char* name;
        bool copy;
    } cases[] = {
        // The shapes that synchronisation programs give a copy, and this program's own.
        {"passwords.sync-conflict-20261209-101500-ABCDEFG.gkv", true},
        {"passwords (Alice's conflicted copy 2026-12-09).gkv", true},
        {"passwords (Alice\xE2\x80\x99s conflicted copy 2026-12-09 (2)).gkv", true},
        {"passwords (Bob Smith's conflicted copy 2026-12-09).gkv", true},
        {"passwords (conflicted copy 2026-12-09).gkv", true},
        {"passwords (conflicted copy 2026-12-09 (3)).gkv", true},
        {"passwords (conflicted copy 2026-12-09 101500).gkv", true},
        {"passwords (conflicted copy alice 2026-12-09 101500).gkv", true},
        {"passwords (conflicted copy Alice Smith 2026-12-09 101500).GKV", true},
        {"passwords (conflicted copy 2026-12-09 101500) 2.gkv", true},
        // Other vaults whose names begin like this one's, and their copies.
        {"passwords-work.gkv", false},
        {"passwords-work.sync-conflict-20261209-101500-ABCDEFG.gkv", false},
        {"passwords2 (Bob's conflicted copy 2026-12-09).gkv", false},
        {"passwords.old (conflicted copy 2026-12-09 101500).gkv", false},
        {"passwords-old.gkv", false},
        {"other (conflicted copy 2026-12-09 101500).gkv", false},
        {"passwords (work) (Alice's conflicted copy 2026-12-09).gkv", false},
        {"passwords (work) (Alice\xE2\x80\x99s conflicted copy 2026-12-09 (2)).gkv", false},
        {"passwords (x) (y) (Bob's conflicted copy 2026-12-09).gkv", false},
        {"passwords (work) (conflicted copy 2026-12-09).gkv", false},
        {"passwords (Ann (home)'s conflicted copy 2026-12-09).gkv", true},
        // The stem as the file system compares names.
        {"Passwords (conflicted copy 2026-12-09 101500).gkv", kNamesFoldCase},
        {"PASSWORDS.sync-conflict-20261209-101500-ABCDEFG.gkv", kNamesFoldCase},
        {"pAsswords (Alice's conflicted copy 2026-12-09).gkv", kNamesFoldCase},
        // Near misses of the shapes.
        {"passwords.gkv", false},
        {"passwords (Conflicted Copy).GKV", false},
        {"passwords.SYNC-CONFLICT.gkv", false},
        {"passwords.sync-conflict-20261209-101500-ABCDEF.gkv", false},
        {"passwords.sync-conflict-20261209-101500-abcdefg.gkv", false},
        {"passwords.sync-conflict-2026120-101500-ABCDEFG.gkv", false},
        {"passwords (conflicted copy 2026-12-9).gkv", false},
        {"passwords (conflicted copy alice 2026-12-09 101500) 2.gkv", false},
        {"passwords (conflicted copy 2026-12-09 101500) x.gkv", false},
        {"passwords ('s conflicted copy 2026-12-09).gkv", false},
        {"passwords (conflicted copy 2026-12-09 101500).gkv.tmp", false},
        {"passwords.gkv.1796752497.bak", false},
        {"passwords (conflicted copy 2026-12-09 101500).gkv.1796752497.bak", false},
        {"passwords (conflicted copy 2026-12-09 101500).txt", false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_conflict_copy("passwords.gkv", c.name), c.copy) << c.name;
    EXPECT_EQ(conflicted_copy_path("dir/passwords.gkv", 2026, 12, 9, 7, 5, 3),
              "dir/passwords (conflicted copy 2026-12-09 070503).gkv");
    EXPECT_TRUE(
        is_conflict_copy("passwords.gkv", file_name_of(conflicted_copy_path("passwords.gkv", 2026, 1, 2, 3, 4, 5))));
}

// The magic and version that open a vault file.
std::string magic_of(const std::string& path)
{
    const Bytes image = read_bytes(path);
    return std::string(image.begin(),
                       image.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(13, image.size())));
}

std::string document_of(Database& db)
{
    return db.plaintext();
}

class CheckBeforeSave : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(write_vault("a: 1\r\nb: 2\r\n", "pw"));
        ASSERT_TRUE(open_vault(db, "pw"));
        std::string error;
        ASSERT_EQ(fingerprint_file(kDatabaseFileName, known, error), DB_OK);
        base = parse_tree(db.plaintext());
        ours = parse_tree("a: 1\r\nb: 2\r\nmine: 3\r\n");
    }

    TempWorkingDir dir;
    Database db;
    VaultFingerprint known;
    Tree base;
    Tree ours;
};

TEST_F(CheckBeforeSave, FindsTheFileUnchanged)
{
    EXPECT_TRUE(known.present);
    EXPECT_EQ(check_before_save(db, kDatabaseFileName, known, true, base, ours).found, FoundOnDisk::kUnchanged);
}

TEST_F(CheckBeforeSave, MergesAChangedFileAndKeepsItsFormat)
{
    ASSERT_TRUE(write_vault("a: 7\r\nb: 2\r\ntheirs: 4\r\n", "pw"));
    const ElsewhereCheck check = check_before_save(db, kDatabaseFileName, known, true, base, ours);
    ASSERT_EQ(check.found, FoundOnDisk::kMerged);
    EXPECT_EQ(check.merge.merged.serialize("\r\n", 0), "a: 7\r\nb: 2\r\nmine: 3\r\ntheirs: 4\r\n");
    EXPECT_FALSE(db.legacy_format());
}

TEST_F(CheckBeforeSave, AnUnknownFingerprintCountsAsChanged)
{
    // The fingerprint could not be read after the last save: the next check reads
    // the file and merges, whether it changed or not.
    EXPECT_EQ(check_before_save(db, kDatabaseFileName, VaultFingerprint(), false, base, ours).found,
              FoundOnDisk::kMerged);
    ASSERT_TRUE(write_vault("a: 1\r\nb: 2\r\ntheirs: 4\r\n", "pw"));
    const ElsewhereCheck check = check_before_save(db, kDatabaseFileName, VaultFingerprint(), false, base, ours);
    ASSERT_EQ(check.found, FoundOnDisk::kMerged);
    EXPECT_EQ(check.merge.merged.serialize("\r\n", 0), "a: 1\r\nb: 2\r\nmine: 3\r\ntheirs: 4\r\n");
}

// A 1.0 backup of the vault, of its old password, copied over the 2.0 vault: no
// check, copy or password lowers the format of what this vault writes.
TEST_F(CheckBeforeSave, AnOldFileCopiedOverNeverLowersTheFormat)
{
    make_vault(kDatabaseFileName, "old", "a: 1\r\nb: 2\r\nold: 1\r\n");
    const Bytes old_image = read_bytes(kDatabaseFileName);
    const std::uint32_t iterations = db.iterations();
    ElsewhereCheck check = check_before_save(db, kDatabaseFileName, known, true, base, ours);
    ASSERT_EQ(check.found, FoundOnDisk::kWrongPassword);
    EXPECT_FALSE(db.legacy_format());
    EXPECT_EQ(db.iterations(), iterations) << "nothing of the file that did not open stays";
    EXPECT_EQ(document_of(db), "a: 1\r\nb: 2\r\n");

    std::string copy;
    std::string error;
    ASSERT_EQ(write_conflicted_copy(db, ours, kDatabaseFileName, copy, error), DB_OK) << error;
    EXPECT_EQ(magic_of(copy), "GLIMKEEPDB2.0") << "a conflicted copy of a 2.0 vault";
    EXPECT_EQ(read_bytes(kDatabaseFileName), old_image);

    EXPECT_EQ(merge_with_password(db, kDatabaseFileName, "wrong", 5, base, ours).found, FoundOnDisk::kWrongPassword);
    EXPECT_TRUE(db.password_equals("pw", 2)) << "a password that does not open the file is not taken";
    check = merge_with_password(db, kDatabaseFileName, "old", 3, base, ours);
    ASSERT_EQ(check.found, FoundOnDisk::kMerged);
    EXPECT_FALSE(db.legacy_format());
    ASSERT_EQ(vault::store_document(db, check.merge.merged, error), DB_OK);
    ASSERT_EQ(db.save(kDatabaseFileName), DB_OK);
    EXPECT_EQ(magic_of(kDatabaseFileName), "GLIMKEEPDB2.0");
    EXPECT_EQ(plaintext_of(kDatabaseFileName, "old"), "a: 1\r\nb: 2\r\nmine: 3\r\nold: 1\r\n");
}

TEST_F(CheckBeforeSave, FindsADeletedVault)
{
    ASSERT_EQ(std::remove(kDatabaseFileName), 0);
    EXPECT_EQ(check_before_save(db, kDatabaseFileName, known, true, base, ours).found, FoundOnDisk::kDeleted);
}

TEST_F(CheckBeforeSave, AsksForANewPasswordAndNeverWritesTheOldOne)
{
    ASSERT_TRUE(write_vault("a: 1\r\nb: 5\r\n", "new"));
    const Bytes theirs_image = read_bytes(kDatabaseFileName);
    ElsewhereCheck check = check_before_save(db, kDatabaseFileName, known, true, base, ours);
    ASSERT_EQ(check.found, FoundOnDisk::kWrongPassword);
    EXPECT_EQ(merge_with_password(db, kDatabaseFileName, "old", 3, base, ours).found, FoundOnDisk::kWrongPassword);

    // The dead end: ours goes beside the vault under the password in use.
    std::string copy;
    std::string error;
    ASSERT_EQ(write_conflicted_copy(db, ours, kDatabaseFileName, copy, error), DB_OK) << error;
    EXPECT_TRUE(is_conflict_copy(kDatabaseFileName, copy)) << copy;
    EXPECT_EQ(read_bytes(kDatabaseFileName), theirs_image);
    Database reread;
    Tree document;
    ASSERT_EQ(open_document(reread, copy, "pw", 2, document), DB_OK);
    EXPECT_TRUE(document == ours);
    std::string second;
    ASSERT_EQ(write_conflicted_copy(db, ours, kDatabaseFileName, second, error), DB_OK) << error;
    EXPECT_NE(second, copy);

    check = merge_with_password(db, kDatabaseFileName, "new", 3, base, ours);
    ASSERT_EQ(check.found, FoundOnDisk::kMerged);
    EXPECT_EQ(check.merge.merged.serialize("\r\n", 0), "a: 1\r\nb: 5\r\nmine: 3\r\n");
    EXPECT_EQ(document_of(db), "a: 1\r\nb: 5\r\n");  // the file as found, under the new password
}

TEST_F(CheckBeforeSave, CannotMergeADamagedFile)
{
    Bytes image = read_bytes(kDatabaseFileName);
    image[0] ^= 1;  // no longer a vault
    write_file(kDatabaseFileName, image);
    const ElsewhereCheck check = check_before_save(db, kDatabaseFileName, known, true, base, ours);
    EXPECT_EQ(check.found, FoundOnDisk::kCannotMerge);
    EXPECT_FALSE(check.error.empty());
}

}  // namespace
