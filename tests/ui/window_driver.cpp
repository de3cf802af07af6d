#include "window_driver.h"

#include <gtest/gtest.h>

#include "ui/window_entry_points.h"
#include "db/database.h"
#include "ui/common/text.h"

#include <chrono>
#include <cstring>
#include <iterator>
#include <thread>

namespace {

struct ScriptEnded {};

struct FindDialog {
    DWORD process = 0;  // 0: only dialogs of the thread enumerated
    HWND found = nullptr;
};

// A visible dialog-class window (of `process`, when given).
BOOL CALLBACK find_dialog_proc(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<FindDialog*>(param);
    DWORD process = 0;
    if (search->process) GetWindowThreadProcessId(window, &process);
    if (process == search->process && IsWindowVisible(window) && class_of(window) == L"#32770") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Any visible message dialog of this process.
HWND find_process_dialog()
{
    FindDialog search;
    search.process = GetCurrentProcessId();
    EnumWindows(find_dialog_proc, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK close_window_proc(HWND window, LPARAM)
{
    if (IsWindowVisible(window)) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

std::atomic<long> g_settle_posted(0);
std::atomic<long> g_settle_seen(0);

LRESULT CALLBACK helper_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_APP) {
        ++g_settle_seen;
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

void sleep_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool is_extended_key(WORD vk)
{
    switch (vk) {
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
    case VK_HOME:
    case VK_END:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_INSERT:
    case VK_DELETE: return true;
    default: return false;
    }
}

void send_key(WORD vk, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (is_extended_key(vk) ? KEYEVENTF_EXTENDEDKEY : 0);
    SendInput(1, &input, sizeof input);
}

void send_unicode(wchar_t c)
{
    INPUT input[2] = {};
    for (int i = 0; i < 2; ++i) {
        input[i].type = INPUT_KEYBOARD;
        input[i].ki.wScan = c;
        input[i].ki.dwFlags = KEYEVENTF_UNICODE | (i ? KEYEVENTF_KEYUP : 0);
    }
    SendInput(2, input, sizeof input[0]);
}

bool read_dword(UINT format, DWORD& value)
{
    HANDLE data = GetClipboardData(format);
    if (!data || GlobalSize(data) < sizeof(DWORD)) return false;
    const void* bytes = GlobalLock(data);
    if (!bytes) return false;
    std::memcpy(&value, bytes, sizeof value);
    GlobalUnlock(data);
    return true;
}

}  // namespace

void WindowDriver::check(bool condition, const std::string& what)
{
    if (!condition) failures.push_back(what);
}

void WindowDriver::check_text(const std::wstring& actual, const std::wstring& expected, const std::string& what)
{
    if (actual != expected)
        failures.push_back(what + ": got \"" + escaped(actual) + "\", expected \"" + escaped(expected) + "\"");
}

void WindowDriver::fail(const std::string& what)
{
    failures.push_back(what);
    throw ScriptEnded();
}

HWND WindowDriver::wait_for(const std::function<HWND()>& find, const std::string& what, int timeout_ms)
{
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        if (HWND window = find()) return window;
        sleep_ms(20);
    }
    fail("timed out waiting for " + what);
}

bool WindowDriver::wait_for(const std::function<bool()>& condition, int timeout_ms)
{
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(10);
    }
}

void WindowDriver::wait_until(const std::function<bool()>& condition, const std::string& what, int timeout_ms)
{
    if (!wait_for(condition, timeout_ms)) fail("timed out waiting until " + what);
}

HWND WindowDriver::wait_top_level(const wchar_t* class_name)
{
    return wait_for(
        [&]() -> HWND {
            HWND window = FindWindowW(class_name, nullptr);
            if (!window || !IsWindowVisible(window)) return nullptr;
            if (GetWindowThreadProcessId(window, nullptr) != ui_thread_) return nullptr;
            return window;
        },
        "window " + narrow(std::wstring(class_name)));
}

HWND WindowDriver::find_dialog() const
{
    FindDialog search;
    EnumThreadWindows(ui_thread_, find_dialog_proc, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WindowDriver::wait_dialog()
{
    return wait_for(
        [&]() -> HWND {
            HWND dialog = find_dialog();
            if (!dialog) return nullptr;
            // laid out: the first button has been given its size by the first paint
            HWND button = FindWindowExW(dialog, nullptr, L"Button", nullptr);
            if (!button) return nullptr;
            RECT rect = rect_in_parent(button);
            return rect.right > rect.left ? dialog : nullptr;
        },
        "the message dialog");
}

void WindowDriver::wait_dialog_closed()
{
    wait_until([&] { return find_dialog() == nullptr; }, "the message dialog has closed");
    settle();
}

HWND WindowDriver::wait_dialog(const wchar_t* caption, int timeout_ms)
{
    HWND dialog = nullptr;
    wait_for(
        [&] {
            dialog = FindWindowW(L"#32770", caption);
            return dialog && IsWindowVisible(dialog);
        },
        timeout_ms);
    return dialog && IsWindowVisible(dialog) ? dialog : nullptr;
}

HWND WindowDriver::wait_any_dialog(int timeout_ms)
{
    HWND found = nullptr;
    wait_for([&] { return (found = find_process_dialog()) != nullptr; }, timeout_ms);
    return found;
}

bool WindowDriver::no_dialog_within(int ms)
{
    return wait_any_dialog(ms) == nullptr;
}

void WindowDriver::answer(HWND dialog, int command)
{
    PostMessageW(dialog, WM_COMMAND, static_cast<WPARAM>(command), 0);
    check(wait_for([&] { return !IsWindow(dialog); }, 5000), "a message dialog did not close");
    settle();
}

void WindowDriver::answer_dialog(const wchar_t* caption, int command)
{
    HWND dialog = wait_dialog(caption);
    if (!dialog) {
        check(false, "no message dialog \"" + narrow(std::wstring(caption)) + "\" appeared");
        return;
    }
    answer(dialog, command);
}

HWND WindowDriver::focus() const
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(ui_thread_, &info)) return nullptr;
    return info.hwndFocus;
}

void WindowDriver::press(HWND window, WPARAM key)
{
    const UINT scan = MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
    const LPARAM up = static_cast<LPARAM>(static_cast<ULONG_PTR>(down) | 0xC0000000u);
    // The loop's TranslateMessage makes the WM_CHAR, as for a real key.
    PostMessageW(window, WM_KEYDOWN, key, down);
    PostMessageW(window, WM_KEYUP, key, up);
    settle();
}

void WindowDriver::type(HWND window, const std::wstring& text)
{
    for (wchar_t c : text) PostMessageW(window, WM_CHAR, static_cast<WPARAM>(c), 1);
    settle();
}

void WindowDriver::click(HWND button)
{
    PostMessageW(button, BM_CLICK, 0, 0);
}

void WindowDriver::press(WORD vk, std::initializer_list<WORD> modifiers)
{
    for (WORD modifier : modifiers) send_key(modifier, false);
    send_key(vk, false);
    send_key(vk, true);
    for (auto it = std::rbegin(modifiers); it != std::rend(modifiers); ++it) send_key(*it, true);
    settle();
}

void WindowDriver::type(const std::wstring& text)
{
    for (wchar_t c : text) {
        if (c == L'\t')
            send_key(VK_TAB, false), send_key(VK_TAB, true);
        else if (c == L'\n')
            send_key(VK_RETURN, false), send_key(VK_RETURN, true);
        else
            send_unicode(c);
    }
    settle();
}

void WindowDriver::settle()
{
    if (main) {
        // The editor takes real key events, which are queued behind sent messages:
        // give its loop time, then make sure it has come round to taking messages.
        for (int i = 0; i < 3; ++i) {
            Sleep(40);
            DWORD_PTR result = 0;
            if (IsWindow(main)) SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result);
        }
        return;
    }
    // Messages posted to one thread are handled in order: once the helper window has
    // seen this one, everything posted before it has been handled too.
    if (!helper_ || *ui_done_) return;
    const long target = ++g_settle_posted;
    PostMessageW(helper_, WM_APP, 0, 0);
    for (int waited = 0; g_settle_seen < target && !*ui_done_ && waited < 15000; waited += 5) sleep_ms(5);
}

bool WindowDriver::attach(int timeout_ms)
{
    HWND found_main = nullptr;
    const bool found = wait_for(
        [&] {
            found_main = FindWindowW(L"editor", nullptr);
            if (!found_main || !IsWindowVisible(found_main)) return false;
            filter = editor = nullptr;
            for (HWND child = FindWindowExW(found_main, nullptr, L"EDIT", nullptr); child;
                 child = FindWindowExW(found_main, child, L"EDIT", nullptr)) {
                if (GetWindowLongPtrW(child, GWL_STYLE) & ES_MULTILINE)
                    editor = child;
                else
                    filter = child;
            }
            return filter && editor;
        },
        timeout_ms);
    if (!found) {
        check(false, "the editor window did not appear");
        return false;
    }
    main = found_main;
    SetForegroundWindow(main);
    wait_for([&] { return GetForegroundWindow() == main; }, 2000);
    wait_for([&] { return focus() == filter; }, 2000);
    return true;
}

void WindowDriver::expect_text(HWND window, const std::wstring& expected, const std::string& what, int timeout_ms)
{
    if (!wait_for([&] { return text(window) == expected; }, timeout_ms)) check_text(text(window), expected, what);
}

std::wstring WindowDriver::text(HWND window)
{
    if (!window || !IsWindow(window)) return L"<no window>";
    return get_window_text_w(window);
}

void WindowDriver::get_selection(HWND box, DWORD& start, DWORD& end)
{
    start = end = 0;
    SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
}

void WindowDriver::set_selection(HWND box, DWORD start, DWORD end)
{
    SendMessageW(box, EM_SETSEL, start, static_cast<LPARAM>(end));
}

void WindowDriver::set_filter(const std::wstring& path)
{
    SendMessageW(filter, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    settle();
}

// Alt+digit moves the focus to a box. Injected keys go to the foreground window,
// and on a busy machine Wine may not have brought the editor there yet when the
// first key is sent, or may take seconds to deliver it. So the window is brought
// forward first, and the keys are sent again while the focus has not moved: a
// second Alt+digit for the same box changes nothing.
bool WindowDriver::focus_box(WORD digit, HWND box)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        bring_to_front();
        press(digit, {VK_MENU});
        if (wait_for([&] { return focus() == box; }, 5000)) return true;
    }
    return false;
}

