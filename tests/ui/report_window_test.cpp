// File > Password report over the editor: its rows, Enter on a row shows that entry
// (the second of two entries of one name too), Escape changes nothing, and a session
// lock under the report still locks the editor.

#include <gtest/gtest.h>

#include "db/database.h"
#include "resource.h"
#include "tests/support/files.h"
#include "tests/support/vaults.h"
#include "window_driver.h"

namespace {

constexpr char kPassword[] = "tr0ub4dor&3";
// Two entries named Bank share a password; mail's is weak.
constexpr char kDocument[] = "Bank\r\n\tuser: alice\r\n\tpassword: Gq7.Lw2+Rt9_Vb\r\n"
                             "Bank\r\n\tuser: bob\r\n\tpassword: Gq7.Lw2+Rt9_Vb\r\n"
                             "mail\r\n\tuser: carol\r\n\tpass: qwertyuiop\r\n";
// Reused, its two rows, Weak, its row, the summary.
constexpr LRESULT kRows = 6;

HWND open_report(WindowDriver& d)
{
    PostMessageW(d.main, WM_COMMAND, IDM_PASSWORD_REPORT, 0);
    const HWND report = d.wait_top_level(L"password_report");
    return d.wait_for([report] { return FindWindowExW(report, nullptr, L"LISTBOX", nullptr); }, "the report's list");
}

class ReportWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(write_vault(kDocument, kPassword));
        ASSERT_TRUE(open_vault(db_, kPassword));
    }

    TempWorkingDir folder_;
    Database db_;
};

}  // namespace

TEST_F(ReportWindow, EnterShowsTheEntryOfTheRow)
{
    run_editor_checked(db_, [](WindowDriver& d) {
        HWND list = open_report(d);
        d.check(SendMessageW(list, LB_GETCOUNT, 0, 0) == kRows, "the report's rows");
        d.check(SendMessageW(list, LB_GETCURSEL, 0, 0) == 1, "the first entry's row selected");
        d.check(IsWindowEnabled(d.main) == FALSE, "the editor waits while the report is open");
        // The second Bank: the filter text finds the first, the editor shows bob's.
        SendMessageW(list, LB_SETCURSEL, 2, 0);
        d.press(list, VK_RETURN);
        d.check(d.wait_for([] { return FindWindowW(L"password_report", nullptr) == nullptr; }), "Enter closes it");
        d.expect_text(d.filter, L"Bank", "the row's path in the filter box");
        d.expect_text(d.editor, L"user: bob\r\npassword: Gq7.Lw2+Rt9_Vb\r\n", "the chosen entry itself");
        // Until the filter text changes: then the first of that name again.
        d.set_filter(L"bank");
        d.expect_text(d.editor, L"user: alice\r\npassword: Gq7.Lw2+Rt9_Vb\r\n", "the filter's own lookup");

        // The weak entry; Escape on a second report changes nothing.
        list = open_report(d);
        SendMessageW(list, LB_SETCURSEL, 4, 0);
        d.press(list, VK_RETURN);
        d.expect_text(d.filter, L"mail", "the weak entry's path");
        d.expect_text(d.editor, L"user: carol\r\npass: qwertyuiop\r\n", "the weak entry");
        list = open_report(d);
        d.press(list, VK_ESCAPE);
        d.check(d.wait_for([] { return FindWindowW(L"password_report", nullptr) == nullptr; }), "Escape closes it");
        d.expect_text(d.filter, L"mail", "nothing changed");
        d.check(IsWindowEnabled(d.main) != FALSE, "the editor takes input again");
        PostMessageW(d.main, WM_COMMAND, IDM_EXIT, 0);
        d.check(d.wait_closed(5000), "the editor closes");
    });
}

// The session locks while the report runs its own loop: the editor locks, the run ends.
TEST_F(ReportWindow, ASessionLockUnderTheReportLocksAndEnds)
{
    const bool locked = run_editor_checked(db_, [](WindowDriver& d) {
        open_report(d);
        PostMessageW(d.main, WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
        d.check(d.wait_closed(5000), "the session lock closes the editor under the report");
    });
    EXPECT_TRUE(locked);
}
