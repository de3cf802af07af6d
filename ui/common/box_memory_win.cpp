// The edit boxes' memory: buffers the program owns and wipes.

#include "ui/common/box_memory.h"

#include "crypto/wipe.h"

#include <cstring>

namespace {

// Room for typing beyond twice the text, in characters.
constexpr std::size_t kTypingRoom = 16384;

void wipe_local(HLOCAL memory) noexcept
{
    if (!memory) return;
    const SIZE_T size = LocalSize(memory);
    if (void* bytes = LocalLock(memory)) {
        secure_wipe(bytes, size);
        LocalUnlock(memory);
    }
}

}  // namespace

bool replace_box_buffer(HWND box, const wchar_t* text, std::size_t length) noexcept
{
    if (length > (static_cast<std::size_t>(-1) / sizeof(wchar_t) - kTypingRoom) / 2) return false;
    const std::size_t capacity = 2 * length + kTypingRoom;
    HLOCAL memory = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, capacity * sizeof(wchar_t));
    if (!memory) return false;
    auto* chars = static_cast<wchar_t*>(LocalLock(memory));
    if (!chars) {
        LocalFree(memory);
        return false;
    }
    if (length > 0) std::memcpy(chars, text, length * sizeof(wchar_t));
    chars[length] = L'\0';
    LocalUnlock(memory);
    const HLOCAL previous = reinterpret_cast<HLOCAL>(SendMessageW(box, EM_GETHANDLE, 0, 0));
    SendMessageW(box, EM_SETHANDLE, reinterpret_cast<WPARAM>(memory), 0);
    if (reinterpret_cast<HLOCAL>(SendMessageW(box, EM_GETHANDLE, 0, 0)) != memory) {
        // Not taken (a control without buffer handles): the box keeps its own buffer.
        wipe_local(memory);
        LocalFree(memory);
        return false;
    }
    // The control hands the old buffer back to its owner rather than freeing it.
    if (previous && previous != memory) {
        wipe_local(previous);
        LocalFree(previous);
    }
    SendMessageW(box, EM_EMPTYUNDOBUFFER, 0, 0);
    return true;
}

void wipe_box_buffer(HWND box) noexcept
{
    if (!box || !IsWindow(box)) return;
    SendMessageW(box, EM_EMPTYUNDOBUFFER, 0, 0);
    if (replace_box_buffer(box, L"", 0)) return;
    // No memory for a new buffer: the box's own is wiped where it is (the control
    // frees it when it is destroyed, right after this).
    wipe_local(reinterpret_cast<HLOCAL>(SendMessageW(box, EM_GETHANDLE, 0, 0)));
}

void wipe_box_text(HWND box) noexcept
{
    if (!box || !IsWindow(box)) return;
    // One character at a time, not undoable: a control that copies the text it
    // replaces (Wine's does, into memory it frees unwiped) copies one character.
    const int length = GetWindowTextLengthW(box);
    for (int i = 0; i < length; ++i) {
        SendMessageW(box, EM_SETSEL, static_cast<WPARAM>(i), static_cast<LPARAM>(i + 1));
        SendMessageW(box, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"*"));
    }
    SetWindowTextW(box, L"");
    SendMessageW(box, EM_EMPTYUNDOBUFFER, 0, 0);
}
