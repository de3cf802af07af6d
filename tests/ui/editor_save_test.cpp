// The save command with its backups, the title and changed flag, the close question
// and the inactivity lock, over a real vault in a temporary folder.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ui/window_entry_points.h"
#include "db/backup.h"
#include "db/database.h"
#include "db/legacy_backups.h"
#include "window_driver.h"
#include "ui/editor/editor_state.h"
#include "resource.h"
#include "ui/common/text.h"
#include "ui/passwords/vault_upgrade.h"

namespace {

constexpr char kPassword[] = "tr0ub4dor&3";
constexpr char kNewPassword[] = "correct horse";
constexpr char kDocument[] = "mail\r\n\tuser: bob\r\n\tpass: hunter2\r\nnotes\r\n";

bool is_backup(const std::string& name)
{
    const std::string prefix = std::string(kDatabaseFileName) + ".";
    const std::string suffix = ".bak";
    return name.size() > prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class EditorSave : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(write_vault(kDocument, kPassword));
        ASSERT_TRUE(open_vault(db_, kPassword));
        original_ = read_file(kDatabaseFileName);
    }
    bool run(const std::function<void(WindowDriver&)>& script) { return run_editor_checked(db_, script, options_); }

    std::vector<std::string> backups() const
    {
        std::vector<std::string> names;
        for (const std::string& name : folder_.names())
            if (is_backup(name)) names.push_back(name);
        return names;
    }

    std::string reopen(const std::string& password = kPassword)
    {
        Database db;
        if (!open_vault(db, password)) return "<vault does not open>";
        return db.plaintext();
    }

    TempWorkingDir folder_;
    Database db_;
    EditorOptions options_;
    std::string original_;
};

TEST_F(EditorSave, WithoutChangesNothingHappens)
{
    const bool locked = run([](WindowDriver& d) {
        d.press('S', {VK_CONTROL});
        d.check(d.no_dialog_within(700), "Ctrl+S without changes shows nothing");
        PostMessageW(d.main, WM_COMMAND, IDM_SAVE, 0);
        d.check(d.no_dialog_within(300), "the Save menu command without changes shows nothing");
        d.check_text(d.title(), L"Glimkeep", "title");
    });
    EXPECT_FALSE(locked);
    EXPECT_TRUE(g_editor_messages.empty());
    EXPECT_EQ(folder_.names(), std::vector<std::string>{kDatabaseFileName});
    EXPECT_EQ(read_file(kDatabaseFileName), original_);
}

TEST_F(EditorSave, EachSaveKeepsOneBackupOfThePreviousVault)
{
    std::string after_first;
    run([&](WindowDriver& d) {
        d.set_filter(L"notes");
        d.focus_editor();
        d.type(L"first");
        d.expect_text(d.main, L"* Glimkeep", "changed");
        d.press('S', {VK_CONTROL});
        d.answer_dialog(L"Data successfully saved", IDOK);
        d.expect_text(d.main, L"Glimkeep", "title after the first save");
        d.check(d.wait_for([&] { return d.focus() == d.editor; }, 2000), "the editor box has the focus back");
        DWORD start = 0, end = 0;
        d.get_selection(d.editor, start, end);
        d.check(start == 5 && end == 5, "the caret is where it was");
        after_first = read_file(kDatabaseFileName);

        // Within the same second as the first save: its backup is kept all the same.
        d.type(L"\nsecond");
        // The menu command is posted ahead of key events still on their way: wait for all of them.
        d.expect_text(d.editor, L"first\r\nsecond", "typed again");
        d.expect_text(d.main, L"* Glimkeep", "changed again");
        PostMessageW(d.main, WM_COMMAND, IDM_SAVE, 0);  // the menu item
        d.answer_dialog(L"Data successfully saved", IDOK);
        d.expect_text(d.main, L"Glimkeep", "title after the second save");
    });
    const std::vector<std::string> names = backups();
    ASSERT_EQ(names.size(), 2u);
    // Names sort by time here: both stamps have the same number of digits, and a
    // counter added within one second sorts after the plain name.
    EXPECT_EQ(read_file(names[0]), original_) << "the first backup is the vault as opened";
    EXPECT_EQ(read_file(names[1]), after_first) << "the second backup is the vault of the first save";
    EXPECT_NE(after_first, original_);
    EXPECT_EQ(reopen(), "mail\r\n\tuser: bob\r\n\tpass: hunter2\r\nnotes\r\n\tfirst\r\n\tsecond\r\n");
    ASSERT_EQ(g_editor_messages.size(), 2u);
    EXPECT_EQ(g_editor_messages[0].text, "All data has been encrypted and was saved.");
}

