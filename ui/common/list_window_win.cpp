#include "ui/common/list_window.h"

#include "resource.h"
#include "ui/common/capture_exclusion.h"
#include "ui/common/dpi.h"
#include "ui/common/owner_drawn_list.h"

namespace {

// The top-left corner of a window of `size` centred on the work area of the monitor
// of `target`; the system's choice when that cannot be told.
POINT centred_on(HWND target, SIZE size) noexcept
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!target || !GetMonitorInfoW(MonitorFromWindow(target, MONITOR_DEFAULTTOPRIMARY), &monitor))
        return {CW_USEDEFAULT, CW_USEDEFAULT};
    const RECT& work = monitor.rcWork;
    return {(work.left + work.right - size.cx) / 2, (work.top + work.bottom - size.cy) / 2};
}

}  // namespace

bool create_list_window(ListWindow& parts, const ListWindowKind& kind, HWND owner, HWND centre_on,
                        const wchar_t* label_text, DWORD label_style) noexcept
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    const HICON icon = kind.app_icon ? LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP)) : nullptr;
    if (!register_list_window_class(instance, kind.proc, kind.class_name, icon)) return false;
    // Set before the window exists: its list asks for the row height as it is made.
    parts.kind = &kind;
    const SIZE size = scaled_window_size(kind.width, kind.height, kind.style, false);
    const POINT at = centred_on(centre_on, size);
    parts.window = CreateWindowExW(kind.ex_style, kind.class_name, kind.title, kind.style, at.x, at.y, size.cx, size.cy,
                                   owner, nullptr, instance, nullptr);
    if (!parts.window) return false;
    exclude_from_screen_capture(parts.window);
    parts.font.reset(create_message_font(scaled(15)));
    parts.label = CreateWindowExW(0, L"STATIC", label_text, WS_CHILD | WS_VISIBLE | SS_NOPREFIX | label_style, 0, 0, 0,
                                  0, parts.window, nullptr, instance, nullptr);
    return parts.label != nullptr;
}

bool add_list_window_list(ListWindow& parts, DWORD list_style, std::initializer_list<HWND> others) noexcept
{
    parts.list = create_owner_drawn_list(parts.window, GetModuleHandleW(nullptr), list_style);
    if (!parts.list) return false;
    parts.focus = parts.list;
    for (HWND other : others)
        if (!other) return false;
    set_controls_font(parts.font.get(), {parts.label, parts.list});
    set_controls_font(parts.font.get(), others);
    return true;
}

RECT place_list_window_list(const ListWindow& parts, int band_height, int gap) noexcept
{
    RECT client = {};
    GetClientRect(parts.window, &client);
    const int margin = scaled(kListWindowMargin);
    const RECT band = {margin, margin, client.right - margin, margin + band_height};
    const int top = band.bottom + gap;
    MoveWindow(parts.list, margin, top, client.right - 2 * margin, client.bottom - top - margin, TRUE);
    return band;
}

LRESULT list_window_default(const ListWindow& parts, HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_MEASUREITEM: return measure_list_row(lparam, kListWindowRowHeight);
    case WM_DRAWITEM:
        if (parts.kind) parts.kind->draw_row(*reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
        return TRUE;
    case WM_ACTIVATE:
        if (LOWORD(wparam) != WA_INACTIVE && parts.focus) SetFocus(parts.focus);
        return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
    }
}
