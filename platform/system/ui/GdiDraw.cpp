// GDI drawing: pixels, lines and rectangles with pens, brushes and binary raster operations; block
// transfers between contexts; DIB drawing; masked images (icons and cursors).
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/system/ui/Gdi.h"
#include "platform/system/ui/PixelPool.h"
#include "platform/system/ui/User.h"

namespace lumacap::ui {
namespace {

constexpr uint32_t kNoPixel = 0xFF000000u;  // marks source pixels outside the source surface

RECT Intersect(const RECT& a, const RECT& b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.right <= r.left || r.bottom <= r.top) r = RECT{0, 0, 0, 0};
    return r;
}

bool Empty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

// Binary raster operation: R2_xxx - 1 is the truth table over (pen, destination) bit pairs.
inline uint32_t Rop2(int rop, uint32_t pen, uint32_t dst) {
    const int t = rop - 1;
    uint32_t r = 0;
    if (t & 1) r |= ~pen & ~dst;
    if (t & 2) r |= ~pen & dst;
    if (t & 4) r |= pen & ~dst;
    if (t & 8) r |= pen & dst;
    return r & 0x00FFFFFFu;
}

// Colours drawn into a monochrome surface become black or white.
inline uint32_t ForSurface(const Surface& s, uint32_t px) {
    if (!s.Monochrome()) return px;
    const int luma = ((px >> 16) & 0xFF) * 30 + ((px >> 8) & 0xFF) * 59 + (px & 0xFF) * 11;
    return luma >= 128 * 100 ? 0xFFFFFFu : 0u;
}

// Drawing with the context's current pen, brush and raster operation, in device coordinates.
class Painter {
public:
    explicit Painter(DeviceContext& dc) : m_dc(dc), m_surface(dc.surface) {
        if (m_surface)
            m_clip = Intersect(dc.clip, RECT{0, 0, m_surface->Width(), m_surface->Height()});
        if (m_surface) m_lock = std::unique_lock<std::mutex>(m_surface->Mutex());
    }
    bool Ready() const { return m_surface && !Empty(m_clip); }

    void Plot(int x, int y, uint32_t px) {
        if (x < m_clip.left || x >= m_clip.right || y < m_clip.top || y >= m_clip.bottom) return;
        uint32_t& d = m_surface->Row(y)[x];
        d = Rop2(m_dc.rop2, ForSurface(*m_surface, px), d);
    }
    void FillRop(const RECT& r, uint32_t px) {
        const RECT c = Intersect(r, m_clip);
        const uint32_t p = ForSurface(*m_surface, px);
        for (LONG y = c.top; y < c.bottom; ++y) {
            uint32_t* row = m_surface->Row(y);
            if (m_dc.rop2 == R2_COPYPEN) {
                std::fill(row + c.left, row + c.right, p);
            } else {
                for (LONG x = c.left; x < c.right; ++x) row[x] = Rop2(m_dc.rop2, p, row[x]);
            }
        }
    }
    void FillCopy(const RECT& r, uint32_t px) {
        const RECT c = Intersect(r, m_clip);
        const uint32_t p = ForSurface(*m_surface, px);
        for (LONG y = c.top; y < c.bottom; ++y)
            std::fill(m_surface->Row(y) + c.left, m_surface->Row(y) + c.right, p);
    }
    Surface& Target() { return *m_surface; }
    const RECT& Clip() const { return m_clip; }

private:
    DeviceContext& m_dc;
    std::shared_ptr<Surface> m_surface;
    RECT m_clip{0, 0, 0, 0};
    std::unique_lock<std::mutex> m_lock;
};

// On/off runs of the styled cosmetic pens, in pixels.
bool PatternOn(int style, int pos) {
    static const int dash[] = {18, 6};
    static const int dot[] = {3, 3};
    static const int dashdot[] = {9, 6, 3, 6};
    static const int dashdotdot[] = {9, 3, 3, 3, 3, 3};
    const int* runs;
    int n;
    switch (style) {
        case PS_DASH:
            runs = dash, n = 2;
            break;
        case PS_DOT:
            runs = dot, n = 2;
            break;
        case PS_DASHDOT:
            runs = dashdot, n = 4;
            break;
        case PS_DASHDOTDOT:
            runs = dashdotdot, n = 6;
            break;
        default:
            return true;
    }
    int period = 0;
    for (int i = 0; i < n; ++i) period += runs[i];
    int p = pos % period;
    for (int i = 0; i < n; ++i) {
        if (p < runs[i]) return (i % 2) == 0;
        p -= runs[i];
    }
    return true;
}

struct PenDraw {
    Painter& painter;
    const DeviceContext& dc;
    Pen pen;
    int pos = 0;  // position in the style pattern, continuous along a figure