TEST_F(EditorSave, AReadOnlyVaultReportsTheFailureAndKeepsEverything)
{
    ASSERT_TRUE(SetFileAttributesW(L"passwords.gkv", FILE_ATTRIBUTE_READONLY));
    run([](WindowDriver& d) {
        d.set_filter(L"mail pass");
        d.focus_editor();
        d.press(VK_END);
        d.type(L"!");
        d.expect_text(d.editor, L"hunter2!", "edited");
        d.press('S', {VK_CONTROL});
        d.answer_dialog(L"Error saving data", IDOK);
        d.check_text(d.title(), L"* Glimkeep", "the title keeps its mark");
        d.check_text(d.text(d.editor), L"hunter2!", "the text stays in the editor");
        d.set_filter(L"");
        d.check(d.text(d.editor).find(L"\tpass: hunter2!\r\n") != std::wstring::npos,
                "the edit is still in the document");
        PostMessageW(d.main, WM_CLOSE, 0, 0);
        d.answer_dialog(L"Discard changes?", IDNO);
        d.check(IsWindow(d.main) != FALSE, "No keeps the editor open");
        PostMessageW(d.main, WM_CLOSE, 0, 0);
        d.answer_dialog(L"Discard changes?", IDYES);
        d.check(d.wait_closed(), "Yes closes it");
    });
    ASSERT_GE(g_editor_messages.size(), 1u);
    EXPECT_EQ(g_editor_messages[0].caption, "Error saving data");
    EXPECT_EQ(g_editor_messages[0].text, "Permission denied");
    EXPECT_EQ(read_file(kDatabaseFileName), original_) << "the old vault is untouched";
    // The backup made before the failed write is taken back: a failed save leaves the
    // folder as it was, however often it is tried.
    EXPECT_TRUE(backups().empty());
}

TEST_F(EditorSave, ADeletedVaultIsWrittenAnewWithoutBackup)
{
    run([](WindowDriver& d) {
        d.check(DeleteFileW(L"passwords.gkv") != FALSE, "vault deleted under the editor");
        d.set_filter(L"notes");
        d.focus_editor();
        d.type(L"kept");
        d.press('S', {VK_CONTROL});
        d.answer_dialog(L"Data successfully saved", IDOK);
        d.expect_text(d.main, L"Glimkeep", "title after saving");
    });
    EXPECT_TRUE(backups().empty());
    EXPECT_EQ(reopen(), "mail\r\n\tuser: bob\r\n\tpass: hunter2\r\nnotes\r\n\tkept\r\n");
}

TEST_F(EditorSave, TheLockClosesTheEditorOnlyWithNothingUnsaved)
{
    options_.inactivity_interval = 300;
    const ULONGLONG start = GetTickCount64();
    const bool locked = run([](WindowDriver& d) { d.check(d.wait_closed(5000), "the editor locks itself"); });
    EXPECT_TRUE(locked);
    EXPECT_LT(GetTickCount64() - start, 5000u);
    EXPECT_TRUE(g_editor_messages.empty());
}

