// A console helper for the end-to-end suite: it looks at the windows of a running
// Glimkeep from outside, as another process would.
//
//   probe serve                          answers requests on standard input (below)
//   probe editcost <file>                times the system's edit control alone on the
//                                        UTF-8 text of <file>: an edit control made as
//                                        the editor box is, its text set, painted and
//                                        read back; prints the three times in ms
//   probe editcost <file> system-font    the same with the system's default font
//   probe target <title>                 a window of another program to type into: a
//                                        user-name box and a password box (class
//                                        "typing_target"); Tab moves between them, and
//                                        Enter adds " - entered" to the title
//
// Serving, one request per line, fields separated by tabs (UTF-8). Each answer is
// a header line "<status> <byte count>" followed by that many bytes of UTF-8;
// status 0 means found, 1 not found.
//   find <class> [<title>]       a visible top-level window; answers its title
//   text <class> <n>             the text of the window's n-th edit control
//   length <class> <n>           its length in UTF-16 units
//   box <title>                  the text of a system message box with that title
//   rect <class> [<title>]       "left top width height" of a visible window
//   client <class>               "width height" of its client area
//   selection <class> <n>        "start end" of the n-th edit control's selection
//   foreground                   the class of the foreground window
//   clipboard                    the clipboard's text as Windows programs see it
//   shown <class> <n> <length> <seconds>
//                                answers "armed" at once, then again as soon as the
//                                n-th edit control holds <length> units and has
//                                nothing left to paint (or status 1 at the deadline)
//   appears <title> <seconds>    the same for a visible dialog with that title
//   hold <file>                  opens the file sharing it with nobody, as another
//                                program may, until "release"
//   release                      closes the file that "hold" opened
//   endsession <class>           sends the window WM_ENDSESSION (TRUE) as Windows does
//                                when the session ends over a refusal; answers once
//                                the window has handled it
//   retitle <class> <title>      gives the window another title, as a page that
//                                changes in a browser tab does
//   hotkey <modifiers> <vk>      takes a global key (RegisterHotKey, decimal numbers)
//                                for as long as the probe runs, as another program may

#include <windows.h>

#include "platform/utf16.h"
#include "tests/support/files.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::wstring wide(const char* text)
{
    std::wstring result;
    utf16::from_utf8(text, result, utf16::Invalid::kReplace);
    return result;
}

// Text through WM_GETTEXT, which the system copies across processes.
std::wstring window_text(HWND window)
{
    const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

HWND find_visible(const wchar_t* window_class, const wchar_t* title)
{
    HWND window = FindWindowW(window_class, title);
    return window && IsWindowVisible(window) ? window : nullptr;
}

struct EditSearch {
    int wanted;
    int seen = 0;
    HWND found = nullptr;
};

BOOL CALLBACK find_edit(HWND child, LPARAM lparam)
{
    auto* search = reinterpret_cast<EditSearch*>(lparam);
    wchar_t name[16];
    GetClassNameW(child, name, 16);
    if (lstrcmpiW(name, L"Edit") != 0) return TRUE;
    if (search->seen++ == search->wanted) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

// Asks another process's window for a number through a message, without hanging
// on a program that has stopped answering.
bool ask(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT* answer)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL, 20000, &result)) return false;
    *answer = static_cast<LRESULT>(result);
    return true;
}

