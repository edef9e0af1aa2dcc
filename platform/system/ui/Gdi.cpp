// GDI objects and device-context state: the handle table, stock objects, pens, brushes, bitmaps,
// contexts, selection, modes, origins and clipping.
#include "platform/system/ui/Gdi.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "platform/system/ui/PixelPool.h"
#include "platform/system/ui/User.h"

namespace lumacap::ui {
namespace {

class GdiTable {
public:
    static GdiTable& Get() {
        static GdiTable* table = new GdiTable();  // outlives static destruction, like USER's state
        return *table;
    }
    HGDIOBJ Add(std::shared_ptr<GdiObject> o) {
        std::lock_guard<std::mutex> lock(m_mutex);
        const uintptr_t h = m_next;
        m_next += 4;
        if (m_spareNodes.empty()) {
            m_objects[h] = std::move(o);
        } else {
            Map::node_type node = std::move(m_spareNodes.back());
            m_spareNodes.pop_back();
            node.key() = h;
            node.mapped() = std::move(o);
            m_objects.insert(std::move(node));
        }
        return reinterpret_cast<HGDIOBJ>(h);
    }
    // A device context kept from one that was deleted or released, reset; null when none is.
    std::shared_ptr<DeviceContext> TakeSpareDC() {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_spareDCs.empty()) return nullptr;
        std::shared_ptr<DeviceContext> dc = std::move(m_spareDCs.back());
        m_spareDCs.pop_back();
        return dc;
    }
    std::shared_ptr<GdiObject> Find(HGDIOBJ h) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_objects.find(reinterpret_cast<uintptr_t>(h));
        return it == m_objects.end() ? nullptr : it->second;
    }
    // Contexts and table entries are kept for reuse: a window context is taken and released
    // every frame of a recording, and should not cost the heap each time.
    bool Remove(HGDIOBJ h) {
        std::lock_guard<std::mutex> lock(m_mutex);
        Map::node_type node = m_objects.extract(reinterpret_cast<uintptr_t>(h));
        if (node.empty()) return false;
        std::shared_ptr<GdiObject> object = std::move(node.mapped());
        if (object->kind == GdiKind::DC && !object->stock && object.use_count() == 1 &&
            m_spareDCs.size() < kSpares) {
            auto dc = std::static_pointer_cast<DeviceContext>(std::move(object));
            *dc = DeviceContext();
            m_spareDCs.push_back(std::move(dc));
        }
        if (m_spareNodes.size() < kSpares) m_spareNodes.push_back(std::move(node));
        return true;
    }
    long CountNonStock() {
        std::lock_guard<std::mutex> lock(m_mutex);
        long n = 0;
        for (auto& [h, o] : m_objects)
            if (!o->stock) ++n;
        return n;
    }
    std::mutex& Mutex() { return m_mutex; }

private:
    using Map = std::unordered_map<uintptr_t, std::shared_ptr<GdiObject>>;
    static constexpr size_t kSpares = 16;

    GdiTable() {
        m_spareNodes.reserve(kSpares);
        m_spareDCs.reserve(kSpares);
    }

    std::mutex m_mutex;
    Map m_objects;
    std::vector<Map::node_type> m_spareNodes;
    std::vector<std::shared_ptr<DeviceContext>> m_spareDCs;
    uintptr_t m_next = 0x40000000;
};

struct StockObjects {
    HGDIOBJ objects[20] = {};
    HBITMAP monoBitmap = nullptr;  // the default bitmap of memory contexts, never deleted
};

HGDIOBJ MakeStockBrush(COLORREF c, bool null) {
    auto b = std::make_shared<Brush>();
    b->stock = true;
    b->color = c;
    b->null = null;
    return AddGdiObject(b);
}

HGDIOBJ MakeStockPen(int style, COLORREF c) {
    auto p = std::make_shared<Pen>();
    p->stock = true;
    p->style = style;
    p->color = c;
    return AddGdiObject(p);
}

