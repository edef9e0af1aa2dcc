// CPreviewWnd: the camera's own child window. It paints the latest frame fitted into its client
// area (through an off-screen bitmap, so nothing flickers) and hands the media graph's event
// message to its camera on the window's thread. On the picture the user draws, selects, moves and
// resizes overlay rectangles with the mouse (PreviewOverlay.cpp).
#pragma once

#include <vector>

#include <afxwin.h>

#include "image/ximage.h"
#include "preview/PreviewItem.h"

#include <lumacap/DXCamera.h>
#include <lumacap/sim.h>

class CDXCamera;

class CPreviewWnd : public CWnd {
public:
    // Starts GDI+ for this window; without it the window paints with plain GDI.
    explicit CPreviewWnd(CDXCamera* pCamera);
    ~CPreviewWnd() override;

    // Sizes the picture and places it in the client area, keeping its aspect with a one-pixel
    // margin where it touches the edges. Call after the window has its final size and before
    // frames arrive.
    void SetFrameSize(LONG lWidth, LONG lHeight);
    // Copies one frame (24-bit rows padded to 4 bytes, bottom-up, or top-down for a negative
    // height) and asks for a repaint. Any thread; never while holding m_cs.
    void PutFrame(const BYTE* pBuffer, LONG lLength, LONG lWidth, LONG lHeight);
    // Shows a frame lent by the sample grabber instead of copying it: the window keeps the
    // caller's reference until the next frame or ClearFrame, and paints the sample's pixels
    // under the header of the picture SetFrameSize made. A frame of another size or row order
    // than that picture is copied as PutFrame does. Any thread; never while holding m_cs.
    void PutSample(IMediaSample* pFrame, LONG lWidth, LONG lHeight);
    // Empties the picture: the window paints black.
    void ClearFrame();

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    afx_msg void OnPaint();
    afx_msg BOOL OnEraseBkgnd(CDC* pDC);
    afx_msg int OnCreate(LPCREATESTRUCT lpCreateStruct);
    afx_msg void OnLButtonDown(UINT nFlags, CPoint point);
    afx_msg void OnMouseMove(UINT nFlags, CPoint point);
    afx_msg void OnLButtonUp(UINT nFlags, CPoint point);
    afx_msg BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);
    DECLARE_MESSAGE_MAP()

private:
    friend struct CPreviewWndTestAccess;
    friend struct CPreviewOverlayTestAccess;

    // m_nTrackState: the low word is the phase (1 pressed, 2 dragging), the high word what for.
    enum : UINT {
        TrackIdle = 0,
        TrackPressed = 1,
        TrackMovePending = 0x10001,
        TrackNewPending = 0x40001,
        TrackSizePending = 0x50001,
        TrackMoving = 0x70002,
        TrackDrawing = 0x80002,
        TrackSizing = 0x90002,
    };

    // Tells tools that drive the window as a user would where the picture and its rectangles are.
    LRESULT AnswerQuery(WPARAM wParam, LPARAM lParam);
    // Draws the packed DIB `pBlock`'s `rcSrc` into `rcDest`, with GDI+ when it runs.
    void DrawFrame(CDC* pDC, const RECT& rcDest, const void* pBlock, const RECT& rcSrc);
    // The same for a header and pixel rows held apart.
    void DrawPixels(CDC* pDC, const RECT& rcDest, BITMAPINFO* pInfo, BYTE* pBits,
                    const RECT& rcSrc);
    // Takes the lent frame out (under m_cs) and gives it back (outside it).
    void DropLentFrame();
    // Draws the overlay rectangles over the picture.
    void DrawItems(CDC* pDC);

    // ---- overlays (PreviewOverlay.cpp) ----
    bool HasPicture() const { return PictureSize(nullptr, nullptr); }
    // Whether there is a picture, and its size. Frames replace the picture on the capture thread
    // at any moment, so this reads it under m_cs.
    bool PictureSize(double* pWidth, double* pHeight) const;
    // Picture pixels <-> client pixels through m_rcDisplay, each value rounded on its own. They
    // change nothing while there is no picture.
    void ImageToWindowRect(RECT* pRect) const;
    void WindowToImageRect(RECT* pRect) const;
    void WindowToImageSize(SIZE* pSize) const;
    static void ClampRect(RECT* pRect, const RECT& bounds);
    CRect ItemClientRect(int nIndex) const;
    // 0 nowhere, 1 ... 8 a handle of m_rcTrack, 9 inside it.
    int HitTestHandle(POINT point) const;
    // The rectangle under the point (an inner one wins over one enclosing it), or -1.
    int HitTestItems(POINT point) const;
    void SetAnchor(POINT point);
    void UpdateTrackRect(POINT point);
    void UpdateCursor();
    void Select(int nIndex);
    void DeselectAll();
    void SetCurrent(int nIndex);
    int AddItem(const RECT& rect);
    void ClearItems();
    bool IsValidIndex(int nIndex) const {
        return nIndex >= 0 && nIndex < static_cast<int>(m_items.size());
    }
    // The parent's answer; 0 (allowed) without a parent window.
    LRESULT NotifyParent(UINT message, WPARAM wParam, LPARAM lParam);

    CDXCamera* m_pCamera;
    ULONG_PTR m_gdiplusToken;
    RECT m_rcDisplay;
    CxImage m_image;
    // The grabber's frame shown in place of m_image's pixels, with a reference; null when
    // m_image's own pixels are the picture. Guarded by m_cs like m_image.
    IMediaSample* m_pLentFrame = nullptr;
    BYTE* m_pLentPixels = nullptr;
    std::vector<CPreviewItem*> m_items;
    int m_nCurrent;
    int m_nHitCode;
    UINT m_nTrackState;
    RECT m_rcTrack;
    POINT m_ptAnchor;
    CRITICAL_SECTION m_cs;
    // The off-screen surface paints draw on, kept between paints (window thread only): a bitmap
    // made afresh for each paint costs its allocation and the clearing of every page, at the
    // frame rate. It only grows, to the largest clip box painted.
    CBitmap m_bmOffscreen;
    int m_nOffscreenWidth = 0;
    int m_nOffscreenHeight = 0;
};
