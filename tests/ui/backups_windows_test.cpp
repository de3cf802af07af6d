// File > Backups..., the notice about many backups and the earlier values of an
// entry (Ctrl+Shift+H), over backups planted beside a real vault.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backups/backup_files.h"
#include "db/backup.h"
#include "db/database.h"
#include "platform/calendar_time.h"
#include "ui/backups/backups_windows.h"
#include "ui/common/vault_path.h"
#include "vault/session.h"
#include "ui/common/text.h"
#include "ui/editor/editor_window.h"
#include "resource.h"
#include "vault/vault_merge.h"
#include "window_driver.h"

namespace {

constexpr char kPassword[] = "tr0ub4dor&3";
constexpr char kQuestionEnd[] =
    "(keeping every one of the last 7 days, one a day for 90 days, one a month before that)?";
// 2020-01-01 12:00:00 UTC: every backup planted is older than 90 days.
constexpr long long kJanuary2020 = 1577880000;
constexpr long long kDay = 86400;

// Past 2038 the name carries the low 32 bits of the time, read as a signed number.
std::string backup_name(long long seconds)
{
    return backup_file_name(kDatabaseFileName, seconds);
}

class BackupsWindows : public ::testing::Test {
protected:
    void SetUp() override { fix_vault_path(); }
    void TearDown() override { set_vault_path(kDatabaseFileName); }

    // A backup of `plaintext` (format 2.0, the password) made by a save at `seconds`.
    void plant(long long seconds, const std::string& plaintext)
    {
        ASSERT_TRUE(write_vault(plaintext, kPassword));
        fs::rename(folder_.path() / kDatabaseFileName, folder_.path() / backup_name(seconds));
    }

    bool run(const std::string& document, const std::function<void(WindowDriver&)>& script)
    {
        EXPECT_TRUE(write_vault(document, kPassword));
        Database db;
        EXPECT_TRUE(open_vault(db, kPassword));
        // What the open window leaves when it opened the vault.
        vault::Session session(db, vault_path());
        session.use_password(SecretString(kPassword, sizeof kPassword - 1));
        return run_editor_checked(db, script, EditorOptions(), &session);
    }

    std::size_t backups_left() const
    {
        std::vector<BackupFile> backups;
        list_backups(kDatabaseFileName, backups);
        return backups.size();
    }

