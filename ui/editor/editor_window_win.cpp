// The editor window: a filter box over one big editor box, showing one node of the
// document at a time.

#include "ui/editor/editor_state.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdint>
#include <new>

#include "ui/window_entry_points.h"
#include "crypto/wipe.h"
#include "db/database.h"
#include "glimkeep_version.h"
#include "resource.h"
#include "ui/changed_elsewhere/changed_elsewhere.h"
#include "ui/common/vault_path.h"
#include "ui/editor/absence_lock.h"
#include "ui/common/capture_exclusion.h"
#include "ui/common/inactivity.h"
#include "ui/common/box_memory.h"
#include "ui/common/clipboard.h"
#include "ui/common/dpi.h"
#include "ui/editor/csv_commands.h"
#include "ui/editor/editor_commands.h"
#include "ui/common/error_texts.h"
#include "ui/dialogs/message_dialog.h"
#include "ui/common/text.h"
#include "ui/passwords/quick_unlock.h"
#include "ui/passwords/vault_upgrade.h"
#include "ui/report/report.h"
#include "ui/autotype/auto_type.h"
#include "ui/backups/backups_windows.h"
#include "vault/session.h"

EditorState g_editor;
Tree g_tree_root;

namespace {

constexpr wchar_t kClassName[] = L"editor";
// The product's web page, opened by "Visit website".
constexpr wchar_t kWebsiteAddress[] = L"https://glimkeep.example.org/";

constexpr int kStripHeight = 33;

// Posted when the window becomes active: the check for a vault changed elsewhere runs
// once the activation is done.
constexpr UINT kCheckVaultMessage = WM_APP + 40;

// The high word of WM_COMMAND's wparam for a command from an accelerator (the menu
// sends 0; a control sends its notification code and its handle in lparam).
constexpr WORD kFromAccelerator = 1;

constexpr char kHelpTitle[] = "Glimkeep " GLIMKEEP_VERSION;
constexpr char kHelpText[] = "Encryption: AES256 with SHA3-HMAC\r\n"
                             "(vault format 2.0: PBKDF2 with 600,000 iterations, AES256 in counter mode)\r\n"
                             "Text structured by indentation can be accessed using the filter.\r\n"
                             "\r\n"
                             "Filter commands\r\n"
                             "\tTab: Autocomplete\r\n"
                             "\tSpace: Access deeper level\r\n"
                             "\tEnter: Copy editor content to clipboard\r\n"
                             "\tCtrl+Enter: Type it into the window in front before Glimkeep (no clipboard)\r\n"
                             "Structuring characters\r\n"
                             "\tTab: Multiline content like this:\r\n"
                             "\t\tA\r\n"
                             "\t\t\tText for A\r\n"
                             "\t\t\tMore in A\r\n"
                             "\t':': Single-line content like this:\r\n"
                             "\t\tA: Text line for A\r\n"
                             "Keys\r\n"
                             "\tCtrl+L: Lock now (glimkeep.ini's [lock] quick-unlock=last 4 lets the last\r\n"
                             "\t\tcharacters of the master password open it again for a few hours)\r\n"
                             "\tCtrl+G: Insert a generated password\r\n"
                             "\tCtrl+Shift+G: Insert a generated passphrase of six words\r\n"
                             "\tCtrl+F: Find, F3: Find next\r\n"
                             "\tCtrl+T: Copy the one-time code of the entry shown, from a line like\r\n"
                             "\t\totp: JBSW Y3DP EHPK 3PXP  or  totp: otpauth://totp/...\r\n"
                             "\tCtrl+Shift+H: Earlier values of the entry shown, read from the backups\r\n"
                             "\t\t(Enter copies the selected one)\r\n"
                             "\t{KEY}, in any program: Type the matching entry's user name and password\r\n"
                             "\t\tinto the window in front (glimkeep.ini beside the vault can change the key)\r\n"
                             "A copy leaves the clipboard after 30 seconds, and when the editor locks or closes, "
                             "unless something else was copied since.\r\n"
                             "\r\n"
                             "File menu\r\n"
                             "\tChange master password: saves the vault at once with a new password\r\n"
                             "\t\t(the backups keep the old one)\r\n"
                             "\tUpgrade vault format: saves a vault of the old format 1.0 as 2.0\r\n"
                             "\tMerge from vault: merges another vault file into the document\r\n"
                             "\tBackups: their count and size; thins them out when you say Yes\r\n"
                             "\tPassword report: reused, weak and breached passwords, by entry\r\n"
                             "A save first merges what another program wrote into the vault meanwhile.\r\n"
                             "\r\n"
                             "Icons drawn for Glimkeep by its authors.\r\n";

constexpr char kOldFormatCaption[] = "Old vault format";
constexpr char kOldFormatText[] =
    "This vault uses the old format 1.0, whose encryption can be read without the password "
    "by anyone who has a copy of the file or of a backup.\r\n\r\n"
    "To protect it, choose File > Upgrade vault format..., then delete the old backup files "
    "(passwords.gkv.*.bak) if they matter.";

// The help, naming the auto-type key in force.
std::string help_text()
{
    std::string text = kHelpText;
    const std::size_t at = text.find("{KEY}");
    if (at != std::string::npos) text.replace(at, 5, auto_type_key_text());
    return text;
}

// The old-format warning is shown once per run of the program, not at every unlock.
bool g_old_format_warned = false;

// The notice of a lock that could not save; never a second one over the first.
void show_not_locked_notice()
{
    static bool shown = false;
    if (shown || !g_editor.changed) return;
    shown = true;
    MessageBeep(MB_ICONWARNING);
    editor_show_message(kNotLockedCaption, kNotLockedText);
    shown = false;
}

// Asks for a new password and saves with it at once; a failed save keeps the old one.
void change_master_password(HWND window)
{
    Database* db = g_editor.database;
    if (!ask_master_password_after_quick_unlock(window)) return;
    if (!db || !db->has_password()) return;
    // The window runs its own message loop: the inactivity lock must not close the
    // editor underneath it.
    const InactivityPause paused;
    // What another program wrote is merged first, under the password it was written with.
    store_editor_text();
    if (!fold_in_changes_elsewhere(true)) return;
    SecretString password;
    if (run_change_password_window(GetModuleHandleW(nullptr), window, password)) {
        if (save_document(SaveKind::kNewPassword, &password)) {
            // The session took the new password; quick unlock waits for the next full unlock.
            end_quick_unlock(nullptr);
        } else
            editor_show_message(kPasswordNotChangedCaption, kPasswordNotChanged);
    }
}

// The menu bar: File, Edit, Help.
void create_menus(HWND window)
{
    // The bar and its menus belong to the window, which destroys them with it.
    const HMENU menu_bar = CreateMenu();
    g_editor.file_menu = CreatePopupMenu();
    AppendMenuW(g_editor.file_menu, MF_STRING, IDM_SAVE, L"&Save");
    AppendMenuW(g_editor.file_menu, MF_STRING, IDM_LOCK, L"&Lock");
    AppendMenuW(g_editor.file_menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(g_editor.file_menu, MF_STRING, IDM_CHANGE_PASSWORD, L"&Change master password...");
    AppendMenuW(g_editor.file_menu, MF_STRING, IDM_UPGRADE, L"&Upgrade vault format...");
    AppendMenuW(g_editor.file_menu, MF_STRING, IDM_MERGE_FROM_VAULT, L"&Merge from vault...");
    AppendMenuW(g_editor.file_menu, MF_STRING, IDM_BACKUPS, L"&Backups...");
    AppendMenuW(g_editor.file_menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(g_editor.file_menu, MF_STRING, IDM_IMPORT_CSV, L"&Import from CSV...");
    AppendMenuW(g_editor.file_menu, MF_STRING, IDM_EXPORT_CSV, L"&Export to CSV...");
    AppendMenuW(g_editor.file_menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(g_editor.file_menu, MF_STRING, IDM_PASSWORD_REPORT, L"Password &report...");
    AppendMenuW(g_editor.file_menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(g_editor.file_menu, MF_STRING, IDM_EXIT, L"E&xit");
    update_upgrade_item();
    AppendMenuW(menu_bar, MF_POPUP, reinterpret_cast<UINT_PTR>(g_editor.file_menu), L"&File");
    const HMENU edit_menu = CreatePopupMenu();
    AppendMenuW(edit_menu, MF_STRING, IDM_GENERATE, L"Insert &generated password");
    AppendMenuW(edit_menu, MF_STRING, IDM_GENERATE_PASSPHRASE, L"Insert generated &passphrase");
    AppendMenuW(edit_menu, MF_STRING, IDM_FIND, L"&Find...");
    AppendMenuW(edit_menu, MF_STRING, IDM_ONE_TIME_CODE, L"Copy one-time &code");
    AppendMenuW(edit_menu, MF_STRING, IDM_TYPE_PREVIOUS, L"&Type into previous window");
    AppendMenuW(edit_menu, MF_STRING, IDM_EARLIER_VALUES, L"Earlier &values...");
    AppendMenuW(menu_bar, MF_POPUP, reinterpret_cast<UINT_PTR>(edit_menu), L"&Edit");
    const HMENU help_menu = CreatePopupMenu();
    AppendMenuW(help_menu, MF_STRING, IDM_HELP, L"&Information and usage");
    AppendMenuW(help_menu, MF_STRING, IDM_WEBSITE, L"Visit &website");
    AppendMenuW(menu_bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help_menu), L"&Help");
    SetMenu(window, menu_bar);
}

bool on_create(HWND window)
{
    g_editor.main_window = window;
    g_editor.strip_brush.reset(CreateSolidBrush(RGB(240, 240, 240)));
    g_editor.text_font.reset(CreateFontW(scaled(15), scaled(8), 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, PROOF_QUALITY,
                                         FIXED_PITCH | FF_MODERN, L"Monospace"));
    create_menus(window);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    g_editor.filter_box = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0,
                                          0, 0, window, nullptr, instance, nullptr);
    g_editor.editor_box =
        CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                        WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_NOHIDESEL | ES_AUTOVSCROLL | ES_MULTILINE,
                        0, 0, 0, 0, window, nullptr, instance, nullptr);
    if (!g_editor.filter_box || !g_editor.editor_box) return false;

    // The editor box takes as much as the vault holds, not just the default 32767.
    SendMessageW(g_editor.editor_box, EM_SETLIMITTEXT, 0, 0);
    SendMessageW(g_editor.filter_box, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"Filter..."));
    SendMessageW(g_editor.filter_box, WM_SETFONT, reinterpret_cast<WPARAM>(g_editor.text_font.get()), TRUE);
    SendMessageW(g_editor.editor_box, WM_SETFONT, reinterpret_cast<WPARAM>(g_editor.text_font.get()), TRUE);

    g_editor.previous_filter_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(g_editor.filter_box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(filter_box_proc)));
    g_editor.previous_editor_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(g_editor.editor_box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(editor_box_proc)));

    start_inactivity_timer(window, &g_editor.options.inactivity_interval);
    start_clipboard_clearing(window, &g_editor.options.clipboard_clear_interval);
    start_session_notifications(window);
    exclude_from_screen_capture(window);
    // An editor that does not hold the whole document must never open: the first
    // store would replace the document with what the box holds.
    if (!show_node(g_editor.node_shown)) return false;
    SetFocus(g_editor.filter_box);
    return true;
}