void WindowDriver::bring_to_front()
{
    if (GetForegroundWindow() == main) return;
    SetForegroundWindow(main);
    wait_for([&] { return GetForegroundWindow() == main; }, 3000);
}

void WindowDriver::focus_filter()
{
    check(focus_box('1', filter), "Alt+1 did not focus the filter box");
}

void WindowDriver::focus_editor()
{
    check(focus_box('2', editor), "Alt+2 did not focus the editor box");
}

bool WindowDriver::wait_closed(int timeout_ms)
{
    return wait_for([&] { return !main || !IsWindow(main); }, timeout_ms);
}

void WindowDriver::tear_down()
{
    for (int round = 0; round < 50 && main && IsWindow(main); ++round) {
        if (HWND dialog = find_process_dialog())
            PostMessageW(dialog, WM_COMMAND, IDYES, 0);
        else
            PostMessageW(main, WM_CLOSE, 0, 0);
        Sleep(100);
    }
}

std::vector<std::string> drive(const std::function<void()>& ui, const std::function<void(WindowDriver&)>& script)
{
    static const ATOM helper_class = [] {
        WNDCLASSEXW window_class = {};
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = helper_proc;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"glimkeep_test_driver";
        return RegisterClassExW(&window_class);
    }();
    HWND helper = CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(helper_class)), L"", 0, 0, 0, 0,
                                  0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    std::atomic<bool> ui_done(false);
    WindowDriver driver(GetCurrentThreadId(), helper, &ui_done);
    std::thread worker([&] {
        try {
            script(driver);
        } catch (const ScriptEnded&) {
        } catch (const std::exception& e) {
            driver.failures.push_back(std::string("script threw: ") + e.what());
        }
        // Close whatever is still open until the run function has returned.
        for (int round = 0; !ui_done && round < 500; ++round) {
            if (round > 0 && round % 25 == 0) {
                if (HWND dialog = driver.find_dialog()) PostMessageW(dialog, WM_CLOSE, 0, 0);
                EnumThreadWindows(driver.ui_thread(), close_window_proc, 0);
            }
            sleep_ms(20);
        }
    });
    ui();
    ui_done = true;
    worker.join();
    DestroyWindow(helper);
    return driver.failures;
}

