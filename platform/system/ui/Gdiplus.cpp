// The GDI+ flat interface subset: start-up tokens, bitmaps over caller memory or copies of GDI
// bitmaps, graphics over device contexts or bitmaps, and scaled image drawing.
#include <gdiplus.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

#include "platform/sim/Faults.h"
#include "platform/system/ui/Gdi.h"
#include "platform/system/ui/PixelPool.h"

using namespace Gdiplus;

namespace lumacap::ui {
namespace {

struct BitmapImpl {
    int width = 0;
    int height = 0;
    PixelFormat format = PixelFormat24bppRGB;
    uint8_t* scan0 = nullptr;           // top row
    ptrdiff_t stride = 0;               // bytes, negative for bottom-up memory
    std::shared_ptr<uint32_t[]> owned;  // pixels the bitmap holds itself, from the pixel pool

    int BitsPerPixel() const { return format == PixelFormat24bppRGB ? 24 : 32; }
    PixelView View() const { return PixelView{scan0, stride, width, height, BitsPerPixel()}; }
};

struct GraphicsImpl {
    HDC hdc = nullptr;                  // drawing into a device context ...
    std::shared_ptr<BitmapImpl> image;  // ... or into a bitmap
    InterpolationMode mode = InterpolationModeBilinear;
};

// Objects and their table entries are kept when they are disposed of and handed out again: a
// recording makes and disposes of the same few bitmaps and graphics every frame, and should not
// go to the heap for them each time.
template <class T>
struct Table {
    using Map = std::unordered_map<const void*, std::shared_ptr<T>>;
    static constexpr size_t kSpares = 32;

    Map live;
    std::vector<std::shared_ptr<T>> spareObjects;     // reset, unowned
    std::vector<typename Map::node_type> spareNodes;  // entries without an object