void on_size(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    const int strip = scaled(kStripHeight);
    MoveWindow(g_editor.filter_box, scaled(5), scaled(5), client.right - scaled(10), scaled(23), TRUE);
    MoveWindow(g_editor.editor_box, 0, strip, client.right, client.bottom - strip, TRUE);
}

void on_paint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    RECT strip = {0, 0, client.right, scaled(kStripHeight)};
    FillRect(dc, &strip, g_editor.strip_brush.get());
    EndPaint(window, &paint);
}

// Every change of the filter text: store the edits, then show the node it names.
// A failure while storing leaves the editor box untouched, so nothing typed is lost.
void navigate()
{
    store_editor_text();
    TreeNode* node = g_tree_root.find(SecretString(get_window_text(g_editor.filter_box)).str());
    // The node shown changes only once the editor box really holds the node's text,
    // so that the next store can never write one node's text into another.
    if (node) {
        if (show_node(node)) {
            g_editor.node_shown = node;
        } else {
            show_node(g_editor.node_shown);
            report_command_failure(kEntryNotShown);
        }
    }
    restart_inactivity_timer();
}

}  // namespace

void show_chosen_entry(const std::string& path, const std::vector<std::size_t>& position)
{
    auto node_at = [&position]() -> TreeNode* {
        TreeNode* node = &g_tree_root;
        for (std::size_t index : position) {
            if (index >= node->children.size()) return nullptr;
            node = &node->children[index];
        }
        return node;
    };
    set_window_text(g_editor.filter_box, path);  // navigates to what the path names
    SendMessageW(g_editor.filter_box, EM_SETSEL, static_cast<WPARAM>(-1), -1);
    SetFocus(g_editor.filter_box);
    if (!node_at() || node_at() == g_editor.node_shown) return;
    store_editor_text();
    TreeNode* node = node_at();
    if (!node) return;
    if (show_node(node)) {
        g_editor.node_shown = node;
    } else {
        show_node(g_editor.node_shown);
        report_command_failure(kEntryNotShown);
    }
}