    void Point(int x, int y) {
        if (pen.style == PS_NULL) return;
        if (pen.width > 1) {
            const int lo = -(pen.width / 2), hi = (pen.width - 1) / 2;
            painter.FillRop(RECT{x + lo, y + lo, x + hi + 1, y + hi + 1},
                            PixelFromColor(pen.color));
            return;
        }
        if (PatternOn(pen.style, pos++)) {
            painter.Plot(x, y, PixelFromColor(pen.color));
        } else if (dc.bkMode == OPAQUE) {
            painter.Plot(x, y, PixelFromColor(dc.bkColor));  // gaps take the background colour
        }
    }
    // From (x0, y0) towards (x1, y1), the last point excluded, as LineTo draws.
    void Line(int x0, int y0, int x1, int y1) {
        const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
        const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        int err = dx + dy;
        while (x0 != x1 || y0 != y1) {
            Point(x0, y0);
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x0 += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y0 += sy;
            }
        }
    }
};

Pen CurrentPen(const DeviceContext& dc) {
    auto p = LookupGdi<Pen>(dc.pen, GdiKind::Pen);
    if (p) return *p;
    Pen solid;
    return solid;
}

// Copies pixels without their pad bytes, four at a time (the compiler's vector extension works
// wherever the compiler does).
void CopyPixels(uint32_t* out, const uint32_t* in, size_t n) {
    typedef uint32_t Lanes __attribute__((vector_size(16)));
    const Lanes mask = {0x00FFFFFFu, 0x00FFFFFFu, 0x00FFFFFFu, 0x00FFFFFFu};
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        Lanes v;
        std::memcpy(&v, in + i, sizeof(v));
        v &= mask;
        std::memcpy(out + i, &v, sizeof(v));
    }
    for (; i < n; ++i) out[i] = in[i] & 0x00FFFFFFu;
}

// Source pixels read for a transfer: rows of the rectangle's width, packed. They live either in
// a block of their own or in the surface the screen was composed into, whichever was cheaper.
struct SourcePixels {
    std::shared_ptr<uint32_t[]> block;
    std::shared_ptr<Surface> surface;
    uint32_t* data = nullptr;
    size_t size = 0;
    // Whether kNoPixel marks pixels outside the source. A read of the screen has none: every
    // pixel is one, whatever its pad byte holds (a real display leaves it as clients drew it).
    bool sentinels = true;
    uint32_t& operator[](size_t i) { return data[i]; }
    uint32_t* begin() { return data; }
    uint32_t* end() { return data + size; }
};

// Source pixels of a rectangle in a context's device coordinates; pixels outside its surface are
// kNoPixel. Window and screen contexts read what the screen shows. Empty (null data) only when
// memory ran out.
SourcePixels ReadSource(const DeviceContext& src, const RECT& r, bool* mono) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
    *mono = false;
    SourcePixels out;
    if (src.dcKind != DcKind::Memory) {
        // The composed surface is packed rows of exactly this rectangle: hand it out as it is.
        out.surface = ComposeForRead(src.dcKind == DcKind::Window ? src.hwnd : nullptr, r);
        if (out.surface && out.surface->Stride() == static_cast<ptrdiff_t>(w) * 4) {
            out.data = out.surface->Row(0);
            out.size = count;
            out.sentinels = false;
            return out;
        }
        out.surface.reset();
    }
    out.block = TakePixels(count);
    if (!out.block) return out;
    out.data = out.block.get();
    out.size = count;
    std::fill(out.begin(), out.end(), kNoPixel);
    if (src.dcKind == DcKind::Memory && src.surface) {
        *mono = src.surface->Monochrome();
        const RECT c = Intersect(r, RECT{0, 0, src.surface->Width(), src.surface->Height()});
        std::lock_guard<std::mutex> lock(src.surface->Mutex());
        // Without their pad bytes: a DIB section's bits may have them set (opaque black is
        // 0xFF000000), and they must not pass for pixels outside the source.
        for (LONG y = c.top; y < c.bottom; ++y)
            CopyPixels(&out[static_cast<size_t>(y - r.top) * w + (c.left - r.left)],
                       src.surface->Row(y) + c.left, static_cast<size_t>(c.right - c.left));
    }
    return out;
}

