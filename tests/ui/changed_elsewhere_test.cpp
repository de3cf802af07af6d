// The editor's saves when another program wrote the vault meanwhile: merged, or
// written beside the vault when the vault no longer opens with the password in use;
// and always to the path fixed at start, wherever the working directory went.

#include <gtest/gtest.h>

#include <memory>

#include "db/database.h"
#include "vault/session.h"
#include "vault/vault_merge.h"
#include "ui/changed_elsewhere/changed_elsewhere.h"
#include "ui/common/vault_path.h"
#include "ui/editor/editor_state.h"
#include "ui/common/text.h"
#include "window_driver.h"

namespace {

constexpr char kPassword[] = "tr0ub4dor&3";
constexpr char kDocument[] = "mail\r\n\tuser: bob\r\nbank: 1234\r\n";

class ChangedElsewhere : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(write_vault(kDocument, kPassword));
        fix_vault_path();
        session_ = std::make_unique<vault::Session>(db_, vault_path());
        session_->note_loading();
        ASSERT_TRUE(open_vault(db_, kPassword));
        // What the open window leaves when it opened the vault.
        session_->use_password(SecretString(kPassword, sizeof kPassword - 1));
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(folder_.path().c_str());
        set_vault_path(kDatabaseFileName);
    }

    bool run(const std::function<void(WindowDriver&)>& script)
    {
        return run_editor_checked(db_, script, EditorOptions(), session_.get());
    }

    TempWorkingDir folder_;
    TempDir elsewhere_;
    Database db_;
    std::unique_ptr<vault::Session> session_;
};

TEST_F(ChangedElsewhere, ASaveMergesWhatAnotherProgramWroteIntoTheFixedPath)
{
    run([&](WindowDriver& d) {
        d.set_filter(L"mail");
        d.focus_editor();
        d.press(VK_END, {VK_CONTROL});
        d.type(L"pass: mine");
        d.expect_text(d.main, L"* Glimkeep", "changed");
        d.check(write_vault("mail\r\n\tuser: bob\r\nbank: 9999\r\nshop: theirs\r\n", kPassword), "second writer");
        // The open dialog may leave the working directory elsewhere.
        SetCurrentDirectoryW(elsewhere_.path().c_str());
        d.press('S', {VK_CONTROL});
        d.answer_dialog(L"Data successfully saved", IDOK);
        d.expect_text(d.main, L"Glimkeep", "saved");
        d.expect_text(d.editor, L"user: bob\r\npass: mine\r\n", "the merged entry shown under the same filter");
    });
    EXPECT_EQ(elsewhere_.names(), std::vector<std::string>{});
    SetCurrentDirectoryW(folder_.path().c_str());
    Database reread;
    ASSERT_TRUE(open_vault(reread, kPassword));
    EXPECT_EQ(reread.plaintext(), "mail\r\n\tuser: bob\r\n\tpass: mine\r\nbank: 9999\r\nshop: theirs\r\n");
}

TEST_F(ChangedElsewhere, ANewPasswordElsewhereIsNeverOverwrittenWhenTheWindowIsClosed)
{
    run([&](WindowDriver& d) {
        d.set_filter(L"bank");
        d.focus_editor();
        d.press(VK_END);
        d.type(L"5");
        d.expect_text(d.main, L"* Glimkeep", "changed");
        d.check(write_vault("bank: 1\r\n", "new password"), "second writer with another password");
        d.press('S', {VK_CONTROL});
        const HWND window = d.wait_top_level(L"decrypt_db");
        PostMessageW(window, WM_CLOSE, 0, 0);
        d.answer_dialog(L"Vault changed elsewhere", IDOK);
        d.expect_text(d.main, L"* Glimkeep", "the editor keeps its document");
    });
    Database reread;
    EXPECT_FALSE(open_vault(reread, kPassword));
    ASSERT_TRUE(open_vault(reread, "new password"));
    EXPECT_EQ(reread.plaintext(), "bank: 1\r\n");
    std::vector<std::string> copies;
    ASSERT_EQ(find_conflict_copies(kDatabaseFileName, copies), 0);
    ASSERT_EQ(copies.size(), 1u);
    Database copy;
    Tree document;
    ASSERT_EQ(open_document(copy, copies[0], kPassword, sizeof kPassword - 1, document), DB_OK);
    EXPECT_EQ(copy.plaintext(), "mail\r\n\tuser: bob\r\nbank: 12345\r\n");
}

