// The editor's everyday helps: the lock on demand, the password generator and the search in the editor box.

#include "ui/editor/editor_commands.h"
#include "ui/editor/editor_state.h"

#include <commdlg.h>

#include <cwctype>
#include <new>
#include <string>

#include "audit/passphrase.h"
#include "crypto/password_generator.h"
#include "crypto/wipe.h"
#include "resource.h"
#include "ui/common/ask_tell.h"
#include "ui/common/clipboard.h"
#include "ui/common/error_texts.h"
#include "ui/common/inactivity.h"
#include "ui/common/gdi.h"
#include "ui/common/text.h"
#include "ui/autotype/auto_type.h"

namespace {
// The Find dialog's state: it must outlive FindTextW's return, as long as the dialog.
constexpr WORD kFindTextSize = 256;
wchar_t g_find_text[kFindTextSize] = L"";
FINDREPLACEW g_find = {};
HWND g_find_dialog = nullptr;
UINT g_find_message = 0;

// Position of `needle` in `text` at or after `from`, or npos; both are compared
// with the case folded when `match_case` is false.
std::size_t search(const std::wstring& text, const std::wstring& needle, std::size_t from, bool match_case)
{
    if (match_case) return text.find(needle, from);
    const auto same = [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); };
    if (needle.size() > text.size()) return std::wstring::npos;
    for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < needle.size() && same(text[i + k], needle[k])) ++k;
        if (k == needle.size()) return i;
    }
    return std::wstring::npos;
}

}  // namespace

namespace {

// Inserts ASCII `text` at the caret as typing would: it replaces the selection, can be
// undone and reports EN_UPDATE. The wide copy is wiped.
void insert_generated(const char* text, std::size_t size)
{
    // The longest passphrase: 20 words of 8 letters and 19 separators.
    wchar_t wide[256];
    WipeOnExit wipe_wide(wide, sizeof wide);
    if (size >= sizeof wide / sizeof *wide) return;
    for (std::size_t i = 0; i < size; ++i) wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    wide[size] = L'\0';
    SetFocus(g_editor.editor_box);
    SendMessageW(g_editor.editor_box, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(wide));
    mark_changed();
    restart_inactivity_timer();
}

}  // namespace

void insert_generated_password()
{
    char password[kGeneratedPasswordLength];
    WipeOnExit wipe_password(password, sizeof password);
    if (g_editor.options.password_generator(password) != 0) {
        MessageBeep(MB_ICONWARNING);
        editor_show_message(kErrorCaption, kRandomFailed);
        return;
    }
    insert_generated(password, sizeof password);
}

void insert_generated_passphrase()
{
    SecretString phrase;
    int result = -1;
    try {
        result = generate_passphrase(kPassphraseDefaultWords, kPassphraseDefaultSeparator, phrase);
    } catch (const std::bad_alloc&) {
        result = -1;
    }
    if (result != 0) {
        MessageBeep(MB_ICONWARNING);
        editor_show_message(kErrorCaption, kRandomFailed);
        return;
    }
    insert_generated(phrase.data(), phrase.size());
}

void lock_now(HWND window)
{
    stop_auto_type_for_lock();
    if (g_editor.changed) {
        MessageBeep(MB_ICONWARNING);
        if (!ask(window, "Save changes and lock?",
                 "There are currently unsaved changes. Do you want to save them and lock?"))
            return;
        save_database();
        // A failed save was reported and keeps the editor open with the changes.
        if (g_editor.changed) return;
    }
    stop_inactivity_timer();
    g_editor.timed_out = true;
    PostMessageW(window, WM_CLOSE, 0, 0);
}

UINT find_message() noexcept
{
    if (!g_find_message) g_find_message = RegisterWindowMessageW(FINDMSGSTRINGW);
    return g_find_message;
}

HWND find_dialog() noexcept
{
    return g_find_dialog;
}

void open_find_dialog(HWND window)
{
    if (g_find_dialog) {
        SetActiveWindow(g_find_dialog);
        SetFocus(g_find_dialog);
        return;
    }
    find_message();
    g_find.lStructSize = sizeof g_find;
    g_find.hwndOwner = window;
    g_find.Flags = (g_find.Flags & FR_MATCHCASE) | FR_DOWN | FR_HIDEUPDOWN | FR_HIDEWHOLEWORD;
    g_find.lpstrFindWhat = g_find_text;
    g_find.wFindWhatLen = kFindTextSize;
    g_find_dialog = FindTextW(&g_find);
    if (!g_find_dialog) report_command_failure(kFindDialogFailed);
}