namespace {

void on_editor_update()
{
    apply_pending_indent();
    mark_changed();
    restart_inactivity_timer();
}

// A menu item or an accelerator.
void run_command(HWND window, WORD command)
{
    switch (command) {
    case IDM_SAVE:
        if (g_editor.changed) save_database();
        break;
    case IDM_EXIT: PostMessageW(window, WM_CLOSE, 0, 0); break;
    case IDM_HELP: editor_show_message(kHelpTitle, help_text()); break;
    case IDM_CHANGE_PASSWORD: change_master_password(window); break;
    case IDM_UPGRADE:
        upgrade_vault(window);
        update_upgrade_item();
        break;
    case IDM_IMPORT_CSV: import_csv_file(window); break;
    case IDM_EXPORT_CSV: export_csv_file(window); break;
    case IDM_MERGE_FROM_VAULT: merge_from_vault_file(window); break;
    case IDM_PASSWORD_REPORT: show_password_report(window); break;
    case IDM_WEBSITE: ShellExecuteW(nullptr, L"open", kWebsiteAddress, nullptr, nullptr, SW_SHOWNORMAL); break;
    case IDA_SWITCH_FOCUS:
        SetFocus(GetFocus() == g_editor.editor_box ? g_editor.filter_box : g_editor.editor_box);
        break;
    case IDA_FOCUS_FILTER: SetFocus(g_editor.filter_box); break;
    case IDA_FOCUS_EDITOR: SetFocus(g_editor.editor_box); break;
    case IDM_LOCK: lock_now(window); break;
    case IDM_GENERATE: insert_generated_password(); break;
    case IDM_GENERATE_PASSPHRASE: insert_generated_passphrase(); break;
    case IDM_FIND: open_find_dialog(window); break;
    case IDM_NOT_LOCKED_NOTICE: show_not_locked_notice(); break;
    case IDA_FIND_NEXT: find_next(); break;
    case IDM_ONE_TIME_CODE: copy_one_time_code(); break;
    case IDM_TYPE_PREVIOUS: type_into_previous_window(); break;
    case IDM_BACKUPS: run_backups_command(); break;
    case IDM_EARLIER_VALUES: open_earlier_values(); break;
    default: break;
    }
}

// A notification from one of the two boxes.
void on_box_notification(HWND control, WORD notification)
{
    if (notification != EN_UPDATE) return;
    if (control == g_editor.filter_box) {
        navigate();
    } else if (control == g_editor.editor_box && !g_editor.setting_editor_text) {
        on_editor_update();
    }
}

// WM_COMMAND: a control's notification, or a command from the menu or an accelerator.
void on_command(HWND window, WORD command, WORD source, HWND control)
{
    if (control) {
        on_box_notification(control, source);
        return;
    }
    // An accelerator typed with Alt held (Alt+1, Alt+2): the release of that Alt must
    // not go on to open the menu bar, as Wine's default handling would.
    if (source == kFromAccelerator && GetKeyState(VK_MENU) < 0) g_editor.swallow_alt_release = true;
    run_command(window, command);
}

void on_timer(HWND window, WPARAM id)
{
    if (id == IDT_CLIPBOARD) clear_clipboard_if_ours();
    if (id != IDT_INACTIVITY) return;
    lock_for_absence(window);
}

// The session locks (another user, Win+L) or the machine is about to suspend: the
// user has left, as after the inactivity interval.
void on_session_change(HWND window, WPARAM event)
{
    if (event == WTS_SESSION_LOCK) lock_for_absence(window);
}

LRESULT on_power_broadcast(HWND window, WPARAM event)
{
    if (event == PBT_APMSUSPEND) {
        end_quick_unlock_at_suspend();
        lock_for_absence(window);
    }
    return TRUE;
}

// True while on_close asks whether to discard: a second close meanwhile (posted by
// another program or the system) waits for that answer instead of asking again.
bool g_asking_to_close = false;

void on_close(HWND window)
{
    if (g_asking_to_close) return;
    // The lock with unsaved edits that sit in a conflicted copy asks nothing.
    if (g_editor.changed && !(g_editor.timed_out && unsaved_document_in_copy())) {
        // A close that needs the user's consent is never the lock, even when the
        // timer asked for it before the last edit arrived.
        g_editor.timed_out = false;
        MessageBeep(MB_ICONWARNING);
        bool discard = false;
        g_asking_to_close = true;
        try {
            discard =
                ask(window, "Discard changes?", "There are currently unsaved changes. Do you really want to exit?");
        } catch (...) {
            discard = false;
        }
        g_asking_to_close = false;
        if (!discard) return;
    }
    stop_inactivity_timer();
    wipe_box_buffer(g_editor.editor_box);
    DestroyWindow(g_editor.editor_box);
    // Nothing may read the destroyed box as an empty document from here on.
    g_editor.editor_box = nullptr;
    DestroyWindow(window);
}

// Windows asks whether the session may end: not while edits are unsaved. The reason
// shows in the system's list of programs that hold the shutdown up.
BOOL on_query_end_session(HWND window)
{
    if (!g_editor.changed) return TRUE;
    ShutdownBlockReasonCreate(window, L"Glimkeep has unsaved changes");
    return FALSE;
}

// The session ends (or not, when `ending` is false). Unsaved edits are saved as Ctrl+S
// would, without a message, since nobody is there to answer; then the editor closes
// as on Exit. The process may be ended as soon as this returns.
void on_end_session(HWND window, bool ending)
{
    ShutdownBlockReasonDestroy(window);
    if (!ending) return;
    end_quick_unlock(nullptr);
    if (g_editor.changed) save_database_quietly();
    if (g_editor.changed) return;  // the save failed: nothing more can be done for the edits
    stop_inactivity_timer();
    wipe_box_buffer(g_editor.editor_box);
    DestroyWindow(g_editor.editor_box);
    g_editor.editor_box = nullptr;
    DestroyWindow(window);
}

void on_destroy(HWND window)
{
    end_inactivity_timer();
    end_auto_type();
    end_session_notifications(window);
    end_editor_commands();
    g_editor.strip_brush.reset();
    g_editor.text_font.reset();
    PostQuitMessage(0);
}

// Overwrites every name and content in the tree, then empties it: the document must
// not stay readable in memory while the password is asked again.
// The editor's message loop, with its accelerators and the Find dialog's keys, until
// the window is destroyed.
void run_message_loop(HINSTANCE instance, HWND window)
{
    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDR_ACCELERATORS));
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if ((message.message == WM_SYSKEYUP || message.message == WM_KEYUP) && message.wParam == VK_MENU &&
            g_editor.swallow_alt_release) {
            g_editor.swallow_alt_release = false;
            continue;
        }
        if (find_dialog() && IsDialogMessageW(find_dialog(), &message)) continue;
        // The editor's keys are the editor's: the auto-type picker, a window of its
        // own, takes its keys itself.
        const bool editor_key = !message.hwnd || GetAncestor(message.hwnd, GA_ROOT) == window;
        if (!editor_key || !TranslateAcceleratorW(window, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (accelerators) DestroyAcceleratorTable(accelerators);
}

LRESULT dispatch(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == find_message() && message != 0) {
        on_find_message(lparam);
        return 0;
    }
    switch (message) {
    case WM_CREATE: return on_create(window) ? 0 : -1;
    case WM_SIZE: on_size(window); return 0;
    case WM_PAINT: on_paint(window); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SETFOCUS: SetFocus(g_editor.filter_box); return 0;
    case WM_COMMAND:
        on_command(window, LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HWND>(lparam));
        return LOWORD(wparam) == IDM_SAVE ? 1 : 0;
    case WM_TIMER: on_timer(window, wparam); return 0;
    case WM_ENABLE:
        // The Find dialog is not used while a modal window is open over the editor.
        if (find_dialog()) EnableWindow(find_dialog(), wparam != FALSE);
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wparam) != WA_INACTIVE) PostMessageW(window, kCheckVaultMessage, 0, 0);
        return DefWindowProcW(window, message, wparam, lparam);
    case kCheckVaultMessage: reload_if_changed_elsewhere(window); return 0;
    case WM_CLOSE: on_close(window); return 0;
    case WM_QUERYENDSESSION: return on_query_end_session(window);
    case WM_ENDSESSION: on_end_session(window, wparam != FALSE); return 0;
    case WM_WTSSESSION_CHANGE: on_session_change(window, wparam); return 0;
    case WM_POWERBROADCAST: return on_power_broadcast(window, wparam);
    case WM_HOTKEY:
        if (wparam == kAutoTypeHotKeyId) on_auto_type_hotkey();
        return 0;
    case WM_DESTROY: on_destroy(window); return 0;
    default: return DefWindowProcW(window, message, wparam, lparam);
    }
}

}  // namespace