TEST_F(ChangedElsewhere, WithNothingUnsavedActivationReloadsOrLocks)
{
    const bool locked = run([&](WindowDriver& d) {
        d.check(write_vault("bank: 42\r\n", kPassword), "second writer");
        PostMessageW(d.main, WM_ACTIVATE, WA_ACTIVE, 0);
        d.expect_text(d.editor, L"bank: 42\r\n", "reloaded quietly");
        d.expect_text(d.main, L"Glimkeep", "nothing unsaved");
        d.check(write_vault("bank: 43\r\n", "new password"), "second writer with another password");
        PostMessageW(d.main, WM_ACTIVATE, WA_ACTIVE, 0);
        d.check(d.wait_closed(5000), "the editor locks for the current password");
    });
    EXPECT_TRUE(locked);
    EXPECT_TRUE(g_editor_messages.empty());
}

// A vault opened without a password in the session (quick unlock keeps only the
// keys): the reload and the merge before a save read the vault with the container's
// own keys, and nothing asks for a password.
TEST_F(ChangedElsewhere, WithoutAPasswordInUseTheContainerReadsAndMergesTheVault)
{
    vault::Session keys_only(db_, vault_path());
    ASSERT_EQ(keys_only.note_loading().outcome, vault::SessionOutcome::kDone);
    const bool locked = run_editor_checked(
        db_,
        [&](WindowDriver& d) {
            d.check(write_vault("bank: 42\r\n", kPassword), "second writer");
            PostMessageW(d.main, WM_ACTIVATE, WA_ACTIVE, 0);
            d.expect_text(d.editor, L"bank: 42\r\n", "reloaded quietly");
            d.focus_editor();
            d.press(VK_END, {VK_CONTROL});
            d.type(L"mail: mine");
            d.check(write_vault("bank: 42\r\nshop: theirs\r\n", kPassword), "second writer again");
            d.press('S', {VK_CONTROL});
            d.answer_dialog(L"Data successfully saved", IDOK);
            d.expect_text(d.main, L"Glimkeep", "saved");
        },
        EditorOptions(), &keys_only);
    EXPECT_FALSE(locked);
    EXPECT_FALSE(keys_only.has_password());
    ASSERT_EQ(g_editor_messages.size(), 1u);
    EXPECT_EQ(g_editor_messages[0].text,
              "All data has been encrypted and was saved.\r\n\r\nThe vault had been changed by another program "
              "since it was opened; those changes were merged into this document before it was saved.");
    EXPECT_EQ(plaintext_of(kDatabaseFileName, kPassword), "bank: 42\r\nmail: mine\r\nshop: theirs\r\n");
}

TEST_F(ChangedElsewhere, ConflictCopiesAreMergedAtOpenAndDeletedAfterTheSave)
{
    const std::string copy = "passwords.sync-conflict-20261209-101500-ABCDEFG.gkv";
    make_vault(copy, kPassword, "bank: 1234\r\nshop: x\r\n");
    make_vault("passwords.gkv.1796752497.bak", kPassword, "never: merged\r\n");
    run([&](WindowDriver& d) {
        d.answer_dialog(L"Conflicting copies", IDYES);
        d.answer_dialog(L"Conflicting copies merged", IDOK);
        // The planted backup is of format 1.0: its question comes next, and No keeps it.
        d.answer_dialog(L"Backups of format 1.0", IDNO);
        d.expect_text(d.main, L"* Glimkeep", "merged as an unsaved change");
        d.press('S', {VK_CONTROL});
        d.answer_dialog(L"Data successfully saved", IDOK);
        d.answer_dialog(L"Delete the merged copies?", IDYES);
    });
    ASSERT_GE(g_editor_messages.size(), 1u);
    EXPECT_EQ(g_editor_messages[0].text,
              "1 conflicting copy of this vault was found beside it. Merge it into the vault?\r\n\r\n    " + copy);
    EXPECT_EQ(folder_.names().size(), 3u) << "the vault, the planted .bak and the save's backup";
    EXPECT_FALSE(fs::exists(folder_.path() / copy));
    Database reread;
    ASSERT_TRUE(open_vault(reread, kPassword));
    EXPECT_EQ(reread.plaintext(), std::string(kDocument) + "shop: x\r\n");
}

TEST_F(ChangedElsewhere, ConflictCopiesStayWhenTheQuestionIsAnsweredWithEnter)
{
    const std::string copy = "passwords (conflicted copy 2026-12-09 101500).gkv";
    make_vault(copy, kPassword, "shop: x\r\n");
    run([&](WindowDriver& d) {
        d.answer_dialog(L"Conflicting copies", IDNO);
        d.expect_text(d.main, L"Glimkeep", "nothing changed");
    });
    EXPECT_TRUE(fs::exists(folder_.path() / copy));
    Database reread;
    ASSERT_TRUE(open_vault(reread, kPassword));
    EXPECT_EQ(reread.plaintext(), kDocument);
}

