#include "editor_driver.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "app/windows.h"
#include "db/database.h"
#include "ui/text.h"

namespace {

bool is_extended_key(WORD vk)
{
    switch (vk) {
    case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN:
    case VK_HOME: case VK_END: case VK_PRIOR: case VK_NEXT:
    case VK_INSERT: case VK_DELETE:
        return true;
    default:
        return false;
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

std::wstring class_of(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

struct DialogSearch {
    DWORD process = 0;
    HWND found = nullptr;
};

// Any visible dialog-class window of this process.
BOOL CALLBACK find_any_dialog(HWND window, LPARAM lparam)
{
    auto* search = reinterpret_cast<DialogSearch*>(lparam);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search->process && IsWindowVisible(window) && class_of(window) == L"#32770") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

bool EditorDriver::attach(int timeout_ms)
{
    const bool found = wait_for([&] {
        main = FindWindowW(L"editor", nullptr);
        if (!main || !IsWindowVisible(main)) return false;
        filter = editor = nullptr;
        for (HWND child = FindWindowExW(main, nullptr, L"EDIT", nullptr); child;
             child = FindWindowExW(main, child, L"EDIT", nullptr)) {
            if (GetWindowLongPtrW(child, GWL_STYLE) & ES_MULTILINE) editor = child;
            else filter = child;
        }
        return filter && editor;
    }, timeout_ms);
    if (!found) {
        check(false, "the editor window did not appear");
        return false;
    }
    SetForegroundWindow(main);
    wait_for([&] { return GetForegroundWindow() == main; }, 2000);
    wait_for([&] { return focus() == filter; }, 2000);
    return true;
}

void EditorDriver::check(bool ok, const std::string& what)
{
    if (!ok) problems.push_back(what);
}

void EditorDriver::check_text(const std::wstring& actual, const std::wstring& expected,
                              const std::string& what)
{
    if (actual != expected)
        problems.push_back(what + ": got \"" + escaped(actual) + "\", expected \"" + escaped(expected) + "\"");
}

bool EditorDriver::wait_for(const std::function<bool()>& condition, int timeout_ms)
{
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms);
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(10);
    }
}

void EditorDriver::expect_text(HWND window, const std::wstring& expected, const std::string& what,
                               int timeout_ms)
{
    if (!wait_for([&] { return text(window) == expected; }, timeout_ms))
        check_text(text(window), expected, what);
}

std::wstring EditorDriver::text(HWND window)
{
    if (!window || !IsWindow(window)) return L"<no window>";
    return get_window_text_w(window);
}

void EditorDriver::get_selection(HWND box, DWORD& start, DWORD& end)
{
    start = end = 0;
    SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
}

void EditorDriver::set_selection(HWND box, DWORD start, DWORD end)
{
    SendMessageW(box, EM_SETSEL, start, static_cast<LPARAM>(end));
}

HWND EditorDriver::focus()
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!main || !GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

void EditorDriver::set_filter(const std::wstring& path)
{
    SendMessageW(filter, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    settle();
}

void EditorDriver::press(WORD vk, std::initializer_list<WORD> modifiers)
{
    for (WORD modifier : modifiers) send_key(modifier, false);
    send_key(vk, false);
    send_key(vk, true);
    for (auto it = std::rbegin(modifiers); it != std::rend(modifiers); ++it) send_key(*it, true);
    settle();
}

void EditorDriver::type(const std::wstring& text)
{
    for (wchar_t c : text) {
        if (c == L'\t') send_key(VK_TAB, false), send_key(VK_TAB, true);
        else if (c == L'\n') send_key(VK_RETURN, false), send_key(VK_RETURN, true);
        else send_unicode(c);
    }
    settle();
}

void EditorDriver::settle()
{
    // Input is queued behind sent messages; give the loop time, then make sure it
    // has come round to taking messages again.
    for (int i = 0; i < 3; ++i) {
        Sleep(40);
        DWORD_PTR result = 0;
        if (main && IsWindow(main))
            SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result);
    }
}

// Alt+digit moves the focus to a box. Injected keys go to the foreground window,
// and on a busy machine Wine may not have brought the editor there yet when the
// first key is sent. So the window is brought forward first, and the keys are sent
// again only when they went elsewhere: a window in front that ignored them fails.
bool EditorDriver::focus_box(WORD digit, HWND box)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (GetForegroundWindow() != main) {
            SetForegroundWindow(main);
            wait_for([&] { return GetForegroundWindow() == main; }, 3000);
        }
        const bool in_front = GetForegroundWindow() == main;
        press(digit, {VK_MENU});
        if (wait_for([&] { return focus() == box; }, 3000)) return true;
        if (in_front) return false;
    }
    return false;
}