const StockObjects& Stock() {
    static const StockObjects stock = [] {
        StockObjects s;
        s.objects[WHITE_BRUSH] = MakeStockBrush(RGB(255, 255, 255), false);
        s.objects[LTGRAY_BRUSH] = MakeStockBrush(RGB(192, 192, 192), false);
        s.objects[GRAY_BRUSH] = MakeStockBrush(RGB(128, 128, 128), false);
        s.objects[DKGRAY_BRUSH] = MakeStockBrush(RGB(64, 64, 64), false);
        s.objects[BLACK_BRUSH] = MakeStockBrush(RGB(0, 0, 0), false);
        s.objects[NULL_BRUSH] = MakeStockBrush(0, true);
        s.objects[WHITE_PEN] = MakeStockPen(PS_SOLID, RGB(255, 255, 255));
        s.objects[BLACK_PEN] = MakeStockPen(PS_SOLID, RGB(0, 0, 0));
        s.objects[NULL_PEN] = MakeStockPen(PS_NULL, 0);
        s.objects[DC_BRUSH] = MakeStockBrush(RGB(255, 255, 255), false);
        s.objects[DC_PEN] = MakeStockPen(PS_SOLID, RGB(0, 0, 0));
        auto bm = std::make_shared<Bitmap>();
        bm->stock = true;
        bm->surface = Surface::Create(1, 1, true);
        s.monoBitmap = static_cast<HBITMAP>(AddGdiObject(bm));
        return s;
    }();
    return stock;
}

RECT Intersect(const RECT& a, const RECT& b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.right <= r.left || r.bottom <= r.top) r = RECT{0, 0, 0, 0};
    return r;
}

RECT SurfaceBounds(const std::shared_ptr<Surface>& s) {
    return s ? RECT{0, 0, s->Width(), s->Height()} : RECT{0, 0, 0, 0};
}

std::shared_ptr<DeviceContext> NewDC(DcKind kind) {
    std::shared_ptr<DeviceContext> dc = GdiTable::Get().TakeSpareDC();
    if (!dc) dc = std::make_shared<DeviceContext>();
    dc->dcKind = kind;
    dc->pen = static_cast<HPEN>(Stock().objects[BLACK_PEN]);
    dc->brush = static_cast<HBRUSH>(Stock().objects[WHITE_BRUSH]);
    return dc;
}

template <class F>
auto WithDC(HDC hdc, F f, decltype(f(std::declval<DeviceContext&>())) failure) {
    auto dc = LookupDC(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return failure;
    }
    return f(*dc);
}

}  // namespace

HGDIOBJ AddGdiObject(std::shared_ptr<GdiObject> object) {
    return GdiTable::Get().Add(std::move(object));
}

std::shared_ptr<GdiObject> LookupGdiObject(HGDIOBJ handle) {
    if (!handle) return nullptr;
    return GdiTable::Get().Find(handle);
}

long GdiObjectCount() {
    return GdiTable::Get().CountNonStock();
}

HDC CreateWindowDC(HWND hwnd, std::shared_ptr<Surface> surface, const RECT& clip,
                   bool fromBeginPaint) {
    auto dc = NewDC(hwnd ? DcKind::Window : DcKind::Screen);
    dc->hwnd = hwnd;
    dc->fromBeginPaint = fromBeginPaint;
    dc->baseClip = Intersect(clip, SurfaceBounds(surface));
    dc->clip = dc->baseClip;
    dc->surface = std::move(surface);
    return reinterpret_cast<HDC>(AddGdiObject(dc));
}

bool ReleaseWindowDC(HDC hdc) {
    auto dc = LookupDC(hdc);
    if (!dc || dc->dcKind == DcKind::Memory) return false;
    if (dc->surface && !dc->outsideRegion.empty()) {
        std::lock_guard<std::mutex> lock(dc->surface->Mutex());
        for (const auto& [r, pixels] : dc->outsideRegion) {
            const size_t w = static_cast<size_t>(r.right - r.left);
            for (LONG y = r.top; y < r.bottom; ++y)
                std::memcpy(dc->surface->Row(y) + r.left, &pixels[(y - r.top) * w], w * 4);
        }
    }
    dc.reset();  // the table's reference is then the last, and the context can be reused
    return GdiTable::Get().Remove(reinterpret_cast<HGDIOBJ>(hdc));
}