namespace {

// The height of one line of the editor box, in pixels.
int editor_line_height()
{
    int height = 16;
    HDC dc = GetDC(g_editor.editor_box);
    if (!dc) return height;
    {
        const SelectInScope select_font(dc,
                                        reinterpret_cast<HGDIOBJ>(SendMessageW(g_editor.editor_box, WM_GETFONT, 0, 0)));
        TEXTMETRICW metrics = {};
        if (GetTextMetricsW(dc, &metrics)) height = metrics.tmHeight + metrics.tmExternalLeading;
    }
    ReleaseDC(g_editor.editor_box, dc);
    return height;
}

// The Find dialog stays open while the user looks at what it found: when it covers
// the line of the selection, it moves above that line, or below it where there is
// no room above.
void move_find_dialog_off(DWORD selection_start)
{
    if (!g_find_dialog || !IsWindow(g_find_dialog)) return;
    const LRESULT position = SendMessageW(g_editor.editor_box, EM_POSFROMCHAR, selection_start, 0);
    if (position == -1) return;
    RECT editor = {};
    GetWindowRect(g_editor.editor_box, &editor);
    POINT top = {0, static_cast<short>(HIWORD(static_cast<DWORD_PTR>(position)))};
    ClientToScreen(g_editor.editor_box, &top);
    const RECT line = {editor.left, top.y, editor.right, top.y + editor_line_height()};
    RECT dialog = {};
    RECT overlap = {};
    if (!GetWindowRect(g_find_dialog, &dialog) || !IntersectRect(&overlap, &dialog, &line)) return;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromWindow(g_find_dialog, MONITOR_DEFAULTTONEAREST), &monitor)) return;
    const int height = dialog.bottom - dialog.top;
    const int y = line.top - height >= monitor.rcWork.top ? line.top - height : line.bottom;
    SetWindowPos(g_find_dialog, nullptr, dialog.left, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

void find_next()
{
    if (!g_editor.editor_box) return;
    const std::wstring needle(g_find_text);
    if (needle.empty()) {
        open_find_dialog(g_editor.main_window);
        return;
    }
    SecretWString text(get_window_text_w(g_editor.editor_box));
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(g_editor.editor_box, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const bool match_case = (g_find.Flags & FR_MATCHCASE) != 0;
    std::size_t at = search(text.str(), needle, end < text.size() ? end : text.size(), match_case);
    bool wrapped = false;
    if (at == std::wstring::npos) {
        at = search(text.str(), needle, 0, match_case);
        wrapped = true;
    }
    text.clear();
    if (at == std::wstring::npos) {
        MessageBeep(MB_ICONWARNING);
        editor_show_message(kTextNotFoundCaption, kTextNotFound);
        return;
    }
    if (wrapped) MessageBeep(MB_ICONINFORMATION);
    SendMessageW(g_editor.editor_box, EM_SETSEL, static_cast<WPARAM>(at), static_cast<LPARAM>(at + needle.size()));
    SendMessageW(g_editor.editor_box, EM_SCROLLCARET, 0, 0);
    move_find_dialog_off(static_cast<DWORD>(at));
}

void on_find_message(LPARAM lparam)
{
    const auto* find = reinterpret_cast<const FINDREPLACEW*>(lparam);
    if (find->Flags & FR_DIALOGTERM) {
        g_find_dialog = nullptr;
        return;
    }
    // Not while a modal window (its own "not found" message) is open over the editor.
    if ((find->Flags & FR_FINDNEXT) && IsWindowEnabled(g_editor.main_window)) find_next();
}

void end_editor_commands() noexcept
{
    end_clipboard_clearing();
    if (g_find_dialog && IsWindow(g_find_dialog)) DestroyWindow(g_find_dialog);
    g_find_dialog = nullptr;
    secure_wipe(g_find_text, sizeof g_find_text);
}

void report_command_failure(const char* text) noexcept
{
    MessageBeep(MB_ICONWARNING);
    editor_show_message(kErrorCaption, text);
}
