// Composing one output frame: every source drawn into its rectangle of the media sample, windows
// captured with GDI and fitted with their shape kept, cameras read from their grabbers, reduced
// when larger than the output and stretched; then the host's callback and the diagnostic frame.
#include <lumacap/DXRecorder.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gdiplus.h>
#include <wincrt.h>

#include "recorder/WindowCapture.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

DWORD RowBytes24(LONG width) {
    return GDI_WIDTHBYTES(static_cast<DWORD>(width) * 24);
}

BITMAPINFO Header24(LONG width, LONG height) {
    BITMAPINFO info;
    std::memset(&info, 0, sizeof(info));
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = RowBytes24(width) * static_cast<DWORD>(std::abs(height));
    return info;
}

// One destination column of the box filter: channel sums and the pixels taken.
struct ReduceAccumulator {
    DWORD blue, green, red, count;
};

// When the diagnostic frame was last written, for the whole process: 0 at start, so the first
// composed frame of the process is always written.
std::atomic<time_t> g_lastSnapshot{0};

const char kSnapshotPath[] = "D:\\test\\catch.bmp";

}  // namespace

BOOL CDXRecorder::GetImageBuffer(BYTE* pBuffer) {
    ++m_nRealFrames;
    const int width = FrameWidth();
    const int height = FrameHeight();
    if (!pBuffer || width <= 0 || height <= 0) return TRUE;
    const DWORD frameSize = RowBytes24(width) * static_cast<DWORD>(height);

    // The sample itself is the canvas: nothing is cleared, so whatever no source paints keeps
    // the sample's older content.
    BITMAPINFO info = Header24(width, height);
    GpBitmap* pCanvas = nullptr;
    GpGraphics* pGraphics = nullptr;
    if (GdipCreateBitmapFromGdiDib(&info, pBuffer, &pCanvas) == Ok &&
        GdipGetImageGraphicsContext(pCanvas, &pGraphics) == Ok) {
        GdipSetInterpolationMode(pGraphics, InterpolationModeHighQualityBicubic);
        // Later sources paint over earlier ones.
        for (size_t i = 0; i < m_vecSources.size(); ++i) {
            const RecorderSource& source = m_vecSources[i];
            if (source.type == RecorderSource_Window)
                DrawWindowSource(pGraphics, source, i);
            else if (source.type == RecorderSource_Camera)
                DrawCameraSource(pGraphics, source, width, height);
        }
    }

    if (DXRECORDER_BUFF_CB pfn = m_pfnBuffCB.load())
        pfn(pBuffer, static_cast<LONG>(frameSize), m_pBuffCBUser.load());
    else if (WideBuffCB pfnWide = m_pfnWideBuffCB.load())
        pfnWide(pBuffer, static_cast<long>(frameSize), m_pBuffCBUser.load());

    // One composed frame on disk every 11 seconds at most, for looking at a recording from
    // outside. A wall clock that went backwards writes at once rather than waiting to catch up.
    const time_t now = _time64(nullptr);
    const time_t last = g_lastSnapshot.load();
    if (now - last >= 11 || now < last) {
        g_lastSnapshot = now;
        SaveBitmapFile(kSnapshotPath, pBuffer, frameSize, width, height);
    }

    if (pGraphics) GdipDeleteGraphics(pGraphics);
    if (pCanvas) GdipDisposeImage(pCanvas);
    return TRUE;
}

