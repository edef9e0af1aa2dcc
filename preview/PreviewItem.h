// One overlay rectangle on the preview picture, and the geometry of its frame and handles.
//
// Handles are numbered 0 top-left, 1 top-right, 2 bottom-right, 3 bottom-left, 4 top, 5 right,
// 6 bottom, 7 left. The geometry works on client rectangles (window pixels); the item itself
// keeps its rectangle in picture pixels so it stays on the same part of the picture at any scale.
#pragma once

#include <afxwin.h>

class CPreviewItem {
public:
    enum : UINT { Selected = 1, Current = 2 };

    static constexpr int s_nLineWidth = 2;
    static constexpr int s_nHandleSize = 3 * s_nLineWidth;
    // The smallest new rectangle, in client pixels, in each direction.
    static constexpr int s_nMinTrackSize = 2 * s_nHandleSize;
    static constexpr COLORREF s_crRect = RGB(225, 0, 0);

    // The rectangle is normalised; flags start clear.
    explicit CPreviewItem(const RECT& rect);

    void ModifyFlags(UINT add, UINT remove) { m_nFlags = (m_nFlags | add) & ~remove; }
    bool IsSelected() const { return (m_nFlags & Selected) != 0; }
    bool IsCurrent() const { return (m_nFlags & Current) != 0; }

    // Draws the frame outside `rcClient` with a hollow brush, and the handles when the item is
    // current. The caller selects the brush and raster operation.
    void DrawItem(CDC* pDC, const RECT& rcClient) const;

    // Bit i set: handle i is shown. Edge handles appear only once there is room between corners.
    static UINT GetHandleMask(const RECT& rect);
    // The square of handle `nHandle` of `rect` (a frame as drawn).
    static CRect GetHandleRect(const RECT& rect, int nHandle);
    // Grows a client rectangle to the outside of the pen, so the frame never covers the picture
    // inside it.
    static void GrowFrame(RECT* pRect);
    // -1 outside, 0 ... 7 on a handle, 8 inside. Handles win over the inside, lower numbers first.
    static int HitTestRect(const RECT& rect, POINT point);

    RECT m_rect;    // picture pixels, top-down, normalised
    UINT m_nFlags;  // Selected, Current
};
