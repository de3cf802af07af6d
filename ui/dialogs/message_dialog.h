#pragma once
// Messages to the user.

#include <windows.h>

#include <string>

// The program's modal message dialog (template 209) with one "Ok" button, centred
// on `owner` (or the desktop when null). Not reentrant.
void show_message(HWND owner, std::string caption, std::string text);
// The same dialog with "No" (focused) and "Yes"; true only when "Yes" closed it.
bool ask_yes_no(HWND owner, std::string caption, std::string text);
// The system message box with the warning icon and no owner, for failures before
// any window of the program exists, or of the windows themselves, or when memory
// ran out: the one way the program reaches it for an error. Allocates nothing.
void show_error_box(const wchar_t* caption, const wchar_t* text) noexcept;
// The same for UTF-8 texts.
void show_error_box(std::string caption, std::string text);

INT_PTR CALLBACK message_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// The text of the message dialog while one is open (empty otherwise), as UTF-8: the
// dialog paints its text, so this is how tests and tools can read it.
std::string shown_message_text();