void CDXRecorder::DrawWindowSource(GpGraphics* pGraphics, const RecorderSource& source,
                                   size_t index) {
    const RECT& rc = source.position;
    const LONG rw = rc.right - rc.left;
    const LONG rh = rc.bottom - rc.top;
    // Each window source keeps its capture target from frame to frame, so a frame costs one copy
    // of the window's pixels and nothing allocated once the sizes have settled.
    if (m_vecCaptures.size() <= index) m_vecCaptures.resize(m_vecSources.size());
    std::unique_ptr<CWindowCapture>& capture = m_vecCaptures[index];
    if (!capture) capture = std::make_unique<CWindowCapture>();
    if (!capture->Capture(static_cast<HWND>(source.core))) return;
    GpBitmap* pImage = nullptr;
    if (GdipCreateBitmapFromGdiDib(capture->Info(), capture->Bits(), &pImage) == Ok) {
        UINT w = 0, h = 0;
        GdipGetImageWidth(pImage, &w);
        GdipGetImageHeight(pImage, &h);
        if (w > 0 && h > 0 && rw > 0 && rh > 0) {
            // Fitted into the rectangle with its shape kept, centred; the strips beside it are
            // left alone.
            const double a = static_cast<double>(w) / static_cast<double>(h);
            const double b = static_cast<double>(rw) / static_cast<double>(rh);
            LONG x, y, dw, dh;
            if (a <= b) {
                dh = rh;
                dw = static_cast<LONG>(a * rh);
                x = rc.left + (rw - dw) / 2;
                y = rc.top;
            } else {
                dw = rw;
                dh = static_cast<LONG>(rw / a);
                x = rc.left;
                y = rc.top + (rh - dh) / 2;
            }
            GdipDrawImageRectI(pGraphics, pImage, x, y, dw, dh);
        }
        GdipDisposeImage(pImage);
    }
}

void CDXRecorder::DrawCameraSource(GpGraphics* pGraphics, const RecorderSource& source, int width,
                                   int height) {
    CDXCamera* pCamera = static_cast<CDXCamera*>(source.core);
    if (!pCamera || pCamera->m_nStatus == CameraStatus_Closed) return;
    LONG w = 0, h = 0;
    if (!pCamera->GetVideoSize(pCamera->m_lResolutionIndex, &w, &h)) return;
    // A top-down format (negative height) reaches the grabber as it is, its top row first; the
    // reduction keeps the row order, and the bitmap wrapped around the frame says it.
    const bool topDown = h < 0;
    if (topDown) h = -h;
    if (w <= 0 || h <= 0 || w > 16384 || h > 16384) return;
    ISampleGrabber* pGrabber = pCamera->m_pSampleGrabber;
    if (!pGrabber) return;

    // The grabber's latest frame itself where the grabber lends it: the reference keeps the frame
    // as it is while it is drawn, whatever the camera delivers meanwhile. Otherwise (a grabber
    // that only copies, or a frame shorter than its format says) a copy in a buffer the recorder
    // keeps for the purpose.
    const size_t frameBytes = static_cast<size_t>(RowBytes24(w)) * static_cast<size_t>(h);
    IMediaSample* pSample = nullptr;
    BYTE* pFrame = nullptr;
    if (SUCCEEDED(pGrabber->GetCurrentSample(&pSample)) && pSample) {
        if (FAILED(pSample->GetPointer(&pFrame)) || !pFrame ||
            pSample->GetActualDataLength() < static_cast<long>(frameBytes)) {
            pFrame = nullptr;
            pSample->Release();
            pSample = nullptr;
        }
    }
    if (!pFrame) {
        long size = 0;
        if (FAILED(pGrabber->GetCurrentBuffer(&size, nullptr)) || size <= 0)
            size = static_cast<long>(frameBytes);
        // Zeros until the camera's first frame: its rectangle is then painted black.
        m_vecCameraFrame.assign(
            static_cast<size_t>(size) > frameBytes ? static_cast<size_t>(size) : frameBytes, 0);
        size = static_cast<long>(m_vecCameraFrame.size());
        pGrabber->GetCurrentBuffer(&size, reinterpret_cast<long*>(m_vecCameraFrame.data()));
        pFrame = m_vecCameraFrame.data();
    }

    // A frame larger than the output is first box-filtered down to the output size. The box
    // filter is made for true reductions of the width; a frame that is larger in one direction
    // only goes to the bicubic scaler as it is, which filters the reduction itself.
    if (w > width && h >= height) {
        m_vecReducedFrame.resize(static_cast<size_t>(RowBytes24(width)) *
                                 static_cast<size_t>(height));
        ReduceImage(pFrame, w, h, m_vecReducedFrame.data(), width, height);
        if (pSample) pSample->Release();
        pSample = nullptr;
        pFrame = m_vecReducedFrame.data();
        w = width;
        h = height;
    }

    BITMAPINFO info = Header24(w, topDown ? -h : h);
    GpBitmap* pImage = nullptr;
    if (GdipCreateBitmapFromGdiDib(&info, pFrame, &pImage) == Ok) {
        // Cameras fill their rectangle exactly, whatever its shape.
        const RECT& rc = source.position;
        GdipDrawImageRectI(pGraphics, pImage, rc.left, rc.top, rc.right - rc.left,
                           rc.bottom - rc.top);
        GdipDisposeImage(pImage);
    }
    if (pSample) pSample->Release();
}

