#pragma once
// The memory behind the edit boxes that hold secrets. The editor box works in a
// buffer of the program's (EM_SETHANDLE over LocalAlloc'd memory), with room to grow,
// which is wiped before the box takes other text and before it is destroyed; the
// password boxes are overwritten in place before they are emptied or destroyed.
// What the system copies on its own (a buffer the control outgrows and reallocates,
// the undo buffer's storage, drawing caches) stays out of reach.

#include <windows.h>

#include <cstddef>

// Puts `length` characters of `text` into the multi-line box `box` in a new buffer
// (LocalAlloc, twice the text plus room for typing), then wipes and frees the buffer
// it replaces and empties the undo buffer. False, with the box as it was, when the
// memory cannot be had.
bool replace_box_buffer(HWND box, const wchar_t* text, std::size_t length) noexcept;

// Before the multi-line box `box` is destroyed: its text goes, its buffer wiped.
void wipe_box_buffer(HWND box) noexcept;

// A single-line box: its text is overwritten with as many other characters, in the
// same memory, and then emptied.
void wipe_box_text(HWND box) noexcept;