// Ternary raster operations with a source (the pattern ones use the brush colour).
bool RopNeedsSource(DWORD rop) {
    switch (rop & 0x00FFFFFF) {
        case PATCOPY:
        case BLACKNESS:
        case WHITENESS:
        case DSTINVERT:
        case 0x005A0049:  // PATINVERT
            return false;
        default:
            return true;
    }
}

bool KnownRop(DWORD rop) {
    switch (rop & 0x00FFFFFF) {
        case SRCCOPY:
        case SRCPAINT:
        case SRCAND:
        case SRCINVERT:
        case SRCERASE:
        case NOTSRCCOPY:
        case DSTINVERT:
        case PATCOPY:
        case BLACKNESS:
        case WHITENESS:
        case 0x005A0049:
            return true;
        default:
            return false;
    }
}

inline uint32_t ApplyRop(DWORD rop, uint32_t s, uint32_t d, uint32_t pat) {
    switch (rop & 0x00FFFFFF) {
        case SRCCOPY:
            return s;
        case SRCPAINT:
            return s | d;
        case SRCAND:
            return s & d;
        case SRCINVERT:
            return s ^ d;
        case SRCERASE:
            return s & ~d & 0xFFFFFF;
        case NOTSRCCOPY:
            return ~s & 0xFFFFFF;
        case DSTINVERT:
            return ~d & 0xFFFFFF;
        case PATCOPY:
            return pat;
        case BLACKNESS:
            return 0;
        case WHITENESS:
            return 0xFFFFFF;
        case 0x005A0049:
            return pat ^ d;
        default:
            return d;
    }
}

// Writes `src` (rows of `r`'s width, kNoPixel skipped when `sentinels`) onto the context's surface
// at device rectangle `r`, clipped, through `rop`. Monochrome sources use the destination's text
// and background colours; monochrome destinations take white where the source shows `srcBk`.
// Source pad bytes never reach the destination.
void Transfer(DeviceContext& dst, const RECT& r, const uint32_t* src, bool srcMono, COLORREF srcBk,
              DWORD rop, bool sentinels = true) {
    if (!dst.surface) return;
    Surface& s = *dst.surface;
    const RECT c = Intersect(Intersect(r, dst.clip), RECT{0, 0, s.Width(), s.Height()});
    if (Empty(c)) return;
    COLORREF brush = 0;
    bool nullBrush = false;
    BrushColor(dst.brush, &brush, &nullBrush);
    const uint32_t pat = ForSurface(s, PixelFromColor(brush));
    const uint32_t fg = PixelFromColor(dst.textColor), bg = PixelFromColor(dst.bkColor);
    const uint32_t srcBkPx = PixelFromColor(srcBk);
    const int w = r.right - r.left;
    std::lock_guard<std::mutex> lock(s.Mutex());
    if (src && (rop & 0x00FFFFFF) == SRCCOPY && !srcMono && !s.Monochrome()) {
        // The common copy, in a loop the compiler turns into vector instructions.
        for (LONG y = c.top; y < c.bottom; ++y) {
            uint32_t* row = s.Row(y) + c.left;
            const uint32_t* in = src + static_cast<size_t>(y - r.top) * w + (c.left - r.left);
            const LONG n = c.right - c.left;
            if (sentinels) {
                for (LONG x = 0; x < n; ++x)
                    row[x] = in[x] == kNoPixel ? row[x] : (in[x] & 0x00FFFFFFu);
            } else {
                CopyPixels(row, in, static_cast<size_t>(n));
            }
        }
        return;
    }
    for (LONG y = c.top; y < c.bottom; ++y) {
        uint32_t* row = s.Row(y);
        const uint32_t* in = src ? src + static_cast<size_t>(y - r.top) * w : nullptr;
        for (LONG x = c.left; x < c.right; ++x) {
            uint32_t sp = 0;
            if (in) {
                sp = in[x - r.left];
                if (sentinels && sp == kNoPixel) continue;
                if (srcMono && !s.Monochrome())
                    sp = sp ? bg : fg;
                else if (!srcMono && s.Monochrome())
                    sp = sp == srcBkPx ? 0xFFFFFFu : 0u;
            }
            row[x] = ApplyRop(rop, sp, row[x], pat) & 0x00FFFFFFu;
        }
    }
}

