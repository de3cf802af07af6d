// The hot key, and the two ways into the typing: the window in front (by the hot
// key, through the picker when no entry is certain) and the window of another
// program that was last in front (Ctrl+Enter, Edit > Type into previous window),
// remembered by a WinEvent hook as the foreground changes: under Wine a clicked
// window becomes the foreground one without being raised, and an always-on-top
// window sits above Glimkeep, so no walk of the Z order finds it.

#include "ui/autotype/auto_type.h"

#include <new>

#include "autotype/matching.h"
#include "autotype/sequence.h"
#include "autotype/settings.h"
#include "autotype/target.h"
#include "ui/autotype/picker.h"
#include "ui/autotype/typist.h"
#include "ui/common/vault_path.h"
#include "ui/editor/editor_window.h"
#include "ui/common/text.h"

namespace {

HWND g_editor_window = nullptr;
bool g_registered = false;
HotKey g_hotkey;
// What is told once per run of the program, not at every unlock: a problem of the
// settings file, and a hot key that could not be registered.
struct ToldOnce {
    bool settings = false;
    bool registration = false;
};
ToldOnce g_told;

// The last window of another program that came to the front, remembered from the
// start of the program on, across locks.
HWINEVENTHOOK g_foreground_hook = nullptr;
HWND g_previous_window = nullptr;
constexpr UINT kForegroundPoll = 150;  // milliseconds
constexpr UINT_PTR kForegroundTimer = 0x4654;  // the editor window's timer for the poll

constexpr char kNoPreviousWindow[] =
    "No window of another program has been in front since Glimkeep started, so there is nothing to type into. "
    "Click into the field to fill, then come back to Glimkeep.";
constexpr char kOwnWindow[] =
    "Auto-type types into the window of another program: bring that window to the front, then press ";

void tell(const std::string& text) noexcept
{
    MessageBeep(MB_ICONWARNING);
    editor_show_message(kAutoTypeCaption, text);
}

using DwmGetWindowAttributeFn = HRESULT(WINAPI*)(HWND, DWORD, PVOID, DWORD);
constexpr DWORD kDwmCloaked = 14;  // DWMWA_CLOAKED, from Windows 8 on

// dwmapi's DwmGetWindowAttribute from the system folder, looked up once; null where
// it is missing.
DwmGetWindowAttributeFn dwm_get_window_attribute()
{
    static bool looked = false;
    static DwmGetWindowAttributeFn function = nullptr;
    if (looked) return function;
    looked = true;
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const HMODULE dwmapi = LoadLibraryW((std::wstring(folder, length) + L"\\dwmapi.dll").c_str());
    if (dwmapi)
        function = reinterpret_cast<DwmGetWindowAttributeFn>(
            reinterpret_cast<void*>(GetProcAddress(dwmapi, "DwmGetWindowAttribute")));
    return function;
}

// Where the attribute cannot be read (Vista, 7, Wine), a window is not cloaked.
bool cloaked(HWND window)
{
    const DwmGetWindowAttributeFn get = dwm_get_window_attribute();
    DWORD value = 0;
    return get && SUCCEEDED(get(window, kDwmCloaked, &value, sizeof value)) && value != 0;
}

WindowFacts facts_of(HWND window)
{
    WindowFacts facts;
    facts.exists = window && IsWindow(window);
    if (!facts.exists) return facts;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    facts.ours = process == GetCurrentProcessId();
    facts.visible = IsWindowVisible(window) != FALSE;
    facts.minimised = IsIconic(window) != FALSE;
    facts.tool_window = (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0;
    facts.shell_window = window == GetShellWindow();
    RECT rect = {};
    facts.has_area = GetWindowRect(window, &rect) && rect.right > rect.left && rect.bottom > rect.top;
    facts.cloaked = cloaked(window);
    wchar_t class_name[64] = L"";
    GetClassNameW(window, class_name, 64);
    facts.class_name = class_name;
    return facts;
}

void note_foreground(HWND window) noexcept
{
    if (!window || window == g_previous_window) return;
    try {
        if (remember_as_previous(facts_of(window))) g_previous_window = window;
    } catch (...) {
        // This change is not remembered; the last one is kept.
    }
}

void CALLBACK on_foreground(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG, DWORD, DWORD)
{
    if (event == EVENT_SYSTEM_FOREGROUND && object == OBJID_WINDOW) note_foreground(window);
}

// Wine (8.0) sends no foreground events to the hook: the window in front is also
// looked at a few times a second while the editor is open, by a timer of the editor
// window. (A timer of the thread, without a window, cost typed keys under Wine: the
// end-to-end scenarios lost whole words typed into a window that had just opened.)
void CALLBACK poll_foreground(HWND, UINT, UINT_PTR, DWORD)
{
    note_foreground(GetForegroundWindow());
}

bool busy()
{
    // Auto-type is already at work, or a dialog of the editor is open (its owner is
    // disabled meanwhile): the dialog, or the picker, comes to the front, as it may
    // sit behind other windows.
    if (!g_editor_window || typing_active()) return true;
    if (picker_open()) {
        show_picker();
        return true;
    }
    if (IsWindowEnabled(g_editor_window)) return false;
    const HWND dialog = GetLastActivePopup(g_editor_window);
    if (dialog && dialog != g_editor_window) SetForegroundWindow(dialog);
    return true;
}

void on_hotkey()
{
    if (busy()) return;
    const HWND target = GetForegroundWindow();
    const TargetRefusal refusal = refuse_target(facts_of(target));
    if (refusal == TargetRefusal::kOwn || refusal == TargetRefusal::kGone)
        return tell(kOwnWindow + hotkey_name(g_hotkey) + ".");
    if (refusal != TargetRefusal::kNone) return tell(target_refusal_text(refusal, true));
    // Edits not stored yet count, as for a copy.
    store_editor_text();
    const std::string title = window_title(target);
    TitleMatches matches = match_title(editor_document(), title);
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
    if (!g_previous_window) return tell(kNoPreviousWindow);
    const TargetRefusal refusal = refuse_target(facts_of(g_previous_window));
    if (refusal != TargetRefusal::kNone) return tell(target_refusal_text(refusal, false));
    if (!editor_node_shown()) return;
    type_node(g_previous_window, *editor_node_shown(), true);
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
    SetTimer(editor, kForegroundTimer, kForegroundPoll, poll_foreground);
    try {
        const AutoTypeSettings settings = read_settings_file(settings_path_beside(vault_path()));
        g_hotkey = settings.hotkey;
        if (!settings.problem.empty() && !g_told.settings) {
            g_told.settings = true;
            tell(settings.problem);
        }
        g_registered = RegisterHotKey(editor, kAutoTypeHotKeyId, g_hotkey.modifiers, g_hotkey.virtual_key) != FALSE;
        if (!g_registered && !g_told.registration) {
            g_told.registration = true;
            tell(hotkey_taken_text(settings));
        }
        const std::string notice = take_typing_notice();
        if (!notice.empty()) tell(notice);
    } catch (...) {
        // Auto-type by key stays off; the editor works as before.
    }
}

void watch_foreground_windows() noexcept
{
    static bool watching = false;
    if (watching) return;
    watching = true;
    note_foreground(GetForegroundWindow());
    g_foreground_hook = SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, on_foreground, 0, 0,
                                        WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
}

std::string auto_type_key_text()
{
    if (!g_editor_window) return hotkey_name(g_hotkey);
    return g_registered ? hotkey_name(g_hotkey)
                        : hotkey_name(g_hotkey) + " (taken by another program: it does nothing)";
}

void auto_type_document_replaced() noexcept
{
    close_picker();
}

void end_auto_type() noexcept
{
    end_typist();
    close_picker();
    if (g_editor_window) KillTimer(g_editor_window, kForegroundTimer);
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
