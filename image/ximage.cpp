// CxImage: creating the image buffer (one block, header then pixels), filling it and freeing it.
#include "image/ximage.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Pixels per metre for a resolution in dots per inch, rounded: 96 dpi gives 3780.
LONG PixelsPerMeter(double dpi) {
    return static_cast<LONG>(std::floor(dpi * 10000.0 / 254.0 + 0.5));
}

}  // namespace

CxImage::CxImage() : m_pBlock(nullptr) {
    std::memset(&m_Header, 0, sizeof(m_Header));
    std::memset(&m_Info, 0, sizeof(m_Info));
    m_Header.biXPelsPerMeter = PixelsPerMeter(96);
    m_Header.biYPelsPerMeter = PixelsPerMeter(96);
}

CxImage::~CxImage() {
    Destroy();
}

void CxImage::SetError(const char* text) {
    std::strncpy(m_Info.szError, text, sizeof(m_Info.szError) - 1);
    m_Info.szError[sizeof(m_Info.szError) - 1] = '\0';
}

void* CxImage::Create(DWORD dwWidth, DWORD dwHeight, DWORD wBpp) {
    Destroy();
    if (dwWidth == 0 || dwHeight == 0) {
        SetError("CxImage::Create : width and height must be greater than zero");
        return nullptr;
    }
    DWORD bpp;
    if (wBpp <= 1) {
        bpp = 1;
    } else if (wBpp <= 4) {
        bpp = 4;
    } else if (wBpp <= 8) {
        bpp = 8;
    } else {
        bpp = 24;
    }
    // The product can exceed 64 bits only in theory (2^32 * 2^32 * 24), so compute it in 128.
    const unsigned __int128 bits =
        static_cast<unsigned __int128>(dwWidth) * static_cast<unsigned __int128>(dwHeight) * bpp;
    if (bits / 8 > static_cast<unsigned __int128>(CXIMAGE_MAX_MEMORY)) {
        SetError("CXIMAGE_MAX_MEMORY exceeded");
        return nullptr;
    }
    const DWORD colours = bpp == 1 ? 2 : bpp == 4 ? 16 : bpp == 8 ? 256 : 0;
    // Within the memory limit the row size and the image size fit 32 bits.
    m_Info.dwRowBytes = GDI_WIDTHBYTES(dwWidth * bpp);
    m_Header.biSize = sizeof(BITMAPINFOHEADER);
    m_Header.biWidth = static_cast<LONG>(dwWidth);
    m_Header.biHeight = static_cast<LONG>(dwHeight);
    m_Header.biPlanes = 1;
    m_Header.biBitCount = static_cast<WORD>(bpp);
    m_Header.biCompression = BI_RGB;
    m_Header.biSizeImage = m_Info.dwRowBytes * dwHeight;
    m_Header.biClrUsed = colours;

    const size_t paletteBytes = static_cast<size_t>(colours) * sizeof(RGBQUAD);
    const size_t total = sizeof(BITMAPINFOHEADER) + paletteBytes + m_Header.biSizeImage;
    auto* block = static_cast<BYTE*>(std::malloc(total));
    if (!block) {
        SetError("CxImage::Create can't allocate memory");
        return nullptr;
    }
    std::memset(block + sizeof(BITMAPINFOHEADER), 0, paletteBytes);
    std::memcpy(block, &m_Header, sizeof(BITMAPINFOHEADER));
    m_pBlock = block;
    m_Info.pFirstRow = block + sizeof(BITMAPINFOHEADER) + paletteBytes;
    return m_pBlock;
}

bool CxImage::CreateFromPixels(const BYTE* pSrc, DWORD dwWidth, DWORD dwHeight,
                               DWORD dwBitsPerPixel, DWORD dwBytesPerLine, bool bFlipImage) {
    if (!pSrc) return false;
    // Only 24-bit pixels are copied in: the library never asks for another depth, and a palette
    // or alpha plane would have no source here.
    if (dwBitsPerPixel != 24) return false;
    // A picture of the size and depth the image already has is copied over it: frame after frame
    // of a preview then costs the copy alone, not a free and an allocation of the whole block.
    const bool sameShape =
        m_pBlock && m_Header.biBitCount == 24 && m_Header.biWidth == static_cast<LONG>(dwWidth) &&
        m_Header.biHeight == static_cast<LONG>(dwHeight) && dwWidth != 0 && dwHeight != 0;
    if (!sameShape && !Create(dwWidth, dwHeight, dwBitsPerPixel)) return false;
    const size_t copy = dwBytesPerLine < m_Info.dwRowBytes ? dwBytesPerLine : m_Info.dwRowBytes;
    for (DWORD y = 0; y < dwHeight; ++y) {
        const DWORD row = bFlipImage ? dwHeight - 1 - y : y;
        std::memcpy(m_Info.pFirstRow + static_cast<size_t>(row) * m_Info.dwRowBytes,
                    pSrc + static_cast<size_t>(y) * dwBytesPerLine, copy);
    }
    return true;
}

bool CxImage::Destroy() {
    std::free(m_pBlock);
    m_pBlock = nullptr;
    m_Info.pFirstRow = nullptr;
    return true;
}
