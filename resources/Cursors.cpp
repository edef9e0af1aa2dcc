// The library's cursors: a four-way arrow for moving an overlay rectangle and four double arrows
// for resizing it. They are drawn here at load time instead of being shipped as image files, and
// stored the way the resource compiler stores cursors (a cursor group naming one 32 x 32 image),
// so LoadCursorA finds them in the library's own module as it would on Windows.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <windows.h>

#include "platform/win/Modules.h"
#include "resources/CursorIds.h"

namespace {

constexpr int kSize = 32;

enum Pixel : uint8_t { kClear, kBlack, kWhite };
using Picture = std::array<std::array<Pixel, kSize>, kSize>;

// A double arrow through the hot spot along the axis (ax, ay): a one-pixel shaft and a head with
// 45-degree sides at each end, reaching kReach pixels from the hot spot along the axis.
constexpr double kReach = 9.0;
constexpr double kHead = 4.0;
constexpr double kEpsilon = 1e-9;

bool OnDoubleArrow(int dx, int dy, double ax, double ay) {
    const double length = std::hypot(ax, ay);
    const double along = std::abs((dx * ax + dy * ay) / length);
    const double across = std::abs((dy * ax - dx * ay) / length);
    if (along > kReach + kEpsilon) return false;
    if (along >= kReach - kHead) return across <= kReach - along + kEpsilon;
    return across <= 0.5 + kEpsilon;
}

struct Axis {
    double x, y;
};

// Black arrows with a one-pixel white border, so they stay visible on any picture.
Picture DrawArrows(int hotX, int hotY, const Axis* axes, int axisCount) {
    Picture shape{};
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x)
            for (int a = 0; a < axisCount; ++a)
                if (OnDoubleArrow(x - hotX, y - hotY, axes[a].x, axes[a].y)) shape[y][x] = kBlack;
    Picture out = shape;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            if (shape[y][x] != kClear) continue;
            for (int ny = y - 1; ny <= y + 1; ++ny)
                for (int nx = x - 1; nx <= x + 1; ++nx)
                    if (nx >= 0 && ny >= 0 && nx < kSize && ny < kSize && shape[ny][nx] == kBlack)
                        out[y][x] = kWhite;
        }
    return out;
}

// Resource layout sizes: a 4-byte hot spot, the DIB header, the palette, the colour rows and the
// one-bit mask rows (32 pixels wide, so every row is already a whole number of 4-byte words).
constexpr size_t kMaskStride = kSize / 8;
constexpr size_t ImageBytes(int bpp) {
    return 4 + sizeof(BITMAPINFOHEADER) + (size_t{1} << bpp) * sizeof(RGBQUAD) +
           (static_cast<size_t>(kSize) * bpp / 8 + kMaskStride) * kSize;
}
constexpr size_t kMaxImageBytes = ImageBytes(4);
constexpr size_t kGroupBytes = 6 + 14;

// The standard 16-colour palette, as red, green, blue.
constexpr uint8_t kPalette16[16][3] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
    {0, 128, 128},   {192, 192, 192}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

