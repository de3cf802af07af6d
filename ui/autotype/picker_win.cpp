// The picker: the target's title, a box for a path and the list of entries that
// match. The list control keeps no text: its rows are drawn from the picker's own
// rows (paths and user names), which are wiped when it closes.

#include "ui/autotype/picker.h"

#include <commctrl.h>

#include <new>
#include <vector>

#include "crypto/wipe.h"
#include "tree/fields.h"
#include "ui/autotype/auto_type.h"
#include "ui/autotype/typist.h"
#include "ui/common/box_memory.h"
#include "ui/common/dpi.h"
#include "ui/common/list_window.h"
#include "ui/common/owner_drawn_list.h"
#include "ui/common/text.h"
#include "ui/common/window_procedure.h"
#include "ui/editor/editor_window.h"

namespace {

constexpr wchar_t kClassName[] = L"auto_type_picker";
constexpr wchar_t kTitle[] = L"Glimkeep auto-type";
constexpr UINT_PTR kWatchTimer = 1;
constexpr UINT kWatchPeriod = 250;

struct Picker {
    ListWindow parts;  // its label names the target
    HWND path_box = nullptr;
    WNDPROC previous_box_proc = nullptr;
    HWND target = nullptr;
    std::string title;  // the target's when the picker opened
    unsigned long long edit_count = 0;  // the document's when the picker opened
    TitleMatches matches;
    std::vector<AutoTypeRow> all;  // every candidate, once a path is typed with no match left
    bool all_made = false;
    std::vector<const AutoTypeRow*> shown;
    bool closing = false;  // the box's text is being wiped: no list to fill
};

Picker g_picker;

SecretString typed_path()
{
    return SecretString(get_window_text(g_picker.path_box));
}

void add_matching(const std::vector<AutoTypeRow>& rows, const std::string& query)
{
    for (const AutoTypeRow& row : rows)
        if (path_starts_with(row.path.str(), query)) g_picker.shown.push_back(&row);
}

// The rows whose paths start with what is typed: the matches, else (when a path is
// typed) every candidate.
void fill_list()
{
    const SecretString query = typed_path();
    g_picker.shown.clear();
    add_matching(g_picker.matches.rows, query.str());
    if (g_picker.shown.empty() && !query.empty()) {
        if (!g_picker.all_made) {
            g_picker.all = all_candidates(editor_document());
            g_picker.all_made = true;
        }
        add_matching(g_picker.all, query.str());
    }
    set_list_rows(g_picker.parts.list, g_picker.shown.size());
}

// Tab: the path grows to what all rows listed share, or as the filter box completes.
void complete_path()
{
    const SecretString query = typed_path();
    SecretString answer;
    for (const AutoTypeRow* row : g_picker.shown) {
        SecretString shared(common_prefix_nocase(answer.empty() ? row->path.str() : answer.str(), row->path.str()));
        answer = std::move(shared);
    }
    if (answer.size() <= query.size()) answer = SecretString(editor_document().complete(query.str()));
    if (answer.size() <= query.size()) return;
    set_window_text_w(g_picker.path_box, SecretWString(to_utf16(answer.str())).str());
    SendMessageW(g_picker.path_box, EM_SETSEL, static_cast<WPARAM>(-1), -1);
}

void move_selection(int by)
{
    const LRESULT count = SendMessageW(g_picker.parts.list, LB_GETCOUNT, 0, 0);
    if (count <= 0) return;
    LRESULT selected = SendMessageW(g_picker.parts.list, LB_GETCURSEL, 0, 0) + by;
    if (selected < 0) selected = 0;
    if (selected >= count) selected = count - 1;
    SendMessageW(g_picker.parts.list, LB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

// Enter: the selected row's entry, or the node the typed path names, typed into the
// target once the picker has closed.
void choose()
{
    const std::size_t selected = selected_list_row(g_picker.parts.list, g_picker.shown.size());
    const TreeNode* node = nullptr;
    if (selected < g_picker.shown.size()) {
        const AutoTypeRow& row = *g_picker.shown[selected];
        node = node_at(editor_document(), row.position, row.path);
    } else {
        const SecretString query = typed_path();
        if (!query.empty()) node = editor_document().find(query.str());
    }
    if (!node) {
        MessageBeep(MB_ICONWARNING);
        return;
    }
    const HWND target = g_picker.target;
    const std::string title_now = window_title(target);
    if (title_now != g_picker.title) {
        const std::string text = picker_title_changed_text(g_picker.title, title_now);
        close_picker();
        MessageBeep(MB_ICONWARNING);
        editor_show_message(kAutoTypeCaption, text);
        return;
    }
    close_picker();
    type_node(target, *node, true);
}

// The rows stand for the document and the target as they were at the opening.
void watch()
{
    if (!IsWindow(g_picker.target) || editor_edit_count() != g_picker.edit_count) close_picker();
}

LRESULT box_dispatch(HWND box, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_GETDLGCODE: return DLGC_WANTALLKEYS;
    case WM_KEYDOWN:
        switch (wparam) {
        case VK_RETURN: choose(); return 0;
        case VK_ESCAPE: close_picker(); return 0;
        case VK_TAB: complete_path(); return 0;
        case VK_DOWN: move_selection(1); return 0;
        case VK_UP: move_selection(-1); return 0;
        case VK_NEXT: move_selection(8); return 0;
        case VK_PRIOR: move_selection(-8); return 0;
        default: break;
        }
        break;
    case WM_CHAR:
        if (wparam == L'\t' || wparam == L'\r' || wparam == L'\n' || wparam == 0x1B) return 0;
        break;
    default: break;
    }
    return CallWindowProcW(g_picker.previous_box_proc, box, message, wparam, lparam);
}

LRESULT CALLBACK box_proc(HWND box, UINT message, WPARAM wparam, LPARAM lparam)
{
    const WNDPROC previous = g_picker.previous_box_proc;
    return dispatch_guarded_or(
        [&] { return box_dispatch(box, message, wparam, lparam); },
        [&]() noexcept { return previous ? CallWindowProcW(previous, box, message, wparam, lparam) : 0; });
}

// One row: its path, and its user name in the second half. The texts live in wiped
// memory while they are drawn.
void draw_row(const DRAWITEMSTRUCT& item)
{
    if (!begin_list_row(item, g_picker.shown.size())) return;
    const AutoTypeRow& row = *g_picker.shown[item.itemID];
    RECT left = item.rcItem;
    left.left += scaled(4);
    const int half = (item.rcItem.left + item.rcItem.right) / 2;
    left.right = half - scaled(4);
    const SecretWString path(to_utf16(row.path.str()));
    draw_list_text(item.hDC, path.c_str(), path.size(), left);
    const TreeNode* node = node_at(editor_document(), row.position, row.path);
    const TreeNode* user = node ? first_field(*node, FieldKind::kUserName) : nullptr;
    if (user && user->single_line) {
        RECT right = item.rcItem;
        right.left = half + scaled(4);
        right.right -= scaled(4);
        const SecretWString name(to_utf16(user->content));
        draw_list_text(item.hDC, name.c_str(), name.size(), right);
    }
}

// The label over the path box, the list below.
void on_size()
{
    const int line = scaled(22);
    const int box_top = line + scaled(4);
    const int box_height = scaled(24);
    const RECT band = place_list_window_list(g_picker.parts, box_top + box_height, scaled(6));
    const int width = band.right - band.left;
    MoveWindow(g_picker.parts.label, band.left, band.top, width, line, TRUE);
    MoveWindow(g_picker.path_box, band.left, band.top + box_top, width, box_height, TRUE);
}

LRESULT picker_dispatch(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_SIZE: on_size(); return 0;
    case WM_COMMAND:
        if (reinterpret_cast<HWND>(lparam) == g_picker.path_box && HIWORD(wparam) == EN_CHANGE && !g_picker.closing)
            fill_list();
        if (reinterpret_cast<HWND>(lparam) == g_picker.parts.list && HIWORD(wparam) == LBN_DBLCLK) choose();
        return 0;
    case WM_TIMER:
        if (wparam == kWatchTimer) watch();
        return 0;
    case WM_CLOSE: close_picker(); return 0;
    default: return list_window_default(g_picker.parts, window, message, wparam, lparam);
    }
}

LRESULT CALLBACK picker_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    return dispatch_guarded([&] { return picker_dispatch(window, message, wparam, lparam); });
}