TEST_F(EditorSave, InactivityWithUnsavedChangesSavesThenLocks)
{
    const bool locked = run([](WindowDriver& d) {
        d.focus_editor();
        g_editor.options.inactivity_interval = 400;
        d.type(L"x");
        d.expect_text(d.main, L"* Glimkeep", "changed");
        d.check(d.wait_closed(5000), "the timer saves and locks the editor");
    });
    EXPECT_TRUE(locked);
    EXPECT_TRUE(g_editor_messages.empty()) << "no dialog: nobody is there to answer";
    EXPECT_EQ(reopen(), std::string("x") + kDocument);
    const std::vector<std::string> names = backups();
    ASSERT_EQ(names.size(), 1u) << "the save keeps a backup first, as Ctrl+S";
    EXPECT_EQ(read_file(names[0]), original_);
}

// The session lock and the suspend arrive as messages (the tests post them: Wine
// sends neither). A vault that cannot be written keeps the editor open, and says so.
TEST_F(EditorSave, ASessionLockOrSuspendSavesFirstOrStaysOpen)
{
    const std::wstring vault = to_utf16(kDatabaseFileName);
    ASSERT_TRUE(SetFileAttributesW(vault.c_str(), FILE_ATTRIBUTE_READONLY));
    const bool locked = run([&](WindowDriver& d) {
        d.focus_editor();
        d.type(L"z");
        d.expect_text(d.main, L"* Glimkeep", "changed");
        PostMessageW(d.main, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
        d.answer_dialog(L"Not locked", IDOK);
        d.check(IsWindow(d.main) != FALSE, "a vault that cannot be written keeps the editor open");
        d.check_text(d.title(), L"* Glimkeep", "with the change unsaved");
        SetFileAttributesW(vault.c_str(), FILE_ATTRIBUTE_NORMAL);
        PostMessageW(d.main, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
        d.check(d.wait_closed(5000), "the session lock saves and locks the editor");
    });
    SetFileAttributesW(vault.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(locked);
    EXPECT_EQ(reopen(), std::string("z") + kDocument);
}

// The session locks while the password window runs its own loop over the editor:
// the editor locks, and the run still ends.
TEST_F(EditorSave, ASessionLockUnderThePasswordWindowLocksAndEnds)
{
    const bool locked = run([](WindowDriver& d) {
        PostMessageW(d.main, WM_COMMAND, IDM_CHANGE_PASSWORD, 0);
        d.wait_top_level(L"change_password");
        PostMessageW(d.main, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
        d.check(d.wait_closed(5000), "the session lock closes the editor under the password window");
    });
    EXPECT_TRUE(locked);
    EXPECT_EQ(read_file(kDatabaseFileName), original_);
}

TEST_F(EditorSave, ClosingWithChangesAsksAndIsNoLock)
{
    // A long interval: with unsaved changes the timer would save and lock.
    const bool locked = run([](WindowDriver& d) {
        d.focus_editor();
        d.type(L"y");
        d.expect_text(d.main, L"* Glimkeep", "changed");
        d.check(IsWindow(d.main) != FALSE, "still open with unsaved changes");
        d.press(VK_F4, {VK_MENU});
        d.answer_dialog(L"Discard changes?", IDNO);
        d.check(IsWindow(d.main) != FALSE, "No keeps the editor");
        PostMessageW(d.main, WM_COMMAND, IDM_EXIT, 0);
        d.answer_dialog(L"Discard changes?", IDYES);
        d.check(d.wait_closed(), "Yes closes the editor");
    });
    EXPECT_FALSE(locked);
    EXPECT_EQ(read_file(kDatabaseFileName), original_) << "discarded changes never reach the disk";
    EXPECT_TRUE(backups().empty());
}

TEST_F(EditorSave, AnEditRightBehindTheTimerIsNoLock)
{
    const bool locked = run([](WindowDriver& d) {
        // The timer fires with nothing unsaved and asks for the close; an edit that
        // was already queued arrives before the close does.
        PostMessageW(d.main, WM_TIMER, IDT_INACTIVITY, 0);
        PostMessageW(d.editor, WM_CHAR, 'q', 0);
        d.answer_dialog(L"Discard changes?", IDNO);
        d.check(IsWindow(d.main) != FALSE, "No keeps the editor");
        d.check_text(d.title(), L"* Glimkeep", "the edit is there");
        PostMessageW(d.main, WM_CLOSE, 0, 0);
        d.answer_dialog(L"Discard changes?", IDYES);
        d.check(d.wait_closed(), "Yes closes it");
    });
    EXPECT_FALSE(locked) << "closing with the user's consent is no lock";
}

// A vault of format 1.0: the warning comes once per program run, not at the next
// unlock; the upgrade item is enabled only for it, and Yes saves it as 2.0 after a
// backup of the 1.0 file.
TEST_F(EditorSave, AVaultOfFormat10WarnsOnceAndUpgradesFromTheMenu)
{
    {
        Database old;
        old.write_legacy_format();  // saves as a loaded 1.0 vault does
        old.set_password(kPassword, sizeof kPassword - 1);
        old.set_plaintext(kDocument, sizeof kDocument - 1);
        ASSERT_EQ(old.save(kDatabaseFileName), DB_OK);
    }
    const std::string legacy_file = read_file(kDatabaseFileName);
    for (int run_number = 0; run_number < 2; ++run_number) {
        Database db;
        ASSERT_TRUE(open_vault(db, kPassword));
        ASSERT_TRUE(db.legacy_format());
        std::vector<std::string> problems;
        run_editor_with(
            db,
            [&](WindowDriver& d) {
                if (run_number == 0)
                    d.answer_dialog(L"Old vault format", IDOK);
                else
                    d.check(d.no_dialog_within(1000), "the warning came a second time");
                const UINT state = GetMenuState(GetSubMenu(GetMenu(d.main), 0), IDM_UPGRADE, MF_BYCOMMAND);
                d.check((state & MF_GRAYED) == 0, "the upgrade item is disabled for a 1.0 vault");
                if (run_number == 0) {
                    PostMessageW(d.main, WM_COMMAND, IDM_UPGRADE, 0);
                    d.answer_dialog(L"Upgrade vault format?", IDNO);
                    d.check(read_file(kDatabaseFileName) == legacy_file, "No changed the vault");
                    PostMessageW(d.main, WM_CLOSE, 0, 0);
                } else {
                    PostMessageW(d.main, WM_COMMAND, IDM_UPGRADE, 0);
                    d.answer_dialog(L"Upgrade vault format?", IDYES);
                    // A new master password: the current one is refused.
                    const HWND upgrade = d.wait_top_level(L"upgrade_password");
                    const HWND box = FindWindowExW(upgrade, nullptr, L"EDIT", nullptr);
                    d.type(box, to_utf16(kPassword));
                    d.press(box, VK_RETURN);
                    d.answer_dialog(L"Same password", IDOK);
                    d.type(box, std::wstring(1, wchar_t(0x7F)));  // Ctrl+Backspace empties the box
                    d.type(box, to_utf16(kNewPassword));
                    d.press(box, VK_RETURN);
                    d.answer_dialog(L"Data successfully saved", IDOK);
                    // The 1.0 backup just made: No keeps it (and the question for a later run).
                    d.answer_dialog(L"Backups of format 1.0", IDNO);
                    const UINT after = GetMenuState(GetSubMenu(GetMenu(d.main), 0), IDM_UPGRADE, MF_BYCOMMAND);
                    d.check((after & MF_GRAYED) != 0, "the upgrade item is still enabled after the upgrade");
                    PostMessageW(d.main, WM_CLOSE, 0, 0);
                }
                d.check(d.wait_closed(), "the editor did not close");
            },
            problems);
        for (const std::string& problem : problems) ADD_FAILURE() << problem;
    }
    EXPECT_EQ(read_file(kDatabaseFileName).substr(0, 13), "GLIMKEEPDB2.0");
    EXPECT_EQ(reopen(kNewPassword), kDocument);
    EXPECT_EQ(reopen(), "<vault does not open>") << "the old password no longer opens the vault";
    const std::vector<std::string> names = backups();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(read_file(names[0]), legacy_file);
    ASSERT_FALSE(g_editor_messages.empty());
    EXPECT_EQ(g_editor_messages.back().text, "1 backups of format 1.0 can be read without the password. Delete them?");
}

// A 2.0 vault with 1.0 backups beside it, one under the password it was opened with:
// the question at open says that the password is exposed; No keeps the backups and
// the next unlock of the same run does not ask again.
TEST_F(EditorSave, OpeningBesideBackupsOfFormat10AsksOncePerRun)
{
    make_vault(backup_file_name(kDatabaseFileName, 100), kPassword, kDocument);
    make_vault(backup_file_name(kDatabaseFileName, 101), "older", kDocument);
    note_opening_password(SecretString(kPassword), db_);
    run([](WindowDriver& d) {
        d.answer_dialog(L"Backups of format 1.0", IDNO);
        PostMessageW(d.main, WM_CLOSE, 0, 0);
        d.check(d.wait_closed(), "the editor closes");
    });
    ASSERT_EQ(g_editor_messages.size(), 1u);
    EXPECT_EQ(g_editor_messages[0].text, legacy_backups_question(2, true));
    EXPECT_NE(g_editor_messages[0].text.find("the master password itself is exposed"), std::string::npos);
    EXPECT_EQ(backups().size(), 2u) << "No keeps the backups";
    run([](WindowDriver& d) {
        d.check(d.no_dialog_within(1500), "the question came again in the same run");
        PostMessageW(d.main, WM_CLOSE, 0, 0);
        d.check(d.wait_closed(), "the editor closes");
    });
}

TEST_F(EditorSave, ALockDuringTheHelpTextClosesBoth)
{
    options_.inactivity_interval = 600;
    const bool locked = run([](WindowDriver& d) {
        PostMessageW(d.main, WM_COMMAND, IDM_HELP, 0);
        HWND help = d.wait_dialog(L"Glimkeep 1.1", 3000);
        d.check(help != nullptr, "the help text is shown");
        d.check(d.wait_closed(5000), "the lock closes the editor under the help text");
    });
    EXPECT_TRUE(locked);
    ASSERT_EQ(g_editor_messages.size(), 1u);
    EXPECT_NE(g_editor_messages[0].text.find("\tTab: Autocomplete\r\n"), std::string::npos);
    // Every key of the editor's own commands is named.
    for (const char* key : {"\tCtrl+L: ", "\tCtrl+G: ", "\tCtrl+Shift+G: ", "\tCtrl+F: ", "F3: ", "\tCtrl+T: ",
                            "\tCtrl+Shift+H: ", "\tCtrl+Enter: "})
        EXPECT_NE(g_editor_messages[0].text.find(key), std::string::npos) << key;
}

}  // namespace

namespace {

// An editor over a vault that was never decrypted would show an empty document that
// a save would write over the vault: it refuses to open instead.
TEST(EditorWithoutPlaintext, RefusesToOpen)
{
    TempWorkingDir folder;
    ASSERT_TRUE(write_vault(kDocument, kPassword));
    const std::string vault = read_file(kDatabaseFileName);
    Database db;
    ASSERT_EQ(db.load(kDatabaseFileName), DB_OK);
    WNDCLASSEXW existing = {};
    existing.cbSize = sizeof existing;
    if (!GetClassInfoExW(GetModuleHandleW(nullptr), L"editor", &existing))
        register_editor_window(GetModuleHandleW(nullptr));
    std::atomic<bool> done(false);
    bool box_seen = false;
    bool editor_seen = false;
    std::thread answer([&] {
        WindowDriver d;  // only to find the dialog: no run to drive
        while (!done) {
            if (HWND box = d.wait_dialog(L"Error", 200)) {
                box_seen = true;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                Sleep(100);
            }
            if (FindWindowW(L"editor", nullptr)) editor_seen = true;
        }
    });
    EXPECT_FALSE(run_editor_window(GetModuleHandleW(nullptr), SW_SHOWNORMAL, db));
    done = true;
    answer.join();
    EXPECT_TRUE(box_seen) << "the refusal is reported";
    EXPECT_FALSE(editor_seen);
    EXPECT_EQ(read_file(kDatabaseFileName), vault);
}

}  // namespace
