#pragma once
// Auto-type, as the editor reaches it: the hot key that types the entry matching
// the window in front, and the typing into the window that was in front before
// Glimkeep (Ctrl+Enter in the filter box, Edit > Type into previous window). The
// rules live in autotype/; this room holds the hot key, the picker and the typing.
// User-interface thread only; none of these throws.

#include <windows.h>

#include <string>

// The id of the hot key the editor window registers.
inline constexpr int kAutoTypeHotKeyId = 1;
inline constexpr char kAutoTypeCaption[] = "Auto-type";

// At the start of the program: the window in front, and from then on every window
// of another program that comes to the front, is remembered as the previous window
// (a WinEvent hook on foreground changes, kept for the life of the program).
void watch_foreground_windows() noexcept;

// Once the editor is open and shown: reads glimkeep.ini beside the vault, registers
// the hot key for `editor`, and tells (once per run of the program) what could not
// be read or registered, and how much a typing stopped by the last lock had typed.
void start_auto_type(HWND editor) noexcept;
// The editor window is being destroyed: typing stops, the picker closes, the hot key
// is released.
void end_auto_type() noexcept;
// A lock is coming: typing stops before the next key and the picker closes; the
// next start_auto_type tells how much was typed.
void stop_auto_type_for_lock() noexcept;

// WM_HOTKEY: the entry matching the window in front is typed into it, or the picker
// opens.
void on_auto_type_hotkey() noexcept;
// The node shown (its value, or the entry by its sequence) is typed into the window
// of another program that was last in front before Glimkeep.
void type_into_previous_window() noexcept;
// The key in force, as the Help window names it: "Ctrl+Alt+Insert", with a remark
// when another program holds it. Throws std::bad_alloc.
std::string auto_type_key_text();
// The editor put another document in place: the picker, whose rows stand for the
// old one, closes.
void auto_type_document_replaced() noexcept;