HWND nth_edit(HWND window, int n)
{
    if (!window) return nullptr;
    EditSearch search{n};
    EnumChildWindows(window, find_edit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void answer(int status, const std::string& data = std::string())
{
    std::printf("%d %u\n", status, static_cast<unsigned>(data.size()));
    std::fwrite(data.data(), 1, data.size(), stdout);
    std::fflush(stdout);
}

std::vector<std::string> split_fields(std::string line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

// The polling behind "shown" and "appears": tight, so that the time the caller
// measures is the program's and not the probe's.
template <class Condition>
bool watch(double seconds, Condition condition)
{
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (;;) {
        if (condition()) return true;
        QueryPerformanceCounter(&now);
        if (static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart) > seconds)
            return false;
        Sleep(1);
    }
}

HANDLE g_held = INVALID_HANDLE_VALUE;

void serve_one(const std::vector<std::string>& f)
{
    const std::string& verb = f[0];
    const std::wstring name = f.size() > 1 ? wide(f[1].c_str()) : std::wstring();
    const std::wstring title = f.size() > 2 ? wide(f[2].c_str()) : std::wstring();
    if (verb == "find" && f.size() >= 2) {
        HWND window = find_visible(name.c_str(), f.size() > 2 ? title.c_str() : nullptr);
        return window ? answer(0, narrow(window_text(window))) : answer(1);
    }
    if ((verb == "text" || verb == "length") && f.size() == 3) {
        HWND edit = nth_edit(FindWindowW(name.c_str(), nullptr), std::atoi(f[2].c_str()));
        if (!edit) return answer(1);
        if (verb == "text") return answer(0, narrow(window_text(edit)));
        LRESULT length = 0;
        return ask(edit, WM_GETTEXTLENGTH, 0, 0, &length) ? answer(0, std::to_string(length)) : answer(1);
    }
    if (verb == "box" && f.size() == 2) {
        HWND box = find_visible(L"#32770", name.c_str());
        HWND text = box ? GetDlgItem(box, 0xFFFF) : nullptr;
        return text ? answer(0, narrow(window_text(text))) : answer(1);
    }
    if (verb == "rect" && f.size() >= 2) {
        HWND window = find_visible(name.c_str(), f.size() > 2 ? title.c_str() : nullptr);
        RECT rect;
        if (!window || !GetWindowRect(window, &rect)) return answer(1);
        return answer(0,
                      std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
                          std::to_string(rect.right - rect.left) + " " + std::to_string(rect.bottom - rect.top));
    }
    if (verb == "client" && f.size() == 2) {
        HWND window = find_visible(name.c_str(), nullptr);
        RECT rect;
        if (!window || !GetClientRect(window, &rect)) return answer(1);
        return answer(0, std::to_string(rect.right) + " " + std::to_string(rect.bottom));
    }
    if (verb == "selection" && f.size() == 3) {
        HWND edit = nth_edit(FindWindowW(name.c_str(), nullptr), std::atoi(f[2].c_str()));
        LRESULT both = 0;
        // Across processes the positions come back in the result's low and high words
        // (texts below 65536 units).
        if (!edit || !ask(edit, EM_GETSEL, 0, 0, &both)) return answer(1);
        const DWORD packed = static_cast<DWORD>(both);
        return answer(0, std::to_string(LOWORD(packed)) + " " + std::to_string(HIWORD(packed)));
    }
    if (verb == "foreground") {
        wchar_t class_name[64] = L"";
        HWND window = GetForegroundWindow();
        if (!window || !GetClassNameW(window, class_name, 64)) return answer(1);
        return answer(0, narrow(class_name));
    }
    if (verb == "clipboard") {
        if (!OpenClipboard(nullptr)) return answer(1);
        std::string text;
        bool found = false;
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
            if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
                text = narrow(chars);
                found = true;
                GlobalUnlock(data);
            }
        }
        CloseClipboard();
        return answer(found ? 0 : 1, text);
    }
    if (verb == "shown" && f.size() == 5) {
        const LRESULT wanted = std::atol(f[3].c_str());
        answer(0, "armed");
        const bool ok = watch(std::atof(f[4].c_str()), [&] {
            HWND window = find_visible(name.c_str(), nullptr);
            HWND edit = nth_edit(window, std::atoi(f[2].c_str()));
            LRESULT length = -1;
            if (!edit || !ask(edit, WM_GETTEXTLENGTH, 0, 0, &length) || length != wanted) return false;
            return !GetUpdateRect(edit, nullptr, FALSE);
        });
        return answer(ok ? 0 : 1);
    }
    if (verb == "appears" && f.size() == 3) {
        answer(0, "armed");
        const bool ok =
            watch(std::atof(f[2].c_str()), [&] { return find_visible(L"#32770", name.c_str()) != nullptr; });
        return answer(ok ? 0 : 1);
    }
    if (verb == "endsession" && f.size() == 2) {
        HWND window = find_visible(name.c_str(), nullptr);
        DWORD_PTR result = 0;
        if (!window || !SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 30000, &result))
            return answer(1);
        return answer(0);
    }
    if (verb == "retitle" && f.size() == 3) {
        HWND window = find_visible(name.c_str(), nullptr);
        DWORD_PTR result = 0;
        if (!window ||
            !SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title.c_str()), SMTO_NORMAL, 10000,
                                 &result))
            return answer(1);
        return answer(0);
    }
    if (verb == "hotkey" && f.size() == 3) {
        static int next_id = 1;
        const bool taken = RegisterHotKey(nullptr, next_id++, static_cast<UINT>(std::atoi(f[1].c_str())),
                                          static_cast<UINT>(std::atoi(f[2].c_str())));
        return answer(taken ? 0 : 1);
    }
    if ((verb == "hold" && f.size() == 2) || verb == "release") {
        if (g_held != INVALID_HANDLE_VALUE) CloseHandle(g_held);
        g_held = INVALID_HANDLE_VALUE;
        if (verb == "release") return answer(0);
        g_held = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        return answer(g_held != INVALID_HANDLE_VALUE ? 0 : 1);
    }
    answer(2, "unknown request");
}