    TempWorkingDir folder_;
};

TEST_F(BackupsWindows, BackupsCommandAsksAndNoDeletesNothing)
{
    // One backup a day through January 2020: the rule keeps the newest 20 (the
    // month's newest among them) and lets the 10 oldest go.
    for (long long day = 0; day < 30; ++day) plant(kJanuary2020 + day * kDay, "bank: " + std::to_string(day) + "\r\n");
    std::vector<BackupFile> planted;
    ASSERT_EQ(list_backups(kDatabaseFileName, planted), 0);
    const std::string summary = "30 backups beside this vault, " + size_in_words(total_size(planted)) + " in all.";

    run("bank: now\r\n", [](WindowDriver& d) {
        PostMessageW(d.main, WM_COMMAND, IDM_BACKUPS, 0);
        d.answer_dialog(L"Backups", IDNO);
    });
    ASSERT_EQ(g_editor_messages.size(), 1u);
    EXPECT_EQ(g_editor_messages[0].caption, "Backups");
    EXPECT_EQ(g_editor_messages[0].text, summary + "\r\n\r\nDelete 10 of 30 backups " + kQuestionEnd);
    EXPECT_EQ(backups_left(), 30u) << "No deletes nothing";

    run("bank: now\r\n", [](WindowDriver& d) {
        PostMessageW(d.main, WM_COMMAND, IDM_BACKUPS, 0);
        d.answer_dialog(L"Backups", IDYES);
        d.answer_dialog(L"Backups", IDOK);
    });
    ASSERT_EQ(g_editor_messages.size(), 2u);
    EXPECT_EQ(g_editor_messages[1].text, "Deleted 10 of 30 backups.");
    EXPECT_EQ(backups_left(), 20u);
    for (long long day = 0; day < 30; ++day)
        EXPECT_EQ(fs::exists(folder_.path() / backup_name(kJanuary2020 + day * kDay)), day >= 10) << day;
}

TEST_F(BackupsWindows, ManyBackupsAreMentionedOncePerRun)
{
    plant(kJanuary2020, "bank: 1\r\n");
    const std::string image = read_file(backup_name(kJanuary2020));
    for (long long i = 1; i <= 500; ++i) write_file(backup_name(kJanuary2020 + i * 60), image);

    run("bank: 2\r\n", [](WindowDriver& d) { d.answer_dialog(L"Backups", IDOK); });
    ASSERT_EQ(g_editor_messages.size(), 1u);
    EXPECT_EQ(g_editor_messages[0].text,
              "501 backups lie beside this vault. File > Backups... shows their count and size and can thin them out.");

    run("bank: 2\r\n", [](WindowDriver& d) { d.check(d.no_dialog_within(700), "no second notice in one run"); });
    EXPECT_TRUE(g_editor_messages.empty());
}

// The editor's save and File > Backups with the clock past 2038: the save's backup
// is named by the low 32 bits of its time (a negative name) and lists as the newest;
// the newest 20 stay, and of the older June 2039 ones only the newest of the month.
TEST_F(BackupsWindows, ASaveAndThinningAfter2038FollowTheClock)
{
    constexpr long long kJune2039 = 2190542400;  // 2039-06-01 12:00:00 UTC
    constexpr long long kSave = 2212056000;  // 2040-02-05 12:00:00 UTC
    for (long long day = 0; day < 30; ++day) plant(kJune2039 + day * kDay, "bank: " + std::to_string(day) + "\r\n");
    set_calendar_now_for_tests(kSave);
    run("bank: now\r\nnotes\r\n", [](WindowDriver& d) {
        d.set_filter(L"notes");
        d.focus_editor();
        d.type(L"later");
        // The menu command is posted ahead of key events still on their way: wait for all of them.
        d.expect_text(d.editor, L"later", "typed");
        PostMessageW(d.main, WM_COMMAND, IDM_SAVE, 0);
        d.answer_dialog(L"Data successfully saved", IDOK);
        PostMessageW(d.main, WM_COMMAND, IDM_BACKUPS, 0);
        d.answer_dialog(L"Backups", IDYES);
        d.answer_dialog(L"Backups", IDOK);
    });
    clear_calendar_now_for_tests();
    ASSERT_EQ(g_editor_messages.size(), 3u);
    EXPECT_EQ(g_editor_messages[1].text.substr(g_editor_messages[1].text.find("Delete")),
              std::string("Delete 11 of 31 backups ") + kQuestionEnd);
    EXPECT_EQ(g_editor_messages[2].text, "Deleted 11 of 31 backups.");
    std::vector<BackupFile> left;
    ASSERT_EQ(list_backups(kDatabaseFileName, left), 0);
    ASSERT_EQ(left.size(), 20u);
    EXPECT_EQ(file_name_of(left.back().path), std::string(kDatabaseFileName) + ".-2082911296.bak");
    EXPECT_EQ(left.back().seconds, kSave);
    EXPECT_EQ(local_date_time(left.back().seconds).substr(0, 11), "2040-02-05 ");
    for (long long day = 0; day < 30; ++day)
        EXPECT_EQ(fs::exists(folder_.path() / backup_name(kJune2039 + day * kDay)), day >= 11) << day;
}

TEST_F(BackupsWindows, EarlierValuesListsEachValueAndEnterCopiesIt)
{
    plant(kJanuary2020, "mail\r\n\tuser: bob\r\n\tpass: first one\r\nbank: 1\r\n");
    plant(kJanuary2020 + kDay, "mail\r\n\tuser: bob\r\n\tpass: second\r\nbank: 1\r\n");
    run("mail\r\n\tuser: bob\r\n\tpass: third!\r\nbank: 1\r\n", [](WindowDriver& d) {
        d.set_filter(L"mail");
        d.expect_text(d.editor, L"user: bob\r\npass: third!\r\n", "the entry shown");
        d.bring_to_front();
        d.press('H', {VK_CONTROL, VK_SHIFT});
        const HWND window = d.wait_top_level(kEarlierValuesClass);
        d.check(reinterpret_cast<HICON>(GetClassLongPtrW(window, GCLP_HICON)) ==
                    LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP)),
                "the program's icon in the caption");
        const HWND list = FindWindowExW(window, nullptr, L"LISTBOX", nullptr);
        d.check(list != nullptr, "the list");
        d.check(SendMessageW(list, LB_GETCOUNT, 0, 0) == 4, "one row for the user name, three for the password");
        d.check(SendMessageW(list, LB_GETCURSEL, 0, 0) == LB_ERR, "no row selected: every value masked");
        d.press(list, VK_DOWN);
        d.wait_for([&] { return SendMessageW(list, LB_GETCURSEL, 0, 0) != LB_ERR; });
        d.check(SendMessageW(list, LB_GETCURSEL, 0, 0) == 0, "the first Down selects the first row");
        const wchar_t* const values[] = {L"bob", L"first one", L"second", L"third!"};
        for (int row = 0; row < 4; ++row) {
            empty_clipboard();
            SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
            d.press(list, VK_RETURN);
            d.wait_for([&] { return read_clipboard().text == values[row]; });
            const ClipboardContent content = read_clipboard();
            d.check_text(content.text, values[row], "row " + std::to_string(row) + " copied");
            d.check(content.has_history && content.history == 0, "kept out of the clipboard history");
        }
        d.press(list, VK_ESCAPE);
        d.wait_until([&] { return !IsWindow(window); }, "Escape closes the list");
        d.check(earlier_values_rows() == 0, "no row kept after the list closed");
        d.check_text(d.title(), L"Glimkeep", "reading the history is no change");

        // Open again, from the menu this time: the lock closes it with the editor.
        PostMessageW(d.main, WM_COMMAND, IDM_EARLIER_VALUES, 0);
        const HWND again = d.wait_top_level(kEarlierValuesClass);
        PostMessageW(d.main, WM_COMMAND, IDM_LOCK, 0);
        d.check(d.wait_closed(), "the editor locks");
        d.check(!IsWindow(again), "the list closed with the editor");
    });
    EXPECT_TRUE(g_editor_messages.empty());
    EXPECT_EQ(earlier_values_window(), nullptr);
    EXPECT_EQ(earlier_values_rows(), 0u);
}

}  // namespace
