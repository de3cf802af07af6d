// The save command with its backups, the title and changed flag, the close question
// and the inactivity lock, over a real vault in a temporary folder.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/window_entry_points.h"
#include "db/database.h"
#include "window_driver.h"
#include "ui/editor_window.h"
#include "resource.h"
#include "ui/text.h"

namespace {

constexpr char kPassword[] = "tr0ub4dor&3";
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
    bool run(const std::function<void(WindowDriver&)>& script)
    {
        std::vector<std::string> problems;
        const bool locked = run_editor_with(db_, script, problems, options_);
        for (const std::string& problem : problems) ADD_FAILURE() << problem;
        return locked;
    }

    std::vector<std::string> backups() const
    {
        std::vector<std::string> names;
        for (const std::string& name : folder_.names())
            if (is_backup(name)) names.push_back(name);
        return names;
    }

    std::string reopen()
    {
        Database db;
        if (!open_vault(db, kPassword)) return "<vault does not open>";
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
    const std::vector<std::string> names = backups();
    ASSERT_EQ(names.size(), 1u) << "the backup is made before the failed write";
    EXPECT_EQ(read_file(names[0]), original_);
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

TEST_F(EditorSave, TheLockWaitsForASaveAndThenLocks)
{
    options_.inactivity_interval = 400;
    const bool locked = run([](WindowDriver& d) {
        d.focus_editor();
        d.type(L"x");
        d.expect_text(d.main, L"* Glimkeep", "changed");
        Sleep(1200);
        d.check(IsWindow(d.main) != FALSE, "unsaved changes keep the editor open past the interval");
        d.press('S', {VK_CONTROL});
        d.answer_dialog(L"Data successfully saved", IDOK);
        d.check(d.wait_closed(5000), "after the save the timer locks the editor");
    });
    EXPECT_TRUE(locked);
    EXPECT_EQ(reopen(), std::string("x") + kDocument);
}

TEST_F(EditorSave, ClosingWithChangesAsksAndIsNoLock)
{
    // Nothing is unsaved until the first key, so a short interval from the start
    // could lock the editor before a busy machine has focused the box. The key is
    // sent after the short interval is set, and the timer restarts with it.
    const bool locked = run([](WindowDriver& d) {
        d.focus_editor();
        g_editor.options.inactivity_interval = 300;
        d.type(L"y");
        d.expect_text(d.main, L"* Glimkeep", "changed");
        Sleep(800);
        d.check(IsWindow(d.main) != FALSE, "still open with unsaved changes");
        d.press(VK_F4, {VK_MENU});
        d.answer_dialog(L"Discard changes?", IDNO);
        Sleep(800);
        d.check(IsWindow(d.main) != FALSE, "No keeps the editor, and the timer does not close it");
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
                    d.answer_dialog(L"Data successfully saved", IDOK);
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
    EXPECT_EQ(reopen(), kDocument);
    const std::vector<std::string> names = backups();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(read_file(names[0]), legacy_file);
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
