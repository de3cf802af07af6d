#include "ui/dpi.h"

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

SIZE scaled_window_size(int width, int height, DWORD style, bool menu) noexcept
{
    RECT frame = {0, 0, 0, 0};
    AdjustWindowRectEx(&frame, style, menu ? TRUE : FALSE, 0);
    const int frame_width = frame.right - frame.left;
    const int frame_height = frame.bottom - frame.top;
    SIZE size;
    size.cx = scaled(width - frame_width) + frame_width;
    size.cy = scaled(height - frame_height) + frame_height;
    return size;
}