void editor_show_message(const std::string& caption, const std::string& text) noexcept
{
    tell(g_editor.main_window, caption, text);
}

ShownDocument editor_shown_document()
{
    store_editor_text();
    return {&editor_document(), editor_node_shown()};
}

const std::string& editor_vault_path() noexcept
{
    return vault_path();
}

const SecretString& editor_vault_password() noexcept
{
    static const SecretString kNone;
    return g_editor.session ? g_editor.session->password() : kNone;
}

void store_editor_text()
{
    if (!g_editor.node_shown || !g_editor.editor_box) return;
    const SecretString text(to_narrow(SecretWString(get_window_text_w(g_editor.editor_box)).str()));
    if (g_editor.box_holds_value)
        g_editor.node_shown->set_content(text.str());
    else
        g_editor.node_shown->set_children_from_text(text.str());
}

bool show_node(const TreeNode* node)
{
    if (!node || !g_editor.editor_box) return false;
    const SecretWString wide(to_utf16(SecretString(shown_text(*node, "\r\n")).str()));
    g_editor.setting_editor_text = true;
    // A buffer of the program's, so that the text it replaces is wiped.
    const bool shown = replace_box_buffer(g_editor.editor_box, wide.c_str(), wide.size());
    g_editor.setting_editor_text = false;
    if (shown) g_editor.box_holds_value = node->single_line;
    return shown;
}

