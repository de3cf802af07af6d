#pragma once
// The crossing between the program's UTF-8 text and UTF-16 window text.
// Conversions use CP_UTF8 with flags 0 and explicit lengths: ill-formed input
// becomes U+FFFD, nothing fails, zero bytes inside a string are converted too.

#include <windows.h>

#include <string>

std::wstring to_utf16(const std::string& text);
std::string to_narrow(const std::wstring& text);

// The window's whole text (WM_GETTEXT with 32 units of slack); empty on failure.
std::wstring get_window_text_w(HWND window);
void set_window_text_w(HWND window, const std::wstring& text);
// to_narrow(get_window_text_w(window)) and set_window_text_w(window, to_utf16(text)).
std::string get_window_text(HWND window);
void set_window_text(HWND window, const std::string& text);

// True for the character that Ctrl+Backspace types into a box: 0x7F, or (as some
// keyboard translations, Wine's, deliver it) a backspace with Ctrl held while the
// Backspace key is down. Ctrl+H, the same character without Backspace, is not.
bool is_ctrl_backspace(WPARAM character);

// True when the file system has an entry named `path` (a file, readable or not, or a
// folder); false only when there is none.
bool file_exists(const std::string& path);
