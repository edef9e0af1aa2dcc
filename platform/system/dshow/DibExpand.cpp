// Expanding 8-bit and 16-bit pictures to 32-bit RGB.
#include "platform/system/dshow/DibExpand.h"

#include <cstdlib>
#include <cstring>

namespace lumacap::dshow {
namespace {

// A channel of `mask`'s width scaled to 0..255.
BYTE Widen(DWORD value, DWORD mask) {
    if (!mask) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    const DWORD max = mask >> shift;
    const DWORD v = (value & mask) >> shift;
    return static_cast<BYTE>((v * 255 + max / 2) / max);
}

}  // namespace

bool ExpandToRgb32(const BITMAPINFOHEADER& header, const void* colours, const BYTE* bits,
                   std::vector<BYTE>& out, BITMAPINFOHEADER& outHeader) {
    const LONG width = header.biWidth;
    const LONG height = std::abs(header.biHeight);
    if (width <= 0 || height <= 0 || !bits) return false;
    const bool palettised = header.biBitCount == 8 && header.biCompression == BI_RGB;
    const bool sixteen = header.biBitCount == 16 &&
                         (header.biCompression == BI_RGB || header.biCompression == BI_BITFIELDS);
    if (!palettised && !sixteen) return false;
    DWORD masks[3] = {0x7C00, 0x03E0, 0x001F};  // 5-5-5 unless the picture says otherwise
    if (sixteen && header.biCompression == BI_BITFIELDS && colours)
        std::memcpy(masks, colours, sizeof(masks));
    const auto* palette = static_cast<const RGBQUAD*>(colours);
    const LONG inStride = GDI_WIDTHBYTES(width * header.biBitCount);
    out.resize(static_cast<size_t>(width) * height * 4);
    for (LONG y = 0; y < height; ++y) {
        const BYTE* in = bits + static_cast<size_t>(y) * inStride;
        BYTE* o = out.data() + static_cast<size_t>(y) * width * 4;
        for (LONG x = 0; x < width; ++x, o += 4) {
            if (palettised) {
                const RGBQUAD c = palette ? palette[in[x]] : RGBQUAD{in[x], in[x], in[x], 0};
                o[0] = c.rgbBlue;
                o[1] = c.rgbGreen;
                o[2] = c.rgbRed;
            } else {
                const DWORD px = in[2 * x] | (in[2 * x + 1] << 8);
                o[0] = Widen(px, masks[2]);
                o[1] = Widen(px, masks[1]);
                o[2] = Widen(px, masks[0]);
            }
            o[3] = 0;
        }
    }
    outHeader = header;
    outHeader.biBitCount = 32;
    outHeader.biCompression = BI_RGB;
    outHeader.biClrUsed = 0;
    outHeader.biSizeImage = static_cast<DWORD>(out.size());
    return true;
}

}  // namespace lumacap::dshow
