// GDI+: the flat interface subset the library draws with. Types live in namespace Gdiplus, the
// flat functions in Gdiplus::DllExports, as in the SDK.
//
// Nothing works before GdiplusStartup (GdiplusNotInitialized). Images are 24- or 32-bit RGB;
// bitmaps made from a GDI DIB wrap the caller's bits without copying, so drawing into such a
// bitmap writes the caller's buffer. Scaling maps pixel centres onto pixel centres and repeats the
// edge pixels of the source rectangle outside it. InterpolationModeHighQualityBicubic filters
// reductions (the kernel widens with the reduction factor); the plain bicubic and bilinear modes
// do not. Drawing is clipped to the target (and to the clip box of a device context).
#pragma once

#include "windef.h"
#include "wingdi.h"

#define WINGDIPAPI WINAPI
#define GDIPCONST const

namespace Gdiplus {

typedef float REAL;
typedef int INT;
typedef unsigned int UINT32;

enum Status {
    Ok = 0,
    GenericError = 1,
    InvalidParameter = 2,
    OutOfMemory = 3,
    ObjectBusy = 4,
    InsufficientBuffer = 5,
    NotImplemented = 6,
    Win32Error = 7,
    WrongState = 8,
    Aborted = 9,
    FileNotFound = 10,
    ValueOverflow = 11,
    AccessDenied = 12,
    UnknownImageFormat = 13,
    FontFamilyNotFound = 14,
    FontStyleNotFound = 15,
    NotTrueTypeFont = 16,
    UnsupportedGdiplusVersion = 17,
    GdiplusNotInitialized = 18,
    PropertyNotFound = 19,
    PropertyNotSupported = 20,
};
typedef Status GpStatus;

enum Unit {
    UnitWorld = 0,
    UnitDisplay = 1,
    UnitPixel = 2,
    UnitPoint = 3,
    UnitInch = 4,
    UnitDocument = 5,
    UnitMillimeter = 6,
};
typedef Unit GpUnit;

enum InterpolationMode {
    InterpolationModeInvalid = -1,
    InterpolationModeDefault = 0,
    InterpolationModeLowQuality = 1,
    InterpolationModeHighQuality = 2,
    InterpolationModeBilinear = 3,
    InterpolationModeBicubic = 4,
    InterpolationModeNearestNeighbor = 5,
    InterpolationModeHighQualityBilinear = 6,
    InterpolationModeHighQualityBicubic = 7,
};

typedef INT PixelFormat;
#define PixelFormatGDI 0x00020000
#define PixelFormatAlpha 0x00040000
#define PixelFormat24bppRGB (8 | (24 << 8) | PixelFormatGDI)
#define PixelFormat32bppRGB (9 | (32 << 8) | PixelFormatGDI)
#define PixelFormat32bppARGB (10 | (32 << 8) | PixelFormatAlpha | PixelFormatGDI | 0x00200000)

typedef DWORD ARGB;

typedef VOID(WINAPI* DebugEventProc)(int level, CHAR* message);
typedef Status(WINAPI* NotificationHookProc)(ULONG_PTR* token);
typedef VOID(WINAPI* NotificationUnhookProc)(ULONG_PTR token);
typedef BOOL(CALLBACK* DrawImageAbort)(VOID* callbackData);

struct GdiplusStartupInput {
    UINT32 GdiplusVersion;
    DebugEventProc DebugEventCallback;
    BOOL SuppressBackgroundThread;
    BOOL SuppressExternalCodecs;

