#include "ui/common/owner_drawn_list.h"

#include "ui/common/dpi.h"

bool register_list_window_class(HINSTANCE instance, WNDPROC proc, const wchar_t* name, HICON icon) noexcept
{
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    if (GetClassInfoExW(instance, name, &window_class)) return true;
    window_class.lpfnWndProc = proc;
    window_class.hInstance = instance;
    window_class.hIcon = icon;
    window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    window_class.lpszClassName = name;
    return RegisterClassExW(&window_class) != 0;
}

HWND create_owner_drawn_list(HWND parent, HINSTANCE instance, DWORD extra_style) noexcept
{
    const DWORD style =
        WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY | LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT | extra_style;
    return CreateWindowExW(WS_EX_CLIENTEDGE, L"LISTBOX", L"", style, 0, 0, 0, 0, parent, nullptr, instance, nullptr);
}

void set_list_rows(HWND list, std::size_t count, bool select_first) noexcept
{
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (std::size_t i = 0; i < count; ++i) SendMessageW(list, LB_ADDSTRING, 0, static_cast<LPARAM>(i));
    SendMessageW(list, LB_SETCURSEL, count == 0 || !select_first ? static_cast<WPARAM>(-1) : 0, 0);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

std::size_t selected_list_row(HWND list, std::size_t count) noexcept
{
    const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (selected < 0 || static_cast<std::size_t>(selected) >= count) return count;
    return static_cast<std::size_t>(selected);
}

LRESULT measure_list_row(LPARAM lparam, int height) noexcept
{
    reinterpret_cast<MEASUREITEMSTRUCT*>(lparam)->itemHeight = static_cast<UINT>(scaled(height));
    return TRUE;
}

bool begin_list_row(const DRAWITEMSTRUCT& item, std::size_t count) noexcept
{
    if (item.itemID == static_cast<UINT>(-1) || item.itemID >= count) return false;
    const bool selected = list_row_selected(item);
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    return true;
}

void draw_list_text(HDC dc, const wchar_t* text, std::size_t length, RECT area) noexcept
{
    DrawTextW(dc, text, static_cast<int>(length), &area, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
}

void set_controls_font(HFONT font, std::initializer_list<HWND> controls) noexcept
{
    for (HWND control : controls) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}