HWND editor_main_window() noexcept
{
    return g_editor.main_window;
}
HWND editor_filter_box() noexcept
{
    return g_editor.filter_box;
}
bool editor_has_box() noexcept
{
    return g_editor.editor_box != nullptr;
}
Database* editor_database() noexcept
{
    return g_editor.database;
}
vault::Session* editor_session() noexcept
{
    return g_editor.session;
}
Tree& editor_document() noexcept
{
    return g_tree_root;
}
TreeNode* editor_node_shown() noexcept
{
    return g_editor.node_shown;
}
bool editor_has_unsaved_changes() noexcept
{
    return g_editor.changed;
}
unsigned long long editor_edit_count() noexcept
{
    return g_editor.edits;
}

void editor_replace_document(Tree&& document)
{
    auto_type_document_replaced();
    g_editor.node_shown = nullptr;  // no store may run into the old tree from here on
    wipe_tree(g_tree_root);
    g_tree_root = std::move(document);
    TreeNode* node = nullptr;
    if (g_editor.filter_box) node = g_tree_root.find(SecretString(get_window_text(g_editor.filter_box)).str());
    if (!node) node = &g_tree_root;
    if (show_node(node)) {
        g_editor.node_shown = node;
    } else if (show_node(&g_tree_root)) {
        g_editor.node_shown = &g_tree_root;
    }
}