    Table() {
        spareObjects.reserve(kSpares);
        spareNodes.reserve(kSpares);
    }
    // Under the registry's lock.
    std::shared_ptr<T> TakeObject() {
        if (spareObjects.empty()) return nullptr;
        std::shared_ptr<T> object = std::move(spareObjects.back());
        spareObjects.pop_back();
        return object;
    }
    void Add(std::shared_ptr<T> object) {
        const void* key = object.get();
        if (spareNodes.empty()) {
            live[key] = std::move(object);
            return;
        }
        typename Map::node_type node = std::move(spareNodes.back());
        spareNodes.pop_back();
        node.key() = key;
        node.mapped() = std::move(object);
        live.insert(std::move(node));
    }
    // The object is reset and kept when nobody else holds it; its pixels (if it owns any) go back
    // at once. Returns false for an unknown key.
    bool Remove(const void* key) {
        typename Map::node_type node = live.extract(key);
        if (node.empty()) return false;
        std::shared_ptr<T> object = std::move(node.mapped());
        if (object.use_count() == 1 && spareObjects.size() < kSpares) {
            *object = T{};
            spareObjects.push_back(std::move(object));
        }
        if (spareNodes.size() < kSpares) spareNodes.push_back(std::move(node));
        return true;
    }
};

struct Registry {
    std::mutex mutex;
    std::set<ULONG_PTR> tokens;
    ULONG_PTR nextToken = 0x6D1;
    Table<BitmapImpl> images;
    Table<GraphicsImpl> graphics;
};

Registry& Reg() {
    static Registry* r = new Registry();
    return *r;
}

// A fresh object, reused when one is spare.
template <class T>
std::shared_ptr<T> NewObject(Table<T> Registry::*table) {
    {
        std::lock_guard<std::mutex> lock(Reg().mutex);
        if (std::shared_ptr<T> object = (Reg().*table).TakeObject()) return object;
    }
    return std::make_shared<T>();
}

std::shared_ptr<BitmapImpl> NewImage() {
    return NewObject(&Registry::images);
}
std::shared_ptr<GraphicsImpl> NewGraphics() {
    return NewObject(&Registry::graphics);
}

bool Started() {
    std::lock_guard<std::mutex> lock(Reg().mutex);
    return !Reg().tokens.empty();
}

std::shared_ptr<BitmapImpl> FindImage(const GpImage* image) {
    std::lock_guard<std::mutex> lock(Reg().mutex);
    auto it = Reg().images.live.find(image);
    return it == Reg().images.live.end() ? nullptr : it->second;
}

std::shared_ptr<GraphicsImpl> FindGraphics(const GpGraphics* g) {
    std::lock_guard<std::mutex> lock(Reg().mutex);
    auto it = Reg().graphics.live.find(g);
    return it == Reg().graphics.live.end() ? nullptr : it->second;
}

GpBitmap* AddImage(std::shared_ptr<BitmapImpl> b) {
    auto* key = reinterpret_cast<GpBitmap*>(b.get());
    std::lock_guard<std::mutex> lock(Reg().mutex);
    Reg().images.Add(std::move(b));
    return key;
}

GpGraphics* AddGraphics(std::shared_ptr<GraphicsImpl> g) {
    auto* key = reinterpret_cast<GpGraphics*>(g.get());
    std::lock_guard<std::mutex> lock(Reg().mutex);
    Reg().graphics.Add(std::move(g));
    return key;
}

bool Armed(const char* point) {
    return fault::Check(point) != S_OK;
}

void Filter(InterpolationMode mode, ResampleFilter* filter, bool* widen) {
    switch (mode) {
        case InterpolationModeNearestNeighbor:
            *filter = ResampleFilter::Nearest;
            *widen = false;
            break;
        case InterpolationModeBicubic:
            *filter = ResampleFilter::Bicubic;
            *widen = false;
            break;
        case InterpolationModeHighQualityBicubic:
            *filter = ResampleFilter::Bicubic;
            *widen = true;
            break;
        case InterpolationModeHighQuality:
        case InterpolationModeHighQualityBilinear:
            *filter = ResampleFilter::Bilinear;
            *widen = true;
            break;
        default:
            *filter = ResampleFilter::Bilinear;
            *widen = false;
            break;
    }
}

}  // namespace
}  // namespace lumacap::ui

using namespace lumacap::ui;

Status WINAPI Gdiplus::GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input,
                                      GdiplusStartupOutput* output) {
    if (!token || !input) return InvalidParameter;
    *token = 0;
    if (input->GdiplusVersion != 1) return UnsupportedGdiplusVersion;
    if (input->SuppressBackgroundThread && !output) return InvalidParameter;
    if (Armed("GdiplusStartup")) return GenericError;
    if (output) *output = GdiplusStartupOutput{nullptr, nullptr};
    std::lock_guard<std::mutex> lock(Reg().mutex);
    *token = Reg().nextToken++;
    Reg().tokens.insert(*token);
    return Ok;
}

VOID WINAPI Gdiplus::GdiplusShutdown(ULONG_PTR token) {
    std::lock_guard<std::mutex> lock(Reg().mutex);
    Reg().tokens.erase(token);
}

