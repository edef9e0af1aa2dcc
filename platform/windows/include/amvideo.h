// mingw-w64's amvideo.h lacks the SDK's DIB size macros and the base classes' GetBitmapSize.
#pragma once

#include_next <amvideo.h>

#ifndef WIDTHBYTES
#define WIDTHBYTES(bits) ((DWORD)(((bits) + 31) & (~31)) / 8)
#endif
#define DIBWIDTHBYTES(bi) (DWORD)(WIDTHBYTES((DWORD)(bi).biWidth * (DWORD)(bi).biBitCount))
#define _DIBSIZE(bi) (DIBWIDTHBYTES(bi) * (DWORD)(bi).biHeight)
#define DIBSIZE(bi) ((bi).biHeight < 0 ? (-1) * (_DIBSIZE(bi)) : _DIBSIZE(bi))

// The image size of a bitmap header: row stride (rows padded to 4 bytes) times the height.
inline DWORD GetBitmapSize(const BITMAPINFOHEADER* header) {
    const LONG height = header->biHeight < 0 ? -header->biHeight : header->biHeight;
    return DIBWIDTHBYTES(*header) * static_cast<DWORD>(height);
}
