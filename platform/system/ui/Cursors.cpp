// Cursors: the system arrow, cursors loaded from module resources, cursors made from bitmaps, and
// drawing them (screen = (screen AND mask) XOR colour).
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/system/ui/Cursors.h"
#include "platform/system/ui/Gdi.h"
#include "platform/system/ui/User.h"

namespace lumacap::ui {
namespace {

using Cursor = CursorImage;

class CursorTable {
public:
    static CursorTable& Get() {
        static CursorTable* table = new CursorTable();
        return *table;
    }
    HCURSOR Add(std::shared_ptr<Cursor> c) {
        std::lock_guard<std::mutex> lock(mutex);
        return AddL(std::move(c));
    }
    HCURSOR AddL(std::shared_ptr<Cursor> c) {
        const uintptr_t h = next;
        next += 4;
        cursors[h] = std::move(c);
        return reinterpret_cast<HCURSOR>(h);
    }
    std::shared_ptr<Cursor> Find(HCURSOR h) {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = cursors.find(reinterpret_cast<uintptr_t>(h));
        return it == cursors.end() ? nullptr : it->second;
    }

    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<Cursor>> cursors;
    std::map<std::pair<HMODULE, WORD>, HCURSOR> loaded;
    uintptr_t next = 0x20000000;
};

uint16_t Word(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Dword(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Parses an RT_CURSOR resource (see winuser.h for the layout).
std::shared_ptr<Cursor> ParseCursor(const uint8_t* data, size_t size) {
    if (size < 4 + sizeof(BITMAPINFOHEADER)) return nullptr;
    BITMAPINFOHEADER h;
    std::memcpy(&h, data + 4, sizeof(h));
    const int bpp = h.biBitCount;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biCompression != BI_RGB || h.biWidth <= 0 ||
        h.biWidth > 256 || h.biHeight <= 0 || h.biHeight > 512 || (h.biHeight % 2) != 0 ||
        (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32))
        return nullptr;
    const int w = h.biWidth, hh = h.biHeight / 2;
    const size_t colors = bpp <= 8 ? (h.biClrUsed ? h.biClrUsed : (1u << bpp)) : 0;
    const size_t paletteAt = 4 + h.biSize;
    const size_t xorStride = GDI_WIDTHBYTES(static_cast<size_t>(w) * bpp);
    const size_t andStride = GDI_WIDTHBYTES(static_cast<size_t>(w));
    const size_t xorAt = paletteAt + colors * 4;
    const size_t andAt = xorAt + xorStride * hh;
    if (colors > 256 || andAt + andStride * hh > size) return nullptr;
    auto c = std::make_shared<Cursor>();
    c->width = w;
    c->height = hh;
    c->hotspot = POINT{Word(data), Word(data + 2)};
    c->monochrome = bpp == 1;
    c->shared = true;
    c->mask.resize(static_cast<size_t>(w) * hh);
    c->color.resize(static_cast<size_t>(w) * hh);
    auto paletteColor = [&](size_t i) -> uint32_t {
        if (i >= colors) return 0;
        const uint8_t* q = data + paletteAt + i * 4;
        return q[0] | (q[1] << 8) | (static_cast<uint32_t>(q[2]) << 16);
    };
    for (int y = 0; y < hh; ++y) {
        const uint8_t* xr = data + xorAt + xorStride * (hh - 1 - y);  // rows are bottom-up
        const uint8_t* ar = data + andAt + andStride * (hh - 1 - y);
        for (int x = 0; x < w; ++x) {
            uint32_t px;
            switch (bpp) {
                case 1:
                    px = paletteColor((xr[x / 8] >> (7 - x % 8)) & 1);
                    break;
                case 4:
                    px = paletteColor((xr[x / 2] >> (x % 2 ? 0 : 4)) & 0xF);
                    break;
                case 8:
                    px = paletteColor(xr[x]);
                    break;
                case 24:
                    px = xr[x * 3] | (xr[x * 3 + 1] << 8) |
                         (static_cast<uint32_t>(xr[x * 3 + 2]) << 16);
                    break;
                default:
                    px = Dword(xr + x * 4) & 0xFFFFFF;
                    break;
            }
            const size_t i = static_cast<size_t>(y) * w + x;
            c->color[i] = px;
            c->mask[i] = ((ar[x / 8] >> (7 - x % 8)) & 1) ? 0xFFFFFF : 0;
        }
    }
    return c;
}

void SetLastErrorCursor() {
    SetLastError(ERROR_INVALID_CURSOR_HANDLE);
}

}  // namespace

std::shared_ptr<const CursorImage> FindCursor(HCURSOR cursor) {
    return CursorTable::Get().Find(cursor);
}

namespace {
// The system's cursors, made once each when first asked for.
HCURSOR SystemCursor(int id) {
    CursorTable& t = CursorTable::Get();
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        auto it = t.loaded.find({nullptr, static_cast<WORD>(id)});
        if (it != t.loaded.end()) return it->second;
    }
    auto image = DrawSystemCursor(id);
    if (!image) return nullptr;
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.loaded.find({nullptr, static_cast<WORD>(id)});
    if (it != t.loaded.end()) return it->second;
    HCURSOR h = t.AddL(std::move(image));
    t.loaded[{nullptr, static_cast<WORD>(id)}] = h;
    return h;
}
}  // namespace

HCURSOR SystemArrowCursor() {
    static HCURSOR arrow = SystemCursor(32512);
    return arrow;
}

}  // namespace lumacap::ui

