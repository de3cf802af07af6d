#pragma once
// Drives the real editor window from a second thread while run_editor_window's
// message loop runs on the test thread: real key events through SendInput, window
// messages, and answers to the modal message dialogs.
//
// GoogleTest is built without thread support here, so the driver never asserts: it
// records what went wrong in `problems`, and the test checks them after the run.

#include <windows.h>

#include "tests/support/files.h"
#include "tests/support/vaults.h"

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

class Database;

class EditorDriver {
public:
    // Waits for the editor window and its two boxes; false after `timeout_ms`.
    bool attach(int timeout_ms = 10000);

    HWND main = nullptr;
    HWND filter = nullptr;
    HWND editor = nullptr;
    std::vector<std::string> problems;

    // Records a problem unless `ok`.
    void check(bool ok, const std::string& what);
    // Records a problem unless `actual` equals `expected` (shown escaped).
    void check_text(const std::wstring& actual, const std::wstring& expected, const std::string& what);
    // Polls `condition` until it holds; false after `timeout_ms`.
    bool wait_for(const std::function<bool()>& condition, int timeout_ms = 5000);
    // Waits until the window's text is `expected`; records a problem otherwise.
    void expect_text(HWND window, const std::wstring& expected, const std::string& what,
                     int timeout_ms = 5000);

    std::wstring text(HWND window);
    std::wstring title() { return text(main); }
    void get_selection(HWND box, DWORD& start, DWORD& end);
    void set_selection(HWND box, DWORD start, DWORD end);
    HWND focus();
    // Replaces the filter text with a message (raises EN_UPDATE like typing).
    void set_filter(const std::wstring& path);

    // Real key events.
    void press(WORD vk, std::initializer_list<WORD> modifiers = {});
    void type(const std::wstring& text);
    // Lets the window work through the input sent so far.
    void settle();
    void focus_filter();
    void focus_editor();
    bool focus_box(WORD digit, HWND box);

    // The top-level message dialog with this caption, or null after `timeout_ms`.
    HWND wait_dialog(const wchar_t* caption, int timeout_ms = 5000);
    // Any message dialog of this process, whatever its caption; null after `timeout_ms`.
    HWND wait_any_dialog(int timeout_ms);
    // True when no message dialog at all shows up within `ms`.
    bool no_dialog_within(int ms);
    // Answers a dialog with IDOK, IDYES or IDNO and waits until it is gone.
    void answer(HWND dialog, int command);
    // Waits for the dialog `caption` and answers it; records a problem when it never comes.
    void answer_dialog(const wchar_t* caption, int command);

    // Waits until the editor window is gone.
    bool wait_closed(int timeout_ms = 10000);
    // Closes whatever is still open (answering "Yes" to discard), so a failed script
    // never leaves the run hanging.
    void tear_down();
};

// Runs the editor over `db` on this thread while `script` drives it from another.
// Returns run_editor_window's result; the driver's problems land in `problems`.
bool run_editor_with(Database& db, const std::function<void(EditorDriver&)>& script,
                     std::vector<std::string>& problems);