bool run_editor_with(Database& db, const std::function<void(WindowDriver&)>& script, std::vector<std::string>& failures,
                     const EditorOptions& options, vault::Session* session)
{
    WNDCLASSEXW existing = {};
    existing.cbSize = sizeof existing;
    if (!GetClassInfoExW(GetModuleHandleW(nullptr), L"editor", &existing))
        register_editor_window(GetModuleHandleW(nullptr));
    bool result = false;
    failures = drive(
        [&] {
            result = session ? run_editor_window(GetModuleHandleW(nullptr), SW_SHOWNORMAL, db, *session, options)
                             : run_editor_window(GetModuleHandleW(nullptr), SW_SHOWNORMAL, db, options);
        },
        [&](WindowDriver& d) {
            // Whatever the script did, the editor is closed before the run ends.
            try {
                if (d.attach()) script(d);
            } catch (const std::exception& failure) {
                d.check(false, std::string("the script threw: ") + failure.what());
            } catch (...) {
                d.tear_down();
                throw;
            }
            d.tear_down();
        });
    return result;
}

std::wstring window_text(HWND window)
{
    wchar_t buffer[4096] = {};
    GetWindowTextW(window, buffer, 4096);
    return buffer;
}

std::wstring class_of(HWND window)
{
    wchar_t buffer[256] = {};
    GetClassNameW(window, buffer, 256);
    return buffer;
}

