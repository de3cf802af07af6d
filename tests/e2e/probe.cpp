// A console helper for the end-to-end test: it looks at the windows of a running
// Glimkeep from outside (as another process would) and opens the vault it wrote.
//
//   probe wait <class> <seconds>         a visible top-level window of that class
//   probe gone <class> <seconds>         no window of that class any more
//   probe dialog <caption> <seconds>     a visible message dialog with that caption
//   probe title <class>                  the window's title
//   probe text <class> <n>               the text of its n-th edit control (UTF-8)
//   probe open <password>                the plaintext of passwords.gkv (UTF-8)
//
// Exit code 0 when the condition holds, 1 otherwise.

#include "db/database.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string narrow(const std::wstring& text)
{
    if (text.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size,
                        nullptr, nullptr);
    return result;
}

std::wstring wide(const char* text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, &result[0], size);
    result.resize(result.size() - 1);
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

template <class Condition>
bool wait_for(double seconds, Condition condition)
{
    const DWORD deadline = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    for (;;) {
        if (condition()) return true;
        if (static_cast<LONG>(GetTickCount() - deadline) > 0) return false;
        Sleep(100);
    }
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

int usage()
{
    std::fputs("usage: probe wait|gone|dialog|title|text|open ...\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 3) return usage();
    const std::string command = argv[1];
    const std::wstring name = wide(argv[2]);

    if (command == "wait" && argc == 4) {
        HWND window = nullptr;
        const bool ok = wait_for(std::atof(argv[3]), [&] { return (window = find_visible(name.c_str(), nullptr)); });
        if (ok) std::printf("%s\n", narrow(window_text(window)).c_str());
        return ok ? 0 : 1;
    }
    if (command == "gone" && argc == 4)
        return wait_for(std::atof(argv[3]), [&] { return FindWindowW(name.c_str(), nullptr) == nullptr; }) ? 0 : 1;
    if (command == "dialog" && argc == 4)
        return wait_for(std::atof(argv[3]), [&] { return find_visible(L"#32770", name.c_str()) != nullptr; }) ? 0 : 1;
    if (command == "title" && argc == 3) {
        HWND window = FindWindowW(name.c_str(), nullptr);
        if (!window) return 1;
        std::printf("%s", narrow(window_text(window)).c_str());
        return 0;
    }
    if (command == "text" && argc == 4) {
        HWND window = FindWindowW(name.c_str(), nullptr);
        if (!window) return 1;
        EditSearch search{std::atoi(argv[3])};
        EnumChildWindows(window, find_edit, reinterpret_cast<LPARAM>(&search));
        if (!search.found) return 1;
        std::printf("%s", narrow(window_text(search.found)).c_str());
        return 0;
    }
    if (command == "open" && argc == 3) {
        Database db;
        if (int status = db.load(kDatabaseFileName)) {
            std::fprintf(stderr, "load: %s\n", db.last_error().c_str());
            return status;
        }
        const std::string password = argv[2];
        db.set_password(password.data(), static_cast<std::uint32_t>(password.size()));
        if (int status = db.decrypt()) {
            std::fprintf(stderr, "decrypt: %s\n", db.last_error().c_str());
            return status;
        }
        const std::string text = db.plaintext();
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    return usage();
}
