// CPreviewWnd: creation, frames in, painting the picture and handing graph events to the camera.
#include "preview/PreviewWnd.h"

#include <algorithm>

#include <gdiplus.h>
#include <lumacap/DXCamera.h>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

// The media graph posts its events to this window as WM_USER + 100.
constexpr UINT kGraphEventMessage = WM_USER + 100;

}  // namespace

BEGIN_MESSAGE_MAP(CPreviewWnd, CWnd)
ON_WM_PAINT()
ON_WM_ERASEBKGND()
ON_WM_CREATE()
ON_WM_LBUTTONDOWN()
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONUP()
ON_WM_SETCURSOR()
END_MESSAGE_MAP()

CPreviewWnd::CPreviewWnd(CDXCamera* pCamera)
    : m_pCamera(pCamera),
      m_gdiplusToken(0),
      m_rcDisplay{0, 0, 0, 0},
      m_nCurrent(-1),
      m_nHitCode(0),
      m_nTrackState(0),
      m_rcTrack{0, 0, 0, 0},
      m_ptAnchor{0, 0} {
    GdiplusStartupInput input;
    // The token stays 0 if GDI+ cannot start; painting then uses plain GDI.
    if (GdiplusStartup(&m_gdiplusToken, &input, nullptr) != Ok) m_gdiplusToken = 0;
    InitializeCriticalSection(&m_cs);
}

CPreviewWnd::~CPreviewWnd() {
    // A window destroyed in the middle of a drag must not leave the pointer confined.
    if (m_nTrackState & 0xFFFF) ClipCursor(nullptr);
    ClearItems();
    DropLentFrame();
    GdiplusShutdown(m_gdiplusToken);
    m_gdiplusToken = 0;
    DeleteCriticalSection(&m_cs);
}

void CPreviewWnd::SetFrameSize(LONG lWidth, LONG lHeight) {
    // A top-down format (negative height) makes a picture of the same shape.
    if (lHeight < 0) lHeight = -lHeight;
    DropLentFrame();
    EnterCriticalSection(&m_cs);
    m_image.Create(static_cast<DWORD>(lWidth), static_cast<DWORD>(lHeight), 24);
    LeaveCriticalSection(&m_cs);
    RECT rc{0, 0, 0, 0};
    GetClientRect(&rc);
    const int cw = rc.right - rc.left, ch = rc.bottom - rc.top;
    if (lWidth <= 0 || lHeight <= 0 || cw <= 0 || ch <= 0) {
        // Nothing sensible to fit: no display area.
        m_rcDisplay = RECT{0, 0, 0, 0};
        return;
    }
    const double aspect = static_cast<double>(lWidth) / static_cast<double>(lHeight);
    const double clientAspect = static_cast<double>(cw) / static_cast<double>(ch);
    int left, top, dw, dh;
    if (aspect <= clientAspect) {
        dh = ch - 2;
        dw = static_cast<int>(dh * aspect);
        left = (cw - dw) / 2;
        top = 1;
    } else {
        dw = cw - 2;
        dh = static_cast<int>(dw / aspect);
        left = 1;
        top = (ch - dh) / 2;
    }
    m_rcDisplay = RECT{left, top, left + dw, top + dh};
}

void CPreviewWnd::PutFrame(const BYTE* pBuffer, LONG, LONG lWidth, LONG lHeight) {
    // The picture is kept bottom-up: a top-down frame (negative height) is turned over as it is
    // copied, which costs nothing more than the copy.
    const bool topDown = lHeight < 0;
    if (topDown) lHeight = -lHeight;
    EnterCriticalSection(&m_cs);
    IMediaSample* pLent = m_pLentFrame;
    m_pLentFrame = nullptr;
    m_pLentPixels = nullptr;
    const DWORD rowBytes = GDI_WIDTHBYTES(static_cast<DWORD>(lWidth) * 24);
    m_image.CreateFromPixels(pBuffer, static_cast<DWORD>(lWidth), static_cast<DWORD>(lHeight), 24,
                             rowBytes, topDown);
    LeaveCriticalSection(&m_cs);
    if (pLent) pLent->Release();
    // Repaint requests from many frames collapse into one paint on the window's thread.
    if (m_hWnd) InvalidateRect(nullptr, TRUE);
}