void LimitToRegion(HDC hdc, const std::vector<RECT>& region) {
    auto dc = LookupDC(hdc);
    if (!dc || !dc->surface) return;
    // Whatever the paint does outside the region is undone at EndPaint: the pixels there are
    // kept now and put back then.
    Region outside;
    outside.Add(Intersect(dc->baseClip, SurfaceBounds(dc->surface)));
    for (const RECT& r : region) outside.Subtract(r);
    std::lock_guard<std::mutex> lock(dc->surface->Mutex());
    for (const RECT& r : outside.Rects()) {
        const size_t w = static_cast<size_t>(r.right - r.left);
        std::vector<uint32_t> pixels(w * static_cast<size_t>(r.bottom - r.top));
        for (LONG y = r.top; y < r.bottom; ++y)
            std::memcpy(&pixels[(y - r.top) * w], dc->surface->Row(y) + r.left, w * 4);
        dc->outsideRegion.emplace_back(r, std::move(pixels));
    }
}

HBITMAP CreateBitmapForSurface(std::shared_ptr<Surface> surface) {
    if (!surface) return nullptr;
    auto bm = std::make_shared<Bitmap>();
    bm->surface = std::move(surface);
    return static_cast<HBITMAP>(AddGdiObject(bm));
}

std::shared_ptr<Surface> BitmapSurface(HBITMAP hbm) {
    auto bm = LookupGdi<Bitmap>(hbm, GdiKind::Bitmap);
    return bm ? bm->surface : nullptr;
}

bool BrushColor(HBRUSH hbr, COLORREF* color, bool* isNull) {
    const uintptr_t v = reinterpret_cast<uintptr_t>(hbr);
    *isNull = false;
    if (v >= 1 && v <= 31) {  // (HBRUSH)(COLOR_xxx + 1)
        *color = GetSysColor(static_cast<int>(v - 1));
        return true;
    }
    auto b = LookupGdi<Brush>(hbr, GdiKind::Brush);
    if (!b) return false;
    *isNull = b->null;
    *color = b->color;
    return !b->null;
}

std::shared_ptr<Surface> Surface::Create(int width, int height, bool monochrome) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        static_cast<long long>(width) * height > kMaxPixels)
        return nullptr;
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::shared_ptr<uint32_t[]> pixels = TakePixels(count);
    if (!pixels) return nullptr;
    auto* base = reinterpret_cast<uint8_t*>(pixels.get());
    auto s = std::make_shared<Surface>(width, height, monochrome, base,
                                       static_cast<ptrdiff_t>(width) * 4,
                                       std::shared_ptr<void>(pixels, pixels.get()));
    // Only rows handed out show the pixels: the black is made when the first one is asked for.
    s->m_visibleBits = false;
    s->m_pending.store(kBlack, std::memory_order_release);
    return s;
}

std::shared_ptr<Surface> Surface::CreateIn(int width, int height,
                                           std::shared_ptr<DisplayMemory> memory,
                                           bool visibleBits) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide ||
        static_cast<long long>(width) * height > kMaxPixels)
        return nullptr;
    const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    if (!memory || memory->Size() < bytes) return visibleBits ? nullptr : Create(width, height);
    uint8_t* base = memory->Data();
    if (visibleBits) std::memset(base, 0, bytes);
    auto s = std::make_shared<Surface>(width, height, false, base,
                                       static_cast<ptrdiff_t>(width) * 4, memory);
    s->m_memory = std::move(memory);
    s->m_visibleBits = visibleBits;
    if (!visibleBits) s->m_pending.store(kBlack, std::memory_order_release);
    return s;
}

void Surface::SettleSlow() const {
    std::lock_guard<std::mutex> lock(m_settleMutex);
    const uint8_t pending = m_pending.load(std::memory_order_relaxed);
    for (int y = 0; y < m_height && pending != kNothing; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(m_base + static_cast<ptrdiff_t>(y) * m_stride);
        if (pending == kBlack)
            std::memset(row, 0, static_cast<size_t>(m_width) * 4);
        else
            ClearPadBytes(row, static_cast<size_t>(m_width));
    }
    m_pending.store(kNothing, std::memory_order_release);
}

uint8_t* Surface::RowsToOverwrite(int top, int bottom) {
    {
        std::lock_guard<std::mutex> lock(m_settleMutex);
        // Rows about to be written whole need no black first; if they are all of the surface,
        // nothing else does either.
        if (top <= 0 && bottom >= m_height) m_pending.store(kNothing, std::memory_order_release);
    }
    Settle();
    return m_base + static_cast<ptrdiff_t>(top) * m_stride;
}

