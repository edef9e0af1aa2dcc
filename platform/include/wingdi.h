// GDI: device contexts, bitmaps, pens, brushes and DIB drawing over 32-bit surfaces.
//
// Every surface holds 32-bit pixels 0x00RRGGBB. Memory contexts draw into the bitmap selected into
// them, window contexts into the window's backing surface (reading from one sees what the screen
// shows there), the screen context (GetDC(NULL)) onto the desktop. All drawing is clipped to the
// surface and the context's clip rectangle. Only the MM_TEXT mapping mode exists; window and
// viewport origins move logical coordinates.
#pragma once

#include "windef.h"

// Bytes in one row of a DIB: rows are padded to whole 32-bit words.
#define GDI_WIDTHBYTES(bits) ((DWORD)(((bits) + 31) & (~31)) / 8)
#define GDI_DIBWIDTHBYTES(bi) (DWORD) GDI_WIDTHBYTES((DWORD)(bi).biWidth*(DWORD)(bi).biBitCount)
#define GDI__DIBSIZE(bi) (GDI_DIBWIDTHBYTES(bi) * (DWORD)(bi).biHeight)
#define GDI_DIBSIZE(bi) ((bi).biHeight < 0 ? (-1) * (GDI__DIBSIZE(bi)) : GDI__DIBSIZE(bi))

#define CLR_INVALID 0xFFFFFFFF
#define GDI_ERROR 0xFFFFFFFFL
#define HGDI_ERROR ((HANDLE)(LONG_PTR)-1)

// ---- stock objects ------------------------------------------------------------------------------
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8
#define DC_BRUSH 18
#define DC_PEN 19
LUMACAP_API HGDIOBJ WINAPI GetStockObject(int i);

// ---- pens and brushes ---------------------------------------------------------------------------
#define PS_SOLID 0
#define PS_DASH 1        // 18 on, 6 off
#define PS_DOT 2         // 3 on, 3 off
#define PS_DASHDOT 3     // 9 on, 6 off, 3 on, 6 off
#define PS_DASHDOTDOT 4  // 9, 3, 3, 3, 3, 3
#define PS_NULL 5
#define PS_INSIDEFRAME 6
#define PS_STYLE_MASK 0x0000000F
// Styled pens wider than one pixel draw solid, as on Windows.
LUMACAP_API HPEN WINAPI CreatePen(int iStyle, int cWidth, COLORREF color);
LUMACAP_API HBRUSH WINAPI CreateSolidBrush(COLORREF color);

// ---- device contexts ----------------------------------------------------------------------------
// A memory context starts with a 1 x 1 monochrome bitmap selected, as on Windows.
LUMACAP_API HDC WINAPI CreateCompatibleDC(HDC hdc);
LUMACAP_API BOOL WINAPI DeleteDC(HDC hdc);
LUMACAP_API HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ h);
LUMACAP_API HGDIOBJ WINAPI GetCurrentObject(HDC hdc, UINT type);
// Fails for an object selected into a context; stock objects are never deleted.
LUMACAP_API BOOL WINAPI DeleteObject(HGDIOBJ ho);
#define OBJ_PEN 1
#define OBJ_BRUSH 2
#define OBJ_DC 3
#define OBJ_BITMAP 7
#define OBJ_MEMDC 10
LUMACAP_API DWORD WINAPI GetObjectType(HGDIOBJ h);

typedef struct tagBITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
} BITMAP, *PBITMAP, *LPBITMAP;
typedef struct tagLOGPEN {
    UINT lopnStyle;
    POINT lopnWidth;
    COLORREF lopnColor;
} LOGPEN, *PLOGPEN, *LPLOGPEN;
typedef struct tagLOGBRUSH {
    UINT lbStyle;
    COLORREF lbColor;
    ULONG_PTR lbHatch;
} LOGBRUSH, *PLOGBRUSH, *LPLOGBRUSH;
#define BS_SOLID 0
#define BS_NULL 1
#define BS_HOLLOW BS_NULL
// BITMAP for bitmaps, LOGPEN for pens, LOGBRUSH for brushes.
LUMACAP_API int WINAPI GetObjectA(HANDLE h, int c, LPVOID pv);
#define GetObject GetObjectA