void editor_close_for_password() noexcept
{
    g_editor.timed_out = true;
    if (g_editor.main_window) PostMessageW(g_editor.main_window, WM_CLOSE, 0, 0);
}

void update_upgrade_item()
{
    const bool legacy = g_editor.database && g_editor.database->legacy_format();
    EnableMenuItem(g_editor.file_menu, IDM_UPGRADE, MF_BYCOMMAND | (legacy ? MF_ENABLED : MF_GRAYED));
}

void mark_changed()
{
    ++g_editor.edits;
    if (g_editor.changed) return;
    // The flag first: a title that cannot be set must not leave an edit untracked.
    g_editor.changed = true;
    set_window_text(g_editor.main_window, kChangedTitle);
}

LRESULT CALLBACK editor_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    try {
        return dispatch(window, message, wparam, lparam);
    } catch (const std::bad_alloc&) {
        g_editor.setting_editor_text = false;
        if (message == WM_CREATE) return -1;
        report_command_failure(kEditorOutOfMemory);
    } catch (...) {
        g_editor.setting_editor_text = false;
        if (message == WM_CREATE) return -1;
        report_command_failure(kEditorUnexpected);
    }
    return 0;
}

void register_editor_window(HINSTANCE instance)
{
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.style = 0;
    window_class.lpfnWndProc = editor_window_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    window_class.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    window_class.lpszClassName = kClassName;
    if (!RegisterClassExW(&window_class)) show_error_box(kErrorCaptionW, kRegisterClassFailed);
}

