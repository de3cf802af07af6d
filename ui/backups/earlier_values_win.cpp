// The earlier values of the node shown: a window of its own, owned by the editor,
// with a list box that keeps no text. Its rows (line names and values) live in the
// window's own wiped memory and are drawn from there; the values of masked lines
// show as dots except in the selected row.

#include "ui/backups/backups_windows.h"

#include <cstdint>
#include <string>
#include <vector>

#include "backups/backup_files.h"
#include "backups/history.h"
#include "backups/key_cache.h"
#include "crypto/wipe.h"
#include "tree/fields.h"
#include "ui/common/clipboard.h"
#include "ui/common/dpi.h"
#include "ui/common/list_window.h"
#include "ui/common/owner_drawn_list.h"
#include "ui/common/text.h"
#include "ui/common/window_procedure.h"
#include "ui/editor/editor_window.h"
#include "ui/passwords/quick_unlock.h"

namespace {

constexpr wchar_t kTitle[] = L"Earlier values";
constexpr wchar_t kDots[] = L"\u2022\u2022\u2022\u2022\u2022\u2022";

struct Row {
    SecretString line;  // the line's name
    std::string dates;  // written, replaced or current
    SecretString value;
    bool masked = false;
};

struct EarlierValues {
    ListWindow parts;  // its label says which backups were read
    std::vector<Row> rows;
    bool entry = false;  // the node is an entry: the rows name their lines
};

EarlierValues g_values;

// The rows of `report`: each line's values, oldest first, line after line.
std::vector<Row> rows_of(const HistoryReport& report)
{
    std::vector<Row> rows;
    for (const LineHistory& line : report.lines) {
        for (const HeldValue& held : line.values) {
            Row row;
            row.line = SecretString(line.line->name.data(), line.line->name.size());
            row.dates = held_value_dates(held);
            row.value = SecretString(held.value.data(), held.value.size());
            row.masked = is_masked_line(line.line->name);
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

// What the label says above the rows: the backups read and those that were not.
std::string label_text(const HistoryReport& report, bool any_rows)
{
    std::string text =
        any_rows ? "Oldest first. Enter copies the selected value." : "The node shown has no line with a value.";
    text += "\r\n" + with_thousands(report.read) + (report.read == 1 ? " backup read. " : " backups read. ") +
        backups_not_read_text(report.other_passwords, report.damaged, " ");
    return text;
}

// The history of the node shown, over the backups beside the vault.
HistoryReport read_node_history(bool& entry)
{
    const ShownDocument shown = editor_shown_document();
    HistoryReport report;
    if (!shown.node || !shown.document) return report;
    entry = !shown.node->children.empty();
    std::vector<BackupFile> backups;
    list_backups(editor_vault_path(), backups);  // a folder that cannot be listed has none
    const SecretString& password = editor_vault_password();
    KeyCache cache(password.data(), static_cast<std::uint32_t>(password.size()));
    const HCURSOR previous = SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
    report = read_history(backups, *shown.document, lines_of(*shown.node), {&cache}, false);
    SetCursor(previous);
    return report;
}

const Row* selected_row()
{
    const std::size_t selected = selected_list_row(g_values.parts.list, g_values.rows.size());
    return selected < g_values.rows.size() ? &g_values.rows[selected] : nullptr;
}

// Enter: the selected value to the clipboard, as Enter in the filter box copies.
void copy_selected()
{
    const Row* row = selected_row();
    if (!row) {
        MessageBeep(MB_ICONWARNING);
        return;
    }
    copy_text_to_clipboard(g_values.parts.window, SecretWString(to_utf16(row->value.str())));
}

// One row: the line's name (for an entry), the dates, the value. Drawn whole at every
// change, since the selection decides whether the value shows.
void draw_row(const DRAWITEMSTRUCT& item)
{
    if (!begin_list_row(item, g_values.rows.size())) return;
    const Row& row = g_values.rows[item.itemID];
    const bool selected = list_row_selected(item);
    const int gap = scaled(4);
    const int width = item.rcItem.right - item.rcItem.left;
    RECT area = item.rcItem;
    area.left += gap;
    if (g_values.entry) {
        area.right = item.rcItem.left + width * 14 / 100 - gap;
        const SecretWString name(to_utf16(row.line.str()));
        draw_list_text(item.hDC, name.c_str(), name.size(), area);
        area.left = area.right + 2 * gap;
    }
    area.right = item.rcItem.left + width * 74 / 100 - gap;
    const std::wstring dates = to_utf16(row.dates);
    draw_list_text(item.hDC, dates.c_str(), dates.size(), area);
    area.left = area.right + 2 * gap;
    area.right = item.rcItem.right - gap;
    if (row.masked && !selected) {
        draw_list_text(item.hDC, kDots, sizeof kDots / sizeof kDots[0] - 1, area);
        return;
    }
    const SecretWString value(to_utf16(row.value.str()));
    draw_list_text(item.hDC, value.c_str(), value.size(), area);
}

// The label's two lines, the list below.
void on_size()
{
    const RECT band = place_list_window_list(g_values.parts, scaled(36), scaled(4));
    MoveWindow(g_values.parts.label, band.left, band.top, band.right - band.left, band.bottom - band.top, TRUE);
}

// Keys in the list: Enter copies, Escape closes; Up or Down with no row selected
// selects the first; the others move the selection.
LRESULT on_list_key(WORD key)
{
    switch (key) {
    case VK_UP:
    case VK_DOWN:
        if (selected_row() || g_values.rows.empty()) return -1;
        SendMessageW(g_values.parts.list, LB_SETCURSEL, 0, 0);
        return -2;
    case VK_RETURN: copy_selected(); return -2;
    case VK_ESCAPE: PostMessageW(g_values.parts.window, WM_CLOSE, 0, 0); return -2;
    default: return -1;
    }
}

// The font stays until close_earlier_values: the children still use it.
void on_destroy()
{
    g_values.parts.window = nullptr;
    g_values.parts.label = nullptr;
    g_values.parts.list = nullptr;
    g_values.parts.focus = nullptr;
    g_values.rows.clear();  // each value wiped as it goes
}

LRESULT dispatch(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_SIZE: on_size(); return 0;
    case WM_VKEYTOITEM: return on_list_key(LOWORD(wparam));
    case WM_COMMAND:
        if (reinterpret_cast<HWND>(lparam) == g_values.parts.list && HIWORD(wparam) == LBN_DBLCLK) copy_selected();
        return 0;
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_DESTROY: on_destroy(); return 0;
    default: return list_window_default(g_values.parts, window, message, wparam, lparam);
    }
}

LRESULT CALLBACK earlier_values_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    return dispatch_guarded([&] { return dispatch(window, message, wparam, lparam); },
                            message == WM_VKEYTOITEM ? -2 : 0);
}

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
// The program's icon in the caption, as the editor and the report have.
constexpr ListWindowKind kEarlierValuesKind = {
    kEarlierValuesClass, kTitle, earlier_values_proc, kStyle, 0, 780, 320, true, draw_row};

bool make_window(HWND owner, const std::string& label)
{
    if (!create_list_window(g_values.parts, kEarlierValuesKind, owner, nullptr, to_utf16(label).c_str(), 0))
        return false;
    if (!add_list_window_list(g_values.parts, LBS_WANTKEYBOARDINPUT, {})) return false;
    // No row selected: every masked value shows as dots until the user picks a row.
    set_list_rows(g_values.parts.list, g_values.rows.size(), false);
    on_size();
    return true;
}

}  // namespace

void open_earlier_values()
{
    close_earlier_values();
    const HWND owner = editor_main_window();
    if (!owner) return;
    // The backups open under the master password, which a quick unlock does not hold.
    if (!ask_master_password_after_quick_unlock(owner)) return;
    bool entry = false;
    const HistoryReport report = read_node_history(entry);
    g_values.entry = entry;
    g_values.rows = rows_of(report);
    if (!make_window(owner, label_text(report, !g_values.rows.empty()))) {
        close_earlier_values();
        editor_show_message(kBackupsCaption, "The list of earlier values could not be opened.");
        return;
    }
    ShowWindow(g_values.parts.window, SW_SHOW);
    SetForegroundWindow(g_values.parts.window);
    SetFocus(g_values.parts.list);
}

void close_earlier_values() noexcept
{
    if (g_values.parts.window) DestroyWindow(g_values.parts.window);
    g_values.rows.clear();
    g_values.parts.font.reset();
    g_values.entry = false;
}

HWND earlier_values_window() noexcept
{
    return g_values.parts.window;
}

std::size_t earlier_values_rows() noexcept
{
    return g_values.rows.size();
}
