#include "ui/common/dpi.h"

#include <cstring>

int screen_dpi() noexcept
{
    static int dpi = 0;
    if (dpi == 0) {
        HDC screen = GetDC(nullptr);
        dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen) ReleaseDC(nullptr, screen);
        if (dpi <= 0) dpi = 96;
    }
    return dpi;
}

int scaled(int pixels) noexcept
{
    return MulDiv(pixels, screen_dpi(), 96);
}

namespace {

// The frame that AdjustWindowRectEx adds, at 96 DPI when the system can say so
// (Windows 10 1607 and later, Wine), otherwise this DPI's frame scaled back to 96.
SIZE frame_at_96(DWORD style, bool menu, SIZE frame_now) noexcept
{
    using AdjustForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    FARPROC found = user32 ? GetProcAddress(user32, "AdjustWindowRectExForDpi") : nullptr;
    if (found) {
        AdjustForDpi adjust;
        static_assert(sizeof adjust == sizeof found, "function pointers of one size");
        std::memcpy(&adjust, &found, sizeof adjust);
        RECT frame = {0, 0, 0, 0};
        if (adjust(&frame, style, menu ? TRUE : FALSE, 0, 96))
            return SIZE{frame.right - frame.left, frame.bottom - frame.top};
    }
    const int dpi = screen_dpi();
    return SIZE{MulDiv(frame_now.cx, 96, dpi), MulDiv(frame_now.cy, 96, dpi)};
}

}  // namespace

SIZE scaled_window_size(int width, int height, DWORD style, bool menu) noexcept
{
    RECT frame = {0, 0, 0, 0};
    AdjustWindowRectEx(&frame, style, menu ? TRUE : FALSE, 0);
    const SIZE now = {frame.right - frame.left, frame.bottom - frame.top};
    if (screen_dpi() == 96) return SIZE{width, height};
    const SIZE old = frame_at_96(style, menu, now);
    return SIZE{scaled(width - old.cx) + now.cx, scaled(height - old.cy) + now.cy};
}
