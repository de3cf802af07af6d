#include "ui/text.h"

#include <climits>

namespace {

// The platform converts int-sized lengths; longer texts are cut rather than wrapped.
int clamp_length(std::size_t length)
{
    return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

}  // namespace

std::wstring to_utf16(const std::string& text)
{
    if (text.empty()) return std::wstring();
    const int in_length = clamp_length(text.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), in_length, nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::wstring result(static_cast<std::size_t>(needed), L'\0');
    const int written = MultiByteToWideChar(CP_UTF8, 0, text.data(), in_length, &result[0], needed);
    result.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return result;
}

std::string to_narrow(const std::wstring& text)
{
    if (text.empty()) return std::string();
    const int in_length = clamp_length(text.size());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), in_length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string result(static_cast<std::size_t>(needed), '\0');
    const int written = WideCharToMultiByte(CP_UTF8, 0, text.data(), in_length, &result[0], needed, nullptr, nullptr);
    result.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return result;
}

std::wstring get_window_text_w(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    if (length < 0) return std::wstring();
    // Room for text that grew by up to 31 units since the length was asked.
    const std::size_t capacity = static_cast<std::size_t>(length) + 32;
    std::wstring text(capacity, L'\0');
    const LRESULT copied =
        SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(capacity), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

void set_window_text_w(HWND window, const std::wstring& text)
{
    SetWindowTextW(window, text.c_str());
}

std::string get_window_text(HWND window)
{
    return to_narrow(get_window_text_w(window));
}

void set_window_text(HWND window, const std::string& text)
{
    set_window_text_w(window, to_utf16(text));
}

bool is_ctrl_backspace(WPARAM character)
{
    return character == 0x7F || (character == L'\b' && GetKeyState(VK_CONTROL) < 0 && GetKeyState(VK_BACK) < 0);
}

bool file_exists(const std::string& path)
{
    // The entry, not its contents: a vault that cannot be read at this moment (held
    // by another program, access rights) is there all the same, and loading it says
    // why it cannot be read.
    const std::wstring wide = to_utf16(path);
    if (GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD code = GetLastError();
    return code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND && code != ERROR_INVALID_NAME &&
        code != ERROR_BAD_PATHNAME && code != ERROR_INVALID_DRIVE;
}