void EditorDriver::focus_filter()
{
    check(focus_box('1', filter), "Alt+1 did not focus the filter box");
}

void EditorDriver::focus_editor()
{
    check(focus_box('2', editor), "Alt+2 did not focus the editor box");
}

HWND EditorDriver::wait_dialog(const wchar_t* caption, int timeout_ms)
{
    HWND dialog = nullptr;
    wait_for([&] {
        dialog = FindWindowW(L"#32770", caption);
        return dialog && IsWindowVisible(dialog);
    }, timeout_ms);
    return dialog && IsWindowVisible(dialog) ? dialog : nullptr;
}

HWND EditorDriver::wait_any_dialog(int timeout_ms)
{
    DialogSearch search;
    search.process = GetCurrentProcessId();
    wait_for([&] {
        search.found = nullptr;
        EnumWindows(find_any_dialog, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    }, timeout_ms);
    return search.found;
}

bool EditorDriver::no_dialog_within(int ms)
{
    return wait_any_dialog(ms) == nullptr;
}

void EditorDriver::answer(HWND dialog, int command)
{
    PostMessageW(dialog, WM_COMMAND, static_cast<WPARAM>(command), 0);
    check(wait_for([&] { return !IsWindow(dialog); }, 5000), "a message dialog did not close");
    settle();
}

void EditorDriver::answer_dialog(const wchar_t* caption, int command)
{
    HWND dialog = wait_dialog(caption);
    if (!dialog) {
        check(false, "no message dialog \"" + to_narrow(caption) + "\" appeared");
        return;
    }
    answer(dialog, command);
}

bool EditorDriver::wait_closed(int timeout_ms)
{
    return wait_for([&] { return !main || !IsWindow(main); }, timeout_ms);
}

void EditorDriver::tear_down()
{
    DialogSearch search;
    search.process = GetCurrentProcessId();
    for (int round = 0; round < 50 && main && IsWindow(main); ++round) {
        search.found = nullptr;
        EnumWindows(find_any_dialog, reinterpret_cast<LPARAM>(&search));
        if (search.found) PostMessageW(search.found, WM_COMMAND, IDYES, 0);
        else PostMessageW(main, WM_CLOSE, 0, 0);
        Sleep(100);
    }
}

bool run_editor_with(Database& db, const std::function<void(EditorDriver&)>& script,
                     std::vector<std::string>& problems)
{
    WNDCLASSEXW existing = {};
    existing.cbSize = sizeof existing;
    if (!GetClassInfoExW(GetModuleHandleW(nullptr), L"editor", &existing))
        register_editor_window(GetModuleHandleW(nullptr));
    EditorDriver driver;
    std::thread thread([&] {
        if (driver.attach()) {
            try {
                script(driver);
            } catch (const std::exception& failure) {
                driver.check(false, std::string("the script threw: ") + failure.what());
            }
        }
        driver.tear_down();
    });
    const bool result = run_editor_window(GetModuleHandleW(nullptr), SW_SHOWNORMAL, db);
    thread.join();
    problems = driver.problems;
    return result;
}