RECT DeviceRect(const DeviceContext& dc, int x, int y, int w, int h) {
    return RECT{dc.DevX(x), dc.DevY(y), dc.DevX(x) + w, dc.DevY(y) + h};
}

// Scales `srcRect` of `src` into the device rectangle `dst` (sizes may be negative: mirror),
// clipped, through `rop`.
bool StretchInto(DeviceContext& dc, const PixelView& src, RECT srcRect, RECT dst, bool srcMono,
                 COLORREF srcBk, DWORD rop, ResampleFilter filter) {
    bool mirrorX = false, mirrorY = false;
    if (dst.right < dst.left) std::swap(dst.left, dst.right), mirrorX = !mirrorX;
    if (dst.bottom < dst.top) std::swap(dst.top, dst.bottom), mirrorY = !mirrorY;
    if (srcRect.right < srcRect.left) std::swap(srcRect.left, srcRect.right), mirrorX = !mirrorX;
    if (srcRect.bottom < srcRect.top) std::swap(srcRect.top, srcRect.bottom), mirrorY = !mirrorY;
    if (Empty(dst) || Empty(srcRect) || !dc.surface) return true;
    const RECT clip =
        Intersect(Intersect(dst, dc.clip), RECT{0, 0, dc.surface->Width(), dc.surface->Height()});
    if (Empty(clip)) return true;

    PixelView from = src;
    std::vector<uint32_t> flipped;
    if (mirrorX || mirrorY) {
        const int w = srcRect.right - srcRect.left, h = srcRect.bottom - srcRect.top;
        flipped.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
        for (int y = 0; y < h; ++y) {
            const int sy = srcRect.top + (mirrorY ? h - 1 - y : y);
            const uint8_t* row = src.data + static_cast<ptrdiff_t>(sy) * src.stride;
            for (int x = 0; x < w; ++x) {
                const int sx = srcRect.left + (mirrorX ? w - 1 - x : x);
                const uint8_t* p = row + static_cast<ptrdiff_t>(sx) * (src.bitsPerPixel / 8);
                flipped[static_cast<size_t>(y) * w + x] =
                    p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16);
            }
        }
        from = PixelView{reinterpret_cast<uint8_t*>(flipped.data()), static_cast<ptrdiff_t>(w) * 4,
                         w, h, 32};
        srcRect = RECT{0, 0, w, h};
    }
    const int cw = clip.right - clip.left, ch = clip.bottom - clip.top;
    std::vector<uint32_t> out(static_cast<size_t>(cw) * static_cast<size_t>(ch));
    ResampleJob job;
    job.src = from;
    job.srcRect = srcRect;
    job.dst = PixelView{reinterpret_cast<uint8_t*>(out.data()), static_cast<ptrdiff_t>(cw) * 4, cw,
                        ch, 32};
    job.dstRect = RECT{dst.left - clip.left, dst.top - clip.top, dst.right - clip.left,
                       dst.bottom - clip.top};
    job.clip = RECT{0, 0, cw, ch};
    job.filter = filter;
    job.widenForReduction = filter != ResampleFilter::Nearest;
    if (!Resample(job)) return false;
    Transfer(dc, clip, out.data(), srcMono, srcBk, rop, false);
    return true;
}

