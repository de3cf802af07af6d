#include "ui/common/text.h"

#include "platform/utf16.h"

std::wstring to_utf16(const std::string& text)
{
    std::wstring result;
    utf16::from_utf8(text, result, utf16::Invalid::kReplace);
    return result;
}

std::string to_narrow(const std::wstring& text)
{
    std::string result;
    utf16::to_utf8(text, result);
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
