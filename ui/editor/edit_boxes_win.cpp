// The keyboard of the filter box and of the editor box.

#include <cstring>
#include <new>

#include "crypto/wipe.h"
#include "ui/common/clipboard.h"
#include "ui/editor/editor_commands.h"
#include "ui/editor/editor_state.h"
#include "ui/common/error_texts.h"
#include "ui/common/text.h"
#include "ui/autotype/auto_type.h"

namespace {

constexpr wchar_t kCtrlA = 0x01;
constexpr wchar_t kCtrlV = 0x16;

// Start and end of a box's selection, at their full width.
struct Selection {
    DWORD start = 0;
    DWORD end = 0;
};

Selection get_selection(HWND box)
{
    Selection selection;
    SendMessageW(box, EM_GETSEL, reinterpret_cast<WPARAM>(&selection.start), reinterpret_cast<LPARAM>(&selection.end));
    return selection;
}

void set_selection(HWND box, std::size_t start, std::size_t end)
{
    SendMessageW(box, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
}

void caret_to_end(HWND box)
{
    SendMessageW(box, EM_SETSEL, 0, -1);
    SendMessageW(box, EM_SETSEL, static_cast<WPARAM>(-1), -1);
}

bool node_shown_is_single_line()
{
    return g_editor.node_shown && g_editor.box_holds_value;
}

// Tab: complete the filter path from the names in the tree.
void complete_filter(HWND box)
{
    SetFocus(box);
    const SecretString answer(g_tree_root.complete(SecretString(get_window_text(box)).str()));
    if (answer.empty()) return;
    set_window_text_w(box, SecretWString(to_utf16(answer.str())).str());
    caret_to_end(box);
}

// Enter: the editor box's text, as shown, goes to the clipboard, marked private
// before anyone can see it: clipboard watchers are told only at CloseClipboard, so
// a copy that cannot be marked is taken back before then and reported as failed.
void copy_to_clipboard(HWND box)
{
    if (copy_text_to_clipboard(box, SecretWString(get_window_text_w(g_editor.editor_box))))
        SendMessageW(g_editor.editor_box, EM_SETSEL, 0, -1);
}

// Ctrl+Backspace in the filter box: drop the name before the caret and all after it.
void step_back_one_name(HWND box)
{
    SecretWString text(get_window_text_w(box));
    std::size_t n = text.size();
    if (n == 0) return;
    const std::size_t start = get_selection(box).start;
    if (start > 0 && start <= n) n = start;
    while (n > 0 && text[n - 1] == L' ') --n;
    while (n > 0 && text[n - 1] != L' ') --n;
    text.truncate(n);
    set_window_text_w(box, text.str());
    caret_to_end(box);
}

// Enter in a multi-line node: remember the tabs that start the caret's line, up to
// the caret, so that the new line starts with them.
void count_indentation(HWND box)
{
    const std::size_t start = get_selection(box).start;
    g_editor.pending_indent = 0;
    if (start == 0) return;
    const SecretWString text(get_window_text_w(box));
    std::size_t s = start < text.size() ? start : text.size();
    std::size_t i = s;
    while (i > 0 && text[i - 1] != L'\n') --i;
    unsigned count = 0;
    while (i < s && text[i] == L'\t') {
        ++count;
        ++i;
    }
    g_editor.pending_indent = count;
}

// Ctrl+Backspace in the editor box: delete the word before the caret (and the
// selection), or join the line to the one above at the start of a line.
void delete_word(HWND box)
{
    SecretWString text(get_window_text_w(box));
    const std::size_t n = text.size();
    if (n == 0) return;
    const Selection selection = get_selection(box);
    std::size_t pos = selection.start < n ? selection.start : n;
    const std::size_t stop = selection.end > pos ? selection.end : pos;
    while (pos > 0 && (text[pos - 1] == L' ' || text[pos - 1] == L'\t')) --pos;
    while (pos > 0) {
        const wchar_t c = text[pos - 1];
        if (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') break;
        --pos;
    }
    if (pos >= 2 && pos == stop && text[pos - 2] == L'\r' && text[pos - 1] == L'\n') pos -= 2;
    text.clear();
    set_selection(box, pos, stop);
    SendMessageW(box, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L""));
    if (stop != pos) mark_changed();
}

// Ctrl+H: the character with Ctrl held that is not Ctrl+Backspace.
bool is_ctrl_h(WPARAM character)
{
    return character == L'\b' && GetKeyState(VK_CONTROL) < 0 && !is_ctrl_backspace(character);
}

// Ctrl+H deletes one character back (a line break, a surrogate pair count as one) or
// the selection, as a backspace does; some edit controls (Wine's) ignore it with Ctrl
// held.
void backspace_one(HWND box)
{
    const Selection selection = get_selection(box);
    std::size_t start = selection.start;
    if (selection.start == selection.end) {
        if (start == 0) return;
        const SecretWString text(get_window_text_w(box));
        if (start > text.size()) start = text.size();
        --start;
        if (start > 0 &&
            ((text[start - 1] == L'\r' && text[start] == L'\n') ||
             (text[start] >= 0xDC00 && text[start] <= 0xDFFF && text[start - 1] >= 0xD800 &&
              text[start - 1] <= 0xDBFF)))
            --start;
    }
    set_selection(box, start, selection.end);
    SendMessageW(box, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L""));
}

// The two deletion keys that both boxes handle themselves: Ctrl+Backspace runs
// `ctrl_backspace` (each box deletes its own unit), Ctrl+H one character. True when
// the character was one of them.
bool deletion_key(HWND box, WPARAM character, void (*ctrl_backspace)(HWND))
{
    if (is_ctrl_backspace(character)) {
        ctrl_backspace(box);
        return true;
    }
    if (is_ctrl_h(character)) {
        backspace_one(box);
        return true;
    }
    return false;
}

void refuse_line_break(HWND box)
{
    MessageBeep(MB_ICONWARNING);
    editor_show_message(kMultipleLinesCaption, kSingleLineValue);
    SetFocus(box);
}

// A paste into a single-line value: line breaks at the end of the pasted text are
// dropped (a password copied with its line break); one inside refuses the paste as
// Enter is refused.
void paste_single_line(HWND box)
{
    SecretWString text;
    {
        const ClipboardOpen clipboard(box);
        if (!clipboard.open()) return;
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
            if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
                const SIZE_T capacity = GlobalSize(data) / sizeof(wchar_t);
                SIZE_T length = 0;
                while (length < capacity && chars[length] != L'\0') ++length;
                text.append(chars, length);
                GlobalUnlock(data);
            }
        }
    }
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
    if (text.str().find_first_of(L"\r\n") != std::wstring::npos) {
        text.clear();
        refuse_line_break(box);
        return;
    }
    if (!text.empty()) SendMessageW(box, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

LRESULT filter_dispatch(HWND box, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_GETDLGCODE: return DLGC_WANTALLKEYS;
    case WM_KEYDOWN:
        if (wparam == VK_TAB) {
            complete_filter(box);
            break;
        }
        if (wparam == VK_RETURN && GetKeyState(VK_CONTROL) < 0) {
            type_into_previous_window();
            return 0;
        }
        if (wparam == VK_RETURN) {
            copy_to_clipboard(box);
            return 0;
        }
        break;
    case WM_CHAR:
        // Ctrl+Enter types a line feed.
        if (wparam == L'\t' || wparam == L'\r' || wparam == L'\n') return 0;
        if (deletion_key(box, wparam, step_back_one_name)) return 0;
        break;
    default: break;
    }
    return CallWindowProcW(g_editor.previous_filter_proc, box, message, wparam, lparam);
}

