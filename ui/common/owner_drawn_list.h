#pragma once
// A list box that keeps no text: owner-drawn without LBS_HASSTRINGS, it holds only
// each row's number, and the window that owns it draws the rows from its own memory
// (wiped when it goes). Also the class of the small top-level windows that hold one.
// Nothing here throws, so all of it may be called inside a window procedure.

#include <windows.h>

#include <cstddef>
#include <initializer_list>

// Registers a top-level window class of `name` for `proc`, with the arrow cursor, the
// dialog face as background and `icon` (none when null). True when the class is there
// (now or before).
bool register_list_window_class(HINSTANCE instance, WNDPROC proc, const wchar_t* name, HICON icon = nullptr) noexcept;

// Creates the list box as a child of `parent`, with the scroll bar, notifications and
// the fixed row height of an owner-drawn list, plus `extra_style`. Null on failure.
HWND create_owner_drawn_list(HWND parent, HINSTANCE instance, DWORD extra_style = 0) noexcept;

// Replaces the list's rows by the numbers 0 to `count` - 1 and selects the first row
// (none when there are none, or with `select_first` false). The list is redrawn once,
// at the end.
void set_list_rows(HWND list, std::size_t count, bool select_first = true) noexcept;

// The number of the selected row, or `count` when no row below `count` is selected.
std::size_t selected_list_row(HWND list, std::size_t count) noexcept;

// The answer to WM_MEASUREITEM: every row `height` pixels at 96 DPI, scaled.
LRESULT measure_list_row(LPARAM lparam, int height) noexcept;

// Paints the background of the row in `item` in the colours of its state (selected or
// not) and prepares the text colour. False, painting nothing, when `item` names no
// row below `count`.
bool begin_list_row(const DRAWITEMSTRUCT& item, std::size_t count) noexcept;
inline bool list_row_selected(const DRAWITEMSTRUCT& item) noexcept
{
    return (item.itemState & ODS_SELECTED) != 0;
}

// Draws `length` characters of `text` on one line in `area`, cut with an ellipsis.
void draw_list_text(HDC dc, const wchar_t* text, std::size_t length, RECT area) noexcept;

// Gives every control in `controls` the font `font`.
void set_controls_font(HFONT font, std::initializer_list<HWND> controls) noexcept;
