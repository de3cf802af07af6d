// The hot key, and the two ways into the typing: the window in front (by the hot
// key, through the picker when no entry is certain) and the window that was in
// front before Glimkeep (Ctrl+Enter, Edit > Type into previous window).

#include "ui/autotype/auto_type.h"

#include <new>

#include "autotype/matching.h"
#include "autotype/sequence.h"
#include "autotype/settings.h"
#include "ui/autotype/picker.h"
#include "ui/autotype/typist.h"
#include "ui/changed_elsewhere/changed_elsewhere.h"
#include "ui/editor/editor_window.h"
#include "ui/common/text.h"

namespace {

HWND g_editor_window = nullptr;
bool g_registered = false;
HotKey g_hotkey;
// Each of these is told once per run of the program, not at every unlock.
bool g_told_settings = false;
bool g_told_registration = false;

constexpr char kNoPreviousWindow[] = "There is no window of another program behind Glimkeep to type into.";
constexpr char kOwnWindow[] =
    "Auto-type types into the window of another program: bring that window to the front, then press ";

void tell(const std::string& text) noexcept
{
    MessageBeep(MB_ICONWARNING);
    editor_show_message(kAutoTypeCaption, text);
}

bool ours(HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId();
}

// A window the user could have been typing into: visible, not minimised, not a tool
// window, not the desktop's or the task bar's.
bool could_be_typed_into(HWND window)
{
    if (!IsWindowVisible(window) || IsIconic(window) || window == GetShellWindow()) return false;
    if (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) return false;
    wchar_t class_name[32] = L"";
    GetClassNameW(window, class_name, 32);
    if (lstrcmpW(class_name, L"Shell_TrayWnd") == 0 || lstrcmpW(class_name, L"Progman") == 0) return false;
    RECT rect = {};
    return GetWindowRect(window, &rect) && rect.right > rect.left && rect.bottom > rect.top;
}

// The next such window below Glimkeep's own in the Z order.
HWND previous_window()
{
    for (HWND window = GetWindow(g_editor_window, GW_HWNDNEXT); window; window = GetWindow(window, GW_HWNDNEXT))
        if (!ours(window) && could_be_typed_into(window)) return window;
    return nullptr;
}

std::wstring title_of(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return std::wstring();
    std::wstring title(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, &title[0], length + 1);
    title.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return title;
}

bool busy()
{
    // A dialog of the editor is open (its owner is disabled meanwhile), or auto-type
    // is already at work.
    return !g_editor_window || !IsWindowEnabled(g_editor_window) || typing_active() || picker_open();
}

void on_hotkey()
{
    if (busy()) return;
    const HWND target = GetForegroundWindow();
    if (!target || ours(target)) return tell(kOwnWindow + hotkey_name(g_hotkey) + ".");
    // Edits not stored yet count, as for a copy.
    store_editor_text();
    const std::wstring title = title_of(target);
    TitleMatches matches = match_title(editor_document(), SecretString(to_narrow(title)).str());
    if (matches.type_at_once()) {
        const AutoTypeRow& row = matches.rows.front();
        if (const TreeNode* entry = node_at(editor_document(), row.position, row.path))
            return type_node(target, *entry, false);
    }
    if (!open_picker(target, title, std::move(matches))) tell("The auto-type window could not be opened.");
}

void on_type_into_previous()
{
    if (busy()) return;
    store_editor_text();
    const HWND target = previous_window();
    if (!target) return tell(kNoPreviousWindow);
    if (!editor_node_shown()) return;
    type_node(target, *editor_node_shown(), true);
}

// Runs `start`; whatever it throws is told, and nothing is typed.
void start_guarded(void (*start)()) noexcept
{
    try {
        start();
    } catch (const std::bad_alloc&) {
        tell("There is not enough memory for auto-type. Nothing was typed.");
    } catch (...) {
        tell("Auto-type failed unexpectedly. Nothing was typed.");
    }
}

}  // namespace

void start_auto_type(HWND editor) noexcept
{
    g_editor_window = editor;
    try {
        const AutoTypeSettings settings = read_settings_file(settings_path_beside(vault_path()));
        g_hotkey = settings.hotkey;
        if (!settings.problem.empty() && !g_told_settings) {
            g_told_settings = true;
            tell(settings.problem);
        }
        g_registered = RegisterHotKey(editor, kAutoTypeHotKeyId, g_hotkey.modifiers, g_hotkey.virtual_key) != FALSE;
        if (!g_registered && !g_told_registration) {
            g_told_registration = true;
            tell("The auto-type key " + hotkey_name(g_hotkey) +
                 " is taken by another program, so it does nothing in Glimkeep for now. Another key can be set in " +
                 kSettingsFileName +
                 " beside the vault: a section [auto-type] with a line like hotkey=Ctrl+Shift+F11.");
        }
        const std::string notice = take_typing_notice();
        if (!notice.empty()) tell(notice);
    } catch (...) {
        // Auto-type by key stays off; the editor works as before.
    }
}

void end_auto_type() noexcept
{
    end_typist();
    close_picker();
    if (g_registered && g_editor_window) UnregisterHotKey(g_editor_window, kAutoTypeHotKeyId);
    g_registered = false;
    g_editor_window = nullptr;
}

void stop_auto_type_for_lock() noexcept
{
    stop_typing(true);
    close_picker();
}

void on_auto_type_hotkey() noexcept
{
    start_guarded(on_hotkey);
}

void type_into_previous_window() noexcept
{
    start_guarded(on_type_into_previous);
}