namespace Gdiplus::DllExports {

GpStatus WINGDIPAPI GdipCreateBitmapFromGdiDib(GDIPCONST BITMAPINFO* info, VOID* data,
                                               GpBitmap** bitmap) {
    if (!Started()) return GdiplusNotInitialized;
    if (!info || !data || !bitmap) return InvalidParameter;
    *bitmap = nullptr;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if ((h.biBitCount != 24 && h.biBitCount != 32) || h.biCompression != BI_RGB || h.biWidth <= 0 ||
        h.biHeight == 0)
        return InvalidParameter;
    if (Armed("GdipCreateBitmapFromGdiDib")) return OutOfMemory;
    auto b = NewImage();
    b->width = h.biWidth;
    b->height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    b->format = h.biBitCount == 24 ? PixelFormat24bppRGB : PixelFormat32bppRGB;
    const ptrdiff_t stride = GDI_WIDTHBYTES(static_cast<ptrdiff_t>(h.biWidth) * h.biBitCount);
    auto* base = static_cast<uint8_t*>(data);
    // The caller's bits, not a copy: drawing into the bitmap writes them.
    if (h.biHeight > 0) {
        b->scan0 = base + (b->height - 1) * stride;
        b->stride = -stride;
    } else {
        b->scan0 = base;
        b->stride = stride;
    }
    *bitmap = AddImage(std::move(b));
    return Ok;
}

GpStatus WINGDIPAPI GdipCreateBitmapFromHBITMAP(HBITMAP hbm, HPALETTE, GpBitmap** bitmap) {
    if (!Started()) return GdiplusNotInitialized;
    if (!bitmap) return InvalidParameter;
    *bitmap = nullptr;
    auto s = BitmapSurface(hbm);
    if (!s) return InvalidParameter;
    auto b = NewImage();
    b->width = s->Width();
    b->height = s->Height();
    b->format = PixelFormat32bppRGB;
    b->stride = static_cast<ptrdiff_t>(b->width) * 4;
    b->owned = TakePixels(static_cast<size_t>(b->width) * static_cast<size_t>(b->height));
    if (!b->owned) return OutOfMemory;
    b->scan0 = reinterpret_cast<uint8_t*>(b->owned.get());
    {
        std::lock_guard<std::mutex> lock(s->Mutex());
        for (int y = 0; y < b->height; ++y)
            std::memcpy(b->scan0 + y * b->stride, s->Row(y), static_cast<size_t>(b->stride));
    }
    *bitmap = AddImage(std::move(b));
    return Ok;
}

GpStatus WINGDIPAPI GdipCreateBitmapFromScan0(INT width, INT height, INT stride, PixelFormat format,
                                              BYTE* scan0, GpBitmap** bitmap) {
    if (!Started()) return GdiplusNotInitialized;
    if (!bitmap) return InvalidParameter;
    *bitmap = nullptr;
    if (width <= 0 || height <= 0 || width > 65536 || height > 65536 ||
        (format != PixelFormat24bppRGB && format != PixelFormat32bppRGB &&
         format != PixelFormat32bppARGB))
        return InvalidParameter;
    auto b = NewImage();
    b->width = width;
    b->height = height;
    b->format = format;
    const ptrdiff_t minStride = GDI_WIDTHBYTES(static_cast<ptrdiff_t>(width) * b->BitsPerPixel());
    if (scan0) {
        if ((stride < 0 ? -static_cast<ptrdiff_t>(stride) : stride) < minStride)
            return InvalidParameter;
        b->scan0 = scan0;
        b->stride = stride;
    } else {
        b->stride = minStride;
        const size_t count = (static_cast<size_t>(minStride) * static_cast<size_t>(height) + 3) / 4;
        b->owned = TakePixels(count);
        if (!b->owned) return OutOfMemory;
        std::fill(b->owned.get(), b->owned.get() + count, 0u);
        b->scan0 = reinterpret_cast<uint8_t*>(b->owned.get());
    }
    *bitmap = AddImage(std::move(b));
    return Ok;
}

GpStatus WINGDIPAPI GdipGetImageWidth(GpImage* image, UINT* width) {
    auto b = FindImage(image);
    if (!b || !width) return InvalidParameter;
    *width = static_cast<UINT>(b->width);
    return Ok;
}

GpStatus WINGDIPAPI GdipGetImageHeight(GpImage* image, UINT* height) {
    auto b = FindImage(image);
    if (!b || !height) return InvalidParameter;
    *height = static_cast<UINT>(b->height);
    return Ok;
}

GpStatus WINGDIPAPI GdipGetImagePixelFormat(GpImage* image, PixelFormat* format) {
    auto b = FindImage(image);
    if (!b || !format) return InvalidParameter;
    *format = b->format;
    return Ok;
}

GpStatus WINGDIPAPI GdipBitmapGetPixel(GpBitmap* bitmap, INT x, INT y, ARGB* color) {
    auto b = FindImage(bitmap);
    if (!b || !color || x < 0 || y < 0 || x >= b->width || y >= b->height) return InvalidParameter;
    const uint8_t* p =
        b->scan0 + y * b->stride + static_cast<ptrdiff_t>(x) * (b->BitsPerPixel() / 8);
    const uint32_t alpha = b->format == PixelFormat32bppARGB ? p[3] : 0xFF;
    *color = (alpha << 24) | (static_cast<uint32_t>(p[2]) << 16) | (p[1] << 8) | p[0];
    return Ok;
}

GpStatus WINGDIPAPI GdipDisposeImage(GpImage* image) {
    std::lock_guard<std::mutex> lock(Reg().mutex);
    return Reg().images.Remove(image) ? Ok : InvalidParameter;
}

GpStatus WINGDIPAPI GdipCreateFromHDC(HDC hdc, GpGraphics** graphics) {
    if (!Started()) return GdiplusNotInitialized;
    if (!graphics) return InvalidParameter;
    *graphics = nullptr;
    if (!LookupDC(hdc)) return InvalidParameter;
    if (Armed("GdipCreateFromHDC")) return OutOfMemory;
    auto g = NewGraphics();
    g->hdc = hdc;
    *graphics = AddGraphics(std::move(g));
    return Ok;
}

GpStatus WINGDIPAPI GdipGetImageGraphicsContext(GpImage* image, GpGraphics** graphics) {
    if (!Started()) return GdiplusNotInitialized;
    if (!graphics) return InvalidParameter;
    *graphics = nullptr;
    auto b = FindImage(image);
    if (!b) return InvalidParameter;
    auto g = NewGraphics();
    g->image = std::move(b);
    *graphics = AddGraphics(std::move(g));
    return Ok;
}

GpStatus WINGDIPAPI GdipDeleteGraphics(GpGraphics* graphics) {
    std::lock_guard<std::mutex> lock(Reg().mutex);
    return Reg().graphics.Remove(graphics) ? Ok : InvalidParameter;
}

GpStatus WINGDIPAPI GdipSetInterpolationMode(GpGraphics* graphics,
                                             InterpolationMode interpolationMode) {
    auto g = FindGraphics(graphics);
    if (!g || interpolationMode < InterpolationModeDefault ||
        interpolationMode > InterpolationModeHighQualityBicubic)
        return InvalidParameter;
    g->mode = interpolationMode;
    return Ok;
}

GpStatus WINGDIPAPI GdipGetInterpolationMode(GpGraphics* graphics,
                                             InterpolationMode* interpolationMode) {
    auto g = FindGraphics(graphics);
    if (!g || !interpolationMode) return InvalidParameter;
    *interpolationMode = g->mode;
    return Ok;
}

GpStatus WINGDIPAPI GdipGraphicsClear(GpGraphics* graphics, ARGB color) {
    auto g = FindGraphics(graphics);
    if (!g) return InvalidParameter;
    const uint32_t px = color & 0x00FFFFFF;
    if (g->image) {
        BitmapImpl& b = *g->image;
        for (int y = 0; y < b.height; ++y) {
            uint8_t* row = b.scan0 + y * b.stride;
            for (int x = 0; x < b.width; ++x) {
                uint8_t* p = row + static_cast<ptrdiff_t>(x) * (b.BitsPerPixel() / 8);
                p[0] = static_cast<uint8_t>(px);
                p[1] = static_cast<uint8_t>(px >> 8);
                p[2] = static_cast<uint8_t>(px >> 16);
                if (b.BitsPerPixel() == 32) p[3] = static_cast<uint8_t>(color >> 24);
            }
        }
        return Ok;
    }
    auto dc = LookupDC(g->hdc);
    if (!dc) return InvalidParameter;
    if (dc->surface) FillSurface(*dc->surface, dc->clip, dc->clip, px);
    return Ok;
}

GpStatus WINGDIPAPI GdipDrawImageRectRectI(GpGraphics* graphics, GpImage* image, INT dstx, INT dsty,
                                           INT dstwidth, INT dstheight, INT srcx, INT srcy,
                                           INT srcwidth, INT srcheight, GpUnit srcUnit,
                                           GDIPCONST GpImageAttributes*, DrawImageAbort callback,
                                           VOID* callbackData) {
    auto g = FindGraphics(graphics);
    auto src = FindImage(image);
    if (!g || !src) return InvalidParameter;
    if (srcUnit != UnitPixel && srcUnit != UnitWorld && srcUnit != UnitDisplay)
        return NotImplemented;
    if (srcwidth <= 0 || srcheight <= 0 || srcx < 0 || srcy < 0 || srcx > src->width - srcwidth ||
        srcy > src->height - srcheight || dstwidth < 0 || dstheight < 0)
        return InvalidParameter;
    if (dstwidth == 0 || dstheight == 0) return Ok;
    if (callback && callback(callbackData)) return Aborted;
    if (Armed("GdipDrawImageRectRectI")) return GenericError;

    ResampleJob job;
    Filter(g->mode, &job.filter, &job.widenForReduction);
    job.src = src->View();
    job.srcRect = RECT{srcx, srcy, srcx + srcwidth, srcy + srcheight};
    const long long right = static_cast<long long>(dstx) + dstwidth,
                    bottom = static_cast<long long>(dsty) + dstheight;
    if (right > INT32_MAX || bottom > INT32_MAX) return ValueOverflow;

    // Drawing a bitmap into itself reads from a copy.
    std::unique_ptr<uint8_t[]> copy;
    if (g->image == src) {
        const size_t bytes =
            static_cast<size_t>(std::abs(src->stride)) * static_cast<size_t>(src->height);
        copy.reset(new (std::nothrow) uint8_t[bytes]);
        if (!copy) return OutOfMemory;
        for (int y = 0; y < src->height; ++y)
            std::memcpy(copy.get() + static_cast<size_t>(y) * std::abs(src->stride),
                        src->scan0 + y * src->stride, static_cast<size_t>(std::abs(src->stride)));
        job.src.data = copy.get();
        job.src.stride = std::abs(src->stride);
    }

    if (g->image) {
        job.dst = g->image->View();
        job.dstRect = RECT{dstx, dsty, static_cast<LONG>(right), static_cast<LONG>(bottom)};
        job.clip = RECT{0, 0, g->image->width, g->image->height};
        job.alpha = 0xFF;
        return Resample(job) ? Ok : InvalidParameter;
    }
    auto dc = LookupDC(g->hdc);
    if (!dc) return InvalidParameter;
    if (!dc->surface) return Ok;
    // The context's origins and clip rectangle apply, as they do to GDI drawing.
    job.dst = dc->surface->View();
    job.dstRect =
        RECT{dc->DevX(dstx), dc->DevY(dsty), dc->DevX(dstx) + dstwidth, dc->DevY(dsty) + dstheight};
    job.clip = dc->clip;
    job.alpha = 0;
    std::lock_guard<std::mutex> lock(dc->surface->Mutex());
    return Resample(job) ? Ok : InvalidParameter;
}

GpStatus WINGDIPAPI GdipDrawImageRectI(GpGraphics* graphics, GpImage* image, INT x, INT y,
                                       INT width, INT height) {
    auto src = FindImage(image);
    if (!src) return InvalidParameter;
    return GdipDrawImageRectRectI(graphics, image, x, y, width, height, 0, 0, src->width,
                                  src->height, UnitPixel, nullptr, nullptr, nullptr);
}

}  // namespace Gdiplus::DllExports
