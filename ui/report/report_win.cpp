// The password report window: a button for the breach file, a line that names it,
// and the report's lines in a list. The list keeps no text: its rows are drawn from
// the window's own lines (paths and user names), which are wiped when it closes.

#include "ui/report/report.h"

#include <commdlg.h>

#include <string>
#include <vector>

#include "audit/report.h"
#include "crypto/wipe.h"
#include "ui/common/dpi.h"
#include "ui/common/error_texts.h"
#include "ui/common/file_dialog.h"
#include "ui/common/list_window.h"
#include "ui/common/owner_drawn_list.h"
#include "ui/common/text.h"
#include "ui/common/window_procedure.h"
#include "ui/dialogs/message_dialog.h"
#include "ui/editor/editor_window.h"

namespace {

constexpr wchar_t kClassName[] = L"password_report";
constexpr wchar_t kTitle[] = L"Password report";
constexpr char kCaption[] = "Password report";
constexpr wchar_t kBreachButton[] = L"&Breach file...";
constexpr wchar_t kNoBreachFile[] = L"No breach file (the SHA-1 file ordered by hash)";
constexpr char kReportNotShown[] = "The password report could not be shown.";
constexpr wchar_t kBreachFilter[] = L"Text files (*.txt)\0*.txt\0All files (*.*)\0*.*\0";
constexpr int kButtonWidth = 110;
constexpr int kButtonHeight = 26;
constexpr int kBreachButtonId = 1001;

struct ReportWindow {
    ListWindow parts;  // its label names the breach file
    HWND owner = nullptr;
    HWND button = nullptr;
    AuditReport report;
    std::vector<AuditLine> lines;
    bool chosen = false;  // a row was picked with Enter: show its entry
    std::vector<std::size_t> chosen_position;
    std::string chosen_path;
};

ReportWindow g_report;
// The breach file chosen in the window, for the rest of the run (UTF-8).
std::string g_breach_file;

void wipe_lines() noexcept
{
    for (AuditLine& line : g_report.lines) secure_wipe(&line.text[0], line.text.capacity());
    g_report.lines.clear();
}

// The report of the whole document, with the remembered breach file when there is
// one. A breach file that fails now is told and forgotten.
void build()
{
    wipe_lines();
    BreachCorpus corpus;
    std::string error;
    if (!g_breach_file.empty() && corpus.open(g_breach_file, error) != BreachStatus::kOk) {
        show_message(g_report.parts.window, kCaption, error);
        g_breach_file.clear();
    }
    if (build_audit_report(editor_document(), editor_document(), corpus.is_open() ? &corpus : nullptr, g_report.report,
                           error) != BreachStatus::kOk) {
        show_message(g_report.parts.window, kCaption, error);
        g_breach_file.clear();
        build_audit_report(editor_document(), editor_document(), nullptr, g_report.report, error);
    }
    g_report.lines = audit_lines(g_report.report);
    // A path loses letters in its middle, a sentence at its end.
    const LONG_PTR style = GetWindowLongPtrW(g_report.parts.label, GWL_STYLE) & ~static_cast<LONG_PTR>(SS_ELLIPSISMASK);
    SetWindowLongPtrW(g_report.parts.label, GWL_STYLE,
                      style | (g_breach_file.empty() ? SS_ENDELLIPSIS : SS_PATHELLIPSIS));
    set_window_text_w(g_report.parts.label,
                      g_breach_file.empty() ? kNoBreachFile : L"Breach file: " + to_utf16(g_breach_file));
    set_list_rows(g_report.parts.list, g_report.lines.size());
    // The first row that names an entry.
    for (std::size_t i = 0; i < g_report.lines.size(); ++i)
        if (g_report.lines[i].entry != AuditLine::kNoAuditEntry) {
            SendMessageW(g_report.parts.list, LB_SETCURSEL, i, 0);
            break;
        }
}

// The Open dialog for the breach file; the editor's inactivity lock waits for it.
void choose_breach_file()
{
    const std::wstring path =
        choose_file(g_report.parts.window, FileDialog::kOpen, kBreachFilter, L"Breach file (SHA-1, ordered by hash)");
    if (path.empty()) return;
    g_breach_file = to_narrow(path);
    build();
}

// Where `node` is in the document: the index of each node on the way down. False
// when it is no node of the document any more (only addresses are compared).
bool position_of(const TreeNode* node, std::vector<std::size_t>& position)
{
    const bool found = !for_each_below(editor_document(), [&](const TreeNode& n, std::size_t depth, std::size_t index) {
        position.resize(depth);
        position.push_back(index);
        return &n != node;
    });
    if (!found) position.clear();
    return found;
}

// Enter or a double click: a row that names an entry closes the window, and the
// editor shows the entry once the window has gone.
void choose_row()
{
    const std::size_t selected = selected_list_row(g_report.parts.list, g_report.lines.size());
    if (selected == g_report.lines.size()) return;
    const std::size_t entry = g_report.lines[selected].entry;
    if (entry == AuditLine::kNoAuditEntry) {
        MessageBeep(MB_ICONWARNING);
        return;
    }
    g_report.chosen = position_of(g_report.report.entries[entry].node, g_report.chosen_position);
    g_report.chosen_path = g_report.report.entries[entry].path;
    DestroyWindow(g_report.parts.window);
}

void draw_row(const DRAWITEMSTRUCT& item)
{
    if (!begin_list_row(item, g_report.lines.size())) return;
    const AuditLine& line = g_report.lines[item.itemID];
    const bool heading = line.entry == AuditLine::kNoAuditEntry;
    RECT text = item.rcItem;
    text.left += scaled(heading ? 4 : 12);
    text.right -= scaled(4);
    const SecretWString shown(to_utf16(line.text));
    draw_list_text(item.hDC, shown.c_str(), shown.size(), text);
}

// The button and the label beside it, the list below.
void on_size()
{
    const int margin = scaled(kListWindowMargin);
    const RECT band = place_list_window_list(g_report.parts, scaled(kButtonHeight), margin);
    const int button_width = scaled(kButtonWidth);
    const int height = band.bottom - band.top;
    MoveWindow(g_report.button, band.left, band.top, button_width, height, TRUE);
    const int label_left = band.left + button_width + margin;
    MoveWindow(g_report.parts.label, label_left, band.top, band.right - label_left, height, TRUE);
}

LRESULT on_command(WORD command, WORD notification, HWND control)
{
    if (control == g_report.parts.list && notification == LBN_DBLCLK)
        choose_row();
    else if (command == kBreachButtonId && notification == BN_CLICKED)
        choose_breach_file();
    else if (command == IDOK)
        choose_row();
    else if (command == IDCANCEL)
        DestroyWindow(g_report.parts.window);
    return 0;
}

LRESULT report_dispatch(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_SIZE: on_size(); return 0;
    case WM_COMMAND: return on_command(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return list_window_default(g_report.parts, window, message, wparam, lparam);
    }
}

LRESULT CALLBACK report_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    return dispatch_guarded([&] { return report_dispatch(window, message, wparam, lparam); });
}

constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;
constexpr ListWindowKind kReportKind = {kClassName, kTitle, report_proc, kStyle, 0, 520, 400, true, draw_row};

bool make_window(HWND owner)
{
    if (!create_list_window(g_report.parts, kReportKind, owner, nullptr, L"", SS_ENDELLIPSIS | SS_CENTERIMAGE))
        return false;
    g_report.button = CreateWindowExW(
        0, L"BUTTON", kBreachButton, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0, g_report.parts.window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kBreachButtonId)), GetModuleHandleW(nullptr), nullptr);
    if (!add_list_window_list(g_report.parts, WS_TABSTOP, {g_report.button})) return false;
    on_size();
    return true;
}

// Runs the window's loop until it is destroyed; the owner takes no input meanwhile.
void run(HWND owner)
{
    EnableWindow(owner, FALSE);
    ShowWindow(g_report.parts.window, SW_SHOW);
    build();
    SetFocus(g_report.parts.list);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(g_report.parts.window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

}  // namespace

void show_password_report(HWND editor)
{
    store_editor_text();
    g_report = ReportWindow();
    g_report.owner = editor;
    // A window that goes before its loop ran (a failure while it is made or filled):
    // the end of the loop it posted is taken back, and the editor takes input again.
    auto abandon = [editor]() noexcept {
        if (g_report.parts.window && IsWindow(g_report.parts.window)) {
            DestroyWindow(g_report.parts.window);
            MSG quit;
            PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        }
        wipe_lines();
        g_report = ReportWindow();
        EnableWindow(editor, TRUE);
    };
    try {
        if (!make_window(editor)) {
            abandon();
            MessageBeep(MB_ICONWARNING);
            editor_show_message(kErrorCaption, kReportNotShown);
            return;
        }
        run(editor);
    } catch (...) {
        abandon();
        throw;
    }
    const bool chosen = g_report.chosen;
    const std::vector<std::size_t> position = g_report.chosen_position;
    SecretString path(std::move(g_report.chosen_path));
    wipe_lines();
    g_report = ReportWindow();
    if (!IsWindow(editor)) {
        // The editor went meanwhile (a lock): the end of its loop was taken by this
        // window's, so its loop must end too.
        PostQuitMessage(0);
        return;
    }
    EnableWindow(editor, TRUE);
    SetForegroundWindow(editor);
    if (chosen) show_chosen_entry(path.str(), position);
}