RECT rect_in_parent(HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool run_editor_checked(Database& db, const std::function<void(WindowDriver&)>& script, const EditorOptions& options,
                        vault::Session* session)
{
    std::vector<std::string> problems;
    const bool locked = run_editor_with(db, script, problems, options, session);
    for (const std::string& problem : problems) ADD_FAILURE() << problem;
    return locked;
}

ClipboardContent read_clipboard()
{
    ClipboardContent content;
    for (int attempt = 0; attempt < 50 && !content.opened; ++attempt) {
        content.opened = OpenClipboard(nullptr) != FALSE;
        if (!content.opened) Sleep(20);
    }
    if (!content.opened) return content;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* text = static_cast<const wchar_t*>(GlobalLock(data))) {
            content.text = text;
            GlobalUnlock(data);
        }
    }
    content.has_exclude =
        IsClipboardFormatAvailable(RegisterClipboardFormatW(L"ExcludeClipboardContentFromMonitorProcessing"));
    content.has_history = read_dword(RegisterClipboardFormatW(L"CanIncludeInClipboardHistory"), content.history);
    content.has_cloud = read_dword(RegisterClipboardFormatW(L"CanUploadToCloudClipboard"), content.cloud);
    CloseClipboard();
    return content;
}

void empty_clipboard()
{
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }
}