#define HORZRES 8
#define VERTRES 10
#define BITSPIXEL 12
#define PLANES 14
#define LOGPIXELSX 88
#define LOGPIXELSY 90
LUMACAP_API int WINAPI GetDeviceCaps(HDC hdc, int index);

// ---- bitmaps ------------------------------------------------------------------------------------
// Bitmaps compatible with a window or screen context have 32 bits per pixel; with a memory
// context, the depth of the bitmap selected into it. Contents start black.
LUMACAP_API HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy);
// 1 or 32 bits per pixel; `lpBits` rows are padded to 2 bytes (monochrome) as on Windows.
LUMACAP_API HBITMAP WINAPI CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount,
                                        const void* lpBits);

#define DIB_RGB_COLORS 0
#define DIB_PAL_COLORS 1
// A 24- or 32-bit DIB section whose bits the caller reaches through *ppvBits.
LUMACAP_API HBITMAP WINAPI CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage,
                                            void** ppvBits, HANDLE hSection, DWORD offset);
// Reads rows of a bitmap as a 24- or 32-bit DIB (bottom-up for a positive height). With null
// bits, fills in the header's size fields.
LUMACAP_API int WINAPI GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits,
                                 LPBITMAPINFO lpbmi, UINT usage);

// ---- state --------------------------------------------------------------------------------------
#define R2_BLACK 1
#define R2_NOTMERGEPEN 2
#define R2_MASKNOTPEN 3
#define R2_NOTCOPYPEN 4
#define R2_MASKPENNOT 5
#define R2_NOT 6
#define R2_XORPEN 7
#define R2_NOTMASKPEN 8
#define R2_MASKPEN 9
#define R2_NOTXORPEN 10
#define R2_NOP 11
#define R2_MERGENOTPEN 12
#define R2_COPYPEN 13
#define R2_MERGEPENNOT 14
#define R2_MERGEPEN 15
#define R2_WHITE 16
LUMACAP_API int WINAPI SetROP2(HDC hdc, int rop2);
LUMACAP_API int WINAPI GetROP2(HDC hdc);

#define TRANSPARENT 1
#define OPAQUE 2
LUMACAP_API COLORREF WINAPI SetBkColor(HDC hdc, COLORREF color);
LUMACAP_API COLORREF WINAPI GetBkColor(HDC hdc);
LUMACAP_API int WINAPI SetBkMode(HDC hdc, int mode);
LUMACAP_API int WINAPI GetBkMode(HDC hdc);
LUMACAP_API COLORREF WINAPI SetTextColor(HDC hdc, COLORREF color);
LUMACAP_API COLORREF WINAPI GetTextColor(HDC hdc);

#define MM_TEXT 1
#define MM_LOMETRIC 2
#define MM_HIMETRIC 3
#define MM_LOENGLISH 4
#define MM_HIENGLISH 5
#define MM_TWIPS 6
#define MM_ISOTROPIC 7
#define MM_ANISOTROPIC 8
// Only MM_TEXT is supported; other modes fail with ERROR_INVALID_PARAMETER.
LUMACAP_API int WINAPI SetMapMode(HDC hdc, int iMode);
LUMACAP_API int WINAPI GetMapMode(HDC hdc);
LUMACAP_API BOOL WINAPI SetWindowOrgEx(HDC hdc, int x, int y, LPPOINT lppt);
LUMACAP_API BOOL WINAPI GetWindowOrgEx(HDC hdc, LPPOINT lppoint);
LUMACAP_API BOOL WINAPI SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT lppt);
LUMACAP_API BOOL WINAPI GetViewportOrgEx(HDC hdc, LPPOINT lppoint);