bool run_editor_window(HINSTANCE instance, int show_command, Database& db, vault::Session& session,
                       const EditorOptions& options)
{
    try {
        g_editor = EditorState();
        g_editor.options = options;
        g_editor.database = &db;
        g_editor.session = &session;
        g_editor_messages.clear();
        // Without plaintext the editor would show an empty document, and a save would
        // replace the vault with it.
        if (!db.decrypted()) {
            show_error_box(kErrorCaptionW, kNotDecrypted);
            g_editor.database = nullptr;
            g_editor.session = nullptr;
            return false;
        }
        g_tree_root = parse_tree(SecretString(db.plaintext()).str());
        g_editor.node_shown = &g_tree_root;
        begin_vault_session(g_tree_root);

        const SIZE size = scaled_window_size(620, 620, WS_OVERLAPPEDWINDOW, true);
        HWND window = CreateWindowExW(0, kClassName, L"Glimkeep", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                      size.cx, size.cy, nullptr, nullptr, instance, nullptr);
        if (!window) {
            show_error_box(kErrorCaptionW, kCreateWindowFailed);
            end_vault_session();
            g_editor.database = nullptr;
            g_editor.session = nullptr;
            return false;
        }
        g_editor.main_window = window;
        ShowWindow(window, show_command);
        UpdateWindow(window);
        // The questions at open, in this order: the conflict copies, the 1.0 backups,
        // the old-format notice, then the notice about many backups.
        offer_conflict_copies(window);
        ask_about_legacy_backups_at_open(window, db);
        if (db.legacy_format() && !g_old_format_warned) {
            g_old_format_warned = true;
            MessageBeep(MB_ICONWARNING);
            editor_show_message(kOldFormatCaption, kOldFormatText);
        }
        mention_many_backups_at_open();
        start_auto_type(window);

        run_message_loop(instance, window);
    } catch (...) {
        // Only the parse before the window exists can get here (out of memory);
        // the vault on disk is untouched.
        show_error_box(kErrorCaptionW, kOutOfMemory);
        g_editor.timed_out = false;
    }
    end_editor_commands();
    g_editor.database = nullptr;
    g_editor.main_window = nullptr;
    g_editor.filter_box = nullptr;
    g_editor.editor_box = nullptr;
    g_editor.node_shown = nullptr;
    wipe_tree(g_tree_root);
    end_vault_session();
    g_editor.session = nullptr;
    return g_editor.timed_out;
}

bool run_editor_window(HINSTANCE instance, int show_command, Database& db, const EditorOptions& options)
{
    try {
        vault::Session session(db, vault_path());
        return run_editor_window(instance, show_command, db, session, options);
    } catch (...) {
        show_error_box(kErrorCaptionW, kOutOfMemory);
        return false;
    }
}