void Surface::OverwrittenWithPad(int top, int bottom) {
    if (m_visibleBits) {
        for (int y = std::max(top, 0); y < std::min(bottom, m_height); ++y)
            ClearPadBytes(
                reinterpret_cast<uint32_t*>(m_base + static_cast<ptrdiff_t>(y) * m_stride),
                static_cast<size_t>(m_width));
        return;
    }
    std::lock_guard<std::mutex> lock(m_settleMutex);
    m_pending.store(kPadBytes, std::memory_order_release);
}

bool ClearPadBytes(uint32_t* pixels, size_t n) {
    // Most screens hold no pad bytes at all, and reading memory costs half of rewriting it:
    // blocks are only written when one of their pixels has some. The compiler's vector extension
    // (which works wherever the compiler does) takes four pixels at a time, sixteen a step.
    typedef uint32_t Lanes __attribute__((vector_size(16)));
    const Lanes pad = {0xFF000000u, 0xFF000000u, 0xFF000000u, 0xFF000000u};
    size_t i = 0;
    bool found = false;
    for (; i + 16 <= n; i += 16) {
        Lanes v[4];
        std::memcpy(v, pixels + i, sizeof(v));
        const Lanes set = (v[0] | v[1] | v[2] | v[3]) & pad;
        uint64_t halves[2];
        std::memcpy(halves, &set, sizeof(halves));
        if (halves[0] | halves[1]) {
            for (Lanes& x : v) x &= ~pad;
            std::memcpy(pixels + i, v, sizeof(v));
            found = true;
        }
    }
    for (; i < n; ++i) {
        found |= (pixels[i] & 0xFF000000u) != 0;
        pixels[i] &= 0x00FFFFFFu;
    }
    return found;
}

std::shared_ptr<Surface> Surface::Wrap(int width, int height, uint8_t* bits, ptrdiff_t strideBytes,
                                       std::shared_ptr<void> owner) {
    if (!bits || width <= 0 || height <= 0) return nullptr;
    return std::make_shared<Surface>(width, height, false, bits, strideBytes, std::move(owner));
}

void FillSurface(Surface& s, const RECT& deviceRect, const RECT& clip, uint32_t pixel) {
    const RECT r = Intersect(Intersect(deviceRect, clip), RECT{0, 0, s.Width(), s.Height()});
    if (r.right <= r.left) return;
    std::lock_guard<std::mutex> lock(s.Mutex());
    for (LONG y = r.top; y < r.bottom; ++y) std::fill(s.Row(y) + r.left, s.Row(y) + r.right, pixel);
}

}  // namespace lumacap::ui

using namespace lumacap::ui;

HGDIOBJ WINAPI GetStockObject(int i) {
    if (i < 0 || i >= 20 || !Stock().objects[i]) return nullptr;
    return Stock().objects[i];
}

HPEN WINAPI CreatePen(int iStyle, int cWidth, COLORREF color) {
    const int style = iStyle & PS_STYLE_MASK;
    if (style > PS_INSIDEFRAME) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto p = std::make_shared<Pen>();
    p->width = std::max(1, cWidth);
    // Styled pens are cosmetic: wider than one pixel they draw solid.
    p->style = (p->width > 1 && style >= PS_DASH && style <= PS_DASHDOTDOT) ? PS_SOLID : style;
    p->color = color & 0x00FFFFFF;
    return static_cast<HPEN>(AddGdiObject(p));
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
    auto b = std::make_shared<Brush>();
    b->color = color & 0x00FFFFFF;
    return static_cast<HBRUSH>(AddGdiObject(b));
}