// A zero byte would cut the document in the editor box, and the next store would
// drop what follows it: no way in shows such a document, and none writes anything.
TEST_F(ChangedElsewhere, AZeroByteIsRefusedOnEveryWayIn)
{
    const std::string with_zero("a: 1\r\n\tb: x\0y\r\nc: 3\r\n", 20);
    const std::string copy = "passwords (conflicted copy 2026-12-09 101500).gkv";
    make_vault(copy, kPassword, with_zero);
    std::string image;
    run([&](WindowDriver& d) {
        // A conflict copy at open.
        d.answer_dialog(L"Conflicting copies", IDYES);
        d.answer_dialog(L"Error opening database", IDOK);
        d.answer_dialog(L"Conflicting copies merged", IDOK);
        d.expect_text(d.main, L"Glimkeep", "nothing merged");
        // The quiet reload, once per file written elsewhere.
        d.check(write_vault(with_zero, kPassword), "second writer");
        image = read_file(kDatabaseFileName);
        PostMessageW(d.main, WM_ACTIVATE, WA_ACTIVE, 0);
        d.answer_dialog(L"Error opening database", IDOK);
        d.expect_text(d.editor, to_utf16(kDocument), "the editor keeps its document");
        PostMessageW(d.main, WM_ACTIVATE, WA_ACTIVE, 0);
        d.check(d.no_dialog_within(1000), "the refused file is not refused twice");
        // The merge before a save.
        d.focus_editor();
        d.type(L"z");
        d.press('S', {VK_CONTROL});
        d.answer_dialog(L"Error opening database", IDOK);
        d.expect_text(d.main, L"* Glimkeep", "not saved");
        d.expect_text(d.editor, L"z" + to_utf16(kDocument), "the editor keeps its document");
        PostMessageW(d.main, WM_CLOSE, 0, 0);
        d.answer_dialog(L"Discard changes?", IDYES);
    });
    EXPECT_EQ(read_file(kDatabaseFileName), image) << "the vault as the other program wrote it";
    EXPECT_EQ(folder_.names(), (std::vector<std::string>{copy, "passwords.gkv"})) << "no backup, no copy";
    ASSERT_GE(g_editor_messages.size(), 3u);
    EXPECT_EQ(g_editor_messages[1].text,
              "The decrypted text holds a zero byte at byte 12 (line 2), which the editor cannot show without "
              "losing the text after it.\r\nNothing was changed: the editor keeps its document, and " +
                  copy + " is as it was.");
}

// The quiet save of a lock meets a vault that no longer opens with the password in
// use: the document goes into one conflicted copy, and the editor locks.
TEST_F(ChangedElsewhere, ALockThatCannotSaveWritesOneCopyAndLocks)
{
    const bool locked = run([&](WindowDriver& d) {
        d.focus_editor();
        d.type(L"z");
        d.expect_text(d.main, L"* Glimkeep", "changed");
        d.check(write_vault("bank: 1\r\n", "new password"), "second writer with another password");
        g_editor.options.inactivity_interval = 300;
        d.type(L"z");
        d.check(d.wait_closed(5000), "the editor locks");
    });
    EXPECT_TRUE(locked);
    EXPECT_TRUE(g_editor_messages.empty()) << "no notice: the document is safe in the copy";
    std::vector<std::string> copies;
    ASSERT_EQ(find_conflict_copies(kDatabaseFileName, copies), 0);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(plaintext_of(copies[0], kPassword), "zz" + std::string(kDocument));
    EXPECT_EQ(plaintext_of(kDatabaseFileName, "new password"), "bank: 1\r\n");
}

// A lock whose save fails with nothing written anywhere (a read-only vault) keeps
// the editor open and says so once; the timer's later ticks start no save and no
// notice under it, and after it the next tick saves and locks.
TEST_F(ChangedElsewhere, TheNotLockedNoticeNeverNests)
{
    const std::wstring vault = to_utf16(kDatabaseFileName);
    ASSERT_TRUE(SetFileAttributesW(vault.c_str(), FILE_ATTRIBUTE_READONLY));
    const bool locked = run([&](WindowDriver& d) {
        d.focus_editor();
        g_editor.options.inactivity_interval = 300;
        d.type(L"z");
        const HWND notice = d.wait_dialog(L"Not locked", 5000);
        d.check(notice != nullptr, "the notice");
        Sleep(1500);
        SetFileAttributesW(vault.c_str(), FILE_ATTRIBUTE_NORMAL);
        d.answer(notice, IDOK);
        d.check(d.wait_closed(5000), "the next tick saves and locks");
    });
    SetFileAttributesW(vault.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(locked);
    ASSERT_EQ(g_editor_messages.size(), 1u);
    EXPECT_EQ(g_editor_messages[0].caption, "Not locked");
    std::vector<std::string> copies;
    ASSERT_EQ(find_conflict_copies(kDatabaseFileName, copies), 0);
    EXPECT_TRUE(copies.empty());
    EXPECT_EQ(plaintext_of(kDatabaseFileName, kPassword), "z" + std::string(kDocument));
}

}  // namespace
