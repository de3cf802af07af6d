#pragma once
// Owners for GDI objects and device contexts, the message font, and the painter of
// the grey band that the message dialog and the password windows share.

#include <windows.h>

// Owns one GDI object (a font, brush, pen or bitmap) and deletes it when it goes.
template <class Handle>
class GdiObject {
public:
    GdiObject() noexcept = default;
    explicit GdiObject(Handle handle) noexcept : handle_(handle) {}
    GdiObject(GdiObject&& other) noexcept : handle_(other.release()) {}
    GdiObject& operator=(GdiObject&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    ~GdiObject() { reset(); }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != nullptr; }
    // Deletes the object held and takes `handle` instead.
    void reset(Handle handle = nullptr) noexcept
    {
        if (handle_) DeleteObject(handle_);
        handle_ = handle;
    }
    Handle release() noexcept
    {
        const Handle handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    Handle handle_ = nullptr;
};

using Font = GdiObject<HFONT>;
using Brush = GdiObject<HBRUSH>;
using Pen = GdiObject<HPEN>;
using Bitmap = GdiObject<HBITMAP>;

// Selects `object` into `dc` for the scope and puts the one it replaced back at the
// end. A null device context or object selects nothing.
class SelectInScope {
public:
    SelectInScope(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(dc && object ? SelectObject(dc, object) : nullptr) {}
    ~SelectInScope()
    {
        if (old_) SelectObject(dc_, old_);
    }
    SelectInScope(const SelectInScope&) = delete;
    SelectInScope& operator=(const SelectInScope&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// A memory device context compatible with `dc`, deleted when it goes (null when it
// could not be created).
class MemoryDc {
public:
    explicit MemoryDc(HDC dc) noexcept : dc_(CreateCompatibleDC(dc)) {}
    ~MemoryDc()
    {
        if (dc_) DeleteDC(dc_);
    }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    HDC get() const noexcept { return dc_; }

private:
    HDC dc_;
};

// The system's message font at `height` pixels, which the message dialog, the
// password windows and the list windows draw their texts in. The caller deletes it.
HFONT create_message_font(LONG height) noexcept;

// The light grey of the bottom bands.
inline constexpr COLORREF kBandColour = RGB(240, 240, 240);

// Fills `band` with the light grey of the bottom bands and draws the separator line
// along its top edge.
void paint_band(HDC dc, const RECT& band) noexcept;