HDC WINAPI CreateCompatibleDC(HDC hdc) {
    if (hdc && !LookupDC(hdc)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto dc = NewDC(DcKind::Memory);
    dc->defaultBitmap = Stock().monoBitmap;
    dc->bitmap = dc->defaultBitmap;
    dc->surface = BitmapSurface(dc->bitmap);
    dc->baseClip = SurfaceBounds(dc->surface);
    dc->clip = dc->baseClip;
    return reinterpret_cast<HDC>(AddGdiObject(dc));
}

BOOL WINAPI DeleteDC(HDC hdc) {
    auto dc = LookupDC(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (dc->dcKind == DcKind::Memory && dc->bitmap != dc->defaultBitmap)
        if (auto bm = LookupGdi<Bitmap>(dc->bitmap, GdiKind::Bitmap)) bm->selectedInto = nullptr;
    dc.reset();
    GdiTable::Get().Remove(reinterpret_cast<HGDIOBJ>(hdc));
    return TRUE;
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h) {
    auto dc = LookupDC(hdc);
    auto o = LookupGdiObject(h);
    if (!dc || !o) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    switch (o->kind) {
        case GdiKind::Pen: {
            HGDIOBJ old = dc->pen;
            dc->pen = static_cast<HPEN>(h);
            return old;
        }
        case GdiKind::Brush: {
            HGDIOBJ old = dc->brush;
            dc->brush = static_cast<HBRUSH>(h);
            return old;
        }
        case GdiKind::Bitmap: {
            if (dc->dcKind != DcKind::Memory) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
            }
            auto bm = std::static_pointer_cast<Bitmap>(o);
            {
                std::lock_guard<std::mutex> lock(GdiTable::Get().Mutex());
                // A bitmap can be selected into one context at a time.
                if (bm->selectedInto && bm->selectedInto != hdc && !bm->stock) {
                    SetLastError(ERROR_INVALID_PARAMETER);
                    return nullptr;
                }
                if (!bm->stock) bm->selectedInto = hdc;
            }
            HGDIOBJ old = dc->bitmap;
            if (old != h)
                if (auto prev = LookupGdi<Bitmap>(old, GdiKind::Bitmap)) {
                    std::lock_guard<std::mutex> lock(GdiTable::Get().Mutex());
                    if (prev->selectedInto == hdc) prev->selectedInto = nullptr;
                }
            dc->bitmap = static_cast<HBITMAP>(h);
            dc->surface = bm->surface;
            dc->baseClip = SurfaceBounds(dc->surface);
            dc->clip = dc->baseClip;
            return old;
        }
        case GdiKind::DC:
            break;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

HGDIOBJ WINAPI GetCurrentObject(HDC hdc, UINT type) {
    auto dc = LookupDC(hdc);
    if (!dc) return nullptr;
    switch (type) {
        case OBJ_PEN:
            return dc->pen;
        case OBJ_BRUSH:
            return dc->brush;
        case OBJ_BITMAP:
            return dc->bitmap;
        default:
            return nullptr;
    }
}

BOOL WINAPI DeleteObject(HGDIOBJ ho) {
    auto o = LookupGdiObject(ho);
    if (!o || o->kind == GdiKind::DC) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (o->stock) return TRUE;
    if (o->kind == GdiKind::Bitmap) {
        std::lock_guard<std::mutex> lock(GdiTable::Get().Mutex());
        if (std::static_pointer_cast<Bitmap>(o)->selectedInto) return FALSE;  // still selected
    }
    GdiTable::Get().Remove(ho);
    return TRUE;
}

DWORD WINAPI GetObjectType(HGDIOBJ h) {
    auto o = LookupGdiObject(h);
    if (!o) return 0;
    switch (o->kind) {
        case GdiKind::Pen:
            return OBJ_PEN;
        case GdiKind::Brush:
            return OBJ_BRUSH;
        case GdiKind::Bitmap:
            return OBJ_BITMAP;
        case GdiKind::DC:
            return std::static_pointer_cast<DeviceContext>(o)->dcKind == DcKind::Memory ? OBJ_MEMDC
                                                                                        : OBJ_DC;
    }
    return 0;
}

int WINAPI GetObjectA(HANDLE h, int c, LPVOID pv) {
    auto o = LookupGdiObject(h);
    if (!o) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    switch (o->kind) {
        case GdiKind::Bitmap: {
            auto bm = std::static_pointer_cast<Bitmap>(o);
            if (!pv) return sizeof(BITMAP);
            if (c < static_cast<int>(sizeof(BITMAP)) || !bm->surface) return 0;
            const bool mono = bm->surface->Monochrome();
            BITMAP b{0,
                     bm->surface->Width(),
                     bm->surface->Height(),
                     mono ? ((bm->surface->Width() + 15) / 16) * 2 : bm->surface->Width() * 4,
                     1,
                     static_cast<WORD>(mono ? 1 : 32),
                     bm->dibBits};
            std::memcpy(pv, &b, sizeof(b));
            return sizeof(BITMAP);
        }
        case GdiKind::Pen: {
            if (!pv) return sizeof(LOGPEN);
            if (c < static_cast<int>(sizeof(LOGPEN))) return 0;
            auto p = std::static_pointer_cast<Pen>(o);
            LOGPEN lp{static_cast<UINT>(p->style), POINT{p->width, 0}, p->color};
            std::memcpy(pv, &lp, sizeof(lp));
            return sizeof(LOGPEN);
        }
        case GdiKind::Brush: {
            if (!pv) return sizeof(LOGBRUSH);
            if (c < static_cast<int>(sizeof(LOGBRUSH))) return 0;
            auto b = std::static_pointer_cast<Brush>(o);
            LOGBRUSH lb{static_cast<UINT>(b->null ? BS_NULL : BS_SOLID), b->color, 0};
            std::memcpy(pv, &lb, sizeof(lb));
            return sizeof(LOGBRUSH);
        }
        case GdiKind::DC:
            break;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}

int WINAPI GetDeviceCaps(HDC hdc, int index) {
    auto dc = LookupDC(hdc);
    if (!dc) return 0;
    switch (index) {
        case HORZRES:
            return dc->dcKind == DcKind::Memory ? GetSystemMetrics(SM_CXSCREEN)
                                                : (dc->surface ? dc->surface->Width() : 0);
        case VERTRES:
            return dc->dcKind == DcKind::Memory ? GetSystemMetrics(SM_CYSCREEN)
                                                : (dc->surface ? dc->surface->Height() : 0);
        case BITSPIXEL:
            return 32;
        case PLANES:
            return 1;
        case LOGPIXELSX:
        case LOGPIXELSY:
            return 96;
        default:
            return 0;
    }
}

// ---- bitmaps ----

namespace {
// Memory the display shares for a colour bitmap of this size, where it has some: the screen can
// then be read into the bitmap directly.
std::shared_ptr<DisplayMemory> DisplayMemoryFor(int w, int h) {
    if (w <= 0 || h <= 0 || w > Surface::kMaxSide || h > Surface::kMaxSide ||
        static_cast<long long>(w) * h > Surface::kMaxPixels)
        return nullptr;
    return CurrentBackend()->SharedMemory(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
}
}  // namespace

HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
    auto dc = LookupDC(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // As on Windows: a memory context with its default bitmap makes monochrome bitmaps.
    const bool mono = dc->dcKind == DcKind::Memory && dc->surface && dc->surface->Monochrome();
    auto s = mono ? nullptr : Surface::CreateIn(cx, cy, DisplayMemoryFor(cx, cy), false);
    if (!s) s = Surface::Create(cx, cy, mono);
    if (!s) {
        SetLastError(cx <= 0 || cy <= 0 ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return CreateBitmapForSurface(std::move(s));
}

HBITMAP WINAPI CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount,
                            const void* lpBits) {
    if (nPlanes != 1 || (nBitCount != 1 && nBitCount != 32)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto s = Surface::Create(nWidth, nHeight, nBitCount == 1);
    if (!s) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (lpBits) {
        const auto* bytes = static_cast<const uint8_t*>(lpBits);
        for (int y = 0; y < nHeight; ++y) {
            uint32_t* row = s->Row(y);
            if (nBitCount == 1) {
                const uint8_t* r =
                    bytes + static_cast<size_t>(y) * static_cast<size_t>((nWidth + 15) / 16 * 2);
                for (int x = 0; x < nWidth; ++x)
                    row[x] = (r[x / 8] & (0x80 >> (x % 8))) ? 0xFFFFFF : 0;
            } else {
                const auto* r =
                    reinterpret_cast<const uint32_t*>(bytes) + static_cast<size_t>(y) * nWidth;
                for (int x = 0; x < nWidth; ++x) row[x] = r[x] & 0x00FFFFFF;
            }
        }
    }
    return CreateBitmapForSurface(std::move(s));
}

HBITMAP WINAPI CreateDIBSection(HDC, const BITMAPINFO* pbmi, UINT usage, void** ppvBits,
                                HANDLE hSection, DWORD) {
    if (ppvBits) *ppvBits = nullptr;
    if (!pbmi || hSection || usage != DIB_RGB_COLORS || pbmi->bmiHeader.biBitCount != 32 ||
        pbmi->bmiHeader.biCompression != BI_RGB || pbmi->bmiHeader.biWidth <= 0 ||
        pbmi->bmiHeader.biHeight == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const int w = pbmi->bmiHeader.biWidth;
    const int h =
        pbmi->bmiHeader.biHeight < 0 ? -pbmi->bmiHeader.biHeight : pbmi->bmiHeader.biHeight;
    if (static_cast<long long>(w) * h > Surface::kMaxPixels || w > Surface::kMaxSide ||
        h > Surface::kMaxSide) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const bool bottomUp = pbmi->bmiHeader.biHeight > 0;
    if (!bottomUp) {
        // Top-down bits are laid out as the screen is read: the display may share them.
        if (auto s = Surface::CreateIn(w, h, DisplayMemoryFor(w, h), true)) {
            auto bm = std::make_shared<Bitmap>();
            bm->dibBits = s->Memory()->Data();
            bm->surface = std::move(s);
            if (ppvBits) *ppvBits = bm->dibBits;
            return static_cast<HBITMAP>(AddGdiObject(bm));
        }
    }
    std::shared_ptr<uint8_t[]> bits(
        new (std::nothrow) uint8_t[static_cast<size_t>(w) * static_cast<size_t>(h) * 4]());
    if (!bits) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const ptrdiff_t stride = static_cast<ptrdiff_t>(w) * 4;
    uint8_t* top = bottomUp ? bits.get() + (h - 1) * stride : bits.get();
    auto s = Surface::Wrap(w, h, top, bottomUp ? -stride : stride,
                           std::shared_ptr<void>(bits, bits.get()));
    auto bm = std::make_shared<Bitmap>();
    bm->surface = std::move(s);
    bm->dibBits = bits.get();
    if (ppvBits) *ppvBits = bits.get();
    return static_cast<HBITMAP>(AddGdiObject(bm));
}

int WINAPI GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits,
                     LPBITMAPINFO lpbmi, UINT usage) {
    auto s = BitmapSurface(hbm);
    if (!s || !lpbmi || !LookupDC(hdc) || usage != DIB_RGB_COLORS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    BITMAPINFOHEADER& h = lpbmi->bmiHeader;
    if (!lpvBits) {
        if (h.biBitCount == 0) h.biBitCount = 32;
        h.biWidth = s->Width();
        h.biHeight = s->Height();
        h.biPlanes = 1;
        h.biCompression = BI_RGB;
        h.biSizeImage = static_cast<DWORD>(GDI_WIDTHBYTES(s->Width() * h.biBitCount) * s->Height());
        return 1;
    }
    if ((h.biBitCount != 24 && h.biBitCount != 32) || h.biCompression != BI_RGB ||
        h.biWidth != s->Width()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const bool bottomUp = h.biHeight > 0;
    const int height = s->Height();
    const size_t stride = static_cast<size_t>(GDI_WIDTHBYTES(s->Width() * h.biBitCount));
    int copied = 0;
    std::lock_guard<std::mutex> lock(s->Mutex());
    for (UINT i = 0; i < cLines; ++i) {
        const int line = static_cast<int>(start + i);  // scan line number in DIB order
        if (line >= height) break;
        const int y = bottomUp ? height - 1 - line : line;
        auto* out = static_cast<uint8_t*>(lpvBits) + stride * i;
        const uint32_t* row = s->Row(y);
        if (h.biBitCount == 32) {
            std::memcpy(out, row, static_cast<size_t>(s->Width()) * 4);
        } else {
            for (int x = 0; x < s->Width(); ++x) {
                out[x * 3] = static_cast<uint8_t>(row[x]);
                out[x * 3 + 1] = static_cast<uint8_t>(row[x] >> 8);
                out[x * 3 + 2] = static_cast<uint8_t>(row[x] >> 16);
            }
        }
        ++copied;
    }
    return copied;
}

// ---- state ----

int WINAPI SetROP2(HDC hdc, int rop2) {
    if (rop2 < R2_BLACK || rop2 > R2_WHITE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return WithDC(
        hdc, [&](DeviceContext& dc) { return std::exchange(dc.rop2, rop2); }, 0);
}
int WINAPI GetROP2(HDC hdc) {
    return WithDC(
        hdc, [](DeviceContext& dc) { return dc.rop2; }, 0);
}
COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color) {
    return WithDC(
        hdc, [&](DeviceContext& dc) { return std::exchange(dc.bkColor, color & 0xFFFFFF); },
        static_cast<COLORREF>(CLR_INVALID));
}
COLORREF WINAPI GetBkColor(HDC hdc) {
    return WithDC(
        hdc, [](DeviceContext& dc) { return dc.bkColor; }, static_cast<COLORREF>(CLR_INVALID));
}
int WINAPI SetBkMode(HDC hdc, int mode) {
    if (mode != TRANSPARENT && mode != OPAQUE) return 0;
    return WithDC(
        hdc, [&](DeviceContext& dc) { return std::exchange(dc.bkMode, mode); }, 0);
}
int WINAPI GetBkMode(HDC hdc) {
    return WithDC(
        hdc, [](DeviceContext& dc) { return dc.bkMode; }, 0);
}
COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color) {
    return WithDC(
        hdc, [&](DeviceContext& dc) { return std::exchange(dc.textColor, color & 0xFFFFFF); },
        static_cast<COLORREF>(CLR_INVALID));
}
COLORREF WINAPI GetTextColor(HDC hdc) {
    return WithDC(
        hdc, [](DeviceContext& dc) { return dc.textColor; }, static_cast<COLORREF>(CLR_INVALID));
}
int WINAPI SetMapMode(HDC hdc, int iMode) {
    if (iMode != MM_TEXT) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return WithDC(
        hdc, [&](DeviceContext& dc) { return std::exchange(dc.mapMode, iMode); }, 0);
}
int WINAPI GetMapMode(HDC hdc) {
    return WithDC(
        hdc, [](DeviceContext& dc) { return dc.mapMode; }, 0);
}
BOOL WINAPI SetWindowOrgEx(HDC hdc, int x, int y, LPPOINT lppt) {
    return WithDC(
        hdc,
        [&](DeviceContext& dc) {
            if (lppt) *lppt = dc.windowOrg;
            dc.windowOrg = POINT{x, y};
            return TRUE;
        },
        FALSE);
}
BOOL WINAPI GetWindowOrgEx(HDC hdc, LPPOINT lppoint) {
    return WithDC(
        hdc,
        [&](DeviceContext& dc) {
            if (!lppoint) return FALSE;
            *lppoint = dc.windowOrg;
            return TRUE;
        },
        FALSE);
}
BOOL WINAPI SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT lppt) {
    return WithDC(
        hdc,
        [&](DeviceContext& dc) {
            if (lppt) *lppt = dc.viewportOrg;
            dc.viewportOrg = POINT{x, y};
            return TRUE;
        },
        FALSE);
}
BOOL WINAPI GetViewportOrgEx(HDC hdc, LPPOINT lppoint) {
    return WithDC(
        hdc,
        [&](DeviceContext& dc) {
            if (!lppoint) return FALSE;
            *lppoint = dc.viewportOrg;
            return TRUE;
        },
        FALSE);
}
int WINAPI SetStretchBltMode(HDC hdc, int mode) {
    if (mode < BLACKONWHITE || mode > HALFTONE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return WithDC(
        hdc, [&](DeviceContext& dc) { return std::exchange(dc.stretchMode, mode); }, 0);
}
int WINAPI GetStretchBltMode(HDC hdc) {
    return WithDC(
        hdc, [](DeviceContext& dc) { return dc.stretchMode; }, 0);
}

int WINAPI GetClipBox(HDC hdc, LPRECT lprect) {
    auto dc = LookupDC(hdc);
    if (!dc || !lprect) {
        SetLastError(ERROR_INVALID_HANDLE);
        return RGN_ERROR;
    }
    // Back to logical coordinates.
    const int dx = dc->windowOrg.x - dc->viewportOrg.x, dy = dc->windowOrg.y - dc->viewportOrg.y;
    *lprect =
        RECT{dc->clip.left + dx, dc->clip.top + dy, dc->clip.right + dx, dc->clip.bottom + dy};
    return (dc->clip.right <= dc->clip.left || dc->clip.bottom <= dc->clip.top) ? NULLREGION
                                                                                : SIMPLEREGION;
}

int WINAPI IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
    auto dc = LookupDC(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return RGN_ERROR;
    }
    const RECT r{dc->DevX(left), dc->DevY(top), dc->DevX(right), dc->DevY(bottom)};
    dc->clip = Intersect(dc->clip, r);
    return (dc->clip.right <= dc->clip.left) ? NULLREGION : SIMPLEREGION;
}

BOOL WINAPI GdiFlush() {
    return TRUE;
}