    GdiplusStartupInput(DebugEventProc debugEventCallback = nullptr,
                        BOOL suppressBackgroundThread = FALSE, BOOL suppressExternalCodecs = FALSE)
        : GdiplusVersion(1),
          DebugEventCallback(debugEventCallback),
          SuppressBackgroundThread(suppressBackgroundThread),
          SuppressExternalCodecs(suppressExternalCodecs) {}
};

struct GdiplusStartupOutput {
    NotificationHookProc NotificationHook;
    NotificationUnhookProc NotificationUnhook;
};

// Version 1 only. Each successful start-up gives a token that one shutdown returns.
extern "C" LUMACAP_API Status WINAPI GdiplusStartup(ULONG_PTR* token,
                                                    const GdiplusStartupInput* input,
                                                    GdiplusStartupOutput* output);
extern "C" LUMACAP_API VOID WINAPI GdiplusShutdown(ULONG_PTR token);

// Opaque objects of the flat interface.
class GpGraphics {};
class GpImage {};
class GpBitmap : public GpImage {};
class GpImageAttributes {};

namespace DllExports {
extern "C" {

// Bitmaps.
LUMACAP_API GpStatus WINGDIPAPI GdipCreateBitmapFromGdiDib(GDIPCONST BITMAPINFO* gdiBitmapInfo,
                                                           VOID* gdiBitmapData, GpBitmap** bitmap);
// Copies the bitmap's pixels (32-bit RGB).
LUMACAP_API GpStatus WINGDIPAPI GdipCreateBitmapFromHBITMAP(HBITMAP hbm, HPALETTE hpal,
                                                            GpBitmap** bitmap);
// With null scan0 the bitmap owns zeroed memory; otherwise it wraps scan0 (a negative stride walks
// up from scan0).
LUMACAP_API GpStatus WINGDIPAPI GdipCreateBitmapFromScan0(INT width, INT height, INT stride,
                                                          PixelFormat format, BYTE* scan0,
                                                          GpBitmap** bitmap);
LUMACAP_API GpStatus WINGDIPAPI GdipGetImageWidth(GpImage* image, UINT* width);
LUMACAP_API GpStatus WINGDIPAPI GdipGetImageHeight(GpImage* image, UINT* height);
LUMACAP_API GpStatus WINGDIPAPI GdipGetImagePixelFormat(GpImage* image, PixelFormat* format);
LUMACAP_API GpStatus WINGDIPAPI GdipBitmapGetPixel(GpBitmap* bitmap, INT x, INT y, ARGB* color);
LUMACAP_API GpStatus WINGDIPAPI GdipDisposeImage(GpImage* image);

// Graphics.
LUMACAP_API GpStatus WINGDIPAPI GdipCreateFromHDC(HDC hdc, GpGraphics** graphics);
LUMACAP_API GpStatus WINGDIPAPI GdipGetImageGraphicsContext(GpImage* image, GpGraphics** graphics);
LUMACAP_API GpStatus WINGDIPAPI GdipDeleteGraphics(GpGraphics* graphics);
LUMACAP_API GpStatus WINGDIPAPI GdipSetInterpolationMode(GpGraphics* graphics,
                                                         InterpolationMode interpolationMode);
LUMACAP_API GpStatus WINGDIPAPI GdipGetInterpolationMode(GpGraphics* graphics,
                                                         InterpolationMode* interpolationMode);
LUMACAP_API GpStatus WINGDIPAPI GdipGraphicsClear(GpGraphics* graphics, ARGB color);

// Drawing. The source rectangle is in pixels (UnitPixel; UnitWorld and UnitDisplay mean the same
// here); a source rectangle reaching outside the image is InvalidParameter; an empty destination
// draws nothing.
LUMACAP_API GpStatus WINGDIPAPI GdipDrawImageRectI(GpGraphics* graphics, GpImage* image, INT x,
                                                   INT y, INT width, INT height);
LUMACAP_API GpStatus WINGDIPAPI GdipDrawImageRectRectI(GpGraphics* graphics, GpImage* image,
                                                       INT dstx, INT dsty, INT dstwidth,
                                                       INT dstheight, INT srcx, INT srcy,
                                                       INT srcwidth, INT srcheight, GpUnit srcUnit,
                                                       GDIPCONST GpImageAttributes* imageAttributes,
                                                       DrawImageAbort callback, VOID* callbackData);

}  // extern "C"
}  // namespace DllExports
}  // namespace Gdiplus