LRESULT editor_dispatch(HWND box, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_GETDLGCODE: return DLGC_WANTALLKEYS;
    case WM_KEYDOWN:
        if (wparam == VK_RETURN && node_shown_is_single_line()) {
            refuse_line_break(box);
            return 0;
        }
        if (wparam == 'A' && GetKeyState(VK_CONTROL) < 0) {
            SendMessageW(box, EM_SETSEL, 0, -1);
            return 0;
        }
        if (wparam == VK_INSERT && GetKeyState(VK_SHIFT) < 0 && GetKeyState(VK_CONTROL) >= 0 &&
            node_shown_is_single_line()) {
            paste_single_line(box);
            return 0;
        }
        break;
    case WM_PASTE:
        if (node_shown_is_single_line()) {
            paste_single_line(box);
            return 0;
        }
        break;
    case WM_CHAR:
        if (wparam == kCtrlA) return 0;
        if (wparam == kCtrlV && node_shown_is_single_line()) {
            paste_single_line(box);
            return 0;
        }
        if (wparam == L'\r') {
            if (node_shown_is_single_line()) return 0;
            count_indentation(box);
            break;
        }
        if (deletion_key(box, wparam, delete_word)) return 0;
        break;
    default: break;
    }
    return CallWindowProcW(g_editor.previous_editor_proc, box, message, wparam, lparam);
}

}  // namespace

// No exception leaves a box's procedure: a failure is reported and the message ends.
LRESULT guarded_dispatch(LRESULT (*dispatch)(HWND, UINT, WPARAM, LPARAM), HWND box, UINT message, WPARAM wparam,
                         LPARAM lparam) noexcept
{
    try {
        return dispatch(box, message, wparam, lparam);
    } catch (const std::bad_alloc&) {
        report_command_failure(kEditorOutOfMemory);
    } catch (...) {
        report_command_failure(kEditorUnexpected);
    }
    return 0;
}

LRESULT CALLBACK filter_box_proc(HWND box, UINT message, WPARAM wparam, LPARAM lparam)
{
    return guarded_dispatch(filter_dispatch, box, message, wparam, lparam);
}

LRESULT CALLBACK editor_box_proc(HWND box, UINT message, WPARAM wparam, LPARAM lparam)
{
    return guarded_dispatch(editor_dispatch, box, message, wparam, lparam);
}

void apply_pending_indent()
{
    const unsigned count = g_editor.pending_indent;
    if (count == 0) return;
    // Cleared first: the insertion below reports EN_UPDATE again, and a failure here
    // must not leave a count that a later, unrelated change would insert.
    g_editor.pending_indent = 0;
    const std::size_t start = get_selection(g_editor.editor_box).start;
    if (start < 2) return;
    const bool after_line_break = [start] {
        const SecretWString text(get_window_text_w(g_editor.editor_box));
        return start <= text.size() && text[start - 2] == L'\r' && text[start - 1] == L'\n';
    }();
    if (!after_line_break) return;
    const std::wstring tabs(count, L'\t');
    SendMessageW(g_editor.editor_box, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(tabs.c_str()));
}