void CPreviewWnd::PutSample(IMediaSample* pFrame, LONG lWidth, LONG lHeight) {
    if (!pFrame) return;
    BYTE* pPixels = nullptr;
    const LONG rowBytes = static_cast<LONG>(GDI_WIDTHBYTES(static_cast<DWORD>(lWidth) * 24));
    const bool usable = lWidth > 0 && lHeight > 0 && SUCCEEDED(pFrame->GetPointer(&pPixels)) &&
                        pPixels && pFrame->GetActualDataLength() >= rowBytes * lHeight;
    EnterCriticalSection(&m_cs);
    // Only a frame of the picture's own shape can be shown under its header.
    const bool fits = usable && m_image.GetBlock() &&
                      m_image.GetWidth() == static_cast<DWORD>(lWidth) &&
                      m_image.GetHeight() == static_cast<DWORD>(lHeight);
    IMediaSample* pOld = nullptr;
    if (fits) {
        pOld = m_pLentFrame;
        m_pLentFrame = pFrame;
        m_pLentPixels = pPixels;
    }
    LeaveCriticalSection(&m_cs);
    if (!fits) {
        if (pPixels) PutFrame(pPixels, pFrame->GetActualDataLength(), lWidth, lHeight);
        pFrame->Release();
        return;
    }
    // Given back outside the lock: the frame may go back to its pool.
    if (pOld) pOld->Release();
    if (m_hWnd) InvalidateRect(nullptr, TRUE);
}

void CPreviewWnd::DropLentFrame() {
    EnterCriticalSection(&m_cs);
    IMediaSample* pLent = m_pLentFrame;
    m_pLentFrame = nullptr;
    m_pLentPixels = nullptr;
    LeaveCriticalSection(&m_cs);
    if (pLent) pLent->Release();
}

bool CPreviewWnd::PictureSize(double* pWidth, double* pHeight) const {
    auto* pcs = const_cast<CRITICAL_SECTION*>(&m_cs);
    EnterCriticalSection(pcs);
    const bool hasPicture = m_image.GetBlock() != nullptr;
    if (pWidth) *pWidth = m_image.GetWidth();
    if (pHeight) *pHeight = m_image.GetHeight();
    LeaveCriticalSection(pcs);
    return hasPicture;
}

void CPreviewWnd::ClearFrame() {
    DropLentFrame();
    EnterCriticalSection(&m_cs);
    m_image.Destroy();
    LeaveCriticalSection(&m_cs);
    if (m_hWnd) InvalidateRect(nullptr, TRUE);
}

LRESULT CPreviewWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kGraphEventMessage && m_pCamera) m_pCamera->HandleEvent();
    static const UINT s_uQueryMessage = RegisterWindowMessageA(lumacap::sim::kPreviewQueryMessage);
    if (message == s_uQueryMessage && s_uQueryMessage != 0) return AnswerQuery(wParam, lParam);
    return CWnd::WindowProc(message, wParam, lParam);
}

void CPreviewWnd::OnPaint() {
    CPaintDC dc(this);

    // Everything is drawn off screen over the clip box, in client coordinates, then copied once.
    CRect rcClip;
    dc.GetClipBox(&rcClip);
    if (rcClip.IsRectEmpty()) return;
    CDC memDC;
    memDC.CreateCompatibleDC(&dc);
    if (!m_bmOffscreen.m_hObject || m_nOffscreenWidth < rcClip.Width() ||
        m_nOffscreenHeight < rcClip.Height()) {
        m_bmOffscreen.DeleteObject();
        m_nOffscreenWidth = std::max(m_nOffscreenWidth, rcClip.Width());
        m_nOffscreenHeight = std::max(m_nOffscreenHeight, rcClip.Height());
        if (!m_bmOffscreen.CreateCompatibleBitmap(&dc, m_nOffscreenWidth, m_nOffscreenHeight))
            m_nOffscreenWidth = m_nOffscreenHeight = 0;
    }
    CBitmap* pOldBitmap = memDC.SelectObject(&m_bmOffscreen);
    memDC.SetMapMode(dc.GetMapMode());
    memDC.SetWindowOrg(rcClip.left, rcClip.top);

    // Black under everything (the surface keeps the last paint's pixels). A fill with the
    // window's background colour first would be covered by this one entirely.
    CBrush black(RGB(0, 0, 0));
    memDC.FillRect(&rcClip, &black);

    EnterCriticalSection(&m_cs);
    const bool hasPicture = m_image.GetBlock() != nullptr;
    if (hasPicture) {
        const RECT rcSrc{0, 0, static_cast<LONG>(m_image.GetWidth()),
                         static_cast<LONG>(m_image.GetHeight())};
        if (m_pLentPixels)
            DrawPixels(&memDC, m_rcDisplay, static_cast<BITMAPINFO*>(m_image.GetBlock()),
                       m_pLentPixels, rcSrc);
        else
            DrawFrame(&memDC, m_rcDisplay, m_image.GetBlock(), rcSrc);
    }
    LeaveCriticalSection(&m_cs);

    if (hasPicture) {
        DrawItems(&memDC);

        if (m_nTrackState == TrackDrawing || m_nTrackState == TrackSizing) {
            CGdiObject* pOldBrush = memDC.SelectStockObject(NULL_BRUSH);
            const int oldRop = memDC.SetROP2(R2_COPYPEN);
            CPen pen(PS_DOT, 1, GetSysColor(COLOR_GRAYTEXT));
            CPen* pOldPen = memDC.SelectObject(&pen);
            CRect outline(m_rcTrack);
            outline.InflateRect(1, 1);
            memDC.Rectangle(&outline);
            memDC.SelectObject(pOldPen);
            memDC.SetROP2(oldRop);
            if (pOldBrush) memDC.SelectObject(pOldBrush->m_hObject);
        }
    }

    dc.BitBlt(rcClip.left, rcClip.top, rcClip.Width(), rcClip.Height(), &memDC, rcClip.left,
              rcClip.top, SRCCOPY);
    memDC.SelectObject(pOldBitmap);
}

