#include "ui/common/gdi.h"

namespace {

constexpr COLORREF kSeparatorColour = RGB(223, 223, 223);

}  // namespace

void paint_band(HDC dc, const RECT& band) noexcept
{
    const Brush brush(CreateSolidBrush(kBandColour));
    const Pen pen(CreatePen(PS_SOLID, 1, kSeparatorColour));
    if (brush) FillRect(dc, &band, brush.get());
    const SelectInScope select_pen(dc, pen.get());
    MoveToEx(dc, band.left, band.top, nullptr);
    LineTo(dc, band.right, band.top);
}