// A DIB's pixels as a view; false for formats GDI does not draw.
bool DibView(const BITMAPINFO* bmi, const void* bits, PixelView* view) {
    if (!bmi || !bits) return false;
    const BITMAPINFOHEADER& h = bmi->bmiHeader;
    if ((h.biBitCount != 24 && h.biBitCount != 32) || h.biCompression != BI_RGB || h.biWidth <= 0 ||
        h.biHeight == 0)
        return false;
    const int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    const ptrdiff_t stride = GDI_WIDTHBYTES(static_cast<ptrdiff_t>(h.biWidth) * h.biBitCount);
    auto* base = static_cast<uint8_t*>(const_cast<void*>(bits));
    if (h.biHeight > 0) {
        *view = PixelView{base + (height - 1) * stride, -stride, h.biWidth, height, h.biBitCount};
    } else {
        *view = PixelView{base, stride, h.biWidth, height, h.biBitCount};
    }
    return true;
}

}  // namespace

void DrawMaskedImage(DeviceContext& dc, int x, int y, int w, int h, const uint32_t* andMask,
                     const uint32_t* xorImage, UINT flags) {
    if (!dc.surface) return;
    Surface& s = *dc.surface;
    const RECT r{x, y, x + w, y + h};
    const RECT c = Intersect(Intersect(r, dc.clip), RECT{0, 0, s.Width(), s.Height()});
    std::lock_guard<std::mutex> lock(s.Mutex());
    for (LONG py = c.top; py < c.bottom; ++py) {
        uint32_t* row = s.Row(py);
        const size_t base = static_cast<size_t>(py - y) * w;
        for (LONG px = c.left; px < c.right; ++px) {
            uint32_t d = row[px];
            const size_t i = base + (px - x);
            if (flags & DI_MASK) d &= andMask[i];
            if (flags & DI_IMAGE) d = (flags & DI_MASK) ? (d ^ xorImage[i]) : xorImage[i];
            row[px] = ForSurface(s, d & 0x00FFFFFFu);
        }
    }
}

}  // namespace lumacap::ui

using namespace lumacap::ui;

int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
    auto dc = LookupDC(hDC);
    COLORREF color;
    bool isNull;
    if (!dc || !lprc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!BrushColor(hbr, &color, &isNull)) {
        if (isNull) return 1;
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    Painter p(*dc);
    if (p.Ready())
        p.FillCopy(DeviceRect(*dc, lprc->left, lprc->top, lprc->right - lprc->left,
                              lprc->bottom - lprc->top),
                   PixelFromColor(color));
    return 1;
}

int WINAPI FrameRect(HDC hDC, const RECT* lprc, HBRUSH hbr) {
    auto dc = LookupDC(hDC);
    COLORREF color;
    bool isNull;
    if (!dc || !lprc || !BrushColor(hbr, &color, &isNull)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    Painter p(*dc);
    if (!p.Ready()) return 1;
    const RECT r =
        DeviceRect(*dc, lprc->left, lprc->top, lprc->right - lprc->left, lprc->bottom - lprc->top);
    if (Empty(r)) return 1;
    const uint32_t px = PixelFromColor(color);
    p.FillCopy(RECT{r.left, r.top, r.right, r.top + 1}, px);
    p.FillCopy(RECT{r.left, r.bottom - 1, r.right, r.bottom}, px);
    p.FillCopy(RECT{r.left, r.top, r.left + 1, r.bottom}, px);
    p.FillCopy(RECT{r.right - 1, r.top, r.right, r.bottom}, px);
    return 1;
}

COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color) {
    auto dc = LookupDC(hdc);
    if (!dc) return CLR_INVALID;
    Painter p(*dc);
    const POINT d{dc->DevX(x), dc->DevY(y)};
    if (!p.Ready() || !PtInRect(&p.Clip(), d)) return CLR_INVALID;
    p.Target().Row(d.y)[d.x] = ForSurface(p.Target(), PixelFromColor(color));
    return ColorFromPixel(p.Target().Row(d.y)[d.x]);
}

