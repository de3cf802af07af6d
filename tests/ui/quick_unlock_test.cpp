// Quick unlock through the real windows: after a lock the last characters open the
// vault; Esc asks for the full password; after a quick unlock the password change
// first asks for the master password, checked against the vault's keys.
#include "ui/window_entry_points.h"

#include "db/database.h"
#include "resource.h"
#include "tests/support/files.h"
#include "tests/support/vaults.h"
#include "ui/passwords/quick_unlock.h"
#include "window_driver.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

constexpr char kPassword[] = "a long master password";
constexpr char kDocument[] = "mail\r\n\tuser: bob\r\n";

// The vault under kPassword with quick-unlock=last 4, opened once in full and locked,
// so that its keys are kept.
void open_fully_and_lock()
{
    write_file("glimkeep.ini", "[lock]\r\nquick-unlock=last 4\r\n");
    ASSERT_TRUE(write_vault(kDocument, kPassword, format_v2::kIterations));
    load_lock_settings();
    static bool registered = false;  // a second registration fails, and says so in a box
    if (!registered) {
        register_decrypt_db_window(GetModuleHandleW(nullptr));
        register_editor_window(GetModuleHandleW(nullptr));
        registered = true;
    }
    Database db;
    ASSERT_EQ(db.load(kDatabaseFileName), DB_OK);
    bool opened = false;
    auto failures = drive([&] { opened = run_decrypt_db_window(GetModuleHandleW(nullptr), SW_SHOWNORMAL, db); },
                          [&](WindowDriver& d) {
                              const HWND box =
                                  FindWindowExW(d.wait_top_level(L"decrypt_db"), nullptr, L"EDIT", nullptr);
                              d.type(box, L"a long master password");
                              d.press(box, VK_RETURN);
                          });
    for (const std::string& failure : failures) ADD_FAILURE() << failure;
    ASSERT_TRUE(opened);
    ASSERT_FALSE(opened_by_quick_unlock());
    note_editor_locked(db);
}

// The open window over the loaded vault, driven by `script` with its password box.
bool run_open_window(Database& db, const std::function<void(WindowDriver&, HWND)>& script)
{
    EXPECT_EQ(db.load(kDatabaseFileName), DB_OK);
    bool opened = false;
    auto failures = drive(
        [&] { opened = run_decrypt_db_window(GetModuleHandleW(nullptr), SW_SHOWNORMAL, db); },
        [&](WindowDriver& d) { script(d, FindWindowExW(d.wait_top_level(L"decrypt_db"), nullptr, L"EDIT", nullptr)); });
    for (const std::string& failure : failures) ADD_FAILURE() << failure;
    return opened;
}

// The right code is now a wrong password; the full password opens.
void only_the_full_password_opens(WindowDriver& d, HWND box)
{
    d.type(box, L"word");
    d.press(box, VK_RETURN);
    d.answer_dialog(L"Wrong password", IDOK);
    d.type(box, L"a long master password");
    d.press(box, VK_RETURN);
}

}  // namespace

TEST(QuickUnlockWindows, TheCodeOpensAndThePasswordChangeAsksForTheMasterPassword)
{
    TempWorkingDir folder;
    open_fully_and_lock();
    Database db;
    ASSERT_TRUE(run_open_window(db, [](WindowDriver& d, HWND box) {
        d.type(box, L"word");
        d.press(box, VK_RETURN);
    }));
    EXPECT_EQ(kDocument, db.plaintext());
    EXPECT_TRUE(opened_by_quick_unlock());
    EXPECT_FALSE(db.has_password());

    // Change master password: first the master password, a wrong one refused.
    run_editor_checked(db, [&](WindowDriver& d) {
        PostMessageW(d.main, WM_COMMAND, IDM_CHANGE_PASSWORD, 0);
        const HWND asked = d.wait_top_level(L"decrypt_db");
        const HWND box = FindWindowExW(asked, nullptr, L"EDIT", nullptr);
        d.type(box, L"word");
        d.press(box, VK_RETURN);
        d.answer_dialog(L"Wrong password", IDOK);
        d.type(box, L"a long master password");
        d.press(box, VK_RETURN);
        // Then the change window itself, closed without a new password.
        const HWND change = d.wait_top_level(L"change_password");
        PostMessageW(change, WM_CLOSE, 0, 0);
        d.check(d.wait_for([] { return FindWindowW(L"change_password", nullptr) == nullptr; }), "change closes");
        PostMessageW(d.main, WM_CLOSE, 0, 0);
        d.check(d.wait_closed(5000), "the editor closes");
    });
    EXPECT_TRUE(db.password_equals(kPassword, sizeof kPassword - 1));
    EXPECT_FALSE(opened_by_quick_unlock());
    end_quick_unlock(nullptr);
}

TEST(QuickUnlockWindows, EscAndAWrongCodeNeedTheFullPassword)
{
    TempWorkingDir folder;
    open_fully_and_lock();
    {
        // Esc: the code is no longer taken, the full password is.
        Database db;
        ASSERT_TRUE(run_open_window(db, [](WindowDriver& d, HWND box) {
            d.press(box, VK_ESCAPE);
            only_the_full_password_opens(d, box);
        }));
        EXPECT_FALSE(opened_by_quick_unlock());
    }
    open_fully_and_lock();
    {
        // A wrong code, then the right one: only the full password opens.
        Database db;
        ASSERT_TRUE(run_open_window(db, [](WindowDriver& d, HWND box) {
            d.type(box, L"wore");
            d.press(box, VK_RETURN);
            only_the_full_password_opens(d, box);
        }));
        EXPECT_EQ(kDocument, db.plaintext());
        EXPECT_FALSE(opened_by_quick_unlock());
    }
    end_quick_unlock(nullptr);
}
