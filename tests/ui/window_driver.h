#pragma once
// Drives real windows from a second thread while the test thread runs a window's
// own message loop (a run function, a modal dialog, the editor).
//
//   auto failures = drive([&] { run_create_db_window(instance, SW_SHOW); },
//                         [&](WindowDriver& d) { HWND w = d.wait_top_level(L"create_db"); ... });
//   EXPECT_TRUE(failures.empty()) << join(failures);
//
// GoogleTest is not used from the second thread: failures are collected as text and
// the test checks them after the run. A failed wait_for/wait_until ends the script;
// check and the bool-returning waits go on. When the script ends, whatever the test
// thread still shows is closed so that the run function returns.
//
// Two ways of input: press(window, key)/type(window, text) post key messages to one
// window; press(key, modifiers)/type(text) send real key events (SendInput) to the
// foreground window, as the editor tests do. The editor's extras (its window and
// two boxes, dialogs found by caption) work once attach() has found the editor;
// run_editor_with does that.

#include <windows.h>

#include "tests/support/files.h"
#include "tests/support/vaults.h"
#include "ui/editor/editor_options.h"

#include <atomic>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

class WindowDriver {
public:
    // drive() makes the driver of a run; one made without arguments only finds windows.
    explicit WindowDriver(DWORD ui_thread = 0, HWND helper = nullptr, const std::atomic<bool>* ui_done = nullptr)
        : ui_thread_(ui_thread), helper_(helper), ui_done_(ui_done)
    {
    }

    std::vector<std::string> failures;
    DWORD ui_thread() const { return ui_thread_; }

    // Records a failure and goes on.
    void check(bool condition, const std::string& what);
    // Records a failure unless `actual` equals `expected` (shown escaped).
    void check_text(const std::wstring& actual, const std::wstring& expected, const std::string& what);
    // Records a failure and ends the script.
    [[noreturn]] void fail(const std::string& what);

    // Polls `find` every 20 ms until it gives a window; fails after `timeout_ms`.
    HWND wait_for(const std::function<HWND()>& find, const std::string& what, int timeout_ms = 15000);
    // Polls `condition` until it holds; false after `timeout_ms` (the script goes on).
    bool wait_for(const std::function<bool()>& condition, int timeout_ms = 5000);
    // Waits until `condition` holds; fails after `timeout_ms`.
    void wait_until(const std::function<bool()>& condition, const std::string& what, int timeout_ms = 15000);
    // A visible top-level window of the test thread with this class.
    HWND wait_top_level(const wchar_t* class_name);
    // The open message dialog of the test thread, once its buttons are laid out.
    HWND wait_dialog();
    // Waits until no dialog of the test thread is open any more.
    void wait_dialog_closed();
    // The dialog of the test thread currently open, or null.
    HWND find_dialog() const;
    // The top-level message dialog with this caption, or null after `timeout_ms`.
    HWND wait_dialog(const wchar_t* caption, int timeout_ms = 5000);
    // Any message dialog of this process, whatever its caption; null after `timeout_ms`.
    HWND wait_any_dialog(int timeout_ms);
    // True when no message dialog at all shows up within `ms`.
    bool no_dialog_within(int ms);
    // Answers a dialog with IDOK, IDYES or IDNO and waits until it is gone.
    void answer(HWND dialog, int command);
    // Waits for the dialog `caption` and answers it; records a failure when it never comes.
    void answer_dialog(const wchar_t* caption, int command);

    // The window with the keyboard focus in the test thread.
    HWND focus() const;
    // Posts a key press (WM_KEYDOWN, WM_KEYUP) to `window`; the test thread's loop
    // translates and dispatches it as it would a key from the keyboard.
    void press(HWND window, WPARAM key);
    // Posts the characters of `text` as WM_CHAR messages.
    void type(HWND window, const std::wstring& text);
    // Posts a click on a button.
    void click(HWND button);
    // Real key events: `vk` with the modifiers held, and the characters of `text`
    // (tab and line feed as their keys).
    void press(WORD vk, std::initializer_list<WORD> modifiers = {});
    void type(const std::wstring& text);
    // Returns once the test thread has handled everything sent to it so far (for
    // real key events, which take a detour through the system, after a pause).
    void settle();

    // --- The editor ---------------------------------------------------------------
    // Waits for the editor window and its two boxes; false after `timeout_ms`.
    bool attach(int timeout_ms = 10000);
    HWND main = nullptr;
    HWND filter = nullptr;
    HWND editor = nullptr;

    // Waits until the window's text is `expected`; records a failure otherwise.
    void expect_text(HWND window, const std::wstring& expected, const std::string& what, int timeout_ms = 5000);
    std::wstring text(HWND window);
    std::wstring title() { return text(main); }
    void get_selection(HWND box, DWORD& start, DWORD& end);
    void set_selection(HWND box, DWORD start, DWORD end);
    // Replaces the filter text with a message (raises EN_UPDATE like typing).
    void set_filter(const std::wstring& path);
    // Alt+1 / Alt+2 to the filter / editor box; a failure when the focus does not go there.
    void focus_filter();
    void focus_editor();
    bool focus_box(WORD digit, HWND box);
    // Injected keys go to the foreground window: brings the editor there first.
    void bring_to_front();
    // Waits until the editor window is gone.
    bool wait_closed(int timeout_ms = 10000);
    // Closes whatever is still open (answering "Yes" to discard), so a failed script
    // never leaves the run hanging.
    void tear_down();

private:
    DWORD ui_thread_;
    HWND helper_;  // message-only window of the test thread
    const std::atomic<bool>* ui_done_;
};

// Runs `ui` on this thread and `script` on a second thread; returns the failures.
std::vector<std::string> drive(const std::function<void()>& ui, const std::function<void(WindowDriver&)>& script);

class Database;
namespace vault {
class Session;
}
// Runs the editor over `db` on this thread while `script` drives it from another,
// once attached. Returns run_editor_window's result; the failures land in `failures`.
// The editor's vault session is `session` when given (the open window's, with the
// password in use), else one of its own without a password.
bool run_editor_with(Database& db, const std::function<void(WindowDriver&)>& script, std::vector<std::string>& failures,
                     const EditorOptions& options = EditorOptions(), vault::Session* session = nullptr);
// The same on the test thread of a GoogleTest case: every failure is reported to it.
bool run_editor_checked(Database& db, const std::function<void(WindowDriver&)>& script,
                        const EditorOptions& options = EditorOptions(), vault::Session* session = nullptr);

// A window made by a test and destroyed with it.
class TestWindow {
public:
    TestWindow(const wchar_t* window_class, const wchar_t* text, DWORD style, int x, int y, int width, int height)
        : window_(CreateWindowExW(0, window_class, text, style, x, y, width, height, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr))
    {
    }
    ~TestWindow() { DestroyWindow(window_); }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;
    HWND get() const { return window_; }

private:
    HWND window_;
};

// What the clipboard holds, read on the driver thread.
struct ClipboardContent {
    bool opened = false;
    std::wstring text;
    bool has_exclude = false;
    bool has_history = false;
    bool has_cloud = false;
    DWORD history = 0xFFFFFFFF;
    DWORD cloud = 0xFFFFFFFF;
};
ClipboardContent read_clipboard();
void empty_clipboard();

std::wstring window_text(HWND window);
std::wstring class_of(HWND window);
// A window's rectangle in its parent's client coordinates.
RECT rect_in_parent(HWND window);
