#pragma once
// Sizes drawn for a 96-DPI screen, scaled to the screen's own DPI (the program is
// DPI-aware, so the system does not stretch its windows). At 96 DPI every size is
// returned unchanged.

#include <windows.h>

// The screen's vertical DPI (LOGPIXELSY), read once per process; 96 when unknown.
int screen_dpi() noexcept;
// `pixels` at 96 DPI on this screen, rounded to the nearest pixel.
int scaled(int pixels) noexcept;
// The outer size of a top-level window of `style` (with a menu bar when `menu`) whose
// 96-DPI outer size was `width` x `height`: its client area scaled, the system's frame
// (of this DPI) around it. Exactly `width` x `height` at 96 DPI.
SIZE scaled_window_size(int width, int height, DWORD style, bool menu) noexcept;
