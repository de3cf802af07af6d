#include "window_driver.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

struct ScriptEnded {};

struct FindDialog {
    HWND found = nullptr;
};

BOOL CALLBACK find_dialog_proc(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<FindDialog*>(param);
    if (class_of(window) == L"#32770" && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
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

}  // namespace

void Driver::check(bool condition, const std::string& what)
{
    if (!condition) failures.push_back(what);
}

void Driver::fail(const std::string& what)
{
    failures.push_back(what);
    throw ScriptEnded();
}

HWND Driver::wait_for(const std::function<HWND()>& find, const std::string& what, int timeout_ms)
{
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        if (HWND window = find()) return window;
        sleep_ms(20);
    }
    fail("timed out waiting for " + what);
}

void Driver::wait_until(const std::function<bool()>& condition, const std::string& what, int timeout_ms)
{
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        if (condition()) return;
        sleep_ms(20);
    }
    fail("timed out waiting until " + what);
}

HWND Driver::wait_top_level(const wchar_t* class_name)
{
    return wait_for(
        [&]() -> HWND {
            HWND window = FindWindowW(class_name, nullptr);
            if (!window || !IsWindowVisible(window)) return nullptr;
            if (GetWindowThreadProcessId(window, nullptr) != ui_thread_) return nullptr;
            return window;
        },
        "window " + narrow(class_name));
}

HWND Driver::find_dialog() const
{
    FindDialog search;
    EnumThreadWindows(ui_thread_, find_dialog_proc, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND Driver::wait_dialog()
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

void Driver::wait_dialog_closed()
{
    wait_until([&] { return find_dialog() == nullptr; }, "the message dialog has closed");
    settle();
}

HWND Driver::focus() const
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(ui_thread_, &info)) return nullptr;
    return info.hwndFocus;
}

void Driver::press(HWND window, WPARAM key)
{
    const UINT scan = MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
    const LPARAM up = static_cast<LPARAM>(static_cast<ULONG_PTR>(down) | 0xC0000000u);
    // The loop's TranslateMessage makes the WM_CHAR, as for a real key.
    PostMessageW(window, WM_KEYDOWN, key, down);
    PostMessageW(window, WM_KEYUP, key, up);
    settle();
}

void Driver::type(HWND window, const std::wstring& text)
{
    for (wchar_t c : text) PostMessageW(window, WM_CHAR, static_cast<WPARAM>(c), 1);
    settle();
}

void Driver::click(HWND button)
{
    PostMessageW(button, BM_CLICK, 0, 0);
}

void Driver::settle()
{
    // Messages posted to one thread are handled in order: once the helper window has
    // seen this one, everything posted before it has been handled too.
    if (!helper_ || *ui_done_) return;
    const long target = ++g_settle_posted;
    PostMessageW(helper_, WM_APP, 0, 0);
    for (int waited = 0; g_settle_seen < target && !*ui_done_ && waited < 15000; waited += 5) sleep_ms(5);
}

std::vector<std::string> drive(const std::function<void()>& ui, const std::function<void(Driver&)>& script)
{
    static const ATOM helper_class = [] {
        WNDCLASSEXW window_class = {};
        window_class.cbSize = sizeof window_class;
        window_class.lpfnWndProc = helper_proc;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"glimkeep_test_driver";
        return RegisterClassExW(&window_class);
    }();
    HWND helper = CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(helper_class)), L"", 0, 0,
                                  0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    std::atomic<bool> ui_done(false);
    Driver driver(GetCurrentThreadId(), helper, &ui_done);
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