using namespace lumacap::ui;

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
    if (!lpCursorName || !IS_INTRESOURCE(lpCursorName)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    const WORD id = static_cast<WORD>(reinterpret_cast<uintptr_t>(lpCursorName));
    if (!hInstance) {
        if (HCURSOR system = SystemCursor(id)) return system;
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    CursorTable& t = CursorTable::Get();
    {
        std::lock_guard<std::mutex> lock(t.mutex);
        auto it = t.loaded.find({hInstance, id});
        if (it != t.loaded.end()) return it->second;
    }
    HMODULE module = reinterpret_cast<HMODULE>(hInstance);
    WORD cursorId = id;
    if (HRSRC group = FindResourceA(module, lpCursorName, RT_GROUP_CURSOR)) {
        const auto* g = static_cast<const uint8_t*>(LockResource(LoadResource(module, group)));
        const DWORD size = SizeofResource(module, group);
        if (!g || size < 6 + 14 || Word(g + 2) != 2 || Word(g + 4) == 0) {
            SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
            return nullptr;
        }
        cursorId = Word(g + 6 + 12);
    }
    HRSRC res = FindResourceA(module, MAKEINTRESOURCE(cursorId), RT_CURSOR);
    if (!res) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    auto cursor = ParseCursor(static_cast<const uint8_t*>(LockResource(LoadResource(module, res))),
                              SizeofResource(module, res));
    if (!cursor) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.loaded.find({hInstance, id});
    if (it != t.loaded.end()) return it->second;  // another thread got there first
    HCURSOR h = t.AddL(cursor);
    t.loaded[{hInstance, id}] = h;
    return h;
}

BOOL WINAPI DestroyCursor(HCURSOR hCursor) {
    CursorTable& t = CursorTable::Get();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.cursors.find(reinterpret_cast<uintptr_t>(hCursor));
    if (it == t.cursors.end()) {
        SetLastErrorCursor();
        return FALSE;
    }
    if (!it->second->shared) t.cursors.erase(it);  // shared cursors are never destroyed
    return TRUE;
}

BOOL WINAPI DestroyIcon(HICON hIcon) {
    return DestroyCursor(hIcon);
}

BOOL WINAPI GetIconInfo(HICON hIcon, PICONINFO piconinfo) {
    auto c = CursorTable::Get().Find(hIcon);
    if (!c || !piconinfo) {
        SetLastErrorCursor();
        return FALSE;
    }
    *piconinfo = ICONINFO{FALSE, static_cast<DWORD>(c->hotspot.x), static_cast<DWORD>(c->hotspot.y),
                          nullptr, nullptr};
    const int w = c->width, h = c->height;
    if (c->monochrome) {
        // One bitmap twice as high: the AND rows above the XOR rows.
        auto s = Surface::Create(w, h * 2, true);
        if (!s) return FALSE;
        for (int y = 0; y < h; ++y) {
            std::memcpy(s->Row(y), &c->mask[static_cast<size_t>(y) * w],
                        static_cast<size_t>(w) * 4);
            for (int x = 0; x < w; ++x)
                s->Row(h + y)[x] = c->color[static_cast<size_t>(y) * w + x] ? 0xFFFFFF : 0;
        }
        piconinfo->hbmMask = CreateBitmapForSurface(std::move(s));
        return TRUE;
    }
    auto mask = Surface::Create(w, h, true);
    auto color = Surface::Create(w, h);
    if (!mask || !color) return FALSE;
    for (int y = 0; y < h; ++y) {
        std::memcpy(mask->Row(y), &c->mask[static_cast<size_t>(y) * w], static_cast<size_t>(w) * 4);
        std::memcpy(color->Row(y), &c->color[static_cast<size_t>(y) * w],
                    static_cast<size_t>(w) * 4);
    }
    piconinfo->hbmMask = CreateBitmapForSurface(std::move(mask));
    piconinfo->hbmColor = CreateBitmapForSurface(std::move(color));
    return TRUE;
}

HICON WINAPI CreateIconIndirect(PICONINFO piconinfo) {
    if (!piconinfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto mask = BitmapSurface(piconinfo->hbmMask);
    auto color = piconinfo->hbmColor ? BitmapSurface(piconinfo->hbmColor) : nullptr;
    if (!mask || (piconinfo->hbmColor && !color) || (!color && mask->Height() % 2 != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto c = std::make_shared<Cursor>();
    c->width = mask->Width();
    c->height = color ? mask->Height() : mask->Height() / 2;
    if (color && (color->Width() != c->width || color->Height() < c->height)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // An icon's hot spot is its centre; a cursor's is given.
    c->hotspot = piconinfo->fIcon ? POINT{c->width / 2, c->height / 2}
                                  : POINT{static_cast<LONG>(piconinfo->xHotspot),
                                          static_cast<LONG>(piconinfo->yHotspot)};
    c->monochrome = !color;
    c->mask.resize(static_cast<size_t>(c->width) * c->height);
    c->color.resize(c->mask.size());
    for (int y = 0; y < c->height; ++y)
        for (int x = 0; x < c->width; ++x) {
            const size_t i = static_cast<size_t>(y) * c->width + x;
            c->mask[i] = mask->Row(y)[x] ? 0xFFFFFF : 0;
            c->color[i] = color ? color->Row(y)[x] : (mask->Row(c->height + y)[x] ? 0xFFFFFF : 0);
        }
    return CursorTable::Get().Add(std::move(c));
}

BOOL WINAPI DrawIconEx(HDC hdc, int xLeft, int yTop, HICON hIcon, int cxWidth, int cyWidth, UINT,
                       HBRUSH, UINT diFlags) {
    auto dc = LookupDC(hdc);
    auto c = CursorTable::Get().Find(hIcon);
    if (!dc || !c) {
        SetLastError(!dc ? ERROR_INVALID_HANDLE : ERROR_INVALID_CURSOR_HANDLE);
        return FALSE;
    }
    if (!(diFlags & DI_NORMAL)) diFlags |= DI_NORMAL;
    int w = cxWidth, h = cyWidth;
    if (w == 0) w = (diFlags & DI_DEFAULTSIZE) ? GetSystemMetrics(SM_CXCURSOR) : c->width;
    if (h == 0) h = (diFlags & DI_DEFAULTSIZE) ? GetSystemMetrics(SM_CYCURSOR) : c->height;
    if (w <= 0 || h <= 0 || w > 4096 || h > 4096) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (w == c->width && h == c->height) {
        // At its natural size (how a recording draws the pointer every frame) the cursor's own
        // images are drawn as they are.
        DrawMaskedImage(*dc, dc->DevX(xLeft), dc->DevY(yTop), w, h, c->mask.data(), c->color.data(),
                        diFlags);
        return TRUE;
    }
    std::vector<uint32_t> mask(static_cast<size_t>(w) * h), color(mask.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Other sizes pick the nearest pixel of the cursor's own images.
            const size_t s = static_cast<size_t>(y * c->height / h) * c->width +
                             static_cast<size_t>(x * c->width / w);
            mask[static_cast<size_t>(y) * w + x] = c->mask[s];
            color[static_cast<size_t>(y) * w + x] = c->color[s];
        }
    DrawMaskedImage(*dc, dc->DevX(xLeft), dc->DevY(yTop), w, h, mask.data(), color.data(), diFlags);
    return TRUE;
}