BOOL CPreviewWnd::OnEraseBkgnd(CDC*) {
    // The paint covers the whole clip box; erasing first would only flicker.
    return TRUE;
}

int CPreviewWnd::OnCreate(LPCREATESTRUCT lpCreateStruct) {
    if (CWnd::OnCreate(lpCreateStruct) == -1) return -1;
    return 0;
}

void CPreviewWnd::DrawFrame(CDC* pDC, const RECT& rcDest, const void* pBlock, const RECT& rcSrc) {
    if (!pBlock) return;
    auto* pInfo = static_cast<BITMAPINFO*>(const_cast<void*>(pBlock));
    const BITMAPINFOHEADER& header = pInfo->bmiHeader;
    BYTE* pBits = static_cast<BYTE*>(const_cast<void*>(pBlock)) + header.biSize +
                  header.biClrUsed * sizeof(RGBQUAD);
    DrawPixels(pDC, rcDest, pInfo, pBits, rcSrc);
}

void CPreviewWnd::DrawPixels(CDC* pDC, const RECT& rcDest, BITMAPINFO* pInfo, BYTE* pBits,
                             const RECT& rcSrc) {
    if (!pInfo || !pBits) return;
    const BITMAPINFOHEADER& header = pInfo->bmiHeader;
    const int dstWidth = rcDest.right - rcDest.left, dstHeight = rcDest.bottom - rcDest.top;
    const int srcWidth = rcSrc.right - rcSrc.left, srcHeight = rcSrc.bottom - rcSrc.top;

    if (m_gdiplusToken) {
        // Failures leave the frame undrawn (black); the next frame paints again.
        GpGraphics* pGraphics = nullptr;
        if (GdipCreateFromHDC(pDC->GetSafeHdc(), &pGraphics) != Ok) return;
        GdipSetInterpolationMode(pGraphics, InterpolationModeHighQualityBicubic);
        GpBitmap* pBitmap = nullptr;
        if (GdipCreateBitmapFromGdiDib(pInfo, pBits, &pBitmap) == Ok) {
            GdipDrawImageRectRectI(pGraphics, pBitmap, rcDest.left, rcDest.top, dstWidth, dstHeight,
                                   rcSrc.left, rcSrc.top, srcWidth, srcHeight, UnitPixel, nullptr,
                                   nullptr, nullptr);
            GdipDisposeImage(pBitmap);
        }
        GdipDeleteGraphics(pGraphics);
        return;
    }

    // Plain GDI: the DIB's rows are bottom-up, so the source rectangle is measured from the bottom.
    const LONG height = header.biHeight;
    const RECT rcFlipped{rcSrc.left, height - rcSrc.bottom, rcSrc.right, height - rcSrc.top};
    pDC->SetStretchBltMode(COLORONCOLOR);
    if (dstWidth == srcWidth && dstHeight == srcHeight) {
        SetDIBitsToDevice(pDC->GetSafeHdc(), rcDest.left, rcDest.top, static_cast<DWORD>(dstWidth),
                          static_cast<DWORD>(dstHeight), rcFlipped.left, rcFlipped.top, 0,
                          static_cast<UINT>(height), pBits, pInfo, DIB_RGB_COLORS);
    } else {
        StretchDIBits(pDC->GetSafeHdc(), rcDest.left, rcDest.top, dstWidth, dstHeight,
                      rcFlipped.left, rcFlipped.top, srcWidth, srcHeight, pBits, pInfo,
                      DIB_RGB_COLORS, SRCCOPY);
    }
}
