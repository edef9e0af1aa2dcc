// CPreviewWnd: the camera's own child window. It paints the latest frame fitted into its client
// area (through an off-screen bitmap, so nothing flickers) and hands the media graph's event
// message to its camera on the window's thread.
#pragma once

#include <vector>

#include <afxwin.h>

#include "image/ximage.h"
#include "preview/PreviewItem.h"

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
    // Copies one frame (24-bit, bottom-up rows padded to 4 bytes) and asks for a repaint. Any
    // thread; never while holding m_cs.
    void PutFrame(const BYTE* pBuffer, LONG lLength, LONG lWidth, LONG lHeight);
    // Empties the picture: the window paints black.
    void ClearFrame();

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    afx_msg void OnPaint();
    afx_msg BOOL OnEraseBkgnd(CDC* pDC);
    afx_msg int OnCreate(LPCREATESTRUCT lpCreateStruct);
    DECLARE_MESSAGE_MAP()

private:
    friend struct CPreviewWndTestAccess;

    // Draws the packed DIB `pBlock`'s `rcSrc` into `rcDest`, with GDI+ when it runs.
    void DrawFrame(CDC* pDC, const RECT& rcDest, const void* pBlock, const RECT& rcSrc);
    // Draws the overlay rectangles over the picture.
    void DrawItems(CDC* pDC);

    CDXCamera* m_pCamera;
    ULONG_PTR m_gdiplusToken;
    RECT m_rcDisplay;
    CxImage m_image;
    std::vector<CPreviewItem*> m_items;
    int m_nCurrent;
    int m_nHitCode;
    UINT m_nTrackState;
    RECT m_rcTrack;
    POINT m_ptAnchor;
    CRITICAL_SECTION m_cs;
};
