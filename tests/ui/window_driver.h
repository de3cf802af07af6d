#pragma once
// Drives real windows from a second thread while the test thread runs a window's
// own message loop (a run function, a modal dialog).
//
//   auto failures = drive([&] { run_create_db_window(instance, SW_SHOW); },
//                         [&](Driver& d) { HWND w = d.wait_top_level(L"create_db"); ... });
//   EXPECT_TRUE(failures.empty()) << join(failures);
//
// The script only posts or sends messages; it never blocks the test thread. Failures
// are collected as text (the test framework is not used from the second thread) and
// a failed wait ends the script. When the script ends, whatever the test thread still
// shows is closed so that the run function returns.

#include <windows.h>

#include "tests/support/files.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

class Driver {
public:
    Driver(DWORD ui_thread, HWND helper, const std::atomic<bool>* ui_done)
        : ui_thread_(ui_thread), helper_(helper), ui_done_(ui_done)
    {
    }

    // Records a failure and goes on.
    void check(bool condition, const std::string& what);
    // Records a failure and ends the script.
    [[noreturn]] void fail(const std::string& what);

    // Polls `find` every 20 ms until it gives a window; fails after `timeout_ms`.
    HWND wait_for(const std::function<HWND()>& find, const std::string& what, int timeout_ms = 15000);
    // Waits until `condition` holds.
    void wait_until(const std::function<bool()>& condition, const std::string& what,
                    int timeout_ms = 15000);
    // A visible top-level window of the test thread with this class.
    HWND wait_top_level(const wchar_t* class_name);
    // The open message dialog of the test thread, once its buttons are laid out.
    HWND wait_dialog();
    // Waits until no dialog of the test thread is open any more.
    void wait_dialog_closed();
    // The dialog currently open, or null.
    HWND find_dialog() const;

    // The window with the keyboard focus in the test thread.
    HWND focus() const;
    // Posts a key press (WM_KEYDOWN, WM_KEYUP) to `window`; the test thread's loop
    // translates and dispatches it as it would a key from the keyboard.
    void press(HWND window, WPARAM key);
    // Posts the characters of `text` as WM_CHAR messages.
    void type(HWND window, const std::wstring& text);
    // Posts a click on a button.
    void click(HWND button);
    // Returns once the test thread has handled everything posted to it so far.
    void settle();

    std::vector<std::string> failures;
    DWORD ui_thread() const { return ui_thread_; }

private:
    DWORD ui_thread_;
    HWND helper_;  // message-only window of the test thread
    const std::atomic<bool>* ui_done_;
};

// Runs `ui` on this thread and `script` on a second thread; returns the failures.
std::vector<std::string> drive(const std::function<void()>& ui, const std::function<void(Driver&)>& script);

std::wstring window_text(HWND window);
std::wstring class_of(HWND window);
// A window's rectangle in its parent's client coordinates.
RECT rect_in_parent(HWND window);
