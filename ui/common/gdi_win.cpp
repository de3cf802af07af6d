#include "ui/common/gdi.h"

namespace {

constexpr COLORREF kSeparatorColour = RGB(223, 223, 223);

}  // namespace

HFONT create_message_font(LONG height) noexcept
{
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = 504;  // with iPaddedBorderWidth: the structure of Vista and later
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 504, &metrics, 0);
    LOGFONTW font = metrics.lfMessageFont;
    font.lfHeight = height;
    return CreateFontIndirectW(&font);
}

void paint_band(HDC dc, const RECT& band) noexcept
{
    const Brush brush(CreateSolidBrush(kBandColour));
    const Pen pen(CreatePen(PS_SOLID, 1, kSeparatorColour));
    if (brush) FillRect(dc, &band, brush.get());
    const SelectInScope select_pen(dc, pen.get());
    MoveToEx(dc, band.left, band.top, nullptr);
    LineTo(dc, band.right, band.top);
}
