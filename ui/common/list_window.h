#pragma once
// What the list windows (the auto-type picker, the password report, the earlier
// values) have in common: a top-level window kept out of screen captures, a label
// over an owner-drawn list that keeps no text (owner_drawn_list.h), and the message
// font of both. Each window adds its own controls, keys and rows, and draws the rows
// from its own memory. User-interface thread only; nothing here throws.

#include <windows.h>

#include <initializer_list>

#include "ui/common/gdi.h"

// The margin around the controls, and the height of a row, at 96 DPI.
inline constexpr int kListWindowMargin = 8;
inline constexpr int kListWindowRowHeight = 20;

// What a list window is, the same for every window of its class.
struct ListWindowKind {
    const wchar_t* class_name;
    const wchar_t* title;
    WNDPROC proc;
    DWORD style;
    DWORD ex_style;
    int width;  // the outer size at 96 DPI
    int height;
    bool app_icon;  // the program's icon in the caption
    void (*draw_row)(const DRAWITEMSTRUCT& item);  // one row of the list, from the window's memory
};

// The parts every list window has; all null until made, and after the window went.
struct ListWindow {
    const ListWindowKind* kind = nullptr;
    HWND window = nullptr;
    HWND label = nullptr;
    HWND list = nullptr;
    HWND focus = nullptr;  // the child that takes the focus when the window is activated
    Font font;
};

// Registers the class of `kind` and creates its window, owned by `owner` (may be null)
// and centred on the monitor of `centre_on` when that is given (else placed by the
// system); keeps it out of screen captures, and creates the font and the label (a
// static control of `label_text` with SS_NOPREFIX and `label_style`). False when any
// of it failed; what was made is in `parts`, for the caller to destroy.
bool create_list_window(ListWindow& parts, const ListWindowKind& kind, HWND owner, HWND centre_on,
                        const wchar_t* label_text, DWORD label_style) noexcept;

// Creates the list after the window's other children (create_owner_drawn_list with
// `list_style`), makes it the child that takes the focus, and gives the font to the
// label, the list and `others`. False when the list could not be made or one of
// `others` is null.
bool add_list_window_list(ListWindow& parts, DWORD list_style, std::initializer_list<HWND> others) noexcept;

// Lays the list out under a band of `band_height` pixels at the top of the window,
// `gap` pixels below it, out to the margins. Returns the band (inside the margins),
// where the window places its other controls.
RECT place_list_window_list(const ListWindow& parts, int band_height, int gap) noexcept;

// What a list window does with the messages its procedure leaves: rows of
// kListWindowRowHeight drawn by its kind's `draw_row`, the focus to `parts.focus` on
// activation, everything else to DefWindowProcW. `draw_row` may throw.
LRESULT list_window_default(const ListWindow& parts, HWND window, UINT message, WPARAM wparam, LPARAM lparam);