void Put16(uint8_t* p, unsigned v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

// Writes an RT_CURSOR image with 1 or 4 bits per pixel; answers its size.
size_t EncodeImage(const Picture& picture, int hotX, int hotY, int bpp, uint8_t* out) {
    Put16(out, static_cast<unsigned>(hotX));
    Put16(out + 2, static_cast<unsigned>(hotY));
    const size_t xorStride = static_cast<size_t>(kSize) * bpp / 8;
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = kSize;
    header.biHeight = 2 * kSize;  // colour rows and mask rows
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(bpp);
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>((xorStride + kMaskStride) * kSize);
    std::memcpy(out + 4, &header, sizeof(header));
    uint8_t* palette = out + 4 + sizeof(header);
    const int colors = 1 << bpp;
    for (int i = 0; i < colors; ++i) {
        const uint8_t* rgb = bpp == 1 ? kPalette16[i == 0 ? 0 : 15] : kPalette16[i];
        palette[i * 4] = rgb[2];
        palette[i * 4 + 1] = rgb[1];
        palette[i * 4 + 2] = rgb[0];
        palette[i * 4 + 3] = 0;
    }
    uint8_t* xorRows = palette + colors * sizeof(RGBQUAD);
    uint8_t* maskRows = xorRows + xorStride * kSize;
    std::memset(xorRows, 0, (xorStride + kMaskStride) * kSize);
    const unsigned white = static_cast<unsigned>(colors - 1);
    for (int y = 0; y < kSize; ++y) {
        uint8_t* xorRow = xorRows + xorStride * (kSize - 1 - y);  // rows are stored bottom-up
        uint8_t* maskRow = maskRows + kMaskStride * (kSize - 1 - y);
        for (int x = 0; x < kSize; ++x) {
            const Pixel p = picture[y][x];
            if (p == kClear) maskRow[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));  // screen shows through
            if (p != kWhite) continue;
            if (bpp == 1)
                xorRow[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            else
                xorRow[x / 2] |= static_cast<uint8_t>(x % 2 ? white : white << 4);
        }
    }
    return ImageBytes(bpp);
}

// A cursor group with its one image, as the resource compiler writes it.
void EncodeGroup(int bpp, size_t imageBytes, WORD imageId, uint8_t* out) {
    Put16(out, 0);
    Put16(out + 2, 2);  // cursors
    Put16(out + 4, 1);
    uint8_t* entry = out + 6;
    Put16(entry, kSize);
    Put16(entry + 2, 2 * kSize);
    Put16(entry + 4, 1);
    Put16(entry + 6, static_cast<unsigned>(bpp));
    Put32(entry + 8, static_cast<uint32_t>(imageBytes));
    Put16(entry + 12, imageId);
}

struct Definition {
    WORD id;
    int hotX, hotY;
    int bpp;
    Axis axes[2];
    int axisCount;
};

const Definition kDefinitions[] = {
    {IDC_LUMACAP_MOVE, 10, 10, 4, {{1, 0}, {0, 1}}, 2},
    {IDC_LUMACAP_SIZEWE, 15, 15, 1, {{1, 0}, {}}, 1},
    {IDC_LUMACAP_SIZENESW, 15, 15, 1, {{1, -1}, {}}, 1},
    {IDC_LUMACAP_SIZENS, 15, 15, 1, {{0, 1}, {}}, 1},
    {IDC_LUMACAP_SIZENWSE, 15, 15, 1, {{1, 1}, {}}, 1},
};
constexpr int kCursorCount = sizeof(kDefinitions) / sizeof(kDefinitions[0]);

// The resource table keeps pointers to these for the life of the process.
struct Stored {
    uint8_t image[kMaxImageBytes];
    uint8_t group[kGroupBytes];
};
Stored g_cursors[kCursorCount];

struct RegisterCursors {
    RegisterCursors() {
        const HMODULE module = lumacap::win::ModuleOfAddress(g_cursors);
        for (int i = 0; i < kCursorCount; ++i) {
            const Definition& d = kDefinitions[i];
            const WORD imageId = static_cast<WORD>(i + 1);  // images are numbered apart from their groups
            const Picture picture = DrawArrows(d.hotX, d.hotY, d.axes, d.axisCount);
            const size_t bytes = EncodeImage(picture, d.hotX, d.hotY, d.bpp, g_cursors[i].image);
            EncodeGroup(d.bpp, bytes, imageId, g_cursors[i].group);
            lumacap::win::RegisterResource(module, RT_CURSOR, imageId, g_cursors[i].image, bytes);
            lumacap::win::RegisterResource(module, RT_GROUP_CURSOR, d.id, g_cursors[i].group, kGroupBytes);
        }
    }
} s_registerCursors;

}  // namespace
