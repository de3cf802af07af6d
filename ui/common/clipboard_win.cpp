// The clipboard that clears itself.

#include "ui/common/clipboard.h"

#include <cstring>

#include "resource.h"
#include "ui/common/ask_tell.h"
#include "ui/common/error_texts.h"

namespace {

// The window whose timer clears the clipboard, and where the interval is read.
HWND g_window = nullptr;
const UINT* g_interval = nullptr;
// The clipboard's sequence number right after the last copy; valid while `copy_pending`.
DWORD g_copy_sequence = 0;
bool g_copy_pending = false;

// Puts `size` bytes on the clipboard in `format`; false when nothing was placed.
// Never writes through a failed allocation or lock.
bool put_clipboard_data(UINT format, const void* data, std::size_t size)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!memory) return false;
    void* target = GlobalLock(memory);
    if (!target) {
        GlobalFree(memory);
        return false;
    }
    std::memcpy(target, data, size);
    GlobalUnlock(memory);
    if (!SetClipboardData(format, memory)) {
        // Still ours: wipe what may be a password before giving the memory back.
        if (void* again = GlobalLock(memory)) {
            secure_wipe(again, size);
            GlobalUnlock(memory);
        }
        GlobalFree(memory);
        return false;
    }
    return true;
}

// Marks the clipboard's content as private, so that the system's clipboard history
// and cloud clipboard neither keep nor upload the copied password. False when any
// of the three could not be set.
bool exclude_from_clipboard_history()
{
    const DWORD zero = 0;
    const wchar_t* const formats[] = {L"ExcludeClipboardContentFromMonitorProcessing", L"CanIncludeInClipboardHistory",
                                      L"CanUploadToCloudClipboard"};
    for (const wchar_t* name : formats) {
        const UINT format = RegisterClipboardFormatW(name);
        if (!format || !put_clipboard_data(format, &zero, sizeof zero)) return false;
    }
    return true;
}

// Wipes the text that the clipboard still holds from our copy, then empties it.
// Another program may hold the clipboard open for a moment: a few tries.
void wipe_and_empty_clipboard()
{
    bool opened = false;
    for (int attempt = 0; attempt < 10 && !opened; ++attempt) {
        opened = OpenClipboard(g_window) != FALSE;
        if (!opened) Sleep(20);
    }
    if (!opened) return;
    wipe_and_empty_open_clipboard();
    CloseClipboard();
}

}  // namespace

void start_clipboard_clearing(HWND window, const UINT* interval) noexcept
{
    g_window = window;
    g_interval = interval;
}

void end_clipboard_clearing() noexcept
{
    clear_clipboard_if_ours();
    g_window = nullptr;
    g_interval = nullptr;
}

void note_clipboard_copy() noexcept
{
    g_copy_sequence = GetClipboardSequenceNumber();
    g_copy_pending = true;
    if (!g_window || !g_interval) return;
    KillTimer(g_window, IDT_CLIPBOARD);
    SetTimer(g_window, IDT_CLIPBOARD, *g_interval, nullptr);
}

void clear_clipboard_if_ours() noexcept
{
    if (g_window) KillTimer(g_window, IDT_CLIPBOARD);
    if (!g_copy_pending) return;
    g_copy_pending = false;
    // Anything copied since (by us or another program) changed the number: leave it.
    if (GetClipboardSequenceNumber() == g_copy_sequence) wipe_and_empty_clipboard();
}

void wipe_and_empty_open_clipboard() noexcept
{
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        const SIZE_T size = GlobalSize(data);
        if (void* chars = GlobalLock(data)) {
            secure_wipe(chars, size);
            GlobalUnlock(data);
        }
    }
    EmptyClipboard();
}

bool copy_text_to_clipboard(HWND owner, const SecretWString& text) noexcept
{
    bool placed = false;
    {
        const ClipboardOpen clipboard(owner);
        if (clipboard.open()) {
            EmptyClipboard();
            // The privacy formats first: watchers see the clipboard only at
            // CloseClipboard, and a copy that cannot be marked is taken back before then.
            placed = exclude_from_clipboard_history() &&
                put_clipboard_data(CF_UNICODETEXT, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
            if (!placed) wipe_and_empty_open_clipboard();
        }
    }
    if (!placed) {
        MessageBeep(MB_ICONWARNING);
        tell(g_window, kErrorCaption, kCopyFailed);
        return false;
    }
    note_clipboard_copy();
    MessageBeep(MB_ICONINFORMATION);
    return true;
}
