#pragma once
// Asking and telling the user, through the program's message dialog, with every
// message recorded so that a test sees what the user was told once a window's run
// has returned. User-interface thread only.

#include <windows.h>

#include <string>
#include <vector>

// Every message told or asked, in order, as (caption, text). The editor clears it at
// the start of each of its runs.
struct ShownMessage {
    std::string caption;
    std::string text;
};
extern std::vector<ShownMessage> g_editor_messages;

// A message over `owner` (the message dialog), recorded. Never throws: a failure
// to show it is swallowed.
void tell(HWND owner, const std::string& caption, const std::string& text) noexcept;
// A question over `owner` ("No" focused), recorded; true on "Yes".
bool ask(HWND owner, const std::string& caption, const std::string& text);
