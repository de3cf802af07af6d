// Running out of memory at every allocation of a save and of a filter change: the
// editor reports it, keeps the user's text and its unsaved mark, and loses nothing.

#include <gtest/gtest.h>

#include <thread>

#include "db/database.h"
#include "tests/support/allocation_control.h"
#include "window_driver.h"
#include "ui/editor/editor_window.h"
#include "ui/common/text.h"

namespace {

constexpr char kPassword[] = "pw";
constexpr char kDocument[] = "mail\r\n\tuser: bob\r\n\tpass: hunter2\r\nnotes\r\n\tone\r\n";

// The first message dialog of this process that shows up, and its caption (which
// may be empty when memory ran out while the dialog was being set up).
std::wstring wait_any_dialog(WindowDriver& d, HWND& dialog, int timeout_ms)
{
    dialog = d.wait_any_dialog(timeout_ms);
    return dialog ? d.text(dialog) : std::wstring();
}

TEST(EditorOutOfMemory, EverySaveFailureKeepsTheTextAndItsMark)
{
    TempWorkingDir folder;
    ASSERT_TRUE(write_vault(kDocument, kPassword));
    Database db;
    ASSERT_TRUE(open_vault(db, kPassword));
    int failures = 0;
    int successes = 0;
    std::wstring typed;
    std::vector<std::string> problems;
    run_editor_with(
        db,
        [&](WindowDriver& d) {
            const DWORD ui_thread = GetWindowThreadProcessId(d.main, nullptr);
            d.set_filter(L"notes");
            d.focus_editor();
            d.press(VK_END, {VK_CONTROL});
            std::wstring expected = L"one\r\n";
            for (long skip = 0; skip < 2000 && successes == 0 && d.failures.empty(); ++skip) {
                const std::string at = " (failure at allocation " + std::to_string(skip) + ")";
                if (d.title() != L"* Glimkeep") {
                    d.type(L"z");
                    expected += L"z";
                }
                d.expect_text(d.editor, expected, "typed");
                const std::string vault_before = read_file(kDatabaseFileName);
                fail_allocation_on(ui_thread, skip);
                d.press('S', {VK_CONTROL});
                HWND dialog = nullptr;
                const std::wstring caption = wait_any_dialog(d, dialog, 1500);
                const bool hit = !allocation_failure_pending();
                disarm_allocation_failure();
                if (dialog)
                    d.answer(dialog, IDCANCEL);
                else
                    d.check(hit, "a save without a failure showed nothing" + at);
                d.check_text(d.text(d.editor), expected, "the editor keeps the text" + at);
                if (d.title() == L"Glimkeep") {
                    // Saved, even if the message about it could not be built.
                    d.check(caption != L"Error saving data", "a failure reported, yet marked saved" + at);
                    Database saved;
                    const std::string zs = to_narrow(expected.substr(5));
                    d.check(open_vault(saved, kPassword) &&
                                saved.plaintext() == std::string(kDocument) + "\t" + zs + "\r\n",
                            "the vault holds the text once the mark is gone" + at);
                    if (!hit) ++successes;
                } else {
                    ++failures;
                    d.check_text(d.title(), L"* Glimkeep", "title" + at);
                    d.check(caption != L"Data successfully saved", "success reported, yet still marked" + at);
                    d.check(read_file(kDatabaseFileName) == vault_before, "a failed save leaves the vault" + at);
                }
            }
            d.check(successes == 1, "the save finally ran without a failure");
            typed = expected;
        },
        problems);
    for (const std::string& problem : problems) ADD_FAILURE() << problem;
    EXPECT_GT(failures, 5);
    bool told = false;
    for (const ShownMessage& message : g_editor_messages)
        if (message.caption == "Error saving data" && message.text.find("memory") != std::string::npos) told = true;
    EXPECT_TRUE(told) << "the user is told that memory ran out";
    Database reopened;
    ASSERT_TRUE(open_vault(reopened, kPassword));
    // "one\r\nzz..." under notes: the children one and zz...
    const std::string zs = to_narrow(typed.substr(5));
    EXPECT_EQ(reopened.plaintext(), std::string(kDocument) + "\t" + zs + "\r\n");
}

TEST(EditorOutOfMemory, AFailedFilterChangeNeverMixesUpTwoNodes)
{
    TempWorkingDir folder;
    ASSERT_TRUE(write_vault(kDocument, kPassword));
    Database db;
    ASSERT_TRUE(open_vault(db, kPassword));
    std::vector<std::string> problems;
    int failures = 0;
    run_editor_with(
        db,
        [&](WindowDriver& d) {
            const DWORD ui_thread = GetWindowThreadProcessId(d.main, nullptr);
            // An unsaved edit in the whole document, then filter changes that run out of memory.
            d.focus_editor();
            d.press(VK_END, {VK_CONTROL});
            d.type(L"added\n");
            const std::wstring whole = to_utf16(kDocument) + L"added\r\n";
            d.expect_text(d.editor, whole, "edited");
            static const wchar_t kPath[] = L"mail";
            bool reached = false;
            for (long skip = 0; skip < 2000 && !reached && d.failures.empty(); ++skip) {
                fail_allocation_on(ui_thread, skip);
                // Sent from a helper thread: the change may open a message dialog, which
                // holds the sender until it is answered.
                std::thread sender([&] { SendMessageW(d.filter, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kPath)); });
                HWND dialog = nullptr;
                wait_any_dialog(d, dialog, 700);
                reached = allocation_failure_pending();
                disarm_allocation_failure();
                if (dialog) {
                    ++failures;
                    d.answer(dialog, IDCANCEL);
                }
                sender.join();
                // Either mail is shown, or the whole document still is; never a mixture.
                const std::wstring shown = d.text(d.editor);
                d.check(shown == whole || shown == L"user: bob\r\npass: hunter2\r\n",
                        "after a failure at allocation " + std::to_string(skip) + " the editor shows \"" +
                            escaped(shown) + "\"");
                SendMessageW(d.filter, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
                d.expect_text(d.editor, whole,
                              "the whole document with the edit, after allocation " + std::to_string(skip));
            }
            d.check(reached, "a filter change finally ran without a failure");
            d.press('S', {VK_CONTROL});
            d.answer_dialog(L"Data successfully saved", IDOK);
        },
        problems);
    for (const std::string& problem : problems) ADD_FAILURE() << problem;
    EXPECT_GT(failures, 3);
    Database reopened;
    ASSERT_TRUE(open_vault(reopened, kPassword));
    EXPECT_EQ(reopened.plaintext(), std::string(kDocument) + "added\r\n");
}

}  // namespace