double milliseconds_since(const LARGE_INTEGER& start)
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The edit control on its own, built as the editor box is (styles, font, size of
// the program's first window), so that the benchmark can tell its share of the
// time from the program's.
int edit_cost(const char* path, bool program_font)
{
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return 1;
    std::string text;
    char chunk[1 << 16];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
    std::fclose(file);
    std::wstring wide_text;
    utf16::from_utf8(text, wide_text, utf16::Invalid::kReplace);

    HWND frame = CreateWindowExW(0, L"STATIC", L"edit cost", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 620, 620, nullptr,
                                 nullptr, nullptr, nullptr);
    HWND edit =
        CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                        WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_NOHIDESEL | ES_AUTOVSCROLL | ES_MULTILINE,
                        0, 33, 604, 540, frame, nullptr, nullptr, nullptr);
    HFONT font = CreateFontW(15, 8, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, PROOF_QUALITY, FIXED_PITCH | FF_MODERN, L"Monospace");
    if (!frame || !edit || !font) return 1;
    SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);
    if (program_font) SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    UpdateWindow(frame);

    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    SetWindowTextW(edit, wide_text.c_str());
    const double set_ms = milliseconds_since(start);
    QueryPerformanceCounter(&start);
    UpdateWindow(edit);
    const double paint_ms = milliseconds_since(start);
    QueryPerformanceCounter(&start);
    const std::wstring back = window_text(edit);
    const double get_ms = milliseconds_since(start);
    std::printf("%.1f %.1f %.1f\n", set_ms, paint_ms, get_ms);

    DestroyWindow(frame);
    DeleteObject(font);
    return back == wide_text ? 0 : 1;
}

// The box that had the focus when the target was last active gets it back, as in a
// dialog.
HWND g_target_focus = nullptr;

LRESULT CALLBACK target_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_ACTIVATE) {
        if (LOWORD(wparam) == WA_INACTIVE) {
            if (IsChild(window, GetFocus())) g_target_focus = GetFocus();
        } else if (g_target_focus) {
            SetFocus(g_target_focus);
            return 0;
        }
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wparam, lparam);
}

int typing_target(const char* title)
{
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = target_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    window_class.lpszClassName = L"typing_target";
    if (!RegisterClassExW(&window_class)) return 1;
    HWND window = CreateWindowExW(0, L"typing_target", wide(title).c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40,
                                  400, 160, nullptr, nullptr, window_class.hInstance, nullptr);
    HWND boxes[2];
    for (int i = 0; i < 2; ++i)
        boxes[i] = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 10,
                                   10 + 40 * i, 360, 26, window, nullptr, window_class.hInstance, nullptr);
    if (!window || !boxes[0] || !boxes[1]) return 1;
    SetForegroundWindow(window);
    SetFocus(boxes[0]);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_KEYDOWN && message.wParam == VK_TAB) {
            SetFocus(GetFocus() == boxes[0] ? boxes[1] : boxes[0]);
            continue;
        }
        if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN) {
            SetWindowTextW(window, (window_text(window) + L" - entered").c_str());
            continue;
        }
        if ((message.message == WM_CHAR) && (message.wParam == L'\t' || message.wParam == L'\r')) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

int serve()
{
    std::string line;
    char chunk[4096];
    while (std::fgets(chunk, sizeof chunk, stdin)) {
        line += chunk;
        if (line.empty() || line.back() != '\n') continue;
        serve_one(split_fields(line));
        line.clear();
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc == 2 && std::string(argv[1]) == "serve") return serve();
    if (argc == 3 && std::string(argv[1]) == "target") return typing_target(argv[2]);
    if (argc == 3 && std::string(argv[1]) == "editcost") return edit_cost(argv[2], true);
    if (argc == 4 && std::string(argv[1]) == "editcost" && std::string(argv[3]) == "system-font")
        return edit_cost(argv[2], false);
    std::fputs("usage: probe serve | editcost <file> [system-font] | target <title>\n", stderr);
    return 2;
}