#define BLACKONWHITE 1
#define WHITEONBLACK 2
#define COLORONCOLOR 3
#define HALFTONE 4
#define STRETCH_ANDSCANS BLACKONWHITE
#define STRETCH_ORSCANS WHITEONBLACK
#define STRETCH_DELETESCANS COLORONCOLOR
#define STRETCH_HALFTONE HALFTONE
// Shrinking with HALFTONE averages; every other mode picks the nearest pixel.
LUMACAP_API int WINAPI SetStretchBltMode(HDC hdc, int mode);
LUMACAP_API int WINAPI GetStretchBltMode(HDC hdc);

// ---- clipping -----------------------------------------------------------------------------------
// The SDK also spells RGN_ERROR as ERROR; that name is left out, it collides too easily.
#define RGN_ERROR 0
#define NULLREGION 1
#define SIMPLEREGION 2
#define COMPLEXREGION 3
// The clip rectangle in logical coordinates.
LUMACAP_API int WINAPI GetClipBox(HDC hdc, LPRECT lprect);
LUMACAP_API int WINAPI IntersectClipRect(HDC hdc, int left, int top, int right, int bottom);

// ---- drawing ------------------------------------------------------------------------------------
LUMACAP_API COLORREF WINAPI SetPixel(HDC hdc, int x, int y, COLORREF color);
LUMACAP_API COLORREF WINAPI GetPixel(HDC hdc, int x, int y);
LUMACAP_API BOOL WINAPI MoveToEx(HDC hdc, int x, int y, LPPOINT lppt);
LUMACAP_API BOOL WINAPI LineTo(HDC hdc, int x, int y);
// The outline runs through left..right-1, top..bottom-1 with the selected pen (centred on that
// path); the inside is filled with the selected brush.
LUMACAP_API BOOL WINAPI Rectangle(HDC hdc, int left, int top, int right, int bottom);

#define SRCCOPY 0x00CC0020
#define SRCPAINT 0x00EE0086
#define SRCAND 0x008800C6
#define SRCINVERT 0x00660046
#define SRCERASE 0x00440328
#define NOTSRCCOPY 0x00330008
#define DSTINVERT 0x00550009
#define PATCOPY 0x00F00021
#define BLACKNESS 0x00000042
#define WHITENESS 0x00FF0062
#define CAPTUREBLT 0x40000000
#define NOMIRRORBITMAP 0x80000000
// Monochrome sources draw 0 bits in the text colour and 1 bits in the background colour.
LUMACAP_API BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1,
                               DWORD rop);
LUMACAP_API BOOL WINAPI StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest,
                                   HDC hdcSrc, int xSrc, int ySrc, int wSrc, int hSrc, DWORD rop);
LUMACAP_API BOOL WINAPI PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop);

// DIB drawing: 24- and 32-bit BI_RGB DIBs, bottom-up (positive height) or top-down. For bottom-up
// DIBs the source rectangle is measured from the bottom-left corner, as on Windows. A negative
// destination width or height mirrors. Only SRCCOPY is supported by StretchDIBits.
LUMACAP_API int WINAPI StretchDIBits(HDC hdc, int xDest, int yDest, int DestWidth, int DestHeight,
                                     int xSrc, int ySrc, int SrcWidth, int SrcHeight,
                                     const void* lpBits, const BITMAPINFO* lpbmi, UINT iUsage,
                                     DWORD rop);
// Copies `cLines` scan lines numbered from `StartScan` (bottom-up numbering for bottom-up DIBs);
// answers the number of lines copied.
LUMACAP_API int WINAPI SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc,
                                         int ySrc, UINT StartScan, UINT cLines, const void* lpvBits,
                                         const BITMAPINFO* lpbmi, UINT ColorUse);
LUMACAP_API BOOL WINAPI GdiFlush();