COLORREF WINAPI GetPixel(HDC hdc, int x, int y) {
    auto dc = LookupDC(hdc);
    if (!dc) return CLR_INVALID;
    const POINT d{dc->DevX(x), dc->DevY(y)};
    if (!PtInRect(&dc->clip, d)) return CLR_INVALID;
    bool mono;
    SourcePixels px = ReadSource(*dc, RECT{d.x, d.y, d.x + 1, d.y + 1}, &mono);
    return !px.data || (px.sentinels && px[0] == kNoPixel) ? CLR_INVALID : ColorFromPixel(px[0]);
}

BOOL WINAPI MoveToEx(HDC hdc, int x, int y, LPPOINT lppt) {
    auto dc = LookupDC(hdc);
    if (!dc) return FALSE;
    if (lppt) *lppt = dc->curPos;
    dc->curPos = POINT{x, y};
    return TRUE;
}

BOOL WINAPI LineTo(HDC hdc, int x, int y) {
    auto dc = LookupDC(hdc);
    if (!dc) return FALSE;
    {
        Painter p(*dc);
        if (p.Ready()) {
            PenDraw pen{p, *dc, CurrentPen(*dc)};
            pen.Line(dc->DevX(dc->curPos.x), dc->DevY(dc->curPos.y), dc->DevX(x), dc->DevY(y));
        }
    }
    dc->curPos = POINT{x, y};
    return TRUE;
}

