// GDI's objects behind their handles: pens, brushes, bitmaps and device contexts.
//
// Handles are opaque values looked up in one table; a looked-up object is held by shared_ptr, so a
// handle deleted while another thread draws with it stays alive until that drawing ends.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include <windows.h>

#include "platform/system/ui/Surface.h"

namespace lumacap::ui {

enum class GdiKind { Pen, Brush, Bitmap, DC };

struct GdiObject {
    explicit GdiObject(GdiKind k) : kind(k) {}
    virtual ~GdiObject() = default;
    GdiKind kind;
    bool stock = false;
};

struct Pen final : GdiObject {
    Pen() : GdiObject(GdiKind::Pen) {}
    int style = PS_SOLID;
    int width = 1;
    COLORREF color = 0;
};

struct Brush final : GdiObject {
    Brush() : GdiObject(GdiKind::Brush) {}
    bool null = false;
    COLORREF color = 0;
};

struct Bitmap final : GdiObject {
    Bitmap() : GdiObject(GdiKind::Bitmap) {}
    std::shared_ptr<Surface> surface;
    HDC selectedInto = nullptr;
    void* dibBits = nullptr;  // DIB sections: the bits the caller was given
};

enum class DcKind { Memory, Window, Screen };

struct DeviceContext final : GdiObject {
    DeviceContext() : GdiObject(GdiKind::DC) {}
    DcKind dcKind = DcKind::Memory;
    HWND hwnd = nullptr;
    bool fromBeginPaint = false;
    std::shared_ptr<Surface> surface;
    HBITMAP bitmap = nullptr;  // memory contexts: the selected bitmap
    HBITMAP defaultBitmap =
        nullptr;  // memory contexts: the 1 x 1 monochrome bitmap they start with
    HPEN pen = nullptr;
    HBRUSH brush = nullptr;
    int rop2 = R2_COPYPEN;
    int bkMode = OPAQUE;
    int stretchMode = BLACKONWHITE;
    int mapMode = MM_TEXT;
    COLORREF bkColor = RGB(255, 255, 255);
    COLORREF textColor = RGB(0, 0, 0);
    POINT windowOrg{0, 0};
    POINT viewportOrg{0, 0};
    POINT curPos{0, 0};
    RECT baseClip{0, 0, 0, 0};  // device coordinates: the surface or the paint area
    RECT clip{0, 0, 0, 0};      // baseClip narrowed by IntersectClipRect
    // Paint contexts of an invalid region that is not one rectangle: the pixels of the paint
    // area outside the region, put back when the context is released.
    std::vector<std::pair<RECT, std::vector<uint32_t>>> outsideRegion;

    // Logical to device coordinates.
    int DevX(int x) const { return x - windowOrg.x + viewportOrg.x; }
    int DevY(int y) const { return y - windowOrg.y + viewportOrg.y; }
};

HGDIOBJ AddGdiObject(std::shared_ptr<GdiObject> object);
// Objects that are not stock objects, for leak checks.
long GdiObjectCount();
std::shared_ptr<GdiObject> LookupGdiObject(HGDIOBJ handle);
template <class T>
std::shared_ptr<T> LookupGdi(HGDIOBJ handle, GdiKind kind) {
    auto o = LookupGdiObject(handle);
    if (!o || o->kind != kind) return nullptr;
    return std::static_pointer_cast<T>(o);
}
inline std::shared_ptr<DeviceContext> LookupDC(HDC hdc) {
    return LookupGdi<DeviceContext>(reinterpret_cast<HGDIOBJ>(hdc), GdiKind::DC);
}

// A context drawing into a window's backing surface (or, for a null window, the desktop), with
// `clip` in device coordinates. Released with ReleaseWindowDC.
HDC CreateWindowDC(HWND hwnd, std::shared_ptr<Surface> surface, const RECT& clip,
                   bool fromBeginPaint);
bool ReleaseWindowDC(HDC hdc);
// Confines what a paint context changes to the rectangles of `region` (device coordinates).
void LimitToRegion(HDC hdc, const std::vector<RECT>& region);

// A bitmap wrapping `surface`.
HBITMAP CreateBitmapForSurface(std::shared_ptr<Surface> surface);
std::shared_ptr<Surface> BitmapSurface(HBITMAP hbm);

// The solid colour of a brush handle, including the (HBRUSH)(COLOR_xxx + 1) form; false for the
// null brush or an invalid handle.
bool BrushColor(HBRUSH hbr, COLORREF* color, bool* isNull);

// Fills a device rectangle (clipped to the surface and `clip`) with a pixel value.
void FillSurface(Surface& s, const RECT& deviceRect, const RECT& clip, uint32_t pixel);

// Draws a cursor's mask and colour images, each given as rows of pixels, at device x, y.
void DrawMaskedImage(DeviceContext& dc, int x, int y, int w, int h, const uint32_t* andMask,
                     const uint32_t* xorImage, UINT flags);

}  // namespace lumacap::ui