HBITMAP CDXRecorder::GetImageFromWnd(HWND hWnd) {
    return CWindowCapture::CaptureToBitmap(hWnd);
}

void CDXRecorder::ReduceImage(const BYTE* pSrc, int srcWidth, int srcHeight, BYTE* pDst,
                              int dstWidth, int dstHeight) {
    if (!pSrc || !pDst || srcHeight <= 0 || srcWidth <= 0 || dstWidth <= 0 || dstHeight <= 0)
        return;
    const DWORD srcStride = RowBytes24(srcWidth);
    const DWORD dstStride = RowBytes24(dstWidth);
    // Kept per thread from call to call: a recording reduces every frame at the same width.
    thread_local std::vector<ReduceAccumulator> acc;
    acc.assign(static_cast<size_t>(dstWidth), ReduceAccumulator{0, 0, 0, 0});

    DWORD rowSum = 0;
    int rowsOut = 0;
    const BYTE* srcRow = pSrc;
    BYTE* dstRow = pDst;
    for (int y = 0; y < srcHeight; ++y, srcRow += srcStride) {
        rowSum += static_cast<DWORD>(dstHeight);
        DWORD columnSum = 0;
        size_t current = 0;
        const BYTE* p = srcRow;
        for (int x = 0; x < srcWidth; ++x, p += 3) {
            columnSum += static_cast<DWORD>(dstWidth);
            ReduceAccumulator& a = acc[current];
            a.blue += p[0];
            a.green += p[1];
            a.red += p[2];
            ++a.count;
            // Columns move on only once the sum exceeds the source width, so a 2 : 1 reduction
            // takes three pixels into its first column and one into its last. The move after a
            // row's last pixel has nowhere to go.
            if (columnSum > static_cast<DWORD>(srcWidth)) {
                if (current + 1 < acc.size()) ++current;
                columnSum -= static_cast<DWORD>(srcWidth);
            }
        }
        if (rowSum >= static_cast<DWORD>(srcHeight)) {
            if (rowsOut < dstHeight) {
                BYTE* q = dstRow;
                for (ReduceAccumulator& a : acc) {
                    if (a.count) {
                        q[0] = static_cast<BYTE>(a.blue / a.count);
                        q[1] = static_cast<BYTE>(a.green / a.count);
                        q[2] = static_cast<BYTE>(a.red / a.count);
                    } else {
                        q[0] = q[1] = q[2] = 0;
                    }
                    q += 3;
                }
                dstRow += dstStride;
                ++rowsOut;
            }
            for (ReduceAccumulator& a : acc) a = ReduceAccumulator{0, 0, 0, 0};
            rowSum -= static_cast<DWORD>(srcHeight);
        }
    }
}

BOOL CDXRecorder::SaveBitmapFile(const char* path, const BYTE* pPixels, DWORD size, int width,
                                 int height) {
    HANDLE hFile = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return TRUE;

    BYTE fileHeader[14];
    std::memset(fileHeader, 0, sizeof(fileHeader));
    const DWORD fileSize = size + 54;
    const DWORD offset = 54;
    fileHeader[0] = 'B';
    fileHeader[1] = 'M';
    std::memcpy(fileHeader + 2, &fileSize, 4);
    std::memcpy(fileHeader + 10, &offset, 4);

    BITMAPINFOHEADER info;
    std::memset(&info, 0, sizeof(info));
    info.biSize = sizeof(BITMAPINFOHEADER);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;

    DWORD written = 0;
    WriteFile(hFile, fileHeader, sizeof(fileHeader), &written, nullptr);
    WriteFile(hFile, &info, sizeof(info), &written, nullptr);
    if (pPixels && size) WriteFile(hFile, pPixels, size, &written, nullptr);
    CloseHandle(hFile);
    return TRUE;
}