// Always on top, centred on the monitor of the target.
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
constexpr ListWindowKind kPickerKind = {kClassName, kTitle, picker_proc, kStyle, kExStyle, 460, 300, false, draw_row};

bool make_window(HWND target, const std::string& title)
{
    const std::wstring label =
        L"Type into: " + (title.empty() ? std::wstring(L"(a window without a title)") : to_utf16(title));
    if (!create_list_window(g_picker.parts, kPickerKind, nullptr, target, label.c_str(), SS_ENDELLIPSIS)) return false;
    g_picker.path_box = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0, 0,
                                        0, g_picker.parts.window, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!add_list_window_list(g_picker.parts, 0, {g_picker.path_box})) return false;
    g_picker.parts.focus = g_picker.path_box;
    SendMessageW(g_picker.path_box, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"Path..."));
    g_picker.previous_box_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(g_picker.path_box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(box_proc)));
    on_size();
    return SetTimer(g_picker.parts.window, kWatchTimer, kWatchPeriod, nullptr) != 0;
}

}  // namespace

bool open_picker(HWND target, const std::string& title, TitleMatches&& matches) noexcept
{
    if (g_picker.parts.window) return true;
    try {
        g_picker.target = target;
        g_picker.title = title;
        g_picker.edit_count = editor_edit_count();
        g_picker.matches = std::move(matches);
        if (!make_window(target, title)) {
            close_picker();
            return false;
        }
        fill_list();
        ShowWindow(g_picker.parts.window, SW_SHOW);
        SetForegroundWindow(g_picker.parts.window);
        SetFocus(g_picker.path_box);
        return true;
    } catch (...) {
        close_picker();
        return false;
    }
}

void show_picker() noexcept
{
    if (g_picker.parts.window) SetForegroundWindow(g_picker.parts.window);
}

bool picker_open() noexcept
{
    return g_picker.parts.window != nullptr;
}

void close_picker() noexcept
{
    g_picker.closing = true;
    if (g_picker.path_box) wipe_box_text(g_picker.path_box);
    if (g_picker.parts.window) DestroyWindow(g_picker.parts.window);
    g_picker = Picker();  // the rows' paths are wiped as they go
}