BOOL WINAPI Rectangle(HDC hdc, int left, int top, int right, int bottom) {
    auto dc = LookupDC(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    int l = dc->DevX(std::min(left, right)), r = dc->DevX(std::max(left, right));
    int t = dc->DevY(std::min(top, bottom)), b = dc->DevY(std::max(top, bottom));
    Painter p(*dc);
    if (!p.Ready()) return TRUE;
    COLORREF brushColor = 0;
    bool nullBrush = false;
    const bool hasBrush = BrushColor(dc->brush, &brushColor, &nullBrush);
    const Pen pen = CurrentPen(*dc);
    if (pen.style == PS_NULL) {
        // Without a pen the filled area is one pixel smaller each way, as on Windows.
        if (hasBrush) p.FillRop(RECT{l, t, r - 1, b - 1}, PixelFromColor(brushColor));
        return TRUE;
    }
    if (r - l < 1 || b - t < 1) return TRUE;
    if (pen.width == 1) {
        if (hasBrush) p.FillRop(RECT{l + 1, t + 1, r - 1, b - 1}, PixelFromColor(brushColor));
        PenDraw draw{p, *dc, pen};
        // One continuous figure, clockwise from the top-left corner, so dotted patterns flow round.
        for (int x = l; x < r; ++x) draw.Point(x, t);
        for (int y = t + 1; y < b; ++y) draw.Point(r - 1, y);
        if (b - 1 > t)
            for (int x = r - 2; x >= l; --x) draw.Point(x, b - 1);
        if (r - 1 > l)
            for (int y = b - 2; y > t; --y) draw.Point(l, y);
        return TRUE;
    }
    // Wide pens are centred on the path through l..r-1, t..b-1 (inside the frame for
    // PS_INSIDEFRAME).
    const int w = pen.width;
    RECT outer, inner;
    if (pen.style == PS_INSIDEFRAME) {
        outer = RECT{l, t, r, b};
        inner = RECT{l + w, t + w, r - w, b - w};
    } else {
        const int lo = w / 2, hi = (w - 1) / 2;
        outer = RECT{l - lo, t - lo, r - 1 + hi + 1, b - 1 + hi + 1};
        inner = RECT{l + hi + 1, t + hi + 1, r - 1 - lo, b - 1 - lo};
    }
    if (hasBrush && !Empty(inner)) p.FillRop(inner, PixelFromColor(brushColor));
    const uint32_t px = PixelFromColor(pen.color);
    if (Empty(inner)) {
        p.FillRop(outer, px);
    } else {
        p.FillRop(RECT{outer.left, outer.top, outer.right, inner.top}, px);
        p.FillRop(RECT{outer.left, inner.bottom, outer.right, outer.bottom}, px);
        p.FillRop(RECT{outer.left, inner.top, inner.left, inner.bottom}, px);
        p.FillRop(RECT{inner.right, inner.top, outer.right, inner.bottom}, px);
    }
    return TRUE;
}

BOOL WINAPI PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop) {
    auto dc = LookupDC(hdc);
    if (!dc || RopNeedsSource(rop)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    RECT r = DeviceRect(*dc, x, y, w, h);
    if (r.right < r.left) std::swap(r.left, r.right);
    if (r.bottom < r.top) std::swap(r.top, r.bottom);
    Transfer(*dc, r, nullptr, false, 0, rop);
    return TRUE;
}

BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
    auto dc = LookupDC(hdc);
    if (!dc || !KnownRop(rop)) {
        SetLastError(dc ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (cx <= 0 || cy <= 0) return TRUE;
    const RECT d = DeviceRect(*dc, x, y, cx, cy);
    if (!RopNeedsSource(rop)) {
        Transfer(*dc, d, nullptr, false, 0, rop);
        return TRUE;
    }
    auto src = LookupDC(hdcSrc);
    if (!src) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Only the part that can land inside the destination's clip is read.
    const RECT visible = Intersect(d, dc->clip);
    if (Empty(visible)) return TRUE;
    const RECT s{src->DevX(x1) + (visible.left - d.left), src->DevY(y1) + (visible.top - d.top),
                 src->DevX(x1) + (visible.right - d.left),
                 src->DevY(y1) + (visible.bottom - d.top)};
    // Whole rows of the screen copied into a bitmap whose memory the display shares (a
    // recording's capture every frame) are written there by the display itself.
    Surface* out = dc->surface.get();
    if ((rop & 0x00FFFFFF) == SRCCOPY && src->dcKind != DcKind::Memory && out && out->Memory() &&
        !out->Monochrome() && visible.left == 0 && visible.right == out->Width() &&
        visible.top >= 0 && visible.bottom <= out->Height() &&
        ReadScreenInto(src->dcKind == DcKind::Window ? src->hwnd : nullptr, s, *out, visible.top))
        return TRUE;
    bool mono;
    SourcePixels pixels = ReadSource(*src, s, &mono);
    if (!pixels.data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    Transfer(*dc, visible, pixels.data, mono, src->bkColor, rop, pixels.sentinels);
    return TRUE;
}

BOOL WINAPI StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc,
                       int xSrc, int ySrc, int wSrc, int hSrc, DWORD rop) {
    auto dc = LookupDC(hdcDest);
    auto src = LookupDC(hdcSrc);
    if (!dc || !src || !KnownRop(rop)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    RECT s{src->DevX(xSrc), src->DevY(ySrc), src->DevX(xSrc) + wSrc, src->DevY(ySrc) + hSrc};
    RECT sn{std::min(s.left, s.right), std::min(s.top, s.bottom), std::max(s.left, s.right),
            std::max(s.top, s.bottom)};
    if (Empty(sn)) return TRUE;
    bool mono;
    SourcePixels pixels = ReadSource(*src, sn, &mono);
    if (!pixels.data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (pixels.sentinels)
        for (uint32_t& p : pixels)
            if (p == kNoPixel) p = 0;
    const int w = sn.right - sn.left, h = sn.bottom - sn.top;
    const PixelView view{reinterpret_cast<uint8_t*>(pixels.data), static_cast<ptrdiff_t>(w) * 4, w,
                         h, 32};
    RECT local{0, 0, w, h};
    if (wSrc < 0) std::swap(local.left, local.right);
    if (hSrc < 0) std::swap(local.top, local.bottom);
    const RECT dst{dc->DevX(xDest), dc->DevY(yDest), dc->DevX(xDest) + wDest,
                   dc->DevY(yDest) + hDest};
    const ResampleFilter filter =
        dc->stretchMode == HALFTONE ? ResampleFilter::Bilinear : ResampleFilter::Nearest;
    return StretchInto(*dc, view, local, dst, mono, src->bkColor, rop, filter) ? TRUE : FALSE;
}

int WINAPI StretchDIBits(HDC hdc, int xDest, int yDest, int DestWidth, int DestHeight, int xSrc,
                         int ySrc, int SrcWidth, int SrcHeight, const void* lpBits,
                         const BITMAPINFO* lpbmi, UINT iUsage, DWORD rop) {
    auto dc = LookupDC(hdc);
    PixelView view;
    if (!dc || iUsage != DIB_RGB_COLORS || (rop & 0x00FFFFFF) != SRCCOPY ||
        !DibView(lpbmi, lpBits, &view)) {
        SetLastError(dc ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return 0;
    }
    // The source rectangle of a bottom-up DIB is measured from its bottom-left corner.
    const bool bottomUp = lpbmi->bmiHeader.biHeight > 0;
    const int x0 = std::min(xSrc, xSrc + SrcWidth), x1 = std::max(xSrc, xSrc + SrcWidth);
    const int y0 = std::min(ySrc, ySrc + SrcHeight), y1 = std::max(ySrc, ySrc + SrcHeight);
    if (x0 < 0 || y0 < 0 || x1 > view.width || y1 > view.height || x0 == x1 || y0 == y1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    RECT s = bottomUp ? RECT{x0, view.height - y1, x1, view.height - y0} : RECT{x0, y0, x1, y1};
    if (SrcWidth < 0) std::swap(s.left, s.right);
    if (SrcHeight < 0) std::swap(s.top, s.bottom);
    const RECT dst{dc->DevX(xDest), dc->DevY(yDest), dc->DevX(xDest) + DestWidth,
                   dc->DevY(yDest) + DestHeight};
    const ResampleFilter filter =
        dc->stretchMode == HALFTONE ? ResampleFilter::Bilinear : ResampleFilter::Nearest;
    if (!StretchInto(*dc, view, s, dst, false, 0, SRCCOPY, filter)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return y1 - y0;
}

int WINAPI SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc,
                             UINT StartScan, UINT cLines, const void* lpvBits,
                             const BITMAPINFO* lpbmi, UINT ColorUse) {
    auto dc = LookupDC(hdc);
    PixelView view;
    if (!dc || ColorUse != DIB_RGB_COLORS || !lpbmi || !lpvBits) {
        SetLastError(dc ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return 0;
    }
    // The bits hold only scan lines StartScan .. StartScan + cLines - 1.
    BITMAPINFO partial = *lpbmi;
    const bool bottomUp = lpbmi->bmiHeader.biHeight > 0;
    partial.bmiHeader.biHeight = bottomUp ? static_cast<LONG>(cLines) : -static_cast<LONG>(cLines);
    if (cLines == 0 || !DibView(&partial, lpvBits, &view) || w > 0x7FFFFFFF || h > 0x7FFFFFFF) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!dc->surface) return static_cast<int>(cLines);
    Surface& s = *dc->surface;
    const RECT d = DeviceRect(*dc, xDest, yDest, static_cast<int>(w), static_cast<int>(h));
    const RECT c = Intersect(Intersect(d, dc->clip), RECT{0, 0, s.Width(), s.Height()});
    const int bytes = view.bitsPerPixel / 8;
    std::lock_guard<std::mutex> lock(s.Mutex());
    for (LONG y = c.top; y < c.bottom; ++y) {
        const int j = y - d.top;
        // Scan line number of this row, and its index among the lines supplied (top row first).
        const int line = bottomUp ? ySrc + (static_cast<int>(h) - 1 - j) : ySrc + j;
        const int index = line - static_cast<int>(StartScan);
        if (index < 0 || index >= static_cast<int>(cLines)) continue;
        const int memRow = bottomUp ? static_cast<int>(cLines) - 1 - index : index;
        const uint8_t* in = view.data + static_cast<ptrdiff_t>(memRow) * view.stride;
        uint32_t* out = s.Row(y);
        for (LONG x = c.left; x < c.right; ++x) {
            const int sx = xSrc + (x - d.left);
            if (sx < 0 || sx >= view.width) continue;
            const uint8_t* p = in + static_cast<ptrdiff_t>(sx) * bytes;
            out[x] = ForSurface(s, p[0] | (p[1] << 8) | (static_cast<uint32_t>(p[2]) << 16));
        }
    }
    return static_cast<int>(cLines);
}
