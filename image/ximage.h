// CxImage: an in-memory device-independent bitmap whose memory block is a packed DIB (40-byte
// header, palette, pixel rows bottom-up), so the block can be handed as-is to DIB drawing calls.
#pragma once

#include <windows.h>

// The largest pixel store an image may have, in bytes.
#define CXIMAGE_MAX_MEMORY 268435456

class CxImage {
public:
    struct CXIMAGEINFO {
        DWORD dwRowBytes;  // bytes per row, a whole number of 4-byte words
        BYTE* pFirstRow;   // first pixel row inside the block
        char szError[256];
    };

    CxImage();
    virtual ~CxImage();
    CxImage(const CxImage&) = delete;
    CxImage& operator=(const CxImage&) = delete;

    // Frees the old block and allocates one for a w x h image of depth bpp (normalised to 1, 4, 8
    // or 24). Null, with the reason in m_Info.szError, on a zero size, an image over
    // CXIMAGE_MAX_MEMORY or an allocation failure; the image is then empty. Pixel rows are not
    // cleared.
    void* Create(DWORD dwWidth, DWORD dwHeight, DWORD wBpp);
    // Copies `height` rows of `bytesPerRow` bytes into the image (rows reversed if `flip`): over
    // the pixels it holds when the size and depth are the same, into a new block otherwise.
    bool CreateFromPixels(const BYTE* pSrc, DWORD dwWidth, DWORD dwHeight, DWORD dwBitsPerPixel,
                          DWORD dwBytesPerLine, bool bFlipImage);
    // Frees the block; the header keeps the last size.
    bool Destroy();

    void* GetBlock() const { return m_pBlock; }
    DWORD GetWidth() const { return static_cast<DWORD>(m_Header.biWidth); }
    DWORD GetHeight() const { return static_cast<DWORD>(m_Header.biHeight); }
    const BITMAPINFOHEADER& GetHeader() const { return m_Header; }
    const CXIMAGEINFO& GetInfo() const { return m_Info; }
    const char* GetLastError() const { return m_Info.szError; }

private:
    void SetError(const char* text);

    void* m_pBlock;
    BITMAPINFOHEADER m_Header;
    CXIMAGEINFO m_Info;
};
